// The read opener's options, option text, input lists and reader choice.
// Opening real files is tested in lasreadopener_open_test.cpp.
#include "core/lasreadopener.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "filters/lasignore.hpp"
#include "formats/lasreader_asc.hpp"
#include "formats/lasreader_bil.hpp"
#include "formats/lasreader_bin.hpp"
#include "formats/lasreader_dtm.hpp"
#include "formats/lasreader_ply.hpp"
#include "formats/lasreader_qfit.hpp"
#include "formats/lasreader_shp.hpp"
#include "formats/lasreader_txt.hpp"
#include "support/arg_vector.hpp"
#include "support/halting_off.hpp"
#include "support/temp_dir.hpp"
#include "transforms/lastransform.hpp"

namespace {

// Reaches the opener's reader choice and neighbour choice.
class OpenerProbe : public LASreadOpener {
 public:
  using LASreadOpener::buffered_neighbors;
  using LASreadOpener::construct_reader;
  using LASreadOpener::input_kind;
  using LASreadOpener::InputKind;
};

// Every setting the option text carries, with floats in exact hex form.
std::string settings(const LASreadOpener& o) {
  char buffer[256];
  std::string s;
  auto add = [&](const char* name, const std::string& value) { s += std::string(name) + "=" + value + "\n"; };
  auto hex = [&](double v) {
    snprintf(buffer, sizeof(buffer), "%a", v);
    return std::string(buffer);
  };
  if (o.inside_tile) add("tile", hex((*o.inside_tile)[0]) + " " + hex((*o.inside_tile)[1]) + " " + hex((*o.inside_tile)[2]));
  if (o.inside_circle) {
    add("circle", hex((*o.inside_circle)[0]) + " " + hex((*o.inside_circle)[1]) + " " + hex((*o.inside_circle)[2]));
  }
  if (o.inside_rectangle) {
    const auto& r = *o.inside_rectangle;
    add("rectangle", hex(r[0]) + " " + hex(r[1]) + " " + hex(r[2]) + " " + hex(r[3]));
  }
  add("stored", std::to_string(o.stored));
  add("merged", std::to_string(o.merged));
  add("faf", std::to_string(o.files_are_flightlines));
  add("apply_file_source_ID", std::to_string(o.apply_file_source_ID));
  if (o.scale_factor) add("scale", hex((*o.scale_factor)[0]) + " " + hex((*o.scale_factor)[1]) + " " + hex((*o.scale_factor)[2]));
  if (o.offset) add("offset", hex((*o.offset)[0]) + " " + hex((*o.offset)[1]) + " " + hex((*o.offset)[2]));
  add("auto_reoffset", std::to_string(o.auto_reoffset));
  add("offset_adjust", std::to_string(o.offset_adjust));
  add("populate", std::to_string(o.populate_header));
  add("io_ibuffer", std::to_string(o.io_ibuffer_size));
  add("temp_files", o.temp_file_base);
  if (o.parse_string) add("iparse", *o.parse_string);
  add("iskip", std::to_string(o.skip_lines));
  add("txt", std::to_string(o.itxt) + std::to_string(o.ipts) + std::to_string(o.iptx) + std::to_string(o.iptx_transform));
  add("intensity", hex(o.translate_intensity) + " " + hex(o.scale_intensity));
  add("scan_angle", hex(o.translate_scan_angle) + " " + hex(o.scale_scan_angle));
  for (const LASreadOpenerAttribute& a : o.attributes) {
    add("attribute", std::to_string(a.data_type) + " " + a.name + "|" + a.description + "|" + hex(a.scale) + " " +
                         hex(a.offset) + " " + hex(a.pre_scale) + " " + hex(a.pre_offset) + " " + hex(a.no_data));
  }
  add("copc", std::to_string(o.copc_query) + " " + hex(o.resolution) + " " + std::to_string(o.max_depth) + " " +
                  std::to_string(o.copc_stream_order));
  add("unique", std::to_string(o.unique));
  add("comma_not_point", std::to_string(o.comma_not_point));
  add("z_from_attribute", std::to_string(o.z_from_attribute) + " " + std::to_string(o.z_from_attribute_index));
  return s;
}

class LasReadOpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halt_on_error(false);
    set_message_log_level(INFO);
  }
  void TearDown() override {
    halt_on_error(true);
    set_message_log_level(INFO);
  }
  // Parses and returns what was written to stderr.
  static std::string parse(LASreadOpener& opener, ArgVector& args, bool* ok = nullptr, bool parse_ignore = true,
                           bool suppress_ignore = false) {
    ::testing::internal::CaptureStderr();
    bool result = opener.parse(args.argc(), args.argv(), parse_ignore, suppress_ignore);
    if (ok) *ok = result;
    return ::testing::internal::GetCapturedStderr();
  }
  static std::string text_of(const LASreadOpener& opener) {
    std::string text;
    const I32 n = opener.unparse(text);
    EXPECT_EQ((size_t)n, text.size());
    return text;
  }
};

