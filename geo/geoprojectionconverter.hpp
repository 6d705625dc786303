// Projection, datum, unit and vertical settings of the command line. No
// projection option is understood yet: there is never a projection, no unit is
// declared and every unit is the metre, so the tool's default steps stay at 2.
#pragma once

#include <string>

#include "core/mydefs.hpp"

class GeoProjectionConverter {
 public:
  // Takes the projection options among the arguments; none are known yet.
  void parse(int argc, char* argv[]);
  bool has_projection(bool source = true) const;
  // Key entries (4 x U16 each) and double parameters of a side's projection,
  // in buffers the caller frees; false when that side has none.
  bool get_geo_keys_from_projection(int& number_of_keys, U16** geo_keys, int& num_geo_double_params,
                                    F64** geo_double_params, bool source = true) const;
  // GeoTIFF unit codes: 9000 geographic, 9001 metre, 9002 foot, 9003 survey foot.
  I16 get_ProjLinearUnitsGeoKey(bool source = true) const;
  I16 get_VerticalUnitsGeoKey(bool source = true) const;
  void reset_projection(bool source = true);
  // Appends option text that reproduces the settings, each option followed by
  // a blank; answers the characters appended.
  I32 unparse(std::string& text) const;
  bool has_coordinate_units(bool source = true) const;
  const char* get_coordinate_unit_description_string(bool abbreviate = true, bool source = true) const;
  bool has_elevation_units(bool source = true) const;
  const char* get_elevation_unit_description_string(bool abbreviate = true, bool source = true) const;

  // Set by a PROJ-based option; the multi-process runner passes the settings on.
  bool proj_settings = false;
};
