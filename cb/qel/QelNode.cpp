#include "cb/qel/QelNode.h"

#include <sstream>

#include "cb/qel/QelContext.h"
#include "cb/qel/QelNodes.h"
#include "zt/ztx.h"

namespace Cbp {

std::string formatFloat(float value) {
    std::ostringstream os;
    os << value;
    return os.str();
}

QelNode::QelNode() : context_(Cb::QelContext::global()) {}

QelNode::~QelNode() {
    for (QelRef* ref : referrers_) ref->forgetTarget(this);
    if (ownsChildren_)
        for (QelNode* child : children_) delete child;
}

void QelNode::bind(Cb::QelContext* context) {
    context_ = context;
    for (QelNode* child : children_)
        if (child) child->bind(context);
}

void QelNode::evalString(std::string& out, const Cb::FrameTime& t, int component, int thread) {
    out = formatFloat(eval(t, component, thread));
}

void QelNode::evalClampedString(std::string& out, const Cb::FrameTime& t, float min, float max, int component,
                                int thread) {
    float value = eval(t, component, thread);
    if (value < min)
        value = min;
    else if (value > max)
        value = max;
    out = formatFloat(value);
}

float QelNode::evalAt(const zt::vec3f&, const Cb::FrameTime& t, int component, int thread) {
    return eval(t, component, thread);
}

bool QelNode::refersTo(const std::string& name) {
    for (QelNode* child : children_)
        if (child && child->refersTo(name)) return true;
    return false;
}

bool QelNode::isConstant() const { return false; }

void QelNode::addChild(QelNode* child) {
    try {
        children_.push_back(child);
    } catch (...) {
        delete child;
        throw;
    }
    if (child) child->parent_ = this;
}

void QelNode::addReferrer(QelRef* ref) { referrers_.push_back(ref); }

void QelNode::removeReferrer(QelRef* ref) {
    for (int64_t i = 0; i < referrers_.count(); ++i) {
        if (referrers_[i] == ref) {
            referrers_.erase(i);
            return;
        }
    }
    throw ztx::base("clearRefferingNode failed");
}

}  // namespace Cbp
