// Bodies: cloning and "Motion Type", shapes and their messages, copies sharing
// shapes, transforms, signatures, the body record and its selection.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "TempPath.h"
#include "cb/Log.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/qel/QelContext.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueTypes.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using testsupport::ByteBuilder;

namespace {

class Bodies : public ::testing::Test {
protected:
    void SetUp() override {
        QelContext::createGlobal();
        registerValueTypes();
        registerChannelTypes();
    }
    void TearDown() override {
        releaseChannelTypes();
        releaseValueTypes();
        QelContext::destroyGlobal();
    }
};

// An edge shape filed under the kind name "Point".
struct EdgeUnderPointName : EdgeShape {
    EdgeUnderPointName() : EdgeShape(true) { name_ = "Point"; }
};

std::string message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

void addMotionType(Body& body, const std::string& selected) {
    EnumGroup* group = body.addEnumGroup(std::make_unique<EnumGroup>(
        "MotionTypeEnum", std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}));
    body.addSection("Motion")->addValue(std::make_unique<Value1e>("Motion Type", group, selected));
}

// A particle body whose one fine tile (0, 0, 0) holds the given positions,
// with velocities (1, 0, 0).
ParticleShape* addParticles(Body& body, const std::vector<zt::vec3f>& positions) {
    auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    shape->createChannel3f("velocity", {{0, 0, 0}});
    zt::tile_layout3& layout = body.mutableLayout();
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);
    shape->updateLayout(layout);
    auto* block = shape->positions()->blocks().typedBlock(0, 0);
    for (const auto& p : positions) block->append(p);
    shape->syncChannels();
    auto* velocities = shape->mutableChannelAs<ParticleChannel<zt::vec3f>>("velocity");
    auto* v = velocities->blocks().typedBlock(0, 0);
    for (int64_t e = 0; e < v->count(); ++e) (*v)[e] = {{1, 0, 0}};
    shape->setModifiedFlags(0);
    return shape;
}

std::vector<zt::vec3f> allPositions(const Body& body) {
    std::vector<zt::vec3f> out;
    auto& blocks = const_cast<ParticleShape*>(body.particleShape())->positions()->blocks();
    for (int64_t g = 0; g < blocks.blockCount(); ++g)
        if (auto* b = blocks.typedBlock(g))
            for (int64_t e = 0; e < b->count(); ++e) out.push_back((*b)[e]);
    return out;
}

}  // namespace

TEST_F(Bodies, CloningFollowsMotionType) {
    Body dynamic("Water");
    addMotionType(dynamic, "Dynamic");
    EXPECT_TRUE(dynamic.isEvolving());
    EXPECT_EQ("Attempting to clone evolving body 'Water'", message([&] { delete dynamic.clone(); }));
    std::unique_ptr<Body> unsolved(dynamic.cloneUnsolved());
    EXPECT_EQ("Unsolved", unsolved->value("Motion Type")->expression(0));
    EXPECT_FALSE(unsolved->isEvolving());
    EXPECT_EQ("Dynamic", dynamic.value("Motion Type")->expression(0));
    std::unique_ptr<Body> again(unsolved->clone());
    EXPECT_EQ("Water", again->name());
}

TEST_F(Bodies, BodyWithoutMotionTypeIsNotEvolvingAndStaysWithoutIt) {
    Body plain("Rock");
    EXPECT_FALSE(plain.isEvolving());
    std::unique_ptr<Body> copy(plain.cloneUnsolved());
    EXPECT_FALSE(copy->hasValue("Motion Type"));
    std::unique_ptr<Body> clone(plain.clone());
    EXPECT_EQ("Rock", clone->name());
}

TEST_F(Bodies, ShapeAccessAndItsMessages) {
    Body body("B");
    EXPECT_EQ("Cannot find shape 'Particle' in Body B", message([&] { body.shape("Particle"); }));
    body.addShape(new ParticleShape(true));
    EXPECT_EQ("Cannot create shape 'Particle' in Body B: shape already exists",
              message([&] { body.addShape(new ParticleShape(false)); }));
    body.addShape(new PointShape(true));
    EXPECT_TRUE(body.hasPoints());
    EXPECT_NE(nullptr, body.particleShape());
    // A kind stored under another class's name.
    Body odd("Odd");
    odd.addShape(new EdgeUnderPointName);
    EXPECT_EQ("Cannot access const shape 'Point' in Body 'Odd': bad shape type", message([&] { odd.pointShape(); }));
    EXPECT_EQ("Cannot access const shape 'Point' in Body 'Odd': bad shape type",
              message([&] { odd.mutablePointShape(); }));
    EXPECT_TRUE(body.hasChannels("Particle.position"));
    EXPECT_FALSE(body.hasChannels("Particle.position Particle.velocity"));
    EXPECT_FALSE(body.hasChannels("Field.distance"));
    EXPECT_NE(nullptr, body.channel("Particle.position"));
    EXPECT_EQ(nullptr, body.channel("Particle.velocity"));
    EXPECT_EQ("Cannot find shape 'Field' in Body B", message([&] { body.channel("Field.distance"); }));
    {
        std::string saved = Cb::verbosity;
        Cb::verbosity = "VERBOSE";
        testsupport::CaptureStderr err;
        body.eraseShape("Point");
        EXPECT_EQ("Corix: Erasing shape 'Point'\n", err.finish());
        Cb::verbosity = saved;
    }
    EXPECT_FALSE(body.hasShape("Point"));
}

