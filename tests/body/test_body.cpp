// Bodies: cloning and "Motion Type", shape access and its messages, copies
// sharing the layout, transforms, signatures, the solver refusals, the body
// record and the droplet parameters; and expression contexts over a body.
// Write selections are the writer's tests, typed shape access and shape
// sharing the fields', mesh element centres and velocities under a transform
// the shapes'.
#include <gtest/gtest.h>

#include <functional>

#include "ByteBuilder.h"
#include "CaptureOutput.h"
#include "MessageOf.h"
#include "TempPath.h"
#include "cb/Log.h"
#include "cb/factory/BuiltinTypes.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/qel/QelParser.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueTypes.h"
#include "zt/tile_layout3.h"

using namespace Cb;
using testsupport::messageOf;

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

// A "Particle" shape whose one fine tile (0, 0, 0) holds the positions, with
// velocities (1, 0, 0) and densities 10, 20, 30, ...
ParticleShape* addParticles(Body& body, const std::vector<zt::vec3f>& positions) {
    auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel1f("density", 0.0f);
    zt::tile_layout3& layout = body.mutableLayout();
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);
    shape->updateLayout(layout);
    for (const auto& p : positions) shape->positions()->blocks().typedBlock(0, 0)->append(p);
    shape->syncChannels();
    auto& v = *shape->mutableChannelAs<ParticleChannel<zt::vec3f>>("velocity")->blocks().typedBlock(0, 0);
    auto& d = *shape->mutableChannelAs<ParticleChannel<float>>("density")->blocks().typedBlock(0, 0);
    for (int64_t e = 0; e < v.count(); ++e) v[e] = {{1, 0, 0}}, d[e] = 10.0f * float(e + 1);
    shape->setModifiedFlags(0);
    return shape;
}

void addMotionType(Body& body, const std::string& selected) {
    EnumGroup* group = body.addEnumGroup(std::make_unique<EnumGroup>(
        "MotionTypeEnum", std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}));
    body.addSection("Motion")->addValue(std::make_unique<Value1e>("Motion Type", group, selected));
}

// What the action logs at VERBOSE.
std::string verboseLog(const std::function<void()>& action) {
    const std::string saved = Cb::verbosity;
    Cb::verbosity = "VERBOSE";
    testsupport::CaptureStderr err;
    action();
    Cb::verbosity = saved;
    return err.finish();
}

// The expression parsed and bound to the context.
std::unique_ptr<Cbp::QelNode> bound(const std::string& text, QelContext& ctx) {
    std::unique_ptr<Cbp::QelNode> tree(parseExpression(text, -1e9f, 1e9f));
    tree->bind(&ctx);
    return tree;
}

float evalAt(const std::unique_ptr<Cbp::QelNode>& tree, QelContext& ctx, uint64_t element) {
    ctx.setCurrentElement(0, element);
    return tree->eval(ctx.time(), 0, 0);
}

}  // namespace

TEST_F(Bodies, CloningFollowsMotionType) {
    Body dynamic("Water");
    addMotionType(dynamic, "Dynamic");
    EXPECT_TRUE(dynamic.isEvolving());
    EXPECT_EQ("Attempting to clone evolving body 'Water'", messageOf([&] { delete dynamic.clone(); }));
    std::unique_ptr<Body> unsolved(dynamic.cloneUnsolved());
    EXPECT_EQ("Unsolved", unsolved->value("Motion Type")->expression(0));
    EXPECT_EQ("Dynamic", dynamic.value("Motion Type")->expression(0));
    EXPECT_EQ("Water", std::unique_ptr<Body>(unsolved->clone())->name());
    // Without "Motion Type" a body is not evolving and its copies stay without it.
    Body plain("Rock");
    EXPECT_FALSE(plain.isEvolving());
    EXPECT_FALSE(std::unique_ptr<Body>(plain.cloneUnsolved())->hasValue("Motion Type"));
    EXPECT_EQ("Rock", std::unique_ptr<Body>(plain.clone())->name());
}

