#pragma once
// zt::field_base3<T> / zt::field3<T>: one value per fine voxel of a
// tile_layout3, one per coarse-list slot, and a background for everything
// else; sampled by trilinear interpolation. Instantiated for float, int,
// int64_t and char.
//
// Fine values are one contiguous array in fine-list order (N^3 per tile), so
// whole tiles move as blocks when the layout compacts.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "zt/array1.h"
#include "zt/tile_layout3.h"
#include "zt/vec.h"

namespace zt {

template <class T>
class field_base3 {
public:
    // Throws for a sample set outside 0..4.
    explicit field_base3(const T& background = T(), int sampleSet = 0)
        : background_(background) {
        setSampleSet(sampleSet);
    }
    virtual ~field_base3() = default;
    field_base3(const field_base3&) = default;
    field_base3& operator=(const field_base3&) = default;

    // Sizes the values to the layout's lists; new values take the background.
    virtual void resize(const tile_layout3& layout) = 0;
    // Follows the layout's compaction of empty slots (see tile_layout3.h).
    virtual void compact(const tile_layout3& layout) = 0;

    // Which of the layout's sample offsets the values sit at.
    int sampleSet() const { return sampleSet_; }
    void setSampleSet(int sampleSet) {
        tile_layout3::checkSampleSet(sampleSet);
        sampleSet_ = sampleSet;
    }
    const T& background() const { return background_; }
    void setBackground(const T& value) { background_ = value; }

    array1<T>& fineValues() { return fine_; }
    const array1<T>& fineValues() const { return fine_; }
    array1<T>& coarseValues() { return coarse_; }
    const array1<T>& coarseValues() const { return coarse_; }

    // Whether a voxel index has a value here: >= 0 fine, < 0 coarse slot -index.
    bool contains(int64_t index) const {
        return index >= 0 ? index < fine_.count()
                          : index != std::numeric_limits<int64_t>::min() && -index < coarse_.count();
    }
    T& at(int64_t index) { return index >= 0 ? fine_[index] : coarse_[-index]; }
    const T& at(int64_t index) const { return index >= 0 ? fine_[index] : coarse_[-index]; }

    // Every fine and coarse value becomes `value`.
    void fill(const T& value) {
        fine_.fill(value);
        coarse_.fill(value);
    }

protected:
    int32_t sampleSet_ = 0;
    T background_;
    array1<T> fine_;
    array1<T> coarse_;
};

template <class T>
class field3 : public field_base3<T> {
public:
    using field_base3<T>::field_base3;

    void resize(const tile_layout3& layout) override;
    // Walking the layout's lists from the end, every empty slot takes the
    // value block (or coarse value) of the current last slot and the values
    // shrink by one slot; at least the coarse slot 0 stays. A field not sized
    // to the layout is left alone, so compacting twice before the layout
    // settles cannot move values a second time.
    void compact(const tile_layout3& layout) override;

    // Trilinear blend at p through the neighbour tables; voxels of coarse or
    // missing tiles count as background. When the voxel below p is not in a
    // fine tile, `value` keeps what the caller set and false is returned.
    bool sample(const vec3f& p, const tile_layout3& layout, T& value) const;
    // The same, starting from the background.
    T sample(const vec3f& p, const tile_layout3& layout) const {
        T value = this->background_;
        sample(p, layout, value);
        return value;
    }
};

template <class T>
void field3<T>::resize(const tile_layout3& layout) {
    this->fine_.resize(layout.fineVoxelCount(), this->background_);
    this->coarse_.resize(layout.coarseCount(), this->background_);
}

template <class T>
void field3<T>::compact(const tile_layout3& layout) {
    const int64_t n3 = layout.voxelsPerTile();
    const array1<tile3*>& fine = layout.fineTiles();
    if (this->fine_.count() == fine.count() * n3) {
        int64_t blocks = fine.count();
        for (int64_t k = fine.count() - 1; k >= 0; --k) {
            if (fine[k]) continue;
            const int64_t last = blocks - 1;
            if (k != last) std::copy_n(this->fine_.data() + last * n3, n3, this->fine_.data() + k * n3);
            blocks = last;
        }
        this->fine_.resize(blocks * n3);
    }
    const array1<tile3*>& coarse = layout.coarseTiles();
    if (this->coarse_.count() == coarse.count()) {
        int64_t slots = coarse.count();
        for (int64_t k = coarse.count() - 1; k >= 1; --k) {
            if (coarse[k]) continue;
            const int64_t last = slots - 1;
            if (k != last) this->coarse_[k] = this->coarse_[last];
            slots = last;
        }
        this->coarse_.resize(std::max<int64_t>(slots, 1), this->background_);
    }
}

template <class T>
bool field3<T>::sample(const vec3f& p, const tile_layout3& layout, T& value) const {
    trilinear_stencil st;
    if (!layout.stencil(p, this->sampleSet_, st)) return false;
    // Integer values blend in double so that large ones keep their digits.
    using blend_t = std::conditional_t<std::is_same_v<T, float>, float, double>;
    blend_t sum = 0;
    for (int c = 0; c < 8; ++c) {
        const tile3* t = st.tile[c];
        const bool stored = t && t->isFine() && st.index[c] < this->fine_.count();
        sum += blend_t(st.weight[c]) * blend_t(stored ? this->fine_[st.index[c]] : this->background_);
    }
    if constexpr (std::is_same_v<T, float>) {
        value = sum;
    } else {
        // Rounding of the weights may carry a blend just past the type's range.
        constexpr T lo = std::numeric_limits<T>::lowest(), hi = std::numeric_limits<T>::max();
        value = sum <= blend_t(lo) ? lo : sum >= blend_t(hi) ? hi : T(sum);
    }
    return true;
}

extern template class field_base3<float>;
extern template class field_base3<int>;
extern template class field_base3<int64_t>;
extern template class field_base3<char>;
extern template class field3<float>;
extern template class field3<int>;
extern template class field3<int64_t>;
extern template class field3<char>;

}  // namespace zt
