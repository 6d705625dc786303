// The LAS reader against files built byte by byte by the independent fixture
// builder: every version and point format, the special records it decodes,
// keeps or drops, every error and warning of opening, the point messages, and
// the re-quantising variants.
#include "core/lasreader_las.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/bytestreamin_array.hpp"
#include "filters/lasfilter.hpp"
#include "filters/lasignore.hpp"
#include "transforms/lastransform.hpp"
#include "index/lascopc.hpp"
#include "support/halting_off.hpp"
#include "support/las_fixture.hpp"
#include "support/drop_odd.hpp"
#include "support/fifo_feed.hpp"
#include "support/point_records.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::LasFile;

struct Opened {
  bool ok;
  std::string messages;
};

// Opens `bytes` (which must outlive the reader) and captures the messages.
Opened open_bytes(LASreaderLAS& reader, const std::string& bytes, bool peek_only = false) {
  ::testing::internal::CaptureStderr();
  const bool ok = reader.open(new ByteStreamInArrayLE((const U8*)bytes.data(), (I64)bytes.size()), peek_only);
  return {ok, ::testing::internal::GetCapturedStderr()};
}

std::string capture_read(LASreaderLAS& reader, bool& delivered) {
  ::testing::internal::CaptureStderr();
  delivered = reader.read_point();
  return ::testing::internal::GetCapturedStderr();
}

LasFile with_points(U8 minor, U8 format, U32 count, U16 extra_bytes = 0) {
  LasFile f;
  f.header.version_minor = minor;
  f.header.point_data_format = format;
  f.extra_bytes = extra_bytes;
  for (U32 i = 0; i < count; i++) f.points.push_back(lasfix::varied_point(format, i, extra_bytes));
  return f;
}

std::string record(const lasfix::Built& b, size_t index) { return b.bytes.substr(b.point_position(index), b.record_length); }

class LasReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

// ----------------------------------------------------------------- good files

struct GoodCase {
  U8 minor;
  U8 format;
  U16 extra_bytes;
};

// Formats of each LAS 1.x version; odd formats carry 3 extra bytes.
std::vector<GoodCase> good_cases() {
  const U8 first[6] = {0, 0, 0, 0, 0, 6};
  const U8 last[6] = {1, 1, 3, 5, 10, 10};
  std::vector<GoodCase> cases;
  for (U8 minor = 0; minor <= 5; minor++)
    for (U8 format = first[minor]; format <= last[minor]; format++)
      cases.push_back({minor, format, (U16)((format % 2) ? 3 : 0)});
  return cases;
}

class GoodFile : public LasReaderTest, public ::testing::WithParamInterface<GoodCase> {};

TEST_P(GoodFile, ReadsEveryPointAsWritten) {
  const GoodCase c = GetParam();
  const LasFile f = with_points(c.minor, c.format, 3, c.extra_bytes);
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  EXPECT_EQ(r.get_format(), LAS_READER_FORMAT_LAS);
  EXPECT_EQ(r.header.version_minor, c.minor);
  EXPECT_EQ(r.header.point_data_format, c.format);
  EXPECT_EQ(r.header.point_data_record_length, b.record_length);
  EXPECT_EQ(r.header.header_size, *b.header.header_size);
  EXPECT_EQ(r.header.offset_to_point_data, *b.header.offset_to_point_data);
  EXPECT_EQ(r.header.user_data_in_header_bytes, 0u);
  EXPECT_EQ(r.header.user_data_after_header_bytes, 0u);
  EXPECT_EQ(r.points_expected, 3);
  EXPECT_EQ(r.header.max_x, *b.header.max_x);
  EXPECT_EQ(r.header.min_z, *b.header.min_z);
  for (size_t i = 0; i < 3; i++) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(r.point.X, f.points[i].X);
    EXPECT_EQ(r.point.Y, f.points[i].Y);
    EXPECT_EQ(r.point.Z, f.points[i].Z);
    EXPECT_EQ(r.point.intensity, f.points[i].intensity);
    if (c.format != 0 && c.format != 2) {
      EXPECT_EQ(r.point.gps_time, f.points[i].gps_time);
    }
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
  }
  EXPECT_FALSE(r.read_point());
  EXPECT_FALSE(r.read_point());
  EXPECT_EQ(r.points_read, 3);
  EXPECT_FALSE(r.seek(3));
  ASSERT_TRUE(r.seek(0));
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(r.point.X, f.points[0].X);
}

INSTANTIATE_TEST_SUITE_P(EveryVersionAndFormat, GoodFile, ::testing::ValuesIn(good_cases()),
                         [](const ::testing::TestParamInfo<GoodCase>& info) {
                           return "LAS1" + std::to_string(info.param.minor) + "_format" +
                                  std::to_string(info.param.format);
                         });

TEST_F(LasReaderTest, UserDataInAndAfterTheHeader) {
  LasFile f = with_points(2, 3, 2, 6);
  f.user_data_in_header = "ab";
  f.user_data_after_header = "xyz";
  f.vlrs.push_back({"LASF_Spec", 3, "classes"});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  EXPECT_EQ(r.header.header_size, 229);
  ASSERT_EQ(r.header.user_data_in_header_bytes, 2u);
  EXPECT_EQ(std::string((const char*)r.header.user_data_in_header, 2), "ab");
  ASSERT_EQ(r.header.user_data_after_header_bytes, 3u);
  EXPECT_EQ(std::string((const char*)r.header.user_data_after_header, 3), "xyz");
  ASSERT_EQ(r.header.number_of_variable_length_records, 1u);
  EXPECT_STREQ((const char*)r.header.vlrs[0].data, "classes");
  EXPECT_EQ(r.header.offset_to_point_data, 229u + 54 + 7 + 3);
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 0));
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 1));
}

TEST_F(LasReaderTest, PeekReadsOnlyThePublicHeader) {
  LasFile f = with_points(4, 0x86, 0);
  f.header.number_of_point_records = 0;
  f.header.extended_number_of_point_records = 7;
  f.vlrs.push_back({"LASF_Spec", 3, "x"});
  f.user_data_in_header = "u";
  const std::string bytes = f.bytes();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, bytes, true);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(r.header.point_data_format, 6);
  EXPECT_EQ(r.points_expected, 7);
  EXPECT_EQ(r.header.user_data_in_header_bytes, 1u);
  EXPECT_EQ(r.header.vlrs, nullptr);
}

// ---------------------------------------------------------------- broken files

struct BrokenCase {
  const char* name;
  LasFile file;
  // Applied to the built bytes; may cut or corrupt them.
  void (*damage)(lasfix::Built&);
  const char* messages;
};

LasFile file_with(void (*change)(LasFile&)) {
  LasFile f = with_points(2, 1, 2);
  change(f);
  return f;
}

// Point format 1 marked compressed, with the compressor record of its two items.
void mark_compressed_with_record(LasFile& f) {
  f.header.point_data_format = 0x81;
  lasfix::Compressor c;
  c.items = lasfix::standard_items(1, 28, 2);
  f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(c)});
}

