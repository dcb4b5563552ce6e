// The context without a body, and what derived contexts plug in: references
// with their cache, referrer lists and cycle checks, field operations, and
// binding of the channel nodes.
#include <omp.h>

#include <map>
#include <set>

#include "CaptureOutput.h"
#include "QelTestSupport.h"
#include "cb/ThreadCount.h"
#include "zt/parallel.h"

using namespace qeltest;

namespace {

class QelContextTest : public QelTest {};

// A context that resolves references from a table of trees and knows one
// field operation, "blur", whose value encodes its arguments.
class TableContext : public Cb::QelContext {
public:
    TableContext() : QelContext(nullptr, "", Cb::FrameTime()) {}

    Cbp::QelNode* resolveReference(const std::string& name, int component, Cbp::QelRef*) override {
        ++resolveCalls;
        lastComponent = component;
        if (name == "boom") throw ztx::base("no value 'boom' here");
        auto it = targets.find(name);
        return it == targets.end() ? nullptr : it->second.get();
    }
    int fieldOpIndex(const std::string& name) override { return name == "blur" ? 4 : -1; }
    float sampleFieldOp(int index, const zt::vec3f& p, int component, const Cb::FrameTime& t, int) override {
        return float(index) * 1000.0f + p[0] * 100.0f + p[1] * 10.0f + p[2] + float(component) * 0.25f + t.frame;
    }

    // Parses a target bound to this context.
    void define(const std::string& name, const std::string& text) {
        targets[name] = parse(text);
        targets[name]->bind(this);
    }

