// Not built yet: see the header.
#include "formats/laswriter_bin.hpp"

bool LASwriterBIN::open(const char*, const LASheader*, const char*, U32) { return false; }
bool LASwriterBIN::open(FILE*, const LASheader*, const char*) { return false; }
bool LASwriterBIN::write_point(const LASpoint*) { return false; }
bool LASwriterBIN::chunk() { return false; }
bool LASwriterBIN::update_header(const LASheader*, bool, bool) { return false; }
I64 LASwriterBIN::close(bool) { return 0; }
