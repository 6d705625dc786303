// Opening shapefile input: not supported yet (see the header).
#include "formats/lasreader_shp.hpp"

bool LASreaderSHP::open(const char*) { return false; }

bool LASreaderSHP::reopen(const char*) { return false; }
