// Nodes that read channels and field operations of the context they are
// bound to. Channels are looked up while binding and cached until the next
// bind; unbound nodes give 0.
#include "../QelEvalHelpers.h"
#include "cb/model/Channel.h"
#include "cb/qel/QelContext.h"
#include "cb/qel/QelNodes.h"

namespace Cbp {

using Cb::FrameTime;

namespace {

// A name operand's text at the context's time.
std::string nameOf(QelNode* operand, const Cb::QelContext* context) {
    std::string name;
    operand->evalString(name, context ? context->time() : FrameTime(), 0, 0);
    return name;
}

// Where a sample is taken: the position operand (child `index`) when there is
// one, else the position of the element under evaluation.
zt::vec3f samplePosition(const QelNode& node, int64_t index, const FrameTime& t, int k) {
    QelNode* operand = node.childCount() > index ? node.child(index) : nullptr;
    if (!operand) return detail::positionOf(node.context(), k);
    zt::vec3f p{};
    for (int i = 0; i < 3; ++i) p[i] = operand->eval(t, i, k);
    return p;
}

float channelComponent(const Cb::Channel* channel, uint64_t index, int c) {
    return channel->component(int64_t(index), c);
}

float channelSample(const Cb::Channel* channel, const zt::vec3f& position, const Cb::QelContext* context,
                    int c) {
    return channel->sample(position, context->layout(), c);
}

}  // namespace

void QelImplicitChannelValue::bind(Cb::QelContext* context) {
    channel_ = nullptr;
    QelNode::bind(context);
    if (context) channel_ = context->channel(Cb::QelContext::mapChannelName(nameOf(child(0), context)));
}

float QelImplicitChannelValue::eval(const FrameTime&, int c, int k) {
    return channel_ ? channelComponent(channel_, context_->elementOf(k), c) : 0.0f;
}

float QelImplicitChannelValue::evalAt(const zt::vec3f& position, const FrameTime&, int c, int) {
    return channel_ ? channelSample(channel_, position, context_, c) : 0.0f;
}

void QelChannelSample::bind(Cb::QelContext* context) {
    channel_ = nullptr;
    sameShape_ = false;
    context_ = context;
    shapeName_ = nameOf(child(0), context);
    channelName_ = Cb::QelContext::mapChannelName(nameOf(child(1), context));
    if (context) {
        channel_ = context->channel(shapeName_, channelName_);
        sameShape_ = context->shape() && context->name() == shapeName_;
    }
    QelNode::bind(context);
}

float QelChannelSample::eval(const FrameTime& t, int c, int k) {
    if (!channel_) return 0.0f;
    if (sameShape_) return channelComponent(channel_, context_->elementOf(k), c);
    return channelSample(channel_, samplePosition(*this, 2, t, k), context_, c);
}

float QelChannelSample::evalAt(const zt::vec3f& position, const FrameTime&, int c, int) {
    return channel_ ? channelSample(channel_, position, context_, c) : 0.0f;
}

void QelFieldOpSample::bind(Cb::QelContext* context) {
    index_ = context ? context->fieldOpIndex(nameOf(child(0), context)) : -1;
    QelNode::bind(context);
}

float QelFieldOpSample::eval(const FrameTime& t, int c, int k) {
    if (index_ < 0) return 0.0f;
    return context_->sampleFieldOp(index_, samplePosition(*this, 1, t, k), c, t, k);
}

float QelFieldOpSample::evalAt(const zt::vec3f& position, const FrameTime& t, int c, int k) {
    return index_ < 0 ? 0.0f : context_->sampleFieldOp(index_, position, c, t, k);
}

}  // namespace Cbp
