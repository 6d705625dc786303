// The merged reader in this process, on LAS files built by the independent
// fixture builder: format detection and refusals, the merged header, the
// widening of scale factors and offsets, the once-only warnings, which files
// an area opens, and what each file reader is handed.
#include "index/lasreadermerged.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/lasreader_las.hpp"
#include "core/lasreadopener.hpp"
#include "filters/lasfilter.hpp"
#include "support/drop_odd.hpp"
#include "support/las_fixture.hpp"
#include "support/temp_dir.hpp"
#include "transforms/lastransform.hpp"

namespace {

using lasfix::LasFile;
using lasfix::Point;

// A point at world x (scale 0.01, offset 0), y = x + 1000, z = 1, with a
// return number that cycles through 1 to 3 of 3.
Point at(double x, int index = 0) {
  Point p;
  p.X = (int32_t)std::llround(x * 100);
  p.Y = (int32_t)std::llround((x + 1000) * 100);
  p.Z = 100;
  p.return_number = (uint8_t)(index % 3 + 1);
  p.number_of_returns = 3;
  p.intensity = (uint16_t)index;
  return p;
}

LasFile file_at(const std::vector<double>& xs, uint8_t format = 1, uint8_t minor = 2) {
  LasFile f;
  f.header.point_data_format = format;
  f.header.version_minor = minor;
  for (size_t i = 0; i < xs.size(); i++) f.points.push_back(at(xs[i], (int)i));
  return f;
}

lasfix::ExtraBytesAttribute attribute(const std::string& name) {
  lasfix::ExtraBytesAttribute a;
  a.data_type = 6;  // i32
  a.name = name;
  return a;
}

// With `count` i32 attributes named a0, a1, ... (the name of the first is given).
LasFile with_attributes(LasFile f, int count, const std::string& first = "a0") {
  std::vector<lasfix::ExtraBytesAttribute> attributes;
  for (int i = 0; i < count; i++) attributes.push_back(attribute(i ? "a" + std::to_string(i) : first));
  f.extra_bytes = (uint16_t)(4 * count);
  f.vlrs.push_back({"LASF_Spec", 4, lasfix::extra_bytes_payload(attributes)});
  return f;
}

struct Seen {
  I32 X, Y;
  U16 intensity, point_source_ID;
  bool operator==(const Seen&) const = default;
};

class MergedReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    halt_on_error(false);
    set_message_log_level(INFO);
  }
  void TearDown() override { halt_on_error(true); }

  std::string write(const std::string& name, const LasFile& file) {
    temp.write(name, file.bytes());
    return temp.file(name);
  }
  // A merged reader over the files, opened; `err` gets what it reported.
  std::unique_ptr<LASreaderMerged> merged(const std::vector<std::string>& names, std::string* err = nullptr,
                                          bool expect_open = true) {
    auto reader = std::make_unique<LASreaderMerged>(&opener);
    ::testing::internal::CaptureStderr();
    for (const std::string& name : names) reader->add_file_name(name.c_str());
    const bool ok = reader->open();
    const std::string text = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, expect_open) << text;
    if (err) {
      *err = text;
    } else {
      EXPECT_EQ(text, "");
    }
    return reader;
  }
  static std::vector<Seen> read_all(LASreader& reader, std::string* err = nullptr) {
    std::vector<Seen> seen;
    ::testing::internal::CaptureStderr();
    while (reader.read_point()) {
      seen.push_back({reader.point.X, reader.point.Y, reader.point.intensity, reader.point.point_source_ID});
    }
    const std::string text = ::testing::internal::GetCapturedStderr();
    if (err) {
      *err = text;
    } else {
      EXPECT_EQ(text, "");
    }
    return seen;
  }
  static std::vector<I32> xs(const std::vector<Seen>& points) {
    std::vector<I32> result;
    for (const Seen& p : points) result.push_back(p.X);
    return result;
  }

  TempDir temp;
  LASreadOpener opener;
};

// ------------------------------------------------------------------ file list

