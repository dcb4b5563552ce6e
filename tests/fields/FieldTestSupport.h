#pragma once
// Helpers of the field tests: the registries as start-up leaves them, small
// layouts with fine and coarse tiles, and ZTP files made from hand-built
// bytes or written by a channel, read back at a chosen version.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteBuilder.h"
#include "cb/CbRefPtr.h"
#include "TempPath.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Channel.h"
#include "zt/tile_layout3.h"

namespace fieldtest {

void ensureRegistries();

// Cell size 1, tile size N, fine tiles (0,0,0) and (1,0,0) and their shell of
// 34 coarse tiles (coarse list 35 long).
std::unique_ptr<zt::tile_layout3> twoTileLayout(uint32_t N);

// A file in a temporary folder; it lives as long as this object.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& name = "fields.ztp") : path_(dir_.file(name)) {}
    const std::string& path() const { return path_; }
    void write(const testsupport::ByteBuilder& bytes) const { testsupport::writeFile(path_, bytes.data()); }
    // A reader on the file at `version`, positioned at `offset`.
    std::unique_ptr<Cb::ZtpReader> open(int32_t version, int64_t offset = 0) const;
    // Writes the channel (header and record) as the whole file.
    void writeChannel(Cb::Channel& channel, bool compress) const;
    // readChannel over the whole file at `version`.
    Cb::CbRefPtr<Cb::Channel> readChannel(int32_t version = 16) const;

private:
    testsupport::TempDir dir_;
    std::string path_;
};

// The header readChannel expects before a channel's own data: type name and
// name, and from version 12 on the stored count and statistics.
void channelHeader(testsupport::ByteBuilder& b, const std::string& typeName, const std::string& name,
                   int32_t version, uint64_t count = 0, float min = 0, float max = 0, float mean = 0);

// A field values record with plain arrays; the end position is where the
// record ends in `b` (the file is `b` itself) unless `end` is given.
template <class T>
void fieldRecord(testsupport::ByteBuilder& b, T background, int32_t sampleSet, const std::vector<T>& fine,
                 const std::vector<T>& coarse, int64_t end = -2) {
    b.raw(&background, sizeof(T)).i32(sampleSet);
    const int64_t computedEnd = int64_t(b.size()) + 8 + 2 * (1 + 8) + int64_t((fine.size() + coarse.size()) * sizeof(T));
    b.i64(end == -2 ? computedEnd : end);
    b.u8(0).i64(int64_t(fine.size())).raw(fine.data(), fine.size() * sizeof(T));
    b.u8(0).i64(int64_t(coarse.size())).raw(coarse.data(), coarse.size() * sizeof(T));
}

}  // namespace fieldtest
