#include "Converter.h"

#include <cstdio>
#include <cstring>

#include "ExportParticles.h"
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
        std::fprintf(stdout, "       %s --help | --version\n", program);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("ztp2txscene " CB_VERSION_STRING "\n", stdout);
        return 0;
    }
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
