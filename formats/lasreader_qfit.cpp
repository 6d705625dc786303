// Opening QFIT input: not supported yet (see the header).
#include "formats/lasreader_qfit.hpp"

bool LASreaderQFIT::open(const char*) { return false; }

bool LASreaderQFIT::reopen(const char*) { return false; }
