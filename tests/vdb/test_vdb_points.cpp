// Particles as a PointDataGrid: one point per particle (coarse-tile blocks
// included unless --fine-only) with P, v, id and every other channel as an
// attribute of the channel's type, values exact; running ids for bodies
// without ids; particles no grid can place and channels out of step with
// the positions.
#include <openvdb/points/PointCount.h>
#include <openvdb/points/PointDataGrid.h>

#include <cmath>
#include <limits>
#include <map>

#include "ParticleBodies.h"
#include "VdbTestSupport.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"

using namespace vdbtest;
namespace points = openvdb::points;

namespace {

std::vector<zt::vec3f> scatter(int count, uint32_t seed) {
    std::vector<zt::vec3f> out;
    uint32_t s = seed;
    const auto next = [&s] {
        s = s * 1664525u + 1013904223u;
        return float(s >> 8) / float(1u << 24);
    };
    for (int i = 0; i < count; ++i) out.push_back({{next() * 40 - 20, next() * 40 - 20, next() * 40 - 20}});
    return out;
}

// Gives channel `name` of type T the value f(particle number) in block order.
template <class T, class F>
void setValues(Cb::ParticleShape& shape, const std::string& name, F f) {
    auto& blocks = shape.mutableChannelAs<Cb::ParticleChannel<T>>(name)->blocks();
    int64_t n = 0;
    for (int64_t g = 0; g < blocks.blockCount(); ++g)
        if (auto* block = blocks.typedBlock(g))
            for (int64_t e = 0; e < block->count(); ++e) (*block)[e] = f(n++);
}

// One particle of the ZTP file, as the library reads it.
struct Particle {
    zt::vec3f position{}, velocity{}, cell{};
    float density = 0, foam = 0, p = 0;
    int64_t id = 0;
    int flags = 0;
    int kind = 0;
};

template <class T>
std::vector<T> valuesOf(const Cb::ParticleShape& shape, const std::string& name, bool fineOnly = false) {
    const auto* channel = shape.channelAs<Cb::ParticleChannel<T>>(name);
    const auto& storage = channel->blocks();
    std::vector<T> out;
    const int64_t blocks = fineOnly ? storage.listCount(0) : storage.blockCount();
    for (int64_t g = 0; g < blocks; ++g)
        for (const T& v : channel->blockElements(g)) out.push_back(v);
    return out;
}

openvdb::Vec3f toVdb(const zt::vec3f& v) { return {v[0], v[1], v[2]}; }

struct PointVisit {
    openvdb::Vec3f position;  // world, rounded to float
    const points::PointDataTree::LeafNodeType* leaf;
    openvdb::Index index;
};

// f(point) for every point of the grid.
template <class F>
void forEachPoint(const points::PointDataGrid& grid, F f) {
    for (auto leaf = grid.tree().cbeginLeaf(); leaf; ++leaf) {
        points::AttributeHandle<openvdb::Vec3f> P(leaf->constAttributeArray("P"));
        for (auto index = leaf->beginIndexOn(); index; ++index) {
            const openvdb::Vec3d w = grid.transform().indexToWorld(index.getCoord().asVec3d() + P.get(*index));
            f(PointVisit{openvdb::Vec3f(float(w[0]), float(w[1]), float(w[2])), &*leaf, *index});
        }
    }
}

template <class T>
T attribute(const PointVisit& point, const std::string& name) {
    points::AttributeHandle<T> handle(point.leaf->constAttributeArray(name));
    return handle.get(point.index);
}

class VdbPoints : public VdbTest {};

}  // namespace