TEST_F(Bodies, ShapeAccessAndItsMessages) {
    Body body("B");
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"Cannot find shape 'Particle' in Body B", [&] { body.shape("Particle"); }},
        {"(no failure)", [&] { body.addShape(new ParticleShape(true)); }},
        {"Cannot create shape 'Particle' in Body B: shape already exists",
         [&] { body.addShape(new ParticleShape(false)); }},
        {"Cannot find shape 'Field' in Body B", [&] { body.channel("Field.distance"); }},
    };
    for (const auto& [message, action] : cases) EXPECT_EQ(message, messageOf(action));
    body.addShape(new PointShape(true));
    EXPECT_TRUE(body.hasPoints() && body.particleShape() != nullptr);
    EXPECT_TRUE(body.hasChannels("Particle.position"));
    EXPECT_FALSE(body.hasChannels("Particle.position Particle.velocity"));
    EXPECT_FALSE(body.hasChannels("Field.distance"));
    EXPECT_NE(nullptr, body.channel("Particle.position"));
    EXPECT_EQ(nullptr, body.channel("Particle.velocity"));
    EXPECT_EQ("Corix: Erasing shape 'Point'\n", verboseLog([&] { body.eraseShape("Point"); }));
    EXPECT_FALSE(body.hasShape("Point"));
}

TEST_F(Bodies, CopiesShareTheLayoutUntilOneSideWrites) {
    Body original("B");
    addParticles(original, {{{1, 2, 3}}});
    std::unique_ptr<Body> copy(original.copy());
    EXPECT_EQ(&original.layout(), &copy->layout());
    copy->mutableLayout().addTile(5, 5, 5, false);
    EXPECT_EQ(nullptr, original.layout().findTile(5, 5, 5));
    EXPECT_NE(nullptr, copy->layout().findTile(5, 5, 5));
}

TEST_F(Bodies, TransformsMoveParticlesIntoTheirNewTilesAndIdentityChangesNothing) {
    Body body("B");
    addParticles(body, {{{0.5f, 0.5f, 0.5f}}, {{8.5f, 0.5f, 0.5f}}});
    const Shape* before = body.shape("Particle").get();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    body.applyTransform(identity);
    EXPECT_EQ(before, body.shape("Particle").get());  // not even detached
    const float shift[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 0, 1};
    body.applyTransform(shift);
    // Each particle now lives in the block of the tile that contains it.
    const auto firstOfTile = [&body](int i) {
        const zt::tile3* tile = body.layout().findTile(i, 0, 0);
        auto& blocks = body.mutableParticleShape()->positions()->blocks();
        const auto* block = tile ? blocks.typedBlock(0, body.layout().blockIndex(*tile)) : nullptr;
        return block && block->count() == 1 ? (*block)[0][0] : -1.0f;
    };
    EXPECT_EQ(10.5f, firstOfTile(1));
    EXPECT_EQ(18.5f, firstOfTile(2));
}

TEST_F(Bodies, SignatureMatching) {
    Body body("B");
    EXPECT_EQ("Cannot match NULL signature on Body 'B'", messageOf([&] { body.matchSignature(nullptr); }));
    EXPECT_TRUE(body.matchesSignature(nullptr));
    Body signature("Particle-Liquid");
    addMotionType(signature, "Dynamic");
    static_cast<ParticleShape*>(signature.addShape(new ParticleShape(true)))->createChannel3f("velocity", {{0, 0, 0}});
    EXPECT_FALSE(body.matchesSignature(&signature));
    static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)))->createChannel1f("velocity", 0.0f);
    EXPECT_EQ("Corix: Type mismatch on channel 'velocity'\n",
              verboseLog([&] { EXPECT_FALSE(body.matchesSignature(&signature)); }));
    Body other("C");
    other.matchSignature(&signature);
    EXPECT_EQ("Particle-Liquid", other.signatureName());
    EXPECT_TRUE(other.matchesSignature(&signature));
    EXPECT_EQ("Dynamic", other.value("Motion Type")->expression(0));
    EXPECT_EQ(other.enumGroup("MotionTypeEnum"), static_cast<Value1e*>(other.value("Motion Type"))->group());
}

