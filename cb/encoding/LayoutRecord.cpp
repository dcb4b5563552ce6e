#include "cb/encoding/LayoutRecord.h"

#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

namespace {
constexpr int32_t kPlainArrayVersion = 14;
}

void writeLayoutRecord(ZtpOutput& out, const zt::tile_layout3& layout) {
    if (layout.hasEmptySlots())
        throw ztx::base("Cannot write a tile layout with empty slots: settle it first");
    out.writeF32(layout.cellSize());
    out.writeI32(int32_t(layout.fineCount()));
    out.writeI32(int32_t(layout.coarseCount()));
    out.writeI32(int32_t(layout.tileSize()));
    writeArray(layout.fineCoordinates(), out);
    writeArray(layout.coarseCoordinates(), out);
}

std::unique_ptr<zt::tile_layout3> readLayoutRecord(ZtpInput& in) {
    const float cellSize = in.readF32();
    in.readI32();  // fine count
    in.readI32();  // coarse list length
    const int32_t N = in.readI32();
    zt::array1<zt::vec3i> fine, coarse;
    if (in.version() >= kPlainArrayVersion) {
        readArray(fine, in);
        readArray(coarse, in);
    } else {
        readLegacyArray(fine, in);
        readLegacyArray(coarse, in);
    }
    // The constructor refuses a cell size or tile size a layout cannot have.
    auto layout = std::make_unique<zt::tile_layout3>(cellSize, uint32_t(N < 0 ? 0 : N));
    for (const zt::vec3i& t : fine) layout->addTile(t[0], t[1], t[2], false);
    for (int64_t s = 1; s < coarse.count(); ++s) layout->addCoarseTile(coarse[s][0], coarse[s][1], coarse[s][2], nullptr);
    layout->updateNeighbours(true);
    return layout;
}

}  // namespace Cb
