// Criteria on the place of a point in its pulse: first, last, middle or
// second-last return, chosen return numbers, or a number of returns. They
// read the 3-bit legacy return fields (which the readers keep filled for
// extended points too) and keep no state.
#include "core/laspoint.hpp"
#include "filters/lascriterion.hpp"

namespace {

// ------------------------------------------------------------------ pulse position

enum class Pulse : U8 {
  KEEP_FIRST, KEEP_FIRST_OF_MANY, KEEP_MIDDLE, KEEP_LAST, KEEP_LAST_OF_MANY, KEEP_SECOND_LAST,
  DROP_FIRST, DROP_FIRST_OF_MANY, DROP_MIDDLE, DROP_LAST, DROP_LAST_OF_MANY, DROP_SECOND_LAST,
};

constexpr const char* PULSE_NAMES[] = {
    "keep_first", "keep_first_of_many", "keep_middle", "keep_last", "keep_last_of_many", "keep_second_last",
    "drop_first", "drop_first_of_many", "drop_middle", "drop_last", "drop_last_of_many", "drop_second_last",
};

// True drops a return rn of a pulse of nr returns.
template <Pulse test>
constexpr bool pulse_drops(U32 rn, U32 nr) {
  switch (test) {
    case Pulse::KEEP_FIRST: return rn > 1;
    case Pulse::KEEP_FIRST_OF_MANY: return nr == 1 || rn > 1;
    case Pulse::KEEP_MIDDLE: return rn == 1 || rn >= nr;
    case Pulse::KEEP_LAST: return rn < nr;
    case Pulse::KEEP_LAST_OF_MANY: return rn == 1 || rn < nr;
    case Pulse::KEEP_SECOND_LAST: return nr <= 1 || rn != nr - 1;
    case Pulse::DROP_FIRST: return rn == 1;
    case Pulse::DROP_FIRST_OF_MANY: return nr >= 2 && rn == 1;
    case Pulse::DROP_MIDDLE: return rn > 1 && rn < nr;
    case Pulse::DROP_LAST: return rn >= nr;
    case Pulse::DROP_LAST_OF_MANY: return nr >= 2 && rn >= nr;
    case Pulse::DROP_SECOND_LAST: return nr >= 2 && rn == nr - 1;
  }
  return false;
}

template <Pulse test>
class LAScriterionPulse : public LAScriterion {
 public:
  explicit LAScriterionPulse(const LASoptionValue*) {}
  const char* name() const override { return PULSE_NAMES[(int)test]; }
  I32 get_command(std::string& text) const override {
    return las_criterion_text_size(text, las_criterion_text(text, name()));
  }
  bool filter(const LASpoint* point) override {
    return pulse_drops<test>(point->get_return_number(), point->get_number_of_returns());
  }
};

using LAScriterionKeepFirstReturn = LAScriterionPulse<Pulse::KEEP_FIRST>;
using LAScriterionKeepFirstOfManyReturn = LAScriterionPulse<Pulse::KEEP_FIRST_OF_MANY>;
using LAScriterionKeepMiddleReturn = LAScriterionPulse<Pulse::KEEP_MIDDLE>;
using LAScriterionKeepLastReturn = LAScriterionPulse<Pulse::KEEP_LAST>;
using LAScriterionKeepLastOfManyReturn = LAScriterionPulse<Pulse::KEEP_LAST_OF_MANY>;
using LAScriterionKeepSecondLast = LAScriterionPulse<Pulse::KEEP_SECOND_LAST>;
using LAScriterionDropFirstReturn = LAScriterionPulse<Pulse::DROP_FIRST>;
using LAScriterionDropFirstOfManyReturn = LAScriterionPulse<Pulse::DROP_FIRST_OF_MANY>;
using LAScriterionDropMiddleReturn = LAScriterionPulse<Pulse::DROP_MIDDLE>;
using LAScriterionDropLastReturn = LAScriterionPulse<Pulse::DROP_LAST>;
using LAScriterionDropLastOfManyReturn = LAScriterionPulse<Pulse::DROP_LAST_OF_MANY>;
using LAScriterionDropSecondLast = LAScriterionPulse<Pulse::DROP_SECOND_LAST>;

// ------------------------------------------------------------------ return numbers

constexpr U32 RETURN_BITS = 0xFFFF;  // return numbers 0 to 15

// Drops a point whose return number has its bit in `drop_mask`. The keep kind
// stores the complement of the numbers it keeps, so both test alike.
template <bool keep>
class LAScriterionReturns : public LAScriterion {
 public:
  explicit LAScriterionReturns(U32 drop_mask) : drop_mask((U16)drop_mask) {}
  const char* name() const override { return keep ? "keep_return_mask" : "drop_return_mask"; }
  // The numbers named, as "-keep_return 1 2 " or "-drop_return 3 "; as the
  // mask when that list would name none or would merge on reading back.
  I32 get_command(std::string& text) const override {
    return las_set_text(text, keep ? "-keep_return" : "-drop_return", name(), named(), 16);
  }
  bool filter(const LASpoint* point) override { return (drop_mask >> point->get_return_number()) & 1; }
  // The return numbers the option text names: kept or dropped ones.
  U32 named() const { return keep ? (~(U32)drop_mask & RETURN_BITS) : drop_mask; }

