// What the operations on intensity, colours, scan angle and GPS time share:
// they leave the coordinates as they are (re-quantised under offset
// adjustment), write their option text from a small
// effect type, and store computed numbers into integer fields without ever
// converting a NaN or an out-of-range float to an integer.
#pragma once

#include <cmath>

#include "transforms/lasoperation.hpp"

// An operation that changes no coordinate: under offset adjustment the
// corners pass through unchanged.
class LASoperationValuesOnly : public LASoperation {
 public:
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
};

// An operation made of an effect: a value type with its parameters that
// answers `name()`, `write(text)` (its arguments, each with its blank) and
// `apply(point)`, and names the fields it reads in `mask`.
template <class Effect>
class LASoperationEffect : public LASoperationValuesOnly {
 public:
  explicit LASoperationEffect(const Effect& effect) : effect(effect) {}
  const char* name() const override { return effect.name(); }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    effect.write(text);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return Effect::mask; }
  void transform(LASpoint* point) override {
    if (offset_adjust) set_offset_adjust_coord_without_trafo_changes(point);
    effect.apply(point);
  }

 private:
  Effect effect;
};

// Appends the operation of an effect.
template <class Effect>
LASoptionResult las_add_effect(LAStransformParse& parse, const Effect& effect) {
  parse.add(new LASoperationEffect<Effect>(effect));
  return LASoptionResult::TAKEN;
}

// The row apply of an effect without parameters.
template <class Effect>
LASoptionResult las_add_plain_effect(LAStransformParse& parse, const LASoptionCall&) {
  return las_add_effect(parse, Effect{});
}


// The nearest integer, halves away from zero, as a signed 32-bit value whose
// low bits the caller keeps. NaN gives 0, and a value beyond 32 bits stops at
// the nearest end instead of being converted undefined.
inline I32 las_rounded_i32(F64 v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return I32_MAX;
  if (v <= -2147483648.0) return I32_MIN;
  return (I32)(v >= 0.0 ? v + 0.5 : v - 0.5);
}
