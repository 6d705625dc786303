// The read opener's option part: the input options with their exact error
// texts (one row of the option table each), the settings they fill, the option
// text that gives them back to child processes, and the input and neighbour
// lists with their list files. It depends on core alone; the hand-over to
// filter, transform and ignore rules and the opening of readers are in
// lasreadopener.cpp.
#include "core/lasreadopener.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "core/lasoption.hpp"
#include "core/lasreader.hpp"
#include "core/lasutility.hpp"

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

// "-lof" and "-neighbors_lof".
template <bool is_input>
Result add_list(ReadOptionParse& parse, const LASoptionCall& call) {
  const char* list = call.values[0].text;
  LASreadOpener& o = parse.opener;
  if (!(is_input ? o.add_list_of_files(list, o.unique) : o.add_neighbor_list_of_files(list, o.unique))) {
    laserror(is_input ? "cannot load list of files '%s'" : "cannot load neighbor list of files '%s'", list);
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

// "-inside_tile" and "-inside_circle": a corner or centre, then a size or
// radius that must be positive.
template <typename T, std::optional<std::array<T, 3>> LASreadOpener::*field>
Result set_sized_area(ReadOptionParse& parse, const LASoptionCall& call) {
  std::array<T, 3> values;
  if (!scan_all(call, values)) return FAILED;
  if (!(values[2] > 0)) {
    laserror("%s, but %f is not valid a %s.", call.needs_message().c_str(), (F64)values[2],
             call.value_name(2).c_str());
    return FAILED;
  }
  parse.opener.*field = values;
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

// A value that must not be 0: the counts of "-iskip" and "-io_ibuffer", and
// the intensity and scan-angle translations and scales of text input.
template <typename T, T LASreadOpener::*field>
Result set_nonzero(ReadOptionParse& parse, const LASoptionCall& call) {
  T value;
  if (!scan_value(call, 0, &value)) return FAILED;
  if (value == 0) {
    if constexpr (std::is_same_v<T, U32>) {
      laserror("%s but %u is not valid.", call.needs_message().c_str(), value);
    } else {
      laserror("%s but %f is not valid.", call.needs_message().c_str(), (F64)value);
    }
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
    {text("-lof", "list_of_files"), add_list<true>},
    {text("-neighbors_lof", "file_name", "'{option}' needs at least 1 argument: {values}"),
     add_list<false>},
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
    {numbers("-inside_tile", "ll_x ll_y size", 3, COMMA_NOT_VALID_DOT),
     set_sized_area<F32, &LASreadOpener::inside_tile>},
    {numbers("-inside_circle", "center_x center_y radius", 3, COMMA_NOT_VALID_DOT),
     set_sized_area<F64, &LASreadOpener::inside_circle>},
    {numbers("-max_depth", "depth", 1, COMMA_NOT_VALID), set_max_depth},
    {numbers("-resolution", "resolution", 1, COMMA_NOT_VALID), set_resolution},
    {text("-iparse", "string"), set_parse_string},
    {numbers("-iskip", "number_of_lines", 1, "{needs} but '{arg}' is not a valid number."),
     set_nonzero<U32, &LASreadOpener::skip_lines>},
    {numbers("-itranslate_intensity", "translation", 1, "{needs} but '{arg}' is not valid."),
     set_nonzero<F32, &LASreadOpener::translate_intensity>},
    {numbers("-iscale_intensity", "scale", 1, "{needs} but '{arg}' is not valid."),
     set_nonzero<F32, &LASreadOpener::scale_intensity>},
    {numbers("-itranslate_scan_angle", "translation", 1, "{needs} but '{arg}' is not valid."),
     set_nonzero<F32, &LASreadOpener::translate_scan_angle>},
    {numbers("-iscale_scan_angle", "scale", 1, "{needs} but '{arg}' is not valid."),
     set_nonzero<F32, &LASreadOpener::scale_scan_angle>},
    {optional("-iadd_extra", "data_type name description", 3, 5, is_attribute_number), add_attribute},
    {optional("-iadd_attribute", "data_type name description", 3, 5, is_attribute_number), add_attribute},
    {numbers("-io_ibuffer", "size", 1, "{needs} but '{arg}' is not a valid {name}."),
     set_nonzero<U32, &LASreadOpener::io_ibuffer_size>},
    {optional("-z_from_attribute", "index", 0, 1, is_index), set_z_from_attribute},
};

}  // namespace

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
  if (list.has_bounds()) forget_kdtree(is_neighbor);
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
