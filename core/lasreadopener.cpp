// The read opener: parsing of the input options with their exact error texts,
// the hand-over to filter, transform and ignore rules, the option text for
// child processes, the input and neighbour lists with their list files, and the
// choice, configuration, opening and reopening of the readers.
#include "core/lasreadopener.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/lasreader.hpp"
#include "core/lasreader_las.hpp"
#include "core/lasutility.hpp"
#include "filters/lasfilter.hpp"
#include "filters/lasignore.hpp"
#include "formats/lasreader_asc.hpp"
#include "formats/lasreader_bil.hpp"
#include "formats/lasreader_bin.hpp"
#include "formats/lasreader_dtm.hpp"
#include "formats/lasreader_ply.hpp"
#include "formats/lasreader_qfit.hpp"
#include "formats/lasreader_shp.hpp"
#include "formats/lasreader_txt.hpp"
#include "index/lascopc.hpp"
#include "index/lasindex.hpp"
#include "index/laskdtree.hpp"
#include "index/lasreaderbuffered.hpp"
#include "index/lasreadermerged.hpp"
#include "index/lasreaderpipeon.hpp"
#include "index/lasreaderstored.hpp"
#include "transforms/lastransform.hpp"

LASreadOpener::LASreadOpener() = default;

LASreadOpener::~LASreadOpener() {
  delete filter;
  delete transform;
  delete ignore;
}

void LASreadOpener::set_parse_string(const char* parse_string) {
  if (parse_string) {
    this->parse_string = std::string(parse_string);
  } else {
    this->parse_string.reset();
  }
}

void LASreadOpener::set_scale_factor(const F64* scale_factor) {
  if (scale_factor) {
    this->scale_factor = std::array<F64, 3>{scale_factor[0], scale_factor[1], scale_factor[2]};
  } else {
    this->scale_factor.reset();
  }
}

void LASreadOpener::set_offset(const F64* offset) {
  if (offset) {
    this->offset = std::array<F64, 3>{offset[0], offset[1], offset[2]};
  } else {
    this->offset.reset();
  }
}

void LASreadOpener::usage() const {
  LASMessage(INFO,
             "Supported LAS Inputs\n"
             "  -i lidar.las\n"
             "  -i lidar.vmb\n"
             "  -i lidar1.las lidar2.las lidar3.las -merged\n"
             "  -i *.las - merged\n"
             "  -i flight0??.vmb flight1??.vmb\n"
             "  -i terrasolid.bin\n"
             "  -i esri.shp\n"
             "  -i lidar.txt -iparse xyzti -iskip 2 (on-the-fly from ASCII)\n"
             "  -i lidar.txt -iparse xyzi -itranslate_intensity 1024\n"
             "  -lof file_list.txt\n"
             "  -stdin (pipe from stdin)\n"
             "  -rescale 0.01 0.01 0.001\n"
             "  -rescale_xy 0.01 0.01\n"
             "  -rescale_z 0.01\n"
             "  -reoffset 600000 4000000 0\n"
             "Fast AOI Queries for LAS/VMB with spatial indexing LAX files\n"
             "  -inside min_x min_y max_x max_y\n"
             "  -inside_tile ll_x ll_y size\n"
             "  -inside_circle center_x center_y radius\n"
             "Fast AOI Queries for VMB 1.4 with spatial indexing COPC VLR\n"
             "  -inside min_x min_y max_x max_y\n"
             "  -inside_circle center_x center_y radius\n"
             "  -max_depth 3\n"
             "  -resolution 0.1");
}

// ------------------------------------------------------------------ parsing

// The conversions of the option table. A value that is not finite (nan, inf)
// never makes sense as a coordinate, scale or size and counts as not converted.
static bool scan_f64(const char* text, F64* value) { return sscanf(text, "%lf", value) == 1 && std::isfinite(*value); }
static bool scan_f32(const char* text, F32* value) { return sscanf(text, "%f", value) == 1 && std::isfinite(*value); }
static bool scan_u32(const char* text, U32* value) { return sscanf(text, "%u", value) == 1; }
static bool scan_i32(const char* text, I32* value) { return sscanf(text, "%d", value) == 1; }

// A base-10 integer as the flight-line options read it (0 when there is none),
// kept within the 32-bit range instead of overflowing.
static I32 base10(const char* text) {
  long long value = strtoll(text, nullptr, 10);
  if (value > I32_MAX) return I32_MAX;
  if (value < I32_MIN + 1) return I32_MIN + 1;
  return (I32)value;
}

// Values of "-iadd_extra" that may be 0 only when written exactly so.
static bool is_written_zero(const char* text) { return strcmp(text, "0") == 0 || strcmp(text, "0.0") == 0; }

static void blank(char* argv[], int from, int to) {
  for (int k = from; k <= to; k++) argv[k][0] = '\0';
}

bool LASreadOpener::parse(int argc, char* argv[], bool parse_ignore, bool suppress_ignore) {
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "-help") == 0) return true;
    if (strcmp(argv[i], "-hh") == 0) {
      LASfilter().usage();
      LAStransform().usage();
      LASignore().usage();
      usage();
      return true;
    }
    if (strncmp(argv[i], "-ignore_", 8) == 0) {
      if (parse_ignore) {
        if (ignore == nullptr) ignore = new LASignore();
        if (!ignore->parse(i, argc, argv)) {
          delete ignore;
          ignore = nullptr;
          return false;
        }
      } else if (!suppress_ignore) {
        LASMessage(WARNING, "this tool does not process '-ignore_xxxx' options");
      }
      continue;
    }
    bool failed = false;
    parse_option(i, argc, argv, failed);
    if (failed) return false;
  }

  if (neighbors.size() > 0) {
    if (input.size() > 1) {
      laserror("neighbors only supported for one buffered input file, not for %d", (I32)input.size());
      return false;
    }
    if (buffer_size == 0.0f) {
      laserror("neighbors only make sense when used with '-buffered 50' or similar");
      return false;
    }
  }

  if (filter) {
    filter->clean();
  } else {
    filter = new LASfilter();
  }
  if (!filter->parse(argc, argv)) {
    delete filter;
    filter = nullptr;
    return false;
  }
  if (filter->criteria_count == 0) {
    delete filter;
    filter = nullptr;
  }

  if (transform) {
    transform->clean();
  } else {
    transform = new LAStransform();
  }
  if (!transform->parse(argc, argv)) {
    delete transform;
    transform = nullptr;
    return false;
  }
  if (transform->op_count > 0) {
    if (transform->filtered_transform) {
      if (filter) {
        // The filter now chooses the points to transform and drops none.
        transform->setFilter(filter);
        filter = nullptr;
      } else {
        LASMessage(WARNING, "no LASfilter specified. '-filtered_transform' has no effect.");
      }
    }
  } else {
    if (transform->filtered_transform) LASMessage(WARNING, "no LAStransform specified. '-filtered_transform' has no effect.");
    delete transform;
    transform = nullptr;
  }

  // The source ID of each file is put in when the file is opened.
  if (files_are_flightlines != 0 || apply_file_source_ID) {
    if (transform == nullptr) transform = new LAStransform();
    transform->setPointSource(0);
  }
  return true;
}

