#pragma once
// Helpers of the model tests: the registries as start-up leaves them, a
// reader over hand-made bytes at a chosen file version, and the bytes a
// writer produces.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ByteBuilder.h"
#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Channel.h"

namespace modeltest {

// Registers the channel and shape types once per test program.
void ensureRegistries();

// A ZtpReader over the given bytes, as a file of the given version.
class ReaderOver {
public:
    explicit ReaderOver(const std::vector<uint8_t>& bytes, int32_t version = Cb::kZtpVersion);
    explicit ReaderOver(const testsupport::ByteBuilder& bytes, int32_t version = Cb::kZtpVersion)
        : ReaderOver(bytes.data(), version) {}

    Cb::ZtpReader& reader() { return reader_; }
    bool atEnd() { return reader_.remaining() == 0; }

private:
    testsupport::TempDir dir_;
    Cb::ZtpReader reader_;
};

// Everything `write` puts into a fresh writer; `path` receives its file name.
std::vector<uint8_t> bytesWritten(const std::function<void(Cb::ZtpWriter&)>& write, std::string* path = nullptr);

// A zlib stream of `raw` in one stored deflate block, made by hand.
std::vector<uint8_t> storedZlib(const std::vector<uint8_t>& raw);

// A channel of a branch of its own ("test::other", not registered unless a
// test does it), to see that type tests and shapes keep branches apart.
class OtherBranchChannel : public Cb::Channel {
public:
    static const char* staticTypeName() { return "test::other"; }
    uint64_t size() const override { return 0; }
    float memoryMB() const override { return 0; }
    bool empty() const override { return true; }
    std::string typeName() const override { return staticTypeName(); }
    int typeCode() const override { return Cb::kTypeFloat; }
    Channel* clone() const override { return new OtherBranchChannel(*this); }
    zt::vec3f defaultValue3f() const override { return {}; }
    zt::vec3f min3f() const override { return {}; }
    zt::vec3f max3f() const override { return {}; }
    zt::vec3f mean3f() const override { return {}; }
    zt::vec3f position3f(int64_t, const Channel*) const override { return {}; }
    float component(int64_t, int) const override { return 0; }
    float sample(const zt::vec3f&, const zt::tile_layout3*, int) const override { return 0; }
    void read(Cb::ZtpReader&) override {}
    void clear() override {}
};

template <class T>
std::vector<uint8_t> bytesOf(const std::vector<T>& values) {
    const auto* p = reinterpret_cast<const uint8_t*>(values.data());
    return std::vector<uint8_t>(p, p + values.size() * sizeof(T));
}

}  // namespace modeltest
