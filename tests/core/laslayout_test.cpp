// The layout table against the fixture builder, which reads the LAS format on
// its own: every header field, header size and point part must agree. The
// static_asserts in the table only show that it is consistent with itself.
#include <gtest/gtest.h>

#include <cstring>

#include "core/lasheadercodec.hpp"
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

// A header with a value of its own in every field, set alike in our header and
// in the fixture's; the system identifier fills its 32 bytes.
void fill_alike(LASheader& h, lasfix::Header& f, U8 minor) {
  f.version_minor = h.version_minor = minor;
  f.file_source_ID = h.file_source_ID = 0x1234;
  f.global_encoding = h.global_encoding = 0x0011;
  f.project_ID_GUID_data_1 = h.project_ID_GUID_data_1 = 0x89ABCDEF;
  f.project_ID_GUID_data_2 = h.project_ID_GUID_data_2 = 0x2345;
  f.project_ID_GUID_data_3 = h.project_ID_GUID_data_3 = 0x3456;
  for (U8 i = 0; i < 8; i++) f.project_ID_GUID_data_4[i] = h.project_ID_GUID_data_4[i] = (U8)(0xA0 + i);
  const char* system = "a system identifier of 32 chars.";
  f.system_identifier = system;
  memcpy(h.system_identifier, system, 32);
  f.generating_software = "software";
  strcpy(h.generating_software, "software");
  f.file_creation_day = h.file_creation_day = 123;
  f.file_creation_year = h.file_creation_year = 2024;
  const U16 size = lasfix::standard_header_size(1, minor);
  f.header_size = h.header_size = size;
  f.offset_to_point_data = h.offset_to_point_data = size + 10u;
  f.number_of_variable_length_records = h.number_of_variable_length_records = 3;
  f.point_data_format = h.point_data_format = 1;
  f.point_data_record_length = h.point_data_record_length = 28;
  f.number_of_point_records = h.number_of_point_records = 1000;
  f.number_of_points_by_return = {11, 22, 33, 44, 55};
  for (int i = 0; i < 5; i++) h.number_of_points_by_return[i] = (U32)(11 * (i + 1));
  f.x_scale_factor = h.x_scale_factor = 0.001;
  f.y_scale_factor = h.y_scale_factor = 0.002;
  f.z_scale_factor = h.z_scale_factor = 0.004;
  f.x_offset = h.x_offset = 100.5;
  f.y_offset = h.y_offset = 200.25;
  f.z_offset = h.z_offset = -3.75;
  f.max_x = h.max_x = 11.5;
  f.min_x = h.min_x = -11.5;
  f.max_y = h.max_y = 22.5;
  f.min_y = h.min_y = -22.5;
  f.max_z = h.max_z = 33.5;
  f.min_z = h.min_z = -33.5;
  f.start_of_waveform_data_packet_record = h.start_of_waveform_data_packet_record = 0x1122334455667788ull;
  f.start_of_first_extended_variable_length_record = h.start_of_first_extended_variable_length_record =
      0x0102030405060708ull;
  f.number_of_extended_variable_length_records = h.number_of_extended_variable_length_records = 9;
  f.extended_number_of_point_records = h.extended_number_of_point_records = 0x100000001ull;
  std::array<uint64_t, 15> extended{};
  for (int i = 0; i < 15; i++) extended[i] = h.extended_number_of_points_by_return[i] = 1000ull * i + 7;
  f.extended_number_of_points_by_return = extended;
  f.max_gps_time = h.max_gps_time = 1e9 + 0.5;
  f.min_gps_time = h.min_gps_time = 1e9 - 0.5;
  f.time_offset = h.time_offset = 42;
}

