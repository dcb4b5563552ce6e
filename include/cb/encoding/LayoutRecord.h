#pragma once
// The tile layout record of a body in ZTP files:
//
//   f32 cell size, i32 fine tile count, i32 coarse list length (its empty
//   slot 0 included), i32 tile size N, fine tile coordinates (3 x i32 per
//   tile, in list order), coarse tile coordinates (element 0 stands for the
//   empty slot 0 and is written as (0, 0, 0)).
//
// The coordinate arrays are plain arrays from version 14 on and legacy arrays
// before. The two counts are informational; readers rebuild the layout from
// the coordinates.

#include <memory>

namespace zt {
class tile_layout3;
}

namespace Cb {

class ZtpInput;
class ZtpOutput;

// The layout must have been settled (no empty slots): an empty slot would be
// written as (0, 0, 0), which reads back as no slot at all. Throws "Cannot
// write a tile layout with empty slots: settle it first".
void writeLayoutRecord(ZtpOutput& out, const zt::tile_layout3& layout);
// A new layout: fine tiles added in order, coarse tiles after slot 0, then
// the neighbour tables completed.
std::unique_ptr<zt::tile_layout3> readLayoutRecord(ZtpInput& in);

}  // namespace Cb
