// The copies into and out of coordinates, the register operations and the
// attribute operations driven by a text file: their messages, their option
// text, their effect on points, the refusal of offset adjustment, and the
// state that a reset starts afresh.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/arg_vector.hpp"
#include "support/halting_off.hpp"
#include "support/temp_dir.hpp"
#include "support/transform_points.hpp"
#include "transforms/lasoperation.hpp"

namespace {

using RegisterOptions = HaltingOff<>;

// Writes a file into the directory and answers its path.
std::string written(const TempDir& dir, const std::string& name, const std::string& bytes) {
  dir.write(name, bytes);
  return dir.path() + "/" + name;
}

TEST_F(RegisterOptions, RefusedOptionsGiveTheirMessages) {
  const struct {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-copy_attribute_into_z"}, "'-copy_attribute_into_z' needs 1 argument: index of attribute"},
      {{"-add_attribute_to_z", "x"}, "'-add_attribute_to_z' needs 1 argument: index of attribute but 'x' is no valid index"},
      {{"-copy_register_into_x", "16"}, "'-copy_register_into_x' index of register 16 is out of valid [0,15] range"},
      {{"-copy_register_into_y", "r"},
       "'-copy_register_into_y' needs 1 argument: index of register but 'r' is no valid index"},
      {{"-add_scaled_attribute_to_z", "1"}, "'-add_scaled_attribute_to_z' needs 2 arguments: index scale"},
      {{"-add_scaled_attribute_to_z", "1", "0"},
       "'-add_scaled_attribute_to_z' needs 2 arguments: index scale but '0' is no valid scale"},
      {{"-add_scaled_attribute_to_z", "1", "s"},
       "'-add_scaled_attribute_to_z' needs 2 arguments: index scale but 's' is no valid scale"},
      {{"-copy_z_into_attribute", "i"}, "'-copy_z_into_attribute' needs 1 argument: index but 'i' is no valid index"},
      {{"-copy_intensity_into_register"}, "'-copy_intensity_into_register' needs 1 argument: index"},
      {{"-copy_B_into_register", "b"}, "'-copy_B_into_register' needs 1 argument: index but 'b' is no valid index"},
      {{"-copy_NIR_into_register", "16"}, "'-copy_NIR_into_register' index of register 16 is out of valid [0,15] range"},
      {{"-set_register", "16", "1"}, "'-set_register' index of register 16 is out of valid [0,15] range"},
      {{"-set_register", "16", "v"}, "'-set_register' needs 2 arguments: index value but 'v' is no valid value"},
      {{"-set_register", "-1", "1"}, "'-set_register' needs 2 arguments: index value but '-1' is no valid index"},
      {{"-scale_register", "0", "s"}, "'-scale_register' needs 2 arguments: index scale but 's' is no valid scale"},
      {{"-translate_register", "0"}, "'-translate_register' needs 2 arguments: index offset"},
      {{"-add_registers", "0", "1"}, "'-add_registers' needs 3 arguments: input1 input2 output"},
      {{"-add_registers", "0", "1", "16"},
       "'-add_registers' needs 3 arguments: input1 input2 output but 16 is out-of-range for output"},
      // Each register is checked as soon as it is read.
      {{"-divide_registers", "16", "x", "0"},
       "'-divide_registers' needs 3 arguments: input1 input2 output but 16 is out-of-range for input1"},
      {{"-multiply_registers", "0", "1", "z"},
       "'-multiply_registers' needs 3 arguments: input1 input2 output but 'z' is no valid input3"},
      {{"-copy_attribute_into_register", "0"},
       "'-copy_attribute_into_register' needs 2 arguments: index of attribute, index of register"},
      {{"-copy_attribute_into_register", "a", "0"},
       "'-copy_attribute_into_register' 1st of 2 arguments index of attribute 'a' is no valid index"},
      {{"-copy_attribute_into_register", "0", "r"},
       "'-copy_attribute_into_register' 2nd of 2 arguments index of register 'r' is no valid index"},
      {{"-copy_attribute_into_register", "0", "20"},
       "'-copy_attribute_into_register' 2nd of 2 arguments index of register 20 is out of valid [0,15] range"},
      {{"-copy_register_into_attribute", "17", "a"},
       "'-copy_register_into_attribute' 1st of 2 arguments index of register 17 is out of valid [0,15] range"},
      {{"-copy_register_into_attribute", "1", "a"},
       "'-copy_register_into_attribute' 2nd of 2 arguments index of attribute 'a' is no valid index"},
      {{"-copy_register_into_I", "16"}, "'-copy_register_into_I' index of register 16 is out of valid [0,15] range"},
      {{"-map_attribute_into_RGB", "0"}, "'-map_attribute_into_RGB' needs 2 arguments: attribute_index map_file_name.txt"},
      {{"-map_attribute_into_RGB", "x", "m.txt"},
       "'-map_attribute_into_RGB' needs 2 arguments: attribute_index map_file_name.txt but 'x' is no valid "
       "attribute_index"},
      {{"-map_attribute_into_RGB", "0", "/nonexistent/m.txt"},
       "'-map_attribute_into_RGB' needs text file with map but '/nonexistent/m.txt' cannot be opened"},
      {{"-load_attribute_from_text", "0"},
       "'-load_attribute_from_text' needs 2 arguments: attribute_index attribute_file_name.txt"},
      {{"-load_attribute_from_text", "0", "/nonexistent/v.txt"},
       "'-load_attribute_from_text' needs text file with attribute values but '/nonexistent/v.txt' cannot be opened"},
  };
  for (const auto& c : cases) expect_parse_refused(c.words, c.message);
  // Register 15 is the last one.
  LAStransform transform;
  EXPECT_TRUE(transform.parse("-set_register 15 1 -copy_register_into_intensity 15 -add_registers 15 15 15"));
}

// Each option writes text that builds the same operation again, file names
// with blanks included.
TEST(RegisterText, OptionsWriteTextThatParsesBack) {
  TempDir dir;
  const std::string map = written(dir, "a map.txt", "0 1 2 3\n");
  const std::string values = written(dir, "some values.txt", "1\n");
  const struct {
    std::string options;
    std::string text;
  } cases[] = {
      {"-copy_attribute_into_x 0 -copy_attribute_into_y 1 -copy_attribute_into_z 2",
       "-copy_attribute_into_x 0 -copy_attribute_into_y 1 -copy_attribute_into_z 2 "},
      {"-copy_register_into_x 3 -copy_register_into_y 4 -copy_register_into_z 15",
       "-copy_register_into_x 3 -copy_register_into_y 4 -copy_register_into_z 15 "},
      {"-copy_intensity_into_z -copy_user_data_into_z -add_attribute_to_z 1",
       "-copy_intensity_into_z -copy_user_data_into_z -add_attribute_to_z 1 "},
      {"-add_scaled_attribute_to_z 1 -1.2 -copy_z_into_attribute 0",
       "-add_scaled_attribute_to_z 1 -1.200000 -copy_z_into_attribute 0 "},
      {"-copy_B_into_register 3 -copy_register_into_user_data 1", "-copy_B_into_register 3 -copy_register_into_user_data 1 "},
      {"-copy_register_into_I 2 -copy_register_into_R 0", "-copy_register_into_NIR 2 -copy_register_into_R 0 "},
      // "%g" when that reads back to the same value, else every digit needed.
      {"-set_register 0 0.000123456789", "-set_register 0 0.000123456789 "},
      {"-set_register 0 0.5", "-set_register 0 0.5 "},
      {"-scale_register 0 1.5 -translate_register 1 10.7", "-scale_register 0 1.5 -translate_register 1 10.700000 "},
      {"-add_registers 0 1 3 -subtract_registers 1 2 3 -multiply_registers 0 1 2 -divide_registers 4 5 6",
       "-add_registers 0 1 3 -subtract_registers 1 2 3 -multiply_registers 0 1 2 -divide_registers 4 5 6 "},
      {"-copy_intensity_into_register 0 -copy_user_data_into_register 1 -copy_point_source_into_register 2",
       "-copy_intensity_into_register 0 -copy_user_data_into_register 1 -copy_point_source_into_register 2 "},
      {"-copy_attribute_into_register 4 5 -copy_register_into_attribute 5 4",
       "-copy_attribute_into_register 4 5 -copy_register_into_attribute 5 4 "},
      {"-map_attribute_into_RGB 0 \"" + map + "\"", "-map_attribute_into_RGB 0 \"" + map + "\" "},
      {"-load_attribute_from_text 2 \"" + values + "\"", "-load_attribute_from_text 2 \"" + values + "\" "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(c.options.c_str()));
    EXPECT_EQ(text_of(transform), c.text);
    LAStransform again;
    ASSERT_TRUE(again.parse(text_of(transform).c_str()));
    EXPECT_EQ(text_of(again), c.text);
  }
}

// ------------------------------------------------------------------ registers

// Intensities run through a chain of options, one point after the other.
std::vector<U16> intensities_after(const char* options, const std::vector<U16>& in) {
  LAStransform transform;
  EXPECT_TRUE(transform.parse(options));
  Points points;
  std::vector<U16> out;
  for (U16 intensity : in) {
    points.point.intensity = intensity;
    transform.transform(&points.point);
    out.push_back(points.point.intensity);
  }
  return out;
}

TEST(Registers, ChainsComputeAndStoresAreLimited) {
  EXPECT_EQ(intensities_after("-copy_intensity_into_register 0 -scale_register 0 1.5 -copy_register_into_intensity 0",
                              {100, 50000, 0}),
            (std::vector<U16>{150, 65535, 0}));
  // Register 0 carries the running sum from point to point.
  EXPECT_EQ(intensities_after("-copy_intensity_into_register 1 -add_registers 0 1 0 -copy_register_into_intensity 0",
                              {1, 2, 3, 4}),
            (std::vector<U16>{1, 3, 6, 10}));
  // A division by 0 is an infinity: positive stores the maximum, negative 0.
  EXPECT_EQ(intensities_after("-copy_intensity_into_register 1 -translate_register 1 -5 -set_register 2 0 "
                              "-divide_registers 1 2 3 -copy_register_into_intensity 3",
                              {10, 1}),
            (std::vector<U16>{65535, 0}));
  // 0 / 0 is NaN, which stores 0.
  EXPECT_EQ(intensities_after("-divide_registers 0 0 0 -copy_register_into_intensity 0", {7}), (std::vector<U16>{0}));
  EXPECT_EQ(intensities_after("-copy_intensity_into_register 0 -subtract_registers 0 0 0 -translate_register 0 9.9 "
                              "-multiply_registers 0 0 1 -copy_register_into_intensity 1",
                              {3}),
            (std::vector<U16>{98}));

  Points points;
  for (const auto& [value, stored] : {std::pair{300.7, 255}, {12.9, 12}, {-1.0, 0}}) {
    LAStransform transform;
    ASSERT_TRUE(transform.parse("-copy_register_into_user_data 0 -copy_register_into_point_source 0 "
                                "-copy_register_into_G 0 -copy_register_into_I 0"));
    transform.registers[0] = value;
    transform.transform(&points.point);
    EXPECT_EQ(points.point.user_data, stored) << value;
    EXPECT_EQ(points.point.point_source_ID, value > 0 ? (U16)value : 0);
    EXPECT_EQ(points.point.rgb[1], points.point.point_source_ID);
    EXPECT_EQ(points.point.rgb[3], points.point.point_source_ID);
  }
}

TEST(Registers, ChannelAndFieldLoads) {
  Points points;
  points.point.rgb[0] = 10;
  points.point.rgb[1] = 20;
  points.point.rgb[2] = 30;
  points.point.rgb[3] = 40;
  points.point.user_data = 5;
  points.point.point_source_ID = 600;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-copy_R_into_register 0 -copy_G_into_register 1 -copy_B_into_register 2 "
                              "-copy_NIR_into_register 3 -copy_user_data_into_register 4 "
                              "-copy_point_source_into_register 5"));
  transform.transform(&points.point);
  EXPECT_EQ(std::vector<F64>(transform.registers, transform.registers + 6), (std::vector<F64>{10, 20, 30, 40, 5, 600}));
  EXPECT_EQ(transform.op_list[0]->get_decompress_selective(), LAS_SELECTIVE_RGB);
  EXPECT_EQ(transform.op_list[3]->get_decompress_selective(), LAS_SELECTIVE_NIR);
  EXPECT_EQ(transform.op_list[5]->get_decompress_selective(), LAS_SELECTIVE_POINT_SOURCE);

  // Registers start afresh with each pass.
  transform.reset();
  for (F64 r : transform.registers) EXPECT_EQ(r, 0.0);
}