struct Format {
  const char* name;
  const char* extension;
};
const Format FORMATS[] = {{"LAS", "las"}, {"BIN", "bin"}, {"SHP", "shp"}, {"ASC", "asc"}, {"BIL", "bil"},
                          {"DTM", "dtm"}, {"PLY", "ply"}, {"QFIT", "qi"}, {"TXT", "txt"}};

TEST_F(MergedReaderTest, EveryOrderedPairOfFormatsCannotMix) {
  for (const Format& f : FORMATS) temp.write(std::string("x.") + f.extension, "1 2 3\n");
  int pairs = 0;
  for (const Format& present : FORMATS) {
    for (const Format& added : FORMATS) {
      if (&present == &added) continue;
      SCOPED_TRACE(std::string(present.name) + " then " + added.name);
      LASreaderMerged reader(&opener);
      const std::string first = temp.file(std::string("x.") + present.extension);
      const std::string second = temp.file(std::string("x.") + added.extension);
      ::testing::internal::CaptureStderr();
      EXPECT_TRUE(reader.add_file_name(first.c_str()));
      EXPECT_FALSE(reader.add_file_name(second.c_str()));
      EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                std::string("ERROR: cannot mix ") + present.name + " with " + added.name + ". skipping '" + second +
                    "' ...\n");
      EXPECT_EQ(reader.get_file_name_number(), 1u);
      pairs++;
    }
  }
  EXPECT_EQ(pairs, 72);
}

TEST_F(MergedReaderTest, FormatsAreTakenFromTheExtensionInAnyCase) {
  struct Case {
    const char* first;
    const char* second;
    const char* refused;  // the message's format pair, or null when the second is added
  } cases[] = {
      {"a.las", "b.VmB", nullptr},
      {"a.LAS", "b.las", nullptr},
      {"a.las", "c.txt", "LAS with TXT"},
      {"a.las", "X.QI", "LAS with QFIT"},
      {"a.las", "noextension", "LAS with TXT"},
      {"X.QI", "y.qi", nullptr},
      {"noextension", "c.txt", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.first) + " " + c.second);
    temp.write(c.first, "");
    temp.write(c.second, "");
    LASreaderMerged reader(&opener);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(reader.add_file_name(temp.file(c.first).c_str()));
    EXPECT_EQ(reader.add_file_name(temp.file(c.second).c_str()), c.refused == nullptr);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.refused ? "ERROR: cannot mix " + std::string(c.refused) + ". skipping '" + temp.file(c.second) +
                                   "' ...\n"
                             : "");
  }
}

TEST_F(MergedReaderTest, NamesThatCannotBeAddedOrOpened) {
  LASreaderMerged reader(&opener);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(reader.add_file_name(nullptr));
  EXPECT_FALSE(reader.add_file_name(temp.file("missing.las").c_str()));
  EXPECT_FALSE(reader.open());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: file name pointer is NULL\nERROR: file '" +
                                                          temp.file("missing.las") +
                                                          "' cannot be opened\nERROR: no valid file names\n");
  EXPECT_EQ(reader.get_format(), 0);
  EXPECT_FALSE(reader.read_point());

  // A file that is no LAS file ends open() with the file reader's errors.
  temp.write("text.las", "no header here");
  std::string err;
  merged({write("good.las", file_at({1})), temp.file("text.las")}, &err, false);
  EXPECT_NE(err.find("ERROR: could not open lasreaderlas for file '" + temp.file("text.las") + "'\n"), std::string::npos)
      << err;
}

TEST_F(MergedReaderTest, FileIDsRunAlongTheNames) {
  const std::string a = write("a.las", file_at({1}));
  LASreaderMerged reader(&opener);
  EXPECT_TRUE(reader.add_file_name(a.c_str()));
  EXPECT_FALSE(reader.has_file_IDs());
  EXPECT_TRUE(reader.add_file_name(a.c_str(), 7));
  EXPECT_TRUE(reader.add_file_name(a.c_str()));
  EXPECT_TRUE(reader.has_file_IDs());
  // A name added before the first ID gets 0, not an undefined value.
  EXPECT_EQ(reader.get_file_ID(0), 0u);
  EXPECT_EQ(reader.get_file_ID(1), 7u);
  EXPECT_EQ(reader.get_file_ID(2), 0u);
}

