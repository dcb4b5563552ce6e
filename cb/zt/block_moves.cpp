#include "zt/block_moves.h"

namespace zt {

void block_moves::append(const block_moves& other) {
    blocks.reserve(blocks.count() + other.blocks.count());
    elements.reserve(elements.count() + other.elements.count());
    for (int64_t r = 0; r < other.count(); ++r) add(other.blocks[r], other.elements[r]);
}

void block_move_plan::record(int64_t source, int element, int64_t destination) {
    toBlocks[destination].add(int(source), element);
    removals[source].push_back(element);
}

void block_move_plan::recordNew(int64_t source, int element, const tile_key& tile, bool coarse, int64_t slot) {
    new_block_moves& entry = toNewBlocks[tile];
    entry.moves.add(int(source), element);
    entry.coarse = coarse;
    entry.slot = slot;
    removals[source].push_back(element);
}

void block_move_plan::merge(block_move_plan&& other) {
    for (auto& [destination, moves] : other.toBlocks) toBlocks[destination].append(moves);
    for (auto& [tile, entry] : other.toNewBlocks) {
        new_block_moves& mine = toNewBlocks[tile];
        mine.moves.append(entry.moves);
        mine.coarse = entry.coarse;
        mine.slot = entry.slot;
    }
    for (auto& [source, elements] : other.removals) {
        array1<int>& mine = removals[source];
        for (int e : elements) mine.push_back(e);
    }
    other = block_move_plan();
}

}  // namespace zt
