// Rigid and nearly rigid moves of points: rotations about a centre in one of
// the three coordinate planes, the seven-parameter Helmert transformation of
// datum shifts, a planar similarity (scale, rotation, shift) and a general
// 3 x 3 matrix with a translation, as scans are registered with. Every new
// coordinate is computed from the old ones before any is stored.
#include <cmath>
#include <string>
#include <vector>

#include "transforms/lasoperation.hpp"

namespace {

constexpr F64 RADIANS_PER_DEGREE = 0.017453292519943295;
constexpr F64 RADIANS_PER_ARC_SECOND = 4.84813681109536e-06;

// ------------------------------------------------------------------ rotations

// Turns the coordinates u (axis `first`) and w (axis `second`) about (cu, cw);
// a positive angle turns u towards w.
template <int first, int second>
class LASoperationRotate
    : public LASoperationCoordinates<LASoperationRotate<first, second>, (1u << first) | (1u << second)> {
 public:
  LASoperationRotate(F64 angle, F64 center_u, F64 center_w)
      : angle(angle),
        center_u(center_u),
        center_w(center_w),
        cos_a(cos(angle * RADIANS_PER_DEGREE)),
        sin_a(sin(angle * RADIANS_PER_DEGREE)) {}
  const char* name() const override { return first == 0 ? (second == 1 ? "rotate_xy" : "rotate_xz") : "rotate_yz"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    las_option_text_lf(text, angle);
    las_option_text_lf(text, center_u);
    las_option_text_lf(text, center_w);
    return las_operation_text_size(text, start);
  }
  auto change() const {
    return [this](F64* v) {
      const F64 u = v[first] - center_u;
      const F64 w = v[second] - center_w;
      v[first] = u * cos_a - w * sin_a + center_u;
      v[second] = w * cos_a + u * sin_a + center_w;
    };
  }

 private:
  F64 angle;  // degrees, as entered
  F64 center_u, center_w;
  F64 cos_a, sin_a;
};

using LASoperationRotateXY = LASoperationRotate<0, 1>;
using LASoperationRotateXZ = LASoperationRotate<0, 2>;
using LASoperationRotateYZ = LASoperationRotate<1, 2>;

// The angle is read first and must not be 0 (a turn by nothing is a mistake
// on the command line); then the two centres.
template <class Rotation>
LASoptionResult add_rotation(LAStransformParse& parse, const LASoptionCall& call) {
  const F64 angle = call.values[0].f64;
  if (angle == 0.0) {
    laserror("%s but %g is no valid angle", call.needs_message().c_str(), angle);
    return LASoptionResult::FAILED;
  }
  F64 center[2];
  for (size_t k = 1; k <= 2; k++) {
    if (!las_read_f64(call.values[k].text, &center[k - 1])) {
      laserror("%s", call.invalid_message(k).c_str());
      return LASoptionResult::FAILED;
    }
  }
  parse.add(new Rotation(angle, center[0], center[1]));
  return LASoptionResult::TAKEN;
}

// ------------------------------------------------------------------ Helmert, affine, matrix

// Seven parameters: dx, dy, dz, rx, ry, rz (arc seconds), m (ppm).
class LASoperationTransformHelmert : public LASoperationCoordinates<LASoperationTransformHelmert, LAS_AXES_XYZ> {
 public:
  explicit LASoperationTransformHelmert(const F64* p)
      : dx(p[0]),
        dy(p[1]),
        dz(p[2]),
        rx(p[3]),
        ry(p[4]),
        rz(p[5]),
        m(p[6]),
        rx_rad(rx * RADIANS_PER_ARC_SECOND),
        ry_rad(ry * RADIANS_PER_ARC_SECOND),
        rz_rad(rz * RADIANS_PER_ARC_SECOND),
        scale(1.0 + m * 1e-06) {}
  const char* name() const override { return "transform_helmert"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    const F64 p[7] = {dx, dy, dz, rx, ry, rz, m};
    las_option_text_list(text, p, 7);
    return las_operation_text_size(text, start);
  }
  auto change() const {
    return [this](F64* v) {
      const F64 x = v[0], y = v[1], z = v[2];
      v[0] = (x - y * rz_rad + z * ry_rad) * scale + dx;
      v[1] = (x * rz_rad + y - z * rx_rad) * scale + dy;
      v[2] = (-x * ry_rad + y * rx_rad + z) * scale + dz;
    };
  }

