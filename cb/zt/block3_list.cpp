#include "zt/block3_list.h"

#include <atomic>

namespace zt {

block3_list& block3_list::operator=(block3_list&& other) noexcept {
    if (this != &other) {
        clear();
        slots_ = std::move(other.slots_);
    }
    return *this;
}

block3_base* block3_list::get(int64_t slot) const {
    // atomic_ref needs a mutable object even for a load.
    auto& cell = const_cast<block3_base*&>(slots_[size_t(slot)]);
    return std::atomic_ref<block3_base*>(cell).load(std::memory_order_acquire);
}

void block3_list::set(int64_t slot, std::unique_ptr<block3_base> block) {
    block3_base* old = get(slot);
    std::atomic_ref<block3_base*>(slots_[size_t(slot)]).store(block.release(), std::memory_order_release);
    delete old;
}

std::unique_ptr<block3_base> block3_list::take(int64_t slot) {
    std::unique_ptr<block3_base> block(get(slot));
    std::atomic_ref<block3_base*>(slots_[size_t(slot)]).store(nullptr, std::memory_order_release);
    return block;
}

void block3_list::push_back(std::unique_ptr<block3_base> block) {
    slots_.push_back(block.get());
    block.release();
}

void block3_list::resize(int64_t n) {
    if (n < 0) n = 0;
    for (size_t s = size_t(n); s < slots_.size(); ++s) delete slots_[s];
    slots_.resize(size_t(n), nullptr);
}

void block3_list::erase(int64_t slot) {
    delete slots_[size_t(slot)];
    slots_.erase(slots_.begin() + slot);
}

}  // namespace zt
