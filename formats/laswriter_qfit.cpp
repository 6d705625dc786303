// Not built yet: see the header.
#include "formats/laswriter_qfit.hpp"

bool LASwriterQFIT::open(const char*, const LASheader*, I32, U32) { return false; }
bool LASwriterQFIT::open(FILE*, const LASheader*, I32) { return false; }
bool LASwriterQFIT::write_point(const LASpoint*) { return false; }
bool LASwriterQFIT::chunk() { return false; }
bool LASwriterQFIT::update_header(const LASheader*, bool, bool) { return false; }
I64 LASwriterQFIT::close(bool) { return 0; }
