#include "cb/model/PointShape.h"

#include <cfloat>
#include <cmath>

#include "cb/Log.h"
#include "cb/model/BufferChannel.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

using Vec3fChannel = BufferChannel<zt::vec3f>;

// p in row-vector form times the 4x4 matrix m; the translation (m[12..14])
// only for points, not for directions.
void transformAll(zt::array1<zt::vec3f>& values, const float m[16], bool translate) {
    const float t = translate ? 1.0f : 0.0f;
    const int64_t n = values.count();
    zt::vec3f* v = values.data();
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) {
        const zt::vec3f p = v[i];
        v[i] = {p[0] * m[0] + p[1] * m[4] + p[2] * m[8] + m[12] * t,
                p[0] * m[1] + p[1] * m[5] + p[2] * m[9] + m[13] * t,
                p[0] * m[2] + p[1] * m[6] + p[2] * m[10] + m[14] * t};
    }
}

}  // namespace

PointShape::PointShape(bool withMaster) : BufferShape("Point") {
    if (withMaster) createChannel3f("position", {0, 0, 0});
}

Shape* PointShape::clone() const { return new PointShape(*this); }

void PointShape::applyTransform(const float m[16]) {
    // Both lookups first: a missing or mistyped channel changes nothing.
    channelAs<Vec3fChannel>("position");
    channelAs<Vec3fChannel>("velocity");
    transformAll(mutableChannelAs<Vec3fChannel>("position")->elements(), m, true);
    transformAll(mutableChannelAs<Vec3fChannel>("velocity")->elements(), m, false);
}

bool PointShape::pointDifference(const Shape& other, zt::array1<zt::vec3f>& dx) const {
    // Positions are read as one contiguous array, so only a vec3f buffer
    // channel will do; particle positions live in blocks.
    const int j = other.indexOf("position");
    const auto* theirs = j < 0 ? nullptr : dynamic_cast<const Vec3fChannel*>(other.channel(j).get());
    if (!theirs) {
        logWarning("Cannot calculate point difference: missing Point.position");
        return false;
    }
    const Vec3fChannel* mine = channelAs<Vec3fChannel>("position");
    if (mine->size() != theirs->size()) {
        logWarning("Cannot calculate point difference: point count mismatch.");
        return false;
    }
    const int64_t n = int64_t(mine->size());
    dx.resize(n);
    const zt::vec3f* a = mine->data();
    const zt::vec3f* b = theirs->data();
    zt::vec3f* d = dx.data();
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) d[i] = {b[i][0] - a[i][0], b[i][1] - a[i][1], b[i][2] - a[i][2]};
    return true;
}

void PointShape::advancePositions(const zt::array1<zt::vec3f>& dx, double ratio) {
    const uint64_t points = channelAs<Vec3fChannel>("position")->size();
    if (uint64_t(dx.count()) != points)
        throw ztx::base(zt::cat("Cannot advance Point.position: dx holds ", dx.count(), " entries for ", points,
                                " points"));
    zt::vec3f* p = mutableChannelAs<Vec3fChannel>("position")->data();
    const zt::vec3f* d = dx.data();
    const int64_t n = dx.count();
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) p[i][c] = float(p[i][c] + d[i][c] * ratio);
}

bool PointShape::computeVelocity(const zt::array1<zt::vec3f>& dx, double dt) {
    if (!(std::fabs(dt) > double(FLT_EPSILON))) {
        logWarning(zt::cat("Cannot calculate Point.velocity: dt=", dt));
        return false;
    }
    const Channel& position = *channel("position");
    if (uint64_t(dx.count()) != position.size()) {
        logWarning("Cannot calculate Point.velocity: dx size mismatch");
        return false;
    }
    if (indexOf("velocity") < 0) {
        createChannel3f("velocity", {0, 0, 0});
        syncChannels();
    }
    Vec3fChannel* velocity = mutableChannelAs<Vec3fChannel>("velocity");
    if (velocity->size() != position.size()) velocity->resizeLike(position);
    const float inverse = 1.0f / float(dt);
    zt::vec3f* v = velocity->data();
    const zt::vec3f* d = dx.data();
    const int64_t n = dx.count();
#pragma omp parallel for schedule(static)
    for (int64_t i = 0; i < n; ++i) v[i] = {d[i][0] * inverse, d[i][1] * inverse, d[i][2] * inverse};
    return true;
}

}  // namespace Cb
