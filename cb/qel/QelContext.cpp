// The context's own state, its hooks and the global context. Everything that
// reads a body, shape, channel or layout lives in QelContextBody.cpp.
#include "cb/qel/QelContext.h"

#include <atomic>
#include <memory>

#include "cb/Log.h"
#include "cb/ThreadCount.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {
std::atomic<QelContext*> g_global{nullptr};
}

QelContext::QelContext(Body* body, const std::string& shapeName, const FrameTime& time)
    : name_(shapeName), body_(body), time_(time) {
    resolve();
    if (body_) attachBody();
}

QelContext::~QelContext() {
    if (registered_ && body_) detachBody();
}

void QelContext::setTime(const FrameTime& time, bool push) {
    time_ = time;
    if (body_) rebindBody(push);
}

void QelContext::release(bool pop) {
    if (body_) releaseBody(pop);
}

Cbp::QelNode* QelContext::resolveReference(const std::string&, int, Cbp::QelRef*) { return nullptr; }

int QelContext::fieldOpIndex(const std::string&) { return -1; }

float QelContext::sampleFieldOp(int, const zt::vec3f&, int, const FrameTime&, int) { return 0.0f; }

void QelContext::resolve() {
    const size_t slots = size_t(2 * Cb::threadSlots());
    currentElement_.resize(slots, 0);
    elementArg_.resize(slots, 1);
    explicitPosition_.resize(slots, zt::vec3f{});
    shape_ = nullptr;
    positionChannel_ = nullptr;
    auxChannel_ = nullptr;
    layout_ = nullptr;
    if (body_) resolveFromBody();
}

void QelContext::checkSlot(int thread) const {
    if (thread < 0 || thread >= threadSlots())
        throw ztx::base(zt::cat("QEL context error: thread slot ", thread, " out of range"));
}

uint64_t QelContext::elementOf(int thread) const {
    checkSlot(thread);
    return currentElement_[size_t(thread)];
}

zt::vec3f QelContext::position(int thread) const {
    if (positionOverride_[0] || positionOverride_[1]) {
        checkSlot(thread);
        return explicitPosition_[size_t(thread)];
    }
    if (!shape_) return zt::vec3f{0.0f, 0.0f, 0.0f};
    return derivedPosition(thread);
}

float QelContext::unboundVoxelSize() {
    Cb::logError("Voxel-size evaluation of unbound QEL expression");
    return 1.0f;
}

float QelContext::voxelSize() const { return layout_ ? layoutVoxelSize() : unboundVoxelSize(); }

Channel* QelContext::channel(const std::string& name) const { return shape_ ? shapeChannel(name) : nullptr; }

Channel* QelContext::channel(const std::string& shapeName, const std::string& channelName) const {
    return body_ ? bodyChannel(shapeName, channelName) : nullptr;
}

std::string QelContext::bodyName() const { return body_ ? nameOfBody() : std::string(); }

std::string QelContext::mapChannelName(const std::string& name) {
    static const struct {
        const char* legacy;
        const char* current;
    } kNames[] = {{"fluidDistance", "fluid-distance"},
                  {"solidDistance", "solid-distance"},
                  {"solidVelocity", "solid-velocity"},
                  {"particleCount", "particle-count"},
                  {"expansionRate", "expansion-rate"}};
    for (const auto& n : kNames)
        if (name == n.legacy) return n.current;
    return name;
}

QelContext* QelContext::global() { return g_global.load(std::memory_order_acquire); }

void QelContext::createGlobal() {
    if (global()) return;
    auto context = std::make_unique<QelContext>(nullptr, "", FrameTime());
    g_global.store(context.release(), std::memory_order_release);
}

void QelContext::destroyGlobal() { delete g_global.exchange(nullptr, std::memory_order_acq_rel); }

}  // namespace Cb
