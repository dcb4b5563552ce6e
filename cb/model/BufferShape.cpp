#include "cb/model/BufferShape.h"

#include "cb/model/BufferChannel.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

int64_t BufferShape::size() const { return channels_.empty() ? 0 : int64_t(channels_.front()->size()); }

bool BufferShape::empty() const { return channels_.empty() || channels_.front()->empty(); }

void BufferShape::adoptMaster(const Shape& other) {
    const ChannelHandle& theirs = other.channel(masterName());
    const int mine = indexOf(masterName());
    if (mine < 0)
        channels_.insert(channels_.begin(), theirs);
    else
        channels_[size_t(mine)] = theirs;
    syncChannels();
}

void BufferShape::syncChannels() {
    const int m = indexOf(masterName());
    if (m < 0) return;
    const Channel& master = *channels_[size_t(m)];
    const uint64_t count = master.size();
    for (size_t i = 0; i < channels_.size(); ++i) {
        if (int(i) == m) continue;
        const Channel& channel = *channels_[i];
        if (!dynamic_cast<const BufferChannelBase*>(&channel))
            throw ztx::base(zt::cat("Cannot keep channel '", channel.name(), "' (", channel.typeName(), ") of ",
                                    name_, "-Shape at the element count of '", master.name(),
                                    "': not a buffer channel"));
        if (channel.size() == count) continue;
        static_cast<BufferChannelBase*>(channels_[i].mutableGet())->resizeLike(master);
    }
}

template <class T>
Channel* BufferShape::addChannel(const std::string& name, const T& defaultValue) {
    ChannelHandle handle(new BufferChannel<T>(defaultValue));
    handle->setName(name);
    return appendChannel(std::move(handle));
}

Channel* BufferShape::createChannel1f(const std::string& name, float defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel1i(const std::string& name, int defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel1i64(const std::string& name, int64_t defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel2i(const std::string& name, const zt::vec2i& defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel3f(const std::string& name, const zt::vec3f& defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel3i(const std::string& name, const zt::vec3i& defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::createChannel4i(const std::string& name, const zt::vec4i& defaultValue) {
    return addChannel(name, defaultValue);
}

Channel* BufferShape::masterChannel() const {
    const int m = indexOf(masterName());
    return m < 0 ? nullptr : channels_[size_t(m)].get();
}

std::string BufferShape::positionSource() const { return "Point.position"; }

Md5Digest BufferShape::masterDigest() const {
    if (indexOf(masterName()) < 0) return md5Of(nullptr, 0);
    const BufferChannelBase* master = channelAs<BufferChannelBase>(masterName());
    return md5Of(master->rawData(), size_t(master->size()) * master->elementBytes());
}

void BufferShape::resizeElements(int64_t n) {
    mutableChannelAs<BufferChannelBase>(zt::cat(name_, ".", masterName()))->resize(n);
    syncChannels();
}

}  // namespace Cb
