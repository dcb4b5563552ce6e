#include "FrameSequence.h"

#include <omp.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ExportParticles.h"
#include "LibrarySession.h"
#include "cb/Log.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace {

// A field wider than this is surely a mistake, and would only make long names.
constexpr int kMaxWidth = 64;

// A decimal integer that fits in an int, the whole of `text`.
bool parseFrameNumber(std::string_view text, int64_t& value) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end && value >= INT_MIN && value <= INT_MAX;
}

}  // namespace

FramePattern FramePattern::parse(const std::string& text) {
    FramePattern pattern;
    pattern.text_ = text;
    // The printf reading: "%d", "%0Nd" and "%%".
    struct Conversion {
        size_t at, length;
        int width;
    };
    std::vector<Conversion> conversions;
    bool stray = false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        size_t j = i + 1;
        int width = 0;
        if (j < text.size() && text[j] == '0') {
            ++j;
            const size_t digits = j;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9' && width <= kMaxWidth)
                width = width * 10 + (text[j++] - '0');
            if (j == digits || width < 1 || width > kMaxWidth) width = -1;
        }
        if (width >= 0 && j < text.size() && text[j] == 'd') {
            conversions.push_back({i, j + 1 - i, width});
            i = j;
        } else {
            stray = true;
        }
    }
    if (conversions.size() > 1)
        throw ztx::base(zt::cat("more than one frame number (", "%d or %0Nd", ") in '", text, "'"));
    if (conversions.size() == 1) {
        if (stray)
            throw ztx::base(zt::cat("a '%' in '", text, "' is not the frame number (%d, or %0Nd with N from 1 to ",
                                    kMaxWidth, "): write a percent sign as %%"));
        const Conversion& c = conversions[0];
        auto unescape = [](std::string piece) {
            std::string out;
            for (size_t i = 0; i < piece.size(); ++i) {
                out += piece[i];
                if (piece[i] == '%' && i + 1 < piece.size() && piece[i + 1] == '%') ++i;
            }
            return out;
        };
        pattern.before_ = unescape(text.substr(0, c.at));
        pattern.after_ = unescape(text.substr(c.at + c.length));
        pattern.width_ = c.width;
        return pattern;
    }
    // The '#' reading: one run, the rest as written.
    const size_t first = text.find('#');
    if (first == std::string::npos)
        throw ztx::base(zt::cat("no frame number in '", text, "': mark it with a run of # or with %0Nd"));
    const size_t end = std::min(text.find_first_not_of('#', first), text.size());
    if (text.find('#', end) != std::string::npos)
        throw ztx::base(zt::cat("more than one run of # in '", text, "': use %0Nd for the frame number"));
    if (end - first > size_t(kMaxWidth))
        throw ztx::base(zt::cat("the run of # in '", text, "' is wider than ", kMaxWidth));
    pattern.before_ = text.substr(0, first);
    pattern.after_ = text.substr(end);
    pattern.width_ = int(end - first);
    return pattern;
}

std::string FramePattern::name(int64_t frame) const {
    std::string digits = std::to_string(frame < 0 ? -frame : frame);
    const size_t used = digits.size() + (frame < 0 ? 1 : 0);
    if (used < size_t(width_)) digits.insert(0, size_t(width_) - used, '0');
    return before_ + (frame < 0 ? "-" : "") + digits + after_;
}

FrameRange FrameRange::parse(const std::string& text) {
    // The separator is the first '-' after FIRST's own sign.
    const size_t dash = text.find('-', 1);
    const size_t colon = text.find(':');
    FrameRange range;
    const bool parsed = dash != std::string::npos && (colon == std::string::npos || colon > dash) &&
                        parseFrameNumber(std::string_view(text).substr(0, dash), range.first) &&
                        parseFrameNumber(std::string_view(text).substr(dash + 1, colon == std::string::npos
                                                                                      ? std::string::npos
                                                                                      : colon - dash - 1),
                                         range.last) &&
                        (colon == std::string::npos ||
                         parseFrameNumber(std::string_view(text).substr(colon + 1), range.step));
    if (!parsed) throw ztx::base(zt::cat("Can't parse the frame range (", text, "): FIRST-LAST[:STEP] expected"));
    if (range.first > range.last)
        throw ztx::base(zt::cat("The frame range ", text, " runs backwards: FIRST must not exceed LAST"));
    if (range.step < 1) throw ztx::base(zt::cat("The frame step of ", text, " must be at least 1"));
    return range;
}