std::vector<BrokenCase> broken_cases() {
  auto none = [](lasfix::Built&) {};
  return {
      {"signature", file_with([](LasFile& f) { f.header.file_signature = "LASX"; }), none,
       "ERROR: wrong file signature 'LASX'\n"},
      {"signature_prints_four_bytes", file_with([](LasFile& f) { f.header.file_signature = "ABCDEFGH"; }), none,
       "ERROR: wrong file signature 'ABCD'\n"},
      {"header_size", file_with([](LasFile& f) { f.header.header_size = 200; }), none,
       "ERROR: header size is 200 but should be at least 227\n"},
      {"offset_below_header", file_with([](LasFile& f) { f.header.offset_to_point_data = 226; }), none,
       "ERROR: offset to point data 226 is smaller than header size 227\n"},
      {"las14_header_235", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.header.header_size = 235;
       }),
       none, "ERROR: for LAS 1.4 header_size should at least be 375 but it is only 235\n"},
      {"las15_header_375", file_with([](LasFile& f) {
         f.header.version_minor = 5;
         f.header.point_data_format = 6;
         f.points = {lasfix::varied_point(6, 0)};
         f.header.header_size = 375;
       }),
       none, "ERROR: for LAS 1.5 header_size should at least be 393 but it is only 375\n"},
      {"cut_in_vlr_count", file_with([](LasFile&) {}), [](lasfix::Built& b) { b.bytes.resize(101); },
       "ERROR: reading header.number_of_variable_length_records\n"},
      {"cut_in_returns", file_with([](LasFile&) {}), [](lasfix::Built& b) { b.bytes.resize(117); },
       "ERROR: reading header.number_of_points_by_return 1\n"},
      {"cut_in_scale", file_with([](LasFile&) {}), [](lasfix::Built& b) { b.bytes.resize(140); },
       "ERROR: reading header.y_scale_factor\n"},
      {"cut_in_user_data", file_with([](LasFile& f) { f.user_data_in_header = "abcd"; }),
       [](lasfix::Built& b) { b.bytes.resize(229); }, "ERROR: reading 4 bytes of data into header.user_data_in_header\n"},
      {"cut_in_extended_returns", file_with([](LasFile& f) { f.header.version_minor = 4; }),
       [](lasfix::Built& b) { b.bytes.resize(300); }, "ERROR: reading header.extended_number_of_points_by_return 5\n"},
      {"cut_in_vlr_header", file_with([](LasFile& f) { f.vlrs.push_back({"LASF_Spec", 3, "x"}); }),
       [](lasfix::Built& b) { b.bytes.resize(227 + 19); }, "ERROR: reading header.vlrs[0].record_id\n"},
      {"cut_in_compressor_record", file_with(mark_compressed_with_record),
       [](lasfix::Built& b) { b.bytes.resize(227 + 54 + 14); }, "ERROR: reading chunk_size 50000\n"},
      {"tiling_length", file_with([](LasFile& f) { f.vlrs.push_back({"Pelkarts", 10, std::string(20, 'x')}); }), none,
       "ERROR: record_length_after_header of VLR Pelkarts (10) is 20 instead of 28\n"},
      {"tile_id_length", file_with([](LasFile& f) { f.vlrs.push_back({"pelkarts tile", 77, std::string(29, 'x')}); }),
       none, "ERROR: record_length_after_header of VLR pelkarts tile (77) is 29 instead of 28\n"},
      {"original_length", file_with([](LasFile& f) { f.vlrs.push_back({"Pelkarts", 20, std::string(100, 'x')}); }),
       none, "ERROR: record_length_after_header of VLR Pelkarts (20) is 100 instead of 176\n"},
      {"compressed_without_record", file_with([](LasFile& f) { f.header.point_data_format = 0x81; }), none,
       "ERROR: this file was compressed with an experimental version of vembra\n"
       "\tcontact support@pelkarts.example for support\n"},
      {"compressed_with_cut_vlr_list", file_with([](LasFile& f) {
         f.header.point_data_format = 0x81;
         f.header.number_of_variable_length_records = 2;
       }),
       none,
       "WARNING: only 0 bytes until point block after reading 0 of 2 vlrs. skipping remaining vlrs ...\n"
       "ERROR: your VMB file has corruptions in the LAS header resulting in\n"
       "       the vembra VLR being lost. maybe your download failed?\n"},
      {"compressor_record_of_wrong_length", file_with([](LasFile& f) {
         f.header.point_data_format = 0x81;
         lasfix::Compressor c;
         c.items = lasfix::standard_items(1, 28, 2);
         // Two items announced in a record long enough for one: the second
         // would be read out of the next record.
         std::string payload = lasfix::compressor_payload(c);
         payload.resize(payload.size() - 6);
         f.vlrs.push_back({"vembra encoded", 22204, payload});
         f.vlrs.push_back({"LASF_Spec", 3, "next"});
       }),
       none,
       "ERROR: your VMB file has corruptions in the LAS header resulting in\n"
       "       the vembra VLR being lost. maybe your download failed?\n"},
      {"compressor_check", file_with([](LasFile& f) {
         f.header.point_data_format = 0x81;
         lasfix::Compressor c;
         c.items = lasfix::standard_items(0, 20, 2);
         f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(c)});
       }),
       none,
       "ERROR: point has size of 28 but items only add up to 20 bytes (Vembra v3.5r0)\n"
       "       please upgrade to the latest release of Pelkarts (with Vembra)\n"
       "\tcontact support@pelkarts.example for support\n"},
      {"unknown_point_type", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.header.point_data_format = 11;
         f.points.clear();
         f.header.point_data_record_length = 20;
       }),
       none,
       "WARNING: LAS version 1.4 does not allow point format 11\n"
       "ERROR: unknown point type 11 with point size 20\n"},
      {"evlr_tiling_length", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.evlrs.push_back({"Pelkarts", 10, std::string(20, 'x')});
       }),
       none, "ERROR: record_length_after_header of EVLR Pelkarts (10) is 20 instead of 28\n"},
      {"evlrs_missing", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.evlrs.push_back({"LASF_Spec", 3, "x"});
         f.header.number_of_extended_variable_length_records = 3;
       }),
       none, "ERROR: reading header.evlrs[1].reserved\n"},
      // Quantisation that merges or loses points, and bounds that are no numbers.
      {"zero_scale", file_with([](LasFile& f) { f.header.x_scale_factor = 0; }), none,
       "ERROR: x scale factor is zero.\n"},
      {"nan_scale", file_with([](LasFile& f) { f.header.y_scale_factor = NAN; }), none,
       "ERROR: y scale factor is nan but must be a finite number\n"},
      {"infinite_scale", file_with([](LasFile& f) { f.header.z_scale_factor = -INFINITY; }), none,
       "ERROR: z scale factor is -inf but must be a finite number\n"},
      {"nan_offset", file_with([](LasFile& f) { f.header.z_offset = NAN; }), none,
       "ERROR: z offset is nan but must be a finite number\n"},
      {"scale_vanishes_next_to_offset", file_with([](LasFile& f) {
         f.header.x_scale_factor = 1e-300;
         f.header.x_offset = 500000;
       }),
       none, "ERROR: x scale factor 1e-300 is too small: raw coordinates vanish next to the x offset 500000\n"},
      {"subnormal_scale", file_with([](LasFile& f) { f.header.y_scale_factor = 1e-310; }), none,
       "ERROR: y scale factor 1e-310 is too small: raw coordinates vanish next to the y offset 0\n"},
      {"scale_overflows", file_with([](LasFile& f) { f.header.y_scale_factor = 1e300; }), none,
       "ERROR: y scale factor 1e+300 is too large: coordinates overflow\n"},
      {"nan_bound", file_with([](LasFile& f) { f.header.min_y = NAN; }), none,
       "ERROR: header.min_y is nan but must be a finite number\n"},
      {"infinite_bound", file_with([](LasFile& f) { f.header.max_z = INFINITY; }), none,
       "ERROR: header.max_z is inf but must be a finite number\n"},
      {"evlr_start_beyond_the_end", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.evlrs.push_back({"LASF_Spec", 3, "x"});
         f.header.start_of_first_extended_variable_length_record = 1000000;
       }),
       none, "ERROR: reading header.evlrs[0].reserved\n"},
      // Records decoded into parts of the header, cut short inside their
      // payload: what was read goes with the failure (the sanitized build
      // checks that nothing is left behind).
      {"cut_in_tiling", file_with([](LasFile& f) { f.vlrs.push_back({"Pelkarts", 10, std::string(28, 'x')}); }),
       [](lasfix::Built& b) { b.bytes.resize(227 + 54 + 6); }, "ERROR: reading vlr_lastiling->level_index 0\n"},
      {"cut_in_original", file_with([](LasFile& f) { f.vlrs.push_back({"Pelkarts", 20, std::string(176, 'x')}); }),
       [](lasfix::Built& b) { b.bytes.resize(227 + 54 + 8 + 4); },
       "ERROR: reading vlr_lasoriginal->number_of_points_by_return[0] 0\n"},
      {"cut_in_compressor_items", file_with(mark_compressed_with_record),
       // The head, the first item and the type of the second.
       [](lasfix::Built& b) { b.bytes.resize(227 + 54 + 34 + 6 + 2); }, "ERROR: reading size 0 of item 1\n"},
      {"cut_in_evlr_tiling", file_with([](LasFile& f) {
         f.header.version_minor = 4;
         f.evlrs.push_back({"Pelkarts", 10, std::string(28, 'x')});
       }),
       // Three words and the first bound.
       [](lasfix::Built& b) { b.bytes.resize(b.bytes.size() - 28 + 16); }, "ERROR: reading vlr_lastiling->max_x 0\n"},
  };
}

