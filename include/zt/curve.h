#pragma once
// Keyframed curves: a map from x (the frame) to y by piecewise interpolation
// of degree 1, 2 or 3 between keyframes kept sorted by x. After keyframes
// change, rebuild() recomputes the per-segment data that evaluation reads.

#include <string>
#include <vector>

namespace zt {

struct keyframe {
    double x;
    double y;
};

class curve {
public:
    curve() = default;
    virtual ~curve() = default;

    // The keyframes' value at x: the first value before the first keyframe,
    // the last from the last keyframe on. 0 for a curve without keyframes.
    virtual double evaluate(double x) const;
    // One step of a walk along the curve towards xEnd: sets *next to the
    // following sample point (at most 0.5 further, landing on every keyframe)
    // and returns the value there.
    virtual double step(double x, double xEnd, double* next) const;
    // "~" degree "[" x:y x:y ... "]".
    virtual void toString(std::string& out) const;
    // The first keyframe (null when there is none); *count gets the number.
    virtual const keyframe* keyframes(unsigned* count) const;
    // Recomputes the segment data; throws without keyframes.
    virtual void rebuild() = 0;
    virtual int degree() const = 0;
    // Value of segment i (between keyframes i and i + 1) at x; throws when
    // the segment data does not cover segment i (keyframes added since the
    // last rebuild).
    virtual double evaluateSegment(int i, double x) const = 0;
    // Deep copy with keyframes and segment data.
    virtual curve* clone() const = 0;

    // Inserts at the sorted place and returns the index; -1 (and no change)
    // when a keyframe with the same x exists.
    int addKeyframe(double x, double y);
    // -1 without keyframes or for x before the first; n - 1 from the last on;
    // otherwise the segment that ends at the first keyframe not before x.
    int findSegment(double x) const;
    unsigned keyframeCount() const { return unsigned(keys_.size()); }

protected:
    // Throws unless i names a segment of a curve with `segments` entries.
    static void checkSegment(int i, size_t segments);

    std::vector<keyframe> keys_;
};

class linear_curve : public curve {
public:
    void rebuild() override;
    int degree() const override { return 1; }
    double evaluateSegment(int i, double x) const override;
    curve* clone() const override { return new linear_curve(*this); }

private:
    struct segment {
        double slope;
        double y0;
    };
    std::vector<segment> segments_;
};

class quadratic_curve : public curve {
public:
    void rebuild() override;
    int degree() const override { return 2; }
    double evaluateSegment(int i, double x) const override;
    curve* clone() const override { return new quadratic_curve(*this); }

private:
    struct segment {
        double a, b, c;
    };
    std::vector<segment> segments_;
};

// Cardinal spline through the keyframes.
class cubic_curve : public curve {
public:
    explicit cubic_curve(double tension = 0.1) : tension_(tension) {}
    void rebuild() override;
    int degree() const override { return 3; }
    double evaluateSegment(int i, double x) const override;
    curve* clone() const override { return new cubic_curve(*this); }
    double tension() const { return tension_; }

private:
    struct segment {
        double a, b, c, d;
    };
    std::vector<segment> segments_;
    double tension_;
};

}  // namespace zt
