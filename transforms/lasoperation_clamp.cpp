// Limits of height: points below or above a bound are moved onto it instead
// of being dropped, in world units or on the raw integer Z. Points inside the
// range are not rewritten, so they keep their z bit for bit.
#include "transforms/lasoperation.hpp"

namespace {

// The bound z moves to, or z itself. Below is tested first: with swapped
// bounds every point ends on one of them.
struct Bounds {
  bool has_below, has_above;
  F64 below, above;
  // Whether z lies outside, and the bound it moves to.
  bool outside(F64 z, F64& bound) const {
    bound = (has_below && z < below) ? below : above;
    return (has_below && z < below) || (has_above && z > above);
  }
  F64 clamped(F64 z) const {
    F64 bound;
    return outside(z, bound) ? bound : z;
  }
};

// -clamp_z, -clamp_z_below, -clamp_z_above: the bounds in world units.
class LASoperationClampWorldZ : public LASoperation {
 public:
  LASoperationClampWorldZ(const char* label, Bounds bounds) : label(label), bounds(bounds) {}
  const char* name() const override { return label; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    if (bounds.has_below) las_option_text_lf(text, bounds.below);
    if (bounds.has_above) las_option_text_lf(text, bounds.above);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_Z; }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    return new F64[3]{x, y, bounds.clamped(z)};
  }
  void transform(LASpoint* point) override {
    if (offset_adjust) {
      las_change_adjusted_coordinates(*this, point, get_Z(point), [this](F64* v) { v[2] = bounds.clamped(v[2]); });
      return;
    }
    F64 bound;
    if (bounds.outside(las_world_z(point), bound)) overflow_count += !point->set_z(bound);
  }

 private:
  const char* label;
  Bounds bounds;
};

// -clamp_raw_z: the bounds on the raw integer, which receives them also when
// an attribute stands in for z.
class LASoperationClampRawZ : public LASoperation {
 public:
  explicit LASoperationClampRawZ(const LASoptionValue* v) : below(v[0].i32), above(v[1].i32) {}
  const char* name() const override { return "clamp_raw_z"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, below);
    las_option_text_d(text, above);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_Z; }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    const F64 zb = below * source_scale[2] + source_offset[2];
    const F64 za = above * source_scale[2] + source_offset[2];
    return new F64[3]{x, y, z < zb ? zb : (z > za ? za : z)};
  }
  void transform(LASpoint* point) override {
    if (offset_adjust) {
      const I32 Z = clamped(get_Z(point));
      las_change_adjusted_coordinates(*this, point, Z, [](F64*) {});
      return;
    }
    const I32 Z = point->get_Z();
    if (Z < below) {
      point->Z = below;
    } else if (Z > above) {
      point->Z = above;
    }
  }

 private:
  I32 clamped(I32 Z) const { return Z < below ? below : (Z > above ? above : Z); }
  I32 below, above;
};

LASoptionResult add_clamp_z(LAStransformParse& parse, const LASoptionCall& call) {
  parse.add(new LASoperationClampWorldZ("clamp_z", {true, true, call.values[0].f64, call.values[1].f64}));
  return LASoptionResult::TAKEN;
}
LASoptionResult add_clamp_z_below(LAStransformParse& parse, const LASoptionCall& call) {
  parse.add(new LASoperationClampWorldZ("clamp_z_below", {true, false, call.values[0].f64, 0.0}));
  return LASoptionResult::TAKEN;
}
LASoptionResult add_clamp_z_above(LAStransformParse& parse, const LASoptionCall& call) {
  parse.add(new LASoperationClampWorldZ("clamp_z_above", {false, true, 0.0, call.values[0].f64}));
  return LASoptionResult::TAKEN;
}

constexpr const char* BOUND = "{needs} but '{arg}' is no valid {name} value";

const LASoperationOption options[] = {
    {{"-clamp_z", "below above", 2, "%lf", 0, nullptr, BOUND}, add_clamp_z},
    {{"-clamp_z_below", "below", 1, "%lf", 0, nullptr, BOUND}, add_clamp_z_below},
    {{"-clamp_z_above", "above", 1, "%lf", 0, nullptr, BOUND}, add_clamp_z_above},
    {{"-clamp_raw_z", "below above", 2, "%d", 0, nullptr, BOUND}, las_add_operation<LASoperationClampRawZ>},
};

const LASoperationUsage usage[] = {
    {1, 10, "-clamp_z_below 70.5"},
    {1, 11, "-clamp_z 70.5 72.5"},
    {2, 4, "-clamp_raw_z 500 800"},
};

}  // namespace

LASoperationFamily las_clamp_operations() { return {options, usage}; }
