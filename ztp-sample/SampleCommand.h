#pragma once
// The command line of ztp-sample:
//   ztp-sample output_file particle_count [--seed N] [--raw]
//   ztp-sample --help | --version

#include <cstdint>
#include <cstdio>
#include <string>

namespace sample {

// The converter counts particles in 32 bits; a larger cache could not be
// converted.
constexpr int64_t kMaxParticles = 2000000000;
constexpr uint64_t kDefaultSeed = 1;

struct SampleOptions {
    std::string output;
    int64_t particles = 0;
    uint64_t seed = kDefaultSeed;
    bool compress = true;
    bool help = false;
    bool version = false;
};

// Reads the arguments after the program name. False with a message (no line
// end) for a wrong call.
bool parseSampleOptions(int argc, const char* const* argv, SampleOptions& options, std::string& error);

// The usage text: on standard output when asked for, on standard error after
// a wrong call.
void printSampleUsage(std::FILE* out, const char* program);

// The whole program: returns the exit code (0 written, 1 on any failure).
int runSample(int argc, char** argv);

}  // namespace sample
