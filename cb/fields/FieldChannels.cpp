#include "cb/fields/FieldChannel.h"

namespace Cb {

FieldChannel1f::FieldChannel1f(float background, int sampleSet) : field_(background, sampleSet) {}

FieldChannel1f::FieldChannel1f(const FieldChannel1f& other) : FieldChannelBase(other), field_(other.field_) {}

int FieldChannel1f::typeCode() const { return kTypeFloat; }

Channel* FieldChannel1f::clone() const { return new FieldChannel1f(*this); }

zt::field3<float>& FieldChannel1f::field() {
    ensureLoaded();
    return field_;
}

const zt::field3<float>& FieldChannel1f::field() const {
    ensureLoaded();
    return field_;
}

FieldChannel1i::FieldChannel1i(int background) : field_(background) {}

FieldChannel1i::FieldChannel1i(const FieldChannel1i& other) : FieldChannelBase(other), field_(other.field_) {}

int FieldChannel1i::typeCode() const { return kTypeInt; }

Channel* FieldChannel1i::clone() const { return new FieldChannel1i(*this); }

zt::field3<int>& FieldChannel1i::field() {
    ensureLoaded();
    return field_;
}

const zt::field3<int>& FieldChannel1i::field() const {
    ensureLoaded();
    return field_;
}

FieldChannel1i64::FieldChannel1i64(int64_t background) : field_(background) {}

FieldChannel1i64::FieldChannel1i64(const FieldChannel1i64& other) : FieldChannelBase(other), field_(other.field_) {}

int FieldChannel1i64::typeCode() const { return kTypeInt64; }

Channel* FieldChannel1i64::clone() const { return new FieldChannel1i64(*this); }

zt::field3<int64_t>& FieldChannel1i64::field() {
    ensureLoaded();
    return field_;
}

const zt::field3<int64_t>& FieldChannel1i64::field() const {
    ensureLoaded();
    return field_;
}

FieldChannel3f::FieldChannel3f(const zt::vec3f& background)
    : fields_{zt::field3<float>(background[0]), zt::field3<float>(background[1]), zt::field3<float>(background[2])} {}

FieldChannel3f::FieldChannel3f(const FieldChannel3f& other)
    : FieldChannelBase(other), fields_{other.fields_[0], other.fields_[1], other.fields_[2]} {}

int FieldChannel3f::typeCode() const { return kTypeVec3f; }

Channel* FieldChannel3f::clone() const { return new FieldChannel3f(*this); }

zt::field3<float>& FieldChannel3f::field(int c) {
    ensureLoaded();
    return fields_[c];
}

const zt::field3<float>& FieldChannel3f::field(int c) const {
    ensureLoaded();
    return fields_[c];
}

}  // namespace Cb
