// What a family of criteria plugs into the filter: the parse in progress that
// its options add criteria to, the row type of its option table, the helpers
// its criteria write their option text with, and the criteria that combine
// two others. A new family is one lascriterion_*.cpp with its criteria and
// its table, one line in the family list of lasfilter.cpp, and its lines of
// the help text there.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "core/lasoption.hpp"
#include "filters/lasfilter.hpp"

// One run of LASfilter::parse: the filter it fills, and what the options note
// for the extended-class criterion that is built after the last argument.
struct LASfilterParse {
  LASfilter& filter;
  // Extended classes to keep and to drop: class k is bit k % 32 of word k / 32.
  U32 keep_extended[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  U32 drop_extended[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  // A legacy keep-class option was used; it rules out the extended criterion.
  bool keep_class_used = false;

  explicit LASfilterParse(LASfilter& filter) : filter(filter) {}
  void add(LAScriterion* criterion) { filter.add_criterion(criterion); }
  // The last criterion when its name() is `name`, taken off the list for the
  // caller to own (a list option absorbs the list just before it); else null.
  std::unique_ptr<LAScriterion> take_last_named(const char* name);
  // After the last argument: the extended classes named anywhere become one
  // criterion behind all others. False after a reported error.
  bool finish();
};

using LAScriterionOption = LASoptionRow<LASfilterParse>;

// The apply of a row whose criterion is built from the values alone: the
// class takes the array of values the row declares.
template <class Criterion>
LASoptionResult las_add_criterion(LASfilterParse& parse, const LASoptionCall& call) {
  parse.add(new Criterion(call.values.data()));
  return LASoptionResult::TAKEN;
}

// The apply of a row with one "%u" value up to `highest`, which the class
// takes; a larger value is refused with the row's needs message followed by
// " but '<value>' is no valid value".
template <class Criterion, U32 highest>
LASoptionResult las_add_bounded_criterion(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 value = call.values[0].u32;
  if (value > highest) {
    laserror("%s but '%u' is no valid value", call.needs_message().c_str(), value);
    return LASoptionResult::FAILED;
  }
  parse.add(new Criterion(value));
  return LASoptionResult::TAKEN;
}

// The option tables of the families.
std::span<const LAScriterionOption> las_coordinate_criterion_options();
std::span<const LAScriterionOption> las_classification_criterion_options();
std::span<const LAScriterionOption> las_combined_criterion_options();
std::span<const LAScriterionOption> las_return_criterion_options();
std::span<const LAScriterionOption> las_intensity_criterion_options();
std::span<const LAScriterionOption> las_acquisition_criterion_options();
std::span<const LAScriterionOption> las_thinning_criterion_options();
std::span<const LAScriterionOption> las_attribute_criterion_options();
std::span<const LAScriterionOption> las_colour_criterion_options();

// The criterion built after the last argument from the extended classes to
// drop (bit layout as in LASfilterParse).
LAScriterion* las_new_drop_extended_classifications(const U32 drop_mask[8]);

// Option text of a criterion: "-", its name and a blank; answers where the
// text began, so that get_command can answer the characters it appended.
inline size_t las_criterion_text(std::string& text, const char* name) {
  const size_t start = text.size();
  text += '-';
  las_option_text(text, name);
  return start;
}
inline I32 las_criterion_text_size(const std::string& text, size_t start) { return (I32)(text.size() - start); }

// Option text of a set of classes or return numbers (bit k of `set` for k
// below `bits`): the list option and the numbers ("-keep_class 1 2 "), or
// "-" `mask_name` and the set as one number when the list would name nothing
// (a list needs a number) or would merge, on reading back, into the set
// written just before it (the text so far ends with the list option or the
// mask option). Answers the characters appended.
I32 las_set_text(std::string& text, const char* list_option, const char* mask_name, U32 set, U32 bits);

// Two criteria as one; it owns both. And drops a point only when both drop it
// (`second` sees just the points `first` drops); Or drops it when either does
// (`second` sees just the points `first` keeps). Written in postfix form: the
// two children's texts, then "-filter_and" or "-filter_or".
class LAScriterionCombined : public LAScriterion {
 public:
  LAScriterionCombined(LAScriterion* first, LAScriterion* second) : first(first), second(second) {}
  I32 get_command(std::string& text) const override;
  U32 get_decompress_selective() const override {
    return first->get_decompress_selective() | second->get_decompress_selective();
  }
  void reset() override {
    first->reset();
    second->reset();
  }

 protected:
  std::unique_ptr<LAScriterion> first;
  std::unique_ptr<LAScriterion> second;
};

class LAScriterionAnd : public LAScriterionCombined {
 public:
  using LAScriterionCombined::LAScriterionCombined;
  const char* name() const override { return "filter_and"; }
  bool filter(const LASpoint* point) override { return first->filter(point) && second->filter(point); }
};

class LAScriterionOr : public LAScriterionCombined {
 public:
  using LAScriterionCombined::LAScriterionCombined;
  const char* name() const override { return "filter_or"; }
  bool filter(const LASpoint* point) override { return first->filter(point) || second->filter(point); }
};

// Reads a hue, saturation, value or lightness: a float, divided by 360 when
// it ends in a degree sign or 'd'/'D', by 100 when it ends in 'p'/'P'/'%'.
// True when the text is NOT such a number.
bool strToFloatDegPcFail(const char* text, F32* value);

// Puts a pair of bounds in order, then checks it lies within [lowest,
// highest]; a pair outside is reported on the error stream (not counted as a
// message) and answers false.
template <typename T>
bool rangeValidate(const char* name, T* min, T* max, T lowest, T highest);
