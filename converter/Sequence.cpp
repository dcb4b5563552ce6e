#include "Sequence.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "zt/ztx.h"

namespace {
[[noreturn]] void allocationFailed() { throw ztx::base("[_SequenceBlock] Could not allocate memory"); }
}  // namespace

Sequence::Sequence(int32_t elementSize, int32_t blockCapacity)
    : elementSize_(elementSize), blockCapacity_(blockCapacity) {
    if (elementSize <= 0 || blockCapacity <= 0) allocationFailed();
}

Sequence::~Sequence() { clear(); }

_SequenceBlock* Sequence::newBlock() {
    auto* block = new (std::nothrow) _SequenceBlock;
    if (!block) allocationFailed();
    block->capacity = blockCapacity_;
    block->elements = static_cast<unsigned char*>(std::malloc(size_t(blockCapacity_) * size_t(elementSize_)));
    if (!block->elements) {
        delete block;
        allocationFailed();
    }
    block->prev = tail_;
    if (tail_)
        tail_->next = block;
    else
        head_ = block;
    tail_ = block;
    reservedBytes_ += uint64_t(blockCapacity_) * uint64_t(elementSize_) + sizeof(_SequenceBlock);
    return block;
}

void* Sequence::append() {
    if (count_ == std::numeric_limits<int32_t>::max()) allocationFailed();
    for (_SequenceBlock* b = appendBlock_; b; b = b->next) {
        if (b->used < b->capacity) {
            appendBlock_ = b;
            ++count_;
            return b->elements + size_t(b->used++) * size_t(elementSize_);
        }
    }
    _SequenceBlock* block = newBlock();
    appendBlock_ = block;
    block->used = 1;
    ++count_;
    return block->elements;
}

void Sequence::appendRange(const void* elements, int64_t count) {
    const auto* source = static_cast<const unsigned char*>(elements);
    if (count > int64_t(std::numeric_limits<int32_t>::max()) - count_) allocationFailed();
    while (count > 0) {
        void* first = append();  // finds or makes a block with room
        std::memcpy(first, source, size_t(elementSize_));
        source += elementSize_;
        --count;
        _SequenceBlock* b = appendBlock_;
        int64_t room = std::min<int64_t>(b->capacity - b->used, count);
        if (room > 0) {
            std::memcpy(b->elements + size_t(b->used) * size_t(elementSize_), source,
                        size_t(room) * size_t(elementSize_));
            b->used += int32_t(room);
            count_ += int32_t(room);
            source += size_t(room) * size_t(elementSize_);
            count -= room;
        }
    }
}

void Sequence::rewind() {
    cursorBlock_ = head_;
    cursorIndex_ = 0;
}

void Sequence::clear() {
    _SequenceBlock* b = head_;
    while (b) {
        _SequenceBlock* next = b->next;
        std::free(b->elements);
        delete b;
        b = next;
    }
    head_ = appendBlock_ = tail_ = cursorBlock_ = nullptr;
    cursorIndex_ = 0;
    count_ = 0;
    reservedBytes_ = 0;
}
