// Start-up behaviour of the program, through the built binary.
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
// What "-hh" adds before the banner: the write opener's outputs.
const std::string OUTPUTS =
    "Supported LAS Outputs\n"
    "  -o lidar.las\n"
    "  -o lidar.vmb\n"
    "  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n"
    "  -o terrasolid.bin\n"
    "  -odir C:/data/ground (specify output directory)\n"
    "  -odix _classified (specify file name appendix)\n"
    "  -ocut 2 (cut the last two characters from name)\n"
    "  -olas -ovmb -otxt -obin -oqi (specify format)\n"
    "  -stdout (pipe to stdout)\n"
    "  -nil    (pipe to NULL)\n";
const std::string UNDERSTAND = "ERROR: cannot understand argument '-bogus'. use '-h' or see voxsifter_README.md to get help.\n";

struct CliCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string err;
};

void PrintTo(const CliCase& c, std::ostream* os) { *os << c.name; }

class CliTest : public ::testing::TestWithParam<CliCase> {};

TEST_P(CliTest, ExitCodeAndWholeStderr) {
  const CliCase& c = GetParam();
  ToolResult r = run_voxsifter(c.args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Startup, CliTest,
    ::testing::Values(
        CliCase{"version", {"-version"}, 0, BANNER},
        CliCase{"help", {"-h"}, 0, BANNER + USAGE + "use '-hh' or see voxsifter_README.md to get extended help\n"},
        CliCase{"help_long", {"-help"}, 0, BANNER + USAGE + "use '-hh' or see voxsifter_README.md to get extended help\n"},
        CliCase{"verbose_help_no_second_banner", {"-h", "-v"}, 0,
                BANNER + USAGE + "use '-hh' or see voxsifter_README.md to get extended help\n"},
        CliCase{"bogus", {"-bogus"}, 3, UNDERSTAND},
        CliCase{"quiet_bogus", {"-quiet", "-bogus"}, 3, ""},
        CliCase{"bogus_then_quiet", {"-bogus", "-quiet"}, 3, ""},
        CliCase{"silent_help_shows_usage_only", {"-silent", "-h"}, 0, USAGE},
        CliCase{"errors_ignore_goes_on", {"-errors_ignore", "-bogus", "-print_log_stats"}, 3,
                UNDERSTAND + "ERROR: no input specified\nLog stats: FE=0,E=2,SW=0,W=0,I=0\n"},
        CliCase{"stats_hidden_when_silent", {"-errors_ignore", "-silent", "-print_log_stats"}, 3,
                "ERROR: no input specified\n"},
        CliCase{"no_input", {"-v"}, 3, BANNER + "ERROR: no input specified\n"},
        CliCase{"verbose_last_still_shows_banner", {"-version", "-verbose"}, 0, BANNER},
        CliCase{"gui_warns", {"-gui", "-errors_ignore"}, 3,
                "WARNING: not compiled with GUI support. ignoring '-gui' ...\nERROR: no input specified\n"},
        CliCase{"vv_shows_level_notice", {"-vv", "-version"}, 0, "Log level [VERY_VERBOSE]\n" + BANNER},
        CliCase{"cores_last", {"-cores"}, 3, "ERROR: '-cores' needs 1 argument: number\n"},
        CliCase{"cores_last_errors_ignored", {"-errors_ignore", "-cores"}, 3,
                "ERROR: '-cores' needs 1 argument: number\n" + USAGE},
        CliCase{"cores_not_a_number", {"-cores", "x"}, 3, "ERROR: cannot understand argument 'x' for '-cores'\n"},
        // "-cpu64" re-runs the work in one child, which finds no input.
        CliCase{"cores_number_is_taken", {"-cores", "4", "-cpu64", "-errors_ignore"}, 3,
                "WARNING: only 0 input file(s). ignoring '-cores 4' ...\n"
                "Starting 1 processes on 1 cores\n"
                "Starting thread[0](" VOXSIFTER_BINARY ") with arguments: " VOXSIFTER_BINARY " -errors_ignore \n"
                "ERROR: no input specified\n"
                "ERROR: process without input ended with exit code 3\n"
                "Sucessfully started 1 jobs\n"},
        CliCase{"en_dash", {"\x96version"}, 0, BANNER}),
    [](const ::testing::TestParamInfo<CliCase>& info) { return std::string(info.param.name); });

// The options every tool understands: which of two acts first, how the
// "-cores" count reads, and which of them children still get.
const std::string HELP = BANNER + USAGE + "use '-hh' or see voxsifter_README.md to get extended help\n";
const std::string NO_INPUT = "ERROR: no input specified\n";

std::string ignoring_cores(const std::string& count) {
  return "WARNING: only 0 input file(s). ignoring '-cores " + count + "' ...\n";
}

INSTANTIATE_TEST_SUITE_P(
    StandardOptions, CliTest,
    ::testing::Values(
        // Levels hold wherever they stand, for the banner too; the last one wins,
        // except that "-v" never raises the level.
        CliCase{"quiet_after_version", {"-version", "-quiet"}, 0, ""},
        CliCase{"silent_after_version", {"-version", "-silent"}, 0, ""},
        CliCase{"verbose_after_quiet", {"-quiet", "-v", "-version"}, 0, BANNER},
        CliCase{"quiet_after_very_verbose", {"-very_verbose", "-quiet", "-version"}, 0, "Log level [VERY_VERBOSE]\n"},
        // The count reads as "%u" always has: leading digits, a minus wraps.
        CliCase{"cores_leading_digits", {"-cores", "4x", "-errors_ignore"}, 3, ignoring_cores("4") + NO_INPUT},
        CliCase{"cores_minus_wraps", {"-cores", "-1", "-errors_ignore"}, 3, ignoring_cores("-1") + NO_INPUT},
        CliCase{"cores_plus_sign", {"-cores", "+5", "-errors_ignore"}, 3, ignoring_cores("5") + NO_INPUT},
        CliCase{"cores_zero_runs_here", {"-cores", "0", "-errors_ignore"}, 3, NO_INPUT},
        CliCase{"cores_one_then_version", {"-cores", "1", "-version"}, 0, BANNER},
        // The word after "-cores" is its value whatever it is.
        CliCase{
            "cores_takes_help_as_value", {"-cores", "-h"}, 3, "ERROR: cannot understand argument '-h' for '-cores'\n"},
        // With halting off a bad count still shows the usage and ends the run
        // before the help behind it.
        CliCase{"cores_bad_errors_ignored",
                {"-errors_ignore", "-cores", "x", "-h"},
                3,
                "ERROR: cannot understand argument 'x' for '-cores'\n" + USAGE},
        CliCase{"help_before_bad_cores", {"-help", "-cores", "x"}, 0, HELP},
        // A bad option ends the run before the help behind it, unless halting
        // is off: then the help follows and the exit code keeps the error.
        CliCase{"bogus_before_help", {"-bogus", "-h"}, 3, UNDERSTAND},
        CliCase{"bogus_before_help_errors_ignored", {"-errors_ignore", "-bogus", "-h"}, 3, UNDERSTAND + HELP},
        CliCase{"help_before_bogus", {"-h", "-bogus"}, 0, HELP},
        // "-cores" and "-cpu64" are taken here; "-gui" and the levels go to the child.
        CliCase{"child_gets_gui_and_levels",
                {"-cores", "3", "-cpu64", "-gui", "-quiet", "-errors_ignore"},
                3,
                "Starting 1 processes on 1 cores\n"
                "Starting thread[0](" VOXSIFTER_BINARY ") with arguments: " VOXSIFTER_BINARY
                " -gui -quiet -errors_ignore \n"
                "Sucessfully started 1 jobs\n"},
        CliCase{"child_gets_force_and_stats",
                {"-cpu64", "-force", "-silent", "-print_log_stats", "-errors_ignore"},
                3,
                "Starting 1 processes on 1 cores\n"
                "Starting thread[0](" VOXSIFTER_BINARY ") with arguments: " VOXSIFTER_BINARY
                " -force -silent -print_log_stats -errors_ignore \n" +
                    NO_INPUT + "ERROR: process without input ended with exit code 3\n" +
                    "Sucessfully started 1 jobs\n"}),
    [](const ::testing::TestParamInfo<CliCase>& info) { return std::string(info.param.name); });

TEST(CliLevels, VerboseThenVeryVerboseEndsVeryVerbose) {
  // -vv shows the level notice; -v after it must not raise the level back.
  ToolResult r = run_voxsifter({"-vv", "-v", "-version"});
  EXPECT_EQ(r.err, "Log level [VERY_VERBOSE]\n" + BANNER);
  r = run_voxsifter({"-v", "-vv", "-version"});
  EXPECT_EQ(r.err, "Log level [VERY_VERBOSE]\n" + BANNER);
}

// A message longer than the message buffer is cut after a notice that ends
// its own line, so the cut message still starts a line with its prefix.
TEST(CliMessages, CroppedMessageNoticeEndsItsLine) {
  const std::string argument(9000, 'x');
  const std::string full =
      "cannot understand argument '" + argument + "'. use '-h' or see voxsifter_README.md to get help.";
  ToolResult r = run_voxsifter({argument});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "INTERNAL: message cropped from " + std::to_string(full.size()) + " to 8192 chars\nERROR: " +
                       full.substr(0, 8191) + "\n");
}

