#include "PointGrids.h"

#include <openvdb/openvdb.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/tools/PointIndexGrid.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "FieldGrids.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace {

namespace points = openvdb::points;

// Voxel coordinates are 32-bit; leaves and their parents need room above
// and below a point's voxel.
constexpr double kMaxVoxelCoordinate = double(1 << 30);
// Point indices of a grid are 32-bit.
constexpr size_t kMaxPoints = 0xFFFFFFFFu;

template <class T>
struct VdbValue {
    using type = T;
    static T of(const T& v) { return v; }
};
template <>
struct VdbValue<zt::vec3f> {
    using type = openvdb::Vec3f;
    static type of(const zt::vec3f& v) { return {v[0], v[1], v[2]}; }
};
template <>
struct VdbValue<zt::vec3i> {
    using type = openvdb::Vec3i;
    static type of(const zt::vec3i& v) { return {v[0], v[1], v[2]}; }
};

// One channel's blocks in memory, in conversion order: particle n lies in
// the last non-empty block that starts at or before n.
template <class T>
class ParticleRun {
public:
    ParticleRun(const Cb::ParticleChannel<T>& channel, int64_t blocks) {
        channel.makeResident();
        counts_.reserve(size_t(blocks));
        for (int64_t g = 0; g < blocks; ++g) {
            const std::span<const T> elements = channel.blockElements(g);
            counts_.push_back(elements.size());
            if (elements.empty()) continue;
            starts_.push_back(total_);
            spans_.push_back(elements);
            total_ += elements.size();
        }
    }

    size_t size() const { return total_; }
    // Elements of each block, empty ones included.
    const std::vector<size_t>& counts() const { return counts_; }
    const std::vector<std::span<const T>>& spans() const { return spans_; }
    const T& operator[](size_t n) const {
        const size_t b = size_t(std::upper_bound(starts_.begin(), starts_.end(), n) - starts_.begin()) - 1;
        return spans_[b][n - starts_[b]];
    }

private:
    std::vector<size_t> counts_;
    std::vector<size_t> starts_;
    std::vector<std::span<const T>> spans_;
    size_t total_ = 0;
};

// What OpenVDB's point conversion reads positions and attributes from.
template <class T>
struct RunSource {
    using value_type = typename VdbValue<T>::type;
    using PosType = value_type;
    const ParticleRun<T>& run;
    size_t size() const { return run.size(); }
    void getPos(size_t n, value_type& v) const { v = VdbValue<T>::of(run[n]); }
    void get(value_type& v, size_t n) const { v = VdbValue<T>::of(run[n]); }
    void get(value_type& v, size_t n, openvdb::Index) const { v = VdbValue<T>::of(run[n]); }
};

struct RunningIds {
    using value_type = int64_t;
    size_t count;
    size_t size() const { return count; }
    void get(int64_t& v, size_t n) const { v = int64_t(n); }
    void get(int64_t& v, size_t n, openvdb::Index) const { v = int64_t(n); }
};

// f(channel) with the channel as its element type; false for no particle channel.
template <class F>
bool visitParticleChannel(const Cb::Channel& channel, F&& f) {
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<zt::vec3f>*>(&channel)) return f(*c), true;
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<float>*>(&channel)) return f(*c), true;
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<int64_t>*>(&channel)) return f(*c), true;
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<int>*>(&channel)) return f(*c), true;
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<int8_t>*>(&channel)) return f(*c), true;
    if (const auto* c = dynamic_cast<const Cb::ParticleChannel<zt::vec3i>*>(&channel)) return f(*c), true;
    return false;
}

void checkPositions(const ParticleRun<zt::vec3f>& positions, float cellSize, const GridOrigin& origin) {
    if (positions.size() > kMaxPoints)
        throw ztx::base(zt::cat("Body '", origin.body, "' holds ", positions.size(),
                                " particles; a point grid holds at most ", kMaxPoints));
    const double limit = kMaxVoxelCoordinate * double(cellSize);
    size_t n = 0;
    for (const std::span<const zt::vec3f>& block : positions.spans()) {
        for (const zt::vec3f& p : block) {
            for (int a = 0; a < 3; ++a) {
                if (!(std::fabs(double(p[a])) < limit))
                    throw ztx::base(zt::cat("Particle ", n, " of body '", origin.body, "' lies at (", p[0], ", ", p[1],
                                            ", ", p[2], "): not a position a point grid can hold"));
            }
            ++n;
        }
    }
}

