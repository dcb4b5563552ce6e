#include "StreamExport.h"

#include <omp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "BlockBounds.h"
#include "ExportParticles.h"
#include "HexText.h"
#include "OutputFile.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "cb/model/Channel.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/block3_file.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace {

using Vec3fChannel = Cb::ParticleChannel<zt::vec3f>;

// Particles per task: enough to keep a worker busy between writes.
constexpr int64_t kTaskParticles = 32768;
// Blocks holding more elements than this stream through in runs of this many.
constexpr int64_t kRunElements = 262144;
// Text a worker gathers before it writes.
constexpr size_t kTextBytes = size_t(4) << 20;
// Ids and radii per task.
constexpr int64_t kWordSlice = 65536;
constexpr uint64_t kVectorText = 24;  // three words of eight digits
constexpr uint64_t kWordText = 8;
const std::string kListEnd = "\")));\n";

// ---------------------------------------------------------------------------
// What the walk meets, in order, within one body: a failure earlier in this
// order is the one reported, as when every block was loaded in turn.

enum Stage : int { kPositionType, kPositionFile, kPositionBlock, kVelocityType, kVelocityFile, kVelocityBlock };

struct Failure {
    int stage = 0;
    int64_t block = 0;
    std::string message;

    bool before(const Failure& other) const {
        return stage < other.stage || (stage == other.stage && block < other.block);
    }
};

// The earliest failure of a body, kept by any thread.
class FirstFailure {
public:
    void offer(Failure failure) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!first_ || failure.before(*first_)) first_ = std::move(failure);
    }
    // True when a failure at (stage, block) could still be the first.
    bool open(int stage, int64_t block) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return !first_ || Failure{stage, block, {}}.before(*first_);
    }
    const std::optional<Failure>& first() const { return first_; }

private:
    mutable std::mutex mutex_;
    std::optional<Failure> first_;
};

// ---------------------------------------------------------------------------
// Where a block's elements come from.

struct Source {
    enum class Kind { None, Stored, Memory, Loaded };
    Kind kind = Kind::None;
    int64_t elements = 0;                    // unknown (0) for Loaded until loaded
    zt::stored_block stored;                 // Stored: read from the file directly
    const zt::vec3f* data = nullptr;         // Memory: already in the array
    zt::block3_array_base* array = nullptr;  // Loaded: files before version 14 keep a block's count
    int64_t block = -1;                      // inside it; the array loads it, and drops it again
};

// Global block g of the channel, numbered as the channel's block accessor numbers it.
Source sourceOf(const Vec3fChannel& channel, int64_t g) {
    // Loading through a const channel is how channels read lazily.
    auto& array = const_cast<zt::block3_array_base&>(channel.rawStorage());
    Source s;
    if (const auto* b = static_cast<const zt::block3<zt::vec3f>*>(array.residentBlock(g))) {
        s.kind = Source::Kind::Memory;
        s.elements = b->count();
        s.data = b->data();
        return s;
    }
    zt::stored_block info;
    if (!array.storedBlockInfo(g, info)) return s;
    if (info.storedBytes >= 0) {
        s.kind = Source::Kind::Stored;
        s.elements = info.elements;
        s.stored = info;
    } else {
        s.kind = Source::Kind::Loaded;
        s.array = &array;
        s.block = g;
    }
    return s;
}

// Elements of a Loaded source, read through its array and dropped again.
int64_t loadedCount(const Source& s) {
    const zt::block3_base* b = s.array->block(s.block);
    const int64_t n = b ? b->count() : 0;
    s.array->releaseBlock(s.block);
    return n;
}

// ---------------------------------------------------------------------------
// The channels a particle shape exports, found the way the export finds them:
// by exact name, the last of a name winning; a channel that cannot be looked
// at is reported (when printing) and passed over.

struct Channels {
    int position = -1;
    int velocity = -1;
};

