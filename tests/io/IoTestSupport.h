#pragma once
// Helpers of the ZTP stream tests: run a reader over given bytes, capture
// what a writer produces, and name the error an operation ends in.

#include <gtest/gtest.h>

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
        testsupport::writeFile(path_, bytes);
        in_ = Cb::ZtpInput(Cb::openFile(path_, "rb"), path_, version);
    }
    explicit InputFile(const testsupport::ByteBuilder& bytes, int32_t version = Cb::kZtpVersion)
        : InputFile(bytes.data(), version) {}

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

// The error of `read` over the first `cut` bytes of `bytes`.
inline std::string errorAtCut(const std::vector<uint8_t>& bytes, size_t cut,
                              const std::function<void(Cb::ZtpInput&)>& read) {
    InputFile file(std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
    return errorOf([&] { read(file.in()); });
}

// Field boundaries of an encoding: cuts before `end` fail with `error`.
struct Field {
    size_t end;
    std::string error;
};

// Cuts `bytes` at every position and checks that each read fails with the
// error of the field the cut falls in; the whole bytes must read cleanly.
inline void expectCutErrors(const std::vector<uint8_t>& bytes, const std::vector<Field>& fields,
                            const std::function<void(Cb::ZtpInput&)>& read) {
    ASSERT_EQ(bytes.size(), fields.back().end);
    size_t field = 0;
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        while (cut >= fields[field].end) ++field;
        EXPECT_EQ(fields[field].error, errorAtCut(bytes, cut, read)) << "cut at byte " << cut;
    }
    EXPECT_EQ("<no error>", errorAtCut(bytes, bytes.size(), read));
}

}  // namespace iotest
