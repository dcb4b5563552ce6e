#pragma once
// ztd: the plain-data view of a body that shapes export through
// Shape::pushZtdBody, for code that reads simulation data without the
// object model (samplers, exporters). It owns nothing but names: every
// channel points at the storage of a channel that stays owned by its shape,
// so a ztd::body is valid while the shapes it was filled from live unchanged.

#include <string>
#include <vector>

namespace zt {
class block3_array_base;
}

namespace ztd {

// One named channel: its element type code (Cb::TypeCode) and its data.
struct channel {
    std::string name;
    int typeCode = -1;
    // Particle channels: the blocks, one per tile, in memory.
    const zt::block3_array_base* blocks = nullptr;
};

struct shape {
    std::string name;
    std::vector<channel> channels;

    // The channel of that name, or null.
    channel* find(const std::string& channelName);
    const channel* find(const std::string& channelName) const;
    // The channel of that name, appended (with no data yet) when missing.
    channel& require(const std::string& channelName);
};

struct body {
    std::string name;
    shape particles{"Particle", {}};
};

}  // namespace ztd
