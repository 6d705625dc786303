// Version-2 item readers (see lasreaditemcompressed_v2.hpp).
#include "compressor/lasreaditemcompressed_v2.hpp"

// ------------------------------------------------------------------ POINT10

bool LASreadItemCompressed_POINT10_v2::init(const U8* item, U32&) {
  state.init(item);
  // The writer compares intensities with the per-return values, which start
  // at 0; an unchanged intensity must decode as that.
  state.last.intensity = 0;
  return true;
}

void LASreadItemCompressed_POINT10_v2::read(U8* item, U32&) {
  Point10& last = state.last;
  const U32 changed = dec->decodeSymbol(state.changed_fields_model.get());
  U32 m, l;
  if (changed) {
    if (changed & 32) last.return_byte = (U8)dec->decodeSymbol(state.per_value(state.return_byte_models, last.return_byte));
    m = number_return_map[last.return_byte & 0x3F];
    l = number_return_level[last.return_byte & 0x3F];
    if (changed & 16) {
      last.intensity = (U16)state.intensity_coder.decompress(state.intensity_by_return[m], m < 3 ? m : 3);
      state.intensity_by_return[m] = last.intensity;
    } else {
      last.intensity = state.intensity_by_return[m];
    }
    if (changed & 8) last.class_byte = (U8)dec->decodeSymbol(state.per_value(state.classification_models, last.class_byte));
    if (changed & 4) {
      const U32 step = dec->decodeSymbol(state.scan_angle_models[scan_direction(last.return_byte)].get());
      last.scan_angle_rank = (I8)(U8)((U8)last.scan_angle_rank + step);
    }
    if (changed & 2) last.user_data = (U8)dec->decodeSymbol(state.per_value(state.user_data_models, last.user_data));
    if (changed & 1) last.point_source_ID = (U16)state.point_source_coder.decompress(last.point_source_ID, 0);
  } else {
    m = number_return_map[last.return_byte & 0x3F];
    l = number_return_level[last.return_byte & 0x3F];
  }
  const U32 n = number_of_returns(last.return_byte);

  const I32 dx = state.dx_coder.decompress(state.dx_medians[m].median(), dx_context(n));
  last.x = (I32)((U32)last.x + (U32)dx);
  state.dx_medians[m].insert(dx);
  const U32 x_class = state.dx_coder.getLastClass();
  const I32 dy = state.dy_coder.decompress(state.dy_medians[m].median(), dy_context(n, x_class));
  last.y = (I32)((U32)last.y + (U32)dy);
  state.dy_medians[m].insert(dy);
  const U32 xy_class = x_class + state.dy_coder.getLastClass();
  last.z = state.z_coder.decompress(state.z_by_level[l], z_context(n, xy_class));
  state.z_by_level[l] = last.z;

  memcpy(item, &last, sizeof(Point10));
}

// ------------------------------------------------------------------ GPS time

bool LASreadItemCompressed_GPSTIME11_v2::init(const U8* item, U32&) {
  U64 time;
  memcpy(&time, item, sizeof(time));
  gps.init(time);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v2::read(U8* item, U32&) {
  const U64 time = gps.read();
  memcpy(item, &time, sizeof(time));
}

// ------------------------------------------------------------------ RGB

bool LASreadItemCompressed_RGB12_v2::init(const U8* item, U32&) {
  models.init(dec);
  memcpy(reference, item, sizeof(reference));
  return true;
}

void LASreadItemCompressed_RGB12_v2::read(U8* item, U32&) {
  U16 colour[3];
  decode_colour_difference(dec, models, reference, colour);
  memcpy(reference, colour, sizeof(reference));
  memcpy(item, colour, sizeof(colour));
}

// ------------------------------------------------------------------ bytes

bool LASreadItemCompressed_BYTE_v2::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_BYTE_v2::read(U8* item, U32&) {
  for (U32 i = 0; i < state.number; i++)
    state.reference[i] = decode_byte_difference(state.coder, state.models[i].get(), state.reference[i]);
  memcpy(item, state.reference.data(), state.number);
}
