// Operations on the extra-bytes attributes of points: set, scale or translate
// one, copy one into intensity, point source, user data or a colour channel,
// copy user data or intensity into one, and add a scaled one to the user data.
// An attribute a point does not have reads 0 and is never written, so an index
// beyond the header's attributes is no error.
#include "transforms/lasoperation.hpp"

namespace {

// Operations that change no coordinate re-quantise the point first under
// offset adjustment, then make their own change, `Derived::change`.
template <class Derived>
class LASoperationAttribute : public LASoperation {
 public:
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
  void transform(LASpoint* point) override {
    if (offset_adjust) set_offset_adjust_coord_without_trafo_changes(point);
    static_cast<const Derived&>(*this).change(point);
  }

 protected:
  explicit LASoperationAttribute(U32 index) : index(index) {}
  // "-" + name + the index, and answers where the text began.
  size_t text_with_index(std::string& text) const {
    const size_t start = las_operation_text(text, name());
    las_option_text_d(text, index);
    return start;
  }
  U32 index;
};

class LASoperationSetAttribute final : public LASoperationAttribute<LASoperationSetAttribute> {
 public:
  explicit LASoperationSetAttribute(const LASoptionValue* v) : LASoperationAttribute(v[0].u32), value(v[1].f64) {}
  const char* name() const override { return "set_attribute"; }
  I32 get_command(std::string& text) const override {
    const size_t start = text_with_index(text);
    las_option_text_g(text, value);
    return las_operation_text_size(text, start);
  }

  void change(LASpoint* point) const { store_attribute_value(point, index, value); }

 private:
  F64 value;
};

class LASoperationScaleAttribute final : public LASoperationAttribute<LASoperationScaleAttribute> {
 public:
  explicit LASoperationScaleAttribute(const LASoptionValue* v) : LASoperationAttribute(v[0].u32), scale(v[1].f32) {}
  const char* name() const override { return "scale_attribute"; }
  I32 get_command(std::string& text) const override {
    const size_t start = text_with_index(text);
    las_option_text_g(text, scale);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES; }

  void change(LASpoint* point) const {
    store_attribute_value(point, index, point->get_attribute_as_float(index) * scale);
  }

 private:
  F32 scale;
};

class LASoperationTranslateAttribute final : public LASoperationAttribute<LASoperationTranslateAttribute> {
 public:
  explicit LASoperationTranslateAttribute(const LASoptionValue* v)
      : LASoperationAttribute(v[0].u32), offset(v[1].f64) {}
  const char* name() const override { return "translate_attribute"; }
  I32 get_command(std::string& text) const override {
    const size_t start = text_with_index(text);
    las_option_text_lf(text, offset);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES; }

  void change(LASpoint* point) const {
    store_attribute_value(point, index, point->get_attribute_as_float(index) + offset);
  }

 private:
  F64 offset;
};

// An operation whose one parameter is the attribute index: `Rule` gives its
// name and mask and changes the point.
template <class Rule>
class LASoperationOnAttribute final : public LASoperationAttribute<LASoperationOnAttribute<Rule>> {
 public:
  explicit LASoperationOnAttribute(const LASoptionValue* v)
      : LASoperationAttribute<LASoperationOnAttribute<Rule>>(v[0].u32) {}
  const char* name() const override { return Rule::name; }
  I32 get_command(std::string& text) const override {
    return las_operation_text_size(text, this->text_with_index(text));
  }
  U32 get_decompress_selective() const override { return Rule::mask; }

  void change(LASpoint* point) const { Rule::apply(point, this->index); }
};

// An attribute copied into one field of the point, limited to its range.
struct IntoIntensity {
  static constexpr const char* name = "copy_attribute_into_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static void apply(LASpoint* p, U32 i) { p->intensity = las_limited_field(p->get_attribute_as_float(i), 65535); }
};
struct IntoPointSource {
  static constexpr const char* name = "copy_attribute_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static void apply(LASpoint* p, U32 i) { p->point_source_ID = las_limited_field(p->get_attribute_as_float(i), 65535); }
};
struct IntoUserData {
  static constexpr const char* name = "copy_attribute_into_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static void apply(LASpoint* p, U32 i) { p->user_data = (U8)las_limited_field(p->get_attribute_as_float(i), 255); }
};
// A field copied into an attribute.
struct FromUserData {
  static constexpr const char* name = "copy_user_data_into_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  static void apply(LASpoint* p, U32 i) { store_attribute_value(p, i, p->user_data); }
};
struct FromIntensity {
  static constexpr const char* name = "copy_intensity_into_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  static void apply(LASpoint* p, U32 i) { store_attribute_value(p, i, p->intensity); }
};

using LASoperationCopyAttributeIntoIntensity = LASoperationOnAttribute<IntoIntensity>;
using LASoperationCopyAttributeIntoPointSource = LASoperationOnAttribute<IntoPointSource>;
using LASoperationCopyAttributeIntoUserData = LASoperationOnAttribute<IntoUserData>;
using LASoperationCopyUserDataIntoAttribute = LASoperationOnAttribute<FromUserData>;
using LASoperationCopyIntensityIntoAttribute = LASoperationOnAttribute<FromIntensity>;

// Channel 0 red, 1 green, 2 blue, 3 NIR. The name is the common beginning;
// the text adds the channel's letters.
class LASoperationCopyAttributeIntoRGBNIR final : public LASoperationAttribute<LASoperationCopyAttributeIntoRGBNIR> {
 public:
  LASoperationCopyAttributeIntoRGBNIR(U32 index, U32 channel) : LASoperationAttribute(index), channel(channel) {}
  const char* name() const override { return "copy_attribute_into_"; }
  I32 get_command(std::string& text) const override {
    static const char* const channels[4] = {"R", "G", "B", "NIR"};
    const size_t start = text.size();
    text += "-copy_attribute_into_";
    text += channels[channel];
    text += ' ';
    las_option_text_d(text, index);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES; }

