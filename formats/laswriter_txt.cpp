// Not built yet: see the header.
#include "formats/laswriter_txt.hpp"

bool LASwriterTXT::open(const char*, const LASheader*, const char*, const char*) { return false; }
bool LASwriterTXT::open(FILE*, const LASheader*, const char*, const char*) { return false; }
bool LASwriterTXT::write_point(const LASpoint*) { return false; }
bool LASwriterTXT::chunk() { return false; }
bool LASwriterTXT::update_header(const LASheader*, bool, bool) { return false; }
I64 LASwriterTXT::close(bool) { return 0; }
