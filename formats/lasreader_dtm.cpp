// Opening DTM raster input: not supported yet (see the header).
#include "formats/lasreader_dtm.hpp"

bool LASreaderDTM::open(const char*) { return false; }

bool LASreaderDTM::reopen(const char*) { return false; }
