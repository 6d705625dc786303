// Stream mechanics of the layered item coders (see laslayeredstreams.hpp).
#include "compressor/laslayeredstreams.hpp"

#include <algorithm>

namespace {

// Without a way to learn how much input is left (a pipe), stream bytes are
// fetched in steps of this size, so that a damaged size cannot make the
// reader allocate more than the input holds plus one step.
constexpr U32 FETCH_STEP = 1 << 20;

constexpr I64 FIRST_STREAM_BYTES = 4096;

void fetch(ByteStreamIn* in, std::vector<U8>& buffer, U64 offset, U32 count) {
  U64 done = 0;
  while (done < count) {
    const U64 step = std::min<U64>(count - done, in->isSeekable() ? count : FETCH_STEP);
    if (buffer.size() < offset + done + step) buffer.resize(offset + done + step);
    in->getBytes(buffer.data() + offset + done, (I64)step);
    done += step;
  }
}

void skip(ByteStreamIn* in, U32 count) {
  if (count == 0) return;
  if (in->isSeekable()) {
    if (!in->skipBytes(count)) throw EOF;
    return;
  }
  U8 scratch[4096];
  for (U32 left = count; left > 0;) {
    const U32 step = std::min<U32>(left, sizeof(scratch));
    in->getBytes(scratch, step);
    left -= step;
  }
}

}  // namespace

bool read_stream_sizes(ByteStreamIn* in, U32* sizes, U32 count) {
  if (!in) return false;
  for (U32 s = 0; s < count; s++) in->get32bitsLE((U8*)&sizes[s]);
  return true;
}

void fetch_streams(ByteStreamIn* in, const U32* sizes, const bool* wanted, U32 count, std::vector<U8>& buffer,
                   U64* starts) {
  // Summed in 64 bits, up to 2^32 sizes of 32 bits cannot wrap.
  U64 all = 0, kept = 0;
  for (U32 s = 0; s < count; s++) {
    all += sizes[s];
    if (wanted[s]) kept += sizes[s];
  }
  if (in->isSeekable()) {
    const I64 here = in->tell();
    if (!in->seekEnd(0)) throw EOF;
    const I64 end = in->tell();
    if (!in->seek(here) || end < here || (U64)(end - here) < all) throw EOF;
    if (buffer.size() < kept) buffer.resize(kept);
  }
  U64 at = 0;
  for (U32 s = 0; s < count; s++) {
    starts[s] = at;
    if (wanted[s]) {
      fetch(in, buffer, at, sizes[s]);
      at += sizes[s];
    } else {
      skip(in, sizes[s]);
    }
  }
}

void LayeredStreamsIn::start(ByteStreamIn* in, const std::vector<bool>& requested) {
  const U32 n = count();
  if (!streams[0]) {
    for (U32 s = 0; s < n; s++) {
      if (Endian::IS_LITTLE_ENDIAN)
        streams[s] = std::make_unique<ByteStreamInArrayLE>();
      else
        streams[s] = std::make_unique<ByteStreamInArrayBE>();
      decoders[s] = std::make_unique<ArithmeticDecoder>();
    }
  }
  std::unique_ptr<bool[]> wanted(new bool[n]);
  std::vector<U64> starts(n, 0);
  for (U32 s = 0; s < n; s++) wanted[s] = requested[s];
  fetch_streams(in, sizes.data(), wanted.get(), n, buffer, starts.data());
  for (U32 s = 0; s < n; s++) {
    changed[s] = wanted[s] && sizes[s] > 0;
    streams[s]->init(changed[s] ? buffer.data() + starts[s] : nullptr, changed[s] ? sizes[s] : 0);
    if (changed[s]) decoders[s]->init(streams[s].get(), true);
  }
}

bool LayeredStreamsOut::start() {
  const U32 n = count();
  for (U32 s = 0; s < n; s++) {
    if (!streams[s]) {
      if (Endian::IS_LITTLE_ENDIAN)
        streams[s] = std::make_unique<ByteStreamOutArrayLE>(FIRST_STREAM_BYTES);
      else
        streams[s] = std::make_unique<ByteStreamOutArrayBE>(FIRST_STREAM_BYTES);
      encoders[s] = std::make_unique<ArithmeticEncoder>();
    }
    streams[s]->seek(0);
    if (!encoders[s]->init(streams[s].get())) return false;
    changed[s] = false;
  }
  return true;
}

// A stream counts only when some point of the chunk differed in it.
U32 LayeredStreamsOut::stream_bytes(U32 s) const { return changed[s] ? (U32)streams[s]->getCurr() : 0; }

bool LayeredStreamsOut::write_sizes(ByteStreamOut* out) {
  if (!out) return false;
  for (U32 s = 0; s < count(); s++) {
    if (!streams[s]) return false;
    if (changed[s]) encoders[s]->done();
    // A stream that could not grow has lost its bytes: the chunk cannot be read.
    if (streams[s]->getData() == nullptr) return false;
    const U32 bytes = stream_bytes(s);
    if (!out->put32bitsLE((const U8*)&bytes)) return false;
  }
  return true;
}

bool LayeredStreamsOut::write_bytes(ByteStreamOut* out) {
  if (!out) return false;
  for (U32 s = 0; s < count(); s++) {
    const U32 bytes = stream_bytes(s);
    if (bytes && !out->putBytes(streams[s]->getData(), bytes)) return false;
  }
  return true;
}
