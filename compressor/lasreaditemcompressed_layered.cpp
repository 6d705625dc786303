// The layered colour, wave-packet and extra-bytes readers (see
// lasreaditemcompressed_layered.hpp).
#include "compressor/lasreaditemcompressed_layered.hpp"

namespace {
constexpr U32 RGB_STREAM = 0, NIR_STREAM = 1;
}  // namespace

LayeredColourReader::LayeredColourReader(ArithmeticDecoder* dec, U32 decompress_selective, bool nir, bool version4)
    : LayeredItemReader(dec, nir ? 2 : 1, nir ? 8 : 6, version4), nir(nir) {
  requested[RGB_STREAM] = decompress_selective & LAS_SELECTIVE_RGB;
  if (nir) requested[NIR_STREAM] = decompress_selective & LAS_SELECTIVE_NIR;
}

void LayeredColourReader::start_channel(ColourChannel<ArithmeticDecoder>& c) {
  c.start(streams.decoder(RGB_STREAM), nir ? streams.decoder(NIR_STREAM) : nullptr);
}

void LayeredColourReader::decode(U8* item, ColourChannel<ArithmeticDecoder>& s, U8* reference) {
  U16 r[4] = {}, x[4] = {};
  memcpy(r, reference, item_size);
  memcpy(x, r, item_size);
  if (streams.changed[RGB_STREAM]) decode_colour_difference(streams.decoder(RGB_STREAM), *s.rgb, r, x);
  if (nir && streams.changed[NIR_STREAM]) {
    ArithmeticDecoder* d = streams.decoder(NIR_STREAM);
    const U32 n = d->decodeSymbol(s.nir_changed.get());
    U8 lo = lo_byte(r[3]), hi = hi_byte(r[3]);
    if (n & 1) lo = decode_byte_difference(d, s.nir_difference[0].get(), lo);
    if (n & 2) hi = decode_byte_difference(d, s.nir_difference[1].get(), hi);
    x[3] = (U16)(lo | (hi << 8));
  }
  memcpy(item, x, item_size);
  memcpy(reference, x, item_size);
}

LayeredWavePacketReader::LayeredWavePacketReader(ArithmeticDecoder* dec, U32 decompress_selective, bool version4)
    : LayeredItemReader(dec, 1, wave14::SIZE, version4) {
  requested[0] = decompress_selective & LAS_SELECTIVE_WAVEPACKET;
}

void LayeredWavePacketReader::start_channel(WavePacketChannel<ArithmeticDecoder>& c) { c.start(streams.decoder(0)); }

void LayeredWavePacketReader::decode(U8* item, WavePacketChannel<ArithmeticDecoder>& s, U8* r) {
  using namespace wave14;
  if (!streams.changed[0]) {
    memcpy(item, r, SIZE);
    return;
  }
  ArithmeticDecoder* d = streams.decoder(0);
  U8 x[SIZE];
  x[0] = (U8)d->decodeSymbol(s.packet_index_model.get());
  const U32 symbol = d->decodeSymbol(s.offset_symbol_models[s.last_offset_symbol].get());
  s.last_offset_symbol = symbol;
  U64 offset = load_at<U64>(r, OFFSET);
  if (symbol == OFFSET_FOLLOWS) {
    offset += load_at<U32>(r, PACKET_SIZE);
  } else if (symbol == OFFSET_DIFFERENCE) {
    s.last_offset_difference = s.offset_coder->decompress(s.last_offset_difference, 0);
    offset += (U64)(I64)s.last_offset_difference;
  } else if (symbol == OFFSET_RAW) {
    offset = d->readInt64();
  }
  store_at(x, OFFSET, offset);
  store_at(x, PACKET_SIZE, s.packet_size_coder->decompress(load_at<I32>(r, PACKET_SIZE), 0));
  store_at(x, RETURN_POINT, s.return_point_coder->decompress(load_at<I32>(r, RETURN_POINT), 0));
  for (U32 axis = 0; axis < 3; axis++)
    store_at(x, XYZ + 4 * axis, s.xyz_coder->decompress(load_at<I32>(r, XYZ + 4 * axis), axis));
  memcpy(item, x, SIZE);
  memcpy(r, x, SIZE);
}

LayeredByteReader::LayeredByteReader(ArithmeticDecoder* dec, U32 number, U32 decompress_selective, bool version4)
    : LayeredItemReader(dec, number, number, version4) {
  for (U32 i = 0; i < number; i++)
    requested[i] =
        i >= LAYERED_SELECTABLE_EXTRA_BYTES || ((decompress_selective >> (LAYERED_FIRST_EXTRA_BYTE_BIT + i)) & 1);
}

void LayeredByteReader::start_channel(ByteChannel<ArithmeticDecoder>& c) {
  c.start(item_size, [this](U32 i) { return streams.decoder(i); });
}

void LayeredByteReader::decode(U8* item, ByteChannel<ArithmeticDecoder>& s, U8* r) {
  for (U32 i = 0; i < item_size; i++) {
    if (streams.changed[i]) r[i] = decode_byte_difference(streams.decoder(i), s.models[i].get(), r[i]);
    item[i] = r[i];
  }
}
