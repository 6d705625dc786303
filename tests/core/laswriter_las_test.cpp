// The LAS and VMB writer, checked against the independent fixture builder and
// parser: whole files byte for byte, the in-place patches at their positions,
// output that cannot seek, the records the writer adds, and its errors.
#include "core/laswriter_las.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/bytestreamout_array.hpp"
#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "support/halting_off.hpp"
#include "support/las_fixture.hpp"
#include "support/point_records.hpp"
#include "support/temp_dir.hpp"
#include "support/test_item_coder.hpp"

namespace {

U8* copy_bytes(const std::string& bytes) {
  U8* data = (U8*)malloc(bytes.size() ? bytes.size() : 1);
  memcpy(data, bytes.data(), bytes.size());
  return data;
}

// The in-memory header of a fixture file: the same fields, records and user
// data. Counts and bounds stay 0: the writer learns them from the points.
void fill_header(LASheader& h, const lasfix::LasFile& f) {
  const lasfix::Header& x = f.header;
  h.file_source_ID = x.file_source_ID;
  h.global_encoding = x.global_encoding;
  h.project_ID_GUID_data_1 = x.project_ID_GUID_data_1;
  h.project_ID_GUID_data_2 = x.project_ID_GUID_data_2;
  h.project_ID_GUID_data_3 = x.project_ID_GUID_data_3;
  memcpy(h.project_ID_GUID_data_4, x.project_ID_GUID_data_4.data(), 8);
  h.version_major = x.version_major;
  h.version_minor = x.version_minor;
  strncpy(h.system_identifier, x.system_identifier.c_str(), 32);
  strncpy(h.generating_software, x.generating_software.c_str(), 32);
  h.file_creation_day = x.file_creation_day;
  h.file_creation_year = x.file_creation_year;
  h.header_size = (U16)(lasfix::standard_header_size(x.version_major, x.version_minor) + f.user_data_in_header.size());
  h.offset_to_point_data = h.header_size;
  if (!f.user_data_in_header.empty()) {
    h.user_data_in_header_bytes = (U32)f.user_data_in_header.size();
    h.user_data_in_header = copy_bytes(f.user_data_in_header);
  }
  for (const lasfix::Vlr& v : f.vlrs)
    h.add_vlr(v.user_id.c_str(), v.record_id, (U16)v.payload.size(), copy_bytes(v.payload), v.description.c_str());
  if (!f.user_data_after_header.empty()) {
    h.user_data_after_header_bytes = (U32)f.user_data_after_header.size();
    h.user_data_after_header = copy_bytes(f.user_data_after_header);
    h.offset_to_point_data += h.user_data_after_header_bytes;
  }
  h.point_data_format = x.point_data_format;
  h.point_data_record_length = (U16)(lasfix::point_base_size(x.point_data_format) + f.extra_bytes);
  h.x_scale_factor = x.x_scale_factor;
  h.y_scale_factor = x.y_scale_factor;
  h.z_scale_factor = x.z_scale_factor;
  h.x_offset = x.x_offset;
  h.y_offset = x.y_offset;
  h.z_offset = x.z_offset;
  if (!f.evlrs.empty()) {
    h.number_of_extended_variable_length_records = (U32)f.evlrs.size();
    h.evlrs = (LASevlrRecord*)calloc(f.evlrs.size(), sizeof(LASevlrRecord));
    for (size_t i = 0; i < f.evlrs.size(); i++) {
      LASevlrRecord& e = h.evlrs[i];
      strncpy(e.user_id, f.evlrs[i].user_id.c_str(), 16);
      e.record_id = f.evlrs[i].record_id;
      e.record_length_after_header = f.evlrs[i].payload.size();
      strncpy(e.description, f.evlrs[i].description.c_str(), 32);
      e.data = copy_bytes(f.evlrs[i].payload);
    }
  }
}

// A point laid out for the header, filled from a fixture point.
struct Source {
  explicit Source(const LASheader& header) { point.init(&header, header.point_data_format, header.point_data_record_length); }
  bool load(const lasfix::Point& p, const LASheader& header) {
    return testpoints::load(point, lasfix::encode_point(p, header.point_data_format, header.point_data_record_length));
  }
  LASpoint point;
};

// Writes the points as the thinning driver does: each point, its inventory,
// then the header from the inventory and close.
I64 write_all(LASwriter& writer, const LASheader& header, const std::vector<lasfix::Point>& points) {
  Source source(header);
  for (const lasfix::Point& p : points) {
    EXPECT_TRUE(source.load(p, header));
    EXPECT_TRUE(writer.write_point(&source.point));
    writer.update_inventory(&source.point);
  }
  EXPECT_TRUE(writer.update_header(&header, true));
  return writer.close(true);
}

// A writer over a stream of the test's own.
struct KeptWriter : LASwriterLAS {
  KeptWriter() { delete_stream = false; }
};

std::string bytes_of(const ByteStreamOutArray& out) { return std::string((const char*)out.getData(), (size_t)out.getSize()); }

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

// ------------------------------------------------------------------ round trip

struct FileCase {
  const char* name;
  U8 minor;
  U8 format;
  U16 extra_bytes;
  bool records;  // VLRs, user data in and after the header, EVLRs
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class WriterRoundTrip : public ::testing::TestWithParam<FileCase> {};

// Every version with formats it allows, with and without records around the
// points: the written file equals the one the fixture builds, byte for byte,
// and the fixture's parser reads back every field and point.
// The file of a case: points that vary every field, and with records,
// records of every kind around them.
lasfix::LasFile case_file(const FileCase& c) {
  lasfix::LasFile f;
  f.header.version_minor = c.minor;
  f.header.point_data_format = c.format;
  f.header.x_offset = 1000.5;
  f.header.z_scale_factor = 0.001;
  f.header.file_source_ID = 77;
  f.header.global_encoding = 1;
  f.header.project_ID_GUID_data_4 = {1, 2, 3, 4, 5, 6, 7, 8};
  f.extra_bytes = c.extra_bytes;
  for (U32 i = 0; i < 7; i++) f.points.push_back(lasfix::varied_point(c.format, i, c.extra_bytes));
  if (c.records) {
    f.user_data_in_header = "IN";
    f.vlrs.push_back({"LASF_Projection", 34737, "WGS 84|", "ascii params"});
    f.vlrs.push_back({"someone", 7, std::string(300, 'v'), "opaque"});
    f.vlrs.push_back({"empty", 1, "", "no payload"});
    f.user_data_after_header = "after";
    if (c.minor >= 4) {
      f.evlrs.push_back({"someone", 8, std::string(70000, 'e'), "long one"});
      f.evlrs.push_back({"other", 9, "", "empty"});
    }
  }
  return f;
}

TEST_P(WriterRoundTrip, FileEqualsTheFixturesBytes) {
  const lasfix::LasFile f = case_file(GetParam());
  const lasfix::Built expected = f.build();

  LASheader header;
  fill_header(header, f);
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header));
  const I64 bytes = write_all(writer, header, f.points);

