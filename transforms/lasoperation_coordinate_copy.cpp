// Values copied into and out of coordinates: an extra-bytes attribute, a
// register, the intensity or the user data becomes x, y or z, an attribute is
// added to z, and z is stored into an attribute. The copies of point fields
// into a coordinate cannot tell where the moved points end up before they are
// read, so they refuse offset adjustment; the register copies and the copy of
// z out of the point take part in it.
#include "core/lasmessage.hpp"
#include "transforms/lasoperation.hpp"

namespace {

// ------------------------------------------------------------------ refused

// An operation that has no offset-adjusted mode: it warns when asked for its
// moved corners and always reads and stores in the point's own quantisation.
class LASoperationWithoutAdjust : public LASoperation {
 public:
  F64* transform_coords_for_offset_adjustment(F64, F64, F64) override {
    LASMessage(WARNING, "The adjustment of the offset using '-offset_adjust' is not supported for the operation '%s'.",
               name());
    return nullptr;
  }
};

// An operation of an attribute index; `Rule` names it, gives its mask and
// changes the point, answering whether the coordinate it wrote fits 32 bits.
template <class Rule>
class LASoperationAttributeCoordinate final : public LASoperationWithoutAdjust {
 public:
  explicit LASoperationAttributeCoordinate(const LASoptionValue* v) : index(v[0].u32) {}
  const char* name() const override { return Rule::name; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return Rule::mask; }
  void transform(LASpoint* point) override { overflow_count += !Rule::apply(point, index); }

 private:
  U32 index;
};

struct AttributeIntoX {
  static constexpr const char* name = "copy_attribute_into_x";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static bool apply(LASpoint* p, U32 i) { return p->set_x(p->get_attribute_as_float(i)); }
};
struct AttributeIntoY {
  static constexpr const char* name = "copy_attribute_into_y";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static bool apply(LASpoint* p, U32 i) { return p->set_y(p->get_attribute_as_float(i)); }
};
struct AttributeIntoZ {
  static constexpr const char* name = "copy_attribute_into_z";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static bool apply(LASpoint* p, U32 i) { return p->set_z(p->get_attribute_as_float(i)); }
};
struct AttributeToZ {
  static constexpr const char* name = "add_attribute_to_z";
  static constexpr U32 mask = LAS_SELECTIVE_Z | LAS_SELECTIVE_EXTRA_BYTES;
  static bool apply(LASpoint* p, U32 i) { return p->set_z(las_world_z(p) + p->get_attribute_as_float(i)); }
};

using LASoperationCopyAttributeIntoX = LASoperationAttributeCoordinate<AttributeIntoX>;
using LASoperationCopyAttributeIntoY = LASoperationAttributeCoordinate<AttributeIntoY>;
using LASoperationCopyAttributeIntoZ = LASoperationAttributeCoordinate<AttributeIntoZ>;
using LASoperationAddAttributeToZ = LASoperationAttributeCoordinate<AttributeToZ>;

// The scale is kept as an F32, so the product uses the F32 nearest to it.
class LASoperationAddScaledAttributeToZ final : public LASoperationWithoutAdjust {
 public:
  explicit LASoperationAddScaledAttributeToZ(const LASoptionValue* v) : index(v[0].u32), scale(v[1].f32) {}
  const char* name() const override { return "add_scaled_attribute_to_z"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    las_option_text_f(text, scale);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_Z | LAS_SELECTIVE_EXTRA_BYTES; }
  void transform(LASpoint* point) override {
    overflow_count += !point->set_z(las_world_z(point) + point->get_attribute_as_float(index) * scale);
  }

 private:
  U32 index;
  F32 scale;
};

// A field of the point as the height; `Field` names it, gives its mask and
// reads it.
template <class Field>
class LASoperationFieldIntoZ final : public LASoperationWithoutAdjust {
 public:
  const char* name() const override { return Field::name; }
  I32 get_command(std::string& text) const override {
    return las_operation_text_size(text, las_operation_text(text, name()));
  }
  U32 get_decompress_selective() const override { return Field::mask; }
  void transform(LASpoint* point) override { overflow_count += !point->set_z(Field::get(point)); }
};

struct IntensityField {
  static constexpr const char* name = "copy_intensity_into_z";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  static F64 get(const LASpoint* p) { return p->intensity; }
};
struct UserDataField {
  static constexpr const char* name = "copy_user_data_into_z";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  static F64 get(const LASpoint* p) { return p->user_data; }
};

using LASoperationCopyIntensityIntoZ = LASoperationFieldIntoZ<IntensityField>;
using LASoperationCopyUserDataIntoZ = LASoperationFieldIntoZ<UserDataField>;

// ------------------------------------------------------------------ adjusted

// A register as one coordinate (axis 0 x, 1 y, 2 z). The register is read
// when the point goes by, so under offset adjustment the corners move to the
// value it holds when the offsets are chosen.
template <int axis>
class LASoperationCopyRegisterIntoCoordinate final
    : public LASoperationCoordinates<LASoperationCopyRegisterIntoCoordinate<axis>, 1u << axis> {
 public:
  LASoperationCopyRegisterIntoCoordinate(const F64* registers, U32 index) : registers(registers), index(index) {}
  const char* name() const override {
    static const char* const names[3] = {"copy_register_into_x", "copy_register_into_y", "copy_register_into_z"};
    return names[axis];
  }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    return las_operation_text_size(text, start);
  }
  // The old coordinate is not needed.
  U32 get_decompress_selective() const override { return 0; }