Channels findChannels(const Cb::ParticleShape& shape, bool print) {
    Channels found;
    for (int c = 0; c < shape.channelCount(); ++c) {
        try {
            const std::string name = shape.channel(c)->name();
            if (name == "position")
                found.position = c;
            else if (name == "velocity")
                found.velocity = c;
        } catch (const std::exception& e) {
            if (print) exportMessage(zt::cat("skipping channel(", c + 1, "): ", e.what()));
        }
    }
    return found;
}

const Vec3fChannel& vec3fChannel(const Cb::ParticleShape& shape, int index) {
    return *shape.channelAs<Vec3fChannel>(index);
}

bool isVec3f(const Cb::ParticleShape& shape, int index) {
    return index >= 0 && shape.channel(index)->typeCode() == Cb::kTypeVec3f;
}

// ---------------------------------------------------------------------------
// The counting walk: every exported block's particle count, from the tables,
// without printing anything and without inflating (only files before version
// 14 load each block to count it). It reads the bodies as stored; the export
// later takes copies of the same.

struct BodyCount {
    std::vector<int64_t> blocks;  // particles of each fine block
    int64_t total = 0;
};

struct Counting {
    std::vector<BodyCount> bodies;
    int64_t particles = 0;
    // Counting stopped at this body (bodies after it are not counted); the
    // export fails there at the latest.
    int stoppedAt = -1;
    Failure failure;
};

Counting countParticles(Cb::ZtpReader& reader) {
    Counting counting;
    const int bodies = reader.bodyCount();
    counting.bodies.resize(size_t(bodies));
    for (int i = 0; i < bodies; ++i) {
        BodyCount& count = counting.bodies[size_t(i)];
        Failure failure{kPositionType, 0, {}};
        try {
            const Cb::Body* body = reader.storedBody(i);
            if (!body || !body->hasShape("Particle")) continue;
            const Cb::ParticleShape& shape = *body->particleShape();
            const int position = findChannels(shape, false).position;
            if (!isVec3f(shape, position)) continue;
            const Vec3fChannel& channel = vec3fChannel(shape, position);
            const int64_t blocks = body->layout().fineCount();
            count.blocks.assign(size_t(blocks), 0);
            failure.stage = kPositionBlock;
            for (int64_t t = 0; t < blocks; ++t) {
                failure.block = t;
                const Source s = sourceOf(channel, t);
                count.blocks[size_t(t)] = s.kind == Source::Kind::Loaded ? loadedCount(s) : s.elements;
                count.total += count.blocks[size_t(t)];
            }
        } catch (const std::exception& e) {
            failure.message = e.what();
            counting.stoppedAt = i;
            counting.failure = failure;
            break;
        }
        counting.particles += count.total;
    }
    return counting;
}

// ---------------------------------------------------------------------------
// The output file's layout: the plugin's opening, the four lists with their
// opening and closing texts, the plugin's end. Every list's length is known,
// so every piece has its place.

struct Layout {
    std::string opening;  // up to the positions' first digit
    std::string afterPositions, afterVelocities, afterIds, closing;
    uint64_t positions = 0, velocities = 0, ids = 0, radii = 0, total = 0;

    Layout(const std::string& plugin, float frame, int64_t particles) {
        char key[64];
        std::snprintf(key, sizeof key, "%f", double(frame));
        const std::string k = key;
        const uint64_t n = uint64_t(particles);
        opening = "GeomParticleSystem " + plugin + " {\n  render_type=7;\n  positions=interpolate((" + k +
                  ", ListVectorHex(\"";
        afterPositions = kListEnd + "  velocities=interpolate((" + k + ", ListVectorHex(\"";
        afterVelocities = kListEnd + "  ids=interpolate((" + k + ", ListIntHex(\"";
        afterIds = kListEnd + "  radii=interpolate((" + k + ", ListFloatHex(\"";
        closing = kListEnd + "  primary_visibility=1;\n}\n\n";
        positions = opening.size();
        velocities = positions + kVectorText * n + afterPositions.size();
        ids = velocities + kVectorText * n + afterVelocities.size();
        radii = ids + kWordText * n + afterIds.size();
        total = radii + kWordText * n + closing.size();
    }