// Takes the option at argv[i] when it is one of the input options, leaving i on
// its last value; `failed` after a reported error.
bool LASreadOpener::parse_option(int& i, int argc, char* argv[], bool& failed) {
  // The option is emptied before some messages name it.
  const std::string option_text = argv[i];
  const char* option = option_text.c_str();
  auto has = [&](int n) { return i + n < argc; };
  auto fail = [&]() {
    failed = true;
    return true;
  };

  if (strncmp(option, "-inside", 7) == 0 && strcmp(option, "-inside") != 0 && strcmp(option, "-inside_rectangle") != 0 &&
      strcmp(option, "-inside_tile") != 0 && strcmp(option, "-inside_circle") != 0) {
    laserror("unknown '-inside' option '%s'", option);
    return fail();
  }

  if (strcmp(option, "-i") == 0 || strcmp(option, "-neighbors") == 0) {
    const bool is_input = option[1] == 'i';
    if (!has(1) || argv[i + 1][0] == '\0') {
      laserror("'%s' needs at least 1 argument: file_name or wild_card", option);
      return fail();
    }
    argv[i][0] = '\0';
    // The first value is always a name, even when it begins with '-'.
    do {
      i++;
      if (is_input) {
        add_file_name(argv[i], unique);
      } else {
        add_neighbor_file_name(argv[i], false);
      }
      argv[i][0] = '\0';
    } while (has(1) && argv[i + 1][0] != '\0' && argv[i + 1][0] != '-');
    return true;
  }
  if (strcmp(option, "-lof") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: list_of_files", option);
      return fail();
    }
    if (!add_list_of_files(argv[i + 1], unique)) {
      laserror("cannot load list of files '%s'", argv[i + 1]);
      return fail();
    }
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-neighbors_lof") == 0) {
    if (!has(1)) {
      laserror("'%s' needs at least 1 argument: file_name", option);
      return fail();
    }
    if (!add_neighbor_list_of_files(argv[i + 1], unique)) {
      laserror("cannot load neighbor list of files '%s'", argv[i + 1]);
      return fail();
    }
    blank(argv, i, i + 1);
    i++;
    return true;
  }

  // Switches without values.
  static const struct {
    const char* option;
    bool LASreadOpener::*field;
    bool value;
  } switches[] = {
      {"-unique", &LASreadOpener::unique, true},
      {"-stdin", &LASreadOpener::use_stdin, true},
      {"-merged", &LASreadOpener::merged, true},
      {"-stored", &LASreadOpener::stored, true},
      {"-pipe_on", &LASreadOpener::pipe_on, true},
      {"-populate", &LASreadOpener::populate_header, true},
      {"-do_not_populate", &LASreadOpener::populate_header, false},
      {"-apply_file_source_ID", &LASreadOpener::apply_file_source_ID, true},
      {"-auto_reoffset", &LASreadOpener::auto_reoffset, true},
      {"-offset_adjust", &LASreadOpener::offset_adjust, true},
      {"-itxt", &LASreadOpener::itxt, true},
      {"-comma_not_point", &LASreadOpener::comma_not_point, true},
  };
  for (const auto& entry : switches) {
    if (strcmp(option, entry.option) == 0) {
      this->*entry.field = entry.value;
      argv[i][0] = '\0';
      return true;
    }
  }
  static const struct {
    const char* option;
    bool LASreadOpener::*field;
  } text_kinds[] = {
      {"-ipts", &LASreadOpener::ipts},
      {"-iptx", &LASreadOpener::iptx},
      {"-iptx_transform", &LASreadOpener::iptx_transform},
  };
  for (const auto& entry : text_kinds) {
    if (strcmp(option, entry.option) == 0) {
      itxt = true;
      this->*entry.field = true;
      argv[i][0] = '\0';
      return true;
    }
  }
  static const struct {
    const char* option;
    U8 order;
  } stream_orders[] = {
      {"-stream_order_normal", 0},
      {"-stream_order_spatial", 1},
      {"-stream_order_level", 2},
  };
  for (const auto& entry : stream_orders) {
    if (strcmp(option, entry.option) == 0) {
      copc_stream_order = entry.order;
      argv[i][0] = '\0';
      return true;
    }
  }

  if (strcmp(option, "-buffered") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: buffer_size", option);
      return fail();
    }
    F32 size;
    if (!scan_f32(argv[i + 1], &size)) {
      laserror("'%s' needs 1 argument: buffer_size. but '%s' is not a valid buffer_size", option, argv[i + 1]);
      return fail();
    }
    if (size <= 0.0f) {
      laserror("'%s' needs 1 argument: buffer_size, but %f is not valid", option, (F64)size);
      return fail();
    }
    buffer_size = size;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-temp_files") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: base name", option);
      return fail();
    }
    temp_file_base = argv[i + 1];
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-files_are_flightlines") == 0 || strcmp(option, "-faf") == 0) {
    argv[i][0] = '\0';
    if (has(1) && argv[i + 1][0] >= '1' && argv[i + 1][0] <= '9') {
      files_are_flightlines = base10(argv[i + 1]);
      i++;
      argv[i][0] = '\0';
    } else {
      files_are_flightlines = 1;
    }
    if (files_are_flightlines > 65535) {
      LASMessage(WARNING, "files_are_flightlines start value %d is too large", files_are_flightlines);
    }
    if ((I64)files_are_flightlines + files_are_flightlines_index > 65535) {
      LASMessage(WARNING, "files_are_flightlines start value %d plus index %d is too large", files_are_flightlines,
                 files_are_flightlines_index);
    }
    return true;
  }
  if (strcmp(option, "-faf_index") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: index", option);
      return fail();
    }
    const I32 index = base10(argv[i + 1]);
    files_are_flightlines_index = index - 1;
    if (index > 65535) LASMessage(WARNING, "files_are_flightlines_index index value %d is too large", index);
    if ((I64)files_are_flightlines + index > 65535) {
      LASMessage(WARNING, "files_are_flightlines start value %d plus index %d is too large", files_are_flightlines,
                 index);
    }
    blank(argv, i, i + 1);
    i++;
    return true;
  }

  if (strcmp(option, "-rescale") == 0) {
    static const char* const names[3] = {"rescale_x", "rescale_y", "rescale_z"};
    if (!has(3)) {
      laserror("'%s' needs 3 arguments: rescale_x rescale_y rescale_z", option);
      return fail();
    }
    std::array<F64, 3> values;
    for (int k = 0; k < 3; k++) {
      if (!scan_f64(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 3 arguments: rescale_x rescale_y rescale_z, but '%s' is not a valid %s", option,
                 argv[i + 1 + k], names[k]);
        return fail();
      }
      if (values[k] == 0.0) {
        laserror("'%s' needs 3 arguments: rescale_x rescale_y rescale_z, but %lf is not a valid %s", option, values[k],
                 names[k]);
        return fail();
      }
    }
    scale_factor = values;
    blank(argv, i, i + 3);
    i += 3;
    return true;
  }
  if (strcmp(option, "-rescale_xy") == 0) {
    static const char* const names[2] = {"rescale_x", "rescale_y"};
    if (!has(2)) {
      laserror("'%s' needs 2 argument: rescale_x rescale_y", option);
      return fail();
    }
    std::array<F64, 3> values = {0.0, 0.0, 0.0};
    for (int k = 0; k < 2; k++) {
      if (!scan_f64(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 2 argument: rescale_x rescale_y, but '%s' is not a valid %s", option, argv[i + 1 + k],
                 names[k]);
        return fail();
      }
      if (values[k] == 0.0) {
        laserror("'%s' needs 2 argument: rescale_x rescale_y, but %lf is not a valid %s", option, values[k], names[k]);
        return fail();
      }
    }
    scale_factor = values;
    blank(argv, i, i + 2);
    i += 2;
    return true;
  }
  if (strcmp(option, "-rescale_z") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: rescale_z", option);
      return fail();
    }
    std::array<F64, 3> values = {0.0, 0.0, 0.0};
    if (!scan_f64(argv[i + 1], &values[2])) {
      laserror("'%s' needs 1 argument: rescale_z, but '%s' is not a valid rescale_z", option, argv[i + 1]);
      return fail();
    }
    if (values[2] == 0.0) {
      laserror("'%s' needs 1 argument: rescale_z, but %lf is not a valid rescale_z", option, values[2]);
      return fail();
    }
    scale_factor = values;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-reoffset") == 0) {
    static const char* const names[3] = {"reoffset_x", "reoffset_y", "reoffset_z"};
    if (!has(3)) {
      laserror("'%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z", option);
      return fail();
    }
    std::array<F64, 3> values;
    for (int k = 0; k < 3; k++) {
      if (!scan_f64(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but '%s' is not a valid %s", option,
                 argv[i + 1 + k], names[k]);
        return fail();
      }
    }
    offset = values;
    blank(argv, i, i + 3);
    i += 3;
    return true;
  }

  if (strcmp(option, "-inside") == 0 || strcmp(option, "-inside_rectangle") == 0) {
    static const char* const names[4] = {"min_x", "min_y", "max_x", "max_y"};
    if (!has(4)) {
      laserror("'%s' needs 4 arguments: min_x min_y max_x max_y", option);
      return fail();
    }
    std::array<F64, 4> values;
    for (int k = 0; k < 4; k++) {
      if (!scan_f64(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 4 arguments: min_x min_y max_x max_y, but '%s' is not a valid %s.", option,
                 argv[i + 1 + k], names[k]);
        return fail();
      }
    }
    if (!(values[0] < values[2])) {
      laserror("'%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not a valid min_x / max_x pair.",
               option, values[0], values[2]);
      return fail();
    }
    if (!(values[1] < values[3])) {
      laserror("'%s' needs 4 arguments: min_x min_y max_x max_y, but %lf / %lf are not a valid min_y / max_y pair.",
               option, values[1], values[3]);
      return fail();
    }
    inside_rectangle = values;
    blank(argv, i, i + 4);
    i += 4;
    return true;
  }
  if (strcmp(option, "-inside_tile") == 0) {
    static const char* const names[3] = {"ll_x", "ll_y", "size"};
    if (!has(3)) {
      laserror("'%s' needs 3 arguments: ll_x ll_y size", option);
      return fail();
    }
    std::array<F32, 3> values;
    for (int k = 0; k < 3; k++) {
      if (!scan_f32(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 3 arguments: ll_x ll_y size, but '%s' is not a valid %s.", option, argv[i + 1 + k],
                 names[k]);
        return fail();
      }
    }
    if (!(values[2] > 0.0f)) {
      laserror("'%s' needs 3 arguments: ll_x ll_y size, but %f is not valid a size.", option, (F64)values[2]);
      return fail();
    }
    inside_tile = values;
    blank(argv, i, i + 3);
    i += 3;
    return true;
  }
  if (strcmp(option, "-inside_circle") == 0) {
    static const char* const names[3] = {"center_x", "center_y", "radius"};
    if (!has(3)) {
      laserror("'%s' needs 3 arguments: center_x center_y radius", option);
      return fail();
    }
    std::array<F64, 3> values;
    for (int k = 0; k < 3; k++) {
      if (!scan_f64(argv[i + 1 + k], &values[k])) {
        laserror("'%s' needs 3 arguments: center_x center_y radius, but '%s' is not a valid %s.", option,
                 argv[i + 1 + k], names[k]);
        return fail();
      }
    }
    if (!(values[2] > 0.0)) {
      laserror("'%s' needs 3 arguments: center_x center_y radius, but %lf is not valid a radius.", option, values[2]);
      return fail();
    }
    inside_circle = values;
    blank(argv, i, i + 3);
    i += 3;
    return true;
  }
  if (strcmp(option, "-max_depth") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: depth", option);
      return fail();
    }
    I32 depth;
    if (!scan_i32(argv[i + 1], &depth)) {
      laserror("'%s' needs 1 argument: depth, but '%s' is not a valid depth", option, argv[i + 1]);
      return fail();
    }
    if (depth < 0) {
      laserror("'%s' needs 1 argument: depth, but %d is not a valid depth", option, depth);
      return fail();
    }
    max_depth = depth;
    copc_query = LASreader::COPC_QUERY_DEPTH;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-resolution") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: resolution", option);
      return fail();
    }
    F32 value;
    if (!scan_f32(argv[i + 1], &value)) {
      laserror("'%s' needs 1 argument: resolution, but '%s' is not a valid resolution", option, argv[i + 1]);
      return fail();
    }
    if (!(value > 0.0f)) {
      laserror("'%s' needs 1 argument: resolution, but %lf is not a valid resolution", option, (F64)value);
      return fail();
    }
    resolution = value;
    copc_query = LASreader::COPC_QUERY_RESOLUTION;
    blank(argv, i, i + 1);
    i++;
    return true;
  }

  if (strcmp(option, "-iparse") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: string", option);
      return fail();
    }
    parse_string = std::string(argv[i + 1]);
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-iskip") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: number_of_lines", option);
      return fail();
    }
    U32 lines;
    if (!scan_u32(argv[i + 1], &lines)) {
      laserror("'%s' needs 1 argument: number_of_lines but '%s' is not a valid number.", option, argv[i + 1]);
      return fail();
    }
    if (lines == 0) {
      laserror("'%s' needs 1 argument: number_of_lines but %u is not valid.", option, lines);
      return fail();
    }
    skip_lines = lines;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  static const struct {
    const char* option;
    F32 LASreadOpener::*field;
    const char* word;
  } text_values[] = {
      {"-itranslate_intensity", &LASreadOpener::translate_intensity, "translation"},
      {"-iscale_intensity", &LASreadOpener::scale_intensity, "scale"},
      {"-itranslate_scan_angle", &LASreadOpener::translate_scan_angle, "translation"},
      {"-iscale_scan_angle", &LASreadOpener::scale_scan_angle, "scale"},
  };
  for (const auto& entry : text_values) {
    if (strcmp(option, entry.option) != 0) continue;
    if (!has(1)) {
      laserror("'%s' needs 1 argument: %s", option, entry.word);
      return fail();
    }
    F32 value;
    if (!scan_f32(argv[i + 1], &value)) {
      laserror("'%s' needs 1 argument: %s but '%s' is not valid.", option, entry.word, argv[i + 1]);
      return fail();
    }
    if (value == 0.0f) {
      laserror("'%s' needs 1 argument: %s but %f is not valid.", option, entry.word, (F64)value);
      return fail();
    }
    this->*entry.field = value;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-iadd_extra") == 0 || strcmp(option, "-iadd_attribute") == 0) {
    if (!has(3)) {
      laserror("'%s' needs 3 arguments: data_type name description", option);
      return fail();
    }
    LASreadOpenerAttribute attribute;
    attribute.data_type = base10(argv[i + 1]);
    attribute.name = argv[i + 2];
    attribute.description = argv[i + 3];
    int last = i + 3;
    // Each number qualifies by its own rule; the first that does not ends the list.
    F64* const numbers[5] = {&attribute.scale, &attribute.offset, &attribute.pre_scale, &attribute.pre_offset,
                             &attribute.no_data};
    const bool zero_allowed[5] = {false, true, false, true, true};
    for (int k = 0; k < 5 && last + 1 < argc; k++) {
      const char* text = argv[last + 1];
      F64 value;
      if (!scan_f64(text, &value)) break;
      if (value == 0.0 && !(zero_allowed[k] && is_written_zero(text))) break;
      *numbers[k] = value;
      last++;
    }
    if (attribute.data_type < 1 || attribute.data_type > 10) {
      LASMessage(WARNING, "attribute data type %d not supported. ignoring attribute '%s'.", attribute.data_type,
                 attribute.name.c_str());
    } else if ((I32)attributes.size() >= LAS_READ_OPENER_MAX_ATTRIBUTES) {
      laserror("cannot add attribute '%s'. at most %d attributes are supported.", attribute.name.c_str(),
               LAS_READ_OPENER_MAX_ATTRIBUTES);
      return fail();
    } else {
      attributes.push_back(attribute);
    }
    blank(argv, i, last);
    i = last;
    return true;
  }
  if (strcmp(option, "-io_ibuffer") == 0) {
    if (!has(1)) {
      laserror("'%s' needs 1 argument: size", option);
      return fail();
    }
    U32 size;
    if (!scan_u32(argv[i + 1], &size)) {
      laserror("'%s' needs 1 argument: size but '%s' is not a valid size.", option, argv[i + 1]);
      return fail();
    }
    if (size == 0) {
      laserror("'%s' needs 1 argument: size but %u is not valid.", option, size);
      return fail();
    }
    io_ibuffer_size = size;
    blank(argv, i, i + 1);
    i++;
    return true;
  }
  if (strcmp(option, "-z_from_attribute") == 0) {
    z_from_attribute = true;
    argv[i][0] = '\0';
    // Only a number is an index; a name or an emptied argument is left alone.
    if (has(1) && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9') {
      const I32 index = base10(argv[i + 1]);
      z_from_attribute_index = (I16)(index > I16_MAX ? I16_MAX : index);
      i++;
      argv[i][0] = '\0';
    }
    return true;
  }
  return false;
}

