#pragma once
// Where a grid comes from, and the metadata every grid carries about it.

#include <openvdb/Grid.h>

#include <functional>
#include <string>

// The body a grid is made from.
struct GridOrigin {
    std::string body;
    std::string bodyType;
    double time = 0.0;
};

// Receives each grid as soon as it is built, and may release it at once.
using GridSink = std::function<void(openvdb::GridBase::Ptr)>;

// Names the grid `<body>/<name>` and sets ztp_body, ztp_body_type, ztp_time
// and, when given, ztp_channel (the channel's ZTP name).
void describeGrid(openvdb::GridBase& grid, const GridOrigin& origin, const std::string& name,
                  const std::string& channel);

// Hands memory freed so far back to the system. Called between channels:
// blocks freed by other threads (TBB's workers, the library's loading
// threads) otherwise stay in those threads' heaps and add to the peak.
void releaseFreedMemory();
