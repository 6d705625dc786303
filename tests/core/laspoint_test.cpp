#include "core/laspoint.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

TEST(LasPointLayout, EveryPointFormat) {
  struct Case {
    U8 format;
    U32 base;
    bool gps, rgb, nir, wave;
    U8 extended;
  } cases[] = {
      {0, 20, false, false, false, false, 0}, {1, 28, true, false, false, false, 0},
      {2, 26, false, true, false, false, 0},  {3, 34, true, true, false, false, 0},
      {4, 57, true, false, false, true, 0},   {5, 63, true, true, false, true, 0},
      {6, 30, true, false, false, false, 1},  {7, 36, true, true, false, false, 1},
      {8, 38, true, true, true, false, 1},    {9, 59, true, false, false, true, 1},
      {10, 67, true, true, true, true, 1},
  };
  LASscaling scaling;
  LASattributeTable table;
  for (const Case& c : cases) {
    for (U16 extra : {0, 5}) {
      SCOPED_TRACE(::testing::Message() << "format " << (int)c.format << " extra " << extra);
      LASpoint p;
      ASSERT_TRUE(p.init(&scaling, &table, c.format, (U16)(c.base + extra)));
      EXPECT_EQ(p.record_size, c.base + extra);
      EXPECT_EQ(p.has_gps_time, c.gps);
      EXPECT_EQ(p.has_rgb, c.rgb);
      EXPECT_EQ(p.has_nir, c.nir);
      EXPECT_EQ(p.has_wave_packet, c.wave);
      EXPECT_EQ(p.rgb_bit_depth, c.rgb ? 16 : 0);
      EXPECT_EQ(p.get_extended_layout(), c.extended);
      EXPECT_EQ(p.extra_bytes_count, extra);
      EXPECT_EQ(p.scaling, &scaling);
      EXPECT_EQ(p.attribute_table, &table);
      EXPECT_EQ(p.get_return_number(), 1);
      EXPECT_EQ(p.get_number_of_returns(), 1);
      // Each item's bytes live in the field its coders expect.
      for (U32 i = 0; i < p.num_items; i++) {
        U8* expected = nullptr;
        switch (p.items[i].type) {
          case LASitem::POINT10:
          case LASitem::POINT14: expected = (U8*)&p.X; break;
          case LASitem::GPSTIME11: expected = (U8*)&p.gps_time; break;
          case LASitem::RGB12:
          case LASitem::RGB14:
          case LASitem::RGBNIR14: expected = (U8*)p.rgb; break;
          case LASitem::WAVEPACKET13:
          case LASitem::WAVEPACKET14: expected = (U8*)&p.wave_packet; break;
          default: expected = p.extra_bytes; break;
        }
        EXPECT_EQ(p.item_data[i], expected) << "item " << i;
      }
      if (extra) {
        ASSERT_NE(p.extra_bytes, nullptr);
        EXPECT_EQ(std::vector<U8>(p.extra_bytes, p.extra_bytes + extra), std::vector<U8>(extra, 0));
      } else {
        EXPECT_EQ(p.extra_bytes, nullptr);
      }
    }
  }
}

TEST(LasPointLayout, RefusedItemLists) {
  struct Case {
    const char* name;
    std::vector<LASitem> items;
  } cases[] = {
      {"empty", {}},
      {"kind 1", {{LASitem::POINT10, 20, 0}, {(LASitem::Type)1, 4, 0}}},
      {"kind 5", {{(LASitem::Type)5, 20, 0}}},
      {"kind 15", {{LASitem::POINT14, 30, 0}, {(LASitem::Type)15, 2, 0}}},
      // Two extra-bytes items would leave the first pointing at a freed buffer.
      {"two BYTE", {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 4, 0}, {LASitem::BYTE, 8, 0}}},
      {"BYTE and BYTE14", {{LASitem::POINT14, 30, 0}, {LASitem::BYTE, 4, 0}, {LASitem::BYTE14, 8, 0}}},
      {"two cores", {{LASitem::POINT10, 20, 0}, {LASitem::POINT14, 30, 0}}},
  };
  LASscaling scaling;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASpoint p;
    EXPECT_FALSE(p.init(&scaling, nullptr, (U16)c.items.size(), c.items.data()));
    EXPECT_EQ(p.num_items, 0);
    EXPECT_EQ(p.items, nullptr);
    EXPECT_EQ(p.item_data, nullptr);
    EXPECT_EQ(p.extra_bytes, nullptr);
    EXPECT_EQ(p.record_size, 0u);
    EXPECT_EQ(p.get_extended_layout(), 0);
  }
  LASpoint p;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(p.init(&scaling, nullptr, (U8)11, (U16)40));
  ::testing::internal::GetCapturedStderr();
}