TEST(Registers, AttributesLoadAndStoreOnlyWhenPresent) {
  AttributePoint a({attribute(LAS_ATTRIBUTE_I32, 0.5), attribute(LAS_ATTRIBUTE_U16)});
  a.point->set_attribute_as_float(0, 21.5);
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-copy_attribute_into_register 0 0 -copy_attribute_into_register 3 1 "
                              "-translate_register 0 1 -copy_register_into_attribute 0 1 "
                              "-copy_register_into_attribute 0 5"));
  transform.registers[1] = 9;
  transform.transform(a.point);
  EXPECT_EQ(transform.registers[0], 22.5);
  EXPECT_EQ(transform.registers[1], 0.0);  // absent attribute loads 0
  EXPECT_EQ(a.stored(1, 2), 23u);          // rounded into the U16
}

// ------------------------------------------------------------------ coordinates

struct CoordinateCase {
  const char* options;
  Raw in;
  Raw out;
};

// Points of scale 0.01, offsets x 1000 and y 2000, attributes 0 (I32, set to
// 2.5, which stores 3) and 1 (F64, 1.0), user data 255 and intensity 500.
TEST(CoordinateCopies, ValuesReplaceOrMoveCoordinates) {
  const CoordinateCase cases[] = {
      {"-copy_attribute_into_z 0", {1, 2, 3}, {1, 2, 300}},
      {"-copy_attribute_into_z 5", {1, 2, 3}, {1, 2, 0}},
      {"-copy_attribute_into_x 1", {1, 2, 3}, {-99900, 2, 3}},
      {"-copy_attribute_into_y 0", {1, 2, 3}, {1, -199700, 3}},
      {"-add_attribute_to_z 1", {1, 2, 3}, {1, 2, 103}},
      {"-add_scaled_attribute_to_z 1 -1.2", {1, 2, 300}, {1, 2, 180}},
      {"-copy_register_into_x 3", {1, 2, 3}, {-100000, 2, 3}},
      {"-set_register 3 1001.5 -copy_register_into_x 3 -copy_register_into_y 3 -copy_register_into_z 3",
       {1, 2, 3},
       {150, -99850, 100150}},
      {"-copy_user_data_into_z", {1, 2, 3}, {1, 2, 25500}},
      {"-copy_intensity_into_z -scale_z 0.01", {1, 2, 3}, {1, 2, 500}},
  };
  for (const CoordinateCase& c : cases) {
    SCOPED_TRACE(c.options);
    AttributePoint a({attribute(LAS_ATTRIBUTE_I32), attribute(LAS_ATTRIBUTE_F64)});
    a.point->set_attribute_as_float(0, 2.5);
    a.point->set_attribute_as_float(1, 1.0);
    a.point->user_data = 255;
    a.point->intensity = 500;
    LAStransform transform;
    ASSERT_TRUE(transform.parse(c.options));
    EXPECT_EQ(a.points.transformed(transform, c.in), c.out);
  }
}

