// Standard input, named pipes and -pipe_on through the built program. An
// input that cannot be read twice is stored in the first pass and must be
// thinned exactly as the same file given by name: same output bytes, same
// messages, same exit code. -pipe_on passes the points the tool reads on to
// standard output as a LAS stream that the next run can read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/fifo_feed.hpp"
#include "support/las_attribute.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

// Points within 15 x 11 x 7 m, several to a 2 m voxel, with every field of
// the format varied and, when asked, an attribute that differs from point to
// point.
lasfix::LasFile cloud(uint8_t format, bool attribute) {
  lasfix::LasFile f = varied_file(format, 400, attribute);
  for (size_t i = 0; i < f.points.size(); i++) {
    f.points[i].X = (int32_t)(i * 37 % 1500);
    f.points[i].Y = (int32_t)(i * 53 % 1100);
    f.points[i].Z = (int32_t)(i * 29 % 700);
  }
  return f;
}

// A run inside `dir`, so that messages name the same relative files.
ToolResult run_at(const TempDir& dir, std::vector<std::string> args, const std::string& stdin_data = "") {
  ToolRun run;
  run.args = std::move(args);
  run.cwd = dir.path();
  run.stdin_data = stdin_data;
  run.timeout_seconds = 60;
  return run_tool(run);
}

// What a run wrote: its output file, or its standard output with -stdout.
std::string written(const TempDir& dir, const ToolResult& r, bool to_stdout) {
  if (to_stdout) return r.out;
  return dir.exists("out.las") ? dir.read("out.las") : "";
}

// Byte strings compared without printing kilobytes of binary.
::testing::AssertionResult same_bytes(const std::string& got, const std::string& expected) {
  if (got == expected) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) at++;
  return ::testing::AssertionFailure() << got.size() << " bytes instead of " << expected.size()
                                       << ", first difference at byte " << at;
}

struct PipedCase {
  const char* name;
  uint8_t format;
  bool attribute;
  bool compressed_input;  // the input is first written as VMB by the tool
  std::vector<std::string> options;
};

void PrintTo(const PipedCase& c, std::ostream* os) { *os << c.name; }

class PipedInput : public ::testing::TestWithParam<PipedCase> {};

