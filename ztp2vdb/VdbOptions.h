#pragma once
// The command line of ztp2vdb: which bodies and channels of a ZTP file become
// which grids of the OpenVDB file.

#include <string>
#include <vector>

struct VdbOptions {
    std::string input;
    std::string output;
    // Globs over body names (`*` any run, `?` one character); empty: every body.
    std::vector<std::string> bodies;
    // ZTP channel names; empty: every channel.
    std::vector<std::string> channels;
    bool fields = true;
    bool points = true;
    // Leave out the coarse tiles: their field values and the particles in their blocks.
    bool fineOnly = false;
    // Convert the bodies read before a damaged body record instead of failing.
    bool partial = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. False with `error` set (the
// program's name leading) for an unknown option, a missing value or a wrong
// number of files; --help and --version need no files.
bool parseVdbOptions(int argc, const char* const* argv, VdbOptions& options, std::string& error);

// The --help text.
std::string vdbUsage();

// Whether `name` matches the glob as a whole.
bool globMatches(const std::string& glob, const std::string& name);
bool bodySelected(const VdbOptions& options, const std::string& name);
bool channelSelected(const VdbOptions& options, const std::string& name);
