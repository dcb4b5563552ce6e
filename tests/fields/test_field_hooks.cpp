// The step hooks of field channels on real bodies: int resets, particle
// splatting (values worked out by hand), particle counting with regulation,
// the solid-distance rebuild from occluders, the fluid-distance rebuild, the
// body's typed field-shape access and one whole body step.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>

#include "FieldTestSupport.h"
#include "MessageOf.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldKernels.h"
#include "cb/fields/FieldShape.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "cb/model/Body.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"

using namespace Cb;
using testsupport::messageOf;

namespace {

const FrameTime kNow;

// A body with cell size 1, tile size 2, fine tiles (0,0,0) and (1,0,0).
std::unique_ptr<Body> bodyWithTiles(const std::string& name = "Tank") {
    auto body = std::make_unique<Body>(name);
    body->mutableLayout().reset(1.0f, 2);
    body->mutableLayout().addTile(0, 0, 0, false);
    body->mutableLayout().addTile(1, 0, 0, false);
    body->mutableLayout().updateNeighbours(true);
    return body;
}

int64_t voxel(const Body& body, int x, int y, int z) {
    return body.layout().indexAt({float(x) + 0.5f, float(y) + 0.5f, float(z) + 0.5f}, 0);
}

// Particles in the blocks of their tiles; every other channel at its default.
ParticleShape& addParticles(Body& body, const std::vector<zt::vec3f>& positions) {
    auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    shape->updateLayout(body.layout());
    auto& blocks = shape->positions()->blocks();
    for (const zt::vec3f& p : positions) {
        zt::vec3i v;
        body.layout().voxelAt(p, 0, v);
        const zt::tile3* t = body.layout().findTile(body.layout().tileOfVoxel(v));
        blocks.typedBlock(body.layout().blockIndex(*t))->append(p);
    }
    shape->syncChannels();
    return *shape;
}

// Sets a particle channel's values in particle order (block by block).
template <class T>
void setParticleValues(ParticleShape& shape, const std::string& name, const std::vector<T>& values) {
    auto& blocks = shape.mutableChannelAs<ParticleChannel<T>>(name)->blocks();
    size_t k = 0;
    for (int64_t g = 0; g < blocks.blockCount(); ++g) {
        auto* block = blocks.typedBlock(g);
        for (int64_t e = 0; block && e < block->count(); ++e) (*block)[e] = values.at(k++);
    }
}

void addNumber(Body& body, const std::string& name, const std::string& text) {
    ValueSection* section = body.hasSection("Test") ? body.section("Test") : body.addSection("Test");
    section->addValue(std::make_unique<Value1f>(name, std::array<std::string, 1>{text}));
}

FieldShape& fieldsOf(Body& body) {
    if (!body.hasShape("Field")) body.addShape(new FieldShape(false));
    return *body.mutableFieldShape();
}

template <class C>
C& fieldChannel(Body& body, const std::string& name) {
    return *body.mutableFieldShape()->mutableChannelAs<C>(name);
}

constexpr float kFloor = kSplatWeightFloor;

}  // namespace

TEST(IntResetHook, RequiresResetModeAndFillsTheLayoutWithTheBackground) {
    auto body = bodyWithTiles();
    FieldShape& fields = fieldsOf(*body);
    fields.createChannel1i("flags", 6);
    fields.createChannel1i64("ids", -2);
    auto& flags = fieldChannel<FieldChannel1i>(*body, "flags");
    auto& ids = fieldChannel<FieldChannel1i64>(*body, "ids");
    EXPECT_EQ("Int Field-Channel 'flags' requires 'Reset' Time-Step Update",
              messageOf([&] { flags.updateStep(kNow, *body); }));
    ids.setUpdateMode(kFieldUpdateParticleSplat);
    EXPECT_EQ("Int64 Field-Channel 'ids' requires 'Reset' Time-Step Update",
              messageOf([&] { ids.updateStep(kNow, *body); }));

    flags.setUpdateMode(kFieldUpdateReset);
    flags.updateLayout(body->layout());
    flags.field().fill(99);
    flags.updateStep(kNow, *body);
    ASSERT_EQ(16, flags.field().fineValues().count());
    ASSERT_EQ(body->layout().coarseCount(), flags.field().coarseValues().count());
    for (int v : flags.field().fineValues()) ASSERT_EQ(6, v);
    for (int v : flags.field().coarseValues()) ASSERT_EQ(6, v);
    ids.setUpdateMode(kFieldUpdateReset);
    ids.updateStep(kNow, *body);
    EXPECT_EQ(-2, ids.field().at(15));
}

