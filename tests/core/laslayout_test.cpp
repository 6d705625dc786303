// The layout table against the fixture builder, which reads the LAS format on
// its own: every header field, header size and point part must agree. The
// static_asserts in the table only show that it is consistent with itself.
#include <gtest/gtest.h>

#include <cstring>

#include "core/laslayout.hpp"
#include "support/las_fixture.hpp"

namespace {

TEST(LasLayout, HeaderFieldsAgreeWithTheFixture) {
  for (const laslayout::Field& field : laslayout::HEADER) {
    SCOPED_TRACE(field.name);
    EXPECT_EQ(lasfix::header_offset(field.name), field.offset);
    EXPECT_EQ(lasfix::header_field_size(field.name), field.size);
  }
  for (U8 minor = 0; minor <= 6; minor++) {
    EXPECT_EQ(laslayout::standard_header_size(minor), lasfix::standard_header_size(1, minor));
    EXPECT_EQ(laslayout::header_end_of_version(minor), lasfix::standard_header_size(1, minor));
  }
}

TEST(LasLayout, RecordHeadersAgreeWithTheFixture) {
  lasfix::LasFile file;
  file.header.version_minor = 4;
  file.vlrs.push_back({"user", 0x1234, "p", "vlr"});
  file.vlrs[0].reserved = 0xAABB;
  file.evlrs.push_back({"user", 0x5678, "pp", "evlr"});
  file.evlrs[0].reserved = 0xCCDD;
  lasfix::Built built = file.build();
  const std::string& b = built.bytes;
  const size_t v = built.vlr_positions[0], e = built.evlr_positions[0];
  using namespace laslayout;
  EXPECT_EQ(lasfix::get_u16(b, v + VLR_HEADER[RECORD_RESERVED].offset), 0xAABB);
  EXPECT_EQ(b.substr(v + VLR_HEADER[RECORD_USER_ID].offset, 4), "user");
  EXPECT_EQ(lasfix::get_u16(b, v + VLR_HEADER[RECORD_RECORD_ID].offset), 0x1234);
  EXPECT_EQ(lasfix::get_u16(b, v + VLR_HEADER[RECORD_LENGTH_AFTER_HEADER].offset), 1);
  EXPECT_EQ(b.substr(v + VLR_HEADER[RECORD_DESCRIPTION].offset, 3), "vlr");
  EXPECT_EQ(b[v + VLR_HEADER_SIZE], 'p');
  EXPECT_EQ(lasfix::get_u16(b, e + EVLR_HEADER[RECORD_RESERVED].offset), 0xCCDD);
  EXPECT_EQ(lasfix::get_u16(b, e + EVLR_HEADER[RECORD_RECORD_ID].offset), 0x5678);
  EXPECT_EQ(lasfix::get_u64(b, e + EVLR_HEADER[RECORD_LENGTH_AFTER_HEADER].offset), 2u);
  EXPECT_EQ(b.substr(e + EVLR_HEADER[RECORD_DESCRIPTION].offset, 4), "evlr");
  EXPECT_EQ(b.substr(e + EVLR_HEADER_SIZE), "pp");
}

// Each part of each point format sits where the table says: the fixture's
// record of a varied point holds the part's values at the table's offsets.
TEST(LasLayout, PointPartsAgreeWithTheFixture) {
  using namespace laslayout;
  for (U8 format = 0; format < POINT_FORMAT_COUNT; format++) {
    SCOPED_TRACE("format " + std::to_string(format));
    const PointFormat& layout = POINT_FORMATS[format];
    EXPECT_EQ(layout.base_size, lasfix::point_base_size(format));
    lasfix::Point p = lasfix::varied_point(format, 12345, 2);
    std::string record = lasfix::encode_point(p, format, layout.base_size + 2);
    if (format < 6) {
      EXPECT_EQ((I32)lasfix::get_u32(record, POINT10[P10_Y].offset), p.Y);
      EXPECT_EQ(lasfix::get_u16(record, POINT10[P10_POINT_SOURCE_ID].offset), p.point_source_ID);
      U8 returns = lasfix::get_u8(record, POINT10[P10_RETURN_BYTE].offset);
      EXPECT_EQ(returns & P10_RETURN_NUMBER_MASK, p.return_number);
      EXPECT_EQ((returns & P10_NUMBER_OF_RETURNS_MASK) >> P10_NUMBER_OF_RETURNS_SHIFT, p.number_of_returns);
      EXPECT_EQ(lasfix::get_u8(record, POINT10[P10_CLASS_BYTE].offset) & P10_CLASSIFICATION_MASK, p.classification);
    } else {
      EXPECT_EQ((I16)lasfix::get_u16(record, POINT14[P14_SCAN_ANGLE].offset), p.scan_angle);
      EXPECT_EQ(lasfix::get_u8(record, POINT14[P14_CLASSIFICATION].offset), p.classification);
      EXPECT_EQ(lasfix::get_f64(record, POINT14[P14_GPS_TIME].offset), p.gps_time);
      U8 flags = lasfix::get_u8(record, POINT14[P14_FLAGS_BYTE].offset);
      EXPECT_EQ((flags & P14_SCANNER_CHANNEL_MASK) >> P14_SCANNER_CHANNEL_SHIFT, p.scanner_channel);
      EXPECT_EQ(lasfix::get_u8(record, POINT14[P14_RETURN_BYTE].offset) >> P14_NUMBER_OF_RETURNS_SHIFT, p.number_of_returns);
    }
    if (layout.gps_time >= 0) {
      EXPECT_EQ(lasfix::get_f64(record, layout.gps_time), p.gps_time);
    }
    if (layout.rgb >= 0) {
      EXPECT_EQ(lasfix::get_u16(record, layout.rgb + 4), p.blue);
      if (layout.rgb_size == 8) {
        EXPECT_EQ(lasfix::get_u16(record, layout.rgb + 6), p.nir);
      }
    }
    if (layout.wave_packet >= 0) {
      EXPECT_EQ(lasfix::get_u64(record, layout.wave_packet + WAVEPACKET[WP_OFFSET].offset), p.wave_offset);
      EXPECT_EQ(lasfix::get_f32(record, layout.wave_packet + WAVEPACKET[WP_DZ].offset), p.wave_dz);
    }
    EXPECT_EQ(record.substr(layout.base_size), p.extra_bytes);
  }
}

TEST(LasLayout, SpecialRecordsAgreeWithTheFixture) {
  using namespace laslayout;
  lasfix::Tiling tiling{.level = 1, .level_index = 2, .implicit_levels = 3, .buffer = true, .reversible = true, .min_x = 5, .max_x = 6, .min_y = 7, .max_y = 8};
  std::string t = lasfix::tiling_payload(tiling);
  EXPECT_EQ(t.size(), TILING_SIZE);
  EXPECT_EQ(lasfix::get_u32(t, TILING[TILE_FLAGS].offset), 3u | TILE_BUFFER_BIT | TILE_REVERSIBLE_BIT);
  EXPECT_EQ(lasfix::get_f32(t, TILING[TILE_MIN_Y].offset), 7.0f);

  lasfix::Original original;
  original.number_of_points_by_return[1] = 42;
  original.max_y = 9;
  std::string o = lasfix::original_payload(original);
  EXPECT_EQ(o.size(), ORIGINAL_SIZE);
  EXPECT_EQ(lasfix::get_u64(o, ORIGINAL[ORIG_NUMBER_OF_POINTS_BY_RETURN].offset + 8), 42u);
  EXPECT_EQ(lasfix::get_f64(o, ORIGINAL[ORIG_MAX_Y].offset), 9.0);

  lasfix::Compressor compressor;
  compressor.chunk_size = 777;
  compressor.items = lasfix::standard_items(1, 28, 2);
  std::string c = lasfix::compressor_payload(compressor);
  EXPECT_EQ(c.size(), compressor_record_size(2));
  EXPECT_EQ(lasfix::get_u32(c, COMPRESSOR[CMP_CHUNK_SIZE].offset), 777u);
  EXPECT_EQ((I64)lasfix::get_u64(c, COMPRESSOR[CMP_OFFSET_TO_SPECIAL_EVLRS].offset), -1);
  EXPECT_EQ(lasfix::get_u16(c, COMPRESSOR_HEAD_SIZE + COMPRESSOR_ITEM_SIZE + COMPRESSOR_ITEM[CMP_ITEM_TYPE].offset), 7);

  lasfix::ExtraBytesAttribute attribute;
  attribute.data_type = 9;
  attribute.name = "height above ground";
  attribute.scale = {0.5, 1, 1};
  std::string e = lasfix::extra_bytes_payload({attribute});
  EXPECT_EQ(e.size(), EXTRA_BYTES_DESCRIPTOR_SIZE);
  EXPECT_EQ(lasfix::get_u8(e, EXTRA_BYTES_DESCRIPTOR[EB_DATA_TYPE].offset), 9);
  EXPECT_EQ(e.substr(EXTRA_BYTES_DESCRIPTOR[EB_NAME].offset, 6), "height");
  EXPECT_EQ(lasfix::get_f64(e, EXTRA_BYTES_DESCRIPTOR[EB_SCALE].offset), 0.5);

  std::string w = lasfix::wave_packet_descriptor_payload(16, 0, 300, 1000, 2.5, 0);
  EXPECT_EQ(w.size(), WAVE_PACKET_DESCR_SIZE);
  EXPECT_EQ(lasfix::get_u32(w, WAVE_PACKET_DESCR[WPD_NUMBER_OF_SAMPLES].offset), 300u);
  EXPECT_EQ(lasfix::get_f64(w, WAVE_PACKET_DESCR[WPD_DIGITIZER_GAIN].offset), 2.5);

  std::string g = lasfix::geo_keys_payload({{3072, 0, 1, 32633}});
  EXPECT_EQ(g.size(), GEO_KEYS_HEAD_SIZE + GEO_KEY_ENTRY_SIZE);
  EXPECT_EQ(lasfix::get_u16(g, GEO_KEYS[GK_NUMBER_OF_KEYS].offset), 1);
  EXPECT_EQ(lasfix::get_u16(g, GEO_KEYS_HEAD_SIZE + GEO_KEY_ENTRY[GKE_VALUE_OFFSET].offset), 32633);

  std::string copc = lasfix::copc_info_payload(1000, 2000);
  EXPECT_EQ(copc.size(), COPC_INFO_SIZE);
  EXPECT_EQ(lasfix::get_u64(copc, COPC_INFO_ROOT_HIER_OFFSET), 1000u);
  EXPECT_EQ(lasfix::get_u64(copc, COPC_INFO_ROOT_HIER_SIZE), 2000u);
}

TEST(LasLayout, PointFormatsAllowedByVersion) {
  // 1.0/1.1: 0-1; 1.2: 0-3; 1.3: 0-5; 1.4: 0-10; 1.5: 6-10.
  const char* allowed[6] = {"11000000000", "11000000000", "11110000000", "11111100000", "11111111111", "00000011111"};
  for (U8 minor = 0; minor <= 5; minor++)
    for (U8 format = 0; format <= 10; format++)
      EXPECT_EQ(laslayout::point_format_allowed(minor, format), allowed[minor][format] == '1') << "1." << (int)minor << " format " << (int)format;
  EXPECT_FALSE(laslayout::point_format_allowed(4, 11));
}

}  // namespace
