#pragma once
// The moves that reblocking computes from the positions and that every
// channel of a shape then carries out, and the per-block erase lists.

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "zt/array1.h"
#include "zt/block3.h"

namespace zt {

// Per-block sets of element indices to remove (erase lists). Each set is
// created and filled by the one worker that visits its block.
using erase_list = std::vector<std::unique_ptr<std::set<int>>>;

// Particles moving to one destination: parallel lists of source global
// blocks and source element indices.
struct block_moves {
    array1<int> blocks;
    array1<int> elements;
    int64_t count() const { return blocks.count(); }
    void add(int block, int element) {
        blocks.push_back(block);
        elements.push_back(element);
    }
    void append(const block_moves& other);
};

struct tile_key {
    int32_t i, j, k;
    friend auto operator<=>(const tile_key&, const tile_key&) = default;
};

// Particles moving to a tile that has no block yet, and the block created
// for them by applyMoves (one channel at a time; adoptNewBlocks takes it).
struct new_block_moves {
    block_moves moves;
    bool coarse = false;
    int64_t slot = -1;  // the tile's slot in its list
    std::unique_ptr<block3_base> block;
};

// What reblock computes from the positions and every channel carries out.
struct block_move_plan {
    std::map<int64_t, block_moves> toBlocks;          // destination global block
    std::map<tile_key, new_block_moves> toNewBlocks;  // destination tile without a block
    std::map<int64_t, array1<int>> removals;          // source global block -> elements

    void record(int64_t source, int element, int64_t destination);
    void recordNew(int64_t source, int element, const tile_key& tile, bool coarse, int64_t slot);
    // Appends every list of `other` to the same key's list here.
    void merge(block_move_plan&& other);
    bool empty() const { return removals.empty(); }
};

}  // namespace zt
