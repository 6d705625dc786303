// Whole VMB files of the legacy point formats: written and read by the built
// voxsifter, checked against the LAS files it writes from the same input,
// which the independent fixture code builds and parses. Damaged files go
// through the LAS reader, which must report the broken chunk and go on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/bytestreamin_array.hpp"
#include "core/lasmessage.hpp"
#include "core/lasreader_las.hpp"
#include "core/laswriter_las.hpp"
#include "support/item_chunks.hpp"
#include "support/item_sequences.hpp"
#include "support/las_fixture.hpp"
#include "support/point_records.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

constexpr U32 POINTS = 2500;

lasfix::LasFile las_input(U8 format, U16 extra_bytes, U32 count = POINTS) {
  lasfix::LasFile f;
  f.header.version_minor = format > 3 ? 3 : 2;
  f.header.point_data_format = format;
  f.extra_bytes = extra_bytes;
  f.vlrs.push_back({"someone", 7, "kept as it is", "a record of the input"});
  for (U32 i = 0; i < count; i++) f.points.push_back(lasfix::varied_point(format, i, extra_bytes));
  return f;
}

// Input of a LAS 1.4 point format (LAS 1.4 or 1.5), without records.
lasfix::LasFile extended_input(U8 format, U8 minor, U32 count) {
  lasfix::LasFile f;
  f.header.version_minor = minor;
  f.header.point_data_format = format;
  for (U32 i = 0; i < count; i++) f.points.push_back(lasfix::varied_point(format, i));
  return f;
}

// Runs voxsifter without its progress lines and expects it to succeed quietly.
void run_quietly(std::vector<std::string> args) {
  args.push_back("-silent");
  const ToolResult r = run_voxsifter(args);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_EQ(r.err, "");
}

// The compressor record a VMB file of the format must carry: pointwise
// chunks, every item of version 2 but the wave packets (version 1).
lasfix::Compressor expected_compressor(U8 format, U16 record_length, U32 chunk_size) {
  lasfix::Compressor c;
  c.chunk_size = chunk_size;
  c.items = lasfix::standard_items(format, record_length, 2);
  for (lasfix::CompressorItem& item : c.items)
    if (item.type == 9) item.version = 1;
  return c;
}

// The LAS file's header with what compression changes: the compressor bit of
// the format, one record more and the point data after it.
std::string header_as_compressed(const std::string& las, size_t vlr_bytes) {
  std::string header = las.substr(0, lasfix::get_u16(las, lasfix::header_offset("header_size")));
  const size_t format = lasfix::header_offset("point_data_format");
  const size_t offset = lasfix::header_offset("offset_to_point_data");
  const size_t count = lasfix::header_offset("number_of_variable_length_records");
  lasfix::put_u8(header, format, (uint8_t)(lasfix::get_u8(header, format) | 0x80));
  lasfix::put_u32(header, offset, (uint32_t)(lasfix::get_u32(header, offset) + vlr_bytes));
  lasfix::put_u32(header, count, lasfix::get_u32(header, count) + 1);
  return header;
}

// The chunk table of a VMB file. Its offset field holds a file position;
// read_table wants the point data alone, so the field is made relative to it.
testpoints::ChunkTable chunk_table(const std::string& file) {
  const size_t points_at = lasfix::get_u32(file, lasfix::header_offset("offset_to_point_data"));
  std::string block = file.substr(points_at);
  lasfix::put_u64(block, 0, lasfix::get_u64(block, 0) - points_at);
  return testpoints::read_table(block, false);
}

struct Shape {
  const char* name;
  U8 format;
  U16 extra_bytes;
  U32 chunk_size;  // 0: the default
};

void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class VmbRoundTrip : public ::testing::TestWithParam<Shape> {};

