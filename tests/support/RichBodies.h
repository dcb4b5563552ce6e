#pragma once
// Bodies holding a bit of everything a body record carries, built from
// pieces whose sizes a caller picks, and a text of all that a record stores,
// so that a body and the body read back from its file compare as two texts.
// Needs a started library (Cb::begin) for the registries. Free of GoogleTest:
// the fuzz targets use it too.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cb/model/Body.h"
#include "zt/vec.h"

namespace testsupport {

// A layout of cell size 0.5 with the given fine tiles and their coarse shell.
void setRichLayout(Cb::Body& body, int tileSize, const std::vector<zt::vec3i>& tiles);
// Values of every type in sections ("Stepping" added after "Fluid"),
// enumerated groups.
void addRichValues(Cb::Body& body);
// A particle shape with channels of every particle element type; the first
// fine block holds `firstBlock` particles, the other blocks and two coarse
// blocks a few.
void addRichParticles(Cb::Body& body, int64_t firstBlock);
// A point shape of `pointCount` elements with buffer channels of every
// element type, and edge, triangle and tet shapes of `meshElements`,
// `meshElements` + `meshStep` and + 2 `meshStep` elements.
void addRichMeshes(Cb::Body& body, int64_t pointCount, int64_t meshElements, int64_t meshStep);
// A field shape with scalar, integer, 64-bit and vector channels, one of
// them of a special class; needs the layout first.
void addRichFields(Cb::Body& body);

// All of the above with a transform, tile size 4 and fine tiles (0,0,0),
// (1,0,0), (-1,2,3); the first fine block holds 300 particles, the point
// shape 4500 elements.
std::unique_ptr<Cb::Body> makeRichBody(const std::string& name);
// Forty particles over several tiles: position, velocity, density.
std::unique_ptr<Cb::Body> makePlainBody(const std::string& name);
// Name, signature name, extra text, transform, sections and values, layout,
// and (with `shapes`) every shape that has channels with all a record keeps
// of each channel: type, name, stored count and statistics, default, and its
// data (particle blocks of both lists with their tiles, buffer elements,
// field values with background, sample set and attributes).
std::string describeBody(const Cb::Body& body, bool shapes = true);

}  // namespace testsupport