// Fills attribute `name` of the grid from the channel, whose blocks must
// hold as many elements as the positions' blocks (`counts`).
template <class T>
void appendAttribute(points::PointDataGrid& grid, const openvdb::tools::PointIndexGrid& index, const std::string& name,
                     const Cb::ParticleChannel<T>& channel, int64_t blocks, const std::vector<size_t>& counts,
                     const GridOrigin& origin) {
    const ParticleRun<T> run(channel, blocks);
    if (run.counts() != counts) {
        const size_t g =
            size_t(std::mismatch(counts.begin(), counts.end(), run.counts().begin()).first - counts.begin());
        throw ztx::base(zt::cat("Particle channel '", channel.name(), "' of body '", origin.body, "' holds ",
                                run.counts()[g], " elements in block ", g, " where the positions hold ", counts[g]));
    }
    points::appendAttribute<typename VdbValue<T>::type, points::NullCodec>(grid.tree(), name);
    points::populateAttribute(grid.tree(), index.tree(), name, RunSource<T>{run}, 1, false);
}

// The shape's channel as a copy of its own, so that its data leave with it.
std::unique_ptr<Cb::Channel> ownCopy(const Cb::ParticleShape& shape, int i) {
    return std::unique_ptr<Cb::Channel>(shape.channel(i)->clone());
}

std::string uniqueName(const std::string& name, std::set<std::string>& used) {
    std::string unique = name;
    for (int k = 2; used.count(unique); ++k) unique = zt::cat(name, "_", k);
    used.insert(unique);
    return unique;
}

}  // namespace

std::string attributeName(const std::string& channel) {
    if (channel == "position") return "P";
    if (channel == "velocity") return "v";
    if (channel == "id64") return "id";
    std::string name = channel.empty() ? std::string("_") : channel;
    for (char& c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                        c == '|' || c == ':';
        if (!ok) c = '_';
    }
    return name;
}

PointGridResult particleGrid(const Cb::ParticleShape& shape, float cellSize, const GridOrigin& origin, bool fineOnly,
                             const std::function<bool(const std::string&)>& channelSelected) {
    const int positionIndex = shape.indexOf("position");
    if (positionIndex < 0 || !dynamic_cast<const Cb::ParticleChannel<zt::vec3f>*>(shape.channel(positionIndex).get())) {
        std::fprintf(stderr, "ztp2vdb: warning: body '%s' has no vec3f position channel: no points written\n",
                     origin.body.c_str());
        return {};
    }
    const openvdb::math::Transform::Ptr transform = voxelTransform(cellSize, openvdb::Vec3d(0.5 * double(cellSize)));

    std::vector<size_t> counts;
    size_t total = 0;
    int64_t blocks = 0;
    points::PointDataGrid::Ptr grid;
    openvdb::tools::PointIndexGrid::Ptr index;
    {
        const std::unique_ptr<Cb::Channel> copy = ownCopy(shape, positionIndex);
        const auto& channel = static_cast<const Cb::ParticleChannel<zt::vec3f>&>(*copy);
        const zt::block3_array_base& storage = channel.rawStorage();
        blocks = fineOnly ? storage.listCount(0) : storage.blockCount();
        const ParticleRun<zt::vec3f> positions(channel, blocks);
        checkPositions(positions, cellSize, origin);
        const RunSource<zt::vec3f> source{positions};
        index = openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(source, *transform);
        grid = points::createPointDataGrid<points::NullCodec, points::PointDataGrid>(*index, source, *transform);
        counts = positions.counts();
        total = positions.size();
    }
    releaseFreedMemory();

    std::set<std::string> used{"P"};
    std::string attributes = "P=position";
    bool hasIds = false;
    for (int i = 0; i < shape.channelCount(); ++i) {
        if (i == positionIndex) continue;
        const std::string channelName = shape.channel(i)->name();
        if (channelName == "id64") hasIds = true;
        if (!channelSelected(channelName)) continue;
        const std::string name = uniqueName(attributeName(channelName), used);
        bool known = false;
        {
            const std::unique_ptr<Cb::Channel> copy = ownCopy(shape, i);
            known = visitParticleChannel(*copy, [&](const auto& channel) {
                appendAttribute(*grid, *index, name, channel, blocks, counts, origin);
            });
        }
        releaseFreedMemory();
        if (!known) {
            used.erase(name);
            std::fprintf(stderr, "ztp2vdb: warning: channel '%s' of body '%s' is no particle channel: not written\n",
                         channelName.c_str(), origin.body.c_str());
            continue;
        }
        attributes += zt::cat(" ", name, "=", channelName);
    }
    if (!hasIds && channelSelected("id64")) {
        const std::string name = uniqueName("id", used);
        points::appendAttribute<int64_t, points::NullCodec>(grid->tree(), name);
        points::populateAttribute(grid->tree(), index->tree(), name, RunningIds{total}, 1, false);
        attributes += zt::cat(" ", name, "=(number)");
    }
    describeGrid(*grid, origin, "points", "");
    grid->insertMeta("ztp_attributes", openvdb::StringMetadata(attributes));
    return {grid, int64_t(total)};
}
