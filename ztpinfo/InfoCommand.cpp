#include "InfoCommand.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "InfoOutput.h"
#include "cb/Log.h"
#include "cb/Version.h"
#include "cb/factory/Startup.h"

namespace ztpinfo {

namespace {

void printUsage(std::FILE* to, const char* program) {
    std::fprintf(to, "usage: %s [options] FILE...\n", program);
    std::fputs("Shows what ZTP files hold: version, time and bodies; per body its signature,\n"
               "particle count, tile layout, shapes and channels (type, elements, stored bytes,\n"
               "compressed or raw). Nothing is converted; particle data stay in the file\n"
               "unless an option needs them.\n"
               "Options:\n"
               "\t--values     every value section and value (type, expression text, the\n"
               "\t             number where the expression is constant)\n"
               "\t--stats      per channel the minimum, maximum and mean of each component,\n"
               "\t             computed from the data a block at a time (not the figures the\n"
               "\t             file stores in the channel header, shown beside them), and\n"
               "\t             the particles' bounding box\n"
               "\t--blocks     one line per particle block: tile, elements, file offset,\n"
               "\t             stored bytes, compressed or raw\n"
               "\t--json       one JSON document (a list of files) instead of text\n"
               "\t-h, --help   this text\n"
               "\t--version    the version\n"
               "Exit code 0 when every file was read whole, 1 otherwise. With CORIX_PATH set\n"
               "the signatures (and plug-in body types) are loaded; without it only the\n"
               "built-in body types are known.\n",
               to);
}

// Starts the library for the run and ends it on every way out.
class Library {
public:
    Library() {
        // Warnings and errors stay on standard error; the per-file progress
        // lines would drown them.
        Cb::verbosity = "QUIET";
        const char* corix = std::getenv("CORIX_PATH");
        try {
            Cb::begin(true);
        } catch (const std::exception&) {
            // Without CORIX_PATH the built-in body types are registered by now.
            if (corix && *corix) throw;
            std::fputs("ztpinfo: CORIX_PATH is not set: reading without signatures (built-in body types only)\n",
                       stderr);
        }
    }
    ~Library() { Cb::end(); }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
};

}  // namespace

bool parseCommandLine(int argc, const char* const* argv, CommandLine& line, std::string& error) {
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            line.files.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--values") {
            line.options.values = true;
        } else if (arg == "--stats") {
            line.options.stats = true;
        } else if (arg == "--blocks") {
            line.options.blocks = true;
        } else if (arg == "--json") {
            line.options.json = true;
        } else if (arg == "-h" || arg == "--help") {
            line.help = true;
        } else if (arg == "--version") {
            line.version = true;
        } else {
            error = "ztpinfo: unknown option '" + arg + "'";
            return false;
        }
    }
    if (!line.help && !line.version && line.files.empty()) {
        error = "ztpinfo: no file given";
        return false;
    }
    return true;
}

int runInfo(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "ztpinfo";
    CommandLine line;
    std::string error;
    if (!parseCommandLine(argc, argv, line, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        printUsage(stderr, program);
        return 1;
    }
    if (line.help) {
        printUsage(stdout, program);
        return 0;
    }
    if (line.version) {
        std::printf("ztpinfo %s\n", CB_VERSION_STRING);
        return 0;
    }
    try {
        Library library;
        bool allWhole = true;
        JsonWriter json(std::cout);
        if (line.options.json) json.beginArray();
        for (const std::string& path : line.files) {
            const FileReport report = inspectFile(path, line.options);
            if (!report.whole()) {
                allWhole = false;
                std::fprintf(stderr, "ztpinfo: %s: %s\n", path.c_str(),
                             !report.opened         ? report.error.c_str()
                             : !report.damage.empty() ? report.damage.c_str()
                                                      : "damaged channel data");
            }
            if (line.options.json)
                writeJson(json, report, line.options);
            else
                printText(std::cout, report, line.options);
            std::cout.flush();
        }
        if (line.options.json) json.endArray();
        std::cout.flush();
        if (!std::cout) {
            std::fputs("ztpinfo: cannot write the output\n", stderr);
            return 1;
        }
        return allWhole ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ztpinfo: %s\n", e.what());
        return 1;
    }
}

}  // namespace ztpinfo
