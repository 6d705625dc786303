// Parser of the tool's own options. Every message goes through laserror, so
// a bad value ends the run while halting on errors is on; with halting off the
// option is still taken with the value as read, and an option standing last
// without its value is taken without changing anything.
#include "tool/voxsifter_options.hpp"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "core/lasoption.hpp"
#include "core/lasreader.hpp"
#include "tool/voxelfilter.hpp"

// Numbers are read whole and must fit their type: "1e3" is no index, and
// 4294967297 is no 32-bit count (it would wrap to 1). A value that does not
// read is refused with its option's message and never stored.
static bool read_i32_or_refuse(const char* option, const char* value, const char* name, I32& number) {
  if (las_read_i32(value, &number)) return true;
  laserror("'%s' needs 1 argument: %s but '%s' is no valid %s", option, name, value, name);
  return false;
}

static bool parse_step(VoxsifterOptions& options, int argc, char* argv[], int& i) {
  const char* option = argv[i];
  if (i + 1 >= argc) {
    laserror("'%s' needs 1 argument: step size", option);
    return true;
  }
  i++;
  F64 step;
  // NaN and infinity are no steps: NaN passes every "<= 0" test.
  if (!las_read_f64(argv[i], &step)) {
    laserror("'%s' needs 1 argument: <step size> but '%s' in not a valid step", option, argv[i]);
    return true;
  }
  if (step <= 0.0) laserror("'%s' needs 1 argument: <step size> but %g in not a valid value", option, step);
  options.step = step;
  options.step_z = step;
  options.step_text = argv[i];
  options.step_z_option = option;
  options.step_z_text = argv[i];
  return true;
}

static bool parse_attribute(VoxsifterOptions& options, int argc, char* argv[], int& i) {
  const char* option = argv[i];
  if (strcmp(option, "-attribute_min") == 0) {
    options.attribute_min = true;
  } else {
    options.attribute_max = true;
  }
  if (i + 1 >= argc) {
    laserror("'%s' needs 1 argument: <attribute_idx>", option);
    return true;
  }
  i++;
  I32 index;
  if (!las_read_i32(argv[i], &index)) {
    laserror("'%s' needs 1 argument: 'attribute_idx' but '%s' in not a valid value", option, argv[i]);
    return true;
  }
  attribute_idx = index;
  if (index < 0) {
    laserror("'%s' cannot be smaller than 0.", option);
  } else if (index > 9) {
    laserror("'%s' cannot be larger than 9.", option);
  }
  return true;
}

// -random_nth and -every_nth.
static bool parse_nth(std::optional<I32>& target, int argc, char* argv[], int& i) {
  const char* option = argv[i];
  if (i + 1 >= argc) {
    laserror("'%s' needs 1 argument: max", option);
    return true;
  }
  i++;
  I32 n;
  if (!read_i32_or_refuse(option, argv[i], "max", n)) return true;
  if (n <= 0) laserror("'%s' needs positive number as argument", option);
  target = n;
  return true;
}

static bool parse_withheld(VoxsifterOptions& options) {
  options.withheld = true;
  if (options.classify()) {
    LASMessage(WARNING, "cannot classify as %d and flag as withheld. flagging only as withheld ...",
               options.classify_as);
    options.classify_as = -1;
  }
  if (options.keypoint) LASMessage(WARNING, "cannot flag as keypoint and withheld. flagging only as withheld ...");
  options.keypoint = false;
  return true;
}

static bool parse_keypoint(VoxsifterOptions& options) {
  options.keypoint = true;
  if (options.classify()) {
    LASMessage(WARNING, "cannot classify as %d and flag as keypoint. flagging only as keypoint ...",
               options.classify_as);
    options.classify_as = -1;
  }
  if (options.withheld) LASMessage(WARNING, "cannot flag as withheld and keypoint. flagging only as keypoint ...");
  options.withheld = false;
  return true;
}

// The value of a layer directory option; null when it stands last.
static const char* parse_directory(int argc, char* argv[], int& i) {
  if (i + 1 >= argc) {
    laserror("'%s' needs 1 argument: directory name", argv[i]);
    return nullptr;
  }
  i++;
  return argv[i];
}

// A layer count follows "-ilay" when the next argument begins with a digit or
// with '-' and a digit (all but the last n layers).
static bool is_layer_count(const char* text) {
  if (isdigit((unsigned char)text[0])) return true;
  return text[0] == '-' && isdigit((unsigned char)text[1]);
}

static bool parse_flag(const char* arg, const char* name, bool& flag) {
  if (strcmp(arg, name) != 0) return false;
  flag = true;
  return true;
}

