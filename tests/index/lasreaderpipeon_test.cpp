// The pipe-on reader in this process, its standard output sent to a file: the
// points it hands out are the inner reader's and are written once, as a LAS
// stream with the input's records, and the inner header keeps no counts of
// records it gave away.
#include "index/lasreaderpipeon.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/point_seen.hpp"
#include "support/temp_dir.hpp"

namespace {

using testpoints::read_all;
using testpoints::Seen;

// Standard output goes to a file while the object lives.
class StdoutToFile {
 public:
  explicit StdoutToFile(const std::string& path) {
    fflush(stdout);
    saved = dup(fileno(stdout));
    FILE* file = fopen(path.c_str(), "wb");
    dup2(fileno(file), fileno(stdout));
    fclose(file);
  }
  ~StdoutToFile() {
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
  }

 private:
  int saved;
};

TEST(PipeOnReader, HandsOutAndPipesEveryPointOnce) {
  TempDir temp;
  const lasfix::LasFile file = varied_file(3, 300, true);
  temp.write("in.las", file.bytes());
  std::vector<Seen> expected;
  {
    LASreaderLAS plain(nullptr);
    ASSERT_TRUE(plain.open(temp.file("in.las").c_str()));
    expected = read_all(plain);
  }

  std::vector<Seen> got;
  std::vector<F64> attributes, expected_attributes;
  for (int i = 0; i < 300; i++) expected_attributes.push_back(i % 13);
  {
    StdoutToFile redirect(temp.file("piped.las"));
    LASreaderPipeOn reader(nullptr);
    LASreaderLAS* inner = new LASreaderLAS(nullptr);
    ASSERT_TRUE(inner->open(temp.file("in.las").c_str()));
    ASSERT_TRUE(reader.open(inner));
    EXPECT_EQ(reader.get_lasreader(), inner);
    // The records moved with their counts.
    EXPECT_EQ(inner->header.number_of_variable_length_records, 0u);
    EXPECT_EQ(inner->header.vlrs, nullptr);
    EXPECT_EQ(reader.header.number_of_variable_length_records, 2u);
    EXPECT_EQ(reader.point.attribute_table, &reader.header);
    EXPECT_EQ(reader.get_format(), LAS_READER_FORMAT_LAS);
    EXPECT_FALSE(reader.seek(0));
    EXPECT_EQ(reader.points_expected, 300);
    while (reader.read_point()) {
      got.push_back(testpoints::seen(reader.point));
      attributes.push_back(reader.point.get_attribute_as_float(0));
    }
    EXPECT_FALSE(reader.read_point());
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(attributes, expected_attributes);
  const lasfix::Parsed piped = lasfix::parse(temp.read("piped.las"));
  EXPECT_EQ(piped.points, file.points);
  ASSERT_EQ(piped.vlrs.size(), 2u);
  EXPECT_EQ(piped.vlrs[0].payload, "kept as it is");
}

TEST(PipeOnReader, WithoutAReaderReportsIt) {
  halt_on_error(false);
  LASreaderPipeOn reader(nullptr);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.open(nullptr));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: no lasreader\n");
  halt_on_error(true);
}

}  // namespace
