// Outputs never destroy inputs or other outputs, through the built binary:
// an output that would land on a file of the run is refused, a named file
// takes its name only when complete, and an output that cannot be corrected
// afterwards starts with a true header. Every run's inputs are compared byte
// for byte afterwards, and every output against a scan of its own points.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "support/fifo_feed.hpp"
#include "support/header_scan.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::Point;

// A strip of points up to 10 m wide with returns 1 to 3, every fifth of class
// 7, and an extra-bytes attribute; files of different `shift` differ in every
// point, so their outputs can be told apart.
lasfix::LasFile strip(int shift, uint8_t format = 1, int count = 60) {
  lasfix::LasFile f;
  f.header.version_minor = format >= 6 ? 4 : 2;
  f.header.point_data_format = format;
  add_i32_attribute(f, "value");
  for (int i = 0; i < count; i++) {
    Point p;
    p.X = (i * 37 + shift * 11) % 1000;
    p.Y = (i * 53) % 800;
    p.Z = (i * 29 + shift) % 600;
    p.return_number = (uint8_t)(1 + i % 3);
    p.number_of_returns = 3;
    p.intensity = (uint16_t)i;
    p.gps_time = i + shift;
    p.classification = (i % 5 == 0) ? 7 : 2;
    const int32_t attribute = (i * 7) % 13;
    p.extra_bytes.assign((const char*)&attribute, 4);
    f.points.push_back(p);
  }
  return f;
}

// "@" at the start of an argument or a message stands for the test directory.
std::string at_dir(const std::string& text, const TempDir& dir) {
  std::string out;
  for (char c : text) {
    if (c == '@')
      out += dir.path();
    else
      out += c;
  }
  return out;
}

ToolResult run_in(const TempDir& dir, const std::vector<std::string>& args) {
  ToolRun run;
  for (const std::string& a : args) run.args.push_back(at_dir(a, dir));
  run.timeout_seconds = 60;
  return run_tool(run);
}

// Every entry below the directory that is not a directory, by relative path.
std::set<std::string> files_in(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (std::filesystem::is_directory(entry.symlink_status())) continue;
    names.insert(entry.path().lexically_relative(dir.path()).string());
  }
  return names;
}

// The bytes the tool writes for `file` alone with `options`.
std::string thinned(const lasfix::LasFile& file, const std::vector<std::string>& options = {}) {
  TempDir dir;
  dir.write("in.las", file.bytes());
  std::vector<std::string> args = {"-i", "@/in.las", "-o", "@/out.las"};
  args.insert(args.end(), options.begin(), options.end());
  const ToolResult r = run_in(dir, args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return dir.exists("out.las") ? dir.read("out.las") : "";
}

// An output file: its header describes its points, and it is what the tool
// writes for its input alone.
void expect_output(const TempDir& dir, const std::string& name, const std::string& expected) {
  SCOPED_TRACE(name);
  ASSERT_TRUE(dir.exists(name));
  const std::string bytes = dir.read(name);
  expect_header_matches_points(lasfix::parse(bytes));
  EXPECT_EQ(bytes, expected);
}

// ------------------------------------------------------------------ refusals

struct FilesCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string err;                            // "@" is the directory
  std::map<std::string, char> outputs;        // new file -> 'A' or 'B', the input it thins
};

void PrintTo(const FilesCase& c, std::ostream* os) { *os << c.name; }

class OutputLandsOnAFileOfTheRun : public ::testing::TestWithParam<FilesCase> {};

