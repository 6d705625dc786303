// voxsifter's use of the suite's multi-process runner: no option text of its
// own; with layer output ("-olay...", which the children still see) the
// children write layer files beside their inputs, not point files.
#include "tool/voxsifter_multi_core.hpp"

#include <cstring>

#include "tool/pelkarts_multi_core.hpp"

void voxsifter_multi_core(int argc, char* argv[], const GeoProjectionConverter& geoprojectionconverter,
                          const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener, U32 cores,
                          bool cpu64) {
  bool layer_output = false;
  for (int i = 1; i < argc; i++) {
    if (strncmp(argv[i], "-olay", 5) == 0) layer_output = true;
  }
  pelkarts_multi_core_standard(argc, argv, geoprojectionconverter, lasreadopener, laswriteopener, cores, nullptr,
                               cpu64 ? 1 : 0, !layer_output);
}
