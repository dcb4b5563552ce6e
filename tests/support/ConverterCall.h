#pragma once
// The converter's command line run in the test process, with what it printed.

#include <string>
#include <vector>

#include "CaptureOutput.h"
#include "Converter.h"

namespace testsupport {

struct ConverterCall {
    int code;
    std::string out, err;
};

// Runs runConverter with `args` after the program name "prog".
inline ConverterCall callConverter(std::vector<std::string> args) {
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    ConverterCall c;
    CaptureStderr err;
    CaptureStdout out;
    c.code = runConverter(int(argv.size()), argv.data());
    c.out = out.finish();
    c.err = err.finish();
    return c;
}

}  // namespace testsupport
