// Version-1 item writers (see laswriteitemcompressed_v1.hpp).
#include "compressor/laswriteitemcompressed_v1.hpp"

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