// A point filled with non-default values everywhere, on a format 10 layout
// with 4 extra bytes.
void fill(LASpoint& p) {
  p.X = 1;
  p.Y = 2;
  p.Z = 3;
  p.intensity = 4;
  p.return_byte = 0xFF;
  p.class_byte = 0xFF;
  p.scan_angle_rank = -5;
  p.user_data = 6;
  p.point_source_ID = 7;
  p.extended_scan_angle = 8;
  p.extended_flags_byte = (U8)((p.extended_flags_byte & 0x03) | 0xFC);  // layout kept
  p.extended_classification = 9;
  p.extended_return_byte = 0xAB;
  p.is_deleted = 1;
  p.gps_time = 10.5;
  for (U16& c : p.rgb) c = 11;
  memset(p.wave_packet.data, 12, sizeof(p.wave_packet.data));
  if (p.extra_bytes) memset(p.extra_bytes, 13, (size_t)p.extra_bytes_count);
}

void expect_empty_fields(const LASpoint& p) {
  EXPECT_EQ(p.X, 0);
  EXPECT_EQ(p.Y, 0);
  EXPECT_EQ(p.Z, 0);
  EXPECT_EQ(p.intensity, 0);
  EXPECT_EQ(p.return_byte, 0x09);  // return 1 of 1
  EXPECT_EQ(p.class_byte, 0);
  EXPECT_EQ(p.scan_angle_rank, 0);
  EXPECT_EQ(p.user_data, 0);
  EXPECT_EQ(p.point_source_ID, 0);
  EXPECT_EQ(p.extended_scan_angle, 0);
  EXPECT_EQ(p.extended_classification, 0);
  EXPECT_EQ(p.extended_return_byte, 0x11);
  EXPECT_EQ(p.is_deleted, 0);
  EXPECT_EQ(p.gps_time, 0.0);
  for (U16 c : p.rgb) EXPECT_EQ(c, 0);
  for (U8 b : p.wave_packet.data) EXPECT_EQ(b, 0);
}

TEST(LasPointLifecycle, CleanDropsTheLayoutResetKeepsIt) {
  LASscaling scaling;
  LASattributeTable table;
  LASpoint p;
  ASSERT_TRUE(p.init(&scaling, &table, (U8)10, (U16)71));
  fill(p);
  p.coordinates[0] = 1.5;

  p.reset();
  expect_empty_fields(p);
  EXPECT_EQ(p.extended_flags_byte, 0x01) << "the layout marker stays, flags and channel go";
  EXPECT_EQ(p.extra_bytes[3], 13) << "extra bytes stay";
  EXPECT_EQ(p.record_size, 71u);

  fill(p);
  p.clean();
  expect_empty_fields(p);
  EXPECT_EQ(p.extended_flags_byte, 0);
  EXPECT_EQ(p.extra_bytes, nullptr);
  EXPECT_EQ(p.items, nullptr);
  EXPECT_EQ(p.item_data, nullptr);
  EXPECT_EQ(p.num_items, 0);
  EXPECT_EQ(p.record_size, 0u);
  EXPECT_EQ(p.extra_bytes_count, 0);
  EXPECT_EQ(p.rgb_bit_depth, 0);
  EXPECT_FALSE(p.has_gps_time || p.has_rgb || p.has_nir || p.has_wave_packet);
  EXPECT_EQ(p.scaling, &scaling);
  EXPECT_EQ(p.attribute_table, &table);
  EXPECT_EQ(p.coordinates[0], 1.5);
}

