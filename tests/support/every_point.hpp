// Running the built voxsifter so that it thins nothing: every point read from
// dir/in.las (after the area and index options given) is written, in order,
// to dir/out.las, which is parsed back. Warnings and errors only on stderr
// (-silent), so that no timing lines need masking.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

struct Thinned {
  ToolResult result;
  std::vector<lasfix::Point> points;
};

// A read that never ends fails at `timeout_seconds`.
inline Thinned run_every_point(const TempDir& dir, const std::vector<std::string>& options,
                               int timeout_seconds = 120) {
  ToolRun run;
  run.args = {"-i", dir.file("in.las"), "-every_nth", "1", "-silent", "-o", dir.file("out.las")};
  run.args.insert(run.args.end(), options.begin(), options.end());
  run.timeout_seconds = timeout_seconds;
  std::remove(dir.file("out.las").c_str());
  Thinned thinned{run_tool(run), {}};
  if (dir.exists("out.las")) {
    const lasfix::Parsed out = lasfix::parse(dir.read("out.las"));
    EXPECT_EQ(out.point_count(), out.points.size());
    thinned.points = out.points;
  }
  return thinned;
}
