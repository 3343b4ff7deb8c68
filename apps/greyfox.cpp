// The greyfox client: see app/CommandLine.h for its commands.
#include "app/CommandLine.h"

int main(int argc, char** argv) { return greyfox::runCommandLine(argc, argv); }
