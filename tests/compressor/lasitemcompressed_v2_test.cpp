// The item coders of the legacy formats (POINT10, GPS time, RGB and extra
// bytes of version 2, wave packets of version 1): small vectors worked by
// hand, whose bytes must equal the symbols written on fresh models, and round
// trips over generated sequences, over two chunks on one coder pair so that
// nothing may leak from one chunk into the next.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "compressor/lasitemcodertable.hpp"
#include "compressor/lasreaditemcompressed_v1.hpp"
#include "compressor/lasreaditemcompressed_v2.hpp"
#include "compressor/laswriteitemcompressed_v1.hpp"
#include "compressor/laswriteitemcompressed_v2.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace {

typedef std::vector<U8> Item;

template <typename T>
Item bytes_of(const T& value) {
  Item item(sizeof(T));
  memcpy(item.data(), &value, sizeof(T));
  return item;
}

// Chunks of items coded by one writer on one encoder, each chunk its own code
// stream as the point driver makes them; `ends` are the stream ends.
struct Coded {
  std::string bytes;
  std::vector<size_t> ends;
};

template <typename Writer, typename... Args>
Coded write_chunks(const std::vector<std::vector<Item>>& chunks, Args... args) {
  ByteStreamOutArrayLE out;
  ArithmeticEncoder enc;
  Writer writer(&enc, args...);
  Coded coded;
  for (const std::vector<Item>& chunk : chunks) {
    U32 context = 0;
    enc.init(&out);
    EXPECT_TRUE(writer.init(chunk[0].data(), context));
    for (size_t i = 1; i < chunk.size(); i++) EXPECT_TRUE(writer.write(chunk[i].data(), context));
    enc.done();
    EXPECT_EQ(context, 0u);
    coded.ends.push_back((size_t)out.getSize());
  }
  coded.bytes.assign((const char*)out.getData(), (size_t)out.getSize());
  return coded;
}

// Reads the chunks back and compares every item; the decoder must stand at
// each stream's end after its last item.
template <typename Reader, typename... Args>
void expect_read_back(const Coded& coded, const std::vector<std::vector<Item>>& chunks, Args... args) {
  ByteStreamInArrayLE in((const U8*)coded.bytes.data(), (I64)coded.bytes.size());
  ArithmeticDecoder dec;
  Reader reader(&dec, args...);
  for (size_t c = 0; c < chunks.size(); c++) {
    U32 context = 0;
    Item item = chunks[c][0];
    ASSERT_TRUE(reader.init(item.data(), context));
    dec.init(&in, true);
    for (size_t i = 1; i < chunks[c].size(); i++) {
      reader.read(item.data(), context);
      ASSERT_EQ(item, chunks[c][i]) << "chunk " << c << " item " << i;
    }
    EXPECT_EQ(in.tell(), (I64)coded.ends[c]) << "chunk " << c;
    EXPECT_EQ(context, 0u);
  }
}

template <typename Writer, typename Reader, typename... Args>
void round_trip(const std::vector<Item>& items, Args... args) {
  // The sequence in two chunks, the second a shorter copy of the first.
  const std::vector<std::vector<Item>> chunks = {items, std::vector<Item>(items.begin(), items.begin() + items.size() / 3)};
  const Coded coded = write_chunks<Writer>(chunks, args...);
  expect_read_back<Reader>(coded, chunks, args...);
}

// A code stream written symbol by symbol.
struct Code {
  Code() { enc.init(&out); }
  std::string bytes() {
    enc.done();
    return std::string((const char*)out.getData(), (size_t)out.getSize());
  }
  ModelPtr fresh(U32 symbols) {
    ModelPtr m = make_model(&enc, symbols);
    enc.initSymbolModel(m.get());
    return m;
  }
  ByteStreamOutArrayLE out;
  ArithmeticEncoder enc;
};

// ------------------------------------------------------------------ POINT10

