// The committed VMB samples, one per family of compressed items, written by
// an earlier build of the tool: this build must still read them to the
// points the fixture code builds from the same recipe.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "core/mydefs.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

std::string read_sample(const std::string& name) {
  std::ifstream in(std::string(TEST_SOURCE_DIR) + "/../samples/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// 1000 points of the fixture's varied points, in chunks of 500.
struct Sample {
  const char* file;
  U8 format;
  U8 minor;
  U16 extra_bytes;
  U16 item_version;  // of the core item
};

TEST(VmbSamples, ReadToTheirRecipe) {
  const Sample samples[] = {
      {"format5_extra.vmb", 5, 3, 3, 2},     // pointwise: POINT10, GPS time, RGB12, wave packets, extra bytes
      {"format7_las15.vmb", 7, 5, 0, 4},     // layered version 4: RGB14
      {"format8_extra.vmb", 8, 4, 3, 3},     // layered version 3: RGBNIR14, BYTE14
      {"format10_extra.vmb", 10, 4, 20, 3},  // layered version 3: RGBNIR14, WAVEPACKET14, 20 extra bytes
  };
  for (const Sample& s : samples) {
    SCOPED_TRACE(s.file);
    const std::string vmb = read_sample(s.file);
    ASSERT_FALSE(vmb.empty());
    const lasfix::Parsed parsed = lasfix::parse(vmb);
    ASSERT_FALSE(parsed.vlrs.empty());
    const lasfix::Compressor compressor = lasfix::parse_compressor(parsed.vlrs.back().payload);
    ASSERT_FALSE(compressor.items.empty());
    EXPECT_EQ(compressor.items[0].version, s.item_version);

    lasfix::LasFile f;
    f.header.version_minor = s.minor;
    f.header.point_data_format = s.format;
    f.extra_bytes = s.extra_bytes;
    for (U32 i = 0; i < 1000; i++) f.points.push_back(lasfix::varied_point(s.format, i, s.extra_bytes));
    TempDir dir;
    dir.write("recipe.las", f.bytes());
    dir.write("sample.vmb", vmb);
    for (const char* from : {"recipe.las", "sample.vmb"}) {
      const ToolResult r = run_voxsifter(
          {"-i", dir.file(from), "-every_nth", "1", "-o", dir.file(std::string(from) + ".las"), "-quiet"});
      ASSERT_EQ(r.exit_code, 0) << r.err;
    }
    EXPECT_TRUE(dir.read("sample.vmb.las") == dir.read("recipe.las.las"));
  }
}

}  // namespace
