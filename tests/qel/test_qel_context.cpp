// The context without a body, and what derived contexts plug in: references
// with their cache, referrer lists and cycle checks, field operations, and
// binding of the channel nodes.
#include <omp.h>

#include <map>

#include "CaptureOutput.h"
#include "QelTestSupport.h"
#include "cb/ThreadCount.h"
#include "zt/parallel.h"

using namespace qeltest;

namespace {

class QelContextTest : public QelTest {};

const std::string kInvalid = "Internal QEL Error: Invalid Reference";
const std::string kCycle = "Cyclic reference expression detected";

// A context that resolves references from a table of trees and knows one
// field operation, "blur", whose value encodes its arguments.
class TableContext : public Cb::QelContext {
public:
    TableContext() : QelContext(nullptr, "", Cb::FrameTime()) {}

    Cbp::QelNode* resolveReference(const std::string& name, int, Cbp::QelRef*) override {
        ++resolveCalls;
        if (name == "boom") throw ztx::base("no value 'boom' here");
        auto it = targets.find(name);
        return it == targets.end() ? nullptr : it->second.get();
    }
    int fieldOpIndex(const std::string& name) override { return name == "blur" ? 4 : -1; }
    float sampleFieldOp(int index, const zt::vec3f& p, int component, const Cb::FrameTime& t, int) override {
        return float(index) * 1000.0f + p[0] * 100.0f + p[1] * 10.0f + p[2] + float(component) * 0.25f + t.frame;
    }
    void define(const std::string& name, const std::string& text) {
        targets[name] = parse(text);
        targets[name]->bind(this);
    }

