#pragma once
// The command line: input_file output_file plugin_name radius fps frame.

// Prints the usage text on standard error and returns 1.
int printUsage(const char* program);

// Checks and echoes the arguments, runs the export; returns the exit code.
int runConverter(int argc, char** argv);
