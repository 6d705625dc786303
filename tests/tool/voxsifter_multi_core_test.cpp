// Many files over child processes, through the built binary: every output is
// compared byte for byte with the output of a single-process run on a copy of
// the same inputs. Where a test must see the children themselves, the program
// is started under the name of a small wrapper script, so that each child runs
// through the wrapper, which notes its start, end and arguments.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/process_log.hpp"
#include "support/temp_dir.hpp"

namespace {

using Words = std::vector<std::string>;

const std::string BIN = VOXSIFTER_BINARY;

// A tile of `count` points, different for every `seed`.
std::string tile_bytes(uint32_t seed, uint32_t count = 3000) {
  lasfix::LasFile f;
  f.header.point_data_format = 1;
  for (uint32_t i = 0; i < count; i++) f.points.push_back(lasfix::varied_point(1, seed * 100003u + i));
  return f.bytes();
}

// The same inputs in two directories: one for a single process, one for the
// children.
struct TwoRuns {
  TempDir one, many;
  Words names;
  explicit TwoRuns(const Words& file_names) : names(file_names) {
    for (size_t k = 0; k < names.size(); k++) {
      const std::string bytes = tile_bytes((uint32_t)k + 1);
      one.write(names[k], bytes);
      many.write(names[k], bytes);
    }
  }
  static Words inputs(const TempDir& dir, const Words& names) {
    Words args = {"-i"};
    for (const std::string& name : names) args.push_back(dir.file(name));
    return args;
  }
  ToolResult run_one(const Words& options) const { return run_in(one, options); }
  ToolResult run_many(const Words& options, const std::string& argv0 = "") const {
    return run_in(many, options, argv0);
  }
  ToolResult run_in(const TempDir& dir, const Words& options, const std::string& argv0 = "") const {
    ToolRun run;
    run.args = inputs(dir, names);
    run.args.insert(run.args.end(), options.begin(), options.end());
    run.argv0 = argv0;
    return run_tool(run);
  }
  // Every output the single process wrote, byte for byte in the other run.
  void expect_same_outputs(const Words& outputs) const {
    for (const std::string& name : outputs) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(one.exists(name));
      ASSERT_TRUE(many.exists(name));
      const std::string bytes = one.read(name);
      EXPECT_GT(lasfix::parse(bytes).points.size(), 0u);
      EXPECT_TRUE(bytes == many.read(name));
    }
  }
};

Words derived(const Words& names) {
  Words out;
  for (const std::string& name : names) out.push_back(name.substr(0, name.rfind('.')) + "_1.las");
  return out;
}

