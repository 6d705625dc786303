#include "core/lasoption.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/arg_vector.hpp"

namespace {

TEST(LasOptionNumbers, AWholeArgumentIsOneNumber) {
  struct Case {
    const char* text;
    bool f64, f32, i32, u32;
  } cases[] = {
      {"12", true, true, true, true},
      {" 12", true, true, true, true},
      {"+3", true, true, true, true},
      {"-7", true, true, true, false},  // a sign would wrap an unsigned
      {"12abc", false, false, false, false},
      {"12 ", false, false, false, false},
      {"12.7", true, true, false, false},
      {"", false, false, false, false},
      {"abc", false, false, false, false},
      {"nan", false, false, false, false},
      {"-inf", false, false, false, false},
      {"1e400", false, false, false, false},
      {"1e39", true, false, false, false},  // beyond a float
      {"2147483647", true, true, true, true},
      {"2147483648", true, true, false, true},
      {"-2147483648", true, true, true, false},
      {"4294967295", true, true, false, true},
      {"4294967296", true, true, false, false},
      {"99999999999999999999", true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    F64 d;
    F32 f;
    I32 i;
    U32 u;
    EXPECT_EQ(las_read_f64(c.text, &d), c.f64);
    EXPECT_EQ(las_read_f32(c.text, &f), c.f32);
    EXPECT_EQ(las_read_i32(c.text, &i), c.i32);
    EXPECT_EQ(las_read_u32(c.text, &u), c.u32);
  }
  I32 i = 0;
  ASSERT_TRUE(las_read_i32("-2147483648", &i));
  EXPECT_EQ(i, I32_MIN);
  U32 u = 0;
  ASSERT_TRUE(las_read_u32("4294967295", &u));
  EXPECT_EQ(u, U32_MAX);
}

// The owner of the test table: what the rows stored (copies: the arguments
// are blanked once taken).
struct Store {
  std::vector<LASoptionValue> values;
  std::vector<std::string> texts;
  std::string typed;
};

LASoptionResult keep(Store& store, const LASoptionCall& call) {
  store.values = call.values;
  for (const LASoptionValue& v : call.values) store.texts.push_back(v.text);
  store.typed = call.typed;
  return LASoptionResult::TAKEN;
}
LASoptionResult leave(Store&, const LASoptionCall&) { return LASoptionResult::LEFT; }
LASoptionResult refuse(Store&, const LASoptionCall& call) {
  laserror("'%s' refused", call.typed);
  return LASoptionResult::FAILED;
}

const LASoptionRow<Store> rows[] = {
    {{"-box", "min_x min_y max_x max_y", 4, "%lf"}, keep},
    {{"-one", "value", 1, "%f"}, keep},
    {{"-mixed", "index value", 2, "%d %lf"}, keep},
    {{"-list", "classification", 1, "%u", LAS_OPTION_LIST}, keep},
    {{"-seeded", "fraction", 1, "%f %d", 1, nullptr, "'{option}' needs at least 1 argument: fraction [seed] but '{arg}' is no valid {name}",
      "'{option}' takes seed as second argument but '{arg}' is no valid seed"},
     keep},
    {{"-words", "reoffset_x, reoffset_y, reoffset_z", 3, "%lf", 0, nullptr, "{needs}, but '{arg}' is not a valid {name}"},
     keep},
    {{"-masks", "mask1 mask0", 2, "%u", 0, nullptr, "{needs}\n\tbut '{arg}' is a bad argument for {name}"}, keep},
    {{"-named", "x", 1, "%s", 0, "'-named' needs one word"}, keep},
    {{"-none", "", 0, ""}, keep},
    {{"-refused", "", 0, ""}, refuse},
    {{"-left", "", 0, ""}, leave},
    {{"-pre_", "min max", 2, "%lf", 0, nullptr, nullptr, nullptr, true}, keep},
    // An optional start that must not be 0, as a numbering option takes it.
    {{"-start", "start", 0, "%d", 1, nullptr, nullptr, nullptr, false,
      [](const char* next) { return next[0] >= '1' && next[0] <= '9'; }},
     keep},
};

class LasOptionTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }

  // Runs the rows over every argument as a parser would; stops at a failure.
  LASoptionResult run(ArgVector& args, Store& store, std::string* err) {
    ::testing::internal::CaptureStderr();
    LASoptionResult last = LASoptionResult::LEFT;
    for (int i = 1; i < args.argc(); i++) {
      const LASoptionRow<Store>* row = las_find_option<Store>(rows, args.argv()[i]);
      if (row == nullptr) continue;
      last = las_run_option(*row, store, i, args.argc(), args.argv());
      if (last == LASoptionResult::FAILED) break;
    }
    *err = ::testing::internal::GetCapturedStderr();
    return last;
  }
};

