// The state that a version-1 item reader and its writer both keep, one
// template over the coder so that the two sides hold the same fields, made
// and reset the same way.
#pragma once

#include <array>
#include <cstring>

#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/lasitemcoding.hpp"

// A wave packet item: descriptor index at 0, then 28 bytes that are the
// reference of the next item: byte offset (u64) at 1, packet size (u32) at 9,
// return point location and dx, dy, dz (f32, coded as their bit patterns) at
// 13, 17, 21 and 25.
constexpr U32 WAVEPACKET13_REFERENCE_SIZE = 28;

template <typename Coder>
struct WavePacket13State {
  explicit WavePacket13State(Coder* coder)
      : coder(coder),
        packet_index_model(make_model(coder, 256)),
        offset_symbol_models{make_model(coder, 4), make_model(coder, 4), make_model(coder, 4), make_model(coder, 4)},
        offset_coder(coder, 32, 1, 8, 0),
        packet_size_coder(coder, 32, 1, 8, 0),
        location_coder(coder, 32, 1, 8, 0),
        xyz_coder(coder, 32, 3, 8, 0) {}

  void init(const U8* item) {
    last_offset_diff = 0;
    last_offset_symbol = 0;
    coder->initSymbolModel(packet_index_model.get());
    for (ModelPtr& m : offset_symbol_models) coder->initSymbolModel(m.get());
    init_integer_coder(offset_coder, coder);
    init_integer_coder(packet_size_coder, coder);
    init_integer_coder(location_coder, coder);
    init_integer_coder(xyz_coder, coder);
    memcpy(reference, item + 1, WAVEPACKET13_REFERENCE_SIZE);
  }

  // Fields of the reference (offsets within it, one less than in the item).
  U64 offset() const { return load<U64>(0); }
  U32 packet_size() const { return load<U32>(8); }
  I32 bits_at(U32 at) const { return load<I32>(at); }
  template <typename T>
  T load(U32 at) const {
    T value;
    memcpy(&value, reference + at, sizeof(T));
    return value;
  }

  Coder* coder;
  U8 reference[WAVEPACKET13_REFERENCE_SIZE] = {};
  I32 last_offset_diff = 0;
  U32 last_offset_symbol = 0;
  ModelPtr packet_index_model;
  std::array<ModelPtr, 4> offset_symbol_models;
  IntegerCompressor offset_coder;
  IntegerCompressor packet_size_coder;
  IntegerCompressor location_coder;
  IntegerCompressor xyz_coder;
};

// Offset symbols: the same offset, the offset just after the previous packet,
// a difference that fits 32 bits, or the whole 64-bit offset.
enum WavePacketOffsetSymbol : U32 { OFFSET_SAME = 0, OFFSET_FOLLOWS = 1, OFFSET_DIFFERENCE = 2, OFFSET_RAW = 3 };