 private:
  U16 drop_mask;
};

using LAScriterionKeepReturns = LAScriterionReturns<true>;
using LAScriterionDropReturns = LAScriterionReturns<false>;

// A list of return numbers, merged with the return criterion of the same
// kind just before it.
template <bool keep>
LASoptionResult add_returns(LASfilterParse& parse, const LASoptionCall& call) {
  U32 named = 0;
  for (size_t k = 0; k < call.values.size(); k++) {
    U32 number;
    if (!las_read_u32(call.values[k].text, &number)) {
      laserror("%s", call.invalid_message(k).c_str());
      return LASoptionResult::FAILED;
    }
    if (number > 15) {
      laserror(keep ? "cannot keep return_number %u because it is larger than 15"
                    : "cannot drop return_number %u because it is larger than 15",
               number);
      return LASoptionResult::FAILED;
    }
    named |= 1u << number;
  }
  using Criterion = LAScriterionReturns<keep>;
  std::unique_ptr<LAScriterion> before = parse.take_last_named(keep ? "keep_return_mask" : "drop_return_mask");
  if (before) named |= static_cast<const Criterion*>(before.get())->named();
  parse.add(new Criterion(keep ? ~named & RETURN_BITS : named));
  return LASoptionResult::TAKEN;
}

// A mask appends a criterion of its own; it never absorbs the one before it.
template <bool keep>
LASoptionResult add_return_mask(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 mask = call.values[0].u32;
  if (mask > RETURN_BITS) {
    laserror("'%s' needs a return_mask between 0 and %u but return_mask is %u", call.typed, RETURN_BITS, mask);
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionReturns<keep>(keep ? ~mask & RETURN_BITS : mask));
  return LASoptionResult::TAKEN;
}

// ------------------------------------------------------------------ number of returns

constexpr const char* COUNT_NAMES[2][6] = {
    {"drop_number_of_returns", "drop_single", "drop_double", "drop_triple", "drop_quadruple", "drop_quintuple"},
    {"keep_number_of_returns", "keep_single", "keep_double", "keep_triple", "keep_quadruple", "keep_quintuple"},
};

// Keeps (or drops) the points of pulses with `count` returns. Counts 1 to 5
// are written by their word, any other with its number.
template <bool keep>
class LAScriterionSpecificNumberOfReturns : public LAScriterion {
 public:
  explicit LAScriterionSpecificNumberOfReturns(U32 count) : count(count) {}
  const char* name() const override { return COUNT_NAMES[keep][(count >= 1 && count <= 5) ? count : 0]; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    if (count < 1 || count > 5) las_option_text_d(text, count);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override { return (point->get_number_of_returns() == count) != keep; }

 private:
  U32 count;
};

using LAScriterionKeepSpecificNumberOfReturns = LAScriterionSpecificNumberOfReturns<true>;
using LAScriterionDropSpecificNumberOfReturns = LAScriterionSpecificNumberOfReturns<false>;

template <bool keep, U32 count>
LASoptionResult add_count(LASfilterParse& parse, const LASoptionCall&) {
  parse.add(new LAScriterionSpecificNumberOfReturns<keep>(count));
  return LASoptionResult::TAKEN;
}

LASoptionResult keep_number_of_returns(LASfilterParse& parse, const LASoptionCall& call) {
  parse.add(new LAScriterionKeepSpecificNumberOfReturns(call.values[0].u32));
  return LASoptionResult::TAKEN;
}

const LAScriterionOption options[] = {
    {{"-keep_first", "", 0, ""}, las_add_criterion<LAScriterionKeepFirstReturn>},
    {{"-first_only", "", 0, ""}, las_add_criterion<LAScriterionKeepFirstReturn>},
    {{"-keep_first_of_many", "", 0, ""}, las_add_criterion<LAScriterionKeepFirstOfManyReturn>},
    {{"-keep_middle", "", 0, ""}, las_add_criterion<LAScriterionKeepMiddleReturn>},
    {{"-keep_last", "", 0, ""}, las_add_criterion<LAScriterionKeepLastReturn>},
    {{"-last_only", "", 0, ""}, las_add_criterion<LAScriterionKeepLastReturn>},
    {{"-keep_last_of_many", "", 0, ""}, las_add_criterion<LAScriterionKeepLastOfManyReturn>},
    {{"-keep_second_last", "", 0, ""}, las_add_criterion<LAScriterionKeepSecondLast>},
    {{"-drop_first", "", 0, ""}, las_add_criterion<LAScriterionDropFirstReturn>},
    {{"-drop_first_of_many", "", 0, ""}, las_add_criterion<LAScriterionDropFirstOfManyReturn>},
    {{"-drop_middle", "", 0, ""}, las_add_criterion<LAScriterionDropMiddleReturn>},
    {{"-drop_last", "", 0, ""}, las_add_criterion<LAScriterionDropLastReturn>},
    {{"-drop_last_of_many", "", 0, ""}, las_add_criterion<LAScriterionDropLastOfManyReturn>},
    {{"-drop_second_last", "", 0, ""}, las_add_criterion<LAScriterionDropSecondLast>},

    // The numbers of a list are read one by one in the apply, so that the
    // first bad one is the one reported, whichever way it is bad.
    {{"-keep_return", "return_number", 1, "%s", LAS_OPTION_LIST, nullptr,
      "'-keep_return' needs at least 1 argument: return_number but '{arg}' is no valid return_number"},
     add_returns<true>},
    {{"-drop_return", "return_number", 1, "%s", LAS_OPTION_LIST, nullptr,
      "'-drop_return' needs at least 1 argument: return_number but '{arg}' is no valid return_number"},
     add_returns<false>},
    {{"-keep_return_mask", "return_mask", 1, "%u"}, add_return_mask<true>},
    {{"-drop_return_mask", "return_mask", 1, "%u"}, add_return_mask<false>},

    {{"-keep_number_of_returns", "number_of_returns", 1, "%u"}, keep_number_of_returns},
    {{"-drop_number_of_returns", "number of returns", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid value"},
     las_add_bounded_criterion<LAScriterionDropSpecificNumberOfReturns, 15>},
    {{"-keep_single", "", 0, ""}, add_count<true, 1>},
    {{"-keep_double", "", 0, ""}, add_count<true, 2>},
    {{"-keep_triple", "", 0, ""}, add_count<true, 3>},
    {{"-keep_quadruple", "", 0, ""}, add_count<true, 4>},
    {{"-keep_quintuple", "", 0, ""}, add_count<true, 5>},
    {{"-drop_single", "", 0, ""}, add_count<false, 1>},
    {{"-drop_double", "", 0, ""}, add_count<false, 2>},
    {{"-drop_triple", "", 0, ""}, add_count<false, 3>},
    {{"-drop_quadruple", "", 0, ""}, add_count<false, 4>},
    {{"-drop_quintuple", "", 0, ""}, add_count<false, 5>},
};

}  // namespace

std::span<const LAScriterionOption> las_return_criterion_options() { return options; }
