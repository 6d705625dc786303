// The per-channel state of the layered colour, wave-packet and extra-bytes
// coders, and the reader and writer frame they share. Each item keeps its
// fields in code streams of its own (see laslayeredstreams.hpp) and one
// reference and model set per scanner channel; the channel comes from the
// POINT14 coder before them through the context.
#pragma once

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "compressor/lasitemcoding.hpp"
#include "compressor/lasitemcompressed_v1.hpp"
#include "compressor/lasitemcompressed_v2.hpp"
#include "compressor/laslayeredstreams.hpp"
#include "compressor/lasreaditem.hpp"
#include "compressor/laswriteitem.hpp"
#include "core/lasreader.hpp"

// The selective-decompression mask: LAS_SELECTIVE_RGB, _NIR, _WAVEPACKET,
// and bit 16 + i for extra byte i. Extra bytes past the first 16 are always
// decoded: the mask has no bits for them.
constexpr U32 LAYERED_FIRST_EXTRA_BYTE_BIT = 16;
constexpr U32 LAYERED_SELECTABLE_EXTRA_BYTES = 16;

// Byte places of the wave-packet item: descriptor index, offset to the
// waveform (u64), packet size (u32), return point, x(t), y(t), z(t) (f32,
// coded as their bit patterns).
namespace wave14 {
constexpr U32 SIZE = 29;
constexpr U32 OFFSET = 1;
constexpr U32 PACKET_SIZE = 9;
constexpr U32 RETURN_POINT = 13;
constexpr U32 XYZ = 17;
}  // namespace wave14

template <typename T>
inline T load_at(const U8* bytes, U32 at) {
  T value;
  memcpy(&value, bytes + at, sizeof(T));
  return value;
}
template <typename T>
inline void store_at(U8* bytes, U32 at, T value) {
  memcpy(bytes + at, &value, sizeof(T));
}

// What every channel has: whether it has had a point in this chunk, and the
// item its next item is coded against.
struct LayeredChannel {
  bool in_use = false;
  std::vector<U8> reference;  // item bytes; sized once, then only copied over
};

template <typename Coder>
struct ColourChannel : LayeredChannel {
  // Made at the channel's first point in the coder's life, reset at its
  // first point in every chunk. `nir` is null for RGB14.
  void start(Coder* rgb_coder, Coder* nir_coder) {
    if (!rgb) rgb = std::make_unique<ColourModels<Coder>>(rgb_coder);
    rgb->init(rgb_coder);
    if (!nir_coder) return;
    if (!nir_changed) {
      nir_changed = make_model(nir_coder, 4);
      for (ModelPtr& m : nir_difference) m = make_model(nir_coder, 256);
    }
    nir_coder->initSymbolModel(nir_changed.get());
    for (ModelPtr& m : nir_difference) nir_coder->initSymbolModel(m.get());
  }
  std::unique_ptr<ColourModels<Coder>> rgb;
  ModelPtr nir_changed;
  std::array<ModelPtr, 2> nir_difference;  // low, high byte
};

template <typename Coder>
struct WavePacketChannel : LayeredChannel {
  using IC = std::unique_ptr<IntegerCompressor>;
  void start(Coder* coder) {
    if (!packet_index_model) {
      packet_index_model = make_model(coder, 256);
      for (ModelPtr& m : offset_symbol_models) m = make_model(coder, 4);
      offset_coder = std::make_unique<IntegerCompressor>(coder, 32, 1, 8, 0);
      packet_size_coder = std::make_unique<IntegerCompressor>(coder, 32, 1, 8, 0);
      return_point_coder = std::make_unique<IntegerCompressor>(coder, 32, 1, 8, 0);
      xyz_coder = std::make_unique<IntegerCompressor>(coder, 32, 3, 8, 0);
    }
    coder->initSymbolModel(packet_index_model.get());
    for (ModelPtr& m : offset_symbol_models) coder->initSymbolModel(m.get());
    for (IntegerCompressor* ic :
         {offset_coder.get(), packet_size_coder.get(), return_point_coder.get(), xyz_coder.get()})
      init_integer_coder(*ic, coder);
    last_offset_difference = 0;
    last_offset_symbol = 0;
  }
  I32 last_offset_difference = 0;
  U32 last_offset_symbol = 0;  // picks the offset-symbol model
  ModelPtr packet_index_model;
  std::array<ModelPtr, 4> offset_symbol_models;
  IC offset_coder, packet_size_coder, return_point_coder, xyz_coder;
};

