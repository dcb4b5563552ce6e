// The context without a body, and what derived contexts plug in: references
// with their cache, referrer lists and cycle checks, field operations, and
// binding of the channel nodes.
#include <omp.h>

#include <algorithm>
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

NodePtr bound(const std::string& text, Cb::QelContext* context) {
    NodePtr node = parse(text);
    node->bind(context);
    return node;
}

// A context that resolves references from a table of trees and knows one
// field operation, "blur", whose value encodes its arguments.
class TableContext : public Cb::QelContext {
public:
    TableContext() : QelContext(nullptr, "", Cb::FrameTime()) {}

    Cbp::QelNode* resolveReference(const std::string& name, int, Cbp::QelRef*) override {
        ++resolveCalls;
        if (name == "boom") throw ztx::base("no value 'boom' here");
        return targets.count(name) ? targets[name].get() : nullptr;
    }
    int fieldOpIndex(const std::string& name) override { return name == "blur" ? 4 : -1; }
    float sampleFieldOp(int index, const zt::vec3f& p, int component, const Cb::FrameTime& t, int) override {
        return float(index) * 1000.0f + p[0] * 100.0f + p[1] * 10.0f + p[2] + float(component) * 0.25f + t.frame;
    }
    void define(const std::string& name, const std::string& text) { targets[name] = bound(text, this); }

    std::map<std::string, NodePtr> targets;
    int resolveCalls = 0;
};

float at(Cbp::QelNode& node, double time, int c = 0, int k = 0) { return node.eval({.time = time}, c, k); }

TEST_F(QelContextTest, ContextWithoutABodySlotsPositionsAndChannelNames) {
    Cb::QelContext context(nullptr, "Particle", {});
    EXPECT_EQ("QEL context error: thread slot -1 out of range", messageOf([&] { context.elementOf(-1); }));
    // Explicit positions count only while overridden, and only in range.
    NodePtr pos = bound("posx + 10 * posy + 100 * posz", &context);
    context.setExplicitPosition(1, zt::vec3f{1.5f, -2.0f, 3.0f});
    EXPECT_EQ(0.0f, pos->eval({}, 0, 1));
    context.setPositionOverride(true);
    EXPECT_EQ(281.5f, pos->eval({}, 0, 1));
    EXPECT_EQ("QEL context error: thread slot 100000 out of range", messageOf([&] { pos->eval({}, 0, 100000); }));
    // Legacy channel names are mapped, case-sensitively; without a shape channel nodes bind to nothing.
    for (const auto& [from, to] : {std::pair{"fluidDistance", "fluid-distance"}, {"solidDistance", "solid-distance"},
                                   {"solidVelocity", "solid-velocity"}, {"particleCount", "particle-count"},
                                   {"expansionRate", "expansion-rate"}, {"FluidDistance", "FluidDistance"}})
        EXPECT_EQ(to, Cb::QelContext::mapChannelName(from));
    EXPECT_EQ(0.0f, bound(".fluidDistance", &context)->eval({}, 0, 0));
    // Slots, two per worker, follow the thread count when the context resolves again.
    const int runtimeThreads = omp_get_max_threads();
    Cb::applyLibraryThreadCount(3);
    context.resolve();
    EXPECT_GE(context.threadSlots(), 6);
    Cb::applyLibraryThreadCount(1);
    // Reference visiting flags cover every OpenMP worker, not just the library's count.
    omp_set_num_threads(5);
    EXPECT_GE(Cbp::QelRef().visitingSlots(), 5);
    omp_set_num_threads(runtimeThreads);
}

TEST_F(QelContextTest, FieldOperationsGoThroughTheContext) {
    TableContext context;
    EXPECT_EQ(4321.0f, bound(":'blur'", &context)->evalAt(zt::vec3f{3, 2, 1}, Cb::FrameTime(), 0, 0));
    // Central differences over the sampled operation, one cell wide; curl x
    // = d(a_z)/dy - d(a_y)/dz, and so on around.
    testsupport::CaptureStderr capture;
    const std::tuple<const char*, int, float> cases[] = {
        {":'blur'", 0, 4000.5f},       {":'blur'(vec(1, 2, 3))", 3, 4124.25f}, {":'sharpen'", 0, 0},
        {"grad(:'blur')", 0, 100},     {"grad(:'blur')", 1, 10},               {"grad(:'blur')", 2, 1},
        {"curl(:'blur')", 0, 10 - 1},  {"curl(:'blur')", 1, 1 - 100},          {"curl(:'blur')", 2, 100 - 10},
        {"curv(:'blur')", 0, 0}};
    for (const auto& [text, c, expected] : cases)
        EXPECT_EQ(expected, bound(text, &context)->eval(atFrame(0.5f), c, 0)) << text << " " << c;
}

