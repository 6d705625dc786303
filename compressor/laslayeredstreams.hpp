// The stream mechanics every layered item coder shares: a chunk holds, per
// item, the sizes of its code streams and then the streams' bytes. A reader
// fetches the streams it was asked for and skips the rest; a writer keeps
// each stream in memory until the chunk ends and stores a stream whose values
// never changed as size 0 and no bytes. The channel switch that picks which
// scanner channel's reference an item is coded against is here too.
#pragma once

#include <memory>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

// Reads `count` stream sizes of the chunk; false without a chunk stream.
bool read_stream_sizes(ByteStreamIn* in, U32* sizes, U32 count);

// Fetches the streams marked in `wanted` into `buffer`, packed one behind the
// other (their starts go to `starts`), and skips the others. The sizes come
// from the file: on a stream that can tell, they are checked against what is
// left of it, summed in 64 bits, before anything is allocated; otherwise the
// buffer grows only as bytes arrive. Throws EOF on a short input.
void fetch_streams(ByteStreamIn* in, const U32* sizes, const bool* wanted, U32 count, std::vector<U8>& buffer,
                   U64* starts);

// The reading side of an item's streams.
class LayeredStreamsIn {
 public:
  explicit LayeredStreamsIn(U32 count) : sizes(count, 0), changed(count, false), streams(count), decoders(count) {}
  bool read_sizes(ByteStreamIn* in) { return read_stream_sizes(in, sizes.data(), (U32)sizes.size()); }
  // Fetches the requested streams and attaches their decoders; a stream is
  // decoded (changed) when it was requested and has bytes.
  void start(ByteStreamIn* in, const std::vector<bool>& requested);
  ArithmeticDecoder* decoder(U32 s) { return decoders[s].get(); }
  U32 count() const { return (U32)sizes.size(); }

  std::vector<U32> sizes;
  std::vector<bool> changed;

 private:
  std::vector<std::unique_ptr<ByteStreamInArray>> streams;
  std::vector<std::unique_ptr<ArithmeticDecoder>> decoders;
  std::vector<U8> buffer;  // the fetched streams; it only grows
};

// The writing side: one in-memory stream and encoder per stream.
class LayeredStreamsOut {
 public:
  explicit LayeredStreamsOut(U32 count) : changed(count, false), streams(count), encoders(count) {}
  // Starts the chunk: streams back to position 0, encoders attached, nothing
  // changed yet.
  bool start();
  ArithmeticEncoder* encoder(U32 s) { return encoders[s].get(); }
  U32 count() const { return (U32)changed.size(); }
  bool write_sizes(ByteStreamOut* out);
  bool write_bytes(ByteStreamOut* out);

  std::vector<bool> changed;

 private:
  U32 stream_bytes(U32 s) const;

  std::vector<std::unique_ptr<ByteStreamOutArray>> streams;
  std::vector<std::unique_ptr<ArithmeticEncoder>> encoders;
};

// Scanner channels of a layered point: two bits.
constexpr U32 LAYERED_CHANNELS = 4;

// The channel switch at every point after the chunk's first. `context` is the
// channel the POINT14 coder handed on. A channel first used in the chunk is
// started by `start_channel(new, old)`, which copies the old channel's
// reference. Returns the channel whose reference the item is coded against:
// the current one, except that in version 3 a switch to a channel already in
// use keeps the old channel's reference (files of that version rely on it).
template <class Channel, class Start>
U32 switch_channel(Channel* channels, U32& current, U32 context, bool version4, Start&& start_channel) {
  const U32 old = current;
  context &= LAYERED_CHANNELS - 1;
  if (context == old) return old;
  current = context;
  Channel& next = channels[context];
  if (!next.in_use) {
    start_channel(next, channels[old]);
    next.in_use = true;
    return context;
  }
  return version4 ? context : old;
}