// The runner's own lines, in order.
std::vector<std::string> runner_lines(const std::string& err) {
  std::vector<std::string> lines;
  for (const std::string& line : lines_of(err)) {
    if (line.rfind("Starting ", 0) == 0 || line.rfind("Sucessfully started ", 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::string started(int slot, const Words& arguments) {
  std::string line = "Starting thread[" + std::to_string(slot) + "](" + BIN + ") with arguments: " + BIN + " ";
  for (const std::string& a : arguments) line += a + " ";
  return line;
}

// A script that runs the real program for each child and notes, in `dir`,
// an "s" when the child starts and an "e" when it ends, its arguments (one a
// line, in args.<pid>) and a copy of any list file it is handed. A child for
// a file named kill_me is killed.
std::string write_wrapper(const TempDir& dir) {
  const std::string d = dir.path();
  dir.write("wrap.sh",
            "#!/bin/sh\n"
            "echo s >> '" +
                d +
                "/events'\n"
                "printf '%s\\n' \"$@\" > '" +
                d +
                "/args.'$$\n"
                "for a in \"$@\"; do case \"$a\" in */file_list_buffered.*) cp \"$a\" '" +
                d +
                "/list_copy' ;; esac; done\n"
                "case \"$*\" in *kill_me*) kill -9 $$ ;; esac\n"
                "sleep 0.3\n"
                "'" +
                BIN +
                "' \"$@\"\n"
                "status=$?\n"
                "echo e >> '" +
                d +
                "/events'\n"
                "exit $status\n");
  chmod(dir.file("wrap.sh").c_str(), 0755);
  return dir.file("wrap.sh");
}

// Arguments of every child the wrapper ran.
std::vector<std::string> child_arguments(const TempDir& dir) {
  std::vector<std::string> all;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("args.", 0) == 0) all.push_back(dir.read(name));
  }
  return all;
}

// ------------------------------------------------------------------ outputs

TEST(MultiCore, EightFilesOnFourCoresGiveTheOutputsOfOneProcess) {
  const Words names = {"t0.las", "t1.las", "t2.las", "t3.las", "t4.las", "t5.las", "t6.las", "t7.las"};
  TwoRuns runs(names);
  // A filter too: each parser's option text reaches the children.
  ToolResult one = runs.run_one({"-step", "40", "-highest", "-keep_z_above", "-3.5"});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  ToolResult many = runs.run_many({"-step", "40", "-highest", "-keep_z_above", "-3.5", "-cores", "4"});
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs(derived(names));

  const std::vector<std::string> lines = runner_lines(many.err);
  ASSERT_EQ(lines.size(), 10u) << many.err;
  EXPECT_EQ(lines.front(), "Starting 8 processes on 4 cores");
  EXPECT_EQ(lines.back(), "Sucessfully started 8 jobs");
  for (size_t k = 1; k + 1 < lines.size(); k++) {
    const std::string& line = lines[k];
    const std::string name = runs.many.file(names[k - 1]);
    ASSERT_EQ(line.rfind("Starting thread[", 0), 0u) << line;
    EXPECT_GE(line[16], '0');
    EXPECT_LE(line[16], '3');
    EXPECT_EQ(line.substr(17),
              started(0, {"-i", name, "-drop_z_below", "-3.500000", "-step", "40", "-highest"}).substr(17));
  }
}

// The command line of the issue: three jobs on two cores; "-cores 2" reaches
// no child, the tool's options and "-v" reach every one.
TEST(MultiCore, ThreeFilesOnTwoCoresWithToolOptions) {
  const Words names = {"a.las", "b.las", "c.las"};
  TwoRuns runs(names);
  ASSERT_EQ(runs.run_one({"-step", "3"}).exit_code, 0);
  ToolResult many = runs.run_many({"-cores", "2", "-step", "3", "-v"});
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs(derived(names));
  std::vector<std::string> lines = runner_lines(many.err);
  ASSERT_EQ(lines.size(), 5u) << many.err;
  EXPECT_EQ(lines[0], "Starting 3 processes on 2 cores");
  EXPECT_EQ(lines[1], started(0, {"-i", runs.many.file("a.las"), "-step", "3", "-v"}));
  EXPECT_EQ(lines[2], started(1, {"-i", runs.many.file("b.las"), "-step", "3", "-v"}));
  // The third job takes whichever slot is freed first.
  EXPECT_TRUE(lines[3] == started(0, {"-i", runs.many.file("c.las"), "-step", "3", "-v"}) ||
              lines[3] == started(1, {"-i", runs.many.file("c.las"), "-step", "3", "-v"}))
      << lines[3];
  EXPECT_EQ(lines[4], "Sucessfully started 3 jobs");
}

// With "-cpu64" the first file keeps the "-o" name and the others derive
// theirs, as in one process; otherwise every child would write out.las.
TEST(MultiCore, CpuSixtyFourNamesOnlyTheFirstOutput) {
  const Words names = {"a.las", "b.las", "c.las"};
  TwoRuns runs(names);
  ToolResult one = runs.run_in(runs.one, {"-o", runs.one.file("out.las"), "-step", "5"});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  ToolResult many = runs.run_many({"-o", runs.many.file("out.las"), "-step", "5", "-cpu64"});
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs({"out.las", "b_1.las", "c_1.las"});
  EXPECT_FALSE(runs.many.exists("a_1.las"));
  EXPECT_EQ(runner_lines(many.err),
            (std::vector<std::string>{
                "Starting 3 processes on 1 cores",
                started(0, {"-i", runs.many.file("a.las"), "-olas", "-o", runs.many.file("out.las"), "-step", "5"}),
                started(0, {"-i", runs.many.file("b.las"), "-olas", "-step", "5"}),
                started(0, {"-i", runs.many.file("c.las"), "-olas", "-step", "5"}),
                "Sucessfully started 3 jobs",
            }));
}

TEST(MultiCore, CpuSixtyFourWithOneFile) {
  TwoRuns runs({"only.las"});
  ASSERT_EQ(runs.run_one({"-every_nth", "7"}).exit_code, 0);
  ToolResult many = runs.run_many({"-every_nth", "7", "-cpu64"});
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs({"only_1.las"});
  EXPECT_EQ(runner_lines(many.err).front(), "Starting 1 processes on 1 cores");
}

// ------------------------------------------------------------------ children seen through the wrapper

// Never more children than cores; each child gets its arguments exactly, a
// name with blanks, both quotes and bytes beyond ASCII included.
TEST(MultiCore, PeakOfLiveChildrenAndTheirArguments) {
  const Words names = {"a.las", "we\"ird 'na me\xc3\xa9\xff.las", "c.las", "d.las", "e.las", "f.las", "g.las"};
  TwoRuns runs(names);
  TempDir notes;
  const std::string wrapper = write_wrapper(notes);
  ASSERT_EQ(runs.run_one({"-step", "50"}).exit_code, 0);
  ToolResult many = runs.run_many({"-step", "50", "-cores", "3"}, wrapper);
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs(derived(names));

  const std::string events = notes.read("events");
  EXPECT_EQ(std::count(events.begin(), events.end(), 'e'), 7);
  EXPECT_LE(peak_of(events), 3) << events;
  EXPECT_GE(peak_of(events), 2) << events;
  std::vector<std::string> seen = child_arguments(notes);
  std::vector<std::string> expected;
  for (const std::string& name : names) expected.push_back("-i\n" + runs.many.file(name) + "\n-step\n50\n");
  std::sort(seen.begin(), seen.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(seen, expected);
}

// A child that fails or is killed is reported, the others still do their
// files, and the run's exit code is that of the worst child.
TEST(MultiCore, FailedAndKilledChildrenAreReported) {
  const Words good = {"ok1.las", "ok2.las"};
  TwoRuns runs(good);
  TempDir notes;
  const std::string wrapper = write_wrapper(notes);
  runs.many.write("bad.las", "not a point file");
  runs.many.write("kill_me.las", tile_bytes(9));
  ASSERT_EQ(runs.run_one({}).exit_code, 0);
  ToolRun run;
  run.argv0 = wrapper;
  run.args = {"-i",
              runs.many.file("ok1.las"),
              runs.many.file("bad.las"),
              runs.many.file("kill_me.las"),
              runs.many.file("ok2.las"),
              "-cores",
              "2"};
  ToolResult many = run_tool(run);
  EXPECT_EQ(many.exit_code, 3);
  runs.expect_same_outputs(derived(good));
  EXPECT_NE(many.err.find("\nERROR: process for '" + runs.many.file("bad.las") + "' ended with exit code 3\n"),
            std::string::npos)
      << many.err;
  EXPECT_NE(
      many.err.find("\nERROR: process for '" + runs.many.file("kill_me.las") + "' was killed by signal 9 (Killed)\n"),
      std::string::npos)
      << many.err;
  EXPECT_EQ(runner_lines(many.err).back(), "Sucessfully started 4 jobs");
}

// The list of merged input reaches the child with every name, the child
// writes what one process writes, and the list is removed when it has ended.
TEST(MultiCore, MergedInputGoesToOneChildThroughTheList) {
  TwoRuns runs({"a.las", "b b.las"});
  TempDir notes;
  const std::string wrapper = write_wrapper(notes);
  ASSERT_EQ(mkdir(runs.many.file("lists").c_str(), 0755), 0);
  const std::string lists = runs.many.file("lists") + "/";
  ToolResult one = runs.run_one({"-merged", "-o", runs.one.file("m.las"), "-step", "30"});
  ASSERT_EQ(one.exit_code, 0) << one.err;
  ToolResult many =
      runs.run_many({"-merged", "-cpu64", "-o", runs.many.file("m.las"), "-step", "30", "-temp_files", lists}, wrapper);
  EXPECT_EQ(many.exit_code, 0) << many.err;
  runs.expect_same_outputs({"m.las"});
  EXPECT_EQ(notes.read("list_copy"), runs.many.file("a.las") + "\n" + runs.many.file("b b.las") + "\n");
  std::vector<std::string> seen = child_arguments(notes);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].rfind("-lof\n" + lists + "file_list_buffered.", 0), 0u) << seen[0];
  EXPECT_NE(seen[0].find(".txt\n-merged\n-temp_files\n" + lists + "\n-olas\n-o\n" + runs.many.file("m.las") +
                         "\n-step\n30\n"),
            std::string::npos)
      << seen[0];
  EXPECT_EQ(runner_lines(many.err).front(), "Starting 1 processes on 1 cores");
  // Nothing is left in the temporary directory.
  EXPECT_EQ(rmdir(runs.many.file("lists").c_str()), 0);
}

// ------------------------------------------------------------------ failures before or at the start

TEST(MultiCore, UnwritableListFile) {
  TwoRuns runs({"a.las", "b.las"});
  for (bool halting : {true, false}) {
    Words options = {"-merged", "-cpu64", "-temp_files", "/nonexistent-dir/"};
    if (!halting) options.push_back("-errors_ignore");
    ToolResult r = runs.run_many(options);
    EXPECT_EQ(r.exit_code, 3);
    const std::string head = "ERROR: cannot open '/nonexistent-dir/file_list_buffered.";
    EXPECT_EQ(r.err.rfind(head, 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - 6), ".txt'\n") << r.err;
  }
}

// The program cannot be started: each job is reported and the run fails.
TEST(MultiCore, ProgramThatCannotBeStarted) {
  TwoRuns runs({"a.las", "b.las"});
  ToolResult r = runs.run_many({"-cores", "2"}, "/nonexistent/voxsifter");
  EXPECT_EQ(r.exit_code, 3);
  const std::string a = runs.many.file("a.las"), b = runs.many.file("b.las");
  EXPECT_EQ(r.err,
            "Starting 2 processes on 2 cores\n"
            "Starting thread[0](/nonexistent/voxsifter) with arguments: /nonexistent/voxsifter -i " +
                a +
                " \n"
                "  fail. error=2\n"
                "ERROR: process for '" +
                a +
                "' was not started: No such file or directory\n"
                "Starting thread[1](/nonexistent/voxsifter) with arguments: /nonexistent/voxsifter -i " +
                b +
                " \n"
                "  fail. error=2\n"
                "ERROR: process for '" +
                b +
                "' was not started: No such file or directory\n"
                "Sucessfully started 0 jobs\n");
}

// One job cannot start (its argument is longer than the system passes on):
// its slot goes to the next job, the child that fails is still reported as
// its own, and the good files are done.
TEST(MultiCore, OneJobThatCannotStartAmongOthers) {
  TwoRuns runs({"a.las", "b.las"});
  runs.many.write("bad.las", "not a point file");
  const std::string long_name = runs.many.file(std::string(140000, 'x') + ".las");
  runs.many.write("list.txt", runs.many.file("a.las") + "\n" + long_name + "\n" + runs.many.file("bad.las") + "\n" +
                                  runs.many.file("b.las") + "\n");
  ASSERT_EQ(runs.run_one({}).exit_code, 0);
  ToolRun run;
  run.args = {"-lof", runs.many.file("list.txt"), "-cores", "2"};
  ToolResult r = run_tool(run);
  EXPECT_EQ(r.exit_code, 3);
  runs.expect_same_outputs(derived({"a.las", "b.las"}));
  // The first child's own lines may land inside the long start line (writes
  // beyond the pipe's atomic size interleave), so only the refusal line is sought.
  EXPECT_NE(r.err.find("\n  fail. error=7\n"), std::string::npos);
  EXPECT_NE(r.err.find("\nERROR: process for '" + runs.many.file("bad.las") + "' ended with exit code 3\n"),
            std::string::npos)
      << r.err.substr(r.err.size() - 400);
  EXPECT_EQ(runner_lines(r.err).back(), "Sucessfully started 3 jobs");
}

// Two children would write one file: refused before any child starts; with
// halting off the first still runs.
TEST(MultiCore, CollidingOutputsAreRefused) {
  TempDir dir;
  for (const char* d : {"d1", "d2", "out"}) ASSERT_EQ(mkdir(dir.file(d).c_str(), 0755), 0);
  dir.write("d1/x.las", tile_bytes(1));
  dir.write("d2/x.las", tile_bytes(2));
  const Words args = {"-i", dir.file("d1/x.las"), dir.file("d2/x.las"), "-odir", dir.file("out"), "-cores", "2"};
  const std::string refusal = "ERROR: output '" + dir.file("out/x.las") + "' for '" + dir.file("d2/x.las") +
                              "' would overwrite the output for '" + dir.file("d1/x.las") + "'\n";
  ToolResult r = run_voxsifter(args);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, refusal);
  EXPECT_FALSE(dir.exists("out/x.las"));

  Words going_on = args;
  going_on.push_back("-errors_ignore");
  r = run_voxsifter(going_on);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err.rfind(refusal + "Starting 1 processes on 1 cores\n", 0), 0u) << r.err;
  ToolResult single = run_voxsifter({"-i", dir.file("d1/x.las"), "-o", dir.file("single.las")});
  ASSERT_EQ(single.exit_code, 0);
  EXPECT_TRUE(dir.read("out/x.las") == dir.read("single.las"));
}

}  // namespace