TEST_F(VdbPoints, EveryParticleBecomesAPointCarryingEachChannelExactly) {
    {
        Library library;
        auto body = testsupport::makeParticleBody({"Pool", scatter(3000, 7)});
        Cb::ParticleShape& shape = *body->mutableParticleShape();
        // One particle waits in a coarse tile's block.
        auto& blocks = shape.positions()->blocks();
        ASSERT_GT(blocks.listCount(1), 1);
        blocks.typedBlock(1, 1)->append({{-31.25f, 0.5f, 2.0f}});
        shape.syncChannels();
        shape.createChannel1i64("id64", 0);
        shape.createChannel1i8("kind", 0);
        shape.createChannel1i("flags", 0);
        shape.createChannel3i("cell", {{0, 0, 0}});
        shape.createChannel1f("foam-ratio", 0.0f);
        shape.createChannel1f("P", 0.0f);
        setValues<float>(shape, "density", [](int64_t n) { return float(n) * 0.25f - 100.0f; });
        setValues<int64_t>(shape, "id64", [](int64_t n) { return (int64_t(1) << 40) + 7 * n; });
        setValues<int8_t>(shape, "kind", [](int64_t n) { return int8_t(n % 256 - 128); });
        setValues<int>(shape, "flags", [](int64_t n) { return int(n * 1000003 % 2000000) - 1000000; });
        setValues<zt::vec3i>(shape, "cell", [](int64_t n) { return zt::vec3i{{int(n), -int(n), int(n % 7)}}; });
        setValues<float>(shape, "foam-ratio", [](int64_t n) { return 1.0f / float(n + 1); });
        setValues<float>(shape, "P", [](int64_t n) { return -float(n); });
        setValues<zt::vec3f>(shape, "velocity", [](int64_t n) { return testsupport::velocityOf(int(n)); });
        shape.setModifiedFlags(0);
        testsupport::writeBodies(ztp, {body.get()});
    }
    const ProgramRun run = runProgram({ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos, run.out.find("  Pool/points  points         3001 points\n")) << run.out;

    std::map<int64_t, Particle> byId;
    {
        const ZtpFile source(ztp);
        const auto& shape = *source.body("Pool").particleShape();
        const auto position = valuesOf<zt::vec3f>(shape, "position"), velocity = valuesOf<zt::vec3f>(shape, "velocity");
        const auto id = valuesOf<int64_t>(shape, "id64");
        const auto density = valuesOf<float>(shape, "density"), foam = valuesOf<float>(shape, "foam-ratio"),
                   p = valuesOf<float>(shape, "P");
        const auto flags = valuesOf<int>(shape, "flags");
        const auto kind = valuesOf<int8_t>(shape, "kind");
        const auto cell = valuesOf<zt::vec3i>(shape, "cell");
        ASSERT_EQ(3001u, position.size());
        for (size_t n = 0; n < position.size(); ++n) {
            Particle& q = byId[id[n]];
            q = {position[n], velocity[n], {{float(cell[n][0]), float(cell[n][1]), float(cell[n][2])}},
                 density[n],  foam[n],     p[n],
                 id[n],       flags[n],    kind[n]};
        }
        ASSERT_EQ(3001u, byId.size());
    }

    const VdbFile file(vdb);
    ASSERT_EQ(std::vector<std::string>{"Pool/points"}, file.names);
    const auto grid = file.get<points::PointDataGrid>("Pool/points");
    ASSERT_TRUE(grid);
    EXPECT_EQ(3001u, points::pointCount(grid->tree()));
    EXPECT_EQ(openvdb::Vec3d(1.0), grid->voxelSize());
    EXPECT_EQ(
        "P=position v=velocity density=density id=id64 kind=kind flags=flags cell=cell foam_ratio=foam-ratio "
        "P_2=P",
        grid->metaValue<std::string>("ztp_attributes"));
    EXPECT_EQ("Particle-Liquid", grid->metaValue<std::string>("ztp_body_type"));
    const auto& descriptor = grid->tree().cbeginLeaf()->attributeSet().descriptor();
    const std::map<std::string, std::string> types{{"P", "vec3s"},    {"v", "vec3s"},          {"density", "float"},
                                                   {"id", "int64"},   {"kind", "int8"},        {"flags", "int32"},
                                                   {"cell", "vec3i"}, {"foam_ratio", "float"}, {"P_2", "float"}};
    for (const auto& [name, type] : types) {
        const size_t pos = descriptor.find(name);
        ASSERT_NE(points::AttributeSet::INVALID_POS, pos) << name;
        EXPECT_EQ(type, descriptor.valueType(pos)) << name;
        EXPECT_EQ("null", descriptor.type(pos).second) << name;  // stored as given
    }
    std::set<int64_t> seen;
    forEachPoint(*grid, [&](const PointVisit& point) {
        const int64_t id = attribute<int64_t>(point, "id");
        ASSERT_TRUE(seen.insert(id).second) << id;
        const auto found = byId.find(id);
        ASSERT_NE(found, byId.end()) << id;
        const Particle& q = found->second;
        // Cell size 1 keeps the voxel offsets exact.
        EXPECT_EQ(toVdb(q.position), point.position) << id;
        EXPECT_EQ(toVdb(q.velocity), attribute<openvdb::Vec3f>(point, "v"));
        EXPECT_EQ(q.density, attribute<float>(point, "density"));
        EXPECT_EQ(q.kind, attribute<int8_t>(point, "kind"));
        EXPECT_EQ(q.flags, attribute<int32_t>(point, "flags"));
        EXPECT_EQ(openvdb::Vec3i(int(q.cell[0]), int(q.cell[1]), int(q.cell[2])),
                  attribute<openvdb::Vec3i>(point, "cell"));
        EXPECT_EQ(q.foam, attribute<float>(point, "foam_ratio"));
        EXPECT_EQ(q.p, attribute<float>(point, "P_2"));
    });
    EXPECT_EQ(3001u, seen.size());
}

TEST_F(VdbPoints, WithoutIdsPointsAreNumberedInBlockOrderAndSelectionsLeaveChannelsOut) {
    {
        Library library;
        auto body = testsupport::makeParticleBody({"Spray", scatter(500, 3), false});
        auto& blocks = body->mutableParticleShape()->positions()->blocks();
        blocks.typedBlock(1, 1)->append({{-31.25f, 0.5f, 2.0f}});
        body->mutableParticleShape()->syncChannels();
        auto empty = testsupport::makeParticleBody({"Empty", {}});
        testsupport::writeBodies(ztp, {body.get(), empty.get()});
    }
    std::vector<zt::vec3f> positions;
    {
        const ZtpFile source(ztp);
        positions = valuesOf<zt::vec3f>(*source.body("Spray").particleShape(), "position");
    }
    for (const bool fineOnly : {false, true}) {
        const ProgramRun run = fineOnly ? runProgram({"--fine-only", ztp, vdb}) : runProgram({ztp, vdb});
        ASSERT_EQ(0, run.code) << run.err;
        const VdbFile file(vdb);
        const auto none = file.get<points::PointDataGrid>("Empty/points");
        ASSERT_TRUE(none);
        EXPECT_EQ(0u, points::pointCount(none->tree()));
        const auto grid = file.get<points::PointDataGrid>("Spray/points");
        ASSERT_TRUE(grid);
        EXPECT_EQ("P=position density=density id=(number)", grid->metaValue<std::string>("ztp_attributes"));
        EXPECT_EQ(fineOnly ? 500u : 501u, points::pointCount(grid->tree()));
        int64_t count = 0;
        forEachPoint(*grid, [&](const PointVisit& point) {
            const int64_t n = attribute<int64_t>(point, "id");
            ASSERT_TRUE(n >= 0 && n < int64_t(positions.size()));
            EXPECT_EQ(toVdb(positions[size_t(n)]), point.position) << n;
            ++count;
        });
        EXPECT_EQ(fineOnly ? 500 : 501, count);
    }
    // Named channels only; the positions always.
    ProgramRun run = runProgram({"--channels", "density", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_EQ("P=position density=density",
              VdbFile(vdb).get<points::PointDataGrid>("Spray/points")->metaValue<std::string>("ztp_attributes"));
    run = runProgram({"--no-points", "--bodies", "Spray", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_TRUE(VdbFile(vdb).names.empty());
    EXPECT_EQ("ztp2vdb: wrote " + vdb + "\n  0 grids, 0 active voxels, 0 points\n", run.out);
}

TEST_F(VdbPoints, PositionsNoGridCanHoldFailTheConversionAndWriteNothing) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (const zt::vec3f bad : {zt::vec3f{{0.5f, nan, 0.5f}}, zt::vec3f{{0.5f, 0.5f, 3e9f}}}) {
        {
            Library library;
            auto body = testsupport::makeParticleBody({"Pool", {{{0.5f, 0.5f, 0.5f}}, {{1.5f, 0.5f, 0.5f}}}});
            body->mutableParticleShape()->positions()->blocks().typedBlock(0, 0)->append(bad);
            body->mutableParticleShape()->syncChannels();
            testsupport::writeBodies(ztp, {body.get()});
        }
        const ProgramRun run = runProgram({ztp, vdb});
        EXPECT_EQ(1, run.code);
        EXPECT_NE(std::string::npos, run.err.find("Unhandled exception: Particle 2 of body 'Pool' lies at (0.5, "))
            << run.err;
        EXPECT_NE(std::string::npos, run.err.find("): not a position a point grid can hold\n")) << run.err;
        EXPECT_EQ("", run.out);
        EXPECT_EQ(std::vector<std::string>{"in.ztp"}, folder());
    }
    // A channel out of step with the positions.
    {
        Library library;
        auto body = testsupport::makeParticleBody({"Pool", {{{0.5f, 0.5f, 0.5f}}, {{10.5f, 0.5f, 0.5f}}}});
        Cb::ParticleShape& shape = *body->mutableParticleShape();
        shape.mutableChannelAs<Cb::ParticleChannel<float>>("density")->blocks().typedBlock(0, 1)->resize(3);
        shape.setModifiedFlags(0);
        testsupport::writeBodies(ztp, {body.get()});
    }
    const ProgramRun run = runProgram({ztp, vdb});
    EXPECT_EQ(1, run.code);
    EXPECT_TRUE(run.err.ends_with("Unhandled exception: Particle channel 'density' of body 'Pool' holds 3 elements in "
                                  "block 1 where the positions hold 1\n"))
        << run.err;
    EXPECT_EQ(std::vector<std::string>{"in.ztp"}, folder());
}
