#include "VdbConvert.h"

int main(int argc, char** argv) { return runZtp2Vdb(argc, argv); }
