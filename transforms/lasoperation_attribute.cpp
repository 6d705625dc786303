// Operations on the extra-bytes attributes of points: set, scale or translate
// one, copy one into intensity, point source, user data or a colour channel,
// copy user data or intensity into one, and add a scaled one to the user data.
// An attribute a point does not have reads 0 and is never written, so an index
// beyond the header's attributes is no error.
#include "transforms/lasoperation.hpp"

namespace {

// The rules of this family are made operations by LASoperationOf: none moves
// a point. Each writes the attribute index first in its option text.
struct OnAttribute {
  U32 index;
  explicit OnAttribute(const LASoptionValue* v) : index(v[0].u32) {}
  void text(std::string& text) const { las_option_text_d(text, index); }
};

struct SetAttribute : OnAttribute {
  static constexpr const char* name = "set_attribute";
  static constexpr U32 mask = 0;
  F64 value;
  explicit SetAttribute(const LASoptionValue* v) : OnAttribute(v), value(v[1].f64) {}
  void text(std::string& text) const {
    OnAttribute::text(text);
    las_option_text_g(text, value);
  }
  void apply(LASpoint* point) const { store_attribute_value(point, index, value); }
};

struct ScaleAttribute : OnAttribute {
  static constexpr const char* name = "scale_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  F32 scale;
  explicit ScaleAttribute(const LASoptionValue* v) : OnAttribute(v), scale(v[1].f32) {}
  void text(std::string& text) const {
    OnAttribute::text(text);
    las_option_text_g(text, scale);
  }
  void apply(LASpoint* point) const {
    store_attribute_value(point, index, point->get_attribute_as_float(index) * scale);
  }
};

struct TranslateAttribute : OnAttribute {
  static constexpr const char* name = "translate_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  F64 offset;
  explicit TranslateAttribute(const LASoptionValue* v) : OnAttribute(v), offset(v[1].f64) {}
  void text(std::string& text) const {
    OnAttribute::text(text);
    las_option_text_lf(text, offset);
  }
  void apply(LASpoint* point) const {
    store_attribute_value(point, index, point->get_attribute_as_float(index) + offset);
  }
};

using LASoperationSetAttribute = LASoperationOf<SetAttribute>;
using LASoperationScaleAttribute = LASoperationOf<ScaleAttribute>;
using LASoperationTranslateAttribute = LASoperationOf<TranslateAttribute>;

// An attribute copied into one field of the point, limited to its range.
struct IntoIntensity : OnAttribute {
  static constexpr const char* name = "copy_attribute_into_intensity";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  using OnAttribute::OnAttribute;
  void apply(LASpoint* p) const { p->intensity = las_limited_field(p->get_attribute_as_float(index), 65535); }
};
struct IntoPointSource : OnAttribute {
  static constexpr const char* name = "copy_attribute_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  using OnAttribute::OnAttribute;
  void apply(LASpoint* p) const { p->point_source_ID = las_limited_field(p->get_attribute_as_float(index), 65535); }
};
struct IntoUserData : OnAttribute {
  static constexpr const char* name = "copy_attribute_into_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  using OnAttribute::OnAttribute;
  void apply(LASpoint* p) const { p->user_data = (U8)las_limited_field(p->get_attribute_as_float(index), 255); }
};
// A field copied into an attribute.
struct FromUserData : OnAttribute {
  static constexpr const char* name = "copy_user_data_into_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  using OnAttribute::OnAttribute;
  void apply(LASpoint* p) const { store_attribute_value(p, index, p->user_data); }
};
struct FromIntensity : OnAttribute {
  static constexpr const char* name = "copy_intensity_into_attribute";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  using OnAttribute::OnAttribute;
  void apply(LASpoint* p) const { store_attribute_value(p, index, p->intensity); }
};

using LASoperationCopyAttributeIntoIntensity = LASoperationOf<IntoIntensity>;
using LASoperationCopyAttributeIntoPointSource = LASoperationOf<IntoPointSource>;
using LASoperationCopyAttributeIntoUserData = LASoperationOf<IntoUserData>;
using LASoperationCopyUserDataIntoAttribute = LASoperationOf<FromUserData>;
using LASoperationCopyIntensityIntoAttribute = LASoperationOf<FromIntensity>;

// Channel 0 red, 1 green, 2 blue, 3 NIR. The name is the common beginning;
// the text adds the channel's letters.
template <U32 channel>
struct IntoChannel : OnAttribute {
  static constexpr const char* name = "copy_attribute_into_";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  static constexpr const char* letters[4] = {"R", "G", "B", "NIR"};
  using OnAttribute::OnAttribute;
  void text(std::string& text) const {
    las_operation_word_tail(text, letters[channel]);
    OnAttribute::text(text);
  }
  void apply(LASpoint* p) const { p->rgb[channel] = las_limited_field(p->get_attribute_as_float(index), 65535); }
};

template <U32 channel>
using LASoperationCopyAttributeIntoRGBNIR = LASoperationOf<IntoChannel<channel>>;

// No upper limit: a sum of 255.5 or more keeps its low 8 bits (256 gives 0).
struct AddScaledAttributeToUserData : OnAttribute {
  static constexpr const char* name = "add_scaled_attribute_to_user_data";
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES | LAS_SELECTIVE_USER_DATA;
  F32 scale;
  explicit AddScaledAttributeToUserData(const LASoptionValue* v) : OnAttribute(v), scale(v[1].f32) {}
  void text(std::string& text) const {
    OnAttribute::text(text);
    las_option_text_f(text, scale);
  }
  void apply(LASpoint* point) const {
    const F64 sum = (F64)scale * point->get_attribute_as_float(index) + point->user_data;
    // A sum beyond 64 bits converts to the lowest value, whose low 8 bits are 0.
    point->user_data = (sum >= 0.0) ? (U8)las_f64_to_i64(sum + 0.5) : 0;
  }
};

using LASoperationAddScaledAttributeToUserData = LASoperationOf<AddScaledAttributeToUserData>;

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
    {COPY_OUT("-copy_attribute_into_R"), las_add_operation<LASoperationCopyAttributeIntoRGBNIR<0>>},
    {COPY_OUT("-copy_attribute_into_G"), las_add_operation<LASoperationCopyAttributeIntoRGBNIR<1>>},
    {COPY_OUT("-copy_attribute_into_B"), las_add_operation<LASoperationCopyAttributeIntoRGBNIR<2>>},
    {COPY_OUT("-copy_attribute_into_NIR"), las_add_operation<LASoperationCopyAttributeIntoRGBNIR<3>>},
    {COPY_OUT("-copy_attribute_into_I"), las_add_operation<LASoperationCopyAttributeIntoRGBNIR<3>>},
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