TEST(SplatHook, NeedsAParticleChannelOfTheSameNameAndType) {
    const std::string refused = "Cannot particle-splat field-channel 'density': no matching particle-channel found in body";
    auto body = bodyWithTiles();
    fieldsOf(*body).createChannel1f("density", 0.0f);
    auto& density = fieldChannel<FieldChannel1f>(*body, "density");
    density.updateStep(kNow, *body);  // mode 0: nothing to do
    density.setUpdateMode(kFieldUpdateParticleSplat);
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, *body); }));  // no particle shape
    ParticleShape& particles = addParticles(*body, {{0.5f, 0.5f, 0.5f}});
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, *body); }));  // no such channel
    particles.createChannel1i("density", 1);
    EXPECT_EQ(refused, messageOf([&] { density.updateStep(kNow, *body); }));  // of another type
}

TEST(SplatHook, TwoParticlesWithAndWithoutDivisionAndTheDropletFilter) {
    auto body = bodyWithTiles();
    ParticleShape& particles = addParticles(*body, {{0.25f, 0.5f, 0.0f}, {0.75f, 0.5f, 0.0f}});
    particles.createChannel1f("density", 0.0f);
    setParticleValues<float>(particles, "density", {2.0f, 4.0f});
    fieldsOf(*body).createChannel1f("density", -1.0f);
    auto& density = fieldChannel<FieldChannel1f>(*body, "density");
    density.setUpdateMode(kFieldUpdateParticleSplat);

    // As in the kernel: fractions (0.25, 0.5, 0) and (0.75, 0.5, 0).
    const float w1 = 0.375f + kFloor, w2 = 0.125f + kFloor;  // at voxel (0,0,0)
    const int64_t v0 = voxel(*body, 0, 0, 0);
    density.updateStep(kNow, *body);
    EXPECT_FLOAT_EQ(-1.0f + w1 * 2 + w2 * 4, density.field().at(v0));  // added to the background
    EXPECT_EQ(-1.0f, density.field().at(voxel(*body, 2, 0, 0)));
    density.setFlag(kFieldFlagB, true);
    density.updateStep(kNow, *body);
    EXPECT_FLOAT_EQ((-1.0f + w1 * 2 + w2 * 4) / (w1 + w2), density.field().at(v0));

    // The second particle is a droplet above the body's threshold.
    particles.createChannel1f("droplet", 0.0f);
    setParticleValues<float>(particles, "droplet", {0.2f, 0.9f});
    addNumber(*body, "Droplet Threshold", "0.5");
    density.updateStep(kNow, *body);
    EXPECT_FLOAT_EQ((-1.0f + w1 * 2) / w1, density.field().at(v0));
}

