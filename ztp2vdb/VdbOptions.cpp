#include "VdbOptions.h"

#include "zt/cat.h"

namespace {

// Pieces of a list separated by commas or blanks; empty pieces dropped.
std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> pieces;
    std::string piece;
    for (const char c : text + ',') {
        if (c == ',' || c == ' ' || c == '\t') {
            if (!piece.empty()) pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    return pieces;
}

bool anyMatches(const std::vector<std::string>& globs, const std::string& name) {
    if (globs.empty()) return true;
    for (const std::string& g : globs)
        if (globMatches(g, name)) return true;
    return false;
}

}  // namespace

std::string vdbUsage() {
    return "usage: ztp2vdb [options] INPUT.ztp OUTPUT.vdb\n"
           "Writes the field channels and particles of a ZTP file as OpenVDB grids:\n"
           "  <body>/<channel>          fine voxels of a field channel (float, vec3s, int32, int64)\n"
           "  <body>/<channel>@coarse   one voxel per coarse tile\n"
           "  <body>/points             the particles: P, v, id and every other channel\n"
           "options:\n"
           "  --bodies PATTERNS   only bodies whose names match (globs with * and ?,\n"
           "                      separated by commas or blanks)\n"
           "  --channels NAMES    only these channels (ZTP names, e.g. density,velocity,id64);\n"
           "                      the particle positions are always written\n"
           "  --no-fields         no field grids\n"
           "  --no-points         no point grids\n"
           "  --fine-only         leave out the coarse tiles (their voxels and particles)\n"
           "  --partial           a damaged body record ends the reading and the bodies read\n"
           "                      before it are converted (default: nothing is written, exit 1)\n"
           "  --help, --version\n"
           "CORIX_PATH must name the Corix root (body signatures are read from it).\n";
}

bool parseVdbOptions(int argc, const char* const* argv, VdbOptions& options, std::string& error) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--bodies" || arg == "--channels") {
            if (i + 1 >= argc) {
                error = zt::cat("ztp2vdb: ", arg, " needs a value");
                return false;
            }
            const std::vector<std::string> list = splitList(argv[++i]);
            if (list.empty()) {
                error = zt::cat("ztp2vdb: ", arg, " needs at least one name");
                return false;
            }
            auto& target = arg == "--bodies" ? options.bodies : options.channels;
            target.insert(target.end(), list.begin(), list.end());
        } else if (arg == "--no-fields") {
            options.fields = false;
        } else if (arg == "--no-points") {
            options.points = false;
        } else if (arg == "--fine-only") {
            options.fineOnly = true;
        } else if (arg == "--partial") {
            options.partial = true;
        } else if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = zt::cat("ztp2vdb: unknown option '", arg, "'");
            return false;
        } else {
            files.push_back(arg);
        }
    }
    if (options.help || options.version) return true;
    if (files.size() != 2) {
        error = zt::cat("ztp2vdb: expected INPUT.ztp and OUTPUT.vdb, got ", files.size(), " file name",
                        files.size() == 1 ? "" : "s");
        return false;
    }
    options.input = files[0];
    options.output = files[1];
    return true;
}

bool globMatches(const std::string& glob, const std::string& name) {
    // Greedy match with one backtrack point: the last '*' seen.
    size_t g = 0, n = 0, starG = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (g < glob.size() && (glob[g] == '?' || glob[g] == name[n])) {
            ++g;
            ++n;
        } else if (g < glob.size() && glob[g] == '*') {
            starG = g++;
            starN = n;
        } else if (starG != std::string::npos) {
            g = starG + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (g < glob.size() && glob[g] == '*') ++g;
    return g == glob.size();
}

bool bodySelected(const VdbOptions& options, const std::string& name) { return anyMatches(options.bodies, name); }

bool channelSelected(const VdbOptions& options, const std::string& name) {
    if (options.channels.empty()) return true;
    for (const std::string& c : options.channels)
        if (c == name) return true;
    return false;
}