// LAS -> VMB -> LAS gives the LAS file the tool writes from the LAS input, byte
// for byte; the VMB file has the same header and records plus the compressor
// record, and its chunks as asked.
TEST_P(VmbRoundTrip, GivesBackTheLasOutputAndAddsOnlyTheCompressorRecord) {
  const Shape& s = GetParam();
  TempDir dir;
  const lasfix::Built input = las_input(s.format, s.extra_bytes).build();
  dir.write("in.las", input.bytes);
  std::vector<std::string> to_vmb = {"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("out.vmb")};
  if (s.chunk_size) to_vmb.insert(to_vmb.end(), {"-chunk_size", std::to_string(s.chunk_size)});
  run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("ref.las")});
  run_quietly(to_vmb);
  run_quietly({"-i", dir.file("out.vmb"), "-every_nth", "1", "-olas", "-o", dir.file("back")});

  const std::string ref = dir.read("ref.las"), vmb = dir.read("out.vmb");
  EXPECT_TRUE(dir.read("back.las") == ref);
  const lasfix::Parsed las = lasfix::parse(ref);
  EXPECT_TRUE(las.point_data == lasfix::parse(input.bytes).point_data);

  const U16 length = las.header.point_data_record_length.value();
  const U32 chunk_size = s.chunk_size ? s.chunk_size : 50000;
  const lasfix::Compressor compressor = expected_compressor(s.format, length, chunk_size);
  const size_t record_bytes = 54 + 34 + 6 * compressor.items.size();
  const lasfix::Parsed parsed = lasfix::parse(vmb);
  const size_t header_size = las.header.header_size.value();
  EXPECT_EQ(vmb.substr(0, header_size), header_as_compressed(ref, record_bytes));
  const size_t las_records = las.header.offset_to_point_data.value() - header_size;
  EXPECT_EQ(vmb.substr(header_size, las_records), ref.substr(header_size, las_records));
  ASSERT_EQ(parsed.vlrs.size(), las.vlrs.size() + 1);
  const lasfix::Vlr& record = parsed.vlrs.back();
  EXPECT_EQ(record.user_id, "vembra encoded");
  EXPECT_EQ(record.record_id, 22204);
  EXPECT_EQ(record.description, "by vembra of Pelkarts (251122)");
  EXPECT_EQ(lasfix::parse_compressor(record.payload), compressor);

  const testpoints::ChunkTable table = chunk_table(vmb);
  EXPECT_EQ(table.byte_counts.size(), (POINTS + chunk_size - 1) / chunk_size);
  if (chunk_size > 1) {
    EXPECT_LT(vmb.size(), ref.size());
  }
}

const Shape SHAPES[] = {{"format0", 0, 0, 0},          {"format0_extra", 0, 3, 1000}, {"format1", 1, 0, 1000},
                        {"format1_extra", 1, 5, 0},    {"format2", 2, 0, 0},          {"format2_extra", 2, 1, 1000},
                        {"format3", 3, 0, 1000},       {"format3_extra", 3, 2, 0},    {"format4", 4, 0, 0},
                        {"format4_extra", 4, 4, 1000}, {"format5", 5, 0, 1000},       {"format5_extra", 5, 3, 0},
                        {"one_point_chunks", 1, 0, 1}};

std::string shape_name(const ::testing::TestParamInfo<Shape>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Formats, VmbRoundTrip, ::testing::ValuesIn(SHAPES), shape_name);

// ------------------------------------------------------------------ item version 1

// Copies a LAS file into a VMB file whose items are of the requested coder
// version, through the library's version request: the tool itself always asks
// for the default version.
void write_vmb_of_version(const std::string& from, const std::string& to, I32 version, I32 chunk_size = -1) {
  LASreaderLAS reader(nullptr);
  ASSERT_TRUE(reader.open(from.c_str()));
  LASwriterLAS writer;
  ASSERT_TRUE(writer.open(to.c_str(), &reader.header, 2, version, chunk_size));
  while (reader.read_point()) {
    ASSERT_TRUE(writer.write_point(&reader.point));
    writer.update_inventory(&reader.point);
  }
  ASSERT_TRUE(writer.update_header(&reader.header, true));
  EXPECT_GT(writer.close(), 0);
  reader.close();
}

class Vmb1RoundTrip : public ::testing::TestWithParam<Shape> {};

// A VMB file of version-1 items reads back as the LAS file the tool writes
// from its LAS input, byte for byte, in one chunk or many.
TEST_P(Vmb1RoundTrip, GivesBackTheLasOutput) {
  const Shape& s = GetParam();
  TempDir dir;
  dir.write("in.las", las_input(s.format, s.extra_bytes).bytes());
  run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("ref.las")});
  write_vmb_of_version(dir.file("in.las"), dir.file("v1.vmb"), 1, s.chunk_size ? (I32)s.chunk_size : -1);
  run_quietly({"-i", dir.file("v1.vmb"), "-every_nth", "1", "-o", dir.file("back.las")});
  EXPECT_TRUE(dir.read("back.las") == dir.read("ref.las"));

  const std::string vmb = dir.read("v1.vmb");
  const lasfix::Parsed parsed = lasfix::parse(vmb);
  ASSERT_FALSE(parsed.vlrs.empty());
  const U16 length = parsed.header.point_data_record_length.value();
  const lasfix::Compressor record = lasfix::parse_compressor(parsed.vlrs.back().payload);
  EXPECT_EQ(record.items, lasfix::standard_items(s.format, length, 1));
  const U32 chunk_size = s.chunk_size ? s.chunk_size : 50000;
  EXPECT_EQ(chunk_table(vmb).byte_counts.size(), (POINTS + chunk_size - 1) / chunk_size);
}