TEST(CoordinateCopies, ZIntoAttributeByTheAttributesType) {
  for (const auto& [Z, stored] : {std::pair{1234, 1234u}, {-50, 0u}}) {
    AttributePoint a({attribute(LAS_ATTRIBUTE_U16, 0.01)});
    LAStransform transform;
    ASSERT_TRUE(transform.parse("-copy_z_into_attribute 0 -copy_z_into_attribute 3"));
    EXPECT_EQ(a.points.transformed(transform, {1, 2, Z}), (Raw{1, 2, Z}));
    EXPECT_EQ(a.stored(0, 2), stored);
  }
}

// Seven copies cannot say where they move points before they are read.
TEST(CoordinateCopies, SevenRefuseOffsetAdjustmentWithAWarning) {
  const char* const refusing[] = {"-copy_attribute_into_x 0", "-copy_attribute_into_y 0",
                                  "-copy_attribute_into_z 0", "-copy_intensity_into_z",
                                  "-copy_user_data_into_z",   "-add_attribute_to_z 0",
                                  "-add_scaled_attribute_to_z 0 2"};
  for (const char* options : refusing) {
    SCOPED_TRACE(options);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(options));
    LASoperation* op = transform.op_list[0].get();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(op->transform_coords_for_offset_adjustment(1, 2, 3), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("WARNING: The adjustment of the offset using '-offset_adjust' is not supported for the "
                          "operation '") +
                  op->name() + "'.\n");
  }
  // The register copies move the corners to the register's value; z into an
  // attribute and the register arithmetic keep them.
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-copy_register_into_y 2 -copy_z_into_attribute 0 -set_register 2 7 "
                              "-map_attribute_into_RGB 0 /dev/null"));
  transform.registers[2] = 5;
  const F64 moved[4][3] = {{1, 5, 3}, {1, 2, 3}, {1, 2, 3}, {1, 2, 3}};
  for (U32 i = 0; i < 4; i++) {
    F64* v = transform.op_list[i]->transform_coords_for_offset_adjustment(1, 2, 3);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::vector<F64>(v, v + 3), std::vector<F64>(moved[i], moved[i] + 3)) << i;
    delete[] v;
  }
}

