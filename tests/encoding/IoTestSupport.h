#pragma once
// Helpers of the ZTP stream tests: a reader over given bytes, the bytes a
// writer produces, and the error each cut, full or lying stream ends in.

#include <gtest/gtest.h>

#include <functional>

#include "ByteBuilder.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/array1.h"

namespace iotest {

using testsupport::ByteBuilder;
using testsupport::messageOf;
using testsupport::toHex;
inline const std::string kArraySizeError = "Error reading array size";
inline const std::string kArrayDataError = "Error reading array data";
inline const std::string kInflateDataError = "ZTP Decompression Data Error:";
template <class T>
using ReadFn = void (*)(zt::array1<T>&, Cb::ZtpInput&);  // Cb::readArray<T> and its kin

template <class T>
std::vector<T> elementsOf(const zt::array1<T>& a) {
    return {a.begin(), a.end()};
}

template <class T>
zt::array1<T> arrayOf(const std::vector<T>& v) {
    zt::array1<T> a;
    for (const T& x : v) a.push_back(x);
    return a;
}

// Bytes on disk, opened as a ZtpInput of the given version.
class InputFile {
public:
    explicit InputFile(const ByteBuilder& b, int32_t version = Cb::kZtpVersion) { reopen(b.data(), version); }
    void reopen(const std::vector<uint8_t>& bytes, int32_t version = Cb::kZtpVersion) {
        in_.close();
        testsupport::writeFile(path_, bytes);
        in_ = Cb::ZtpInput(Cb::openFile(path_, "rb"), path_, version);
    }
    Cb::ZtpInput& in() { return in_; }
    const std::string& path() const { return path_; }

private:
    testsupport::TempDir dir_;
    std::string path_ = dir_.file("input.ztp");
    Cb::ZtpInput in_;
};

// The elements `read` makes of the bytes, which it must use up.
template <class T>
std::vector<T> readAll(const std::vector<uint8_t>& bytes, ReadFn<T> read, int32_t version = Cb::kZtpVersion) {
    InputFile file(ByteBuilder().bytes(bytes), version);
    zt::array1<T> a;
    read(a, file.in());
    EXPECT_EQ(0, file.in().remaining());
    return {a.begin(), a.end()};
}

// Each case's bytes, read into an array holding {42}, fail with its error
// (zlib's, ending in ':', followed by diagnostics) and leave the array as it was.
template <class T>
void expectReadErrors(const std::vector<std::pair<ByteBuilder, std::string>>& cases, ReadFn<T> read,
                      int32_t version = Cb::kZtpVersion) {
    for (const auto& [bytes, error] : cases) {
        InputFile file(bytes, version);
        zt::array1<T> a = arrayOf<T>({T(42)});
        std::string got = messageOf([&] { read(a, file.in()); });
        EXPECT_EQ(error, error.back() == ':' ? got.substr(0, error.size()) : got);
        EXPECT_TRUE(a.count() == 1 && a[0] == T(42)) << "a failed read keeps the array";
    }
}

inline std::vector<uint8_t> bytesWritten(const std::function<void(Cb::ZtpOutput&)>& write) {
    testsupport::TempDir dir;
    const std::string path = dir.file("output.ztp");
    Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
    write(out);
    out.close();
    return testsupport::readBytes(path);
}

// Where each field of an encoding ends, and the error of a stream that stops inside it.
using Fields = std::vector<std::pair<size_t, std::string>>;

// Every stop before the last field's end fails with its field's error; the whole length succeeds.
inline void expectFieldErrors(const Fields& fields, const std::function<std::string(size_t)>& errorAt) {
    std::vector<std::string> expected;
    for (const auto& [end, error] : fields) expected.resize(end, error);
    expected.push_back("(no failure)");
    for (size_t stop = 0; stop < expected.size(); ++stop)
        EXPECT_EQ(expected[stop], errorAt(stop)) << "stopped at byte " << stop;
}

// Reads the bytes cut at every position.
template <class T>
void expectCutErrors(const std::vector<uint8_t>& bytes, const Fields& fields, ReadFn<T> read) {
    ASSERT_EQ(bytes.size(), fields.back().first);
    InputFile file{ByteBuilder()};
    expectFieldErrors(fields, [&](size_t cut) {
        file.reopen({bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)});
        zt::array1<T> a;
        return messageOf([&] { read(a, file.in()); });
    });
}

// Writes into streams that fill up after every possible byte count.
inline void expectWriteLimitErrors(const Fields& fields, const std::function<void(Cb::ZtpOutput&)>& write) {
    expectFieldErrors(fields, [&](size_t limit) {
        std::vector<char> memory(limit + 1);
        FILE* file = fmemopen(memory.data(), limit, "w");
        if (!file) return std::string("fmemopen failed");
        std::setvbuf(file, nullptr, _IONBF, 0);
        Cb::ZtpOutput out(Cb::FilePtr(file), "memory");
        return messageOf([&] { write(out); });
    });
}

}  // namespace iotest