    std::map<std::string, NodePtr> targets;
    int resolveCalls = 0;
    int lastComponent = -1;
};

NodePtr bound(const std::string& text, Cb::QelContext* context) {
    NodePtr node = parse(text);
    node->bind(context);
    return node;
}

float at(Cbp::QelNode& node, double time, int c = 0, int k = 0) {
    Cb::FrameTime t;
    t.time = time;
    return node.eval(t, c, k);
}

TEST_F(QelContextTest, GlobalContextLifecycle) {
    Cb::QelContext* global = Cb::QelContext::global();
    ASSERT_NE(nullptr, global);
    Cb::QelContext::createGlobal();
    EXPECT_EQ(global, Cb::QelContext::global());
    EXPECT_EQ(nullptr, global->body());
    EXPECT_EQ("", global->name());
    EXPECT_EQ(1, global->time().flag);
    EXPECT_EQ(0.0, global->time().time);
    EXPECT_EQ(global, parse("1")->context());
    Cb::QelContext::destroyGlobal();
    EXPECT_EQ(nullptr, Cb::QelContext::global());
    EXPECT_EQ(nullptr, parse("1")->context());
    Cb::QelContext::createGlobal();
    EXPECT_NE(nullptr, Cb::QelContext::global());
}

TEST_F(QelContextTest, ContextWithoutABody) {
    Cb::FrameTime t;
    t.frame = 4.0f;
    Cb::QelContext context(nullptr, "Particle", t);
    EXPECT_EQ("Particle", context.name());
    EXPECT_EQ(4.0f, context.time().frame);
    EXPECT_EQ(2 * Cb::threadSlots(), context.threadSlots());
    EXPECT_EQ(nullptr, context.shape());
    EXPECT_EQ(nullptr, context.layout());
    EXPECT_EQ(nullptr, context.positionChannel());
    EXPECT_EQ(nullptr, context.auxChannel());
    EXPECT_EQ(nullptr, context.channel("position"));
    EXPECT_EQ(nullptr, context.channel("Particle", "position"));
    EXPECT_EQ("", context.bodyName());
    EXPECT_EQ(nullptr, context.resolveReference("a", 0, nullptr));
    EXPECT_EQ(-1, context.fieldOpIndex("blur"));
    EXPECT_EQ(0.0f, context.sampleFieldOp(0, zt::vec3f{1, 2, 3}, 0, t, 0));
    EXPECT_TRUE(context.position(0) == (zt::vec3f{0, 0, 0}));
    EXPECT_EQ(0u, context.elementOf(0));
    context.setCurrentElement(1, 77);
    EXPECT_EQ(77u, context.elementOf(1));
    EXPECT_EQ("QEL context error: thread slot -1 out of range", failure([&] { context.elementOf(-1); }));

    t.frame = 9.0f;
    context.setTime(t, true);
    EXPECT_EQ(9.0f, context.time().frame);
    context.release(true);

    testsupport::CaptureStderr capture;
    EXPECT_EQ(1.0f, context.voxelSize());
    EXPECT_EQ("***** CORIX ERROR: Voxel-size evaluation of unbound QEL expression\n", capture.finish());
}

TEST_F(QelContextTest, SlotsFollowTheThreadCount) {
    const int runtimeThreads = omp_get_max_threads();
    Cb::applyLibraryThreadCount(3);
    Cb::QelContext context(nullptr, "", Cb::FrameTime());
    EXPECT_EQ(2 * Cb::threadSlots(), context.threadSlots());
    EXPECT_GE(context.threadSlots(), 6);
    EXPECT_EQ(Cb::threadSlots() + 1, static_cast<Cbp::QelRef&>(*parse("@'a'")).visitingSlots());
    Cb::applyLibraryThreadCount(1);
    omp_set_num_threads(runtimeThreads);
    context.resolve();
    EXPECT_EQ(2 * Cb::threadSlots(), context.threadSlots());
}

TEST_F(QelContextTest, ExplicitPositionsWhenOverridden) {
    Cb::QelContext context(nullptr, "", Cb::FrameTime());
    NodePtr pos = bound("vec(posx, posy, posz)", &context);
    context.setExplicitPosition(1, zt::vec3f{1.5f, -2.0f, 3.0f});
    EXPECT_EQ(0.0f, pos->eval(Cb::FrameTime(), 0, 1));
    context.setPositionOverride(true);
    EXPECT_EQ(1.5f, pos->eval(Cb::FrameTime(), 0, 1));
    EXPECT_EQ(-2.0f, pos->eval(Cb::FrameTime(), 1, 1));
    EXPECT_EQ(3.0f, pos->eval(Cb::FrameTime(), 2, 1));
    EXPECT_EQ(0.0f, pos->eval(Cb::FrameTime(), 0, 0));
    EXPECT_EQ("QEL context error: thread slot 100000 out of range",
              failure([&] { pos->eval(Cb::FrameTime(), 0, 100000); }));
    context.setPositionOverride(false);
    EXPECT_EQ(0.0f, pos->eval(Cb::FrameTime(), 0, 1));
}

TEST_F(QelContextTest, LegacyChannelNamesAreMapped) {
    EXPECT_EQ("fluid-distance", Cb::QelContext::mapChannelName("fluidDistance"));
    EXPECT_EQ("solid-distance", Cb::QelContext::mapChannelName("solidDistance"));
    EXPECT_EQ("solid-velocity", Cb::QelContext::mapChannelName("solidVelocity"));
    EXPECT_EQ("particle-count", Cb::QelContext::mapChannelName("particleCount"));
    EXPECT_EQ("expansion-rate", Cb::QelContext::mapChannelName("expansionRate"));
    EXPECT_EQ("position", Cb::QelContext::mapChannelName("position"));
    EXPECT_EQ("FluidDistance", Cb::QelContext::mapChannelName("FluidDistance"));
}

TEST_F(QelContextTest, ChannelNodesBindToNothingWithoutAShape) {
    Cb::QelContext context(nullptr, "Particle", Cb::FrameTime());
    NodePtr implicit = bound(".fluidDistance", &context);
    NodePtr sample = bound("Particle.fluidDistance(vec(1, 2, 3))", &context);
    auto& s = static_cast<Cbp::QelChannelSample&>(*sample);
    EXPECT_EQ(nullptr, static_cast<Cbp::QelImplicitChannelValue&>(*implicit).channel());
    EXPECT_EQ(nullptr, s.channel());
    EXPECT_EQ("Particle", s.shapeName());
    EXPECT_EQ("fluid-distance", s.channelName());
    EXPECT_FALSE(s.sameShape());
    EXPECT_EQ(&context, s.child(2)->child(0)->context());
    EXPECT_EQ(0.0f, implicit->eval(Cb::FrameTime(), 0, 0));
    EXPECT_EQ(0.0f, sample->eval(Cb::FrameTime(), 1, 0));
    EXPECT_EQ(0.0f, implicit->evalAt(zt::vec3f{1, 1, 1}, Cb::FrameTime(), 0, 0));
    EXPECT_EQ(0.0f, sample->evalAt(zt::vec3f{1, 1, 1}, Cb::FrameTime(), 0, 0));
}

TEST_F(QelContextTest, FieldOperationsGoThroughTheContext) {
    TableContext context;
    NodePtr here = bound(":'blur'", &context);
    NodePtr there = bound(":'blur'(vec(1, 2, 3))", &context);
    NodePtr unknown = bound(":'sharpen'", &context);
    EXPECT_EQ(4, static_cast<Cbp::QelFieldOpSample&>(*here).fieldOpIndex());
    EXPECT_EQ(-1, static_cast<Cbp::QelFieldOpSample&>(*unknown).fieldOpIndex());
    Cb::FrameTime t;
    t.frame = 0.5f;
    EXPECT_EQ(4000.5f, here->eval(t, 0, 0));
    EXPECT_EQ(4124.25f, there->eval(t, 3, 0));
    EXPECT_EQ(0.0f, unknown->eval(t, 0, 0));
    EXPECT_EQ(4321.0f, here->evalAt(zt::vec3f{3, 2, 1}, Cb::FrameTime(), 0, 0));

    // Central differences over the sampled operation, one cell wide.
    testsupport::CaptureStderr capture;
    NodePtr grad = bound("grad(:'blur')", &context);
    NodePtr curl = bound("curl(:'blur')", &context);
    NodePtr curv = bound("curv(:'blur')", &context);
    EXPECT_EQ(100.0f, grad->eval(Cb::FrameTime(), 0, 0));
    EXPECT_EQ(10.0f, grad->eval(Cb::FrameTime(), 1, 0));
    EXPECT_EQ(1.0f, grad->eval(Cb::FrameTime(), 2, 0));
    // curl x = d(a_z)/dy - d(a_y)/dz, and so on around.
    EXPECT_EQ(10.0f - 1.0f, curl->eval(Cb::FrameTime(), 0, 0));
    EXPECT_EQ(1.0f - 100.0f, curl->eval(Cb::FrameTime(), 1, 0));
    EXPECT_EQ(100.0f - 10.0f, curl->eval(Cb::FrameTime(), 2, 0));
    EXPECT_EQ(0.0f, curv->eval(Cb::FrameTime(), 0, 0));
    capture.finish();
}

TEST_F(QelContextTest, ReferencesFailOnTheGlobalContext) {
    testsupport::CaptureStderr capture;
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([] { value("@'a'"); }));
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([] { stringValue("@'Body.value'(time-1)"); }));
    EXPECT_EQ("", capture.finish());
}

