// Criteria on where a point lies: a tile, a circle, a profile corridor, boxes,
// ranges and half-axes, in world coordinates (raw integer times scale factor
// plus offset) or on the raw integers themselves. Every range includes its
// minimum and excludes its maximum. None of them keeps state.
#include <cmath>
#include <type_traits>

#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

enum Role { KEEP, DROP, BELOW, ABOVE };

// Option names by raw-ness, axis and role. A criterion is named by its class,
// so "-keep_z_above", which builds a drop-below test, is written back as
// "-drop_z_below".
constexpr const char* NAMES[2][3][4] = {
    {{"keep_x", "drop_x", "drop_x_below", "drop_x_above"},
     {"keep_y", "drop_y", "drop_y_below", "drop_y_above"},
     {"keep_z", "drop_z", "drop_z_below", "drop_z_above"}},
    {{"keep_X", "drop_X", "drop_X_below", "drop_X_above"},
     {"keep_Y", "drop_Y", "drop_Y_below", "drop_Y_above"},
     {"keep_Z", "drop_Z", "drop_Z_below", "drop_Z_above"}},
};

// One coordinate of a point: world (double) or raw (32-bit integer). z goes
// through get_Z, which reads the attribute that stands in for z when the
// header names one.
template <int axis, bool raw>
struct Coordinate {
  using T = std::conditional_t<raw, I32, F64>;
  static constexpr U32 mask = axis == 2 ? LAS_SELECTIVE_Z : 0;
  static const char* name(Role role) { return NAMES[raw][axis][role]; }
  static T of(const LASpoint* point) {
    if constexpr (raw) {
      if constexpr (axis == 0) return point->X;
      if constexpr (axis == 1) return point->Y;
      return point->get_Z();
    } else {
      if constexpr (axis == 0) return point->get_x();
      if constexpr (axis == 1) return point->get_y();
      return point->scaling->get_z(point->get_Z());
    }
  }
  static T value(const LASoptionValue& v) {
    if constexpr (raw) {
      return v.i32;
    } else {
      return v.f64;
    }
  }
  static void text(std::string& text, T v) {
    if constexpr (raw) {
      las_option_text_d(text, v);
    } else {
      las_option_text_lf(text, v);
    }
  }
};

template <class C>
bool in_range(typename C::T v, typename C::T min, typename C::T max) {
  return min <= v && v < max;
}

// "-keep_x min max" keeps [min, max); "-drop_x min max" drops it.
template <class C, bool keep>
class LAScriterionRange : public LAScriterion {
 public:
  explicit LAScriterionRange(const LASoptionValue* v) : min(C::value(v[0])), max(C::value(v[1])) {}
  const char* name() const override { return C::name(keep ? KEEP : DROP); }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    C::text(text, min);
    C::text(text, max);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return C::mask; }
  bool filter(const LASpoint* point) override { return in_range<C>(C::of(point), min, max) != keep; }

 private:
  typename C::T min, max;
};

// "-drop_x_below value" drops x < value; "-drop_x_above value" drops x >= value.
template <class C, bool above>
class LAScriterionBound : public LAScriterion {
 public:
  explicit LAScriterionBound(const LASoptionValue* v) : value(C::value(v[0])) {}
  const char* name() const override { return C::name(above ? ABOVE : BELOW); }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    C::text(text, value);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return C::mask; }
  bool filter(const LASpoint* point) override {
    const typename C::T v = C::of(point);
    return above ? v >= value : v < value;
  }

 private:
  typename C::T value;
};

// A rectangle in x and y (x tested first), world or raw.
template <bool raw, bool keep>
class LAScriterionRectangle : public LAScriterion {
  using X = Coordinate<0, raw>;
  using Y = Coordinate<1, raw>;