// ------------------------------------------------------------------ option text

I32 LASreadOpener::unparse(std::string& text) const {
  const size_t start = text.size();
  auto numbers = [&text](const char* option, std::initializer_list<std::string> values) {
    text += option;
    text += ' ';
    for (const std::string& value : values) text += value + " ";
  };
  // Every area that is set: a child must read the same area as this process.
  if (inside_tile) {
    numbers("-inside_tile", {option_text_f32((*inside_tile)[0], "%g"), option_text_f32((*inside_tile)[1], "%g"),
                             option_text_f32((*inside_tile)[2], "%g")});
  }
  if (inside_circle) {
    numbers("-inside_circle", {option_text_f64((*inside_circle)[0]), option_text_f64((*inside_circle)[1]),
                               option_text_f64((*inside_circle)[2])});
  }
  if (inside_rectangle) {
    numbers("-inside_rectangle", {option_text_f64((*inside_rectangle)[0]), option_text_f64((*inside_rectangle)[1]),
                                  option_text_f64((*inside_rectangle)[2]), option_text_f64((*inside_rectangle)[3])});
  }
  if (stored) text += "-stored ";
  if (merged) text += "-merged ";
  if (files_are_flightlines == 1) {
    text += "-faf ";
  } else if (files_are_flightlines != 0) {
    text += "-faf " + std::to_string(files_are_flightlines) + " ";
  }
  if (apply_file_source_ID) text += "-apply_file_source_ID ";
  if (scale_factor) {
    const std::array<F64, 3>& s = *scale_factor;
    if (s[2] != 0.0) {
      if (s[0] == 0.0 && s[1] == 0.0) {
        numbers("-rescale_z", {option_text_f64(s[2])});
      } else {
        numbers("-rescale", {option_text_f64(s[0]), option_text_f64(s[1]), option_text_f64(s[2])});
      }
    } else if (s[0] != 0.0 && s[1] != 0.0) {
      numbers("-rescale_xy", {option_text_f64(s[0]), option_text_f64(s[1])});
    }
  }
  // Each of these changes how a file is opened on its own.
  if (offset && !offset_from_adjustment) {
    numbers("-reoffset", {option_text_f64((*offset)[0]), option_text_f64((*offset)[1]), option_text_f64((*offset)[2])});
  }
  if (auto_reoffset) text += "-auto_reoffset ";
  if (offset_adjust) text += "-offset_adjust ";
  if (populate_header) text += "-populate ";
  if (io_ibuffer_size != LAS_IO_IBUFFER_SIZE) text += "-io_ibuffer " + std::to_string(io_ibuffer_size) + " ";
  if (!temp_file_base.empty()) {
    text += "-temp_files ";
    append_quoted_option_value(text, temp_file_base);
  }
  if (parse_string) {
    text += "-iparse ";
    append_quoted_option_value(text, *parse_string);
  }
  if (skip_lines != 0) text += "-iskip " + std::to_string(skip_lines) + " ";
  if (itxt) {
    if (ipts) text += "-ipts ";
    if (iptx) text += "-iptx ";
    if (iptx_transform) text += "-iptx_transform ";
    if (!ipts && !iptx && !iptx_transform) text += "-itxt ";
  }
  // The text-input settings: a child reads text input as this process would.
  if (translate_intensity != 0.0f) numbers("-itranslate_intensity", {option_text_f32(translate_intensity, "%g")});
  if (scale_intensity != 1.0f) numbers("-iscale_intensity", {option_text_f32(scale_intensity, "%g")});
  if (translate_scan_angle != 0.0f) numbers("-itranslate_scan_angle", {option_text_f32(translate_scan_angle, "%g")});
  if (scale_scan_angle != 1.0f) numbers("-iscale_scan_angle", {option_text_f32(scale_scan_angle, "%g")});
  for (const LASreadOpenerAttribute& a : attributes) {
    // A zero is written as "0" so that it qualifies as a value when read back.
    auto value = [](F64 v) { return v == 0.0 ? std::string("0") : option_text_f64(v, "%g"); };
    text += "-iadd_extra " + std::to_string(a.data_type) + " ";
    append_quoted_option_value(text, a.name);
    append_quoted_option_value(text, a.description);
    text += value(a.scale) + " " + value(a.offset) + " " + value(a.pre_scale) + " " + value(a.pre_offset) + " " +
            value(a.no_data) + " ";
  }
  // The COPC query given last is the one in force; it is written last.
  const bool resolution_last = copc_query == LASreader::COPC_QUERY_RESOLUTION && max_depth != -1;
  if (resolution != 0.0f && !resolution_last) numbers("-resolution", {option_text_f32(resolution, "%lf")});
  if (unique) text += "-unique ";
  if (comma_not_point) text += "-comma_not_point ";
  if (copc_stream_order == 0) text += "-stream_order_normal ";
  if (copc_stream_order == 2) text += "-stream_order_level ";
  if (max_depth != -1) text += "-max_depth " + std::to_string(max_depth) + " ";
  if (resolution != 0.0f && resolution_last) numbers("-resolution", {option_text_f32(resolution, "%lf")});
  if (z_from_attribute) {
    text += "-z_from_attribute ";
    if (z_from_attribute_index >= 0) text += std::to_string(z_from_attribute_index) + " ";
  }
  return (I32)(text.size() - start);
}