  const std::string written = bytes_of(out);
  EXPECT_EQ(bytes, (I64)written.size());
  ASSERT_EQ(written.size(), expected.bytes.size());
  for (size_t i = 0; i < written.size(); i++) ASSERT_EQ((int)(U8)written[i], (int)(U8)expected.bytes[i]) << "byte " << i;

  const lasfix::Parsed parsed = lasfix::parse(written);
  EXPECT_EQ(parsed.points, f.points);
  EXPECT_EQ(parsed.vlrs.size(), f.vlrs.size());
  EXPECT_EQ(parsed.evlrs.size(), f.evlrs.size());
}

// Where the inventory finds its fields in the records of `format`.
LASrecordFields record_fields(U8 format, U16 record_length) {
  const bool has_gps_time = format != 0 && format != 2;
  return LASrecordFields{record_length, format >= 6, has_gps_time ? (format >= 6 ? 22 : 20) : -1};
}

// The fixture's records handed over as they lie, in two batches, write the
// file that writing their points one by one writes: the records, the point
// count, and the counts by return, bounds and GPS range of the header from
// the same inventory.
TEST_P(WriterRoundTrip, RecordsAsTheyLieWriteWhatTheirPointsWrite) {
  const FileCase& c = GetParam();
  const lasfix::LasFile f = case_file(c);
  LASheader header;
  fill_header(header, f);
  const U16 length = header.point_data_record_length;
  std::string records;
  for (const lasfix::Point& p : f.points) records += lasfix::encode_point(p, c.format, length);

  ByteStreamOutArrayLE by_points_out;
  KeptWriter by_points;
  ASSERT_TRUE(by_points.open(&by_points_out, &header));
  write_all(by_points, header, f.points);

  ByteStreamOutArrayLE by_records_out;
  KeptWriter by_records;
  ASSERT_TRUE(by_records.open(&by_records_out, &header));
  ASSERT_TRUE(by_records.takes_records(c.format, length));
  const LASrecordFields fields = record_fields(c.format, length);
  const U8* bytes = (const U8*)records.data();
  for (const auto& [first, count] : {std::pair<U32, U32>{0, 4}, {4, 3}}) {
    EXPECT_TRUE(by_records.write_records(bytes + (size_t)first * length, count));
    by_records.update_inventory_records(bytes + (size_t)first * length, count, fields);
  }
  EXPECT_EQ(by_records.points_written, 7);
  const LASinventory& a = by_points.inventory;
  const LASinventory& b = by_records.inventory;
  EXPECT_EQ(b.number_of_point_records, a.number_of_point_records);
  EXPECT_TRUE(std::equal(std::begin(a.number_of_points_by_return), std::end(a.number_of_points_by_return),
                         std::begin(b.number_of_points_by_return)));
  EXPECT_EQ(std::vector<I32>({b.min_X, b.max_X, b.min_Y, b.max_Y, b.min_Z, b.max_Z}),
            std::vector<I32>({a.min_X, a.max_X, a.min_Y, a.max_Y, a.min_Z, a.max_Z}));
  EXPECT_EQ(b.min_gps_time, a.min_gps_time);
  EXPECT_EQ(b.max_gps_time, a.max_gps_time);
  EXPECT_TRUE(by_records.update_header(&header, true));
  by_records.close(true);
  EXPECT_TRUE(bytes_of(by_records_out) == bytes_of(by_points_out));
}

