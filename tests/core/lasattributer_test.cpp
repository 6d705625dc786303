#include "core/lasattributer.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

LASattributeDescriptor of_data_type(U8 data_type, U8 options = 0) {
  LASattributeDescriptor d;
  d.data_type = data_type;
  d.options = options;
  return d;
}

TEST(LasAttributeDescriptor, SizeOfEveryDataType) {
  const I32 base[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
  for (U8 t = 1; t <= 30; t++) {
    I32 expected = ((t - 1) / 10 + 1) * base[(t - 1) % 10];
    EXPECT_EQ(of_data_type(t).get_size(), expected) << "data type " << (int)t;
  }
  EXPECT_EQ(of_data_type(0, 3).get_size(), 3);
  EXPECT_EQ(of_data_type(0, 0).get_size(), 0);
  EXPECT_EQ(of_data_type(23).get_size(), 6);  // three u16
  EXPECT_EQ(of_data_type(31).get_size(), 0);  // reserved: no known size
  EXPECT_EQ(of_data_type(255).get_size(), 0);
}

TEST(LasAttributeDescriptor, MadeFromABaseTypeNameAndDescription) {
  LASattributeDescriptor d(LAS_ATTRIBUTE_I32, "height above ground", "metres");
  EXPECT_EQ(d.data_type, 6);
  EXPECT_EQ(d.options, 0);
  EXPECT_STREQ(d.name, "height above ground");
  EXPECT_STREQ(d.description, "metres");
  EXPECT_EQ(d.scale[0], 1.0);
  EXPECT_EQ(d.scale[2], 1.0);
  EXPECT_EQ(d.offset[0], 0.0);

  std::string long_name(40, 'n');
  ::testing::internal::CaptureStderr();
  LASattributeDescriptor cut(LAS_ATTRIBUTE_U8, long_name.c_str());
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::string(cut.name), std::string(31, 'n'));

  LASattributeDescriptor bad(10, "x");
  EXPECT_EQ(bad.data_type, 0);
  EXPECT_EQ(bad.get_size(), 0);
}

// No-data, min and max are kept in the data type's own representation, and the
// range widens by comparing in that representation.
TEST(LasAttributeDescriptor, RangeValuesInTheTypesRepresentation) {
  LASattributeDescriptor u(LAS_ATTRIBUTE_U64, "u");
  EXPECT_TRUE(u.set_no_data(2.5));
  EXPECT_EQ(u.no_data[0].u64, 3u);
  EXPECT_EQ(u.options, LAS_ATTRIBUTE_OPTION_NO_DATA);
  EXPECT_TRUE(u.update_min(-4.0));
  EXPECT_EQ(u.min[0].u64, 0u);
  EXPECT_TRUE(u.update_max(1e19));  // above the signed range: unsigned compare
  EXPECT_TRUE(u.update_max(5.0));
  EXPECT_EQ(u.max[0].u64, 10000000000000000000ull);
  EXPECT_EQ(u.options, LAS_ATTRIBUTE_OPTION_NO_DATA | LAS_ATTRIBUTE_OPTION_MIN | LAS_ATTRIBUTE_OPTION_MAX);

  LASattributeDescriptor s(LAS_ATTRIBUTE_I16, "s");
  EXPECT_TRUE(s.update_min(7.0));
  EXPECT_TRUE(s.update_min(-2.5));
  EXPECT_TRUE(s.update_min(3.0));
  EXPECT_EQ(s.min[0].i64, -3);
  EXPECT_TRUE(s.update_max(-9.0));
  EXPECT_TRUE(s.update_max(-1.0));
  EXPECT_EQ(s.max[0].i64, -1);

  LASattributeDescriptor f(LAS_ATTRIBUTE_F32, "f");
  EXPECT_TRUE(f.set_min(0.25));
  EXPECT_TRUE(f.update_min(-0.75));
  EXPECT_EQ(f.min[0].f64, -0.75);
  f.set_scale(0.01);
  f.set_offset(5.0);
  EXPECT_EQ(f.options, LAS_ATTRIBUTE_OPTION_MIN | LAS_ATTRIBUTE_OPTION_SCALE | LAS_ATTRIBUTE_OPTION_OFFSET);

  LASattributeDescriptor deprecated = of_data_type(12);
  EXPECT_FALSE(deprecated.set_no_data(1.0));
  EXPECT_EQ(deprecated.options, 0);
}

TEST(LasAttributeTable, StartsAreRunningSumsOfTheSizes) {
  LASattributeTable table;
  EXPECT_EQ(table.add_attribute(of_data_type(6)), 0);
  EXPECT_EQ(table.add_attribute(of_data_type(10)), 1);
  EXPECT_EQ(table.add_attribute(of_data_type(0, 3)), 2);
  EXPECT_EQ(table.add_attribute(of_data_type(23)), 3);
  EXPECT_EQ(table.add_attribute(of_data_type(0, 0)), -1) << "an attribute of size 0 is not added";
  ASSERT_EQ(table.number_of_attributes, 4);
  EXPECT_TRUE(table.owns_arrays);
  const I32 starts[] = {0, 4, 12, 15};
  const I32 sizes[] = {4, 8, 3, 6};
  for (I32 i = 0; i < 4; i++) {
    EXPECT_EQ(table.attribute_starts[i], starts[i]) << i;
    EXPECT_EQ(table.attribute_sizes[i], sizes[i]) << i;
    EXPECT_EQ(table.get_attribute_start(i), starts[i]);
    EXPECT_EQ(table.get_attribute_size(i), sizes[i]);
  }
  EXPECT_EQ(table.get_attributes_size(), 21);
  EXPECT_EQ(table.get_attribute_start(4), -1);
  EXPECT_EQ(table.get_attribute_size(-1), -1);
  table.clean_attributes();
  EXPECT_EQ(table.number_of_attributes, 0);
  EXPECT_EQ(table.attributes, nullptr);
  EXPECT_FALSE(table.owns_arrays);
  EXPECT_EQ(table.get_attributes_size(), 0);
}

