// Projection, datum, unit and vertical settings of the command line. For now
// no projection option is understood: there is never a projection and every
// unit is the metre.
#pragma once

class GeoProjectionConverter {
 public:
  void parse(int argc, char* argv[]);
  bool has_projection(bool source = true) const;
};
