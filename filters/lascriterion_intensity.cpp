// Criteria on three integer fields of the point record: the intensity, the
// user data byte and the point source ID, each tested against an exact value,
// a one-sided bound or a closed range. None keeps state. Several IDs given to
// "-keep_point_source" become a chain of And criteria that keeps any of them.
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

struct Intensity {
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  static I64 of(const LASpoint* point) { return point->intensity; }
};
struct UserData {
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  static I64 of(const LASpoint* point) { return point->user_data; }
};
struct PointSource {
  static constexpr U32 mask = LAS_SELECTIVE_POINT_SOURCE;
  static I64 of(const LASpoint* point) { return point->point_source_ID; }
};

// When a field value v is dropped; the range tests are closed.
enum class Drops : U8 { EQUAL, NOT_EQUAL, BELOW, ABOVE, AT_OR_BELOW, AT_OR_ABOVE, INSIDE, OUTSIDE };

template <Drops rule>
constexpr bool drops(I64 v, I64 min, I64 max) {
  switch (rule) {
    case Drops::EQUAL:
      return v == min;
    case Drops::NOT_EQUAL:
      return v != min;
    case Drops::BELOW:
      return v < min;
    case Drops::ABOVE:
      return v > min;
    case Drops::AT_OR_BELOW:
      return v <= min;
    case Drops::AT_OR_ABOVE:
      return v >= min;
    case Drops::INSIDE:
      return min <= v && v <= max;
    case Drops::OUTSIDE:
      return v < min || v > max;
  }
  return false;
}

enum Name : U8 {
  KEEP_INTENSITY,
  KEEP_INTENSITY_BELOW,
  KEEP_INTENSITY_ABOVE,
  DROP_INTENSITY_BELOW,
  DROP_INTENSITY_ABOVE,
  DROP_INTENSITY_BETWEEN,
  KEEP_USER_DATA,
  KEEP_USER_DATA_BELOW,
  KEEP_USER_DATA_ABOVE,
  KEEP_USER_DATA_BETWEEN,
  DROP_USER_DATA,
  DROP_USER_DATA_BELOW,
  DROP_USER_DATA_ABOVE,
  DROP_USER_DATA_BETWEEN,
  KEEP_POINT_SOURCE,
  KEEP_POINT_SOURCE_BETWEEN,
  DROP_POINT_SOURCE,
  DROP_POINT_SOURCE_BELOW,
  DROP_POINT_SOURCE_ABOVE,
  DROP_POINT_SOURCE_BETWEEN,
};

constexpr const char* NAMES[] = {
    "keep_intensity",       "keep_intensity_below",    "keep_intensity_above",    "drop_intensity_below",
    "drop_intensity_above", "drop_intensity_between",  "keep_user_data",          "keep_user_data_below",
    "keep_user_data_above", "keep_user_data_between",  "drop_user_data",          "drop_user_data_below",
    "drop_user_data_above", "drop_user_data_between",  "keep_point_source",       "keep_point_source_between",
    "drop_point_source",    "drop_point_source_below", "drop_point_source_above", "drop_point_source_between",
};

// One test of a field against `min` (the one value) or the range `min` to
// `max`, stored as given (T is the field's width, or I32 where negative bounds
// are allowed) and written back with both when the test is a range.
template <Name name_index, class Field, Drops rule, typename T>
class LAScriterionField : public LAScriterion {
  static constexpr bool range = rule == Drops::INSIDE || rule == Drops::OUTSIDE;

 public:
  explicit LAScriterionField(T value, T max = 0) : min(value), max(max) {}
  const char* name() const override { return NAMES[name_index]; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, min);
    if (range) las_option_text_d(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return Field::mask; }
  bool filter(const LASpoint* point) override { return drops<rule>(Field::of(point), min, max); }

 private:
  T min, max;
};

