// Headers that lie are not believed, through the built binary: counts that
// disagree with each other or with the bytes, EVLR starts inside the header or
// the points, formats their version does not have, record layouts that form
// no point format, scales and bounds that merge or lose points, header boxes
// that miss points, and a LAS 1.3 header cut to 227 bytes. Every run's input
// is compared byte for byte afterwards, and every output against a scan of its
// own points.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>

#include "support/header_scan.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

namespace {

using lasfix::LasFile;
using lasfix::Point;

// `count` distinct points of `format` along x, one metre apart at scale 0.01.
LasFile line(uint8_t version_minor, uint8_t format, int count) {
  LasFile f;
  f.header.version_minor = version_minor;
  f.header.point_data_format = format;
  for (int i = 0; i < count; i++) {
    Point p = lasfix::varied_point(format, (uint32_t)i);
    p.X = 100 * i;
    p.Y = 50;
    p.Z = 20;
    f.points.push_back(p);
  }
  return f;
}

struct HeaderCase {
  const char* name;
  std::function<LasFile()> file;               // in.las before the damage
  std::function<void(lasfix::Built&)> damage;  // applied to its bytes
  std::vector<std::string> options;            // after -i in.las -o out.las
  int exit_code;
  std::string err;
  // The points the output must hold, in order, from the points of the file
  // as its records hold them; none: no output is written.
  std::function<std::optional<std::vector<Point>>(const std::vector<Point>& in)> expected;
  // Further checks of the output.
  std::function<void(const lasfix::Parsed& out)> check = [](const lasfix::Parsed&) {};
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

void undamaged(lasfix::Built&) {}
std::optional<std::vector<Point>> same_points(const std::vector<Point>& in) { return in; }
std::optional<std::vector<Point>> no_output(const std::vector<Point>&) { return std::nullopt; }

class HeaderThatLies : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderThatLies, IsNotBelieved) {
  const HeaderCase& c = GetParam();
  TempDir dir;
  const LasFile file = c.file();
  lasfix::Built built = file.build();
  c.damage(built);
  const std::string& input = built.bytes;
  dir.write("in.las", input);
  ToolRun run;
  run.cwd = dir.path();
  run.args = {"-i", "in.las", "-o", "out.las"};
  run.args.insert(run.args.end(), c.options.begin(), c.options.end());
  const ToolResult r = run_tool(run);
  EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
  EXPECT_EQ(without_times(r.err), c.err);
  EXPECT_EQ(dir.read("in.las"), input);
  std::vector<Point> points;
  const uint8_t format = file.header.point_data_format & 0x3F;
  for (const Point& p : file.points) {
    const std::string record = lasfix::encode_point(p, format, built.record_length);
    points.push_back(lasfix::decode_point(record.data(), format, built.record_length));
  }
  const std::optional<std::vector<Point>> expected = c.expected(points);
  if (!expected) {
    EXPECT_FALSE(dir.exists("out.las"));
    return;
  }
  ASSERT_TRUE(dir.exists("out.las"));
  const lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
  expect_header_matches_points(out);
  EXPECT_EQ(out.points, *expected);
  c.check(out);
}

// The tool opens its input twice (second pass), so the reader's warnings
// show twice.
std::string twice(const std::string& warning) { return warning + warning; }
const std::string DONE = "done with 'out.las'. total time T sec.\n";
const std::vector<std::string> ALL = {"-every_nth", "1"};

// `count` points of LAS 1.4 whose header claims other counts; with `evlr`
// an EVLR follows the points.
std::function<LasFile()> claiming(uint8_t format, int count, std::optional<uint32_t> legacy,
                                  std::optional<uint64_t> extended, bool evlr = false) {
  return [=] {
    LasFile f = line(4, format, count);
    if (legacy) f.header.number_of_point_records = *legacy;
    if (extended) f.header.extended_number_of_point_records = *extended;
    if (evlr) f.evlrs.push_back({"LASF_Spec", 3, std::string(200, 'e')});
    return f;
  };
}

std::string counts_differ(uint32_t legacy, uint64_t extended, uint64_t read) {
  return twice("WARNING: number of point records " + std::to_string(legacy) + " and extended number of point records " +
               std::to_string(extended) + " differ. reading " + std::to_string(read) + " points\n") +
         DONE;
}

std::vector<HeaderCase> count_cases() {
  return {
      // 30 points, but the legacy count says 2: the bytes hold all 30.
      {"legacy_count_below_the_points", claiming(1, 30, 2, {}), undamaged, ALL, 1, counts_differ(2, 30, 30),
       same_points},
      // 3 points and an EVLR, but the legacy count says 3000: reading 3000
      // would take the EVLR (and beyond) for points.
      {"legacy_count_beyond_the_points", claiming(1, 3, 3000, {}, true), undamaged, ALL, 1, counts_differ(3000, 3, 3),
       same_points,
       [](const lasfix::Parsed& out) {
         ASSERT_EQ(out.evlrs.size(), 1u);
         EXPECT_EQ(out.evlrs[0].payload, std::string(200, 'e'));
       }},
      // An extended count of 2^63 and more turned negative: nothing was read.
      {"extended_count_beyond_2_to_63", claiming(6, 12, {}, (1ull << 63) + 5), undamaged, ALL, 1,
       twice("WARNING: extended number of point records 9223372036854775813 is too large. reading 12 points\n") + DONE,
       same_points},
      // Some writers leave the extended count at 0 beside the legacy one.
      {"extended_count_left_out", claiming(1, 6, {}, 0), undamaged, ALL, 0, DONE, same_points},
      // Both counts beyond the file: the block holds what it holds.
      {"both_counts_beyond_the_block", claiming(1, 5, 7, 9), undamaged, ALL, 1, counts_differ(7, 9, 5), same_points},
  };
}

// 8 points of LAS 1.4 format 1 with one EVLR after them; the damage moves
// the EVLR start (and sets the EVLR count).
LasFile eight_and_an_evlr() {
  LasFile f = line(4, 1, 8);
  f.evlrs.push_back({"LASF_Spec", 3, std::string(20, 'e')});
  return f;
}

void set_evlrs(lasfix::Built& b, uint64_t start, uint32_t count) {
  lasfix::put_u64(b.bytes, lasfix::header_offset("start_of_first_extended_variable_length_record"), start);
  lasfix::put_u32(b.bytes, lasfix::header_offset("number_of_extended_variable_length_records"), count);
}

void expect_no_evlrs(const lasfix::Parsed& out) {
  EXPECT_TRUE(out.evlrs.empty());
  EXPECT_EQ(*out.header.start_of_first_extended_variable_length_record, 0u);
  EXPECT_EQ(*out.header.number_of_extended_variable_length_records, 0u);
}

std::vector<HeaderCase> evlr_cases() {
  return {
      {"evlr_start_inside_the_header", eight_and_an_evlr, [](lasfix::Built& b) { set_evlrs(b, 100, 1); }, ALL, 1,
       twice("WARNING: start of first extended variable length record 100 lies inside the header. ignoring 1 "
             "EVLRs\n") +
           DONE,
       same_points, expect_no_evlrs},
      {"evlr_start_inside_the_points", eight_and_an_evlr,
       [](lasfix::Built& b) { set_evlrs(b, b.point_position(3), 1); }, ALL, 1,
       twice("WARNING: start of first extended variable length record 459 lies inside the points. ignoring 1 "
             "EVLRs\n") +
           DONE,
       same_points, expect_no_evlrs},
      {"evlr_start_without_evlrs", eight_and_an_evlr, [](lasfix::Built& b) { set_evlrs(b, 500, 0); }, ALL, 1,
       twice("WARNING: start of first extended variable length record is 500 but there are none. ignoring it\n") + DONE,
       same_points, expect_no_evlrs},
      // Pointing at the end of the points without EVLRs is common and harmless.
      {"evlr_start_at_the_end_without_evlrs", eight_and_an_evlr,
       [](lasfix::Built& b) { set_evlrs(b, b.point_position(8), 0); }, ALL, 0, DONE, same_points, expect_no_evlrs},
  };
}

std::vector<HeaderCase> layout_cases() {
  return {
      // LAS 1.2 cannot say how many points of format 6 it holds but by the
      // legacy count, which the output keeps (it was 0 over all the records).
      {"las12_declares_format_6", [] { return line(2, 6, 10); }, undamaged, ALL, 1,
       std::string("WARNING: LAS version 1.2 does not allow point format 6\n") +
           twice("WARNING: LAS version 1.2 does not allow point format 6\n") + DONE,
       same_points,
       [](const lasfix::Parsed& out) {
         EXPECT_EQ(out.header.version_minor, 2);
         EXPECT_EQ(*out.header.number_of_point_records, 10u);
       }},
      // Records shorter than their format were read across each other.
      {"record_below_base_size", [] { return line(2, 1, 4); },
       [](lasfix::Built& b) { lasfix::put_u16(b.bytes, lasfix::header_offset("point_data_record_length"), 20); }, ALL,
       3, "ERROR: point size 20 too small by 8 bytes for point type 1\n", no_output},
      // Records of format 3's length, described by a compressor record whose
      // items (GPS time after colour) form no LAS point format.
      {"items_form_no_point_format",
       [] {
         LasFile f = line(2, 3, 4);
         lasfix::Compressor c;
         c.compressor = 0;
         c.items = {{6, 20, 0}, {8, 6, 0}, {7, 8, 0}};
         f.vlrs.push_back({"vembra encoded", 22204, lasfix::compressor_payload(c)});
         return f;
       },
       undamaged, ALL, 3, "ERROR: the point records of 'in.las' form no LAS point format\n", no_output},
      // A real LAS 1.3 file whose header ends after 227 bytes: the output has
      // the standard header of LAS 1.3.
      {"las13_header_of_227_bytes", [] { return line(2, 1, 6); },
       [](lasfix::Built& b) { lasfix::put_u8(b.bytes, lasfix::header_offset("version_minor"), 3); }, ALL, 1,
       twice("WARNING: for LAS 1.3 header_size should at least be 235 but it is only 227\n") + DONE, same_points,
       [](const lasfix::Parsed& out) {
         EXPECT_EQ(out.header.version_minor, 3);
         EXPECT_EQ(*out.header.header_size, 235);
         EXPECT_EQ(*out.header.offset_to_point_data, 235u);
       }},
  };
}

std::vector<HeaderCase> scale_cases() {
  auto with = [](void (*change)(LasFile&)) {
    return [change] {
      LasFile f = line(2, 1, 50);
      change(f);
      return f;
    };
  };
  return {
      {"zero_scale",
       with([](LasFile& f) { f.header.x_scale_factor = 0; }),
       undamaged,
       {},
       3,
       "ERROR: x scale factor is zero.\n",
       no_output},
      {"nan_scale",
       with([](LasFile& f) { f.header.y_scale_factor = NAN; }),
       undamaged,
       {},
       3,
       "ERROR: y scale factor is nan but must be a finite number\n",
       no_output},
      {"infinite_scale",
       with([](LasFile& f) { f.header.z_scale_factor = INFINITY; }),
       undamaged,
       {},
       3,
       "ERROR: z scale factor is inf but must be a finite number\n",
       no_output},
      {"scale_too_small",
       with([](LasFile& f) {
         f.header.x_scale_factor = 1e-300;
         f.header.x_offset = 300000;
       }),
       undamaged,
       {},
       3,
       "ERROR: x scale factor 1e-300 is too small: raw coordinates vanish next to the x offset 300000\n",
       no_output},
      {"nan_bound",
       with([](LasFile& f) { f.header.max_y = NAN; }),
       undamaged,
       {},
       3,
       "ERROR: header.max_y is nan but must be a finite number\n",
       no_output},
      // A step so small that the grid would run out of indices and merge
      // distinct voxels (5000 points became 4).
      {"step_too_small",
       with([](LasFile&) {}),
       undamaged,
       {"-step", "1e-300"},
       3,
       "ERROR: '-step' needs 1 argument: <step size> but '1e-300' in not a valid step for the coordinates of "
       "'in.las'\n",
       no_output},
      {"step_z_too_small",
       with([](LasFile&) {}),
       undamaged,
       {"-step_z", "1e-14"},
       3,
       "ERROR: '-step_z' needs 1 argument: <step size> but '1e-14' in not a valid step for the coordinates of "
       "'in.las'\n",
       no_output},
  };
}

// 20 points one metre apart along x, 0 to 19 m, at y 0.5 and z 0.2, with a
// box that claims 0 to 0.5 m on every axis: only the first lies inside.
LasFile wrong_box() {
  LasFile f = line(2, 1, 20);
  f.header.min_x = f.header.min_y = f.header.min_z = 0;
  f.header.max_x = f.header.max_y = f.header.max_z = 0.5;
  return f;
}

const std::string OUTSIDE =
    "WARNING: 19 points of 'in.las' lie outside the bounding box of its header. their voxels continue the grid "
    "beyond it\n";

std::vector<HeaderCase> box_cases() {
  return {
      // Each point keeps a voxel of its own; the 19 beyond the box had
      // collapsed into the box's one voxel with the first.
      {"points_outside_the_box", wrong_box, undamaged, {"-step", "1"}, 1, OUTSIDE + DONE, same_points},
      // Their cell centres lie among the data, not at the edge of the box.
      {"cell_centres_outside_the_box",
       wrong_box,
       undamaged,
       {"-step", "1", "-use_cell_center"},
       1,
       OUTSIDE + DONE,
       [](const std::vector<Point>& in) {
         std::vector<Point> moved = in;
         for (Point& p : moved) {
           p.X += 50;  // x k m: centre k + 0.5 m
           p.Y = 50;   // y 0.5 m, on the box's edge: centre 0.5 m
           p.Z = 50;   // z 0.2 m: centre 0.5 m
         }
         return std::optional<std::vector<Point>>(moved);
       }},
      // At the edge of the raw range the centre of a cell cannot be held:
      // the point stays where it was.
      {"cell_centre_beyond_the_raw_range",
       [] {
         LasFile f = line(2, 1, 2);
         f.header.x_scale_factor = 1;
         f.points[0].X = 2147483647;
         f.points[1].X = 2147483600;
         return f;
       },
       undamaged,
       {"-step", "40", "-use_cell_center"},
       1,
       "WARNING: 1 points of 'in.las' stay where they were: the scale and offset cannot hold their cell centre\n" +
           DONE,
       [](const std::vector<Point>& in) {
         std::vector<Point> out = in;
         out[1].X = 2147483620;  // cell 0 from 2147483600: its centre 20 further
         out[1].Y = 2050;        // one cell from 0.5 m: centre 20.5 m
         out[1].Z = 2020;        // one cell from 0.2 m: centre 20.2 m
         return std::optional<std::vector<Point>>(out);
       }},
  };
}

// A box that claims a tenth of the data, from the right minimum: the grid
// continued beyond it is the grid of the right box, so every rule keeps the
// very points it keeps with the right box (a warning aside).
TEST(WrongBox, ThinsAsTheRightBoxFromTheSameMinimum) {
  LasFile right = line(2, 1, 0);
  for (uint32_t i = 0; i < 3000; i++) {
    Point p = lasfix::varied_point(1, i);
    p.X = (int32_t)((i * 7919u) % 5000u);
    p.Y = (int32_t)((i * 104729u) % 3000u);
    p.Z = (int32_t)((i * 1299709u) % 700u);
    right.points.push_back(p);
  }
  LasFile wrong = right;
  const lasfix::Header& box = right.build().header;
  wrong.header.min_x = *box.min_x;
  wrong.header.min_y = *box.min_y;
  wrong.header.min_z = *box.min_z;
  wrong.header.max_x = *box.min_x + (*box.max_x - *box.min_x) / 10;
  wrong.header.max_y = *box.min_y + (*box.max_y - *box.min_y) / 10;
  wrong.header.max_z = *box.min_z + (*box.max_z - *box.min_z) / 10;
  for (const std::vector<std::string>& options :
       std::vector<std::vector<std::string>>{{"-step", "3"},
                                             {"-step", "2", "-highest", "-count_to_intensity"},
                                             {"-step", "4", "-closest", "-use_cell_center"},
                                             {"-step", "5", "-random_cell_occurrence", "-seed", "7"}}) {
    SCOPED_TRACE(options[1] + " " + options.back());
    TempDir dir;
    std::vector<lasfix::Parsed> outputs;
    for (const LasFile* f : {&right, &wrong}) {
      const std::string input = f->bytes();
      dir.write("in.las", input);
      ToolRun run;
      run.cwd = dir.path();
      run.args = {"-i", "in.las", "-o", "out.las"};
      run.args.insert(run.args.end(), options.begin(), options.end());
      const ToolResult r = run_tool(run);
      EXPECT_EQ(r.exit_code, f == &right ? 0 : 1) << r.err;
      EXPECT_EQ(dir.read("in.las"), input);
      outputs.push_back(lasfix::parse(dir.read("out.las")));
      expect_header_matches_points(outputs.back());
    }
    EXPECT_GT(outputs[0].points.size(), 100u);
    EXPECT_EQ(outputs[1].points, outputs[0].points);
  }
}

INSTANTIATE_TEST_SUITE_P(Counts, HeaderThatLies, ::testing::ValuesIn(count_cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Evlrs, HeaderThatLies, ::testing::ValuesIn(evlr_cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Layouts, HeaderThatLies, ::testing::ValuesIn(layout_cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Scales, HeaderThatLies, ::testing::ValuesIn(scale_cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Boxes, HeaderThatLies, ::testing::ValuesIn(box_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