INSTANTIATE_TEST_SUITE_P(
    Versions, WriterRoundTrip,
    ::testing::Values(FileCase{"v10_f0", 0, 0, 0, false}, FileCase{"v11_f1_records", 1, 1, 0, true},
                      FileCase{"v12_f3_extra", 2, 3, 5, true}, FileCase{"v13_f5", 3, 5, 0, true},
                      FileCase{"v13_f4_extra", 3, 4, 3, false}, FileCase{"v14_f1_records", 4, 1, 0, true},
                      FileCase{"v14_f6", 4, 6, 0, false}, FileCase{"v14_f7_records", 4, 7, 2, true},
                      FileCase{"v14_f8", 4, 8, 0, false}, FileCase{"v14_f9", 4, 9, 0, true},
                      FileCase{"v14_f10_extra", 4, 10, 4, true}, FileCase{"v15_f6_records", 5, 6, 0, true},
                      FileCase{"v15_f10", 5, 10, 1, false}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------------ patching

struct Announced {
  U8 minor;
  U8 format;
  U32 announced;
  U32 written;
  bool warns;
};

// A header that announces one count and a close that finds another: the true
// count is patched into the file (legacy at 107, extended at 247), and the
// difference warned about when something was announced.
TEST_F(WriterTest, CloseWithTheSwitchPatchesTheCount) {
  const Announced cases[] = {{2, 1, 100, 80, true}, {2, 0, 0, 50, false}, {4, 1, 100, 80, true}, {4, 6, 10, 3, true}};
  for (const Announced& c : cases) {
    SCOPED_TRACE(testing::Message() << "1." << (int)c.minor << " format " << (int)c.format << " " << c.announced);
    TempDir temp;
    LASheader header;
    header.version_minor = c.minor;
    header.header_size = header.offset_to_point_data = (U16)lasfix::standard_header_size(1, c.minor);
    header.point_data_format = c.format;
    header.point_data_record_length = lasfix::point_base_size(c.format);
    if (c.format <= 5) header.number_of_point_records = c.announced;
    header.extended_number_of_point_records = c.announced;
    LASwriterLAS writer;
    ASSERT_TRUE(writer.open(temp.file("out.las").c_str(), &header));
    Source source(header);
    testing::internal::CaptureStderr();
    for (U32 i = 0; i < c.written; i++) ASSERT_TRUE(writer.write_point(&source.point));
    EXPECT_EQ(writer.close(true), (I64)(header.header_size + c.written * header.point_data_record_length));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.warns ? "WARNING: written " + std::to_string(c.written) + " points but expected " +
                                 std::to_string(c.announced) + " points\n"
                           : "");
    const std::string file = temp.read("out.las");
    EXPECT_EQ(lasfix::get_u32(file, 107), c.format <= 5 ? c.written : 0u);
    if (c.minor >= 4) {
      EXPECT_EQ(lasfix::get_u64(file, 247), c.written);
    }
    EXPECT_EQ(writer.points_expected, (I64)c.written);
  }
}

// The inventory reaches the header at its positions: counts by return,
// bounds in the writer's scaling, and from 1.5 on the GPS range.
TEST_F(WriterTest, UpdateHeaderFromTheInventory) {
  lasfix::LasFile f;
  f.header.version_minor = 5;
  f.header.point_data_format = 6;
  f.header.x_scale_factor = 0.25;
  f.header.y_offset = -7;
  for (U32 i = 0; i < 5; i++) f.points.push_back(lasfix::varied_point(6, i));
  f.points[3].return_number = 9;
  f.points[3].number_of_returns = 10;
  const lasfix::Built expected = f.build();
  LASheader header;
  fill_header(header, f);
  header.max_x = header.min_x = 12345;  // stale bounds, replaced from the points
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header));
  write_all(writer, header, f.points);
  const lasfix::Parsed p = lasfix::parse(bytes_of(out));
  EXPECT_EQ(*p.header.max_x, *expected.header.max_x);
  EXPECT_EQ(*p.header.min_y, *expected.header.min_y);
  EXPECT_EQ((*p.header.extended_number_of_points_by_return)[8], 1u);
  EXPECT_EQ(*p.header.max_gps_time, *expected.header.max_gps_time);
  EXPECT_EQ(*p.header.min_gps_time, *expected.header.min_gps_time);
  EXPECT_EQ(*p.header.number_of_point_records, 0u);
  EXPECT_EQ(*p.header.extended_number_of_point_records, 5u);
}

// A header passed to update_header may claim a later version than the one
// written; its later fields have no place in the file and are not written
// over the records behind the header.
TEST_F(WriterTest, UpdateHeaderKeepsToTheWrittenVersion) {
  lasfix::LasFile f;
  f.vlrs.push_back({"someone", 1, std::string(200, 'r'), "kept"});
  f.points = {lasfix::varied_point(0, 0)};
  LASheader header;
  fill_header(header, f);
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header));
  Source source(header);
  ASSERT_TRUE(source.load(f.points[0], header));
  writer.write_point(&source.point);
  header.version_minor = 5;
  header.number_of_point_records = 1;
  EXPECT_TRUE(writer.update_header(&header, false));
  writer.update_inventory(&source.point);
  EXPECT_TRUE(writer.update_header(&header, true));
  writer.close(true);
  const lasfix::Parsed p = lasfix::parse(bytes_of(out));
  ASSERT_EQ(p.vlrs.size(), 1u);
  EXPECT_EQ(p.vlrs[0].payload, std::string(200, 'r'));
  EXPECT_EQ(p.points, f.points);
}