  void change(LASpoint* point) const {
    point->rgb[channel] = las_limited_field(point->get_attribute_as_float(index), 65535);
  }

 private:
  U32 channel;
};

// No upper limit: a sum of 255.5 or more keeps its low 8 bits (256 gives 0).
class LASoperationAddScaledAttributeToUserData final
    : public LASoperationAttribute<LASoperationAddScaledAttributeToUserData> {
 public:
  explicit LASoperationAddScaledAttributeToUserData(const LASoptionValue* v)
      : LASoperationAttribute(v[0].u32), scale(v[1].f32) {}
  const char* name() const override { return "add_scaled_attribute_to_user_data"; }
  I32 get_command(std::string& text) const override {
    const size_t start = text_with_index(text);
    las_option_text_f(text, scale);
    return las_operation_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_EXTRA_BYTES | LAS_SELECTIVE_USER_DATA; }

  void change(LASpoint* point) const {
    const F64 sum = (F64)scale * point->get_attribute_as_float(index) + point->user_data;
    // A sum beyond 64 bits converts to the lowest value, whose low 8 bits are 0.
    point->user_data = (sum >= 0.0) ? (U8)las_f64_to_i64(sum + 0.5) : 0;
  }

 private:
  F32 scale;
};

template <U32 channel>
LASoptionResult add_copy_into_channel(LAStransformParse& parse, const LASoptionCall& call) {
  parse.add(new LASoperationCopyAttributeIntoRGBNIR(call.values[0].u32, channel));
  return LASoptionResult::TAKEN;
}

// Options that copy out of an attribute call their value the index of attribute.
#define COPY_OUT(option) \
  { option, "index of attribute", 1, "%u" }

const LASoperationOption options[] = {
    {{"-set_attribute", "index value", 2, "%u %lf"}, las_add_operation<LASoperationSetAttribute>},
    {{"-scale_attribute", "index scale", 2, "%u %f"}, las_add_operation<LASoperationScaleAttribute>},
    {{"-translate_attribute", "index offset", 2, "%u %lf"}, las_add_operation<LASoperationTranslateAttribute>},
    {COPY_OUT("-copy_attribute_into_intensity"), las_add_operation<LASoperationCopyAttributeIntoIntensity>},
    {COPY_OUT("-copy_attribute_into_point_source"), las_add_operation<LASoperationCopyAttributeIntoPointSource>},
    {COPY_OUT("-copy_attribute_into_user_data"), las_add_operation<LASoperationCopyAttributeIntoUserData>},
    {COPY_OUT("-copy_attribute_into_R"), add_copy_into_channel<0>},
    {COPY_OUT("-copy_attribute_into_G"), add_copy_into_channel<1>},
    {COPY_OUT("-copy_attribute_into_B"), add_copy_into_channel<2>},
    {COPY_OUT("-copy_attribute_into_NIR"), add_copy_into_channel<3>},
    {COPY_OUT("-copy_attribute_into_I"), add_copy_into_channel<3>},
    {{"-copy_user_data_into_attribute", "index", 1, "%u"}, las_add_operation<LASoperationCopyUserDataIntoAttribute>},
    {{"-copy_intensity_into_attribute", "index", 1, "%u"}, las_add_operation<LASoperationCopyIntensityIntoAttribute>},
    {{"-add_scaled_attribute_to_user_data", "index scale", 2, "%u %f"},
     las_add_operation<LASoperationAddScaledAttributeToUserData>},
};

#undef COPY_OUT

const LASoperationUsage usage[] = {
    {3, 10, "-copy_attribute_into_intensity 0"},
    {9, 7, "-copy_attribute_into_user_data 1"},
    {9, 8, "-add_scaled_attribute_to_user_data 0 10.0"},
    {10, 6, "-copy_attribute_into_point_source 0"},
    {13, 1, "-scale_attribute 0 1.5"},
    {13, 2, "-translate_attribute 1 0.2"},
    {13, 3, "-copy_user_data_into_attribute 0"},
};

}  // namespace

LASoperationFamily las_attribute_operations() { return {options, usage}; }
