#include "zt/curve.h"

#include <algorithm>
#include <sstream>

#include "zt/cat.h"
#include "zt/ztx.h"

namespace zt {

double curve::evaluate(double x) const {
    if (keys_.empty()) return 0.0;
    const int i = findSegment(x);
    if (i < 0) return keys_.front().y;
    if (i == int(keys_.size()) - 1) return keys_.back().y;
    return evaluateSegment(i, x);
}

double curve::step(double x, double xEnd, double* next) const {
    double nextX = xEnd;
    double value = 0.0;
    if (!keys_.empty()) {
        // The small lead lets a walk that stands on a keyframe move past it.
        const int i = findSegment(x + 0.001);
        if (i < 0) {
            nextX = keys_.front().x;
            value = keys_.front().y;
        } else if (i == int(keys_.size()) - 1) {
            value = keys_.back().y;
        } else {
            nextX = x + std::min(keys_[size_t(i) + 1].x - x, 0.5);
            value = evaluateSegment(i, nextX);
        }
    }
    if (next) *next = nextX;
    return value;
}

void curve::toString(std::string& out) const {
    std::ostringstream os;
    os << '~' << degree() << '[';
    for (size_t i = 0; i < keys_.size(); ++i) os << (i ? " " : "") << keys_[i].x << ':' << keys_[i].y;
    os << ']';
    out = os.str();
}

const keyframe* curve::keyframes(unsigned* count) const {
    if (count) *count = unsigned(keys_.size());
    return keys_.empty() ? nullptr : keys_.data();
}

int curve::addKeyframe(double x, double y) {
    auto at = std::lower_bound(keys_.begin(), keys_.end(), x,
                               [](const keyframe& k, double v) { return k.x < v; });
    if (at != keys_.end() && at->x == x) return -1;
    at = keys_.insert(at, keyframe{x, y});
    return int(at - keys_.begin());
}

int curve::findSegment(double x) const {
    const int n = int(keys_.size());
    if (n == 0 || x < keys_.front().x) return -1;
    if (x >= keys_.back().x) return n - 1;
    auto at = std::lower_bound(keys_.begin(), keys_.end(), x,
                               [](const keyframe& k, double v) { return k.x < v; });
    return int(at - keys_.begin()) - 1;
}

void curve::checkSegment(int i, size_t segments) {
    if (i < 0 || size_t(i) >= segments)
        throw ztx::base(zt::cat("curve segment ", i, " is not built (", segments, " segments)"));
}

void linear_curve::rebuild() {
    if (keys_.empty()) throw ztx::base("linear_curve::rebuild - No keyframes");
    segments_.clear();
    for (size_t i = 0; i + 1 < keys_.size(); ++i) {
        const keyframe& k0 = keys_[i];
        const keyframe& k1 = keys_[i + 1];
        segments_.push_back({(k1.y - k0.y) / (k1.x - k0.x), k0.y});
    }
}

double linear_curve::evaluateSegment(int i, double x) const {
    checkSegment(i, segments_.size());
    const segment& s = segments_[size_t(i)];
    return (x - keys_[size_t(i)].x) * s.slope + s.y0;
}

void quadratic_curve::rebuild() {
    if (keys_.empty()) throw ztx::base("quadratic_curve::rebuild - No keyframes");
    segments_.clear();
    // z is the derivative at each keyframe, 0 at the first.
    double z = 0.0;
    for (size_t i = 0; i + 1 < keys_.size(); ++i) {
        const double dx = keys_[i + 1].x - keys_[i].x;
        const double zNext = 2.0 * (keys_[i + 1].y - keys_[i].y) / dx - z;
        segments_.push_back({(zNext - z) / dx * 0.5, z, keys_[i].y});
        z = zNext;
    }
}

double quadratic_curve::evaluateSegment(int i, double x) const {
    checkSegment(i, segments_.size());
    const segment& s = segments_[size_t(i)];
    const double d = x - keys_[size_t(i)].x;
    return (s.a * d + s.b) * d + s.c;
}

void cubic_curve::rebuild() {
    if (keys_.empty()) throw ztx::base("cubic_curve::rebuild - No keyframes");
    segments_.clear();
    const int n = int(keys_.size());
    const double s = tension_;
    for (int i = 0; i + 1 < n; ++i) {
        const double p = keys_[size_t(std::max(i - 1, 0))].y;
        const double q = keys_[size_t(std::min(i + 2, n - 1))].y;
        const double y0 = keys_[size_t(i)].y;
        const double y1 = keys_[size_t(i) + 1].y;
        segments_.push_back({(2.0 - s) * y0 + (s - 2.0) * y1 + (q - p) * s,
                             (3.0 - 2.0 * s) * y1 + (s - 3.0) * y0 + (2.0 * p - q) * s, (y1 - p) * s, y0});
    }
}

double cubic_curve::evaluateSegment(int i, double x) const {
    checkSegment(i, segments_.size());
    const segment& g = segments_[size_t(i)];
    const double t = (x - keys_[size_t(i)].x) / (keys_[size_t(i) + 1].x - keys_[size_t(i)].x);
    return ((g.a * t + g.b) * t + g.c) * t + g.d;
}

}  // namespace zt