    // The message the list writer that owns the byte at `offset` printed
    // when its write failed: the plugin's opening line is flushed with the
    // positions; the closing lines have none.
    const char* failureAt(uint64_t offset) const {
        if (offset < velocities - afterPositions.size() + kListEnd.size()) return "Can't write vertices to file\n";
        if (offset < ids - afterVelocities.size() + kListEnd.size()) return "Can't write velocities to file\n";
        if (offset < radii - afterIds.size() + kListEnd.size()) return "Can't write ids to file\n";
        if (offset < total - closing.size() + kListEnd.size()) return "Can't write radii to file\n";
        return "";
    }
};

// ---------------------------------------------------------------------------
// A worker's reused buffers, and the text it gathers for one run of output.

// Grows, never shrinks, never initialises: every element is written before
// it is read.
template <class T>
class Buffer {
public:
    T* reserve(size_t n) {
        if (n > capacity_) {
            data_.reset(new T[n]);
            capacity_ = n;
        }
        return data_.get();
    }

private:
    std::unique_ptr<T[]> data_;
    size_t capacity_ = 0;
};

struct Worker {
    std::vector<uint8_t> scratch;  // stored bytes
    Buffer<zt::vec3f> values;      // one block's elements
    int64_t valueCount = 0;
    Buffer<zt::vec3f> staged;      // velocities being scaled
    Buffer<uint32_t> words;        // ids
    std::vector<char> text;
    uint64_t textAt = 0;  // output offset of text[0]
    size_t textUsed = 0;
};

class Exporter {
public:
    Exporter(Cb::ZtpReader& reader, const ExportRequest& request, OutputFile& out, const Layout& layout)
        : reader_(reader),
          out_(out),
          layout_(layout),
          scale_(1.0f / request.fps),
          radius_(request.radius),
          workers_(size_t(std::max(1, omp_get_max_threads()))) {}

    // One body's particles into the lists; false (with the failure) when the
    // walk fails inside it.
    std::optional<Failure> exportBody(const Cb::Body& body, const BodyCount& count, int64_t first,
                                      std::optional<Failure> known);
    void writeIdsAndRadii(int64_t particles);
    void writeTexts() {
        out_.write(0, layout_.opening.data(), layout_.opening.size());
        const uint64_t n = uint64_t(particles_);
        out_.write(layout_.positions + kVectorText * n, layout_.afterPositions.data(), layout_.afterPositions.size());
        out_.write(layout_.velocities + kVectorText * n, layout_.afterVelocities.data(),
                   layout_.afterVelocities.size());
        out_.write(layout_.ids + kWordText * n, layout_.afterIds.data(), layout_.afterIds.size());
        out_.write(layout_.radii + kWordText * n, layout_.closing.data(), layout_.closing.size());
    }
    void setParticles(int64_t n) { particles_ = n; }
    const BoundingBox& box() const { return box_; }

private:
    struct Task {
        bool velocities;
        size_t begin, end;  // blocks
    };
    struct BodyWork {
        const Vec3fChannel* positions = nullptr;
        const Vec3fChannel* velocities = nullptr;
        std::vector<Source> positionSources, velocitySources;
        std::vector<int64_t> counts, firsts;
        std::vector<BlockBounds> bounds;
    };

    Worker& worker() { return workers_[size_t(omp_get_thread_num()) % workers_.size()]; }
    const zt::block3_file& file(const std::string& name) {
        if (!file_) file_ = std::make_unique<zt::block3_file>(name);
        return *file_;
    }
    void checkFile(const std::vector<Source>& sources, const Vec3fChannel& channel, int stage, FirstFailure& first);
    void runTask(const Task& task, BodyWork& work);
    void positionBlock(Worker& w, BodyWork& work, size_t t);
    void velocityBlock(Worker& w, BodyWork& work, size_t t);
    // The source's elements into w.values (w.valueCount of them).
    const zt::vec3f* fetch(Worker& w, const Source& s);
    void emit(Worker& w, uint64_t at, const void* bytes, size_t n);
    void emitVelocities(Worker& w, uint64_t at, const zt::vec3f* from, int64_t present, int64_t count);
    void flush(Worker& w);

