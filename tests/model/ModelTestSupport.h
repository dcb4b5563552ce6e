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

template <class T>
std::vector<uint8_t> bytesOf(const std::vector<T>& values) {
    const auto* p = reinterpret_cast<const uint8_t*>(values.data());
    return std::vector<uint8_t>(p, p + values.size() * sizeof(T));
}

}  // namespace modeltest
