#include "InfoCommand.h"

int main(int argc, char** argv) { return ztpinfo::runInfo(argc, argv); }
