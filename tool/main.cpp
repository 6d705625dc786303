#include "tool/voxsifter.hpp"

int main(int argc, char* argv[]) { voxsifter_main(argc, argv); }
