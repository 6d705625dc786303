// The operations on classification, flags, returns, user data and point
// source: what each does to a point of the older formats and to an extended
// point, the option text it writes and parses back from, the fields it asks
// to be decoded, the messages of refused values, the map files, and how the
// coordinates follow offset adjustment.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "support/arg_vector.hpp"
#include "support/halting_off.hpp"
#include "support/temp_dir.hpp"
#include "support/test_name.hpp"
#include "support/transform_check.hpp"
#include "transforms/lastransform.hpp"

namespace {

// The fields these operations read and write.
struct Fields {
  I32 X, Y, Z;
  U16 intensity;
  U8 return_byte, class_byte, user_data;
  U16 point_source_ID;
  U8 extended_flags_byte, extended_classification, extended_return_byte;
  bool operator==(const Fields&) const = default;
};

void PrintTo(const Fields& f, std::ostream* os) {
  *os << "XYZ " << f.X << " " << f.Y << " " << f.Z << ", intensity " << f.intensity << ", returns 0x" << std::hex
      << (int)f.return_byte << ", class 0x" << (int)f.class_byte << std::dec << ", user " << (int)f.user_data
      << ", psid " << f.point_source_ID << ", ext flags 0x" << std::hex << (int)f.extended_flags_byte << std::dec
      << ", ext class " << (int)f.extended_classification << ", ext returns 0x" << std::hex
      << (int)f.extended_return_byte << std::dec;
}

Fields fields_of(const LASpoint& p) {
  return {p.X,
          p.Y,
          p.Z,
          p.intensity,
          p.return_byte,
          p.class_byte,
          p.user_data,
          p.point_source_ID,
          p.extended_flags_byte,
          p.extended_classification,
          p.extended_return_byte};
}

using Edit = std::function<void(LASpoint&)>;

// A point of format 1 (legacy) or 6 (extended) on a z scale of 0.01, with one
// attribute, a double, in its extra bytes.
class FieldPoint {
 public:
  explicit FieldPoint(U8 format) {
    LASattributeDescriptor value(LAS_ATTRIBUTE_F64, "value");
    EXPECT_EQ(table.add_attribute(value), 0);
    EXPECT_TRUE(point.init(&scaling, &table, format, (U16)((format == 6 ? 30 : 28) + 8)));
  }
  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
};

struct FieldCase {
  const char* name;
  const char* options;
  U8 format;  // 1 legacy, 6 extended
  Edit before;
  Edit changes;  // what the options change, done by hand
  const char* text;
  U32 mask;
};

void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

void none(LASpoint&) {}

// Shorthands for the cases.
Edit legacy_class(U8 c) {
  return [c](LASpoint& p) {
    p.set_classification(c);
    p.extended_classification = c;
  };
}
Edit extended_class(U8 c) {
  return [c](LASpoint& p) {
    p.extended_classification = c;
    p.set_classification(c <= 31 ? c : 0);
  };
}
Edit z_at(I32 z) {
  return [z](LASpoint& p) { p.Z = z; };
}
Edit returns(U8 r, U8 n) {
  return [r, n](LASpoint& p) {
    p.set_return_number(r);
    p.set_number_of_returns(n);
  };
}

const FieldCase field_cases[] = {
    // classification
    {"set 40 leaves a legacy point", "-set_classification 40", 1, legacy_class(2), none, "-set_classification 40 ", 0},
    {"set 40 on an extended point", "-set_classification 40", 6, extended_class(2),
     [](LASpoint& p) {
       p.extended_classification = 40;
       p.set_classification(0);
     },
     "-set_classification 40 ", 0},
    {"set extended 7 on a legacy point keeps the flags", "-set_extended_classification 7", 1,
     [](LASpoint& p) { p.class_byte = 0xE2; },
     [](LASpoint& p) {
       p.class_byte = 0xE7;
       p.extended_classification = 7;
     },
     "-set_classification 7 ", 0},
    {"a word that begins with the option", "-set_classificationX 3", 6, none,
     [](LASpoint& p) {
       p.extended_classification = 3;
       p.set_classification(3);
     },
     "-set_classification 3 ", 0},
    {"change 2 to 40 leaves a legacy point", "-change_class_from_to 2 40", 1, legacy_class(2), none,
     "-change_classification_from_to 2 40 ", LAS_SELECTIVE_CLASSIFICATION},
    {"change 2 to 40 on an extended point", "-change_extended_class_from_to 2 40", 6, extended_class(2),
     extended_class(40), "-change_classification_from_to 2 40 ", LAS_SELECTIVE_CLASSIFICATION},
    {"change 3 to 5", "-change_classification_from_to 3 5", 1, legacy_class(3), legacy_class(5),
     "-change_classification_from_to 3 5 ", LAS_SELECTIVE_CLASSIFICATION},
    {"change of another class", "-change_extended_classification_from_to 4 5", 6, extended_class(3), none,
     "-change_classification_from_to 4 5 ", LAS_SELECTIVE_CLASSIFICATION},
    {"ancient flags become the upper class bits", "-move_ancient_to_extended_classification", 6,
     [](LASpoint& p) {
       p.class_byte = 0xA2;
       p.extended_classification = 2;
       p.set_extended_classification_flags(1 | 4 | 8);
       p.set_extended_scanner_channel(3);
     },
     [](LASpoint& p) {
       p.class_byte = 0;
       p.extended_classification = 162;
       p.set_extended_classification_flags(8);
     },
     "-move_ancient_to_extended_classification ", LAS_SELECTIVE_CLASSIFICATION | LAS_SELECTIVE_FLAGS},
    {"ancient flags of a legacy point are cleared", "-move_ancient_to_extended_classification", 1,
     [](LASpoint& p) {
       p.class_byte = 0xA2;
       p.extended_classification = 2;
     },
     [](LASpoint& p) { p.class_byte = 0x02; }, "-move_ancient_to_extended_classification ",
     LAS_SELECTIVE_CLASSIFICATION | LAS_SELECTIVE_FLAGS},
    {"intensity 7 into a legacy class", "-copy_intensity_into_classification", 1, [](LASpoint& p) { p.intensity = 7; },
     legacy_class(7), "-copy_intensity_into_classification ", LAS_SELECTIVE_INTENSITY},
    {"intensity 40 leaves a legacy point", "-copy_intensity_into_classification", 1,
     [](LASpoint& p) { p.intensity = 40; }, none, "-copy_intensity_into_classification ", LAS_SELECTIVE_INTENSITY},
    {"intensity 300 gives class 44", "-copy_intensity_into_classification", 6, [](LASpoint& p) { p.intensity = 300; },
     extended_class(44), "-copy_intensity_into_classification ", LAS_SELECTIVE_INTENSITY},
    {"user data into the class", "-copy_user_data_into_classification", 6, [](LASpoint& p) { p.user_data = 200; },
     extended_class(200), "-copy_user_data_into_classification ", LAS_SELECTIVE_USER_DATA},

    // classify by threshold: z = Z / 100
    {"z below is strict", "-classify_z_below_as 5.0 7", 6, z_at(500), none, "-classify_z_below_as 5.000000 7 ",
     LAS_SELECTIVE_Z},
    {"z below", "-classify_z_below_as -5 7", 6, z_at(-501), extended_class(7), "-classify_z_below_as -5.000000 7 ",
     LAS_SELECTIVE_Z},
    {"z between includes the lower bound", "-classify_z_between_as 5 6 3", 6, z_at(500), extended_class(3),
     "-classify_z_between_as 5.000000 6.000000 3 ", LAS_SELECTIVE_Z},
    {"z between includes the upper bound", "-classify_z_between_as 5 6 3", 6, z_at(600), extended_class(3),
     "-classify_z_between_as 5.000000 6.000000 3 ", LAS_SELECTIVE_Z},
    {"z between, above it", "-classify_z_between_as 5 6 3", 6, z_at(601), none,
     "-classify_z_between_as 5.000000 6.000000 3 ", LAS_SELECTIVE_Z},
    {"z between reversed bounds", "-classify_z_between_as 6 5 3", 6, z_at(550), none,
     "-classify_z_between_as 6.000000 5.000000 3 ", LAS_SELECTIVE_Z},
    {"z above as 40 leaves a legacy point", "-classify_z_above_as 70 40", 1, z_at(7001), none,
     "-classify_z_above_as 70.000000 40 ", LAS_SELECTIVE_Z},
    {"z above as 40 on an extended point", "-classify_z_above_as 70 40", 6, z_at(7001), extended_class(40),
     "-classify_z_above_as 70.000000 40 ", LAS_SELECTIVE_Z},
    {"the last matching threshold decides", "-classify_z_below_as 10 3 -classify_z_below_as 10 4", 1, z_at(0),
     legacy_class(4), "-classify_z_below_as 10.000000 3 -classify_z_below_as 10.000000 4 ", LAS_SELECTIVE_Z},
    {"intensity above 200 at 201", "-classify_intensity_above_as 200 9", 1, [](LASpoint& p) { p.intensity = 201; },
     legacy_class(9), "-classify_intensity_above_as 200 9 ", LAS_SELECTIVE_INTENSITY},
    {"intensity above 200 at 200", "-classify_intensity_above_as 200 9", 1, [](LASpoint& p) { p.intensity = 200; },
     none, "-classify_intensity_above_as 200 9 ", LAS_SELECTIVE_INTENSITY},
    {"intensity below", "-classify_intensity_below_as 30 11", 1, [](LASpoint& p) { p.intensity = 29; },
     legacy_class(11), "-classify_intensity_below_as 30 11 ", LAS_SELECTIVE_INTENSITY},
    {"intensity between", "-classify_intensity_between_as 500 900 15", 1, [](LASpoint& p) { p.intensity = 900; },
     legacy_class(15), "-classify_intensity_between_as 500 900 15 ", LAS_SELECTIVE_INTENSITY},
    {"attribute above", "-classify_attribute_above_as 0 2 8", 1, [](LASpoint& p) { p.set_attribute_as_float(0, 2.5); },
     legacy_class(8), "-classify_attribute_above_as 0 2.000000 8 ", LAS_SELECTIVE_EXTRA_BYTES},
    {"attribute between", "-classify_attribute_between_as 0 2 3 8", 1,
     [](LASpoint& p) { p.set_attribute_as_float(0, 3.5); }, none,
     "-classify_attribute_between_as 0 2.000000 3.000000 8 ", LAS_SELECTIVE_EXTRA_BYTES},
    {"an absent attribute reads 0", "-classify_attribute_below_as 3 1.0 7", 1, none, legacy_class(7),
     "-classify_attribute_below_as 3 1.000000 7 ", LAS_SELECTIVE_EXTRA_BYTES},
    {"a NaN attribute lies nowhere", "-classify_attribute_below_as 0 1 7 -classify_attribute_above_as 0 1 7", 1,
     [](LASpoint& p) { p.set_attribute_as_float(0, std::nan("")); }, none,
     "-classify_attribute_below_as 0 1.000000 7 -classify_attribute_above_as 0 1.000000 7 ", LAS_SELECTIVE_EXTRA_BYTES},

    // flags and scanner channel
    {"withheld 0 clears both and keeps the others", "-set_withheld_flag 0", 6,
     [](LASpoint& p) {
       p.class_byte = 0xE0;
       p.set_extended_classification_flags(15);
     },
     [](LASpoint& p) {
       p.class_byte = 0x60;
       p.set_extended_classification_flags(1 | 2 | 8);
     },
     "-set_withheld_flag 0 ", 0},
    {"synthetic 1", "-set_synthetic_flag 1", 1, none,
     [](LASpoint& p) {
       p.class_byte = 0x20;
       p.set_extended_classification_flags(1);
     },
     "-set_synthetic_flag 1 ", 0},
    {"keypoint 1", "-set_keypoint_flag 1", 6, none,
     [](LASpoint& p) {
       p.class_byte = 0x40;
       p.set_extended_classification_flags(2);
     },
     "-set_keypoint_flag 1 ", 0},
    {"overlap only among the extended flags", "-set_overlap_flag 1", 1, none,
     [](LASpoint& p) { p.set_extended_classification_flags(8); }, "-set_overlap_flag 1 ", 0},
    {"extended overlap word", "-set_extended_overlap_flag 0", 6, [](LASpoint& p) { p.set_extended_overlap_flag(1); },
     [](LASpoint& p) { p.set_extended_overlap_flag(0); }, "-set_overlap_flag 0 ", 0},
    {"scan direction", "-set_scan_direction_flag 1", 1, none, [](LASpoint& p) { p.set_scan_direction_flag(1); },
     "-set_scan_direction_flag 1 ", 0},
    {"edge of flight line", "-set_edge_of_flight_line 1", 1, none, [](LASpoint& p) { p.set_edge_of_flight_line(1); },
     "-set_edge_of_flight_line 1 ", 0},
    {"scanner channel", "-set_extended_scanner_channel 2", 6, none,
     [](LASpoint& p) { p.set_extended_scanner_channel(2); }, "-set_scanner_channel 2 ", 0},
    {"user data 6 into the channel", "-copy_user_data_into_scanner_channel", 6, [](LASpoint& p) { p.user_data = 6; },
     [](LASpoint& p) { p.set_extended_scanner_channel(2); }, "-copy_user_data_into_scanner_channel ",
     LAS_SELECTIVE_USER_DATA},
    {"channel into the user data", "-copy_scanner_channel_into_user_data", 6,
     [](LASpoint& p) { p.set_extended_scanner_channel(3); }, [](LASpoint& p) { p.user_data = 3; },
     "-copy_scanner_channel_into_user_data ", 0},
    {"channel into the point source", "-copy_scanner_channel_into_point_source", 6,
     [](LASpoint& p) { p.set_extended_scanner_channel(1); }, [](LASpoint& p) { p.point_source_ID = 1; },
     "-copy_scanner_channel_into_point_source ", 0},
    {"merge loses the top bits", "-merge_scanner_channel_into_point_source", 6,
     [](LASpoint& p) {
       p.set_extended_scanner_channel(3);
       p.point_source_ID = 0x4001;
     },
     [](LASpoint& p) { p.point_source_ID = 7; }, "-merge_scanner_channel_into_point_source ",
     LAS_SELECTIVE_POINT_SOURCE},
    {"split", "-split_scanner_channel_from_point_source", 6, [](LASpoint& p) { p.point_source_ID = 7; },
     [](LASpoint& p) {
       p.set_extended_scanner_channel(3);
       p.point_source_ID = 1;
     },
     "-split_scanner_channel_from_point_source ", LAS_SELECTIVE_POINT_SOURCE},
    {"merge then split restores", "-merge_scanner_channel_into_point_source -split_scanner_channel_from_point_source",
     6,
     [](LASpoint& p) {
       p.set_extended_scanner_channel(2);
       p.point_source_ID = 16383;
     },
     none, "-merge_scanner_channel_into_point_source -split_scanner_channel_from_point_source ",
     LAS_SELECTIVE_POINT_SOURCE},

    // returns
    {"repair 0 of 0", "-repair_zero_returns", 1, returns(0, 0), returns(1, 1), "-repair_zero_returns ", 0},
    {"repair 2 of 0", "-repair_zero_returns", 1, returns(2, 0), returns(2, 1), "-repair_zero_returns ", 0},
    {"repair 0 of 3", "-repair_zero_returns", 1, returns(0, 3), returns(1, 3), "-repair_zero_returns ", 0},
    {"repair looks at the legacy fields only", "-repair_zero_returns", 6,
     [](LASpoint& p) { p.extended_return_byte = 0; }, none, "-repair_zero_returns ", 0},
    {"set return number", "-set_return_number 7", 1, none, [](LASpoint& p) { p.set_return_number(7); },
     "-set_return_number 7 ", 0},
    {"set the extended return number only", "-set_extended_return_number 10", 6, none,
     [](LASpoint& p) { p.set_extended_return_number(10); }, "-set_extended_return_number 10 ", 0},
    {"set number of returns", "-set_number_of_returns 5", 1, none, [](LASpoint& p) { p.set_number_of_returns(5); },
     "-set_number_of_returns 5 ", 0},
    {"set the extended number of returns", "-set_extended_number_of_returns 15", 6, none,
     [](LASpoint& p) { p.set_extended_number_of_returns(15); }, "-set_extended_number_of_returns 15 ", 0},
    {"change return number", "-change_return_number_from_to 2 1", 1, returns(2, 3), returns(1, 3),
     "-change_return_number_from_to 2 1 ", 0},
    {"change number of returns 0 to 2", "-change_number_of_returns_from_to 0 2", 1, returns(1, 0), returns(1, 2),
     "-change_number_of_returns_from_to 0 2 ", 0},
    {"change number of returns of another", "-change_number_of_returns_from_to 0 2", 1, returns(1, 3), none,
     "-change_number_of_returns_from_to 0 2 ", 0},
    {"change extended return number", "-change_extended_return_number_from_to 1 8", 6, none,
     [](LASpoint& p) { p.set_extended_return_number(8); }, "-change_extended_return_number_from_to 1 8 ", 0},
    {"change extended number of returns", "-change_extended_number_of_returns_from_to 8 10", 6,
     [](LASpoint& p) { p.set_extended_number_of_returns(8); },
     [](LASpoint& p) { p.set_extended_number_of_returns(10); }, "-change_extended_number_of_returns_from_to 8 10 ", 0},

    // user data and point source
    {"set user data", "-set_user_data 0", 1, [](LASpoint& p) { p.user_data = 9; }, [](LASpoint& p) { p.user_data = 0; },
     "-set_user_data 0 ", 0},
    {"scale user data to the top", "-scale_user_data 2.6", 1, [](LASpoint& p) { p.user_data = 100; },
     [](LASpoint& p) { p.user_data = 255; }, "-scale_user_data 2.6 ", LAS_SELECTIVE_USER_DATA},
    {"scale user data down", "-scale_user_data 0.333", 1, [](LASpoint& p) { p.user_data = 100; },
     [](LASpoint& p) { p.user_data = 33; }, "-scale_user_data 0.333 ", LAS_SELECTIVE_USER_DATA},
    {"scale user data below 0", "-scale_user_data -1", 1, [](LASpoint& p) { p.user_data = 100; },
     [](LASpoint& p) { p.user_data = 0; }, "-scale_user_data -1 ", LAS_SELECTIVE_USER_DATA},
    {"scale user data far beyond", "-scale_user_data 3e38", 1, [](LASpoint& p) { p.user_data = 200; },
     [](LASpoint& p) { p.user_data = 255; }, "-scale_user_data 3e+38 ", LAS_SELECTIVE_USER_DATA},
    {"change user data", "-change_user_data_from_to 23 26", 1, [](LASpoint& p) { p.user_data = 23; },
     [](LASpoint& p) { p.user_data = 26; }, "-change_user_data_from_to 23 26 ", LAS_SELECTIVE_USER_DATA},
    {"class into the user data", "-copy_classification_into_user_data", 6, extended_class(40),
     [](LASpoint& p) { p.user_data = 40; }, "-copy_classification_into_user_data ", LAS_SELECTIVE_CLASSIFICATION},
    {"set point source", "-set_point_source 500", 1, none, [](LASpoint& p) { p.point_source_ID = 500; },
     "-set_point_source 500 ", 0},
    {"change point source", "-change_point_source_from_to 1023 1024", 1, [](LASpoint& p) { p.point_source_ID = 1023; },
     [](LASpoint& p) { p.point_source_ID = 1024; }, "-change_point_source_from_to 1023 1024 ",
     LAS_SELECTIVE_POINT_SOURCE},
    {"extended class into the point source", "-copy_classification_into_point_source", 6, extended_class(40),
     [](LASpoint& p) { p.point_source_ID = 40; }, "-copy_classification_into_point_source ",
     LAS_SELECTIVE_CLASSIFICATION},
    {"legacy class without its flags into the point source", "-copy_classification_into_point_source", 1,
     [](LASpoint& p) { p.class_byte = 0x85; }, [](LASpoint& p) { p.point_source_ID = 5; },
     "-copy_classification_into_point_source ", LAS_SELECTIVE_CLASSIFICATION},
    {"user data into the point source", "-copy_user_data_into_point_source", 1, [](LASpoint& p) { p.user_data = 77; },
     [](LASpoint& p) { p.point_source_ID = 77; }, "-copy_user_data_into_point_source ", LAS_SELECTIVE_USER_DATA},
    {"bin of a negative Z is 0", "-bin_Z_into_point_source 100", 1, z_at(-250), none, "-bin_Z_into_point_source 100 ",
     LAS_SELECTIVE_Z},
    {"bin beyond the ID saturates", "-bin_Z_into_point_source 100", 1, z_at(9000000),
     [](LASpoint& p) { p.point_source_ID = 65535; }, "-bin_Z_into_point_source 100 ", LAS_SELECTIVE_Z},
    {"bin truncates", "-bin_Z_into_point_source 100", 1, z_at(250), [](LASpoint& p) { p.point_source_ID = 2; },
     "-bin_Z_into_point_source 100 ", LAS_SELECTIVE_Z},
    {"bin wider than 32-bit signed", "-bin_Z_into_point_source 4294967295", 1,
     [](LASpoint& p) {
       p.Z = I32_MAX;
       p.point_source_ID = 9;
     },
     [](LASpoint& p) { p.point_source_ID = 0; }, "-bin_Z_into_point_source 4294967295 ", LAS_SELECTIVE_Z},
};

class FieldOperations : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldOperations, ChangeThePointAndWriteTextThatParsesBack) {
  const FieldCase& c = GetParam();
  FieldPoint actual(c.format), expected(c.format);
  c.before(actual.point);
  c.before(expected.point);
  const Fields before = fields_of(actual.point);
  c.changes(expected.point);