 public:
  explicit LAScriterionRectangle(const LASoptionValue* v)
      : min_x(X::value(v[0])), min_y(Y::value(v[1])), max_x(X::value(v[2])), max_y(Y::value(v[3])) {}
  const char* name() const override { return raw ? "keep_XY" : (keep ? "keep_xy" : "drop_xy"); }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    X::text(text, min_x);
    Y::text(text, min_y);
    X::text(text, max_x);
    Y::text(text, max_y);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    const bool inside = in_range<X>(X::of(point), min_x, max_x) && in_range<Y>(Y::of(point), min_y, max_y);
    return inside != keep;
  }

 private:
  typename X::T min_x, min_y, max_x, max_y;
};

// A box in world x, y and z; z (through get_Z) only when x and y lie inside.
template <bool keep>
class LAScriterionBox : public LAScriterion {
  using X = Coordinate<0, false>;
  using Y = Coordinate<1, false>;
  using Z = Coordinate<2, false>;

 public:
  explicit LAScriterionBox(const LASoptionValue* v)
      : min_x(v[0].f64), min_y(v[1].f64), min_z(v[2].f64), max_x(v[3].f64), max_y(v[4].f64), max_z(v[5].f64) {}
  const char* name() const override { return keep ? "keep_xyz" : "drop_xyz"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    for (F64 v : {min_x, min_y, min_z, max_x, max_y, max_z}) las_option_text_lf(text, v);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_Z; }
  bool filter(const LASpoint* point) override {
    const bool inside = in_range<X>(X::of(point), min_x, max_x) && in_range<Y>(Y::of(point), min_y, max_y) &&
                        in_range<Z>(Z::of(point), min_z, max_z);
    return inside != keep;
  }

 private:
  F64 min_x, min_y, min_z, max_x, max_y, max_z;
};

// A square tile; its bounds are single precision, as tiles are named.
class LAScriterionKeepTile : public LAScriterion {
 public:
  explicit LAScriterionKeepTile(const LASoptionValue* v)
      : ll_x(v[0].f32), ll_y(v[1].f32), ur_x(v[0].f32 + v[2].f32), ur_y(v[1].f32 + v[2].f32), tile_size(v[2].f32) {}
  const char* name() const override { return "keep_tile"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_g(text, ll_x);
    las_option_text_g(text, ll_y);
    las_option_text_g(text, tile_size);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    const F64 x = point->get_x();
    if (x < ll_x || x >= ur_x) return true;
    const F64 y = point->get_y();
    return y < ll_y || y >= ur_y;
  }

 private:
  F32 ll_x, ll_y, ur_x, ur_y, tile_size;
};

// Inside the circle only; a point on it is dropped.
class LAScriterionKeepCircle : public LAScriterion {
 public:
  explicit LAScriterionKeepCircle(const LASoptionValue* v)
      : center_x(v[0].f64), center_y(v[1].f64), radius(v[2].f64), radius_squared(v[2].f64 * v[2].f64) {}
  const char* name() const override { return "keep_circle"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    for (F64 v : {center_x, center_y, radius}) las_option_text_lf(text, v);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    const F64 dx = center_x - point->get_x();
    const F64 dy = center_y - point->get_y();
    return !(dx * dx + dy * dy < radius_squared);
  }

 private:
  F64 center_x, center_y, radius, radius_squared;
};

// The corridor of the given width along the segment p1-p2, both bounds
// closed, no caps beyond the end points. With p1 equal to p2 the distances are
// not numbers and every point passes.
class LAScriterionKeepProfile : public LAScriterion {
 public:
  explicit LAScriterionKeepProfile(const LASoptionValue* v)
      : p1_x(v[0].f64),
        p1_y(v[1].f64),
        p2_x(v[2].f64),
        p2_y(v[3].f64),
        center_x((p1_x + p2_x) * 0.5),
        center_y((p1_y + p2_y) * 0.5),
        normal_x(p2_y - p1_y),
        normal_y(-(p2_x - p1_x)),
        length(sqrt((p2_y - p1_y) * (p2_y - p1_y) + (p2_x - p1_x) * (p2_x - p1_x))),
        half_length(0.5 * length),
        width(v[4].f64),
        half_width(width * 0.5) {}
  const char* name() const override { return "keep_profile"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    for (F64 v : {p1_x, p1_y, p2_x, p2_y, width}) las_option_text_lf(text, v);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    const F64 x = point->get_x();
    const F64 y = point->get_y();
    const F64 across = ((p1_y - y) * (p2_x - p1_x) - (p1_x - x) * (p2_y - p1_y)) / length;
    if (-half_width > across || across > half_width) return true;
    const F64 along = ((center_x - x) * normal_y - normal_x * (center_y - y)) / length;
    return -half_length > along || along > half_length;
  }