TEST(SplatHook, ExtensionCarriesValuesIntoUnreachedVoxels) {
    auto body = bodyWithTiles();
    ParticleShape& particles = addParticles(*body, {{0.5f, 0.5f, 0.5f}});
    particles.createChannel3f("velocity", {0, 0, 0});
    setParticleValues<zt::vec3f>(particles, "velocity", {{1.0f, -2.0f, 8.0f}});
    fieldsOf(*body).createChannel3f("velocity", {0, 0, 0});
    auto& velocity = fieldChannel<FieldChannel3f>(*body, "velocity");
    velocity.setUpdateMode(kFieldUpdateParticleSplat);
    velocity.setFlag(kFieldFlagB, true);
    velocity.field(2).setSampleSet(1);  // a component on voxel centres
    velocity.updateStep(kNow, *body);
    // Corners (0..1)^3 are reached and hold the particle's value; x = 2 not.
    EXPECT_FLOAT_EQ(-2.0f, velocity.component(voxel(*body, 1, 1, 1), 1));
    EXPECT_EQ(0.0f, velocity.component(voxel(*body, 2, 0, 0), 0));
    // On voxel centres the particle sits on the centre of voxel (0,0,0): its
    // other corners get only the weight floor, which still reaches them.
    EXPECT_FLOAT_EQ(8.0f, velocity.component(voxel(*body, 0, 0, 0), 2));
    EXPECT_FLOAT_EQ(8.0f, velocity.component(voxel(*body, 1, 1, 1), 2));
    EXPECT_EQ(0.0f, velocity.component(voxel(*body, 2, 0, 0), 2));

    velocity.setFlag(kFieldFlagC, true);
    velocity.updateStep(kNow, *body);
    for (int x = 2; x < 4; ++x) {
        EXPECT_FLOAT_EQ(1.0f, velocity.component(voxel(*body, x, 1, 0), 0));
        EXPECT_FLOAT_EQ(-2.0f, velocity.component(voxel(*body, x, 0, 1), 1));
    }
    EXPECT_FLOAT_EQ(8.0f, velocity.component(voxel(*body, 3, 1, 1), 2));
}

TEST(ParticleCountHook, CountsOnceAfterPositionsMoveAndRegulatesToTheTarget) {
    auto body = bodyWithTiles();
    addParticles(*body,
                 {{0.5f, 0.5f, 0.5f}, {0.6f, 0.5f, 0.5f}, {0.7f, 0.5f, 0.5f}, {1.5f, 0.5f, 0.5f}, {3.9f, 1.9f, 1.9f}});
    fieldsOf(*body).createChannel1f("particle-count", 0.0f);
    auto& count = fieldChannel<FieldChannelParticleCount>(*body, "particle-count");
    count.updateStep(kNow, *body);
    EXPECT_EQ(defaultParticleCountTarget(), count.targetCount());
    EXPECT_EQ(3.0f, count.field().at(voxel(*body, 0, 0, 0)));
    EXPECT_EQ(1.0f, count.field().at(voxel(*body, 1, 0, 0)));
    EXPECT_EQ(1.0f, count.field().at(voxel(*body, 3, 1, 1)));
    EXPECT_EQ(0.0f, count.field().at(voxel(*body, 2, 0, 0)));
    // Positions unchanged on the same layout: the counts stand.
    count.field().at(voxel(*body, 2, 0, 0)) = 7.0f;
    count.rebuildStep(kNow, *body);
    EXPECT_EQ(7.0f, count.field().at(voxel(*body, 2, 0, 0)));

    // Surface supersampling 0.7: target 3 * 0.343 = 1.029, so a voxel keeps
    // two particles (counts 0 and 1 are at most the target) and loses the third.
    addNumber(*body, "Surface Supersampling", "0.7");
    body->addSection("Regulation")->addValue(std::make_unique<ValueToggle>("Particle Regulation", "On"));
    body->mutableParticleShape()->setModifiedFlags(kPositionModified);
    count.updateStep(kNow, *body);
    EXPECT_FLOAT_EQ(3.0f * 0.343f, count.targetCount());
    EXPECT_EQ(2.0f, count.field().at(voxel(*body, 0, 0, 0)));
    EXPECT_EQ(0.0f, count.field().at(voxel(*body, 2, 0, 0)));
    EXPECT_EQ(4, body->particleShape()->size());

    addNumber(*body, "Particle Supersampling", "1");
    count.updateStep(kNow, *body);
    EXPECT_EQ(3.0f, count.targetCount());
}

