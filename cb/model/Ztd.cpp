#include "cb/model/Ztd.h"

namespace ztd {

channel* shape::find(const std::string& channelName) {
    for (channel& c : channels)
        if (c.name == channelName) return &c;
    return nullptr;
}

const channel* shape::find(const std::string& channelName) const {
    for (const channel& c : channels)
        if (c.name == channelName) return &c;
    return nullptr;
}

channel& shape::require(const std::string& channelName) {
    if (channel* c = find(channelName)) return *c;
    channels.push_back(channel{channelName, -1, nullptr});
    return channels.back();
}

}  // namespace ztd
