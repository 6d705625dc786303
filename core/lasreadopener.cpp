// The read opener: parsing of the input options with their exact error texts,
// the hand-over to filter, transform and ignore rules, the option text for
// child processes, the input and neighbour lists with their list files, and the
// choice, configuration, opening and reopening of the readers.
#include "core/lasreadopener.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/lasoption.hpp"
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

namespace {

// The opener reads each number as its options always have: the number the
// argument begins with (sscanf), so the rows declare "%s" and their apply
// converts. A value that is not finite (nan, inf) never makes sense as a
// coordinate, scale or size and counts as not converted.
bool scan(const char* text, F64* value) { return sscanf(text, "%lf", value) == 1 && std::isfinite(*value); }
bool scan(const char* text, F32* value) { return sscanf(text, "%f", value) == 1 && std::isfinite(*value); }
bool scan(const char* text, U32* value) { return sscanf(text, "%u", value) == 1; }
bool scan(const char* text, I32* value) { return sscanf(text, "%d", value) == 1; }

// Value k of the call as a number; the row's invalid message when it is none.
// Values are read in turn, so that the first bad one is the one reported.
template <typename T>
bool scan_value(const LASoptionCall& call, size_t k, T* value) {
  if (scan(call.values[k].text, value)) return true;
  laserror("%s", call.invalid_message(k).c_str());
  return false;
}

// A base-10 integer as the flight-line options read it (0 when there is none),
// kept within the 32-bit range instead of overflowing.
I32 base10(const char* text) {
  long long value = strtoll(text, nullptr, 10);
  if (value > I32_MAX) return I32_MAX;
  if (value < I32_MIN + 1) return I32_MIN + 1;
  return (I32)value;
}

// Values of "-iadd_extra" that may be 0 only when written exactly so.
bool is_written_zero(const char* text) { return strcmp(text, "0") == 0 || strcmp(text, "0.0") == 0; }

// One run of the opener's option parse. A row may hand trailing further
// values back untaken: they stay for the parsers after this one.
struct ReadOptionParse {
  LASreadOpener& opener;
  int untaken = 0;
};

using ReadOption = LASoptionRow<ReadOptionParse>;
using Result = LASoptionResult;

constexpr Result TAKEN = LASoptionResult::TAKEN;
constexpr Result FAILED = LASoptionResult::FAILED;

Result failed_with(const std::string& message) {
  laserror("%s", message.c_str());
  return FAILED;
}

// ---- applies of the rows

// Every "-inside..." word that is none of the four areas.
Result unknown_inside(ReadOptionParse&, const LASoptionCall& call) {
  laserror("unknown '-inside' option '%s'", call.typed);
  return FAILED;
}

// The first value is always a name, even when it begins with '-'; an emptied
// argument is none.
template <bool is_input>
Result add_names(ReadOptionParse& parse, const LASoptionCall& call) {
  if (call.values[0].text[0] == '\0') return failed_with(call.needs_message());
  LASreadOpener& o = parse.opener;
  for (const LASoptionValue& value : call.values) {
    if (is_input) {
      o.add_file_name(value.text, o.unique);
    } else {
      o.add_neighbor_file_name(value.text, false);
    }
  }
  return TAKEN;
}

// The further names of "-i": up to the next option or emptied argument.
bool is_name(const char* argument) { return argument[0] != '\0' && argument[0] != '-'; }

Result add_list(ReadOptionParse& parse, const LASoptionCall& call) {
  const char* list = call.values[0].text;
  if (!parse.opener.add_list_of_files(list, parse.opener.unique)) {
    laserror("cannot load list of files '%s'", list);
    return FAILED;
  }
  return TAKEN;
}

Result add_neighbor_list(ReadOptionParse& parse, const LASoptionCall& call) {
  const char* list = call.values[0].text;
  if (!parse.opener.add_neighbor_list_of_files(list, parse.opener.unique)) {
    laserror("cannot load neighbor list of files '%s'", list);
    return FAILED;
  }
  return TAKEN;
}

template <bool LASreadOpener::*field, bool value>
Result set_switch(ReadOptionParse& parse, const LASoptionCall&) {
  parse.opener.*field = value;
  return TAKEN;
}

// "-ipts", "-iptx" and "-iptx_transform" are kinds of text input.
template <bool LASreadOpener::*field>
Result set_text_kind(ReadOptionParse& parse, const LASoptionCall&) {
  parse.opener.itxt = true;
  parse.opener.*field = true;
  return TAKEN;
}

template <U8 order>
Result set_stream_order(ReadOptionParse& parse, const LASoptionCall&) {
  parse.opener.copc_stream_order = order;
  return TAKEN;
}

Result set_buffered(ReadOptionParse& parse, const LASoptionCall& call) {
  F32 size;
  if (!scan_value(call, 0, &size)) return FAILED;
  if (size <= 0.0f) {
    laserror("%s, but %f is not valid", call.needs_message().c_str(), (F64)size);
    return FAILED;
  }
  parse.opener.buffer_size = size;
  return TAKEN;
}

Result set_temp_files(ReadOptionParse& parse, const LASoptionCall& call) {
  parse.opener.temp_file_base = call.values[0].text;
  return TAKEN;
}

void warn_flightline_sum(I32 start, I64 index) {
  if ((I64)start + index > 65535) {
    LASMessage(WARNING, "files_are_flightlines start value %d plus index %d is too large", start, (I32)index);
  }
}

// A start value follows only when it begins with a digit from 1 to 9.
bool is_flightline_start(const char* argument) { return argument[0] >= '1' && argument[0] <= '9'; }

Result set_flightlines(ReadOptionParse& parse, const LASoptionCall& call) {
  LASreadOpener& o = parse.opener;
  o.files_are_flightlines = call.values.empty() ? 1 : base10(call.values[0].text);
  if (o.files_are_flightlines > 65535) {
    LASMessage(WARNING, "files_are_flightlines start value %d is too large", o.files_are_flightlines);
  }
  warn_flightline_sum(o.files_are_flightlines, o.files_are_flightlines_index);
  return TAKEN;
}

Result set_flightline_index(ReadOptionParse& parse, const LASoptionCall& call) {
  LASreadOpener& o = parse.opener;
  const I32 index = base10(call.values[0].text);
  o.files_are_flightlines_index = index - 1;
  if (index > 65535) LASMessage(WARNING, "files_are_flightlines_index index value %d is too large", index);
  warn_flightline_sum(o.files_are_flightlines, index);
  return TAKEN;
}

// "-rescale", "-rescale_xy" and "-rescale_z": `count` scale factors from axis
// `first` on; the other axes keep their scale (0).
template <int first, int count>
Result set_rescale(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<F64, 3> values = {0.0, 0.0, 0.0};
  for (int k = 0; k < count; k++) {
    F64& value = values[first + k];
    if (!scan_value(call, k, &value)) return FAILED;
    if (value == 0.0) {
      laserror("%s, but %lf is not a valid %s", call.needs_message().c_str(), value, call.value_name(k).c_str());
      return FAILED;
    }
  }
  parse.opener.scale_factor = values;
  return TAKEN;
}

Result set_reoffset(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<F64, 3> values;
  for (size_t k = 0; k < 3; k++) {
    if (!scan_value(call, k, &values[k])) return FAILED;
  }
  parse.opener.offset = values;
  return TAKEN;
}

// The area values in turn, then the check of the row.
template <typename T, size_t N>
bool scan_all(const LASoptionCall& call, std::array<T, N>& values) {
  for (size_t k = 0; k < N; k++) {
    if (!scan_value(call, k, &values[k])) return false;
  }
  return true;
}

Result set_inside_rectangle(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<F64, 4> values;
  if (!scan_all(call, values)) return FAILED;
  const std::string needs = call.needs_message();
  if (!(values[0] < values[2])) {
    laserror("%s, but %lf / %lf are not a valid min_x / max_x pair.", needs.c_str(), values[0], values[2]);
    return FAILED;
  }
  if (!(values[1] < values[3])) {
    laserror("%s, but %lf / %lf are not a valid min_y / max_y pair.", needs.c_str(), values[1], values[3]);
    return FAILED;
  }
  parse.opener.inside_rectangle = values;
  return TAKEN;
}

Result set_inside_tile(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<F32, 3> values;
  if (!scan_all(call, values)) return FAILED;
  if (!(values[2] > 0.0f)) {
    laserror("%s, but %f is not valid a size.", call.needs_message().c_str(), (F64)values[2]);
    return FAILED;
  }
  parse.opener.inside_tile = values;
  return TAKEN;
}

Result set_inside_circle(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<F64, 3> values;
  if (!scan_all(call, values)) return FAILED;
  if (!(values[2] > 0.0)) {
    laserror("%s, but %lf is not valid a radius.", call.needs_message().c_str(), values[2]);
    return FAILED;
  }
  parse.opener.inside_circle = values;
  return TAKEN;
}

Result set_max_depth(ReadOptionParse& parse, const LASoptionCall& call) {
  I32 depth;
  if (!scan_value(call, 0, &depth)) return FAILED;
  if (depth < 0) {
    laserror("%s, but %d is not a valid depth", call.needs_message().c_str(), depth);
    return FAILED;
  }
  parse.opener.max_depth = depth;
  parse.opener.copc_query = LASreader::COPC_QUERY_DEPTH;
  return TAKEN;
}

Result set_resolution(ReadOptionParse& parse, const LASoptionCall& call) {
  F32 value;
  if (!scan_value(call, 0, &value)) return FAILED;
  if (!(value > 0.0f)) {
    laserror("%s, but %lf is not a valid resolution", call.needs_message().c_str(), (F64)value);
    return FAILED;
  }
  parse.opener.resolution = value;
  parse.opener.copc_query = LASreader::COPC_QUERY_RESOLUTION;
  return TAKEN;
}

Result set_parse_string(ReadOptionParse& parse, const LASoptionCall& call) {
  parse.opener.parse_string = std::string(call.values[0].text);
  return TAKEN;
}

// "-iskip" and "-io_ibuffer": a count that must not be 0.
template <U32 LASreadOpener::*field>
Result set_count(ReadOptionParse& parse, const LASoptionCall& call) {
  U32 value;
  if (!scan_value(call, 0, &value)) return FAILED;
  if (value == 0) {
    laserror("%s but %u is not valid.", call.needs_message().c_str(), value);
    return FAILED;
  }
  parse.opener.*field = value;
  return TAKEN;
}

// The intensity and scan-angle translations and scales of text input.
template <F32 LASreadOpener::*field>
Result set_text_value(ReadOptionParse& parse, const LASoptionCall& call) {
  F32 value;
  if (!scan_value(call, 0, &value)) return FAILED;
  if (value == 0.0f) {
    laserror("%s but %f is not valid.", call.needs_message().c_str(), (F64)value);
    return FAILED;
  }
  parse.opener.*field = value;
  return TAKEN;
}

// The numbers after the three values of "-iadd_extra": scale, offset,
// pre-scale, pre-offset and no-data value. A number that is 0 without being
// written "0" or "0.0" ends them; the row takes what any of them could be.
bool is_attribute_number(const char* argument) {
  F64 value;
  return scan(argument, &value) && (value != 0.0 || is_written_zero(argument));
}

Result add_attribute(ReadOptionParse& parse, const LASoptionCall& call) {
  LASreadOpener& o = parse.opener;
  LASreadOpenerAttribute attribute;
  attribute.data_type = base10(call.values[0].text);
  attribute.name = call.values[1].text;
  attribute.description = call.values[2].text;
  // Each number qualifies by its own rule: scale and pre-scale are never 0.
  F64* const numbers[5] = {&attribute.scale, &attribute.offset, &attribute.pre_scale, &attribute.pre_offset,
                           &attribute.no_data};
  const bool zero_allowed[5] = {false, true, false, true, true};
  size_t taken = 3;
  for (size_t k = 0; taken < call.values.size(); k++, taken++) {
    F64 value = 0.0;
    scan(call.values[taken].text, &value);
    if (value == 0.0 && !zero_allowed[k]) break;
    *numbers[k] = value;
  }
  parse.untaken = (int)(call.values.size() - taken);
  if (attribute.data_type < 1 || attribute.data_type > 10) {
    LASMessage(WARNING, "attribute data type %d not supported. ignoring attribute '%s'.", attribute.data_type,
               attribute.name.c_str());
  } else if ((I32)o.attributes.size() >= LAS_READ_OPENER_MAX_ATTRIBUTES) {
    laserror("cannot add attribute '%s'. at most %d attributes are supported.", attribute.name.c_str(),
             LAS_READ_OPENER_MAX_ATTRIBUTES);
    return FAILED;
  } else {
    o.attributes.push_back(attribute);
  }
  return TAKEN;
}

// Only a number is an index; a name or an emptied argument is left alone.
bool is_index(const char* argument) { return argument[0] >= '0' && argument[0] <= '9'; }

Result set_z_from_attribute(ReadOptionParse& parse, const LASoptionCall& call) {
  parse.opener.z_from_attribute = true;
  if (!call.values.empty()) {
    const I32 index = base10(call.values[0].text);
    parse.opener.z_from_attribute_index = (I16)(index > I16_MAX ? I16_MAX : index);
  }
  return TAKEN;
}

// ---- the table

// Templates of the messages the input options word their own way.
constexpr const char* COMMA_NOT_VALID = "{needs}, but '{arg}' is not a valid {name}";
constexpr const char* COMMA_NOT_VALID_DOT = "{needs}, but '{arg}' is not a valid {name}.";

// A switch: no values.
constexpr LASoption word(const char* name) { return {name, "", 0, ""}; }
// One value taken as it stands.
constexpr LASoption text(const char* name, const char* value, const char* needs = nullptr) {
  return {name, value, 1, "%s", 0, needs};
}
// Values the apply reads as numbers, with their invalid message.
constexpr LASoption numbers(const char* name, const char* values, U8 count, const char* invalid,
                            const char* needs = nullptr) {
  return {name, values, count, "%s", 0, needs, invalid};
}
// Values that may follow: `more` of them while `further` approves.
constexpr LASoption optional(const char* name, const char* values, U8 count, U8 more, bool (*further)(const char*),
                             const char* needs = nullptr) {
  return {name, values, count, "%s", more, needs, nullptr, nullptr, false, further};
}

const ReadOption READ_OPTIONS[] = {
    {{"-inside", "", 0, "", 0, nullptr, nullptr, nullptr, true}, unknown_inside},
    {optional("-i", "file_name or wild_card", 1, LAS_OPTION_LIST, is_name), add_names<true>},
    {optional("-neighbors", "file_name or wild_card", 1, LAS_OPTION_LIST, is_name), add_names<false>},
    {text("-lof", "list_of_files"), add_list},
    {text("-neighbors_lof", "file_name", "'{option}' needs at least 1 argument: {values}"),
     add_neighbor_list},
    {word("-unique"), set_switch<&LASreadOpener::unique, true>},
    {word("-stdin"), set_switch<&LASreadOpener::use_stdin, true>},
    {word("-merged"), set_switch<&LASreadOpener::merged, true>},
    {word("-stored"), set_switch<&LASreadOpener::stored, true>},
    {word("-pipe_on"), set_switch<&LASreadOpener::pipe_on, true>},
    {word("-populate"), set_switch<&LASreadOpener::populate_header, true>},
    {word("-do_not_populate"), set_switch<&LASreadOpener::populate_header, false>},
    {word("-apply_file_source_ID"), set_switch<&LASreadOpener::apply_file_source_ID, true>},
    {word("-auto_reoffset"), set_switch<&LASreadOpener::auto_reoffset, true>},
    {word("-offset_adjust"), set_switch<&LASreadOpener::offset_adjust, true>},
    {word("-itxt"), set_switch<&LASreadOpener::itxt, true>},
    {word("-comma_not_point"), set_switch<&LASreadOpener::comma_not_point, true>},
    {word("-ipts"), set_text_kind<&LASreadOpener::ipts>},
    {word("-iptx"), set_text_kind<&LASreadOpener::iptx>},
    {word("-iptx_transform"), set_text_kind<&LASreadOpener::iptx_transform>},
    {word("-stream_order_normal"), set_stream_order<0>},
    {word("-stream_order_spatial"), set_stream_order<1>},
    {word("-stream_order_level"), set_stream_order<2>},
    {numbers("-buffered", "buffer_size", 1, "{needs}. but '{arg}' is not a valid {name}"), set_buffered},
    {text("-temp_files", "base name"), set_temp_files},
    {optional("-files_are_flightlines", "start", 0, 1, is_flightline_start), set_flightlines},
    {optional("-faf", "start", 0, 1, is_flightline_start), set_flightlines},
    {text("-faf_index", "index"), set_flightline_index},
    {numbers("-rescale", "rescale_x rescale_y rescale_z", 3, COMMA_NOT_VALID), set_rescale<0, 3>},
    {numbers("-rescale_xy", "rescale_x rescale_y", 2, COMMA_NOT_VALID, "'{option}' needs 2 argument: {values}"),
     set_rescale<0, 2>},
    {numbers("-rescale_z", "rescale_z", 1, COMMA_NOT_VALID), set_rescale<2, 1>},
    {numbers("-reoffset", "reoffset_x, reoffset_y, reoffset_z", 3, COMMA_NOT_VALID), set_reoffset},
    {numbers("-inside", "min_x min_y max_x max_y", 4, COMMA_NOT_VALID_DOT), set_inside_rectangle},
    {numbers("-inside_rectangle", "min_x min_y max_x max_y", 4, COMMA_NOT_VALID_DOT), set_inside_rectangle},
    {numbers("-inside_tile", "ll_x ll_y size", 3, COMMA_NOT_VALID_DOT), set_inside_tile},
    {numbers("-inside_circle", "center_x center_y radius", 3, COMMA_NOT_VALID_DOT), set_inside_circle},
    {numbers("-max_depth", "depth", 1, COMMA_NOT_VALID), set_max_depth},
    {numbers("-resolution", "resolution", 1, COMMA_NOT_VALID), set_resolution},
    {text("-iparse", "string"), set_parse_string},
    {numbers("-iskip", "number_of_lines", 1, "{needs} but '{arg}' is not a valid number."),
     set_count<&LASreadOpener::skip_lines>},
    {numbers("-itranslate_intensity", "translation", 1, "{needs} but '{arg}' is not valid."),
     set_text_value<&LASreadOpener::translate_intensity>},
    {numbers("-iscale_intensity", "scale", 1, "{needs} but '{arg}' is not valid."),
     set_text_value<&LASreadOpener::scale_intensity>},
    {numbers("-itranslate_scan_angle", "translation", 1, "{needs} but '{arg}' is not valid."),
     set_text_value<&LASreadOpener::translate_scan_angle>},
    {numbers("-iscale_scan_angle", "scale", 1, "{needs} but '{arg}' is not valid."),
     set_text_value<&LASreadOpener::scale_scan_angle>},
    {optional("-iadd_extra", "data_type name description", 3, 5, is_attribute_number), add_attribute},
    {optional("-iadd_attribute", "data_type name description", 3, 5, is_attribute_number), add_attribute},
    {numbers("-io_ibuffer", "size", 1, "{needs} but '{arg}' is not a valid {name}."),
     set_count<&LASreadOpener::io_ibuffer_size>},
    {optional("-z_from_attribute", "index", 0, 1, is_index), set_z_from_attribute},
};

}  // namespace

