// The operations beyond translation and scaling: the messages of their
// options, their option text, the extra-bytes attribute operations with the
// store rule by data type, the random raw move, raw operations on a z
// attribute, and the choice of offsets under offset adjustment with the
// re-quantisation of every point.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "core/lasreadopener.hpp"
#include "support/arg_vector.hpp"
#include "support/transform_points.hpp"
#include "transforms/lasoperation.hpp"

namespace {

class LasOperationTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

// ------------------------------------------------------------------ options

TEST_F(LasOperationTest, RefusedOptionsNameTheirArguments) {
  const struct {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-rotate_xy", "1", "2"}, "'-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y"},
      {{"-rotate_xy", "abc", "1", "2"},
       "'-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 'abc' is no valid angle"},
      {{"-rotate_xy", "0", "x", "2"},
       "'-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 0 is no valid angle"},
      {{"-rotate_xz", "0", "1", "2"},
       "'-rotate_xz' needs 3 arguments: angle rot_center_x rot_center_z but 0 is no valid angle"},
      {{"-rotate_yz", "0", "1", "2"},
       "'-rotate_yz' needs 3 arguments: angle rot_center_y rot_center_z but 0 is no valid angle"},
      {{"-rotate_xy", "15", "x", "2"},
       "'-rotate_xy' needs 3 arguments: angle rot_center_x rot_center_y but 'x' is no valid rot_center_x"},
      {{"-rotate_yz", "15", "1", "y"},
       "'-rotate_yz' needs 3 arguments: angle rot_center_y rot_center_z but 'y' is no valid rot_center_z"},
      {{"-transform_helmert"}, "'-transform_helmert' needs 1 argument: 3 or 7 comma separated parameters"},
      {{"-transform_helmert", "1,2,3,4"}, "'-transform_helmert' needs 3 or 7 comma separated parameters as argument"},
      {{"-transform_helmert", "1,2,3,4,5,6,7,8"},
       "'-transform_helmert' needs 3 or 7 comma separated parameters as argument"},
      {{"-transform_helmert", "1,2,x"}, "'-transform_helmert' needs 3 or 7 comma separated parameters as argument"},
      {{"-transform_helmert", "1,2,3,"}, "'-transform_helmert' needs 3 or 7 comma separated parameters as argument"},
      {{"-transform_affine"}, "'-transform_affine' needs 1 argument: 4 comma separated parameters"},
      {{"-transform_affine", "1,2,3"}, "'-transform_affine' needs 4 comma separated parameters as argument"},
      {{"-transform_matrix", "1,0,0", "0,1,0", "0,0,1"},
       "'-transform_matrix' needs 4 arguments: 4 x 3 comma separated values"},
      {{"-transform_matrix", "1,0,0,0", "0,1,0", "0,0,1", "0,0,0"},
       "'-transform_matrix' needs 4 arguments: 4 x 3 comma separated values"},
      {{"-transform_matrix", "1,0,0", "0,1,0", "0,0,1", "0,0"},
       "'-transform_matrix' needs 4 arguments: 4 x 3 comma separated values"},
      {{"-clamp_z", "1"}, "'-clamp_z' needs 2 arguments: below above"},
      {{"-clamp_z", "a", "1"}, "'-clamp_z' needs 2 arguments: below above but 'a' is no valid below value"},
      {{"-clamp_z", "1", "b"}, "'-clamp_z' needs 2 arguments: below above but 'b' is no valid above value"},
      {{"-clamp_z_below"}, "'-clamp_z_below' needs 1 argument: below"},
      {{"-clamp_z_below", "b"}, "'-clamp_z_below' needs 1 argument: below but 'b' is no valid below value"},
      {{"-clamp_z_above", "a"}, "'-clamp_z_above' needs 1 argument: above but 'a' is no valid above value"},
      {{"-clamp_raw_z", "1.5", "2"}, "'-clamp_raw_z' needs 2 arguments: below above but '1.5' is no valid below value"},
      {{"-translate_raw_x", "x"}, "'-translate_raw_x' needs 1 argument: raw_offset but 'x' is no valid raw_offset"},
      {{"-translate_raw_xyz", "1", "2", "z"},
       "'-translate_raw_xyz' needs 3 arguments: raw_offset_x raw_offset_y raw_offset_z but 'z' is no valid "
       "raw_offset_z"},
      {{"-translate_raw_xy_at_random", "1"},
       "'-translate_raw_xy_at_random' needs 2 arguments: max_raw_offset_x max_raw_offset_y"},
      {{"-set_attribute", "-1", "2"}, "'-set_attribute' needs 2 arguments: index value but '-1' is no valid index"},
      {{"-set_attribute", "0", "v"}, "'-set_attribute' needs 2 arguments: index value but 'v' is no valid value"},
      {{"-scale_attribute", "0", "s"}, "'-scale_attribute' needs 2 arguments: index scale but 's' is no valid scale"},
      {{"-translate_attribute", "0", "o"},
       "'-translate_attribute' needs 2 arguments: index offset but 'o' is no valid offset"},
      {{"-copy_attribute_into_intensity"}, "'-copy_attribute_into_intensity' needs 1 argument: index of attribute"},
      {{"-copy_attribute_into_I", "x"},
       "'-copy_attribute_into_I' needs 1 argument: index of attribute but 'x' is no valid index"},
      {{"-copy_user_data_into_attribute"}, "'-copy_user_data_into_attribute' needs 1 argument: index"},
      {{"-copy_intensity_into_attribute", "i"},
       "'-copy_intensity_into_attribute' needs 1 argument: index but 'i' is no valid index"},
      {{"-add_scaled_attribute_to_user_data", "0", "x"},
       "'-add_scaled_attribute_to_user_data' needs 2 arguments: index scale but 'x' is no valid scale"},
  };
  for (const auto& c : cases) expect_parse_refused(c.words, c.message);
}

// Every attribute option writes text that builds the same operation again;
// "-copy_attribute_into_I" is the NIR channel.
TEST_F(LasOperationTest, AttributeOptionsWriteTextThatParsesBack) {
  const struct {
    const char* options;
    const char* text;
  } cases[] = {
      {"-set_attribute 0 12.34", "-set_attribute 0 12.34 "},
      {"-set_attribute 1 0.1234567", "-set_attribute 1 0.1234567 "},
      {"-scale_attribute 2 1.5", "-scale_attribute 2 1.5 "},
      {"-translate_attribute 1 0.2", "-translate_attribute 1 0.200000 "},
      {"-copy_attribute_into_intensity 0", "-copy_attribute_into_intensity 0 "},
      {"-copy_attribute_into_point_source 3", "-copy_attribute_into_point_source 3 "},
      {"-copy_attribute_into_user_data 1", "-copy_attribute_into_user_data 1 "},
      {"-copy_attribute_into_R 0 -copy_attribute_into_G 1 -copy_attribute_into_B 2",
       "-copy_attribute_into_R 0 -copy_attribute_into_G 1 -copy_attribute_into_B 2 "},
      {"-copy_attribute_into_NIR 4", "-copy_attribute_into_NIR 4 "},
      {"-copy_attribute_into_I 4", "-copy_attribute_into_NIR 4 "},
      {"-copy_user_data_into_attribute 0", "-copy_user_data_into_attribute 0 "},
      {"-copy_intensity_into_attribute 5", "-copy_intensity_into_attribute 5 "},
      {"-add_scaled_attribute_to_user_data 0 10.0", "-add_scaled_attribute_to_user_data 0 10.000000 "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(c.options));
    EXPECT_EQ(text_of(transform), c.text);
    LAStransform again;
    ASSERT_TRUE(again.parse(text_of(transform).c_str()));
    EXPECT_EQ(text_of(again), c.text);
  }
}

// Large and many-digit matrices keep every digit in their text.
TEST_F(LasOperationTest, MatrixTextIsNotCut) {
  LAStransform transform;
  const std::string row = "123456789012345.5,-0.12345678901234,1e300";
  ASSERT_TRUE(transform.parse(("-transform_matrix " + row + " " + row + " " + row + " " + row).c_str()));
  const std::string text = text_of(transform);
  EXPECT_GT(text.size(), 330u);
  LAStransform again;
  ASSERT_TRUE(again.parse(text.c_str()));
  EXPECT_EQ(text_of(again), text);
  Points points;
  const Raw first = points.transformed(transform, {1, 2, 3});
  EXPECT_EQ(points.transformed(again, {1, 2, 3}), first);
}

// ------------------------------------------------------------------ attributes

// The stored integer: rounded half away from zero, unsigned types 0 below 0,
// the low bytes kept; beyond the range of the conversion a type saturates or
// stores 0 instead of leaving it to the compiler.
TEST(LasOperationAttributes, SetAttributeStoresByTheAttributesType) {
  const struct {
    U32 type;
    F64 scale;
    const char* value;
    U64 stored;  // the attribute's bytes as a little-endian number
    F64 read_back;
  } cases[] = {
      {LAS_ATTRIBUTE_U16, 0.1, "12.34", 123, 12.3},
      {LAS_ATTRIBUTE_U16, 0.1, "-1", 0, 0.0},
      {LAS_ATTRIBUTE_I8, 0.0, "-2.5", 0xFD, -3.0},
      {LAS_ATTRIBUTE_I8, 0.0, "2.5", 3, 3.0},
      {LAS_ATTRIBUTE_U8, 0.0, "300", 44, 44.0},
      {LAS_ATTRIBUTE_I8, 0.0, "200", 0xC8, -56.0},
      {LAS_ATTRIBUTE_U8, 0.0, "3e9", 0, 0.0},
      {LAS_ATTRIBUTE_I32, 0.0, "3e9", 0x7FFFFFFF, 2147483647.0},
      {LAS_ATTRIBUTE_I32, 0.0, "-3e9", 0x80000000, -2147483648.0},
      {LAS_ATTRIBUTE_U32, 0.0, "4294967303", 7, 7.0},
      {LAS_ATTRIBUTE_I64, 0.0, "1e20", 0x7FFFFFFFFFFFFFFF, 9223372036854775807.0},
      {LAS_ATTRIBUTE_I64, 0.0, "-1e20", 0x8000000000000000, -9223372036854775808.0},
      {LAS_ATTRIBUTE_U64, 0.0, "1e20", 0xFFFFFFFFFFFFFFFF, -1.0},
      {LAS_ATTRIBUTE_F32, 0.0, "0.5", 0x3F000000, 0.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " value " << c.value);
    AttributePoint a({attribute(c.type, c.scale)});
    a.run((std::string("-set_attribute 0 ") + c.value).c_str());
    const int size = a.points.table.attributes[0].get_value_size();
    EXPECT_EQ(a.stored(0, size), c.stored);
    EXPECT_DOUBLE_EQ(a.point->get_attribute_as_float(0), c.read_back);
  }
}

TEST(LasOperationAttributes, NaNStoresZeroInEveryIntegerType) {
  for (U32 type = LAS_ATTRIBUTE_U8; type <= LAS_ATTRIBUTE_I64; type++) {
    SCOPED_TRACE(type);
    AttributePoint a({attribute(type)});
    memset(a.point->extra_bytes, 0x5A, a.point->extra_bytes_count);
    store_attribute_value(a.point, 0, std::numeric_limits<F64>::quiet_NaN());
    EXPECT_EQ(a.stored(0, a.points.table.attributes[0].get_value_size()), 0u);
  }
}

// Scale and translate change a present attribute only; an index the point
// does not have, or opaque bytes that are not 8 long, are never written.
TEST(LasOperationAttributes, ScaleAndTranslateChangeOnlyPresentAttributes) {
  LASattributeDescriptor opaque8, opaque12;
  opaque8.options = 8;
  opaque12.options = 12;
  AttributePoint a({attribute(LAS_ATTRIBUTE_F32), attribute(LAS_ATTRIBUTE_I32, 0.01), opaque8, opaque12});
  ASSERT_TRUE(a.point->set_attribute_as_float(0, 1.5));
  ASSERT_TRUE(a.point->set_attribute_as_float(1, 10.0));
  ASSERT_EQ(a.stored(1, 4), 1000u);
  a.run("-scale_attribute 0 2 -translate_attribute 1 0.5 -set_attribute 2 2.25");
  EXPECT_EQ(a.point->get_attribute_as_float(0), 3.0);
  EXPECT_EQ(a.stored(1, 4), 1050u);
  EXPECT_EQ(a.point->get_attribute_as_float(2), 2.25);

  const std::vector<U8> before(a.point->extra_bytes, a.point->extra_bytes + a.point->extra_bytes_count);
  a.run("-set_attribute 3 7 -scale_attribute 4 2 -translate_attribute 4 1 -set_attribute 4294967295 1");
  EXPECT_EQ(std::vector<U8>(a.point->extra_bytes, a.point->extra_bytes + a.point->extra_bytes_count), before);
  EXPECT_EQ(a.point->get_attribute_as_float(3), 0.0);
}

// Copies out of an attribute limit the value to the field; an absent
// attribute and NaN give 0.
TEST(LasOperationAttributes, CopiesIntoFieldsAreLimitedToTheField) {
  const char* copies =
      "-copy_attribute_into_intensity 0 -copy_attribute_into_point_source 0 -copy_attribute_into_user_data 0 "
      "-copy_attribute_into_R 0 -copy_attribute_into_G 0 -copy_attribute_into_B 0 -copy_attribute_into_I 0";
  const struct {
    F64 value;
    U16 wide;  // intensity, point source and colours
    U8 user_data;
  } cases[] = {
      {1e6, 65535, 255}, {12.9, 12, 12}, {-3.0, 0, 0}, {300.0, 300, 255}, {std::numeric_limits<F64>::quiet_NaN(), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    AttributePoint a({attribute(LAS_ATTRIBUTE_F64)});
    ASSERT_TRUE(a.point->set_attribute_as_float(0, c.value));
    a.run(copies);
    EXPECT_EQ(a.point->intensity, c.wide);
    EXPECT_EQ(a.point->point_source_ID, c.wide);
    EXPECT_EQ(a.point->user_data, c.user_data);
    for (int k = 0; k < 4; k++) EXPECT_EQ(a.point->rgb[k], c.wide) << k;
  }
  AttributePoint absent(std::vector<LASattributeDescriptor>{});
  absent.point->intensity = 7;
  absent.point->user_data = 7;
  absent.run("-copy_attribute_into_intensity 0 -copy_attribute_into_user_data 3");
  EXPECT_EQ(absent.point->intensity, 0);
  EXPECT_EQ(absent.point->user_data, 0);
}

TEST(LasOperationAttributes, FieldsCopiedIntoAttributesAndScaledSumsIntoUserData) {
  AttributePoint a({attribute(LAS_ATTRIBUTE_I8), attribute(LAS_ATTRIBUTE_U16, 0.1), attribute(LAS_ATTRIBUTE_F64)});
  a.point->user_data = 200;
  a.point->intensity = 300;
  a.run("-copy_user_data_into_attribute 0 -copy_intensity_into_attribute 1");
  EXPECT_EQ(a.stored(0, 1), 0xC8u);  // 200 as i8 is -56
  EXPECT_EQ(a.stored(1, 2), 3000u);

  // s = scale x attribute + user data; below 0 gives 0, above 255 keeps its low bits.
  const struct {
    F64 value;
    const char* scale;
    U8 user_data;
  } sums[] = {
      {100, "2", 4}, {100, "-1", 0}, {98, "2", 0}, {1e30, "1", 0}, {std::numeric_limits<F64>::quiet_NaN(), "1", 0}};
  for (const auto& s : sums) {
    SCOPED_TRACE(s.value);
    ASSERT_TRUE(a.point->set_attribute_as_float(2, s.value));
    a.point->user_data = 60;
    a.run((std::string("-add_scaled_attribute_to_user_data 2 ") + s.scale).c_str());
    EXPECT_EQ(a.point->user_data, s.user_data);
  }
}

// ------------------------------------------------------------------ raw moves

// The draws chain from seed 0: each pass from a reset moves the same points
// the same way, within the maxima, and nothing is counted.
TEST(LasOperationRaw, RandomMovesRepeatAfterAResetAndStayWithinTheMaxima) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_raw_xy_at_random 2 2"));
  Points points;
  auto pass = [&] {
    std::vector<Raw> moved;
    for (I32 k = 0; k < 200; k++) moved.push_back(points.transformed(transform, {1000 * k, -1000 * k, k}));
    return moved;
  };
  const std::vector<Raw> first = pass();
  transform.reset();
  EXPECT_EQ(pass(), first);

  bool extremes[2] = {false, false};
  for (I32 k = 0; k < 200; k++) {
    const I32 dx = first[k].X - 1000 * k, dy = first[k].Y + 1000 * k;
    EXPECT_LE(std::abs(dx), 2);
    EXPECT_LE(std::abs(dy), 2);
    EXPECT_EQ(first[k].Z, k);
    extremes[0] |= (dx == -2 || dy == -2);
    extremes[1] |= (dx == 2 || dy == 2);
  }
  EXPECT_TRUE(extremes[0] && extremes[1]);
  EXPECT_EQ(transform.op_list[0]->overflow_count, 0);

  // The first point's draw is the generator's first number from seed 0.
  srand(0);
  const U32 r = (U32)rand();
  EXPECT_EQ(first[0].X, (I32)((r >> 3) % 5) - 2);
  EXPECT_EQ(first[0].Y, (I32)((r >> 6) % 5) - 2);
}

// Raw operations read an attribute standing in for z re-quantised, and write
// the raw Z field; the world clamp writes the attribute.
TEST(LasOperationRaw, RawOperationsWriteTheRawZOfAPointWithAZAttribute) {
  AttributePoint a({attribute(LAS_ATTRIBUTE_F64)});
  a.points.scaling.z_from_attribute = 0;
  const struct {
    const char* options;
    Raw after;
    F64 attribute;
  } cases[] = {
      {"-switch_x_z", {123, 8, 5}, 1.23},
      {"-clamp_raw_z 500 800", {5, 8, 500}, 1.23},
      {"-translate_raw_z 20", {5, 8, 143}, 1.23},
      {"-clamp_z 2 3", {5, 8, 9}, 2.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    a.points.at({5, 8, 9});
    ASSERT_TRUE(a.point->set_attribute_as_float(0, 1.23));
    a.run(c.options);
    EXPECT_EQ(a.points.raw(), c.after);
    EXPECT_DOUBLE_EQ(a.point->get_attribute_as_float(0), c.attribute);
  }
}

// ------------------------------------------------------------------ offset adjustment

// A reader whose header is set by hand, and the opener it reports to.
struct Adjusted {
  Adjusted() : reader(&opener) {
    LASheader& h = reader.header;
    h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = 0.01;
    h.min_y = 0;
    h.max_y = 1;
    h.min_z = 0;
    h.max_z = 1;
  }
  void x_box(F64 min, F64 max, F64 scale, F64 offset = 0.0) {
    reader.header.min_x = min;
    reader.header.max_x = max;
    reader.header.x_scale_factor = scale;
    reader.header.x_offset = offset;
  }
  void adjust(const char* options, const F64* rescale = nullptr) {
    ASSERT_TRUE(transform.parse(options));
    transform.adjust_offset(&reader, rescale);
  }
  LASreadOpener opener;
  LASreaderLAS reader;
  LAStransform transform;
};

// The middle of the moved box in scale units, cut toward zero to a multiple
// of 1e7 units; no new offset (0) takes the header's for the first operation.
TEST(LasOffsetAdjustment, OffsetsAreTheMovedMiddleCutToTenMillionUnits) {
  const struct {
    const char* options;
    F64 min_x, max_x, scale, header_offset;
    F64 offset, moved_min_x, moved_max_x;
  } cases[] = {
      {"-translate_x 500", 0.1, 0.3, 0.00001, 0, 500, 500.1, 500.3},
      {"-set_attribute 0 1", 0.1, 0.3, 0.00001, 0.25, 0.25, 0.1, 0.3},
      {"-set_attribute 0 1", 600, 600.0002, 0.00001, 0, 600, 600, 600.0002},
      {"-translate_x 0.5", -250.5, -140.5, 0.00001, 0, -100, -250, -140},  // -1.95 cuts to -1
      {"-translate_x 500000", 1000, 1009, 0.01, 1000, 500000, 501000, 501009},
      {"-rotate_xy 180 0 0", 1e6, 1e6 + 9, 0.01, 1e6, -1e6, -1e6, -1e6 - 9},  // min and max as they come
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    Adjusted a;
    a.x_box(c.min_x, c.max_x, c.scale, c.header_offset);
    a.adjust(c.options);
    const LASoperation* op = a.transform.op_list[0].get();
    EXPECT_TRUE(op->offset_adjust);
    EXPECT_DOUBLE_EQ(op->target_offset[0], c.offset);
    EXPECT_DOUBLE_EQ(a.reader.header.x_offset, c.offset);
    ASSERT_NE(a.opener.get_offset(), nullptr);
    EXPECT_DOUBLE_EQ(a.opener.get_offset()[0], c.offset);
    EXPECT_NEAR(a.reader.header.min_x, c.moved_min_x, 1e-9);
    EXPECT_NEAR(a.reader.header.max_x, c.moved_max_x, 1e-9);
    EXPECT_EQ(op->bbox_header, nullptr);
  }
}

// Every operation writes in the rescale factors; a factor of 0 keeps the
// header's scale on that axis.
TEST(LasOffsetAdjustment, RescaleFactorsAreTheTargetScales) {
  for (const F64 z_factor : {0.001, 0.0}) {
    SCOPED_TRACE(z_factor);
    Adjusted a;
    a.x_box(0, 10, 0.01);
    const F64 rescale[3] = {0.001, 0.001, z_factor};
    a.adjust("-translate_x 1 -translate_y 1", rescale);
    const F64 z_scale = z_factor != 0.0 ? z_factor : 0.01;
    for (U32 i = 0; i < 2; i++) {
      const LASoperation* op = a.transform.op_list[i].get();
      EXPECT_EQ(op->target_scale[0], 0.001);
      EXPECT_EQ(op->target_scale[2], z_scale);
    }
    EXPECT_EQ(a.transform.op_list[0]->source_scale[0], 0.01);
    EXPECT_EQ(a.transform.op_list[1]->source_scale[0], 0.001);
    EXPECT_EQ(a.reader.header.x_scale_factor, 0.001);
    EXPECT_EQ(a.reader.header.z_scale_factor, z_scale);
    ASSERT_NE(a.opener.get_scale_factor(), nullptr);
    EXPECT_EQ(a.opener.get_scale_factor()[2], z_factor);
  }
}

// Stands for an operation whose effect on coordinates depends on the point.
class Refusing : public LASoperation {
 public:
  const char* name() const override { return "refusing"; }
  I32 get_command(std::string& text) const override {
    return las_operation_text_size(text, las_operation_text(text, name()));
  }
  F64* transform_coords_for_offset_adjustment(F64, F64, F64) override { return nullptr; }
  void transform(LASpoint* point) override { point->X += 1; }
};

TEST(LasOffsetAdjustment, ARefusingOperationLeavesTheHeaderAsItWas) {
  Adjusted a;
  a.x_box(600, 600.0002, 0.00001, 7);
  a.transform.add_operation(new Refusing());
  a.transform.adjust_offset(&a.reader, nullptr);
  EXPECT_EQ(a.reader.header.x_offset, 7);
  EXPECT_EQ(a.reader.header.min_x, 600);
  EXPECT_EQ(a.reader.header.max_x, 600.0002);
  EXPECT_EQ(a.reader.header.x_scale_factor, 0.00001);
  EXPECT_TRUE(a.transform.op_list[0]->offset_adjust);

  // Without a read opener the operations are set and the header is not.
  LASreaderLAS alone(nullptr);
  alone.header.max_x = 1e6;
  alone.header.max_y = alone.header.max_z = 1;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-translate_x 1e6"));
  transform.adjust_offset(&alone, nullptr);
  EXPECT_EQ(transform.op_list[0]->target_offset[0], 1500000);
  EXPECT_EQ(alone.header.x_offset, 0);
}

// The points come out in the adjusted offsets: a move of x re-quantises y and
// z as well, a second operation reads what the first wrote, and a value that
// does not fit 32 bits keeps its old raw value and counts once.
TEST(LasOffsetAdjustment, PointsAreWrittenInTheAdjustedOffsets) {
  Adjusted a;
  a.x_box(0.1, 0.3, 0.00001);
  a.reader.header.min_y = 2e5;
  a.reader.header.max_y = 2e5 + 1;  // middle 2.000005e7 units: y offset 2e5
  a.adjust("-translate_x 500 -translate_x 500");
  EXPECT_DOUBLE_EQ(a.transform.op_list[1]->source_offset[0], 500);
  EXPECT_DOUBLE_EQ(a.transform.op_list[1]->target_offset[0], 1000);
  EXPECT_DOUBLE_EQ(a.reader.header.y_offset, 2e5);

  // The point as read, in the file's quantisation: x = 0.2, y = 2e5 + 0.5, z = 0.37.
  LASscaling file;
  file.x_scale_factor = 0.00001;
  LASpoint point;
  ASSERT_TRUE(point.init(&file, nullptr, (U8)0, (U16)20));
  point.X = 20000;
  point.Y = 20000050;
  point.Z = 37;
  a.transform.transform(&point);
  EXPECT_EQ(point.X, 20000);  // x = 1000.2 in offset 1000
  EXPECT_EQ(point.Y, 50);
  EXPECT_EQ(point.Z, 37);

  Adjusted b;
  b.x_box(0, 0.1, 0.00001);
  b.adjust("-scale_x 2");
  point.X = 2000000000;  // x = 2e4 becomes 4e4: 4e9 units
  point.Y = 20000050;
  b.transform.transform(&point);
  EXPECT_EQ(point.X, 2000000000);
  EXPECT_EQ(point.Y, 20000050);
  EXPECT_EQ(b.transform.op_list[0]->overflow_count, 1);
}

// A box flat in z cannot be moved corner by corner: the points widen it.
TEST(LasOffsetAdjustment, AFlatBoxIsWidenedByThePoints) {
  Adjusted a;
  a.x_box(0, 1, 0.01);
  a.reader.header.min_z = a.reader.header.max_z = 5;
  a.adjust("-translate_z 1");
  EXPECT_EQ(a.transform.op_list[0]->bbox_header, &a.reader.header);
  LASpoint point;
  ASSERT_TRUE(point.init(&a.reader.header, nullptr, (U8)0, (U16)20));
  point.Z = 900;  // z = 9 as read, 10 moved
  a.transform.transform(&point);
  EXPECT_EQ(a.reader.header.max_z, 10);
  EXPECT_EQ(a.reader.header.min_z, 6);
}

}  // namespace