    Cb::ZtpReader& reader_;
    OutputFile& out_;
    const Layout& layout_;
    const float scale_;
    const float radius_;
    std::vector<Worker> workers_;
    std::unique_ptr<zt::block3_file> file_;
    BoundingBox box_;
    int64_t particles_ = 0;
};

void Exporter::checkFile(const std::vector<Source>& sources, const Vec3fChannel& channel, int stage,
                         FirstFailure& first) {
    const bool stored = std::any_of(sources.begin(), sources.end(),
                                    [](const Source& s) { return s.kind == Source::Kind::Stored; });
    if (!stored) return;
    try {
        file(channel.rawStorage().fileName()).checkRegion(channel.rawStorage());
    } catch (const std::exception& e) {
        first.offer({stage, 0, e.what()});
    }
}

std::optional<Failure> Exporter::exportBody(const Cb::Body& body, const BodyCount& count, int64_t first,
                                            std::optional<Failure> known) {
    const Cb::ParticleShape& shape = *body.particleShape();
    const Channels channels = findChannels(shape, true);
    if (channels.position < 0) {
        exportMessage("No position for this body, skipping");
        return known;
    }
    const int64_t blocks = body.layout().fineCount();
    if (blocks == 0 || !isVec3f(shape, channels.position)) return known;

    FirstFailure failures;
    if (known) failures.offer(*known);
    BodyWork work;
    try {
        work.positions = &vec3fChannel(shape, channels.position);
    } catch (const std::exception& e) {
        failures.offer({kPositionType, 0, e.what()});
        return failures.first();
    }
    if (isVec3f(shape, channels.velocity)) {
        try {
            work.velocities = &vec3fChannel(shape, channels.velocity);
        } catch (const std::exception& e) {
            failures.offer({kVelocityType, 0, e.what()});
        }
    }
    work.positionSources.resize(size_t(blocks));
    work.velocitySources.resize(size_t(blocks));
    work.counts.resize(size_t(blocks));
    work.firsts.resize(size_t(blocks));
    work.bounds.resize(size_t(blocks));
    for (int64_t t = 0; t < blocks; ++t) {
        const size_t k = size_t(t);
        work.positionSources[k] = sourceOf(*work.positions, t);
        if (work.velocities) work.velocitySources[k] = sourceOf(*work.velocities, t);
        const Source& s = work.positionSources[k];
        const int64_t counted = k < count.blocks.size() ? count.blocks[k] : 0;
        if (s.kind != Source::Kind::Loaded && s.elements != counted && !known)
            throw ztx::base(zt::cat("read_ztp(", reader_.fileName(), ") failed: the particle data have changed"));
        work.counts[k] = counted;
        work.firsts[k] = first;
        first += counted;
    }
    checkFile(work.positionSources, *work.positions, kPositionFile, failures);
    if (work.velocities) checkFile(work.velocitySources, *work.velocities, kVelocityFile, failures);

    // Runs of blocks of about kTaskParticles particles, positions then velocities.
    std::vector<Task> tasks;
    for (bool velocities : {false, true}) {
        size_t begin = 0;
        int64_t run = 0;
        for (size_t t = 0; t < size_t(blocks); ++t) {
            run += std::max<int64_t>(work.counts[t], 1);
            if (run >= kTaskParticles || t + 1 == size_t(blocks)) {
                tasks.push_back({velocities, begin, t + 1});
                begin = t + 1;
                run = 0;
            }
        }
    }
    const int64_t taskCount = int64_t(tasks.size());
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t i = 0; i < taskCount; ++i) {
        const Task& task = tasks[size_t(i)];
        const int stage = task.velocities ? kVelocityBlock : kPositionBlock;
        size_t t = task.begin;
        if (!failures.open(stage, int64_t(t))) continue;
        try {
            Worker& w = worker();
            for (; t < task.end; ++t) {
                if (task.velocities)
                    velocityBlock(w, work, t);
                else
                    positionBlock(w, work, t);
            }
            flush(w);
        } catch (const std::exception& e) {
            worker().textUsed = 0;
            failures.offer({stage, int64_t(t), e.what()});
        }
    }
    if (failures.first()) return failures.first();
    for (const BlockBounds& b : work.bounds) b.applyTo(box_);
    return std::nullopt;
}