TEST_F(Bodies, CopiesShareShapesUntilOneSideWrites) {
    Body original("B");
    addParticles(original, {{{1, 2, 3}}});
    std::unique_ptr<Body> copy(original.copy());
    EXPECT_EQ(original.shape("Particle").get(), copy->shape("Particle").get());
    EXPECT_EQ(&original.layout(), &copy->layout());
    auto* shape = copy->mutableParticleShape();
    EXPECT_NE(original.shape("Particle").get(), copy->shape("Particle").get());
    auto* pos = shape->mutableChannelAs<ParticleChannel<zt::vec3f>>("position");
    (*pos->blocks().typedBlock(0, 0))[0] = {{9, 9, 9}};
    EXPECT_EQ(1.0f, allPositions(original)[0][0]);
    EXPECT_EQ(9.0f, allPositions(*copy)[0][0]);
    copy->mutableLayout().addTile(5, 5, 5, false);
    EXPECT_EQ(nullptr, original.layout().findTile(5, 5, 5));
}

TEST_F(Bodies, IdentityTransformChangesNothing) {
    Body body("B");
    addParticles(body, {{{0.5f, 0.5f, 0.5f}}});
    const Shape* before = body.shape("Particle").get();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    body.applyTransform(identity);
    EXPECT_EQ(before, body.shape("Particle").get());
    EXPECT_EQ(0.5f, allPositions(body)[0][0]);
}

TEST_F(Bodies, TranslationMovesParticlesIntoTheirNewTiles) {
    Body body("B");
    addParticles(body, {{{0.5f, 0.5f, 0.5f}}, {{8.5f, 0.5f, 0.5f}}});
    const float shift[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 0, 1};
    body.applyTransform(shift);
    std::vector<zt::vec3f> p = allPositions(body);
    ASSERT_EQ(2u, p.size());
    std::vector<float> xs{p[0][0], p[1][0]};
    std::sort(xs.begin(), xs.end());
    EXPECT_EQ(10.5f, xs[0]);
    EXPECT_EQ(18.5f, xs[1]);
    // Each particle now lives in the block of the tile that contains it.
    const zt::tile_layout3& layout = body.layout();
    auto& blocks = const_cast<ParticleShape*>(body.particleShape())->positions()->blocks();
    for (int64_t slot = 0; slot < blocks.listCount(0); ++slot) {
        auto* b = blocks.typedBlock(0, slot);
        if (!b) continue;
        for (int64_t e = 0; e < b->count(); ++e) {
            const zt::tile3* t = layout.fineTile(slot);
            EXPECT_EQ(t->i(), int(std::floor((*b)[e][0] / layout.cellSize())) / int(layout.tileSize()));
        }
    }
    // Velocities keep their direction (no translation).
    auto* v = body.particleShape()->channelAs<ParticleChannel<zt::vec3f>>("velocity");
    EXPECT_EQ(zt::vec3f({1, 0, 0}), v->max3f());
}

TEST_F(Bodies, SignatureMatching) {
    Body body("B");
    EXPECT_EQ("Cannot match NULL signature on Body 'B'", message([&] { body.matchSignature(nullptr); }));
    EXPECT_TRUE(body.matchesSignature(nullptr));

    Body signature("Particle-Liquid");
    addMotionType(signature, "Dynamic");
    auto* sigShape = static_cast<ParticleShape*>(signature.addShape(new ParticleShape(true)));
    sigShape->createChannel3f("velocity", {{0, 0, 0}});
    EXPECT_FALSE(body.matchesSignature(&signature));

    auto* mine = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    mine->createChannel1f("velocity", 0.0f);
    {
        std::string saved = Cb::verbosity;
        Cb::verbosity = "VERBOSE";
        testsupport::CaptureStderr err;
        EXPECT_FALSE(body.matchesSignature(&signature));
        EXPECT_EQ("Corix: Type mismatch on channel 'velocity'\n", err.finish());
        Cb::verbosity = saved;
    }

    Body other("C");
    other.matchSignature(&signature);
    EXPECT_EQ("Particle-Liquid", other.signatureName());
    EXPECT_TRUE(other.matchesSignature(&signature));
    EXPECT_EQ("Dynamic", other.value("Motion Type")->expression(0));
    EXPECT_EQ(other.enumGroup("MotionTypeEnum"), static_cast<Value1e*>(other.value("Motion Type"))->group());
}