    std::map<std::string, NodePtr> targets;
    int resolveCalls = 0;
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

TEST_F(QelContextTest, ContextWithoutABodySlotsPositionsAndChannelNames) {
    Cb::FrameTime t;
    Cb::QelContext context(nullptr, "Particle", t);
    EXPECT_EQ(2 * Cb::threadSlots(), context.threadSlots());
    EXPECT_EQ("QEL context error: thread slot -1 out of range", messageOf([&] { context.elementOf(-1); }));

    // Explicit positions count only while overridden.
    NodePtr pos = bound("vec(posx, posy, posz)", &context);
    context.setExplicitPosition(1, zt::vec3f{1.5f, -2.0f, 3.0f});
    EXPECT_EQ(0.0f, pos->eval(t, 0, 1));
    context.setPositionOverride(true);
    for (int c = 0; c < 3; ++c) EXPECT_EQ((zt::vec3f{1.5f, -2.0f, 3.0f})[c], pos->eval(t, c, 1));
    EXPECT_EQ(0.0f, pos->eval(t, 0, 0));
    EXPECT_EQ("QEL context error: thread slot 100000 out of range", messageOf([&] { pos->eval(t, 0, 100000); }));

    // Legacy channel names are mapped; without a shape channel nodes bind to nothing.
    const std::pair<const char*, const char*> names[] = {
        {"fluidDistance", "fluid-distance"}, {"solidDistance", "solid-distance"}, {"solidVelocity", "solid-velocity"},
        {"particleCount", "particle-count"}, {"expansionRate", "expansion-rate"}, {"FluidDistance", "FluidDistance"}};
    for (const auto& [from, to] : names) EXPECT_EQ(to, Cb::QelContext::mapChannelName(from));
    EXPECT_EQ(0.0f, bound(".fluidDistance", &context)->eval(t, 0, 0));

    // Slots follow the thread count when the context resolves again.
    const int runtimeThreads = omp_get_max_threads();
    Cb::applyLibraryThreadCount(3);
    context.resolve();
    EXPECT_GE(context.threadSlots(), 6);
    EXPECT_EQ(2 * Cb::threadSlots(), context.threadSlots());
    Cb::applyLibraryThreadCount(1);
    omp_set_num_threads(runtimeThreads);
}

TEST_F(QelContextTest, FieldOperationsGoThroughTheContext) {
    TableContext context;
    NodePtr here = bound(":'blur'", &context);
    EXPECT_EQ(4000.5f, here->eval(atFrame(0.5f), 0, 0));
    EXPECT_EQ(4124.25f, bound(":'blur'(vec(1, 2, 3))", &context)->eval(atFrame(0.5f), 3, 0));
    EXPECT_EQ(0.0f, bound(":'sharpen'", &context)->eval(atFrame(0.5f), 0, 0));
    EXPECT_EQ(4321.0f, here->evalAt(zt::vec3f{3, 2, 1}, Cb::FrameTime(), 0, 0));
    // Central differences over the sampled operation, one cell wide; curl x
    // = d(a_z)/dy - d(a_y)/dz, and so on around.
    testsupport::CaptureStderr capture;
    const std::tuple<const char*, int, float> cases[] = {
        {"grad(:'blur')", 0, 100},    {"grad(:'blur')", 1, 10},      {"grad(:'blur')", 2, 1},
        {"curl(:'blur')", 0, 10 - 1}, {"curl(:'blur')", 1, 1 - 100}, {"curl(:'blur')", 2, 100 - 10},
        {"curv(:'blur')", 0, 0}};
    for (const auto& [text, c, expected] : cases)
        EXPECT_EQ(expected, bound(text, &context)->eval(Cb::FrameTime(), c, 0)) << text << " " << c;
}

TEST_F(QelContextTest, ReferencesResolveOncePerComponentShiftTimeAndKeepTheirReferrers) {
    testsupport::CaptureStderr capture;
    EXPECT_EQ(kInvalid, messageOf([] { stringValue("@'Body.value'(time-1)"); }));
    EXPECT_EQ("", capture.finish());  // on the global context, silently

    TableContext context;
    context.define("a", "time * 2 + vec(10, 20, 30)");
    NodePtr now = bound("@'a'", &context);
    NodePtr then = bound("@'a'(time - 1)", &context);
    EXPECT_EQ(16.0f, at(*now, 3.0));
    EXPECT_EQ(14.0f, at(*then, 3.0));
    EXPECT_EQ(26.0f, at(*now, 3.0, 1));
    EXPECT_EQ(16.0f, at(*now, 3.0));
    EXPECT_EQ(3, context.resolveCalls);  // "now" twice (components 0, 1), "then" once
    EXPECT_EQ(3, context.targets["a"]->referrerCount());
    EXPECT_EQ(Cb::QelContext::global(), then->child(1)->context());  // operands keep their own context

    // The target dies: the references forget it and resolve again.
    context.define("b", "5");
    NodePtr sum = bound("@'b' + @'b'", &context);
    EXPECT_EQ(10.0f, at(*sum, 0.0));
    context.targets["b"].reset();
    EXPECT_EQ(nullptr, static_cast<Cbp::QelRef*>(sum->child(0))->target(0));
    context.define("b", "7");
    EXPECT_EQ(14.0f, at(*sum, 0.0));
    // The references die: they leave the target's list.
    Cbp::QelNode* target = context.targets["b"].get();
    EXPECT_EQ(2, target->referrerCount());
    sum.reset();
    EXPECT_EQ(0, target->referrerCount());
    Cbp::QelRef stranger;
    EXPECT_EQ("clearRefferingNode failed", messageOf([&] { target->removeReferrer(&stranger); }));
    // Binding to another context drops the targets found through the old one.
    NodePtr again = bound("@'b'", &context);
    EXPECT_EQ(7.0f, at(*again, 0.0));
    again->bind(Cb::QelContext::global());
    EXPECT_EQ(0, target->referrerCount());
    EXPECT_EQ(kInvalid, messageOf([&] { at(*again, 0.0); }));
}

TEST_F(QelContextTest, ResolutionFailuresAreLoggedCyclesDetectedAndFailuresDoNotStick) {
    TableContext context;
    NodePtr boom = bound("@'boom'", &context);
    testsupport::CaptureStderr capture;
    EXPECT_EQ(kInvalid, messageOf([&] { at(*boom, 0.0); }));
    EXPECT_EQ("***** CORIX ERROR: QEL Error: no value 'boom' here\n", capture.finish());

    context.define("a", "@'b' + 1");
    context.define("b", "@'a' * 2");
    NodePtr start = bound("@'a'", &context);
    EXPECT_EQ(kCycle, messageOf([&] { at(*start, 0.0); }));
    context.define("self", "@'self'");
    EXPECT_EQ(kCycle, messageOf([&] { at(*context.targets["self"], 0.0); }));
    // The time operand is evaluated inside the visit (binding a reference
    // leaves its operands where they were, so they are bound here by hand).
    context.define("c", "@'d'(@'c')");
    context.define("d", "time");
    NodePtr timed = bound("@'c'", &context);
    EXPECT_EQ(kInvalid, messageOf([&] { at(*timed, 0.0); }));
    context.targets["c"]->child(1)->bind(&context);
    EXPECT_EQ(kCycle, messageOf([&] { at(*timed, 0.0); }));
    NodePtr shifted = bound("@'d'(@'d' + 2)", &context);
    shifted->child(1)->bind(&context);
    EXPECT_EQ(5.0f, at(*shifted, 3.0));

    // A failed target evaluation leaves no flag behind.
    context.define("outer", "@'inner' + 1");
    NodePtr outer = bound("@'outer'", &context);
    EXPECT_EQ(kInvalid, messageOf([&] { at(*outer, 0.0); }));
    context.define("inner", "41");
    EXPECT_EQ(42.0f, at(*outer, 0.0));
    // Slots past the flags still catch cycles, and still evaluate.
    EXPECT_EQ(kCycle, messageOf([&] { at(*start, 0.0, 0, 5000); }));
    EXPECT_EQ(42.0f, at(*outer, 0.0, 0, 5000));
    EXPECT_EQ(42.0f, at(*outer, 0.0, 0, -3));

    const std::tuple<const char*, const char*, bool> refers[] = {
        {"@'a' + 1", "a", true},   {"@'a' + 1", "b", false}, {"sin(@\"Body.value\")", "Body.value", true},
        {"@'x'(@'b')", "b", true}, {"'a'", "a", false}};
    for (const auto& [text, name, expected] : refers) EXPECT_EQ(expected, parse(text)->refersTo(name)) << text;
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