// The standard output cannot seek: update_header refuses with a warning and
// close warns instead of patching, so the file keeps the header it was opened
// with, even when the standard output is a regular file.
TEST_F(WriterTest, StandardOutputKeepsTheHeaderItWasOpenedWith) {
  TempDir temp;
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  FILE* target = fopen(temp.file("piped.las").c_str(), "wb");
  ASSERT_NE(target, nullptr);
  dup2(fileno(target), STDOUT_FILENO);

  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  bool opened = writer.open(stdout, &header);
  Source source(header);
  source.point.X = 5;
  for (int i = 0; opened && i < 50; i++) {
    writer.write_point(&source.point);
    writer.update_inventory(&source.point);
  }
  const bool updated = opened && writer.update_header(&header, true);
  const I64 bytes = opened ? writer.close(true) : 0;
  const std::string err = testing::internal::GetCapturedStderr();
  fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  fclose(target);

  ASSERT_TRUE(opened);
  EXPECT_FALSE(updated);
  EXPECT_EQ(bytes, 227 + 50 * 28);
  EXPECT_EQ(err,
            "WARNING: stream not seekable. cannot update header.\n"
            "WARNING: stream not seekable. cannot update header from 0 to 50 points.\n");
  const std::string file = temp.read("piped.las");
  ASSERT_EQ(file.size(), 227u + 50 * 28);
  EXPECT_EQ(lasfix::get_u32(file, 107), 0u);
  EXPECT_EQ(lasfix::get_f64(file, 179), 0.0);
}

// The counting output seeks nowhere, so its count includes the patches.
TEST_F(WriterTest, NilOutputCountsEveryBytePut) {
  LASheader header;
  header.number_of_point_records = 3;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open(&header));
  EXPECT_EQ(writer.tell(), 227);
  Source source(header);
  writer.write_point(&source.point);
  writer.update_inventory(&source.point);
  EXPECT_EQ(writer.tell(), 247);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(writer.update_header(&header, true));
  EXPECT_EQ(writer.tell(), 247 + 24 + 48);
  EXPECT_EQ(writer.close(true), 247 + 24 + 48);  // the inventory made 1 the expected count
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ------------------------------------------------------------------ records

// The tiling and origin-counts records follow the header's records, raise the
// offset by 82 + 230 and the count by 2, and the origin record's payload
// position is handed back through the header.
TEST_F(WriterTest, TilingAndOriginRecordsAreAdded) {
  lasfix::LasFile f;
  f.vlrs.push_back({"someone", 3, "abc", "first"});
  LASheader header;
  fill_header(header, f);
  header.vlr_lastiling.reset(new LASvlrTiling());
  header.vlr_lastiling->level = 3;
  header.vlr_lastiling->level_index = 17;
  header.vlr_lastiling->set_implicit_levels(5);
  header.vlr_lastiling->set_reversible(true);
  header.vlr_lastiling->min_x = 1.5f;
  header.vlr_lastiling->max_y = 9.25f;
  header.vlr_lasoriginal.reset(new LASvlrOriginal());
  header.vlr_lasoriginal->number_of_point_records = 1234;
  header.vlr_lasoriginal->number_of_points_by_return[14] = 99;
  header.vlr_lasoriginal->min_x = -1;
  header.vlr_lasoriginal->max_z = 8;
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header));
  writer.close(true);
  const lasfix::Parsed p = lasfix::parse(bytes_of(out));
  EXPECT_EQ(*p.header.offset_to_point_data, 227u + 57 + 312);
  ASSERT_EQ(p.vlrs.size(), 3u);
  EXPECT_EQ(p.vlrs[1].user_id, "Pelkarts");
  EXPECT_EQ(p.vlrs[1].record_id, 10);
  EXPECT_EQ(p.vlrs[1].description, "tile without buffer , reversible");
  lasfix::Tiling tiling;
  tiling.level = 3;
  tiling.level_index = 17;
  tiling.implicit_levels = 5;
  tiling.reversible = true;
  tiling.min_x = 1.5f;
  tiling.max_y = 9.25f;
  EXPECT_EQ(lasfix::parse_tiling(p.vlrs[1].payload), tiling);
  EXPECT_EQ(p.vlrs[2].record_id, 20);
  EXPECT_EQ(p.vlrs[2].description, "counters and bbox of original");
  lasfix::Original original;
  original.number_of_point_records = 1234;
  original.number_of_points_by_return[14] = 99;
  original.min_x = -1;
  original.max_z = 8;
  EXPECT_EQ(lasfix::parse_original(p.vlrs[2].payload), original);
  EXPECT_EQ(header.vlr_lasoriginal->position, 227 + 57 + 82 + 54);
}

// The fields of format 3 in an order that forms no standard point type.
const LASitem ODD_ITEMS[] = {{LASitem::POINT10, 20, 2}, {LASitem::RGB12, 6, 2}, {LASitem::GPSTIME11, 8, 2}};

void describe_odd_items(LASheader& header) {
  header.compressor.reset(new Vembra());
  ASSERT_TRUE(header.compressor->setup(3, ODD_ITEMS, Vembra::POINTWISE_CHUNKED));
  header.point_data_format = 3;
  header.point_data_record_length = 34;
}