 private:
  F64 dx, dy, dz, rx, ry, rz, m;
  F64 rx_rad, ry_rad, rz_rad, scale;
};

// scale, rotation (arc seconds; positive turns clockwise), tx, ty; z stays.
class LASoperationTransformAffine
    : public LASoperationCoordinates<LASoperationTransformAffine, LAS_AXIS_X | LAS_AXIS_Y> {
 public:
  explicit LASoperationTransformAffine(const F64* p)
      : scale(p[0]),
        rotation(p[1]),
        cos_r(cos(rotation * RADIANS_PER_ARC_SECOND)),
        sin_r(sin(rotation * RADIANS_PER_ARC_SECOND)),
        tx(p[2]),
        ty(p[3]) {}
  const char* name() const override { return "transform_affine"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    const F64 p[4] = {scale, rotation, tx, ty};
    las_option_text_list(text, p, 4);
    return las_operation_text_size(text, start);
  }
  auto change() const {
    return [this](F64* v) {
      const F64 x = v[0], y = v[1];
      v[0] = (x * cos_r + y * sin_r) * scale + tx;
      v[1] = (y * cos_r - x * sin_r) * scale + ty;
    };
  }

 private:
  F64 scale, rotation, cos_r, sin_r, tx, ty;
};

// r11 r12 r13 r21 r22 r23 r31 r32 r33 tx ty tz.
class LASoperationTransformMatrix : public LASoperationCoordinates<LASoperationTransformMatrix, LAS_AXES_XYZ> {
 public:
  explicit LASoperationTransformMatrix(const F64* values) {
    for (int k = 0; k < 12; k++) m[k] = values[k];
  }
  const char* name() const override { return "transform_matrix"; }
  // Four words of three values; the text is as long as the values need.
  I32 get_command(std::string& text) const override {
    const size_t start = las_operation_text(text, name());
    for (int row = 0; row < 4; row++) las_option_text_list(text, &m[3 * row], 3);
    return las_operation_text_size(text, start);
  }
  auto change() const {
    return [this](F64* v) {
      const F64 x = v[0], y = v[1], z = v[2];
      v[0] = m[0] * x + m[1] * y + m[2] * z + m[9];
      v[1] = m[3] * x + m[4] * y + m[5] * z + m[10];
      v[2] = m[6] * x + m[7] * y + m[8] * z + m[11];
    };
  }
  // Under offset adjustment z is the point's own raw z (re-quantised from its
  // attribute when one stands in), not the operation's source-quantised one.
  void transform(LASpoint* point) override {
    if (offset_adjust) {
      las_change_adjusted_coordinates(*this, point, point->get_Z(), change());
    } else {
      LASoperationCoordinates::transform(point);
    }
  }

 private:
  F64 m[12];
};

// The numbers of a comma separated word; false when a part is no number.
bool read_comma_separated(const char* word, std::vector<F64>& values) {
  values.clear();
  std::string part;
  for (const char* c = word;; c++) {
    if (*c != ',' && *c != '\0') {
      part += *c;
      continue;
    }
    F64 v;
    if (!las_read_f64(part.c_str(), &v)) return false;
    values.push_back(v);
    part.clear();
    if (*c == '\0') return true;
  }
}

// Seven values are a Helmert transformation, three a translation.
LASoptionResult add_helmert(LAStransformParse& parse, const LASoptionCall& call) {
  std::vector<F64> p;
  if (!read_comma_separated(call.values[0].text, p) || (p.size() != 3 && p.size() != 7)) {
    laserror("'%s' needs 3 or 7 comma separated parameters as argument", call.typed);
    return LASoptionResult::FAILED;
  }
  parse.add(p.size() == 7 ? new LASoperationTransformHelmert(p.data()) : las_new_translate_xyz(p[0], p[1], p[2]));
  return LASoptionResult::TAKEN;
}

LASoptionResult add_affine(LAStransformParse& parse, const LASoptionCall& call) {
  std::vector<F64> p;
  if (!read_comma_separated(call.values[0].text, p) || p.size() != 4) {
    laserror("'%s' needs 4 comma separated parameters as argument", call.typed);
    return LASoptionResult::FAILED;
  }
  parse.add(new LASoperationTransformAffine(p.data()));
  return LASoptionResult::TAKEN;
}

// Three rows, then the translation, each a word of three values.
LASoptionResult add_matrix(LAStransformParse& parse, const LASoptionCall& call) {
  F64 m[12];
  std::vector<F64> row;
  for (int k = 0; k < 4; k++) {
    if (!read_comma_separated(call.values[k].text, row) || row.size() != 3) {
      laserror("%s", call.needs_message().c_str());
      return LASoptionResult::FAILED;
    }
    for (int c = 0; c < 3; c++) m[3 * k + c] = row[c];
  }
  parse.add(new LASoperationTransformMatrix(m));
  return LASoptionResult::TAKEN;
}

const LASoperationOption options[] = {
    {{"-rotate_xy", "angle rot_center_x rot_center_y", 3, "%lf %s"}, add_rotation<LASoperationRotateXY>},
    {{"-rotate_xz", "angle rot_center_x rot_center_z", 3, "%lf %s"}, add_rotation<LASoperationRotateXZ>},
    {{"-rotate_yz", "angle rot_center_y rot_center_z", 3, "%lf %s"}, add_rotation<LASoperationRotateYZ>},
    {{"-transform_helmert", "3 or 7 comma separated parameters", 1, "%s"}, add_helmert},
    {{"-transform_affine", "4 comma separated parameters", 1, "%s"}, add_affine},
    {{"-transform_matrix", "4 x 3 comma separated values", 4, "%s"}, add_matrix},
};

const LASoperationUsage usage[] = {
    {1, 3, "-rotate_xy 15.0 620000 4100000 (angle + origin)"},
    {1, 6, "-transform_helmert -199.87,74.79,246.62"},
    {1, 7, "-transform_helmert 598.1,73.7,418.2,0.202,0.045,-2.455,6.7"},
    {1, 8, "-transform_affine 0.9999652,0.903571,171.67,736.26"},
};

}  // namespace

LASoperationFamily las_geometry_operations() { return {options, usage}; }
