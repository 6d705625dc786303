// Opening BIN (binary point record) input: not supported yet (see the header).
#include "formats/lasreader_bin.hpp"

bool LASreaderBIN::open(const char*) { return false; }