TEST_F(LasReadOpenerTest, OptionsSetTheirFields) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::function<void(const LASreadOpener&)> check;
    std::vector<std::string> left;
  } cases[] = {
      {"-i takes names up to an option",
       {"-i", "a.las", "b.las", "-merged", "c.las"},
       [](const LASreadOpener& o) {
         EXPECT_EQ(o.get_file_name_number(), 2u);
         EXPECT_STREQ(o.get_file_name(1), "b.las");
         EXPECT_TRUE(o.merged);
       },
       {"c.las"}},
      {"-i takes a first value beginning with '-'",
       {"-i", "-x", "-v"},
       [](const LASreadOpener& o) { EXPECT_STREQ(o.get_file_name(0), "-x"); },
       {"-v"}},
      {"-unique refuses a name given twice",
       {"-unique", "-i", "a.las", "a.las", "b.las"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.get_file_name_number(), 2u); },
       {}},
      {"names are kept without -unique",
       {"-i", "a.las", "a.las"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.get_file_name_number(), 2u); },
       {}},
      {"switches",
       {"-stdin", "-stored", "-pipe_on", "-populate", "-apply_file_source_ID", "-auto_reoffset", "-offset_adjust",
        "-comma_not_point"},
       [](const LASreadOpener& o) {
         EXPECT_TRUE(o.use_stdin && o.stored && o.pipe_on && o.populate_header && o.apply_file_source_ID &&
                     o.auto_reoffset && o.offset_adjust && o.comma_not_point);
         EXPECT_TRUE(o.is_piped());
       },
       {}},
      {"-do_not_populate", {"-populate", "-do_not_populate"}, [](const LASreadOpener& o) { EXPECT_FALSE(o.populate_header); }, {}},
      {"text kinds",
       {"-ipts", "-iptx_transform"},
       [](const LASreadOpener& o) { EXPECT_TRUE(o.itxt && o.ipts && !o.iptx && o.iptx_transform); },
       {}},
      {"-buffered and -temp_files",
       {"-buffered", "25.5", "-temp_files", "/tmp/base"},
       [](const LASreadOpener& o) {
         EXPECT_EQ(o.get_buffer_size(), 25.5f);
         EXPECT_EQ(o.temp_file_base, "/tmp/base");
       },
       {}},
      {"-faf followed by 0 keeps the 0",
       {"-faf", "0"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.files_are_flightlines, 1); },
       {"0"}},
      {"-faf followed by a name",
       {"-files_are_flightlines", "x.las"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.files_are_flightlines, 1); },
       {"x.las"}},
      {"-faf 3", {"-faf", "3"}, [](const LASreadOpener& o) { EXPECT_EQ(o.files_are_flightlines, 3); }, {}},
      {"-faf_index alone adds no transform",
       {"-faf_index", "2"},
       [](const LASreadOpener& o) {
         EXPECT_EQ(o.files_are_flightlines_index, 1);
         EXPECT_EQ(o.get_transform(), nullptr);
       },
       {}},
      {"-faf alone makes a transform with one operation",
       {"-faf"},
       [](const LASreadOpener& o) {
         ASSERT_NE(o.get_transform(), nullptr);
         EXPECT_EQ(o.get_transform()->op_count, 1u);
       },
       {}},
      {"-rescale_xy then -rescale_z",
       {"-rescale_xy", "0.01", "0.01", "-rescale_z", "0.001"},
       [](const LASreadOpener& o) {
         ASSERT_TRUE(o.scale_factor);
         EXPECT_EQ(*o.scale_factor, (std::array<F64, 3>{0.0, 0.0, 0.001}));
       },
       {}},
      {"-reoffset", {"-reoffset", "600000", "4000000", "0"},
       [](const LASreadOpener& o) { EXPECT_EQ(*o.offset, (std::array<F64, 3>{600000, 4000000, 0})); }, {}},
      {"tile and circle are both kept",
       {"-inside_tile", "100", "200", "50", "-inside_circle", "1", "2", "3"},
       [](const LASreadOpener& o) {
         EXPECT_EQ(*o.inside_tile, (std::array<F32, 3>{100, 200, 50}));
         EXPECT_EQ(*o.inside_circle, (std::array<F64, 3>{1, 2, 3}));
         EXPECT_TRUE(o.is_inside());
       },
       {}},
      {"-inside and -inside_rectangle overwrite",
       {"-inside", "0", "0", "1", "1", "-inside_rectangle", "5", "6", "7", "8"},
       [](const LASreadOpener& o) { EXPECT_EQ(*o.inside_rectangle, (std::array<F64, 4>{5, 6, 7, 8})); },
       {}},
      {"COPC options",
       {"-max_depth", "3", "-stream_order_level"},
       [](const LASreadOpener& o) {
         EXPECT_EQ(o.max_depth, 3);
         EXPECT_EQ(o.copc_query, 1);
         EXPECT_EQ(o.copc_stream_order, 2);
       },
       {}},
      {"-resolution", {"-resolution", "0.5"}, [](const LASreadOpener& o) {
         EXPECT_EQ(o.resolution, 0.5f);
         EXPECT_EQ(o.copc_query, 2);
       }, {}},
      {"text input values",
       {"-iparse", "xyzi", "-iskip", "2", "-itranslate_intensity", "1024", "-iscale_intensity", "0.5",
        "-itranslate_scan_angle", "-3", "-iscale_scan_angle", "2", "-io_ibuffer", "65536"},
       [](const LASreadOpener& o) {
         EXPECT_STREQ(o.get_parse_string(), "xyzi");
         EXPECT_EQ(o.skip_lines, 2u);
         EXPECT_EQ(o.translate_intensity, 1024.0f);
         EXPECT_EQ(o.scale_intensity, 0.5f);
         EXPECT_EQ(o.translate_scan_angle, -3.0f);
         EXPECT_EQ(o.scale_scan_angle, 2.0f);
         EXPECT_EQ(o.io_ibuffer_size, 65536u);
       },
       {}},
      {"-z_from_attribute with an index",
       {"-z_from_attribute", "2", "-merged"},
       [](const LASreadOpener& o) {
         EXPECT_TRUE(o.z_from_attribute);
         EXPECT_EQ(o.z_from_attribute_index, 2);
         EXPECT_TRUE(o.merged);
       },
       {}},
      {"-z_from_attribute leaves a name alone",
       {"-z_from_attribute", "in.las"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.z_from_attribute_index, -1); },
       {"in.las"}},
      {"-iadd_extra with a scale",
       {"-iadd_extra", "9", "height", "above ground", "0.01"},
       [](const LASreadOpener& o) {
         ASSERT_EQ(o.attributes.size(), 1u);
         const LASreadOpenerAttribute& a = o.attributes[0];
         EXPECT_EQ(a.data_type, 9);
         EXPECT_EQ(a.name, "height");
         EXPECT_EQ(a.description, "above ground");
         EXPECT_EQ(a.scale, 0.01);
         EXPECT_EQ(a.offset, 0.0);
         EXPECT_EQ(a.pre_scale, 1.0);
         EXPECT_EQ(a.pre_offset, 0.0);
         EXPECT_EQ(a.no_data, 2e307);
       },
       {}},
      {"-iadd_extra numbers with written zeros",
       {"-iadd_attribute", "1", "a", "b", "0.5", "0", "2", "0", "x.txt"},
       [](const LASreadOpener& o) {
         ASSERT_EQ(o.attributes.size(), 1u);
         const LASreadOpenerAttribute& a = o.attributes[0];
         EXPECT_EQ(a.scale, 0.5);
         EXPECT_EQ(a.offset, 0.0);
         EXPECT_EQ(a.pre_scale, 2.0);
         EXPECT_EQ(a.pre_offset, 0.0);
         EXPECT_EQ(a.no_data, 2e307);
       },
       {"x.txt"}},
      {"-iadd_extra scale 0 ends the numbers",
       {"-iadd_extra", "1", "a", "b", "0", "5"},
       [](const LASreadOpener& o) { EXPECT_EQ(o.attributes[0].scale, 1.0); },
       {"0", "5"}},
      {"-ignore_ goes to the ignore rules",
       {"-ignore_class", "2", "-v"},
       [](const LASreadOpener& o) {
         ASSERT_NE(o.get_ignore(), nullptr);
         EXPECT_EQ(o.get_ignore()->ignore_classification_mask[0], 0x4u);
       },
       {"-v"}},
      {"-h ends parsing", {"-h", "-merged"}, [](const LASreadOpener& o) { EXPECT_FALSE(o.merged); }, {"-h", "-merged"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASreadOpener opener;
    ArgVector args(c.args);
    bool ok = false;
    EXPECT_EQ(parse(opener, args, &ok), "");
    EXPECT_TRUE(ok);
    c.check(opener);
    EXPECT_EQ(args.remaining(), c.left);
  }
}

