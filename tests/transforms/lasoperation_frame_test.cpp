// What every operation that leaves the coordinates alone shares, whichever
// family built it: it passes the corners through to offset adjustment, and
// under offset adjustment it carries the point into its target quantisation
// before it changes the point's other fields.
#include <gtest/gtest.h>

#include <string>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"
#include "support/transform_check.hpp"
#include "transforms/lastransform.hpp"

namespace {

// A format 3 point (with colour) and the quantisation it is read in.
struct ColourPoint {
  LASscaling scaling;
  LASpoint point;
  ColourPoint() { EXPECT_TRUE(point.init(&scaling, nullptr, (U8)3, (U16)34)); }
};

TEST(ValuesOnlyOperations, RequantiseThePointUnderOffsetAdjustment) {
  TempDir dir;
  dir.write("map.txt", "10 20\n");
  dir.write("colours.txt", "0 1 2 3\n");
  dir.write("values.txt", "1.5\n");
  const std::string map = dir.file("map.txt");
  const std::string options[] = {
      // colour switches and copies, and the intensity map
      "-switch_R_G",
      "-copy_R_into_intensity",
      "-copy_intensity_into_NIR",
      "-switch_RGB_intensity_into_CIR",
      "-map_intensity " + map,
      // one of each other family whose operations change fields only
      "-set_intensity 7",
      "-scale_RGB 2 2 2",
      "-set_gps_time 5",
      "-set_classification 2",
      "-set_user_data 5",
      "-map_point_source " + map,
      "-copy_intensity_into_register 0",
      "-copy_register_into_R 0",
      "-set_attribute 0 1",
      "-copy_attribute_into_G 0",
      "-map_attribute_into_RGB 0 " + dir.file("colours.txt"),
      "-load_attribute_from_text 0 " + dir.file("values.txt"),
  };
  for (const std::string& option : options) {
    SCOPED_TRACE(option);
    LAStransform transform;
    ASSERT_TRUE(transform.parse(option.c_str()));
    ASSERT_EQ(transform.op_count, 1u);
    LASoperation& op = *transform.op_list[0];

    F64* corner = op.transform_coords_for_offset_adjustment(1.5, -2.5, 3.25);
    ASSERT_NE(corner, nullptr);
    EXPECT_EQ(corner[0], 1.5);
    EXPECT_EQ(corner[1], -2.5);
    EXPECT_EQ(corner[2], 3.25);
    delete[] corner;

    LASheader box;
    box.min_x = box.max_x = 1000.0;
    box.min_y = box.max_y = 1000.0;
    box.min_z = box.max_z = 1003.0;
    adjust_offsets(op, box);
    ColourPoint p;
    p.point.X = 100;   // 1001: (1001 - 900) / 0.001 = 101000 in the target
    p.point.Y = -200;  // 998 -> 98000
    p.point.Z = 300;   // 1003 -> 103000
    transform.transform(&p.point);
    EXPECT_EQ(p.point.X, 101000);
    EXPECT_EQ(p.point.Y, 98000);
    EXPECT_EQ(p.point.Z, 103000);
    EXPECT_EQ(box.max_x, 1001.0);
    EXPECT_EQ(box.min_y, 998.0);
    EXPECT_EQ(op.overflow_count, 0);
  }
}

// The field still changes after the re-quantisation, as without it.
TEST(ValuesOnlyOperations, ChangeTheirFieldAfterRequantising) {
  TempDir dir;
  dir.write("map.txt", "10 20\n");
  LAStransform transform;
  ASSERT_TRUE(transform.parse(("-switch_R_G -map_intensity " + dir.file("map.txt")).c_str()));
  ASSERT_EQ(transform.op_count, 2u);
  LASheader box;
  adjust_offsets(*transform.op_list[0], box);
  adjust_offsets(*transform.op_list[1], box);
  // The second reads in the quantisation the first wrote.
  for (int axis = 0; axis < 3; axis++) {
    transform.op_list[1]->source_offset[axis] = 900.0;
    transform.op_list[1]->source_scale[axis] = 0.001;
  }
  ColourPoint p;
  p.point.X = 100;
  p.point.rgb[0] = 1;
  p.point.rgb[1] = 2;
  p.point.intensity = 10;
  transform.transform(&p.point);
  EXPECT_EQ(p.point.X, 101000);
  EXPECT_EQ(p.point.rgb[0], 2);
  EXPECT_EQ(p.point.rgb[1], 1);
  EXPECT_EQ(p.point.intensity, 20);
}

// Through the program: the offsets chosen for the points are not the file's,
// and every point still comes out where it was.
TEST(ValuesOnlyOperations, KeepEveryPointInPlaceWhenTheOffsetsMove) {
  TempDir dir;
  dir.write("map.txt", "1 2\n");
  lasfix::LasFile in;
  in.header.x_offset = 3000123;
  in.header.y_offset = 2000;
  for (int i = 0; i < 10; i++) {
    lasfix::Point p;
    p.X = 100 * i;
    p.Y = -50 * i;
    p.Z = 7 * i;
    in.points.push_back(p);
  }
  dir.write("in.las", in.bytes());
  for (const char* option : {"-switch_R_G", "-map_intensity"}) {
    SCOPED_TRACE(option);
    std::vector<std::string> args = {"-i", dir.file("in.las"), "-o", dir.file("out.las"), "-every_nth", "1",
                                     "-offset_adjust", option};
    if (std::string(option) == "-map_intensity") args.push_back(dir.file("map.txt"));
    ToolResult r = run_voxsifter(args);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    // The middle x in units of 0.01, cut to a multiple of 1e7 units: x moves
    // 123 down in offset, 12300 up in raw units; y and z keep their offsets.
    EXPECT_EQ(out.header.x_offset, 3e6);
    EXPECT_EQ(out.header.y_offset, 2000);
    EXPECT_EQ(out.header.z_offset, 0);
    ASSERT_EQ(out.points.size(), in.points.size());
    for (size_t k = 0; k < in.points.size(); k++) {
      EXPECT_EQ(out.points[k].X, in.points[k].X + 12300) << k;
      EXPECT_EQ(out.points[k].Y, in.points[k].Y) << k;
      EXPECT_EQ(out.points[k].Z, in.points[k].Z) << k;
    }
  }
}

}  // namespace