  auto change() const {
    return [this](F64* v) { v[axis] = registers[index]; };
  }

 private:
  const F64* registers;  // the parsing transform's
  U32 index;
};

using LASoperationCopyRegisterIntoX = LASoperationCopyRegisterIntoCoordinate<0>;
using LASoperationCopyRegisterIntoY = LASoperationCopyRegisterIntoCoordinate<1>;
using LASoperationCopyRegisterIntoZ = LASoperationCopyRegisterIntoCoordinate<2>;

// z into an attribute: the coordinates stay, so under offset adjustment the
// point is re-quantised and the attribute gets z as it was read.
class LASoperationCopyZIntoAttribute final : public LASoperationValuesOnly {
 public:
  explicit LASoperationCopyZIntoAttribute(const LASoptionValue* v) : index(v[0].u32) {}
  const char* name() const override { return "copy_z_into_attribute"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_Z; }
  void transform(LASpoint* point) override {
    if (!offset_adjust) {
      store_attribute_value(point, index, las_world_z(point));
      return;
    }
    F64 z = 0.0;
    las_change_adjusted_coordinates(*this, point, get_Z(point), [&z](F64* v) { z = v[2]; });
    store_attribute_value(point, index, z);
  }

 private:
  U32 index;
};

// ------------------------------------------------------------------ options

template <class Operation>
LASoptionResult add_register_copy(LAStransformParse& parse, const LASoptionCall& call) {
  const U32 index = call.values[0].u32;
  if (index > 15) {
    laserror("'%s' index of register %u is out of valid [0,15] range", call.typed, index);
    return LASoptionResult::FAILED;
  }
  parse.add(new Operation(parse.transform.registers, index));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_scaled_to_z(LAStransformParse& parse, const LASoptionCall& call) {
  if (call.values[1].f32 == 0.0f) {
    laserror("'%s' needs 2 arguments: index scale but '%g' is no valid scale", call.typed, (F64)call.values[1].f32);
    return LASoptionResult::FAILED;
  }
  return las_add_operation<LASoperationAddScaledAttributeToZ>(parse, call);
}

constexpr LASoption attribute(const char* name) { return {name, "index of attribute", 1, "%u", 0, nullptr,
                                                          "{needs} but '{arg}' is no valid index"}; }
constexpr LASoption reg(const char* name) { return {name, "index of register", 1, "%u", 0, nullptr,
                                                    "{needs} but '{arg}' is no valid index"}; }

const LASoperationOption options[] = {
    {attribute("-copy_attribute_into_x"), las_add_operation<LASoperationCopyAttributeIntoX>},
    {attribute("-copy_attribute_into_y"), las_add_operation<LASoperationCopyAttributeIntoY>},
    {attribute("-copy_attribute_into_z"), las_add_operation<LASoperationCopyAttributeIntoZ>},
    {reg("-copy_register_into_x"), add_register_copy<LASoperationCopyRegisterIntoX>},
    {reg("-copy_register_into_y"), add_register_copy<LASoperationCopyRegisterIntoY>},
    {reg("-copy_register_into_z"), add_register_copy<LASoperationCopyRegisterIntoZ>},
    {{"-copy_intensity_into_z", "", 0, ""}, las_add_operation<LASoperationCopyIntensityIntoZ>},
    {{"-copy_user_data_into_z", "", 0, ""}, las_add_operation<LASoperationCopyUserDataIntoZ>},
    {attribute("-add_attribute_to_z"), las_add_operation<LASoperationAddAttributeToZ>},
    {{"-add_scaled_attribute_to_z", "index scale", 2, "%u %f"}, add_scaled_to_z},
    {{"-copy_z_into_attribute", "index", 1, "%u"}, las_add_operation<LASoperationCopyZIntoAttribute>},
};

const LASoperationUsage usage[] = {
    {1, 12, "-copy_attribute_into_z 0"},
    {1, 13, "-add_attribute_to_z 1"},
    {1, 14, "-add_scaled_attribute_to_z 1 -1.2"},
    {1, 15, "-copy_intensity_into_z"},
    {1, 16, "-copy_user_data_into_z"},
    {13, 4, "-copy_z_into_attribute 0"},
};

}  // namespace

LASoperationFamily las_coordinate_copy_operations() { return {options, usage}; }