// A description that forms no standard point type goes out with plain
// records too (compressor 0), so that readers learn the layout from it.
TEST_F(WriterTest, NonStandardItemListWritesItsDescription) {
  LASheader header;
  describe_odd_items(header);
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header, 0, 0, 1000));
  LASpoint point;
  ASSERT_TRUE(point.init(&header, 3, ODD_ITEMS));
  point.X = 42;
  point.gps_time = 2.5;
  point.rgb[0] = 7;
  ASSERT_TRUE(writer.write_point(&point));
  writer.close(true);
  const std::string bytes = bytes_of(out);
  const lasfix::Parsed p = lasfix::parse(bytes);
  EXPECT_EQ(p.header.point_data_format, 127);
  EXPECT_EQ(*p.header.offset_to_point_data, 227u + 54 + 34 + 18);
  ASSERT_EQ(p.vlrs.size(), 1u);
  EXPECT_EQ(p.vlrs[0].user_id, "vembra encoded");
  EXPECT_EQ(p.vlrs[0].record_id, 22204);
  EXPECT_EQ(p.vlrs[0].description, "by vembra of Pelkarts (251122)");
  lasfix::Compressor c;
  c.compressor = 0;
  c.chunk_size = 1000;
  c.items = {{6, 20, 0}, {8, 6, 0}, {7, 8, 0}};
  EXPECT_EQ(lasfix::parse_compressor(p.vlrs[0].payload), c);
  ASSERT_EQ(p.point_data.size(), 34u);
  EXPECT_EQ(lasfix::get_u32(p.point_data, 0), 42u);
  EXPECT_EQ(lasfix::get_u16(p.point_data, 20), 7u);
  EXPECT_EQ(lasfix::get_f64(p.point_data, 26), 2.5);
}

// Records go out as they lie only into plain records of their own standard
// format and length: not into another length or format, not into
// compressed output, not under an item list that forms no standard format.
TEST_F(WriterTest, RecordsAsTheyLieOnlyIntoTheirOwnPlainFormat) {
  LASheader header;
  header.point_data_format = 3;
  header.point_data_record_length = 36;
  ByteStreamOutArrayLE out;
  KeptWriter plain;
  ASSERT_TRUE(plain.open(&out, &header));
  EXPECT_TRUE(plain.takes_records(3, 36));
  EXPECT_FALSE(plain.takes_records(3, 34));
  EXPECT_FALSE(plain.takes_records(1, 36));

  lasfix::LasFile f;
  f.header.point_data_format = 1;
  LASheader compressed_header;
  fill_header(compressed_header, f);
  ByteStreamOutArrayLE compressed_out;
  testcoder::chunk_out = &compressed_out;
  KeptWriter compressed;
  compressed.set_coded_writer_maker(testcoder::make_writer);
  ASSERT_TRUE(compressed.open(&compressed_out, &compressed_header, 2));
  EXPECT_FALSE(compressed.takes_records(1, 28));
  EXPECT_FALSE(compressed.write_records((const U8*)std::string(28, 0).data(), 1));
  EXPECT_EQ(compressed.points_written, 0);

  LASheader odd_header;
  describe_odd_items(odd_header);
  ByteStreamOutArrayLE odd_out;
  KeptWriter odd;
  ASSERT_TRUE(odd.open(&odd_out, &odd_header, 0, 0, 1000));
  EXPECT_FALSE(odd.takes_records(3, 34));
}

// VMB output through the test item coder: the compressor record, the
// compressed format byte, the grown offset and the chunk table.
TEST_F(WriterTest, CompressedOutputCarriesItsRecordAndChunkTable) {
  struct Case {
    U8 minor;
    U8 format;
    U32 compressor;
    I32 chunk_size;
    U16 written_compressor;
    U16 version;
  };
  const Case cases[] = {{2, 1, 2, 10, 2, 2}, {4, 7, 3, -1, 3, 3}, {5, 6, 3, 0, 3, 4}, {4, 1, 3, 10, 2, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << (int)c.format << " compressor " << c.compressor);
    lasfix::LasFile f;
    f.header.version_minor = c.minor;
    f.header.point_data_format = c.format;
    for (U32 i = 0; i < 25; i++) f.points.push_back(lasfix::varied_point(c.format, i));
    LASheader header;
    fill_header(header, f);
    ByteStreamOutArrayLE out;
    testcoder::chunk_out = &out;
    KeptWriter writer;
    writer.set_coded_writer_maker(testcoder::make_writer);
    ASSERT_TRUE(writer.open(&out, &header, c.compressor, 0, c.chunk_size));
    write_all(writer, header, f.points);
    const lasfix::Parsed p = lasfix::parse(bytes_of(out));
    EXPECT_EQ(p.header.point_data_format, c.format | 0x80);
    ASSERT_EQ(p.vlrs.size(), 1u);
    const lasfix::Compressor record = lasfix::parse_compressor(p.vlrs[0].payload);
    const U32 items = (U32)record.items.size();
    EXPECT_EQ(*p.header.offset_to_point_data, lasfix::standard_header_size(1, c.minor) + 88 + 6 * items);
    EXPECT_EQ(record.compressor, c.written_compressor);
    EXPECT_EQ(record.chunk_size, c.chunk_size < 0 ? 50000u : (U32)c.chunk_size);
    EXPECT_EQ(record.items, lasfix::standard_items(c.format, lasfix::point_base_size(c.format), c.version));
    EXPECT_EQ(p.point_count(), 25u);
    // The offset field holds a file position; the table reader counts from the block.
    std::string block = p.point_data;
    const U64 table_position = lasfix::get_u64(block, 0);
    EXPECT_GT(table_position, (U64)*p.header.offset_to_point_data);
    lasfix::put_u64(block, 0, table_position - *p.header.offset_to_point_data);
    const testpoints::ChunkTable table = testpoints::read_table(block, c.chunk_size == 0);
    EXPECT_EQ(table.byte_counts.size(), c.chunk_size == 10 ? 3u : 1u);
  }
}

