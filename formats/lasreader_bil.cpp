// Opening BIL raster input: not supported yet (see the header).
#include "formats/lasreader_bil.hpp"

bool LASreaderBIL::open(const char*) { return false; }

bool LASreaderBIL::reopen(const char*) { return false; }
