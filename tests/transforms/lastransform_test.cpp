#include "transforms/lastransform.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/transform_points.hpp"
#include "support/test_name.hpp"
#include "transforms/lasoperation.hpp"

namespace {

class LasTransformTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

struct OperationCase {
  const char* name;
  const char* options;
  Raw before, after;
  const char* text;
  U32 mask;
};

void PrintTo(const OperationCase& c, std::ostream* os) { *os << c.name; }

// Every operation: what it does to a point (expected raw values worked out by
// hand from x = X / 100 + 1000, y = Y / 100 + 2000, z = Z / 100), its option
// text and the fields it asks to be decoded; then the round trip of that text
// through both parse forms to a transform that writes the same text and does
// the same to the point.
const OperationCase operation_cases[] = {
    {"translate_x", "-translate_x -2.5", {1000, 7, 9}, {750, 7, 9}, "-translate_x -2.500000 ", 0},
    {"translate_y", "-translate_y 0.25", {7, -30, 9}, {7, -5, 9}, "-translate_y 0.250000 ", 0},
    {"translate_z", "-translate_z 100", {7, 8, 5}, {7, 8, 10005}, "-translate_z 100.000000 ", LAS_SELECTIVE_Z},
    {"translate_xyz", "-translate_xyz 1 2 3", {0, 0, 0}, {100, 200, 300},
     "-translate_xyz 1.000000 2.000000 3.000000 ", LAS_SELECTIVE_Z},
    {"scale_x about the origin", "-scale_x 2", {100, 7, 9}, {100200, 7, 9}, "-scale_x 2.000000 ", 0},
    {"scale_y", "-scale_y 0.5", {7, -100000, 9}, {7, -150000, 9}, "-scale_y 0.500000 ", 0},
    {"scale_z feet", "-scale_z 0.3048", {7, 8, 10000}, {7, 8, 3048}, "-scale_z 0.304800 ", LAS_SELECTIVE_Z},
    {"scale_x by 0", "-scale_x 0", {12345, 7, 9}, {-100000, 7, 9}, "-scale_x 0.000000 ", 0},
    {"scale_xyz", "-scale_xyz 2 3 -1", {0, 0, 100}, {100000, 400000, -100},
     "-scale_xyz 2.000000 3.000000 -1.000000 ", LAS_SELECTIVE_Z},
    {"translate_then_scale_x", "-translate_then_scale_x -10 0.5", {1000, 7, 9}, {-50000, 7, 9},
     "-translate_then_scale_x -10.000000 0.500000 ", 0},
    {"translate_then_scale_y", "-translate_then_scale_y 20 2", {7, 100, 9}, {7, 204200, 9},
     "-translate_then_scale_y 20.000000 2.000000 ", 0},
    {"translate_then_scale_z", "-translate_then_scale_z 1 2", {7, 8, 100}, {7, 8, 400},
     "-translate_then_scale_z 1.000000 2.000000 ", LAS_SELECTIVE_Z},
    {"translate_scale_translate_x", "-translate_scale_translate_x 1010 2", {1100, 7, 9}, {1200, 7, 9},
     "-translate_scale_translate_x 1010.000000 2.000000 ", 0},
    {"translate_scale_translate_y", "-translate_scale_translate_y 2010 3", {7, 1100, 9}, {7, 1300, 9},
     "-translate_scale_translate_y 2010.000000 3.000000 ", 0},
    {"translate_scale_translate_z", "-translate_scale_translate_z 10 2", {7, 8, 1100}, {7, 8, 1200},
     "-translate_scale_translate_z 10.000000 2.000000 ", LAS_SELECTIVE_Z},
    {"two translations in order", "-translate_x 1.5 -translate_x 2.25", {0, 7, 9}, {375, 7, 9},
     "-translate_x 1.500000 -translate_x 2.250000 ", 0},
    {"order matters", "-translate_x -999 -scale_x 2", {0, 7, 9}, {-99800, 7, 9},
     "-translate_x -999.000000 -scale_x 2.000000 ", 0},
    // Six decimals would lose these digits: the text keeps every one.
    {"tiny offset", "-translate_x 0.0000004", {0, 7, 9}, {0, 7, 9}, "-translate_x 3.9999999999999998e-07 ", 0},
    {"many digits", "-translate_then_scale_y 0.1234567 1.0000001", {7, 0, 9}, {7, 12, 9},
     "-translate_then_scale_y 0.1234567 1.0000001000000001 ", 0},
    // Turns by 90 degrees about the origin's world point (1000, 2000, 0).
    {"rotate_xy", "-rotate_xy 90 1000 2000", {100, 0, 9}, {0, 100, 9},
     "-rotate_xy 90.000000 1000.000000 2000.000000 ", 0},
    {"rotate_xz", "-rotate_xz 90 1000 0", {100, 7, 0}, {0, 7, 100}, "-rotate_xz 90.000000 1000.000000 0.000000 ",
     LAS_SELECTIVE_Z},
    {"rotate_yz backwards", "-rotate_yz -90 2000 0", {7, 100, 0}, {7, 0, -100},
     "-rotate_yz -90.000000 2000.000000 0.000000 ", LAS_SELECTIVE_Z},
    {"helmert of three values translates", "-transform_helmert 1,2,3", {0, 0, 0}, {100, 200, 300},
     "-translate_xyz 1.000000 2.000000 3.000000 ", LAS_SELECTIVE_Z},
    // m = 1e6 ppm doubles (1000, 2000, 1).
    {"helmert scale", "-transform_helmert 0,0,0,0,0,0,1000000", {0, 0, 100}, {100000, 200000, 200},
     "-transform_helmert 0.000000,0.000000,0.000000,0.000000,0.000000,0.000000,1000000.000000 ", LAS_SELECTIVE_Z},
    // rz = 1000 arc seconds = 0.00484813681 radians: x' = 1000 - 2000 rz = 990.3037,
    // y' = 1000 rz + 2000 = 2004.8481.
    {"helmert rotation", "-transform_helmert 0,0,0,0,0,1000,0", {0, 0, 0}, {-970, 485, 0},
     "-transform_helmert 0.000000,0.000000,0.000000,0.000000,0.000000,1000.000000,0.000000 ", LAS_SELECTIVE_Z},
    {"affine scale and shift", "-transform_affine 2,0,10,20", {0, 0, 5}, {101000, 202000, 5},
     "-transform_affine 2.000000,0.000000,10.000000,20.000000 ", 0},
    // 648000 arc seconds are half a turn.
    {"affine half turn", "-transform_affine 1,648000,0,0", {0, 0, 5}, {-200000, -400000, 5},
     "-transform_affine 1.000000,648000.000000,0.000000,0.000000 ", 0},
    {"matrix translation", "-transform_matrix 1,0,0 0,1,0 0,0,1 10,20,30", {0, 0, 0}, {1000, 2000, 3000},
     "-transform_matrix 1.000000,0.000000,0.000000 0.000000,1.000000,0.000000 0.000000,0.000000,1.000000 "
     "10.000000,20.000000,30.000000 ",
     LAS_SELECTIVE_Z},
    // x' = y = 2003, y' = x = 1001.
    {"matrix exchanging x and y", "-transform_matrix 0,1,0 1,0,0 0,0,1 0,0,0", {100, 300, 9}, {100300, -99900, 9},
     "-transform_matrix 0.000000,1.000000,0.000000 1.000000,0.000000,0.000000 0.000000,0.000000,1.000000 "
     "0.000000,0.000000,0.000000 ",
     LAS_SELECTIVE_Z},
    {"clamp_z lower bound", "-clamp_z 0.5 1", {7, 8, 10}, {7, 8, 50}, "-clamp_z 0.500000 1.000000 ", LAS_SELECTIVE_Z},
    {"clamp_z upper bound", "-clamp_z 0.5 1", {7, 8, 200}, {7, 8, 100}, "-clamp_z 0.500000 1.000000 ", LAS_SELECTIVE_Z},
    {"clamp_z inside", "-clamp_z 0.5 1", {7, 8, 70}, {7, 8, 70}, "-clamp_z 0.500000 1.000000 ", LAS_SELECTIVE_Z},
    {"clamp_z swapped bounds", "-clamp_z 72.5 70.5", {7, 8, 7100}, {7, 8, 7250}, "-clamp_z 72.500000 70.500000 ",
     LAS_SELECTIVE_Z},
    {"clamp_z_below is strict", "-clamp_z_below 70.5", {7, 8, 7050}, {7, 8, 7050}, "-clamp_z_below 70.500000 ",
     LAS_SELECTIVE_Z},
    {"clamp_z_below", "-clamp_z_below 70.5", {7, 8, 7000}, {7, 8, 7050}, "-clamp_z_below 70.500000 ", LAS_SELECTIVE_Z},
    {"clamp_z_above", "-clamp_z_above 72.5", {7, 8, 7300}, {7, 8, 7250}, "-clamp_z_above 72.500000 ", LAS_SELECTIVE_Z},
    {"clamp_raw_z below", "-clamp_raw_z 500 800", {7, 8, 400}, {7, 8, 500}, "-clamp_raw_z 500 800 ", LAS_SELECTIVE_Z},
    {"clamp_raw_z above", "-clamp_raw_z 500 800", {7, 8, 900}, {7, 8, 800}, "-clamp_raw_z 500 800 ", LAS_SELECTIVE_Z},
    {"translate_raw_x wraps", "-translate_raw_x 1", {I32_MAX, 7, 9}, {I32_MIN, 7, 9}, "-translate_raw_x 1 ", 0},
    {"translate_raw_y", "-translate_raw_y -5", {7, 8, 9}, {7, 3, 9}, "-translate_raw_y -5 ", 0},
    {"translate_raw_z", "-translate_raw_z 20", {7, 8, 9}, {7, 8, 29}, "-translate_raw_z 20 ", LAS_SELECTIVE_Z},
    {"translate_raw_xyz", "-translate_raw_xyz 1 1 0", {7, 8, 9}, {8, 9, 9}, "-translate_raw_xyz 1 1 0 ",
     LAS_SELECTIVE_Z},
    {"translate_raw_xy_at_random by nothing", "-translate_raw_xy_at_random 0 0", {7, 8, 9}, {7, 8, 9},
     "-translate_raw_xy_at_random 0 0 ", 0},
    {"switch_x_y", "-switch_x_y", {1, 2, 3}, {2, 1, 3}, "-switch_x_y ", 0},
    {"switch_x_z", "-switch_x_z", {1, 2, 3}, {3, 2, 1}, "-switch_x_z ", LAS_SELECTIVE_Z},
    {"switch_y_z", "-switch_y_z", {1, 2, 3}, {1, 3, 2}, "-switch_y_z ", LAS_SELECTIVE_Z},
};

class LasTransformOperations : public ::testing::TestWithParam<OperationCase> {};

TEST_P(LasTransformOperations, ChangeThePointAndWriteTextThatParsesBack) {
  const OperationCase& c = GetParam();
  Points points;
  LAStransform transform;
  ASSERT_TRUE(transform.parse(c.options));
  EXPECT_EQ(points.transformed(transform, c.before), c.after);
  const std::string text = text_of(transform);
  EXPECT_EQ(text, c.text);
  U32 mask = 0;
  for (U32 i = 0; i < transform.op_count; i++) mask |= transform.op_list[i]->get_decompress_selective();
  EXPECT_EQ(mask, c.mask);

  LAStransform from_text;
  ASSERT_TRUE(from_text.parse(text.c_str()));
  EXPECT_EQ(text_of(from_text), text);
  EXPECT_EQ(points.transformed(from_text, c.before), c.after);

  ArgVector args = ArgVector::from_text(text);
  LAStransform from_vector;
  ASSERT_TRUE(from_vector.parse(args.argc(), args.argv()));
  EXPECT_TRUE(args.remaining().empty());
  EXPECT_EQ(text_of(from_vector), text);
  EXPECT_EQ(points.transformed(from_vector, c.before), c.after);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, LasTransformOperations, ::testing::ValuesIn(operation_cases),
                         [](const ::testing::TestParamInfo<OperationCase>& info) {
                           return test_name_of(info.param.name);
                         });

TEST(LasTransformCoordinates, OffsetAdjustmentSeesTheFormulaUnrounded) {
  const struct {
    const char* options;
    F64 x, y, z;
  } cases[] = {
      {"-translate_x 0.001", 10.001, 20, 30},
      {"-scale_z 0.3048", 10, 20, 9.144},
      {"-translate_xyz 1 2 3", 11, 22, 33},
      {"-scale_xyz 2 3 -1", 20, 60, -30},
      {"-translate_then_scale_y 20 0.5", 10, 20, 30},
      {"-translate_scale_translate_x 4 3", 22, 20, 30},
      {"-rotate_xy 90 0 0", -20, 10, 30},
      {"-rotate_yz 90 0 0", 10, -30, 20},
      {"-transform_helmert 0,0,0,0,0,0,1000000", 20, 40, 60},
      {"-transform_affine 2,0,1,1", 21, 41, 30},
      {"-transform_matrix 0,0,1 0,1,0 1,0,0 1,2,3", 31, 22, 13},
      {"-clamp_z 0 10", 10, 20, 10},
      {"-clamp_z_below 40", 10, 20, 40},
      {"-clamp_z_above 40", 10, 20, 30},
      // Raw bounds and steps in the source quantisation (0.01 and 0 until adjusted).
      {"-clamp_raw_z 500 800", 10, 20, 8},
      {"-translate_raw_xyz 1 2 3", 10.01, 20.02, 30.03},
      {"-translate_raw_xy_at_random 2 3", 9.98, 19.97, 30},
      {"-switch_x_z", 30, 20, 10},
      {"-switch_y_z", 10, 30, 20},
      {"-copy_intensity_into_attribute 0", 10, 20, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(c.options));
    ASSERT_EQ(transform.op_count, 1u);
    F64* v = transform.op_list[0]->transform_coords_for_offset_adjustment(10, 20, 30);
    ASSERT_NE(v, nullptr);
    EXPECT_DOUBLE_EQ(v[0], c.x);
    EXPECT_DOUBLE_EQ(v[1], c.y);
    EXPECT_DOUBLE_EQ(v[2], c.z);
    delete[] v;
  }
}

// A coordinate that does not fit 32 bits keeps its low bits and counts once
// per value; the other coordinates are neither read nor counted.
TEST(LasTransformCoordinates, OverflowsAreStoredWrappedAndCounted) {
  Points points;
  points.scaling.x_offset = 0.0;
  points.scaling.y_offset = 0.0;
  LAStransform transform;
  // 2^31 - 1 units fit; one more is the first that does not.
  ASSERT_TRUE(transform.parse("-translate_x 21474836.47"));
  EXPECT_EQ(points.transformed(transform, {0, 0, 0}), (Raw{2147483647, 0, 0}));
  EXPECT_EQ(transform.op_list[0]->overflow_count, 0);
  EXPECT_EQ(points.transformed(transform, {1, 0, 0}), (Raw{I32_MIN, 0, 0}));
  EXPECT_EQ(transform.op_list[0]->overflow_count, 1);

  LAStransform xyz;
  ASSERT_TRUE(xyz.parse("-translate_xyz 1e8 0 -1e8"));
  EXPECT_EQ(points.transformed(xyz, {0, 5, 0}), (Raw{(I32)(10000000000LL & 0xFFFFFFFF), 5, (I32)(-10000000000LL)}));
  EXPECT_EQ(xyz.op_list[0]->overflow_count, 2);

  // A point whose raw Y lies at the 32-bit edge is not re-stored by an x move.
  LAStransform x_only;
  ASSERT_TRUE(x_only.parse("-translate_x 1"));
  EXPECT_EQ(points.transformed(x_only, {0, I32_MIN, I32_MAX}), (Raw{100, I32_MIN, I32_MAX}));
  EXPECT_EQ(x_only.op_list[0]->overflow_count, 0);
}

// With an attribute standing in for z, z is read from it and written into it;
// the raw Z stays as it was.
TEST(LasTransformCoordinates, AnAttributeStandingInForZIsWhatZOperationsChange) {
  Points points;
  LASattributeDescriptor height(LAS_ATTRIBUTE_F64, "height");
  ASSERT_EQ(points.table.add_attribute(height), 0);
  ASSERT_TRUE(points.point.init(&points.scaling, &points.table, (U8)1, (U16)36));
  points.scaling.z_from_attribute = 0;
  LASpoint* point = points.at({0, 0, 777});
  ASSERT_TRUE(point->set_attribute_as_float(0, 7.25));

  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_z 10 -scale_z 2"));
  transform.transform(point);
  EXPECT_DOUBLE_EQ(point->get_attribute_as_float(0), 34.5);
  EXPECT_EQ(point->Z, 777);

  // xyz re-stores z as the z quantisation gives it.
  ASSERT_TRUE(point->set_attribute_as_float(0, 1.234));
  LAStransform zero;
  ASSERT_TRUE(zero.parse("-translate_xyz 0 0 0"));
  zero.transform(point);
  EXPECT_DOUBLE_EQ(point->get_attribute_as_float(0), 1.23);
}

// ------------------------------------------------------------------ grammar

TEST_F(LasTransformTest, ParsingTakesOnlyTransformOptionsInTheirOrder) {
  ArgVector args({"-translate_x", "2", "-keep_class", "2", "-scale_z", "0.5", "2", "-filtered_transform", "-v"});
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), (std::vector<std::string>{"-keep_class", "2", "2", "-v"}));
  EXPECT_TRUE(transform.filtered_transform);
  EXPECT_EQ(text_of(transform), "-translate_x 2.000000 -scale_z 0.500000 ");

  // A second parse appends.
  ASSERT_TRUE(transform.parse("-translate_y 1"));
  EXPECT_EQ(transform.op_count, 3u);
}