using LAScriterionKeepIntensity = LAScriterionField<KEEP_INTENSITY, Intensity, Drops::OUTSIDE, U16>;
using LAScriterionKeepIntensityBelow = LAScriterionField<KEEP_INTENSITY_BELOW, Intensity, Drops::AT_OR_ABOVE, U16>;
using LAScriterionKeepIntensityAbove = LAScriterionField<KEEP_INTENSITY_ABOVE, Intensity, Drops::AT_OR_BELOW, U16>;
using LAScriterionDropIntensityBelow = LAScriterionField<DROP_INTENSITY_BELOW, Intensity, Drops::BELOW, I32>;
using LAScriterionDropIntensityAbove = LAScriterionField<DROP_INTENSITY_ABOVE, Intensity, Drops::ABOVE, I32>;
using LAScriterionDropIntensityBetween = LAScriterionField<DROP_INTENSITY_BETWEEN, Intensity, Drops::INSIDE, I32>;
using LAScriterionKeepUserData = LAScriterionField<KEEP_USER_DATA, UserData, Drops::NOT_EQUAL, U8>;
using LAScriterionKeepUserDataBelow = LAScriterionField<KEEP_USER_DATA_BELOW, UserData, Drops::AT_OR_ABOVE, U8>;
using LAScriterionKeepUserDataAbove = LAScriterionField<KEEP_USER_DATA_ABOVE, UserData, Drops::AT_OR_BELOW, U8>;
using LAScriterionKeepUserDataBetween = LAScriterionField<KEEP_USER_DATA_BETWEEN, UserData, Drops::OUTSIDE, U8>;
using LAScriterionDropUserData = LAScriterionField<DROP_USER_DATA, UserData, Drops::EQUAL, U8>;
using LAScriterionDropUserDataBelow = LAScriterionField<DROP_USER_DATA_BELOW, UserData, Drops::BELOW, U8>;
using LAScriterionDropUserDataAbove = LAScriterionField<DROP_USER_DATA_ABOVE, UserData, Drops::ABOVE, U8>;
using LAScriterionDropUserDataBetween = LAScriterionField<DROP_USER_DATA_BETWEEN, UserData, Drops::INSIDE, U8>;
using LAScriterionKeepPointSource = LAScriterionField<KEEP_POINT_SOURCE, PointSource, Drops::NOT_EQUAL, U16>;
using LAScriterionKeepPointSourceBetween =
    LAScriterionField<KEEP_POINT_SOURCE_BETWEEN, PointSource, Drops::OUTSIDE, U16>;
using LAScriterionDropPointSource = LAScriterionField<DROP_POINT_SOURCE, PointSource, Drops::EQUAL, U16>;
using LAScriterionDropPointSourceBelow = LAScriterionField<DROP_POINT_SOURCE_BELOW, PointSource, Drops::BELOW, U16>;
using LAScriterionDropPointSourceAbove = LAScriterionField<DROP_POINT_SOURCE_ABOVE, PointSource, Drops::ABOVE, U16>;
using LAScriterionDropPointSourceBetween =
    LAScriterionField<DROP_POINT_SOURCE_BETWEEN, PointSource, Drops::INSIDE, U16>;

// ------------------------------------------------------------------ checks

constexpr U32 U16_HIGHEST = 65535;

// A value above `highest` is refused with `message`, which is given the
// value and `highest` (in that order; a message may use only the first).
bool within(U32 value, U32 highest, const char* message) {
  if (value <= highest) return true;
  laserror(message, value, highest);
  return false;
}

// The numbers of a list ("%s" values), read one by one so that the first bad
// one is the one reported, whichever way it is bad.
bool read_list(const LASoptionCall& call, U32 highest, const char* message, std::vector<U32>& numbers) {
  for (size_t k = 0; k < call.values.size(); k++) {
    U32 number;
    if (!las_read_u32(call.values[k].text, &number)) {
      laserror("%s", call.invalid_message(k).c_str());
      return false;
    }
    if (!within(number, highest, message)) return false;
    numbers.push_back(number);
  }
  return true;
}

// ------------------------------------------------------------------ applies

// Rows whose values are stored as read: "%d" values (user data keeps their
// low 8 bits) and ranges with no bound check.
template <class Criterion, typename T>
LASoptionResult add_signed(LASfilterParse& parse, const LASoptionCall& call) {
  const T max = call.values.size() > 1 ? (T)call.values[1].i32 : 0;
  parse.add(new Criterion((T)call.values[0].i32, max));
  return LASoptionResult::TAKEN;
}