// ------------------------------------------------------------------ input lists

// The bounds of a file that a list with bounds does not know: it may lie
// anywhere, so it overlaps every query.
static const F64 UNBOUNDED = 2e307;

bool LASreadOpener::add_to_list(LASreadOpenerFileList& list, bool is_neighbor, const char* name, const U32* ID,
                                const I64* npoints, const F64* bounds, bool unique) {
  if (name == nullptr || name[0] == '\0') return false;
  if (unique && list.name_set.count(name)) return false;
  const size_t count = list.names.size();
  try {
    // Kinds of values that arrive late get defaults for the names before.
    if (ID && !list.with_IDs) {
      list.IDs.assign(count, 0);
      list.with_IDs = true;
    }
    if (npoints && !list.with_npoints) {
      list.npoints.assign(count, 0);
      list.with_npoints = true;
    }
    if (bounds && !list.with_bounds) {
      list.min_x.assign(count, -UNBOUNDED);
      list.min_y.assign(count, -UNBOUNDED);
      list.max_x.assign(count, UNBOUNDED);
      list.max_y.assign(count, UNBOUNDED);
      list.with_bounds = true;
    }
    list.names.emplace_back(name);
    list.name_set.insert(list.names.back());
    if (list.with_IDs) list.IDs.push_back(ID ? *ID : 0);
    if (list.with_npoints) list.npoints.push_back(npoints ? *npoints : 0);
    if (list.with_bounds) {
      list.min_x.push_back(bounds ? bounds[0] : -UNBOUNDED);
      list.min_y.push_back(bounds ? bounds[1] : -UNBOUNDED);
      list.max_x.push_back(bounds ? bounds[2] : UNBOUNDED);
      list.max_y.push_back(bounds ? bounds[3] : UNBOUNDED);
    }
  } catch (const std::bad_alloc&) {
    if (list.names.size() > count) {
      // A name already listed stays in the set: it was there before.
      if (std::count(list.names.begin(), list.names.end() - 1, list.names.back()) == 0) {
        list.name_set.erase(list.names.back());
      }
      list.names.resize(count);
    }
    if (list.IDs.size() > count) list.IDs.resize(count);
    if (list.npoints.size() > count) list.npoints.resize(count);
    for (std::vector<F64>* v : {&list.min_x, &list.min_y, &list.max_x, &list.max_y}) {
      if (v->size() > count) v->resize(count);
    }
    laserror(is_neighbor ? "alloc for neighbor_file_names pointer array failed at %d"
                         : "alloc for file_names pointer array failed at %d",
             (I32)list.names.capacity());
    return false;
  }
  // The kd-tree over the bounds is built again on its next use.
  if (list.has_bounds()) (is_neighbor ? neighbor_kdtree_rectangles : kdtree_rectangles).reset();
  return true;
}

