// Self-checks of the LAS fixture builder: the sizes every version and point
// format must give, a few bytes checked by hand, and build-then-parse round trips.
#include <gtest/gtest.h>

#include "support/las_fixture.hpp"

namespace {

using lasfix::LasFile;

TEST(LasFixture, EmptyFileHasTheStandardHeaderOfItsVersion) {
  const struct {
    uint8_t minor;
    size_t size;
  } cases[] = {{0, 227}, {1, 227}, {2, 227}, {3, 235}, {4, 375}, {5, 393}};
  for (const auto& c : cases) {
    SCOPED_TRACE("LAS 1." + std::to_string(c.minor));
    LasFile file;
    file.header.version_minor = c.minor;
    file.header.point_data_format = (c.minor >= 5) ? 6 : 0;
    lasfix::Built built = file.build();
    EXPECT_EQ(built.bytes.size(), c.size);
    EXPECT_EQ(lasfix::standard_header_size(1, c.minor), c.size);
    EXPECT_EQ(lasfix::get_u16(built.bytes, 94), c.size);  // header_size
    EXPECT_EQ(lasfix::get_u32(built.bytes, 96), c.size);  // offset_to_point_data
    EXPECT_EQ(built.point_data_position, c.size);
  }
}

TEST(LasFixture, RecordLengthPerFormatWithExtraBytes) {
  const uint16_t base[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  for (uint8_t format = 0; format <= 10; format++) {
    SCOPED_TRACE("format " + std::to_string(format));
    LasFile file;
    file.header.version_minor = 4;
    file.header.point_data_format = format;
    file.extra_bytes = 6;
    file.points = {lasfix::varied_point(format, 1, 6), lasfix::varied_point(format, 2, 6)};
    lasfix::Built built = file.build();
    EXPECT_EQ(lasfix::point_base_size(format), base[format]);
    EXPECT_EQ(built.record_length, base[format] + 6);
    EXPECT_EQ(lasfix::get_u16(built.bytes, 105), base[format] + 6);
    EXPECT_EQ(built.bytes.size(), 375u + 2u * (base[format] + 6u));
    EXPECT_EQ(built.point_position(1), 375u + base[format] + 6u);
  }
}

TEST(LasFixture, RecordsTakeTheirHeaderSizes) {
  LasFile file;
  file.header.version_minor = 4;
  file.vlrs.push_back({"Pelkarts", 10, std::string(28, 'v')});
  file.evlrs.push_back({"Pelkarts", 30, std::string(28, 'e')});
  file.user_data_in_header = "ab";
  file.user_data_after_header = "xyz";
  lasfix::Built built = file.build();
  EXPECT_EQ(*built.header.header_size, 377);
  EXPECT_EQ(built.vlr_positions.at(0), 377u);
  EXPECT_EQ(*built.header.offset_to_point_data, 377u + 82u + 3u);
  EXPECT_EQ(built.evlr_positions.at(0), 462u);
  EXPECT_EQ(*built.header.start_of_first_extended_variable_length_record, 462u);
  EXPECT_EQ(built.bytes.size(), 462u + 88u);
}

// Bytes written out by hand from the format, so the fixture is not only
// consistent with its own parser.
TEST(LasFixture, BytesMatchTheFormatByHand) {
  LasFile file;
  file.header.version_minor = 4;
  file.header.point_data_format = 6;
  lasfix::Point p;
  p.X = 0x01020304;
  p.return_number = 9;
  p.number_of_returns = 12;
  p.synthetic = true;
  p.overlap = true;
  p.scanner_channel = 2;
  p.edge_of_flight_line = true;
  p.classification = 40;
  p.scan_angle = -15000;
  p.gps_time = 1.0;
  file.points = {p};
  file.vlrs.push_back({"LASF_Spec", 4, "12345", "d"});
  std::string b = file.bytes();
  EXPECT_EQ(b.substr(0, 4), "LASF");
  EXPECT_EQ((uint8_t)b[24], 1);
  EXPECT_EQ((uint8_t)b[25], 4);
  EXPECT_EQ((uint8_t)b[104], 6);
  EXPECT_EQ(lasfix::get_u32(b, 107), 0u);   // legacy count stays 0 for format 6
  EXPECT_EQ(lasfix::get_u64(b, 247), 1u);   // extended count
  EXPECT_EQ(lasfix::get_u64(b, 255 + 8 * 8), 1u);  // one point of return 9
  // VLR at 375: reserved, user id, record id 4, length 5, description.
  EXPECT_EQ(b.substr(377, 9), "LASF_Spec");
  EXPECT_EQ(b[386], '\0');
  EXPECT_EQ(lasfix::get_u16(b, 393), 4);
  EXPECT_EQ(lasfix::get_u16(b, 395), 5);
  EXPECT_EQ(b.substr(397, 1), "d");
  EXPECT_EQ(b.substr(429, 5), "12345");
  const size_t at = 434;
  EXPECT_EQ(lasfix::get_u32(b, 96), at);
  EXPECT_EQ((uint8_t)b[at], 0x04);
  EXPECT_EQ((uint8_t)b[at + 3], 0x01);
  EXPECT_EQ((uint8_t)b[at + 14], 0xC9);  // return 9 of 12
  EXPECT_EQ((uint8_t)b[at + 15], 0x01 | 0x08 | 0x20 | 0x80);
  EXPECT_EQ((uint8_t)b[at + 16], 40);
  EXPECT_EQ(lasfix::get_u16(b, at + 18), (uint16_t)-15000);
  EXPECT_EQ(lasfix::get_f64(b, at + 22), 1.0);
  EXPECT_EQ(b.size(), at + 30);

  LasFile legacy;
  lasfix::Point q;
  q.return_number = 2;
  q.number_of_returns = 3;
  q.scan_direction_flag = true;
  q.classification = 31;
  q.withheld = true;
  q.scan_angle = -90;
  q.point_source_ID = 0xABCD;
  legacy.points = {q};
  std::string c = legacy.bytes();
  EXPECT_EQ((uint8_t)c[227 + 14], 2 | (3 << 3) | 0x40);
  EXPECT_EQ((uint8_t)c[227 + 15], 31 | 0x80);
  EXPECT_EQ((int8_t)c[227 + 16], -90);
  EXPECT_EQ(lasfix::get_u16(c, 227 + 18), 0xABCD);
}

TEST(LasFixture, BuildThenParseGivesEverythingBack) {
  for (uint8_t minor = 0; minor <= 5; minor++) {
    for (uint8_t format : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}) {
      if (minor < 4 && format > 5) continue;
      if (minor >= 5 && format < 6) continue;
      SCOPED_TRACE("LAS 1." + std::to_string(minor) + " format " + std::to_string(format));
      LasFile file;
      file.header.version_minor = minor;
      file.header.point_data_format = format;
      file.header.file_source_ID = 77;
      file.header.project_ID_GUID_data_4 = {1, 2, 3, 4, 5, 6, 7, 8};
      file.header.x_offset = 1000;
      file.header.time_offset = 3;
      file.user_data_in_header = "in";
      file.user_data_after_header = "after";
      file.extra_bytes = 3;
      file.vlrs.push_back({"LASF_Projection", 34735, lasfix::geo_keys_payload({{1024, 0, 1, 1}}), "keys"});
      file.vlrs.push_back({"empty", 7});
      if (minor >= 4) file.evlrs.push_back({"Pelkarts", 30, "index"});
      for (uint32_t i = 0; i < 20; i++) file.points.push_back(lasfix::varied_point(format, i, 3));
      lasfix::Built built = file.build();
      lasfix::Parsed parsed = lasfix::parse(built.bytes);
      EXPECT_EQ(parsed.header.file_source_ID, 77);
      EXPECT_EQ(parsed.header.project_ID_GUID_data_4, file.header.project_ID_GUID_data_4);
      EXPECT_EQ(*parsed.header.header_size, *built.header.header_size);
      EXPECT_EQ(*parsed.header.offset_to_point_data, *built.header.offset_to_point_data);
      EXPECT_EQ(*parsed.header.min_x, *built.header.min_x);
      EXPECT_EQ(*parsed.header.max_z, *built.header.max_z);
      EXPECT_EQ(parsed.header.time_offset, minor >= 5 ? 3 : 0);
      EXPECT_EQ(parsed.user_data_in_header, "in");
      EXPECT_EQ(parsed.user_data_after_header, "after");
      ASSERT_EQ(parsed.vlrs.size(), 2u);
      EXPECT_EQ(parsed.vlrs[0].user_id, "LASF_Projection");
      EXPECT_EQ(parsed.vlrs[0].description, "keys");
      EXPECT_EQ(parsed.vlrs[0].payload.size(), 16u);
      EXPECT_EQ(*parsed.vlrs[1].record_length_after_header, 0);
      EXPECT_EQ(parsed.evlrs.size(), minor >= 4 ? 1u : 0u);
      EXPECT_EQ(parsed.point_count(), 20u);
      EXPECT_EQ(parsed.points, file.points);
    }
  }
}

TEST(LasFixture, OverridesAreWrittenAsGivenAndParseRejectsWhatDoesNotFit) {
  LasFile file;
  file.points = {lasfix::varied_point(0, 1), lasfix::varied_point(0, 2)};
  file.header.number_of_point_records = 3;  // one more than there is
  std::string b = file.bytes();
  EXPECT_EQ(lasfix::get_u32(b, lasfix::header_offset("number_of_point_records")), 3u);
  EXPECT_THROW(lasfix::parse(b), std::runtime_error);

  file.header.number_of_point_records.reset();
  b = file.bytes();
  lasfix::put_u32(b, lasfix::header_offset("offset_to_point_data"), 100);
  EXPECT_THROW(lasfix::parse(b), std::runtime_error);
  EXPECT_THROW(lasfix::parse(b.substr(0, 200)), std::runtime_error);
  EXPECT_THROW(lasfix::header_offset("no_such_field"), std::runtime_error);
}

TEST(LasFixture, SpecialPayloadsRoundTrip) {
  lasfix::Tiling tiling{.level = 3, .level_index = 5, .implicit_levels = 9, .buffer = true, .reversible = false, .min_x = 1, .max_x = 2, .min_y = 3, .max_y = 4};
  std::string t = lasfix::tiling_payload(tiling);
  EXPECT_EQ(t.size(), 28u);
  EXPECT_EQ(lasfix::get_u32(t, 8), 9u | 0x40000000u);
  EXPECT_EQ(lasfix::parse_tiling(t), tiling);

  lasfix::Original original;
  original.number_of_point_records = 123;
  original.number_of_points_by_return[14] = 7;
  original.min_x = -1;
  original.max_x = 1;
  std::string o = lasfix::original_payload(original);
  EXPECT_EQ(o.size(), 176u);
  EXPECT_EQ(lasfix::get_f64(o, 128), -1.0);  // minimum before maximum
  EXPECT_EQ(lasfix::parse_original(o), original);

  lasfix::Compressor compressor;
  compressor.items = lasfix::standard_items(3, 40, 2);
  std::string c = lasfix::compressor_payload(compressor);
  EXPECT_EQ(c.size(), 34u + 6u * 4u);
  EXPECT_EQ(lasfix::parse_compressor(c), compressor);
  ASSERT_EQ(compressor.items.size(), 4u);
  EXPECT_EQ(compressor.items[3], (lasfix::CompressorItem{0, 6, 2}));
  EXPECT_EQ(lasfix::standard_items(10, 67, 3),
            (std::vector<lasfix::CompressorItem>{{10, 30, 3}, {12, 8, 3}, {13, 29, 3}}));

  EXPECT_EQ(lasfix::extra_bytes_payload({{}, {}}).size(), 384u);
  EXPECT_EQ(lasfix::wave_packet_descriptor_payload(8, 0, 256, 1000, 1, 0).size(), 26u);
  EXPECT_EQ(lasfix::get_u64(lasfix::copc_info_payload(11, 22), 48), 22u);
}

}  // namespace
