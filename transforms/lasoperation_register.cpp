// Register operations: load point fields into the transform's sixteen
// registers, compute with them, and store them back into point fields, so
// that a chain of options expresses arithmetic no single operation offers.
// The registers belong to the transform; every operation keeps a pointer to
// them, and they carry values from one point to the next until the
// transform's reset.
#include <initializer_list>
#include <string>

#include "transforms/lasoperation.hpp"

namespace {

// A value for the 8-bit user data, limited as the 16-bit fields are.
U8 limited_u8(F64 value) { return (U8)las_limited_field(value, 255); }

// The indices an operation writes into its option text, "%u" each. None of
// these operations moves a point: each is a rule of LASoperationOf.
void text_with_indices(std::string& text, std::initializer_list<U32> indices) {
  for (U32 index : indices) las_option_text_d(text, index);
}

// ------------------------------------------------------------------ loads and stores

// A point field as a number and its write, limited to the field's range.
struct Intensity {
  static F64 get(const LASpoint* p) { return p->intensity; }
  static void set(LASpoint* p, F64 v) { p->intensity = las_limited_u16(v); }
};
struct UserData {
  static F64 get(const LASpoint* p) { return p->user_data; }
  static void set(LASpoint* p, F64 v) { p->user_data = limited_u8(v); }
};
struct PointSource {
  static F64 get(const LASpoint* p) { return p->point_source_ID; }
  static void set(LASpoint* p, F64 v) { p->point_source_ID = las_limited_u16(v); }
};

template <class Field>
struct Load {
  const char* name;
  U32 mask;
  F64* registers;
  U32 index;
  void text(std::string& text) const { text_with_indices(text, {index}); }
  void apply(LASpoint* point) const { registers[index] = Field::get(point); }
};

template <class Field>
struct Store {
  static constexpr U32 mask = 0;
  const char* name;
  F64* registers;
  U32 index;
  void text(std::string& text) const { text_with_indices(text, {index}); }
  void apply(LASpoint* point) const { Field::set(point, registers[index]); }
};

using LASoperationCopyIntensityIntoRegister = LASoperationOf<Load<Intensity>>;
using LASoperationCopyUserDataIntoRegister = LASoperationOf<Load<UserData>>;
using LASoperationCopyPointSourceIntoRegister = LASoperationOf<Load<PointSource>>;
using LASoperationCopyRegisterIntoIntensity = LASoperationOf<Store<Intensity>>;
using LASoperationCopyRegisterIntoUserData = LASoperationOf<Store<UserData>>;
using LASoperationCopyRegisterIntoPointSource = LASoperationOf<Store<PointSource>>;

const char* const channel_words[4] = {"R", "G", "B", "NIR"};

// Channel 0 red, 1 green, 2 blue, 3 NIR.
template <U32 channel>
struct LoadChannel {
  static constexpr const char* names[4] = {"copy_R_into_register", "copy_G_into_register", "copy_B_into_register",
                                           "copy_NIR_into_register"};
  static constexpr const char* name = names[channel];
  static constexpr U32 mask = channel == 3 ? LAS_SELECTIVE_NIR : LAS_SELECTIVE_RGB;
  F64* registers;
  U32 index;
  void text(std::string& text) const { text_with_indices(text, {index}); }
  void apply(LASpoint* point) const { registers[index] = point->rgb[channel]; }
};

// The name is the common beginning; the text adds the channel's letters, so
// "-copy_register_into_I" comes back as "-copy_register_into_NIR".
template <U32 channel>
struct StoreChannel {
  static constexpr const char* name = "copy_register_into_";
  static constexpr U32 mask = 0;
  F64* registers;
  U32 index;
  void text(std::string& text) const {
    las_operation_word_tail(text, channel_words[channel]);
    las_option_text_d(text, index);
  }
  void apply(LASpoint* point) const { point->rgb[channel] = las_limited_u16(registers[index]); }
};

template <U32 channel>
using LASoperationCopyRBGNIRintoRegister = LASoperationOf<LoadChannel<channel>>;
template <U32 channel>
using LASoperationCopyRegisterIntoRGBNIR = LASoperationOf<StoreChannel<channel>>;

// An attribute a point does not have loads 0 and is never written.
struct LoadAttribute {
  static constexpr const char* name = "copy_attribute_into_register";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  U32 attribute;
  F64* registers;
  U32 index;
  void text(std::string& text) const { text_with_indices(text, {attribute, index}); }
  void apply(LASpoint* point) const { registers[index] = point->get_attribute_as_float(attribute); }
};

struct StoreAttribute {
  static constexpr const char* name = "copy_register_into_attribute";
  static constexpr U32 mask = 0;
  F64* registers;
  U32 index;
  U32 attribute;
  void text(std::string& text) const { text_with_indices(text, {index, attribute}); }
  void apply(LASpoint* point) const { store_attribute_value(point, attribute, registers[index]); }
};

using LASoperationCopyAttributeIntoRegister = LASoperationOf<LoadAttribute>;
using LASoperationCopyRegisterIntoAttribute = LASoperationOf<StoreAttribute>;

// ------------------------------------------------------------------ arithmetic

struct SetRegister {
  static constexpr const char* name = "set_register";
  static constexpr U32 mask = 0;
  F64* registers;
  U32 index;
  F64 value;
  void text(std::string& text) const {
    text_with_indices(text, {index});
    las_option_text_g(text, value);
  }
  void apply(LASpoint*) const { registers[index] = value; }
};

// The scale is kept as an F32 and widened when it multiplies.
struct ScaleRegister {
  static constexpr const char* name = "scale_register";
  static constexpr U32 mask = 0;
  F64* registers;
  U32 index;
  F32 scale;
  void text(std::string& text) const {
    text_with_indices(text, {index});
    las_option_text_g(text, scale);
  }
  void apply(LASpoint*) const { registers[index] *= (F64)scale; }
};

struct TranslateRegister {
  static constexpr const char* name = "translate_register";
  static constexpr U32 mask = 0;
  F64* registers;
  U32 index;
  F64 offset;
  void text(std::string& text) const {
    text_with_indices(text, {index});
    las_option_text_lf(text, offset);
  }
  void apply(LASpoint*) const { registers[index] += offset; }
};

using LASoperationSetRegister = LASoperationOf<SetRegister>;
using LASoperationScaleRegister = LASoperationOf<ScaleRegister>;
using LASoperationTranslateRegister = LASoperationOf<TranslateRegister>;

// Two registers into a third, by plain F64 rules (a division by 0 gives an
// infinity or NaN); both inputs are read before the output is written.
template <class Op>
struct Combine {
  static constexpr const char* name = Op::name;
  static constexpr U32 mask = 0;
  F64* registers;
  U32 input1, input2, output;
  void text(std::string& text) const { text_with_indices(text, {input1, input2, output}); }
  void apply(LASpoint*) const { registers[output] = Op::apply(registers[input1], registers[input2]); }
};

struct Add {
  static constexpr const char* name = "add_registers";
  static F64 apply(F64 a, F64 b) { return a + b; }
};
struct Subtract {
  static constexpr const char* name = "subtract_registers";
  static F64 apply(F64 a, F64 b) { return a - b; }
};
struct Multiply {
  static constexpr const char* name = "multiply_registers";
  static F64 apply(F64 a, F64 b) { return a * b; }
};
struct Divide {
  static constexpr const char* name = "divide_registers";
  static F64 apply(F64 a, F64 b) { return a / b; }
};

using LASoperationAddRegisters = LASoperationOf<Combine<Add>>;
using LASoperationSubtractRegisters = LASoperationOf<Combine<Subtract>>;
using LASoperationMultiplyRegisters = LASoperationOf<Combine<Multiply>>;
using LASoperationDivideRegisters = LASoperationOf<Combine<Divide>>;

// ------------------------------------------------------------------ parsing

constexpr const char* REGISTER_RANGE = "'%s' index of register %u is out of valid [0,15] range";

// Reads the indices of one option in the order its messages are worded: each
// value taken as text is read as "%u" when its turn comes, and a register
// index is checked against the sixteen registers either right away or once
// every value is read. Reports the first failure.
class IndexReader {
 public:
  explicit IndexReader(const LASoptionCall& call) : call(call) {}
  // Value k as an index; `invalid` is worded with the option and the argument.
  bool read(size_t k, const char* invalid, U32& value) {
    if (las_read_u32(call.values[k].text, &value)) return true;
    laserror(invalid, call.typed, call.values[k].text);
    return false;
  }
  // `message` is worded with the option and the index.
  bool in_range(U32 index, const char* message) {
    if (index <= 15) return true;
    laserror(message, call.typed, index);
    return false;
  }

