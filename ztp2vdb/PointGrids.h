#pragma once
// The PointDataGrid of a body's particles.
//
// Every particle of the shape, block by block in the storage's order (the
// blocks of coarse tiles last, or left out), becomes one point: P from the
// vec3f "position" channel, v from "velocity", id from "id64" (a body
// without one gets the particle's number in that order, counting from 0) and
// every other selected particle channel an attribute of its own name and
// matching type (int8, int32, int64, float, vec3i, vec3f). Names OpenVDB
// does not take have other characters replaced by '_', and a name taken
// twice gets "_2", "_3"... Every attribute is stored as it is (no
// quantisation), so values come back exactly; P, kept by OpenVDB as a float
// offset from the centre of its voxel, comes back within float rounding.
// The grid's voxels are the layout's cells: voxel size the cell size,
// voxel (i, j, k) covering cell (i, j, k).

#include <cstdint>
#include <functional>
#include <string>

#include "GridOrigin.h"

namespace Cb {
class ParticleShape;
}

struct PointGridResult {
    openvdb::GridBase::Ptr grid;  // null when the shape has no usable positions
    int64_t points = 0;
};

// Each channel is loaded through a copy of its own and released once its
// attribute is filled: besides the grid, one channel's data are in memory
// at a time. A shape without a vec3f "position" channel gives no grid (and a
// warning). Throws for particles the grid cannot hold (a position that is
// not finite or beyond 2^30 voxels from the origin, more than 2^32 - 1
// particles) and for a channel whose blocks hold other element counts than
// the positions' blocks.
PointGridResult particleGrid(const Cb::ParticleShape& shape, float cellSize, const GridOrigin& origin, bool fineOnly,
                             const std::function<bool(const std::string&)>& channelSelected);

// The attribute name of a particle channel, before it is made unique.
std::string attributeName(const std::string& channel);