class BrokenFile : public LasReaderTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenFile, FailsWithItsMessages) {
  const BrokenCase& c = GetParam();
  lasfix::Built b = c.file.build();
  c.damage(b);
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.messages, c.messages);
}

INSTANTIATE_TEST_SUITE_P(EveryError, BrokenFile, ::testing::ValuesIn(broken_cases()),
                         [](const ::testing::TestParamInfo<BrokenCase>& info) { return std::string(info.param.name); });

TEST(LasReaderHalting, AnErrorEndsTheRunWhileHaltingIsOn) {
  LasFile f = with_points(2, 0, 1);
  f.header.file_signature = "XXXX";
  const std::string bytes = f.bytes();
  EXPECT_EXIT(
      {
        forget_message_counts();
        LASreaderLAS r(nullptr);
        r.open(new ByteStreamInArrayLE((const U8*)bytes.data(), (I64)bytes.size()));
        exit(0);
      },
      ::testing::ExitedWithCode(3), "ERROR: wrong file signature 'XXXX'");
}

// ------------------------------------------------------------------- warnings

struct WarningCase {
  const char* name;
  LasFile file;
  const char* messages;
};

std::vector<WarningCase> warning_cases() {
  return {
      {"unknown_version", file_with([](LasFile& f) { f.header.version_major = 2; }),
       "WARNING: unknown version 2.2 (allowed 1.0-1.5)\n"},
      {"format_not_allowed", file_with([](LasFile& f) {
         f.header.point_data_format = 6;
         f.points = {lasfix::varied_point(6, 0)};
       }),
       "WARNING: LAS version 1.2 does not allow point format 6\n"},
      {"las13_header_227", file_with([](LasFile& f) {
         f.header.version_minor = 3;
         f.header.header_size = 227;
       }),
       "WARNING: for LAS 1.3 header_size should at least be 235 but it is only 227\n"},
      {"bounding_box", file_with([](LasFile& f) {
         f.header.min_x = 5;
         f.header.max_x = 4;
         f.header.min_y = 1;
         f.header.max_y = 2;
         f.header.min_z = 3;
         f.header.max_z = 3;
       }),
       "WARNING: invalid bounding box [ 5 1 3 / 4 2 3 ]\n"},
      {"vlr_payload_beyond_points", file_with([](LasFile& f) {
         lasfix::Vlr v("LASF_Spec", 3, std::string(40, 'p'));
         v.record_length_after_header = 100;
         f.vlrs.push_back(v);
       }),
       "WARNING: only 40 bytes until point block when trying to read 100 bytes into header.vlrs[0].data\n"},
      {"vlr_count_beyond_points", file_with([](LasFile& f) {
         f.vlrs.push_back({"LASF_Spec", 3, "abc"});
         f.header.number_of_variable_length_records = 3;
       }),
       "WARNING: only 0 bytes until point block after reading 1 of 3 vlrs. skipping remaining vlrs ...\n"},
      {"no_payload", file_with([](LasFile& f) {
         f.vlrs.push_back({"LASF_Projection", 34735});
         f.vlrs.push_back({"LASF_Spec", 4});
         f.vlrs.push_back({"copc", 10000});
       }),
       "WARNING: no payload for LASF_Projection VLR with record_id 34735.\n"
       "WARNING: no payload for LASF_Spec (not specification-conform).\n"
       "WARNING: no payload for copc (not specification-conform).\n"},
      {"geo_keys", file_with([](LasFile& f) {
         std::string keys = lasfix::geo_keys_payload({{1024, 0, 1, 1}});
         f.vlrs.push_back({"LASF_Projection", 34735, keys});
         lasfix::put_u16(keys, 0, 2);
         lasfix::put_u16(keys, 2, 3);
         lasfix::put_u16(keys, 4, 4);
         f.vlrs.push_back({"LASF_Projection", 34735, keys});
         f.vlrs.push_back({"LASF_Projection", 34736, std::string(16, 0)});
         f.vlrs.push_back({"LASF_Projection", 34736, std::string(8, 0)});
         f.vlrs.push_back({"LASF_Projection", 34737, "a|"});
         f.vlrs.push_back({"LASF_Projection", 34737, "b|"});
         f.vlrs.push_back({"LASF_Projection", 2111, "m"});
         f.vlrs.push_back({"LASF_Projection", 2111, "m"});
         f.vlrs.push_back({"LASF_Projection", 2112, "c"});
         f.vlrs.push_back({"LASF_Projection", 2112, "c"});
         f.vlrs.push_back({"LASF_Projection", 7, "?"});
       }),
       "WARNING: variable length records contain more than one GeoKeyDirectoryTag\n"
       "WARNING: wrong vlr_geo_keys->key_directory_version: 2 != 1\n"
       "WARNING: wrong vlr_geo_keys->key_revision: 3 != 1\n"
       "WARNING: wrong vlr_geo_keys->minor_revision: 4 != 0\n"
       "WARNING: variable length records contain more than one GeoDoubleParamsTag\n"
       "WARNING: variable length records contain more than one GeoAsciiParamsTag\n"
       "WARNING: variable length records contain more than one WKT OGC MATH TRANSFORM\n"
       "WARNING: variable length records contain more than one WKT OGC COORDINATE SYSTEM\n"
       "WARNING: unknown LASF_Projection VLR with record_id 7.\n"},
      {"wave_packet_descriptors", file_with([](LasFile& f) {
         f.vlrs.push_back({"LASF_Spec", 100, lasfix::wave_packet_descriptor_payload(8, 0, 40, 1000, 1, 0)});
         f.vlrs.push_back({"LASF_Spec", 100, lasfix::wave_packet_descriptor_payload(12, 0, 0, 0, 1, 0)});
         f.vlrs.push_back({"LASF_Spec", 101, lasfix::wave_packet_descriptor_payload(16, 0, 9000, 5, 1, 0)});
         f.vlrs.push_back({"LASF_Spec", 102, std::string(20, 1)});
       }),
       "WARNING: variable length records defines wave packet descr 1 more than once\n"
       "WARNING: bits per sample for wave packet descr 1 is 12 instead of 8 or 16\n"
       "WARNING: number of samples for wave packet descr 1 is zero\n"
       "WARNING: temporal spacing for wave packet descr 1 is zero\n"
       "WARNING: number of samples of 9000 for wave packet descr 2 is with unusually large\n"
       "WARNING: variable length record payload for wave packet descr 3 is 20 instead of 26 bytes\n"},
      {"classification_and_extra_bytes", file_with([](LasFile& f) {
         f.vlrs.push_back({"LASF_Spec", 0, std::string(16, 1)});
         f.vlrs.push_back({"LASF_Spec", 0, std::string(16, 2)});
         lasfix::ExtraBytesAttribute a, b;
         a.data_type = 1;
         a.name = "a";
         b.data_type = 13;
         b.name = "b0123456789012345678901234567890";  // 32 characters, no terminator
         f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({a, b}) + std::string(16, 0)});
         f.extra_bytes = 7;
         f.points = {lasfix::varied_point(1, 0, 7)};
       }),
       "WARNING: variable length records contain more than one ClassificationLookup\n"
       "WARNING: data type 13 of attribute 1 ('b0123456789012345678901234567890') is deprecated\n"},
      {"copc_info_misplaced", file_with([](LasFile& f) {
         f.vlrs.push_back({"LASF_Spec", 3, "first"});
         f.vlrs.push_back({"copc", 1, lasfix::copc_info_payload(0, 0)});
       }),
       "WARNING: COPC VLR info should be the first vlr (not specification-conform)\n"
       "WARNING: COPC VLR info should belong in VMB file 1.4 or 1.5 pdrf 6-8 not VMB 1.2 pdrf 1 (not "
       "specification-conform).\n"},
  };
}

