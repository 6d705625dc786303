// Converter with no projection support yet.
#include "geo/geoprojectionconverter.hpp"

void GeoProjectionConverter::parse(int, char*[]) {}

bool GeoProjectionConverter::has_projection(bool) const { return false; }
