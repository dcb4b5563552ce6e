#pragma once
// Cbp::QelNode: the base of every node of a parsed QEL expression tree. A node
// owns its children (slots may be null), knows the context it is bound to and
// the references that resolved to it.

#include <cstdint>
#include <string>

#include "cb/qel/FrameTime.h"
#include "zt/array1.h"
#include "zt/vec.h"

namespace Cb {
class QelContext;
}

namespace Cbp {

class QelRef;

// A float as the standard stream writes it by default ("0.5", "1e+06").
std::string formatFloat(float value);

class QelNode {
public:
    // Bound to the global context (null before start-up).
    QelNode();
    // Clears every referrer's resolved targets, then destroys the children.
    virtual ~QelNode();
    QelNode(const QelNode&) = delete;
    QelNode& operator=(const QelNode&) = delete;

    // Stores the context and binds every non-null child.
    virtual void bind(Cb::QelContext* context);
    virtual float eval(const Cb::FrameTime& t, int component, int thread) = 0;
    // eval, then the float in the standard stream's default formatting.
    virtual void evalString(std::string& out, const Cb::FrameTime& t, int component, int thread);
    // eval clamped to [min, max], then formatted as evalString.
    virtual void evalClampedString(std::string& out, const Cb::FrameTime& t, float min, float max, int component,
                                   int thread);
    // The value at a position; nodes that do not sample ignore it.
    virtual float evalAt(const zt::vec3f& position, const Cb::FrameTime& t, int component, int thread);
    // True when any non-null child refers to `name`.
    virtual bool refersTo(const std::string& name);
    // True only for the numeric constants.
    virtual bool isConstant() const;
    // The node class name without namespace ("QelPlus"), for diagnostics and tests.
    virtual const char* className() const = 0;

    QelNode* parent() const { return parent_; }
    int64_t childCount() const { return children_.count(); }
    QelNode* child(int64_t i) const { return children_[i]; }
    // Appends a child (may be null) and makes this node its parent. Takes
    // ownership of the child even when growing the array fails.
    void addChild(QelNode* child);
    Cb::QelContext* context() const { return context_; }

    // Reference bookkeeping (a reference that resolved to this node).
    void addReferrer(QelRef* ref);
    // Throws "clearRefferingNode failed" when `ref` is not listed.
    void removeReferrer(QelRef* ref);

    // Number of references listed as resolved to this node.
    int64_t referrerCount() const { return referrers_.count(); }

protected:
    // Child i's value; the child must exist.
    float operand(int64_t i, const Cb::FrameTime& t, int component, int thread) const {
        return children_[i]->eval(t, component, thread);
    }

    QelNode* parent_ = nullptr;
    zt::array1<QelNode*> children_;
    Cb::QelContext* context_ = nullptr;
    zt::array1<QelRef*> referrers_;
    bool ownsChildren_ = true;
};

}  // namespace Cbp
