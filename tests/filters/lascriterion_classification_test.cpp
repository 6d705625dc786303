// The classification, flag, scanline and scanner-channel criteria: verdicts
// on a fixed set of points, option text and its read-back, the merging of
// class lists, the one extended-class criterion, and the messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

// The points every case judges. A class above 31 is stored, as the readers
// store it, as class 0 with the extended class set.
constexpr struct {
  U8 classification, extended_class;
  U8 flags;  // synthetic 1, keypoint 2, withheld 4, overlap 8
  U8 scan_direction, edge, channel;
} POINTS[] = {
    {0, 0, 0, 0, 0, 0},    // 0
    {1, 1, 1, 0, 1, 1},    // 1
    {2, 2, 2, 1, 0, 2},    // 2
    {3, 3, 4, 1, 0, 3},    // 3
    {0, 40, 8, 0, 1, 0},   // 4
    {7, 7, 15, 1, 0, 1},   // 5
    {31, 31, 0, 0, 0, 2},  // 6
    {0, 43, 0, 1, 0, 0},   // 7
    {0, 200, 0, 1, 0, 3},  // 8
};

// 'k' for every point of POINTS kept, 'd' for every point dropped.
std::string verdicts(LASfilter& filter) {
  std::string out;
  LASpoint point;
  point.set_extended_layout(1);
  for (const auto& p : POINTS) {
    point.set_classification(p.classification);
    point.extended_classification = p.extended_class;
    point.set_synthetic_flag(p.flags & 1);
    point.set_keypoint_flag((p.flags >> 1) & 1);
    point.set_withheld_flag((p.flags >> 2) & 1);
    point.set_extended_overlap_flag((p.flags >> 3) & 1);
    point.set_scan_direction_flag(p.scan_direction);
    point.set_edge_of_flight_line(p.edge);
    point.set_extended_scanner_channel(p.channel);
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

struct ClassCase {
  const char* name;
  const char* options;
  U32 criteria;
  const char* verdicts;  // on POINTS
  const char* text;
  U32 selective;  // of all criteria together
};

void PrintTo(const ClassCase& c, std::ostream* os) { *os << c.name; }

constexpr U32 CLASS = LAS_SELECTIVE_CLASSIFICATION;
constexpr U32 FLAGS = LAS_SELECTIVE_FLAGS;

const ClassCase class_cases[] = {
    {"keep_class", "-keep_class 1 7 3", 1, "dkdkdkddd", "-keep_class 1 3 7 ", CLASS},
    {"keep_classification", "-keep_classification 2", 1, "ddkdddddd", "-keep_class 2 ", CLASS},
    {"keep_class 0 drops classes above 31", "-keep_class 0", 1, "kdddddddd", "-keep_class 0 ", CLASS},
    {"drop_class 0 passes classes above 31", "-drop_class 0", 1, "dkkkkkkkk", "-drop_class 0 ", CLASS},
    {"drop_class", "-drop_class 4 2", 1, "kkdkkkkkk", "-drop_class 2 4 ", CLASS},
    {"drop lists merge", "-drop_classification 4 -drop_class 7 31", 1, "kkkkkddkk", "-drop_class 4 7 31 ", CLASS},
    {"keep lists merge", "-keep_class 2 3 -keep_classification 5", 1, "ddkkddddd", "-keep_class 2 3 5 ", CLASS},
    {"keep list absorbs a mask", "-keep_classification_mask 6 -keep_class 3", 1, "dkkkddddd", "-keep_class 1 2 3 ",
     CLASS},
    {"mask after a list", "-keep_class 3 -keep_classification_mask 6", 2, "ddddddddd",
     "-keep_class 3 -keep_classification_mask 6 ", CLASS},
    {"other criterion between lists", "-keep_class 2 3 -drop_synthetic -keep_class 5", 3, "ddddddddd",
     "-keep_class 2 3 -drop_synthetic -keep_class 5 ", CLASS | FLAGS},
    {"keep_classification_mask 0", "-keep_classification_mask 0", 1, "ddddddddd", "-keep_classification_mask 0 ",
     CLASS},
    {"drop_classification_mask 0", "-drop_classification_mask 0", 1, "kkkkkkkkk", "-drop_classification_mask 0 ",
     CLASS},
    {"keep every legacy class", "-keep_classification_mask 4294967295", 1, "kkkkdkkdd",
     "-keep_class 0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 28 29 30 31 ", CLASS},
    {"drop_classification_mask", "-drop_classification_mask 5", 1, "dkdkkkkkk", "-drop_class 0 2 ", CLASS},
    {"combined keep lists", "-keep_class 1 -keep_classification_mask 8 -filter_and", 1, "dkdkddddd",
     "-keep_class 1 -keep_classification_mask 8 -filter_and ", CLASS},
    {"combined drop lists", "-drop_class 1 -drop_classification_mask 8 -filter_or", 1, "kdkdkkkkk",
     "-drop_class 1 -drop_classification_mask 8 -filter_or ", CLASS},

    {"keep_extended_class", "-keep_extended_class 43", 1, "dddddddkd",
     "-drop_extended_classification_mask 4294967295 4294967295 4294967295 4294967295 4294967295 4294967295 "
     "4294965247 4294967295 ",
     CLASS},
    {"keep_extended lists join", "-keep_extended_classification 2 -keep_extended_class 200", 1, "ddkdddddk",
     "-drop_extended_classification_mask 4294967295 4294967039 4294967295 4294967295 4294967295 4294967295 "
     "4294967295 4294967291 ",
     CLASS},
    {"drop_extended_class", "-drop_extended_class 40 200", 1, "kkkkdkkkd",
     "-drop_extended_classification_mask 0 256 0 0 0 0 256 0 ", CLASS},
    {"drop_extended lists join", "-drop_extended_classification 7 -drop_extended_class 43", 1, "kkkkkdkdk",
     "-drop_extended_classification_mask 0 0 0 0 0 0 2048 128 ", CLASS},
    {"extended criterion comes last", "-keep_extended_class 43 -drop_synthetic", 2, "dddddddkd",
     "-drop_synthetic -drop_extended_classification_mask 4294967295 4294967295 4294967295 4294967295 4294967295 "
     "4294967295 4294965247 4294967295 ",
     CLASS | FLAGS},
    {"legacy drop and extended drop", "-drop_class 1 -drop_extended_class 40", 2, "kdkkdkkkk",
     "-drop_class 1 -drop_extended_classification_mask 0 0 0 0 0 0 256 0 ", CLASS},

    {"drop_synthetic", "-drop_synthetic", 1, "kdkkkdkkk", "-drop_synthetic ", FLAGS},
    {"keep_synthetic", "-keep_synthetic", 1, "dkdddkddd", "-keep_synthetic ", FLAGS},
    {"drop_keypoint", "-drop_keypoint", 1, "kkdkkdkkk", "-drop_keypoint ", FLAGS},
    {"keep_keypoint", "-keep_keypoint", 1, "ddkddkddd", "-keep_keypoint ", FLAGS},
    {"drop_withheld", "-drop_withheld", 1, "kkkdkdkkk", "-drop_withheld ", FLAGS},
    {"keep_withheld", "-keep_withheld", 1, "dddkdkddd", "-keep_withheld ", FLAGS},
    {"drop_overlap", "-drop_overlap", 1, "kkkkddkkk", "-drop_overlap ", FLAGS},
    {"keep_overlap", "-keep_overlap", 1, "ddddkkddd", "-keep_overlap ", FLAGS},

    {"drop_scan_direction 0", "-drop_scan_direction 0", 1, "ddkkdkdkk", "-drop_scan_direction 0 ", FLAGS},
    {"drop_scan_direction 1", "-drop_scan_direction 1", 1, "kkddkdkdd", "-drop_scan_direction 1 ", FLAGS},
    {"keep_scan_direction_change", "-keep_scan_direction_change", 1, "ddkdkkkkd", "-keep_scan_direction_change ",
     FLAGS},
    // Only the points that reach it count as the previous point.
    {"scan direction change behind a drop", "-drop_edge_of_flight_line -keep_scan_direction_change", 2, "ddkdddkkd",
     "-drop_edge_of_flight_line -keep_scan_direction_change ", FLAGS},
    {"keep_edge_of_flight_line", "-keep_edge_of_flight_line", 1, "dkddkdddd", "-keep_edge_of_flight_line ", FLAGS},
    {"drop_edge_of_flight_line", "-drop_edge_of_flight_line", 1, "kdkkdkkkk", "-drop_edge_of_flight_line ", FLAGS},

    {"keep_scanner_channel", "-keep_scanner_channel 2", 1, "ddkdddkdd", "-keep_scanner_channel 2 ", 0},
    {"keep_scanner_channel 0", "-keep_scanner_channel 0", 1, "kdddkddkd", "-keep_scanner_channel 0 ", 0},
    {"drop_scanner_channel", "-drop_scanner_channel 3", 1, "kkkdkkkkd", "-drop_scanner_channel 3 ", 0},
};

class ClassCriteria : public HaltingOff<::testing::TestWithParam<ClassCase>> {};

TEST_P(ClassCriteria, VerdictsTextAndReadBack) {
  const ClassCase& c = GetParam();
  LASfilter filter;
  expect_options_give(filter, c.options, c.criteria, verdicts, c.verdicts, c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, ClassCriteria, ::testing::ValuesIn(class_cases),
                         [](const ::testing::TestParamInfo<ClassCase>& info) { return test_name_of(info.param.name); });

class ClassOptions : public HaltingOff<> {};

TEST_F(ClassOptions, ScanDirectionChangeStartsAfreshAfterReset) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-keep_scan_direction_change"));
  LASpoint point;
  std::string out;
  for (U8 direction : {0, 0, 1, 1, 0}) {
    point.set_scan_direction_flag(direction);
    out += filter.filter(&point) ? 'd' : 'k';
  }
  EXPECT_EQ(out, "ddkdk");
  filter.reset();
  point.set_scan_direction_flag(1);  // differs from the last point, but no point came before it now
  EXPECT_TRUE(filter.filter(&point));
  point.set_scan_direction_flag(0);
  EXPECT_FALSE(filter.filter(&point));
}

TEST_F(ClassOptions, KeepAndDropExtendedClassesConflict) {
  LASfilter filter;
  EXPECT_EQ(refusal_of(filter, {"-keep_extended_class", "2", "-keep_x", "0", "1", "-drop_extended_class", "3"}),
            "ERROR: cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously\n");
  EXPECT_EQ(filter_text(filter), "-keep_x 0.000000 1.000000 ");
}

TEST_F(ClassOptions, LegacyKeepClassRulesOutTheExtendedCriterion) {
  const std::string warning =
      "WARNING: cannot combine '-keep_class' together with '-keep_extended_class'. use\n"
      "         exclusively 'extended' filters for filtering points with classes above 31\n";
  for (const char* options : {"-keep_class 2 -keep_extended_class 43", "-keep_extended_class 43 -keep_classification 2",
                              "-keep_classification_mask 4 -drop_extended_class 43"}) {
    SCOPED_TRACE(options);
    LASfilter filter;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(filter.parse(options));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), warning);
    EXPECT_EQ(filter_text(filter), "-keep_class 2 ");
  }
  // A legacy drop list does not.
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-drop_class 2 -keep_extended_class 43"));
  EXPECT_EQ(filter.criteria_count, 2u);
}