class WarnedFile : public LasReaderTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(WarnedFile, OpensWithItsWarnings) {
  const WarningCase& c = GetParam();
  const lasfix::Built b = c.file.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.messages, c.messages);
  // Whatever was odd in the records, the points are where the header says.
  for (size_t i = 0; i < c.file.points.size(); i++) {
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
  }
}

INSTANTIATE_TEST_SUITE_P(EveryWarning, WarnedFile, ::testing::ValuesIn(warning_cases()),
                         [](const ::testing::TestParamInfo<WarningCase>& info) { return std::string(info.param.name); });

TEST_F(LasReaderTest, DecodedRecordsPointIntoTheirPayloads) {
  LasFile f = with_points(2, 1, 1, 7);
  const std::string first_keys = lasfix::geo_keys_payload({{1024, 0, 1, 1}});
  const std::string second_keys = lasfix::geo_keys_payload({{1024, 0, 1, 2}, {3072, 0, 1, 32633}});
  f.vlrs.push_back({"LASF_Projection", 34735, first_keys});
  f.vlrs.push_back({"LASF_Projection", 34735, second_keys});
  f.vlrs.push_back({"LASF_Spec", 100, lasfix::wave_packet_descriptor_payload(8, 0, 40, 1000, 2.5, 0)});
  // A directory whose key count runs past its payload is not decoded.
  std::string short_keys = lasfix::geo_keys_payload({{1024, 0, 1, 1}});
  lasfix::put_u16(short_keys, 6, 5);
  lasfix::ExtraBytesAttribute a, b;
  a.data_type = 3;
  a.name = "first";
  b.data_type = 6;
  b.name = "second";
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({a, b}) + std::string(16, 0)});
  const std::string bytes = f.bytes();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  ASSERT_NE(r.header.vlr_geo_keys, nullptr);
  EXPECT_EQ(r.header.vlr_geo_keys->number_of_keys, 2);
  EXPECT_EQ(r.header.geo_key_entries[1].value_offset, 32633);
  ASSERT_NE(r.header.wave_packet_descriptors, nullptr);
  ASSERT_NE(r.header.wave_packet_descriptors[1], nullptr);
  EXPECT_EQ(r.header.wave_packet_descriptors[1]->get_digitizer_gain(), 2.5);
  ASSERT_EQ(r.header.number_of_attributes, 2);
  EXPECT_EQ(r.header.attribute_starts[1], 2);
  EXPECT_EQ(r.header.attribute_sizes[1], 4);
  EXPECT_TRUE(r.header.owns_arrays);

  LasFile g = with_points(2, 0, 1);
  g.vlrs.push_back({"LASF_Projection", 34735, short_keys});
  g.vlrs.push_back({"LASF_Spec", 101, std::string(20, 1)});
  const std::string short_bytes = g.bytes();
  LASreaderLAS s(nullptr);
  const Opened p = open_bytes(s, short_bytes);
  ASSERT_TRUE(p.ok) << p.messages;
  EXPECT_EQ(s.header.vlr_geo_keys, nullptr);
  EXPECT_EQ(s.header.number_of_variable_length_records, 2u);
  EXPECT_EQ(s.header.wave_packet_descriptors[2], nullptr);
}

// ------------------------------------------------------------ special records

TEST_F(LasReaderTest, SuiteRecordsAreDecodedAndDropped) {
  LasFile f = with_points(2, 1, 2);
  lasfix::Tiling tiling;
  tiling.level = 3;
  tiling.level_index = 17;
  tiling.implicit_levels = 5;
  tiling.buffer = true;
  tiling.min_x = 100;
  tiling.max_x = 200;
  tiling.min_y = 300;
  tiling.max_y = 400;
  lasfix::Original original;
  original.number_of_point_records = 1234;
  original.number_of_points_by_return[14] = 9;
  original.min_x = -1;
  original.max_x = 1;
  original.max_z = 7;
  f.vlrs.push_back({"Pelkarts", 10, lasfix::tiling_payload(tiling)});
  f.vlrs.push_back({"Pelkarts", 1999, "dropped"});
  f.vlrs.push_back({"Pelkarts", 2000, "kept"});
  f.vlrs.push_back({"Pelkarts", 20, lasfix::original_payload(original)});
  f.vlrs.push_back({"pelkarts tile", 3, ""});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  ASSERT_EQ(r.header.number_of_variable_length_records, 1u);
  EXPECT_STREQ(r.header.vlrs[0].user_id, "Pelkarts");
  EXPECT_EQ(r.header.vlrs[0].record_id, 2000);
  EXPECT_EQ(r.header.offset_to_point_data, 227u + 54 + 4);
  ASSERT_NE(r.header.vlr_lastiling, nullptr);
  EXPECT_EQ(r.header.vlr_lastiling->level, 3u);
  EXPECT_EQ(r.header.vlr_lastiling->level_index, 17u);
  EXPECT_EQ(r.header.vlr_lastiling->get_implicit_levels(), 5u);
  EXPECT_TRUE(r.header.vlr_lastiling->get_buffer());
  EXPECT_FALSE(r.header.vlr_lastiling->get_reversible());
  EXPECT_EQ(r.header.vlr_lastiling->max_y, 400.0f);
  ASSERT_NE(r.header.vlr_lasoriginal, nullptr);
  EXPECT_EQ(r.header.vlr_lasoriginal->number_of_point_records, 1234);
  EXPECT_EQ(r.header.vlr_lasoriginal->number_of_points_by_return[14], 9);
  EXPECT_EQ(r.header.vlr_lasoriginal->min_x, -1.0);
  EXPECT_EQ(r.header.vlr_lasoriginal->max_x, 1.0);
  EXPECT_EQ(r.header.vlr_lasoriginal->max_z, 7.0);
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 0));
}

TEST_F(LasReaderTest, CompressorRecordIsTakenIntoTheHeader) {
  // A description with compressor 0 stores its records plainly, so the points
  // can be read before any item coder exists.
  LasFile f = with_points(2, 1, 2, 3);
  f.header.point_data_format = 0x81;
  lasfix::Compressor c;
  c.compressor = 0;
  c.items = lasfix::standard_items(1, 31, 0);
  f.vlrs.push_back({"LASF_Spec", 3, "before"});
  f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(c)});
  f.vlrs.push_back({"LASF_Spec", 3, "after"});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  EXPECT_EQ(r.get_format(), LAS_READER_FORMAT_LAS);
  EXPECT_EQ(r.header.point_data_format, 1);
  ASSERT_NE(r.header.compressor, nullptr);
  EXPECT_EQ(r.header.compressor->num_items, 3);
  ASSERT_EQ(r.header.number_of_variable_length_records, 2u);
  EXPECT_STREQ((const char*)r.header.vlrs[1].data, "after");
  EXPECT_EQ(r.header.offset_to_point_data, *b.header.offset_to_point_data - 54 - (34 + 3 * 6));
  for (size_t i = 0; i < 2; i++) {
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
  }
}

// Five compressed format-1 points whose chunk table offset is 0.
std::string compressed_with_zero_table_offset() {
  LasFile f = with_points(2, 1, 0);
  f.header.point_data_format = 0x81;
  f.header.number_of_point_records = 5;
  f.point_data = std::string(64, 0);
  lasfix::Compressor c;
  c.items = lasfix::standard_items(1, 28, 2);
  f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(c)});
  return f.bytes();
}