// Compressed points go through the real item coders; while versions 1 to 4
// have none, opening says that the point type is not supported.
TEST_F(WriterTest, CompressedOutputOfALegacyFormatOpens) {
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(writer.open(&out, &header, 2));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// EVLRs go after the points of 1.4 files; the header's EVLR start is patched
// when they land elsewhere than it says, and left when they land there.
TEST_F(WriterTest, EvlrsFollowThePointsAndTheirStartIsPatched) {
  for (bool right_start : {false, true}) {
    lasfix::LasFile f;
    f.header.version_minor = 4;
    f.header.point_data_format = 1;
    f.points = {lasfix::varied_point(1, 0), lasfix::varied_point(1, 1)};
    f.evlrs.push_back({"someone", 5, "payload", "evlr"});
    const lasfix::Built expected = f.build();
    LASheader header;
    fill_header(header, f);
    header.start_of_first_extended_variable_length_record = right_start ? expected.evlr_positions[0] : 1;
    ByteStreamOutArrayLE out;
    KeptWriter writer;
    ASSERT_TRUE(writer.open(&out, &header));
    const std::string opened = bytes_of(out);
    write_all(writer, header, f.points);
    EXPECT_EQ(bytes_of(out), expected.bytes);
    EXPECT_EQ(lasfix::get_u64(opened, 235), right_start ? expected.evlr_positions[0] : 1u);
  }
  // Before 1.4 a header's EVLRs have no place in the file.
  lasfix::LasFile f;
  f.header.version_minor = 4;
  f.evlrs.push_back({"someone", 5, "payload", "evlr"});
  LASheader header;
  fill_header(header, f);
  header.version_minor = 2;
  header.header_size = header.offset_to_point_data = 227;
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  ASSERT_TRUE(writer.open(&out, &header));
  EXPECT_EQ(writer.close(true), 227);
}

// The COPC hierarchy's position and size go into the root-page pointer of the
// COPC information record written: at byte 469 when that record comes first
// after a 1.4 header, wherever it was written otherwise, and nowhere when
// there is none.
TEST_F(WriterTest, CopcRootPointerLandsInTheWrittenInfoRecord) {
  for (int layout = 0; layout < 3; layout++) {
    SCOPED_TRACE(layout);
    lasfix::LasFile f;
    f.header.version_minor = 4;
    f.header.point_data_format = 6;
    if (layout == 1) f.vlrs.push_back({"someone", 1, "xyz", "before"});
    if (layout != 2) f.vlrs.push_back({"copc", 1, lasfix::copc_info_payload(0, 0), "info"});
    f.vlrs.push_back({"someone", 2, std::string(64, 'k'), "after"});
    f.evlrs.push_back({"copc", 1000, std::string(32, 'h'), "hierarchy"});
    f.points = {lasfix::varied_point(6, 0)};
    const lasfix::Built expected = f.build();
    LASheader header;
    fill_header(header, f);
    ByteStreamOutArrayLE out;
    KeptWriter writer;
    ASSERT_TRUE(writer.open(&out, &header));
    write_all(writer, header, f.points);
    const std::string bytes = bytes_of(out);
    const U64 payload = expected.evlr_positions[0] + 60;
    if (layout == 0) {
      EXPECT_EQ(lasfix::get_u64(bytes, 469), payload);
      EXPECT_EQ(lasfix::get_u64(bytes, 477), 32u);
    }
    std::string patched = expected.bytes;
    if (layout != 2) {
      const size_t info = expected.vlr_positions[layout == 1 ? 1 : 0] + 54;
      lasfix::put_u64(patched, info + 40, payload);
      lasfix::put_u64(patched, info + 48, 32);
    }
    EXPECT_EQ(bytes, patched);
  }
}

// The Extra Bytes record is rewritten where it was written when its length
// is unchanged; a record that changed its length is left, with a warning.
TEST_F(WriterTest, ExtraBytesRecordIsRewrittenOnlyInPlace) {
  lasfix::ExtraBytesAttribute height;
  height.data_type = 6;
  height.name = "height";
  lasfix::LasFile f;
  f.extra_bytes = 4;
  f.vlrs.push_back({"someone", 1, "first", "first"});
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload({height}), "extra bytes"});
  f.vlrs.push_back({"someone", 2, "last", "last"});
  for (bool same_length : {true, false}) {
    SCOPED_TRACE(same_length);
    LASheader header;
    fill_header(header, f);
    LASattributeDescriptor descriptor;
    memcpy((void*)&descriptor, f.vlrs[1].payload.data(), 192);
    header.add_attribute(descriptor);
    ByteStreamOutArrayLE out;
    KeptWriter writer;
    ASSERT_TRUE(writer.open(&out, &header));
    const std::string before = bytes_of(out);
    lasfix::ExtraBytesAttribute renamed = height;
    renamed.name = "elevation";
    std::vector<lasfix::ExtraBytesAttribute> now = {renamed};
    if (!same_length) now.push_back(height);
    const std::string payload = lasfix::extra_bytes_payload(now);
    header.add_vlr("LASF_Spec", 4, (U16)payload.size(), copy_bytes(payload), "extra bytes");
    testing::internal::CaptureStderr();
    EXPECT_TRUE(writer.update_header(&header, false, true));
    const std::string err = testing::internal::GetCapturedStderr();
    writer.close(false);
    const lasfix::Parsed p = lasfix::parse(bytes_of(out));
    ASSERT_EQ(p.vlrs.size(), 3u);
    EXPECT_EQ(p.vlrs[1].payload, same_length ? payload : f.vlrs[1].payload);
    EXPECT_EQ(p.vlrs[2].payload, "last");
    EXPECT_EQ(err, same_length ? "" : "WARNING: extra bytes VLR has 384 bytes but 192 were written. cannot update it in place.\n");
    EXPECT_EQ(bytes_of(out).substr(0, 107), before.substr(0, 107));
  }
}

