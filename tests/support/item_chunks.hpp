// Running one item coder pair over chunks of items, as the point driver does
// (a fresh code stream per chunk on one encoder or decoder), and writing the
// code stream that a coder should produce symbol by symbol on fresh models.
// Shared by the tests of every item coder version.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "compressor/lasitemcoding.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace itemchunks {

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
  const std::vector<std::vector<Item>> chunks = {items,
                                                 std::vector<Item>(items.begin(), items.begin() + items.size() / 3)};
  const Coded coded = write_chunks<Writer>(chunks, args...);
  expect_read_back<Reader>(coded, chunks, args...);
}

// One chunk of items must code as `expected` and read back.
template <typename Writer, typename Reader, typename... Args>
void expect_coded_as(const std::vector<Item>& items, const std::string& expected, Args... args) {
  const Coded coded = write_chunks<Writer>({items}, args...);
  EXPECT_EQ(coded.bytes, expected);
  expect_read_back<Reader>(coded, {items}, args...);
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

}  // namespace itemchunks
