// The operations on intensity, colour, scan angle, GPS time and waveform:
// what each does to a point, its option text and the fields it asks to be
// decoded, the round trip of that text, the map file, the multiply words,
// and the refusals with their messages.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/lasmessage.hpp"
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "support/arg_vector.hpp"
#include "support/halting_off.hpp"
#include "support/temp_dir.hpp"
#include "support/test_name.hpp"
#include "support/transform_check.hpp"
#include "transforms/lasoperation.hpp"
#include "transforms/lastransform.hpp"

namespace {

// The fields these operations touch.
struct Fields {
  U16 intensity = 0;
  U16 rgb[4] = {0, 0, 0, 0};
  I8 rank = 0;
  I16 extended_angle = 0;
  U8 classification = 0;
  U16 point_source = 0;
  F64 gps_time = 0.0;
  bool operator==(const Fields& o) const {
    return intensity == o.intensity && memcmp(rgb, o.rgb, sizeof(rgb)) == 0 && rank == o.rank &&
           extended_angle == o.extended_angle && classification == o.classification && point_source == o.point_source &&
           gps_time == o.gps_time;
  }
};

void PrintTo(const Fields& f, std::ostream* os) {
  *os << "{i " << f.intensity << " rgbn " << f.rgb[0] << "," << f.rgb[1] << "," << f.rgb[2] << "," << f.rgb[3]
      << " rank " << (int)f.rank << " ext " << f.extended_angle << " class " << (int)f.classification << " psid "
      << f.point_source << " t " << f.gps_time << "}";
}

// A legacy point (format 3) or a LAS 1.4 point (format 8) carrying colour.
class ValuePoint {
 public:
  explicit ValuePoint(bool extended) {
    EXPECT_TRUE(point.init(&scaling, &table, extended ? (U8)8 : (U8)3, extended ? (U16)38 : (U16)34));
    EXPECT_EQ(point.get_extended_layout() != 0, extended);
  }
  Fields transformed(LAStransform& transform, const Fields& f) {
    point.intensity = f.intensity;
    memcpy(point.rgb, f.rgb, sizeof(f.rgb));
    point.scan_angle_rank = f.rank;
    point.extended_scan_angle = f.extended_angle;
    point.set_classification(f.classification);
    point.extended_classification = f.classification;
    point.point_source_ID = f.point_source;
    point.gps_time = f.gps_time;
    transform.transform(&point);
    Fields out;
    out.intensity = point.intensity;
    memcpy(out.rgb, point.rgb, sizeof(out.rgb));
    out.rank = point.scan_angle_rank;
    out.extended_angle = point.extended_scan_angle;
    out.classification = point.get_extended_layout() ? point.extended_classification : point.get_classification();
    out.point_source = point.point_source_ID;
    out.gps_time = point.gps_time;
    return out;
  }

  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
};

Fields with(const std::function<void(Fields&)>& set) {
  Fields f;
  set(f);
  return f;
}

constexpr F64 WEEK = 604800.0;
const F64 TIME_OF_WEEK_1653 = 1e9 - 1653 * WEEK;

struct ValueCase {
  const char* name;
  const char* options;
  bool extended;
  Fields before, after;
  const char* text;
  U32 mask;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.name; }

const ValueCase field_cases[] = {
    // intensity
    {"set_intensity", "-set_intensity 65535", false, with([](Fields& f) { f.intensity = 3; }),
     with([](Fields& f) { f.intensity = 65535; }), "-set_intensity 65535 ", 0},
    {"scale_intensity truncates", "-scale_intensity 0.5", false, with([](Fields& f) { f.intensity = 3; }),
     with([](Fields& f) { f.intensity = 1; }), "-scale_intensity 0.5 ", LAS_SELECTIVE_INTENSITY},
    {"scale_intensity limits", "-scale_intensity 2", false, with([](Fields& f) { f.intensity = 65535; }),
     with([](Fields& f) { f.intensity = 65535; }), "-scale_intensity 2 ", LAS_SELECTIVE_INTENSITY},
    {"translate_intensity stops at 0", "-translate_intensity -10", false, with([](Fields& f) { f.intensity = 5; }),
     Fields{}, "-translate_intensity -10 ", LAS_SELECTIVE_INTENSITY},
    {"translate_then_scale_intensity", "-translate_then_scale_intensity 10 0.5", false,
     with([](Fields& f) { f.intensity = 90; }), with([](Fields& f) { f.intensity = 50; }),
     "-translate_then_scale_intensity 10 0.5 ", LAS_SELECTIVE_INTENSITY},
    {"clamp_intensity bounds reversed, high", "-clamp_intensity 200 100", false,
     with([](Fields& f) { f.intensity = 150; }), with([](Fields& f) { f.intensity = 100; }),
     "-clamp_intensity 200 100 ", LAS_SELECTIVE_INTENSITY},
    {"clamp_intensity bounds reversed, low", "-clamp_intensity 200 100", false,
     with([](Fields& f) { f.intensity = 50; }), with([](Fields& f) { f.intensity = 200; }), "-clamp_intensity 200 100 ",
     LAS_SELECTIVE_INTENSITY},
    {"clamp_intensity_below", "-clamp_intensity_below 10", false, with([](Fields& f) { f.intensity = 9; }),
     with([](Fields& f) { f.intensity = 10; }), "-clamp_intensity_below 10 ", LAS_SELECTIVE_INTENSITY},
    {"clamp_intensity_above", "-clamp_intensity_above 255", false, with([](Fields& f) { f.intensity = 256; }),
     with([](Fields& f) { f.intensity = 255; }), "-clamp_intensity_above 255 ", LAS_SELECTIVE_INTENSITY},
    // RGB and NIR
    {"force_RGB changes no value", "-force_RGB", false, with([](Fields& f) { f.rgb[0] = 7; }),
     with([](Fields& f) { f.rgb[0] = 7; }), "-force_RGB ", 0},
    {"set_RGB", "-set_RGB 255 0 127", false, with([](Fields& f) { f.rgb[3] = 9; }),
     with([](Fields& f) { f.rgb[0] = 255, f.rgb[2] = 127, f.rgb[3] = 9; }), "-set_RGB 255 0 127 ", 0},
    {"set_RGB_of_class, other class", "-set_RGB_of_class 2 0 0 255", false,
     with([](Fields& f) { f.classification = 3; }), with([](Fields& f) { f.classification = 3; }),
     "-set_RGB_of_class 2 0 0 255 ", LAS_SELECTIVE_CLASSIFICATION},
    {"set_RGB_of_class, extended class", "-set_RGB_of_class 40 1 2 3", true,
     with([](Fields& f) { f.classification = 40; }),
     with([](Fields& f) { f.classification = 40, f.rgb[0] = 1, f.rgb[1] = 2, f.rgb[2] = 3; }),
     "-set_RGB_of_class 40 1 2 3 ", LAS_SELECTIVE_CLASSIFICATION},
    {"set_NIR", "-set_NIR 65535", false, Fields{}, with([](Fields& f) { f.rgb[3] = 65535; }), "-set_NIR 65535 ", 0},
    {"scale_RGB limits", "-scale_RGB 2 0.5 -1", false,
     with([](Fields& f) { f.rgb[0] = 65535, f.rgb[1] = 3, f.rgb[2] = 7, f.rgb[3] = 5; }),
     with([](Fields& f) { f.rgb[0] = 65535, f.rgb[1] = 1, f.rgb[2] = 0, f.rgb[3] = 5; }), "-scale_RGB 2 0.5 -1 ",
     LAS_SELECTIVE_RGB},
    {"scale_rgb_down is scale_RGB_down", "-scale_rgb_down", false,
     with([](Fields& f) { f.rgb[0] = 65535, f.rgb[1] = 256, f.rgb[2] = 255, f.rgb[3] = 300; }),
     with([](Fields& f) { f.rgb[0] = 255, f.rgb[1] = 1, f.rgb[2] = 0, f.rgb[3] = 300; }), "-scale_RGB_down ",
     LAS_SELECTIVE_RGB},
    {"scale_RGB_up keeps low bits", "-scale_RGB_up", false,
     with([](Fields& f) { f.rgb[0] = 255, f.rgb[1] = 256, f.rgb[2] = 1; }),
     with([](Fields& f) { f.rgb[0] = 65280, f.rgb[1] = 0, f.rgb[2] = 256; }), "-scale_RGB_up ", LAS_SELECTIVE_RGB},
    {"scale_RGB_to_8bit", "-scale_RGB_to_8bit", false,
     with([](Fields& f) { f.rgb[0] = 300, f.rgb[1] = 10, f.rgb[2] = 10; }), with([](Fields& f) { f.rgb[0] = 1; }),
     "-scale_RGB_to_8bit ", LAS_SELECTIVE_RGB},
    {"scale_RGB_to_16bit", "-scale_RGB_to_16bit", false, with([](Fields& f) { f.rgb[0] = 255, f.rgb[1] = 10; }),
     with([](Fields& f) { f.rgb[0] = 65280, f.rgb[1] = 2560; }), "-scale_RGB_to_16bit ", LAS_SELECTIVE_RGB},
    {"scale_RGB_to_16bit leaves 16 bit", "-scale_RGB_to_16bit", false, with([](Fields& f) { f.rgb[0] = 256; }),
     with([](Fields& f) { f.rgb[0] = 256; }), "-scale_RGB_to_16bit ", LAS_SELECTIVE_RGB},
    {"clamp_RGB_to_8bit", "-clamp_RGB_to_8bit", false,
     with([](Fields& f) { f.rgb[0] = 1000, f.rgb[1] = 255, f.rgb[2] = 256, f.rgb[3] = 999; }),
     with([](Fields& f) { f.rgb[0] = 255, f.rgb[1] = 255, f.rgb[2] = 255, f.rgb[3] = 999; }), "-clamp_RGB_to_8bit ",
     LAS_SELECTIVE_RGB},
    {"scale_nir", "-scale_nir 2", false, with([](Fields& f) { f.rgb[0] = 3, f.rgb[3] = 300; }),
     with([](Fields& f) { f.rgb[0] = 3, f.rgb[3] = 600; }), "-scale_NIR 2 ", LAS_SELECTIVE_NIR},
    {"scale_NIR_down", "-scale_NIR_down", false, with([](Fields& f) { f.rgb[3] = 513; }),
     with([](Fields& f) { f.rgb[3] = 2; }), "-scale_NIR_down ", LAS_SELECTIVE_NIR},
    {"scale_NIR_up", "-scale_NIR_up", false, with([](Fields& f) { f.rgb[3] = 2; }),
     with([](Fields& f) { f.rgb[3] = 512; }), "-scale_NIR_up ", LAS_SELECTIVE_NIR},
    {"scale_NIR_to_8bit", "-scale_NIR_to_8bit", false, with([](Fields& f) { f.rgb[3] = 512; }),
     with([](Fields& f) { f.rgb[3] = 2; }), "-scale_NIR_to_8bit ", LAS_SELECTIVE_NIR},
    {"scale_NIR_to_16bit ignores red", "-scale_NIR_to_16bit", false,
     with([](Fields& f) { f.rgb[0] = 999, f.rgb[3] = 200; }), with([](Fields& f) { f.rgb[0] = 999, f.rgb[3] = 51200; }),
     "-scale_NIR_to_16bit ", LAS_SELECTIVE_NIR},
    // switches and copies
    {"switch_R_B twice", "-switch_R_B -switch_R_B", false,
     with([](Fields& f) { f.rgb[0] = 1, f.rgb[1] = 2, f.rgb[2] = 3; }),
     with([](Fields& f) { f.rgb[0] = 1, f.rgb[1] = 2, f.rgb[2] = 3; }), "-switch_R_B -switch_R_B ", LAS_SELECTIVE_RGB},
    {"switch_R_G and G_B", "-switch_R_G -switch_G_B", false,
     with([](Fields& f) { f.rgb[0] = 1, f.rgb[1] = 2, f.rgb[2] = 3; }),
     with([](Fields& f) { f.rgb[0] = 2, f.rgb[1] = 3, f.rgb[2] = 1; }), "-switch_R_G -switch_G_B ", LAS_SELECTIVE_RGB},
    {"switch_RGBI_into_CIR", "-switch_RGBI_into_CIR", false,
     with([](Fields& f) { f.rgb[0] = 10, f.rgb[1] = 20, f.rgb[2] = 30, f.rgb[3] = 40; }),
     with([](Fields& f) { f.rgb[0] = 40, f.rgb[1] = 10, f.rgb[2] = 20, f.rgb[3] = 40; }), "-switch_RGBI_into_CIR ",
     LAS_SELECTIVE_RGB | LAS_SELECTIVE_NIR},
    {"switch_RGB_intensity_into_CIR", "-switch_RGB_intensity_into_CIR", false,
     with([](Fields& f) { f.intensity = 99, f.rgb[0] = 10, f.rgb[1] = 20, f.rgb[2] = 30, f.rgb[3] = 40; }),
     with([](Fields& f) { f.intensity = 99, f.rgb[0] = 99, f.rgb[1] = 10, f.rgb[2] = 20, f.rgb[3] = 40; }),
     "-switch_RGB_intensity_into_CIR ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"copy_RGB_into_intensity", "-copy_RGB_into_intensity", false, with([](Fields& f) { f.rgb[0] = 100; }),
     with([](Fields& f) { f.rgb[0] = 100, f.intensity = 30; }), "-copy_RGB_into_intensity ", LAS_SELECTIVE_RGB},
    {"copy_RGB_into_intensity white", "-copy_RGB_into_intensity", false,
     with([](Fields& f) { f.rgb[0] = f.rgb[1] = f.rgb[2] = 65535; }),
     with([](Fields& f) { f.rgb[0] = f.rgb[1] = f.rgb[2] = 65535, f.intensity = 65528; }), "-copy_RGB_into_intensity ",
     LAS_SELECTIVE_RGB},
    {"copies into intensity", "-copy_G_into_intensity -copy_NIR_into_NIR_kept -copy_B_into_NIR", false,
     with([](Fields& f) { f.rgb[1] = 5, f.rgb[2] = 6; }),
     with([](Fields& f) { f.rgb[1] = 5, f.rgb[2] = 6, f.intensity = 5, f.rgb[3] = 6; }),
     "-copy_G_into_intensity -copy_B_into_NIR ", LAS_SELECTIVE_RGB},
    {"copies of the other channels", "-copy_R_into_NIR -copy_NIR_into_intensity", false,
     with([](Fields& f) { f.rgb[0] = 8; }), with([](Fields& f) { f.rgb[0] = f.rgb[3] = f.intensity = 8; }),
     "-copy_R_into_NIR -copy_NIR_into_intensity ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_NIR},
    {"copy intensity, R, G into NIR and B", "-copy_intensity_into_NIR -copy_B_into_intensity", false,
     with([](Fields& f) { f.intensity = 4, f.rgb[2] = 9; }),
     with([](Fields& f) { f.intensity = 9, f.rgb[2] = 9, f.rgb[3] = 4; }),
     "-copy_intensity_into_NIR -copy_B_into_intensity ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"multiply green", "-multiply_scaled_intensity_into_RGB_green 0.001", false,
     with([](Fields& f) { f.intensity = 500, f.rgb[1] = 1000; }),
     with([](Fields& f) { f.intensity = 500, f.rgb[1] = 500; }), "-multiply_scaled_intensity_into_RGB_green 0.001000 ",
     LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"multiply limits", "-multiply_scaled_intensity_into_RGB_red 0.001", false,
     with([](Fields& f) { f.intensity = 65535, f.rgb[0] = 65535; }),
     with([](Fields& f) { f.intensity = 65535, f.rgb[0] = 65535; }),
     "-multiply_scaled_intensity_into_RGB_red 0.001000 ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"divided is written as scaled", "-multiply_divided_intensity_into_RGB_nir 2", false,
     with([](Fields& f) { f.intensity = 3, f.rgb[3] = 3; }), with([](Fields& f) { f.intensity = 3, f.rgb[3] = 4; }),
     "-multiply_scaled_intensity_into_RGB_nir 0.500000 ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"divided blue", "-multiply_divided_intensity_into_RGB_blue 4", false,
     with([](Fields& f) { f.intensity = 8, f.rgb[2] = 10; }), with([](Fields& f) { f.intensity = 8, f.rgb[2] = 20; }),
     "-multiply_scaled_intensity_into_RGB_blue 0.250000 ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    {"multiply with an unknown colour changes nothing", "-multiply_scaled_intensity_into_RGB_xyz 2", false,
     with([](Fields& f) { f.intensity = 8, f.rgb[0] = 10; }), with([](Fields& f) { f.intensity = 8, f.rgb[0] = 10; }),
     "-multiply_scaled_intensity_range_into_RGB 2.000000 ", LAS_SELECTIVE_RGB | LAS_SELECTIVE_INTENSITY},
    // scan angle
    {"set_scan_angle legacy", "-set_scan_angle 45", false, Fields{}, with([](Fields& f) { f.rank = 45; }),
     "-set_scan_angle 45 ", 0},
    {"set_scan_angle extended", "-set_scan_angle 45", true, Fields{}, with([](Fields& f) { f.extended_angle = 7500; }),
     "-set_scan_angle 45 ", 0},
    {"set_scan_angle 180 wraps", "-set_scan_angle 180", false, Fields{}, with([](Fields& f) { f.rank = -76; }),
     "-set_scan_angle 180 ", 0},
    {"scale_scan_angle rounds", "-scale_scan_angle 1.944445", false, with([](Fields& f) { f.rank = -18; }),
     with([](Fields& f) { f.rank = -35; }), "-scale_scan_angle 1.94444501 ", LAS_SELECTIVE_SCAN_ANGLE},
    {"translate_scan_angle extended", "-translate_scan_angle -5", true,
     with([](Fields& f) { f.extended_angle = 1000; }), with([](Fields& f) { f.extended_angle = 167; }),
     "-translate_scan_angle -5 ", LAS_SELECTIVE_SCAN_ANGLE},
    {"translate_then_scale_scan_angle", "-translate_then_scale_scan_angle -0.5 2", false,
     with([](Fields& f) { f.rank = 10; }), with([](Fields& f) { f.rank = 19; }),
     "-translate_then_scale_scan_angle -0.5 2 ", LAS_SELECTIVE_SCAN_ANGLE},
    {"huge scale saturates, no undefined conversion", "-scale_scan_angle 1e30", true,
     with([](Fields& f) { f.extended_angle = 1000; }), with([](Fields& f) { f.extended_angle = -1; }),
     "-scale_scan_angle 1e+30 ", LAS_SELECTIVE_SCAN_ANGLE},
    {"bin_abs_scan_angle legacy", "-bin_abs_scan_angle_into_point_source 2", false,
     with([](Fields& f) { f.rank = -5; }), with([](Fields& f) { f.rank = -5, f.point_source = 2; }),
     "-bin_abs_scan_angle_into_point_source 2 ", LAS_SELECTIVE_SCAN_ANGLE},
    {"bin_abs_scan_angle extended", "-bin_abs_scan_angle_into_point_source 2", true,
     with([](Fields& f) { f.extended_angle = -2500; }),
     with([](Fields& f) { f.extended_angle = -2500, f.point_source = 7; }), "-bin_abs_scan_angle_into_point_source 2 ",
     LAS_SELECTIVE_SCAN_ANGLE},
    {"bin_abs_scan_angle of -128 limited", "-bin_abs_scan_angle_into_point_source 0.000001", false,
     with([](Fields& f) { f.rank = -128; }), with([](Fields& f) { f.rank = -128, f.point_source = 65535; }),
     "-bin_abs_scan_angle_into_point_source 1e-06 ", LAS_SELECTIVE_SCAN_ANGLE},
    // GPS time
    {"set_gps_time", "-set_gps_time 113556962.005715", false, Fields{},
     with([](Fields& f) { f.gps_time = 113556962.005715; }), "-set_gps_time 113556962.005715 ", 0},
    {"translate_gps_time", "-translate_gps_time 40.5", false, with([](Fields& f) { f.gps_time = 1; }),
     with([](Fields& f) { f.gps_time = 41.5; }), "-translate_gps_time 40.500000 ", LAS_SELECTIVE_GPS_TIME},
    {"adjusted_to_week at 0", "-adjusted_to_week", false, Fields{},
     with([](Fields& f) { f.gps_time = TIME_OF_WEEK_1653; }), "-adjusted_to_week ", LAS_SELECTIVE_GPS_TIME},
    {"adjusted_to_week one week on", "-adjusted_to_week", false, with([](Fields& f) { f.gps_time = WEEK; }),
     with([](Fields& f) { f.gps_time = TIME_OF_WEEK_1653; }), "-adjusted_to_week ", LAS_SELECTIVE_GPS_TIME},
    {"adjusted_to_week keeps a time with no week", "-adjusted_to_week", false,
     with([](Fields& f) { f.gps_time = 1e300; }), with([](Fields& f) { f.gps_time = 1e300; }), "-adjusted_to_week ",
     LAS_SELECTIVE_GPS_TIME},
    {"week_to_adjusted", "-week_to_adjusted 1653", false, with([](Fields& f) { f.gps_time = TIME_OF_WEEK_1653; }),
     Fields{}, "-week_to_adjusted 1653 ", LAS_SELECTIVE_GPS_TIME},
    {"bin_gps_time_into_point_source down", "-bin_gps_time_into_point_source 5", false,
     with([](Fields& f) { f.gps_time = 12.4; }), with([](Fields& f) { f.gps_time = 12.4, f.point_source = 2; }),
     "-bin_gps_time_into_point_source 5.000000 ", LAS_SELECTIVE_GPS_TIME},
    {"bin_gps_time_into_point_source half up", "-bin_gps_time_into_point_source 5", false,
     with([](Fields& f) { f.gps_time = 12.5; }), with([](Fields& f) { f.gps_time = 12.5, f.point_source = 3; }),
     "-bin_gps_time_into_point_source 5.000000 ", LAS_SELECTIVE_GPS_TIME},
    {"bin_gps_time_into_point_source negative wraps", "-bin_gps_time_into_point_source 5", false,
     with([](Fields& f) { f.gps_time = -12.5; }), with([](Fields& f) { f.gps_time = -12.5, f.point_source = 65533; }),
     "-bin_gps_time_into_point_source 5.000000 ", LAS_SELECTIVE_GPS_TIME},
    {"bin_gps_time_into_intensity wraps", "-bin_gps_time_into_intensity 1", false,
     with([](Fields& f) { f.gps_time = 65536.2; }), with([](Fields& f) { f.gps_time = 65536.2; }),
     "-bin_gps_time_into_intensity 1.000000 ", LAS_SELECTIVE_GPS_TIME},
};

class ValueOperations : public ::testing::TestWithParam<ValueCase> {};

TEST_P(ValueOperations, ChangeThePointAndWriteTextThatParsesBack) {
  const ValueCase& c = GetParam();
  ValuePoint point(c.extended);
  expect_transform_round_trip(
      c.options, [&](LAStransform& transform) { return point.transformed(transform, c.before); }, c.after, c.text,
      c.mask);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, ValueOperations, ::testing::ValuesIn(field_cases),
                         [](const ::testing::TestParamInfo<ValueCase>& info) { return test_name_of(info.param.name); });

using ValueOperationTest = HaltingOff<>;

TEST_F(ValueOperationTest, NoOperationMovesCoordinatesButTheRangeMultiplyRefusesOffsetAdjustment) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-set_intensity 1 -scale_RGB 2 2 2 -switch_R_G -flip_waveform_direction"));
  for (U32 i = 0; i < transform.op_count; i++) {
    F64* v = transform.op_list[i]->transform_coords_for_offset_adjustment(1.5, 2.5, 3.5);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[1], 2.5);
    EXPECT_EQ(v[2], 3.5);
    delete[] v;
  }
  LAStransform range;
  ASSERT_TRUE(range.parse("-multiply_scaled_intensity_into_RGB 2"));
  ASSERT_EQ(range.op_count, 1u);
  testing::internal::CaptureStderr();
  EXPECT_EQ(range.op_list[0]->transform_coords_for_offset_adjustment(1, 2, 3), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: The adjustment of the offset using '-offset_adjust' is not supported for the operation "
            "'multiply_scaled_intensity_range_into_RGB' yet.\n");
}