// ------------------------------------------------------------------ checks

struct Refusal {
  const char* name;
  void (*change)(LASheader&);
  U32 compressor;
  I32 chunk_size;
  std::string err;
};

void PrintTo(const Refusal& c, std::ostream* os) { *os << c.name; }

class WriterRefusal : public ::testing::TestWithParam<Refusal> {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

TEST_P(WriterRefusal, OpenFailsWithTheError) {
  const Refusal& c = GetParam();
  LASheader header;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  c.change(header);
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open(&out, &header, c.compressor, 0, c.chunk_size));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, WriterRefusal,
    ::testing::Values(
        Refusal{"signature", [](LASheader& h) { memcpy(h.file_signature, "LASX", 4); }, 0, -1,
                "ERROR: wrong file signature 'LASX'\n"},
        Refusal{"header_size", [](LASheader& h) { h.header_size = 200; }, 0, -1,
                "ERROR: header size is 200 but should be at least 227\n"},
        Refusal{"offset", [](LASheader& h) { h.offset_to_point_data = 226; }, 0, -1,
                "ERROR: offset to point data 226 is smaller than header size 227\n"},
        Refusal{"header_size_of_other_version", [](LASheader& h) { h.version_minor = 4; }, 0, -1,
                "ERROR: header size 227 does not match the 375 bytes of a LAS 1.4 header and its user data\n"},
        Refusal{"offset_past_records", [](LASheader& h) { h.offset_to_point_data = 300; }, 0, -1,
                "ERROR: offset to point data 300 does not match the 227 bytes of header, records and user data\n"},
        Refusal{"records_missing", [](LASheader& h) { h.number_of_variable_length_records = 2; }, 0, -1,
                "ERROR: there should be 2 VLRs in header->vlrs\n"},
        Refusal{"unknown_point_type", [](LASheader& h) { h.point_data_format = 11; }, 0, -1,
                "WARNING: LAS version 1.2 does not allow point format 11\nERROR: unknown point type 11 with point size 28\n"},
        Refusal{"new_type_needs_native",
                [](LASheader& h) {
                  h.version_minor = 4;
                  h.header_size = h.offset_to_point_data = 375;
                  h.point_data_format = 6;
                  h.point_data_record_length = 30;
                },
                2, -1, "ERROR: point type 6 requires using \"native LAS 1.4 extension\" of Vembra\n"},
        Refusal{"adaptive_for_old_type", [](LASheader&) {}, 2, 0,
                "ERROR: adaptive chunking is depricated for point type 1. only available for new LAS 1.4 point types 6 or "
                "higher.\n"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

// Warnings only: the header is written, with major 1 and minor at most 5.
TEST_F(WriterTest, VersionFormatScaleAndBoxOnlyWarn) {
  LASheader header;
  header.version_major = 2;
  header.version_minor = 6;
  header.header_size = header.offset_to_point_data = 393;
  header.point_data_format = 1;
  header.point_data_record_length = 28;
  header.x_scale_factor = 0;
  header.number_of_point_records = 1;
  header.min_y = 5;
  header.start_of_waveform_data_packet_record = 99;
  ByteStreamOutArrayLE out;
  KeptWriter writer;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(writer.open(&out, &header));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: unknown version 2.6 (allowed 1.0-1.5)\n"
            "WARNING: LAS version 2.6 does not allow point format 1\n"
            "WARNING: x scale factor is zero.\n"
            "WARNING: invalid bounding box [ 0 5 0 / 0 0 0 ]\n"
            "WARNING: point type 1 is not supported for version 2.6 anymore\n"
            "WARNING: header->version_major is 2. writing 1 instead.\n"
            "WARNING: header->version_minor is 6. writing 5 instead.\n"
            "WARNING: header->start_of_waveform_data_packet_record is 99. writing 0 instead.\n");
  writer.close(false);
  const std::string bytes = bytes_of(out);
  EXPECT_EQ(bytes.size(), 393u);
  EXPECT_EQ(bytes[24], 1);
  EXPECT_EQ(bytes[25], 5);
  EXPECT_EQ(lasfix::get_u64(bytes, 227), 0u);
  // An inverted box without points is no reason to warn.
  LASheader empty;
  empty.min_x = 3;
  testing::internal::CaptureStderr();
  LASwriterLAS quiet;
  EXPECT_TRUE(quiet.open(&empty));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(WriterTest, NullArgumentsAndUnopenableFiles) {
  LASheader header;
  LASwriterLAS writer;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(writer.open((ByteStreamOut*)nullptr, &header));
  EXPECT_FALSE(LASwriterLAS().open(new ByteStreamOutArrayLE(), nullptr));
  EXPECT_FALSE(LASwriterLAS().open((const char*)nullptr, &header));
  EXPECT_FALSE(LASwriterLAS().open((FILE*)nullptr, &header));
  EXPECT_FALSE(LASwriterLAS().open("/nonexistent-dir/x.las", &header));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: ByteStreamOut pointer is zero\n"
            "ERROR: LASheader pointer is zero\n"
            "ERROR: file name pointer is zero\n"
            "ERROR: file pointer is zero\n"
            "ERROR: cannot open file '/nonexistent-dir/x.las' for write\n");
  EXPECT_EQ(writer.close(true), 0);
}

// A file whose writer cannot be set up is not left behind, whether the error
// ends the run (halting) or the open just fails.
TEST_F(WriterTest, FailedOpenLeavesNoFile) {
  TempDir dir;
  const std::string name = dir.file("refused.vmb");
  LASheader header;
  header.version_minor = 4;
  header.header_size = 375;
  header.offset_to_point_data = 375;
  header.point_data_format = 7;
  header.point_data_record_length = 36;
  EXPECT_EXIT(
      {
        forget_message_counts();
        halt_on_error(true);
        LASwriterLAS().open(name.c_str(), &header, Vembra::POINTWISE_CHUNKED);
      },
      ::testing::ExitedWithCode(3), "requires using \"native LAS 1.4 extension\"");
  EXPECT_FALSE(dir.exists("refused.vmb"));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LASwriterLAS().open(name.c_str(), &header, Vembra::POINTWISE_CHUNKED));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(dir.exists("refused.vmb"));
  // Nor the temporary file it was written to.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// A device that takes no bytes: the loss shows at close as an error and a
// result of 0, not as a byte count.
TEST_F(WriterTest, LostOutputIsAnErrorAtClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  LASheader header;
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open("/dev/full", &header));
  Source source(header);
  EXPECT_TRUE(writer.write_point(&source.point));
  testing::internal::CaptureStderr();
  EXPECT_EQ(writer.close(true), 0);
  // A device is written directly and cannot be patched.
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: stream not seekable. cannot update header from 0 to 1 points.\n"
            "ERROR: writing the output failed\n");
}

