// The step hooks of field channels on real bodies: int resets, particle
// splatting (values worked out by hand), particle counting with regulation,
// the solid-distance rebuild from occluders and the fluid-distance rebuild.
#include <array>
#include <cmath>

#include "FieldTestSupport.h"
#include "ScopedThreads.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldKernels.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleShape.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"

using namespace Cb;
using namespace fieldtest;

namespace {

const FrameTime kNow;
constexpr float kFloor = kSplatWeightFloor;

// A body with cell size 1, tile size 2, fine tiles (0,0,0) and (1,0,0) and a field shape.
struct Tank : ::testing::Test {
    Body body{"Tank"};
    Tank() {
        body.setLayout(twoTileLayout(2).release());
        body.addShape(new FieldShape(false));
    }
    int64_t at(int x, int y, int z) const { return voxel(body.layout(), x, y, z); }
    FieldShape& fields() { return *body.mutableFieldShape(); }

    // Particles in the blocks of their tiles: (0,0,0) below x = 2, else (1,0,0).
    ParticleShape& addParticles(const std::vector<zt::vec3f>& positions) {
        auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
        shape->updateLayout(body.layout());
        for (const zt::vec3f& p : positions) shape->positions()->blocks().typedBlock(p[0] < 2.0f ? 0 : 1)->append(p);
        shape->syncChannels();
        return *shape;
    }

    // A new float particle channel with its values in particle order.
    void addParticleValues(const std::string& name, const std::vector<float>& values) {
        auto* channel = static_cast<ParticleChannel<float>*>(body.mutableParticleShape()->createChannel1f(name, 0));
        size_t k = 0;
        for (int64_t g = 0; g < 2; ++g)
            for (float& value : channel->blocks().typedBlock(g)->elements()) value = values.at(k++);
    }

    void addNumber(const std::string& name, const std::string& text) {
        ValueSection* section = body.hasSection("Test") ? body.section("Test") : body.addSection("Test");
        section->addValue(std::make_unique<Value1f>(name, std::array<std::string, 1>{text}));
    }
};

}  // namespace

TEST_F(Tank, IntResetRequiresResetModeAndFillsTheLayoutWithTheBackground) {
    auto& flags = static_cast<FieldChannel1i&>(*fields().createChannel1i("flags", 6));
    auto& ids = static_cast<FieldChannel1i64&>(*fields().createChannel1i64("ids", -2));
    EXPECT_EQ("Int Field-Channel 'flags' requires 'Reset' Time-Step Update",
              messageOf([&] { flags.updateStep(kNow, body); }));
    ids.setUpdateMode(kFieldUpdateParticleSplat);
    EXPECT_EQ("Int64 Field-Channel 'ids' requires 'Reset' Time-Step Update",
              messageOf([&] { ids.updateStep(kNow, body); }));
    flags.setUpdateMode(kFieldUpdateReset);
    flags.updateLayout(body.layout());
    flags.field().fill(99);
    flags.updateStep(kNow, body);
    ASSERT_EQ(body.layout().coarseCount(), flags.field().coarseValues().count());
    for (int v : flags.field().fineValues()) ASSERT_EQ(6, v);
    for (int v : flags.field().coarseValues()) ASSERT_EQ(6, v);
}

