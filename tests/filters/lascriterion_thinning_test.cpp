// The thinning criteria: every n-th, random fraction, grid and time cells.
// Their verdicts on a fixed run of points and the option text; that a reset
// makes a second pass repeat the first; grid cells far apart, across the
// blocks the grid keeps, beyond the 64-bit range and at NaN; and the messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/filter_check.hpp"
#include "support/halting_off.hpp"

namespace {

struct At {
  F64 x, y, t;
};

// 'k' for every point kept, 'd' for every point dropped, in order. The point
// lies at (x, y) exactly: its raw integers are 0 and the offsets carry x and y.
std::string judge(LASfilter& filter, const std::vector<At>& points) {
  std::string out;
  LASscaling scaling;
  scaling.x_scale_factor = scaling.y_scale_factor = 1.0;
  LASpoint point;
  point.scaling = &scaling;
  point.has_gps_time = true;
  for (const At& p : points) {
    scaling.x_offset = p.x;
    scaling.y_offset = p.y;
    point.gps_time = p.t;
    out += filter.filter(&point) ? 'd' : 'k';
  }
  return out;
}

// Grid cells of 0.5: the first four give pass, drop, pass, pass; the fifth
// shares the cell of the fourth (left of where its row began), the sixth
// starts a lower row, the last repeats the first cell. Times in cells of 1:
// 0 0 0 1 -1 1 1; the first point of cell 0 and the second share a pulse.
const std::vector<At> POINTS = {
    {0.1, 0.1, 0.2},   {0.4, 0.4, 0.2},  {0.6, 0.1, 0.7},   {-0.1, 0.1, 1.1},
    {-0.2, 0.2, -0.5}, {0.1, -0.3, 1.9}, {0.45, 0.05, 1.1},
};

std::string verdicts(LASfilter& filter) { return judge(filter, POINTS); }

struct ThinCase {
  const char* name;
  const char* options;
  const char* verdicts;
  const char* text;
  U32 selective;
};

void PrintTo(const ThinCase& c, std::ostream* os) { *os << c.name; }

constexpr U32 TIME = LAS_SELECTIVE_GPS_TIME;

const ThinCase thin_cases[] = {
    {"keep_every_nth 3", "-keep_every_nth 3", "ddkddkd", "-keep_every_nth 3 ", 0},
    {"keep_every_nth 1", "-keep_every_nth 1", "kkkkkkk", "-keep_every_nth 1 ", 0},
    {"drop_every_nth 3", "-drop_every_nth 3", "kkdkkdk", "-drop_every_nth 3 ", 0},
    {"drop_every_nth 1", "-drop_every_nth 1", "ddddddd", "-drop_every_nth 1 ", 0},
    // x never exceeds 1.
    {"keep_random_fraction 1", "-keep_random_fraction 1", "kkkkkkk", "-keep_random_fraction 1 ", 0},
    {"keep_random_fraction 0", "-keep_random_fraction 0 5", "ddddddd", "-keep_random_fraction 0 5 ", 0},
    {"thin_with_grid", "-thin_with_grid 0.5", "kdkkdkd", "-thin_with_grid 0.5 ", 0},
    {"thin_with_grid of a large cell", "-thin_with_grid 100000", "kddkdkd", "-thin_with_grid 100000 ", 0},
    {"thin_points_with_time", "-thin_points_with_time 1", "kddkkdd", "-thin_points_with_time 1.000000 ", TIME},
    {"thin_pulses_with_time", "-thin_pulses_with_time 1", "kkdkkdk", "-thin_pulses_with_time 1.000000 ", TIME},
    {"thin_with_time", "-thin_with_time 1", "kkdkkdk", "-thin_pulses_with_time 1.000000 ", TIME},
    {"time spacing that needs every digit", "-thin_points_with_time 0.1234567891", "kdkkkkd",
     "-thin_points_with_time 0.12345678910000001 ", TIME},
    // The grid only sees the points every n-th lets through.
    {"grid behind every n-th", "-keep_every_nth 2 -thin_with_grid 0.5", "dkdkdkd",
     "-keep_every_nth 2 -thin_with_grid 0.5 ", 0},
};

class ThinCriteria : public HaltingOff<::testing::TestWithParam<ThinCase>> {};

TEST_P(ThinCriteria, VerdictsTextAndReadBack) {
  const ThinCase& c = GetParam();
  LASfilter filter;
  ArgVector args = ArgVector::from_text(c.options);
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), std::vector<std::string>{});
  EXPECT_EQ(verdicts(filter), c.verdicts);
  EXPECT_EQ(filter_text(filter), c.text);
  EXPECT_EQ(selective_of(filter), c.selective);
  expect_text_reads_back(c.text, verdicts, c.verdicts);
}

