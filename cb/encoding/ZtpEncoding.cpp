#include "cb/encoding/ZtpEncoding.h"

#include <climits>
#include <cstring>

#include "zt/cat.h"
#include "zt/compression_buffer.h"
#include "zt/ztx.h"

namespace Cb {

String readString(ZtpInput& in) {
    const int32_t length = in.readI32();
    if (length == 0) return {};
    using Result = ZtpInput::ReadResult;
    // The characters and their terminating zero.
    const int64_t bytes = int64_t(length) + 1;
    String text;
    Result result = Result::Error;
    if (length > 0) {
        if (bytes > in.remaining()) {
            result = Result::EndOfFile;
        } else {
            text.resize(size_t(bytes));
            result = in.readRaw(text.data(), size_t(bytes));
        }
    }
    if (result == Result::EndOfFile) throw ztx::eof("End of file reached reading Cb::String");
    if (result == Result::Error) throw ztx::base("Error reading Cb::String");
    text.resize(std::strlen(text.c_str()));
    return text;
}

void writeString(ZtpOutput& out, const String& text) {
    const char* failure = "Error writing Cb::String";
    if (text.size() > size_t(INT32_MAX)) throw ztx::base(failure);
    // Readers stop at the first zero: a text holding one would read back cut.
    if (const size_t zero = text.find('\0'); zero != String::npos)
        throw ztx::base(zt::cat(failure, ": zero byte at ", zero));
    out.writeI32(int32_t(text.size()));
    if (!text.empty()) out.writeExact(text.c_str(), text.size() + 1, failure);
}

namespace detail {

void readPlainArray(ZtpInput& in, size_t elementSize, const ElementSink& sink) {
    const char* dataFailure = "Error reading array data";
    const int64_t count = in.readCount("Error reading array size");
    if (!in.fits(count, int64_t(elementSize))) throw ztx::base(dataFailure);
    void* elements = sink(count);
    in.readExact(elements, size_t(count) * elementSize, dataFailure);
}

void readLegacyArray(ZtpInput& in, size_t elementSize, const ElementSink& sink) {
    const char* failure = "Error reading ztp array";
    const uint32_t byteSize = in.read<uint32_t>(failure);
    if (byteSize == 0) {
        sink(0);
        return;
    }
    const bool compressed = in.read<uint32_t>(failure) != 0;
    const uint32_t storedSize = compressed ? in.read<uint32_t>(failure) : byteSize;
    if (!in.fits(storedSize, 1) || (compressed && byteSize > zt::maxInflatedSize(storedSize)))
        throw ztx::base(failure);
    // Room for every stored byte, a trailing partial element included; the
    // partial element is dropped afterwards.
    void* elements = sink((int64_t(byteSize) + int64_t(elementSize) - 1) / int64_t(elementSize));
    if (compressed) {
        zt::array1<uint8_t> packed(storedSize);
        in.readExact(packed.data(), storedSize, failure);
        zt::decompressBuffer(packed.data(), storedSize, elements, byteSize);
    } else {
        in.readExact(elements, byteSize, failure);
    }
    sink(int64_t(byteSize / elementSize));
}

}  // namespace detail

StoredArrayHead readLegacyArrayHead(ZtpInput& in, size_t elementSize) {
    const char* failure = "Error reading ztp array";
    StoredArrayHead head;
    const uint32_t byteSize = in.read<uint32_t>(failure);
    head.bytes = 4;
    if (byteSize != 0) {
        head.compressed = in.read<uint32_t>(failure) != 0;
        const uint32_t storedSize = head.compressed ? in.read<uint32_t>(failure) : byteSize;
        if (!in.fits(storedSize, 1)) throw ztx::base(failure);
        head.bytes += (head.compressed ? 8 : 4) + int64_t(storedSize);
    }
    head.count = int64_t(byteSize / elementSize);
    return head;
}

namespace detail {

void writePlainArray(ZtpOutput& out, const void* elements, int64_t count, size_t elementSize) {
    out.write(count, "Error writing array size");
    if (count > 0) out.writeExact(elements, size_t(count) * elementSize, "Error writing array data");
}

}  // namespace detail

}  // namespace Cb