TEST_F(Tank, SplatNeedsAParticleChannelOfTheSameTypeThenDividesAndSkipsDroplets) {
    const std::string refused = "Cannot particle-splat field-channel 'density': no matching particle-channel found in body";
    auto& density = static_cast<FieldChannel1f&>(*fields().createChannel1f("density", -1.0f));
    density.updateStep(kNow, body);  // mode 0: nothing to do
    density.setUpdateMode(kFieldUpdateParticleSplat);
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, body); }));  // no particle shape
    ParticleShape& particles = addParticles({{0.25f, 0.5f, 0.0f}, {0.75f, 0.5f, 0.0f}, {3.5f, 0.0f, 0.0f}});
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, body); }));  // no such channel
    particles.createChannel1i("density", 1);
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, body); }));  // of another type
    particles.removeChannel("density");
    addParticleValues("density", {2.0f, 4.0f, 8.0f});

    // Fractions (0.25, 0.5, 0) and (0.75, 0.5, 0): at voxel (0,0,0) the trilinear
    // weights are 0.75 * 0.5 and 0.25 * 0.5, each plus the weight floor.
    const float w1 = 0.375f + kFloor, w2 = 0.125f + kFloor;
    density.updateStep(kNow, body);
    EXPECT_FLOAT_EQ(-1.0f + w1 * 2 + w2 * 4, density.field().at(at(0, 0, 0)));  // added to the background
    // The third particle's four corners at x = 4 lie in one coarse tile and share its slot.
    EXPECT_FLOAT_EQ(-1.0f + (0.5f + 4 * kFloor) * 8, density.field().at(at(4, 0, 0)));
    // Dividing gives the weighted mean, without the background: a voxel that
    // only the weight floor reaches (z = 1) holds the mean too, not about 1e6
    // times the background.
    density.setFlag(kFieldFlagB, true);
    density.updateStep(kNow, body);
    EXPECT_FLOAT_EQ((w1 * 2 + w2 * 4) / (w1 + w2), density.field().at(at(0, 0, 0)));
    EXPECT_FLOAT_EQ(3.0f, density.field().at(at(0, 0, 1)));
    EXPECT_FLOAT_EQ(8.0f, density.field().at(at(4, 0, 0)));
    EXPECT_EQ(-1.0f, density.field().at(at(2, 0, 0)));
    // The second particle is a droplet above the body's threshold.
    addParticleValues("droplet", {0.2f, 0.9f, 0.0f});
    addNumber("Droplet Threshold", "0.5");
    density.updateStep(kNow, body);
    EXPECT_FLOAT_EQ(2.0f, density.field().at(at(0, 0, 0)));
}

TEST_F(Tank, VectorSplatFeedsEachComponentFieldFromItsOwnComponent) {
    auto& flow = static_cast<FieldChannel3f&>(*fields().createChannel3f("flow", {-1.0f, -2.0f, -3.0f}));
    flow.setUpdateMode(kFieldUpdateParticleSplat);
    flow.setFlag(kFieldFlagB, true);
    ParticleShape& particles = addParticles({{1.0f, 1.0f, 1.0f}});
    auto* source = static_cast<ParticleChannel<zt::vec3f>*>(particles.createChannel3f("flow", {0, 0, 0}));
    source->blocks().typedBlock(0)->elements()[0] = {10.0f, 20.0f, 30.0f};
    flow.updateStep(kNow, body);
    // One particle: every voxel it reaches holds its own component, the rest keep the background's.
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        int reached = 0;
        for (float v : flow.field(c).fineValues()) {
            reached += v == 10.0f * float(c + 1);
            EXPECT_TRUE(v == 10.0f * float(c + 1) || v == -float(c + 1)) << v;
        }
        EXPECT_GT(reached, 0);
    }
}

TEST_F(Tank, ParticleCountCountsOnceAfterPositionsMoveAndRegulatesToTheTarget) {
    addParticles({{0.5f, 0.5f, 0.5f}, {0.6f, 0.5f, 0.5f}, {0.7f, 0.5f, 0.5f}, {1.5f, 0.5f, 0.5f}, {3.9f, 1.9f, 1.9f}});
    auto& count = static_cast<FieldChannelParticleCount&>(*fields().createChannel1f("particle-count", 0.0f));
    count.updateStep(kNow, body);
    EXPECT_EQ(3.0f, count.field().at(at(0, 0, 0)));
    // Positions unchanged on the same layout: the counts stand.
    count.field().at(at(2, 0, 0)) = 7.0f;
    count.rebuildStep(kNow, body);
    EXPECT_EQ(7.0f, count.field().at(at(2, 0, 0)));
    // Surface supersampling 0.7: target 3 * 0.343 = 1.029, so a voxel keeps
    // two particles (counts 0 and 1 are at most the target) and loses the third.
    addNumber("Surface Supersampling", "0.7");
    body.addSection("Regulation")->addValue(std::make_unique<ValueToggle>("Particle Regulation", "On"));
    body.mutableParticleShape()->setModifiedFlags(kPositionModified);
    count.updateStep(kNow, body);
    EXPECT_EQ(2.0f, count.field().at(at(0, 0, 0)));
    EXPECT_EQ(0.0f, count.field().at(at(2, 0, 0)));
    EXPECT_EQ(4, body.particleShape()->size());
    addNumber("Particle Supersampling", "1");
    count.updateStep(kNow, body);
    EXPECT_EQ(3.0f, count.targetCount());
}