TEST_F(QelContextTest, ReferencesResolveOncePerComponentShiftTimeAndKeepTheirReferrers) {
    testsupport::CaptureStderr capture;
    EXPECT_EQ(kInvalid, messageOf([] { value("@'Body.value'(time-1)"); }));
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

    // A target that dies is forgotten and resolved again.
    context.define("a", "7");
    EXPECT_EQ(7.0f, at(*now, 3.0));
    EXPECT_EQ(7.0f, at(*then, 3.0));
    Cbp::QelNode* target = context.targets["a"].get();
    EXPECT_EQ(2, target->referrerCount());
    // References that die, or are bound to another context, leave the target's list.
    then.reset();
    EXPECT_EQ(1, target->referrerCount());
    now->bind(Cb::QelContext::global());
    EXPECT_EQ(0, target->referrerCount());
    EXPECT_EQ(kInvalid, messageOf([&] { at(*now, 0.0); }));
    Cbp::QelRef stranger;
    EXPECT_EQ("clearRefferingNode failed", messageOf([&] { target->removeReferrer(&stranger); }));
}

TEST_F(QelContextTest, ResolutionFailuresAreLoggedCyclesDetectedAndFailuresDoNotStick) {
    TableContext context;
    testsupport::CaptureStderr capture;
    EXPECT_EQ(kInvalid, messageOf([&] { at(*bound("@'boom'", &context), 0.0); }));
    EXPECT_EQ("***** CORIX ERROR: QEL Error: no value 'boom' here\n", capture.finish());

    context.define("a", "@'b' + 1");
    context.define("b", "@'a' * 2");
    NodePtr start = bound("@'a'", &context);
    EXPECT_EQ(kCycle, messageOf([&] { at(*start, 0.0); }));
    // The time operand is evaluated inside the visit (binding a reference
    // leaves its operands where they were, so they are bound here by hand).
    context.define("c", "@'d'(@'c')");
    context.define("d", "time");
    context.targets["c"]->child(1)->bind(&context);
    EXPECT_EQ(kCycle, messageOf([&] { at(*context.targets["c"], 0.0); }));
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

// Two threads evaluate one tree: the reference is resolved once, the values
// match a serial evaluation, and the rand() calls share one counter, so every
// value of the sequence is taken exactly once.
TEST_F(QelContextTest, ParallelEvaluationResolvesOnceMatchesSerialAndTakesEachRandomValueOnce) {
    TableContext context;
    context.define("a", "time + 1");
    NodePtr tree = bound("@'a' * 2 + clamp(sin(time) * 2 + noise(time), 0, 1) + ~3[0:0 10:5 20:1]", &context);
    NodePtr rand = parse("rand()");
    const int n = 4000;
    std::vector<float> parallel(n), randoms(n), expected(n);
    const uint32_t first = Cbp::QelRand::nextSeed();
    zt::parallel_errors errors;
#pragma omp parallel for num_threads(2) schedule(dynamic, 64)
    for (int i = 0; i < n; ++i)
        errors.capture([&] {
            parallel[size_t(i)] = at(*tree, double(i) * 0.003, 0, omp_get_thread_num());
            randoms[size_t(i)] = rand->eval(Cb::FrameTime(), 0, omp_get_thread_num());
        });
    errors.rethrow();
    EXPECT_EQ(1, context.resolveCalls);
    EXPECT_EQ(1, context.targets["a"]->referrerCount());
    for (int i = 0; i < n; ++i) ASSERT_EQ(at(*tree, double(i) * 0.003), parallel[size_t(i)]) << i;
    for (int i = 0; i < n; ++i) expected[size_t(i)] = Cbp::QelRand::valueOf(first + uint32_t(i));
    std::sort(randoms.begin(), randoms.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, randoms);
}

}  // namespace
