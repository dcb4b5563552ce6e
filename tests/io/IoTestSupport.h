#pragma once
// Helpers of the ZTP stream tests: run a reader over given bytes, capture
// what a writer produces, and name the error an operation ends in.

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "ByteBuilder.h"
#include "TempPath.h"
#include "cb/io/ZtpStream.h"

namespace iotest {

// The message of the exception `work` throws, or "<no error>".
inline std::string errorOf(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

// Bytes on disk, opened as a ZtpInput of the given version.
class InputFile {
public:
    explicit InputFile(const std::vector<uint8_t>& bytes, int32_t version = Cb::kZtpVersion)
        : path_(dir_.file("input.ztp")) {
        reopen(bytes, version);
    }
    explicit InputFile(const testsupport::ByteBuilder& bytes, int32_t version = Cb::kZtpVersion)
        : InputFile(bytes.data(), version) {}

    // Replaces the file's bytes and reads them from the start.
    void reopen(const std::vector<uint8_t>& bytes, int32_t version = Cb::kZtpVersion) {
        in_.close();
        testsupport::writeFile(path_, bytes);
        in_ = Cb::ZtpInput(Cb::openFile(path_, "rb"), path_, version);
    }

    Cb::ZtpInput& in() { return in_; }
    const std::string& path() const { return path_; }
    bool atEnd() { return in_.remaining() == 0; }

private:
    testsupport::TempDir dir_;
    std::string path_;
    Cb::ZtpInput in_;
};

// Everything `write` puts into a fresh ZtpOutput.
inline std::vector<uint8_t> bytesWritten(const std::function<void(Cb::ZtpOutput&)>& write) {
    testsupport::TempDir dir;
    const std::string path = dir.file("output.ztp");
    {
        Cb::ZtpOutput out(Cb::openFile(path, "wb"), path);
        write(out);
        out.close();
    }
    return testsupport::readBytes(path);
}

// Field boundaries of an encoding: cuts before `end` fail with `error`.
struct Field {
    size_t end;
    std::string error;
};

// Checks that an operation stopped after each of the first `size` bytes
// fails with the error of the field that byte belongs to, and that it
// succeeds with all `size` bytes.
inline void expectFieldErrors(size_t size, const std::vector<Field>& fields,
                              const std::function<std::string(size_t)>& errorAt) {
    ASSERT_EQ(size, fields.back().end);
    size_t field = 0;
    for (size_t stop = 0; stop < size; ++stop) {
        while (stop >= fields[field].end) ++field;
        EXPECT_EQ(fields[field].error, errorAt(stop)) << "stopped at byte " << stop;
    }
    EXPECT_EQ("<no error>", errorAt(size));
}

// Reads `bytes` cut at every position.
inline void expectCutErrors(const std::vector<uint8_t>& bytes, const std::vector<Field>& fields,
                            const std::function<void(Cb::ZtpInput&)>& read) {
    InputFile file(bytes);
    expectFieldErrors(bytes.size(), fields, [&](size_t cut) {
        file.reopen(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
        return errorOf([&] { read(file.in()); });
    });
}

// The error of `write` into a stream that takes no more than `limit` bytes.
inline std::string errorAtWriteLimit(size_t limit, const std::function<void(Cb::ZtpOutput&)>& write) {
    std::vector<char> memory(limit + 1);
    FILE* file = fmemopen(memory.data(), memory.size() - 1, "w");
    if (!file) return "<fmemopen failed>";
    std::setvbuf(file, nullptr, _IONBF, 0);
    Cb::ZtpOutput out(Cb::FilePtr(file), "memory");
    return errorOf([&] { write(out); });
}

// Writes into streams that fill up after every possible byte count.
inline void expectWriteLimitErrors(const std::vector<Field>& fields, const std::function<void(Cb::ZtpOutput&)>& write) {
    expectFieldErrors(fields.back().end, fields, [&](size_t limit) { return errorAtWriteLimit(limit, write); });
}

}  // namespace iotest
