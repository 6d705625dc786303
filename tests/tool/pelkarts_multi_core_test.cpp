// The multi-process runner's parts in this process: the argument vector of
// every job, the list file, the refusal of colliding outputs, the program
// location and the process pool (on small shell children).
#include "tool/pelkarts_multi_core.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "core/lasmessage.hpp"
#include "core/lasreadopener.hpp"
#include "core/laswriteopener.hpp"
#include "geo/geoprojectionconverter.hpp"
#include "support/arg_vector.hpp"
#include "support/process_log.hpp"
#include "support/temp_dir.hpp"

namespace {

using Words = std::vector<std::string>;

// A command line parsed as the program entry parses it, before the hand-over.
struct Parsed {
  ArgVector args;
  GeoProjectionConverter geo;
  LASreadOpener ro;
  LASwriteOpener wo;
  explicit Parsed(const Words& words) : args(words) {
    geo.parse(args.argc(), args.argv());
    ro.parse(args.argc(), args.argv(), true);
    wo.parse(args.argc(), args.argv());
  }
  PelkartsJobSettings settings(U32 cores, const std::string& list_file = "") {
    PelkartsJobSettings s;
    s.argc = args.argc();
    s.argv = args.argv();
    s.cores = cores;
    s.list_file = list_file;
    return s;
  }
  std::vector<PelkartsJob> jobs(U32 cores, const std::string& list_file = "") {
    return pelkarts_make_jobs(settings(cores, list_file), geo, ro, wo);
  }
};

// Halting off and messages captured, for the parts that report errors.
class RunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

// "@" in a word stands for a temporary directory.
std::string at_path(const std::string& text, const std::string& dir) {
  std::string out;
  for (char c : text) {
    if (c == '@')
      out += dir;
    else
      out += c;
  }
  return out;
}

Words at_paths(const Words& words, const std::string& dir) {
  Words out;
  for (const std::string& w : words) out.push_back(at_path(w, dir));
  return out;
}

// ------------------------------------------------------------------ jobs

const std::string WEIRD = "we\"ird 'na me\xc3\xa9\xff.las";

struct JobCase {
  const char* name;
  Words args;
  U32 cores;
  std::vector<Words> jobs;  // without argv[0]
};

void PrintTo(const JobCase& c, std::ostream* os) { *os << c.name; }

class Jobs : public ::testing::TestWithParam<JobCase> {};

TEST_P(Jobs, ArgumentVectors) {
  const JobCase& c = GetParam();
  Parsed p(c.args);
  std::vector<PelkartsJob> jobs = p.jobs(c.cores, "L");
  ASSERT_EQ(jobs.size(), c.jobs.size());
  for (size_t j = 0; j < jobs.size(); j++) {
    Words expected = {"program"};
    expected.insert(expected.end(), c.jobs[j].begin(), c.jobs[j].end());
    EXPECT_EQ(jobs[j].arguments, expected) << "job " << j;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Runner, Jobs,
    ::testing::Values(
        // The tool's options and message levels reach every child; "-cores" is gone.
        JobCase{"files_on_cores",
                {"-i", "a.las", "b.las", "c.las", "-step", "3", "-v"},
                2,
                {{"-i", "a.las", "-step", "3", "-v"},
                 {"-i", "b.las", "-step", "3", "-v"},
                 {"-i", "c.las", "-step", "3", "-v"}}},
        // One child at a time: the first file gets the "-o" name as it stands
        // (appendix applied once), the others derive theirs.
        JobCase{"one_at_a_time_names_only_the_first",
                {"-i", "a.las", "b.las", "-o", "out.las", "-odix", "_t", "-step", "3"},
                1,
                {{"-i", "a.las", "-olas", "-o", "out_t.las", "-step", "3"},
                 {"-i", "b.las", "-olas", "-odix", "_t", "-step", "3"}}},
        JobCase{"format_before_the_name",
                {"-i", "a.las", "-obin", "-o", "out.las"},
                1,
                {{"-i", "a.las", "-obin", "-o", "out.las"}}},
        JobCase{"cores_derive_every_name",
                {"-i", "a.las", "b.las", "-o", "o.vmb", "-odir", "/tmp", "-ocut", "2"},
                2,
                {{"-i", "a.las", "-ovmb", "-odir", "/tmp", "-ocut", "2"},
                 {"-i", "b.las", "-ovmb", "-odir", "/tmp", "-ocut", "2"}}},
        JobCase{"names_stay_whole",
                {"-i", WEIRD, "b c.las", "-force"},
                2,
                {{"-i", WEIRD, "-force"}, {"-i", "b c.las", "-force"}}},
        JobCase{"stdout_one_at_a_time",
                {"-i", "a.las", "b.las", "-stdout"},
                1,
                {{"-i", "a.las", "-stdout"}, {"-i", "b.las", "-stdout"}}},
        JobCase{"stdout_not_shared_by_running_children",
                {"-i", "a.las", "b.las", "-stdout", "-pipe_on"},
                2,
                {{"-i", "a.las"}, {"-i", "b.las"}}},
        JobCase{"pipe_on_one_at_a_time", {"-i", "a.las", "-pipe_on"}, 1, {{"-i", "a.las", "-pipe_on"}}},
        JobCase{"nil", {"-i", "a.las", "b.las", "-nil"}, 2, {{"-i", "a.las", "-nil"}, {"-i", "b.las", "-nil"}}},
        JobCase{"standard_input", {"-stdin", "-step", "2"}, 1, {{"-stdin", "-step", "2"}}},
        JobCase{"no_input_still_one_child", {"-step", "2"}, 1, {{"-step", "2"}}},
        JobCase{
            "merged_through_the_list", {"-i", "a.las", "b.las", "-merged", "-v"}, 1, {{"-lof", "L", "-merged", "-v"}}},
        JobCase{"buffered_names_own_file",
                {"-i", "a.las", "b.las", "-buffered", "0.1"},
                2,
                {{"-i", "a.las", "-buffered", "0.1", "-neighbors_lof", "L"},
                 {"-i", "b.las", "-buffered", "0.1", "-neighbors_lof", "L"}}},
        JobCase{
            "input_options_as_words",
            {"-i", "a.las", "b.las", "-inside", "1", "2", "3", "4.5", "-temp_files", "/tmp/x y/", "-iparse", "x\"z"},
            2,
            {{"-i", "a.las", "-inside_rectangle", "1.000000", "2.000000", "3.000000", "4.500000", "-temp_files",
              "/tmp/x y/", "-iparse", "x\"z"},
             {"-i", "b.las", "-inside_rectangle", "1.000000", "2.000000", "3.000000", "4.500000", "-temp_files",
              "/tmp/x y/", "-iparse", "x\"z"}}},
        JobCase{"ignore_rules_before_tool_options",
                {"-i", "a.las", "b.las", "-step", "1", "-ignore_class", "2"},
                2,
                {{"-i", "a.las", "-ignore_class", "2", "-step", "1"},
                 {"-i", "b.las", "-ignore_class", "2", "-step", "1"}}}),
    [](const ::testing::TestParamInfo<JobCase>& info) { return std::string(info.param.name); });

TEST(JobLabels, NameTheInput) {
  Parsed files({"-i", "a.las", "b.las"});
  std::vector<PelkartsJob> jobs = files.jobs(2);
  EXPECT_EQ(jobs[1].label, "for 'b.las'");
  EXPECT_EQ(jobs[1].input, "b.las");
  EXPECT_FALSE(jobs[0].named_output);
  Parsed merged({"-i", "a.las", "b.las", "-merged"});
  EXPECT_EQ(merged.jobs(1, "/tmp/L.txt")[0].label, "for '/tmp/L.txt'");
  Parsed stdin_only({"-stdin"});
  EXPECT_EQ(stdin_only.jobs(1)[0].label, "for standard input");
  Parsed none({});
  EXPECT_EQ(none.jobs(1)[0].label, "without input");
  Parsed named({"-i", "a.las", "b.las", "-o", "x.las"});
  jobs = named.jobs(1);
  EXPECT_TRUE(jobs[0].named_output);
  EXPECT_FALSE(jobs[1].named_output);
}

// Each child numbers its flight line as this process would have numbered its
// file: the file's index, shifted by a "-faf_index" given here.
TEST(JobFlightLines, IndexPerFile) {
  for (int given : {0, 3}) {
    Words args = {"-i", "a.las", "b.las", "c.las", "-faf", "5"};
    if (given) args.insert(args.end(), {"-faf_index", std::to_string(given)});
    Parsed p(args);
    std::vector<PelkartsJob> jobs = p.jobs(2);
    ASSERT_EQ(jobs.size(), 3u);
    for (size_t j = 0; j < jobs.size(); j++) {
      SCOPED_TRACE("given " + std::to_string(given) + ", job " + std::to_string(j));
      ArgVector child(Words(jobs[j].arguments.begin() + 1, jobs[j].arguments.end()));
      LASreadOpener opener;
      opener.parse(child.argc(), child.argv(), true);
      EXPECT_EQ(opener.files_are_flightlines, 5);
      EXPECT_EQ(opener.files_are_flightlines_index, p.ro.files_are_flightlines_index + (I32)j);
    }
  }
}

// ------------------------------------------------------------------ list file

TEST_F(RunnerTest, ListFileCarriesWhatTheListsHold) {
  TempDir temp;
  temp.write("in.txt", "7,1000,0,0,10,10.5,a.las\n8,2000,20,0,30,10,b c.las\n");
  temp.write("ids.txt", "3,x.las\n4,y.las\n");
  const struct {
    Words args;
    std::string list;
  } cases[] = {
      {{"-i", "x.las", "y y.las", "-merged"}, "x.las\ny y.las\n"},
      {{"-lof", "@/in.txt", "-merged"}, "7,1000,0,0,10,10.5,a.las\n8,2000,20,0,30,10,b c.las\n"},
      {{"-lof", "@/ids.txt", "-merged"}, "3,x.las\n4,y.las\n"},
      {{"-i", "x.las", "y.las", "-buffered", "5"}, "x.las\ny.las\n"},
      // The neighbours named here follow the input in a buffered child's list.
      {{"-i", "a.las", "-neighbors", "n1.las", "n 2.las", "-buffered", "5"}, "a.las\nn1.las\nn 2.las\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Parsed p(at_paths(c.args, temp.path()));
    const std::string list = temp.file("list.txt");
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(pelkarts_write_list_file(list, p.ro));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(temp.read("list.txt"), c.list);
    unlink(list.c_str());
  }
}

// A name that would read back as another (blanks at its end are cut, a
// leading number and comma read as an ID) is refused rather than listed.
TEST_F(RunnerTest, ListFileRefusesNamesItCannotCarry) {
  TempDir temp;
  const std::string list = temp.file("list.txt");
  for (const std::string& bad : {std::string("trail.las "), std::string("3,x.las")}) {
    Parsed p({"-i", "a.las", bad, "-merged"});
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(pelkarts_write_list_file(list, p.ro));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ERROR: file name '" + bad + "' cannot be stored in list file '" + list + "'\n");
    EXPECT_FALSE(temp.exists("list.txt"));
  }
  Parsed p({"-i", "a.las", "b.las", "-merged"});
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(pelkarts_write_list_file("/nonexistent-dir/list.txt", p.ro));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: cannot open '/nonexistent-dir/list.txt'\n");
}

// A link left under the list's name (in a directory others can write to) is
// replaced, not written through.
TEST_F(RunnerTest, ListFileNeverWritesThroughALink) {
  TempDir temp;
  temp.write("victim", "keep");
  ASSERT_EQ(symlink(temp.file("victim").c_str(), temp.file("list.txt").c_str()), 0);
  Parsed p({"-i", "a.las", "b.las", "-merged"});
  EXPECT_TRUE(pelkarts_write_list_file(temp.file("list.txt"), p.ro));
  EXPECT_EQ(temp.read("victim"), "keep");
  struct stat info;
  ASSERT_EQ(lstat(temp.file("list.txt").c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
  EXPECT_EQ(temp.read("list.txt"), "a.las\nb.las\n");
}

TEST(ListFileName, InTheTemporaryDirectoryOfTheInput) {
  const std::string pid = std::to_string(getpid());
  Parsed given({"-temp_files", "/data/tmp"});
  EXPECT_EQ(pelkarts_list_file_name(given.ro), "/data/tmp/file_list_buffered." + pid + ".txt");
  Parsed none({});
  const std::string name = pelkarts_list_file_name(none.ro);
  EXPECT_EQ(name.substr(name.rfind('/')), "/file_list_buffered." + pid + ".txt");
  EXPECT_TRUE(pelkarts_needs_list_file(Parsed({"-i", "a", "b", "-merged"}).ro, 0));
  EXPECT_TRUE(pelkarts_needs_list_file(Parsed({"-i", "a", "b", "-buffered", "2"}).ro, 0));
  EXPECT_TRUE(pelkarts_needs_list_file(Parsed({"-i", "a", "b"}).ro, 3));
  EXPECT_FALSE(pelkarts_needs_list_file(Parsed({"-i", "a", "b"}).ro, 1));
}

// ------------------------------------------------------------------ collisions

struct CollisionCase {
  const char* name;
  Words args;
  U32 cores;
  Words kept;       // inputs of the jobs that stay
  std::string err;  // the whole stderr
};

TEST_F(RunnerTest, CollidingOutputsAreRefusedBeforeAnyChild) {
  TempDir temp;
  for (const char* d : {"d", "d1", "d2", "out"}) ASSERT_EQ(mkdir(temp.file(d).c_str(), 0755), 0);
  temp.write("x.las", "");
  const CollisionCase cases[] = {
      {"distinct", {"-i", "@/a.las", "@/b.las"}, 2, {"@/a.las", "@/b.las"}, ""},
      {"same_base_name_in_one_directory",
       {"-i", "@/d1/x.las", "@/d2/x.las", "-odir", "@/out"},
       2,
       {"@/d1/x.las"},
       "ERROR: output '@/out/x.las' for '@/d2/x.las' would overwrite the output for '@/d1/x.las'\n"},
      {"one_directory_under_two_names",
       {"-i", "@/a.las", "@/b.las", "-o", "@/d/../b_1.las"},
       1,
       {"@/a.las"},
       "ERROR: output '@/b_1.las' for '@/b.las' would overwrite the output for '@/a.las'\n"},
      {"output_is_a_later_input",
       {"-i", "@/a.las", "@/a_1.las"},
       2,
       {"@/a_1.las"},
       "ERROR: output '@/a_1.las' for '@/a.las' would overwrite the input '@/a_1.las'\n"},
      {"named_output_is_another_input",
       {"-i", "@/a.las", "@/b.las", "-o", "@/b.las"},
       1,
       {"@/b.las"},
       "ERROR: output '@/b.las' for '@/a.las' would overwrite the input '@/b.las'\n"},
      {"derived_name_is_the_named_output",
       {"-i", "@/a.las", "@/b.las", "-o", "@/b_1.las"},
       1,
       {"@/a.las"},
       "ERROR: output '@/b_1.las' for '@/b.las' would overwrite the output for '@/a.las'\n"},
      {"same_input_twice",
       {"-i", "@/a.las", "@/a.las"},
       2,
       {"@/a.las"},
       "ERROR: output '@/a_1.las' for '@/a.las' would overwrite the output for '@/a.las'\n"},
      // Outputs named like their inputs become temp.las in the working
      // directory: the second would land on the first.
      {"safety_names_collide",
       {"-i", "@/d/a.las", "@/d/b.las", "-odir", "@/d"},
       2,
       {"@/d/a.las"},
       "ERROR: output 'temp.las' for '@/d/b.las' would overwrite the output for '@/d/a.las'\n"},
      // With "-oforce" each such child refuses its own file; "-nil" and
      // standard output write no file.
      {"forced_own_names_left_to_the_child",
       {"-i", "@/d/a.las", "@/d/b.las", "-odir", "@/d", "-oforce"},
       2,
       {"@/d/a.las", "@/d/b.las"},
       ""},
      {"nil", {"-i", "@/a.las", "@/a.las", "-nil"}, 2, {"@/a.las", "@/a.las"}, ""},
      {"stdout_one_at_a_time", {"-i", "@/a.las", "@/a.las", "-stdout"}, 1, {"@/a.las", "@/a.las"}, ""},
      {"named_own_input_left_to_the_child",
       {"-i", "@/x.las", "@/b.las", "-o", "@/x.las"},
       1,
       {"@/x.las", "@/b.las"},
       ""},
  };
  for (const CollisionCase& c : cases) {
    SCOPED_TRACE(c.name);
    Parsed p(at_paths(c.args, temp.path()));
    std::vector<PelkartsJob> jobs = p.jobs(c.cores);
    ::testing::internal::CaptureStderr();
    pelkarts_refuse_colliding_outputs(jobs, p.settings(c.cores), p.ro, p.wo);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), at_path(c.err, temp.path()));
    Words kept;
    for (const PelkartsJob& job : jobs) kept.push_back(job.input);
    EXPECT_EQ(kept, at_paths(c.kept, temp.path()));
  }
}

// ------------------------------------------------------------------ program location

TEST(ProgramLocation, PathSearchedHereNeverByAShell) {
  TempDir temp;
  for (const char* d : {"first", "second"}) ASSERT_EQ(mkdir(temp.file(d).c_str(), 0755), 0);
  temp.write("first/tool", "#!/bin/sh\n");  // not executable: skipped
  temp.write("second/tool", "#!/bin/sh\n");
  ASSERT_EQ(chmod(temp.file("second/tool").c_str(), 0755), 0);
  temp.write("second/$(touch pwned)", "#!/bin/sh\n");
  const char* saved = getenv("PATH");
  const std::string old_path = saved ? saved : "";
  setenv("PATH", (temp.file("first") + ":" + temp.file("second")).c_str(), 1);
  EXPECT_EQ(details::bin_location_get("tool"), temp.file("second/tool"));
  // Names with a '/' are used as they are.
  EXPECT_EQ(details::bin_location_get("./voxsifter"), "./voxsifter");
  EXPECT_EQ(details::bin_location_get("/opt/x/voxsifter"), "/opt/x/voxsifter");
  EXPECT_EQ(details::bin_location_get("build/voxsifter"), "build/voxsifter");
  // Not on the search path: the running program itself, whatever the name says.
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  ASSERT_GT(length, 0);
  const std::string running(self, (size_t)length);
  EXPECT_EQ(details::bin_location_get("$(touch pwned)"), running);
  EXPECT_EQ(details::bin_location_get("tool; touch pwned"), running);
  EXPECT_FALSE(temp.exists("second/pwned"));
  EXPECT_EQ(access("pwned", F_OK), -1);
  // An empty entry of the search path is the working directory.
  setenv("PATH", (":" + temp.file("first")).c_str(), 1);
  ASSERT_EQ(chdir(temp.file("second").c_str()), 0);
  EXPECT_EQ(details::bin_location_get("tool"), "./tool");
  ASSERT_EQ(chdir("/"), 0);
  setenv("PATH", old_path.c_str(), 1);
}

// ------------------------------------------------------------------ process pool

// Shell children that note their start and end in one log: appends of a line
// are atomic, so the log's order is the order of events.
PelkartsJob shell_job(const std::string& log, const std::string& name, const std::string& ending) {
  PelkartsJob job;
  job.arguments = {"/bin/sh", "-c", "echo s >> '" + log + "'; sleep 0.3; echo e >> '" + log + "'; " + ending};
  job.label = "for '" + name + "'";
  return job;
}

// Seven jobs on two cores: never more than two children; a job that cannot
// start frees its slot for the next; every child that did not end well is
// reported at the level of its exit code, so this run's exit code is the
// worst of them.
TEST(ProcessPool, AtMostCoresChildrenEachReported) {
  TempDir temp;
  const std::string log = temp.file("events");
  PelkartsJob missing;
  missing.arguments = {"/nonexistent/program", "x"};
  missing.label = "for 'missing'";
  const std::vector<PelkartsJob> jobs = {
      shell_job(log, "ok", "exit 0"),    shell_job(log, "warn", "exit 1"),
      shell_job(log, "fail", "exit 3"),  missing,
      shell_job(log, "fatal", "exit 4"), shell_job(log, "killed", "kill -9 $$"),
      shell_job(log, "last", "exit 0"),
  };
  uint64_t before[8];
  std::copy(lasmessage_cnt, lasmessage_cnt + 8, before);
  ::testing::internal::CaptureStderr();
  details::spawn_processes(jobs, 2);
  const std::string err = ::testing::internal::GetCapturedStderr();

  const std::string events = temp.read("events");
  EXPECT_EQ(peak_of(events), 2) << events;
  EXPECT_EQ(std::count(events.begin(), events.end(), 'e'), 6);
  const std::vector<std::string> lines = lines_of(err);
  ASSERT_GE(lines.size(), 2u) << err;
  EXPECT_EQ(lines.front(), "Starting 7 processes on 2 cores");
  EXPECT_EQ(lines.back(), "Sucessfully started 6 jobs");
  std::vector<std::string> reports;
  int starts = 0;
  for (const std::string& line : lines) {
    if (line.rfind("Starting thread[", 0) == 0) {
      starts++;
      EXPECT_TRUE(line.rfind("Starting thread[0](", 0) == 0 || line.rfind("Starting thread[1](", 0) == 0) << line;
    } else if (line != lines.front() && line != lines.back()) {
      reports.push_back(line);
    }
  }
  EXPECT_EQ(starts, 7);
  std::sort(reports.begin(), reports.end());
  EXPECT_EQ(reports, (std::vector<std::string>{
                         "  fail. error=2",
                         "ERROR: process for 'fail' ended with exit code 3",
                         "ERROR: process for 'killed' was killed by signal 9 (Killed)",
                         "ERROR: process for 'missing' was not started: No such file or directory",
                         "FATAL ERROR: process for 'fatal' ended with exit code 4",
                         "WARNING: process for 'warn' ended with exit code 1",
                     }));
  EXPECT_NE(err.find("](/nonexistent/program) with arguments: /nonexistent/program x \n  fail. error=2\n"),
            std::string::npos)
      << err;
  EXPECT_EQ(lasmessage_cnt[WARNING] - before[WARNING], 1u);
  EXPECT_EQ(lasmessage_cnt[ERROR] - before[ERROR], 3u);
  EXPECT_EQ(lasmessage_cnt[FATAL_ERROR] - before[FATAL_ERROR], 1u);
}

TEST(ProcessPool, NoJob) {
  ::testing::internal::CaptureStderr();
  details::spawn_processes({}, 4);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Starting 0 processes on 0 cores\nSucessfully started 0 jobs\n");
}

}  // namespace
