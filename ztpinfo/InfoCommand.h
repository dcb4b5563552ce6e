#pragma once
// ztpinfo's command line: options, start-up, one report per file, exit code.

#include <string>
#include <vector>

#include "InfoReport.h"

namespace ztpinfo {

struct CommandLine {
    InfoOptions options;
    std::vector<std::string> files;
    bool help = false;
    bool version = false;
};

// False with `error` set for an unknown option or no file.
bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, std::string& error);

// 0 when every file was read whole, 1 otherwise (and for a bad command line).
int runInfo(int argc, char** argv);

}  // namespace ztpinfo