Point10 point10(I32 x, I32 y, I32 z, U16 intensity, U8 return_byte, U8 class_byte, I8 rank, U8 user_data, U16 source) {
  Point10 p;
  p.x = x;
  p.y = y;
  p.z = z;
  p.intensity = intensity;
  p.return_byte = return_byte;
  p.class_byte = class_byte;
  p.scan_angle_rank = rank;
  p.user_data = user_data;
  p.point_source_ID = source;
  return p;
}

// Point 1 changes every field: return 2 of 2 after 1 of 1 (map class 2, level
// 0), the scan angle rank from 127 to -128 (the step 1). Point 2 repeats it:
// the mask 0, its intensity that of its return class, and the coordinates.
TEST(POINT10v2, CodesTheHandWorkedSymbols) {
  const std::vector<Item> items = {
      bytes_of(point10(1000, 2000, 300, 0, 0x09, 1, 127, 0, 1)),
      bytes_of(point10(1005, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
      bytes_of(point10(1005, 1995, 500, 100, 0x12, 2, -128, 7, 5)),
  };
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    ModelPtr changed = expected.fresh(64), return_byte = expected.fresh(256), classification = expected.fresh(256),
             scan_angle = expected.fresh(256), user_data = expected.fresh(256);
    IntegerCompressor intensity(e, 16, 4, 8, 0), source(e, 16, 1, 8, 0), dx(e, 32, 2, 8, 0), dy(e, 32, 22, 8, 0),
        z(e, 32, 20, 8, 0);
    for (IntegerCompressor* ic : {&intensity, &source, &dx, &dy, &z}) ic->initCompressor();
    e->encodeSymbol(changed.get(), 63);
    e->encodeSymbol(return_byte.get(), 0x12);
    intensity.compress(0, 100, 2);
    e->encodeSymbol(classification.get(), 2);
    e->encodeSymbol(scan_angle.get(), 1);
    e->encodeSymbol(user_data.get(), 7);
    source.compress(1, 5, 0);
    dx.compress(0, 5, 0);     // 5 is class 3
    dy.compress(0, -5, 2);    // class 3 with bit 0 cleared; -5 is class 3 too
    z.compress(0, 500, 2);    // classes 3 + 3: (6 / 2) with bit 0 cleared
    e->encodeSymbol(changed.get(), 0);
    dx.compress(0, 0, 0);     // medians of {0, 0, 0, 0, 5} and {-5, 0, 0, 0, 0}
    dy.compress(0, 0, 0);
    z.compress(500, 500, 0);
  }
  const Coded coded = write_chunks<LASwriteItemCompressed_POINT10_v2>({items});
  EXPECT_EQ(coded.bytes, expected.bytes());
  expect_read_back<LASreadItemCompressed_POINT10_v2>(coded, {items});
}

// Repeated points, returns of every (n, r) including 0, steps of every size,
// coordinates wrapping at the 32-bit ends, every other field changing now and
// then.
std::vector<Item> point10_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  const auto chance = [&rng](U32 one_in) { return rng() % one_in == 0; };
  Point10 p = point10(-5000, 7000, 100, 300, 0x09, 2, 0, 0, 17);
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    if (!chance(8)) {  // else a repeat of the previous point
      // Steps wrap at the 32-bit ends, as the coordinates' differences do.
      p.x = (I32)((U32)p.x + rng() % 41 - 20);
      p.y = (I32)((U32)p.y + rng() % 9 - 4);
      p.z = chance(3) ? (I32)((U32)p.z + rng() % 31 - 15) : (I32)(rng() % 2000);
      if (chance(50)) p.x = (I32)rng();  // large jumps and wraps
      if (chance(50)) p.y = chance(2) ? I32_MAX - (I32)(rng() % 3) : I32_MIN + (I32)(rng() % 3);
      if (chance(3)) p.return_byte = (U8)((p.return_byte & 0xC0) | (rng() % 64));
      if (chance(10)) p.return_byte ^= (U8)(0x40 << (rng() % 2));  // scan direction, edge
      if (chance(2)) p.intensity = (U16)(chance(4) ? rng() : p.intensity + rng() % 9 - 4);
      if (chance(20)) p.class_byte = (U8)rng();
      if (chance(7)) p.scan_angle_rank = chance(3) ? (I8)(p.scan_angle_rank == 127 ? -128 : 127) : (I8)rng();
      if (chance(30)) p.user_data = (U8)rng();
      if (chance(40)) p.point_source_ID = (U16)(chance(2) ? rng() : p.point_source_ID + 1);
    }
    items.push_back(bytes_of(p));
  }
  return items;
}