  LAStransform transform;
  ASSERT_TRUE(transform.parse(c.options));
  transform.transform(&actual.point);
  EXPECT_EQ(fields_of(actual.point), fields_of(expected.point));
  const std::string text = text_of(transform);
  EXPECT_EQ(text, c.text);
  U32 mask = 0;
  for (U32 i = 0; i < transform.op_count; i++) mask |= transform.op_list[i]->get_decompress_selective();
  EXPECT_EQ(mask, c.mask);

  // Both parse forms rebuild an operation that writes the same text and
  // changes the point the same way.
  LAStransform from_text;
  ASSERT_TRUE(from_text.parse(text.c_str()));
  ArgVector args = ArgVector::from_text(text);
  LAStransform from_vector;
  ASSERT_TRUE(from_vector.parse(args.argc(), args.argv()));
  EXPECT_TRUE(args.remaining().empty());
  for (LAStransform* again : {&from_text, &from_vector}) {
    EXPECT_EQ(text_of(*again), text);
    FieldPoint point(c.format);
    c.before(point.point);
    ASSERT_EQ(fields_of(point.point), before);
    again->transform(&point.point);
    EXPECT_EQ(fields_of(point.point), fields_of(expected.point));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryOption, FieldOperations, ::testing::ValuesIn(field_cases),
                         [](const ::testing::TestParamInfo<FieldCase>& info) {
                           return test_name_of(info.param.name);
                         });

// Every operation here leaves coordinates alone and says so to offset adjustment.
TEST(FieldOperationsCoordinates, OffsetAdjustmentSeesTheCoordinatesUnchanged) {
  LAStransform transform;
  ASSERT_TRUE(
      transform.parse("-set_classification 2 -classify_z_below_as 1 2 -set_withheld_flag 1 -repair_zero_returns "
                      "-set_user_data 1 -bin_Z_into_point_source 10 -merge_scanner_channel_into_point_source"));
  for (U32 i = 0; i < transform.op_count; i++) {
    SCOPED_TRACE(transform.op_list[i]->name());
    F64* v = transform.op_list[i]->transform_coords_for_offset_adjustment(1.5, -2.5, 3.25);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], -2.5);
    EXPECT_EQ(v[2], 3.25);
    delete[] v;
  }
}

