#include "ParticleTestSupport.h"

#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"

namespace particletest {

namespace {
struct Registries : ::testing::Environment {
    void SetUp() override {
        if (Cb::channelTestTable().empty()) Cb::registerChannelTypes();
        Cb::registerShapeTypes();
    }
};
const auto* const kRegistries = ::testing::AddGlobalTestEnvironment(new Registries);
}  // namespace

void ZtpFile::write(const std::function<void(Cb::ZtpWriter&)>& write) {
    Cb::ZtpWriter writer;
    writer.openStream(path_);
    write(writer);
    writer.close();
}

std::unique_ptr<Cb::ZtpReader> ZtpFile::reader(int32_t version) const {
    auto reader = std::make_unique<Cb::ZtpReader>();
    reader->openStream(path_, version);
    return reader;
}

}  // namespace particletest
