#include "zt/tile3.h"

namespace zt {

tile::tile(int level, uint32_t N, int64_t offset)
    : level_(level), N_(N), half_(N / 2), offset_(offset), sign_(level == 0 ? 1 : -1) {
    if (level == 0) {
        strides_[0] = 1;
        strides_[1] = N;
        strides_[2] = N * N;
    } else {
        strides_[0] = strides_[1] = strides_[2] = 0;
    }
}

void tile::becomeFine(int64_t newOffset) {
    previousOffset_ = offset_;
    offset_ = newOffset;
    level_ = 0;
    sign_ = 1;
    strides_[0] = 1;
    strides_[1] = N_;
    strides_[2] = N_ * N_;
}

tile3::tile3(tile_layout3* layout, int i, int j, int k, uint32_t N, int level, int64_t offset,
             tile3* requester)
    : tile(level, N, offset),
      i_(i),
      j_(j),
      k_(k),
      origin_{{int(N) * i, int(N) * j, int(N) * k}},
      end_(offset + int64_t(N) * N * N),
      layout_(layout),
      requester_(requester) {
    clearNeighbours();
}

void tile3::promote(int64_t newOffset) {
    becomeFine(newOffset);
    end_ = newOffset + int64_t(N_) * N_ * N_;
    clearNeighbours();
}

void tile3::relocate(int64_t newOffset) {
    previousOffset_ = offset_;
    offset_ = newOffset;
    end_ = newOffset + int64_t(N_) * N_ * N_;
}

void tile3::clearNeighbours() {
    for (tile3*& n : neighbours_) n = nullptr;
}

}  // namespace zt