template <typename Coder>
struct ByteChannel : LayeredChannel {
  // Model i is bound to the coder of byte stream i.
  template <typename CoderOf>
  void start(U32 number, CoderOf&& coder_of) {
    if (models.empty())
      for (U32 i = 0; i < number; i++) models.push_back(make_model(coder_of(i), 256));
    for (U32 i = 0; i < number; i++) coder_of(i)->initSymbolModel(models[i].get());
  }
  std::vector<ModelPtr> models;
};

// The four channel states of a coder and which one is current. Both sides
// start a chunk and switch channels through here, so they cannot drift apart.
template <class Channel>
struct LayeredChannels {
  // The chunk's first point, on the channel the context names.
  template <class Start>
  void start_chunk(const U8* item, U32 item_size, U32 context, Start&& start_channel) {
    for (Channel& c : channels) c.in_use = false;
    current = context & (LAYERED_CHANNELS - 1);
    Channel& first = channels[current];
    start_channel(first);
    first.reference.assign(item, item + item_size);
    first.in_use = true;
  }
  // Every later point: the channel whose reference the item is coded against.
  template <class Start>
  U32 next_point(U32 context, bool version4, Start&& start_channel) {
    return switch_channel(channels, current, context, version4, [&](Channel& next, const Channel& old) {
      start_channel(next);
      next.reference = old.reference;
    });
  }
  U32 current = 0;
  Channel channels[LAYERED_CHANNELS];
};

// The reading frame: stream sizes, fetching, the chunk start and the channel
// switch. A coder adds how it starts a channel and how it decodes an item
// with the models of one channel against the reference of another.
template <class Channel>
class LayeredItemReader : public LASreadItemCompressed {
 public:
  bool chunk_sizes() override { return streams.read_sizes(dec->getByteStreamIn()); }
  bool init(const U8* item, U32& context) override {
    ByteStreamIn* in = dec->getByteStreamIn();
    if (!in) return false;
    streams.start(in, requested);
    state.start_chunk(item, item_size, context, [this](Channel& c) { start_channel(c); });
    return true;
  }
  void read(U8* item, U32& context) override {
    const U32 with = state.next_point(context, version4, [this](Channel& c) { start_channel(c); });
    decode(item, state.channels[state.current], state.channels[with].reference.data());
  }

 protected:
  LayeredItemReader(ArithmeticDecoder* dec, U32 stream_count, U32 item_size, bool version4)
      : dec(dec), streams(stream_count), requested(stream_count, false), item_size(item_size), version4(version4) {}
  virtual void start_channel(Channel& c) = 0;
  // Decodes into `item` with the models of `s` and stores it into `reference`.
  virtual void decode(U8* item, Channel& s, U8* reference) = 0;

  ArithmeticDecoder* dec;  // the driver's: it knows the chunk stream
  LayeredStreamsIn streams;
  std::vector<bool> requested;
  U32 item_size;
  bool version4;
  LayeredChannels<Channel> state;
};

template <class Channel>
class LayeredItemWriter : public LASwriteItemCompressed {
 public:
  bool init(const U8* item, U32& context) override {
    if (!streams.start()) return false;
    state.start_chunk(item, item_size, context, [this](Channel& c) { start_channel(c); });
    return true;
  }
  bool write(const U8* item, U32& context) override {
    const U32 with = state.next_point(context, version4, [this](Channel& c) { start_channel(c); });
    encode(item, state.channels[state.current], state.channels[with].reference.data());
    return true;
  }
  bool chunk_sizes() override { return streams.write_sizes(enc->getByteStreamOut()); }
  bool chunk_bytes() override { return streams.write_bytes(enc->getByteStreamOut()); }

 protected:
  LayeredItemWriter(ArithmeticEncoder* enc, U32 stream_count, U32 item_size, bool version4)
      : enc(enc), streams(stream_count), item_size(item_size), version4(version4) {}
  virtual void start_channel(Channel& c) = 0;
  // Encodes `item` with the models of `s` against `reference`, then stores
  // it there.
  virtual void encode(const U8* item, Channel& s, U8* reference) = 0;

  ArithmeticEncoder* enc;  // the driver's: it knows the chunk stream
  LayeredStreamsOut streams;
  U32 item_size;
  bool version4;
  LayeredChannels<Channel> state;
};