TEST(LasAttributeTable, LookupByName) {
  LASattributeTable table;
  table.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U16, "pitch"));
  LASattributeDescriptor full = of_data_type(1);
  memset(full.name, 'z', sizeof(full.name));  // as read from a file: no terminating zero
  table.add_attribute(full);
  table.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_I32, "roll"));
  EXPECT_EQ(table.get_attribute_index("roll"), 2);
  EXPECT_EQ(table.get_attribute_start("roll"), 3);
  EXPECT_EQ(table.get_attribute_start("pitch"), 0);
  EXPECT_EQ(table.get_attribute_index(std::string(32, 'z').c_str()), 1);
  EXPECT_EQ(table.get_attribute_index(std::string(31, 'z').c_str()), -1);
  EXPECT_EQ(table.get_attribute_start("pitc"), -1);
  EXPECT_EQ(table.get_attribute_start("yaw"), -1);
  EXPECT_EQ(table.get_attribute_index(nullptr), -1);
}

TEST(LasAttributeTable, InitFromRecordAndBorrowedArrays) {
  LASattributeDescriptor record[3] = {of_data_type(2), of_data_type(9), of_data_type(40)};
  LASattributeTable owner;
  ASSERT_TRUE(owner.init_attributes(3, record));
  EXPECT_TRUE(owner.owns_arrays);
  EXPECT_NE(owner.attributes, record);
  EXPECT_EQ(owner.attribute_starts[1], 1);
  EXPECT_EQ(owner.attribute_starts[2], 5);
  EXPECT_EQ(owner.attribute_sizes[2], 0);

  // A table that only borrows its arrays (after a header take-over) must leave
  // them alone when it grows or is cleaned.
  LASattributeTable borrower;
  borrower.number_of_attributes = owner.number_of_attributes;
  borrower.attributes = owner.attributes;
  borrower.attribute_starts = owner.attribute_starts;
  borrower.attribute_sizes = owner.attribute_sizes;
  EXPECT_EQ(borrower.add_attribute(of_data_type(1)), 3);
  EXPECT_TRUE(borrower.owns_arrays);
  EXPECT_NE(borrower.attributes, owner.attributes);
  EXPECT_EQ(owner.attributes[0].data_type, 2);
  EXPECT_TRUE(owner.init_attributes(0, nullptr));
  EXPECT_EQ(owner.number_of_attributes, 0);
}

TEST(LasQuantize, HalvesAwayFromZeroAndDefinedOutsideTheRange) {
  struct Case {
    F64 value, offset, scale;
    I64 expected;
  } cases[] = {
      {0.25, 0.0, 0.5, 1},   {-0.25, 0.0, 0.5, -1},   {0.75, 0.0, 0.5, 2},     {-0.75, 0.0, 0.5, -2},
      {0.2, 0.0, 0.5, 0},    {-0.2, 0.0, 0.5, 0},     {99.75, 100.0, 0.5, -1}, {100.25, 100.0, 0.5, 1},
      {1.0, 0.0, 0.001, 1000}, {1e300, 0.0, 1.0, INT64_MIN}, {-1e300, 0.0, 1.0, INT64_MIN},
      {std::numeric_limits<F64>::quiet_NaN(), 0.0, 1.0, INT64_MIN},
  };
  for (const Case& c : cases)
    EXPECT_EQ(las_quantize(c.value, c.offset, c.scale), c.expected) << c.value << " " << c.offset << " " << c.scale;
  EXPECT_EQ(las_round_i64(2.5), 3);
  EXPECT_EQ(las_round_i64(-2.5), -3);
  EXPECT_EQ(las_f64_to_i32(3e9), I32_MIN);
  EXPECT_EQ(las_f64_to_i32(-2147483648.9), I32_MIN);
  EXPECT_EQ(las_f64_to_i32(2147483647.9), I32_MAX);
}

// The half follows value against offset (not the quotient's sign, so also for
// a negative scale), on both sides of the offset, at zeros of either sign,
// infinities and NaN: the quantisation without a branch gives what the rule
// written with one gives.
TEST(LasQuantize, TheHalfFollowsValueAgainstOffset) {
  auto rule = [](F64 value, F64 offset, F64 scale) {
    const F64 n = (value - offset) / scale;
    return las_f64_to_i64(value >= offset ? n + 0.5 : n - 0.5);
  };
  const F64 inf = std::numeric_limits<F64>::infinity();
  std::vector<F64> values = {0.0, -0.0, 1e-310, -1e-310, 0.005, -0.005, 0.015, 2.5, -2.5, 1e300, -1e300, inf, -inf,
                             std::numeric_limits<F64>::quiet_NaN()};
  std::mt19937_64 random(11);
  std::uniform_real_distribution<F64> any(-1e4, 1e4);
  for (int k = 0; k < 2000; k++) values.push_back(std::round(any(random) * 200.0) / 400.0);  // many exact halves
  for (F64 scale : {0.01, -0.01, 0.5, 1e-7}) {
    for (F64 offset : {0.0, -0.0, 0.005, -100.0, inf}) {
      for (F64 value : values) {
        EXPECT_EQ(las_quantize(value, offset, scale), rule(value, offset, scale)) << value << " " << offset << " " << scale;
      }
    }
  }
}

}  // namespace
