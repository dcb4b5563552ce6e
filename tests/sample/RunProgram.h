#pragma once
// Runs a program to its end, as a shell would, with its output captured.

#include <string>
#include <vector>

namespace sampletest {

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal
    std::string out;
    std::string err;
};

// args[0] is the program's path; the environment is the test's own. The
// output passes through files in `scratchDir`.
RunResult runProgram(const std::vector<std::string>& args, const std::string& scratchDir);

}  // namespace sampletest