INSTANTIATE_TEST_SUITE_P(Formats, Vmb1RoundTrip, ::testing::ValuesIn(SHAPES), shape_name);

// The tool thins a version-1 file as it thins the LAS file it came from, in
// both of its modes.
TEST(Vmb1Files, ThinningKeepsThePointsOfTheLasInput) {
  for (U8 format : {1, 3, 5}) {
    SCOPED_TRACE((int)format);
    TempDir dir;
    dir.write("in.las", las_input(format, 2, 6000).bytes());
    write_vmb_of_version(dir.file("in.las"), dir.file("in.vmb"), 1, 1000);
    for (const char* mode : {"-step", "-every_nth"}) {
      SCOPED_TRACE(mode);
      const std::string value = std::string(mode) == "-step" ? "300" : "7";
      run_quietly({"-i", dir.file("in.las"), mode, value, "-o", dir.file("from_las.las")});
      run_quietly({"-i", dir.file("in.vmb"), mode, value, "-o", dir.file("from_vmb.las")});
      const std::string expected = dir.read("from_las.las");
      ASSERT_LT(lasfix::parse(expected).point_count(), 6000u / 2);
      EXPECT_TRUE(dir.read("from_vmb.las") == expected);
    }
  }
}

// A format-1 file of version-1 items put together from the layouts: the first
// point raw, the two others as the symbols the coders define, written one by
// one on fresh models, then the chunk table. The reader must give back the
// three records.
TEST(Vmb1Files, DecodesAChunkBuiltSymbolBySymbol) {
  using namespace itemchunks;
  const U64 t0 = 0x411E848000000000ull;  // 500000.0
  const U64 times[3] = {t0, t0 + 85899, t0 + 2 * 85899};
  const Point10 points[3] = {point10(100, 200, 300, 10, 0x09, 2, 0, 0, 7), point10(110, 195, 300, 10, 0x09, 2, 0, 0, 7),
                             point10(120, 190, 301, 12, 0x09, 2, 0, 0, 7)};
  std::string records;
  for (int i = 0; i < 3; i++) {
    records.append((const char*)&points[i], 20);
    records.append((const char*)&times[i], 8);
  }
  Code code;
  {
    ArithmeticEncoder* e = &code.enc;
    IntegerCompressor dx(e, 32, 1, 8, 0), dy(e, 32, 20, 8, 0), z(e, 32, 20, 8, 0), intensity(e, 16, 1, 8, 0),
        time(e, 32, 6, 8, 0);
    for (IntegerCompressor* ic : {&dx, &dy, &z, &intensity, &time}) ic->initCompressor();
    ModelPtr changed = code.fresh(64), multiplier = code.fresh(512), zero = code.fresh(3);
    dx.compress(0, 10, 0);  // class 4
    dy.compress(0, -5, 4);  // class 3
    z.compress(300, 300, 3);
    e->encodeSymbol(changed.get(), 0);
    e->encodeSymbol(zero.get(), 1);
    time.compress(0, 85899, 0);
    dx.compress(0, 10, 0);  // the median of 10, 0, 0
    dy.compress(0, -5, 4);
    z.compress(300, 301, 3);
    e->encodeSymbol(changed.get(), 32);
    intensity.compress(10, 12, 0);
    e->encodeSymbol(multiplier.get(), 1);
    time.compress(85899, 85899, 1);
  }
  const std::string chunk = records.substr(0, 28) + code.bytes();
  std::string block(8, '\0');
  lasfix::put_u64(block, 0, 8 + chunk.size());
  block += chunk + testpoints::table_bytes({(U32)chunk.size()});

  lasfix::LasFile f = las_input(1, 0, 0);
  f.header.point_data_format = 0x81;
  f.header.number_of_point_records = 3;
  f.header.min_x = f.header.min_y = f.header.min_z = 0;
  f.header.max_x = f.header.max_y = f.header.max_z = 10;
  lasfix::Compressor compressor;
  compressor.items = lasfix::standard_items(1, 28, 1);
  f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(compressor)});
  f.point_data = block;
  lasfix::Built built = f.build();
  const size_t table_field = built.point_data_position;
  lasfix::put_u64(built.bytes, table_field, lasfix::get_u64(built.bytes, table_field) + table_field);

  TempDir dir;
  dir.write("built.vmb", built.bytes);
  run_quietly({"-i", dir.file("built.vmb"), "-every_nth", "1", "-o", dir.file("back.las")});
  EXPECT_EQ(lasfix::parse(dir.read("back.las")).point_data, records);
}

