// Opening and reopening inputs through the read opener, on LAS files built by
// the independent fixture builder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreader_las.hpp"
#include "core/lasreadopener.hpp"
#include "filters/lasfilter.hpp"
#include "index/lasreadermerged.hpp"
#include "support/arg_vector.hpp"
#include "support/drop_odd.hpp"
#include "support/las_fixture.hpp"
#include "support/temp_dir.hpp"
#include "transforms/lastransform.hpp"

namespace {

class OpenerProbe : public LASreadOpener {
 public:
  using LASreadOpener::apply_area;
};

// A file whose point i lies at x = y = first + i, z = i (scale 0.01).
std::string las_file(int first, int count, uint16_t file_source_ID = 0) {
  lasfix::LasFile file;
  file.header.file_source_ID = file_source_ID;
  for (int i = 0; i < count; i++) {
    lasfix::Point p;
    p.X = (first + i) * 100;
    p.Y = (first + i) * 100;
    p.Z = i * 100;
    p.intensity = (uint16_t)i;
    p.classification = (uint8_t)(i % 3);
    p.point_source_ID = 77;
    file.points.push_back(p);
  }
  return file.bytes();
}

struct PointSeen {
  I32 X, Y, Z;
  U16 point_source_ID;
  bool operator==(const PointSeen&) const = default;
};

std::vector<PointSeen> read_all(LASreader* reader) {
  std::vector<PointSeen> points;
  while (reader->read_point()) {
    points.push_back({reader->point.X, reader->point.Y, reader->point.Z, reader->point.point_source_ID});
  }
  return points;
}

std::vector<I32> xs(const std::vector<PointSeen>& points) {
  std::vector<I32> result;
  for (const PointSeen& p : points) result.push_back(p.X / 100);
  return result;
}

std::vector<I32> range(int first, int last) {
  std::vector<I32> result;
  for (int i = first; i <= last; i++) result.push_back(i);
  return result;
}

class LasReadOpenerOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halt_on_error(false);
    set_message_log_level(INFO);
    temp.write("a.las", las_file(0, 100, 11));
    temp.write("b.las", las_file(1000, 50, 12));
  }
  void TearDown() override {
    halt_on_error(true);
    set_message_log_level(INFO);
  }
  void parse(LASreadOpener& opener, std::vector<std::string> words) {
    ArgVector args(words);
    ASSERT_TRUE(opener.parse(args.argc(), args.argv(), true));
    ASSERT_EQ(args.remaining(), std::vector<std::string>());
  }
  // The next reader, or null with what was written to stderr.
  static std::unique_ptr<LASreader> open(LASreadOpener& opener, std::string* err = nullptr) {
    ::testing::internal::CaptureStderr();
    LASreader* reader = opener.open();
    const std::string text = ::testing::internal::GetCapturedStderr();
    if (err) *err = text;
    return std::unique_ptr<LASreader>(reader);
  }
  TempDir temp;
};

TEST_F(LasReadOpenerOpenTest, OneInputAfterAnother) {
  LASreadOpener opener;
  parse(opener, {"-i", temp.file("a.las"), temp.file("b.las")});
  EXPECT_TRUE(opener.active());
  std::unique_ptr<LASreader> first = open(opener);
  ASSERT_TRUE(first);
  EXPECT_STREQ(opener.get_file_name(), temp.file("a.las").c_str());
  EXPECT_EQ(read_all(first.get()).size(), 100u);
  first->close();
  std::unique_ptr<LASreader> second = open(opener);
  ASSERT_TRUE(second);
  EXPECT_EQ(xs(read_all(second.get())), range(1000, 1049));
  second->close();
  EXPECT_FALSE(opener.active());
  std::string err;
  EXPECT_FALSE(open(opener, &err));
  EXPECT_EQ(err, "");
  // A name given to open is opened without touching the list.
  std::unique_ptr<LASreader> other(opener.open(temp.file("a.las").c_str()));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->header.file_source_ID, 11);
}

