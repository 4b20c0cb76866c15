#include "app/CommandLine.hpp"

int main(int argc, char** argv) { return meshcodec::CommandLine::run(argc, argv); }