void LASreadOpener::set_file_name(const char* file_name, bool unique) { add_file_name(file_name, unique); }

bool LASreadOpener::add_file_name(const char* file_name, bool unique) {
  return add_to_list(input, false, file_name, nullptr, nullptr, nullptr, unique);
}

bool LASreadOpener::add_file_name(const char* file_name, U32 ID, bool unique) {
  return add_to_list(input, false, file_name, &ID, nullptr, nullptr, unique);
}

bool LASreadOpener::add_file_name(const char* file_name, U32 ID, I64 npoints, F64 min_x, F64 min_y, F64 max_x,
                                  F64 max_y, bool unique) {
  const F64 bounds[4] = {min_x, min_y, max_x, max_y};
  return add_to_list(input, false, file_name, &ID, &npoints, bounds, unique);
}

bool LASreadOpener::add_neighbor_file_name(const char* file_name, bool unique) {
  return add_to_list(neighbors, true, file_name, nullptr, nullptr, nullptr, unique);
}

bool LASreadOpener::add_neighbor_file_name(const char* file_name, I64 npoints, F64 min_x, F64 min_y, F64 max_x,
                                           F64 max_y, bool unique) {
  const F64 bounds[4] = {min_x, min_y, max_x, max_y};
  return add_to_list(neighbors, true, file_name, nullptr, &npoints, bounds, unique);
}

bool LASreadOpener::add_list_of_files(const char* list_file, bool unique) {
  return read_list_file(list_file, unique, false);
}

bool LASreadOpener::add_neighbor_list_of_files(const char* list_file, bool unique) {
  return read_list_file(list_file, unique, true);
}

// Lines are read whole, whatever their length; trailing blanks, tabs, line
// feeds and carriage returns go, and empty lines are skipped.
bool LASreadOpener::read_list_file(const char* list_file, bool unique, bool is_neighbor) {
  FILE* file = LASfopen(list_file, "r");
  if (file == nullptr) {
    laserror("cannot open '%s'", list_file);
    return false;
  }
  char* line = nullptr;
  size_t capacity = 0;
  ssize_t length;
  while ((length = getline(&line, &capacity, file)) != -1) {
    while (length > 0 && (line[length - 1] == ' ' || line[length - 1] == '\t' || line[length - 1] == '\n' ||
                          line[length - 1] == '\r')) {
      line[--length] = '\0';
    }
    if (length == 0) continue;
    auto skip_blanks = [](const char* text) {
      while (*text == ' ' || *text == '\t') text++;
      return text;
    };
    U32 ID;
    long long npoints;
    F64 bounds[4];
    int end = -1;
    // "ID,npoints,min_x,min_y,max_x,max_y,name" (%n is reached only when the
    // sixth comma is there).
    sscanf(line, "%u,%lld,%lf,%lf,%lf,%lf,%n", &ID, &npoints, &bounds[0], &bounds[1], &bounds[2], &bounds[3], &end);
    if (end > 0 && skip_blanks(line + end)[0] != '\0') {
      const char* name = skip_blanks(line + end);
      if (is_neighbor) {
        add_neighbor_file_name(name, (I64)npoints, bounds[0], bounds[1], bounds[2], bounds[3], unique);
      } else {
        add_file_name(name, ID, (I64)npoints, bounds[0], bounds[1], bounds[2], bounds[3], unique);
      }
      continue;
    }
    // "ID,name".
    end = -1;
    if (sscanf(line, "%u%n", &ID, &end) == 1 && end > 0 && line[end] == ',' && skip_blanks(line + end + 1)[0] != '\0') {
      const char* name = skip_blanks(line + end + 1);
      if (is_neighbor) {
        add_neighbor_file_name(name, false);
      } else {
        add_file_name(name, ID, unique);
      }
      continue;
    }
    if (is_neighbor) {
      add_neighbor_file_name(line, false);
    } else {
      add_file_name(line, unique);
    }
  }
  free(line);
  fclose(file);
  return true;
}

// One line of a list file: the bounds form when the list has bounds, the
// "ID,name" form when it has IDs, else the name alone.
static bool write_list_line(FILE* file, const LASreadOpenerFileList& list, U32 k) {
  std::string line;
  if (list.with_bounds) {
    line = std::to_string(list.with_IDs ? list.IDs[k] : 0) + "," +
           std::to_string(list.with_npoints ? list.npoints[k] : 0);
    for (F64 bound : {list.min_x[k], list.min_y[k], list.max_x[k], list.max_y[k]}) {
      line += "," + option_text_f64(bound, "%g");
    }
    line += ",";
  } else if (list.with_IDs) {
    line = std::to_string(list.IDs[k]) + ",";
  }
  line += list.names[k];
  line += '\n';
  return fwrite(line.data(), 1, line.size(), file) == line.size();
}

bool LASreadOpener::write_list_of_files(FILE* file, bool with_neighbors) const {
  for (U32 k = 0; k < input.size(); k++) {
    if (!write_list_line(file, input, k)) return false;
  }
  if (!with_neighbors) return true;
  for (U32 k = 0; k < neighbors.size(); k++) {
    if (!write_list_line(file, neighbors, k)) return false;
  }
  return true;
}

void LASreadOpener::reset() {
  file_name_current = 0;
  file_name.reset();
}

const char* LASreadOpener::get_file_name() const {
  if (file_name) return file_name->c_str();
  if (input.size() > 0) return input.names[0].c_str();
  return nullptr;
}

// ------------------------------------------------------------------ opening

LASreadOpener::InputKind LASreadOpener::input_kind(const char* name) {
  if (IsLasVmbFile(name)) return INPUT_LAS;
  if (HasFileExt(name, ".bin")) return INPUT_BIN;
  if (HasFileExt(name, ".shp")) return INPUT_SHP;
  if (HasFileExt(name, ".asc")) return INPUT_ASC;
  if (HasFileExt(name, ".bil")) return INPUT_BIL;
  if (HasFileExt(name, ".dtm")) return INPUT_DTM;
  if (HasFileExt(name, ".ply")) return INPUT_PLY;
  if (HasFileExt(name, ".qi")) return INPUT_QFIT;
  return INPUT_TXT;
}

// The reader's word in messages.
static const char* reader_word(int kind) {
  static const char* const words[] = {"lasreaderlas", "lasreaderbin", "lasreadershp", "lasreaderasc", "lasreaderbil",
                                      "lasreaderdtm", "lasreaderply", "lasreaderqfit", "lasreadertxt"};
  return words[kind];
}

// The class rule of the six formats with re-quantising variants.
template <class Plain, class Rescale, class Reoffset, class Both>
static LASreader* construct_foreign(LASreadOpener* opener, const F64* s, const F64* o, bool offset_adjust,
                                    bool has_transform) {
  if (offset_adjust) {
    // The scale is then left to the transform's offset adjustment.
    if (o && !has_transform) return new Reoffset(opener, o[0], o[1], o[2]);
    return new Plain(opener);
  }
  if (s && o) return new Both(opener, s[0], s[1], s[2], o[0], o[1], o[2]);
  if (s) return new Rescale(opener, s[0], s[1], s[2]);
  if (o) return new Reoffset(opener, o[0], o[1], o[2]);
  return new Plain(opener);
}

