#include "zt/block3_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "block3_detail.h"
#include "zt/cat.h"
#include "zt/compression_buffer.h"
#include "zt/ztx.h"

namespace zt {

namespace {

// Stored bytes read per step when a block streams through.
constexpr size_t kStreamInput = size_t(1) << 20;

[[noreturn]] void inflateFailure(const char* kind, uint64_t destinationSize, const void* destination,
                                 uint64_t sourceSize, const void* source) {
    throw ztx::base(cat("ZTP Decompression ", kind, " Error: ds=", destinationSize, " dd=", destination,
                        " ss=", sourceSize, " sd=", source));
}

struct InflateEnd {
    z_stream* stream;
    ~InflateEnd() { inflateEnd(stream); }
};

}  // namespace

block3_file::block3_file(std::string fileName) : name_(std::move(fileName)) {
    descriptor_ = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (descriptor_ < 0 || ::fstat(descriptor_, &st) != 0) {
        const int error = errno;
        if (descriptor_ >= 0) ::close(descriptor_);
        throw ztx::base(cat("read_ztp(", name_, ") failed: Cannot open file: ", std::strerror(error)));
    }
    size_ = int64_t(st.st_size);
}

block3_file::~block3_file() { ::close(descriptor_); }

void block3_file::checkRegion(const block3_array_base& array) const {
    if (array.version() < kBlockTableVersion) return;
    const int64_t position = array.dataPosition();
    if (size_ < position + detail::kByteCountSize + array.storedDataBytes())
        throw ztx::base(cat("read_ztp(", name_, ") failed: the file is shorter than when it was read"));
    int64_t bytes = 0;
    read(position, &bytes, sizeof bytes);
    if (bytes != array.storedDataBytes())
        throw ztx::base(cat("read_ztp(", name_, ") failed: the particle data region has changed"));
}

void block3_file::read(int64_t offset, void* out, size_t n) const {
    auto* at = static_cast<uint8_t*>(out);
    while (n > 0) {
        const ssize_t got = ::pread(descriptor_, at, n, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) throw ztx::base("Error reading array data");
        at += got;
        offset += got;
        n -= size_t(got);
    }
}

void block3_file::readBlock(const stored_block& info, size_t elementSize, void* out,
                            std::vector<uint8_t>& scratch) const {
    const size_t bytes = size_t(info.elements) * elementSize;
    if (!info.compressed) {
        read(info.fileOffset, out, bytes);
        return;
    }
    if (info.elements == 0) return;
    scratch.resize(size_t(info.storedBytes));
    read(info.fileOffset, scratch.data(), scratch.size());
    decompressBuffer(scratch.data(), scratch.size(), out, bytes);
}

void block3_file::streamBlock(const stored_block& info, size_t elementSize, int64_t chunkElements,
                              const chunk_sink& take) const {
    // An empty block's stored bytes are never looked at, as when it loads.
    if (info.elements <= 0) return;
    const uint64_t total = uint64_t(info.elements) * elementSize;
    const size_t chunkBytes = size_t(std::max<int64_t>(chunkElements, 1)) * elementSize;
    std::vector<uint8_t> output(chunkBytes);
    if (!info.compressed) {
        for (uint64_t done = 0; done < total;) {
            const size_t n = size_t(std::min<uint64_t>(chunkBytes, total - done));
            read(info.fileOffset + int64_t(done), output.data(), n);
            take(output.data(), int64_t(n / elementSize));
            done += n;
        }
        return;
    }
    // zlib's own streaming inflate, judged as a one-shot inflate of the whole
    // block would be: more output than announced is a buffer error, a stream
    // that ends early or breaks a data error.
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) inflateFailure("Memory", total, output.data(), uint64_t(info.storedBytes), nullptr);
    InflateEnd end{&stream};
    std::vector<uint8_t> input(std::min<size_t>(kStreamInput, size_t(info.storedBytes)));
    const uint64_t stored = uint64_t(info.storedBytes);
    auto fail = [&](const char* kind) { inflateFailure(kind, total, output.data(), stored, input.data()); };
    uint64_t consumed = 0, produced = 0;  // produced counts the bytes handed out and those in `output`
    size_t filled = 0;                     // bytes waiting in `output`, whole chunks handed out
    uint8_t probe = 0;  // output room once all announced bytes are out: any byte here is one too many
    auto handOut = [&] {
        if (filled > 0) take(output.data(), int64_t(filled / elementSize));
        filled = 0;
    };
    for (;;) {
        if (stream.avail_in == 0 && consumed < stored) {
            const size_t n = size_t(std::min<uint64_t>(input.size(), stored - consumed));
            read(info.fileOffset + int64_t(consumed), input.data(), n);
            consumed += n;
            stream.next_in = input.data();
            stream.avail_in = uInt(n);
        }
        const size_t room = size_t(std::min<uint64_t>(chunkBytes - filled, total - produced));
        stream.next_out = room > 0 ? output.data() + filled : &probe;
        stream.avail_out = uInt(room > 0 ? room : 1);
        const int rc = inflate(&stream, Z_NO_FLUSH);
        const size_t made = (room > 0 ? room : 1) - stream.avail_out;
        if (room == 0 && made > 0) fail("Buffer");
        if (room > 0) {
            produced += made;
            filled += made;
            if (filled == chunkBytes || produced == total) handOut();
        }
        if (rc == Z_STREAM_END) {
            if (produced != total) fail("Data");
            handOut();
            return;
        }
        if (rc == Z_DATA_ERROR || rc == Z_NEED_DICT) fail("Data");
        if (rc == Z_MEM_ERROR) fail("Memory");
        // The input ran out before the stream ended.
        if (stream.avail_in == 0 && consumed == stored && made == 0) fail(produced == total ? "Buffer" : "Data");
    }
}

}  // namespace zt
