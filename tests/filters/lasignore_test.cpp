#include "filters/lasignore.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "support/arg_vector.hpp"
#include "support/halting_off.hpp"

namespace {

// Parses every "-ignore_" word of the arguments the way the read opener hands
// them over; false at the first failure.
bool parse_all(LASignore& rules, ArgVector& args) {
  for (int i = 1; i < args.argc(); i++) {
    if (args.at(i).rfind("-ignore_", 0) != 0) continue;
    if (!rules.parse(i, args.argc(), args.argv())) return false;
  }
  return true;
}

std::string text_of(const LASignore& rules) {
  std::string text;
  I32 n = rules.unparse(text);
  EXPECT_EQ((size_t)n, text.size());
  return text;
}

class LasIgnoreTest : public HaltingOff<> {};

TEST_F(LasIgnoreTest, OptionsSetBitsAndWriteBackTheirText) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    U32 mask;
    std::vector<U32> words;  // words 0 and 1
    const char* text;
    std::vector<std::string> left;
  } cases[] = {
      {"classes", {"-ignore_class", "0", "1", "7", "33"}, 0x3, {0x83, 0x2}, "-ignore_class 0 1 7 33 ", {}},
      {"extended class", {"-ignore_extended_class", "39"}, 0x2, {0, 0x80}, "-ignore_class 39 ", {}},
      {"list ends at option", {"-ignore_class", "2", "-ignore_single"}, 0x801, {0x4, 0}, "-ignore_class 2 -ignore_single ", {}},
      {"list ends at negative", {"-ignore_class", "2", "-3"}, 0x1, {0x4, 0}, "-ignore_class 2 ", {"-3"}},
      {"mask keeps high words", {"-ignore_class", "40", "-ignore_class_mask", "6"}, 0x3, {6, 0x100},
       "-ignore_class 1 2 40 ", {}},
      {"first", {"-ignore_first"}, 0x900, {0, 0}, "-ignore_first ", {}},
      {"first and last", {"-ignore_first", "-ignore_last"}, 0xB00, {0, 0}, "-ignore_first -ignore_last ", {}},
      {"single", {"-ignore_single"}, 0x800, {0, 0}, "-ignore_single ", {}},
      {"of many", {"-ignore_last_of_many", "-ignore_first_of_many", "-ignore_intermediate"}, 0x700, {0, 0},
       "-ignore_first_of_many -ignore_last_of_many -ignore_intermediate ", {}},
      {"flags", {"-ignore_overlap", "-ignore_withheld", "-ignore_keypoint", "-ignore_synthetic"}, 0xF000, {0, 0},
       "-ignore_synthetic -ignore_keypoint -ignore_withheld -ignore_overlap ", {}},
      {"other words stay", {"-i", "a.las", "-ignore_synthetic", "-v"}, 0x1000, {0, 0}, "-ignore_synthetic ",
       {"-i", "a.las", "-v"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    LASignore rules;
    ASSERT_TRUE(parse_all(rules, args));
    EXPECT_EQ(rules.ignore_mask, c.mask);
    EXPECT_EQ(rules.ignore_classification_mask[0], c.words[0]);
    EXPECT_EQ(rules.ignore_classification_mask[1], c.words[1]);
    EXPECT_EQ(args.remaining(), c.left);
    const std::string text = text_of(rules);
    EXPECT_EQ(text, c.text);

    // The text parses back into the same rules.
    ArgVector again = ArgVector::from_text(text);
    LASignore back;
    ASSERT_TRUE(parse_all(back, again));
    EXPECT_EQ(back.ignore_mask, rules.ignore_mask);
    for (int w = 0; w < 8; w++) EXPECT_EQ(back.ignore_classification_mask[w], rules.ignore_classification_mask[w]);
  }
}

TEST_F(LasIgnoreTest, BadOptionsAreErrors) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"-ignore_class"}, "ERROR: '-ignore_class' needs 1 at least argument: classification\n"},
      {{"-ignore_class", "x"}, "ERROR: '-ignore_class' needs arguments between 0 and 255 but 'x' is no valid code\n"},
      {{"-ignore_class", "256"}, "ERROR: '-ignore_class' needs arguments between 0 and 255 but '256' is out of range\n"},
      // Numbers are read whole: no wrapped minus, no class read off the front
      // of a word, no value beyond 32 bits wrapped to a small one.
      {{"-ignore_class", "-1"}, "ERROR: '-ignore_class' needs arguments between 0 and 255 but '-1' is no valid code\n"},
      {{"-ignore_class", "7,8"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '7,8' is no valid code\n"},
      {{"-ignore_class", "2", "3x"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '3x' is no valid code\n"},
      {{"-ignore_class", "4294967296"},
       "ERROR: '-ignore_class' needs arguments between 0 and 255 but '4294967296' is no valid code\n"},
      {{"-ignore_class_mask"}, "ERROR: '-ignore_class_mask' needs 1 argument: mask\n"},
      {{"-ignore_class_mask", "y"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 'y' is no valid mask\n"},
      {{"-ignore_class_mask", "0"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 0 makes no sense\n"},
      {{"-ignore_class_mask", "4294967295"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but 4294967295 makes no sense\n"},
      {{"-ignore_class_mask", "4294967297"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but '4294967297' is no valid "
       "mask\n"},
      {{"-ignore_class_mask", "6x"},
       "ERROR: '-ignore_class_mask' needs argument between 0x00000000 and 0xFFFFFFFF but '6x' is no valid mask\n"},
      {{"-ignore_classes", "2"}, "ERROR: cannot understand argument '-ignore_classes'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ArgVector args(c.args);
    LASignore rules;
    int i = 1;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(rules.parse(i, args.argc(), args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
  }
}

TEST_F(LasIgnoreTest, FailedClassListKeepsWhatWasRead) {
  ArgVector args({"-ignore_class", "3", "300"});
  LASignore rules;
  int i = 1;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(rules.parse(i, args.argc(), args.argv()));
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(rules.ignore_mask, 0x1u);
  EXPECT_EQ(rules.ignore_classification_mask[0], 0x8u);
  EXPECT_EQ(args.remaining(), std::vector<std::string>({"300"}));
}

TEST_F(LasIgnoreTest, ErrorEndsTheRunWhileHalting) {
  halt_on_error(true);
  ArgVector args({"-ignore_class", "999"});
  LASignore rules;
  int i = 1;
  EXPECT_EXIT(rules.parse(i, args.argc(), args.argv()), ::testing::ExitedWithCode(3), "out of range");
}

TEST_F(LasIgnoreTest, NumberFormRoundTripAndErrors) {
  LASignore rules;
  rules.ignore_mask = 0x9 | 0x2000;  // words 0 and 3, keypoint
  rules.ignore_classification_mask[0] = 0x80000001;
  rules.ignore_classification_mask[3] = 0xFFFFFFFF;
  F64 values[16] = {};
  U32 index = 2;
  rules.unparse(index, values);
  EXPECT_EQ(index, 5u);
  EXPECT_EQ(values[2], (F64)0x2009);
  EXPECT_EQ(values[3], (F64)0x80000001u);
  EXPECT_EQ(values[4], 4294967295.0);

  LASignore back;
  EXPECT_TRUE(back.parse(2, 5, values));
  EXPECT_EQ(back.ignore_mask, rules.ignore_mask);
  for (int w = 0; w < 8; w++) EXPECT_EQ(back.ignore_classification_mask[w], rules.ignore_classification_mask[w]);

  LASignore empty;
  U32 none = 0;
  empty.unparse(none, values);
  EXPECT_EQ(none, 0u);

  // Start at count: nothing given, nothing changed.
  EXPECT_TRUE(back.parse(5, 5, values));
  EXPECT_EQ(back.ignore_mask, 0x2009u);
  EXPECT_FALSE(back.parse(6, 5, values));

  // A mask naming three words with only two values behind it.
  F64 short_values[3] = {7.0, 1.0, 2.0};
  LASignore partial;
  EXPECT_FALSE(partial.parse(0, 3, short_values));
  EXPECT_EQ(partial.ignore_classification_mask[0], 1u);
  EXPECT_EQ(partial.ignore_classification_mask[1], 2u);

  // Values a 32-bit word cannot hold.
  F64 bad_mask[1] = {4294967296.0};
  EXPECT_FALSE(LASignore().parse(0, 1, bad_mask));
  F64 negative_mask[1] = {-1.0};
  EXPECT_FALSE(LASignore().parse(0, 1, negative_mask));
  F64 bad_word[2] = {1.0, -5.0};
  EXPECT_FALSE(LASignore().parse(0, 2, bad_word));
}

// Rules read from numbers can mark a class word that holds no class; their
// text must still read back, to rules that ignore the same points.
TEST_F(LasIgnoreTest, TextOfAnEmptyClassWordReadsBack) {
  F64 values[3] = {(F64)(0x2 | 0x1 | 0x800), 0.0, 0.0};  // words 0 and 1 in use, both empty; single
  LASignore rules;
  ASSERT_TRUE(rules.parse(0, 3, values));
  EXPECT_EQ(text_of(rules), "-ignore_single ");

  F64 only_empty[2] = {1.0, 0.0};
  LASignore none;
  ASSERT_TRUE(none.parse(0, 2, only_empty));
  std::string text = "before ";
  EXPECT_EQ(none.unparse(text), 0);
  EXPECT_EQ(text, "before ");
}

TEST_F(LasIgnoreTest, VerdictPerPoint) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    U8 extended_layout;
    U8 classification;  // the 5-bit class, or the extended class with the extended layout
    U8 return_number;
    U8 number_of_returns;
    U8 flags;  // synthetic 1, keypoint 2, withheld 4, overlap 8
    bool ignored;
  } cases[] = {
      {"no rules", {}, 0, 2, 1, 1, 0, false},
      {"class hit", {"-ignore_class", "2"}, 0, 2, 1, 1, 0, true},
      {"class miss", {"-ignore_class", "3"}, 0, 2, 1, 1, 0, false},
      {"extended class 39", {"-ignore_class", "39"}, 1, 39, 1, 1, 0, true},
      {"legacy class 7 is not extended 39", {"-ignore_class", "39"}, 0, 7, 1, 1, 0, false},
      {"single with 0 returns", {"-ignore_single"}, 0, 0, 0, 0, 0, true},
      {"single misses 1 of 2", {"-ignore_single"}, 0, 0, 1, 2, 0, false},
      {"first of many return 0", {"-ignore_first_of_many"}, 0, 0, 0, 3, 0, true},
      {"first of many misses single", {"-ignore_first_of_many"}, 0, 0, 1, 1, 0, false},
      {"first hits single", {"-ignore_first"}, 0, 0, 1, 1, 0, true},
      {"last of many", {"-ignore_last_of_many"}, 0, 0, 3, 3, 0, true},
      {"last of many misses 2 of 3", {"-ignore_last_of_many"}, 0, 0, 2, 3, 0, false},
      {"intermediate", {"-ignore_intermediate"}, 0, 0, 2, 3, 0, true},
      {"intermediate misses first", {"-ignore_intermediate"}, 0, 0, 1, 3, 0, false},
      {"synthetic", {"-ignore_synthetic"}, 0, 0, 1, 1, 1, true},
      {"keypoint", {"-ignore_keypoint"}, 0, 0, 1, 1, 2, true},
      {"withheld", {"-ignore_withheld"}, 0, 0, 1, 1, 4, true},
      {"withheld misses keypoint", {"-ignore_withheld"}, 0, 0, 1, 1, 2, false},
      {"overlap", {"-ignore_overlap"}, 1, 0, 1, 1, 8, true},
      {"overlap misses synthetic", {"-ignore_overlap"}, 1, 0, 1, 1, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    LASignore rules;
    ASSERT_TRUE(parse_all(rules, args));
    LASpoint point;
    point.set_extended_layout(c.extended_layout);
    if (c.extended_layout) {
      point.extended_classification = c.classification;
      point.set_classification(c.classification < 32 ? c.classification : 0);
    } else {
      point.set_classification(c.classification);
    }
    point.set_return_number(c.return_number);
    point.set_number_of_returns(c.number_of_returns);
    point.set_synthetic_flag(c.flags & 1);
    point.set_keypoint_flag((c.flags >> 1) & 1);
    point.set_withheld_flag((c.flags >> 2) & 1);
    point.set_extended_overlap_flag((c.flags >> 3) & 1);
    EXPECT_EQ(rules.ignore(&point), c.ignored);
  }
}

TEST_F(LasIgnoreTest, UsageIsOneInfoMessage) {
  ::testing::internal::CaptureStderr();
  LASignore().usage();
  const std::string text = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(text.rfind("Ignore points based on classifications.\n  -ignore_class 7\n", 0), 0u);
  EXPECT_NE(text.find("  -ignore_withheld -ignore_overlap\n"), std::string::npos);
}

}  // namespace