TEST(SolidDistanceHook, RebuildsFromOccludersWhenTheLayoutGrows) {
    auto body = bodyWithTiles();
    FieldShape& fields = fieldsOf(*body);
    fields.createChannel1f("solid-distance", 0.0f);
    fields.createChannel3f("solid-velocity", {0, 0, 0});
    auto& solid = fieldChannel<FieldChannelSolidDistance>(*body, "solid-distance");

    // The wall: distance x - 0.5 on its tile (0,0,0), velocity (0, 0, 4).
    Body wall("Wall");
    wall.mutableLayout().reset(1.0f, 2);
    wall.mutableLayout().addTile(0, 0, 0, true);
    FieldShape* wallFields = static_cast<FieldShape*>(wall.addShape(new FieldShape(false)));
    auto* distance = static_cast<FieldChannel1f*>(wallFields->createChannel1f("distance", 100000.0f));
    auto* wallVelocity = static_cast<FieldChannel3f*>(wallFields->createChannel3f("velocity", {0, 0, 4}));
    distance->updateLayout(wall.layout());
    wallVelocity->updateLayout(wall.layout());
    for (int64_t i = 0; i < 8; ++i) distance->field().at(i) = float(i % 2) - 0.5f;
    Body stranger("Stranger");  // no "Field.distance": contributes nothing
    solid.addOccluder(&stranger);
    solid.addOccluder(&wall);

    solid.rebuildStep(kNow, *body);
    EXPECT_EQ(2, solid.rebuiltFineTiles());
    EXPECT_EQ(-0.5f, solid.field().at(voxel(*body, 0, 1, 0)));
    EXPECT_EQ(0.5f, solid.field().at(voxel(*body, 1, 1, 1)));
    EXPECT_EQ(1, solid.companion().at(voxel(*body, 1, 1, 1)));
    EXPECT_EQ(100000.0f, solid.field().at(voxel(*body, 2, 0, 0)));
    EXPECT_EQ(-1, solid.companion().at(voxel(*body, 2, 0, 0)));
    auto& solidVelocity = fieldChannel<FieldChannel3f>(*body, "solid-velocity");
    EXPECT_EQ(4.0f, solidVelocity.component(voxel(*body, 1, 1, 1), 2));
    EXPECT_EQ(0.0f, solidVelocity.component(voxel(*body, 2, 0, 0), 2));

    // Same fine-tile count: nothing happens; updateStep rebuilds anyway.
    distance->field().fill(-3.0f);
    solid.rebuildStep(kNow, *body);
    EXPECT_EQ(0.5f, solid.field().at(voxel(*body, 1, 1, 1)));
    solid.updateStep(kNow, *body);
    EXPECT_EQ(-3.0f, solid.field().at(voxel(*body, 1, 1, 1)));
    EXPECT_EQ(100000.0f, solid.field().at(voxel(*body, 2, 0, 0)));
}