// Rows of one or two "%u" values up to `highest`, each with its message.
template <class Criterion, U32 highest, const char* min_message, const char* max_message = nullptr>
LASoptionResult add_checked(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 min = call.values[0].u32;
  const U32 max = call.values.size() > 1 ? call.values[1].u32 : 0;
  if (!within(min, highest, min_message)) return LASoptionResult::FAILED;
  if (max_message != nullptr && !within(max, highest, max_message)) return LASoptionResult::FAILED;
  parse.add(new Criterion(min, max));
  return LASoptionResult::TAKEN;
}

constexpr char KEEP_INTENSITY_MIN_TOO_LARGE[] = "cannot keep intensity because min of %u is larger than %u";
constexpr char KEEP_INTENSITY_MAX_TOO_LARGE[] = "cannot keep intensity because max of %u is larger than %u";
constexpr char KEEP_INTENSITY_BELOW_TOO_LARGE[] = "cannot keep intensity below min of %u because it is larger than %u";
constexpr char KEEP_INTENSITY_ABOVE_TOO_LARGE[] = "cannot keep intensity above max of %u because it is larger than %u";
constexpr char DROP_USER_DATA_BELOW_TOO_LARGE[] = "cannot drop user data below %u because it is larger than 255";
constexpr char DROP_USER_DATA_ABOVE_TOO_LARGE[] = "cannot drop user data above %u because it is larger than 255";
constexpr char KEEP_SOURCE_MIN_TOO_LARGE[] = "cannot keep point source because min_ID of %u is larger than %u";
constexpr char KEEP_SOURCE_MAX_TOO_LARGE[] = "cannot keep point source because max_ID of %u is larger than %u";
constexpr char DROP_SOURCE_BELOW_TOO_LARGE[] =
    "cannot drop point source below min_ID of %u because it is larger than %u";
constexpr char DROP_SOURCE_ABOVE_TOO_LARGE[] =
    "cannot drop point source above max_ID of %u because it is larger than %u";
constexpr char DROP_SOURCE_MIN_TOO_LARGE[] = "cannot drop point source because min_ID of %u is larger than %u";
constexpr char DROP_SOURCE_MAX_TOO_LARGE[] = "cannot drop point source because max_ID of %u is larger than %u";

// The minimum's range is checked before the maximum is read.
LASoptionResult drop_user_data_between(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 min = call.values[0].u32;
  if (!within(min, 255, "cannot drop user data between min and max because min of %u is larger than 255")) {
    return LASoptionResult::FAILED;
  }
  U32 max;
  if (!las_read_u32(call.values[1].text, &max)) {
    laserror("%s", call.invalid_message(1).c_str());
    return LASoptionResult::FAILED;
  }
  if (!within(max, 255, "cannot drop user data between min and max because max of %u is larger than 255")) {
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionDropUserDataBetween((U8)min, (U8)max));
  return LASoptionResult::TAKEN;
}

constexpr char DROP_USER_DATA_TOO_LARGE[] = "cannot drop user data %u because it is larger than 255";
constexpr char DROP_SOURCE_TOO_LARGE[] = "cannot drop_point_source ID %u because it is larger than %u";

// One criterion per value, in order.
template <class Criterion, U32 highest, const char* message>
LASoptionResult add_each(LASfilterParse& parse, const LASoptionCall& call) {
  std::vector<U32> numbers;
  if (!read_list(call, highest, message, numbers)) return LASoptionResult::FAILED;
  for (U32 number : numbers) parse.add(new Criterion(number));
  return LASoptionResult::TAKEN;
}

// Each further ID joins the criteria before it in an And, which drops a point
// only when every ID so far differs from its source: And(And(K1, K2), K3).
LASoptionResult keep_point_source(LASfilterParse& parse, const LASoptionCall& call) {
  std::vector<U32> ids;
  if (!read_list(call, U16_HIGHEST, "cannot keep_point_source ID %u because it is larger than %u", ids)) {
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionKeepPointSource(ids[0]));
  for (size_t k = 1; k < ids.size(); k++) {
    parse.add(new LAScriterionKeepPointSource(ids[k]));
    LAScriterion* newer = parse.filter.take_last_criterion();
    LAScriterion* older = parse.filter.take_last_criterion();
    parse.add(new LAScriterionAnd(older, newer));
  }
  return LASoptionResult::TAKEN;
}