TEST_F(ValueOperationTest, FlippingTheWaveformInvertsTheThreeSignsOnly) {
  ValuePoint point(false);
  for (U8& b : point.point.wave_packet.data) b = 0x11;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-flip_waveform_direction"));
  EXPECT_EQ(transform.op_list[0]->get_decompress_selective(), LAS_SELECTIVE_WAVEPACKET);
  const F32 xt = point.point.wave_packet.get_xt();
  transform.transform(&point.point);
  EXPECT_EQ(point.point.wave_packet.get_xt(), -xt);
  EXPECT_EQ(point.point.wave_packet.get_yt(), -xt);
  EXPECT_EQ(point.point.wave_packet.get_zt(), -xt);
  for (int k = 0; k < 29; k++) {
    if (k != 20 && k != 24 && k != 28) {
      EXPECT_EQ(point.point.wave_packet.data[k], 0x11) << k;
    }
  }
  EXPECT_EQ(text_of(transform), "-flip_waveform_direction ");
}

TEST_F(ValueOperationTest, ForceRGBMarksThePointAsColoured) {
  ValuePoint point(false);
  point.point.has_rgb = false;
  LAStransform transform;
  ASSERT_TRUE(transform.parse("-force_RGB"));
  transform.transform(&point.point);
  EXPECT_TRUE(point.point.has_rgb);
}

