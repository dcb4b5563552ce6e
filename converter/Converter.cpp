#include "Converter.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <tuple>

#include "ExportParticles.h"
#include "FrameSequence.h"
#include "cb/Version.h"

namespace {

void writeUsage(FILE* out, const char* program) {
    std::fprintf(out, "usage: %s input_file output_file plugin_name radius fps frame\n", program);
    std::fputs("Parameters:\n"
               "\tinput_file     The ztp file containing the particles\n"
               "\toutput_file    The resulting txscene file containing the particle geometry plugin\n"
               "\tplugin_name    The name of the generated plugin\n"
               "\tradius         The radius of the generated particles\n"
               "\tfps            The frames per seconds\n",
               out);
}

constexpr const char* kSequenceOptions[] = {"--frames", "--jobs", "--keep-going", "--quiet"};

void writeSequenceUsage(FILE* out, const char* program, const char* lead) {
    std::fprintf(out,
                 "%s%s --frames FIRST-LAST[:STEP] [--jobs N] [--keep-going] [--quiet] input_pattern output_pattern "
                 "plugin_name radius fps\n",
                 lead, program);
    std::fprintf(out,
                 "Frame sequences:\n"
                 "\t--frames       The frames FIRST, FIRST+STEP, ... up to LAST (STEP 1 by default); each frame's\n"
                 "\t               number is its key time\n"
                 "\t--jobs         Frames converted at once (1 to %d, default 1)\n"
                 "\t--keep-going   Convert every other frame after one fails (a missing input is then skipped)\n"
                 "\t--quiet        A line per frame instead of the progress line on a terminal\n"
                 "\tinput_pattern  The ztp files: the frame number written as a run of # (padded with zeros to\n"
                 "\t               its width) or as %%0Nd or %%d, as in fluid.####.ztp\n"
                 "\toutput_pattern The txscene files, numbered the same way\n",
                 kMaxJobs);
}

int sequenceUsageError(const char* program, const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "%s\n", message.c_str());
    writeSequenceUsage(stderr, program, "usage: ");
    return 1;
}

bool isSequenceOption(const char* arg) {
    for (const char* option : kSequenceOptions) {
        const size_t n = std::strlen(option);
        if (std::strncmp(arg, option, n) == 0 && (arg[n] == '\0' || arg[n] == '=')) return true;
    }
    return false;
}

// The sequence form: options first (a value after its option or after '='),
// then the five positional arguments; "--" ends the options.
int runSequenceCommand(int argc, char** argv, const char* program) {
    SequenceSettings settings;
    std::string frames;
    bool quiet = false;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) break;
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        auto value = [&](std::string& into) {
            if (equals != std::string::npos) {
                into = arg.substr(equals + 1);
                return true;
            }
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string text;
        if (name == "--frames") {
            if (!value(frames)) return sequenceUsageError(program, "--frames needs FIRST-LAST[:STEP]");
        } else if (name == "--jobs") {
            if (!value(text)) return sequenceUsageError(program, "--jobs needs a number");
            char* end = nullptr;
            const long jobs = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end != '\0' || jobs < 1 || jobs > kMaxJobs)
                return sequenceUsageError(program, "Can't parse the jobs parameter (" + text +
                                                       "): a number from 1 to " + std::to_string(kMaxJobs));
            settings.jobs = int(jobs);
        } else if ((name == "--keep-going" || name == "--quiet") && equals == std::string::npos) {
            (name == "--quiet" ? quiet : settings.keepGoing) = true;
        } else {
            return sequenceUsageError(program, "Unknown option (" + arg + ")");
        }
    }
    if (frames.empty()) return sequenceUsageError(program, "The frames to convert are missing (--frames FIRST-LAST)");
    if (argc - i != 5) return sequenceUsageError(program, "");
    try {
        settings.range = FrameRange::parse(frames);
    } catch (const std::exception& e) {
        return sequenceUsageError(program, e.what());
    }
    for (auto [text, pattern, role] : {std::tuple{argv[i], &settings.input, "input"},
                                       std::tuple{argv[i + 1], &settings.output, "output"}}) {
        try {
            *pattern = FramePattern::parse(text);
        } catch (const std::exception& e) {
            return sequenceUsageError(program, std::string("Bad ") + role + " pattern: " + e.what());
        }
    }
    settings.pluginName = argv[i + 2];
    // Read as the single form reads them, so that each frame's output is the same.
    if (std::sscanf(argv[i + 3], "%f", &settings.radius) != 1)
        return sequenceUsageError(program, std::string("Can't parse the radius parameter (") + argv[i + 3] + ")");
    if (std::sscanf(argv[i + 4], "%f", &settings.fps) != 1)
        return sequenceUsageError(program, std::string("Can't parse the fps parameter (") + argv[i + 4] + ")");
    settings.progress = !quiet && ::isatty(2);
    return runFrameSequence(settings);
}

}  // namespace

int printUsage(const char* program) {
    writeUsage(stderr, program);
    return 1;
}

int runConverter(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] ? argv[0] : "ztp2txscene";
    // Asked for, the usage and the version are the program's output.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        writeUsage(stdout, program);
        writeSequenceUsage(stdout, program, "       ");
        std::fprintf(stdout, "       %s --help | --version\n", program);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("ztp2txscene " CB_VERSION_STRING "\n", stdout);
        return 0;
    }
    if (argc > 1 && isSequenceOption(argv[1])) return runSequenceCommand(argc, argv, program);
    if (argc != 7) return printUsage(program);

    struct Number {
        const char* text;
        const char* message;
        float value;
    };
    Number numbers[3] = {{argv[4], "Can't parse the radius parameter (%s)\n", 0.0f},
                         {argv[5], "Can't parse the fps parameter (%s)\n", 0.0f},
                         {argv[6], "Can't parse the frame parameter (%s)\n", 0.0f}};
    // Only the conversion count is tested, so "2x" reads as 2.
    for (Number& n : numbers) {
        if (std::sscanf(n.text, "%f", &n.value) != 1) {
            std::fprintf(stderr, n.message, n.text);
            return printUsage(program);
        }
    }
    const float radius = numbers[0].value, fps = numbers[1].value, frame = numbers[2].value;

    std::fputs("Actual parameters:\n", stderr);
    std::fprintf(stderr, "\tinput: %s\n\toutput: %s\n\tshape name: %s\n", argv[1], argv[2], argv[3]);
    std::fprintf(stderr, "\tradius: %.3f\n\tfps: %.3f\n", double(radius), double(fps));
    std::fprintf(stderr, "\tframe: %.3f\n", double(frame));

    if (exportParticles(argv[1], argv[2], argv[3], radius, fps, frame)) {
        std::fprintf(stderr, "File %s writen successfully!\n", argv[2]);
        return 0;
    }
    std::fprintf(stderr, "Error reading file %s!\n", argv[2]);
    return 1;
}
