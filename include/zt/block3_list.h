#pragma once
// zt::block3_list: one list of block slots of a block array (see
// block3_array.h for the two lists and their numbering).

#include <cstdint>
#include <memory>
#include <vector>

#include "zt/block3.h"

namespace zt {

// Owning list of block slots. Slots are read with acquire loads and stored
// with release stores, so a reader outside the load lock sees either null or
// a complete block.
class block3_list {
public:
    block3_list() = default;
    block3_list(const block3_list&) = delete;
    block3_list& operator=(const block3_list&) = delete;
    block3_list(block3_list&& other) noexcept : slots_(std::move(other.slots_)) {}
    block3_list& operator=(block3_list&& other) noexcept;
    ~block3_list() { clear(); }

    int64_t count() const { return int64_t(slots_.size()); }
    block3_base* get(int64_t slot) const;
    // Deletes the block that was there.
    void set(int64_t slot, std::unique_ptr<block3_base> block);
    std::unique_ptr<block3_base> take(int64_t slot);
    void push_back(std::unique_ptr<block3_base> block);
    // New slots are null; slots cut off are deleted.
    void resize(int64_t n);
    // Removes a slot; the later slots move down by one.
    void erase(int64_t slot);
    void clear() { resize(0); }

private:
    std::vector<block3_base*> slots_;
};

}  // namespace zt