TEST_F(LasReadOpenerTest, OptionErrorsAndWarnings) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
    bool ok;  // parsing goes on after a warning
  } cases[] = {
      {{"-i"}, "ERROR: '-i' needs at least 1 argument: file_name or wild_card\n", false},
      {{"-neighbors"}, "ERROR: '-neighbors' needs at least 1 argument: file_name or wild_card\n", false},
      {{"-lof"}, "ERROR: '-lof' needs 1 argument: list_of_files\n", false},
      {{"-lof", "/nonexistent/list.txt"},
       "ERROR: cannot open '/nonexistent/list.txt'\nERROR: cannot load list of files '/nonexistent/list.txt'\n", false},
      {{"-neighbors_lof"}, "ERROR: '-neighbors_lof' needs at least 1 argument: file_name\n", false},
      {{"-neighbors_lof", "/nonexistent/n.txt"},
       "ERROR: cannot open '/nonexistent/n.txt'\nERROR: cannot load neighbor list of files '/nonexistent/n.txt'\n", false},
      {{"-buffered"}, "ERROR: '-buffered' needs 1 argument: buffer_size\n", false},
      {{"-buffered", "x"}, "ERROR: '-buffered' needs 1 argument: buffer_size. but 'x' is not a valid buffer_size\n", false},
      {{"-buffered", "-2"}, "ERROR: '-buffered' needs 1 argument: buffer_size, but -2.000000 is not valid\n", false},
      {{"-temp_files"}, "ERROR: '-temp_files' needs 1 argument: base name\n", false},
      {{"-faf", "70000"},
       "WARNING: files_are_flightlines start value 70000 is too large\n"
       "WARNING: files_are_flightlines start value 70000 plus index -1 is too large\n",
       true},
      {{"-faf", "65000", "-faf_index", "600"},
       "WARNING: files_are_flightlines start value 65000 plus index 600 is too large\n", true},
      {{"-faf_index", "70000"},
       "WARNING: files_are_flightlines_index index value 70000 is too large\n"
       "WARNING: files_are_flightlines start value 0 plus index 70000 is too large\n",
       true},
      {{"-faf_index"}, "ERROR: '-faf_index' needs 1 argument: index\n", false},
      {{"-rescale", "1", "1"}, "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z\n", false},
      {{"-rescale", "1", "y", "1"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 'y' is not a valid rescale_y\n", false},
      {{"-rescale", "1", "1", "0"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 0.000000 is not a valid rescale_z\n",
       false},
      {{"-rescale", "nan", "1", "1"},
       "ERROR: '-rescale' needs 3 arguments: rescale_x rescale_y rescale_z, but 'nan' is not a valid rescale_x\n", false},
      {{"-rescale_xy", "1"}, "ERROR: '-rescale_xy' needs 2 argument: rescale_x rescale_y\n", false},
      {{"-rescale_xy", "0", "1"},
       "ERROR: '-rescale_xy' needs 2 argument: rescale_x rescale_y, but 0.000000 is not a valid rescale_x\n", false},
      {{"-rescale_z"}, "ERROR: '-rescale_z' needs 1 argument: rescale_z\n", false},
      {{"-rescale_z", "z"}, "ERROR: '-rescale_z' needs 1 argument: rescale_z, but 'z' is not a valid rescale_z\n", false},
      {{"-rescale_z", "0"}, "ERROR: '-rescale_z' needs 1 argument: rescale_z, but 0.000000 is not a valid rescale_z\n",
       false},
      {{"-reoffset", "1", "2"}, "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z\n", false},
      {{"-reoffset", "1", "2", "q"},
       "ERROR: '-reoffset' needs 3 arguments: reoffset_x, reoffset_y, reoffset_z, but 'q' is not a valid reoffset_z\n",
       false},
      {{"-inside", "1", "2", "3"}, "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y\n", false},
      {{"-inside_rectangle", "1", "a", "3", "4"},
       "ERROR: '-inside_rectangle' needs 4 arguments: min_x min_y max_x max_y, but 'a' is not a valid min_y.\n", false},
      {{"-inside", "10", "10", "5", "20"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 10.000000 / 5.000000 are not a valid min_x / "
       "max_x pair.\n",
       false},
      {{"-inside", "10", "30", "15", "20"},
       "ERROR: '-inside' needs 4 arguments: min_x min_y max_x max_y, but 30.000000 / 20.000000 are not a valid min_y / "
       "max_y pair.\n",
       false},
      {{"-inside_tile", "1", "2"}, "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size\n", false},
      {{"-inside_tile", "a", "2", "3"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but 'a' is not a valid ll_x.\n", false},
      {{"-inside_tile", "1", "2", "0"},
       "ERROR: '-inside_tile' needs 3 arguments: ll_x ll_y size, but 0.000000 is not valid a size.\n", false},
      {{"-inside_circle", "1", "2"}, "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius\n", false},
      {{"-inside_circle", "1", "2", "r"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius, but 'r' is not a valid radius.\n", false},
      {{"-inside_circle", "1", "2", "-1"},
       "ERROR: '-inside_circle' needs 3 arguments: center_x center_y radius, but -1.000000 is not valid a radius.\n",
       false},
      {{"-inside_polygon", "1"}, "ERROR: unknown '-inside' option '-inside_polygon'\n", false},
      {{"-max_depth"}, "ERROR: '-max_depth' needs 1 argument: depth\n", false},
      {{"-max_depth", "d"}, "ERROR: '-max_depth' needs 1 argument: depth, but 'd' is not a valid depth\n", false},
      {{"-max_depth", "-1"}, "ERROR: '-max_depth' needs 1 argument: depth, but -1 is not a valid depth\n", false},
      {{"-resolution"}, "ERROR: '-resolution' needs 1 argument: resolution\n", false},
      {{"-resolution", "r"}, "ERROR: '-resolution' needs 1 argument: resolution, but 'r' is not a valid resolution\n",
       false},
      {{"-resolution", "0"}, "ERROR: '-resolution' needs 1 argument: resolution, but 0.000000 is not a valid resolution\n",
       false},
      {{"-iparse"}, "ERROR: '-iparse' needs 1 argument: string\n", false},
      {{"-iskip"}, "ERROR: '-iskip' needs 1 argument: number_of_lines\n", false},
      {{"-iskip", "n"}, "ERROR: '-iskip' needs 1 argument: number_of_lines but 'n' is not a valid number.\n", false},
      {{"-iskip", "0"}, "ERROR: '-iskip' needs 1 argument: number_of_lines but 0 is not valid.\n", false},
      {{"-itranslate_intensity"}, "ERROR: '-itranslate_intensity' needs 1 argument: translation\n", false},
      {{"-itranslate_scan_angle", "t"},
       "ERROR: '-itranslate_scan_angle' needs 1 argument: translation but 't' is not valid.\n", false},
      {{"-itranslate_intensity", "0"}, "ERROR: '-itranslate_intensity' needs 1 argument: translation but 0.000000 is not valid.\n",
       false},
      {{"-iscale_intensity"}, "ERROR: '-iscale_intensity' needs 1 argument: scale\n", false},
      {{"-iscale_scan_angle", "s"}, "ERROR: '-iscale_scan_angle' needs 1 argument: scale but 's' is not valid.\n", false},
      {{"-iscale_intensity", "0"}, "ERROR: '-iscale_intensity' needs 1 argument: scale but 0.000000 is not valid.\n", false},
      {{"-iadd_extra", "1", "a"}, "ERROR: '-iadd_extra' needs 3 arguments: data_type name description\n", false},
      {{"-iadd_extra", "11", "x", "y"}, "WARNING: attribute data type 11 not supported. ignoring attribute 'x'.\n", true},
      {{"-io_ibuffer"}, "ERROR: '-io_ibuffer' needs 1 argument: size\n", false},
      {{"-io_ibuffer", "s"}, "ERROR: '-io_ibuffer' needs 1 argument: size but 's' is not a valid size.\n", false},
      {{"-io_ibuffer", "0"}, "ERROR: '-io_ibuffer' needs 1 argument: size but 0 is not valid.\n", false},
      {{"-neighbors", "n.las"}, "ERROR: neighbors only make sense when used with '-buffered 50' or similar\n", false},
      {{"-i", "a.las", "b.las", "-neighbors", "n.las", "-buffered", "5"},
       "ERROR: neighbors only supported for one buffered input file, not for 2\n", false},
      {{"-ignore_nothing"}, "ERROR: cannot understand argument '-ignore_nothing'\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    LASreadOpener opener;
    ArgVector args(c.args);
    bool ok = true;
    EXPECT_EQ(parse(opener, args, &ok), c.message);
    EXPECT_EQ(ok, c.ok);
  }
}

TEST_F(LasReadOpenerTest, AtMost32AddedAttributes) {
  std::vector<std::string> words;
  for (int k = 0; k < 33; k++) {
    for (const std::string& word : {std::string("-iadd_extra"), std::string("1"), "a" + std::to_string(k), std::string("d")}) {
      words.push_back(word);
    }
  }
  LASreadOpener opener;
  ArgVector args(words);
  bool ok = true;
  EXPECT_EQ(parse(opener, args, &ok), "ERROR: cannot add attribute 'a32'. at most 32 attributes are supported.\n");
  EXPECT_FALSE(ok);
  EXPECT_EQ(opener.attributes.size(), 32u);
}

TEST_F(LasReadOpenerTest, ErrorEndsTheRunWhileHalting) {
  halt_on_error(true);
  LASreadOpener opener;
  ArgVector args({"-rescale", "0", "1", "1"});
  EXPECT_EXIT(
      {
        forget_message_counts();
        opener.parse(args.argc(), args.argv(), true);
      },
      ::testing::ExitedWithCode(3), "not a valid rescale_x");
}

TEST_F(LasReadOpenerTest, IgnoreOptionsByTheTwoSwitches) {
  {
    LASreadOpener opener;
    ArgVector args({"-ignore_single"});
    EXPECT_EQ(parse(opener, args, nullptr, false, false), "WARNING: this tool does not process '-ignore_xxxx' options\n");
    EXPECT_EQ(args.remaining(), std::vector<std::string>({"-ignore_single"}));
    EXPECT_EQ(opener.get_ignore(), nullptr);
  }
  {
    LASreadOpener opener;
    ArgVector args({"-ignore_single"});
    EXPECT_EQ(parse(opener, args, nullptr, false, true), "");
    EXPECT_EQ(args.remaining(), std::vector<std::string>({"-ignore_single"}));
  }
  {
    // A failed ignore option deletes the rules and ends parsing at once.
    LASreadOpener opener;
    ArgVector args({"-ignore_single", "-ignore_class", "x", "-merged"});
    bool ok = true;
    parse(opener, args, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(opener.get_ignore(), nullptr);
    EXPECT_FALSE(opener.merged);
  }
}

TEST_F(LasReadOpenerTest, HelpTexts) {
  LASreadOpener opener;
  ArgVector args({"-hh", "-merged"});
  const std::string err = parse(opener, args);
  EXPECT_NE(err.find("Ignore points based on classifications."), std::string::npos);
  EXPECT_NE(err.find("Supported LAS Inputs\n  -i lidar.las\n"), std::string::npos);
  EXPECT_NE(err.find("  -max_depth 3\n  -resolution 0.1\n"), std::string::npos);
  EXPECT_FALSE(opener.merged);
}

TEST_F(LasReadOpenerTest, OptionTextInTheDocumentedFormat) {
  struct Case {
    std::vector<std::string> args;
    const char* text;
  } cases[] = {
      {{}, ""},
      {{"-i", "a.las", "-lof_is_not_mine", "-stdin", "-pipe_on", "-faf_index", "3", "-buffered", "10"}, ""},
      {{"-rescale", "0.01", "0.01", "0.01"}, "-rescale 0.010000 0.010000 0.010000 "},
      {{"-rescale_xy", "0.01", "0.01", "-rescale_z", "0.001"}, "-rescale_z 0.001000 "},
      {{"-rescale_xy", "0.01", "0.02"}, "-rescale_xy 0.010000 0.020000 "},
      {{"-inside_tile", "630000", "4830000", "1000"}, "-inside_tile 630000 4.83e+06 1000 "},
      {{"-inside_circle", "1.5", "2", "3"}, "-inside_circle 1.500000 2.000000 3.000000 "},
      {{"-inside", "1", "2", "3", "4"}, "-inside_rectangle 1.000000 2.000000 3.000000 4.000000 "},
      {{"-merged", "-stored", "-faf", "-apply_file_source_ID", "-populate"},
       "-stored -merged -faf -apply_file_source_ID -populate "},
      {{"-faf", "7"}, "-faf 7 "},
      {{"-reoffset", "600000", "4000000", "0", "-io_ibuffer", "1024", "-temp_files", "my base"},
       "-reoffset 600000.000000 4000000.000000 0.000000 -io_ibuffer 1024 -temp_files \"my base\" "},
      {{"-iparse", "xyz", "-iskip", "3", "-itxt"}, "-iparse \"xyz\" -iskip 3 -itxt "},
      {{"-resolution", "0.5", "-unique", "-comma_not_point", "-stream_order_normal", "-max_depth", "4",
        "-z_from_attribute"},
       "-resolution 0.500000 -unique -comma_not_point -stream_order_normal -max_depth 4 -z_from_attribute "},
      {{"-stream_order_level"}, "-stream_order_level "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LASreadOpener opener;
    ArgVector args(c.args);
    parse(opener, args);
    EXPECT_EQ(text_of(opener), c.text);
  }
  // Text is appended to what the caller has.
  LASreadOpener opener;
  ArgVector args({"-merged"});
  parse(opener, args);
  std::string text = "-i \"a.las\" ";
  EXPECT_EQ(opener.unparse(text), 8);
  EXPECT_EQ(text, "-i \"a.las\" -merged ");
}

// What a child process parses from the option text is what this process has.
TEST_F(LasReadOpenerTest, OptionTextParsesBackIntoEqualSettings) {
  const std::vector<std::vector<std::string>> command_lines = {
      {"-rescale", "0.0000001", "0.0000001", "0.00001"},
      {"-rescale_xy", "0.00025", "0.00025"},
      {"-rescale_z", "1e-9"},
      {"-reoffset", "630000.1234567", "-4830000.000001", "1e-12"},
      {"-auto_reoffset", "-offset_adjust"},
      {"-offset_adjust", "-reoffset", "1", "2", "3"},
      {"-inside_tile", "1234567.5", "4830000.25", "0.001"},
      {"-inside_circle", "630000.123456789", "4830000.987654321", "0.0000005"},
      {"-inside_rectangle", "-1e-7", "2", "3.14159265358979", "1e15"},
      {"-inside_tile", "1", "2", "3", "-inside_circle", "4", "5", "6", "-inside", "7", "8", "9", "10"},
      {"-merged", "-stored", "-faf", "12", "-apply_file_source_ID"},
      {"-faf"},
      {"-populate", "-io_ibuffer", "4096", "-temp_files", "/tmp/with blank/base", "-unique", "-comma_not_point"},
      {"-iparse", "xyzi", "-iskip", "4", "-ipts"},
      {"-iptx", "-iptx_transform"},
      {"-itxt", "-itranslate_intensity", "1024.125", "-iscale_intensity", "0.1", "-itranslate_scan_angle", "-7",
       "-iscale_scan_angle", "3.3"},
      {"-iadd_extra", "9", "height", "height above ground", "0.001", "0", "2", "0", "-9999"},
      {"-iadd_attribute", "10", "amp", "", "1e-8", "-1.5"},
      {"-resolution", "0.3"},
      {"-max_depth", "5", "-resolution", "0.3"},
      {"-resolution", "0.3", "-max_depth", "5"},
      {"-stream_order_normal"},
      {"-stream_order_level", "-z_from_attribute"},
      {"-z_from_attribute", "3"},
  };
  for (const std::vector<std::string>& words : command_lines) {
    std::string line;
    for (const std::string& word : words) line += word + " ";
    SCOPED_TRACE(line);
    LASreadOpener first;
    ArgVector args(words);
    bool ok = false;
    EXPECT_EQ(parse(first, args, &ok), "");
    ASSERT_TRUE(ok);
    const std::string text = text_of(first);
    LASreadOpener second;
    ArgVector again = ArgVector::from_text(text);
    EXPECT_EQ(parse(second, again, &ok), "") << text;
    ASSERT_TRUE(ok);
    EXPECT_EQ(settings(second), settings(first)) << text;
    EXPECT_EQ(text_of(second), text);
  }
}

TEST_F(LasReadOpenerTest, ListFilesInEveryForm) {
  TempDir temp;
  std::string long_name(5000, 'n');
  long_name += ".las";
  temp.write("list.txt",
             "7,1000,0,0,10,10,a.las\n"
             "8,2000,20,0,30,10, b.las\r\n"
             "9,c with blank.las\n"
             "\n"
             "   \t \r\n"
             "plain.las  \t\n" +
                 long_name + "\r\n" + "d.las");
  LASreadOpener opener;
  ArgVector args({"-lof", temp.file("list.txt")});
  EXPECT_EQ(parse(opener, args), "");
  ASSERT_EQ(opener.get_file_name_number(), 6u);
  EXPECT_STREQ(opener.get_file_name(0), "a.las");
  EXPECT_STREQ(opener.get_file_name(1), "b.las");
  EXPECT_STREQ(opener.get_file_name(2), "c with blank.las");
  EXPECT_STREQ(opener.get_file_name(3), "plain.las");
  EXPECT_EQ(std::string(opener.get_file_name(4)), long_name);
  EXPECT_STREQ(opener.get_file_name(5), "d.las");
  EXPECT_STREQ(opener.get_file_name(), "a.las");

  // "-unique" before the list refuses a second listing.
  temp.write("twice.txt", "x.las\nx.las\n1,x.las\ny.las\n");
  LASreadOpener unique;
  ArgVector unique_args({"-unique", "-lof", temp.file("twice.txt")});
  parse(unique, unique_args);
  EXPECT_EQ(unique.get_file_name_number(), 2u);
}

TEST_F(LasReadOpenerTest, NeighboursByBoundsOrAll) {
  TempDir temp;
  // Four tiles in a row, 100 wide, and one far away.
  temp.write("tiles.txt",
             "0,10,0,0,100,100,t0.las\n"
             "1,10,100,0,200,100,t1.las\n"
             "2,10,200,0,300,100,t2.las\n"
             "3,10,300,0,400,100,t3.las\n"
             "4,10,5000,0,5100,100,far.las\n");
  OpenerProbe opener;
  ArgVector args({"-lof", temp.file("tiles.txt"), "-buffered", "10"});
  parse(opener, args);
  EXPECT_TRUE(opener.is_buffered());
  EXPECT_EQ(opener.buffered_neighbors("t1.las", 1), std::vector<std::string>({"t0.las", "t2.las"}));
  EXPECT_EQ(opener.buffered_neighbors("t0.las", 0), std::vector<std::string>({"t1.las"}));
  EXPECT_EQ(opener.buffered_neighbors("far.las", 4), std::vector<std::string>());
  // A name given to open: every other name.
  EXPECT_EQ(opener.buffered_neighbors("t3.las", -1).size(), 4u);

  // Without bounds every other input file is a neighbour.
  OpenerProbe plain;
  ArgVector plain_args({"-i", "a.las", "b.las", "c.las", "-buffered", "10"});
  parse(plain, plain_args);
  EXPECT_EQ(plain.buffered_neighbors("b.las", 1), std::vector<std::string>({"a.las", "c.las"}));

  // A file added without bounds to a list with bounds may lie anywhere.
  OpenerProbe mixed;
  ArgVector mixed_args({"-i", "loose.las", "-lof", temp.file("tiles.txt"), "-buffered", "10"});
  parse(mixed, mixed_args);
  EXPECT_EQ(mixed.buffered_neighbors("far.las", 5), std::vector<std::string>({"loose.las"}));
  EXPECT_EQ(mixed.buffered_neighbors("loose.las", 0).size(), 5u);

  // Neighbour lists with bounds; a neighbour without bounds may lie anywhere.
  temp.write("neighbors.txt", "0,10,90,0,190,100,n1.las\n1,10,1000,0,1100,100,n2.las\nn3.las\n");
  temp.write("main.txt", "0,10,0,0,100,100,t0.las\n");
  OpenerProbe single;
  ArgVector single_args({"-lof", temp.file("main.txt"), "-neighbors_lof", temp.file("neighbors.txt"), "-buffered", "5"});
  parse(single, single_args);
  EXPECT_EQ(single.get_neighbor_file_name_number(), 3u);
  EXPECT_EQ(single.buffered_neighbors("t0.las", 0), std::vector<std::string>({"n1.las", "n3.las"}));
  // Without the main file's bounds every neighbour may overlap it.
  OpenerProbe unbounded;
  ArgVector unbounded_args({"-i", "t0.las", "-neighbors_lof", temp.file("neighbors.txt"), "-buffered", "5"});
  parse(unbounded, unbounded_args);
  EXPECT_EQ(unbounded.buffered_neighbors("t0.las", 0).size(), 3u);
}

TEST_F(LasReadOpenerTest, ReaderClassByNameAndSettings) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* file;
    std::function<bool(LASreader*)> is_expected;
  } cases[] = {
      {"LAS plain", {}, "a.las", [](LASreader* r) {
         return dynamic_cast<LASreaderLAS*>(r) && !dynamic_cast<LASreaderLASrescale*>(r) &&
                !dynamic_cast<LASreaderLASreoffset*>(r);
       }},
      {"LAS rescale", {"-rescale", "0.1", "0.1", "0.1"}, "a.LAS",
       [](LASreader* r) { return dynamic_cast<LASreaderLASrescale*>(r) && !dynamic_cast<LASreaderLASreoffset*>(r); }},
      {"LAS rescale auto reoffset", {"-rescale", "0.1", "0.1", "0.1", "-auto_reoffset"}, "a.vmb",
       [](LASreader* r) { return dynamic_cast<LASreaderLASrescalereoffset*>(r) != nullptr; }},
      {"LAS reoffset", {"-reoffset", "1", "2", "3"}, "a.Vmb",
       [](LASreader* r) { return dynamic_cast<LASreaderLASreoffset*>(r) && !dynamic_cast<LASreaderLASrescale*>(r); }},
      {"LAS auto reoffset", {"-auto_reoffset"}, "a.las",
       [](LASreader* r) { return dynamic_cast<LASreaderLASreoffset*>(r) && !dynamic_cast<LASreaderLASrescale*>(r); }},
      {"LAS offset adjust without transform", {"-offset_adjust"}, "a.las",
       [](LASreader* r) { return dynamic_cast<LASreaderLASreoffset*>(r) != nullptr; }},
      {"LAS offset adjust with transform and rescale", {"-offset_adjust", "-faf", "-rescale", "1", "1", "1"}, "a.las",
       [](LASreader* r) { return !dynamic_cast<LASreaderLASrescale*>(r) && !dynamic_cast<LASreaderLASreoffset*>(r); }},
      {"LAS both", {"-rescale", "1", "1", "1", "-reoffset", "0", "0", "0"}, "a.las",
       [](LASreader* r) { return dynamic_cast<LASreaderLASrescalereoffset*>(r) != nullptr; }},
      {"BIN in capitals", {}, "a.BIN", [](LASreader* r) {
         return dynamic_cast<LASreaderBIN*>(r) && !dynamic_cast<LASreaderBINrescale*>(r) &&
                !dynamic_cast<LASreaderBINreoffset*>(r);
       }},
      {"Bin rescale", {"-rescale_z", "0.1"}, "a.Bin", [](LASreader* r) {
         auto* v = dynamic_cast<LASreaderBINrescale*>(r);
         return v && !dynamic_cast<LASreaderBINreoffset*>(r) && v->new_scale_factor[2] == 0.1 &&
                v->new_scale_factor[0] == 0.0;
       }},
      {"SHP reoffset", {"-reoffset", "1", "2", "3"}, "a.shp", [](LASreader* r) {
         auto* v = dynamic_cast<LASreaderSHPreoffset*>(r);
         return v && !dynamic_cast<LASreaderSHPrescale*>(r) && v->new_offset[1] == 2.0;
       }},
      {"ASC both", {"-rescale", "1", "1", "1", "-reoffset", "0", "0", "0"}, "a.asc",
       [](LASreader* r) { return dynamic_cast<LASreaderASCrescalereoffset*>(r) != nullptr; }},
      {"BIL offset adjust with reoffset and no transform", {"-offset_adjust", "-reoffset", "1", "1", "1"}, "a.bil",
       [](LASreader* r) { return dynamic_cast<LASreaderBILreoffset*>(r) != nullptr; }},
      {"DTM offset adjust with transform", {"-offset_adjust", "-faf", "-reoffset", "1", "1", "1"}, "a.dtm",
       [](LASreader* r) { return dynamic_cast<LASreaderDTM*>(r) && !dynamic_cast<LASreaderDTMreoffset*>(r); }},
      {"QFIT", {}, "a.qi", [](LASreader* r) { return dynamic_cast<LASreaderQFIT*>(r) != nullptr; }},
      {"PLY takes its settings", {"-rescale", "0.5", "0.5", "0.5", "-iscale_intensity", "2"}, "a.ply",
       [](LASreader* r) {
         auto* v = dynamic_cast<LASreaderPLY*>(r);
         return v && v->has_scale_factor && v->scale_factor[0] == 0.5 && !v->has_offset && v->scale_intensity == 2.0f;
       }},
      {"text takes its settings",
       {"-ipts", "-iptx", "-itranslate_intensity", "5", "-reoffset", "1", "2", "3", "-iadd_extra", "1", "n", "d"},
       "points.xyz", [](LASreader* r) {
         auto* v = dynamic_cast<LASreaderTXT*>(r);
         return v && v->pts && !v->ptx && v->translate_intensity == 5.0f && v->has_offset && v->offset[2] == 3.0 &&
                !v->has_scale_factor && v->attributes.size() == 1 && v->attributes[0].name == "n";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenerProbe opener;
    ArgVector args(c.args);
    parse(opener, args);
    LASreader* reader = opener.construct_reader(OpenerProbe::input_kind(c.file));
    EXPECT_TRUE(c.is_expected(reader));
    delete reader;
  }
}

}  // namespace

// Filter and transform stay only with work to do; a failed parse gives up the
// one it was parsing, and "-filtered_transform" moves the filter into the
// transform. A second parse on the same opener reuses what the first left.
TEST_F(LasReadOpenerTest, FilterAndTransformKeptOnlyWithWork) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
    bool ok;
    bool filter, transform, filter_in_transform;
  } cases[] = {
      {{"-keep_class"}, "ERROR: '-keep_class' needs at least 1 argument: classification\n", false, false, false, false},
      {{"-keep_class", "2", "-set_classification"},
       "ERROR: '-set_classification' needs 1 argument: classification\n",
       false,
       true,
       false,
       false},
      {{"-keep_class", "2", "-set_classification", "3"}, "", true, true, true, false},
      {{"-keep_class", "2", "-set_classification", "3", "-filtered_transform"}, "", true, false, true, true},
      {{"-set_classification", "3", "-filtered_transform"},
       "WARNING: no LASfilter specified. '-filtered_transform' has no effect.\n",
       true,
       false,
       true,
       false},
      {{"-keep_class", "2", "-filtered_transform"},
       "WARNING: no LAStransform specified. '-filtered_transform' has no effect.\n",
       true,
       true,
       false,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    LASreadOpener opener;
    for (int round = 0; round < 2; round++) {
      SCOPED_TRACE(round);
      ArgVector args(c.args);
      bool ok = !c.ok;
      EXPECT_EQ(parse(opener, args, &ok), c.message);
      EXPECT_EQ(ok, c.ok);
      EXPECT_EQ(opener.get_filter() != nullptr, c.filter);
      ASSERT_EQ(opener.get_transform() != nullptr, c.transform);
      if (c.transform) {
        EXPECT_EQ(opener.get_transform()->filter != nullptr, c.filter_in_transform);
      }
    }
  }
}