bool parse_tool_option(VoxsifterOptions& options, int argc, char* argv[], int& i) {
  const char* arg = argv[i];
  if (strcmp(arg, "-step") == 0) return parse_step(options, argc, argv, i);
  if (strcmp(arg, "-step_z") == 0) {
    if (i + 1 >= argc) {
      laserror("'%s' needs 1 argument: step size", arg);
      return true;
    }
    i++;
    // Text that is no finite number, whole, counts as 0.
    F64 step_z;
    options.step_z = las_read_f64(argv[i], &step_z) ? step_z : 0.0;
    options.step_z_option = arg;
    options.step_z_text = argv[i];
    if (options.step_z <= 0.0) laserror("'%s' needs positive number as argument", arg);
    return true;
  }
  if (parse_flag(arg, "-count_to_intensity", options.count_to_intensity)) return true;
  if (parse_flag(arg, "-count_to_user_byte", options.count_to_user_byte)) return true;
  if (parse_flag(arg, "-random_cell_occurrence", options.random_cell_occurrence)) return true;
  if (parse_flag(arg, "-use_cell_center", options.use_cell_center)) return true;
  if (parse_flag(arg, "-closest", options.closest)) return true;
  if (parse_flag(arg, "-lowest", options.lowest)) return true;
  if (parse_flag(arg, "-highest", options.highest)) return true;
  if (parse_flag(arg, "-intensity_min", options.intensity_min)) return true;
  if (parse_flag(arg, "-intensity_max", options.intensity_max)) return true;
  if (parse_flag(arg, "-return_min", options.return_min)) return true;
  if (parse_flag(arg, "-return_max", options.return_max)) return true;
  if (strcmp(arg, "-attribute_min") == 0 || strcmp(arg, "-attribute_max") == 0) {
    return parse_attribute(options, argc, argv, i);
  }
  if (parse_flag(arg, "-flatten_points", options.flatten_points)) return true;
  if (strcmp(arg, "-flatten_all_points") == 0) {
    options.flatten_all_points = true;
    options.flatten_points = true;
    return true;
  }
  if (strcmp(arg, "-random_nth") == 0) return parse_nth(options.random_nth, argc, argv, i);
  if (strcmp(arg, "-every_nth") == 0) return parse_nth(options.every_nth, argc, argv, i);
  if (strcmp(arg, "-flag_as_withheld") == 0 || strcmp(arg, "-withheld") == 0) return parse_withheld(options);
  if (strcmp(arg, "-flag_as_keypoint") == 0 || strcmp(arg, "-keypoint") == 0) return parse_keypoint(options);
  if (strcmp(arg, "-classify_as") == 0) {
    if (i + 1 >= argc) {
      laserror("'%s' needs 1 argument: classification code", arg);
      return true;
    }
    i++;
    I32 code;
    if (!read_i32_or_refuse(arg, argv[i], "classification code", code)) return true;
    if (code < 0 || code > 31) laserror("'%s' needs a code between 0 and 31 as argument (see -keep_extended_class)", arg);
    options.classify_as = code;
    return true;
  }
  if (strcmp(arg, "-seed") == 0) {
    if (i + 1 >= argc) {
      laserror("'%s' needs 1 argument: random generator seed", arg);
      return true;
    }
    i++;
    I32 seed;
    if (read_i32_or_refuse(arg, argv[i], "random generator seed", seed)) options.seed = seed;
    return true;
  }
  if (strncmp(arg, "-ilay", 5) == 0) {
    options.ilay = true;
    if (strcmp(arg, "-ilaydir") == 0) {
      const char* directory = parse_directory(argc, argv, i);
      if (directory) options.ilay_directory = directory;
    } else if (strcmp(arg, "-ilay") == 0 && i + 1 < argc && is_layer_count(argv[i + 1])) {
      i++;
      I32 count;
      if (las_read_i32(argv[i], &count)) {
        options.ilay_count = count;
      } else {
        laserror("'%s' takes a layer count but '%s' is no valid layer count", arg, argv[i]);
      }
    }
    return true;
  }
  if (strncmp(arg, "-olay", 5) == 0) {
    options.olay = true;
    if (strcmp(arg, "-olaydir") == 0) {
      const char* directory = parse_directory(argc, argv, i);
      if (directory) options.olay_directory = directory;
    }
    return true;
  }
  return parse_flag(arg, "-remain_buffered", options.remain_buffered);
}

VoxelRule choose_voxel_rule(const VoxsifterOptions& o, bool extended_points) {
  const VoxelRule highest_return = extended_points ? VoxelRule::HIGHEST_EXTENDED_RETURN : VoxelRule::HIGHEST_RETURN;
  const VoxelRule lowest_return = extended_points ? VoxelRule::LOWEST_EXTENDED_RETURN : VoxelRule::LOWEST_RETURN;
  if (o.closest) return VoxelRule::CLOSEST;
  if (o.highest) return VoxelRule::HIGHEST_Z;
  if (o.lowest) return VoxelRule::LOWEST_Z;
  if (o.intensity_max) return VoxelRule::HIGHEST_INTENSITY;
  if (o.intensity_min) return VoxelRule::LOWEST_INTENSITY;
  if (o.counting()) {
    if (o.return_max) return highest_return;
    if (o.return_min) return lowest_return;
    if (o.attribute_max) return VoxelRule::HIGHEST_ATTRIBUTE;
    if (o.attribute_min) return VoxelRule::LOWEST_ATTRIBUTE;
  } else {
    if (o.attribute_max) return VoxelRule::HIGHEST_ATTRIBUTE;
    if (o.attribute_min) return VoxelRule::LOWEST_ATTRIBUTE;
    if (o.return_max) return highest_return;
    if (o.return_min) return lowest_return;
  }
  if (o.random_cell_occurrence) return VoxelRule::RANDOM;
  return VoxelRule::FIRST;
}

PointFilterInterface* make_point_filter(const VoxsifterOptions& options, F64 step_xy, F64 step_z,
                                        const LASreader& reader) {
  const VoxelRule rule = choose_voxel_rule(options, reader.point.get_extended_layout() != 0);
  return make_voxel_filter(rule, options.counting(), step_xy, step_z, reader.header);
}
