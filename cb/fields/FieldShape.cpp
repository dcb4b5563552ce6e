#include "cb/fields/FieldShape.h"

#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldSpecialChannels.h"
#include "zt/ztx.h"

namespace Cb {

FieldShape::FieldShape(bool) : Shape("Field") {}

Shape* FieldShape::clone() const { return new FieldShape(*this); }

int64_t FieldShape::size() const { return channels_.empty() ? 0 : int64_t(channels_.front()->size()); }

bool FieldShape::empty() const { return channels_.empty() || channels_.front()->empty(); }

void FieldShape::adoptMaster(const Shape&) {}

Channel* FieldShape::add(Channel* channel, const std::string& name) {
    ChannelHandle handle(channel);
    handle->setName(name);
    return appendChannel(std::move(handle));
}

Channel* FieldShape::createChannel1f(const std::string& name, float defaultValue) {
    const std::string part = channelPart(name);
    if (part == "fluid-distance") return add(new FieldChannelFluidDistance(), part);
    if (part == "solid-distance") return add(new FieldChannelSolidDistance(), part);
    if (part == "particle-count") return add(new FieldChannelParticleCount(), part);
    return add(new FieldChannel1f(defaultValue), name);
}

Channel* FieldShape::createChannel1i(const std::string& name, int defaultValue) {
    return add(new FieldChannel1i(defaultValue), name);
}

Channel* FieldShape::createChannel1i64(const std::string& name, int64_t defaultValue) {
    return add(new FieldChannel1i64(defaultValue), name);
}

Channel* FieldShape::createChannel3f(const std::string& name, const zt::vec3f& defaultValue) {
    return add(new FieldChannel3f(defaultValue), name);
}

Channel* FieldShape::createChannel3i(const std::string&, const zt::vec3i&) {
    throw ztx::base("Cannot create field3i channel");
}

}  // namespace Cb