TEST(POINT10v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_POINT10_v2, LASreadItemCompressed_POINT10_v2>(point10_sequence(6000, seed));
  }
}

// The coder's bytes over a long sequence against a plain second writing of
// the same coding, field by field. Round trips cannot see a context or a
// prediction chosen wrongly on both sides alike; the bytes can, once a choice
// has been used often enough to shape its model.
std::string reference_point10_code(const std::vector<Item>& items) {
  static const U8 map[8][8] = {{15, 14, 13, 12, 11, 10, 9, 8}, {14, 0, 1, 3, 6, 10, 10, 9},
                               {13, 1, 2, 4, 7, 11, 11, 10}, {12, 3, 4, 5, 8, 12, 12, 11},
                               {11, 6, 7, 8, 9, 13, 13, 12}, {10, 10, 11, 12, 13, 14, 14, 13},
                               {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};
  Code code;
  ArithmeticEncoder* e = &code.enc;
  ModelPtr changed_model = code.fresh(64), angle[2] = {code.fresh(256), code.fresh(256)};
  ModelPtr per_value[3][256];
  IntegerCompressor intensity_ic(e, 16, 4, 8, 0), source_ic(e, 16, 1, 8, 0), dx_ic(e, 32, 2, 8, 0),
      dy_ic(e, 32, 22, 8, 0), z_ic(e, 32, 20, 8, 0);
  for (IntegerCompressor* ic : {&intensity_ic, &source_ic, &dx_ic, &dy_ic, &z_ic}) ic->initCompressor();
  U16 intensity[16] = {};
  I32 last_z[8] = {};
  MedianOfFive mx[16], my[16];
  const auto value_model = [&](int table, U8 previous) {
    if (!per_value[table][previous]) per_value[table][previous] = code.fresh(256);
    return per_value[table][previous].get();
  };
  Point10 q;
  memcpy(&q, items[0].data(), 20);
  for (size_t i = 1; i < items.size(); i++) {
    Point10 p;
    memcpy(&p, items[i].data(), 20);
    const U32 r = p.return_byte & 7, n = (p.return_byte >> 3) & 7;
    const U32 m = map[n][r], l = n > r ? n - r : r - n;
    U32 changed = 0;
    if (p.return_byte != q.return_byte) changed |= 32;
    if (p.intensity != intensity[m]) changed |= 16;
    if (p.class_byte != q.class_byte) changed |= 8;
    if (p.scan_angle_rank != q.scan_angle_rank) changed |= 4;
    if (p.user_data != q.user_data) changed |= 2;
    if (p.point_source_ID != q.point_source_ID) changed |= 1;
    e->encodeSymbol(changed_model.get(), changed);
    if (changed & 32) e->encodeSymbol(value_model(0, q.return_byte), p.return_byte);
    if (changed & 16) intensity_ic.compress(intensity[m], p.intensity, std::min(m, 3u));
    if (changed & 16) intensity[m] = p.intensity;
    if (changed & 8) e->encodeSymbol(value_model(1, q.class_byte), p.class_byte);
    if (changed & 4) e->encodeSymbol(angle[p.return_byte >> 6 & 1].get(), (U8)(p.scan_angle_rank - q.scan_angle_rank));
    if (changed & 2) e->encodeSymbol(value_model(2, q.user_data), p.user_data);
    if (changed & 1) source_ic.compress(q.point_source_ID, p.point_source_ID, 0);
    const I32 dx = (I32)((U32)p.x - (U32)q.x), dy = (I32)((U32)p.y - (U32)q.y);
    const U32 single = (n == 1);
    dx_ic.compress(mx[m].median(), dx, single);
    mx[m].insert(dx);
    const U32 kx = dx_ic.getLastClass();
    dy_ic.compress(my[m].median(), dy, single + (kx < 20 ? kx - kx % 2 : 20));
    my[m].insert(dy);
    const U32 kxy = kx + dy_ic.getLastClass();
    z_ic.compress(last_z[l], p.z, single + (kxy < 36 ? kxy / 2 - kxy / 2 % 2 : 18));
    last_z[l] = p.z;
    q = p;
  }
  return code.bytes();
}

TEST(POINT10v2, CodesEveryChoiceAsTheFormatSays) {
  const std::vector<Item> items = point10_sequence(20000, 9);
  // Compared as a whole; a failure would print thousands of bytes.
  EXPECT_TRUE(write_chunks<LASwriteItemCompressed_POINT10_v2>({items}).bytes == reference_point10_code(items));
}

// The first point after a chunk start is coded against intensity 0, whatever
// the chunk's first point held: an intensity of 0 then costs nothing.
TEST(POINT10v2, ChunkStartsFromIntensityZero) {
  const std::vector<Item> items = {bytes_of(point10(0, 0, 0, 900, 0x09, 0, 0, 0, 0)),
                                   bytes_of(point10(0, 0, 0, 0, 0x09, 0, 0, 0, 0)),
                                   bytes_of(point10(0, 0, 0, 900, 0x09, 0, 0, 0, 0))};
  round_trip<LASwriteItemCompressed_POINT10_v2, LASreadItemCompressed_POINT10_v2>(items);
  Code expected;
  {
    ModelPtr changed = expected.fresh(64);
    IntegerCompressor intensity(&expected.enc, 16, 4, 8, 0), dx(&expected.enc, 32, 2, 8, 0),
        dy(&expected.enc, 32, 22, 8, 0), z(&expected.enc, 32, 20, 8, 0);
    for (IntegerCompressor* ic : {&intensity, &dx, &dy, &z}) ic->initCompressor();
    expected.enc.encodeSymbol(changed.get(), 0);
    for (int k = 0; k < 3; k++) (k == 0 ? dx : k == 1 ? dy : z).compress(0, 0, 1);
    expected.enc.encodeSymbol(changed.get(), 16);  // 900 against the class's 0
    intensity.compress(0, 900, 0);
    for (int k = 0; k < 3; k++) (k == 0 ? dx : k == 1 ? dy : z).compress(0, 0, 1);
  }
  EXPECT_EQ(write_chunks<LASwriteItemCompressed_POINT10_v2>({items}).bytes, expected.bytes());
}

// ------------------------------------------------------------------ GPS time

// Steady steps, repeats, jumps forward and backward, several interleaved
// flight lines, and bit patterns that are no ordinary times.
std::vector<Item> gps_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  F64 lines[6];
  for (int k = 0; k < 6; k++) lines[k] = 1e6 * (k + 1) + k * 0.37;
  std::vector<Item> items;
  int line = 0;
  for (U32 i = 0; i < count; i++) {
    const U32 r = rng() % 100;
    if (r < 10) line = (int)(rng() % (r < 3 ? 6 : 3));  // mostly three lines, now and then six
    if (r < 70) lines[line] += 0.0000125;                 // the pulse rate
    else if (r < 80) lines[line] += 0.0000125 * (rng() % 700);
    else if (r < 85) lines[line] -= 0.0000125 * (rng() % 30);
    else if (r < 88) lines[line] += 3600.0 * (rng() % 3);
    if (r == 99) {
      U64 odd = (U64)rng() << 32 | rng();
      items.push_back(bytes_of(odd));
      continue;
    }
    items.push_back(bytes_of(lines[line]));
  }
  return items;
}

