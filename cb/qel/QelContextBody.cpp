// The half of QelContext that reads the body model: shape, channels and
// layout of a body, the body's context stack, positions of elements and
// voxels. Until the model is built no context over a body can exist: the
// constructor refuses every body, so the shape, channels and layout stay
// null and the paths below are never reached through the public interface.
#include "cb/qel/QelContext.h"

#include "zt/ztx.h"

namespace Cb {

namespace {
[[noreturn]] void bodyModelMissing() { throw ztx::base("QEL context over a body is not available yet"); }
}  // namespace

void QelContext::resolveFromBody() { bodyModelMissing(); }

void QelContext::attachBody() { bodyModelMissing(); }

// attachBody never succeeds yet, so no body's stack holds this context.
void QelContext::detachBody() {}

void QelContext::rebindBody(bool) { bodyModelMissing(); }

void QelContext::releaseBody(bool) { bodyModelMissing(); }

zt::vec3f QelContext::derivedPosition(int) const { bodyModelMissing(); }

float QelContext::layoutVoxelSize() const { bodyModelMissing(); }

Channel* QelContext::shapeChannel(const std::string&) const { bodyModelMissing(); }

Channel* QelContext::bodyChannel(const std::string&, const std::string&) const { bodyModelMissing(); }

std::string QelContext::nameOfBody() const { bodyModelMissing(); }

}  // namespace Cb