TEST_F(LasReaderTest, CompressedPointsWithAZeroTableOffsetWarnAndRead) {
  const std::string bytes = compressed_with_zero_table_offset();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(r.get_format(), LAS_READER_FORMAT_VMB);
  EXPECT_EQ(r.header.point_data_format, 1);
  EXPECT_EQ(r.header.number_of_variable_length_records, 0u);
  EXPECT_EQ(r.header.offset_to_point_data, 227u);
  // An offset of 0 points before the chunks: the table is not trusted, and
  // the fixed chunk is read without it.
  std::string messages;
  bool delivered = true;
  U32 points = 0;
  while (delivered) {
    messages += capture_read(r, delivered);
    if (delivered) points++;
  }
  EXPECT_EQ(messages, "WARNING: 'corrupt chunk table'\n");
  EXPECT_EQ(points, 5u);
}

// A LAS 1.4 COPC file: the information record first, the hierarchy as EVLR.
lasfix::Built copc_file(U32 points_in_root, U32 points_in_child) {
  LasFile f = with_points(4, 6, points_in_root + points_in_child);
  f.vlrs.push_back({"copc", 1, lasfix::copc_info_payload(0, 64)});
  f.vlrs.push_back({"copc", 10000, std::string(8, 0)});
  f.vlrs.push_back({"LASF_Spec", 3, "kept"});
  std::string hierarchy(64, 0);
  // Entry 0: the child octant (offset 900), entry 1: the root (offset 500).
  lasfix::put_u32(hierarchy, 0, 1);
  lasfix::put_u64(hierarchy, 16, 900);
  lasfix::put_u32(hierarchy, 24, 10);
  lasfix::put_u32(hierarchy, 28, points_in_child);
  lasfix::put_u64(hierarchy, 48, 500);
  lasfix::put_u32(hierarchy, 56, 10);
  lasfix::put_u32(hierarchy, 60, points_in_root);
  f.evlrs.push_back({"LASF_Spec", 3, "evlr"});
  f.evlrs.push_back({"copc", 1000, hierarchy});
  lasfix::Built b = f.build();
  // The root page is the hierarchy payload, whose position is known once built.
  const U64 payload = b.evlr_positions[1] + 60;
  f.vlrs[0].payload = lasfix::copc_info_payload(payload, 64);
  // The octree's cube around the points: centre and half size.
  const lasfix::Header& h = b.header;
  lasfix::put_f64(f.vlrs[0].payload, 0, (*h.min_x + *h.max_x) / 2);
  lasfix::put_f64(f.vlrs[0].payload, 8, (*h.min_y + *h.max_y) / 2);
  lasfix::put_f64(f.vlrs[0].payload, 16, (*h.min_z + *h.max_z) / 2);
  lasfix::put_f64(f.vlrs[0].payload, 24, std::max({*h.max_x - *h.min_x, *h.max_y - *h.min_y, *h.max_z - *h.min_z}));
  return f.build();
}

TEST_F(LasReaderTest, CopcRecordsAreReadAndDropped) {
  const lasfix::Built b = copc_file(2, 1);
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  ASSERT_NE(r.header.copc_info, nullptr);
  EXPECT_EQ(r.header.copc_info->root_hier_size, 64u);
  ASSERT_EQ(r.header.number_of_copc_entries, 2u);
  EXPECT_EQ(r.header.copc_entries[0].offset, 500u);
  EXPECT_EQ(r.header.copc_entries[1].offset, 900u);
  ASSERT_EQ(r.header.number_of_variable_length_records, 1u);
  EXPECT_STREQ(r.header.vlrs[0].user_id, "LASF_Spec");
  ASSERT_EQ(r.header.number_of_extended_variable_length_records, 1u);
  EXPECT_STREQ(r.header.evlrs[0].user_id, "LASF_Spec");
  EXPECT_EQ(r.header.offset_to_point_data, *b.header.offset_to_point_data - (54 + 160) - (54 + 8));
  for (size_t i = 0; i < 3; i++) {
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
  }

  LASreaderLAS k(nullptr);
  k.set_keep_copc(true);
  const Opened p = open_bytes(k, b.bytes);
  ASSERT_TRUE(p.ok) << p.messages;
  EXPECT_EQ(k.header.number_of_variable_length_records, 3u);
  EXPECT_EQ(k.header.number_of_extended_variable_length_records, 2u);
}

// A COPC file is read through its COPC index: every level by default, an area
// still tests every point, and a depth limit leaves out the deeper octants.
TEST_F(LasReaderTest, CopcIndexServesEveryPointAndLimits) {
  const lasfix::Built b = copc_file(2, 1);
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(open_bytes(r, b.bytes).ok);
  r.set_copcindex(new COPCindex(r.header));
  ASSERT_TRUE(r.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, I32_MAX, 0.0f));
  for (size_t pass = 0; pass < 2; pass++) {
    for (size_t i = 0; i < 3; i++) {
      ASSERT_TRUE(r.read_point()) << i;
      EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
    }
    EXPECT_FALSE(r.read_point());
    r.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, -1, 0.0f);  // every level again, from the start
  }

  LASreaderLAS area(nullptr);
  ASSERT_TRUE(open_bytes(area, b.bytes).ok);
  area.set_copcindex(new COPCindex(area.header));
  LASreaderLAS plain(nullptr);
  ASSERT_TRUE(open_bytes(plain, b.bytes).ok);
  const F64 mid_x = (area.header.min_x + area.header.max_x) / 2;
  area.inside_rectangle(area.header.min_x, area.header.min_y, mid_x, area.header.max_y + 1);
  plain.inside_rectangle(plain.header.min_x, plain.header.min_y, mid_x, plain.header.max_y + 1);
  while (plain.read_point()) {
    ASSERT_TRUE(area.read_point());
    EXPECT_EQ(testpoints::record_of(area.point), testpoints::record_of(plain.point));
  }
  EXPECT_FALSE(area.read_point());

  // Depth 0 is the root octant: the first two points.
  ASSERT_TRUE(r.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, 0, 0.0f));
  for (size_t i = 0; i < 2; i++) {
    ASSERT_TRUE(r.read_point()) << i;
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
  }
  EXPECT_FALSE(r.read_point());
}

TEST_F(LasReaderTest, CopcHierarchyThatDoesNotAddUpIsDropped) {
  lasfix::Built b = copc_file(2, 1);
  // The header counts 3 points; the hierarchy now claims 2 + 5.
  lasfix::put_u32(b.bytes, b.evlr_positions[1] + 60 + 28, 5);
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok);
  EXPECT_EQ(o.messages,
            "WARNING: COPC EPT hierarchy EVLR number of point does not match with the header.\n"
            "WARNING: invalid COPC EPT hierarchy (not specification-conform).\n");
  EXPECT_EQ(r.header.copc_info, nullptr);
  EXPECT_EQ(r.header.number_of_copc_entries, 0u);
}

