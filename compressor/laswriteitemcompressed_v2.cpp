// Version-2 item writers (see laswriteitemcompressed_v2.hpp).
#include "compressor/laswriteitemcompressed_v2.hpp"

// ------------------------------------------------------------------ POINT10

bool LASwriteItemCompressed_POINT10_v2::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_POINT10_v2::write(const U8* item, U32&) {
  Point10 p;
  memcpy(&p, item, sizeof(p));
  Point10& last = state.last;
  const U32 returns = p.return_byte & 0x3F;
  const U32 m = number_return_map[returns];
  const U32 l = number_return_level[returns];
  const U32 n = number_of_returns(p.return_byte);

  const U32 changed = ((p.return_byte != last.return_byte) << 5) | ((p.intensity != state.intensity_by_return[m]) << 4) |
                      ((p.class_byte != last.class_byte) << 3) | ((p.scan_angle_rank != last.scan_angle_rank) << 2) |
                      ((p.user_data != last.user_data) << 1) | (p.point_source_ID != last.point_source_ID);
  enc->encodeSymbol(state.changed_fields_model.get(), changed);
  if (changed & 32) enc->encodeSymbol(state.per_value(state.return_byte_models, last.return_byte), p.return_byte);
  if (changed & 16) {
    state.intensity_coder.compress(state.intensity_by_return[m], p.intensity, m < 3 ? m : 3);
    state.intensity_by_return[m] = p.intensity;
  }
  if (changed & 8) enc->encodeSymbol(state.per_value(state.classification_models, last.class_byte), p.class_byte);
  if (changed & 4) {
    enc->encodeSymbol(state.scan_angle_models[scan_direction(p.return_byte)].get(),
                      (U8)((U8)p.scan_angle_rank - (U8)last.scan_angle_rank));
  }
  if (changed & 2) enc->encodeSymbol(state.per_value(state.user_data_models, last.user_data), p.user_data);
  if (changed & 1) state.point_source_coder.compress(last.point_source_ID, p.point_source_ID, 0);

  const I32 dx = (I32)((U32)p.x - (U32)last.x);
  state.dx_coder.compress(state.dx_medians[m].median(), dx, dx_context(n));
  state.dx_medians[m].insert(dx);
  const U32 x_class = state.dx_coder.getLastClass();
  const I32 dy = (I32)((U32)p.y - (U32)last.y);
  state.dy_coder.compress(state.dy_medians[m].median(), dy, dy_context(n, x_class));
  state.dy_medians[m].insert(dy);
  const U32 xy_class = x_class + state.dy_coder.getLastClass();
  state.z_coder.compress(state.z_by_level[l], p.z, z_context(n, xy_class));
  state.z_by_level[l] = p.z;

  last = p;
  return true;
}

// ------------------------------------------------------------------ GPS time

bool LASwriteItemCompressed_GPSTIME11_v2::init(const U8* item, U32&) {
  U64 time;
  memcpy(&time, item, sizeof(time));
  gps.init(time);
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v2::write(const U8* item, U32&) {
  U64 time;
  memcpy(&time, item, sizeof(time));
  gps.write(time);
  return true;
}

// ------------------------------------------------------------------ RGB

bool LASwriteItemCompressed_RGB12_v2::init(const U8* item, U32&) {
  models.init(enc);
  memcpy(reference, item, sizeof(reference));
  return true;
}

bool LASwriteItemCompressed_RGB12_v2::write(const U8* item, U32&) {
  U16 colour[3];
  memcpy(colour, item, sizeof(colour));
  encode_colour_difference(enc, models, reference, colour);
  memcpy(reference, colour, sizeof(reference));
  return true;
}

// ------------------------------------------------------------------ bytes

bool LASwriteItemCompressed_BYTE_v2::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_BYTE_v2::write(const U8* item, U32&) {
  for (U32 i = 0; i < state.number; i++)
    encode_byte_difference(state.coder, state.models[i].get(), item[i], state.reference[i]);
  memcpy(state.reference.data(), item, state.number);
  return true;
}