 private:
  F64 p1_x, p1_y, p2_x, p2_y;
  F64 center_x, center_y, normal_x, normal_y, length, half_length;
  F64 width, half_width;
};

using World_x = Coordinate<0, false>;
using World_y = Coordinate<1, false>;
using World_z = Coordinate<2, false>;
using Raw_X = Coordinate<0, true>;
using Raw_Y = Coordinate<1, true>;
using Raw_Z = Coordinate<2, true>;

using LAScriterionKeepxy = LAScriterionRectangle<false, true>;
using LAScriterionDropxy = LAScriterionRectangle<false, false>;
using LAScriterionKeepxyz = LAScriterionBox<true>;
using LAScriterionDropxyz = LAScriterionBox<false>;
using LAScriterionKeepx = LAScriterionRange<World_x, true>;
using LAScriterionDropx = LAScriterionRange<World_x, false>;
using LAScriterionKeepy = LAScriterionRange<World_y, true>;
using LAScriterionDropy = LAScriterionRange<World_y, false>;
using LAScriterionKeepz = LAScriterionRange<World_z, true>;
using LAScriterionDropz = LAScriterionRange<World_z, false>;
using LAScriterionDropxBelow = LAScriterionBound<World_x, false>;
using LAScriterionDropxAbove = LAScriterionBound<World_x, true>;
using LAScriterionDropyBelow = LAScriterionBound<World_y, false>;
using LAScriterionDropyAbove = LAScriterionBound<World_y, true>;
using LAScriterionDropzBelow = LAScriterionBound<World_z, false>;
using LAScriterionDropzAbove = LAScriterionBound<World_z, true>;

using LAScriterionKeepXY = LAScriterionRectangle<true, true>;
using LAScriterionKeepX = LAScriterionRange<Raw_X, true>;
using LAScriterionDropX = LAScriterionRange<Raw_X, false>;
using LAScriterionKeepY = LAScriterionRange<Raw_Y, true>;
using LAScriterionDropY = LAScriterionRange<Raw_Y, false>;
using LAScriterionKeepZ = LAScriterionRange<Raw_Z, true>;
using LAScriterionDropZ = LAScriterionRange<Raw_Z, false>;
using LAScriterionDropXBelow = LAScriterionBound<Raw_X, false>;
using LAScriterionDropXAbove = LAScriterionBound<Raw_X, true>;
using LAScriterionDropYBelow = LAScriterionBound<Raw_Y, false>;
using LAScriterionDropYAbove = LAScriterionBound<Raw_Y, true>;
using LAScriterionDropZBelow = LAScriterionBound<Raw_Z, false>;
using LAScriterionDropZAbove = LAScriterionBound<Raw_Z, true>;

