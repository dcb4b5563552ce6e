#include "SampleCommand.h"

int main(int argc, char** argv) { return sample::runSample(argc, argv); }
