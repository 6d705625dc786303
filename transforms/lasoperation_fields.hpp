// What the operations on a point's fields (classification, flags, returns,
// user data, point source) share: the class of a point as they read and write
// it, the rules of setting a field and changing it from one value to another,
// and the range checks of their option values. A family writes each operation
// as a small rule and lets LASoperationOf make it an operation.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/lasmessage.hpp"
#include "transforms/lasoperation.hpp"

// ------------------------------------------------------------------ classes

// The class of a point: the 8-bit extended class for points of formats 6 to
// 10, the 5-bit class for the older formats.
inline U8 effective_classification(const LASpoint* point) {
  return point->get_extended_layout() ? point->extended_classification : point->get_classification();
}

// Gives a point a class. A point of the older formats cannot hold a class
// above 31 and keeps its own; an extended point then gets 0 in its 5-bit
// class. The flags beside the 5-bit class stay as they are.
inline void assign_classification(LASpoint* point, U8 value) {
  if (point->get_extended_layout()) {
    point->extended_classification = value;
    point->set_classification(value <= 31 ? value : 0);
  } else if (value <= 31) {
    point->extended_classification = value;
    point->set_classification(value);
  }
}

// ------------------------------------------------------------------ offset adjustment

// World z as it reaches an operation: in the point's own quantisation, or
// under offset adjustment in the operation's source quantisation.
inline F64 las_operation_world_z(const LASoperation& operation, const LASpoint* point) {
  if (!operation.offset_adjust) return las_world_z(point);
  return operation.get_Z(point) * operation.source_scale[2] + operation.source_offset[2];
}

// ------------------------------------------------------------------ rules

// Rules of one or two integer values written "%d".
template <class T>
struct LASruleValue {
  T value;
  explicit LASruleValue(const LASoptionValue* v) : value((T)v[0].u32) {}
  void text(std::string& text) const { las_option_text_d(text, value); }
};
template <class T>
struct LASruleFromTo {
  T from_value, to_value;
  explicit LASruleFromTo(const LASoptionValue* v) : from_value((T)v[0].u32), to_value((T)v[1].u32) {}
  void text(std::string& text) const {
    las_option_text_d(text, from_value);
    las_option_text_d(text, to_value);
  }
};

// A field of one byte read and written through the point's own accessors.
template <U8 (LASpoint::*getter)() const, void (LASpoint::*setter)(U8), U32 change_mask = 0>
struct LASfield {
  using type = U8;
  static constexpr U32 mask = change_mask;
  static U8 get(const LASpoint* point) { return (point->*getter)(); }
  static void set(LASpoint* point, U8 value) { (point->*setter)(value); }
};

// Setting a field, and changing it from one value to another. A field gives
// its `type`, `set` and, when it can be changed, `get` and the `mask` of the
// change; `names` holds the names of the set and the change operation.
template <class Field, const char* const* names>
struct LASruleSet : LASruleValue<typename Field::type> {
  static constexpr const char* name = names[0];
  static constexpr U32 mask = 0;
  using LASruleValue<typename Field::type>::LASruleValue;
  void apply(LASpoint* point) const { Field::set(point, this->value); }
};
template <class Field, const char* const* names>
struct LASruleChangeFromTo : LASruleFromTo<typename Field::type> {
  static constexpr const char* name = names[1];
  static constexpr U32 mask = Field::mask;
  using LASruleFromTo<typename Field::type>::LASruleFromTo;
  void apply(LASpoint* point) const {
    if (Field::get(point) == this->from_value) Field::set(point, this->to_value);
  }
};

// ------------------------------------------------------------------ range checks

// An upper limit of one unsigned value of an option and the message that
// refuses a value above it: a printf format given the value, then the limit.
struct LASvalueLimit {
  U8 index;
  U32 limit;
  const char* message;
};

// Builds the operation once every limit holds. A value taken as text ("%s")
// is read as an unsigned number only when its turn comes, so that a value
// before it that is out of range is reported first.
template <class Operation, const auto& limits>
LASoptionResult las_add_limited(LAStransformParse& parse, const LASoptionCall& call) {
  std::vector<LASoptionValue> values = call.values;
  for (const LASvalueLimit& limit : limits) {
    LASoptionValue& value = values[limit.index];
    if (!las_read_u32(value.text, &value.u32)) {
      laserror("%s", call.invalid_message(limit.index).c_str());
      return LASoptionResult::FAILED;
    }
    if (value.u32 > limit.limit) {
      laserror(limit.message, value.u32, limit.limit);
      return LASoptionResult::FAILED;
    }
  }
  parse.add(new Operation(values.data()));
  return LASoptionResult::TAKEN;
}