static void configure_txt(LASreaderTXT* reader, const LASreadOpener& opener) {
  if (opener.ipts) {
    reader->set_pts(true);
  } else {
    if (opener.iptx) reader->set_ptx(true);
    if (opener.iptx_transform) reader->set_ptx_transform(true);
  }
  if (opener.translate_intensity != 0.0f) reader->set_translate_intensity(opener.translate_intensity);
  if (opener.scale_intensity != 1.0f) reader->set_scale_intensity(opener.scale_intensity);
  if (opener.translate_scan_angle != 0.0f) reader->set_translate_scan_angle(opener.translate_scan_angle);
  if (opener.scale_scan_angle != 1.0f) reader->set_scale_scan_angle(opener.scale_scan_angle);
  reader->set_scale_factor(opener.get_scale_factor());
  reader->set_offset(opener.get_offset());
  for (const LASreadOpenerAttribute& a : opener.attributes) {
    reader->add_attribute(a.data_type, a.name.c_str(), a.description.c_str(), a.scale, a.offset, a.pre_scale,
                          a.pre_offset, a.no_data);
  }
}

LASreader* LASreadOpener::construct_reader(InputKind kind) {
  const F64* s = get_scale_factor();
  const F64* o = get_offset();
  const bool has_transform = transform != nullptr;
  switch (kind) {
    case INPUT_LAS: {
      LASreaderLAS* reader;
      if (s && o) {
        reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2], o[0], o[1], o[2]);
      } else if (s) {
        if (!auto_reoffset && !offset_adjust) {
          reader = new LASreaderLASrescale(this, s[0], s[1], s[2], true);
        } else if (offset_adjust && !auto_reoffset && has_transform) {
          // The transform's offset adjustment takes the new scale factors.
          reader = new LASreaderLAS(this);
        } else {
          reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2]);
        }
      } else if (o) {
        reader = new LASreaderLASreoffset(this, o[0], o[1], o[2]);
      } else if (auto_reoffset || (offset_adjust && !has_transform)) {
        reader = new LASreaderLASreoffset(this);
      } else {
        reader = new LASreaderLAS(this);
      }
      reader->set_keep_copc(keep_copc);
      return reader;
    }
    case INPUT_BIN:
      return construct_foreign<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset, LASreaderBINrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_SHP:
      return construct_foreign<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset, LASreaderSHPrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_ASC:
      return construct_foreign<LASreaderASC, LASreaderASCrescale, LASreaderASCreoffset, LASreaderASCrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_BIL:
      return construct_foreign<LASreaderBIL, LASreaderBILrescale, LASreaderBILreoffset, LASreaderBILrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_DTM:
      return construct_foreign<LASreaderDTM, LASreaderDTMrescale, LASreaderDTMreoffset, LASreaderDTMrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_QFIT:
      return construct_foreign<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset,
                               LASreaderQFITrescalereoffset>(this, s, o, offset_adjust, has_transform);
    case INPUT_PLY: {
      LASreaderPLY* reader = new LASreaderPLY(this);
      if (translate_intensity != 0.0f) reader->set_translate_intensity(translate_intensity);
      if (scale_intensity != 1.0f) reader->set_scale_intensity(scale_intensity);
      reader->set_scale_factor(s);
      reader->set_offset(o);
      return reader;
    }
    case INPUT_TXT:
      break;
  }
  LASreaderTXT* reader = new LASreaderTXT(this);
  configure_txt(reader, *this);
  return reader;
}

// Opens `reader` (made by construct_reader for `kind`) on `name`. With `again`
// the file is opened once more for another pass, where the formats that can
// do so reopen on their open file.
static bool open_by_kind(LASreader* reader, int kind, const char* name, const LASreadOpener& opener, bool again) {
  switch (kind) {
    case 0: {
      LASreaderLAS* las = dynamic_cast<LASreaderLAS*>(reader);
      return las && las->open(name, (I32)opener.io_ibuffer_size, false, opener.decompress_selective);
    }
    case 1: {
      LASreaderBIN* bin = dynamic_cast<LASreaderBIN*>(reader);
      return bin && bin->open(name);
    }
    case 2: {
      LASreaderSHP* shp = dynamic_cast<LASreaderSHP*>(reader);
      return shp && (again ? shp->reopen(name) : shp->open(name));
    }
    case 3: {
      LASreaderASC* asc = dynamic_cast<LASreaderASC*>(reader);
      return asc && (again ? asc->reopen(name) : asc->open(name, opener.comma_not_point));
    }
    case 4: {
      LASreaderBIL* bil = dynamic_cast<LASreaderBIL*>(reader);
      return bil && (again ? bil->reopen(name) : bil->open(name));
    }
    case 5: {
      LASreaderDTM* dtm = dynamic_cast<LASreaderDTM*>(reader);
      return dtm && (again ? dtm->reopen(name) : dtm->open(name));
    }
    case 6: {
      // PLY has no reopen: it is opened again.
      LASreaderPLY* ply = dynamic_cast<LASreaderPLY*>(reader);
      return ply && ply->open(name, opener.point_type, opener.populate_header);
    }
    case 7: {
      LASreaderQFIT* qfit = dynamic_cast<LASreaderQFIT*>(reader);
      return qfit && (again ? qfit->reopen(name) : qfit->open(name));
    }
    default: {
      LASreaderTXT* txt = dynamic_cast<LASreaderTXT*>(reader);
      return txt && (again ? txt->reopen(name)
                           : txt->open(name, opener.point_type, opener.get_parse_string(), (I32)opener.skip_lines,
                                       opener.populate_header));
    }
  }
}

// parse makes this transform for "-faf" and "-apply_file_source_ID"; an opener
// configured through its fields gets it here.
LAStransform* LASreadOpener::point_source_transform() {
  if (transform == nullptr) transform = new LAStransform();
  return transform;
}

U16 LASreadOpener::flightline_source_ID() const {
  return (U16)((I64)files_are_flightlines + file_name_current + files_are_flightlines_index);
}

void LASreadOpener::hand_over(LASreader* reader) {
  if (filter) reader->set_filter(filter);
  if (transform) reader->set_transform(transform);
  reader->set_ignore(ignore);
}

// LAS and VMB files take the rectangle, else the tile, else the circle; every
// other reader was given tile, circle and rectangle in turn, so the last of
// them set is the one in force. Only that one is applied, so that the bounds
// the reader saves (and restores on inside_none) are the input's own.
void LASreadOpener::apply_area(LASreader* reader, bool las_precedence) const {
  if (inside_rectangle) {
    const std::array<F64, 4>& r = *inside_rectangle;
    reader->inside_rectangle(r[0], r[1], r[2], r[3]);
  } else if (inside_tile && (las_precedence || !inside_circle)) {
    reader->inside_tile((*inside_tile)[0], (*inside_tile)[1], (*inside_tile)[2]);
  } else if (inside_circle) {
    reader->inside_circle((*inside_circle)[0], (*inside_circle)[1], (*inside_circle)[2]);
  }
}

// The depth or resolution query of the options stays in force for every file;
// without one a COPC file read without circle or rectangle is read through its
// hierarchy at unlimited depth (for this file only). With `check` a file without
// COPC hierarchy cannot take a query.
bool LASreadOpener::apply_copc_query(LASreader* reader, bool check) const {
  if (copc_query != LASreader::COPC_QUERY_NONE) {
    if (check && reader->get_copcindex() == nullptr) {
      laserror("queries with a depth limit are restrited to COPC files.");
      return false;
    }
    reader->inside_copc_depth(copc_query, max_depth, resolution);
  } else if (reader->get_copcindex() && !inside_circle && !inside_rectangle) {
    reader->inside_copc_depth(LASreader::COPC_QUERY_DEPTH, I32_MAX, 0.0f);
  }
  return true;
}