const zt::vec3f* Exporter::fetch(Worker& w, const Source& s) {
    switch (s.kind) {
        case Source::Kind::None: w.valueCount = 0; break;
        case Source::Kind::Memory: w.valueCount = s.elements; return s.data;
        case Source::Kind::Stored:
            w.valueCount = s.elements;
            file_->readBlock(s.stored, sizeof(zt::vec3f), w.values.reserve(size_t(s.elements)), w.scratch);
            break;
        case Source::Kind::Loaded: {
            const auto* b = static_cast<const zt::block3<zt::vec3f>*>(s.array->block(s.block));
            w.valueCount = b ? b->count() : 0;
            if (b) std::copy_n(b->data(), b->count(), w.values.reserve(size_t(b->count())));
            s.array->releaseBlock(s.block);
            break;
        }
    }
    return w.values.reserve(0);
}

void Exporter::positionBlock(Worker& w, BodyWork& work, size_t t) {
    const Source& s = work.positionSources[t];
    const int64_t count = work.counts[t];
    BlockBounds& bounds = work.bounds[t];
    const uint64_t at = layout_.positions + kVectorText * uint64_t(work.firsts[t]);
    if (s.kind == Source::Kind::Stored && s.elements > kRunElements) {
        int64_t done = 0;
        file_->streamBlock(s.stored, sizeof(zt::vec3f), kRunElements, [&](const void* elements, int64_t n) {
            bounds.add(static_cast<const float*>(elements), n);
            emit(w, at + kVectorText * uint64_t(done), elements, size_t(n) * sizeof(zt::vec3f));
            done += n;
        });
        return;
    }
    const zt::vec3f* data = fetch(w, s);
    if (w.valueCount != count) throw ztx::base(zt::cat("Particle block ", t, " changed while it was read"));
    if (count == 0) return;  // a worker's buffer may not exist yet
    bounds.add(&data[0][0], count);
    emit(w, at, data, size_t(count) * sizeof(zt::vec3f));
}

void Exporter::velocityBlock(Worker& w, BodyWork& work, size_t t) {
    const Source& s = work.velocitySources[t];
    const int64_t count = work.counts[t];
    const uint64_t at = layout_.velocities + kVectorText * uint64_t(work.firsts[t]);
    if (s.kind == Source::Kind::Stored && s.elements > kRunElements) {
        // Every element is inflated (a damaged tail fails as a whole load
        // would), the first `count` written, zeros after them.
        int64_t done = 0;
        file_->streamBlock(s.stored, sizeof(zt::vec3f), kRunElements, [&](const void* elements, int64_t n) {
            const int64_t used = std::clamp<int64_t>(count - done, 0, n);
            if (used > 0)
                emitVelocities(w, at + kVectorText * uint64_t(done), static_cast<const zt::vec3f*>(elements), used,
                               used);
            done += n;
        });
        if (done < count) emitVelocities(w, at + kVectorText * uint64_t(done), nullptr, 0, count - done);
        return;
    }
    const zt::vec3f* data = fetch(w, s);
    emitVelocities(w, at, data, std::min(w.valueCount, count), count);
}

// `count` velocities from `at` on: the first `present` from `from`, zeros
// after; each component times the scale, zeros too (an infinite scale makes them NaN).
void Exporter::emitVelocities(Worker& w, uint64_t at, const zt::vec3f* from, int64_t present, int64_t count) {
    for (int64_t done = 0; done < count;) {
        const int64_t n = std::min(count - done, kRunElements);
        const int64_t given = std::clamp<int64_t>(present - done, 0, n);
        float* f = &w.staged.reserve(size_t(n))[0][0];
        const float* source = given > 0 ? &from[done][0] : nullptr;
        for (int64_t i = 0; i < 3 * given; ++i) f[i] = source[i] * scale_;
        for (int64_t i = 3 * given; i < 3 * n; ++i) f[i] = 0.0f * scale_;
        emit(w, at + kVectorText * uint64_t(done), f, size_t(n) * sizeof(zt::vec3f));
        done += n;
    }
}