TEST_F(LasReadOpenerOpenTest, FlightLinesNumberTheFiles) {
  struct Case {
    std::vector<std::string> options;
    U16 first, second;
  } cases[] = {
      {{"-faf", "5"}, 5, 6},
      {{"-faf", "5", "-faf_index", "3"}, 8, 9},
      {{"-faf"}, 1, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    LASreadOpener opener;
    std::vector<std::string> words = {"-i", temp.file("a.las"), temp.file("b.las")};
    words.insert(words.end(), c.options.begin(), c.options.end());
    parse(opener, words);
    for (U16 expected : {c.first, c.second}) {
      std::unique_ptr<LASreader> reader = open(opener);
      ASSERT_TRUE(reader);
      EXPECT_EQ(reader->header.file_source_ID, expected);
      std::vector<PointSeen> points = read_all(reader.get());
      ASSERT_FALSE(points.empty());
      EXPECT_EQ(points.front().point_source_ID, expected);
      EXPECT_EQ(points.back().point_source_ID, expected);
      reader->close();
    }
  }
  // The file's own source ID goes into its points.
  LASreadOpener opener;
  parse(opener, {"-i", temp.file("b.las"), "-apply_file_source_ID"});
  std::unique_ptr<LASreader> reader = open(opener);
  ASSERT_TRUE(reader);
  EXPECT_EQ(read_all(reader.get()).front().point_source_ID, 12);
}

TEST_F(LasReadOpenerOpenTest, AreaQueriesOnLasFiles) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<I32> expected;
  } cases[] = {
      {"rectangle", {"-inside", "10", "10", "20", "20"}, range(10, 19)},
      {"tile", {"-inside_tile", "30", "30", "5"}, range(30, 34)},
      {"circle", {"-inside_circle", "50", "50", "3"}, range(48, 52)},
      {"tile before circle", {"-inside_circle", "50", "50", "3", "-inside_tile", "30", "30", "5"}, range(30, 34)},
      {"rectangle before both",
       {"-inside_circle", "50", "50", "3", "-inside_tile", "30", "30", "5", "-inside", "60", "60", "62", "62"},
       range(60, 61)},
      {"outside", {"-inside", "500", "500", "600", "600"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASreadOpener opener;
    std::vector<std::string> words = {"-i", temp.file("a.las")};
    words.insert(words.end(), c.options.begin(), c.options.end());
    parse(opener, words);
    std::unique_ptr<LASreader> reader = open(opener);
    ASSERT_TRUE(reader);
    EXPECT_EQ(xs(read_all(reader.get())), c.expected);
  }
}

// Readers other than LAS were given tile, circle and rectangle in turn: the
// last set applies, and the bounds saved are the file's own.
TEST_F(LasReadOpenerOpenTest, OtherReadersTakeTheLastAreaSet) {
  OpenerProbe opener;
  parse(opener, {"-inside_tile", "30", "30", "5", "-inside_circle", "50", "50", "3"});
  LASreaderLAS reader(nullptr);
  ASSERT_TRUE(reader.open(temp.file("a.las").c_str()));
  opener.apply_area(&reader, false);
  EXPECT_EQ(xs(read_all(&reader)), range(48, 52));
  reader.inside_none();
  EXPECT_DOUBLE_EQ(reader.header.min_x, 0.0);
  EXPECT_DOUBLE_EQ(reader.header.max_x, 99.0);
}

TEST_F(LasReadOpenerOpenTest, ReopenGivesTheSamePointsAndHeader) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
  } cases[] = {
      {"plain", {}},
      {"rectangle", {"-inside", "10", "10", "20", "20"}},
      {"tile and circle", {"-inside_tile", "30", "30", "5", "-inside_circle", "50", "50", "3"}},
      {"flight lines", {"-faf", "9"}},
      {"rescale", {"-rescale", "0.1", "0.1", "0.1"}},
      {"reoffset", {"-reoffset", "100", "100", "0"}},
      {"auto reoffset", {"-auto_reoffset"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASreadOpener opener;
    std::vector<std::string> words = {"-i", temp.file("a.las"), temp.file("b.las")};
    words.insert(words.end(), c.options.begin(), c.options.end());
    parse(opener, words);
    opener.set_filter(new LASfilter());
    opener.get_filter()->add_criterion(new DropOdd());
    for (int file = 0; file < 2; file++) {
      std::unique_ptr<LASreader> reader = open(opener);
      ASSERT_TRUE(reader);
      const std::vector<PointSeen> first = read_all(reader.get());
      const LASheader& h = reader->header;
      const std::array<F64, 10> header_first = {h.min_x, h.max_x, h.min_y, h.max_y, h.x_offset,
                                                h.x_scale_factor, h.z_offset, h.z_scale_factor,
                                                (F64)h.file_source_ID, (F64)h.number_of_point_records};
      ASSERT_TRUE(opener.reopen(reader.get()));
      EXPECT_EQ(read_all(reader.get()), first);
      const std::array<F64, 10> header_second = {h.min_x, h.max_x, h.min_y, h.max_y, h.x_offset,
                                                 h.x_scale_factor, h.z_offset, h.z_scale_factor,
                                                 (F64)h.file_source_ID, (F64)h.number_of_point_records};
      EXPECT_EQ(header_second, header_first);
      // A third pass too.
      ASSERT_TRUE(opener.reopen(reader.get()));
      EXPECT_EQ(read_all(reader.get()), first);
      reader->close();
    }
  }
}

TEST_F(LasReadOpenerOpenTest, ReopenFailures) {
  LASreadOpener opener;
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(opener.reopen(nullptr));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING: pointer to LASreader is NULL\n");

  // Without an input list.
  LASreaderLAS reader(&opener);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(opener.reopen(&reader));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: no lasreader input specified\n");

  // The file went away between the passes.
  LASreadOpener gone;
  temp.write("gone.las", las_file(0, 3));
  parse(gone, {"-i", temp.file("gone.las")});
  std::unique_ptr<LASreader> opened = open(gone);
  ASSERT_TRUE(opened);
  std::remove(temp.file("gone.las").c_str());
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(gone.reopen(opened.get()));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(StringEndsWith(err, "ERROR: cannot reopen lasreaderlas with file name '" + temp.file("gone.las") + "'\n"))
      << err;
}

TEST_F(LasReadOpenerOpenTest, ReadersNotBuiltYetFailWithTheOpenersText) {
  for (const char* name : {"x.bin", "x.shp", "x.asc", "x.bil", "x.dtm", "x.ply", "x.qi", "x.txt"}) {
    temp.write(name, "1 2 3\n");
  }
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-i", temp.file("x.bin")}, "ERROR: cannot open lasreaderbin with file name '" + temp.file("x.bin") + "'\n"},
      {{"-i", temp.file("x.shp")}, "ERROR: cannot open lasreadershp with file name '" + temp.file("x.shp") + "'\n"},
      {{"-i", temp.file("x.asc")}, "ERROR: cannot open lasreaderasc with file name '" + temp.file("x.asc") + "'\n"},
      {{"-i", temp.file("x.bil")}, "ERROR: cannot open lasreaderbil with file name '" + temp.file("x.bil") + "'\n"},
      {{"-i", temp.file("x.dtm")}, "ERROR: cannot open lasreaderdtm with file name '" + temp.file("x.dtm") + "'\n"},
      {{"-i", temp.file("x.ply")}, "ERROR: cannot open lasreaderply with file name '" + temp.file("x.ply") + "'\n"},
      {{"-i", temp.file("x.qi")}, "ERROR: cannot open lasreaderqfit with file name '" + temp.file("x.qi") + "'\n"},
      {{"-i", temp.file("x.txt")}, "ERROR: cannot open lasreadertxt with file name '" + temp.file("x.txt") + "'\n"},
      {{"-i", temp.file("x.txt"), temp.file("x.txt"), "-merged"},
       "ERROR: could not open lasreadertxt for file '" + temp.file("x.txt") +
           "'\nERROR: cannot open lasreadermerged with 2 file names\n"},
      {{"-i", temp.file("x.txt"), temp.file("a.las"), temp.file("b.las"), "-buffered", "10"},
       "ERROR: cannot open lasreadertxt with file name '" + temp.file("x.txt") + "'\nERROR: opening '" +
           temp.file("x.txt") + "'\nERROR: cannot open lasreaderbuffered with 3 file names\n"},
      {{"-stdin", "-itxt"}, "ERROR: cannot open lasreadertxt from stdin\n"},
      {{"-i", temp.file("a.las"), "-max_depth", "2"}, "ERROR: queries with a depth limit are restrited to COPC files.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LASreadOpener opener;
    parse(opener, c.args);
    std::string err;
    EXPECT_FALSE(open(opener, &err));
    EXPECT_EQ(err, c.message);
  }
}

TEST_F(LasReadOpenerOpenTest, MergedChoiceAndStandardInput) {
  // One name with -merged is a single file; from a list with IDs it is merged.
  LASreadOpener single;
  parse(single, {"-i", temp.file("a.las"), "-merged"});
  std::unique_ptr<LASreader> reader = open(single);
  ASSERT_TRUE(reader);
  EXPECT_NE(dynamic_cast<LASreaderLAS*>(reader.get()), nullptr);

  temp.write("ids.txt", "3," + temp.file("a.las") + "\n");
  LASreadOpener listed;
  parse(listed, {"-lof", temp.file("ids.txt"), "-merged"});
  std::string err;
  reader = open(listed, &err);
  ASSERT_TRUE(reader);
  EXPECT_EQ(err, "");
  EXPECT_NE(dynamic_cast<LASreaderMerged*>(reader.get()), nullptr);
  EXPECT_EQ(read_all(reader.get()).size(), 100u);
  EXPECT_FALSE(listed.active());

  // Standard input is tried once.
  LASreadOpener piped;
  parse(piped, {"-stdin", "-itxt"});
  EXPECT_TRUE(piped.is_piped());
  EXPECT_FALSE(open(piped));
  EXPECT_FALSE(piped.active());
  EXPECT_FALSE(open(piped, &err));
  EXPECT_EQ(err, "");
}

// The depth query of the options holds for every file, not only the first.
TEST_F(LasReadOpenerOpenTest, CopcQueryStaysInForce) {
  LASreadOpener opener;
  parse(opener, {"-i", temp.file("a.las"), temp.file("b.las"), "-resolution", "0.5"});
  for (int file = 0; file < 2; file++) {
    std::string err;
    EXPECT_FALSE(open(opener, &err));
    EXPECT_EQ(err, "ERROR: queries with a depth limit are restrited to COPC files.\n");
  }
  EXPECT_EQ(opener.copc_query, 2);
}

TEST_F(LasReadOpenerOpenTest, HandsOverFilterTransformAndIgnoreRules) {
  LASreadOpener opener;
  parse(opener, {"-i", temp.file("a.las"), "-faf", "-ignore_class", "1", "-inside", "0", "0", "50", "50"});
  opener.set_filter(new LASfilter());
  opener.get_filter()->add_criterion(new DropOdd());
  std::unique_ptr<LASreader> reader = open(opener);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->get_filter(), opener.get_filter());
  EXPECT_EQ(reader->get_transform(), opener.get_transform());
  ASSERT_NE(reader->get_ignore(), nullptr);
  EXPECT_EQ(reader->get_ignore(), opener.get_ignore());
  EXPECT_EQ(reader->get_inside(), LASreader::INSIDE_RECTANGLE);
  // Filter and area both apply: the even points below 50.
  std::vector<I32> expected;
  for (int i = 0; i < 50; i += 2) expected.push_back(i);
  EXPECT_EQ(xs(read_all(reader.get())), expected);
}