// ------------------------------------------------------------------ file-driven

// The RGB a map gives to each attribute value.
std::vector<std::vector<U16>> colours(const std::string& map, const std::vector<F64>& values) {
  TempDir dir;
  const std::string name = written(dir, "map.txt", map);
  LAStransform transform;
  EXPECT_TRUE(transform.parse((std::string("-map_attribute_into_RGB 0 \"") + name + "\"").c_str()));
  AttributePoint a({attribute(LAS_ATTRIBUTE_F64)});
  std::vector<std::vector<U16>> out;
  for (F64 value : values) {
    a.point->rgb[0] = a.point->rgb[1] = a.point->rgb[2] = 7;
    a.point->rgb[3] = 99;
    a.point->set_attribute_as_float(0, value);
    transform.transform(a.point);
    EXPECT_EQ(a.point->rgb[3], 99);
    out.push_back({a.point->rgb[0], a.point->rgb[1], a.point->rgb[2]});
  }
  return out;
}

TEST(ColourMap, NearestEntryEarlierOnATie) {
  const std::vector<U16> red = {255, 0, 0}, green = {0, 255, 0}, blue = {0, 0, 255};
  EXPECT_EQ(colours("0 255 0 0\n10 0 255 0\n20 0 0 255\n", {-5, 4, 5, 6, 25}),
            (std::vector<std::vector<U16>>{red, red, red, green, blue}));
  // A colour above 255 or a negative one, and lines without four numbers,
  // are no entries; text behind the fourth number is ignored.
  EXPECT_EQ(colours("5 256 0 0\n5 -1 0 0\nfoo\n5 1 2\n5 1 2 3 trailing words\n", {0}),
            (std::vector<std::vector<U16>>{{1, 2, 3}}));
  // No usable line: nothing changes.
  EXPECT_EQ(colours("x\n\n1 2\n", {3}), (std::vector<std::vector<U16>>{{7, 7, 7}}));
  // The text behind a long line's beginning is not an entry of its own.
  EXPECT_EQ(colours("1 1 1 1 " + std::string(300, ' ') + "9 9 9 9\n", {9}),
            (std::vector<std::vector<U16>>{{1, 1, 1}}));
}