TEST_F(LasOptionTest, ValuesAreReadAndTakenWithTheOption) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::vector<F64> numbers;
    std::vector<std::string> left;
  } cases[] = {
      {"fixed", {"-box", "0", "1.5", "10", "20", "-v"}, {0, 1.5, 10, 20}, {"-v"}},
      {"float", {"-one", "0.1"}, {(F64)0.1f}, {}},
      {"mixed", {"-mixed", "3", "2.5", "7"}, {3, 2.5}, {"7"}},
      {"list", {"-list", "1", "2", "33", "-4", "5"}, {1, 2, 33}, {"-4", "5"}},
      {"list ends at a non-digit", {"-list", "1", ".5"}, {1}, {".5"}},
      {"list ends at an emptied argument", {"-list", "1", "", "3"}, {1}, {"3"}},
      {"optional value", {"-seeded", "0.5", "4711", "9"}, {0.5, 4711}, {"9"}},
      {"optional value absent", {"-seeded", "0.5", "-v"}, {0.5}, {"-v"}},
      {"no values", {"-none", "1"}, {}, {"1"}},
      {"prefix", {"-pre_red", "1", "2"}, {1, 2}, {}},
      {"own rule for further values", {"-start", "3"}, {3}, {}},
      {"own rule refuses", {"-start", "0"}, {}, {"0"}},
      {"left option stays", {"-left", "1"}, {}, {"-left", "1"}},
      {"unknown word stays", {"-box_", "1"}, {}, {"-box_", "1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    Store store;
    std::string err;
    EXPECT_NE(run(args, store, &err), LASoptionResult::FAILED);
    EXPECT_EQ(err, "");
    std::vector<F64> numbers;
    for (const LASoptionValue& v : store.values) numbers.push_back(v.f64);
    EXPECT_EQ(numbers, c.numbers);
    EXPECT_EQ(args.remaining(), c.left);
  }
}

TEST_F(LasOptionTest, TheTypedWordAndTheValueFields) {
  ArgVector args({"-pre_green", "-1", "2", "-mixed", "-3", "0.25"});
  Store store;
  std::string err;
  ASSERT_EQ(run(args, store, &err), LASoptionResult::TAKEN);
  EXPECT_EQ(store.typed, "-mixed");
  ASSERT_EQ(store.values.size(), 2u);
  EXPECT_EQ(store.values[0].i32, -3);
  EXPECT_EQ(store.texts.back(), "0.25");
  EXPECT_EQ(store.values[1].f64, 0.25);
  EXPECT_EQ(args.remaining(), std::vector<std::string>{});
}

TEST_F(LasOptionTest, MissingAndUnreadableValuesReportTheRowsMessage) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"too few", {"-box", "0", "0", "10"}, "'-box' needs 4 arguments: min_x min_y max_x max_y"},
      {"one too few", {"-one"}, "'-one' needs 1 argument: value"},
      {"not a number", {"-box", "0", "0", "a", "10"},
       "'-box' needs 4 arguments: min_x min_y max_x max_y but 'a' is no valid max_x"},
      {"trailing text", {"-one", "5m"}, "'-one' needs 1 argument: value but '5m' is no valid value"},
      {"a word that looks like an option is a value", {"-box", "0", "0", "10", "-v"},
       "'-box' needs 4 arguments: min_x min_y max_x max_y but '-v' is no valid max_y"},
      {"second conversion", {"-mixed", "1", "x"}, "'-mixed' needs 2 arguments: index value but 'x' is no valid value"},
      {"list needs one", {"-list"}, "'-list' needs at least 1 argument: classification"},
      {"list value", {"-list", "2", "3x"},
       "'-list' needs at least 1 argument: classification but '3x' is no valid classification"},
      {"first and further values", {"-seeded", "half"},
       "'-seeded' needs at least 1 argument: fraction [seed] but 'half' is no valid fraction"},
      {"further value", {"-seeded", "0.5", "4e"}, "'-seeded' takes seed as second argument but '4e' is no valid seed"},
      {"other wording", {"-words", "1", "b", "3"},
       "'-words' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but 'b' is not a valid reoffset_y"},
      {"line break", {"-masks", "1", "-2"},
       "'-masks' needs 2 arguments: mask1 mask0\n       but '-2' is a bad argument for mask0"},
      {"own needs text", {"-named"}, "'-named' needs one word"},
      {"apply reports", {"-refused"}, "'-refused' refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ArgVector args(c.args);
    Store store;
    std::string err;
    EXPECT_EQ(run(args, store, &err), LASoptionResult::FAILED);
    EXPECT_EQ(err, "ERROR: " + c.err + "\n");
    EXPECT_EQ(args.remaining(), c.args) << "nothing is taken from a failed option";
  }
}

TEST_F(LasOptionTest, TheToolsParserKeepsItsArguments) {
  ArgVector args({"-one", "2"});
  Store store;
  int i = 1;
  ASSERT_EQ(las_run_option(rows[1], store, i, args.argc(), args.argv(), false), LASoptionResult::TAKEN);
  EXPECT_EQ(i, 2);
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-one", "2"}));
}