// Voxel thinning reads its input twice: from and to VMB it keeps the points it
// keeps from LAS.
TEST(VmbFiles, ThinningFromAndToVmbKeepsTheSamePoints) {
  for (U8 format : {1, 3, 5}) {
    SCOPED_TRACE((int)format);
    TempDir dir;
    dir.write("in.las", las_input(format, 2, 6000).bytes());
    run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-chunk_size", "1000", "-o", dir.file("in.vmb")});
    const std::vector<std::string> thin = {"-step", "300"};
    const auto thinned = [&](const std::string& from, const std::string& to) {
      std::vector<std::string> args = {"-i", dir.file(from), "-o", dir.file(to)};
      args.insert(args.end(), thin.begin(), thin.end());
      run_quietly(args);
    };
    thinned("in.las", "las_las.las");
    thinned("in.vmb", "vmb_las.las");
    thinned("in.las", "las_vmb.vmb");
    thinned("in.vmb", "vmb_vmb.vmb");
    run_quietly({"-i", dir.file("las_vmb.vmb"), "-every_nth", "1", "-o", dir.file("las_vmb.las")});
    run_quietly({"-i", dir.file("vmb_vmb.vmb"), "-every_nth", "1", "-o", dir.file("vmb_vmb.las")});
    const std::string expected = dir.read("las_las.las");
    ASSERT_LT(lasfix::parse(expected).point_count(), 6000u / 2);
    EXPECT_TRUE(dir.read("vmb_las.las") == expected);
    EXPECT_TRUE(dir.read("las_vmb.las") == expected);
    EXPECT_TRUE(dir.read("vmb_vmb.las") == expected);
  }
}

// A VMB file whose chunks were closed at will (adaptive chunks, announced by
// chunk size 0 or 2^32 - 1); the tool reads it in both of its modes.
TEST(VmbFiles, AdaptiveChunksAreReadAndThinned) {
  for (U32 announced : {0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(announced);
    TempDir dir;
    const testpoints::Block block =
        testpoints::write_block(testpoints::BlockShape(3, 3000).extra(1).adaptive({1, 900, 901, 2000}).item_coders());
    lasfix::LasFile f = las_input(3, 1, 0);
    f.header.point_data_format = 0x83;
    f.header.number_of_point_records = 3000;
    f.header.min_x = f.header.min_y = f.header.min_z = -5000;
    f.header.max_x = f.header.max_y = f.header.max_z = 5000;
    f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(expected_compressor(3, 35, announced))});
    f.point_data = block.bytes;
    // The block was written at position 0; in the file its table lies further on.
    lasfix::Built built = f.build();
    const size_t table_field = built.point_data_position;
    lasfix::put_u64(built.bytes, table_field, lasfix::get_u64(built.bytes, table_field) + table_field);
    dir.write("adaptive.vmb", built.bytes);
    lasfix::LasFile plain = las_input(3, 1);
    plain.header.min_x = plain.header.min_y = plain.header.min_z = -5000;
    plain.header.max_x = plain.header.max_y = plain.header.max_z = 5000;
    plain.points.clear();
    plain.point_data = block.records;
    plain.header.number_of_point_records = 3000;
    dir.write("plain.las", plain.bytes());

    run_quietly({"-i", dir.file("adaptive.vmb"), "-every_nth", "1", "-o", dir.file("back.las")});
    EXPECT_TRUE(lasfix::parse(dir.read("back.las")).point_data == block.records);
    run_quietly({"-i", dir.file("adaptive.vmb"), "-step", "300", "-o", dir.file("thin_vmb.las")});
    run_quietly({"-i", dir.file("plain.las"), "-step", "300", "-o", dir.file("thin_las.las")});
    EXPECT_TRUE(dir.read("thin_vmb.las") == dir.read("thin_las.las"));
  }
}