// An output that takes no byte beyond `room`: the first write that does not
// fit is the one the error names, and opening gives up there.
class FullAfter final : public ByteStreamOutArray {
 public:
  explicit FullAfter(I64 room) : room(room) {}
  bool putByte(U8 byte) override { return tell() < room && ByteStreamOutArray::putByte(byte); }
  bool putBytes(const U8* bytes, U32 num_bytes) override {
    return tell() + (I64)num_bytes <= room && ByteStreamOutArray::putBytes(bytes, num_bytes);
  }
  BYTESTREAMOUT_ORDERED_WRITES(LE, BE)

 private:
  I64 room;
};

TEST_F(WriterTest, FailedHeaderWriteNamesTheField) {
  struct Case {
    I64 room;
    U32 compressor;
    const char* message;
  };
  // A 1.2 header is 227 bytes, its one record head 54 more; the compressor
  // record follows as the last record of a compressed file.
  const Case cases[] = {
      {0, 0, "ERROR: writing header->file_signature\n"},
      {5, 0, "ERROR: writing header->file_source_ID\n"},
      {140, 0, "ERROR: writing header->y_scale_factor\n"},
      {230, 0, "ERROR: writing header->vlrs[0].user_id\n"},
      {227 + 54 + 2, 0, "ERROR: writing 4 bytes of data from header->vlrs[0].data\n"},
      {227 + 54 + 4 + 54 + 13, Vembra::POINTWISE_CHUNKED, "ERROR: writing chunk_size 50000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    LASheader header;
    U8* data = copy_bytes("abcd");
    ASSERT_TRUE(header.add_vlr("LASF_Spec", 3, 4, data));
    FullAfter out(c.room);
    KeptWriter writer;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.open(&out, &header, c.compressor));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
  }
}

}  // namespace

// Refusals found while the item list and its compressor description are made
// (after the output file is created): each leaves the file that had the name
// as it was and no temporary file beside it, and frees what it had built.
TEST_F(WriterTest, RefusedItemListKeepsTheOldFile) {
  struct Case {
    const char* name;
    U16 record_length;
    LASitem last_item;
    U32 compressor;
    I32 requested_version;
    const char* err;
  };
  const Case cases[] = {
      {"sizes", 30, {LASitem::GPSTIME11, 8, 2}, 0, 0, 
       "ERROR: point has size of 30 but items only add up to 34 bytes (Vembra v3.5r0)\n"},
      {"repeated kind", 32, {LASitem::RGB12, 6, 2}, 0, 0, ""},
      {"version", 34, {LASitem::GPSTIME11, 8, 2}, Vembra::LAYERED_CHUNKED, 5,
       "ERROR: version larger than 4 not supported (Vembra v3.5r0)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("kept.las", "what was there");
    LASheader header;
    const LASitem items[] = {{LASitem::POINT10, 20, 2}, {LASitem::RGB12, 6, 2}, {LASitem::GPSTIME11, 8, 2}};
    header.compressor.reset(new Vembra());
    ASSERT_TRUE(header.compressor->setup(3, items, Vembra::NONE));
    header.compressor->items[2] = c.last_item;
    header.point_data_format = 3;
    header.point_data_record_length = c.record_length;
    LASwriterLAS writer;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(writer.open(dir.file("kept.las").c_str(), &header, c.compressor, c.requested_version));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    EXPECT_EQ(writer.close(true), 0);
    EXPECT_EQ(dir.read("kept.las"), "what was there");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
  }
}