const LAScriterionOption options[] = {
    {{"-keep_tile", "llx lly size", 3, "%f"}, las_add_criterion<LAScriterionKeepTile>},
    {{"-keep_circle", "center_x center_y radius", 3, "%lf"}, las_add_criterion<LAScriterionKeepCircle>},
    {{"-keep_xy", "min_x min_y max_x max_y", 4, "%lf"}, las_add_criterion<LAScriterionKeepxy>},
    {{"-drop_xy", "min_x min_y max_x max_y", 4, "%lf"}, las_add_criterion<LAScriterionDropxy>},
    {{"-keep_xyz", "min_x min_y min_z max_x max_y max_z", 6, "%lf"}, las_add_criterion<LAScriterionKeepxyz>},
    {{"-drop_xyz", "min_x min_y min_z max_x max_y max_z", 6, "%lf"}, las_add_criterion<LAScriterionDropxyz>},
    {{"-keep_x", "min_x max_x", 2, "%lf"}, las_add_criterion<LAScriterionKeepx>},
    {{"-drop_x", "min_x max_x", 2, "%lf"}, las_add_criterion<LAScriterionDropx>},
    {{"-keep_y", "min_y max_y", 2, "%lf"}, las_add_criterion<LAScriterionKeepy>},
    {{"-drop_y", "min_y max_y", 2, "%lf"}, las_add_criterion<LAScriterionDropy>},
    {{"-keep_z", "min_z max_z", 2, "%lf"}, las_add_criterion<LAScriterionKeepz>},
    {{"-drop_z", "min_z max_z", 2, "%lf"}, las_add_criterion<LAScriterionDropz>},
    {{"-drop_x_below", "min_x", 1, "%lf"}, las_add_criterion<LAScriterionDropxBelow>},
    {{"-drop_x_above", "max_x", 1, "%lf"}, las_add_criterion<LAScriterionDropxAbove>},
    {{"-drop_y_below", "min_y", 1, "%lf"}, las_add_criterion<LAScriterionDropyBelow>},
    {{"-drop_y_above", "max_y", 1, "%lf"}, las_add_criterion<LAScriterionDropyAbove>},
    {{"-drop_z_below", "min_z", 1, "%lf"}, las_add_criterion<LAScriterionDropzBelow>},
    {{"-drop_z_above", "max_z", 1, "%lf"}, las_add_criterion<LAScriterionDropzAbove>},
    {{"-keep_z_above", "min_z", 1, "%lf"}, las_add_criterion<LAScriterionDropzBelow>},
    {{"-keep_z_below", "max_z", 1, "%lf"}, las_add_criterion<LAScriterionDropzAbove>},
    {{"-keep_profile", "p1_x p1_y p2_x p2_y width", 5, "%lf"}, las_add_criterion<LAScriterionKeepProfile>},

    {{"-keep_XY", "min_X min_Y max_X max_Y", 4, "%d"}, las_add_criterion<LAScriterionKeepXY>},
    {{"-keep_X", "min_X max_X", 2, "%d"}, las_add_criterion<LAScriterionKeepX>},
    {{"-drop_X", "min_X max_X", 2, "%d"}, las_add_criterion<LAScriterionDropX>},
    {{"-keep_Y", "min_Y max_Y", 2, "%d"}, las_add_criterion<LAScriterionKeepY>},
    {{"-drop_Y", "min_Y max_Y", 2, "%d"}, las_add_criterion<LAScriterionDropY>},
    {{"-keep_Z", "min_Z max_Z", 2, "%d"}, las_add_criterion<LAScriterionKeepZ>},
    {{"-drop_Z", "min_Z max_Z", 2, "%d"}, las_add_criterion<LAScriterionDropZ>},
    {{"-drop_X_below", "min_X", 1, "%d"}, las_add_criterion<LAScriterionDropXBelow>},
    {{"-drop_X_above", "max_X", 1, "%d"}, las_add_criterion<LAScriterionDropXAbove>},
    {{"-drop_Y_below", "min_Y", 1, "%d"}, las_add_criterion<LAScriterionDropYBelow>},
    {{"-drop_Y_above", "max_Y", 1, "%d"}, las_add_criterion<LAScriterionDropYAbove>},
    {{"-drop_Z_below", "min_Z", 1, "%d"}, las_add_criterion<LAScriterionDropZBelow>},
    {{"-drop_Z_above", "max_Z", 1, "%d"}, las_add_criterion<LAScriterionDropZAbove>},
    {{"-keep_Z_above", "min_Z", 1, "%d"}, las_add_criterion<LAScriterionDropZBelow>},
    {{"-keep_Z_below", "max_Z", 1, "%d"}, las_add_criterion<LAScriterionDropZAbove>},
};

}  // namespace

std::span<const LAScriterionOption> las_coordinate_criterion_options() { return options; }