void LASreadOpener::attach_las_index(LASreader* reader, const char* name, bool reopened) const {
  // A reopened reader keeps the .lax index of its first opening; its COPC
  // index is made anew from the header read again.
  if (!reopened) attach_lax_index(reader, name);
  if (reader->header.copc_info) {
    if (reader->get_index()) {
      LASMessage(WARNING, "both LAX file and COPC spatial indexing registered. COPC has the precedence.");
      reader->set_index(nullptr);
    }
    COPCindex* copc_index = new COPCindex(reader->header);
    copc_index->set_stream_order(copc_stream_order);
    reader->set_copcindex(copc_index);
  }
}

void LASreadOpener::adjust_offset_when_transformation(LASreader* reader) {
  if (!offset_adjust || !transform || offset) return;
  transform->adjust_offset(reader, get_scale_factor());
  offset_from_adjustment = offset.has_value();
}

LASreader* LASreadOpener::wrap(LASreader* reader, const char* name, bool from_stdin, bool store) {
  if (stored || store) {
    LASreaderStored* stored_reader = new LASreaderStored(this);
    // It owns the reader from now on, even when it fails.
    if (!stored_reader->open(reader)) {
      laserror("could not open lasreaderstored with %s", name);
      delete stored_reader;
      return nullptr;
    }
    reader = stored_reader;
  }
  if (pipe_on) {
    LASreaderPipeOn* pipe_reader = new LASreaderPipeOn(this);
    if (!pipe_reader->open(reader)) {
      if (from_stdin && strcmp(name, "lasreaderlas") == 0) {
        laserror("cannot open lasreaderpipeon with lasreaderlas from stdin");
      } else {
        laserror("cannot open lasreaderpipeon with %s", name);
      }
      delete pipe_reader;
      return nullptr;
    }
    reader = pipe_reader;
  }
  return reader;
}

LASreader* LASreadOpener::open(const char* other_name, bool reset_list) {
  if (filter) filter->reset();
  if (transform) transform->reset();
  header_after_open.reset();
  // A reopen keeps the adjusted offsets; another file gets its own.
  if (offset_from_adjustment) {
    offset.reset();
    offset_from_adjustment = false;
  }
  const U32 count = input.size();
  if (count > 0) {
    use_stdin = false;
    if (other_name) {
      if (buffer_size > 0.0f && (count > 1 || neighbors.size() > 0)) return open_buffered(other_name, reset_list);
      file_name = std::string(other_name);
      if (reset_list) file_name_current = 0;
      return open_single(other_name);
    }
    if (file_name_current >= count) return nullptr;
    if ((count > 1 && merged) || (count == 1 && merged && input.has_IDs())) return open_merged();
    if (buffer_size > 0.0f && (count > 1 || neighbors.size() > 0)) return open_buffered(nullptr, false);
    file_name = input.names[file_name_current];
    file_name_current++;
    return open_single(file_name->c_str());
  }
  if (other_name) {
    use_stdin = false;
    if (buffer_size > 0.0f && neighbors.size() > 0) return open_buffered(other_name, reset_list);
    file_name = std::string(other_name);
    if (reset_list) file_name_current = 0;
    return open_single(other_name);
  }
  if (use_stdin) return open_stdin();
  return nullptr;
}

LASreader* LASreadOpener::open_single(const char* name) {
  // Every input is opened again for the next pass; a second open of a pipe
  // would wait forever for a writer, so its points are stored instead.
  const bool pipe = las_is_pipe(name);
  const InputKind kind = input_kind(name);
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = flightlines ? flightline_source_ID() : 0;
  if (flightlines) point_source_transform()->setPointSource(source_ID);

  LASreader* reader = construct_reader(kind);
  if (!open_by_kind(reader, kind, name, *this, false)) {
    laserror("cannot open %s with file name '%s'", reader_word(kind), name);
    delete reader;
    return nullptr;
  }
  if (kind == INPUT_LAS) {
    LASMessage(VERY_VERBOSE, "open file '%s'", name);
    attach_las_index(reader, name);
  } else if (kind == INPUT_BIN || kind == INPUT_QFIT) {
    attach_lax_index(reader, name);
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (kind == INPUT_LAS && apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  // A PTX scan's own transformation would go in between filter and transform;
  // the transform has no matrix operation yet to carry it.
  hand_over(reader);
  apply_area(reader, kind == INPUT_LAS);
  if (kind == INPUT_LAS && !apply_copc_query(reader, true)) {
    delete reader;
    return nullptr;
  }
  adjust_offset_when_transformation(reader);
  if (kind == INPUT_LAS) {
    const LASheader& h = reader->header;
    header_after_open = HeaderAfterOpen{{h.x_scale_factor, h.y_scale_factor, h.z_scale_factor},
                                        {h.x_offset, h.y_offset, h.z_offset},
                                        h.min_x,
                                        h.min_y,
                                        h.min_z,
                                        h.max_x,
                                        h.max_y,
                                        h.max_z,
                                        h.file_source_ID};
  }
  return wrap(reader, reader_word(kind), false, pipe);
}

// The merged and buffered readers open each of their files more than once: a
// named pipe among them would wait forever for a writer the second time.
static bool refuse_pipes(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (las_is_pipe(name.c_str())) {
      laserror("input '%s' is a pipe that cannot be read twice. save it to a file first.", name.c_str());
      return true;
    }
  }
  return false;
}

LASreader* LASreadOpener::open_merged() {
  if (refuse_pipes(input.names)) return nullptr;
  LASreaderMerged* reader = new LASreaderMerged(this);
  reader->set_scale_factor(get_scale_factor());
  reader->set_offset(get_offset());
  reader->set_parse_string(get_parse_string());
  reader->set_skip_lines((I32)skip_lines);
  reader->set_populate_header(populate_header);
  reader->set_keep_lastiling(keep_lastiling);
  reader->set_translate_intensity(translate_intensity);
  reader->set_scale_intensity(scale_intensity);
  reader->set_translate_scan_angle(translate_scan_angle);
  reader->set_scale_scan_angle(scale_scan_angle);
  reader->set_io_ibuffer_size((I32)io_ibuffer_size);
  reader->set_copc_stream_order(copc_stream_order);
  for (file_name_current = 0; file_name_current < input.size(); file_name_current++) {
    const char* name = input.names[file_name_current].c_str();
    if (input.has_IDs()) {
      reader->add_file_name(name, input.IDs[file_name_current]);
    } else {
      reader->add_file_name(name);
    }
  }
  if (!reader->open()) {
    laserror("cannot open lasreadermerged with %d file names", (I32)input.size());
    delete reader;
    return nullptr;
  }
  if (files_are_flightlines) reader->set_files_are_flightlines(files_are_flightlines);
  if (apply_file_source_ID) reader->set_apply_file_source_ID(true);
  // The merged reader puts each file's source ID into this transform.
  if (files_are_flightlines || apply_file_source_ID) point_source_transform();
  hand_over(reader);
  apply_area(reader, false);
  apply_copc_query(reader, false);
  return wrap(reader, "lasreadermerged", false);
}

std::vector<std::string> LASreadOpener::buffered_neighbors(const char* main_name, I64 main_index) {
  std::vector<std::string> found;
  if (main_index < 0) {
    // A name given to open: every other listed name, without bounds.
    for (const std::string& name : input.names) {
      if (name != main_name) found.push_back(name);
    }
    for (const std::string& name : neighbors.names) {
      if (name != main_name) found.push_back(name);
    }
    return found;
  }
  // The main file's rectangle grown by the buffer on every side (unbounded
  // when its bounds are not known).
  F64 query[4] = {-UNBOUNDED, -UNBOUNDED, UNBOUNDED, UNBOUNDED};
  if (input.has_bounds()) {
    query[0] = input.min_x[main_index] - buffer_size;
    query[1] = input.min_y[main_index] - buffer_size;
    query[2] = input.max_x[main_index] + buffer_size;
    query[3] = input.max_y[main_index] + buffer_size;
  }
  auto overlapping = [&query](LASreadOpenerFileList& list, std::unique_ptr<LASkdtreeRectangles>& tree) {
    if (!tree) {
      tree = std::make_unique<LASkdtreeRectangles>();
      tree->init();
      for (U32 k = 0; k < list.size(); k++) tree->add(list.min_x[k], list.min_y[k], list.max_x[k], list.max_y[k]);
    }
    if (!tree->was_built()) tree->build();
    std::vector<U32> indices;
    tree->overlap(query[0], query[1], query[2], query[3]);
    if (tree->has_overlaps()) {
      U32 k;
      while (tree->get_overlap(k)) indices.push_back(k);
    }
    return indices;
  };
  if (input.has_bounds()) {
    for (U32 k : overlapping(input, kdtree_rectangles)) {
      if (k != (U32)main_index) found.push_back(input.names[k]);
    }
  } else {
    for (U32 k = 0; k < input.size(); k++) {
      if (k != (U32)main_index) found.push_back(input.names[k]);
    }
  }
  if (neighbors.has_bounds()) {
    for (U32 k : overlapping(neighbors, neighbor_kdtree_rectangles)) {
      if (neighbors.names[k] != main_name) found.push_back(neighbors.names[k]);
    }
  } else {
    for (const std::string& name : neighbors.names) {
      if (name != main_name) found.push_back(name);
    }
  }
  return found;
}

LASreader* LASreadOpener::open_buffered(const char* other_name, bool reset_list) {
  LASreaderBuffered* reader = new LASreaderBuffered(this);
  reader->set_buffer_size(buffer_size);
  reader->set_scale_factor(get_scale_factor());
  reader->set_offset(get_offset());
  reader->set_parse_string(get_parse_string());
  reader->set_skip_lines((I32)skip_lines);
  reader->set_populate_header(populate_header);
  reader->set_translate_intensity(translate_intensity);
  reader->set_scale_intensity(scale_intensity);
  reader->set_translate_scan_angle(translate_scan_angle);
  reader->set_scale_scan_angle(scale_scan_angle);
  std::vector<std::string> neighbor_names;
  if (other_name == nullptr) {
    file_name = input.names[file_name_current];
    neighbor_names = buffered_neighbors(file_name->c_str(), file_name_current);
    file_name_current++;
  } else {
    file_name = std::string(other_name);
    if (reset_list) file_name_current = 0;
    neighbor_names = buffered_neighbors(other_name, -1);
  }
  neighbor_names.push_back(*file_name);
  if (refuse_pipes(neighbor_names)) {
    delete reader;
    return nullptr;
  }
  neighbor_names.pop_back();
  reader->set_file_name(file_name->c_str());
  for (const std::string& name : neighbor_names) reader->add_neighbor_file_name(name.c_str());
  hand_over(reader);
  if (!reader->open()) {
    laserror("cannot open lasreaderbuffered with %d file names", (I32)(input.size() + neighbors.size()));
    delete reader;
    return nullptr;
  }
  apply_area(reader, false);
  return wrap(reader, "lasreaderbuffered", false);
}

LASreader* LASreadOpener::open_stdin() {
  use_stdin = false;
  populate_header = true;
  // Standard input counts as the first file of a flight-line numbering.
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = (U16)((I64)files_are_flightlines + 1 + files_are_flightlines_index);
  if (flightlines) point_source_transform()->setPointSource(source_ID);
  if (itxt) {
    LASreaderTXT* reader = new LASreaderTXT(this);
    configure_txt(reader, *this);
    if (!reader->open(stdin, nullptr, point_type, get_parse_string(), (I32)skip_lines, false)) {
      laserror("cannot open lasreadertxt from stdin");
      delete reader;
      return nullptr;
    }
    if (flightlines) reader->header.file_source_ID = source_ID;
    hand_over(reader);
    apply_area(reader, false);
    return wrap(reader, "lasreadertxt", true);
  }
  const F64* s = get_scale_factor();
  const F64* o = get_offset();
  LASreaderLAS* reader;
  if (s && o) {
    reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2], o[0], o[1], o[2]);
  } else if (s) {
    reader = new LASreaderLASrescale(this, s[0], s[1], s[2], true);
  } else if (o) {
    reader = new LASreaderLASreoffset(this, o[0], o[1], o[2]);
  } else {
    reader = new LASreaderLAS(this);
  }
  reader->set_keep_copc(keep_copc);
  if (!reader->open(stdin, false, LAS_SELECTIVE_ALL)) {
    laserror("cannot open lasreaderlas from stdin ");
    delete reader;
    return nullptr;
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  hand_over(reader);
  apply_area(reader, false);
  apply_copc_query(reader, false);
  return wrap(reader, "lasreaderlas", true);
}

