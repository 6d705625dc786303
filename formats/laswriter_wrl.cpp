// Not built yet: see the header.
#include "formats/laswriter_wrl.hpp"

bool LASwriterWRL::open(const char*, const LASheader*, const char*) { return false; }
bool LASwriterWRL::open(FILE*, const LASheader*, const char*) { return false; }
bool LASwriterWRL::write_point(const LASpoint*) { return false; }
bool LASwriterWRL::chunk() { return false; }
bool LASwriterWRL::update_header(const LASheader*, bool, bool) { return false; }
I64 LASwriterWRL::close(bool) { return 0; }