TEST(LasPointFields, BitFieldsStayInTheirBits) {
  LASpoint p;
  p.return_byte = 0;
  p.set_return_number(5);
  p.set_number_of_returns(6);
  p.set_scan_direction_flag(1);
  p.set_edge_of_flight_line(1);
  EXPECT_EQ(p.return_byte, 5 | (6 << 3) | 0x40 | 0x80);
  p.set_return_number(9);  // only 3 bits
  EXPECT_EQ(p.get_return_number(), 1);
  EXPECT_EQ(p.get_number_of_returns(), 6);
  p.set_classification(40);
  p.set_keypoint_flag(1);
  EXPECT_EQ(p.class_byte, (40 & 31) | 0x40);
  EXPECT_EQ(p.get_synthetic_flag(), 0);
  EXPECT_EQ(p.get_keypoint_flag(), 1);
  p.set_extended_layout(1);
  p.set_extended_scanner_channel(2);
  p.set_extended_classification_flags(0x5);
  p.set_extended_overlap_flag(1);
  EXPECT_EQ(p.extended_flags_byte, 0x01 | (2 << 2) | (0xD << 4));
  EXPECT_EQ(p.get_extended_overlap_flag(), 1);
  p.set_extended_return_number(12);
  p.set_extended_number_of_returns(15);
  EXPECT_EQ(p.extended_return_byte, 0xFC);
}

TEST(LasPointFields, LegacyFieldsDerivedFromExtended) {
  struct Case {
    U8 r, n;
    U8 legacy_r, legacy_n;
  } returns[] = {
      {9, 12, 6, 7}, {5, 12, 5, 7}, {12, 12, 7, 7}, {3, 4, 3, 4}, {7, 8, 6, 7}, {8, 8, 7, 7}, {15, 9, 7, 7}, {9, 5, 1, 5},
  };
  for (const Case& c : returns) {
    LASpoint p;
    p.set_extended_return_number(c.r);
    p.set_extended_number_of_returns(c.n);
    p.derive_legacy_fields();
    EXPECT_EQ(p.get_return_number(), c.legacy_r) << (int)c.r << " of " << (int)c.n;
    EXPECT_EQ(p.get_number_of_returns(), c.legacy_n) << (int)c.r << " of " << (int)c.n;
  }
  LASpoint p;
  p.set_scan_direction_flag(1);
  p.extended_classification = 40;
  p.set_extended_classification_flags(0xF);
  p.extended_scan_angle = 15000;
  p.derive_legacy_fields();
  EXPECT_EQ(p.get_classification(), 0);
  EXPECT_EQ(p.class_byte, 0xE0) << "synthetic, keypoint and withheld; overlap has no legacy bit";
  EXPECT_EQ(p.scan_angle_rank, 90);
  EXPECT_EQ(p.get_scan_direction_flag(), 1);
  p.extended_classification = 17;
  p.derive_legacy_fields();
  EXPECT_EQ(p.get_classification(), 17);
}

TEST(LasPointFields, ScanAngleConversions) {
  struct Case {
    I16 extended;
    I8 rank;
  } to_rank[] = {{15000, 90}, {-30000, -128}, {30000, 127}, {21250, 127}, {-21250, -128}, {-21166, -127},
                 {83, 0},     {84, 1},       {-84, -1},    {0, 0}};
  for (const Case& c : to_rank) EXPECT_EQ(LASpoint::scan_angle_rank_of(c.extended), c.rank) << c.extended;
  struct Back {
    I8 rank;
    I16 extended;
  } to_extended[] = {{90, 15000}, {-90, -15000}, {1, 167}, {-1, -167}, {127, 21167}, {-128, -21333}, {0, 0}};
  for (const Back& c : to_extended) EXPECT_EQ(LASpoint::extended_scan_angle_of(c.rank), c.extended) << (int)c.rank;
}

