#pragma once
// Sequence: a growable sequence of fixed-size elements held as a doubly
// linked chain of blocks, so appending never moves stored elements. The
// converter gathers millions of particles in two of these without copying
// earlier ones.

#include <cstddef>
#include <cstdint>
#include <mutex>

struct _SequenceBlock {
    _SequenceBlock* next = nullptr;
    _SequenceBlock* prev = nullptr;
    int32_t used = 0;
    int32_t capacity = 0;
    unsigned char* elements = nullptr;  // capacity * element size bytes, owned
};

class Sequence {
public:
    // Throws ztx::base("[_SequenceBlock] Could not allocate memory") when a
    // block cannot be allocated.
    Sequence(int32_t elementSize, int32_t blockCapacity);
    ~Sequence();
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

    // Address of a new element slot at the end; the caller fills it.
    void* append();
    template <class T>
    T* appendAs() {
        return static_cast<T*>(append());
    }

    // Appends `count` elements copied from contiguous memory, in order.
    void appendRange(const void* elements, int64_t count);

    // The cursor walk: rewind, then next() returns the elements in append
    // order and null after the last.
    void rewind();
    void* next() {
        while (cursorBlock_) {
            if (cursorIndex_ < cursorBlock_->used)
                return cursorBlock_->elements + size_t(cursorIndex_++) * size_t(elementSize_);
            cursorBlock_ = cursorBlock_->next;
            cursorIndex_ = 0;
        }
        return nullptr;
    }
    // The longest contiguous run of at most `limit` elements at the cursor;
    // the cursor moves past it. Null with *count 0 at the end.
    const void* nextRun(int32_t limit, int32_t* count) {
        while (cursorBlock_) {
            if (cursorIndex_ < cursorBlock_->used) {
                int32_t n = cursorBlock_->used - cursorIndex_;
                if (n > limit) n = limit;
                const void* first = cursorBlock_->elements + size_t(cursorIndex_) * size_t(elementSize_);
                cursorIndex_ += n;
                *count = n;
                return first;
            }
            cursorBlock_ = cursorBlock_->next;
            cursorIndex_ = 0;
        }
        *count = 0;
        return nullptr;
    }
    template <class T>
    T* nextAs() {
        return static_cast<T*>(next());
    }

    int32_t count() const { return count_; }
    int32_t elementSize() const { return elementSize_; }
    int32_t blockCapacity() const { return blockCapacity_; }
    uint64_t reservedBytes() const { return reservedBytes_; }
    const _SequenceBlock* head() const { return head_; }

    // Frees every block; head, append block, cursor, count and reserved bytes
    // return to zero.
    void clear();

    // For other users of the container; the converter never takes it.
    std::mutex& lock() { return lock_; }

private:
    _SequenceBlock* newBlock();

    _SequenceBlock* head_ = nullptr;
    _SequenceBlock* appendBlock_ = nullptr;
    _SequenceBlock* tail_ = nullptr;
    _SequenceBlock* cursorBlock_ = nullptr;
    int32_t cursorIndex_ = 0;
    int32_t count_ = 0;
    int32_t elementSize_;
    int32_t blockCapacity_;
    uint64_t reservedBytes_ = 0;
    std::mutex lock_;
};