// Under offset adjustment the point moves into the operation's target
// quantisation before the field changes; z tests and z bins use the point as
// it came, and a coordinate that does not fit keeps its raw value.
TEST(FieldOperationsCoordinates, OffsetAdjustmentRequantisesThePoint) {
  struct Case {
    const char* options;
    Edit changes;
  } cases[] = {
      {"-set_user_data 5", [](LASpoint& p) { p.user_data = 5; }},
      // z arrives as 300 * 0.01 + 1000 = 1003: below 1003.5, in bin 300 / 100.
      {"-classify_z_below_as 1003.5 6",
       [](LASpoint& p) {
         p.set_classification(6);
         p.extended_classification = 6;
       }},
      {"-classify_z_below_as 1002.5 6", [](LASpoint&) {}},
      {"-bin_Z_into_point_source 100", [](LASpoint& p) { p.point_source_ID = 3; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(c.options));
    LASoperation& op = *transform.op_list[0];
    LASheader box;
    box.min_x = box.max_x = 1000.0;
    box.min_y = box.max_y = 1000.0;
    box.min_z = box.max_z = 1003.0;
    adjust_offsets(op, box);

    FieldPoint point(1);
    point.point.X = 100;   // 1001, in the target (1001 - 900) / 0.001 = 101000
    point.point.Y = -200;  // 998 -> 98000
    point.point.Z = 300;   // 1003 -> 103000
    FieldPoint expected(1);
    expected.point.X = 101000;
    expected.point.Y = 98000;
    expected.point.Z = 103000;
    c.changes(expected.point);
    transform.transform(&point.point);
    EXPECT_EQ(fields_of(point.point), fields_of(expected.point));
    EXPECT_EQ(op.overflow_count, 0);
    EXPECT_EQ(box.max_x, 1001.0);
    EXPECT_EQ(box.min_y, 998.0);

    // 1e7 away from the target offset is beyond 32 bits at 0.001: X stays.
    point.point.X = 1000000000;
    transform.transform(&point.point);
    EXPECT_EQ(point.point.X, 1000000000);
    EXPECT_EQ(op.overflow_count, 1);
  }
}

// ------------------------------------------------------------------ messages

using FieldOptionErrors = HaltingOff<>;

// Refused values: the message, no operation built, nothing after it taken.
TEST_F(FieldOptionErrors, RefusedValuesNameTheirOption) {
  const struct {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-set_classification"}, "'-set_classification' needs 1 argument: classification"},
      {{"-set_classification", "x"},
       "'-set_classification' needs 1 argument: classification but 'x' is no valid classification"},
      {{"-set_classification", "256"}, "cannot set classification because classification of 256 is larger than 255"},
      {{"-set_extended_classification", "-1"},
       "'-set_extended_classification' needs 1 argument: classification but '-1' is no valid classification"},
      {{"-change_class_from_to", "1"}, "'-change_class_from_to' needs 2 arguments: from_value to_value"},
      {{"-change_class_from_to", "a", "1"},
       "'-change_class_from_to' needs 2 arguments: from_value to_value but 'a' is no valid from_value"},
      // The from_value's range is checked before the to_value is read.
      {{"-change_class_from_to", "300", "abc"},
       "cannot change classification because from_value 300 is larger than 255"},
      {{"-change_classification_from_to", "3", "abc"},
       "'-change_classification_from_to' needs 2 arguments: from_value to_value but 'abc' is no valid to_value"},
      {{"-change_extended_class_from_to", "3", "256"},
       "cannot change classification because to_value 256 is larger than 255"},
      // Threshold options read all their words first.
      {{"-classify_z_below_as", "x", "300"},
       "'-classify_z_below_as' needs 2 arguments: z_value classification but 'x' is no valid z_value"},
      {{"-classify_z_above_as", "1", "256"},
       "cannot classify z_value because classification of 256 is larger than 255"},
      {{"-classify_z_between_as", "1", "2"}, "'-classify_z_between_as' needs 3 arguments: z_min z_max classification"},
      {{"-classify_z_between_as", "1", "2", "999"},
       "cannot classify z_value because classification of 999 is larger than 255"},
      {{"-classify_intensity_below_as", "65536", "7"},
       "cannot classify intensity because value of 65536 is larger than 65535"},
      {{"-classify_intensity_above_as", "5", "x"},
       "'-classify_intensity_above_as' needs 2 arguments: value classification but 'x' is no valid classification"},
      {{"-classify_intensity_between_as", "1", "65536", "300"},
       "cannot classify intensity because max_value of 65536 is larger than 65535"},
      {{"-classify_intensity_between_as", "1", "2", "300"},
       "cannot classify intensity because classification of 300 is larger than 255"},
      {{"-classify_attribute_below_as", "0", "1", "256"},
       "cannot classify attribute below because classification of 256 is larger than 255"},
      {{"-classify_attribute_above_as", "0", "1", "256"},
       "cannot classify attribute above because classification of 256 is larger than 255"},
      {{"-classify_attribute_between_as", "0", "1", "2", "256"},
       "cannot classify attribute between because classification of 256 is larger than 255"},
      {{"-classify_attribute_between_as", "0", "1", "y", "2"},
       "'-classify_attribute_between_as' needs 4 arguments: attribute_index min max classification but 'y' is no "
       "valid max"},
      {{"-set_withheld_flag"}, "'-set_withheld_flag' need 1 argument: value"},
      {{"-set_withheld_flag", "2"}, "cannot set withheld flag because value 2 is larger than 1"},
      {{"-set_synthetic_flag", "2"}, "cannot set synthetic flag because value 2 is larger than 1"},
      {{"-set_keypoint_flag", "yes"}, "'-set_keypoint_flag' needs 1 argument: value but 'yes' is no valid flag"},
      {{"-set_extended_overlap_flag", "3"}, "cannot set overlap flag because value 3 is larger than 1"},
      {{"-set_scan_direction_flag", "2"}, "cannot set scan direction flag because value 2 is larger than 1"},
      {{"-set_edge_of_flight_line", "2"}, "cannot set edge of flight line because value 2 is larger than 1"},
      {{"-set_extended_scanner_channel", "4"}, "cannot set scanner channel because value 4 is larger than 3"},
      {{"-set_scanner_channel", "x"}, "'-set_scanner_channel' needs 1 argument: value but 'x' is no valid value"},
      {{"-set_return_number", "8"}, "cannot set return_number because 8 is larger than 7"},
      {{"-set_extended_return_number", "16"}, "cannot set extended_return_number because 16 is larger than 15"},
      {{"-set_number_of_returns", "x"},
       "'-set_number_of_returns' needs 1 argument: number_of_returns but 'x' is no valid number_of_returns"},
      {{"-set_extended_number_of_returns", "16"}, "cannot set extended_number_of_returns because 16 is larger than 15"},
      {{"-change_return_number_from_to", "1", "8"}, "cannot change return_number because to_value 8 is larger than 7"},
      {{"-change_extended_return_number_from_to", "16", "1"},
       "cannot change extended_return_number because from_value 16 is larger than 15"},
      {{"-change_number_of_returns_from_to", "8", "1"},
       "cannot change number_of_returns because from_value 8 is larger than 7"},
      {{"-change_extended_number_of_returns_from_to", "1", "16"},
       "cannot change extended_number_of_returns because to_value 16 is larger than 15"},
      {{"-set_user_data"}, "'-set_user_data' need 1 argument: value"},
      {{"-set_user_data", "x"}, "'-set_user_data' needs 1 argument: value but 'x' is no valid value"},
      {{"-set_user_data", "256"}, "cannot set user data because value 256 is larger than 255"},
      {{"-scale_user_data"}, "'-scale_user_data' needs 1 argument: scale"},
      {{"-scale_user_data", "nan"}, "'-scale_user_data' needs 1 argument: scale but 'nan' is no valid number"},
      {{"-change_user_data_from_to", "256", "1"}, "cannot change user data because from_value 256 is larger than 255"},
      {{"-map_user_data"}, "'-map_user_data' needs 1 argument: map_file_name.txt"},
      {{"-set_point_source"}, "'-set_point_source' need 1 argument: psid"},
      {{"-set_point_source", "x"}, "'-set_point_source' needs 1 argument: value but 'x' is no valid value"},
      {{"-set_point_source", "65536"}, "cannot set point source ID because value 65536 is larger than 65535"},
      {{"-change_point_source_from_to", "1", "65536"},
       "cannot change point source ID because to_value 65536 is larger than 65535"},
      {{"-bin_Z_into_point_source"}, "'-bin_Z_into_point_source' needs 1 argument: bin_size"},
      {{"-bin_Z_into_point_source", "-5"},
       "'-bin_Z_into_point_source' needs 1 argument: bin_size but '-5' is no valid bin_size"},
      {{"-bin_Z_into_point_source", "0"}, "0 is no valid bin_size for '-bin_Z_into_point_source'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words[0]);
    std::vector<std::string> words = c.words;
    const bool at_end = c.message.find(" need") != std::string::npos && c.message.find(" but ") == std::string::npos;
    if (!at_end) words.insert(words.end(), {"-set_user_data", "1"});
    ArgVector args(words);
    LAStransform transform;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(transform.parse(args.argc(), args.argv()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: " + c.message + "\n");
    EXPECT_EQ(transform.op_count, 0u);
    if (!at_end) {
      EXPECT_EQ(args.at((int)c.words.size() + 1), "-set_user_data");
    }
  }
}

// ------------------------------------------------------------------ maps

// The user data and point source a map leaves on points of every value.
std::vector<U32> mapped(LAStransform& transform, bool point_source, U32 count) {
  std::vector<U32> out;
  FieldPoint point(1);
  for (U32 v = 0; v < count; v++) {
    if (point_source) {
      point.point.point_source_ID = (U16)v;
    } else {
      point.point.user_data = (U8)v;
    }
    transform.transform(&point.point);
    out.push_back(point_source ? point.point.point_source_ID : point.point.user_data);
  }
  return out;
}

// Lines are "from to"; a later line wins, lines without two numbers of the
// field are passed over, and text behind the pair on a long line is not a
// line of its own.
TEST(FieldMaps, LinesOfTheFileRemapTheirValues) {
  TempDir dir;
  const std::string long_line = "1 2" + std::string(124, ' ') + "3 4\n";
  dir.write("user.txt", "5 7\n5 9\n300 1\n" + long_line +
                            "  +6\t8 words after\n10\n11 x\nx 12\n-13 1\n14 -1\n4294967296 1\n15,16\n"
                            "\n255 0\r\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(("-map_user_data " + dir.file("user.txt")).c_str()));
  std::vector<U32> expected;
  for (U32 v = 0; v < 256; v++) expected.push_back(v);
  expected[5] = 9;
  expected[1] = 2;
  expected[6] = 8;
  expected[255] = 0;
  EXPECT_EQ(mapped(transform, false, 256), expected);

  dir.write("source.txt", "1023 1024\n65535 0\n65536 1\n70000 2\n0 65535\n");
  LAStransform sources;
  ASSERT_TRUE(sources.parse(("-map_point_source " + dir.file("source.txt")).c_str()));
  std::vector<U32> expected_sources;
  for (U32 v = 0; v < 65536; v++) expected_sources.push_back(v);
  expected_sources[1023] = 1024;
  expected_sources[65535] = 0;
  expected_sources[0] = 65535;
  EXPECT_EQ(mapped(sources, true, 65536), expected_sources);
}

// The text names the file in quotes, and parses back to the same map, also
// for a name with blanks; the file is read while parsing, not per pass.
TEST(FieldMaps, OptionTextNamesTheFileAndParsesBack) {
  TempDir dir;
  const std::string name = dir.file("a map.txt");
  dir.write("a map.txt", "3 4\n");
  ArgVector args({"-map_point_source", name});
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  const std::string text = text_of(transform);
  EXPECT_EQ(text, "-map_point_source \"" + name + "\" ");
  EXPECT_EQ(transform.op_list[0]->get_decompress_selective(), LAS_SELECTIVE_POINT_SOURCE);

  LAStransform from_text;
  ASSERT_TRUE(from_text.parse(text.c_str()));
  EXPECT_EQ(text_of(from_text), text);
  EXPECT_EQ(mapped(from_text, true, 5), (std::vector<U32>{0, 1, 2, 4, 4}));

  dir.write("a map.txt", "3 5\n");
  transform.reset();
  EXPECT_EQ(mapped(transform, true, 5), (std::vector<U32>{0, 1, 2, 4, 4}));
}

using FieldMapErrors = HaltingOff<>;

// A directory opens but does not read: refused as well.
TEST_F(FieldMapErrors, AFileThatCannotBeReadIsRefused) {
  TempDir dir;
  const struct {
    const char* option;
    const char* prefix;
  } cases[] = {{"-map_user_data", "cannot "}, {"-map_point_source", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    for (const std::string& name : {dir.file("missing.txt"), dir.path()}) {
      ArgVector args({c.option, name, "-set_user_data", "1"});
      LAStransform transform;
      ::testing::internal::CaptureStderr();
      EXPECT_FALSE(transform.parse(args.argc(), args.argv()));
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string("ERROR: ") + c.prefix + "'" + c.option +
                                                              "' needs text file with map but '" + name +
                                                              "' cannot be opened\n");
      EXPECT_EQ(transform.op_count, 0u);
    }
  }
}

}  // namespace