TEST(CliPrompt, AsksForNamesAndWaitsForEnter) {
  ToolRun run;
  run.stdin_data = "\n\n\n";
  ToolResult r = run_tool(run);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, std::string(VOXSIFTER_BINARY) +
                       " is better run in the command line\nenter input file: enter output file: "
                       "ERROR: no input specified\n<press ENTER>\n");
}

TEST(CliPrompt, ClosedStdinGivesEmptyNames) {
  ToolRun run;  // stdin closed at once: nothing can be read
  ToolResult r = run_tool(run);
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("ERROR: no input specified\n<press ENTER>\n"), std::string::npos);
}

// "-hh" lets the input parser issue the help of the filter, transform, ignore
// and input options, then the output parser its own; the filter's and
// transform's texts belong to their own tests.
TEST(CliExtendedHelp, InputAndOutputHelpThenBannerAndUsage) {
  const std::string tail =
      "Ignore points based on classifications.\n  -ignore_class 7\n  -ignore_class 0 1 7 33\n"
      "Ignore points based on return type.\n  -ignore_first -ignore_first_of_many\n"
      "  -ignore_last -ignore_last_of_many\n  -ignore_intermediate\n  -ignore_single\n"
      "Ignore points based on flags.\n  -ignore_synthetic -ignore_keypoint\n  -ignore_withheld -ignore_overlap\n"
      "Supported LAS Inputs\n  -i lidar.las\n  -i lidar.vmb\n  -i lidar1.las lidar2.las lidar3.las -merged\n"
      "  -i *.las - merged\n  -i flight0??.vmb flight1??.vmb\n  -i terrasolid.bin\n  -i esri.shp\n"
      "  -i lidar.txt -iparse xyzti -iskip 2 (on-the-fly from ASCII)\n"
      "  -i lidar.txt -iparse xyzi -itranslate_intensity 1024\n  -lof file_list.txt\n  -stdin (pipe from stdin)\n"
      "  -rescale 0.01 0.01 0.001\n  -rescale_xy 0.01 0.01\n  -rescale_z 0.01\n  -reoffset 600000 4000000 0\n"
      "Fast AOI Queries for LAS/VMB with spatial indexing LAX files\n  -inside min_x min_y max_x max_y\n"
      "  -inside_tile ll_x ll_y size\n  -inside_circle center_x center_y radius\n"
      "Fast AOI Queries for VMB 1.4 with spatial indexing COPC VLR\n  -inside min_x min_y max_x max_y\n"
      "  -inside_circle center_x center_y radius\n  -max_depth 3\n  -resolution 0.1\n" +
      OUTPUTS + BANNER + USAGE;
  ToolResult r = run_voxsifter({"-hh"});
  EXPECT_EQ(r.exit_code, 0);
  ASSERT_GE(r.err.size(), tail.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
  EXPECT_EQ(r.out, "");
}

}  // namespace
