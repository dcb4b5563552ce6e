// Expression contexts over a body: channel values per element, positions of
// particles and mesh elements, the voxel size, and the lookup failures.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "CaptureOutput.h"
#include "cb/model/Body.h"
#include "cb/model/BufferChannel.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleChannel.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNode.h"
#include "cb/qel/QelParser.h"
#include "cb/values/Value.h"
#include "cb/values/ValueTypes.h"
#include "zt/tile_layout3.h"

using namespace Cb;

namespace {

class Contexts : public ::testing::Test {
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

std::string message(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no exception>";
}

// Particles in tile (0,0,0) with a "density" channel 10, 20, 30, ...
void fillParticles(Body& body, const std::vector<zt::vec3f>& positions) {
    auto* shape = static_cast<ParticleShape*>(body.addShape(new ParticleShape(true)));
    shape->createChannel1f("density", 0.0f);
    zt::tile_layout3& layout = body.mutableLayout();
    layout.addTile(0, 0, 0, false);
    layout.updateNeighbours(true);
    shape->updateLayout(layout);
    auto* block = shape->positions()->blocks().typedBlock(0, 0);
    for (const auto& p : positions) block->append(p);
    shape->syncChannels();
    auto* density = shape->mutableChannelAs<ParticleChannel<float>>("density")->blocks().typedBlock(0, 0);
    for (int64_t e = 0; e < density->count(); ++e) (*density)[e] = 10.0f * float(e + 1);
}

float evalAt(Cbp::QelNode& tree, QelContext& ctx, uint64_t element, int component = 0) {
    ctx.setCurrentElement(0, element);
    return tree.eval(ctx.time(), component, 0);
}

}  // namespace

TEST_F(Contexts, ChannelValuesAndPositionsPerParticle) {
    Body body("Water");
    fillParticles(body, {{{0.5f, 1.5f, 2.5f}}, {{3.0f, 4.0f, 5.0f}}});
    QelContext ctx(&body, "Particle", FrameTime());
    EXPECT_EQ(body.shape("Particle").get(), ctx.shape());
    EXPECT_NE(nullptr, ctx.positionChannel());
    EXPECT_EQ(nullptr, ctx.auxChannel());
    std::unique_ptr<Cbp::QelNode> density(parseExpression(".density * 2", -1e9f, 1e9f));
    density->bind(&ctx);
    const uint64_t first = 0, second = 1;  // block 0, elements 0 and 1
    EXPECT_EQ(20.0f, evalAt(*density, ctx, first));
    EXPECT_EQ(40.0f, evalAt(*density, ctx, second));
    std::unique_ptr<Cbp::QelNode> pos(parseExpression("posx + posy * 10 + posz * 100", -1e9f, 1e9f));
    pos->bind(&ctx);
    EXPECT_FLOAT_EQ(0.5f + 15.0f + 250.0f, evalAt(*pos, ctx, first));
    std::unique_ptr<Cbp::QelNode> qualified(parseExpression("Particle.density", -1e9f, 1e9f));
    qualified->bind(&ctx);
    EXPECT_EQ(20.0f, evalAt(*qualified, ctx, second));
    EXPECT_EQ("Water", ctx.bodyName());
}

TEST_F(Contexts, ValuesEvaluatePerElementThroughTheirBody) {
    Body body("Water");
    fillParticles(body, {{{1, 0, 0}}, {{2, 0, 0}}});
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

TEST_F(Contexts, MeshElementPositionsComeFromThePoints) {
    Body body("Mesh");
    auto* points = static_cast<PointShape*>(body.addShape(new PointShape(true)));
    points->resizeElements(3);
    auto* p = points->mutableChannelAs<BufferChannel<zt::vec3f>>("position")->data();
    p[0] = {{0, 0, 0}};
    p[1] = {{1, 1, 1}};
    p[2] = {{2, 4, 6}};
    auto* edges = static_cast<EdgeShape*>(body.addShape(new EdgeShape(true)));
    edges->resizeElements(1);
    edges->mutableChannelAs<BufferChannel<zt::vec2i>>("index")->data()[0] = {{0, 2}};
    QelContext ctx(&body, "Edge", FrameTime());
    EXPECT_NE(nullptr, ctx.auxChannel());
    std::unique_ptr<Cbp::QelNode> centre(parseExpression("posx + posy * 10 + posz * 100", -1e9f, 1e9f));
    centre->bind(&ctx);
    EXPECT_FLOAT_EQ(1.0f + 20.0f + 300.0f, evalAt(*centre, ctx, 0));
}

TEST_F(Contexts, LookupFailuresAndUnboundVoxelSize) {
    Body body("B");
    body.addShape(new ParticleShape(false));  // no position channel, not a field
    QelContext ctx(&body, "Particle", FrameTime());
    std::unique_ptr<Cbp::QelNode> pos(parseExpression("posx", -1e9f, 1e9f));
    pos->bind(&ctx);
    EXPECT_EQ("QEL context error: Shape 'Particle' has no way of deriving positional information",
              message([&] { evalAt(*pos, ctx, 0); }));
    std::unique_ptr<Cbp::QelNode> missing(parseExpression(".density", -1e9f, 1e9f));
    EXPECT_EQ("QEL context error: Channel 'density' not found in Particle-Shape",
              message([&] { missing->bind(&ctx); }));
    std::unique_ptr<Cbp::QelNode> noShape(parseExpression("Field.density", -1e9f, 1e9f));
    EXPECT_EQ("QEL context error: Shape 'Field' not found.", message([&] { noShape->bind(&ctx); }));
    std::unique_ptr<Cbp::QelNode> noChannel(parseExpression("Particle.mass", -1e9f, 1e9f));
    EXPECT_EQ("QEL context error: Channel 'mass' not found in Particle-Shape", message([&] { noChannel->bind(&ctx); }));

    std::unique_ptr<Cbp::QelNode> dx(parseExpression("2 dx", -1e9f, 1e9f));
    dx->bind(&ctx);
    EXPECT_EQ(2.0f, dx->eval(FrameTime(), 0, 0));  // the body's layout: cell size 1
    QelContext unbound(nullptr, "", FrameTime());
    dx->bind(&unbound);
    testsupport::CaptureStderr err;
    EXPECT_EQ(2.0f, dx->eval(FrameTime(), 0, 0));
    EXPECT_EQ("***** CORIX ERROR: Voxel-size evaluation of unbound QEL expression\n", err.finish());
}