TEST_F(QelContextTest, ReferencesResolveOncePerComponentAndShiftTime) {
    TableContext context;
    context.define("a", "time * 2 + vec(10, 20, 30)");
    NodePtr now = bound("@'a'", &context);
    NodePtr then = bound("@'a'(time - 1)", &context);
    EXPECT_EQ(16.0f, at(*now, 3.0));
    EXPECT_EQ(14.0f, at(*then, 3.0));
    EXPECT_EQ(26.0f, at(*now, 3.0, 1));
    EXPECT_EQ(1, context.lastComponent);
    EXPECT_EQ(3, context.resolveCalls);  // "now" twice (components 0, 1), "then" once
    EXPECT_EQ(16.0f, at(*now, 3.0));
    EXPECT_EQ(3, context.resolveCalls);
    Cbp::QelNode* target = context.targets["a"].get();
    auto& ref = static_cast<Cbp::QelRef&>(*now);
    EXPECT_EQ(target, ref.target(0));
    EXPECT_EQ(target, ref.target(1));
    EXPECT_EQ(nullptr, ref.target(2));
    EXPECT_EQ(3, target->referrerCount());

    // Operands keep their own context.
    EXPECT_EQ(Cb::QelContext::global(), then->child(1)->context());
    EXPECT_EQ(&context, then->context());

    // String values come from the target.
    context.define("s", "'text'");
    NodePtr str = bound("@'s'", &context);
    std::string out;
    str->evalString(out, Cb::FrameTime(), 0, 0);
    EXPECT_EQ("text", out);
}

TEST_F(QelContextTest, ReferrerBookkeeping) {
    TableContext context;
    context.define("a", "5");
    NodePtr ref = bound("@'a' + @'a'", &context);
    EXPECT_EQ(10.0f, at(*ref, 0.0));
    Cbp::QelNode* target = context.targets["a"].get();
    EXPECT_EQ(2, target->referrerCount());

    // The target dies: the references forget it and resolve again.
    context.targets["a"].reset();
    EXPECT_EQ(nullptr, static_cast<Cbp::QelRef*>(ref->child(0))->target(0));
    context.define("a", "7");
    EXPECT_EQ(14.0f, at(*ref, 0.0));
    EXPECT_EQ(4, context.resolveCalls);

    // The references die: they leave the target's list.
    target = context.targets["a"].get();
    EXPECT_EQ(2, target->referrerCount());
    ref.reset();
    EXPECT_EQ(0, target->referrerCount());

    Cbp::QelRef stranger;
    EXPECT_EQ("clearRefferingNode failed", failure([&] { target->removeReferrer(&stranger); }));

    // Binding to another context drops the targets found through the old one.
    NodePtr again = bound("@'a'", &context);
    EXPECT_EQ(7.0f, at(*again, 0.0));
    EXPECT_EQ(1, target->referrerCount());
    again->bind(Cb::QelContext::global());
    EXPECT_EQ(0, target->referrerCount());
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([&] { at(*again, 0.0); }));
}