// Inputs: a.las and d1/x.las hold strip A; b.las, a_1.las and d2/x.las strip
// B; lnk.las is a symbolic and hard.las a hard link to b.las.
TEST_P(OutputLandsOnAFileOfTheRun, IsRefusedAndNothingIsLost) {
  const FilesCase& c = GetParam();
  TempDir dir;
  const std::string a = strip(0).bytes(), b = strip(5).bytes();
  std::filesystem::create_directories(dir.file("d1"));
  std::filesystem::create_directories(dir.file("d2"));
  std::filesystem::create_directories(dir.file("out"));
  const std::map<std::string, std::string> inputs = {
      {"a.las", a}, {"b.las", b}, {"a_1.las", b}, {"d1/x.las", a}, {"d2/x.las", b}};
  for (const auto& [name, bytes] : inputs) dir.write(name, bytes);
  ASSERT_EQ(symlink("b.las", dir.file("lnk.las").c_str()), 0);
  ASSERT_EQ(link(dir.file("b.las").c_str(), dir.file("hard.las").c_str()), 0);
  const std::set<std::string> before = files_in(dir);
  const std::string thin_a = thinned(strip(0)), thin_b = thinned(strip(5));

  const ToolResult r = run_in(dir, c.args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(without_times(r.err), at_dir(c.err, dir));
  for (const auto& [name, bytes] : inputs) EXPECT_EQ(dir.read(name), bytes) << name;
  std::set<std::string> expected = before;
  for (const auto& [name, source] : c.outputs) {
    expected.insert(name);
    expect_output(dir, name, source == 'A' ? thin_a : thin_b);
  }
  EXPECT_EQ(files_in(dir), expected);
}

const std::string DONE_ALL = "done with all files. total time for 2 files T sec.\n";

std::string done(const std::string& name) { return "done with '@/" + name + "'. total time T sec.\n"; }

// The refusal of `output`, the output for `input`, that would overwrite the
// input `overwritten`.
std::string over_input(const std::string& output, const std::string& input, const std::string& overwritten) {
  return "ERROR: output '@/" + output + "' for '@/" + input + "' would overwrite the input '@/" + overwritten + "'\n";
}

// The same for the output written before for `earlier`.
std::string over_output(const std::string& output, const std::string& input, const std::string& earlier) {
  return "ERROR: output '@/" + output + "' for '@/" + input + "' would overwrite the output for '@/" + earlier + "'\n";
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, OutputLandsOnAFileOfTheRun,
    ::testing::Values(
        FilesCase{"named_output_is_a_later_input",
                  {"-i", "@/a.las", "@/b.las", "-o", "@/b.las"},
                  3,
                  over_input("b.las", "a.las", "b.las"),
                  {}},
        // With halting off only the refused file is skipped.
        FilesCase{"named_output_is_a_later_input_go_on",
                  {"-i", "@/a.las", "@/b.las", "-o", "@/b.las", "-errors_ignore"},
                  3,
                  over_input("b.las", "a.las", "b.las") + done("b_1.las") + DONE_ALL,
                  {{"b_1.las", 'B'}}},
        FilesCase{"derived_output_is_another_input",
                  {"-i", "@/a.las", "@/a_1.las", "-errors_ignore"},
                  3,
                  over_input("a_1.las", "a.las", "a_1.las") + done("a_1_1.las") + DONE_ALL,
                  {{"a_1_1.las", 'B'}}},
        FilesCase{"derived_output_is_an_input_read_before",
                  {"-i", "@/a_1.las", "@/a.las", "-errors_ignore"},
                  3,
                  done("a_1_1.las") + over_input("a_1.las", "a.las", "a_1.las") + DONE_ALL,
                  {{"a_1_1.las", 'B'}}},
        FilesCase{"derived_output_written_before",
                  {"-i", "@/a.las", "@/b.las", "-o", "@/b_1.las"},
                  3,
                  done("b_1.las") + over_output("b_1.las", "b.las", "a.las"),
                  {{"b_1.las", 'A'}}},
        FilesCase{"same_name_from_two_directories",
                  {"-i", "@/d1/x.las", "@/d2/x.las", "-odir", "@/out", "-errors_ignore"},
                  3,
                  done("out/x.las") + over_output("out/x.las", "d2/x.las", "d1/x.las") + DONE_ALL,
                  {{"out/x.las", 'A'}}},
        FilesCase{"input_through_a_symbolic_link",
                  {"-i", "@/a.las", "@/b.las", "-o", "@/lnk.las"},
                  3,
                  over_input("lnk.las", "a.las", "b.las"),
                  {}},
        FilesCase{"input_through_a_hard_link",
                  {"-i", "@/a.las", "@/b.las", "-o", "@/hard.las"},
                  3,
                  over_input("hard.las", "a.las", "b.las"),
                  {}},
        FilesCase{"two_outputs_that_differ_pass",
                  {"-i", "@/a.las", "@/b.las", "-odir", "@/out", "-odix", "_t"},
                  0,
                  done("out/a_t.las") + done("out/b_t.las") + DONE_ALL,
                  {{"out/a_t.las", 'A'}, {"out/b_t.las", 'B'}}}),
    [](const ::testing::TestParamInfo<FilesCase>& info) { return std::string(info.param.name); });

// The safety rename to temp.las (in the working directory) never replaces a
// file: neither one that was there before the run nor an earlier output.
TEST(SafetyRename, NeverReplacesAFileOrAnEarlierOutput) {
  const std::string a = strip(0).bytes(), b = strip(5).bytes();
  const std::string renamed =
      "WARNING: generated output name 'data/a.las'\n"
      "         identical to input name. changed to 'temp.las'.\n"
      "         you can override this safety measure with '-oforce'.\n";
  auto refused = [](const std::string& input) {
    return "ERROR: generated output name '" + input +
           "'\n       identical to input name. cannot change it to 'temp.las'\n"
           "       as that file exists already. use '-odir' or '-odix' to choose another name.\n";
  };
  const struct {
    const char* name;
    bool temp_exists;
    std::vector<std::string> args;
    int exit_code;
    std::string err;
    bool temp_from_a;
  } cases[] = {
      {"existing_file", true, {"-i", "data/a.las", "-odir", "data"}, 3, refused("data/a.las"), false},
      {"renamed_once", false, {"-i", "data/a.las", "-odir", "data"}, 1,
       renamed + "done with 'temp.las'. total time T sec.\n", true},
      {"earlier_output", false, {"-i", "data/a.las", "data/b.las", "-odir", "data"}, 3,
       renamed + "done with 'temp.las'. total time T sec.\n" + refused("data/b.las"), true},
      {"earlier_output_go_on", false, {"-i", "data/a.las", "data/b.las", "-odir", "data", "-errors_ignore"}, 3,
       renamed + "done with 'temp.las'. total time T sec.\n" + refused("data/b.las") + DONE_ALL, true},
  };
  const std::string thin_a = thinned(strip(0));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::filesystem::create_directories(dir.file("data"));
    dir.write("data/a.las", a);
    dir.write("data/b.las", b);
    if (c.temp_exists) dir.write("temp.las", "kept");
    ToolRun run;
    run.args = c.args;
    run.cwd = dir.path();
    const ToolResult r = run_tool(run);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(without_times(r.err), c.err);
    EXPECT_EQ(dir.read("data/a.las"), a);
    EXPECT_EQ(dir.read("data/b.las"), b);
    if (c.temp_from_a) {
      expect_output(dir, "temp.las", thin_a);
    } else {
      EXPECT_EQ(dir.read("temp.las"), "kept");
    }
    EXPECT_EQ(files_in(dir), (std::set<std::string>{"data/a.las", "data/b.las", "temp.las"}));
  }
}