bool LASreadOpener::parse(int argc, char* argv[], bool parse_ignore, bool suppress_ignore) {
  bool help = false;
  if (!parse_own_options(argc, argv, parse_ignore, suppress_ignore, help)) return false;
  if (help) return true;
  if (!check_neighbors() || !parse_filter(argc, argv) || !parse_transform(argc, argv)) return false;
  // The source ID of each file is put in when the file is opened.
  if (files_are_flightlines != 0 || apply_file_source_ID) point_source_transform()->setPointSource(0);
  return true;
}

// The input options and the ignore rules; `help` when "-h", "-help" or "-hh"
// ended the parse.
bool LASreadOpener::parse_own_options(int argc, char* argv[], bool parse_ignore, bool suppress_ignore, bool& help) {
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "-help") == 0) {
      help = true;
      return true;
    }
    if (strcmp(argv[i], "-hh") == 0) {
      LASfilter().usage();
      LAStransform().usage();
      LASignore().usage();
      usage();
      help = true;
      return true;
    }
    if (strncmp(argv[i], "-ignore_", 8) == 0) {
      if (!parse_ignore_option(i, argc, argv, parse_ignore, suppress_ignore)) return false;
      continue;
    }
    if (!parse_option(i, argc, argv)) return false;
  }
  return true;
}

