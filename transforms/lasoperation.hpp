// What a family of operations plugs into the transform: the parse in progress
// that its options add operations to, the row type of its option table, its
// lines of the help text, the helpers its operations write their option text
// with, the frame that makes an operation of a small rule, and the coordinate
// access every coordinate operation shares. A new family is one
// lasoperation_*.cpp with its operations, its option table and its help lines,
// and one line in the family list of lastransform.cpp.
#pragma once

#include <cmath>
#include <concepts>
#include <span>
#include <string>

#include "core/lasoption.hpp"
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "transforms/lastransform.hpp"

// One run of LAStransform::parse: the transform its options add operations
// to. Register operations reach the registers through `transform.registers`.
struct LAStransformParse {
  LAStransform& transform;

  explicit LAStransformParse(LAStransform& transform) : transform(transform) {}
  void add(LASoperation* operation) { transform.add_operation(operation); }
};

using LASoperationOption = LASoptionRow<LAStransformParse>;

// One example line of the help text: the section it stands in (1 to 14, in
// the order of the headings in lastransform.cpp) and its place in that
// section, so that lines of several families interleave in a fixed order.
struct LASoperationUsage {
  U8 section;
  U8 place;
  const char* line;  // without the two leading blanks
};

// What a family hands to the transform's parser and help.
struct LASoperationFamily {
  std::span<const LASoperationOption> options;
  std::span<const LASoperationUsage> usage;
};

// A computed value stored into an unsigned field of at most `max`: 0 at or
// below 0 (and for NaN), `max` at or above it, truncated in between, so that no
// NaN or out-of-range float is ever converted to an integer.
inline U16 las_limited_field(F64 v, U16 max) {
  if (!(v > 0.0)) return 0;
  if (v >= max) return max;
  return (U16)v;
}
inline U16 las_limited_u16(F64 v) { return las_limited_field(v, 65535); }

// The nearest integer, halves away from zero, as a signed 32-bit value whose
// low bits the caller keeps. NaN gives 0, and a value beyond 32 bits stops at
// the nearest end instead of being converted undefined.
inline I32 las_rounded_i32(F64 v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return I32_MAX;
  if (v <= -2147483648.0) return I32_MIN;
  return (I32)(v >= 0.0 ? v + 0.5 : v - 0.5);
}

// The families.
LASoperationFamily las_translate_scale_operations();
LASoperationFamily las_classification_operations();
LASoperationFamily las_classify_operations();
LASoperationFamily las_flag_operations();
LASoperationFamily las_return_operations();
LASoperationFamily las_user_data_operations();
LASoperationFamily las_geometry_operations();
LASoperationFamily las_clamp_operations();
LASoperationFamily las_raw_operations();
LASoperationFamily las_attribute_operations();
LASoperationFamily las_coordinate_copy_operations();
LASoperationFamily las_register_operations();
LASoperationFamily las_attribute_file_operations();
LASoperationFamily las_intensity_operations();
LASoperationFamily las_color_operations();
LASoperationFamily las_angle_time_operations();

// Operations other families build: "-transform_helmert" with three values is
// a translation of x, y and z; the read opener's per-file point source.
LASoperation* las_new_translate_xyz(F64 offset_x, F64 offset_y, F64 offset_z);
LASoperation* las_new_set_point_source(U16 psid);

// Writes `value` into attribute `index` of the point by the attribute's type,
// scale and offset; nothing when the point has no such attribute.
inline void store_attribute_value(LASpoint* point, U32 index, F64 value) { point->set_attribute_as_float(index, value); }

// The apply of a row whose operation is built from the values alone: the
// class takes the array of values the row declares, or nothing when it is
// built without any.
template <class Operation>
LASoptionResult las_add_operation(LAStransformParse& parse, const LASoptionCall& call) {
  if constexpr (std::constructible_from<Operation, const LASoptionValue*>) {
    parse.add(new Operation(call.values.data()));
  } else {
    parse.add(new Operation());
  }
  return LASoptionResult::TAKEN;
}