// Which particles regulation keeps in a crowded voxel depends on the order
// the blocks are counted in: the team follows the library thread count (1
// here), not the machine.
TEST(ParticleCountHook, RegulationKeepsTheSameParticlesOnAnyTeam) {
    constexpr int kBlocks = 64, kPerBlock = 200, kOwn = 40000;
    std::vector<int64_t> first;
    // Several tries: a team whose other workers wake late may leave all
    // blocks to one of them.
    for (int team : {1, 2, 4, 2, 4, 2, 4, 2, 4}) {
        SCOPED_TRACE(::testing::Message() << "team " << team);
        testsupport::ScopedThreads scope(team);
        Body body("Crowd");
        auto layout = std::make_unique<zt::tile_layout3>(1.0f, 2);
        for (int i = 0; i < kBlocks; ++i) layout->addTile(i, 0, 0, false);
        layout->updateNeighbours(true);
        body.setLayout(layout.release());
        auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
        shape->updateLayout(body.layout());
        // Every block's particles crowd into voxel (0,0,0), as particles do
        // that moved since their blocks were made; the first block's one
        // comes last, after many of its own in voxel (1,1,1).
        auto& blocks = shape->positions()->blocks();
        blocks.typedBlock(0)->append({0.5f, 0.5f, 0.5f});
        for (int k = 0; k < kOwn; ++k) blocks.typedBlock(0)->append({1.5f, 1.5f, 1.5f});
        for (int g = 1; g < kBlocks; ++g)
            for (int k = 0; k < kPerBlock; ++k) blocks.typedBlock(g)->append({0.5f, 0.5f, 0.5f});
        shape->syncChannels();
        shape->setModifiedFlags(kPositionModified);
        ValueSection* regulation = body.addSection("Regulation");
        regulation->addValue(std::make_unique<ValueToggle>("Particle Regulation", "On"));
        // Target 3 * 0.343: a voxel keeps two particles.
        regulation->addValue(std::make_unique<Value1f>("Surface Supersampling", std::array<std::string, 1>{"0.7"}));
        auto* field = static_cast<FieldShape*>(body.addShape(new FieldShape(false)));
        static_cast<FieldChannelParticleCount&>(*field->createChannel1f("particle-count", 0.0f)).updateStep(kNow, body);
        std::vector<int64_t> kept;
        for (int g = 0; g < kBlocks; ++g) kept.push_back(blocks.typedBlock(g)->count());
        if (first.empty()) first = kept;
        EXPECT_EQ(first, kept);
    }
}