TEST(GPSTIME11v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_GPSTIME11_v2, LASreadItemCompressed_GPSTIME11_v2>(gps_sequence(8000, seed));
  }
}

// ------------------------------------------------------------------ RGB

std::vector<Item> rgb_sequence(U32 count, U32 seed) {
  std::mt19937 rng(seed);
  U16 c[3] = {1000, 1000, 1000};
  std::vector<Item> items;
  for (U32 i = 0; i < count; i++) {
    const U32 r = rng() % 10;
    if (r < 3) {  // grey
      c[0] = c[1] = c[2] = (U16)(c[0] + rng() % 600 - 300);
    } else if (r < 8) {  // a colour near the last
      for (U16& v : c) v = (U16)(v + rng() % 64 - 32);
    } else if (r == 8) {  // anything
      for (U16& v : c) v = (U16)rng();
    }
    items.push_back(bytes_of(c));
  }
  return items;
}

TEST(RGB12v2, GeneratedSequencesRoundTrip) {
  for (U32 seed : {1u, 2u}) {
    SCOPED_TRACE(seed);
    round_trip<LASwriteItemCompressed_RGB12_v2, LASreadItemCompressed_RGB12_v2>(rgb_sequence(5000, seed));
  }
}

// ------------------------------------------------------------------ BYTE

