#pragma once
// The grids of one field channel.
//
// Fine voxels: voxel (i, j, k) of the layout becomes voxel (i, j, k) of the
// grid, whose transform (voxel size the cell size, translation the offset of
// the channel's sample set) puts it at the layout's sample point for the
// voxel, where the library samples it. Values are copied bit for bit; a
// voxel whose value equals the background (bit for bit) stays inactive.
// Scalar channels give a FloatGrid, Int32Grid or Int64Grid; vector channels
// a Vec3SGrid when the three components share a sample set, a staggered
// Vec3SGrid (OpenVDB's convention: component c of voxel v at the low face
// v - e_c/2) when they sit on the high faces (sample sets 2, 3, 4), and
// three FloatGrids `<channel>.x|y|z` for any other mixture.
//
// Coarse tiles: one value per tile, as voxel (i, j, k) of the tile
// coordinates in `<channel>@coarse`, whose voxel size is the tile's edge and
// whose voxel centres are the sample points of the tiles' middle voxels
// (the centre voxel's middle for staggered vectors). Written only when some
// coarse value differs from the background.

#include "GridOrigin.h"

namespace zt {
class tile_layout3;
}
namespace Cb {
class FieldChannelBase;
}

// Hands the channel's grids to the sink one by one. Loads the channel's
// values into `channel` (pass a copy to release them afterwards). Returns
// false, handing out nothing, for a channel of no known field class.
bool fieldChannelGrids(const Cb::FieldChannelBase& channel, const zt::tile_layout3& layout, const GridOrigin& origin,
                       bool fineOnly, const GridSink& sink);

// The linear transform whose voxel (i, j, k) centre lies at
// (i, j, k) * voxelSize + offset.
openvdb::math::Transform::Ptr voxelTransform(double voxelSize, const openvdb::Vec3d& offset);