// LAS 1.4 and 1.5 files of point format 6 (scanner channels, up to 15
// returns, classes above 31) go through VMB and back unchanged, in layered
// chunks whose core item has version 3 for LAS 1.4 and 4 for LAS 1.5; fixed
// and adaptive chunks alike.
TEST(VmbFiles, Format6RoundTripsInLayeredChunks) {
  struct Case {
    U8 minor;
    const char* chunk_size;  // null: the default
    U16 version;
    U32 announced;
  };
  for (const Case& c : {Case{4, nullptr, 3, 50000}, Case{5, "700", 4, 700}, Case{4, "0", 3, 0}}) {
    SCOPED_TRACE((int)c.minor);
    TempDir dir;
    dir.write("in.las", extended_input(6, c.minor, POINTS).bytes());
    std::vector<std::string> to_vmb = {"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("out.vmb")};
    if (c.chunk_size) to_vmb.insert(to_vmb.end(), {"-chunk_size", c.chunk_size});
    run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("ref.las")});
    run_quietly(to_vmb);
    run_quietly({"-i", dir.file("out.vmb"), "-every_nth", "1", "-olas", "-o", dir.file("back")});
    const std::string ref = dir.read("ref.las"), vmb = dir.read("out.vmb");
    EXPECT_TRUE(dir.read("back.las") == ref);
    EXPECT_LT(vmb.size(), ref.size() / 2);

    const lasfix::Parsed parsed = lasfix::parse(vmb);
    ASSERT_FALSE(parsed.vlrs.empty());
    lasfix::Compressor expected;
    expected.compressor = 3;
    expected.chunk_size = c.announced;
    expected.items = lasfix::standard_items(6, 30, c.version);
    EXPECT_EQ(lasfix::parse_compressor(parsed.vlrs.back().payload), expected);
  }
}