namespace {

struct FrameOutcome {
    enum class Kind { Converted, Failed, Missing };
    Kind kind = Kind::Failed;
    int64_t frame = 0;
    std::string input, output;
    ExportSummary summary;
    std::vector<std::string> warnings;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string clockText(double seconds) {
    const int64_t s = int64_t(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", (long long)(s / 3600), (long long)(s / 60 % 60),
                      (long long)(s % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", (long long)(s / 60), (long long)(s % 60));
    return text;
}

// The warnings a frame's conversion printed, one piece per line.
void addWarnings(std::vector<std::string>& into, const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) into.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// The OpenMP team of each frame: OMP_NUM_THREADS where it is set, otherwise
// the processors shared among the frames that run at once.
int frameThreads(int jobs) {
    const char* set = std::getenv("OMP_NUM_THREADS");
    if (set && *set) return std::max(1, omp_get_max_threads());
    return std::max(1, omp_get_num_procs() / std::max(1, jobs));
}

class SequenceRun {
public:
    explicit SequenceRun(const SequenceSettings& settings)
        : settings_(settings), total_(settings.range.count()), start_(std::chrono::steady_clock::now()) {}

    int run();

private:
    void work(int threads);
    FrameOutcome convert(int64_t index, int threads) const;
    // Calling thread only, the lock not held.
    void report(const FrameOutcome& outcome);
    void drawProgress();
    void clearProgress();
    void printSummary();
    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    }

    const SequenceSettings& settings_;
    const int64_t total_;
    const std::chrono::steady_clock::time_point start_;

    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t next_ = 0;  // frames taken, in order
    bool stop_ = false;
    int running_ = 0;   // workers still at work
    std::map<int64_t, FrameOutcome> finished_;  // not yet reported
    int64_t done_ = 0;
    int64_t particles_ = 0;

    // The calling thread's.
    int64_t reported_ = 0;
    int64_t converted_ = 0, failed_ = 0, skipped_ = 0;
    bool progressShown_ = false;
};

FrameOutcome SequenceRun::convert(int64_t index, int threads) const {
    FrameOutcome outcome;
    outcome.frame = settings_.range.frame(index);
    outcome.input = settings_.input.name(outcome.frame);
    outcome.output = settings_.output.name(outcome.frame);
    std::error_code error;
    if (std::filesystem::status(outcome.input, error).type() == std::filesystem::file_type::not_found) {
        outcome.kind = FrameOutcome::Kind::Missing;
        outcome.summary.failure = "missing";
        return outcome;
    }
    ExportRequest request{outcome.input, outcome.output, settings_.pluginName, settings_.radius, settings_.fps,
                          float(outcome.frame)};
    request.printSummary = false;
    request.printFailure = false;
    request.threads = threads;
    std::string printed;
    {
        DiagnosticCapture capture([&](const std::string& text) {
            printed += text;
            printed += '\n';
        });
        outcome.kind = exportInStartedLibrary(request, &outcome.summary) ? FrameOutcome::Kind::Converted
                                                                          : FrameOutcome::Kind::Failed;
    }
    addWarnings(outcome.warnings, printed);
    return outcome;
}

void SequenceRun::work(int threads) {
    omp_set_num_threads(threads);
    for (;;) {
        int64_t index;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stop_ || next_ >= total_) break;
            index = next_++;
        }
        FrameOutcome outcome;
        try {
            outcome = convert(index, threads);
        } catch (const std::exception& e) {  // names or messages that could not be made
            outcome = FrameOutcome();
            outcome.frame = settings_.range.frame(index);
            outcome.input = settings_.input.text();
            outcome.summary.failure = e.what();
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (outcome.kind != FrameOutcome::Kind::Converted && !settings_.keepGoing) stop_ = true;
        particles_ += outcome.kind == FrameOutcome::Kind::Converted ? outcome.summary.particles : 0;
        ++done_;
        finished_.emplace(index, std::move(outcome));
        changed_.notify_all();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    changed_.notify_all();
}

void SequenceRun::report(const FrameOutcome& outcome) {
    FILE* out = settings_.diagnostics;
    const bool converted = outcome.kind == FrameOutcome::Kind::Converted;
    if (settings_.progress && outcome.warnings.empty() && converted) return;
    clearProgress();
    for (const std::string& warning : outcome.warnings)
        std::fprintf(out, "frame %lld: %s\n", (long long)outcome.frame, warning.c_str());
    if (converted)
        std::fprintf(out, "frame %lld: %s -> %s: %lld particles\n", (long long)outcome.frame, outcome.input.c_str(),
                     outcome.output.c_str(), (long long)outcome.summary.particles);
    else
        std::fprintf(out, "frame %lld: %s: failed: %s\n", (long long)outcome.frame, outcome.input.c_str(),
                     outcome.summary.failure.c_str());
    std::fflush(out);
}

void SequenceRun::clearProgress() {
    if (!progressShown_) return;
    std::fputs("\r\033[K", settings_.diagnostics);
    progressShown_ = false;
}

void SequenceRun::drawProgress() {
    if (!settings_.progress) return;
    int64_t done, particles;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done = done_;
        particles = particles_;
    }
    const double seconds = elapsed();
    const std::string left =
        done > 0 ? clockText(seconds / double(done) * double(total_ - done)) : std::string("-:--");
    std::fprintf(settings_.diagnostics, "\r%lld/%lld frames, %lld particles, %s elapsed, %s left\033[K",
                 (long long)done, (long long)total_, (long long)particles, clockText(seconds).c_str(), left.c_str());
    std::fflush(settings_.diagnostics);
    progressShown_ = true;
}

void SequenceRun::printSummary() {
    const int64_t notStarted = total_ - converted_ - failed_ - skipped_;
    std::fprintf(settings_.results,
                 "converted %lld of %lld frames: %lld failed, %lld skipped, %lld not started; %lld particles in "
                 "%.2f s\n",
                 (long long)converted_, (long long)total_, (long long)failed_, (long long)skipped_,
                 (long long)notStarted, (long long)particles_, elapsed());
    std::fflush(settings_.results);
}

int SequenceRun::run() {
    // Information lines would bury the frame lines; warnings stay.
    const std::string verbosity = Cb::verbosity;
    Cb::verbosity = "QUIET";
    struct Restore {
        const std::string& saved;
        ~Restore() { Cb::verbosity = saved; }
    } restore{verbosity};

    std::unique_ptr<LibrarySession> library;
    try {
        library = std::make_unique<LibrarySession>();
    } catch (const std::exception& e) {
        std::fprintf(settings_.diagnostics, "Unhandled exception: %s\n", e.what());
        printSummary();
        return 1;
    }

    const int workers = int(std::min<int64_t>(settings_.jobs, total_));
    const int threads = frameThreads(settings_.jobs);
    std::vector<std::thread> pool;
    running_ = workers;
    try {
        for (int w = 0; w < workers; ++w) pool.emplace_back([this, threads] { work(threads); });
    } catch (const std::exception& e) {
        // The threads that started carry the run; with none it ends here.
        std::lock_guard<std::mutex> lock(mutex_);
        running_ -= workers - int(pool.size());
        if (pool.empty()) std::fprintf(settings_.diagnostics, "Cannot start a worker thread: %s\n", e.what());
    }

    drawProgress();
    for (;;) {
        std::vector<FrameOutcome> ready;
        bool over;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            // The clock of the progress line moves on between frames too.
            if (finished_.empty() || finished_.begin()->first != reported_)
                changed_.wait_for(lock, std::chrono::seconds(1), [&] {
                    return running_ == 0 || (!finished_.empty() && finished_.begin()->first == reported_);
                });
            // Frames are taken in order and every taken frame finishes: lines
            // come out in frame order.
            while (!finished_.empty() && finished_.begin()->first == reported_) {
                ready.push_back(std::move(finished_.begin()->second));
                finished_.erase(finished_.begin());
                ++reported_;
            }
            over = running_ == 0 && finished_.empty();
        }
        for (const FrameOutcome& outcome : ready) {
            if (outcome.kind == FrameOutcome::Kind::Converted)
                ++converted_;
            else if (outcome.kind == FrameOutcome::Kind::Missing && settings_.keepGoing)
                ++skipped_;
            else
                ++failed_;
            report(outcome);
        }
        drawProgress();
        if (over) break;
    }
    for (std::thread& t : pool) t.join();
    library->stop();
    if (progressShown_) {
        std::fputc('\n', settings_.diagnostics);
        std::fflush(settings_.diagnostics);
    }
    printSummary();
    return converted_ == total_ ? 0 : 1;
}

}  // namespace

int runFrameSequence(const SequenceSettings& settings) { return SequenceRun(settings).run(); }