// Option text of an operation: "-", its name and a blank; answers where the
// text began, so that get_command can answer the characters it appended.
inline size_t las_operation_text(std::string& text, const char* name) {
  const size_t start = text.size();
  text += '-';
  las_option_text(text, name);
  return start;
}
inline I32 las_operation_text_size(const std::string& text, size_t start) { return (I32)(text.size() - start); }
// Ends the option word just written with `tail` in place of its blank, for
// the operations whose option word carries a channel after their name.
inline void las_operation_word_tail(std::string& text, const char* tail) {
  text.pop_back();
  las_option_text(text, tail);
}
// `n` numbers as one comma separated word, then a blank.
inline void las_option_text_list(std::string& text, const F64* values, int n) {
  for (int k = 0; k < n; k++) {
    las_option_text_lf(text, values[k]);
    text.back() = (k + 1 < n) ? ',' : ' ';
  }
}

// ------------------------------------------------------------------ operations of a rule

// An operation that changes no coordinate: under offset adjustment the
// corners pass through unchanged, and each point is only re-quantised
// (requantise) before the operation changes its other fields.
class LASoperationValuesOnly : public LASoperation {
 public:
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
  void requantise(LASpoint* point) {
    if (offset_adjust) set_offset_adjust_coord_without_trafo_changes(point);
  }
};

// The operation of a rule: a small value type that holds the operation's
// parameters and gives
//   name    the option word without '-'; a static constexpr member, or a
//           member when one rule type serves several options
//   mask    the fields it reads (get_decompress_selective), likewise
//   void text(std::string& text) const;  its arguments as option text, each
//           followed by a blank; a rule without arguments leaves it out
//   void apply(LASpoint* point) const;   the change of one point
// A rule is built from the option's values (explicit Rule(const
// LASoptionValue*)), from nothing, or by its family's apply, which hands it
// over whole (las_add_rule). The option text is "-", the name, a blank and
// the rule's text; under offset adjustment the point is re-quantised before
// the rule applies. A rule that reads a coordinate must read it before that,
// so it gives apply(LASoperationValuesOnly&, LASpoint*) instead and calls
// requantise itself.
template <class Rule>
class LASoperationOf final : public LASoperationValuesOnly {
 public:
  explicit LASoperationOf(const LASoptionValue* values) requires std::constructible_from<Rule, const LASoptionValue*>
      : rule(values) {}
  explicit LASoperationOf(const Rule& rule = Rule()) : rule(rule) {}
  const char* name() const override { return rule.name; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    if constexpr (requires { rule.text(text); }) rule.text(text);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return rule.mask; }
  void transform(LASpoint* point) override {
    if constexpr (requires(LASoperationValuesOnly & operation) { rule.apply(operation, point); }) {
      rule.apply(*this, point);
    } else {
      if (offset_adjust) [[unlikely]] return requantise_then_apply(point);
      rule.apply(point);
    }
  }
  Rule& get_rule() { return rule; }

 private:
  // Out of line and reached by a tail call, so that the common path saves no
  // registers for a call it does not make.
  [[gnu::noinline]] void requantise_then_apply(LASpoint* point) {
    set_offset_adjust_coord_without_trafo_changes(point);
    rule.apply(point);
  }

  Rule rule;
};

// Appends the operation of a rule its family's apply has built and checked.
template <class Rule>
LASoptionResult las_add_rule(LAStransformParse& parse, const Rule& rule) {
  parse.add(new LASoperationOf<Rule>(rule));
  return LASoptionResult::TAKEN;
}

// ------------------------------------------------------------------ coordinates

// The coordinates an operation changes, as a bit set.
enum LAScoordinateAxes : U32 { LAS_AXIS_X = 1, LAS_AXIS_Y = 2, LAS_AXIS_Z = 4, LAS_AXES_XYZ = 7 };

