#include "ModelTestSupport.h"

#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"

namespace modeltest {

void ensureRegistries() {
    if (Cb::channelTestTable().empty()) Cb::registerChannelTypes();
    Cb::registerShapeTypes();
}

namespace {
struct Registries : ::testing::Environment {
    void SetUp() override { ensureRegistries(); }
};
const auto* const kRegistries = ::testing::AddGlobalTestEnvironment(new Registries);
}  // namespace

ReaderOver::ReaderOver(const std::vector<uint8_t>& bytes, int32_t version) {
    const std::string path = dir_.file("input.ztp");
    testsupport::writeFile(path, bytes);
    reader_.openStream(path, version);
}

std::vector<uint8_t> bytesWritten(const std::function<void(Cb::ZtpWriter&)>& write, std::string* path) {
    testsupport::TempDir dir;
    const std::string file = dir.file("output.ztp");
    {
        Cb::ZtpWriter writer;
        writer.openStream(file);
        write(writer);
        writer.close();
    }
    if (path) *path = file;
    return testsupport::readBytes(file);
}

std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw) {
    // Header 78 01, one final stored block (BFINAL=1, BTYPE=00), then the
    // Adler-32 of the raw bytes, big-endian.
    std::vector<uint8_t> z = {0x78, 0x01, 0x01};
    const auto len = uint16_t(raw.size());
    const auto nlen = uint16_t(~len);
    z.insert(z.end(), {uint8_t(len), uint8_t(len >> 8), uint8_t(nlen), uint8_t(nlen >> 8)});
    z.insert(z.end(), raw.begin(), raw.end());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    const uint32_t adler = (b << 16) | a;
    z.insert(z.end(), {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)});
    return z;
}

}  // namespace modeltest