INSTANTIATE_TEST_SUITE_P(EveryOption, ThinCriteria, ::testing::ValuesIn(thin_cases),
                         [](const ::testing::TestParamInfo<ThinCase>& info) { return test_name_of(info.param.name); });

class ThinOptions : public HaltingOff<> {};

// A second pass over the same points must pick the same points, whatever was
// left over from the first: the every-n-th count ends mid-way on 7 points.
TEST_F(ThinOptions, ResetRepeatsTheFirstPass) {
  for (const char* options :
       {"-keep_every_nth 2", "-drop_every_nth 3", "-keep_random_fraction 0.5 4711", "-keep_random_fraction 0.5",
        "-thin_with_grid 0.5", "-thin_points_with_time 1", "-thin_pulses_with_time 1",
        "-keep_x -1 1 -keep_every_nth 2 -filter_and -thin_with_grid 0.5"}) {
    SCOPED_TRACE(options);
    LASfilter filter;
    ASSERT_TRUE(filter.parse(options));
    const std::string first = verdicts(filter);
    filter.reset();
    EXPECT_EQ(verdicts(filter), first);
  }
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-keep_every_nth 2"));
  EXPECT_EQ(verdicts(filter), "dkdkdkd");
}

TEST_F(ThinOptions, RandomFractionFollowsItsSeed) {
  std::vector<At> many(10000, At{0, 0, 0});
  auto run = [&many](const char* options) {
    LASfilter filter;
    EXPECT_TRUE(filter.parse(options));
    return judge(filter, many);
  };
  const std::string seeded = run("-keep_random_fraction 0.1 4711");
  const size_t kept = std::count(seeded.begin(), seeded.end(), 'k');
  EXPECT_GT(kept, 850u);
  EXPECT_LT(kept, 1150u);
  EXPECT_EQ(run("-keep_random_fraction 0.1 4711"), seeded);
  EXPECT_NE(run("-keep_random_fraction 0.1 4712"), seeded);
  EXPECT_NE(run("-keep_random_fraction 0.1"), seeded);
  EXPECT_EQ(run("-keep_random_fraction 0.1 0"), run("-keep_random_fraction 0.1"));

  // The seed is written unless it is 0; a word that is no number is no seed.
  LASfilter filter;
  ArgVector args({"-keep_random_fraction", "0.1", "-drop_every_nth", "2", "-keep_random_fraction", "0.25", "0"});
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(filter_text(filter), "-keep_random_fraction 0.1 -drop_every_nth 2 -keep_random_fraction 0.25 ");
}

// Cells are 64-bit and stored sparsely: cells far apart, on both sides of
// every block boundary, and many blocks (so the store grows) each keep their
// first point and only that.
TEST_F(ThinOptions, GridKeepsTheFirstPointOfEveryCell) {
  std::vector<At> cells;
  for (F64 x : {-1025.5, -1024.5, -513.5, -512.5, -511.5, -0.5, 0.5, 510.5, 511.5, 512.5, 1023.5, 1024.5}) {
    for (F64 y : {-1.5, -0.5, 0.5, 1e9}) cells.push_back({x, y, 0});
  }
  for (int k = 0; k < 3000; k++) cells.push_back({512.0 * k + 3000000.5, -7.5 * k, 0});
  for (F64 far : {1e12, -1e12, 3e18}) cells.push_back({far, far, 0});
  std::vector<At> twice = cells;
  for (const At& c : cells) twice.push_back({c.x + 0.25, c.y + 0.25, 0});  // same cells again

  LASfilter filter;
  ASSERT_TRUE(filter.parse("-thin_with_grid 1"));
  EXPECT_EQ(judge(filter, twice), std::string(cells.size(), 'k') + std::string(cells.size(), 'd'));
  filter.reset();
  EXPECT_EQ(judge(filter, twice), std::string(cells.size(), 'k') + std::string(cells.size(), 'd'));
}