TEST_F(QelContextTest, ResolutionFailuresAreLogged) {
    TableContext context;
    NodePtr boom = bound("@'boom'", &context);
    testsupport::CaptureStderr capture;
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([&] { at(*boom, 0.0); }));
    EXPECT_EQ("***** CORIX ERROR: QEL Error: no value 'boom' here\n", capture.finish());
    NodePtr missing = bound("@'missing'", &context);
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([&] { at(*missing, 0.0); }));
}

TEST_F(QelContextTest, CyclesAreDetectedAndFailuresDoNotStick) {
    TableContext context;
    context.define("a", "@'b' + 1");
    context.define("b", "@'a' * 2");
    NodePtr start = bound("@'a'", &context);
    EXPECT_EQ("Cyclic reference expression detected", failure([&] { at(*start, 0.0); }));
    context.define("self", "@'self'");
    EXPECT_EQ("Cyclic reference expression detected", failure([&] { at(*context.targets["self"], 0.0); }));
    // The time operand is evaluated inside the visit (binding a reference
    // leaves its operands where they were, so they are bound here by hand).
    context.define("c", "@'d'(@'c')");
    context.define("d", "time");
    NodePtr timed = bound("@'c'", &context);
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([&] { at(*timed, 0.0); }));
    context.targets["c"]->child(1)->bind(&context);
    EXPECT_EQ("Cyclic reference expression detected", failure([&] { at(*timed, 0.0); }));
    NodePtr shifted = bound("@'d'(@'d' + 2)", &context);
    shifted->child(1)->bind(&context);
    EXPECT_EQ(5.0f, at(*shifted, 3.0));

    // A failed target evaluation leaves no flag behind.
    context.define("outer", "@'inner' + 1");
    NodePtr outer = bound("@'outer'", &context);
    EXPECT_EQ("Internal QEL Error: Invalid Reference", failure([&] { at(*outer, 0.0); }));
    context.define("inner", "41");
    EXPECT_EQ(42.0f, at(*outer, 0.0));

    // Slots past the flags still catch cycles, and still evaluate.
    EXPECT_EQ("Cyclic reference expression detected", failure([&] { at(*start, 0.0, 0, 5000); }));
    EXPECT_EQ(42.0f, at(*outer, 0.0, 0, 5000));
    EXPECT_EQ(42.0f, at(*outer, 0.0, 0, -3));
}

TEST_F(QelContextTest, RefersToMatchesReferenceNames) {
    EXPECT_TRUE(parse("@'a' + 1")->refersTo("a"));
    EXPECT_FALSE(parse("@'a' + 1")->refersTo("b"));
    EXPECT_TRUE(parse("sin(@\"Body.value\")")->refersTo("Body.value"));
    EXPECT_TRUE(parse("@'x'(@'b')")->refersTo("b"));
    EXPECT_FALSE(parse("'a'")->refersTo("a"));
    EXPECT_FALSE(parse("1 + 2")->refersTo("a"));
}

// Two threads resolve the same reference at once: one resolution, one entry.
TEST_F(QelContextTest, ParallelReferencesResolveOnce) {
    for (int threads : {1, 2}) {
        TableContext context;
        context.define("a", "time + 1");
        NodePtr ref = bound("@'a' * 2", &context);
        const int n = 2000;
        std::vector<float> got(n);
        zt::parallel_errors errors;
#pragma omp parallel for num_threads(threads)
        for (int i = 0; i < n; ++i)
            errors.capture([&] { got[size_t(i)] = at(*ref, double(i), 0, omp_get_thread_num()); });
        errors.rethrow();
        for (int i = 0; i < n; ++i) ASSERT_EQ(float(2 * (i + 1)), got[size_t(i)]) << i;
        EXPECT_EQ(1, context.resolveCalls);
        EXPECT_EQ(1, context.targets["a"]->referrerCount());
    }
}

}  // namespace