bool LASreadOpener::parse_ignore_option(int& i, int argc, char* argv[], bool parse_ignore, bool suppress_ignore) {
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
  return true;
}

// Takes the option at argv[i] when it is one of the input options, leaving i
// on its last value taken; a word that is none is left for the parsers after
// this one. False after a reported error.
bool LASreadOpener::parse_option(int& i, int argc, char* argv[]) {
  const ReadOption* row = las_find_option<ReadOptionParse>(READ_OPTIONS, argv[i]);
  if (row == nullptr) return true;
  ReadOptionParse parse{*this};
  const int first = i;
  if (las_run_option(*row, parse, i, argc, argv, false) == LASoptionResult::FAILED) return false;
  i -= parse.untaken;
  las_blank_arguments(argv, first, i);
  return true;
}

bool LASreadOpener::check_neighbors() const {
  if (neighbors.size() == 0) return true;
  if (input.size() > 1) {
    laserror("neighbors only supported for one buffered input file, not for %d", (I32)input.size());
    return false;
  }
  if (buffer_size == 0.0f) {
    laserror("neighbors only make sense when used with '-buffered 50' or similar");
    return false;
  }
  return true;
}

// The filter keeps its criteria only when the options gave it any.
bool LASreadOpener::parse_filter(int argc, char* argv[]) {
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
  return true;
}

