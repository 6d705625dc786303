// The factory's order among several selection options (the driver refuses
// them while halting on errors is on; with halting off this order decides),
// and which filter a file gets.
#include <gtest/gtest.h>

#include "core/lasreader.hpp"
#include "tool/modulusfilter.hpp"
#include "tool/voxelfilter.hpp"
#include "tool/voxsifter_factory.hpp"
#include "tool/voxsifter_options.hpp"

namespace {

struct RuleCase {
  const char* name;
  void (*set)(VoxsifterOptions&);
  bool extended;
  VoxelRule counting;  // with -count_to_user_byte
  VoxelRule plain;
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class FactoryOrder : public ::testing::TestWithParam<RuleCase> {};

TEST_P(FactoryOrder, CountingAndPlainColumns) {
  const RuleCase& c = GetParam();
  VoxsifterOptions options;
  c.set(options);
  EXPECT_EQ(choose_voxel_rule(options, c.extended), c.plain);
  options.count_to_user_byte = true;
  EXPECT_EQ(choose_voxel_rule(options, c.extended), c.counting);
  options.count_to_user_byte = false;
  options.count_to_intensity = true;
  EXPECT_EQ(choose_voxel_rule(options, c.extended), c.counting);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FactoryOrder,
    ::testing::Values(
        RuleCase{"none", [](VoxsifterOptions&) {}, false, VoxelRule::FIRST, VoxelRule::FIRST},
        RuleCase{"every_selection_closest_first",
                 [](VoxsifterOptions& o) {
                   o.closest = o.highest = o.lowest = o.intensity_max = o.intensity_min = o.return_max =
                       o.return_min = o.attribute_max = o.attribute_min = o.random_cell_occurrence = true;
                 },
                 false, VoxelRule::CLOSEST, VoxelRule::CLOSEST},
        RuleCase{"highest_before_lowest", [](VoxsifterOptions& o) { o.highest = o.lowest = true; }, false,
                 VoxelRule::HIGHEST_Z, VoxelRule::HIGHEST_Z},
        RuleCase{"intensity_before_returns",
                 [](VoxsifterOptions& o) { o.intensity_min = o.return_max = o.attribute_max = true; }, false,
                 VoxelRule::LOWEST_INTENSITY, VoxelRule::LOWEST_INTENSITY},
        // Counting tests the returns before the attributes, plain the other way round.
        RuleCase{"return_and_attribute", [](VoxsifterOptions& o) { o.return_max = o.attribute_min = true; }, false,
                 VoxelRule::HIGHEST_RETURN, VoxelRule::LOWEST_ATTRIBUTE},
        RuleCase{"return_min_and_attribute_max",
                 [](VoxsifterOptions& o) { o.return_min = o.attribute_max = true; }, true,
                 VoxelRule::LOWEST_EXTENDED_RETURN, VoxelRule::HIGHEST_ATTRIBUTE},
        RuleCase{"extended_return", [](VoxsifterOptions& o) { o.return_max = true; }, true,
                 VoxelRule::HIGHEST_EXTENDED_RETURN, VoxelRule::HIGHEST_EXTENDED_RETURN},
        RuleCase{"random_last", [](VoxsifterOptions& o) { o.random_cell_occurrence = o.attribute_min = true; },
                 false, VoxelRule::LOWEST_ATTRIBUTE, VoxelRule::LOWEST_ATTRIBUTE},
        RuleCase{"random", [](VoxsifterOptions& o) { o.random_cell_occurrence = true; }, false, VoxelRule::RANDOM,
                 VoxelRule::RANDOM}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

// A reader of no points over a 10 m box: what the factory looks at (header and
// point layout) and nothing else.
class EmptyReader : public LASreader {
 public:
  EmptyReader() : LASreader(nullptr) {
    header.max_x = header.max_y = header.max_z = 10.0;
    EXPECT_TRUE(point.init(&header, (U8)0, (U16)20));
  }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool) override {}
  bool read_point_default() override { return false; }
};

enum class Kind { EVERY_NTH, RANDOM_NTH, VOXEL };

struct FilterCase {
  const char* name;
  void (*set)(VoxsifterOptions&);
  bool counting;
  Kind kind;
};

void PrintTo(const FilterCase& c, std::ostream* os) { *os << c.name; }

class FilterChoice : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterChoice, KindOfFilter) {
  const FilterCase& c = GetParam();
  VoxsifterOptions options;
  c.set(options);
  EmptyReader reader;
  std::unique_ptr<PointFilterInterface> filter = choose_point_filter(options, c.counting, 1.0, 1.0, reader);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(dynamic_cast<ModulusFilter<false>*>(filter.get()) != nullptr, c.kind == Kind::EVERY_NTH);
  EXPECT_EQ(dynamic_cast<ModulusFilter<true>*>(filter.get()) != nullptr, c.kind == Kind::RANDOM_NTH);
  // Only the voxel filters learn from a first pass.
  EXPECT_EQ(filter->requiresVisit(), c.kind == Kind::VOXEL);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, FilterChoice,
    ::testing::Values(
        FilterCase{"none", [](VoxsifterOptions&) {}, false, Kind::VOXEL},
        FilterCase{"every_nth", [](VoxsifterOptions& o) { o.every_nth = 3; }, false, Kind::EVERY_NTH},
        FilterCase{"random_nth", [](VoxsifterOptions& o) { o.random_nth = 3; }, false, Kind::RANDOM_NTH},
        FilterCase{"every_nth_wins_over_random_nth", [](VoxsifterOptions& o) { o.every_nth = o.random_nth = 3; }, false,
                   Kind::EVERY_NTH},
        FilterCase{"counting_wins_over_every_nth", [](VoxsifterOptions& o) { o.every_nth = 3; }, true, Kind::VOXEL},
        FilterCase{"counting_wins_over_random_nth", [](VoxsifterOptions& o) { o.random_nth = 3; }, true, Kind::VOXEL}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return std::string(info.param.name); });

}  // namespace
