#pragma once
// Frame sequences: caches come one frame per file, and a range of them is
// converted in one run of the library, a frame's output being exactly what
// the single conversion of that file with that frame number writes.
//
// Frames run on worker threads, `jobs` at a time, each with an OpenMP team
// of its own; the calling thread only reports. Memory stays at `jobs`
// frames' working sets.

#include <cstdint>
#include <cstdio>
#include <string>

// A file name with one frame number in it: a run of '#' (the number padded
// with zeros to the run's width), or a printf conversion "%d" or "%0Nd".
// Where a pattern holds such a conversion it is read as printf reads it ("%%"
// is one percent sign, any other '%' an error, '#' itself); otherwise every
// character but its one run of '#' is itself. A negative number keeps its
// sign in front of the zeros, and a number wider than the field is written
// whole, both as printf writes them ("%04d": -5 is "-005", 12345 "12345").
class FramePattern {
public:
    FramePattern() = default;
    // Throws ztx::base with the reason when the pattern has no frame number,
    // more than one, or a '%' printf would not read as this one number.
    static FramePattern parse(const std::string& text);

    std::string name(int64_t frame) const;
    const std::string& text() const { return text_; }

private:
    std::string text_;
    std::string before_, after_;
    int width_ = 0;
};

// FIRST-LAST[:STEP]: FIRST, FIRST + STEP, ... up to LAST. Numbers are
// decimal integers that fit in an int, either may be negative ("-10--2").
struct FrameRange {
    int64_t first = 0;
    int64_t last = 0;
    int64_t step = 1;

    // Throws ztx::base with the reason for text that is no range, a range
    // that runs backwards (FIRST > LAST) or a STEP below 1.
    static FrameRange parse(const std::string& text);
    int64_t count() const { return (last - first) / step + 1; }
    int64_t frame(int64_t index) const { return first + index * step; }
};

struct SequenceSettings {
    FrameRange range;
    FramePattern input;
    FramePattern output;
    std::string pluginName;
    float radius = 0.0f;
    float fps = 24.0f;
    int jobs = 1;
    // Without it the run stops at the first failed frame: frames already
    // running finish, no new one starts.
    bool keepGoing = false;
    // A progress line redrawn in place on `diagnostics` instead of a line
    // per frame (the caller decides: standard error is a terminal and
    // --quiet was not given).
    bool progress = false;
    FILE* diagnostics = stderr;  // frame lines, warnings, progress
    FILE* results = stdout;      // the summary
};

constexpr int kMaxJobs = 256;

// Converts every frame of the range; returns the exit code: 0 when every
// frame was converted, 1 otherwise.
//
// A frame whose input does not exist fails with the reason "missing"; with
// keepGoing it is counted as skipped rather than failed. Frame lines are
// printed in frame order: "frame N: <input> -> <output>: <count> particles"
// or "frame N: <input>: failed: <reason>", preceded by "frame N: <line>" for
// each warning of the frame. The library's information lines and the single
// form's parameter echo are not printed. The summary, on `results`:
// "converted C of T frames: F failed, S skipped, N not started; P particles in X.XX s".
int runFrameSequence(const SequenceSettings& settings);
