#pragma once
// The conversion driver of ztp2vdb: reads the ZTP file's bodies, turns the
// selected field channels and particle shapes into grids one at a time and
// writes each as soon as it is made (see VdbFile.h).

#include <cstdint>
#include <string>
#include <vector>

#include "VdbOptions.h"

struct GridSummary {
    std::string name;
    std::string type;  // "float", "vec3s", "int32", "int64" or "points"
    int64_t activeVoxels = 0;
    int64_t points = 0;
};

struct VdbSummary {
    std::vector<GridSummary> grids;
    int64_t activeVoxels() const;
    int64_t points() const;
};

// One conversion. True when the whole output file was written; otherwise
// the reason has been printed on standard error and no output file exists
// (a file already at the output path is left as it was).
bool convertToVdb(const VdbOptions& options, VdbSummary& summary);

// The summary lines for standard output.
std::string describeSummary(const VdbSummary& summary, const std::string& output);

// The command line; returns the exit code.
int runZtp2Vdb(int argc, char** argv);