TEST(FluidDistanceHook, RebuildsFromParticlesAndRunsTheSolidFirst) {
    auto body = bodyWithTiles();
    FieldShape& fields = fieldsOf(*body);
    fields.createChannel1f("fluid-distance", 0.0f);
    fields.createChannel1f("solid-distance", 0.0f);
    auto& fluid = fieldChannel<FieldChannelFluidDistance>(*body, "fluid-distance");
    fluid.setUpdateMode(kFieldUpdateTransport);  // leaves the solid alone
    EXPECT_EQ("Cannot update fluid-distance with NULL particle-shape",
              messageOf([&] { fluid.updateStep(kNow, *body); }));

    ParticleShape& particles = addParticles(*body, {{1.0f, 1.0f, 1.0f}, {3.0f, 0.0f, 0.0f}});
    particles.createChannel1f("droplet", 0.0f);
    setParticleValues<float>(particles, "droplet", {0.0f, 3.0f});
    addNumber(*body, "Droplet Threshold", "2");
    addNumber(*body, "Fluid Merge Factor", "2");  // radius 1, reach 2
    fluid.updateFromBody(kNow, *body);
    EXPECT_EQ(2.0f, fluid.dropletThreshold());

    fluid.updateStep(kNow, *body);
    EXPECT_EQ(-1, fieldChannel<FieldChannelSolidDistance>(*body, "solid-distance").rebuiltFineTiles());
    EXPECT_FLOAT_EQ(-1.0f, fluid.field().at(voxel(*body, 1, 1, 1)));
    EXPECT_FLOAT_EQ(0.0f, fluid.field().at(voxel(*body, 2, 1, 1)));
    EXPECT_FLOAT_EQ(std::sqrt(3.0f) - 1.0f, fluid.field().at(voxel(*body, 0, 0, 0)));
    EXPECT_FLOAT_EQ(1.0f, fluid.field().at(voxel(*body, 3, 1, 1)));  // sqrt(4) - 1
    // (3, 0, 0) is the droplet's own voxel, but droplets do not count, and
    // the fluid particle lies beyond the reach (sqrt 6).
    EXPECT_EQ(100000.0f, fluid.field().at(voxel(*body, 3, 0, 0)));

    fluid.setUpdateMode(kFieldUpdateKeep);
    fluid.updateStep(kNow, *body);
    EXPECT_EQ(2, fieldChannel<FieldChannelSolidDistance>(*body, "solid-distance").rebuiltFineTiles());
}

TEST(BodyFieldShape, TypedAccessRefusesMissingAndForeignShapes) {
    auto body = bodyWithTiles("B");
    EXPECT_EQ("Cannot find shape 'Field' in Body B", messageOf([&] { body->fieldShape(); }));
    EXPECT_EQ("Cannot find shape 'Field' in Body B", messageOf([&] { body->mutableFieldShape(); }));
    struct PointsNamedField : PointShape {
        PointsNamedField() : PointShape(false) { name_ = "Field"; }
    };
    body->addShape(new PointsNamedField);
    const std::string bad = "Cannot access const shape 'Field' in Body 'B': bad shape type";
    EXPECT_EQ(bad, messageOf([&] { body->fieldShape(); }));
    EXPECT_EQ(bad, messageOf([&] { body->mutableFieldShape(); }));
    body->eraseShape("Field");
    body->addShape(new FieldShape(false));
    std::unique_ptr<Body> copy(body->copy());
    const FieldShape* shared = copy->fieldShape();
    EXPECT_EQ(body->fieldShape(), shared);
    EXPECT_NE(shared, copy->mutableFieldShape());  // detached for writing
}

TEST(BodyStep, SplatsAndCountsThroughTheFieldShape) {
    auto body = bodyWithTiles();
    ParticleShape& particles = addParticles(*body, {{0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f}});
    particles.createChannel1f("droplet", 0.0f);
    particles.createChannel1f("heat", 0.0f);
    setParticleValues<float>(particles, "heat", {3.0f, 5.0f});
    particles.setModifiedFlags(kPositionModified);
    FieldShape& fields = fieldsOf(*body);
    auto* heat = static_cast<FieldChannel1f*>(fields.createChannel1f("heat", 0.0f));
    heat->setUpdateMode(kFieldUpdateParticleSplat);
    heat->setFlag(kFieldFlagB, true);
    fields.createChannel1f("particle-count", 0.0f);
    const double params[5] = {1, 1, 0.04, 0.04, 0.04};
    body->step(params);
    const auto* f = body->fieldShape();
    EXPECT_FLOAT_EQ(4.0f, f->channel("heat")->component(voxel(*body, 1, 1, 1), 0));
    EXPECT_EQ(2.0f, f->channel("particle-count")->component(voxel(*body, 0, 0, 0), 0));
}
