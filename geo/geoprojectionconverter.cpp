// The converter without projections: every answer is that of a command line
// with no projection, datum, unit or vertical option.
#include "geo/geoprojectionconverter.hpp"

void GeoProjectionConverter::parse(int, char*[]) {}

bool GeoProjectionConverter::has_projection(bool) const { return false; }

bool GeoProjectionConverter::get_geo_keys_from_projection(int& number_of_keys, U16** geo_keys,
                                                          int& num_geo_double_params, F64** geo_double_params,
                                                          bool) const {
  number_of_keys = 0;
  num_geo_double_params = 0;
  if (geo_keys) *geo_keys = nullptr;
  if (geo_double_params) *geo_double_params = nullptr;
  return false;
}

I16 GeoProjectionConverter::get_ProjLinearUnitsGeoKey(bool) const { return 9001; }

I16 GeoProjectionConverter::get_VerticalUnitsGeoKey(bool) const { return 9001; }

void GeoProjectionConverter::reset_projection(bool) {}

I32 GeoProjectionConverter::unparse(std::string&) const { return 0; }

bool GeoProjectionConverter::has_coordinate_units(bool) const { return false; }

const char* GeoProjectionConverter::get_coordinate_unit_description_string(bool, bool) const { return "units"; }

bool GeoProjectionConverter::has_elevation_units(bool) const { return false; }

const char* GeoProjectionConverter::get_elevation_unit_description_string(bool, bool) const { return "units"; }
