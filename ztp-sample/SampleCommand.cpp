#include "SampleCommand.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>

#include "SampleCache.h"
#include "cb/Version.h"
#include "zt/cat.h"

namespace sample {

namespace {

// Plain decimal digits only: no sign, no blanks, no suffix, no overflow.
bool parseWhole(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = uint64_t(c - '0');
        if (v > (max - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

}  // namespace

bool parseSampleOptions(int argc, const char* const* argv, SampleOptions& options, std::string& error) {
    std::string positional[2];
    int positionals = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--raw") {
            options.compress = false;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--seed" || arg.rfind("--seed=", 0) == 0) {
            std::string text;
            if (arg == "--seed") {
                if (i + 1 >= argc) {
                    error = "ztp-sample: --seed needs a value";
                    return false;
                }
                text = argv[++i];
            } else {
                text = arg.substr(7);
            }
            if (!parseWhole(text, std::numeric_limits<uint64_t>::max(), options.seed)) {
                error = zt::cat("ztp-sample: the seed must be a whole number from 0 to ",
                                std::numeric_limits<uint64_t>::max(), ", not '", text, "'");
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = zt::cat("ztp-sample: unknown option '", arg, "'");
            return false;
        } else {
            if (positionals == 2) {
                error = zt::cat("ztp-sample: unexpected argument '", arg, "'");
                return false;
            }
            positional[positionals++] = arg;
        }
    }
    if (options.help || options.version) return true;
    if (positionals < 2) {
        error = "ztp-sample: expected an output file and a particle count";
        return false;
    }
    if (positional[0].empty()) {
        error = "ztp-sample: the output file name is empty";
        return false;
    }
    options.output = positional[0];
    uint64_t count = 0;
    if (!parseWhole(positional[1], uint64_t(kMaxParticles), count)) {
        error = zt::cat("ztp-sample: the particle count must be a whole number from 0 to ", kMaxParticles, ", not '",
                        positional[1], "'");
        return false;
    }
    options.particles = int64_t(count);
    return true;
}

void printSampleUsage(std::FILE* out, const char* program) {
    std::fprintf(out, "usage: %s output_file particle_count [--seed N] [--raw]\n", program);
    std::fprintf(out, "       %s --help | --version\n", program);
    std::fputs("Writes a sample ZTP particle cache: a fountain over a pool (two Particle-Liquid\n"
               "bodies, 7 and 3 tenths of the particles) and the mist around it (a Field-Smoke body).\n"
               "Parameters:\n"
               "\toutput_file     The ZTP file to create\n"
               "\tparticle_count  Particles in all, 0 to 2000000000\n"
               "\t--seed N        Seed of the particle placement (default 1); the same\n"
               "\t                arguments give the same file\n"
               "\t--raw           Store the channel data uncompressed\n"
               "Needs CORIX_PATH, the installation folder holding server/standard-sig\n"
               "(in a checkout: share/corix).\n",
               out);
}

int runSample(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "ztp-sample";
    SampleOptions options;
    std::string error;
    if (!parseSampleOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        printSampleUsage(stderr, program);
        return 1;
    }
    if (options.help) {
        printSampleUsage(stdout, program);
        return 0;
    }
    if (options.version) {
        std::fputs("ztp-sample " CB_VERSION_STRING "\n", stdout);
        return 0;
    }
    const char* corix = std::getenv("CORIX_PATH");
    if (!corix || !*corix) {
        std::fputs("ztp-sample: CORIX_PATH is not set; set it to the installation folder holding\n"
                   "server/standard-sig (in a checkout: <checkout>/share/corix)\n",
                   stderr);
        return 1;
    }
    try {
        const CacheSummary summary = writeSampleCache(options.output, options.particles, options.seed, options.compress);
        std::fputs(describeCache(options.output, options.seed, options.compress, summary).c_str(), stderr);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ztp-sample: %s\n", e.what());
        return 1;
    }
}

}  // namespace sample