TEST_F(ClassOptions, ListsEndBeforeAWordThatIsNoNumber) {
  // The extended option between the two drop lists adds no criterion, so
  // the second list still merges into the first.
  ArgVector args({"-drop_class", "1", "2", "-3", "-drop_extended_class", "40", "x", "-drop_classification", "5", ".5"});
  LASfilter filter;
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-3", "x", ".5"}));
  EXPECT_EQ(filter_text(filter), "-drop_class 1 2 5 -drop_extended_classification_mask 0 0 0 0 0 0 256 0 ");
}

TEST_F(ClassOptions, RefusedArgumentsAreNamed) {
  expect_refusals({
      {{"-keep_class"}, "'-keep_class' needs at least 1 argument: classification"},
      {{"-keep_classification"}, "'-keep_classification' needs at least 1 argument: classification"},
      {{"-drop_class"}, "'-drop_class' needs at least 1 argument: classification"},
      {{"-drop_classification"}, "'-drop_classification' needs at least 1 argument: classification"},
      {{"-drop_extended_class"}, "'-drop_extended_class' needs at least 1 argument: classification"},
      {{"-keep_extended_class"}, "'-keep_extended_class' needs at least a argument: classification"},
      {{"-keep_extended_classification"}, "'-keep_extended_classification' needs at least a argument: classification"},
      {{"-keep_class", "x"},
       "'-keep_class' needs at least 1 argument: classification but 'x' is no valid classification"},
      {{"-keep_class", "32"},
       "'-keep_class' needs arguments between 0 and 31 but '32' is out of range (see -keep_extended_class)"},
      {{"-keep_classification", "1", "40"},
       "'-keep_classification' needs arguments between 0 and 31 but '40' is out of range (see -keep_extended_class)"},
      {{"-keep_class", "2", "7x"},
       "'-keep_class' needs at least 1 argument: classification but '7x' is no valid classification"},
      {{"-drop_class", "x"},
       "'-drop_classification' needs at least 1 argument: classification but 'x' is no valid classification"},
      {{"-drop_class", "32"}, "cannot drop classification 32 because it is larger than 31"},
      {{"-keep_extended_class", "x"},
       "'-keep_extended_classification' needs at least 1 argument: classification but 'x' is no valid classification"},
      {{"-keep_extended_class", "256"}, "cannot keep extended classification 256 because it is larger than 255"},
      {{"-drop_extended_classification", "-2"},
       "'-drop_extended_classification' needs at least 1 argument: classification but '-2' is no valid classification"},
      {{"-drop_extended_class", "300"}, "cannot drop extended classification 300 because it is larger than 255"},
      {{"-keep_classification_mask"}, "'-keep_classification_mask' needs 1 argument: mask"},
      {{"-drop_classification_mask", "m"},
       "'-drop_classification_mask' needs at least 1 argument: mask but 'm' is no valid mask"},
      {{"-drop_scan_direction"}, "'-drop_scan_direction' needs 1 argument: scan direction"},
      {{"-drop_scan_direction", "a"},
       "'-drop_scan_direction' needs 1 argument: scan direction but 'a' is no valid value"},
      {{"-drop_scan_direction", "2"},
       "'-drop_scan_direction' needs 1 argument: scan direction but '2' is no valid value"},
      {{"-keep_scanner_channel"}, "'-keep_scanner_channel' needs 1 argument: number"},
      {{"-keep_scanner_channel", "c"}, "'-keep_scanner_channel' needs 1 argument: number but 'c' is no valid number"},
      {{"-keep_scanner_channel", "-1"},
       "'-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '-1' is not valid"},
      {{"-keep_scanner_channel", "4"},
       "'-keep_scanner_channel' needs 1 argument: number between 0 and 3 so '4' is not valid"},
      {{"-drop_scanner_channel"}, "'-drop_scanner_channel' needs 1 argument: number"},
      {{"-drop_scanner_channel", "c"}, "'-drop_scanner_channel' needs 1 argument channel but 'c' is no valid value"},
      {{"-drop_scanner_channel", "4"}, "4 is no valid value for '-drop_scanner_channel'"},
  });
}

}  // namespace