TEST_F(ValueOperationTest, MapFileLastLineWinsAndBadLinesAreSkipped) {
  TempDir dir;
  std::string long_line(200, '1');
  dir.write("m.txt", "5 7\n5 9\n65536 1\n6 65536\nabc\n8 99999999999999999999\n" + long_line + "\n10 3\n");
  const std::string option = "-map_intensity " + dir.file("m.txt");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(option.c_str()));
  ValuePoint point(false);
  const U16 expected[][2] = {{5, 9}, {6, 6}, {8, 8}, {10, 3}, {0, 0}, {65535, 65535}};
  for (const auto& e : expected) {
    EXPECT_EQ(point.transformed(transform, with([&](Fields& f) { f.intensity = e[0]; })).intensity, e[1]) << e[0];
  }
  // The text names the file between double quotes, and reads back to the same map.
  const std::string text = text_of(transform);
  EXPECT_EQ(text, "-map_intensity \"" + dir.file("m.txt") + "\" ");
  LAStransform from_text;
  ASSERT_TRUE(from_text.parse(text.c_str()));
  EXPECT_EQ(text_of(from_text), text);
  EXPECT_EQ(point.transformed(from_text, with([](Fields& f) { f.intensity = 5; })).intensity, 9);
}

// Each refused option: the message, false, and no operation.
TEST_F(ValueOperationTest, RefusalsNameTheValueAndTheLimit) {
  struct Case {
    std::vector<std::string> words;
    std::string message;
  } cases[] = {
      {{"-set_intensity", "65536"}, "cannot set intensity because value of 65536 is larger than 65535"},
      {{"-set_intensity"}, "'-set_intensity' needs 1 argument: value"},
      {{"-set_intensity", "x"}, "'-set_intensity' needs 1 argument: value but 'x' is no valid value"},
      {{"-translate_intensity", "x"}, "'-translate_intensity' needs 1 argument: offset but 'x' is no valid offset"},
      {{"-translate_then_scale_intensity", "1", "x"},
       "'-translate_then_scale_intensity' needs 2 arguments: offset scale but 'x' is no valid scale"},
      {{"-clamp_intensity", "1", "70000"}, "cannot clamp intensity because above value of 70000 is larger than 65535"},
      {{"-clamp_intensity", "x", "1"},
       "'-clamp_intensity' needs 2 arguments: below above but 'x' is no valid below value"},
      {{"-clamp_intensity_below", "70000"}, "cannot clamp intensity because below value of 70000 is larger than 65535"},
      {{"-map_intensity"}, "'-map_intensity' needs 1 argument: map_file_name.txt"},
      {{"-map_intensity", "/nonexistent/m.txt"},
       "'-map_intensity' needs text file with map but '/nonexistent/m.txt' cannot be opened"},
      {{"-set_RGB", "65536", "0", "0"}, "cannot set RGB because R is 65536, which is larger than 65535"},
      {{"-set_RGB", "0", "0", "70000"}, "cannot set RGB because B is 70000, which is larger than 65535"},
      {{"-set_RGB", "0", "y", "0"}, "'-set_RGB' needs 3 arguments: R G B but 'y' is no valid G"},
      {{"-set_RGB_of_class", "256", "0", "0", "0"},
       "cannot set RGB because classification is 256, which is larger than 255"},
      {{"-set_NIR", "z"}, "'-set_NIR' needs 1 argument: value but 'z' is not valid"},
      {{"-set_NIR", "65536"}, "cannot set NIR because value is 65536, which is larger than 65535"},
      {{"-scale_rgb", "1", "2"}, "'-scale_rgb' needs 3 arguments: scale_R scale_G scale_B"},
      {{"-scale_NIR", "q"}, "'-scale_NIR' needs 1 argument: scale_NIR but 'q' is no valid number"},
      {{"-multiply_scaled_intensity_into_RGB_red", "0"},
       "'-multiply_scaled_intensity_into_RGB_red' needs 1 argument: scale but '0' is no valid scale"},
      {{"-multiply_scaled_intensity_into_RGB_red", "w"},
       "'-multiply_scaled_intensity_into_RGB_red' needs 1 argument: scale but 'w' is no valid scale"},
      {{"-multiply_divided_intensity_into_RGB_red"},
       "'-multiply_divided_intensity_into_RGB_red' needs 1 argument: divisor "},
      {{"-multiply_divided_intensity_into_RGB_red", "0"},
       "'-multiply_divided_intensity_into_RGB_red' needs 1 argument: scale but '0' is no valid divisor"},
      {{"-set_scan_angle"}, "'-set_scan_angle' need 1 argument: value"},
      {{"-set_scan_angle", "v"}, "'-set_scan_angle' needs 1 argument: value but 'v' is no valid value"},
      {{"-set_scan_angle", "-180.5"}, "cannot set scan angle because value -180.5 is smaller than -180"},
      {{"-set_scan_angle", "180.5"}, "cannot set scan angle rank because value 180.5 is larger than 180"},
      {{"-bin_abs_scan_angle_into_point_source", "0"},
       "0.000000 is no valid bin_size for '-bin_abs_scan_angle_into_point_source'"},
      {{"-bin_gps_time_into_intensity", "0"}, "0 is no valid bin_size for '-bin_gps_time_into_intensity'"},
      {{"-bin_gps_time_into_point_source", "-2"}, "-2 is no valid bin_size for '-bin_gps_time_into_point_source'"},
      {{"-set_gps_time", "t"}, "'-set_gps_time' needs 1 argument: gps_time but 't' is no valid gps_time"},
      {{"-week_to_adjusted", "w"}, "'-week_to_adjusted' needs 1 argument: week but 'w' is no valid week"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words[0]);
    ArgVector args(c.words);
    LAStransform transform;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(transform.parse(args.argc(), args.argv()));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "ERROR: " + c.message + "\n");
    EXPECT_EQ(transform.op_count, 0u);
  }
}

TEST_F(ValueOperationTest, ScaleAndRangeLimitsAccepted) {
  LAStransform transform;
  EXPECT_TRUE(
      transform.parse("-set_scan_angle -180 -set_scan_angle 180 -set_intensity 65535 -clamp_intensity 0 65535"));
  EXPECT_EQ(transform.op_count, 4u);
}

// A divided option with no colour word is nobody's here: both words stay.
TEST_F(ValueOperationTest, MultiplyWordsThatNameNoChannel) {
  ArgVector args({"-multiply_divided_intensity_into_RGB_grey", "2", "-multiply_something", "3",
                  "-multiply_scaled_intensity_into_RGB", "4"});
  LAStransform transform;
  ASSERT_TRUE(transform.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(),
            (std::vector<std::string>{"-multiply_divided_intensity_into_RGB_grey", "2", "-multiply_something", "3"}));
  EXPECT_EQ(text_of(transform), "-multiply_scaled_intensity_range_into_RGB 4.000000 ");
}

}  // namespace