// A format-6 file cut inside its second chunk: the tool reports the chunk
// and the points before it are written.
TEST(VmbFiles, TruncatedLayeredFileEndsInTheCutChunk) {
  TempDir dir;
  dir.write("in.las", extended_input(6, 4, 3000).bytes());
  run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-chunk_size", "1000", "-o", dir.file("in.vmb")});
  const std::string bytes = dir.read("in.vmb");
  const size_t points_at = lasfix::get_u32(bytes, lasfix::header_offset("offset_to_point_data"));
  const size_t second = points_at + 8 + chunk_table(bytes).byte_counts[0];
  dir.write("cut.vmb", bytes.substr(0, second + 200));
  const std::string name = dir.file("cut.vmb");
  const ToolResult r = run_voxsifter({"-i", name, "-every_nth", "1", "-o", dir.file("out.las"), "-silent"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("ERROR: 'end-of-file during chunk with index 1' after 1000 of 3000 points for '" + name + "'"),
            std::string::npos)
      << r.err;
}

// Format 10 with 20 extra bytes (colour, NIR, wave packet and byte streams
// behind the core ones): a file cut inside its second chunk, and one whose
// second chunk claims an extra-byte stream of 4 GB, end in that chunk with
// the points before it written.
TEST(VmbFiles, DamagedChunksOfEveryLayeredItemAreReported) {
  TempDir dir;
  lasfix::LasFile f = extended_input(10, 4, 3000);
  f.extra_bytes = 20;
  for (U32 i = 0; i < f.points.size(); i++) f.points[i] = lasfix::varied_point(10, i, 20);
  dir.write("in.las", f.bytes());
  run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-chunk_size", "1000", "-o", dir.file("in.vmb")});
  const std::string bytes = dir.read("in.vmb");
  const size_t points_at = lasfix::get_u32(bytes, lasfix::header_offset("offset_to_point_data"));
  const size_t second = points_at + 8 + chunk_table(bytes).byte_counts[0];
  const size_t record_length = 67 + 20;
  // Behind the raw first point and the point count: 9 core, 2 colour and 1
  // wave-packet stream sizes, then the 20 extra-byte ones.
  const size_t byte_sizes_at = second + record_length + 4 + 4 * 12;

  std::string huge = bytes;
  lasfix::put_u32(huge, byte_sizes_at + 4 * 19, 0xFFFFFFFF);
  dir.write("cut.vmb", bytes.substr(0, second + 300));
  dir.write("huge.vmb", huge);
  for (const char* file : {"cut.vmb", "huge.vmb"}) {
    SCOPED_TRACE(file);
    const std::string name = dir.file(file);
    const ToolResult r = run_voxsifter({"-i", name, "-every_nth", "1", "-o", dir.file("out.las"), "-silent"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_NE(r.err.find("ERROR: 'end-of-file during chunk with index 1' after 1000 of 3000 points for '" + name + "'"),
              std::string::npos)
        << r.err;
  }
}

// ------------------------------------------------------------------ damage

// 3500 format-1 points in chunks of 1000, written by the tool (or of item
// version 1 through the library), with the LAS file the tool writes from the
// same input and where the chunks lie.
struct FourChunks {
  explicit FourChunks(I32 item_version = 0) {
    dir.write("in.las", las_input(1, 0, 3500).bytes());
    if (item_version)
      write_vmb_of_version(dir.file("in.las"), dir.file("in.vmb"), item_version, 1000);
    else
      run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-chunk_size", "1000", "-o", dir.file("in.vmb")});
    run_quietly({"-i", dir.file("in.las"), "-every_nth", "1", "-o", dir.file("ref.las")});
    bytes = dir.read("in.vmb");
    las = lasfix::parse(dir.read("ref.las"));
    const size_t points_at = lasfix::get_u32(bytes, lasfix::header_offset("offset_to_point_data"));
    const testpoints::ChunkTable table = chunk_table(bytes);
    size_t at = points_at + 8;
    for (U32 count : table.byte_counts) {
      chunk_starts.push_back(at);
      at += count;
    }
    table_at = at;
  }
  std::string record(size_t i) const { return las.point_data.substr(i * 28, 28); }

  TempDir dir;
  std::string bytes;
  lasfix::Parsed las;
  std::vector<size_t> chunk_starts;
  size_t table_at = 0;  // the chunk table follows the last chunk
};

// Item versions: 0 the tool's default, 1 the older coders.
class VmbDamage : public ::testing::TestWithParam<I32> {};

TEST_P(VmbDamage, TruncatedFileEndsInTheCutChunk) {
  FourChunks d(GetParam());
  const std::string name = d.dir.file("cut.vmb");
  d.dir.write("cut.vmb", d.bytes.substr(0, d.chunk_starts[2] + 100));
  const ToolResult r = run_voxsifter({"-i", name, "-every_nth", "1", "-o", d.dir.file("out.las"), "-silent"});
  EXPECT_EQ(r.exit_code, 3);
  const size_t missing = d.table_at - (d.chunk_starts[2] + 100);
  const std::string prefix = "WARNING: 'chunk table and " + std::to_string(missing) +
                             " bytes are missing. VMB file truncated during copy or transfer?' for '" + name +
                             "'\nERROR: 'end-of-file during chunk with index 2' after ";
  EXPECT_EQ(r.err.substr(0, prefix.size()), prefix);
  EXPECT_NE(r.err.find(" of 3500 points for '" + name + "'\n"), std::string::npos) << r.err;
}

// Bytes flipped inside chunk 1: the reader reports that chunk as corrupt and
// the next read starts chunk 2, whose points come back whole.
TEST_P(VmbDamage, CorruptChunkIsReportedAndReadingGoesOnWithTheNext) {
  FourChunks d(GetParam());
  std::string bytes = d.bytes;
  for (size_t i = 0; i < 64; i++) bytes[d.chunk_starts[1] + 200 + i] ^= 0x5A;

  halt_on_error(false);
  LASreaderLAS reader(nullptr);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(reader.open(new ByteStreamInArrayLE((const U8*)bytes.data(), (I64)bytes.size())));
  U32 delivered = 0;
  while (reader.read_point()) {
    if (delivered < 1000) {
      EXPECT_EQ(testpoints::record_of(reader.point), d.record(delivered));
    }
    delivered++;
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_GE(delivered, 1000u);
  EXPECT_LE(delivered, 2000u);  // the damage shows inside chunk 1 or where it should end
  EXPECT_EQ(err, "ERROR: 'chunk with index 1 of 5 is corrupt' after " + std::to_string(delivered) +
                     " of 3500 points for 'stream'\n")
      << err;
  for (U32 i = 2000; i < 3500; i++) {
    ASSERT_TRUE(reader.read_point()) << i;
    ASSERT_EQ(testpoints::record_of(reader.point), d.record(i)) << i;
  }
  reader.close();
  halt_on_error(true);
}

INSTANTIATE_TEST_SUITE_P(ItemVersions, VmbDamage, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<I32>& info) {
                           return info.param ? "version" + std::to_string(info.param) : std::string("default");
                         });

}  // namespace