// Beyond the 64-bit range all points share the cell at that end; NaN has a
// cell of its own in each direction.
TEST_F(ThinOptions, CoordinatesBeyondAnyCellAndNaN) {
  const F64 nan = std::numeric_limits<F64>::quiet_NaN();
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-thin_with_grid 1"));
  EXPECT_EQ(judge(filter, {{nan, 0.5, 0},
                           {-1e300, 0.5, 0},
                           {-1e19, 0.5, 0},
                           {1e300, 0.5, 0},
                           {1e19, 0.5, 0},
                           {nan, 0.5, 0},
                           {0.5, nan, 0},
                           {0.5, nan, 0},
                           {0.5, 0.5, 0},
                           {nan, nan, 0}}),
            "kkdkddkdkk");

  LASfilter times;
  ASSERT_TRUE(times.parse("-thin_points_with_time 1e-300"));
  EXPECT_EQ(judge(times, {{0, 0, nan}, {0, 0, 1e300}, {0, 0, 2e300}, {0, 0, -1e300}, {0, 0, nan}, {0, 0, -5}}),
            "kkdkdd");
  LASfilter pulses;
  ASSERT_TRUE(pulses.parse("-thin_pulses_with_time 1"));
  // NaN equals nothing, not even the NaN that opened its cell.
  EXPECT_EQ(judge(pulses, {{0, 0, nan}, {0, 0, nan}, {0, 0, 0.5}, {0, 0, 0.5}}), "kdkk");
}

// A point without GPS time counts as time 0.
TEST_F(ThinOptions, TimeCellsReadTheTimeOfEveryPoint) {
  LASfilter filter;
  ASSERT_TRUE(filter.parse("-thin_points_with_time 1"));
  LASpoint point;
  point.has_gps_time = true;
  point.gps_time = 0.5;
  EXPECT_FALSE(filter.filter(&point));
  point.has_gps_time = false;
  point.gps_time = 0.0;
  EXPECT_TRUE(filter.filter(&point));
}

TEST_F(ThinOptions, RefusedOptionsBuildNothing) {
  expect_refusals({
      {{"-keep_every_nth", "0"}, "0 is no valid nth for '-keep_every_nth'"},
      {{"-drop_every_nth", "0"}, "0 is no valid nth for '-drop_every_nth'"},
      {{"-keep_every_nth"}, "'-keep_every_nth' needs 1 argument: nth"},
      {{"-keep_every_nth", "-2"}, "'-keep_every_nth' needs 1 argument: nth but '-2' is no valid nth"},
      {{"-drop_every_nth", "x"}, "'-drop_every_nth' needs 1 argument nth but 'x' is no valid nth"},
      {{"-keep_random_fraction"}, "'-keep_random_fraction' needs 1 argument: fraction"},
      {{"-keep_random_fraction", "a"},
       "'-keep_random_fraction' needs at least 1 argument: fraction [seed] but 'a' is no valid fraction"},
      {{"-keep_random_fraction", "0.1", "4x"},
       "'-keep_random_fraction' takes seed as second argument but '4x' is no valid seed"},
      {{"-keep_random_fraction", "0.1", "4294967296"},
       "'-keep_random_fraction' takes seed as second argument but '4294967296' is no valid seed"},
      {{"-thin_with_grid"}, "'-thin_with_grid' needs 1 argument: grid spacing"},
      {{"-thin_with_grid", "g"}, "'-thin_with_grid' needs 1 argument: grid spacing but 'g' is no valid value"},
      {{"-thin_with_grid", "0"}, "'-thin_with_grid' needs 1 argument: grid spacing but '0' is no valid value"},
      {{"-thin_with_grid", "-1"}, "'-thin_with_grid' needs 1 argument: grid spacing but '-1' is no valid value"},
      {{"-thin_with_grid", "-0.00"}, "'-thin_with_grid' needs 1 argument: grid spacing but '-0' is no valid value"},
      {{"-thin_points_with_time"}, "'-thin_points_with_time' needs 1 argument: time spacing"},
      {{"-thin_with_time", "0"}, "'-thin_with_time' needs 1 argument: time spacing but '0' is no valid value"},
      {{"-thin_pulses_with_time", "-0.5"},
       "'-thin_pulses_with_time' needs 1 argument: time spacing but '-0.5' is no valid value"},
      {{"-thin_points_with_time", "t"},
       "'-thin_points_with_time' needs 1 argument: time spacing but 't' is no valid value"},
  });
}

}  // namespace