TEST(ColourMap, ManyEntriesAreAllKept) {
  std::string map;
  for (int i = 0; i < 5000; i++) map += std::to_string(i) + " " + std::to_string(i % 256) + " 0 " + "1\n";
  EXPECT_EQ(colours(map, {4999, 300.4}), (std::vector<std::vector<U16>>{{4999 % 256, 0, 1}, {300 % 256, 0, 1}}));
}

TEST(ValueFile, OneValuePerPointAndAgainAfterReset) {
  TempDir dir;
  // The text behind a long line's number is no value of its own.
  const std::string name = written(dir, "v.txt", "1.5" + std::string(300, ' ') + "9\n\nabc\n2.5 metres\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse((std::string("-load_attribute_from_text 0 \"") + name + "\"").c_str()));
  for (int pass = 0; pass < 2; pass++) {
    SCOPED_TRACE(pass);
    AttributePoint a({attribute(LAS_ATTRIBUTE_F64)});
    std::vector<F64> seen;
    for (int i = 0; i < 3; i++) {
      a.point->set_attribute_as_float(0, -1);
      transform.transform(a.point);
      seen.push_back(a.point->get_attribute_as_float(0));
    }
    EXPECT_EQ(seen, (std::vector<F64>{1.5, 2.5, -1}));
    transform.reset();
  }
  // A point without the attribute still takes its value.
  Points bare;
  transform.transform(&bare.point);
  AttributePoint a({attribute(LAS_ATTRIBUTE_F64)});
  transform.transform(a.point);
  EXPECT_EQ(a.point->get_attribute_as_float(0), 2.5);
}

}  // namespace