TEST_F(LasReaderTest, ExtendedRecordWarnings) {
  LasFile f = with_points(4, 1, 1);
  f.evlrs.push_back({"LASF_Projection", 34735, lasfix::geo_keys_payload({})});
  f.evlrs.push_back({"LASF_Projection", 34735, lasfix::geo_keys_payload({})});
  f.evlrs.push_back({"LASF_Projection", 34736, "12345678"});
  f.evlrs.push_back({"LASF_Projection", 34736, "12345678"});
  f.evlrs.push_back({"LASF_Projection", 9, ""});
  f.evlrs.push_back({"LASF_Spec", 0, "c"});
  f.evlrs.push_back({"LASF_Spec", 0, "c"});
  f.evlrs.push_back({"LASF_Spec", 120, std::string(26, 'w')});
  f.evlrs.push_back({"LASF_Spec", 120, std::string(26, 'w')});
  f.evlrs.push_back({"copc", 1000, ""});
  f.evlrs.push_back({"copc", 1000, "h"});
  f.evlrs.push_back({"copc", 7, "h"});
  f.evlrs.push_back({"Pelkarts", 99, "dropped"});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  const Opened o = open_bytes(r, b.bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages,
            "WARNING: extended variable length records contain more than one GeoKeyDirectoryTag\n"
            "WARNING: extended variable length records contain more than one GeoF64ParamsTag\n"
            "WARNING: unknown LASF_Projection EVLR with record_id 9.\n"
            "WARNING: extended variable length records contain more than one ClassificationLookup\n"
            "WARNING: extended variable length records defines wave packet descr 21 more than once\n"
            "WARNING: no payload for COPC EVLR (not specification-conform).\n"
            "WARNING: no COPC VLR info before COPC EPT hierarchy EVLR (not specification-conform).\n"
            "WARNING: unknown COPC EVLR (not specification-conform).\n");
  // 13 minus the suite record, minus the first COPC hierarchy.
  EXPECT_EQ(r.header.number_of_extended_variable_length_records, 11u);
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 0));
}

TEST_F(LasReaderTest, ExtendedRecordsNeedASeekableStream) {
  LasFile f = with_points(4, 1, 2);
  f.evlrs.push_back({"LASF_Spec", 3, "x"});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(r.open(new testpoints::UnseekableIn((const U8*)b.bytes.data(), (I64)b.bytes.size())));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: LAS 1.4 file has 1 EVLRs but stream is not seekable ...\n");
  EXPECT_EQ(r.header.number_of_extended_variable_length_records, 0u);
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 0));
}

// Counts that disagree: the header in memory takes the count that is read.
// Where the end of the points is unknown (a stream that cannot seek) the
// smaller count is taken, which the records can deliver.
TEST_F(LasReaderTest, CountsThatDisagreeAreSettledInTheHeader) {
  LasFile f = with_points(4, 1, 4);
  f.header.number_of_point_records = 9;
  const lasfix::Built b = f.build();
  const char* warning = "WARNING: number of point records 9 and extended number of point records 4 differ. reading ";
  for (bool seekable : {true, false}) {
    SCOPED_TRACE(seekable ? "seekable" : "unseekable");
    LASreaderLAS r(nullptr);
    ::testing::internal::CaptureStderr();
    ByteStreamIn* in = seekable ? (ByteStreamIn*)new ByteStreamInArrayLE((const U8*)b.bytes.data(), (I64)b.bytes.size())
                                : new testpoints::UnseekableIn((const U8*)b.bytes.data(), (I64)b.bytes.size());
    ASSERT_TRUE(r.open(in));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string(warning) + "4 points\n");
    EXPECT_EQ(r.points_expected, 4);
    EXPECT_EQ(r.header.number_of_point_records, 4u);
    EXPECT_EQ(r.header.extended_number_of_point_records, 4u);
    for (U32 i = 0; i < 4; i++) {
      ASSERT_TRUE(r.read_point());
      EXPECT_EQ(testpoints::record_of(r.point), record(b, i));
    }
    EXPECT_FALSE(r.read_point());
  }
}

// ---------------------------------------------------------------- point reads

TEST_F(LasReaderTest, FileCutShortEndsWithAWarning) {
  const lasfix::Built b = with_points(2, 1, 3).build();
  const std::string cut = b.bytes.substr(0, b.point_position(1) + 10);
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(open_bytes(r, cut).ok);
  ASSERT_TRUE(r.read_point());
  bool delivered = true;
  EXPECT_EQ(capture_read(r, delivered), "WARNING: end-of-file after 1 of 3 points for 'stream'\n");
  EXPECT_FALSE(delivered);
}

// Counts of 2^32 and more are shown whole, not cut to 32 bits ("of 0").
TEST_F(LasReaderTest, CountsAbove32BitsAreShownWhole) {
  const lasfix::Built b = with_points(4, 6, 2).build();
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(open_bytes(r, b.bytes).ok);
  r.points_expected = 4294967296LL;
  ASSERT_TRUE(r.read_point());
  ASSERT_TRUE(r.read_point());
  bool delivered = true;
  EXPECT_EQ(capture_read(r, delivered), "WARNING: end-of-file after 2 of 4294967296 points for 'stream'\n");
  EXPECT_FALSE(delivered);
}

TEST_F(LasReaderTest, FileNameIsUsedInMessagesAndReleasedOnClose) {
  const lasfix::Built b = with_points(2, 0, 2).build();
  char name[] = "/tmp/lasreader_las_test_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  FILE* out = fdopen(fd, "wb");
  fwrite(b.bytes.data(), 1, b.point_position(1) + 4, out);
  fclose(out);
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(r.open(name));
  EXPECT_STREQ(r.get_file_name(), name);
  ASSERT_TRUE(r.read_point());
  bool delivered = true;
  EXPECT_EQ(capture_read(r, delivered), std::string("WARNING: end-of-file after 1 of 2 points for '") + name + "'\n");
  r.close(false);
  EXPECT_NE(r.get_stream(), nullptr);
  r.close(true);
  EXPECT_EQ(r.get_stream(), nullptr);
  EXPECT_EQ(r.get_file_name(), nullptr);
  r.close(true);
  remove(name);

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(r.open("/nonexistent/file.las"));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: cannot open file '/nonexistent/file.las' for read\n");
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(r.open((const char*)nullptr));
  EXPECT_FALSE(r.open((FILE*)nullptr));
  EXPECT_FALSE(r.open((ByteStreamIn*)nullptr));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ERROR: file name pointer is zero\nERROR: file pointer is zero\nERROR: ByteStreamIn* pointer is zero\n");
}

TEST_F(LasReaderTest, ByNameReadsAcrossItsBufferAndSeeks) {
  // 200 points of 28 bytes and EVLRs behind them: reading crosses the
  // smallest buffer, and the EVLRs are read by seeking away and back.
  LasFile f = with_points(4, 1, 200);
  f.evlrs.push_back({"LASF_Spec", 3, std::string(5000, 'e')});
  f.evlrs.push_back({"LASF_Projection", 2112, "GEOGCS"});
  const lasfix::Built b = f.build();
  char name[] = "/tmp/lasreader_las_test_XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  FILE* out = fdopen(fd, "wb");
  fwrite(b.bytes.data(), 1, b.bytes.size(), out);
  fclose(out);
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(r.open(name, 1));
  remove(name);
  ASSERT_EQ(r.header.number_of_extended_variable_length_records, 2u);
  EXPECT_EQ(std::string((const char*)r.header.evlrs[0].data, 5000), std::string(5000, 'e'));
  EXPECT_STREQ(r.header.ogc_coordinate_system_wkt, "GEOGCS");
  for (size_t i = 0; i < 200; i++) {
    ASSERT_TRUE(r.read_point());
    ASSERT_EQ(testpoints::record_of(r.point), record(b, i)) << i;
  }
  EXPECT_FALSE(r.read_point());
  for (size_t i : {150, 3, 199, 0}) {
    ASSERT_TRUE(r.seek((I64)i));
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(testpoints::record_of(r.point), record(b, i)) << i;
  }
}