// ------------------------------------------------------------------ merged header

TEST_F(MergedReaderTest, HeaderHoldsTheUnionOfCountsAndBoxes) {
  struct Case {
    const char* name;
    uint8_t format, minor;
  } cases[] = {{"las12_format1", 1, 2}, {"las14_format6", 6, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names = {
        write("a.las", file_at({10, 20, 30, 40}, c.format, c.minor)),
        write("b.las", file_at({5, 6}, c.format, c.minor)),
        write("c.las", file_at({70, 71, 72, 73, 74}, c.format, c.minor)),
    };
    // Return 7 of 7 lies beyond the legacy counts by return.
    if (c.minor == 4) {
      LasFile d = file_at({50}, c.format, c.minor);
      d.points[0].return_number = d.points[0].number_of_returns = 7;
      names.push_back(write("d.las", d));
    }
    auto reader = merged(names);
    const LASheader& h = reader->header;
    const uint64_t total = c.minor == 4 ? 12 : 11;
    EXPECT_EQ(reader->points_expected, (I64)total);
    EXPECT_EQ(h.extended_number_of_point_records, total);
    // Returns 1, 2, 3, 1 / 1, 2 / 1, 2, 3, 1, 2 (/ 7).
    const U64 by_return[3] = {5, 4, 2};
    for (int r = 0; r < 3; r++) EXPECT_EQ(h.extended_number_of_points_by_return[r], by_return[r]);
    EXPECT_EQ(h.extended_number_of_points_by_return[6], c.minor == 4 ? 1u : 0u);
    if (c.format < 6) {
      EXPECT_EQ(h.number_of_point_records, total);
      for (int r = 0; r < 3; r++) EXPECT_EQ(h.number_of_points_by_return[r], by_return[r]);
    } else {
      EXPECT_EQ(h.number_of_point_records, 0u);
    }
    EXPECT_DOUBLE_EQ(h.min_x, 5);
    EXPECT_DOUBLE_EQ(h.max_x, 74);
    EXPECT_DOUBLE_EQ(h.min_y, 1005);
    EXPECT_DOUBLE_EQ(h.max_y, 1074);
    EXPECT_FALSE(reader->get_rescale());
    EXPECT_FALSE(reader->get_reoffset());
    // The points come file after file, in list order.
    std::vector<I32> expected = {1000, 2000, 3000, 4000, 500, 600, 7000, 7100, 7200, 7300, 7400};
    if (c.minor == 4) expected.push_back(5000);
    EXPECT_EQ(xs(read_all(*reader)), expected);
    EXPECT_EQ(reader->points_read, (I64)total);
  }
}

TEST_F(MergedReaderTest, EmptyFirstFileGivesWayToTheNext) {
  LasFile empty = file_at({});
  empty.header.x_offset = 1000;
  empty.header.x_scale_factor = 0.1;
  LasFile full = file_at({10, 20});
  full.header.x_offset = 5;
  auto reader = merged({write("empty.las", empty), write("full.las", full)});
  const LASheader& h = reader->header;
  EXPECT_EQ(h.number_of_point_records, 2u);
  EXPECT_EQ(h.extended_number_of_point_records, 2u);
  EXPECT_DOUBLE_EQ(h.min_x, 15);
  EXPECT_DOUBLE_EQ(h.max_x, 25);
  EXPECT_DOUBLE_EQ(h.x_scale_factor, 0.01);
  EXPECT_DOUBLE_EQ(h.x_offset, 5);
  EXPECT_FALSE(reader->get_rescale());
  EXPECT_FALSE(reader->get_reoffset());
  EXPECT_EQ(read_all(*reader).size(), 2u);
  // The empty file's box meets no area: it is never opened again.
  remove(temp.file("empty.las").c_str());
  EXPECT_TRUE(reader->reopen());
  reader->inside_rectangle(-1e9, -1e9, 1e9, 1e9);
  EXPECT_EQ(read_all(*reader).size(), 2u);
}

TEST_F(MergedReaderTest, DifferentOffsetsOnlyReoffset) {
  LasFile a = file_at({1, 2});
  LasFile b = file_at({});
  b.header.x_offset = 100;
  b.points = {at(3), at(4)};  // raw 300 and 400: x 103 and 104
  auto reader = merged({write("a.las", a), write("b.las", b)});
  EXPECT_FALSE(reader->get_rescale());
  EXPECT_TRUE(reader->get_reoffset());
  EXPECT_NE(dynamic_cast<const LASreaderLASreoffset*>(reader->get_file_reader()), nullptr);
  EXPECT_EQ(dynamic_cast<const LASreaderLASrescale*>(reader->get_file_reader()), nullptr);
  EXPECT_DOUBLE_EQ(reader->header.x_offset, 0);
  EXPECT_EQ(xs(read_all(*reader)), (std::vector<I32>{100, 200, 10300, 10400}));
}

struct WidenCase {
  const char* name;
  int axis;
  double min, max;
  std::string messages;
  bool rescale, reoffset;
  double scale, offset;  // of the axis afterwards
};

void PrintTo(const WidenCase& c, std::ostream* os) { *os << c.name; }

class WidenTest : public MergedReaderTest, public ::testing::WithParamInterface<WidenCase> {};

// The header boxes claim the extent; the widening looks at nothing else.
TEST_P(WidenTest, ScaleFactorBeforeOffset) {
  const WidenCase& c = GetParam();
  LasFile a = file_at({1});
  LasFile b = file_at({2});
  for (LasFile* f : {&a, &b}) {
    f->header.min_x = f->header.min_y = f->header.min_z = 0;
    f->header.max_x = f->header.max_y = f->header.max_z = 10;
  }
  double* min[3] = {&*b.header.min_x, &*b.header.min_y, &*b.header.min_z};
  double* max[3] = {&*b.header.max_x, &*b.header.max_y, &*b.header.max_z};
  *min[c.axis] = c.min;
  *max[c.axis] = c.max;
  std::string err;
  auto reader = merged({write("a.las", a), write("b.las", b)}, &err, c.scale != 0);
  EXPECT_EQ(err, c.messages);
  if (c.scale == 0) return;
  const LASheader& h = reader->header;
  const double scales[3] = {h.x_scale_factor, h.y_scale_factor, h.z_scale_factor};
  const double offsets[3] = {h.x_offset, h.y_offset, h.z_offset};
  EXPECT_EQ(reader->get_rescale(), c.rescale);
  EXPECT_EQ(reader->get_reoffset(), c.reoffset);
  EXPECT_DOUBLE_EQ(scales[c.axis], c.scale);
  EXPECT_DOUBLE_EQ(offsets[c.axis], c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Merged, WidenTest,
    ::testing::Values(
        WidenCase{"fits", 0, 0, 2e7, "", false, false, 0.01, 0},
        WidenCase{"x_scale", 0, 0, 1e8,
                  "WARNING: i changed x_scale_factor from 0.01 to 0.1 to accommodate enlarged bounding box\n", true,
                  false, 0.1, 0},
        WidenCase{"x_offset", 0, 0, 3e7,
                  "WARNING: i changed x_offset from 0 to 1.5e+07 to accommodate enlarged bounding box\n", false, true,
                  0.01, 1.5e7},
        WidenCase{"y_both", 1, 2e9, 2.5e9,
                  "WARNING: i changed y_scale_factor from 0.01 to 1 to accommodate enlarged bounding box\n"
                  "WARNING: i changed y_offset from 0 to 1.25e+09 to accommodate enlarged bounding box\n",
                  true, true, 1, 1.25e9},
        WidenCase{"z_two_blanks", 2, -1e8, 0,
                  "WARNING: i changed  z_scale_factor from 0.01 to 0.1 to accommodate enlarged bounding box\n", true,
                  false, 0.1, 0},
        // The largest bounds would never fit: an error instead of an endless
        // loop (infinite ones are refused by the file's reader).
        WidenCase{"largest", 0, 0, 1.7e308,
                  "ERROR: cannot change x_scale_factor 0.01 to accommodate enlarged bounding box from 0 to 1.7e+308\n",
                  false, false, 0, 0},
        WidenCase{"beyond_any_cloud", 0, -1e300, 1e300,
                  "ERROR: cannot change x_scale_factor 0.01 to accommodate enlarged bounding box from -1e+300 to "
                  "1e+300\n",
                  false, false, 0, 0}),
    [](const ::testing::TestParamInfo<WidenCase>& info) { return std::string(info.param.name); });

// A zero scale factor gives every point one coordinate: the file is refused
// before any widening.
TEST_F(MergedReaderTest, ZeroScaleFactorIsRefusedByTheFile) {
  LasFile a = file_at({1, 2});
  a.header.x_scale_factor = 0;
  std::string err;
  const std::string name = write("a.las", a);
  merged({name, write("b.las", file_at({3}))}, &err, false);
  EXPECT_EQ(err, "ERROR: x scale factor is zero.\nERROR: could not open lasreaderlas for file '" + name + "'\n");
}

TEST_F(MergedReaderTest, UserScaleAndOffsetReplaceTheMergedOnes) {
  const std::string a = write("a.las", file_at({1.27}));
  const F64 scale[3] = {0.1, 0.01, 0};  // z: 0 keeps the files' factor
  const F64 offset[3] = {1, 0, 0};
  LASreaderMerged reader(&opener);
  reader.set_scale_factor(scale);
  reader.set_offset(offset);
  ASSERT_TRUE(reader.add_file_name(a.c_str()));
  ASSERT_TRUE(reader.open());
  EXPECT_TRUE(reader.get_rescale());
  EXPECT_TRUE(reader.get_reoffset());
  EXPECT_DOUBLE_EQ(reader.header.x_scale_factor, 0.1);
  EXPECT_DOUBLE_EQ(reader.header.z_scale_factor, 0.01);
  EXPECT_DOUBLE_EQ(reader.header.x_offset, 1);
  // x 1.27 at 0.1 from offset 1.
  EXPECT_EQ(xs(read_all(reader)), std::vector<I32>{3});
}

TEST_F(MergedReaderTest, DifferencesAreWarnedOncePerOpen) {
  struct Case {
    const char* name;
    std::vector<LasFile> files;
    std::string messages;
  } cases[] = {
      {"point_types",
       {file_at({1}, 1), file_at({2}, 3), file_at({3}, 3), file_at({4}, 0)},
       "WARNING: files have different point types: 1 vs 3\nWARNING: files have different point sizes: 28 vs 34\n"},
      {"attribute_count",
       {with_attributes(file_at({1}), 1), with_attributes(file_at({2}), 2), with_attributes(file_at({3}), 3)},
       "WARNING: files have different point sizes: 32 vs 36\n"
       "WARNING: files have different number of attributes: 1 vs 2\n"},
      {"attribute_descriptor",
       {with_attributes(file_at({1}), 2), with_attributes(file_at({2}), 2, "other"), with_attributes(file_at({3}), 1)},
       "WARNING: files have different attribute 0\nWARNING: files have different point sizes: 36 vs 32\n"},
      // Without attributes in the first file the others are read for their header only.
      {"attributes_not_compared", {file_at({1}), with_attributes(file_at({2}), 1)},
       "WARNING: files have different point sizes: 28 vs 32\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> names;
    for (size_t i = 0; i < c.files.size(); i++) names.push_back(write("f" + std::to_string(i) + ".las", c.files[i]));
    std::string err;
    merged(names, &err);
    EXPECT_EQ(err, c.messages);
  }
}

TEST_F(MergedReaderTest, FirstFileTilingRecord) {
  lasfix::Tiling tiling;
  tiling.buffer = true;
  LasFile tiled = file_at({1});
  tiled.vlrs.push_back({"Pelkarts", 10, lasfix::tiling_payload(tiling)});
  struct Case {
    const char* name;
    LasFile first;
    bool keep;
    std::string messages;
    bool kept;
  } cases[] = {
      {"buffered_dropped", tiled, false, "WARNING: first file is a buffered tile. maybe remove buffers first?\n", false},
      {"buffered_kept", tiled, true, "WARNING: first file is a buffered tile. maybe remove buffers first?\n", true},
      {"none_to_keep", file_at({1}), true, "WARNING: first file has no LAStiling VLR cannot '-keep_lastiling' ...\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LASreaderMerged reader(&opener);
    reader.set_keep_lastiling(c.keep);
    reader.add_file_name(write("first.las", c.first).c_str());
    reader.add_file_name(write("second.las", file_at({2})).c_str());
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(reader.open());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.messages);
    EXPECT_EQ(reader.header.vlr_lastiling != nullptr, c.kept);
  }
}

TEST_F(MergedReaderTest, TooManyPointsForALegacyHeader) {
  struct Case {
    uint8_t minor, format;
    std::string messages;
  } cases[] = {
      {2, 1, "WARNING: on-the-fly merged LAS 1.2 files contain too many points (6000000000) for single LAS 1.2 file.\n"},
      {4, 6, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE((int)c.minor);
    std::vector<std::string> names;
    for (const char* name : {"a.las", "b.las"}) {
      LasFile f = file_at({}, c.format, c.minor);
      if (c.minor == 4) {
        f.header.extended_number_of_point_records = 3000000000u;
      } else {
        f.header.number_of_point_records = 3000000000u;
      }
      names.push_back(write(name, f));
    }
    std::string err;
    auto reader = merged(names, &err);
    EXPECT_EQ(err, c.messages);
    EXPECT_EQ(reader->points_expected, 6000000000);
  }
}

// ------------------------------------------------------------------ reading

// Boxes x 0-100, 100-200 and 300-400. A file that must not be opened is
// removed after the header pass: opening it would be an error.
TEST_F(MergedReaderTest, AreasOpenOnlyTheFilesTheyMeet) {
  struct Case {
    const char* name;
    int kind;  // 1 tile, 2 circle, 3 rectangle
    double a, b, c, d;
    std::vector<int> opened;
    std::vector<I32> xs;
  } cases[] = {
      {"rectangle_second_only", 3, 150, 1000, 200, 1400, {1}, {15000}},
      {"rectangle_touching_both", 3, 100, 1000, 150, 1400, {0, 1}, {10000, 10000}},
      // The circle's box ends at x 100, where the second file begins.
      {"circle_first_only", 2, 50, 1050, 50, 0, {0}, {5000}},
      {"tile_first_only", 1, 0, 1000, 100, 0, {0}, {0, 5000}},
      {"rectangle_misses_all", 3, 210, 1000, 290, 1400, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> names = {write("a.las", file_at({0, 50, 100})),
                                            write("b.las", file_at({100, 150, 200})),
                                            write("c.las", file_at({300, 400}))};
    auto reader = merged(names);
    for (int i = 0; i < 3; i++) {
      if (std::find(c.opened.begin(), c.opened.end(), i) == c.opened.end()) remove(names[i].c_str());
    }
    if (c.kind == 1) reader->inside_tile((F32)c.a, (F32)c.b, (F32)c.c);
    if (c.kind == 2) reader->inside_circle(c.a, c.b, c.c);
    if (c.kind == 3) reader->inside_rectangle(c.a, c.b, c.c, c.d);
    EXPECT_EQ(xs(read_all(*reader)), c.xs);
    EXPECT_EQ(reader->get_file_name_current(), 3u);
    // The bounds before the area come back.
    reader->inside_none();
    EXPECT_DOUBLE_EQ(reader->header.max_x, 400);
  }
}

// The file is removed after the header pass: opening it is an error, which
// shows that the tile's header box (up to 100 - 0.001 of a unit) meets it.
TEST_F(MergedReaderTest, TileOpensAFileThatBeginsJustBelowItsUpperEdge) {
  LasFile near = file_at({99.99});
  near.header.min_x = 99.9995;
  near.header.max_x = 99.9999;
  const std::string near_name = write("near.las", near);
  auto reader = merged({write("a.las", file_at({10})), near_name});
  remove(near_name.c_str());
  reader->inside_tile(0, 1000, 100);
  EXPECT_DOUBLE_EQ(reader->header.max_x, 100 - (double)0.001f * 0.01);
  std::string err;
  EXPECT_EQ(xs(read_all(*reader, &err)), std::vector<I32>{1000});
  EXPECT_NE(err.find("ERROR: could not open lasreaderlas for file '" + near_name + "'\n"), std::string::npos) << err;
}

// Counts one overflow for every point it sees.
class CountOverflow : public LASoperation {
 public:
  const char* name() const override { return "count_overflow"; }
  I32 get_command(std::string& text) const override {
    text += "-count_overflow ";
    return 16;
  }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
  void transform(LASpoint*) override { overflow_count++; }
};

TEST_F(MergedReaderTest, EachFileGetsTheFilterAndTheTransform) {
  opener.filter = new LASfilter();
  opener.filter->add_criterion(new DropOdd());
  opener.transform = new LAStransform();
  opener.transform->add_operation(new CountOverflow());
  opener.add_file_name(write("a.las", file_at({1, 2, 3})).c_str());
  opener.add_file_name(write("b.las", file_at({4, 5, 6, 7})).c_str());
  opener.merged = true;
  std::unique_ptr<LASreader> reader(opener.open());
  ASSERT_TRUE(reader);
  // Intensities 0, 1, 2 and 0, 1, 2, 3: the odd ones are dropped in each file.
  EXPECT_EQ(xs(read_all(*reader)), (std::vector<I32>{100, 300, 400, 600}));
  ::testing::internal::CaptureStderr();
  reader.reset();
  // The transform's overflows are reported once, not once per reader.
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: total of  4 overflows caused by '-count_overflow '\n");
}

TEST_F(MergedReaderTest, QueriesTheMergedReaderAnswersItself) {
  auto reader = merged({write("a.las", file_at({1})), write("b.las", file_at({2}))});
  EXPECT_FALSE(reader->seek(0));
  EXPECT_EQ(reader->get_stream(), nullptr);
  EXPECT_EQ(reader->get_format(), LAS_READER_FORMAT_LAS);
  // No COPC information in the merged header: the depth query is refused.
  EXPECT_FALSE(reader->inside_copc_depth(LASreader::COPC_QUERY_DEPTH, 3, 0));
  EXPECT_EQ(xs(read_all(*reader)), (std::vector<I32>{100, 200}));
  // Read to the end, the stream stays ended until it is reopened.
  EXPECT_FALSE(reader->read_point());
  EXPECT_TRUE(reader->reopen());
  EXPECT_EQ(reader->points_read, 0);
  EXPECT_EQ(xs(read_all(*reader)), (std::vector<I32>{100, 200}));
}

TEST_F(MergedReaderTest, MergedPointsReadAttributesByIndex) {
  LasFile a = with_attributes(file_at({1, 2}), 1);
  const int32_t values[2] = {-7, 42};
  for (int i = 0; i < 2; i++) a.points[i].extra_bytes.assign((const char*)&values[i], 4);
  auto reader = merged({write("a.las", a), write("b.las", with_attributes(file_at({3}), 1))});
  std::vector<F64> seen;
  while (reader->read_point()) seen.push_back(reader->point.get_attribute_as_float(0));
  EXPECT_EQ(seen, (std::vector<F64>{-7, 42, 0}));
}

}  // namespace