 private:
  const LASoptionCall& call;
};

// A register index as the only value, read "%u" by the option table.
template <class Build>
LASoptionResult add_one(LAStransformParse& parse, const LASoptionCall& call, const Build& build) {
  const U32 index = call.values[0].u32;
  if (!IndexReader(call).in_range(index, REGISTER_RANGE)) return LASoptionResult::FAILED;
  parse.add(build(parse.transform.registers, index));
  return LASoptionResult::TAKEN;
}

template <class Field>
LASoptionResult add_load(LAStransformParse& parse, const LASoptionCall& call, const char* name, U32 mask) {
  return add_one(parse, call, [&](F64* registers, U32 index) {
    return new LASoperationOf<Load<Field>>({name, mask, registers, index});
  });
}
LASoptionResult add_load_intensity(LAStransformParse& parse, const LASoptionCall& call) {
  return add_load<Intensity>(parse, call, "copy_intensity_into_register", LAS_SELECTIVE_INTENSITY);
}
LASoptionResult add_load_user_data(LAStransformParse& parse, const LASoptionCall& call) {
  return add_load<UserData>(parse, call, "copy_user_data_into_register", LAS_SELECTIVE_USER_DATA);
}
LASoptionResult add_load_point_source(LAStransformParse& parse, const LASoptionCall& call) {
  return add_load<PointSource>(parse, call, "copy_point_source_into_register", LAS_SELECTIVE_POINT_SOURCE);
}

template <class Field>
LASoptionResult add_store(LAStransformParse& parse, const LASoptionCall& call, const char* name) {
  return add_one(parse, call, [&](F64* registers, U32 index) {
    return new LASoperationOf<Store<Field>>({name, registers, index});
  });
}
LASoptionResult add_store_intensity(LAStransformParse& parse, const LASoptionCall& call) {
  return add_store<Intensity>(parse, call, "copy_register_into_intensity");
}
LASoptionResult add_store_user_data(LAStransformParse& parse, const LASoptionCall& call) {
  return add_store<UserData>(parse, call, "copy_register_into_user_data");
}
LASoptionResult add_store_point_source(LAStransformParse& parse, const LASoptionCall& call) {
  return add_store<PointSource>(parse, call, "copy_register_into_point_source");
}

template <U32 channel>
LASoptionResult add_load_channel(LAStransformParse& parse, const LASoptionCall& call) {
  return add_one(parse, call, [](F64* registers, U32 index) {
    return new LASoperationCopyRBGNIRintoRegister<channel>({registers, index});
  });
}
template <U32 channel>
LASoptionResult add_store_channel(LAStransformParse& parse, const LASoptionCall& call) {
  return add_one(parse, call, [](F64* registers, U32 index) {
    return new LASoperationCopyRegisterIntoRGBNIR<channel>({registers, index});
  });
}

// Index and number, read by the table; the index is checked after both.
LASoptionResult add_set(LAStransformParse& parse, const LASoptionCall& call) {
  return add_one(parse, call, [&](F64* registers, U32 index) {
    return new LASoperationSetRegister({registers, index, call.values[1].f64});
  });
}
LASoptionResult add_scale(LAStransformParse& parse, const LASoptionCall& call) {
  return add_one(parse, call, [&](F64* registers, U32 index) {
    return new LASoperationScaleRegister({registers, index, call.values[1].f32});
  });
}
LASoptionResult add_translate(LAStransformParse& parse, const LASoptionCall& call) {
  return add_one(parse, call, [&](F64* registers, U32 index) {
    return new LASoperationTranslateRegister({registers, index, call.values[1].f64});
  });
}

// Each register is checked as soon as it is read.
template <class Op>
LASoptionResult add_combine(LAStransformParse& parse, const LASoptionCall& call) {
  static const char* const invalid[3] = {"'%s' needs 3 arguments: input1 input2 output but '%s' is no valid input1",
                                         "'%s' needs 3 arguments: input1 input2 output but '%s' is no valid input2",
                                         "'%s' needs 3 arguments: input1 input2 output but '%s' is no valid input3"};
  static const char* const range[3] = {
      "'%s' needs 3 arguments: input1 input2 output but %u is out-of-range for input1",
      "'%s' needs 3 arguments: input1 input2 output but %u is out-of-range for input2",
      "'%s' needs 3 arguments: input1 input2 output but %u is out-of-range for output"};
  IndexReader reader(call);
  U32 r[3];
  for (size_t k = 0; k < 3; k++) {
    if (!reader.read(k, invalid[k], r[k]) || !reader.in_range(r[k], range[k])) return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationOf<Combine<Op>>({parse.transform.registers, r[0], r[1], r[2]}));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_load_attribute(LAStransformParse& parse, const LASoptionCall& call) {
  IndexReader reader(call);
  U32 attribute, index;
  if (!reader.read(0, "'%s' 1st of 2 arguments index of attribute '%s' is no valid index", attribute) ||
      !reader.read(1, "'%s' 2nd of 2 arguments index of register '%s' is no valid index", index) ||
      !reader.in_range(index, "'%s' 2nd of 2 arguments index of register %u is out of valid [0,15] range")) {
    return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationCopyAttributeIntoRegister({attribute, parse.transform.registers, index}));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_store_attribute(LAStransformParse& parse, const LASoptionCall& call) {
  IndexReader reader(call);
  U32 index, attribute;
  if (!reader.read(0, "'%s' 1st of 2 arguments index of register '%s' is no valid index", index) ||
      !reader.in_range(index, "'%s' 1st of 2 arguments index of register %u is out of valid [0,15] range") ||
      !reader.read(1, "'%s' 2nd of 2 arguments index of attribute '%s' is no valid index", attribute)) {
    return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationCopyRegisterIntoAttribute({parse.transform.registers, index, attribute}));
  return LASoptionResult::TAKEN;
}

// Options whose one value is a register index.
constexpr LASoption load(const char* name) { return {name, "index", 1, "%u"}; }
constexpr LASoption store(const char* name) {
  return {name, "index of register", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid index"};
}
constexpr LASoption combine(const char* name) { return {name, "input1 input2 output", 3, "%s"}; }

const LASoperationOption options[] = {
    {load("-copy_intensity_into_register"), add_load_intensity},
    {load("-copy_user_data_into_register"), add_load_user_data},
    {load("-copy_point_source_into_register"), add_load_point_source},
    {{"-copy_attribute_into_register", "index", 2, "%s", 0,
      "'{option}' needs 2 arguments: index of attribute, index of register"},
     add_load_attribute},
    {load("-copy_R_into_register"), add_load_channel<0>},
    {load("-copy_G_into_register"), add_load_channel<1>},
    {load("-copy_B_into_register"), add_load_channel<2>},
    {load("-copy_NIR_into_register"), add_load_channel<3>},
    {{"-set_register", "index value", 2, "%u %lf"}, add_set},
    {{"-scale_register", "index scale", 2, "%u %f"}, add_scale},
    {{"-translate_register", "index offset", 2, "%u %lf"}, add_translate},
    {combine("-add_registers"), add_combine<Add>},
    {combine("-subtract_registers"), add_combine<Subtract>},
    {combine("-multiply_registers"), add_combine<Multiply>},
    {combine("-divide_registers"), add_combine<Divide>},
    {store("-copy_register_into_user_data"), add_store_user_data},
    {store("-copy_register_into_intensity"), add_store_intensity},
    {store("-copy_register_into_point_source"), add_store_point_source},
    {store("-copy_register_into_R"), add_store_channel<0>},
    {store("-copy_register_into_G"), add_store_channel<1>},
    {store("-copy_register_into_B"), add_store_channel<2>},
    {store("-copy_register_into_NIR"), add_store_channel<3>},
    {store("-copy_register_into_I"), add_store_channel<3>},
    {{"-copy_register_into_attribute", "index", 2, "%s", 0,
      "'{option}' needs 2 arguments: index of register, index of attribute"},
     add_store_attribute},
};

const LASoperationUsage usage[] = {
    {14, 1, "-copy_attribute_into_register 0 0"},
    {14, 2, "-scale_register 0 1.5"},
    {14, 3, "-translate_register 1 10.7"},
    {14, 4, "-add_registers 0 1 3"},
    {14, 5, "-multiply_registers 0 1 2"},
    {14, 6, "-copy_intensity_into_register 0"},
    {14, 7, "-copy_R_into_register 1"},
    {14, 8, "-copy_G_into_register 2"},
    {14, 9, "-copy_B_into_register 3"},
    {14, 10, "-copy_NIR_into_register 4"},
    {14, 11, "-copy_register_into_intensity 1"},
};

}  // namespace

LASoperationFamily las_register_operations() { return {options, usage}; }
