// Moves of the raw integers: whole quantisation steps added to X, Y and Z, a
// pseudo-random jitter of X and Y within given maxima, and exchanges of two
// coordinates. Outside offset adjustment they move integers only: nothing is
// rounded, sums wrap at 32 bits and nothing counts as an overflow.
#include <cstdlib>
#include <utility>

#include "transforms/lasoperation.hpp"

namespace {

// Addition with wrap-around, defined for every pair.
I32 wrapped_sum(I32 a, I32 b) { return (I32)((U32)a + (U32)b); }

// Adds raw steps to the axes in `axes`, one offset per axis in option order.
template <U32 axes>
class LASoperationTranslateRaw : public LASoperation {
 public:
  explicit LASoperationTranslateRaw(const LASoptionValue* v) {
    int k = 0;
    for (int a = 0; a < 3; a++) raw_offset[a] = (axes & (1u << a)) ? v[k++].i32 : 0;
  }
  const char* name() const override {
    if (axes == LAS_AXES_XYZ) return "translate_raw_xyz";
    return axes == LAS_AXIS_X ? "translate_raw_x" : (axes == LAS_AXIS_Y ? "translate_raw_y" : "translate_raw_z");
  }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    for (int a = 0; a < 3; a++) {
      if (axes & (1u << a)) las_option_text_d(text, raw_offset[a]);
    }
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return las_coordinate_mask(axes); }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    return new F64[3]{x + raw_offset[0] * source_scale[0], y + raw_offset[1] * source_scale[1],
                      z + raw_offset[2] * source_scale[2]};
  }
  void transform(LASpoint* point) override {
    if (offset_adjust) {
      las_change_adjusted_coordinates(*this, point, get_Z(point), [this](F64* v) {
        for (int a = 0; a < 3; a++) v[a] += raw_offset[a] * source_scale[a];
      });
      return;
    }
    if constexpr ((axes & LAS_AXIS_X) != 0) point->X = wrapped_sum(point->X, raw_offset[0]);
    if constexpr ((axes & LAS_AXIS_Y) != 0) point->Y = wrapped_sum(point->Y, raw_offset[1]);
    if constexpr ((axes & LAS_AXIS_Z) != 0) point->Z = wrapped_sum(point->get_Z(), raw_offset[2]);
  }

 private:
  I32 raw_offset[3];
};

using LASoperationTranslateRawX = LASoperationTranslateRaw<LAS_AXIS_X>;
using LASoperationTranslateRawY = LASoperationTranslateRaw<LAS_AXIS_Y>;
using LASoperationTranslateRawZ = LASoperationTranslateRaw<LAS_AXIS_Z>;
using LASoperationTranslateRawXYZ = LASoperationTranslateRaw<LAS_AXES_XYZ>;

// Each point moves by its own number of steps in x and y, drawn from the
// platform's generator seeded by the previous point's draw, from 0 after a
// reset: a second pass over the same points moves each one the same way.
class LASoperationTranslateRawXYatRandom : public LASoperation {
 public:
  explicit LASoperationTranslateRawXYatRandom(const LASoptionValue* v)
      : max_raw_offset_x(v[0].i32), max_raw_offset_y(v[1].i32) {}
  const char* name() const override { return "translate_raw_xy_at_random"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, max_raw_offset_x);
    las_option_text_d(text, max_raw_offset_y);
    return las_operation_text_size(text, start);
  }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    return new F64[3]{x - max_raw_offset_x * source_scale[0], y - max_raw_offset_y * source_scale[1], z};
  }
  void transform(LASpoint* point) override {
    srand(seed);
    const U32 r = (U32)rand();
    seed = r;
    const I32 dx = offset_within(r >> 3, max_raw_offset_x);
    const I32 dy = offset_within(r >> 6, max_raw_offset_y);
    if (offset_adjust) {
      las_change_adjusted_coordinates(*this, point, get_Z(point), [this, dx, dy](F64* v) {
        v[0] += dx * source_scale[0];
        v[1] += dy * source_scale[1];
      });
      return;
    }
    point->X = wrapped_sum(point->X, dx);
    point->Y = wrapped_sum(point->Y, dy);
  }
  // The overflow count stays: only the draws start again.
  void reset() override { seed = 0; }

 private:
  // In [-max, max] for max >= 0; in unsigned arithmetic, whose modulus 2 max + 1
  // is odd and so never 0.
  static I32 offset_within(U32 bits, I32 max) { return (I32)(bits % (2u * (U32)max + 1u) - (U32)max); }
  U32 seed = 0;
  I32 max_raw_offset_x, max_raw_offset_y;
};

// Exchanges the coordinates `first` and `second` (0 x, 1 y, 2 z). A raw z
// comes from the attribute that stands in for z when there is one, and goes
// into the raw Z field either way.
template <int first, int second>
class LASoperationSwitch : public LASoperation {
 public:
  const char* name() const override { return first == 0 ? (second == 1 ? "switch_x_y" : "switch_x_z") : "switch_y_z"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return second == 2 ? LAS_SELECTIVE_Z : 0; }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    F64* v = new F64[3]{x, y, z};
    std::swap(v[first], v[second]);
    return v;
  }
  void transform(LASpoint* point) override {
    if (offset_adjust) {
      las_change_adjusted_coordinates(*this, point, get_Z(point), [](F64* v) { std::swap(v[first], v[second]); });
      return;
    }
    I32 raw[3] = {point->X, point->Y, second == 2 ? point->get_Z() : point->Z};
    std::swap(raw[first], raw[second]);
    point->X = raw[0];
    point->Y = raw[1];
    point->Z = raw[2];
  }
};

using LASoperationSwitchXY = LASoperationSwitch<0, 1>;
using LASoperationSwitchXZ = LASoperationSwitch<0, 2>;
using LASoperationSwitchYZ = LASoperationSwitch<1, 2>;

const LASoperationOption options[] = {
    {{"-translate_raw_x", "raw_offset", 1, "%d"}, las_add_operation<LASoperationTranslateRawX>},
    {{"-translate_raw_y", "raw_offset", 1, "%d"}, las_add_operation<LASoperationTranslateRawY>},
    {{"-translate_raw_z", "raw_offset", 1, "%d"}, las_add_operation<LASoperationTranslateRawZ>},
    {{"-translate_raw_xyz", "raw_offset_x raw_offset_y raw_offset_z", 3, "%d"},
     las_add_operation<LASoperationTranslateRawXYZ>},
    {{"-translate_raw_xy_at_random", "max_raw_offset_x max_raw_offset_y", 2, "%d"},
     las_add_operation<LASoperationTranslateRawXYatRandom>},
    {{"-switch_x_y", "", 0, ""}, las_add_operation<LASoperationSwitchXY>},
    {{"-switch_x_z", "", 0, ""}, las_add_operation<LASoperationSwitchXZ>},
    {{"-switch_y_z", "", 0, ""}, las_add_operation<LASoperationSwitchYZ>},
};

const LASoperationUsage usage[] = {
    {1, 9, "-switch_x_y -switch_x_z -switch_y_z"},
    {2, 1, "-translate_raw_z 20"},
    {2, 2, "-translate_raw_xyz 1 1 0"},
    {2, 3, "-translate_raw_xy_at_random 2 2"},
};

}  // namespace

LASoperationFamily las_raw_operations() { return {options, usage}; }
