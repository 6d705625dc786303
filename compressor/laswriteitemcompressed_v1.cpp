// Version-1 item writers (see laswriteitemcompressed_v1.hpp).
#include "compressor/laswriteitemcompressed_v1.hpp"

// ------------------------------------------------------------------ POINT10

bool LASwriteItemCompressed_POINT10_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_POINT10_v1::write(const U8* item, U32&) {
  Point10 p;
  memcpy(&p, item, sizeof(p));
  const Point10& last = state.last_point;

  const I32 dx = (I32)((U32)p.x - (U32)last.x);
  const I32 dy = (I32)((U32)p.y - (U32)last.y);
  state.dx_coder.compress(median_of_three(state.last_x_diffs), dx, 0);
  const U32 kx = state.dx_coder.getLastClass();
  state.dy_coder.compress(median_of_three(state.last_y_diffs), dy, dy_context_v1(kx));
  const U32 ky = state.dy_coder.getLastClass();
  state.z_coder.compress(last.z, p.z, z_context_v1(kx, ky));

  U32 changed = 0;
  if (p.intensity != last.intensity) changed |= CHANGED_INTENSITY;
  if (p.return_byte != last.return_byte) changed |= CHANGED_RETURN_BYTE;
  if (p.class_byte != last.class_byte) changed |= CHANGED_CLASS_BYTE;
  if (p.scan_angle_rank != last.scan_angle_rank) changed |= CHANGED_SCAN_ANGLE;
  if (p.user_data != last.user_data) changed |= CHANGED_USER_DATA;
  if (p.point_source_ID != last.point_source_ID) changed |= CHANGED_POINT_SOURCE;
  enc->encodeSymbol(state.changed_fields_model.get(), changed);
  if (changed & CHANGED_INTENSITY) state.intensity_coder.compress(last.intensity, p.intensity, 0);
  if (changed & CHANGED_RETURN_BYTE)
    enc->encodeSymbol(state.per_value(state.return_byte_models, last.return_byte), p.return_byte);
  if (changed & CHANGED_CLASS_BYTE)
    enc->encodeSymbol(state.per_value(state.classification_models, last.class_byte), p.class_byte);
  if (changed & CHANGED_SCAN_ANGLE) {
    state.scan_angle_coder.compress((U8)last.scan_angle_rank, (U8)p.scan_angle_rank, scan_angle_context_v1(kx, ky));
  }
  if (changed & CHANGED_USER_DATA)
    enc->encodeSymbol(state.per_value(state.user_data_models, last.user_data), p.user_data);
  if (changed & CHANGED_POINT_SOURCE) state.point_source_coder.compress(last.point_source_ID, p.point_source_ID, 0);

  state.remember_steps(dx, dy);
  state.last_point = p;
  return true;
}

// ------------------------------------------------------------------ GPS time

bool LASwriteItemCompressed_GPSTIME11_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_GPSTIME11_v1::write(const U8* item, U32&) {
  U64 time;
  memcpy(&time, item, sizeof(time));
  const I64 d = (I64)(time - state.last_time);
  const bool fits = fits_in_32_bits(d);
  if (state.time_delta == 0) {
    ArithmeticModel* m = state.zero_delta_model.get();
    if (time == state.last_time) {
      enc->encodeSymbol(m, GPS_ZERO_UNCHANGED);
    } else if (fits) {
      enc->encodeSymbol(m, GPS_ZERO_FITS);
      state.time_coder.compress(0, (I32)d, 0);
      state.time_delta = (I32)d;
    } else {
      enc->encodeSymbol(m, GPS_ZERO_RAW);
      enc->writeInt64(time);
    }
  } else {
    ArithmeticModel* m = state.multiplier_model.get();
    if (time == state.last_time) {
      enc->encodeSymbol(m, GPS_MULTIPLIER_UNCHANGED);
    } else if (!fits) {
      enc->encodeSymbol(m, GPS_MULTIPLIER_RAW);
      enc->writeInt64(time);
    } else {
      const U32 symbol = gps_multiplier_symbol_v1((I32)d, state.time_delta);
      enc->encodeSymbol(m, symbol);
      const GpsPredictionV1 code = gps_prediction_v1(symbol, state.time_delta);
      state.time_coder.compress(code.prediction, (I32)d, code.context);
      state.after_multiplier(symbol, (I32)d);
    }
  }
  state.last_time = time;
  return true;
}

// ------------------------------------------------------------------ RGB

bool LASwriteItemCompressed_RGB12_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_RGB12_v1::write(const U8* item, U32&) {
  U16 colour[3];
  memcpy(colour, item, sizeof(colour));
  U32 changed = 0;
  for (U32 k = 0; k < 6; k++)
    if (colour_byte(colour, k) != colour_byte(state.reference, k)) changed |= 1u << k;
  enc->encodeSymbol(state.changed_bytes_model.get(), changed);
  for (U32 k = 0; k < 6; k++)
    if (changed & (1u << k)) state.rgb_coder.compress(colour_byte(state.reference, k), colour_byte(colour, k), k);
  memcpy(state.reference, colour, sizeof(colour));
  return true;
}

// ------------------------------------------------------------------ bytes

bool LASwriteItemCompressed_BYTE_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_BYTE_v1::write(const U8* item, U32&) {
  for (U32 i = 0; i < state.number; i++) state.byte_coder.compress(state.reference[i], item[i], i);
  memcpy(state.reference.data(), item, state.number);
  return true;
}

// ------------------------------------------------------------------ wave packets

bool LASwriteItemCompressed_WAVEPACKET13_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

bool LASwriteItemCompressed_WAVEPACKET13_v1::write(const U8* item, U32&) {
  const auto field = [item](U32 at) {
    I32 value;
    memcpy(&value, item + 1 + at, sizeof(value));
    return value;
  };
  enc->encodeSymbol(state.packet_index_model.get(), item[0]);

  U64 offset;
  memcpy(&offset, item + 1, sizeof(offset));
  const I64 d = (I64)(offset - state.offset());
  U32 symbol = OFFSET_RAW;
  if (fits_in_32_bits(d)) {
    // The packet size counts as a signed 32-bit step; the reader adds it back so.
    symbol = (d == 0) ? OFFSET_SAME : (d == (I64)(I32)state.packet_size()) ? OFFSET_FOLLOWS : OFFSET_DIFFERENCE;
  }
  enc->encodeSymbol(state.offset_symbol_models[state.last_offset_symbol].get(), symbol);
  state.last_offset_symbol = symbol;
  if (symbol == OFFSET_DIFFERENCE) {
    state.offset_coder.compress(state.last_offset_diff, (I32)d, 0);
    state.last_offset_diff = (I32)d;
  } else if (symbol == OFFSET_RAW) {
    enc->writeInt64(offset);
  }

  state.packet_size_coder.compress(state.bits_at(8), field(8), 0);
  state.location_coder.compress(state.bits_at(12), field(12), 0);
  for (U32 axis = 0; axis < 3; axis++) state.xyz_coder.compress(state.bits_at(16 + 4 * axis), field(16 + 4 * axis), axis);
  memcpy(state.reference, item + 1, WAVEPACKET13_REFERENCE_SIZE);
  return true;
}
