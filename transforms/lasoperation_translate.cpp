// Translations and scalings of coordinates: a constant added, a factor applied,
// or both (translate then scale; scale about a value that stays fixed). Scaling
// is about the origin, not the header offset: "-scale_z 2" doubles heights
// above 0. Each option changes one coordinate, or all three with its own value.
#include "transforms/lasoperation.hpp"

namespace {

// The four formulas with their parameters in option order and the names of
// their options for x, y, z and xyz.
struct Translate {
  static constexpr int parameters = 1;
  static constexpr const char* names[4] = {"translate_x", "translate_y", "translate_z", "translate_xyz"};
  static F64 apply(F64 v, const F64* p) { return v + p[0]; }
};
struct Scale {
  static constexpr int parameters = 1;
  static constexpr const char* names[4] = {"scale_x", "scale_y", "scale_z", "scale_xyz"};
  static F64 apply(F64 v, const F64* p) { return v * p[0]; }
};
// offset, scale
struct TranslateThenScale {
  static constexpr int parameters = 2;
  static constexpr const char* names[3] = {"translate_then_scale_x", "translate_then_scale_y",
                                           "translate_then_scale_z"};
  static F64 apply(F64 v, const F64* p) { return (v + p[0]) * p[1]; }
};
// offset, scale: scales about the offset.
struct TranslateScaleTranslate {
  static constexpr int parameters = 2;
  static constexpr const char* names[3] = {"translate_scale_translate_x", "translate_scale_translate_y",
                                           "translate_scale_translate_z"};
  static F64 apply(F64 v, const F64* p) { return (v - p[0]) * p[1] + p[0]; }
};

// One formula on the coordinates `first` to `last` (0 x, 1 y, 2 z), each with
// its own parameters, in the order the option takes them.
template <int first, int last>
constexpr U32 las_axes_from_to = ((1u << (last + 1)) - 1) & ~((1u << first) - 1);

template <class Formula, int first, int last = first>
class LASoperationAxes : public LASoperationCoordinates<LASoperationAxes<Formula, first, last>, las_axes_from_to<first, last>> {
  static constexpr int count = last - first + 1;

 public:
  explicit LASoperationAxes(const LASoptionValue* v) {
    for (int k = 0; k < count * Formula::parameters; k++) parameter[k] = v[k].f64;
  }
  const char* name() const override { return Formula::names[count == 3 ? 3 : first]; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    for (F64 p : parameter) las_option_text_lf(text, p);
    return las_operation_text_size(text, start);
  }
  auto change() const {
    return [this](F64* v) {
      for (int axis = first; axis <= last; axis++) {
        v[axis] = Formula::apply(v[axis], &parameter[(axis - first) * Formula::parameters]);
      }
    };
  }

 private:
  F64 parameter[count * Formula::parameters];
};

using LASoperationTranslateX = LASoperationAxes<Translate, 0>;
using LASoperationTranslateY = LASoperationAxes<Translate, 1>;
using LASoperationTranslateZ = LASoperationAxes<Translate, 2>;
using LASoperationTranslateXYZ = LASoperationAxes<Translate, 0, 2>;
using LASoperationScaleX = LASoperationAxes<Scale, 0>;
using LASoperationScaleY = LASoperationAxes<Scale, 1>;
using LASoperationScaleZ = LASoperationAxes<Scale, 2>;
using LASoperationScaleXYZ = LASoperationAxes<Scale, 0, 2>;
using LASoperationTranslateThenScaleX = LASoperationAxes<TranslateThenScale, 0>;
using LASoperationTranslateThenScaleY = LASoperationAxes<TranslateThenScale, 1>;
using LASoperationTranslateThenScaleZ = LASoperationAxes<TranslateThenScale, 2>;
using LASoperationTranslateScaleTranslateX = LASoperationAxes<TranslateScaleTranslate, 0>;
using LASoperationTranslateScaleTranslateY = LASoperationAxes<TranslateScaleTranslate, 1>;
using LASoperationTranslateScaleTranslateZ = LASoperationAxes<TranslateScaleTranslate, 2>;

constexpr const char* NUMBER = "{needs} but '{arg}' is no valid number";

const LASoperationOption options[] = {
    {{"-translate_x", "offset", 1, "%lf", 0, nullptr, NUMBER}, las_add_operation<LASoperationTranslateX>},
    {{"-translate_y", "offset", 1, "%lf", 0, nullptr, NUMBER}, las_add_operation<LASoperationTranslateY>},
    {{"-translate_z", "offset", 1, "%lf", 0, nullptr, NUMBER}, las_add_operation<LASoperationTranslateZ>},
    {{"-translate_xyz", "offset_x offset_y offset_z", 3, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateXYZ>},
    // The message of a bad scale names the scale by its axis.
    {{"-scale_x", "scale", 1, "%lf", 0, nullptr, "'{option}' needs 1 argument: scale_x but '{arg}' is no valid number"},
     las_add_operation<LASoperationScaleX>},
    {{"-scale_y", "scale", 1, "%lf", 0, nullptr, "'{option}' needs 1 argument: scale_y but '{arg}' is no valid number"},
     las_add_operation<LASoperationScaleY>},
    {{"-scale_z", "scale", 1, "%lf", 0, nullptr, "'{option}' needs 1 argument: scale_z but '{arg}' is no valid number"},
     las_add_operation<LASoperationScaleZ>},
    {{"-scale_xyz", "scale_x scale_y scale_z", 3, "%lf", 0, nullptr, NUMBER}, las_add_operation<LASoperationScaleXYZ>},
    {{"-translate_then_scale_x", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateThenScaleX>},
    {{"-translate_then_scale_y", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateThenScaleY>},
    {{"-translate_then_scale_z", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateThenScaleZ>},
    {{"-translate_scale_translate_x", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateScaleTranslateX>},
    {{"-translate_scale_translate_y", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateScaleTranslateY>},
    {{"-translate_scale_translate_z", "offset scale", 2, "%lf", 0, nullptr, NUMBER},
     las_add_operation<LASoperationTranslateScaleTranslateZ>},
};

const LASoperationUsage usage[] = {
    {1, 1, "-translate_x -2.5"},
    {1, 2, "-scale_z 0.3048"},
    {1, 4, "-translate_xyz 0.5 0.5 0"},
    {1, 5, "-translate_then_scale_y -0.5 1.001"},
};

}  // namespace

LASoperation* las_new_translate_xyz(F64 offset_x, F64 offset_y, F64 offset_z) {
  LASoptionValue offsets[3];
  offsets[0].f64 = offset_x;
  offsets[1].f64 = offset_y;
  offsets[2].f64 = offset_z;
  return new LASoperationTranslateXYZ(offsets);
}

LASoperationFamily las_translate_scale_operations() { return {options, usage}; }
