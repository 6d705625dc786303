// Version-1 item readers (see lasreaditemcompressed_v1.hpp).
#include "compressor/lasreaditemcompressed_v1.hpp"

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