// Each version's header, encoded field by field through the codec, lies byte
// for byte where the fixture writes it; decoded from the fixture's bytes, it
// gives the same header back, texts terminated and arrays entry by entry.
TEST(LasHeaderCodec, EveryVersionAgreesWithTheFixtureBothWays) {
  using namespace lasheadercodec;
  for (U8 minor = 0; minor <= 5; minor++) {
    SCOPED_TRACE("LAS 1." + std::to_string(minor));
    LASheader ours;
    lasfix::LasFile file;
    fill_alike(ours, file.header, minor);
    const std::string fixture = file.bytes();
    const U32 size = standard_header_size(minor);
    ASSERT_EQ(fixture.size(), size);
    const HeaderField last = last_field_of(minor);
    EXPECT_EQ(HEADER[last].offset + HEADER[last].size, size);

    HeaderImage written;
    written.encode(ours, FILE_SIGNATURE, last);
    for (HeaderField f = FILE_SIGNATURE; f <= last; f = next(f)) {
      SCOPED_TRACE(HEADER[f].name);
      EXPECT_EQ(std::string((const char*)written.at(f), HEADER[f].size), fixture.substr(HEADER[f].offset, HEADER[f].size));
    }

    HeaderImage from_fixture;
    memcpy(from_fixture.bytes, fixture.data(), size);
    LASheader back;
    for (HeaderField f = FILE_SIGNATURE; f <= last; f = next(f))
      for (U32 e = 0; e < HeaderImage::elements(f); e++) from_fixture.decode(f, e, back);
    HeaderImage again;
    again.encode(back, FILE_SIGNATURE, last);
    EXPECT_EQ(memcmp(again.bytes, fixture.data(), size), 0);
    EXPECT_STREQ(back.system_identifier, ours.system_identifier);
    EXPECT_EQ(strlen(back.system_identifier), 32u);
    EXPECT_STREQ(back.generating_software, "software");
    EXPECT_EQ(back.number_of_points_by_return[4], 55u);
    EXPECT_EQ(back.z_offset, -3.75);
    EXPECT_EQ(back.min_z, -33.5);
    if (minor >= 3) {
      EXPECT_EQ(back.start_of_waveform_data_packet_record, ours.start_of_waveform_data_packet_record);
    }
    if (minor >= 4) {
      EXPECT_EQ(back.extended_number_of_point_records, 0x100000001ull);
      EXPECT_EQ(back.extended_number_of_points_by_return[14], 14007u);
    }
    if (minor >= 5) {
      EXPECT_EQ(back.min_gps_time, 1e9 - 0.5);
      EXPECT_EQ(back.time_offset, 42);
    }
  }
}

// Values set in an image (those written other than the header holds them)
// land little-endian at the field's offset and entry.
TEST(LasHeaderCodec, SetValuesLandAtTheirEntries) {
  using namespace lasheadercodec;
  HeaderImage image;
  image.set_unsigned(NUMBER_OF_POINTS_BY_RETURN, 0xAABBCCDD, 3);
  image.set_unsigned(EXTENDED_NUMBER_OF_POINTS_BY_RETURN, 0x0102030405060708ull, 14);
  image.set_unsigned(POINT_DATA_FORMAT, 0x86);
  image.set_real(MIN_GPS_TIME, -2.5);
  std::string bytes((const char*)image.bytes, sizeof(image.bytes));
  EXPECT_EQ(lasfix::get_u32(bytes, lasfix::header_offset("number_of_points_by_return") + 12), 0xAABBCCDDu);
  EXPECT_EQ(lasfix::get_u64(bytes, lasfix::header_offset("extended_number_of_points_by_return") + 112),
            0x0102030405060708ull);
  EXPECT_EQ(lasfix::get_u8(bytes, lasfix::header_offset("point_data_format")), 0x86);
  EXPECT_EQ(lasfix::get_f64(bytes, lasfix::header_offset("min_gps_time")), -2.5);
  EXPECT_EQ(image.get_unsigned(NUMBER_OF_POINTS_BY_RETURN, 3), 0xAABBCCDDu);
  EXPECT_EQ(image.get_real(MIN_GPS_TIME), -2.5);
}

// The checks the reader and the writer share; only the writer lets point
// formats beyond 10 pass from LAS 1.4 on.
TEST(LasHeaderCodec, SharedChecksReportInOrder) {
  struct Case {
    const char* name;
    void (*change)(LASheader&);
    bool writer;
    bool ok;
    const char* messages;
  };
  const Case cases[] = {
      {"fine", [](LASheader&) {}, false, true, ""},
      {"signature", [](LASheader& h) { memcpy(h.file_signature, "LASX", 4); }, false, false,
       "ERROR: wrong file signature 'LASX'\n"},
      {"version", [](LASheader& h) { h.version_minor = 7; h.point_data_format = 6; }, false, true,
       "WARNING: unknown version 1.7 (allowed 1.0-1.5)\n"},
      {"format_11_read", [](LASheader& h) { h.version_minor = 4; h.point_data_format = 11; }, false, true,
       "WARNING: LAS version 1.4 does not allow point format 11\n"},
      {"format_11_written", [](LASheader& h) { h.version_minor = 4; h.point_data_format = 11; }, true, true, ""},
      {"format_6_in_1_2_written", [](LASheader& h) { h.point_data_format = 0x86; }, true, true,
       "WARNING: LAS version 1.2 does not allow point format 6\n"},
      {"header_size", [](LASheader& h) { h.header_size = 100; }, true, false,
       "ERROR: header size is 100 but should be at least 227\n"},
      {"offset", [](LASheader& h) { h.offset_to_point_data = 226; }, false, false,
       "ERROR: offset to point data 226 is smaller than header size 227\n"},
  };
  halt_on_error(false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASheader h;
    c.change(h);
    testing::internal::CaptureStderr();
    EXPECT_EQ(lasheadercodec::check_header_start(h, c.writer), c.ok);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.messages);
  }
  halt_on_error(true);
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
