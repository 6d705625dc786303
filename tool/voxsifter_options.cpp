// Parser of the tool's own options. Every message goes through laserror, so
// a bad value ends the run while halting on errors is on; with halting off the
// option is still taken with the value as read, and an option standing last
// without its value is taken without changing anything.
#include "tool/voxsifter_options.hpp"

#include <cctype>
#include <cstring>

#include "core/lasoption.hpp"
#include "tool/voxelfilter.hpp"

namespace {

using ToolRow = LASoptionRow<VoxsifterOptions>;
constexpr LASoptionResult TAKEN = LASoptionResult::TAKEN;

template <bool VoxsifterOptions::*flag>
LASoptionResult set_flag(VoxsifterOptions& options, const LASoptionCall&) {
  options.*flag = true;
  return TAKEN;
}

// NaN and infinity never get here (the row reads "%lf", finite only): NaN
// would pass every "<= 0" test.
LASoptionResult set_step(VoxsifterOptions& options, const LASoptionCall& call) {
  const F64 step = call.values[0].f64;
  if (step <= 0.0) laserror("'%s' needs 1 argument: <step size> but %g in not a valid value", call.typed, step);
  options.step = step;
  options.step_z = step;
  options.step_text = call.values[0].text;
  options.step_z_option = call.typed;
  options.step_z_text = call.values[0].text;
  return TAKEN;
}

// Text that is no finite number, whole, counts as 0.
LASoptionResult set_step_z(VoxsifterOptions& options, const LASoptionCall& call) {
  F64 step_z;
  options.step_z = las_read_f64(call.values[0].text, &step_z) ? step_z : 0.0;
  options.step_z_option = call.typed;
  options.step_z_text = call.values[0].text;
  if (options.step_z <= 0.0) laserror("'%s' needs positive number as argument", call.typed);
  return TAKEN;
}

// The index is kept even when out of range (halting off).
LASoptionResult set_attribute(VoxsifterOptions&, const LASoptionCall& call) {
  const I32 index = call.values[0].i32;
  attribute_idx = index;
  if (index < 0) {
    laserror("'%s' cannot be smaller than 0.", call.typed);
  } else if (index > 9) {
    laserror("'%s' cannot be larger than 9.", call.typed);
  }
  return TAKEN;
}

LASoptionResult set_flatten_all(VoxsifterOptions& options, const LASoptionCall&) {
  options.flatten_all_points = true;
  options.flatten_points = true;
  return TAKEN;
}

// -random_nth and -every_nth.
template <std::optional<I32> VoxsifterOptions::*target>
LASoptionResult set_nth(VoxsifterOptions& options, const LASoptionCall& call) {
  const I32 n = call.values[0].i32;
  if (n <= 0) laserror("'%s' needs positive number as argument", call.typed);
  options.*target = n;
  return TAKEN;
}

// The later of two marking options wins.
LASoptionResult set_withheld(VoxsifterOptions& options, const LASoptionCall&) {
  options.withheld = true;
  if (options.classify()) {
    LASMessage(WARNING, "cannot classify as %d and flag as withheld. flagging only as withheld ...",
               options.classify_as);
    options.classify_as = -1;
  }
  if (options.keypoint) LASMessage(WARNING, "cannot flag as keypoint and withheld. flagging only as withheld ...");
  options.keypoint = false;
  return TAKEN;
}

LASoptionResult set_keypoint(VoxsifterOptions& options, const LASoptionCall&) {
  options.keypoint = true;
  if (options.classify()) {
    LASMessage(WARNING, "cannot classify as %d and flag as keypoint. flagging only as keypoint ...",
               options.classify_as);
    options.classify_as = -1;
  }
  if (options.withheld) LASMessage(WARNING, "cannot flag as withheld and keypoint. flagging only as keypoint ...");
  options.withheld = false;
  return TAKEN;
}

LASoptionResult set_classification(VoxsifterOptions& options, const LASoptionCall& call) {
  const I32 code = call.values[0].i32;
  if (code < 0 || code > 31) {
    laserror("'%s' needs a code between 0 and 31 as argument (see -keep_extended_class)", call.typed);
  }
  options.classify_as = code;
  return TAKEN;
}

LASoptionResult set_seed(VoxsifterOptions& options, const LASoptionCall& call) {
  options.seed = call.values[0].i32;
  return TAKEN;
}

// "-ilay" with no count behind it: all layers.
LASoptionResult set_layer_count(VoxsifterOptions& options, const LASoptionCall& call) {
  if (!call.values.empty()) options.ilay_count = call.values[0].i32;
  return TAKEN;
}

LASoptionResult set_ilay_directory(VoxsifterOptions& options, const LASoptionCall& call) {
  options.ilay_directory = call.values[0].text;
  return TAKEN;
}

LASoptionResult set_olay_directory(VoxsifterOptions& options, const LASoptionCall& call) {
  options.olay_directory = call.values[0].text;
  return TAKEN;
}

// A layer count follows "-ilay" when the next argument begins with a digit or
// with '-' and a digit (all but the last n layers).
bool is_layer_count(const char* text) {
  if (isdigit((unsigned char)text[0])) return true;
  return text[0] == '-' && isdigit((unsigned char)text[1]);
}

// The layer words switch layers on when met (see FLAGS_WHEN_MET); the rest
// of them takes nothing.
LASoptionResult layers_on(VoxsifterOptions&, const LASoptionCall&) { return TAKEN; }

constexpr const char* ATTRIBUTE_NEEDS = "'{option}' needs 1 argument: <attribute_idx>";
constexpr const char* ATTRIBUTE_INVALID =
    "'{option}' needs 1 argument: 'attribute_idx' but '{arg}' in not a valid value";

// Numbers are read whole and must fit their type: "1e3" is no index, and
// 4294967297 is no 32-bit count (it would wrap to 1). A value that does not
// read is refused with its option's message and never stored.
const ToolRow TOOL_OPTIONS[] = {
    {{"-step", "step size", 1, "%lf", 0, nullptr,
      "'{option}' needs 1 argument: <step size> but '{arg}' in not a valid step"},
     set_step},
    {{"-step_z", "step size", 1, "%s"}, set_step_z},
    {{"-count_to_intensity", "", 0, ""}, set_flag<&VoxsifterOptions::count_to_intensity>},
    {{"-count_to_user_byte", "", 0, ""}, set_flag<&VoxsifterOptions::count_to_user_byte>},
    {{"-random_cell_occurrence", "", 0, ""}, set_flag<&VoxsifterOptions::random_cell_occurrence>},
    {{"-use_cell_center", "", 0, ""}, set_flag<&VoxsifterOptions::use_cell_center>},
    {{"-closest", "", 0, ""}, set_flag<&VoxsifterOptions::closest>},
    {{"-lowest", "", 0, ""}, set_flag<&VoxsifterOptions::lowest>},
    {{"-highest", "", 0, ""}, set_flag<&VoxsifterOptions::highest>},
    {{"-intensity_min", "", 0, ""}, set_flag<&VoxsifterOptions::intensity_min>},
    {{"-intensity_max", "", 0, ""}, set_flag<&VoxsifterOptions::intensity_max>},
    {{"-return_min", "", 0, ""}, set_flag<&VoxsifterOptions::return_min>},
    {{"-return_max", "", 0, ""}, set_flag<&VoxsifterOptions::return_max>},
    {{"-attribute_min", "attribute_idx", 1, "%d", 0, ATTRIBUTE_NEEDS, ATTRIBUTE_INVALID}, set_attribute},
    {{"-attribute_max", "attribute_idx", 1, "%d", 0, ATTRIBUTE_NEEDS, ATTRIBUTE_INVALID}, set_attribute},
    {{"-flatten_points", "", 0, ""}, set_flag<&VoxsifterOptions::flatten_points>},
    {{"-flatten_all_points", "", 0, ""}, set_flatten_all},
    {{"-random_nth", "max", 1, "%d"}, set_nth<&VoxsifterOptions::random_nth>},
    {{"-every_nth", "max", 1, "%d"}, set_nth<&VoxsifterOptions::every_nth>},
    {{"-flag_as_withheld", "", 0, ""}, set_withheld},
    {{"-withheld", "", 0, ""}, set_withheld},
    {{"-flag_as_keypoint", "", 0, ""}, set_keypoint},
    {{"-keypoint", "", 0, ""}, set_keypoint},
    {{"-classify_as", "classification code", 1, "%d", 0, nullptr,
      "{needs} but '{arg}' is no valid classification code"},
     set_classification},
    {{"-seed", "random generator seed", 1, "%d", 0, nullptr, "{needs} but '{arg}' is no valid random generator seed"},
     set_seed},
    {{"-ilaydir", "directory name", 1, "%s"}, set_ilay_directory},
    {{"-ilay", "layer count", 0, "%d", 1, nullptr, nullptr,
      "'{option}' takes a layer count but '{arg}' is no valid layer count", false, is_layer_count},
     set_layer_count},
    // Any other word beginning so only switches layers on.
    {{"-ilay", "", 0, "", 0, nullptr, nullptr, nullptr, true}, layers_on},
    {{"-olaydir", "directory name", 1, "%s"}, set_olay_directory},
    {{"-olay", "", 0, "", 0, nullptr, nullptr, nullptr, true}, layers_on},
    {{"-remain_buffered", "", 0, ""}, set_flag<&VoxsifterOptions::remain_buffered>},
};

// Flags that hold as soon as their option is met, before its values are read,
// so that with halting off they stay set when a value is missing or does not
// read. Looked up by the name of the option's row.
struct FlagWhenMet {
  const char* option;
  bool VoxsifterOptions::*flag;
};
const FlagWhenMet FLAGS_WHEN_MET[] = {{"-attribute_min", &VoxsifterOptions::attribute_min},
                                      {"-attribute_max", &VoxsifterOptions::attribute_max},
                                      {"-ilay", &VoxsifterOptions::ilay},
                                      {"-ilaydir", &VoxsifterOptions::ilay},
                                      {"-olay", &VoxsifterOptions::olay},
                                      {"-olaydir", &VoxsifterOptions::olay}};

}  // namespace

bool parse_tool_option(VoxsifterOptions& options, int argc, char* argv[], int& i) {
  const ToolRow* row = las_find_option<VoxsifterOptions>(TOOL_OPTIONS, argv[i]);
  if (row == nullptr) return false;
  for (const FlagWhenMet& met : FLAGS_WHEN_MET) {
    if (strcmp(row->option.name, met.option) == 0) options.*met.flag = true;
  }
  LASoptionCall call;
  if (las_take_option_values(row->option, i, argc, argv, call)) row->apply(options, call);
  // The values read are taken even when one of them did not read (halting
  // off), and none is emptied: child processes see the tool's options too.
  i += (int)call.values.size();
  return true;
}
