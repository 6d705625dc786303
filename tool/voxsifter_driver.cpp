// Per-file thinning driver.
#include "tool/voxsifter_driver.hpp"

bool voxsifter_thin_next_file(VoxsifterRun&) {
  laserror("reading point files is not built yet");
  return false;
}