TEST_F(Tank, SolidDistanceRebuildsFromTheNearestOccluderWhenTheLayoutGrows) {
    auto& solid = static_cast<FieldChannelSolidDistance&>(*fields().createChannel1f("solid-distance", 0.0f));
    auto& solidVelocity = static_cast<FieldChannel3f&>(*fields().createChannel3f("solid-velocity", {0, 0, 0}));
    // On tile (0,0,0): the wall at distance x - 0.5 moving at (0, 0, 4), the
    // floor at distance 0 at rest; a stranger without "Field.distance".
    Body wall("Wall"), floor("Floor"), stranger("Stranger");
    for (Body* occluder : {&wall, &floor}) {
        occluder->mutableLayout().reset(1.0f, 2);
        occluder->mutableLayout().addTile(0, 0, 0, true);
        auto* shape = static_cast<FieldShape*>(occluder->addShape(new FieldShape(false)));
        auto* distance = static_cast<FieldChannel1f*>(shape->createChannel1f("distance", 100000.0f));
        distance->updateLayout(occluder->layout());
        for (int64_t i = 0; i < 8; ++i) distance->field().at(i) = occluder == &wall ? float(i % 2) - 0.5f : 0.0f;
    }
    wall.mutableFieldShape()->createChannel3f("velocity", {0, 0, 4})->updateLayout(wall.layout());
    for (Body* occluder : {&stranger, &wall, &floor}) solid.addOccluder(occluder);

    solid.rebuildStep(kNow, body);
    EXPECT_EQ(2, solid.rebuiltFineTiles());
    EXPECT_EQ(-0.5f, solid.field().at(at(0, 1, 0)));  // the wall is nearer
    EXPECT_EQ(1, solid.companion().at(at(0, 1, 0)));  // the occluder's list index
    EXPECT_EQ(4.0f, solidVelocity.component(at(0, 1, 0), 2));
    EXPECT_EQ(0.0f, solid.field().at(at(1, 1, 1)));  // the floor is nearer
    EXPECT_EQ(2, solid.companion().at(at(1, 1, 1)));
    EXPECT_EQ(0.0f, solidVelocity.component(at(1, 1, 1), 2));
    EXPECT_EQ(100000.0f, solid.field().at(at(2, 0, 0)));  // no occluder there
    EXPECT_EQ(-1, solid.companion().at(at(2, 0, 0)));
    // Same fine-tile count: nothing happens; updateStep rebuilds anyway.
    wall.mutableFieldShape()->mutableChannelAs<FieldChannel1f>("distance")->field().fill(-3.0f);
    solid.rebuildStep(kNow, body);
    EXPECT_EQ(0.0f, solid.field().at(at(1, 1, 1)));
    solid.updateStep(kNow, body);
    EXPECT_EQ(-3.0f, solid.field().at(at(1, 1, 1)));
    EXPECT_EQ(1, solid.companion().at(at(1, 1, 1)));
    // Occluders are listed once; removing one moves the last into its place.
    solid.addOccluder(&wall);
    solid.removeOccluder(&stranger);
    EXPECT_EQ((std::vector<const Object*>{&floor, &wall}), solid.occluders());
}

TEST_F(Tank, FluidDistanceRebuildsFromParticlesAndRunsTheSolidFirst) {
    auto& fluid = static_cast<FieldChannelFluidDistance&>(*fields().createChannel1f("fluid-distance", 0.0f));
    const auto& solid = static_cast<FieldChannelSolidDistance&>(*fields().createChannel1f("solid-distance", 0.0f));
    fluid.setUpdateMode(kFieldUpdateTransport);  // leaves the solid alone
    EXPECT_EQ("Cannot update fluid-distance with NULL particle-shape", messageOf([&] { fluid.updateStep(kNow, body); }));
    addParticles({{1.0f, 1.0f, 1.0f}, {3.0f, 0.0f, 0.0f}});
    addParticleValues("droplet", {0.0f, 3.0f});
    addNumber("Droplet Threshold", "2");
    addNumber("Fluid Merge Factor", "2");  // radius 1, reach 2
    fluid.updateFromBody(kNow, body);
    fluid.updateStep(kNow, body);
    EXPECT_EQ(-1, solid.rebuiltFineTiles());
    EXPECT_FLOAT_EQ(-1.0f, fluid.field().at(at(1, 1, 1)));
    EXPECT_FLOAT_EQ(std::sqrt(3.0f) - 1.0f, fluid.field().at(at(0, 0, 0)));
    EXPECT_FLOAT_EQ(1.0f, fluid.field().at(at(3, 1, 1)));  // sqrt(4) - 1
    // (3, 0, 0) is the droplet's own voxel, but droplets do not count, and
    // the fluid particle lies beyond the reach (sqrt 6).
    EXPECT_EQ(100000.0f, fluid.field().at(at(3, 0, 0)));
    fluid.setUpdateMode(kFieldUpdateKeep);
    fluid.updateStep(kNow, body);
    EXPECT_EQ(2, solid.rebuiltFineTiles());
}
