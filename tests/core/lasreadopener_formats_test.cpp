// The read opener's table of input formats (reader words on reopening), and
// the rescale and reoffset variants it builds, which work the same on any
// reader class that reads its header from a stream.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"
#include "support/arg_vector.hpp"
#include "support/temp_dir.hpp"

namespace {

class OpenerProbe : public LASreadOpener {
 public:
  using LASreadOpener::construct_reader;
  using LASreadOpener::input_kind;
};

// A reader that is not the LAS reader: its "stream" open lays down a header of
// scale 0.01 and offset 0 for the raw X values it was given (y and z zero).
class StreamReader : public LASreader {
 public:
  explicit StreamReader(LASreadOpener* opener) : LASreader(opener) {}
  std::vector<I32> X;
  bool refuse = false;

  virtual bool open(ByteStreamIn*, const bool, const U32) {
    if (refuse) return false;
    header.x_scale_factor = header.y_scale_factor = header.z_scale_factor = 0.01;
    header.x_offset = header.y_offset = header.z_offset = 0.0;
    header.min_x = header.max_x = X.empty() ? 0.0 : X[0] * 0.01;
    for (I32 x : X) {
      header.min_x = std::min(header.min_x, x * 0.01);
      header.max_x = std::max(header.max_x, x * 0.01);
    }
    header.min_y = header.max_y = header.min_z = header.max_z = 0.0;
    if (!point.init(&header, (U8)0, (U16)20)) return false;
    points_expected = (I64)X.size();
    points_read = 0;
    return true;
  }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool) override {}
  bool read_point_default() override {
    if (points_read >= points_expected) return false;
    point.X = X[(size_t)points_read++];
    point.Y = point.Z = 0;
    return true;
  }
};

struct Read {
  F64 x_scale_factor, x_offset;
  std::vector<I32> X;
  std::string messages;
};

Read read_through(StreamReader& reader, std::vector<I32> X) {
  reader.X = std::move(X);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(reader.open(nullptr, false, LAS_SELECTIVE_ALL));
  Read out{reader.header.x_scale_factor, reader.header.x_offset, {}, ""};
  while (reader.read_point()) out.X.push_back(reader.point.X);
  out.messages = ::testing::internal::GetCapturedStderr();
  return out;
}

TEST(RequantisedReaders, AnyStreamReaderGetsTheSameRescaleAndReoffset) {
  LASreaderRescale<StreamReader> finer(nullptr, 0.001, 0, 0);
  const Read a = read_through(finer, {12345, -12345});
  EXPECT_EQ(a.x_scale_factor, 0.001);
  EXPECT_EQ(a.X, (std::vector<I32>{123450, -123450}));

  LASreaderReoffset<StreamReader> moved(nullptr, 1000, 0, 0);
  const Read b = read_through(moved, {100000, 100001});
  EXPECT_EQ(b.x_offset, 1000.0);
  EXPECT_EQ(b.X, (std::vector<I32>{0, 1}));

  LASreaderRescaleReoffset<StreamReader> both(nullptr, 0.001, 0, 0, 100, 0, 0);
  const Read c = read_through(both, {100000, -5});
  EXPECT_EQ(c.x_scale_factor, 0.001);
  EXPECT_EQ(c.x_offset, 100.0);
  EXPECT_EQ(c.X, (std::vector<I32>{900000, -100050}));
  EXPECT_EQ(c.messages, "");

  // The automatic offset follows the new scale factor.
  LASreaderRescaleReoffset<StreamReader> automatic(nullptr, 0.001, 0, 0);
  const Read d = read_through(automatic, {50000000, 50100000});
  EXPECT_EQ(d.x_offset, 500000.0);
  EXPECT_EQ(d.X, (std::vector<I32>{0, 1000000}));
}

TEST(RequantisedReaders, OverflowIsNamedByTheChangeThatCausesIt) {
  LASreaderRescale<StreamReader> rescale(nullptr, 0.00001, 0, 0);
  EXPECT_EQ(read_through(rescale, {0, 30000000}).messages,
            "WARNING: rescaling from 0.01 to 1e-05 causes LAS integer overflow for max_x\n");
  // Unchecked when asked so.
  LASreaderRescale<StreamReader> unchecked(nullptr, 0.00001, 0, 0, false);
  const Read quiet = read_through(unchecked, {0, 30000000});
  EXPECT_EQ(quiet.messages, "");
  EXPECT_EQ(quiet.X, (std::vector<I32>{0, I32_MIN}));

  LASreaderRescaleReoffset<StreamReader> both(nullptr, 0.00001, 0, 0, -10, 0, 0);
  EXPECT_EQ(read_through(both, {0, 30000000}).messages,
            "WARNING: rescaling from 0.01 to 1e-05 and reoffsetting from 0 to -10 causes LAS integer overflow for "
            "max_x\n");
}

TEST(RequantisedReaders, AFailedOpenLeavesTheHeaderAlone) {
  LASreaderRescaleReoffset<StreamReader> reader(nullptr, 0.001, 0.001, 0.001, 5, 5, 5);
  reader.refuse = true;
  reader.header.x_scale_factor = 0.5;
  reader.header.x_offset = 7.0;
  EXPECT_FALSE(reader.open(nullptr, false, LAS_SELECTIVE_ALL));
  EXPECT_EQ(reader.header.x_scale_factor, 0.5);
  EXPECT_EQ(reader.header.x_offset, 7.0);
}

// Each stand-in format reopens by its own word; BIN and PLY, which have no
// reopen, are opened once more.
TEST(ReadOpenerFormats, ReopeningNamesTheFormatsReader) {
  halt_on_error(false);
  TempDir temp;
  const struct {
    const char* name;
    const char* word;
  } cases[] = {
      {"x.bin", "lasreaderbin"}, {"x.shp", "lasreadershp"}, {"x.asc", "lasreaderasc"},
      {"x.bil", "lasreaderbil"}, {"x.dtm", "lasreaderdtm"}, {"x.ply", "lasreaderply"},
      {"x.qi", "lasreaderqfit"}, {"x.txt", "lasreadertxt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    temp.write(c.name, "1 2 3\n");
    const std::string file = temp.file(c.name);
    OpenerProbe opener;
    ArgVector args({"-i", file});
    ASSERT_TRUE(opener.parse(args.argc(), args.argv()));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(opener.open(), nullptr);
    ::testing::internal::GetCapturedStderr();
    std::unique_ptr<LASreader> reader(opener.construct_reader(OpenerProbe::input_kind(file.c_str())));
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(opener.reopen(reader.get()));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERROR: cannot reopen " + std::string(c.word) + " with file name '" + file + "'\n");
  }
  halt_on_error(true);
}

}  // namespace
