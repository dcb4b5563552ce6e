#include "GridOrigin.h"

#include <malloc.h>

void describeGrid(openvdb::GridBase& grid, const GridOrigin& origin, const std::string& name,
                  const std::string& channel) {
    grid.setName(origin.body + "/" + name);
    grid.insertMeta("ztp_body", openvdb::StringMetadata(origin.body));
    grid.insertMeta("ztp_body_type", openvdb::StringMetadata(origin.bodyType));
    grid.insertMeta("ztp_time", openvdb::DoubleMetadata(origin.time));
    if (!channel.empty()) grid.insertMeta("ztp_channel", openvdb::StringMetadata(channel));
}

void releaseFreedMemory() { malloc_trim(0); }
