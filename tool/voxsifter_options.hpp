// The thinning tool's own options: voxel steps, the survival rule, the n-th
// modes, the changes made to survivors, marking, seed and layer files. They
// are offered each argument the framework parsers left, before the standard
// options, and are never emptied so that child processes see them too.
#pragma once

#include <optional>

#include "core/mydefs.hpp"

struct VoxsifterOptions {
  F64 step = 0.0;    // -step; 0 when not given
  F64 step_z = 0.0;  // -step_z, and -step
  // The words that set the steps, for messages about them; point into argv.
  const char* step_text = nullptr;
  const char* step_z_option = nullptr;  // "-step" or "-step_z", whichever came last
  const char* step_z_text = nullptr;
  bool count_to_intensity = false;
  bool count_to_user_byte = false;
  // The ten selection options; the driver refuses more than one.
  bool random_cell_occurrence = false;
  bool closest = false;
  bool lowest = false;
  bool highest = false;
  bool intensity_min = false;
  bool intensity_max = false;
  bool return_min = false;
  bool return_max = false;
  bool attribute_min = false;
  bool attribute_max = false;
  bool use_cell_center = false;
  bool flatten_points = false;
  bool flatten_all_points = false;  // sets flatten_points too
  std::optional<I32> random_nth;
  std::optional<I32> every_nth;
  bool withheld = false;
  bool keypoint = false;
  I32 classify_as = -1;  // -1: none
  std::optional<I32> seed;
  bool ilay = false;
  const char* ilay_directory = nullptr;  // points into argv
  I32 ilay_count = I32_MAX;             // all layers; negative: all but the last -n
  bool olay = false;
  const char* olay_directory = nullptr;  // points into argv
  bool remain_buffered = false;

  int selection_count() const {
    return return_min + return_max + attribute_max + attribute_min + intensity_min + intensity_max + highest + lowest +
           closest + random_cell_occurrence;
  }
  bool counting() const { return count_to_user_byte || count_to_intensity; }
  bool classify() const { return classify_as != -1; }
  // A marking option changes what is written: survivors are flagged or
  // classified instead of the rest being deleted.
  bool marking() const { return classify() || withheld || keypoint; }
};

// Takes the option at argv[i] with its values when it is one of the tool's;
// i is left on the last argument taken. Errors end the run while halting on
// errors is on; with halting off the option is still taken.
bool parse_tool_option(VoxsifterOptions& options, int argc, char* argv[], int& i);
