#include "cb/model/ChannelRegistry.h"

#include "cb/Log.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpReader.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// First version whose channel records carry the stored count and statistics.
constexpr int32_t kStatisticsVersion = 12;

[[noreturn]] void unknownChannelType(const std::string& typeName) {
    throw ztx::base(zt::cat("Unknown channel type: '", typeName, "'"));
}

}  // namespace

ChannelCreateTable& channelCreateTable() {
    static ChannelCreateTable table;
    return table;
}

ChannelTestTable& channelTestTable() {
    static ChannelTestTable table;
    return table;
}

void registerChannelType(const std::string& typeName, ChannelCreateFn create, ChannelTestFn test) {
    if (channelTestTable().count(typeName) || channelCreateTable().count(typeName)) {
        logWarning(zt::cat("Skipping channel type '", typeName, "': already registered."));
        return;
    }
    channelTestTable()[typeName] = test;
    if (create) channelCreateTable()[typeName] = create;
}

void releaseChannelTypes() {
    channelCreateTable().clear();
    channelTestTable().clear();
}

Channel* createChannel(const std::string& typeName) {
    const auto found = channelCreateTable().find(typeName);
    if (found == channelCreateTable().end() || !found->second) unknownChannelType(typeName);
    return found->second();
}

bool isChannelType(const Channel* channel, const std::string& typeName) {
    const auto found = channelTestTable().find(typeName);
    if (found == channelTestTable().end() || !found->second) unknownChannelType(typeName);
    return found->second(channel);
}

CbRefPtr<Channel> readChannel(ZtpReader& reader) {
    ZtpInput& in = reader.stream();
    const int64_t start = in.tell();
    const String typeName = readString(in);
    const String name = readString(in);
    CbRefPtr<Channel> handle(createChannel(typeName));
    handle->setName(name);
    if (reader.version() < kStatisticsVersion) {
        handle->setStoredStatistics(0, {}, {}, {});
    } else {
        const uint64_t count = in.readU64();
        const zt::vec3f min = in.readVec3f();
        const zt::vec3f max = in.readVec3f();
        const zt::vec3f mean = in.readVec3f();
        handle->setStoredStatistics(count, min, max, mean);
    }
    const int64_t data = in.tell();
    handle->read(reader);
    handle->setRecordSpan(start, data, in.tell() - start);
    return handle;
}

}  // namespace Cb
