#pragma once
// Building a tile layout around stored particles. Blocks and tiles share one
// grid: block (i, j, k) covers the voxels of tile (i, j, k). This is the
// layout operation that needs particle blocks, so it lives beside them rather
// than in tile_layout3, which knows nothing of particles.

#include "zt/block3_array.h"
#include "zt/tile_layout3.h"

namespace zt {

// Voxels from a tile face within which a particle also asks for the
// neighbouring tile across that face.
constexpr int kParticleFaceMargin = 3;

// Adds the tiles that the particles of `particles` need:
//  1. with `mirror`, the layout first takes over the block structure: each
//     list-0 block's tile becomes the fine tile of the same slot (a null
//     slot an empty fine slot), each list-1 block's tile the coarse tile of
//     the same slot. Slots the layout already has are kept.
//  2. in parallel over blocks, every accepted particle asks for its tile and,
//     when it lies within kParticleFaceMargin voxels of a face, for the
//     neighbours across those faces (an edge or corner neighbour when all of
//     its faces are near). A particle is accepted when there is no filter, or
//     when its filter value (0 where the filter has no value) is below
//     `threshold`.
//  3. the requested tiles are added in coordinate order as fine tiles, then
//     updateNeighbours(true) completes the coarse shell.
// Only blocks in memory are read: load them first. Throws when mirroring
// finds a tile held by two blocks, and for tiles outside the layout's range.
void buildFromParticles(tile_layout3& layout, const block3_array<vec3f>& particles, bool mirror,
                        const block3_array<float>* filter, float threshold, int threads = 0);

}  // namespace zt
