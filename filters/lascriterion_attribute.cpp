// Criteria on one extra-bytes attribute of the point, compared with a
// threshold or a closed range. The header is not known when the options are
// read, so any index is taken: an attribute the point's header lacks, or whose
// bytes do not lie within the point's extra bytes, reads 0. None keeps state.
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

enum class Drops : U8 { AT_OR_ABOVE, AT_OR_BELOW, OUTSIDE, BELOW, ABOVE, INSIDE };

constexpr const char* NAMES[] = {
    "keep_attribute_below", "keep_attribute_above", "keep_attribute_between",
    "drop_attribute_below", "drop_attribute_above", "drop_attribute_between",
};

template <Drops rule>
class LAScriterionAttribute : public LAScriterion {
  static constexpr bool range = rule == Drops::OUTSIDE || rule == Drops::INSIDE;
  static constexpr bool keep = rule == Drops::AT_OR_ABOVE || rule == Drops::AT_OR_BELOW || rule == Drops::OUTSIDE;

 public:
  LAScriterionAttribute(U32 index, F64 min, F64 max) : index(index), min(min), max(max) {}
  const char* name() const override { return NAMES[(int)rule]; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    // The keep options read their index as a signed number: one that wrapped
    // is written as it was typed, so that the text reads back.
    las_option_text_d(text, keep ? (I64)(I32)index : (I64)index);
    las_option_text_lf(text, min);
    if (range) las_option_text_lf(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES; }
  bool filter(const LASpoint* point) override {
    const F64 v = point->get_attribute_as_float(index);
    switch (rule) {
      case Drops::AT_OR_ABOVE:
        return v >= min;
      case Drops::AT_OR_BELOW:
        return v <= min;
      case Drops::OUTSIDE:
        return v < min || v > max;
      case Drops::BELOW:
        return v < min;
      case Drops::ABOVE:
        return v > min;
      case Drops::INSIDE:
        return min <= v && v <= max;
    }
    return false;
  }

 private:
  U32 index;
  F64 min, max;
};

// The index is read "%d" by the keep options (a negative one wraps to an
// index no header has) and "%u" by the drop options.
U32 index_of(const LASoptionValue& value, bool is_signed) { return is_signed ? (U32)value.i32 : value.u32; }

// A one-sided option: its value is read here, as its message differs from
// the standard one.
template <Drops rule, bool is_signed, const char* invalid_value>
LASoptionResult add_bound(LASfilterParse& parse, const LASoptionCall& call) {
  F64 value;
  if (!las_read_f64(call.values[1].text, &value)) {
    laserror("%s", las_option_message(invalid_value, call, 1).c_str());
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionAttribute<rule>(index_of(call.values[0], is_signed), value, 0.0));
  return LASoptionResult::TAKEN;
}

template <Drops rule, bool is_signed>
LASoptionResult add_range(LASfilterParse& parse, const LASoptionCall& call) {
  parse.add(
      new LAScriterionAttribute<rule>(index_of(call.values[0], is_signed), call.values[1].f64, call.values[2].f64));
  return LASoptionResult::TAKEN;
}

constexpr char KEEP_INVALID_VALUE[] = "'{option}' needs 2 arguments: min max but '{arg}' is no valid value";
constexpr char DROP_INVALID_VALUE[] = "{needs} '{arg}' is no valid value";

const LAScriterionOption options[] = {
    {{"-keep_attribute_below", "index value", 2, "%d %s"}, add_bound<Drops::AT_OR_ABOVE, true, KEEP_INVALID_VALUE>},
    {{"-keep_attribute_above", "index value", 2, "%d %s"}, add_bound<Drops::AT_OR_BELOW, true, KEEP_INVALID_VALUE>},
    {{"-keep_attribute_between", "index min max", 3, "%d %lf"}, add_range<Drops::OUTSIDE, true>},
    {{"-drop_attribute_below", "index value", 2, "%u %s"}, add_bound<Drops::BELOW, false, DROP_INVALID_VALUE>},
    {{"-drop_attribute_above", "index value", 2, "%u %s"}, add_bound<Drops::ABOVE, false, DROP_INVALID_VALUE>},
    {{"-drop_attribute_between", "index below above", 3, "%u %lf"}, add_range<Drops::INSIDE, false>},
};

}  // namespace

std::span<const LAScriterionOption> las_attribute_criterion_options() { return options; }
