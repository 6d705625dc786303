// Opening ESRI ASCII grid input: not supported yet (see the header).
#include "formats/lasreader_asc.hpp"

bool LASreaderASC::open(const char*, bool) { return false; }

bool LASreaderASC::reopen(const char*) { return false; }