TEST_F(LasReaderTest, ZFromAttributeIsDetectedByName) {
  class ZReader : public LASreaderLAS {
   public:
    ZReader(const bool* flag, I16* index) : LASreaderLAS(nullptr) {
      z_from_attribute = flag;
      z_from_attribute_index = index;
    }
  };
  LasFile f = with_points(4, 6, 1, 4);
  lasfix::ExtraBytesAttribute other, height;
  other.data_type = 3;
  other.name = "other";
  height.data_type = 3;
  height.name = "height above ground";
  height.options = 0x08;
  height.scale = {0.5, 1, 1};
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({other, height})});
  f.points[0].extra_bytes = std::string("\x01\x00\xe8\x03", 4);  // height 1000 x 0.5 = 500
  const std::string bytes = f.bytes();

  const bool on = true;
  I16 index = -1;
  ZReader r(&on, &index);
  const Opened o = open_bytes(r, bytes);
  ASSERT_TRUE(o.ok) << o.messages;
  EXPECT_EQ(o.messages, "");
  EXPECT_EQ(index, 1);
  EXPECT_EQ(r.header.z_from_attribute, 1);
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(r.point.get_Z(), 50000);  // 500 at the fixture's z scale of 0.01

  LasFile g = with_points(4, 6, 1);
  const std::string plain = g.bytes();
  I16 missing = -1;
  ZReader s(&on, &missing);
  const Opened p = open_bytes(s, plain);
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.messages, "WARNING: \"height above ground\" not found in extra bytes. using Z\n");
  EXPECT_EQ(missing, -1);
  EXPECT_EQ(s.header.z_from_attribute, -1);
}

// ------------------------------------------------------------ re-quantising

struct Requantised {
  std::vector<I32> X;
  F64 x_scale_factor, x_offset;
  std::string messages;
};

// Two points at X = `xs`, file scale `scale` and offset `offset`, bounding box
// from `min_x` to `max_x`.
Requantised read_requantised(LASreaderLAS& r, std::vector<I32> xs, F64 scale, F64 offset, F64 min_x, F64 max_x) {
  LasFile f = with_points(2, 0, (U32)xs.size());
  for (size_t i = 0; i < xs.size(); i++) f.points[i].X = xs[i];
  f.header.x_scale_factor = scale;
  f.header.x_offset = offset;
  f.header.min_x = min_x;
  f.header.max_x = max_x;
  const std::string bytes = f.bytes();
  const Opened o = open_bytes(r, bytes);
  Requantised out{{}, r.header.x_scale_factor, r.header.x_offset, o.messages};
  EXPECT_TRUE(o.ok);
  while (r.read_point()) out.X.push_back(r.point.X);
  return out;
}

TEST_F(LasReaderTest, RescaleRoundsHalvesAwayFromZero) {
  LASreaderLASrescale finer(nullptr, 0.001, 0, 0);
  const Requantised a = read_requantised(finer, {12345, -12345}, 0.01, 0, -123.45, 123.45);
  EXPECT_EQ(a.X, (std::vector<I32>{123450, -123450}));
  EXPECT_EQ(a.x_scale_factor, 0.001);
  EXPECT_EQ(a.messages, "");

  LASreaderLASrescale coarser(nullptr, 0.01, 0.01, 0.01);
  const Requantised b = read_requantised(coarser, {12345, -12345}, 0.001, 0, -12.345, 12.345);
  EXPECT_EQ(b.X, (std::vector<I32>{1235, -1235}));
}

TEST_F(LasReaderTest, RescaleWarnsAboutOverflowAndStillOpens) {
  LASreaderLASrescale r(nullptr, 0.00001, 0, 0);
  const Requantised a = read_requantised(r, {0, 30000000}, 0.01, 0, 0, 300000);
  EXPECT_EQ(a.messages, "WARNING: rescaling from 0.01 to 1e-05 causes LAS integer overflow for max_x\n");
  EXPECT_EQ(a.X, (std::vector<I32>{0, I32_MIN}));
}

TEST_F(LasReaderTest, ReoffsetMovesTheRawCoordinates) {
  LASreaderLASreoffset r(nullptr, 1000, 0, 0);
  const Requantised a = read_requantised(r, {100000, 100001}, 0.01, 0, 1000, 1000.01);
  EXPECT_EQ(a.X, (std::vector<I32>{0, 1}));
  EXPECT_EQ(a.x_offset, 1000.0);

  LASreaderLASreoffset far(nullptr, -30000000, 0, 0);
  const Requantised b = read_requantised(far, {0}, 0.01, 0, 0, 0);
  EXPECT_EQ(b.messages,
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for min_x\n"
            "WARNING: reoffsetting from 0 to -3e+07 causes LAS integer overflow for max_x\n");
}

TEST_F(LasReaderTest, AutomaticOffsetIsTheCentreCutToTenMillionUnits) {
  LASreaderLASreoffset r(nullptr);
  const Requantised a = read_requantised(r, {50000000, 50100000}, 0.01, 0, 500000, 501000);
  EXPECT_EQ(a.x_offset, 500000.0);
  EXPECT_EQ(a.X, (std::vector<I32>{0, 100000}));
}

TEST_F(LasReaderTest, RescaleAndReoffsetTogether) {
  LASreaderLASrescalereoffset r(nullptr, 0.001, 0, 0, 100, 0, 0);
  const Requantised a = read_requantised(r, {100000, -5}, 0.01, 0, -0.05, 1000);
  EXPECT_EQ(a.x_scale_factor, 0.001);
  EXPECT_EQ(a.x_offset, 100.0);
  EXPECT_EQ(a.X, (std::vector<I32>{900000, -100050}));
  EXPECT_EQ(a.messages, "");

  LASreaderLASrescalereoffset automatic(nullptr, 0.001, 0, 0);
  const Requantised b = read_requantised(automatic, {50000000}, 0.01, 0, 500000, 501000);
  EXPECT_EQ(b.x_offset, 500000.0);
  EXPECT_EQ(b.X, (std::vector<I32>{0}));
}

// ------------------------------------------------------------- lent records

// The bytes of `b` in a temporary file that is gone once the reader opened it.
bool open_as_file(LASreaderLAS& r, const std::string& bytes, I32 io_buffer_size) {
  char name[] = "/tmp/lasreader_las_test_XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0) return false;
  FILE* out = fdopen(fd, "wb");
  fwrite(bytes.data(), 1, bytes.size(), out);
  fclose(out);
  const bool ok = r.open(name, io_buffer_size);
  remove(name);
  return ok;
}

// 400 records of 28 bytes read through a buffer of 4096 bytes, so that blocks
// of 50 cross its end, with EVLRs behind them: lending, read_point and seek
// take turns and each sees the records it should; the EVLRs are never lent.
TEST_F(LasReaderTest, LentRecordsMixWithReadsAndSeeks) {
  LasFile f = with_points(4, 1, 400);
  f.evlrs.push_back({"LASF_Spec", 3, std::string(3000, 'e')});
  const lasfix::Built b = f.build();
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(open_as_file(r, b.bytes, 1));
  ASSERT_EQ(b.record_length, 28u);
  size_t next = 0;
  auto lend_and_check = [&](U32 wanted) {
    U32 got = 7;
    const U8* records = r.lend_point_records(wanted, got);
    if (records == nullptr) {
      EXPECT_EQ(got, 0u);
      return false;
    }
    EXPECT_GT(got, 0u);
    EXPECT_LE(got, wanted);
    for (U32 k = 0; k < got; k++, next++)
      EXPECT_EQ(std::string((const char*)records + k * 28, 28), record(b, next)) << next;
    EXPECT_EQ(r.points_read, (I64)next);
    return true;
  };
  while (next < 300) {
    ASSERT_TRUE(lend_and_check(50));
    ASSERT_TRUE(r.read_point());
    EXPECT_EQ(testpoints::record_of(r.point), record(b, next)) << next;
    next++;
  }
  ASSERT_TRUE(r.seek(10));
  next = 10;
  ASSERT_TRUE(lend_and_check(3));
  ASSERT_TRUE(r.read_point());
  EXPECT_EQ(testpoints::record_of(r.point), record(b, 13));
  ASSERT_TRUE(r.seek(390));
  next = 390;
  while (lend_and_check(1000)) {
  }
  EXPECT_EQ(next, 400u);
  EXPECT_EQ(r.points_read, 400);
  bool delivered = true;
  EXPECT_EQ(capture_read(r, delivered), "");
  EXPECT_FALSE(delivered);
  U32 got = 1;
  EXPECT_EQ(r.lend_point_records(10, got), nullptr);
  EXPECT_EQ(got, 0u);
}

