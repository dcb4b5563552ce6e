// References: per-component targets resolved once through the context under
// one process-wide lock, and per-thread visiting flags that catch cycles.
#include <mutex>

#include "QelEvalHelpers.h"
#include "cb/Log.h"
#include "cb/ThreadCount.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNodes.h"
#include "zt/ztx.h"

namespace Cbp {

using Cb::FrameTime;

namespace {

std::mutex g_resolveMutex;

// References being evaluated on this thread under a slot the flags do not
// cover: cycles are still caught, by the thread rather than by the slot.
thread_local std::vector<const QelRef*> t_unslottedVisits;

}  // namespace

// Marks the reference as being evaluated on a slot for the scope, also when
// the evaluation fails, so one failure does not poison later evaluations.
class QelRef::Visit {
public:
    Visit(QelRef& ref, int thread) : ref_(ref), flag_(ref.flagOf(thread)) {
        if (flag_ ? *flag_ != 0 : listed()) throw ztx::base("Cyclic reference expression detected");
    }
    void begin() {
        if (flag_)
            *flag_ = 1;
        else
            t_unslottedVisits.push_back(&ref_);
        begun_ = true;
    }
    ~Visit() {
        if (!begun_) return;
        if (flag_)
            *flag_ = 0;
        else
            t_unslottedVisits.pop_back();
    }
    Visit(const Visit&) = delete;
    Visit& operator=(const Visit&) = delete;

private:
    bool listed() const {
        for (const QelRef* r : t_unslottedVisits)
            if (r == &ref_) return true;
        return false;
    }

    QelRef& ref_;
    uint8_t* flag_;
    bool begun_ = false;
};

QelRef::QelRef() : visiting_(size_t(Cb::threadSlots()) + 1, 0) {
    for (auto& target : targets_) target.store(nullptr, std::memory_order_relaxed);
}

QelRef::~QelRef() { releaseTargets(); }

void QelRef::releaseTargets() {
    for (auto& slot : targets_) {
        QelNode* target = slot.exchange(nullptr, std::memory_order_acq_rel);
        if (!target) continue;
        try {
            target->removeReferrer(this);
        } catch (const std::exception& e) {
            Cb::logError(e.what());
        }
    }
}

void QelRef::bind(Cb::QelContext* context) {
    // Targets found through another context may name other objects.
    if (context != context_) releaseTargets();
    context_ = context;
    visiting_.assign(size_t(Cb::threadSlots()) + 1, 0);
}

uint8_t* QelRef::flagOf(int thread) {
    return thread >= 0 && size_t(thread) < visiting_.size() ? &visiting_[size_t(thread)] : nullptr;
}

void QelRef::forgetTarget(const QelNode* target) {
    for (auto& slot : targets_) {
        QelNode* expected = const_cast<QelNode*>(target);
        slot.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }
}

QelNode* QelRef::target(int component) const {
    return detail::isAxis(component) ? targets_[component].load(std::memory_order_acquire) : nullptr;
}

QelNode* QelRef::resolvedTarget(const FrameTime& t, int c, int k) {
    QelNode* node = targets_[c].load(std::memory_order_acquire);
    if (!node) {
        std::lock_guard<std::mutex> lock(g_resolveMutex);
        node = targets_[c].load(std::memory_order_acquire);
        if (!node && context_) {
            try {
                std::string name;
                child(0)->evalString(name, t, c, k);
                node = context_->resolveReference(name, c, this);
                if (node) {
                    node->addReferrer(this);
                    targets_[c].store(node, std::memory_order_release);
                }
            } catch (const std::exception& e) {
                Cb::logError(std::string("QEL Error: ") + e.what());
                node = targets_[c].load(std::memory_order_acquire);
            }
        }
    }
    if (!node) throw ztx::base("Internal QEL Error: Invalid Reference");
    return node;
}

FrameTime QelRef::shiftedTime(const FrameTime& t, int c, int k) const {
    FrameTime shifted = t;
    // The operand gives the absolute time, not an offset.
    if (childCount() > 1 && child(1)) shifted.time = double(child(1)->eval(t, c, k));
    return shifted;
}

float QelRef::eval(const FrameTime& t, int c, int k) {
    if (!detail::isAxis(c)) return 0.0f;
    Visit visit(*this, k);
    QelNode* node = resolvedTarget(t, c, k);
    visit.begin();
    return node->eval(shiftedTime(t, c, k), c, k);
}

void QelRef::evalString(std::string& out, const FrameTime& t, int c, int k) {
    if (!detail::isAxis(c)) {
        out = formatFloat(0.0f);
        return;
    }
    Visit visit(*this, k);
    QelNode* node = resolvedTarget(t, c, k);
    visit.begin();
    node->evalString(out, shiftedTime(t, c, k), c, k);
}

bool QelRef::refersTo(const std::string& name) {
    std::string own;
    child(0)->evalString(own, FrameTime(), 0, 0);
    if (own == name) return true;
    return childCount() > 1 && child(1) && child(1)->refersTo(name);
}

}  // namespace Cbp
