// Offset adjustment of the operations that leave the coordinates alone: the
// point still has to move into the quantisation the operation writes, or the
// next operation and the writer would read it under the wrong offsets.
#include "transforms/lasoperation_fields.hpp"

#include "core/lasheader.hpp"

// A raw value clamped as a stand-in Z is: the lowest value keeps one step of
// room below it, as the quantised attribute does.
static I32 clamped_Z(I64 q) {
  if (q < -2147483647) return I32_MIN;
  if (q > 2147483646) return I32_MAX;
  return (I32)q;
}

I32 las_source_Z(const LASoperation& operation, const LASpoint* point) {
  const I32 raw = point->get_Z();
  if (!operation.offset_adjust || point->scaling == nullptr || point->scaling->z_from_attribute < 0) return raw;
  const F64 w = raw * operation.target_scale[2] + operation.target_offset[2];
  return clamped_Z(las_quantize(w, operation.source_offset[2], operation.source_scale[2]));
}

void las_requantise_unchanged(LASoperation& operation, LASpoint* point) {
  const F64 world[3] = {
      point->X * operation.source_scale[0] + operation.source_offset[0],
      point->Y * operation.source_scale[1] + operation.source_offset[1],
      las_source_Z(operation, point) * operation.source_scale[2] + operation.source_offset[2],
  };
  I32* raw[3] = {&point->X, &point->Y, &point->Z};
  LASheader* box = operation.bbox_header;
  for (int axis = 0; axis < 3; axis++) {
    const F64 w = world[axis];
    if (box) {
      F64* min[3] = {&box->min_x, &box->min_y, &box->min_z};
      F64* max[3] = {&box->max_x, &box->max_y, &box->max_z};
      if (w < *min[axis]) {
        *min[axis] = w;
      } else if (w > *max[axis]) {
        *max[axis] = w;
      }
    }
    const I64 q = las_quantize(w, operation.target_offset[axis], operation.target_scale[axis]);
    if (las_fits_i32(q)) {
      *raw[axis] = (I32)q;
    } else {
      operation.overflow_count++;
    }
  }
}
