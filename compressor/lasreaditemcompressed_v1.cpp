// Version-1 item readers (see lasreaditemcompressed_v1.hpp).
#include "compressor/lasreaditemcompressed_v1.hpp"

// ------------------------------------------------------------------ POINT10

bool LASreadItemCompressed_POINT10_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_POINT10_v1::read(U8* item, U32&) {
  Point10& last = state.last_point;
  const I32 dx = state.dx_coder.decompress(median_of_three(state.last_x_diffs), 0);
  last.x = (I32)((U32)last.x + (U32)dx);
  const U32 kx = state.dx_coder.getLastClass();
  const I32 dy = state.dy_coder.decompress(median_of_three(state.last_y_diffs), dy_context_v1(kx));
  last.y = (I32)((U32)last.y + (U32)dy);
  const U32 ky = state.dy_coder.getLastClass();
  last.z = state.z_coder.decompress(last.z, z_context_v1(kx, ky));

  const U32 changed = dec->decodeSymbol(state.changed_fields_model.get());
  if (changed & CHANGED_INTENSITY) last.intensity = (U16)state.intensity_coder.decompress(last.intensity, 0);
  if (changed & CHANGED_RETURN_BYTE)
    last.return_byte = (U8)dec->decodeSymbol(state.per_value(state.return_byte_models, last.return_byte));
  if (changed & CHANGED_CLASS_BYTE)
    last.class_byte = (U8)dec->decodeSymbol(state.per_value(state.classification_models, last.class_byte));
  if (changed & CHANGED_SCAN_ANGLE) {
    last.scan_angle_rank =
        (I8)(U8)state.scan_angle_coder.decompress((U8)last.scan_angle_rank, scan_angle_context_v1(kx, ky));
  }
  if (changed & CHANGED_USER_DATA)
    last.user_data = (U8)dec->decodeSymbol(state.per_value(state.user_data_models, last.user_data));
  if (changed & CHANGED_POINT_SOURCE)
    last.point_source_ID = (U16)state.point_source_coder.decompress(last.point_source_ID, 0);

  state.remember_steps(dx, dy);
  memcpy(item, &last, sizeof(Point10));
}

// ------------------------------------------------------------------ GPS time

bool LASreadItemCompressed_GPSTIME11_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_GPSTIME11_v1::read(U8* item, U32&) {
  if (state.time_delta == 0) {
    const U32 symbol = dec->decodeSymbol(state.zero_delta_model.get());
    if (symbol == GPS_ZERO_FITS) {
      const I32 d = state.time_coder.decompress(0, 0);
      state.time_delta = d;
      state.last_time += (U64)(I64)d;
    } else if (symbol == GPS_ZERO_RAW) {
      state.last_time = dec->readInt64();
    }
  } else {
    const U32 symbol = dec->decodeSymbol(state.multiplier_model.get());
    if (symbol < GPS_MULTIPLIER_RAW) {
      const GpsPredictionV1 code = gps_prediction_v1(symbol, state.time_delta);
      const I32 d = state.time_coder.decompress(code.prediction, code.context);
      state.last_time += (U64)(I64)d;
      state.after_multiplier(symbol, d);
    } else if (symbol == GPS_MULTIPLIER_RAW) {
      state.last_time = dec->readInt64();
    }
  }
  memcpy(item, &state.last_time, sizeof(state.last_time));
}

// ------------------------------------------------------------------ RGB

bool LASreadItemCompressed_RGB12_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_RGB12_v1::read(U8* item, U32&) {
  const U32 changed = dec->decodeSymbol(state.changed_bytes_model.get());
  U8 bytes[6];
  for (U32 k = 0; k < 6; k++) {
    const U8 reference = colour_byte(state.reference, k);
    bytes[k] = (changed & (1u << k)) ? (U8)state.rgb_coder.decompress(reference, k) : reference;
  }
  for (U32 c = 0; c < 3; c++) state.reference[c] = (U16)(bytes[2 * c] | (bytes[2 * c + 1] << 8));
  memcpy(item, state.reference, sizeof(state.reference));
}

// ------------------------------------------------------------------ bytes

bool LASreadItemCompressed_BYTE_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_BYTE_v1::read(U8* item, U32&) {
  for (U32 i = 0; i < state.number; i++) state.reference[i] = (U8)state.byte_coder.decompress(state.reference[i], i);
  memcpy(item, state.reference.data(), state.number);
}

// ------------------------------------------------------------------ wave packets

bool LASreadItemCompressed_WAVEPACKET13_v1::init(const U8* item, U32&) {
  state.init(item);
  return true;
}

void LASreadItemCompressed_WAVEPACKET13_v1::read(U8* item, U32&) {
  item[0] = (U8)dec->decodeSymbol(state.packet_index_model.get());

  const U32 symbol = dec->decodeSymbol(state.offset_symbol_models[state.last_offset_symbol].get());
  state.last_offset_symbol = symbol;
  U64 offset = state.offset();
  if (symbol == OFFSET_FOLLOWS) {
    offset += (U64)(I64)(I32)state.packet_size();
  } else if (symbol == OFFSET_DIFFERENCE) {
    state.last_offset_diff = state.offset_coder.decompress(state.last_offset_diff, 0);
    offset += (U64)(I64)state.last_offset_diff;
  } else if (symbol == OFFSET_RAW) {
    offset = dec->readInt64();
  }

  U8* next = state.reference;  // decoded in place: each field is predicted by its own old value
  memcpy(next, &offset, sizeof(offset));
  const auto decode = [&](IntegerCompressor& ic, U32 at, U32 context) {
    const I32 value = ic.decompress(state.bits_at(at), context);
    memcpy(next + at, &value, sizeof(value));
  };
  decode(state.packet_size_coder, 8, 0);
  decode(state.location_coder, 12, 0);
  for (U32 axis = 0; axis < 3; axis++) decode(state.xyz_coder, 16 + 4 * axis, axis);
  memcpy(item + 1, state.reference, WAVEPACKET13_REFERENCE_SIZE);
}
