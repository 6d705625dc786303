// Raw item readers and writers against records of the independent fixture
// builder: every point format both ways, the big-endian classes, and the
// POINT14 legacy derivations.
#include <gtest/gtest.h>

#include <cstring>

#include "compressor/lasreaditemraw.hpp"
#include "compressor/laswriteitemraw.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "support/las_fixture.hpp"
#include "support/point_records.hpp"
#include "support/thrown.hpp"

namespace {

// The legacy returns a POINT14 record stands for, worked out from the format's rules.
void expected_legacy_returns(U8 r, U8 n, U8& return_number, U8& number_of_returns) {
  if (n <= 7) {
    return_number = r & 7;
    number_of_returns = n;
  } else {
    number_of_returns = 7;
    return_number = (r <= 6) ? r : (r >= n ? 7 : 6);
  }
}

void expect_point_holds(const LASpoint& point, const lasfix::Point& p, U8 format) {
  EXPECT_EQ(point.X, p.X);
  EXPECT_EQ(point.Y, p.Y);
  EXPECT_EQ(point.Z, p.Z);
  EXPECT_EQ(point.intensity, p.intensity);
  EXPECT_EQ(point.user_data, p.user_data);
  EXPECT_EQ(point.point_source_ID, p.point_source_ID);
  EXPECT_EQ(point.get_scan_direction_flag(), p.scan_direction_flag);
  EXPECT_EQ(point.get_edge_of_flight_line(), p.edge_of_flight_line);
  EXPECT_EQ(point.get_synthetic_flag(), p.synthetic);
  EXPECT_EQ(point.get_keypoint_flag(), p.keypoint);
  EXPECT_EQ(point.get_withheld_flag(), p.withheld);
  if (format < 6) {
    EXPECT_EQ(point.get_return_number(), p.return_number);
    EXPECT_EQ(point.get_number_of_returns(), p.number_of_returns);
    EXPECT_EQ(point.get_classification(), p.classification);
    EXPECT_EQ(point.scan_angle_rank, p.scan_angle);
  } else {
    EXPECT_EQ(point.get_extended_return_number(), p.return_number);
    EXPECT_EQ(point.get_extended_number_of_returns(), p.number_of_returns);
    EXPECT_EQ(point.get_extended_classification(), p.classification);
    EXPECT_EQ(point.get_extended_scanner_channel(), p.scanner_channel);
    EXPECT_EQ(point.get_extended_overlap_flag(), p.overlap);
    EXPECT_EQ(point.extended_scan_angle, p.scan_angle);
    EXPECT_EQ(point.get_extended_layout(), 1);
    U8 r, n;
    expected_legacy_returns(p.return_number, p.number_of_returns, r, n);
    EXPECT_EQ(point.get_return_number(), r);
    EXPECT_EQ(point.get_number_of_returns(), n);
    EXPECT_EQ(point.get_classification(), p.classification < 32 ? p.classification : 0);
    EXPECT_EQ(point.scan_angle_rank, LASpoint::scan_angle_rank_of(p.scan_angle));
  }
  if (point.has_gps_time) {
    EXPECT_EQ(point.gps_time, p.gps_time);
  }
  if (point.has_rgb) {
    EXPECT_EQ(point.rgb[0], p.red);
    EXPECT_EQ(point.rgb[1], p.green);
    EXPECT_EQ(point.rgb[2], p.blue);
  }
  if (point.has_nir) {
    EXPECT_EQ(point.rgb[3], p.nir);
  }
  if (point.has_wave_packet) {
    EXPECT_EQ(point.wave_packet.get_index(), p.wave_descriptor_index);
    EXPECT_EQ(point.wave_packet.get_offset(), p.wave_offset);
    EXPECT_EQ(point.wave_packet.get_size(), p.wave_size);
    EXPECT_EQ(point.wave_packet.get_location(), p.wave_location);
    EXPECT_EQ(point.wave_packet.get_zt(), p.wave_dz);
  }
  EXPECT_EQ(std::string((const char*)point.extra_bytes, (size_t)point.extra_bytes_count), p.extra_bytes);
}

// Every item kind (RGB14, WAVEPACKET14 and BYTE14 through the RGB12,
// WAVEPACKET13 and BYTE classes) read into a point and written back.
TEST(LASitemRaw, EveryFormatReadsTheFieldsAndWritesTheSameBytes) {
  for (U8 format = 0; format <= 10; format++) {
    SCOPED_TRACE("format " + std::to_string(format));
    const U16 length = (U16)(lasfix::point_base_size(format) + 5);
    testpoints::Point tp(format, length);
    for (U32 i = 0; i < 200; i += 7) {
      lasfix::Point p = lasfix::varied_point(format, i, 5);
      std::string record = lasfix::encode_point(p, format, length);
      ASSERT_TRUE(testpoints::load(tp.point, record));
      expect_point_holds(tp.point, p, format);
      EXPECT_EQ(testpoints::record_of(tp.point), record) << "point " << i;
    }
  }
}

template <typename Reader, typename Writer>
void expect_reversed_fields(const std::string& disk, const std::vector<std::pair<U32, U32>>& fields) {
  Reader reader;
  ByteStreamInArrayLE in((const U8*)disk.data(), (I64)disk.size());
  ASSERT_TRUE(reader.init(&in));
  U8 memory[64] = {};
  U32 context = 0;
  reader.read(memory, context);
  for (auto [offset, size] : fields)
    for (U32 k = 0; k < size; k++) EXPECT_EQ(memory[offset + k], (U8)disk[offset + size - 1 - k]) << "field at " << offset;
  Writer writer;
  ByteStreamOutArrayLE out;
  ASSERT_TRUE(writer.init(&out));
  ASSERT_TRUE(writer.write(memory, context));
  EXPECT_EQ(std::string((const char*)out.getData(), (size_t)out.getSize()), disk);
}

// The big-endian classes, run on this host, must reverse each multi-byte
// field and nothing else, and their writers must undo it.
TEST(LASitemRaw, BigEndianClassesReverseEachField) {
  std::string disk;
  for (int i = 0; i < 30; i++) disk += (char)(0x11 * (i % 15) + i);
  expect_reversed_fields<LASreadItemRaw_POINT10_BE, LASwriteItemRaw_POINT10_BE>(
      disk.substr(0, 20), {{0, 4}, {4, 4}, {8, 4}, {12, 2}, {14, 1}, {15, 1}, {16, 1}, {17, 1}, {18, 2}});
  expect_reversed_fields<LASreadItemRaw_GPSTIME11_BE, LASwriteItemRaw_GPSTIME11_BE>(disk.substr(0, 8), {{0, 8}});
  expect_reversed_fields<LASreadItemRaw_RGB12_BE, LASwriteItemRaw_RGB12_BE>(disk.substr(0, 6), {{0, 2}, {2, 2}, {4, 2}});
  expect_reversed_fields<LASreadItemRaw_RGBNIR14_BE, LASwriteItemRaw_RGBNIR14_BE>(disk.substr(0, 8), {{0, 2}, {2, 2}, {4, 2}, {6, 2}});
  expect_reversed_fields<LASreadItemRaw_WAVEPACKET13_BE, LASwriteItemRaw_WAVEPACKET13_BE>(
      disk.substr(0, 29), {{0, 1}, {1, 8}, {9, 4}, {13, 4}, {17, 4}, {21, 4}, {25, 4}});

  // POINT14: the same fields as the little-endian reader finds, each reversed.
  lasfix::Point p = lasfix::varied_point(6, 77);
  std::string record = lasfix::encode_point(p, 6, 30);
  testpoints::Point le(6, 30), be(6, 30);
  ASSERT_TRUE(testpoints::load(le.point, record));
  LASreadItemRaw_POINT14_BE reader;
  ByteStreamInArrayLE in((const U8*)record.data(), 30);
  reader.init(&in);
  U32 context = 0;
  reader.read((U8*)&be.point.X, context);
  EXPECT_EQ(be.point.X, (I32)__builtin_bswap32((U32)le.point.X));
  EXPECT_EQ(be.point.intensity, __builtin_bswap16(le.point.intensity));
  EXPECT_EQ(be.point.extended_scan_angle, (I16)__builtin_bswap16((U16)le.point.extended_scan_angle));
  EXPECT_EQ(be.point.point_source_ID, __builtin_bswap16(le.point.point_source_ID));
  U64 le_time, be_time;
  memcpy(&le_time, &le.point.gps_time, 8);
  memcpy(&be_time, &be.point.gps_time, 8);
  EXPECT_EQ(be_time, __builtin_bswap64(le_time));
  EXPECT_EQ(be.point.extended_return_byte, le.point.extended_return_byte);
  EXPECT_EQ(be.point.extended_classification, le.point.extended_classification);
  LASwriteItemRaw_POINT14_BE writer;
  ByteStreamOutArrayLE out;
  writer.init(&out);
  ASSERT_TRUE(writer.write((const U8*)&be.point.X, context));
  EXPECT_EQ(std::string((const char*)out.getData(), (size_t)out.getSize()), record);
}

TEST(LASitemRaw, Point14ReadDerivesTheLegacyFields) {
  const struct {
    const char* name;
    U8 returns, classification;
    I16 scan_angle;
    U8 legacy_return, legacy_returns, legacy_class;
    I8 rank;
  } cases[] = {
      {"return 9 of 12", 0xC9, 2, 0, 6, 7, 2, 0},
      {"return 12 of 12", 0xCC, 2, 0, 7, 7, 2, 0},
      {"return 5 of 12", 0xC5, 2, 0, 5, 7, 2, 0},
      {"return 7 of 9", 0x97, 2, 0, 6, 7, 2, 0},
      {"return 3 of 4", 0x43, 2, 0, 3, 4, 2, 0},
      {"classification 40", 0x11, 40, 0, 1, 1, 0, 0},
      {"classification 31", 0x11, 31, 0, 1, 1, 31, 0},
      {"scan angle 90 degrees", 0x11, 1, 15000, 1, 1, 1, 90},
      {"scan angle 180 degrees", 0x11, 1, 30000, 1, 1, 1, 127},
      {"scan angle -180 degrees", 0x11, 1, -30000, 1, 1, 1, -128},
      {"scan angle 127.5 degrees", 0x11, 1, 21250, 1, 1, 1, 127},
      {"scan angle -0.5 degrees", 0x11, 1, -84, 1, 1, 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string record(30, '\0');
    record[14] = (char)c.returns;
    record[15] = (char)0xFF;  // every flag, channel 3
    record[16] = (char)c.classification;
    lasfix::put_u16(record, 18, (U16)c.scan_angle);
    testpoints::Point tp(6, 30);
    ASSERT_TRUE(testpoints::load(tp.point, record));
    EXPECT_EQ(tp.point.get_return_number(), c.legacy_return);
    EXPECT_EQ(tp.point.get_number_of_returns(), c.legacy_returns);
    EXPECT_EQ(tp.point.extended_return_byte, c.returns);
    EXPECT_EQ(tp.point.get_classification(), c.legacy_class);
    EXPECT_EQ(tp.point.extended_classification, c.classification);
    EXPECT_EQ(tp.point.scan_angle_rank, c.rank);
    EXPECT_EQ(tp.point.extended_scan_angle, c.scan_angle);
    EXPECT_EQ(tp.point.class_byte & 0xE0, 0xE0);  // synthetic, keypoint, withheld
    EXPECT_EQ(tp.point.get_extended_classification_flags(), 0x0F);
    EXPECT_EQ(tp.point.get_extended_scanner_channel(), 3);
    EXPECT_EQ(tp.point.get_scan_direction_flag(), 1);
    EXPECT_EQ(tp.point.get_edge_of_flight_line(), 1);
    EXPECT_EQ(tp.point.get_extended_layout(), 1);
    EXPECT_EQ(testpoints::record_of(tp.point), record);
  }
}

TEST(LASitemRaw, Point14WriteFromExtendedAndFromLegacyFields) {
  // Extended layout: a 5-bit classification of 0 gives way to the extended one.
  testpoints::Point extended(6, 30);
  extended.point.set_classification(2);
  extended.point.extended_classification = 2;
  EXPECT_EQ((U8)testpoints::record_of(extended.point)[16], 2);
  extended.point.set_classification(0);
  extended.point.extended_classification = 40;
  EXPECT_EQ((U8)testpoints::record_of(extended.point)[16], 40);

  // A legacy point written as POINT14: returns and scan angle from the legacy
  // fields, no overlap or channel whatever the extended byte holds.
  testpoints::Point legacy(1, 28);
  LASpoint& p = legacy.point;
  p.set_return_number(2);
  p.set_number_of_returns(3);
  p.scan_angle_rank = -90;
  p.set_classification(5);
  p.set_keypoint_flag(1);
  p.set_edge_of_flight_line(1);
  p.extended_flags_byte = 0xFC;  // layout 0, but channel and flags set
  p.gps_time = 2.5;
  LASwriteItemRaw_POINT14_LE writer;
  ByteStreamOutArrayLE out;
  writer.init(&out);
  U32 context = 0;
  ASSERT_TRUE(writer.write((const U8*)&p.X, context));
  std::string disk((const char*)out.getData(), (size_t)out.getSize());
  ASSERT_EQ(disk.size(), 30u);
  EXPECT_EQ((U8)disk[14], 0x32);
  EXPECT_EQ((U8)disk[15], 0x02 | 0x80);
  EXPECT_EQ((U8)disk[16], 5);
  EXPECT_EQ((I16)lasfix::get_u16(disk, 18), -15000);
  EXPECT_EQ(lasfix::get_f64(disk, 22), 2.5);
}

TEST(LASitemRaw, ShortInputThrowsAndLeavesThePoint) {
  std::string record = lasfix::encode_point(lasfix::varied_point(0, 3), 0, 20);
  testpoints::Point tp(0, 20);
  tp.point.X = 12345;
  LASreadItemRaw_POINT10_LE reader;
  ByteStreamInArrayLE in((const U8*)record.data(), 19);
  reader.init(&in);
  U32 context = 0;
  EXPECT_EQ(thrown_by([&] { reader.read((U8*)&tp.point.X, context); }), -1);
  EXPECT_EQ(tp.point.X, 12345);
}

}  // namespace