// ------------------------------------------------------------------ named outputs

// A write that fails half way (a full disk, made here by a file-size limit)
// never touches the name: an existing output keeps its bytes, a new one does
// not appear, and the temporary file is gone, whatever the halting setting.
TEST(NamedOutput, AFailedWriteLeavesTheNameAsItWas) {
  const std::string in = strip(0).bytes();
  const std::string previous = thinned(strip(5));
  for (const bool existing : {true, false}) {
    for (const bool go_on : {false, true}) {
      SCOPED_TRACE(std::string(existing ? "existing" : "new") + (go_on ? " go on" : " halt"));
      TempDir dir;
      dir.write("in.las", in);
      if (existing) dir.write("out.las", previous);
      ToolRun run;
      run.args = {"-i", dir.file("in.las"), "-o", dir.file("out.las")};
      if (go_on) run.args.push_back("-errors_ignore");
      run.file_size_limit = 300;
      const ToolResult r = run_tool(run);
      EXPECT_EQ(r.exit_code, 3);
      // The first write that fails is the header's correction; the failure
      // is reported once.
      EXPECT_EQ(without_times(r.err),
                go_on ? "ERROR: updating inventory.number_of_point_records\n"
                        "WARNING: written 29 points but expected 60 points\n"
                        "done with '" + dir.file("out.las") + "'. total time T sec.\n"
                      : "ERROR: updating inventory.number_of_point_records\n");
      EXPECT_EQ(dir.read("in.las"), in);
      std::set<std::string> files = {"in.las"};
      if (existing) {
        EXPECT_EQ(dir.read("out.las"), previous);
        files.insert("out.las");
      }
      EXPECT_EQ(files_in(dir), files);
    }
  }
}