// From standard input and from a named pipe the run is that of the file.
TEST_P(PipedInput, IsThinnedAsTheFileGivenByName) {
  const PipedCase& c = GetParam();
  TempDir dir;
  std::string input = cloud(c.format, c.attribute).bytes();
  const char* name = c.compressed_input ? "in.vmb" : "in.las";
  if (c.compressed_input) {
    dir.write("in.las", input);
    const ToolResult r = run_at(dir, {"-i", "in.las", "-every_nth", "1", "-o", "in.vmb", "-quiet"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    input = dir.read("in.vmb");
  }
  dir.write(name, input);
  const bool to_stdout = std::find(c.options.begin(), c.options.end(), "-stdout") != c.options.end();
  std::vector<std::string> output = {"-o", "out.las"};
  if (to_stdout) output.clear();
  auto args = [&](std::vector<std::string> in) {
    in.insert(in.end(), output.begin(), output.end());
    in.insert(in.end(), c.options.begin(), c.options.end());
    return in;
  };

  const ToolResult by_name = run_at(dir, args({"-i", name}));
  const std::string expected = written(dir, by_name, to_stdout);
  ASSERT_FALSE(expected.empty()) << by_name.err;
  ASSERT_LT(lasfix::parse(expected).point_count(), 400u);
  std::remove(dir.file("out.las").c_str());

  const ToolResult from_stdin = run_at(dir, args({"-stdin"}), input);
  EXPECT_EQ(from_stdin.exit_code, by_name.exit_code) << from_stdin.err;
  EXPECT_EQ(without_times(from_stdin.err), without_times(by_name.err));
  EXPECT_TRUE(same_bytes(written(dir, from_stdin, to_stdout), expected));
  std::remove(dir.file("out.las").c_str());

  const std::string pipe_name = c.compressed_input ? "pipe.vmb" : "pipe.las";
  ToolResult from_pipe;
  {
    FifoFeed feed(dir.file(pipe_name), input);
    ASSERT_TRUE(feed.ok());
    from_pipe = run_at(dir, args({"-i", pipe_name}));
  }
  EXPECT_EQ(from_pipe.exit_code, by_name.exit_code) << from_pipe.err;
  EXPECT_EQ(without_times(from_pipe.err), without_times(by_name.err));
  EXPECT_TRUE(same_bytes(written(dir, from_pipe, to_stdout), expected));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PipedInput,
    ::testing::Values(PipedCase{"format_1", 1, false, false, {"-step", "2"}},
                      PipedCase{"format_3", 3, false, false, {"-step", "2"}},
                      PipedCase{"format_6", 6, false, false, {"-step", "2"}},
                      PipedCase{"extra_bytes_attribute_max", 1, true, false, {"-attribute_max", "0"}},
                      PipedCase{"format_7_attribute_min", 7, true, false, {"-attribute_min", "0", "-step", "3"}},
                      PipedCase{"compressed_input", 3, true, true, {"-step", "2"}},
                      PipedCase{"filtered", 1, false, false, {"-keep_class", "1", "2", "3", "4", "5", "6"}},
                      PipedCase{"one_pass", 6, false, false, {"-every_nth", "3"}},
                      // Three passes: the header is written before the points.
                      PipedCase{"to_stdout", 1, true, false, {"-stdout", "-highest", "-flatten_points"}}),
    [](const ::testing::TestParamInfo<PipedCase>& info) { return std::string(info.param.name); });

// -pipe_on writes the points the tool reads, once, as a plain LAS stream;
// the thinned output is the one without it, and a second run reading the
// stream from standard input thins as it would thin the file.
TEST(PipeOn, PassesThePointsReadOnToTheNextRun) {
  TempDir dir;
  const lasfix::LasFile file = cloud(3, true);
  dir.write("in.las", file.bytes());
  const ToolResult plain = run_at(dir, {"-i", "in.las", "-o", "plain.las"});
  ASSERT_EQ(plain.exit_code, 0) << plain.err;
  const ToolResult every = run_at(dir, {"-i", "in.las", "-every_nth", "1", "-o", "every.las"});
  ASSERT_EQ(every.exit_code, 0) << every.err;

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string stdin_data;
    const char* same_as;
  } cases[] = {
      {"one_pass", {"-i", "in.las", "-pipe_on", "-every_nth", "1", "-o", "out.las"}, "", "every.las"},
      {"two_passes", {"-i", "in.las", "-pipe_on", "-o", "out.las"}, "", "plain.las"},
      {"stored_and_piped", {"-stdin", "-pipe_on", "-o", "out.las"}, file.bytes(), "plain.las"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ToolResult r = run_at(dir, c.args, c.stdin_data);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(without_times(r.err), "done with 'out.las'. total time T sec.\n");
    EXPECT_TRUE(same_bytes(dir.read("out.las"), dir.read(c.same_as)));
    const lasfix::Parsed piped = lasfix::parse(r.out);
    EXPECT_EQ(piped.header.point_data_format, 3);
    EXPECT_EQ(piped.point_count(), 400u);
    EXPECT_EQ(piped.points, file.points);
    ASSERT_EQ(piped.vlrs.size(), 2u);
    EXPECT_EQ(piped.vlrs[0].payload, "kept as it is");

    const ToolResult next = run_at(dir, {"-stdin", "-o", "next.las"}, r.out);
    EXPECT_EQ(next.exit_code, 0) << next.err;
    EXPECT_TRUE(same_bytes(dir.read("next.las"), dir.read("plain.las")));
  }
}

// The merged and buffered readers open every file more than once, which a
// named pipe does not allow: refused before it is opened, so nothing waits.
TEST(PipedInput, AmongMergedOrBufferedInputsIsRefused) {
  TempDir dir;
  dir.write("a.las", cloud(1, false).bytes());
  for (const std::vector<std::string>& way : {std::vector<std::string>{"-merged"}, {"-buffered", "10"}}) {
    SCOPED_TRACE(way[0]);
    std::remove(dir.file("pipe.las").c_str());
    FifoFeed feed(dir.file("pipe.las"), cloud(1, false).bytes());
    ASSERT_TRUE(feed.ok());
    std::vector<std::string> args = {"-i", "a.las", "pipe.las", "-o", "out.las"};
    args.insert(args.end(), way.begin(), way.end());
    const ToolResult r = run_at(dir, args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, "ERROR: input 'pipe.las' is a pipe that cannot be read twice. save it to a file first.\n");
    EXPECT_FALSE(dir.exists("out.las"));
  }
}

}  // namespace