void Exporter::emit(Worker& w, uint64_t at, const void* bytes, size_t n) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    if (w.text.size() < kTextBytes) w.text.resize(kTextBytes);
    while (n > 0) {
        if (w.textUsed > 0 && (w.textAt + w.textUsed != at || w.textUsed == w.text.size())) flush(w);
        if (w.textUsed == 0) w.textAt = at;
        const size_t take = std::min(n, (w.text.size() - w.textUsed) / 2 / 4 * 4);
        if (take == 0) {
            flush(w);
            continue;
        }
        hexBytesText(w.text.data() + w.textUsed, b, take);
        w.textUsed += 2 * take;
        at += 2 * take;
        b += take;
        n -= take;
    }
}

void Exporter::flush(Worker& w) {
    if (w.textUsed > 0) out_.write(w.textAt, w.text.data(), w.textUsed);
    w.textUsed = 0;
}

void Exporter::writeIdsAndRadii(int64_t particles) {
    const int64_t slices = (particles + kWordSlice - 1) / kWordSlice;
    char radiusWord[kWordText];
    uint32_t bits;
    std::memcpy(&bits, &radius_, 4);
    hexWordText(radiusWord, bits);
#pragma omp parallel for schedule(dynamic, 1)
    for (int64_t task = 0; task < 2 * slices; ++task) {
        Worker& w = worker();
        const int64_t slice = task / 2;
        const int64_t begin = slice * kWordSlice, end = std::min(particles, begin + kWordSlice);
        if (task % 2 == 0) {
            // Running numbers as 32-bit integers.
            uint32_t* words = w.words.reserve(size_t(end - begin));
            for (int64_t i = begin; i < end; ++i) words[i - begin] = uint32_t(i);
            emit(w, layout_.ids + kWordText * uint64_t(begin), words, size_t(end - begin) * 4);
        } else {
            w.text.resize(std::max(w.text.size(), size_t(kWordSlice) * kWordText));
            for (int64_t i = 0; i < end - begin; ++i) std::memcpy(&w.text[size_t(i) * kWordText], radiusWord, kWordText);
            w.textAt = layout_.radii + kWordText * uint64_t(begin);
            w.textUsed = size_t(end - begin) * kWordText;
        }
        flush(w);
    }
}

}  // namespace

StreamResult streamExport(Cb::ZtpReader& reader, const ExportRequest& request) {
    StreamResult result;
    const Counting counting = countParticles(reader);
    const Layout layout(request.pluginName, request.frame, counting.particles);
    OutputFile out(request.outputPath);
    out.reserve(layout.total);
    Exporter exporter(reader, request, out, layout);
    exporter.setParticles(counting.particles);

    int64_t first = 0;
    for (int i = 0; i < reader.bodyCount(); ++i) {
        std::unique_ptr<Cb::Body> body = reader.takeBody(i);
        std::optional<Failure> known;
        if (i == counting.stoppedAt) known = counting.failure;
        if (body && body->hasShape("Particle")) {
            const BodyCount& count = counting.bodies[size_t(i)];
            if (std::optional<Failure> failure = exporter.exportBody(*body, count, first, known)) {
                result.message = "Unhandled exception: " + failure->message + "\n";
                return result;
            }
            first += count.total;
        }
        if (i == counting.stoppedAt)  // counting failed here but the walk did not
            throw ztx::base(counting.failure.message);
    }
    exporter.writeIdsAndRadii(counting.particles);
    exporter.writeTexts();
    if (!out.ready()) {
        result.message = "Can't create output file!\n";
        return result;
    }
    if (!out.commit()) {
        result.message = out.firstFailure() >= 0 ? layout.failureAt(uint64_t(out.firstFailure()))
                                                 : "Can't create output file!\n";
        return result;
    }
    result.ok = true;
    result.particles = counting.particles;
    result.box = exporter.box();
    return result;
}