TEST(BYTEv2, CodesEveryByteAsItsDifference) {
  const std::vector<Item> items = {{1, 2, 3}, {1, 5, 0}, {1, 5, 0}};
  Code expected;
  {
    ModelPtr m[3] = {expected.fresh(256), expected.fresh(256), expected.fresh(256)};
    const U32 symbols[2][3] = {{0, 3, 253}, {0, 0, 0}};
    for (const auto& point : symbols)
      for (int i = 0; i < 3; i++) expected.enc.encodeSymbol(m[i].get(), point[i]);
  }
  const Coded coded = write_chunks<LASwriteItemCompressed_BYTE_v2>({items}, 3u);
  EXPECT_EQ(coded.bytes, expected.bytes());
  expect_read_back<LASreadItemCompressed_BYTE_v2>(coded, {items}, 3u);
}

TEST(BYTEv2, GeneratedSequencesRoundTrip) {
  for (U32 size : {1u, 4u, 17u}) {
    SCOPED_TRACE(size);
    std::mt19937 rng(size);
    Item bytes(size, 0);
    std::vector<Item> items;
    for (U32 i = 0; i < 3000; i++) {
      for (U32 b = 0; b < size; b++)
        if (b % 3 != 1 && rng() % (b + 2) == 0) bytes[b] = (U8)(b == 0 ? bytes[b] + 1 : rng());  // byte 1, 4, ... never change
      items.push_back(bytes);
    }
    round_trip<LASwriteItemCompressed_BYTE_v2, LASreadItemCompressed_BYTE_v2>(items, size);
  }
}

// ------------------------------------------------------------------ wave packets

Item wave(U8 index, U64 offset, U32 size, F32 location, F32 dx, F32 dy, F32 dz) {
  Item item(29);
  item[0] = index;
  memcpy(&item[1], &offset, 8);
  memcpy(&item[9], &size, 4);
  memcpy(&item[13], &location, 4);
  memcpy(&item[17], &dx, 4);
  memcpy(&item[21], &dy, 4);
  memcpy(&item[25], &dz, 4);
  return item;
}

I32 bits(F32 f) {
  I32 b;
  memcpy(&b, &f, 4);
  return b;
}

