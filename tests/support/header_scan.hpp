// A check of a written file's header against a scan of its points, for every
// test that reads back an output of the tool.
#pragma once

#include "support/las_fixture.hpp"

// The header must describe the points in the file: count, counts by return
// (legacy and extended) and bounds, computed here from the point records.
void expect_header_matches_points(const lasfix::Parsed& out);