// World z: the raw Z, or the attribute that stands in for it, times the z
// scale factor plus the z offset. The raw Z is the common case and stays
// inline; the attribute is read out of line.
F64 las_world_z_of_attribute(const LASpoint* point);
inline F64 las_world_z(const LASpoint* point) {
  const LASscaling* scaling = point->scaling;
  if (scaling->z_from_attribute < 0) return scaling->get_z(point->Z);
  return las_world_z_of_attribute(point);
}

// Under offset adjustment: the point in world units of the operation's source
// quantisation, z from the raw value `Z`, changed, then all three written in
// the target quantisation.
template <class Change>
inline void las_change_adjusted_coordinates(LASoperation& operation, LASpoint* point, I32 Z, const Change& change) {
  F64 v[3] = {point->X * operation.source_scale[0] + operation.source_offset[0],
              point->Y * operation.source_scale[1] + operation.source_offset[1],
              Z * operation.source_scale[2] + operation.source_offset[2]};
  change(v);
  operation.write_transformed_values_with_adjust_offset(v[0], v[1], v[2], point);
}

// Changes the coordinates named in `axes` of one point in the point's own
// quantisation: reads just those in world units, lets `change` compute the new
// values from them (v[0] x, v[1] y, v[2] z; every value from the old ones),
// then stores x, y and z in that order. A value that does not fit 32 bits
// keeps its wrapped low bits and counts as one overflow of the operation.
// The other coordinates and fields are not touched. Under offset adjustment
// all three are re-quantised instead.
template <U32 axes, class Change>
inline void las_change_coordinates(LASoperation& operation, LASpoint* point, const Change& change) {
  if (operation.offset_adjust) {
    las_change_adjusted_coordinates(operation, point, operation.get_Z(point), change);
    return;
  }
  F64 v[3] = {0.0, 0.0, 0.0};
  if constexpr ((axes & LAS_AXIS_X) != 0) v[0] = point->get_x();
  if constexpr ((axes & LAS_AXIS_Y) != 0) v[1] = point->get_y();
  if constexpr ((axes & LAS_AXIS_Z) != 0) v[2] = las_world_z(point);
  change(v);
  if constexpr ((axes & LAS_AXIS_X) != 0) operation.overflow_count += !point->set_x(v[0]);
  if constexpr ((axes & LAS_AXIS_Y) != 0) operation.overflow_count += !point->set_y(v[1]);
  if constexpr ((axes & LAS_AXIS_Z) != 0) operation.overflow_count += !point->set_z(v[2]);
}

// The answer of a coordinate operation to transform_coords_for_offset_adjustment:
// the three coordinates after `change`, unrounded, in a new[] array.
template <class Change>
inline F64* las_changed_coordinates(F64 x, F64 y, F64 z, const Change& change) {
  F64* v = new F64[3]{x, y, z};
  change(v);
  return v;
}

// The decompression mask of an operation that reads the coordinates `axes`:
// x and y are always decoded, z only when asked.
constexpr U32 las_coordinate_mask(U32 axes) { return (axes & LAS_AXIS_Z) != 0 ? LAS_SELECTIVE_Z : 0; }

// The frame of an operation that changes the coordinates `axes` by a formula:
// `Derived::change()` answers the change of world coordinates (as
// las_change_coordinates takes it); the mask, the answer to offset adjustment
// and the change of a point follow from it.
template <class Derived, U32 axes>
class LASoperationCoordinates : public LASoperation {
 public:
  U32 get_decompress_selective() const override { return las_coordinate_mask(axes); }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override {
    return las_changed_coordinates(x, y, z, formula().change());
  }
  void transform(LASpoint* point) override { las_change_coordinates<axes>(*this, point, formula().change()); }

 private:
  const Derived& formula() const { return static_cast<const Derived&>(*this); }
};