// A parser with several families looks an exact name up in every table
// before it tries the prefixes, whichever table they stand in.
TEST(LasOptionFind, ExactNamesOfEveryTableComeBeforePrefixes) {
  const LASoptionRow<Store> first[] = {
      {{"-set_class", "class", 1, "%u", 0, nullptr, nullptr, nullptr, true}, keep},
      {{"-box", "min max", 2, "%lf"}, keep},
  };
  const LASoptionRow<Store> second[] = {
      {{"-set_classification_all", "class", 1, "%u"}, keep},
      {{"-box", "other", 1, "%lf"}, keep},
  };
  const std::span<const LASoptionRow<Store>> tables[] = {first, second};
  const struct {
    const char* word;
    const LASoptionRow<Store>* row;
  } cases[] = {
      {"-set_classification_all", &second[0]},
      {"-set_classification", &first[0]},
      {"-set_class", &first[0]},
      {"-box", &first[1]},
      {"-set_clas", nullptr},
      {"-boxes", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    EXPECT_EQ(las_find_option_among<Store>(tables, c.word), c.row);
  }
  EXPECT_EQ(las_find_option<Store>(second, "-set_classification"), nullptr);
  EXPECT_EQ(las_find_option<Store>(first, "-set_classification_all"), &first[0]);
}

TEST(LasOptionWords, SplitAtBlanksOnly) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"-keep_z 1 2 ", {"-keep_z", "1", "2"}},
      {"  a   b\tc  ", {"a", "b\tc"}},
      {"\"x y\"", {"\"x", "y\""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LASoptionWords words(c.text);
    ASSERT_EQ(words.argc(), (int)c.words.size() + 1);
    EXPECT_STREQ(words.argv()[0], "");
    for (size_t k = 0; k < c.words.size(); k++) EXPECT_EQ(words.argv()[k + 1], c.words[k]);
    EXPECT_EQ(words.argv()[words.argc()], nullptr);
  }
  // No limit on the number of words.
  std::string many;
  for (int k = 0; k < 1000; k++) many += "-w" + std::to_string(k) + " ";
  LASoptionWords words(many.c_str());
  ASSERT_EQ(words.argc(), 1001);
  EXPECT_STREQ(words.argv()[1000], "-w999");
}

TEST(LasOptionText, NumbersKeepTheirFormatWhenItReadsBack) {
  struct Case {
    const char* name;
    void (*write)(std::string&);
    const char* text;
  } cases[] = {
      {"lf", [](std::string& t) { las_option_text_lf(t, 5.0); }, "5.000000 "},
      {"lf negative", [](std::string& t) { las_option_text_lf(t, -630250.25); }, "-630250.250000 "},
      {"lf reads back", [](std::string& t) { las_option_text_lf(t, 0.1); }, "0.100000 "},
      {"lf needs digits", [](std::string& t) { las_option_text_lf(t, 630250.1234567); }, "630250.12345670001 "},
      {"lf small", [](std::string& t) { las_option_text_lf(t, 1e-9); }, "1.0000000000000001e-09 "},
      {"f", [](std::string& t) { las_option_text_f(t, 0.5f); }, "0.500000 "},
      {"f reads back", [](std::string& t) { las_option_text_f(t, 0.1f); }, "0.100000 "},
      {"f needs digits", [](std::string& t) { las_option_text_f(t, 1e-7f); }, "1.00000001e-07 "},
      {"g float", [](std::string& t) { las_option_text_g(t, 4834000.0f); }, "4.834e+06 "},
      {"g float needs digits", [](std::string& t) { las_option_text_g(t, 631000.5f); }, "631000.5 "},
      {"g double", [](std::string& t) { las_option_text_g(t, 0.25); }, "0.25 "},
      {"g double needs digits", [](std::string& t) { las_option_text_g(t, 1234567.0); }, "1234567 "},
      {"3f", [](std::string& t) { las_option_text_3f(t, -15.0f); }, "-15.000 "},
      {"3f needs digits", [](std::string& t) { las_option_text_3f(t, 0.0001f); }, "9.99999975e-05 "},
      {"d", [](std::string& t) { las_option_text_d(t, -2147483648LL); }, "-2147483648 "},
      {"word", [](std::string& t) { las_option_text(t, "-keep_xy"); }, "-keep_xy "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text = "x ";
    c.write(text);
    EXPECT_EQ(text, std::string("x ") + c.text);
  }
  // Whatever the value, its text reads back to it.
  const F64 doubles[] = {1.0 / 3.0, 1e300, -1e-300, 4834000.123456789, 0.0};
  for (F64 v : doubles) {
    std::string t;
    las_option_text_lf(t, v);
    F64 back;
    ASSERT_TRUE(las_read_f64(t.substr(0, t.size() - 1).c_str(), &back)) << t;
    EXPECT_EQ(back, v) << t;
  }
  const F32 floats[] = {1.0f / 3.0f, 3e38f, 1e-30f, 631000.25f};
  for (F32 v : floats) {
    for (auto write : {las_option_text_f, las_option_text_3f,
                       static_cast<void (*)(std::string&, F32)>(las_option_text_g)}) {
      std::string t;
      write(t, v);
      F32 back;
      ASSERT_TRUE(las_read_f32(t.substr(0, t.size() - 1).c_str(), &back)) << t;
      EXPECT_EQ(back, v) << t;
    }
  }
}

}  // namespace
