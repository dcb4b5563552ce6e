#pragma once
// Cb::PointShape ("Point"): the points of a mesh body. Its master channel is
// "position", a vec3f buffer channel; edges, triangles and tets of the same
// body refer to the points by index.

#include "cb/model/BufferShape.h"
#include "zt/array1.h"

namespace Cb {

class PointShape : public BufferShape {
public:
    // With the flag, a "position" channel with default (0, 0, 0).
    explicit PointShape(bool withMaster);
    PointShape(const PointShape& other) = default;

    Shape* clone() const override;
    // Positions move by the whole matrix, velocities by it without the
    // translation. Both channels must exist as vec3f buffer channels;
    // otherwise the lookup fails before anything changes.
    void applyTransform(const float m[16]) override;

    // dx[i] = other.position[i] - position[i]. Logs a warning and returns
    // false when the other shape has no vec3f "position" buffer or a
    // different point count.
    bool pointDifference(const Shape& other, zt::array1<zt::vec3f>& dx) const;
    // position[i] += dx[i] * ratio; dx must hold one entry per point.
    void advancePositions(const zt::array1<zt::vec3f>& dx, double ratio);
    // velocity[i] = dx[i] / dt, creating "velocity" when missing. Logs a
    // warning and changes nothing when |dt| is not above float epsilon or dx
    // does not hold one entry per point.
    bool computeVelocity(const zt::array1<zt::vec3f>& dx, double dt);

protected:
    const char* masterName() const override { return "position"; }
};

}  // namespace Cb
