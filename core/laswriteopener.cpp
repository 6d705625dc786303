// Write opener bookkeeping of the output name.
#include "core/laswriteopener.hpp"

bool LASwriteOpener::parse(int, char*[]) { return true; }

void LASwriteOpener::set_file_name(const char* name) { file_name = name ? name : ""; }
