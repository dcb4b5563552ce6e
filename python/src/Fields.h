#pragma once
// Field channels as NumPy arrays: the voxels of every fine tile, one
// (N, N, N) block per tile indexed [tile, x, y, z] (a trailing axis of 3 for
// vector fields), with the tiles' coordinates beside them.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "Common.h"
#include "Handles.h"

namespace ztpy {

namespace py = pybind11;

struct FieldData {
    std::string name;
    std::string type;
    // (tiles, N, N, N) or (tiles, N, N, N, 3): voxel (x, y, z) of tile t.
    py::array values;
    // (tiles, 3) int32: tile t covers voxels N * tiles[t] + (x, y, z).
    py::array tiles;
    // The value of voxels outside every fine tile: a number or a 3-tuple.
    py::object background;
    // Where in its voxel each value sits (0 low corner, 1 centre, 2/3/4 the
    // centre of the high x/y/z face).
    int sampleSet = 0;
};

// Names and library types ("field::float", "field::vec3f", ...).
std::vector<ChannelEntry> fieldChannels(const BodyHandle& body);
// Loads the channel's values (into a copy that is freed afterwards when
// they were still in the file) and copies them out. Throws py::key_error for
// a missing channel, ztp errors for values that do not match the layout.
FieldData readFieldChannel(const BodyHandle& body, const std::string& name);

}  // namespace ztpy