TEST_F(Bodies, SolverOperationsAreRefusedByTheBase) {
    Body body("B");
    EXPECT_EQ("B::transport() unimplemented; use Body subclass", message([&] { body.transport(FrameTime()); }));
    EXPECT_EQ("B::addOccluder() unimplemented; use Body subclass", message([&] { body.addOccluder(nullptr); }));
    EXPECT_EQ("B::occluder() unimplemented; use Body subclass", message([&] { body.occluder(0); }));
    EXPECT_EQ("B::accelerate() unimplemented; use Body subclass", message([&] { body.accelerate(FrameTime()); }));
    EXPECT_EQ("B::addAcceleration() requires a Dynamics Server", message([&] { body.addAcceleration({}); }));
    EXPECT_EQ("B::addForce() requires a Dynamics Server", message([&] { body.addForce({}); }));
    addMotionType(body, "Dynamic");
    const double params[5] = {1, 1, 0.04, 0.04, 0.04};
    EXPECT_EQ("B::transport() unimplemented; use Body subclass", message([&] { body.step(params); }));
    const double idle[5] = {1, 1, 0.04, 0.04, 0.0};
    EXPECT_NO_THROW(body.step(idle));
}

TEST_F(Bodies, RecordOfABodyWithoutShapesIsByteExact) {
    testsupport::TempDir dir;
    Body body("Water");
    body.setSignatureName("Particle-Liquid");
    body.setExtraText("note");
    body.addSection("Fluid")->addValue(std::make_unique<Value1f>("Density", std::array<std::string, 1>{"1000"}));
    ZtpWriter writer;
    writer.openStream(dir.file("b.ztp"));
    body.write(writer, "*.*", true);
    writer.close();
    ByteBuilder want;
    want.str("Water").str("Particle-Liquid").str("note");
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f}) want.f32(f);
    want.i32(1).str("Fluid").i32(1).str("value1f").str("Density").str("1000");
    want.f32(1.0f).i32(0).i32(1).i32(9).i64(0).i64(1).i32(0).i32(0).i32(0);  // layout
    want.i32(0);                                                              // shapes
    EXPECT_EQ(testsupport::toHex(want.data()), testsupport::toHex(testsupport::readBytes(dir.file("b.ztp"))));
    EXPECT_EQ(dir.file("b.ztp"), body.savedFile());
}

TEST_F(Bodies, WriteSelectionWarnsForMissingShapes) {
    testsupport::TempDir dir;
    Body body("B");
    addParticles(body, {{{0.5f, 0.5f, 0.5f}}});
    ZtpWriter writer;
    writer.openStream(dir.file("b.ztp"));
    testsupport::CaptureStderr err;
    body.write(writer, "Particle.position Field.distance *", true);
    EXPECT_EQ(
        "Corix ** WARNING ** : Shape 'Field' not found in body 'B': it will not be written to " + dir.file("b.ztp") +
            "\nCorix ** WARNING ** : Shape '' not found in body 'B': it will not be written to " + dir.file("b.ztp") +
            "\n",
        err.finish());
    const Shape& shape = *body.shape("Particle");
    ASSERT_EQ(1u, shape.writeList().size());
    EXPECT_EQ("position", shape.writeList()[0]->name());
}

TEST_F(Bodies, DropletChannelTakesItsParametersFromTheBody) {
    Body body("Water");
    auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    auto* droplet = static_cast<ParticleChannelDroplet*>(shape->createChannel1f("droplet", 0.0f));
    ValueSection* s = body.addSection("Droplets");
    s->addValue(std::make_unique<Value1f>("Droplet Threshold", std::array<std::string, 1>{"frame / 10"}));
    FrameTime t;
    t.frame = 5;
    droplet->updateFromBody(t, body);
    EXPECT_FLOAT_EQ(0.5f, droplet->threshold());
    EXPECT_EQ(0.0f, droplet->mergebackDepth());  // the body has no such value
    s->addValue(std::make_unique<Value1f>("Droplet Mergeback Depth", std::array<std::string, 1>{"2 dx"}));
    body.mutableLayout().reset(0.25f, -1);
    droplet->updateFromBody(t, body);
    EXPECT_FLOAT_EQ(0.5f, droplet->mergebackDepth());
    EXPECT_EQ(0, body.contextDepth());  // the evaluation's context is gone again
}
