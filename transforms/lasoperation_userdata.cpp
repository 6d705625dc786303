// Setting, scaling, changing, mapping and copying the user data and the point
// source ID, and binning heights into point source IDs. The two map options
// read a text file of "from to" lines once, while the options are parsed, into
// a table that covers every value of the field, so a point costs one lookup.
#include <cctype>
#include <cstdio>
#include <memory>

#include "core/lasutility.hpp"
#include "transforms/lasoperation_fields.hpp"

namespace {

// ------------------------------------------------------------------ user data

// A field that is a plain member of the point.
template <class T, T LASpoint::*member, U32 change_mask>
struct Member {
  using type = T;
  static constexpr U32 mask = change_mask;
  static T get(const LASpoint* point) { return point->*member; }
  static void set(LASpoint* point, T value) { point->*member = value; }
};

using UserData = Member<U8, &LASpoint::user_data, LAS_SELECTIVE_USER_DATA>;
constexpr const char* USER_DATA_NAMES[] = {"set_user_data", "change_user_data_from_to"};
using SetUserData = LASruleSet<UserData, USER_DATA_NAMES>;
using ChangeUserDataFromTo = LASruleChangeFromTo<UserData, USER_DATA_NAMES>;

// Products beyond the byte saturate, also those beyond the float range, so
// the conversion to an integer only ever sees values inside the byte.
struct ScaleUserData {
  static constexpr const char* name = "scale_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  F32 scale;
  explicit ScaleUserData(const LASoptionValue* v) : scale(v[0].f32) {}
  void text(std::string& text) const { las_option_text_g(text, scale); }
  void apply(LASpoint* point) const {
    const F32 p = point->user_data * scale;
    if (!(p > 0.0f)) {
      point->user_data = 0;
    } else if (p >= 255.0f) {
      point->user_data = 255;
    } else {
      point->user_data = (U8)p;
    }
  }
};

struct CopyClassificationIntoUserData {
  static constexpr const char* name = "copy_classification_into_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_CLASSIFICATION;
  void apply(LASpoint* point) const { point->user_data = effective_classification(point); }
};

// ------------------------------------------------------------------ point source

using PointSource = Member<U16, &LASpoint::point_source_ID, LAS_SELECTIVE_POINT_SOURCE>;
constexpr const char* POINT_SOURCE_NAMES[] = {"set_point_source", "change_point_source_from_to"};
using SetPointSource = LASruleSet<PointSource, POINT_SOURCE_NAMES>;
using ChangePointSourceFromTo = LASruleChangeFromTo<PointSource, POINT_SOURCE_NAMES>;

struct CopyClassificationIntoPointSource {
  static constexpr const char* name = "copy_classification_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_CLASSIFICATION;
  void apply(LASpoint* point) const { point->point_source_ID = effective_classification(point); }
};

struct CopyUserDataIntoPointSource {
  static constexpr const char* name = "copy_user_data_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  void apply(LASpoint* point) const { point->point_source_ID = point->user_data; }
};

// Bins of the raw integer Z as the point arrives, not of the height: with a
// z scale of 0.01 and bins of 100, heights 1 unit apart fall into consecutive
// bins. The division is done in 64 bits, so a bin size beyond the 32-bit
// signed range still bins every Z (into 0).
struct BinZintoPointSource {
  static constexpr const char* name = "bin_Z_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_Z;
  U32 bin_size;
  explicit BinZintoPointSource(const LASoptionValue* v) : bin_size(v[0].u32) {}
  void text(std::string& text) const { las_option_text_d(text, bin_size); }
  void apply(LASoperationValuesOnly& operation, LASpoint* point) const {
    const I64 bin = (I64)point->get_Z() / (I64)bin_size;
    operation.requantise(point);
    point->point_source_ID = bin < 0 ? 0 : bin > 65535 ? 65535 : (U16)bin;
  }
};

// ------------------------------------------------------------------ maps

// An unsigned decimal number at `p` as "%u" scans it: blanks first, then an
// optional sign and at least one digit. A value above `limit` (also a negative
// one, which would wrap) answers limit + 1, never an undefined conversion.
bool scan_unsigned(const char*& p, U32 limit, U32& value) {
  while (isspace((unsigned char)*p)) p++;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  if (!isdigit((unsigned char)*p)) return false;
  U64 v = 0;
  for (; isdigit((unsigned char)*p); p++) {
    if (v <= limit) v = v * 10 + (U64)(*p - '0');
  }
  value = (negative && v != 0) || v > limit ? limit + 1 : (U32)v;
  return true;
}

// The table of a map file: identity first, then entry[from] = to for each line
// that starts with two numbers of the field; a later line for the same value
// wins, and lines that do not hold such a pair are passed over. Lines are read
// whole, however long, so text behind the pair never counts as a line of its
// own. False when the file cannot be opened or read (a directory opens).
template <class T>
bool read_map(const char* file_name, T* map, U32 size) {
  FILE* file = LASfopen(file_name, "r");
  if (file == nullptr) return false;
  for (U32 i = 0; i < size; i++) map[i] = (T)i;
  char* line = nullptr;
  size_t capacity = 0;
  while (getline(&line, &capacity, file) != -1) {
    const char* p = line;
    U32 from, to;
    if (!scan_unsigned(p, size - 1, from) || !scan_unsigned(p, size - 1, to)) continue;
    if (from < size && to < size) map[from] = (T)to;
  }
  free(line);
  const bool read = !ferror(file);
  fclose(file);
  return read;
}

template <class T, U32 size>
struct Map {
  T map[size];
  std::string file_name;
  explicit Map(const LASoptionValue* v) : file_name(v[0].text) {}
  void text(std::string& text) const { append_quoted_option_value(text, file_name); }
};

struct MapUserData : Map<U8, 256> {
  static constexpr const char* name = "map_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  using Map::Map;
  void apply(LASpoint* point) const { point->user_data = map[point->user_data]; }
};

struct MapPointSource : Map<U16, 65536> {
  static constexpr const char* name = "map_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_POINT_SOURCE;
  using Map::Map;
  void apply(LASpoint* point) const { point->point_source_ID = map[point->point_source_ID]; }
};

// Builds the map operation from its file; `message` refuses a file that
// cannot be opened (the option as typed, then the name).
template <class Rule>
LASoptionResult add_map(LAStransformParse& parse, const LASoptionCall& call, const char* message) {
  auto operation = std::make_unique<LASoperationOf<Rule>>(call.values.data());
  Rule& rule = operation->get_rule();
  if (!read_map(call.values[0].text, rule.map, (U32)std::size(rule.map))) {
    laserror(message, call.typed, call.values[0].text);
    return LASoptionResult::FAILED;
  }
  parse.add(operation.release());
  return LASoptionResult::TAKEN;
}

LASoptionResult add_map_user_data(LAStransformParse& parse, const LASoptionCall& call) {
  return add_map<MapUserData>(parse, call, "cannot '%s' needs text file with map but '%s' cannot be opened");
}
LASoptionResult add_map_point_source(LAStransformParse& parse, const LASoptionCall& call) {
  return add_map<MapPointSource>(parse, call, "'%s' needs text file with map but '%s' cannot be opened");
}

// ------------------------------------------------------------------ options

// The operations, under their names.
using LASoperationSetUserData = LASoperationOf<SetUserData>;
using LASoperationScaleUserData = LASoperationOf<ScaleUserData>;
using LASoperationChangeUserDataFromTo = LASoperationOf<ChangeUserDataFromTo>;
using LASoperationMapUserData = LASoperationOf<MapUserData>;
using LASoperationCopyClassificationIntoUserData = LASoperationOf<CopyClassificationIntoUserData>;
using LASoperationSetPointSource = LASoperationOf<SetPointSource>;
using LASoperationChangePointSourceFromTo = LASoperationOf<ChangePointSourceFromTo>;
using LASoperationMapPointSource = LASoperationOf<MapPointSource>;
using LASoperationCopyClassificationIntoPointSource = LASoperationOf<CopyClassificationIntoPointSource>;
using LASoperationCopyUserDataIntoPointSource = LASoperationOf<CopyUserDataIntoPointSource>;
using LASoperationBinZintoPointSource = LASoperationOf<BinZintoPointSource>;

LASoptionResult add_bin_Z(LAStransformParse& parse, const LASoptionCall& call) {
  if (call.values[0].u32 == 0) {
    laserror("%u is no valid bin_size for '%s'", call.values[0].u32, call.typed);
    return LASoptionResult::FAILED;
  }
  return las_add_operation<LASoperationBinZintoPointSource>(parse, call);
}

constexpr LASvalueLimit SET_USER_DATA[] = {{0, 255, "cannot set user data because value %u is larger than %u"}};
constexpr LASvalueLimit CHANGE_USER_DATA[] = {
    {0, 255, "cannot change user data because from_value %u is larger than %u"},
    {1, 255, "cannot change user data because to_value %u is larger than %u"}};
constexpr LASvalueLimit SET_POINT_SOURCE[] = {
    {0, 65535, "cannot set point source ID because value %u is larger than %u"}};
constexpr LASvalueLimit CHANGE_POINT_SOURCE[] = {
    {0, 65535, "cannot change point source ID because from_value %u is larger than %u"},
    {1, 65535, "cannot change point source ID because to_value %u is larger than %u"}};

// The missing value is worded with "need", a bad one with "needs".
constexpr const char* VALUE = "'{option}' needs 1 argument: value but '{arg}' is no valid value";

// The to_value is read after the from_value's range is checked ("%s").
constexpr LASoption change(const char* name) { return {name, "from_value to_value", 2, "%u %s"}; }
constexpr LASoption map(const char* name) { return {name, "map_file_name.txt", 1, "%s"}; }

const LASoperationOption options[] = {
    {{"-set_user_data", "value", 1, "%u", 0, "'{option}' need 1 argument: value", VALUE},
     las_add_limited<LASoperationSetUserData, SET_USER_DATA>},
    {{"-scale_user_data", "scale", 1, "%f", 0, nullptr, "{needs} but '{arg}' is no valid number"},
     las_add_operation<LASoperationScaleUserData>},
    {change("-change_user_data_from_to"), las_add_limited<LASoperationChangeUserDataFromTo, CHANGE_USER_DATA>},
    {map("-map_user_data"), add_map_user_data},
    {{"-copy_classification_into_user_data", "", 0, ""}, las_add_operation<LASoperationCopyClassificationIntoUserData>},
    {{"-set_point_source", "value", 1, "%u", 0, "'{option}' need 1 argument: psid", VALUE, nullptr, true},
     las_add_limited<LASoperationSetPointSource, SET_POINT_SOURCE>},
    {change("-change_point_source_from_to"), las_add_limited<LASoperationChangePointSourceFromTo, CHANGE_POINT_SOURCE>},
    {map("-map_point_source"), add_map_point_source},
    {{"-copy_classification_into_point_source", "", 0, ""},
     las_add_operation<LASoperationCopyClassificationIntoPointSource>},
    {{"-copy_user_data_into_point_source", "", 0, ""}, las_add_operation<LASoperationCopyUserDataIntoPointSource>},
    {{"-bin_Z_into_point_source", "bin_size", 1, "%u"}, add_bin_Z},
};

const LASoperationUsage usage[] = {
    {9, 1, "-set_user_data 0"},
    {9, 2, "-scale_user_data 1.5"},
    {9, 3, "-change_user_data_from_to 23 26"},
    {9, 4, "-change_user_data_from_to 23 26"},
    {9, 5, "-map_user_data map_file.txt"},
    {10, 1, "-set_point_source 500"},
    {10, 2, "-change_point_source_from_to 1023 1024"},
    {10, 3, "-map_point_source map_file.txt"},
    {10, 4, "-copy_user_data_into_point_source"},
    {10, 9, "-bin_Z_into_point_source 200"},
};

}  // namespace

LASoperation* las_new_set_point_source(U16 psid) {
  LASoptionValue value;
  value.u32 = psid;
  return new LASoperationSetPointSource(&value);
}

LASoperationFamily las_user_data_operations() { return {options, usage}; }