const LAScriterionOption options[] = {
    {{"-keep_intensity", "min max", 2, "%u"},
     add_checked<LAScriterionKeepIntensity, U16_HIGHEST, KEEP_INTENSITY_MIN_TOO_LARGE, KEEP_INTENSITY_MAX_TOO_LARGE>},
    {{"-keep_intensity_above", "max", 1, "%u"},
     add_checked<LAScriterionKeepIntensityAbove, U16_HIGHEST, KEEP_INTENSITY_ABOVE_TOO_LARGE>},
    {{"-keep_intensity_below", "min", 1, "%u"},
     add_checked<LAScriterionKeepIntensityBelow, U16_HIGHEST, KEEP_INTENSITY_BELOW_TOO_LARGE>},
    {{"-drop_intensity_above", "max", 1, "%d"}, add_signed<LAScriterionDropIntensityAbove, I32>},
    {{"-drop_intensity_below", "min", 1, "%d"}, add_signed<LAScriterionDropIntensityBelow, I32>},
    {{"-drop_intensity_between", "min max", 2, "%d"}, add_signed<LAScriterionDropIntensityBetween, I32>},

    {{"-keep_user_data", "value", 1, "%d"}, add_signed<LAScriterionKeepUserData, U8>},
    {{"-keep_user_data_below", "value", 1, "%d"}, add_signed<LAScriterionKeepUserDataBelow, U8>},
    {{"-keep_user_data_above", "value", 1, "%d"}, add_signed<LAScriterionKeepUserDataAbove, U8>},
    {{"-keep_user_data_between", "min max", 2, "%d"}, add_signed<LAScriterionKeepUserDataBetween, U8>},
    {{"-drop_user_data", "value", 1, "%s", LAS_OPTION_LIST},
     add_each<LAScriterionDropUserData, 255, DROP_USER_DATA_TOO_LARGE>},
    {{"-drop_user_data_below", "below", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid value"},
     add_checked<LAScriterionDropUserDataBelow, 255, DROP_USER_DATA_BELOW_TOO_LARGE>},
    {{"-drop_user_data_above", "above", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid value"},
     add_checked<LAScriterionDropUserDataAbove, 255, DROP_USER_DATA_ABOVE_TOO_LARGE>},
    {{"-drop_user_data_between", "min max", 2, "%u %s"}, drop_user_data_between},

    {{"-keep_point_source", "ID", 1, "%s", LAS_OPTION_LIST, nullptr, nullptr,
      "'-keep_point_source' takes one or more IDs but '{arg}' is no valid ID"},
     keep_point_source},
    {{"-keep_point_source_between", "min_ID max_ID", 2, "%u"},
     add_checked<LAScriterionKeepPointSourceBetween, U16_HIGHEST, KEEP_SOURCE_MIN_TOO_LARGE,
                 KEEP_SOURCE_MAX_TOO_LARGE>},
    {{"-drop_point_source", "ID", 1, "%s", LAS_OPTION_LIST},
     add_each<LAScriterionDropPointSource, U16_HIGHEST, DROP_SOURCE_TOO_LARGE>},
    {{"-drop_point_source_below", "min_ID", 1, "%u", 0, nullptr,
      "'{option}' needs 1 argument: min_ID max_ID but '{arg}' is no valid min_ID"},
     add_checked<LAScriterionDropPointSourceBelow, U16_HIGHEST, DROP_SOURCE_BELOW_TOO_LARGE>},
    {{"-drop_point_source_above", "max_ID", 1, "%u"},
     add_checked<LAScriterionDropPointSourceAbove, U16_HIGHEST, DROP_SOURCE_ABOVE_TOO_LARGE>},
    {{"-drop_point_source_between", "min_ID max_ID", 2, "%u"},
     add_checked<LAScriterionDropPointSourceBetween, U16_HIGHEST, DROP_SOURCE_MIN_TOO_LARGE,
                 DROP_SOURCE_MAX_TOO_LARGE>},
};

}  // namespace

std::span<const LAScriterionOption> las_intensity_criterion_options() { return options; }
