// Classifying points whose z, intensity or attribute value lies below, above
// or between thresholds. Below and above are strict, between includes both
// bounds; a NaN attribute value lies nowhere. Bounds are not ordered for the
// user: a between with min above max classifies nothing.
#include "transforms/lasoperation_fields.hpp"

namespace {

// A test with its bounds and the names of its z, intensity and attribute options.
struct Below {
  static constexpr const char* names[3] = {"classify_z_below_as", "classify_intensity_below_as",
                                           "classify_attribute_below_as"};
  static constexpr int bounds = 1;
  static bool holds(F64 v, const F64* t) { return v < t[0]; }
};
struct Above {
  static constexpr const char* names[3] = {"classify_z_above_as", "classify_intensity_above_as",
                                           "classify_attribute_above_as"};
  static constexpr int bounds = 1;
  static bool holds(F64 v, const F64* t) { return v > t[0]; }
};
struct Between {
  static constexpr const char* names[3] = {"classify_z_between_as", "classify_intensity_between_as",
                                           "classify_attribute_between_as"};
  static constexpr int bounds = 2;
  static bool holds(F64 v, const F64* t) { return t[0] <= v && v <= t[1]; }
};

// The thresholds and the class, in option order.
template <class Test>
struct Thresholds {
  F64 bound[Test::bounds];
  U8 classification;
  explicit Thresholds(const LASoptionValue* v) : classification((U8)v[Test::bounds].u32) {
    for (int k = 0; k < Test::bounds; k++) bound[k] = v[k].f64;
  }
};

// z is the point's height as it arrives, before offset adjustment moves it.
template <class Test>
struct ClassifyZ : Thresholds<Test> {
  static constexpr const char* name = Test::names[0];
  static constexpr U32 mask = LAS_SELECTIVE_Z;
  using Thresholds<Test>::Thresholds;
  void text(std::string& text) const {
    for (F64 b : this->bound) las_option_text_lf(text, b);
    las_option_text_d(text, this->classification);
  }
  void apply(LASoperationValuesOnly& operation, LASpoint* point) const {
    const F64 z = las_operation_world_z(operation, point);
    operation.requantise(point);
    if (Test::holds(z, this->bound)) assign_classification(point, this->classification);
  }
};

// Intensities are compared as integers; the bounds were read as such.
template <class Test>
struct ClassifyIntensity : Thresholds<Test> {
  static constexpr const char* name = Test::names[1];
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  using Thresholds<Test>::Thresholds;
  void text(std::string& text) const {
    for (F64 b : this->bound) las_option_text_d(text, (I64)b);
    las_option_text_d(text, this->classification);
  }
  void apply(LASpoint* point) const {
    if (Test::holds(point->intensity, this->bound)) assign_classification(point, this->classification);
  }
};

// An attribute the point does not have reads 0.
template <class Test>
struct ClassifyAttribute {
  static constexpr const char* name = Test::names[2];
  static constexpr U32 mask = LAS_SELECTIVE_EXTRA_BYTES;
  U32 attribute_index;
  Thresholds<Test> thresholds;
  explicit ClassifyAttribute(const LASoptionValue* v) : attribute_index(v[0].u32), thresholds(v + 1) {}
  void text(std::string& text) const {
    las_option_text_d(text, attribute_index);
    for (F64 b : thresholds.bound) las_option_text_lf(text, b);
    las_option_text_d(text, thresholds.classification);
  }
  void apply(LASpoint* point) const {
    if (Test::holds(point->get_attribute_as_float(attribute_index), thresholds.bound)) {
      assign_classification(point, thresholds.classification);
    }
  }
};

// The operations, under their names.
using LASoperationClassifyZbelowAs = LASoperationOf<ClassifyZ<Below>>;
using LASoperationClassifyZaboveAs = LASoperationOf<ClassifyZ<Above>>;
using LASoperationClassifyZbetweenAs = LASoperationOf<ClassifyZ<Between>>;
using LASoperationClassifyIntensityBelowAs = LASoperationOf<ClassifyIntensity<Below>>;
using LASoperationClassifyIntensityAboveAs = LASoperationOf<ClassifyIntensity<Above>>;
using LASoperationClassifyIntensityBetweenAs = LASoperationOf<ClassifyIntensity<Between>>;
using LASoperationClassifyAttributeBelowAs = LASoperationOf<ClassifyAttribute<Below>>;
using LASoperationClassifyAttributeAboveAs = LASoperationOf<ClassifyAttribute<Above>>;
using LASoperationClassifyAttributeBetweenAs = LASoperationOf<ClassifyAttribute<Between>>;

constexpr LASvalueLimit Z_LIMITS[] = {
    {1, 255, "cannot classify z_value because classification of %u is larger than 255"}};
constexpr LASvalueLimit Z_BETWEEN_LIMITS[] = {
    {2, 255, "cannot classify z_value because classification of %u is larger than 255"}};
constexpr LASvalueLimit INTENSITY_LIMITS[] = {
    {0, 65535, "cannot classify intensity because value of %u is larger than %u"},
    {1, 255, "cannot classify intensity because classification of %u is larger than 255"}};
constexpr LASvalueLimit INTENSITY_BETWEEN_LIMITS[] = {
    {0, 65535, "cannot classify intensity because min_value of %u is larger than %u"},
    {1, 65535, "cannot classify intensity because max_value of %u is larger than %u"},
    {2, 255, "cannot classify intensity because classification of %u is larger than 255"}};
constexpr LASvalueLimit ATTRIBUTE_BELOW_LIMITS[] = {
    {2, 255, "cannot classify attribute below because classification of %u is larger than 255"}};
constexpr LASvalueLimit ATTRIBUTE_ABOVE_LIMITS[] = {
    {2, 255, "cannot classify attribute above because classification of %u is larger than 255"}};
constexpr LASvalueLimit ATTRIBUTE_BETWEEN_LIMITS[] = {
    {3, 255, "cannot classify attribute between because classification of %u is larger than 255"}};

const LASoperationOption options[] = {
    {{"-classify_z_below_as", "z_value classification", 2, "%lf %u"},
     las_add_limited<LASoperationClassifyZbelowAs, Z_LIMITS>},
    {{"-classify_z_above_as", "z_value classification", 2, "%lf %u"},
     las_add_limited<LASoperationClassifyZaboveAs, Z_LIMITS>},
    {{"-classify_z_between_as", "z_min z_max classification", 3, "%lf %lf %u"},
     las_add_limited<LASoperationClassifyZbetweenAs, Z_BETWEEN_LIMITS>},
    {{"-classify_intensity_below_as", "value classification", 2, "%u"},
     las_add_limited<LASoperationClassifyIntensityBelowAs, INTENSITY_LIMITS>},
    {{"-classify_intensity_above_as", "value classification", 2, "%u"},
     las_add_limited<LASoperationClassifyIntensityAboveAs, INTENSITY_LIMITS>},
    {{"-classify_intensity_between_as", "min_value max_value classification", 3, "%u"},
     las_add_limited<LASoperationClassifyIntensityBetweenAs, INTENSITY_BETWEEN_LIMITS>},
    {{"-classify_attribute_below_as", "attribute_index value classification", 3, "%u %lf %u"},
     las_add_limited<LASoperationClassifyAttributeBelowAs, ATTRIBUTE_BELOW_LIMITS>},
    {{"-classify_attribute_above_as", "attribute_index value classification", 3, "%u %lf %u"},
     las_add_limited<LASoperationClassifyAttributeAboveAs, ATTRIBUTE_ABOVE_LIMITS>},
    {{"-classify_attribute_between_as", "attribute_index min max classification", 4, "%u %lf %lf %u"},
     las_add_limited<LASoperationClassifyAttributeBetweenAs, ATTRIBUTE_BETWEEN_LIMITS>},
};

const LASoperationUsage usage[] = {
    {6, 4, "-classify_z_below_as -5.0 7"},
    {6, 5, "-classify_z_above_as 70.0 7"},
    {6, 6, "-classify_z_between_as 2.0 5.0 4"},
    {6, 7, "-classify_intensity_above_as 200 9"},
    {6, 8, "-classify_intensity_below_as 30 11 "},
    {6, 9, "-classify_intensity_between_as 500 900 15"},
    {6, 10, "-classify_attribute_below_as 0 -5.0 7"},
    {6, 11, "-classify_attribute_above_as 1 70.0 7"},
    {6, 12, "-classify_attribute_between_as 1 2.0 5.0 4"},
};

}  // namespace

LASoperationFamily las_classify_operations() { return {options, usage}; }
