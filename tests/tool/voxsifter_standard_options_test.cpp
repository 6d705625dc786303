// The options every tool understands (message levels, help, version, -gui,
// -cores, -cpu64), through the built binary: messages, exit codes, which of
// two options acts first, and which of them children still get.
#include <gtest/gtest.h>

#include "support/run_tool.hpp"

namespace {

const std::string BANNER = "Pelkarts voxsifter (by support@pelkarts.example) version 251122\n";
const std::string USAGE =
    "usage:\n"
    "voxsifter -i in.vmb -o out.vmb\n"
    "voxsifter -i in.vmb -every_nth 100 -o out.vmb\n"
    "voxsifter -i in.vmb -random_nth 100 -o out.vmb\n"
    "voxsifter -i in.vmb -step 2 -flatten_points -o out.vmb\n"
    "voxsifter -i in.vmb -step 3 -o out.vmb\n"
    "voxsifter -i in.vmb -use_cell_center -o out.vmb\n"
    "voxsifter -i in.vmb -step 2 -step_z 1 -o out.vmb\n"
    "voxsifter -i in.vmb -step 2 -step_z 1 -highest -o out.vmb\n"
    "voxsifter -h\n";
const std::string HELP = BANNER + USAGE + "use '-hh' or see voxsifter_README.md to get extended help\n";
const std::string NO_INPUT = "ERROR: no input specified\n";
const std::string BOGUS =
    "ERROR: cannot understand argument '-bogus'. use '-h' or see voxsifter_README.md to get help.\n";

std::string ignoring_cores(const std::string& count) {
  return "WARNING: only 0 input file(s). ignoring '-cores " + count + "' ...\n";
}

struct StandardCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string err;
};

void PrintTo(const StandardCase& c, std::ostream* os) { *os << c.name; }

class StandardOptionsTest : public ::testing::TestWithParam<StandardCase> {};

TEST_P(StandardOptionsTest, ExitCodeAndWholeStderr) {
  const StandardCase& c = GetParam();
  ToolResult r = run_voxsifter(c.args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Entry, StandardOptionsTest,
    ::testing::Values(
        // Levels hold wherever they stand, for the banner too; the last one wins,
        // except that "-v" never raises the level.
        StandardCase{"quiet_after_version", {"-version", "-quiet"}, 0, ""},
        StandardCase{"silent_after_version", {"-version", "-silent"}, 0, ""},
        StandardCase{"verbose_after_quiet", {"-quiet", "-v", "-version"}, 0, BANNER},
        StandardCase{
            "quiet_after_very_verbose", {"-very_verbose", "-quiet", "-version"}, 0, "Log level [VERY_VERBOSE]\n"},
        // The count reads as "%u" always has: leading digits, a minus wraps.
        StandardCase{"cores_leading_digits", {"-cores", "4x", "-errors_ignore"}, 3, ignoring_cores("4") + NO_INPUT},
        StandardCase{"cores_minus_wraps", {"-cores", "-1", "-errors_ignore"}, 3, ignoring_cores("-1") + NO_INPUT},
        StandardCase{"cores_plus_sign", {"-cores", "+5", "-errors_ignore"}, 3, ignoring_cores("5") + NO_INPUT},
        StandardCase{"cores_zero_runs_here", {"-cores", "0", "-errors_ignore"}, 3, NO_INPUT},
        StandardCase{"cores_one_then_version", {"-cores", "1", "-version"}, 0, BANNER},
        // The word after "-cores" is its value whatever it is.
        StandardCase{
            "cores_takes_help_as_value", {"-cores", "-h"}, 3, "ERROR: cannot understand argument '-h' for '-cores'\n"},
        // With halting off a bad count still shows the usage and ends the run
        // before the help behind it.
        StandardCase{"cores_bad_errors_ignored",
                     {"-errors_ignore", "-cores", "x", "-h"},
                     3,
                     "ERROR: cannot understand argument 'x' for '-cores'\n" + USAGE},
        StandardCase{"help_before_bad_cores", {"-help", "-cores", "x"}, 0, HELP},
        // A bad option ends the run before the help behind it, unless halting
        // is off: then the help follows and the exit code keeps the error.
        StandardCase{"bogus_before_help", {"-bogus", "-h"}, 3, BOGUS},
        StandardCase{"bogus_before_help_errors_ignored", {"-errors_ignore", "-bogus", "-h"}, 3, BOGUS + HELP},
        StandardCase{"help_before_bogus", {"-h", "-bogus"}, 0, HELP},
        // "-cores" and "-cpu64" are taken here; "-gui" and the levels go to the child.
        StandardCase{"child_gets_gui_and_levels",
                     {"-cores", "3", "-cpu64", "-gui", "-quiet", "-errors_ignore"},
                     3,
                     "Starting 1 processes on 1 cores\n"
                     "Starting thread[0](" VOXSIFTER_BINARY ") with arguments: " VOXSIFTER_BINARY
                     " -gui -quiet -errors_ignore \n"
                     "Sucessfully started 1 jobs\n"},
        StandardCase{"child_gets_force_and_stats",
                     {"-cpu64", "-force", "-silent", "-print_log_stats", "-errors_ignore"},
                     3,
                     "Starting 1 processes on 1 cores\n"
                     "Starting thread[0](" VOXSIFTER_BINARY ") with arguments: " VOXSIFTER_BINARY
                     " -force -silent -print_log_stats -errors_ignore \n" +
                         NO_INPUT + "ERROR: process without input ended with exit code 3\n" +
                         "Sucessfully started 1 jobs\n"}),
    [](const ::testing::TestParamInfo<StandardCase>& info) { return std::string(info.param.name); });

}  // namespace
