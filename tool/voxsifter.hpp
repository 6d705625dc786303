// The voxsifter tool: its tool object, what the program entry holds for the
// whole run, and the entry itself.
#pragma once

#include <cstdlib>
#include <string>

#include "core/lasreadopener.hpp"
#include "core/lasutility.hpp"
#include "core/laswriteopener.hpp"
#include "geo/geoprojectionconverter.hpp"
#include "tool/lasUtil_full.hpp"
#include "tool/voxsifter_options.hpp"

class Pelkart_voxsifter : public Pelkart {
 public:
  ~Pelkart_voxsifter() override {}
  void usage() override;
};

// Everything the entry owns for the run and lends to the per-file driver.
struct VoxsifterRun {
  Pelkart_voxsifter tool;
  VoxsifterOptions options;
  LASreadOpener lasreadopener;
  GeoProjectionConverter geoprojectionconverter;
  LASwriteOpener laswriteopener;
  // The whole command line as typed, for the layer of layer output.
  bool has_layer_description = false;
  std::string layer_description;
  // "input and output file name are identical" was reported for the first file.
  bool identical_reported = false;
  // The input files of the run and the outputs written so far: no output may
  // land on one of them.
  LASfileSet inputs;
  LASfileSet outputs_written;
  // GeoKeys of a projection given on the command line.
  bool geo_keys_obtained = false;
  int number_of_keys = 0;
  U16* geo_keys = nullptr;
  int num_geo_double_params = 0;
  F64* geo_double_params = nullptr;

  VoxsifterRun() = default;
  VoxsifterRun(const VoxsifterRun&) = delete;
  VoxsifterRun& operator=(const VoxsifterRun&) = delete;
  ~VoxsifterRun() {
    free(geo_keys);
    free(geo_double_params);
  }
};

// The whole run; ends the process through byebye().
[[noreturn]] void voxsifter_main(int argc, char* argv[]);
