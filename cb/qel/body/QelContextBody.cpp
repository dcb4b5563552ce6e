// The half of QelContext that reads the body model: shape, channels and
// layout of a body, the body's context stack, positions of elements and
// voxels.
#include "cb/model/Body.h"
#include "cb/model/Channel.h"
#include "cb/model/Shape.h"
#include "cb/qel/QelContext.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

void QelContext::resolveFromBody() {
    layout_ = &body_->layout();
    if (name_.empty() || !body_->hasShape(name_)) return;
    shape_ = body_->shape(name_).get();
    positionChannel_ = shape_->masterChannel();
    const std::string source = shape_->positionSource();
    if (source.find('.') != std::string::npos) {
        // Mesh shapes take positions from another shape of the body; a body
        // without that shape simply has none.
        const std::string kind = shapePart(source);
        if (body_->hasShape(kind)) auxChannel_ = body_->channel(source);
    } else if (!source.empty()) {
        const int i = shape_->indexOf(source);
        if (i >= 0) auxChannel_ = shape_->channel(i).get();
    }
}

void QelContext::attachBody() { body_->pushContext(this, true); }

void QelContext::detachBody() { body_->popContext(true); }

void QelContext::rebindBody(bool push) { body_->pushContext(this, push); }

void QelContext::releaseBody(bool pop) { body_->popContext(pop); }

zt::vec3f QelContext::derivedPosition(int thread) const {
    const int64_t index = int64_t(elementOf(thread));
    if (positionChannel_) return positionChannel_->position3f(index, auxChannel_);
    // Only the elements of a field are voxels of the layout.
    if (layout_ && shape_->name() == "Field") return layout_->positionOf(index, elementArg_[size_t(thread)]);
    throw ztx::base(
        zt::cat("QEL context error: Shape '", name_, "' has no way of deriving positional information"));
}

float QelContext::layoutVoxelSize() const { return layout_->cellSize(); }

Channel* QelContext::shapeChannel(const std::string& name) const {
    const int i = shape_->indexOf(mapChannelName(name));
    if (i < 0)
        throw ztx::base(zt::cat("QEL context error: Channel '", name, "' not found in ", shape_->name(), "-Shape"));
    return shape_->channel(i).get();
}

Channel* QelContext::bodyChannel(const std::string& shapeName, const std::string& channelName) const {
    if (!body_->hasShape(shapeName))
        throw ztx::base(zt::cat("QEL context error: Shape '", shapeName, "' not found."));
    const Shape& s = *body_->shape(shapeName);
    const int i = s.indexOf(mapChannelName(channelName));
    if (i < 0)
        throw ztx::base(
            zt::cat("QEL context error: Channel '", channelName, "' not found in ", shapeName, "-Shape"));
    return s.channel(i).get();
}

std::string QelContext::nameOfBody() const { return body_->name(); }

}  // namespace Cb
