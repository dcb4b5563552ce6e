#include "FieldTestSupport.h"

#include <gtest/gtest.h>

#include "cb/io/ZtpWriter.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "cb/values/ValueTypes.h"

namespace fieldtest {

void ensureRegistries() {
    if (Cb::channelTestTable().empty()) Cb::registerChannelTypes();
    Cb::registerShapeTypes();
}

namespace {
// What start-up creates for the tests: the global expression context and
// the value, channel and shape registries.
struct Registries : ::testing::Environment {
    void SetUp() override {
        Cb::QelContext::createGlobal();
        Cb::registerValueTypes();
        ensureRegistries();
    }
    void TearDown() override {
        Cb::releaseValueTypes();
        Cb::QelContext::destroyGlobal();
    }
};
const auto* const kRegistries = ::testing::AddGlobalTestEnvironment(new Registries);
}  // namespace

std::unique_ptr<zt::tile_layout3> twoTileLayout(uint32_t N) {
    auto layout = std::make_unique<zt::tile_layout3>(1.0f, N);
    layout->addTile(0, 0, 0, false);
    layout->addTile(1, 0, 0, false);
    layout->updateNeighbours(true);
    return layout;
}

std::unique_ptr<Cb::ZtpReader> ScratchFile::open(int32_t version, int64_t offset) const {
    auto reader = std::make_unique<Cb::ZtpReader>();
    reader->openStream(path_, version);
    reader->seek(offset);
    return reader;
}

void ScratchFile::writeChannel(Cb::Channel& channel, bool compress) const {
    Cb::ZtpWriter writer;
    writer.openStream(path_);
    channel.write(writer, compress);
    writer.close();
}

Cb::CbRefPtr<Cb::Channel> ScratchFile::readChannel(int32_t version) const {
    auto reader = open(version);
    return Cb::readChannel(*reader);
}

void channelHeader(testsupport::ByteBuilder& b, const std::string& typeName, const std::string& name,
                   int32_t version, uint64_t count, float min, float max, float mean) {
    b.str(typeName).str(name);
    if (version < 12) return;
    b.u64(count);
    for (float s : {min, max, mean}) b.f32(s).f32(s).f32(s);
}

}  // namespace fieldtest