// The transform stays only when the options gave it operations; with
// "-filtered_transform" it takes the filter over.
bool LASreadOpener::parse_transform(int argc, char* argv[]) {
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
  return true;
}

// ------------------------------------------------------------------ option text

namespace {

void write_words(std::string& text, const char* option, std::initializer_list<std::string> values) {
  text += option;
  text += ' ';
  for (const std::string& value : values) text += value + " ";
}

// Every area that is set: a child must read the same area as this process.
void write_areas(const LASreadOpener& o, std::string& text) {
  if (o.inside_tile) {
    const std::array<F32, 3>& t = *o.inside_tile;
    write_words(text, "-inside_tile", {option_text_f32(t[0], "%g"), option_text_f32(t[1], "%g"), option_text_f32(t[2], "%g")});
  }
  if (o.inside_circle) {
    const std::array<F64, 3>& c = *o.inside_circle;
    write_words(text, "-inside_circle", {option_text_f64(c[0]), option_text_f64(c[1]), option_text_f64(c[2])});
  }
  if (o.inside_rectangle) {
    const std::array<F64, 4>& r = *o.inside_rectangle;
    write_words(text, "-inside_rectangle",
                {option_text_f64(r[0]), option_text_f64(r[1]), option_text_f64(r[2]), option_text_f64(r[3])});
  }
}

void write_flightlines(const LASreadOpener& o, std::string& text) {
  if (o.files_are_flightlines == 1) {
    text += "-faf ";
  } else if (o.files_are_flightlines != 0) {
    text += "-faf " + std::to_string(o.files_are_flightlines) + " ";
  }
}

// The shortest of the three rescale options that gives the scale factors.
void write_scale(const LASreadOpener& o, std::string& text) {
  if (!o.scale_factor) return;
  const std::array<F64, 3>& s = *o.scale_factor;
  if (s[2] != 0.0) {
    if (s[0] == 0.0 && s[1] == 0.0) {
      write_words(text, "-rescale_z", {option_text_f64(s[2])});
    } else {
      write_words(text, "-rescale", {option_text_f64(s[0]), option_text_f64(s[1]), option_text_f64(s[2])});
    }
  } else if (s[0] != 0.0 && s[1] != 0.0) {
    write_words(text, "-rescale_xy", {option_text_f64(s[0]), option_text_f64(s[1])});
  }
}

// Offsets the transform chose for the last file are no option.
void write_offset(const LASreadOpener& o, std::string& text) {
  if (!o.offset || o.offset_from_adjustment) return;
  const std::array<F64, 3>& f = *o.offset;
  write_words(text, "-reoffset", {option_text_f64(f[0]), option_text_f64(f[1]), option_text_f64(f[2])});
}

void write_io_ibuffer(const LASreadOpener& o, std::string& text) {
  if (o.io_ibuffer_size != LAS_IO_IBUFFER_SIZE) text += "-io_ibuffer " + std::to_string(o.io_ibuffer_size) + " ";
}

void write_temp_files(const LASreadOpener& o, std::string& text) {
  if (o.temp_file_base.empty()) return;
  text += "-temp_files ";
  append_quoted_option_value(text, o.temp_file_base);
}

void write_parse_string(const LASreadOpener& o, std::string& text) {
  if (!o.parse_string) return;
  text += "-iparse ";
  append_quoted_option_value(text, *o.parse_string);
}

void write_skip_lines(const LASreadOpener& o, std::string& text) {
  if (o.skip_lines != 0) text += "-iskip " + std::to_string(o.skip_lines) + " ";
}

void write_text_kind(const LASreadOpener& o, std::string& text) {
  if (!o.itxt) return;
  if (o.ipts) text += "-ipts ";
  if (o.iptx) text += "-iptx ";
  if (o.iptx_transform) text += "-iptx_transform ";
  if (!o.ipts && !o.iptx && !o.iptx_transform) text += "-itxt ";
}

// The text-input settings: a child reads text input as this process would.
void write_text_values(const LASreadOpener& o, std::string& text) {
  static const struct {
    const char* option;
    F32 LASreadOpener::*field;
    F32 unchanged;
  } values[] = {
      {"-itranslate_intensity", &LASreadOpener::translate_intensity, 0.0f},
      {"-iscale_intensity", &LASreadOpener::scale_intensity, 1.0f},
      {"-itranslate_scan_angle", &LASreadOpener::translate_scan_angle, 0.0f},
      {"-iscale_scan_angle", &LASreadOpener::scale_scan_angle, 1.0f},
  };
  for (const auto& v : values) {
    if (o.*v.field != v.unchanged) write_words(text, v.option, {option_text_f32(o.*v.field, "%g")});
  }
}

void write_attributes(const LASreadOpener& o, std::string& text) {
  for (const LASreadOpenerAttribute& a : o.attributes) {
    // A zero is written as "0" so that it qualifies as a value when read back.
    auto value = [](F64 v) { return v == 0.0 ? std::string("0") : option_text_f64(v, "%g"); };
    text += "-iadd_extra " + std::to_string(a.data_type) + " ";
    append_quoted_option_value(text, a.name);
    append_quoted_option_value(text, a.description);
    text += value(a.scale) + " " + value(a.offset) + " " + value(a.pre_scale) + " " + value(a.pre_offset) + " " +
            value(a.no_data) + " ";
  }
}

// The COPC query given last is the one in force; it is written last.
template <bool last>
void write_resolution(const LASreadOpener& o, std::string& text) {
  const bool resolution_last = o.copc_query == LASreader::COPC_QUERY_RESOLUTION && o.max_depth != -1;
  if (o.resolution != 0.0f && resolution_last == last) {
    write_words(text, "-resolution", {option_text_f32(o.resolution, "%lf")});
  }
}

void write_stream_order(const LASreadOpener& o, std::string& text) {
  if (o.copc_stream_order == 0) text += "-stream_order_normal ";
  if (o.copc_stream_order == 2) text += "-stream_order_level ";
}

void write_max_depth(const LASreadOpener& o, std::string& text) {
  if (o.max_depth != -1) text += "-max_depth " + std::to_string(o.max_depth) + " ";
}

void write_z_from_attribute(const LASreadOpener& o, std::string& text) {
  if (!o.z_from_attribute) return;
  text += "-z_from_attribute ";
  if (o.z_from_attribute_index >= 0) text += std::to_string(o.z_from_attribute_index) + " ";
}

// What the option text holds, in its order: a switch word when its field is
// set, or what a writer writes.
struct OptionTextStep {
  const char* word;
  bool LASreadOpener::*flag;
  void (*write)(const LASreadOpener& opener, std::string& text);
};

constexpr OptionTextStep OPTION_TEXT[] = {
    {nullptr, nullptr, write_areas},
    {"-stored ", &LASreadOpener::stored, nullptr},
    {"-merged ", &LASreadOpener::merged, nullptr},
    {nullptr, nullptr, write_flightlines},
    {"-apply_file_source_ID ", &LASreadOpener::apply_file_source_ID, nullptr},
    // Each of these changes how a file is opened on its own.
    {nullptr, nullptr, write_scale},
    {nullptr, nullptr, write_offset},
    {"-auto_reoffset ", &LASreadOpener::auto_reoffset, nullptr},
    {"-offset_adjust ", &LASreadOpener::offset_adjust, nullptr},
    {"-populate ", &LASreadOpener::populate_header, nullptr},
    {nullptr, nullptr, write_io_ibuffer},
    {nullptr, nullptr, write_temp_files},
    {nullptr, nullptr, write_parse_string},
    {nullptr, nullptr, write_skip_lines},
    {nullptr, nullptr, write_text_kind},
    {nullptr, nullptr, write_text_values},
    {nullptr, nullptr, write_attributes},
    {nullptr, nullptr, write_resolution<false>},
    {"-unique ", &LASreadOpener::unique, nullptr},
    {"-comma_not_point ", &LASreadOpener::comma_not_point, nullptr},
    {nullptr, nullptr, write_stream_order},
    {nullptr, nullptr, write_max_depth},
    {nullptr, nullptr, write_resolution<true>},
    {nullptr, nullptr, write_z_from_attribute},
};

}  // namespace

I32 LASreadOpener::unparse(std::string& text) const {
  const size_t start = text.size();
  for (const OptionTextStep& step : OPTION_TEXT) {
    if (step.write) {
      step.write(*this, text);
    } else if (this->*step.flag) {
      text += step.word;
    }
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
