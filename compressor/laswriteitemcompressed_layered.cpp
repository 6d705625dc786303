// The layered colour, wave-packet and extra-bytes writers (see
// laswriteitemcompressed_layered.hpp).
#include "compressor/laswriteitemcompressed_layered.hpp"

namespace {
constexpr U32 RGB_STREAM = 0, NIR_STREAM = 1;
}  // namespace

LayeredColourWriter::LayeredColourWriter(ArithmeticEncoder* enc, bool nir, bool version4)
    : LayeredItemWriter(enc, nir ? 2 : 1, nir ? 8 : 6, version4), nir(nir) {}

void LayeredColourWriter::start_channel(ColourChannel<ArithmeticEncoder>& c) {
  c.start(streams.encoder(RGB_STREAM), nir ? streams.encoder(NIR_STREAM) : nullptr);
}

void LayeredColourWriter::encode(const U8* item, ColourChannel<ArithmeticEncoder>& s, U8* reference) {
  U16 r[4] = {}, x[4] = {};
  memcpy(r, reference, item_size);
  memcpy(x, item, item_size);
  // The mask counts a colour that is not grey as a change, so such a stream
  // is stored even when the colour stays the same.
  if (encode_colour_difference(streams.encoder(RGB_STREAM), *s.rgb, r, x) != 0) streams.changed[RGB_STREAM] = true;
  if (nir) {
    ArithmeticEncoder* e = streams.encoder(NIR_STREAM);
    const U32 n = (lo_byte(x[3]) != lo_byte(r[3]) ? 1u : 0u) | (hi_byte(x[3]) != hi_byte(r[3]) ? 2u : 0u);
    e->encodeSymbol(s.nir_changed.get(), n);
    if (n & 1) encode_byte_difference(e, s.nir_difference[0].get(), lo_byte(x[3]), lo_byte(r[3]));
    if (n & 2) encode_byte_difference(e, s.nir_difference[1].get(), hi_byte(x[3]), hi_byte(r[3]));
    if (n) streams.changed[NIR_STREAM] = true;
  }
  memcpy(reference, x, item_size);
}

LayeredWavePacketWriter::LayeredWavePacketWriter(ArithmeticEncoder* enc, bool version4)
    : LayeredItemWriter(enc, 1, wave14::SIZE, version4) {}

void LayeredWavePacketWriter::start_channel(WavePacketChannel<ArithmeticEncoder>& c) { c.start(streams.encoder(0)); }

void LayeredWavePacketWriter::encode(const U8* x, WavePacketChannel<ArithmeticEncoder>& s, U8* r) {
  using namespace wave14;
  ArithmeticEncoder* e = streams.encoder(0);
  if (memcmp(x, r, SIZE) != 0) streams.changed[0] = true;
  e->encodeSymbol(s.packet_index_model.get(), x[0]);

  const U64 offset = load_at<U64>(x, OFFSET);
  const I64 d = (I64)(offset - load_at<U64>(r, OFFSET));
  U32 symbol = OFFSET_RAW;
  if (fits_in_32_bits(d)) {
    // The packet size counts unsigned here, as the reader adds it back.
    symbol = (d == 0) ? OFFSET_SAME : (d == (I64)load_at<U32>(r, PACKET_SIZE)) ? OFFSET_FOLLOWS : OFFSET_DIFFERENCE;
  }
  e->encodeSymbol(s.offset_symbol_models[s.last_offset_symbol].get(), symbol);
  s.last_offset_symbol = symbol;
  if (symbol == OFFSET_DIFFERENCE) {
    s.offset_coder->compress(s.last_offset_difference, (I32)d, 0);
    s.last_offset_difference = (I32)d;
  } else if (symbol == OFFSET_RAW) {
    e->writeInt64(offset);
  }
  s.packet_size_coder->compress(load_at<I32>(r, PACKET_SIZE), load_at<I32>(x, PACKET_SIZE), 0);
  s.return_point_coder->compress(load_at<I32>(r, RETURN_POINT), load_at<I32>(x, RETURN_POINT), 0);
  for (U32 axis = 0; axis < 3; axis++)
    s.xyz_coder->compress(load_at<I32>(r, XYZ + 4 * axis), load_at<I32>(x, XYZ + 4 * axis), axis);
  memcpy(r, x, SIZE);
}

LayeredByteWriter::LayeredByteWriter(ArithmeticEncoder* enc, U32 number, bool version4)
    : LayeredItemWriter(enc, number, number, version4) {}

void LayeredByteWriter::start_channel(ByteChannel<ArithmeticEncoder>& c) {
  c.start(item_size, [this](U32 i) { return streams.encoder(i); });
}

void LayeredByteWriter::encode(const U8* x, ByteChannel<ArithmeticEncoder>& s, U8* r) {
  for (U32 i = 0; i < item_size; i++) {
    encode_byte_difference(streams.encoder(i), s.models[i].get(), x[i], r[i]);
    if (x[i] != r[i]) streams.changed[i] = true;
    r[i] = x[i];
  }
}
