// The point inventory, the file-identity test and option text.
#include "core/lasutility.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "support/temp_dir.hpp"

namespace {

TEST(Inventory, EmptyGivesZeroCountsAndTheOffsetsAsBox) {
  LASinventory inventory;
  LASheader header;
  header.x_offset = 100;
  header.z_offset = -3;
  header.number_of_point_records = 9;
  header.max_gps_time = 5;
  EXPECT_TRUE(inventory.update_header(&header));
  EXPECT_EQ(header.number_of_point_records, 0u);
  EXPECT_EQ(header.max_x, 100);
  EXPECT_EQ(header.min_x, 100);
  EXPECT_EQ(header.min_z, -3);
  EXPECT_EQ(header.max_gps_time, 0);
  EXPECT_FALSE(inventory.update_header(nullptr));
}

// Ranges, counts by return (the legacy return number for legacy layouts, the
// extended one for LAS 1.4 layouts) and the GPS range of the points that have
// GPS time.
TEST(Inventory, CountsRangesAndGpsTime) {
  LASscaling scaling;
  LASpoint legacy;
  ASSERT_TRUE(legacy.init(&scaling, nullptr, (U8)0, (U16)20));  // no GPS time
  LASpoint timed;
  ASSERT_TRUE(timed.init(&scaling, nullptr, (U8)1, (U16)28));
  LASpoint extended;
  ASSERT_TRUE(extended.init(&scaling, nullptr, (U8)6, (U16)30));

  LASinventory inventory;
  legacy.X = 10, legacy.Y = -5, legacy.Z = 7;
  legacy.set_return_number(0);
  legacy.gps_time = 999;  // not part of the record: ignored
  inventory.add(&legacy);
  EXPECT_EQ(inventory.min_X, 10);
  EXPECT_EQ(inventory.max_X, 10);
  EXPECT_EQ(inventory.max_gps_time, 0);

  timed.X = 30, timed.Y = -9, timed.Z = 7;
  timed.set_return_number(2);
  timed.gps_time = 50.5;
  inventory.add(&timed);
  timed.X = 5, timed.gps_time = 20.25;
  inventory.add(&timed);
  extended.X = 12, extended.Y = 100, extended.Z = -1;
  extended.set_extended_return_number(9);
  extended.set_return_number(2);  // legacy bits of an extended point do not count
  extended.gps_time = 60;
  inventory.add(&extended);

  EXPECT_EQ(inventory.number_of_point_records, 4);
  EXPECT_EQ(inventory.number_of_points_by_return[0], 1);
  EXPECT_EQ(inventory.number_of_points_by_return[2], 2);
  EXPECT_EQ(inventory.number_of_points_by_return[9], 1);
  EXPECT_EQ(inventory.min_X, 5);
  EXPECT_EQ(inventory.max_X, 30);
  EXPECT_EQ(inventory.min_Y, -9);
  EXPECT_EQ(inventory.max_Y, 100);
  EXPECT_EQ(inventory.min_Z, -1);
  EXPECT_EQ(inventory.max_Z, 7);
  // The first timed point came after an untimed one: the range starts at 0.
  EXPECT_EQ(inventory.min_gps_time, 0);
  EXPECT_EQ(inventory.max_gps_time, 60);

  LASheader header;
  header.version_minor = 4;
  header.x_scale_factor = 0.5;
  header.x_offset = 1;
  EXPECT_TRUE(inventory.update_header(&header));
  EXPECT_EQ(header.number_of_point_records, 4u);
  EXPECT_EQ(header.number_of_points_by_return[1], 2u);
  EXPECT_EQ(header.extended_number_of_points_by_return[8], 1u);
  EXPECT_EQ(header.extended_number_of_point_records, 4u);
  EXPECT_EQ(header.max_x, 16);
  EXPECT_EQ(header.min_x, 3.5);
  EXPECT_EQ(header.max_y, 1);
}

// Counts above 32 bits: a 1.2 header cannot hold them and stays as it was; a
// 1.4 header gets legacy 0 and the extended count.
TEST(Inventory, CountsBeyond32Bits) {
  LASinventory inventory;
  inventory.number_of_point_records = 5000000000;
  inventory.number_of_points_by_return[1] = 4999999999;
  inventory.number_of_points_by_return[2] = 1;
  inventory.max_X = 100;
  LASheader old;
  old.number_of_point_records = 7;
  EXPECT_FALSE(inventory.update_header(&old));
  EXPECT_EQ(old.number_of_point_records, 7u);
  EXPECT_EQ(old.max_x, 0);
  LASheader current;
  current.version_minor = 4;
  EXPECT_TRUE(inventory.update_header(&current));
  EXPECT_EQ(current.number_of_point_records, 0u);
  EXPECT_EQ(current.number_of_points_by_return[0], 0u);
  EXPECT_EQ(current.number_of_points_by_return[1], 1u);
  EXPECT_EQ(current.extended_number_of_point_records, 5000000000u);
  EXPECT_EQ(current.extended_number_of_points_by_return[0], 4999999999u);
}

TEST(SameFile, NamesAndIdentity) {
  TempDir temp;
  temp.write("a.las", "x");
  temp.write("b.las", "x");
  ASSERT_EQ(link(temp.file("a.las").c_str(), temp.file("hard.las").c_str()), 0);
  EXPECT_TRUE(las_same_file("missing.las", "missing.las"));
  EXPECT_FALSE(las_same_file("missing.las", "./missing.las"));
  EXPECT_TRUE(las_same_file(temp.file("a.las").c_str(), (temp.path() + "/./a.las").c_str()));
  EXPECT_TRUE(las_same_file(temp.file("a.las").c_str(), temp.file("hard.las").c_str()));
  EXPECT_FALSE(las_same_file(temp.file("a.las").c_str(), temp.file("b.las").c_str()));
  EXPECT_FALSE(las_same_file(nullptr, "a.las"));
}

// Every value a parser quotes reaches a child process as it was: blanks,
// both quotes, backslashes, bytes beyond ASCII, nothing at all.
TEST(OptionText, QuotedValuesSplitBackUnchanged) {
  const std::string values[] = {"plain", "with blank", "a\"quote", "back\\slash\\", "end\\", "'single'",
                                "", "\xc3\xa9t\xe9\xff", "-looks_like_option", "tab\there", "\"\"", "a\\\"b"};
  std::string text = "-first ";
  for (const std::string& value : values) append_quoted_option_value(text, value);
  text += "-last ";
  std::vector<std::string> expected = {"-first"};
  expected.insert(expected.end(), std::begin(values), std::end(values));
  expected.push_back("-last");
  EXPECT_EQ(split_option_text(text), expected) << text;
}

TEST(OptionText, SplitRules) {
  const struct {
    const char* text;
    std::vector<std::string> words;
  } cases[] = {
      {"", {}},
      {"-a 1 ", {"-a", "1"}},
      {"-a  1   ", {"-a", "1"}},
      {"-i \"a b.las\" ", {"-i", "a b.las"}},
      {"x\"y z\"w ", {"xy zw"}},
      {"'a b' c ", {"'a b'", "c"}},
      {"\"it's\" ", {"it's"}},
      {"'say \"hi\"' ", {"'say hi'"}},
      {"\"\" x ", {"", "x"}},
      {"\"C:\\\\dir\\\\\" ", {"C:\\dir\\"}},
      {"a\\b ", {"a\\b"}},
  };
  for (const auto& c : cases) EXPECT_EQ(split_option_text(c.text), c.words) << c.text;
}

// The printf form when it reads back exactly, else digits that do.
TEST(OptionText, NumbersReadBackEqual) {
  EXPECT_EQ(option_text_f64(0.01), "0.010000");
  EXPECT_EQ(option_text_f64(630000.25), "630000.250000");
  EXPECT_EQ(option_text_f64(1e-7), "1e-07");
  EXPECT_EQ(option_text_f64(2.5, "%g"), "2.5");
  EXPECT_EQ(option_text_f32(0.1f), "0.1");
  EXPECT_EQ(option_text_f32(2.0f, "%lf"), "2.000000");
  for (F64 value : {0.1 + 0.2, 1.0 / 3.0, 1234567.891234567, -9.87654321e-300, 5e-324, 1.7976931348623157e308}) {
    const std::string text = option_text_f64(value);
    EXPECT_EQ(strtod(text.c_str(), nullptr), value) << text;
  }
  for (F32 value : {0.123456789f, 1.0f / 3.0f, 16777217.0f, 1e-38f, 3.4e38f, 1e-45f}) {
    for (const char* format : {"%g", "%lf"}) {
      const std::string text = option_text_f32(value, format);
      EXPECT_EQ(strtof(text.c_str(), nullptr), value) << text;
      EXPECT_EQ((F32)atof(text.c_str()), value) << text;
    }
  }
}

}  // namespace