// Back to back (offset plus the previous size: symbol 1), shared (symbol 0),
// a difference (symbol 2) and a jump beyond 32 bits (symbol 3), each offset
// symbol under the model the previous symbol chose.
TEST(WAVEPACKET13v1, CodesTheHandWorkedSymbols) {
  const std::vector<Item> items = {
      wave(1, 1000, 50, 1.5f, 0.25f, -0.5f, 2.0f), wave(1, 1050, 50, 1.5f, 0.25f, -0.5f, 2.0f),
      wave(1, 1050, 50, 1.5f, 0.25f, -0.5f, 2.0f), wave(2, 5000, 60, 1.5f, 0.25f, -0.5f, -0.0f),
      wave(2, 1ull << 40, 60, 1.5f, 0.25f, -0.5f, -0.0f)};
  Code expected;
  {
    ArithmeticEncoder* e = &expected.enc;
    ModelPtr index = expected.fresh(256);
    ModelPtr offset_symbol[4] = {expected.fresh(4), expected.fresh(4), expected.fresh(4), expected.fresh(4)};
    IntegerCompressor offset(e, 32, 1, 8, 0), size(e, 32, 1, 8, 0), location(e, 32, 1, 8, 0), xyz(e, 32, 3, 8, 0);
    for (IntegerCompressor* ic : {&offset, &size, &location, &xyz}) ic->initCompressor();
    const auto rest = [&](U32 previous_size, U32 this_size, F32 previous_dz, F32 this_dz) {
      size.compress((I32)previous_size, (I32)this_size, 0);
      location.compress(bits(1.5f), bits(1.5f), 0);
      xyz.compress(bits(0.25f), bits(0.25f), 0);
      xyz.compress(bits(-0.5f), bits(-0.5f), 1);
      xyz.compress(bits(previous_dz), bits(this_dz), 2);
    };
    e->encodeSymbol(index.get(), 1);
    e->encodeSymbol(offset_symbol[0].get(), 1);
    rest(50, 50, 2.0f, 2.0f);
    e->encodeSymbol(index.get(), 1);
    e->encodeSymbol(offset_symbol[1].get(), 0);
    rest(50, 50, 2.0f, 2.0f);
    e->encodeSymbol(index.get(), 2);
    e->encodeSymbol(offset_symbol[0].get(), 2);
    offset.compress(0, 3950, 0);
    rest(50, 60, 2.0f, -0.0f);
    e->encodeSymbol(index.get(), 2);
    e->encodeSymbol(offset_symbol[2].get(), 3);
    e->writeInt64(1ull << 40);
    rest(60, 60, -0.0f, -0.0f);
  }
  const Coded coded = write_chunks<LASwriteItemCompressed_WAVEPACKET13_v1>({items});
  EXPECT_EQ(coded.bytes, expected.bytes());
  expect_read_back<LASreadItemCompressed_WAVEPACKET13_v1>(coded, {items});
}

TEST(WAVEPACKET13v1, GeneratedSequencesRoundTrip) {
  std::mt19937 rng(5);
  U64 offset = 60;
  U32 size = 256;
  std::vector<Item> items;
  for (U32 i = 0; i < 4000; i++) {
    const U32 r = rng() % 10;
    if (r < 5) offset += size;                                   // back to back
    else if (r < 7) offset += (U64)(I64)(I32)(rng() % 20000) - 10000;  // near
    else if (r == 7) offset = ((U64)rng() << 32) | rng();        // anywhere
    if (rng() % 20 == 0) size = (rng() % 2) ? (U32)rng() : 256;  // sizes beyond 2^31 as well
    F32 f[4];
    for (F32& v : f) v = (rng() % 4) ? 0.5f : (F32)(I32)rng() / 7.0f;
    items.push_back(wave((U8)(rng() % 3), offset, size, f[0], f[1], f[2], f[3]));
  }
  round_trip<LASwriteItemCompressed_WAVEPACKET13_v1, LASreadItemCompressed_WAVEPACKET13_v1>(items);
}

// ------------------------------------------------------------------ table

TEST(ItemCoderTable, HasTheLegacyCodersAndNothingElseYet) {
  struct Row {
    LASitem::Type type;
    U16 version;
    bool coded;
  };
  const Row rows[] = {
      {LASitem::POINT10, 2, true},      {LASitem::GPSTIME11, 2, true}, {LASitem::RGB12, 2, true},
      {LASitem::BYTE, 2, true},         {LASitem::WAVEPACKET13, 1, true}, {LASitem::WAVEPACKET13, 2, false},
      {LASitem::POINT10, 0, false},     {LASitem::POINT10, 5, false},
  };
  ArithmeticEncoder enc;
  ArithmeticDecoder dec;
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.type << " v" << row.version);
    const LASitem item = {row.type, (U16)(row.type == LASitem::BYTE ? 3 : 20), row.version};
    std::unique_ptr<LASreadItemCompressed> reader(make_item_reader(item, &dec, 0xFFFFFFFF));
    std::unique_ptr<LASwriteItemCompressed> writer(make_item_writer(item, &enc));
    EXPECT_EQ(reader != nullptr, row.coded);
    EXPECT_EQ(writer != nullptr, row.coded);
  }
}

}  // namespace