TEST_F(LasTransformTest, HelpStopsParsing) {
  for (const char* help : {"-h", "-help"}) {
    ArgVector args({"-translate_x", "1", help, "-scale_z", "2"});
    LAStransform transform;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(transform.parse(args.argc(), args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(transform.op_count, 1u);
    EXPECT_EQ(args.remaining(), (std::vector<std::string>{help, "-scale_z", "2"}));
  }
  ArgVector args({"-hh", "-scale_z", "2"});
  LAStransform transform;
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(transform.parse(args.argc(), args.argv()));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Transform coordinates.\n  -translate_x -2.5\n", 0), 0u) << err;
  EXPECT_EQ(transform.op_count, 0u);
}

TEST_F(LasTransformTest, OptionTextSplitsAtBlanksOnly) {
  LAStransform transform;
  EXPECT_TRUE(transform.parse(""));
  EXPECT_TRUE(transform.parse("   "));
  EXPECT_EQ(transform.op_count, 0u);
  ASSERT_TRUE(transform.parse("  -translate_x  2   -scale_z 0.3048  "));
  EXPECT_EQ(text_of(transform), "-translate_x 2.000000 -scale_z 0.304800 ");

  // Any number of words.
  std::string many;
  for (int k = 0; k < 100; k++) many += "-translate_y " + std::to_string(k) + ".000000 ";
  LAStransform large;
  ASSERT_TRUE(large.parse(many.c_str()));
  EXPECT_EQ(large.op_count, 100u);
  EXPECT_EQ(text_of(large), many);
}

// The messages of every option: too few values (at the end of the line),
// and each value that is no number. A bad value ends parsing: the options
// before it stay built and the words behind it stay untouched.
TEST_F(LasTransformTest, EveryOptionNamesItsValuesInItsMessages) {
  const struct {
    const char* option;
    const char* values;
    std::vector<std::string> invalid_names;  // as the message of a bad value k words it
  } cases[] = {
      {"-translate_x", "offset", {"offset"}},
      {"-translate_y", "offset", {"offset"}},
      {"-translate_z", "offset", {"offset"}},
      {"-translate_xyz", "offset_x offset_y offset_z", {"", "", ""}},
      {"-scale_x", "scale", {"scale_x"}},
      {"-scale_y", "scale", {"scale_y"}},
      {"-scale_z", "scale", {"scale_z"}},
      {"-scale_xyz", "scale_x scale_y scale_z", {"", "", ""}},
      {"-translate_then_scale_x", "offset scale", {"", ""}},
      {"-translate_then_scale_y", "offset scale", {"", ""}},
      {"-translate_then_scale_z", "offset scale", {"", ""}},
      {"-translate_scale_translate_x", "offset scale", {"", ""}},
      {"-translate_scale_translate_y", "offset scale", {"", ""}},
      {"-translate_scale_translate_z", "offset scale", {"", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    const size_t n = c.invalid_names.size();
    const std::string count = n == 1 ? "1 argument: " : std::to_string(n) + " arguments: ";
    const std::string needs = std::string("'") + c.option + "' needs " + count + c.values;

    std::vector<std::string> few = {"-translate_z", "1", c.option};
    for (size_t k = 0; k + 1 < n; k++) few.push_back("1");
    ArgVector short_args(few);
    LAStransform transform;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(transform.parse(short_args.argc(), short_args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: " + needs + "\n");
    EXPECT_EQ(transform.op_count, 1u);
    EXPECT_EQ(short_args.remaining(), std::vector<std::string>(few.begin() + 2, few.end()));

    for (size_t k = 0; k < n; k++) {
      for (const char* bad : {"abc", "2.5m", "nan", "inf", ""}) {
        std::vector<std::string> words = {c.option};
        for (size_t v = 0; v < n; v++) words.push_back(v == k ? bad : "1");
        words.push_back("-translate_x");
        words.push_back("1");
        ArgVector args(words);
        LAStransform failed;
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(failed.parse(args.argc(), args.argv()));
        std::string message = needs;
        if (!c.invalid_names[k].empty()) message = std::string("'") + c.option + "' needs " + count + c.invalid_names[k];
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "ERROR: " + message + " but '" + bad + "' is no valid number\n");
        EXPECT_EQ(failed.op_count, 0u);
        EXPECT_EQ(args.at((int)n + 2), "-translate_x");
      }
    }
  }
}

// ------------------------------------------------------------------ the list

// Adds its name to a log for every point it sees.
class Logging : public LASoperation {
 public:
  Logging(const char* name, std::string* log) : label(name), log(log) {}
  const char* name() const override { return label; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, label);
    return las_operation_text_size(text, start);
  }
  F64* transform_coords_for_offset_adjustment(F64, F64, F64) override { return nullptr; }
  void transform(LASpoint*) override { *log += label; }

 private:
  const char* label;
  std::string* log;
};

std::string names_of(const LAStransform& transform) {
  std::string names;
  for (U32 i = 0; i < transform.op_count; i++) names += transform.op_list[i]->name();
  return names;
}

TEST_F(LasTransformTest, OperationsAreAddedAndDeletedInOrder) {
  std::string log;
  LAStransform transform;
  transform.delete_operation("a");  // no list yet
  const char* const labels[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "p", "q"};
  for (const char* label : labels) transform.add_operation(new Logging(label, &log));
  EXPECT_EQ(transform.op_count, 17u);
  EXPECT_EQ(transform.op_list.capacity(), 32u);
  EXPECT_EQ(names_of(transform), "abcdefghijklmnopq");
  transform.add_operation(new Logging("a", &log));
  transform.delete_operation("a");
  transform.delete_operation("zz");
  EXPECT_EQ(names_of(transform), "bcdefghijklmnopqa");
  Points points;
  transform.transform(points.at({0, 0, 0}));
  EXPECT_EQ(log, "bcdefghijklmnopqa");
}

TEST_F(LasTransformTest, SetPointSourceReplacesTheFirstAndStandsLast) {
  LAStransform transform;
  transform.setPointSource(7);
  std::string log;
  transform.add_operation(new Logging("x", &log));
  transform.add_operation(las_new_set_point_source(8));
  ASSERT_TRUE(transform.parse("-translate_z 1"));
  transform.setPointSource(9);
  EXPECT_EQ(text_of(transform), "-x -set_point_source 8 -translate_z 1.000000 -set_point_source 9 ");
  Points points;
  transform.transform(points.at({0, 0, 0}));
  EXPECT_EQ(points.point.point_source_ID, 9);
}

// Notes its own end in a log, so that a test sees what the transform gives up.
class NotesItsEnd : public Logging {
 public:
  NotesItsEnd(const char* name, std::string* ends) : Logging(name, ends), ends(ends) {}
  ~NotesItsEnd() override { *ends += std::string(name()) + " "; }

 private:
  std::string* ends;
};

// A filter whose one criterion notes its end, and with it the filter's.
class CriterionNotesItsEnd : public LAScriterion {
 public:
  CriterionNotesItsEnd(const char* label, std::string* ends) : label(label), ends(ends) {}
  ~CriterionNotesItsEnd() override { *ends += std::string(label) + " "; }
  const char* name() const override { return label; }
  I32 get_command(std::string&) const override { return 0; }
  bool filter(const LASpoint*) override { return false; }

 private:
  const char* label;
  std::string* ends;
};
LASfilter* filter_noting_its_end(const char* label, std::string* ends) {
  LASfilter* filter = new LASfilter();
  filter->add_criterion(new CriterionNotesItsEnd(label, ends));
  return filter;
}

// Each operation ends exactly once: when deleted by name, when the list is
// cleaned, or with the transform; a filter when another replaces it, when
// the list is cleaned, or with the transform.
TEST_F(LasTransformTest, EachOwnedObjectEndsOnce) {
  std::string ends;
  {
    LAStransform transform;
    for (const char* name : {"a", "b", "c"}) transform.add_operation(new NotesItsEnd(name, &ends));
    transform.delete_operation("b");
    EXPECT_EQ(ends, "b ");
    EXPECT_EQ(names_of(transform), "ac");
    LASfilter* first = filter_noting_its_end("f1", &ends);
    transform.setFilter(first);
    transform.setFilter(first);  // the same filter stays
    EXPECT_EQ(transform.filter.get(), first);
    EXPECT_EQ(ends, "b ");
    transform.setFilter(filter_noting_its_end("f2", &ends));
    EXPECT_EQ(ends, "b f1 ");
    transform.clean();
    EXPECT_EQ(ends, "b f1 a c f2 ");
    transform.add_operation(new NotesItsEnd("d", &ends));
    transform.setFilter(filter_noting_its_end("f3", &ends));
  }
  EXPECT_EQ(ends, "b f1 a c f2 d f3 ");
}

// Drops every second point it sees, counting from its last reset.
class EverySecond : public LAScriterion {
 public:
  const char* name() const override { return "every_second"; }
  I32 get_command(std::string& text) const override {
    text += "-every_second ";
    return 14;
  }
  bool filter(const LASpoint*) override { return (seen++ % 2) == 1; }
  void reset() override { seen = 0; }

 private:
  U32 seen = 0;
};

TEST_F(LasTransformTest, AnAttachedFilterChoosesThePointsAndStartsAfreshEachPass) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_x 1"));
  LASfilter* filter = new LASfilter();
  filter->add_criterion(new EverySecond());
  transform.setFilter(filter);
  Points points;
  auto pass = [&] {
    std::vector<I32> xs;
    for (int k = 0; k < 3; k++) xs.push_back(points.transformed(transform, {0, 0, 0}).X);
    return xs;
  };
  EXPECT_EQ(pass(), (std::vector<I32>{100, 0, 100}));
  transform.reset();
  EXPECT_EQ(pass(), (std::vector<I32>{100, 0, 100})) << "the second pass changes the same points";

  EXPECT_EQ(text_of(transform), "-every_second -filtered_transform -translate_x 1.000000 ");
  transform.setFilter(nullptr);
  EXPECT_FALSE(transform.filtered_transform);
}

TEST_F(LasTransformTest, ResetAndCleanClearWhatEachOwns) {
  LAStransform transform;
  std::string text = "before ";
  EXPECT_EQ(transform.unparse(text), 0);
  EXPECT_EQ(text, "before ");
  transform.setFilter(new LASfilter());
  transform.filtered_transform = true;
  EXPECT_EQ(text_of(transform), "-filtered_transform ");

  ASSERT_TRUE(transform.parse("-translate_x 1e8"));
  Points points;
  transform.transform(points.at({0, 0, 0}));
  transform.registers[15] = 2.5;
  EXPECT_EQ(transform.op_list[0]->overflow_count, 1);
  transform.reset();
  EXPECT_EQ(transform.op_list[0]->overflow_count, 0);
  EXPECT_EQ(transform.registers[15], 0.0);

  transform.registers[3] = 1.5;
  transform.clean();
  EXPECT_EQ(transform.op_count, 0u);
  EXPECT_EQ(transform.op_list.capacity(), 0u);
  EXPECT_EQ(transform.filter, nullptr);
  EXPECT_EQ(transform.registers[3], 1.5);
  EXPECT_TRUE(transform.filtered_transform);
}

TEST_F(LasTransformTest, OverflowsAreReportedPerOperationInOrder) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_y 1 -translate_x 1e8 -translate_z 0.5 -scale_z 1e10"));
  ::testing::internal::CaptureStderr();
  transform.check_for_overflow();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  Points points;
  for (int k = 0; k < 3; k++) transform.transform(points.at({0, 0, 100}));
  ::testing::internal::CaptureStderr();
  transform.check_for_overflow();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: total of  3 overflows caused by '-translate_x 100000000.000000 '\n"
            "WARNING: total of  3 overflows caused by '-scale_z 10000000000.000000 '\n");
}

}  // namespace
