#pragma once
// Particle channels as NumPy arrays. Rows follow the converter's export
// order: for t from 0 to the layout's fine-list length - 1, the elements of
// global block t; blocks of coarse tiles are left out. Every channel has as
// many rows per block as the "position" channel (a shorter block is padded
// with the channel's default value, a longer one cut), so row i is the same
// particle in every channel; a shape without a vec3f "position" gives each
// channel its own rows.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Common.h"
#include "Handles.h"

namespace Cb {
class ParticleShape;
}

namespace ztpy {

namespace py = pybind11;

// The body's particle shape; throws when it has none.
const Cb::ParticleShape& particleShapeOf(const BodyHandle& body);

// Names and library types ("particle::vec3f", "particle::id64", ...).
std::vector<ChannelEntry> particleChannels(const BodyHandle& body);
// Rows of every channel's array, counted without loading data from version
// 14 files (older files keep counts inside their blocks, which are loaded
// one at a time to count them).
int64_t particleCount(const BodyHandle& body);
// The channel's rows, read block by block straight into the array (each
// block loaded from the file is dropped again once copied). Throws
// py::key_error for a missing channel.
py::array readParticleChannel(const BodyHandle& body, const std::string& name);

// Builds the body's particles from positions (n, 3): a layout of tiles of
// `tileSize` voxels around them (the voxel size given, else the body's
// "Master Voxel Size", else its layout's), one fine tile per occupied tile
// in order of its first particle, particles kept in their order within a
// tile; then each named array becomes a channel. Returns the stored order:
// stored row r is given row order[r].
py::array_t<int64_t> setParticles(BodyHandle& body, const py::array& positions, const py::dict& channels,
                                  std::optional<double> voxelSize, int tileSize);
// Adds or replaces one channel of a body whose particles were set, from an
// array in the order given to setParticles.
void setParticleChannel(BodyHandle& body, const std::string& name, const py::array& values);

}  // namespace ztpy
