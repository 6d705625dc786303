// The return criteria: verdicts on a fixed set of pulse positions, option
// text and its read-back, the merging of return lists, and the messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

// Return number / number of returns of the points every case judges.
constexpr struct {
  U8 rn, nr;
} PULSES[] = {
    {1, 1}, {1, 2}, {2, 2}, {1, 3}, {2, 3}, {3, 3}, {0, 2}, {0, 0}, {3, 2}, {6, 7}, {4, 4}, {5, 5},
};

// 'k' for every point of PULSES kept, 'd' for every point dropped.
std::string verdicts(LASfilter& filter) {
  std::string out;
  LASpoint point;
  for (const auto& pulse : PULSES) {
    point.set_return_number(pulse.rn);
    point.set_number_of_returns(pulse.nr);
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

struct ReturnCase {
  const char* name;
  const char* options;
  U32 criteria;
  const char* verdicts;  // on PULSES: 1/1 1/2 2/2 1/3 2/3 3/3 0/2 0/0 3/2 6/7 4/4 5/5
  const char* text;
};

void PrintTo(const ReturnCase& c, std::ostream* os) { *os << c.name; }

const ReturnCase return_cases[] = {
    {"keep_first", "-keep_first", 1, "kkdkddkkdddd", "-keep_first "},
    {"first_only", "-first_only", 1, "kkdkddkkdddd", "-keep_first "},
    {"keep_first_of_many", "-keep_first_of_many", 1, "dkdkddkkdddd", "-keep_first_of_many "},
    {"keep_middle", "-keep_middle", 1, "ddddkdkddkdd", "-keep_middle "},
    {"keep_last", "-keep_last", 1, "kdkddkdkkdkk", "-keep_last "},
    {"last_only", "-last_only", 1, "kdkddkdkkdkk", "-keep_last "},
    {"keep_last_of_many", "-keep_last_of_many", 1, "ddkddkdkkdkk", "-keep_last_of_many "},
    {"keep_second_last", "-keep_second_last", 1, "dkddkddddkdd", "-keep_second_last "},
    {"drop_first", "-drop_first", 1, "ddkdkkkkkkkk", "-drop_first "},
    {"drop_first_of_many", "-drop_first_of_many", 1, "kdkdkkkkkkkk", "-drop_first_of_many "},
    {"drop_middle", "-drop_middle", 1, "kkkkdkkkkdkk", "-drop_middle "},
    {"drop_last", "-drop_last", 1, "dkdkkdkddkdd", "-drop_last "},
    {"drop_last_of_many", "-drop_last_of_many", 1, "kkdkkdkkdkdd", "-drop_last_of_many "},
    {"drop_second_last", "-drop_second_last", 1, "kdkkdkkkkdkk", "-drop_second_last "},

    {"keep_return", "-keep_return 2 1", 1, "kkkkkddddddd", "-keep_return 1 2 "},
    {"keep_return lists merge", "-keep_return 1 -keep_return 2", 1, "kkkkkddddddd", "-keep_return 1 2 "},
    {"keep_return absorbs a mask", "-keep_return_mask 6 -keep_return 3", 1, "kkkkkkddkddd", "-keep_return 1 2 3 "},
    {"keep_return of 8 drops all", "-keep_return 8", 1, "dddddddddddd", "-keep_return 8 "},
    {"keep_return of 0", "-keep_return 0", 1, "ddddddkkdddd", "-keep_return 0 "},
    {"keep_return_mask 0 drops all", "-keep_return_mask 0", 1, "dddddddddddd", "-keep_return_mask 0 "},
    {"keep_return_mask of 8 to 15 drops all", "-keep_return_mask 65280", 1, "dddddddddddd",
     "-keep_return 8 9 10 11 12 13 14 15 "},
    {"drop_return", "-drop_return 3 0", 1, "kkkkkddddkkk", "-drop_return 0 3 "},
    {"drop_return lists merge", "-drop_return_mask 1 -drop_return 3", 1, "kkkkkddddkkk", "-drop_return 0 3 "},
    {"drop_return_mask", "-drop_return_mask 12", 1, "kkdkddkkdkkk", "-drop_return 2 3 "},
    {"drop_return_mask 0 keeps all", "-drop_return_mask 0", 1, "kkkkkkkkkkkk", "-drop_return_mask 0 "},
    {"keep and drop do not merge", "-keep_return 1 -drop_return 2", 2, "kkdkdddddddd",
     "-keep_return 1 -drop_return 2 "},
    // A mask after a list stays a criterion of its own; its text must not
    // merge into the list when read back.
    {"mask after a list", "-keep_return 1 -keep_return_mask 4", 2, "dddddddddddd",
     "-keep_return 1 -keep_return_mask 4 "},
    {"two masks", "-keep_return_mask 2 -keep_return_mask 4", 2, "dddddddddddd", "-keep_return 1 -keep_return_mask 4 "},
    {"drop mask after a list", "-drop_return 1 -drop_return_mask 4", 2, "dddddkkkkkkk",
     "-drop_return 1 -drop_return_mask 4 "},
    {"combined lists", "-keep_return 1 -keep_return_mask 4 -filter_and", 1, "kkkkkddddddd",
     "-keep_return 1 -keep_return_mask 4 -filter_and "},
    {"list after a combination", "-keep_first -keep_last -filter_and -keep_return 1", 2, "kkdkdddddddd",
     "-keep_first -keep_last -filter_and -keep_return 1 "},
    {"other criterion between lists", "-keep_return 1 2 -drop_single -keep_return 2", 3, "ddkdkddddddd",
     "-keep_return 1 2 -drop_single -keep_return 2 "},

    {"keep_number_of_returns", "-keep_number_of_returns 7", 1, "dddddddddkdd", "-keep_number_of_returns 7 "},
    {"keep_number_of_returns 9", "-keep_number_of_returns 9", 1, "dddddddddddd", "-keep_number_of_returns 9 "},
    {"keep_number_of_returns 16", "-keep_number_of_returns 16", 1, "dddddddddddd", "-keep_number_of_returns 16 "},
    {"keep_number_of_returns 0", "-keep_number_of_returns 0", 1, "dddddddkdddd", "-keep_number_of_returns 0 "},
    {"keep_number_of_returns 2", "-keep_number_of_returns 2", 1, "dkkdddkdkddd", "-keep_double "},
    {"keep_single", "-keep_single", 1, "kddddddddddd", "-keep_single "},
    {"keep_double", "-keep_double", 1, "dkkdddkdkddd", "-keep_double "},
    {"keep_triple", "-keep_triple", 1, "dddkkkdddddd", "-keep_triple "},
    {"keep_quadruple", "-keep_quadruple", 1, "ddddddddddkd", "-keep_quadruple "},
    {"keep_quintuple", "-keep_quintuple", 1, "dddddddddddk", "-keep_quintuple "},
    {"drop_number_of_returns", "-drop_number_of_returns 0", 1, "kkkkkkkdkkkk", "-drop_number_of_returns 0 "},
    {"drop_number_of_returns 15", "-drop_number_of_returns 15", 1, "kkkkkkkkkkkk", "-drop_number_of_returns 15 "},
    {"drop_number_of_returns 3", "-drop_number_of_returns 3", 1, "kkkdddkkkkkk", "-drop_triple "},
    {"drop_single", "-drop_single", 1, "dkkkkkkkkkkk", "-drop_single "},
    {"drop_double", "-drop_double", 1, "kddkkkdkdkkk", "-drop_double "},
    {"drop_triple", "-drop_triple", 1, "kkkdddkkkkkk", "-drop_triple "},
    {"drop_quadruple", "-drop_quadruple", 1, "kkkkkkkkkkdk", "-drop_quadruple "},
    {"drop_quintuple", "-drop_quintuple", 1, "kkkkkkkkkkkd", "-drop_quintuple "},
};

class ReturnCriteria : public HaltingOff<::testing::TestWithParam<ReturnCase>> {};

TEST_P(ReturnCriteria, VerdictsTextAndReadBack) {
  const ReturnCase& c = GetParam();
  LASfilter filter;
  expect_options_give(filter, c.options, c.criteria, verdicts, c.verdicts, c.text);
  for (U32 k = 0; k < filter.criteria_count; k++) EXPECT_EQ(filter.criteria[k]->get_decompress_selective(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, ReturnCriteria, ::testing::ValuesIn(return_cases),
                         [](const ::testing::TestParamInfo<ReturnCase>& info) {
                           return test_name_of(info.param.name);
                         });

class ReturnOptions : public HaltingOff<> {};

TEST_F(ReturnOptions, ListsEndBeforeAWordThatIsNoNumber) {
  ArgVector args({"-keep_return", "1", "2", "-5", "-drop_return", "3", "+4", "-keep_single", "x"});
  LASfilter filter;
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-5", "+4", "x"}));
  EXPECT_EQ(filter_text(filter), "-keep_return 1 2 -drop_return 3 -keep_single ");
}

TEST_F(ReturnOptions, RefusedArgumentsAreNamed) {
  expect_refusals({
      {{"-keep_return"}, "'-keep_return' needs at least 1 argument: return_number"},
      {{"-keep_return", "x"},
       "'-keep_return' needs at least 1 argument: return_number but 'x' is no valid return_number"},
      {{"-keep_return", "1", "16"}, "cannot keep return_number 16 because it is larger than 15"},
      // The first bad number of a list is reported, whichever way it is bad.
      {{"-keep_return", "16", "2x"}, "cannot keep return_number 16 because it is larger than 15"},
      {{"-keep_return", "2x", "16"},
       "'-keep_return' needs at least 1 argument: return_number but '2x' is no valid return_number"},
      {{"-drop_return"}, "'-drop_return' needs at least 1 argument: return_number"},
      {{"-drop_return", "-1"},
       "'-drop_return' needs at least 1 argument: return_number but '-1' is no valid return_number"},
      {{"-drop_return", "20"}, "cannot drop return_number 20 because it is larger than 15"},
      {{"-keep_return_mask"}, "'-keep_return_mask' needs 1 argument: return_mask"},
      {{"-drop_return_mask", "y"}, "'-drop_return_mask' needs 1 argument: return_mask but 'y' is no valid return_mask"},
      {{"-keep_return_mask", "65536"},
       "'-keep_return_mask' needs a return_mask between 0 and 65535 but return_mask is 65536"},
      {{"-drop_return_mask", "70000"},
       "'-drop_return_mask' needs a return_mask between 0 and 65535 but return_mask is 70000"},
      {{"-keep_number_of_returns"}, "'-keep_number_of_returns' needs 1 argument: number_of_returns"},
      {{"-keep_number_of_returns", "z"},
       "'-keep_number_of_returns' needs 1 argument: number_of_returns but 'z' is no valid number_of_returns"},
      {{"-drop_number_of_returns"}, "'-drop_number_of_returns' needs 1 argument: number of returns"},
      {{"-drop_number_of_returns", "q"},
       "'-drop_number_of_returns' needs 1 argument: number of returns but 'q' is no valid value"},
      {{"-drop_number_of_returns", "16"},
       "'-drop_number_of_returns' needs 1 argument: number of returns but '16' is no valid value"},
  });
}

// A refused list leaves the criterion it would have absorbed in place.
TEST_F(ReturnOptions, ARefusedListAbsorbsNothing) {
  LASfilter filter;
  refusal_of(filter, {"-keep_return", "1", "-keep_return", "99"});
  EXPECT_EQ(filter_text(filter), "-keep_return 1 ");
}

}  // namespace