TEST_F(Bodies, SolverOperationsAreRefusedByTheBase) {
    Body body("B");
    const double params[5] = {1, 1, 0.04, 0.04, 0.04}, idle[5] = {1, 1, 0.04, 0.04, 0.0};
    const std::pair<std::string, std::function<void()>> cases[] = {
        {"B::transport() unimplemented; use Body subclass", [&] { body.transport(FrameTime()); }},
        {"B::addOccluder() unimplemented; use Body subclass", [&] { body.addOccluder(nullptr); }},
        {"B::occluder() unimplemented; use Body subclass", [&] { body.occluder(0); }},
        {"B::accelerate() unimplemented; use Body subclass", [&] { body.accelerate(FrameTime()); }},
        {"B::addAcceleration() requires a Dynamics Server", [&] { body.addAcceleration({}); }},
        {"B::addForce() requires a Dynamics Server", [&] { body.addForce({}); }},
        {"(no failure)", [&] { addMotionType(body, "Dynamic"); }},
        {"B::transport() unimplemented; use Body subclass", [&] { body.step(params); }},
        {"(no failure)", [&] { body.step(idle); }},
    };
    for (const auto& [message, action] : cases) EXPECT_EQ(message, messageOf(action));
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
    testsupport::ByteBuilder want;
    want.str("Water").str("Particle-Liquid").str("note");
    for (float f : {1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 1.f}) want.f32(f);
    want.i32(1).str("Fluid").i32(1).str("value1f").str("Density").str("1000");
    want.f32(1.0f).i32(0).i32(1).i32(9).i64(0).i64(1).i32(0).i32(0).i32(0).i32(0);  // layout, no shapes
    EXPECT_EQ(testsupport::toHex(want.data()), testsupport::toHex(testsupport::readBytes(dir.file("b.ztp"))));
    EXPECT_EQ(dir.file("b.ztp"), body.savedFile());
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

TEST_F(Bodies, ContextChannelValuesAndPositionsPerParticle) {
    Body body("Water");
    addParticles(body, {{{0.5f, 1.5f, 2.5f}}, {{3.0f, 4.0f, 5.0f}}});
    QelContext ctx(&body, "Particle", FrameTime());
    EXPECT_TRUE(ctx.shape() == body.shape("Particle").get() && ctx.positionChannel() && !ctx.auxChannel());
    EXPECT_EQ("Water", ctx.bodyName());
    const auto density = bound(".density * 2", ctx), qualified = bound("Particle.density", ctx);
    const auto pos = bound("posx + posy * 10 + posz * 100", ctx);
    EXPECT_EQ(20.0f, evalAt(density, ctx, 0));  // block 0, element 0
    EXPECT_EQ(40.0f, evalAt(density, ctx, 1));
    EXPECT_EQ(20.0f, evalAt(qualified, ctx, 1));
    EXPECT_FLOAT_EQ(0.5f + 15.0f + 250.0f, evalAt(pos, ctx, 0));
}

TEST_F(Bodies, ContextValuesEvaluatePerElementThroughTheInnermostContext) {
    Body body("Water");
    addParticles(body, {{{1, 0, 0}}, {{2, 0, 0}}});
    auto* v = static_cast<Value1f*>(body.addSection("S")->addValue(
        std::make_unique<Value1f>("Scaled", std::array<std::string, 1>{"posx * 2 dx"})));
    body.mutableLayout().reset(0.5f, -1);  // a layout with another cell size
    QelContext ctx(&body, "Particle", FrameTime());
    EXPECT_EQ(&ctx, v->node(0)->context());
    ctx.setCurrentElement(0, 1);
    EXPECT_FLOAT_EQ(2.0f, v->evaluate(ctx.time(), 0, 0));  // 2 * 2 * 0.5
    {
        QelContext inner(&body, "Particle", FrameTime());
        EXPECT_EQ(&inner, v->node(0)->context());
    }
    EXPECT_EQ(&ctx, v->node(0)->context());
}

TEST_F(Bodies, ContextLookupFailuresAndUnboundVoxelSize) {
    Body body("B");
    body.addShape(new ParticleShape(false));  // no position channel, not a field
    QelContext ctx(&body, "Particle", FrameTime());
    const std::pair<std::string, std::string> cases[] = {
        {".density", "QEL context error: Channel 'density' not found in Particle-Shape"},
        {"Field.density", "QEL context error: Shape 'Field' not found."},
        {"Particle.mass", "QEL context error: Channel 'mass' not found in Particle-Shape"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(message, messageOf([&, &text = text] { bound(text, ctx); }));
    EXPECT_EQ("QEL context error: Shape 'Particle' has no way of deriving positional information",
              messageOf([&] { evalAt(bound("posx", ctx), ctx, 0); }));
    const auto dx = bound("2 dx", ctx);
    EXPECT_EQ(2.0f, dx->eval(FrameTime(), 0, 0));  // the body's layout: cell size 1
    QelContext unbound(nullptr, "", FrameTime());
    dx->bind(&unbound);
    testsupport::CaptureStderr err;
    EXPECT_EQ(2.0f, dx->eval(FrameTime(), 0, 0));
    EXPECT_EQ("***** CORIX ERROR: Voxel-size evaluation of unbound QEL expression\n", err.finish());
}

TEST_F(Bodies, AContextThatFailsToBindLeavesNeitherItselfNorItsBindingsOnTheBody) {
    Body body("Water");
    addParticles(body, {{{1, 0, 0}}});
    ValueSection* s = body.addSection("S");
    auto* first = static_cast<Value1f*>(
        s->addValue(std::make_unique<Value1f>("Droplet Threshold", std::array<std::string, 1>{"posx + 1"})));
    const auto addMissing = [&] {
        s->addValue(std::make_unique<Value1f>("Missing", std::array<std::string, 1>{"Field.density"}));
    };
    const std::string missing = "QEL context error: Shape 'Field' not found.";
    {
        // Values added while a context is pushed are not bound to it; one
        // that cannot bind makes the next push fail, and the values that
        // push reached go back to the context below.
        QelContext outer(&body, "Particle", FrameTime());
        addMissing();
        EXPECT_EQ(missing, messageOf([&] { QelContext inner(&body, "Particle", FrameTime()); }));
        EXPECT_EQ(1, body.contextDepth());
        EXPECT_EQ(&outer, first->node(0)->context());
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(missing, messageOf([&] { QelContext ctx(&body, "Particle", FrameTime()); }));
        EXPECT_EQ(0, body.contextDepth());
        EXPECT_EQ(QelContext::global(), first->node(0)->context());
    }
    // The hooks evaluate through a context of their own: they fail the same
    // way instead of evaluating through a destroyed one.
    auto* droplet =
        static_cast<ParticleChannelDroplet*>(body.mutableParticleShape()->createChannel1f("droplet", 0.0f));
    EXPECT_EQ(missing, messageOf([&] { droplet->updateFromBody(FrameTime(), body); }));
    EXPECT_EQ(missing, messageOf([&] { body.valueText("Droplet Threshold", FrameTime()); }));
    EXPECT_EQ(0, body.contextDepth());
    EXPECT_EQ(QelContext::global(), first->node(0)->context());
}

TEST_F(Bodies, AValueThatCannotBindToTheContextBelowIsLeftWithoutOneWhenTheTopGoes) {
    Body body("Water");
    addParticles(body, {{{1, 0, 0}}});
    body.addShape(new PointShape(true));  // no "density" here
    auto* v = static_cast<Value1f*>(
        body.addSection("S")->addValue(std::make_unique<Value1f>("Scaled", std::array<std::string, 1>{"1"})));
    QelContext points(&body, "Point", FrameTime());
    testsupport::CaptureStderr err;
    {
        QelContext particles(&body, "Particle", FrameTime());
        v->setExpression(".density * 2", 0);
        EXPECT_EQ(&particles, v->node(0)->context());
    }  // popping used to throw out of the destructor
    EXPECT_EQ("***** CORIX ERROR: Cannot bind 'Scaled' to the context below: QEL context error: Channel 'density' "
              "not found in Point-Shape; it is left without one\n",
              err.finish());
    EXPECT_EQ(1, body.contextDepth());
    EXPECT_EQ(QelContext::global(), v->node(0)->context());
    EXPECT_EQ(0.0f, v->evaluate(FrameTime()));  // an unbound channel reads 0
}