// ------------------------------------------------------------------ reopening

bool LASreadOpener::reopen(LASreader* reader, bool keep_buffer) {
  if (reader == nullptr) {
    LASMessage(WARNING, "pointer to LASreader is NULL");
    return false;
  }
  reader->close();
  if (filter) filter->reset();
  if (transform) transform->reset();

  if (pipe_on) {
    // Its points were piped on in the first pass: only the reader it wraps
    // is opened again.
    LASreaderPipeOn* pipe_reader = dynamic_cast<LASreaderPipeOn*>(reader);
    if (pipe_reader && pipe_reader->get_lasreader()) {
      pipe_reader->points_read = 0;
      reader = pipe_reader->get_lasreader();
    }
  }
  // A named pipe is stored without "-stored": its reader tells.
  LASreaderStored* stored_reader = dynamic_cast<LASreaderStored*>(reader);
  if (stored || stored_reader) {
    if (stored_reader == nullptr || !stored_reader->reopen()) {
      LASMessage(WARNING, "could not reopen lasreaderstored for stored input");
      return false;
    }
    return true;
  }
  if (input.size() == 0) {
    laserror("no lasreader input specified");
    return false;
  }

  // The reader's own kind decides: a list of one name may have been merged.
  bool las_precedence = false;
  bool las_file = false;
  if (LASreaderMerged* merged_reader = dynamic_cast<LASreaderMerged*>(reader)) {
    if (!merged_reader->reopen()) {
      LASMessage(WARNING, "cannot reopen lasreadermerged");
      return false;
    }
  } else if (LASreaderBuffered* buffered_reader = dynamic_cast<LASreaderBuffered*>(reader)) {
    if (!buffered_reader->reopen()) {
      laserror("cannot reopen lasreaderbuffered");
      return false;
    }
    if (!keep_buffer) buffered_reader->remove_buffer();
  } else {
    if (!file_name) return false;
    const char* name = file_name->c_str();
    const InputKind kind = input_kind(name);
    if (!open_by_kind(reader, kind, name, *this, true)) {
      laserror("cannot reopen %s with file name '%s'", reader_word(kind), name);
      return false;
    }
    if (kind == INPUT_LAS) {
      las_precedence = true;
      las_file = true;
      attach_las_index(reader, name, true);
    }
  }

  if (is_inside()) {
    reader->inside_none();
    apply_area(reader, las_precedence);
  }
  if (las_file || dynamic_cast<LASreaderMerged*>(reader)) apply_copc_query(reader, false);
  // A LAS or VMB file read its header again: it gets back what the first
  // opening put there (flight-line ID, offsets, scales and bounds adjusted to
  // the transform), so that both passes see the same header and points.
  if (las_file && header_after_open) {
    LASheader& h = reader->header;
    const HeaderAfterOpen& a = *header_after_open;
    h.x_scale_factor = a.scale[0];
    h.y_scale_factor = a.scale[1];
    h.z_scale_factor = a.scale[2];
    h.x_offset = a.offset[0];
    h.y_offset = a.offset[1];
    h.z_offset = a.offset[2];
    h.min_x = a.min_x;
    h.min_y = a.min_y;
    h.min_z = a.min_z;
    h.max_x = a.max_x;
    h.max_y = a.max_y;
    h.max_z = a.max_z;
    h.file_source_ID = a.file_source_ID;
  }
  return true;
}
