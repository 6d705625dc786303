// The layered colour, NIR, wave-packet and extra-bytes coders on their own:
// one chunk written with the contexts the POINT14 coder would hand on, read
// back stream by stream. Expected streams are built symbol by symbol on
// fresh models where the order of references matters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "compressor/lasreaditemcompressed_layered.hpp"
#include "compressor/laswriteitemcompressed_layered.hpp"
#include "core/lasreader.hpp"
#include "support/item_chunks.hpp"
#include "support/point_records.hpp"

namespace {

using itemchunks::Item;

// One chunk as the driver lays it out: the sizes of every stream, then the
// bytes of the streams that changed.
template <typename Writer, typename... Args>
std::string write_chunk(const std::vector<Item>& items, const std::vector<U32>& contexts, Args... args) {
  ByteStreamOutArrayLE out;
  ArithmeticEncoder enc;
  enc.init(&out);
  Writer writer(&enc, args...);
  U32 context = contexts[0];
  EXPECT_TRUE(writer.init(items[0].data(), context));
  for (size_t i = 1; i < items.size(); i++) {
    context = contexts[i];
    EXPECT_TRUE(writer.write(items[i].data(), context));
  }
  EXPECT_TRUE(writer.chunk_sizes());
  EXPECT_TRUE(writer.chunk_bytes());
  return std::string((const char*)out.getData(), (size_t)out.getSize());
}

template <typename Reader, typename... Args>
std::vector<Item> read_chunk(const std::string& bytes, const Item& first, const std::vector<U32>& contexts, U32 mask,
                             Args... args) {
  ByteStreamInArrayLE in((const U8*)bytes.data(), (I64)bytes.size());
  ArithmeticDecoder dec;
  dec.init(&in, false);
  Reader reader(&dec, args..., mask);
  std::vector<Item> items = {first};
  Item item = first;
  U32 context = contexts[0];
  EXPECT_TRUE(reader.chunk_sizes());
  EXPECT_TRUE(reader.init(item.data(), context));
  for (size_t i = 1; i < contexts.size(); i++) {
    context = contexts[i];
    reader.read(item.data(), context);
    items.push_back(item);
  }
  EXPECT_EQ(in.tell(), (I64)bytes.size());
  return items;
}

std::vector<U32> sizes_of(const std::string& chunk, U32 streams) {
  std::vector<U32> sizes(streams);
  memcpy(sizes.data(), chunk.data(), 4 * streams);
  return sizes;
}

Item colour(U16 r, U16 g, U16 b, U16 nir = 0) {
  const U16 words[4] = {r, g, b, nir};
  return Item((const U8*)words, (const U8*)words + 8);
}
Item rgb(U16 r, U16 g, U16 b) {
  Item item = colour(r, g, b);
  item.resize(6);
  return item;
}

// Points on scanner channels 0, 1, 0, 0: version 4 codes p1, p2, p3 against
// p0, p0, p2; version 3 against p0, p1, p0, because its switch back to a
// channel in use keeps the old channel's reference.
TEST(LayeredColour, ChannelSwitchFollowsTheVersion) {
  const std::vector<Item> items = {rgb(100, 50, 200), rgb(110, 65, 205), rgb(300, 310, 320), rgb(90, 40, 30)};
  const std::vector<U32> contexts = {0, 1, 0, 0};
  struct Case {
    bool version4;
    int against[4];
  };
  for (const Case& c : {Case{true, {0, 0, 0, 2}}, Case{false, {0, 0, 1, 0}}}) {
    SCOPED_TRACE(c.version4 ? "version 4" : "version 3");
    itemchunks::Code code;
    ColourModels<ArithmeticEncoder> channel0(&code.enc), channel1(&code.enc);
    channel0.init(&code.enc);
    channel1.init(&code.enc);
    for (int i = 1; i < 4; i++)
      encode_colour_difference(&code.enc, i == 1 ? channel1 : channel0, (const U16*)items[c.against[i]].data(),
                               (const U16*)items[i].data());
    const std::string stream = code.bytes();

    const std::string chunk = c.version4 ? write_chunk<LASwriteItemCompressed_RGB14_v4>(items, contexts)
                                         : write_chunk<LASwriteItemCompressed_RGB14_v3>(items, contexts);
    EXPECT_EQ(sizes_of(chunk, 1), std::vector<U32>{(U32)stream.size()});
    EXPECT_EQ(chunk.substr(4), stream);
    const std::vector<Item> back =
        c.version4 ? read_chunk<LASreadItemCompressed_RGB14_v4>(chunk, items[0], contexts, LAS_SELECTIVE_ALL)
                   : read_chunk<LASreadItemCompressed_RGB14_v3>(chunk, items[0], contexts, LAS_SELECTIVE_ALL);
    EXPECT_EQ(back, items);
  }
}

// Version 3 data: the first point on channel 2, the later ones handed on
// as 0. Channel 0 starts from channel 2's reference.
TEST(LayeredColour, VersionThreeChunkOnOneChannelMovesToChannelZero) {
  const std::vector<Item> items = {colour(1, 2, 3, 4), colour(5, 6, 7, 8), colour(9, 9, 9, 9), colour(9, 9, 9, 10)};
  const std::vector<U32> contexts = {2, 0, 0, 0};
  const std::string chunk = write_chunk<LASwriteItemCompressed_RGBNIR14_v3>(items, contexts);
  EXPECT_EQ(read_chunk<LASreadItemCompressed_RGBNIR14_v3>(chunk, items[0], contexts, LAS_SELECTIVE_ALL), items);
}

// The zero-byte rule and selective decoding: a stream whose values never
// change is stored as size 0, and a stream not asked for keeps the first
// point's values. A colour that is not grey counts as changed even when
// it repeats.
TEST(LayeredColour, UnchangedAndSkippedStreamsKeepTheFirstValues) {
  const std::vector<U32> contexts = {0, 0, 0};
  const std::vector<Item> nir_only = {colour(7, 7, 7, 100), colour(7, 7, 7, 300), colour(7, 7, 7, 200)};
  const std::string chunk = write_chunk<LASwriteItemCompressed_RGBNIR14_v4>(nir_only, contexts);
  const std::vector<U32> sizes = sizes_of(chunk, 2);
  EXPECT_EQ(sizes[0], 0u);
  EXPECT_GT(sizes[1], 0u);
  EXPECT_EQ(chunk.size(), 8 + sizes[1]);
  EXPECT_EQ(read_chunk<LASreadItemCompressed_RGBNIR14_v4>(chunk, nir_only[0], contexts, LAS_SELECTIVE_ALL), nir_only);
  // Without the NIR bit the NIR bytes are skipped.
  const std::vector<Item> first_nir(3, nir_only[0]);
  EXPECT_EQ(read_chunk<LASreadItemCompressed_RGBNIR14_v4>(chunk, nir_only[0], contexts, LAS_SELECTIVE_RGB), first_nir);

  const std::vector<Item> both = {colour(1, 2, 3, 4), colour(11, 22, 33, 44), colour(5, 6, 7, 8)};
  const std::string coded = write_chunk<LASwriteItemCompressed_RGBNIR14_v3>(both, contexts);
  const std::vector<Item> rgb_kept = {both[0], colour(1, 2, 3, 44), colour(1, 2, 3, 8)};
  EXPECT_EQ(read_chunk<LASreadItemCompressed_RGBNIR14_v3>(coded, both[0], contexts, LAS_SELECTIVE_NIR), rgb_kept);

  const std::vector<Item> same_colour(3, rgb(1, 2, 3));
  EXPECT_GT(sizes_of(write_chunk<LASwriteItemCompressed_RGB14_v3>(same_colour, contexts), 1)[0], 0u);
  const std::vector<Item> same_grey(3, rgb(5, 5, 5));
  EXPECT_EQ(write_chunk<LASwriteItemCompressed_RGB14_v3>(same_grey, contexts), std::string(4, '\0'));
}

Item wave(U8 index, U64 offset, U32 size, F32 location, F32 x, F32 y, F32 z) {
  Item item(29);
  item[0] = index;
  memcpy(&item[1], &offset, 8);
  memcpy(&item[9], &size, 4);
  const F32 floats[4] = {location, x, y, z};
  memcpy(&item[13], floats, 16);
  return item;
}

// Every kind of offset step, on two channels in both versions: back to back,
// shared, 32-bit differences at the bounds, far jumps both ways, and float
// fields that are equal as numbers but not as bits.
TEST(LayeredWavePacket, EveryOffsetStepRoundTrips) {
  const U64 base = 1ull << 40;
  const std::vector<Item> items = {
      wave(1, base, 256, 1.5f, 0.0f, -0.0f, 1.0f),
      wave(1, base + 256, 256, 1.5f, -0.0f, 0.0f, 1.0f),        // follows the packet before
      wave(2, base + 256, 512, 2.5f, 0.0f, 0.0f, NAN),          // shared
      wave(2, base + 256 - 2147483648ull, 512, 2.5f, 0, 0, 0),  // -2^31: still a difference
      wave(2, base + 256, 512, 2.5f, 0, 0, 0),                  // +2^31: raw
      wave(3, 5, 4000000000u, 0, 0, 0, 0),                      // far behind: raw
      wave(3, 4000000005ull, 7, 0, 0, 0, 0),                    // follows a size above 2^31
      wave(3, 4000000005ull, 7, 0, 0, 0, 0),                    // unchanged
  };
  const std::vector<U32> contexts = {0, 0, 1, 0, 2, 1, 3, 0};
  for (bool version4 : {false, true}) {
    SCOPED_TRACE(version4 ? "version 4" : "version 3");
    const std::string chunk = version4 ? write_chunk<LASwriteItemCompressed_WAVEPACKET14_v4>(items, contexts)
                                       : write_chunk<LASwriteItemCompressed_WAVEPACKET14_v3>(items, contexts);
    const std::vector<Item> back =
        version4 ? read_chunk<LASreadItemCompressed_WAVEPACKET14_v4>(chunk, items[0], contexts, LAS_SELECTIVE_ALL)
                 : read_chunk<LASreadItemCompressed_WAVEPACKET14_v3>(chunk, items[0], contexts, LAS_SELECTIVE_ALL);
    EXPECT_EQ(back, items);
    const std::vector<Item> skipped = read_chunk<LASreadItemCompressed_WAVEPACKET14_v3>(
        chunk, items[0], contexts, LAS_SELECTIVE_ALL & ~LAS_SELECTIVE_WAVEPACKET);
    EXPECT_EQ(skipped, std::vector<Item>(items.size(), items[0]));
  }
  // A wave packet repeated over a whole chunk stores nothing.
  const std::vector<Item> same(5, items[1]);
  EXPECT_EQ(write_chunk<LASwriteItemCompressed_WAVEPACKET14_v4>(same, {0, 0, 0, 0, 0}), std::string(4, '\0'));
}

// Back-to-back packets cost symbol 1 under the model the previous symbol
// chose, and nothing else but the unchanged fields.
TEST(LayeredWavePacket, BackToBackPacketsCodeAsFollowing) {
  const std::vector<Item> items = {wave(1, 100, 50, 1, 2, 3, 4), wave(1, 150, 50, 1, 2, 3, 4),
                                   wave(1, 200, 50, 1, 2, 3, 4)};
  itemchunks::Code code;
  ModelPtr index = code.fresh(256);
  ModelPtr symbols[4] = {code.fresh(4), code.fresh(4), code.fresh(4), code.fresh(4)};
  IntegerCompressor offset(&code.enc, 32, 1, 8, 0), size(&code.enc, 32, 1, 8, 0), location(&code.enc, 32, 1, 8, 0),
      xyz(&code.enc, 32, 3, 8, 0);
  for (IntegerCompressor* ic : {&offset, &size, &location, &xyz}) ic->initCompressor();
  U32 last = 0;
  for (int i = 1; i < 3; i++) {
    code.enc.encodeSymbol(index.get(), 1);
    code.enc.encodeSymbol(symbols[last].get(), 1);
    last = 1;
    size.compress(50, 50, 0);
    location.compress(0x3F800000, 0x3F800000, 0);
    xyz.compress(0x40000000, 0x40000000, 0);
    xyz.compress(0x40400000, 0x40400000, 1);
    xyz.compress(0x40800000, 0x40800000, 2);
  }
  const std::string stream = code.bytes();
  const std::string chunk = write_chunk<LASwriteItemCompressed_WAVEPACKET14_v3>(items, {0, 0, 0});
  EXPECT_EQ(chunk.substr(4), stream);
}

// Twenty extra bytes: bytes 0 to 15 answer to their mask bits, the others
// are always decoded; a byte that never changes has an empty stream.
TEST(LayeredBytes, EachByteIsItsOwnStream) {
  const U32 number = 20;
  std::vector<Item> items;
  for (U8 p = 0; p < 4; p++) {
    Item item(number);
    for (U8 i = 0; i < number; i++) item[i] = (i % 5 == 3) ? 42 : (U8)(p * 17 + i);
    items.push_back(item);
  }
  const std::vector<U32> contexts = {1, 0, 3, 3};
  for (bool version4 : {false, true}) {
    const std::string chunk = version4 ? write_chunk<LASwriteItemCompressed_BYTE14_v4>(items, contexts, number)
                                       : write_chunk<LASwriteItemCompressed_BYTE14_v3>(items, contexts, number);
    const std::vector<U32> sizes = sizes_of(chunk, number);
    for (U32 i = 0; i < number; i++) EXPECT_EQ(sizes[i] == 0, i % 5 == 3) << i;
    struct Case {
      U32 mask;
      U32 decoded_below_16;  // bit i: byte i decoded
    };
    for (const Case& c : {Case{LAS_SELECTIVE_ALL, 0xFFFF}, Case{0, 0}, Case{1u << 16, 1}, Case{0x80050000, 0x8005}}) {
      SCOPED_TRACE(c.mask);
      std::vector<Item> expected = items;
      for (Item& item : expected)
        for (U32 i = 0; i < 16; i++)
          if (!((c.decoded_below_16 >> i) & 1)) item[i] = items[0][i];
      const std::vector<Item> back =
          version4 ? read_chunk<LASreadItemCompressed_BYTE14_v4>(chunk, items[0], contexts, c.mask, number)
                   : read_chunk<LASreadItemCompressed_BYTE14_v3>(chunk, items[0], contexts, c.mask, number);
      EXPECT_EQ(back, expected);
    }
  }
}

// Stream sizes are checked against what is left of the input before the
// reader allocates for them; without a way to tell (a pipe) the bytes are
// fetched in steps. Either way a size beyond the input ends the chunk.
TEST(LayeredBytes, StreamSizesBeyondTheInputEndTheChunk) {
  const U32 number = 20;
  std::string chunk(4 * number, '\xFF');
  chunk += std::string(64, '\x01');
  for (bool seekable : {true, false}) {
    std::unique_ptr<ByteStreamIn> in;
    if (seekable)
      in = std::make_unique<ByteStreamInArrayLE>((const U8*)chunk.data(), (I64)chunk.size());
    else
      in = std::make_unique<testpoints::UnseekableIn>((const U8*)chunk.data(), (I64)chunk.size());
    ArithmeticDecoder dec;
    dec.init(in.get(), false);
    LASreadItemCompressed_BYTE14_v3 reader(&dec, number, LAS_SELECTIVE_ALL);
    Item item(number);
    U32 context = 0;
    ASSERT_TRUE(reader.chunk_sizes());
    bool thrown = false;
    try {
      reader.init(item.data(), context);
    } catch (int) {
      thrown = true;
    }
    EXPECT_TRUE(thrown) << seekable;
  }
}

}  // namespace
