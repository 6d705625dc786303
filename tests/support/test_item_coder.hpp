// A small item coder for tests of the chunked point reader and writer, so
// that chunks, tables, seeking and recovery can be checked before (and apart
// from) the real item coders. It codes every byte of an item's memory as the
// difference to the same byte of the previous point, one 256-symbol model per
// byte, through the real arithmetic coder.
//
// Item versions 1 and 2 select the pointwise form (one code stream per chunk,
// the driver's); versions 3 and 4 the layered form, where each item keeps its
// own code stream and hands it to the chunk through chunk_sizes/chunk_bytes.
// The layered form reaches the driver's chunk stream through `chunk_out` /
// `chunk_in`, which the test sets. Install with
//   writer.set_coded_writer_maker(testcoder::make_writer);
//   reader.set_coded_reader_maker(testcoder::make_reader);
#pragma once

#include <cstring>
#include <memory>
#include <vector>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "compressor/lasreaditem.hpp"
#include "compressor/laswriteitem.hpp"
#include "compressor/vembra.hpp"
#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"

namespace testcoder {

// Coded item reads so far: tells a test how many points a seek decoded.
inline U64 coded_reads = 0;
// The driver's chunk streams, for the layered form.
inline ByteStreamOut* chunk_out = nullptr;
inline ByteStreamIn* chunk_in = nullptr;

// Bytes of point memory an item covers: POINT14 the core fields up to and
// including the GPS time (offset 40), the others their record size.
inline U32 memory_size(const LASitem& item) { return item.type == LASitem::POINT14 ? 40 : item.size; }

template <typename Coder>
class Models {
 public:
  Models(Coder* coder, U32 size) : coder(coder), last(size) {
    for (U32 i = 0; i < size; i++) models.push_back(coder->createSymbolModel(256));
  }
  ~Models() {
    for (ArithmeticModel* m : models) coder->destroySymbolModel(m);
  }
  void start(const U8* item) {
    for (ArithmeticModel* m : models) coder->initSymbolModel(m);
    memcpy(last.data(), item, last.size());
  }
  Coder* coder;
  std::vector<ArithmeticModel*> models;
  std::vector<U8> last;
};

class WriteBytes : public LASwriteItemCompressed {
 public:
  WriteBytes(ArithmeticEncoder* encoder, U32 size) : state(encoder, size) {}
  bool write(const U8* item, U32&) override {
    for (size_t i = 0; i < state.last.size(); i++) {
      state.coder->encodeSymbol(state.models[i], (U8)(item[i] - state.last[i]));
      state.last[i] = item[i];
    }
    return true;
  }
  bool init(const U8* item, U32&) override {
    state.start(item);
    return true;
  }

 private:
  Models<ArithmeticEncoder> state;
};

class ReadBytes : public LASreadItemCompressed {
 public:
  ReadBytes(ArithmeticDecoder* decoder, U32 size) : state(decoder, size) {}
  void read(U8* item, U32&) override {
    coded_reads++;
    for (size_t i = 0; i < state.last.size(); i++) state.last[i] = (U8)(state.last[i] + state.coder->decodeSymbol(state.models[i]));
    memcpy(item, state.last.data(), state.last.size());
  }
  bool init(const U8* item, U32&) override {
    state.start(item);
    return true;
  }

 private:
  Models<ArithmeticDecoder> state;
};

class WriteLayered : public LASwriteItemCompressed {
 public:
  explicit WriteLayered(U32 size) : state(&encoder, size) {}
  bool write(const U8* item, U32&) override {
    for (size_t i = 0; i < state.last.size(); i++) {
      encoder.encodeSymbol(state.models[i], (U8)(item[i] - state.last[i]));
      state.last[i] = item[i];
    }
    return true;
  }
  bool init(const U8* item, U32&) override {
    field = std::make_unique<ByteStreamOutArrayLE>(1024);
    state.start(item);
    return encoder.init(field.get());
  }
  bool chunk_sizes() override {
    encoder.done();
    const U32 size = (U32)field->getSize();
    return chunk_out->put32bitsLE((const U8*)&size);
  }
  bool chunk_bytes() override { return chunk_out->putBytes(field->getData(), (U32)field->getSize()); }

 private:
  ArithmeticEncoder encoder;
  Models<ArithmeticEncoder> state;
  std::unique_ptr<ByteStreamOutArrayLE> field;
};

class ReadLayered : public LASreadItemCompressed {
 public:
  explicit ReadLayered(U32 size) : state(&decoder, size) {}
  void read(U8* item, U32&) override {
    coded_reads++;
    for (size_t i = 0; i < state.last.size(); i++) state.last[i] = (U8)(state.last[i] + decoder.decodeSymbol(state.models[i]));
    memcpy(item, state.last.data(), state.last.size());
  }
  bool chunk_sizes() override {
    chunk_in->get32bitsLE((U8*)&size);
    if (size > (1u << 24)) throw 4711;  // corrupt: no test chunk is that large
    return true;
  }
  bool init(const U8* item, U32&) override {
    bytes.resize(size);
    chunk_in->getBytes(bytes.data(), size);
    field.init(bytes.data(), size);
    state.start(item);
    return decoder.init(&field, true);
  }

 private:
  ArithmeticDecoder decoder;
  Models<ArithmeticDecoder> state;
  U32 size = 0;
  std::vector<U8> bytes;
  ByteStreamInArrayLE field;
};

inline LASwriteItemCompressed* make_writer(const LASitem& item, ArithmeticEncoder* encoder) {
  if (item.version == 1 || item.version == 2) return new WriteBytes(encoder, memory_size(item));
  if (item.version == 3 || item.version == 4) return new WriteLayered(memory_size(item));
  return nullptr;
}

inline LASreadItemCompressed* make_reader(const LASitem& item, ArithmeticDecoder* decoder, U32) {
  if (item.version == 1 || item.version == 2) return new ReadBytes(decoder, memory_size(item));
  if (item.version == 3 || item.version == 4) return new ReadLayered(memory_size(item));
  return nullptr;
}

}  // namespace testcoder
