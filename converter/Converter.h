#pragma once
// The command line: input_file output_file plugin_name radius fps frame, or,
// recognised by its leading option, a frame sequence:
// --frames FIRST-LAST[:STEP] [--jobs N] [--keep-going] [--quiet]
//     input_pattern output_pattern plugin_name radius fps

// Prints the usage text on standard error and returns 1.
int printUsage(const char* program);

// Checks and echoes the arguments, runs the export (or the sequence); returns
// the exit code.
int runConverter(int argc, char** argv);