TEST(LasPointCoordinates, WorldAndRawRules) {
  LASscaling s;
  s.x_scale_factor = 0.5;
  s.y_scale_factor = 0.25;
  s.z_scale_factor = 0.001;
  s.x_offset = 100.0;
  s.y_offset = -10.0;
  s.z_offset = 0.0;
  LASpoint p;
  p.scaling = &s;
  struct Case {
    F64 x;
    I32 X;
    bool fits;
  } cases[] = {
      {100.25, 1, true},  {99.75, -1, true},  {100.75, 2, true},  {99.25, -2, true}, {100.0, 0, true},
      {100.1, 0, true},   {1073741923.5, I32_MAX, true}, {1073741924.0, I32_MIN, false},
      {-1073741724.0, I32_MIN, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(p.set_x(c.x), c.fits) << c.x;
    EXPECT_EQ(p.X, c.X) << c.x;
  }
  // Beyond 32 bits the low 32 bits are kept.
  s.z_scale_factor = 1.0;
  EXPECT_FALSE(p.set_z(4294967301.0));
  EXPECT_EQ(p.Z, 5);
  EXPECT_FALSE(p.set_z(std::numeric_limits<F64>::quiet_NaN()));

  p.X = 3;
  p.Y = -4;
  p.Z = 7;
  EXPECT_EQ(p.get_x(), 101.5);
  EXPECT_EQ(p.get_y(), -11.0);
  EXPECT_EQ(p.get_z(), 7.0);
  p.compute_coordinates();
  EXPECT_EQ(p.coordinates[0], 101.5);
  p.coordinates[1] = -10.125;  // half a step: away from zero
  EXPECT_TRUE(p.compute_XYZ());
  EXPECT_EQ(p.X, 3);
  EXPECT_EQ(p.Y, -1);
  EXPECT_EQ(p.Z, 7);
}

// A point with a format 0 layout and `n` extra bytes, linked to a table.
struct AttributePoint {
  LASscaling scaling;
  LASattributeTable table;
  LASpoint point;
  explicit AttributePoint(U16 extra) { EXPECT_TRUE(point.init(&scaling, &table, (U8)0, (U16)(20 + extra))); }
};

TEST(LasPointAttributes, ValuesByDataType) {
  struct Case {
    U8 data_type;
    F64 stored;     // value handed to set_attribute_as_float
    F64 read_back;  // value get_attribute_as_float answers
    std::vector<U8> bytes;  // first bytes of the attribute afterwards
  } cases[] = {
      {1, 300.0, 44.0, {44}},
      {1, -3.2, 0.0, {0}},
      {1, 7.5, 8.0, {8}},
      {2, 200.0, -56.0, {0xC8}},
      {2, -2.5, -3.0, {0xFD}},
      {3, 65535.4, 65535.0, {0xFF, 0xFF}},
      {4, -2.5, -3.0, {0xFD, 0xFF}},
      {5, 4294967296.0 + 7.0, 7.0, {7, 0, 0, 0}},
      {6, -123456.5, -123457.0, {0xBF, 0x1D, 0xFE, 0xFF}},
      {7, 1e19, -8446744073709551616.0, {0x00, 0x00, 0xE8, 0x89, 0x04, 0x23, 0xC7, 0x8A}},
      {8, -1.5, -2.0, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {9, 0.1, (F64)0.1f, {}},
      {10, 0.1, 0.1, {}},
      {16, -2.5, -3.0, {0xFD, 0xFF, 0xFF, 0xFF}},  // two i32: the first only
      {23, 258.0, 258.0, {2, 1, 0, 0, 0, 0}},    // three u16: the first only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "data type " << (int)c.data_type << " value " << c.stored);
    AttributePoint a(24);
    LASattributeDescriptor d;
    d.data_type = c.data_type;
    ASSERT_EQ(a.table.add_attribute(d), 0);
    ASSERT_TRUE(a.point.set_attribute_as_float(0, c.stored));
    EXPECT_EQ(a.point.get_attribute_as_float(0), c.read_back);
    for (U32 i = 0; i < c.bytes.size(); i++) EXPECT_EQ(a.point.extra_bytes[i], c.bytes[i]) << "byte " << i;
  }
}

TEST(LasPointAttributes, ScaleAndOffset) {
  AttributePoint a(4);
  LASattributeDescriptor d(LAS_ATTRIBUTE_I16, "h");
  d.set_scale(0.5);
  d.set_offset(100.0);
  ASSERT_EQ(a.table.add_attribute(d), 0);
  a.point.set_attribute_as_float(0, 90.0);  // (90 - 100) / 0.5 = -20
  EXPECT_EQ((I16)(a.point.extra_bytes[0] | (a.point.extra_bytes[1] << 8)), -20);
  EXPECT_EQ(a.point.get_attribute_as_float(0), 90.0);

  LASattributeDescriptor only_offset(LAS_ATTRIBUTE_U8, "o");
  only_offset.set_offset(-1.0);
  ASSERT_EQ(a.table.add_attribute(only_offset), 1);
  a.point.set_attribute_as_float(1, 4.0);
  EXPECT_EQ(a.point.extra_bytes[2], 5);
  EXPECT_EQ(a.point.get_attribute_as_float(1), 4.0);
}

// Attributes that the point's extra bytes do not hold read 0 and are never
// written, whatever the table says.
TEST(LasPointAttributes, AbsentAttributesAreNotTouched) {
  AttributePoint a(6);
  memset(a.point.extra_bytes, 0x5A, 6);
  LASattributeDescriptor i32 = LASattributeDescriptor(LAS_ATTRIBUTE_I32, "a");
  a.table.add_attribute(i32);                                      // bytes 0-3
  a.table.add_attribute(i32);                                      // bytes 4-7: beyond the 6 extra bytes
  LASattributeDescriptor opaque;
  opaque.options = 3;
  a.table.add_attribute(opaque);                                   // opaque, 3 bytes, starts at 8
  EXPECT_NE(a.point.get_attribute_as_float(0), 0.0);
  for (U32 index : {1u, 2u, 3u, 0xFFFFFFFFu}) {
    EXPECT_EQ(a.point.get_attribute_as_float(index), 0.0) << index;
    EXPECT_FALSE(a.point.set_attribute_as_float(index, 1.0)) << index;
  }
  EXPECT_EQ(std::vector<U8>(a.point.extra_bytes, a.point.extra_bytes + 6), std::vector<U8>(6, 0x5A));

  // Opaque bytes have no value unless they are exactly as large as a double.
  AttributePoint b(23);
  b.table.add_attribute(opaque);
  opaque.options = 8;
  b.table.add_attribute(opaque);
  opaque.options = 12;
  b.table.add_attribute(opaque);
  memset(b.point.extra_bytes + 11, 0x5A, 12);
  EXPECT_FALSE(b.point.set_attribute_as_float(0, 1.0));
  EXPECT_TRUE(b.point.set_attribute_as_float(1, 2.25));
  EXPECT_EQ(b.point.get_attribute_as_float(1), 2.25);
  EXPECT_FALSE(b.point.set_attribute_as_float(2, 1.0));
  EXPECT_EQ(b.point.get_attribute_as_float(2), 0.0);
  EXPECT_EQ(std::vector<U8>(b.point.extra_bytes + 11, b.point.extra_bytes + 23), std::vector<U8>(12, 0x5A));

  // Without a table every attribute is absent.
  a.point.attribute_table = nullptr;
  EXPECT_EQ(a.point.get_attribute_as_float(0), 0.0);
}

TEST(LasPointAttributes, ZFromAttribute) {
  AttributePoint a(4);
  a.scaling.z_scale_factor = 0.001;
  LASattributeDescriptor d(LAS_ATTRIBUTE_I32, "height above ground");
  d.set_scale(0.01);
  d.set_offset(0.0);
  ASSERT_EQ(a.table.add_attribute(d), 0);
  I32 raw = 12345;
  memcpy(a.point.extra_bytes, &raw, 4);
  a.point.Z = 99;
  EXPECT_EQ(a.point.get_Z(), 99);
  a.scaling.z_from_attribute = 0;
  EXPECT_EQ(a.point.get_Z(), 123450);

  // Beyond 32 bits the answer clamps.
  raw = 2000000000;
  memcpy(a.point.extra_bytes, &raw, 4);
  EXPECT_EQ(a.point.get_Z(), I32_MAX);
  raw = -2000000000;
  memcpy(a.point.extra_bytes, &raw, 4);
  EXPECT_EQ(a.point.get_Z(), I32_MIN);

  // set_z writes into the attribute, Z stays.
  EXPECT_TRUE(a.point.set_z(-1.234));
  memcpy(&raw, a.point.extra_bytes, 4);
  EXPECT_EQ(raw, -123);
  EXPECT_EQ(a.point.Z, 99);

  // An index the table does not have: reads as the quantised 0, writes nothing.
  a.scaling.z_from_attribute = 3;
  a.scaling.z_offset = -1.0;
  EXPECT_EQ(a.point.get_Z(), 1000);
  EXPECT_TRUE(a.point.set_z(5.0));
  memcpy(&raw, a.point.extra_bytes, 4);
  EXPECT_EQ(raw, -123);

  AttributePoint u(1);
  u.table.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U8, "z"));
  u.scaling.z_from_attribute = 0;
  EXPECT_TRUE(u.point.set_z(-3.2));
  EXPECT_EQ(u.point.extra_bytes[0], 0);
  EXPECT_TRUE(u.point.set_z(7.5));
  EXPECT_EQ(u.point.extra_bytes[0], 8);
}

