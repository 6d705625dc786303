// The stored reader in this process, over LAS files built by the independent
// fixture builder and over a reader that delivers points whatever its header
// announces: the first pass hands out the inner reader's points, every later
// pass the same points again from memory, for compressed and plain storage.
#include "index/lasreaderstored.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "filters/lasfilter.hpp"
#include "support/drop_odd.hpp"
#include "support/halting_off.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/point_seen.hpp"
#include "support/temp_dir.hpp"

namespace {

using testpoints::read_all;
using testpoints::Seen;

LASreaderLAS* las_reader(const std::string& path) {
  LASreaderLAS* reader = new LASreaderLAS(nullptr);
  EXPECT_TRUE(reader->open(path.c_str()));
  return reader;
}

std::vector<Seen> plain_points(const std::string& path) {
  std::unique_ptr<LASreaderLAS> reader(las_reader(path));
  return read_all(*reader);
}

// Every point; with an attribute, each point's value read through the
// point's attribute table must be its index modulo 13.
std::vector<Seen> read_with_attributes(LASreader& reader, bool attribute) {
  std::vector<Seen> points;
  while (reader.read_point()) {
    if (attribute && reader.point.get_attribute_as_float(0) != (F64)(points.size() % 13)) {
      ADD_FAILURE() << "attribute of point " << points.size() << " is " << reader.point.get_attribute_as_float(0);
      break;
    }
    points.push_back(testpoints::seen(reader.point));
  }
  return points;
}

struct Shape {
  const char* name;
  U8 format;
  bool attribute;
  bool compressed;  // the point format has coders for storing
};

void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

class StoredShapes : public ::testing::TestWithParam<Shape> {
 protected:
  TempDir temp;
};

// More points than one chunk of the store holds, so that a chunk boundary is
// crossed. Points field by field, the header's records, the format of each pass, the
// attribute table of the point, and a store smaller than the raw records
// where they are compressed (formats with coders for every item).
TEST_P(StoredShapes, EveryPassDeliversTheFirstPassPoints) {
  const Shape& s = GetParam();
  const U32 count = 60001;
  const lasfix::LasFile file = varied_file(s.format, count, s.attribute);
  temp.write("in.las", file.bytes());
  const std::vector<Seen> expected = plain_points(temp.file("in.las"));
  ASSERT_EQ(expected.size(), count);

  LASreaderStored stored(nullptr);
  LASreaderLAS* inner = las_reader(temp.file("in.las"));
  ASSERT_TRUE(stored.open(inner));
  // The inner header gave its records away and counts none.
  EXPECT_EQ(inner->header.number_of_variable_length_records, 0u);
  EXPECT_EQ(inner->header.vlrs, nullptr);
  ASSERT_NE(stored.header.get_vlr("someone", 7), nullptr);
  EXPECT_EQ(stored.get_format(), LAS_READER_FORMAT_LAS);
  EXPECT_EQ(stored.points_expected, (I64)count);
  EXPECT_EQ(stored.point.attribute_table, &stored.header);
  EXPECT_EQ(read_with_attributes(stored, s.attribute), expected);

  const U64 raw_bytes = (U64)count * file.build().record_length;
  if (s.compressed) {
    EXPECT_LT((U64)stored.stored_bytes(), raw_bytes / 2);
  } else {
    EXPECT_GT((U64)stored.stored_bytes(), raw_bytes);
  }
  for (int pass = 2; pass <= 3; pass++) {
    SCOPED_TRACE(pass);
    stored.close();
    ASSERT_TRUE(stored.reopen());
    // The LAS reader of the memory stream gave its compressor record away.
    EXPECT_EQ(stored.get_format(), LAS_READER_FORMAT_LAS);
    EXPECT_EQ(stored.points_expected, (I64)count);
    ASSERT_NE(stored.header.get_vlr("someone", 7), nullptr);
    EXPECT_EQ(read_with_attributes(stored, s.attribute), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, StoredShapes,
                         ::testing::Values(Shape{"format_1", 1, false, true},
                                           Shape{"format_3_attribute", 3, true, true},
                                           Shape{"format_5_waves", 5, false, true}, Shape{"format_6", 6, false, true},
                                           Shape{"format_8_attribute", 8, true, true},
                                           Shape{"format_10_waves", 10, false, true}),
                         [](const ::testing::TestParamInfo<Shape>& info) { return std::string(info.param.name); });

class StoredReader : public HaltingOff<> {
 protected:
  TempDir temp;
};

// Filter and area act in the first pass only: the stored points are already
// filtered, and a filter that counts points is not asked again.
TEST_F(StoredReader, FilterAndAreaActOnceInTheFirstPass) {
  temp.write("in.las", varied_file(1, 2000, false).bytes());
  std::vector<Seen> expected;
  for (const Seen& p : plain_points(temp.file("in.las"))) {
    const F64 x = p.X * 0.01;
    if (!(p.intensity & 1) && x >= -500 && x < 500) expected.push_back(p);
  }
  ASSERT_GT(expected.size(), 100u);
  LASfilter filter;
  filter.add_criterion(new DropOdd());
  LASreaderStored stored(nullptr);
  ASSERT_TRUE(stored.open(las_reader(temp.file("in.las"))));
  stored.set_filter(&filter);
  EXPECT_TRUE(stored.inside_rectangle(-500, -5000, 500, 5000));
  EXPECT_FALSE(stored.seek(0));
  EXPECT_EQ(read_all(stored), expected);
  stored.close();
  ASSERT_TRUE(stored.reopen());
  EXPECT_EQ(read_all(stored), expected);
}

// A first pass that stops early stores what was read, and nothing more.
TEST_F(StoredReader, FirstPassStoppedEarlyStoresWhatWasRead) {
  temp.write("in.las", varied_file(3, 500, false).bytes());
  const std::vector<Seen> all = plain_points(temp.file("in.las"));
  LASreaderStored stored(nullptr);
  ASSERT_TRUE(stored.open(las_reader(temp.file("in.las"))));
  for (int i = 0; i < 10; i++) ASSERT_TRUE(stored.read_point());
  stored.close();
  ASSERT_TRUE(stored.reopen());
  EXPECT_EQ(read_all(stored), std::vector<Seen>(all.begin(), all.begin() + 10));
  EXPECT_EQ(stored.header.number_of_point_records, 10u);
}

// A tool that writes in one pass closes and reopens its input before it
// reads any point: that is no pass, and the input is read (and stored) then.
TEST_F(StoredReader, ReopenBeforeAnyPointKeepsReadingTheInput) {
  temp.write("in.las", varied_file(6, 300, false).bytes());
  const std::vector<Seen> all = plain_points(temp.file("in.las"));
  LASreaderStored stored(nullptr);
  ASSERT_TRUE(stored.open(las_reader(temp.file("in.las"))));
  stored.close();
  ASSERT_TRUE(stored.reopen());
  EXPECT_EQ(read_all(stored), all);
  stored.close();
  ASSERT_TRUE(stored.reopen());
  EXPECT_EQ(read_all(stored), all);
}

// Delivers `count` points of format 1 (X = index) whatever its header says,
// as a reader of an input without a count does.
class Delivering : public LASreader {
 public:
  Delivering(U8 format, U32 count) : LASreader(nullptr), count(count) {
    header.point_data_format = format;
    if (lasfix::point_base_size(format)) header.point_data_record_length = lasfix::point_base_size(format);
    point.init(&header, format, header.point_data_record_length);
  }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool) override {}
  bool read_point_default() override {
    if (points_read == count) return false;
    point.X = (I32)points_read++;
    return true;
  }

 private:
  I64 count;
};

std::vector<I32> xs(LASreader& reader) {
  std::vector<I32> x;
  for (const Seen& p : read_all(reader)) x.push_back(p.X);
  return x;
}

// Whatever count the header announces, every point delivered is stored and
// played back; an absurd count sizes no buffer, so no memory warning appears
// even when little memory is free.
TEST_F(StoredReader, AnnouncedCountsDoNotDecideWhatIsStored) {
  struct Case {
    const char* name;
    U8 minor;
    U32 legacy;
    U64 extended;
  } cases[] = {
      {"none", 2, 0, 0},
      {"fewer", 2, 3, 0},
      {"legacy_large", 2, 1000000000, 0},
      {"legacy_huge", 2, 0xFFFFFFFF, 0},
      {"extended_large", 4, 0, 1000000000},
      {"extended_huge", 4, 0, 1ULL << 62},
  };
  std::vector<I32> expected;
  for (I32 i = 0; i < 700; i++) expected.push_back(i);
  set_available_RAM_source([]() -> U64 { return 200ULL << 20; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Delivering* inner = new Delivering(1, 700);
    inner->header.version_minor = c.minor;
    inner->header.header_size = c.minor == 4 ? 375 : 227;
    inner->header.offset_to_point_data = inner->header.header_size;
    inner->header.number_of_point_records = c.legacy;
    inner->header.extended_number_of_point_records = c.extended;
    LASreaderStored stored(nullptr);
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(stored.open(inner));
    EXPECT_EQ(xs(stored), expected);
    stored.close();
    ASSERT_TRUE(stored.reopen());
    EXPECT_EQ(xs(stored), expected);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  }
  set_available_RAM_source(nullptr);
}

TEST_F(StoredReader, FailuresAreReportedWithTheirTexts) {
  LASreaderStored none(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(none.open(nullptr));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: no lasreader\n");

  // No point for this format: the store was never made.
  LASreaderStored stored(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(stored.open(new Delivering(11, 5)));
  EXPECT_FALSE(stored.reopen());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ERROR: unknown point type 11 with point size 20\nERROR: no streamoutarray\n");
}

// A header the store's writer refuses: the store stays this reader's, empty,
// and is freed once (the refused writer used to free it as well).
TEST_F(StoredReader, RefusedStoreHeaderLeavesAnEmptyStore) {
  Delivering* inner = new Delivering(1, 5);
  inner->header.version_minor = 2;
  inner->header.header_size = 375;
  inner->header.offset_to_point_data = 375;
  LASreaderStored stored(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(stored.open(inner));
  EXPECT_EQ(stored.stored_bytes(), 0);
  EXPECT_FALSE(stored.reopen());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "ERROR: header size 375 does not match the 227 bytes of a LAS 1.2 header and its user data\n"
            "ERROR: opening laswriterlas to streamoutarray\n"
            "ERROR: nothing stored in streamoutarray\n");
}

}  // namespace