// A finished output replaces the old one with the old one's permissions, or
// gets those of a new file; a link keeps pointing to the file it names, which
// takes the output.
TEST(NamedOutput, ACompleteOutputTakesTheNameAndKeepsLinksAndPermissions) {
  const std::string in = strip(0).bytes();
  const std::string expected = thinned(strip(0));
  TempDir dir;
  dir.write("in.las", in);
  dir.write("old.las", "previous");
  ASSERT_EQ(chmod(dir.file("old.las").c_str(), 0640), 0);
  std::filesystem::create_directories(dir.file("real"));
  dir.write("real/target.las", "previous");
  ASSERT_EQ(symlink("real/target.las", dir.file("lnk.las").c_str()), 0);
  for (const char* name : {"old.las", "new.las", "lnk.las"}) {
    const ToolResult r = run_in(dir, {"-i", "@/in.las", "-o", std::string("@/") + name});
    EXPECT_EQ(r.exit_code, 0) << r.err;
  }
  EXPECT_EQ(dir.read("in.las"), in);
  expect_output(dir, "old.las", expected);
  expect_output(dir, "new.las", expected);
  expect_output(dir, "real/target.las", expected);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("lnk.las")));
  struct stat info;
  ASSERT_EQ(stat(dir.file("old.las").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(stat(dir.file("new.las").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
  EXPECT_EQ(files_in(dir),
            (std::set<std::string>{"in.las", "old.las", "new.las", "lnk.las", "real/target.las"}));
}

// An output whose writer cannot be set up is never removed or cut: neither an
// existing file nor a pipe named as output.
TEST(NamedOutput, AWriterThatCannotBeSetUpLeavesTheOutputAlone) {
  const std::string in = strip(0).bytes();
  TempDir dir;
  dir.write("in.las", in);
  dir.write("old.vmb", "previous");
  ASSERT_EQ(mkfifo(dir.file("pipe.vmb").c_str(), 0600), 0);
  const int reading = open(dir.file("pipe.vmb").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reading, 0);
  for (const char* name : {"old.vmb", "pipe.vmb"}) {
    SCOPED_TRACE(name);
    // Adaptive chunks are refused for point format 1.
    const ToolResult r = run_in(dir, {"-i", "@/in.las", "-o", std::string("@/") + name, "-chunk_size", "0"});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err,
              "ERROR: adaptive chunking is depricated for point type 1. only available for new LAS 1.4 point types 6 "
              "or higher.\n");
  }
  close(reading);
  EXPECT_EQ(dir.read("in.las"), in);
  EXPECT_EQ(dir.read("old.vmb"), "previous");
  struct stat info;
  ASSERT_EQ(lstat(dir.file("pipe.vmb").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(files_in(dir), (std::set<std::string>{"in.las", "old.vmb", "pipe.vmb"}));
}

// A run ended by a signal while it writes leaves neither its temporary file
// nor a partial output under the name.
TEST(NamedOutput, ARunEndedBySignalLeavesNoPartialFile) {
  TempDir dir;
  const std::string in = strip(0, 1, 400000).bytes();
  dir.write("in.las", in);
  dir.write("out.las", "previous");
  ToolRun run;
  run.program = "/bin/bash";
  run.cwd = dir.path();
  run.args = {"-c",
              "\"$1\" -i in.las -o out.las -every_nth 1 & pid=$!\n"
              "while kill -0 $pid 2>/dev/null && ! compgen -G 'out.las.tmp*' >/dev/null; do :; done\n"
              "kill -TERM $pid 2>/dev/null; wait $pid; echo $?",
              "bash", VOXSIFTER_BINARY};
  const ToolResult r = run_tool(run);
  if (r.out == "0\n") GTEST_SKIP() << "the run ended before it could be stopped";
  EXPECT_EQ(r.out, "143\n") << r.err;
  EXPECT_EQ(dir.read("in.las"), in);
  EXPECT_EQ(dir.read("out.las"), "previous");
  EXPECT_EQ(files_in(dir), (std::set<std::string>{"in.las", "out.las"}));
}

// ------------------------------------------------------------------ headers written first

// Each rule once to a file and once where the header cannot be corrected
// afterwards: the standard output and a named pipe (written directly, and
// still a pipe afterwards). All three carry the same points under a true
// header, random rules included.
TEST(HeaderFirst, OutputsThatCannotBePatchedStartWithATrueHeader) {
  const std::vector<std::vector<std::string>> option_sets = {
      {},
      {"-highest", "-use_cell_center"},
      {"-every_nth", "3"},
      {"-random_nth", "2", "-seed", "5"},
      {"-random_cell_occurrence", "-seed", "9", "-flatten_points"},
      {"-ignore_class", "7", "-keypoint"},
      {"-attribute_max", "0", "-count_to_user_byte"},
  };
  for (const uint8_t format : {1, 6}) {
    const std::string in = strip(0, format).bytes();
    for (const std::vector<std::string>& options : option_sets) {
      SCOPED_TRACE(testing::PrintToString(options) + " format " + std::to_string(format));
      TempDir dir;
      dir.write("in.las", in);
      const std::string expected = thinned(strip(0, format), options);
      const lasfix::Parsed file = lasfix::parse(expected);
      ASSERT_LT(file.points.size(), 60u);

      std::vector<std::string> args = {"-i", "@/in.las", "-stdout"};
      args.insert(args.end(), options.begin(), options.end());
      const ToolResult to_stdout = run_in(dir, args);
      EXPECT_EQ(to_stdout.exit_code, 1);
      EXPECT_EQ(without_times(to_stdout.err),
                "WARNING: cannot update header for piped output\ndone with 'stdout'. total time T sec.\n");

      ASSERT_EQ(mkfifo(dir.file("pipe.las").c_str(), 0600), 0);
      // Opened first and not waited on: the output fits the pipe's buffer.
      const int reading = open(dir.file("pipe.las").c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(reading, 0);
      args = {"-i", "@/in.las", "-o", "@/pipe.las"};
      args.insert(args.end(), options.begin(), options.end());
      const ToolResult to_pipe = run_in(dir, args);
      EXPECT_EQ(to_pipe.exit_code, 0) << to_pipe.err;
      std::string piped;
      char buffer[65536];
      for (ssize_t n; (n = read(reading, buffer, sizeof(buffer))) > 0;) piped.append(buffer, (size_t)n);
      close(reading);
      struct stat info;
      ASSERT_EQ(lstat(dir.file("pipe.las").c_str(), &info), 0);
      EXPECT_TRUE(S_ISFIFO(info.st_mode));

      EXPECT_EQ(dir.read("in.las"), in);
      for (const std::string& bytes : {to_stdout.out, piped}) {
        const lasfix::Parsed out = lasfix::parse(bytes);
        expect_header_matches_points(out);
        EXPECT_EQ(out.points, file.points);
        EXPECT_EQ(bytes, expected);
      }
    }
  }
}

// ------------------------------------------------------------------ inputs

// A named pipe cannot be opened again for the second pass: its points are
// stored while they are read, and the output is that of a regular file.
TEST(PipeInput, IsStoredAndThinnedAsAFile) {
  TempDir dir;
  const std::string a = strip(0).bytes();
  const std::string b = strip(1).bytes();
  dir.write("a.las", a);
  {
    FifoFeed feed(dir.file("p.las"), b);
    ASSERT_TRUE(feed.ok());
    const ToolResult r = run_in(dir, {"-i", "@/p.las", "-o", "@/out.las"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(without_times(r.err), at_dir(done("out.las"), dir));
  }
  expect_output(dir, "out.las", thinned(strip(1)));
  // Among other inputs, with names derived from each.
  std::remove(dir.file("p.las").c_str());
  {
    FifoFeed feed(dir.file("p.las"), b);
    const ToolResult r = run_in(dir, {"-i", "@/p.las", "@/a.las", "-odix", "_t"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(without_times(r.err), at_dir(done("p_t.las") + done("a_t.las") + DONE_ALL, dir));
  }
  EXPECT_EQ(dir.read("a.las"), a);
  expect_output(dir, "p_t.las", thinned(strip(1)));
  expect_output(dir, "a_t.las", thinned(strip(0)));
}

}  // namespace