// A file cut inside its seventh record: the six whole ones are lent, then
// nothing, and read_point meets the cut with the message and count it gives
// when every point is read one by one; through a file and through memory.
TEST_F(LasReaderTest, LendingStopsBeforeACutRecord) {
  const lasfix::Built b = with_points(2, 3, 10).build();
  const std::string cut = b.bytes.substr(0, b.point_position(6) + 5);
  TempDir dir;
  dir.write("cut.las", cut);
  const std::string name = dir.file("cut.las");
  for (const bool by_name : {false, true}) {
    SCOPED_TRACE(by_name ? "file" : "memory");
    LASreaderLAS one_by_one(nullptr), lending(nullptr);
    ASSERT_TRUE(by_name ? one_by_one.open(name.c_str(), 1) : open_bytes(one_by_one, cut).ok);
    ASSERT_TRUE(by_name ? lending.open(name.c_str(), 1) : open_bytes(lending, cut).ok);
    bool delivered = true;
    std::string expected;
    while (delivered) expected += capture_read(one_by_one, delivered);

    U32 got = 0, total = 0;
    while (const U8* records = lending.lend_point_records(4, got)) {
      for (U32 k = 0; k < got; k++)
        EXPECT_EQ(std::string((const char*)records + k * b.record_length, b.record_length), record(b, total + k));
      total += got;
    }
    EXPECT_EQ(total, 6u);
    delivered = true;
    EXPECT_EQ(capture_read(lending, delivered), expected);
    EXPECT_FALSE(delivered);
    EXPECT_EQ(lending.points_read, one_by_one.points_read);
    EXPECT_EQ(expected, "WARNING: end-of-file after 6 of 10 points for '" + (by_name ? name : "stream") + "'\n");
  }
}

// Files cut short far beyond the first buffer, read by name through the
// smallest buffer from a file and from a named pipe, one by one and lent in
// blocks: every whole record before the cut comes as written, then the
// warning with its count. The cuts fall on buffer sizes, between records and
// inside them, and inside the last record.
TEST_F(LasReaderTest, CutsAcrossBuffersEndWithTheWholeRecordsBeforeThem) {
  const U32 count = 600;
  const lasfix::Built b = with_points(2, 1, count).build();
  const size_t cuts[] = {4096, 8192, b.point_position(146), b.point_position(300) + 13,
                         b.point_position(count - 1) + b.record_length - 1};
  TempDir dir;
  for (const size_t cut : cuts) {
    const std::string bytes = b.bytes.substr(0, cut);
    const size_t whole = (cut - b.point_position(0)) / b.record_length;
    dir.write("cut.las", bytes);
    for (const bool piped : {false, true}) {
      for (const bool lending : {false, true}) {
        SCOPED_TRACE("cut at " + std::to_string(cut) + (piped ? " piped" : " file") + (lending ? " lent" : ""));
        const std::string name = dir.file(piped ? "pipe.las" : "cut.las");
        std::unique_ptr<FifoFeed> feed;
        if (piped) {
          remove(name.c_str());
          feed = std::make_unique<FifoFeed>(name, bytes);
          ASSERT_TRUE(feed->ok());
        }
        LASreaderLAS r(nullptr);
        ASSERT_TRUE(r.open(name.c_str(), 4096));
        size_t delivered_records = 0;
        U32 got = 0;
        while (const U8* records = lending ? r.lend_point_records(64, got) : nullptr) {
          for (U32 k = 0; k < got; k++, delivered_records++) {
            ASSERT_EQ(std::string((const char*)records + k * b.record_length, b.record_length),
                      record(b, delivered_records));
          }
        }
        if (lending) {
          EXPECT_GT(delivered_records, 0u);
        }
        bool delivered = true;
        std::string messages;
        while (delivered) {
          messages += capture_read(r, delivered);
          if (delivered) {
            ASSERT_EQ(testpoints::record_of(r.point), record(b, delivered_records++));
          }
        }
        EXPECT_EQ(delivered_records, whole);
        EXPECT_EQ(messages, "WARNING: end-of-file after " + std::to_string(whole) + " of 600 points for '" + name + "'\n");
      }
    }
  }
}

// Records are lent only where read_point would deliver them as they stand.
TEST_F(LasReaderTest, NoRecordsAreLentWhereThePointsDifferFromThem) {
  const std::string bytes = with_points(2, 1, 5).build().bytes;
  U32 got = 1;
  auto lends = [&](LASreaderLAS& r) {
    got = 1;
    const U8* records = r.lend_point_records(5, got);
    return records != nullptr && got > 0;
  };
  {
    LASreaderLAS r(nullptr);
    ASSERT_TRUE(open_bytes(r, bytes).ok);
    ASSERT_TRUE(r.inside_rectangle(-1e9, -1e9, 1e9, 1e9));
    EXPECT_FALSE(lends(r));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(r.inside_none());
    LASfilter filter;
    filter.add_criterion(new DropOdd);
    r.set_filter(&filter);
    EXPECT_FALSE(lends(r));
    r.set_filter(nullptr);
    LAStransform transform;
    r.set_transform(&transform);
    EXPECT_FALSE(lends(r));
    r.set_transform(nullptr);
    LASignore ignore;
    r.set_ignore(&ignore);
    EXPECT_FALSE(lends(r));
    r.set_ignore(nullptr);
    r.header.z_from_attribute = 0;
    EXPECT_FALSE(lends(r));
    r.header.z_from_attribute = -1;
    EXPECT_TRUE(lends(r));
    EXPECT_EQ(r.points_read, 5);
  }
  LASreaderLASrescale rescale(nullptr, 0.001, 0, 0);
  LASreaderLASreoffset reoffset(nullptr, 1000, 0, 0);
  LASreaderLASrescalereoffset both(nullptr, 0.001, 0, 0, 100, 0, 0);
  for (LASreaderLAS* r : std::initializer_list<LASreaderLAS*>{&rescale, &reoffset, &both}) {
    ASSERT_TRUE(open_bytes(*r, bytes).ok);
    EXPECT_FALSE(lends(*r));
    EXPECT_EQ(r->points_read, 0);
  }

  // Compressed points are decoded, never lent.
  const std::string compressed = compressed_with_zero_table_offset();
  LASreaderLAS r(nullptr);
  ASSERT_TRUE(open_bytes(r, compressed).ok);
  EXPECT_FALSE(lends(r));
}

// ---------------------------------------------------------------- owned parts

// A stream handed to open() is deleted by the reader only while delete_stream
// is set, as it stands when the reader lets the stream go: on close, or when
// another stream takes its place (the sanitized build checks each stream is
// deleted exactly once).
TEST_F(LasReaderTest, StreamIsDeletedOnlyWhileTheReaderMayDeleteIt) {
  const std::string bytes = with_points(2, 0, 3).build().bytes;
  auto stream = std::make_unique<ByteStreamInArrayLE>((const U8*)bytes.data(), (I64)bytes.size());
  {
    LASreaderLAS r(nullptr);
    ASSERT_TRUE(r.open(stream.get()));
    r.set_delete_stream(false);
  }
  ASSERT_TRUE(stream->seek(0));
  EXPECT_EQ(stream->getByte(), (U32)'L');

  ASSERT_TRUE(stream->seek(0));
  LASreaderLAS r(nullptr);
  r.set_delete_stream(false);
  ASSERT_TRUE(r.open(stream.get()));
  r.set_delete_stream(true);
  ByteStreamIn* handed = stream.release();  // the reader's from here
  EXPECT_EQ(r.get_stream(), handed);
  ASSERT_TRUE(r.read_point());

  // The second stream replaces the first, which the reader deletes.
  ASSERT_TRUE(open_bytes(r, bytes).ok);
  EXPECT_NE(r.get_stream(), handed);
  for (int i = 0; i < 3; i++) ASSERT_TRUE(r.read_point());
  EXPECT_FALSE(r.read_point());
}

}  // namespace
