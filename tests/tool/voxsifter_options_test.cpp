// The tool's own options through the built binary: every error text, the
// warnings of the marking options, and which arguments an option takes.
#include <gtest/gtest.h>

#include "support/run_tool.hpp"

namespace {

const std::string NO_INPUT = "ERROR: no input specified\n";
const std::string LAY_INFO =
    "WARNING: do not expect LAY files to work across different versions\n"
    "         of Pelkarts because the development of change layers is still\n"
    "         not completed. this is just an awesome prototype as proof\n"
    "         of concept. we continue to gather community input ... (-;\n";

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string err;
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.name; }

class ToolOptionTest : public ::testing::TestWithParam<OptionCase> {};

TEST_P(ToolOptionTest, ExitCodeAndWholeStderr) {
  const OptionCase& c = GetParam();
  ToolResult r = run_voxsifter(c.args);
  EXPECT_EQ(r.exit_code, c.exit_code);
  EXPECT_EQ(r.err, c.err);
}

// Halting is on in these: the first error ends the run.
INSTANTIATE_TEST_SUITE_P(
    Errors, ToolOptionTest,
    ::testing::Values(
        OptionCase{"step_missing", {"-step"}, 3, "ERROR: '-step' needs 1 argument: step size\n"},
        OptionCase{"step_not_a_number", {"-step", "abc"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but 'abc' in not a valid step\n"},
        OptionCase{"step_zero", {"-step", "0"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but 0 in not a valid value\n"},
        OptionCase{"step_negative", {"-step", "-1.5"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but -1.5 in not a valid value\n"},
        OptionCase{"step_z_missing", {"-step_z"}, 3, "ERROR: '-step_z' needs 1 argument: step size\n"},
        OptionCase{"step_z_not_a_number", {"-step_z", "abc"}, 3,
                   "ERROR: '-step_z' needs positive number as argument\n"},
        OptionCase{"step_z_zero", {"-step", "3", "-step_z", "0"}, 3,
                   "ERROR: '-step_z' needs positive number as argument\n"},
        OptionCase{"attribute_missing", {"-attribute_max"}, 3,
                   "ERROR: '-attribute_max' needs 1 argument: <attribute_idx>\n"},
        OptionCase{"attribute_not_a_number", {"-attribute_min", "x"}, 3,
                   "ERROR: '-attribute_min' needs 1 argument: 'attribute_idx' but 'x' in not a valid value\n"},
        OptionCase{"attribute_too_large", {"-attribute_max", "12"}, 3,
                   "ERROR: '-attribute_max' cannot be larger than 9.\n"},
        OptionCase{"attribute_negative", {"-attribute_min", "-1"}, 3,
                   "ERROR: '-attribute_min' cannot be smaller than 0.\n"},
        OptionCase{"every_nth_missing", {"-every_nth"}, 3, "ERROR: '-every_nth' needs 1 argument: max\n"},
        OptionCase{"every_nth_zero", {"-every_nth", "0"}, 3,
                   "ERROR: '-every_nth' needs positive number as argument\n"},
        OptionCase{"random_nth_negative", {"-random_nth", "-5"}, 3,
                   "ERROR: '-random_nth' needs positive number as argument\n"},
        OptionCase{"random_nth_not_a_number", {"-random_nth", "many"}, 3,
                   "ERROR: '-random_nth' needs 1 argument: max but 'many' is no valid max\n"},
        // Values that used to be taken silently: NaN and infinite steps, a
        // count that wrapped to 1, numbers read up to their first letter.
        OptionCase{"step_nan", {"-step", "nan"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but 'nan' in not a valid step\n"},
        OptionCase{"step_infinite", {"-step", "inf"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but 'inf' in not a valid step\n"},
        OptionCase{"step_trailing_text", {"-step", "2m"}, 3,
                   "ERROR: '-step' needs 1 argument: <step size> but '2m' in not a valid step\n"},
        OptionCase{"step_z_nan", {"-step_z", "nan"}, 3, "ERROR: '-step_z' needs positive number as argument\n"},
        OptionCase{"step_z_trailing_text", {"-step_z", "1.5x"}, 3,
                   "ERROR: '-step_z' needs positive number as argument\n"},
        OptionCase{"every_nth_wraps", {"-every_nth", "4294967297"}, 3,
                   "ERROR: '-every_nth' needs 1 argument: max but '4294967297' is no valid max\n"},
        OptionCase{"every_nth_trailing_text", {"-every_nth", "3rd"}, 3,
                   "ERROR: '-every_nth' needs 1 argument: max but '3rd' is no valid max\n"},
        OptionCase{"attribute_exponent", {"-attribute_max", "1e3"}, 3,
                   "ERROR: '-attribute_max' needs 1 argument: 'attribute_idx' but '1e3' in not a valid value\n"},
        OptionCase{"classify_not_a_number", {"-classify_as", "x"}, 3,
                   "ERROR: '-classify_as' needs 1 argument: classification code but 'x' is no valid classification "
                   "code\n"},
        OptionCase{"seed_not_a_number", {"-seed", "abc"}, 3,
                   "ERROR: '-seed' needs 1 argument: random generator seed but 'abc' is no valid random generator "
                   "seed\n"},
        OptionCase{"seed_beyond_32_bits", {"-seed", "2147483648"}, 3,
                   "ERROR: '-seed' needs 1 argument: random generator seed but '2147483648' is no valid random "
                   "generator seed\n"},
        OptionCase{"ilay_count_trailing_text", {"-ilay", "3x"}, 3,
                   "ERROR: '-ilay' takes a layer count but '3x' is no valid layer count\n"},
        OptionCase{"classify_missing", {"-classify_as"}, 3,
                   "ERROR: '-classify_as' needs 1 argument: classification code\n"},
        OptionCase{"classify_too_large", {"-classify_as", "32"}, 3,
                   "ERROR: '-classify_as' needs a code between 0 and 31 as argument (see -keep_extended_class)\n"},
        OptionCase{"classify_negative", {"-classify_as", "-1"}, 3,
                   "ERROR: '-classify_as' needs a code between 0 and 31 as argument (see -keep_extended_class)\n"},
        OptionCase{"seed_missing", {"-seed"}, 3, "ERROR: '-seed' needs 1 argument: random generator seed\n"},
        OptionCase{"ilaydir_missing", {"-ilaydir"}, 3, "ERROR: '-ilaydir' needs 1 argument: directory name\n"},
        OptionCase{"olaydir_missing", {"-olaydir"}, 3, "ERROR: '-olaydir' needs 1 argument: directory name\n"}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

// With halting off every option is taken and the run reaches the input check.
INSTANTIATE_TEST_SUITE_P(
    Accepted, ToolOptionTest,
    ::testing::Values(
        OptionCase{"every_flag_and_value",
                   {"-errors_ignore", "-step", "3", "-step_z", "1", "-count_to_intensity", "-count_to_user_byte",
                    "-random_cell_occurrence", "-use_cell_center", "-closest", "-lowest", "-highest",
                    "-intensity_min", "-intensity_max", "-return_min", "-return_max", "-attribute_min", "2",
                    "-attribute_max", "5", "-flatten_points", "-flatten_all_points", "-random_nth", "7",
                    "-every_nth", "9", "-seed", "-12", "-remain_buffered"},
                   3, NO_INPUT},
        OptionCase{"classify_then_withheld_warns",
                   {"-errors_ignore", "-classify_as", "2", "-withheld"},
                   3,
                   "WARNING: cannot classify as 2 and flag as withheld. flagging only as withheld ...\n" + NO_INPUT},
        OptionCase{"classify_then_keypoint_warns",
                   {"-errors_ignore", "-classify_as", "7", "-flag_as_keypoint"},
                   3,
                   "WARNING: cannot classify as 7 and flag as keypoint. flagging only as keypoint ...\n" + NO_INPUT},
        OptionCase{"withheld_then_classify_is_quiet", {"-errors_ignore", "-flag_as_withheld", "-classify_as", "2"}, 3,
                   NO_INPUT},
        OptionCase{"keypoint_then_withheld_warns",
                   {"-errors_ignore", "-keypoint", "-withheld"},
                   3,
                   "WARNING: cannot flag as keypoint and withheld. flagging only as withheld ...\n" + NO_INPUT},
        OptionCase{"withheld_then_keypoint_warns",
                   {"-errors_ignore", "-withheld", "-keypoint"},
                   3,
                   "WARNING: cannot flag as withheld and keypoint. flagging only as keypoint ...\n" + NO_INPUT},
        // The later marking option wins, so a third one warns about the second only.
        OptionCase{"withheld_keypoint_withheld",
                   {"-errors_ignore", "-withheld", "-keypoint", "-withheld"},
                   3,
                   "WARNING: cannot flag as withheld and keypoint. flagging only as keypoint ...\n"
                   "WARNING: cannot flag as keypoint and withheld. flagging only as withheld ...\n" +
                       NO_INPUT},
        OptionCase{"ilay_takes_a_count", {"-errors_ignore", "-ilay", "3"}, 3, LAY_INFO + NO_INPUT},
        OptionCase{"ilay_takes_a_negative_count", {"-errors_ignore", "-ilay", "-2"}, 3, LAY_INFO + NO_INPUT},
        OptionCase{"ilay_leaves_a_word",
                   {"-errors_ignore", "-ilay", "x"},
                   3,
                   "ERROR: cannot understand argument 'x'. use '-h' or see voxsifter_README.md to get help.\n" +
                       LAY_INFO + NO_INPUT},
        OptionCase{"ilay_prefix", {"-errors_ignore", "-ilayfoo", "-ilaydir", "d"}, 3, LAY_INFO + NO_INPUT},
        OptionCase{"olay_prefix", {"-errors_ignore", "-olayfoo", "-olaydir", "d"}, 3, LAY_INFO + NO_INPUT},
        OptionCase{"lay_info_hidden_when_quiet", {"-errors_ignore", "-quiet", "-olay"}, 3, ""},
        OptionCase{"lay_info_shown_when_silent", {"-errors_ignore", "-silent", "-olay"}, 3, LAY_INFO + NO_INPUT},
        // With halting off a bad value is reported and parsing goes on behind it.
        OptionCase{"bad_values_go_on",
                   {"-errors_ignore", "-step", "abc", "-every_nth", "0", "-attribute_max", "12"},
                   3,
                   "ERROR: '-step' needs 1 argument: <step size> but 'abc' in not a valid step\n"
                   "ERROR: '-every_nth' needs positive number as argument\n"
                   "ERROR: '-attribute_max' cannot be larger than 9.\n" +
                       NO_INPUT},
        // An option standing last takes nothing past the end.
        OptionCase{"value_missing_at_end", {"-errors_ignore", "-seed"}, 3,
                   "ERROR: '-seed' needs 1 argument: random generator seed\n" + NO_INPUT}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

// With halting off an option whose value is missing or does not read is still
// met: the layer options switch layers on, and a bad value is taken with its
// option rather than read as the next argument.
INSTANTIATE_TEST_SUITE_P(
    MetWithoutValue, ToolOptionTest,
    ::testing::Values(
        OptionCase{"ilaydir_without_directory_switches_layers_on",
                   {"-errors_ignore", "-ilaydir"},
                   3,
                   "ERROR: '-ilaydir' needs 1 argument: directory name\n" + LAY_INFO + NO_INPUT},
        OptionCase{"bad_values_are_taken",
                   {"-errors_ignore", "-ilay", "3x", "-seed", "abc", "-classify_as", "y"},
                   3,
                   "ERROR: '-ilay' takes a layer count but '3x' is no valid layer count\n"
                   "ERROR: '-seed' needs 1 argument: random generator seed but 'abc' is no valid random generator "
                   "seed\n"
                   "ERROR: '-classify_as' needs 1 argument: classification code but 'y' is no valid classification "
                   "code\n" +
                       LAY_INFO + NO_INPUT}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

// The entry's checks of the layer options, before any file is opened; the two
// -ilay checks end the run even with halting off.
INSTANTIATE_TEST_SUITE_P(
    LayerChecks, ToolOptionTest,
    ::testing::Values(
        OptionCase{"ilay_buffered",
                   {"-errors_ignore", "-ilay", "-buffered", "10", "-i", "a.las", "b.las"},
                   3,
                   LAY_INFO + "ERROR: on-the-fly buffering and '-ilay' cannot currently be combined.\n"},
        OptionCase{"ilay_piped", {"-errors_ignore", "-ilay", "-stdin"}, 3,
                   LAY_INFO + "ERROR: cannot use '-ilay' for piped input\n"},
        OptionCase{"olay_inside", {"-olay", "-inside", "0", "0", "1", "1", "-i", "a.las"}, 3,
                   LAY_INFO + "ERROR: inside queries and '-olay' cannot currently be combined.\n"}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

}  // namespace
