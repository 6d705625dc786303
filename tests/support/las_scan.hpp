// Checks a written LAS file against a scan of its own point records: the
// header must describe exactly the points that follow it.
#pragma once

#include "support/las_fixture.hpp"

// Point count, counts by return (legacy and extended, as the version and the
// point format keep them) and bounds of `out`'s header against its points.
void expect_header_matches_points(const lasfix::Parsed& out);