// Standard input is read in a child process, whose stdin is the file (and
// whose stdout, where -pipe_on writes, goes nowhere). Stored, it is read again.
TEST_F(LasReadOpenerOpenTest, LasFromStandardInput) {
  const std::vector<std::vector<std::string>> cases = {
      {"-stdin"}, {"-stdin", "-stored"}, {"-stdin", "-pipe_on"}, {"-stdin", "-stored", "-pipe_on"}};
  const std::string path = temp.file("a.las");
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.back());
    LASreadOpener opener;
    parse(opener, args);
    EXPECT_TRUE(opener.is_piped());
    auto run = [&]() {
      if (!freopen(path.c_str(), "rb", stdin) || !freopen("/dev/null", "wb", stdout)) exit(10);
      std::unique_ptr<LASreader> reader(opener.open());
      if (!reader) exit(11);
      const std::vector<PointSeen> first = read_all(reader.get());
      if (first.size() != 100) exit(12);
      if (opener.active() || !opener.populate_header) exit(13);
      if (opener.open() != nullptr) exit(14);
      if (opener.is_stored() && (!opener.reopen(reader.get()) || read_all(reader.get()) != first)) exit(15);
      exit(0);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
  }
}

}  // namespace

namespace {

// Failed opens give up every reader they made on the way (the sanitized build
// checks that nothing leaks): a pipe among merged or buffered inputs is
// refused before any file is read.
TEST_F(LasReadOpenerOpenTest, PipeAmongSeveralInputsIsRefused) {
  const std::string pipe = temp.file("pipe.las");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string a = temp.file("a.las");
  const std::vector<std::string> cases[] = {
      {"-i", a, pipe, "-merged"},
      {"-i", a, pipe, "-buffered", "10"},
      {"-i", pipe, "-neighbors", a, "-buffered", "10"},
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.back());
    LASreadOpener opener;
    parse(opener, args);
    std::string err;
    EXPECT_FALSE(open(opener, &err));
    EXPECT_EQ(err, "ERROR: input '" + pipe + "' is a pipe that cannot be read twice. save it to a file first.\n");
  }
}

// Standard input that is no LAS stream, read in a child process: the child
// ends with 0 only when open failed with the message, and the sanitized
// build's leak check at exit changes that code when a reader was left over.
TEST_F(LasReadOpenerOpenTest, StandardInputThatIsNoLasStream) {
  temp.write("x.txt", "1 2 3\n");
  const std::string path = temp.file("x.txt");
  const std::vector<std::string> cases[] = {{"-stdin"}, {"-stdin", "-stored"}, {"-stdin", "-pipe_on"}};
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.back());
    LASreadOpener opener;
    parse(opener, args);
    auto run = [&]() {
      if (!freopen(path.c_str(), "rb", stdin) || !freopen("/dev/null", "wb", stdout)) exit(10);
      LASreader* reader = opener.open();
      exit(reader == nullptr ? 0 : 11);
    };
    EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "ERROR: cannot open lasreaderlas from stdin \n");
  }
}

}  // namespace
