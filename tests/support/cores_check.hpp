// The option text that child processes are given must rebuild what the
// parent parsed: two runs of the built program on copies of the same input
// files, one in a single process and one spread over child processes
// ("-cores 2"), must write the same bytes.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/las_fixture.hpp"
#include "support/run_tool.hpp"
#include "support/temp_dir.hpp"

// `files` are names (ending in ".las") and their bytes; the outputs are named
// after the inputs ("a.las" gives "a_1.las").
inline void expect_children_write_the_same(const std::vector<std::pair<std::string, std::string>>& files,
                                           const std::vector<std::string>& options) {
  TempDir one, many;
  std::vector<std::string> args_one = {"-i"}, args_many = {"-i"};
  for (const auto& [name, bytes] : files) {
    one.write(name, bytes);
    many.write(name, bytes);
    args_one.push_back(one.file(name));
    args_many.push_back(many.file(name));
  }
  args_one.insert(args_one.end(), options.begin(), options.end());
  args_many.insert(args_many.end(), options.begin(), options.end());
  args_many.insert(args_many.end(), {"-cores", "2"});
  ToolResult r = run_voxsifter(args_one);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = run_voxsifter(args_many);
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (const auto& file : files) {
    const std::string output = file.first.substr(0, file.first.size() - 4) + "_1.las";
    SCOPED_TRACE(output);
    const std::string bytes = one.read(output);
    EXPECT_FALSE(lasfix::parse(bytes).points.empty());
    EXPECT_TRUE(bytes == many.read(output));
  }
}