TEST(LasPointCopy, IntoAnotherLayout) {
  LASscaling scaling;
  LASattributeTable table;
  LASpoint legacy;  // format 3 with 2 extra bytes
  ASSERT_TRUE(legacy.init(&scaling, &table, (U8)3, (U16)36));
  LASpoint extended;  // format 7 with 4 extra bytes
  ASSERT_TRUE(extended.init(&scaling, &table, (U8)7, (U16)40));

  fill(legacy);
  legacy.class_byte = (U8)(0xA0 | 17);  // synthetic and withheld, class 17
  legacy.return_byte = (U8)(2 | (3 << 3) | 0x40);
  legacy.scan_angle_rank = -90;
  memset(extended.extra_bytes, 0x77, 4);
  extended.set_extended_scanner_channel(3);
  extended = legacy;
  EXPECT_EQ(extended.X, 1);
  EXPECT_EQ(extended.point_source_ID, 7);
  EXPECT_EQ(extended.is_deleted, 1);
  EXPECT_EQ(extended.gps_time, 10.5);
  EXPECT_EQ(extended.rgb[2], 11);
  EXPECT_EQ(extended.get_extended_layout(), 1) << "the target keeps its layout";
  EXPECT_EQ(extended.extended_classification, 17);
  EXPECT_EQ(extended.get_extended_classification_flags(), 0x5);
  EXPECT_EQ(extended.get_extended_scanner_channel(), 0);
  EXPECT_EQ(extended.get_extended_return_number(), 2);
  EXPECT_EQ(extended.get_extended_number_of_returns(), 3);
  EXPECT_EQ(extended.extended_scan_angle, -15000);
  EXPECT_EQ(std::vector<U8>(extended.extra_bytes, extended.extra_bytes + 4), (std::vector<U8>{13, 13, 0x77, 0x77}));

  // Back into the legacy layout: the extended fields come along, the legacy
  // layout marker stays 0, NIR is not taken from a source without it.
  LASpoint target;
  ASSERT_TRUE(target.init(&scaling, &table, (U8)3, (U16)34));
  fill(extended);
  extended.extended_flags_byte = (U8)(0x01 | (2 << 2) | (0x8 << 4));
  target.rgb[3] = 99;
  target = extended;
  EXPECT_EQ(target.get_extended_layout(), 0);
  EXPECT_EQ(target.get_extended_scanner_channel(), 2);
  EXPECT_EQ(target.get_extended_overlap_flag(), 1);
  EXPECT_EQ(target.extended_return_byte, 0xAB);
  EXPECT_EQ(target.rgb[0], 11);
  EXPECT_EQ(target.rgb[3], 99);
  EXPECT_EQ(target.extra_bytes, nullptr);

  // Optional parts the source lacks stay as they were.
  LASpoint bare;  // format 0
  ASSERT_TRUE(bare.init(&scaling, &table, (U8)0, (U16)20));
  target.gps_time = 1.25;
  target = bare;
  EXPECT_EQ(target.gps_time, 1.25);
  EXPECT_EQ(target.rgb[0], 11);
  EXPECT_EQ(target.X, 0);
}

TEST(LasPointCopy, CopyConstructorDuplicatesLayoutAndContent) {
  LASscaling scaling;
  LASattributeTable table;
  LASpoint original;
  ASSERT_TRUE(original.init(&scaling, &table, (U8)10, (U16)70));
  fill(original);
  original.time_change_flag = true;
  LASpoint copy(original);
  EXPECT_EQ(memcmp(&copy, &original, 77), 0) << "every record field";
  EXPECT_EQ(copy.num_items, original.num_items);
  EXPECT_NE(copy.items, original.items);
  ASSERT_NE(copy.extra_bytes, original.extra_bytes);
  EXPECT_EQ(memcmp(copy.extra_bytes, original.extra_bytes, 3), 0);
  EXPECT_EQ(copy.item_data[0], (U8*)&copy.X);
  EXPECT_EQ(copy.item_data[3], copy.extra_bytes);
  EXPECT_EQ(copy.scaling, &scaling);
  EXPECT_EQ(copy.attribute_table, &table);
  EXPECT_EQ(copy.record_size, 70u);
}

}  // namespace
