#include <gtest/gtest.h>

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/bytestreamin_array.hpp"
#include "core/bytestreamin_file.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/bytestreamout_file.hpp"
#include "core/bytestreamout_nil.hpp"
#include "support/temp_dir.hpp"
#include "support/thrown.hpp"

namespace {

TEST(ByteStreamInArray, EmptyAndEnd) {
  ByteStreamInArrayLE empty;
  EXPECT_EQ(thrown_by([&] { empty.getByte(); }), -1);
  EXPECT_TRUE(empty.seek(0));
  EXPECT_TRUE(empty.seekEnd(0));
  EXPECT_FALSE(empty.seek(1));

  U8 data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  ByteStreamInArrayLE in(data, 10);
  EXPECT_TRUE(in.seekEnd(3));
  EXPECT_EQ(in.tell(), 7);
  U8 buffer[4] = {0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(thrown_by([&] { in.getBytes(buffer, 4); }), -1);
  EXPECT_EQ(in.tell(), 7);
  EXPECT_EQ(buffer[0], 0xAA);
  EXPECT_FALSE(in.seek(11));
  EXPECT_FALSE(in.seekEnd(11));
  EXPECT_TRUE(in.skipBytes(3));
  EXPECT_FALSE(in.skipBytes(1));
  EXPECT_EQ(in.tell(), 10);
}

// Bytes 1,2,3,4 from most to least significant is 16909060.
TEST(ByteStreams, ByteOrderOnThisHost) {
  ASSERT_TRUE(Endian::IS_LITTLE_ENDIAN);
  U32 value = 16909060;
  ByteStreamOutArrayLE out(0);
  ASSERT_TRUE(out.put32bitsBE((U8*)&value));
  ASSERT_TRUE(out.put32bitsLE((U8*)&value));
  U16 v16 = 0x0102;
  U64 v64 = 0x0102030405060708ULL;
  ASSERT_TRUE(out.put16bitsBE((U8*)&v16));
  ASSERT_TRUE(out.put64bitsBE((U8*)&v64));
  ASSERT_TRUE(out.put64bitsLE((U8*)&v64));
  const U8 expected[] = {1, 2, 3, 4, 4, 3, 2, 1, 1, 2, 1, 2, 3, 4, 5, 6, 7, 8, 8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_EQ(out.getSize(), (I64)sizeof(expected));
  EXPECT_EQ(memcmp(out.getData(), expected, sizeof(expected)), 0);

  ByteStreamInArrayLE in(expected, sizeof(expected));
  U32 a, b;
  U16 c;
  U64 d, e;
  in.get32bitsBE((U8*)&a);
  in.get32bitsLE((U8*)&b);
  in.get16bitsBE((U8*)&c);
  in.get64bitsBE((U8*)&d);
  in.get64bitsLE((U8*)&e);
  EXPECT_EQ(a, value);
  EXPECT_EQ(b, value);
  EXPECT_EQ(c, v16);
  EXPECT_EQ(d, v64);
  EXPECT_EQ(e, v64);

  // The big-endian classes serve a big-endian host: their BE calls copy.
  ByteStreamOutArrayBE big(0);
  big.put32bitsBE((U8*)&value);
  EXPECT_EQ(big.getData()[0], 4);
  ByteStreamInArrayBE big_in(expected, 4);
  U32 f;
  big_in.get32bitsLE((U8*)&f);
  EXPECT_EQ(f, 0x01020304u);
}

TEST(ByteStreamOutArray, Growth) {
  ByteStreamOutArrayLE out(0);
  EXPECT_EQ(out.getAlloc(), 0);
  ASSERT_TRUE(out.putByte(7));
  EXPECT_EQ(out.getAlloc(), 4096);

  ByteStreamOutArrayLE big(4096);
  std::vector<U8> bytes(10000, 1);
  ASSERT_TRUE(big.putBytes(bytes.data(), 10000));
  EXPECT_EQ(big.getAlloc(), 18192);

  ByteStreamOutArrayLE over(16);
  U8 eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  over.putBytes(eight, 8);
  ASSERT_TRUE(over.seek(2));
  over.putBytes(eight, 2);
  EXPECT_EQ(over.getSize(), 8);
  EXPECT_EQ(over.getCurr(), 4);
  EXPECT_FALSE(over.seek(9));
  EXPECT_TRUE(over.seekEnd());
  EXPECT_EQ(over.tell(), 8);
}

TEST(ByteStreamInArray, TakesOverAnOutputBuffer) {
  ByteStreamOutArrayLE out(0);
  U32 value = 0xDEADBEEF;
  out.put32bitsLE((U8*)&value);
  ByteStreamInArrayLE in;
  in.take_over(out);
  EXPECT_EQ(out.getSize(), 0);
  EXPECT_EQ(out.getData(), nullptr);
  U32 read;
  in.get32bitsLE((U8*)&read);
  EXPECT_EQ(read, value);
  // `out` stays usable with a new buffer.
  EXPECT_TRUE(out.putByte(1));
}

TEST(ByteStreamOutNil, CountsEveryPut) {
  ByteStreamOutNil nil;
  std::vector<U8> header(227, 0);
  nil.putBytes(header.data(), 227);
  EXPECT_TRUE(nil.seek(107));
  U32 v = 0;
  nil.put32bitsLE((U8*)&v);
  EXPECT_EQ(nil.tell(), 231);
}

TEST(ByteStreamFile, ReadWriteSeek) {
  TempDir dir;
  FILE* file = fopen(dir.file("s.bin").c_str(), "w+b");
  ASSERT_NE(file, nullptr);
  ByteStreamOutFileLE out(file);
  EXPECT_TRUE(out.isSeekable());
  U32 value = 16909060;
  EXPECT_TRUE(out.put32bitsBE((U8*)&value));
  EXPECT_TRUE(out.putByte(9));
  EXPECT_EQ(out.tell(), 5);
  fflush(file);
  ByteStreamInFileLE in(file);
  ASSERT_TRUE(in.seek(0));
  U32 read;
  in.get32bitsBE((U8*)&read);
  EXPECT_EQ(read, value);
  EXPECT_EQ(in.getByte(), 9u);
  EXPECT_EQ(thrown_by([&] { in.getByte(); }), -1);
  ASSERT_TRUE(in.seekEnd(1));
  EXPECT_EQ(in.tell(), 4);
  U8 two[2];
  EXPECT_EQ(thrown_by([&] { in.getBytes(two, 2); }), -1);
  fclose(file);

  ByteStreamInFileLE standard_in(stdin);
  EXPECT_FALSE(standard_in.isSeekable());
  EXPECT_TRUE(standard_in.seek(standard_in.tell()));
  ByteStreamOutFileLE standard_out(stdout);
  EXPECT_FALSE(standard_out.isSeekable());
}

}  // namespace

namespace {

// On a pipe the handle has no position; the streams count instead, so that
// chunk sizes of piped output stay right.
TEST(ByteStreamFile, PipesCountTheirBytes) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* write_end = fdopen(fds[1], "wb");
  FILE* read_end = fdopen(fds[0], "rb");
  ByteStreamOutFileLE out(write_end);
  U8 bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(out.putBytes(bytes, 5));
  ASSERT_TRUE(out.putByte(6));
  EXPECT_EQ(out.tell(), 6);
  fclose(write_end);
  ByteStreamInFileLE in(read_end);
  U8 got[5];
  in.getBytes(got, 5);
  EXPECT_EQ(in.tell(), 5);
  EXPECT_EQ(in.getByte(), 6u);
  EXPECT_EQ(in.tell(), 6);
  fclose(read_end);
}

}  // namespace

namespace {

// `n` bytes, byte i holding i % 251, so that every lent unit shows where it
// came from.
std::string counting_bytes(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; i++) bytes[i] = (char)(i % 251);
  return bytes;
}

bool holds_bytes_from(const U8* lent, size_t position, size_t count) {
  for (size_t i = 0; i < count; i++)
    if (lent[i] != (U8)((position + i) % 251)) return false;
  return true;
}

// Units of 28 bytes through a buffer of 4096: units that would straddle its
// end are moved to its front, positions and later reads stay exact, and the
// odd bytes at the end are not lent but read (and missed) as before.
TEST(ByteStreamInFileBuffered, LendsWholeUnitsAcrossTheBufferEnd) {
  TempDir dir;
  dir.write("s.bin", counting_bytes(10000));
  // The stream reads the file until it is deleted: the handle goes after it.
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(dir.file("s.bin").c_str(), "rb"), fclose);
  ASSERT_NE(file, nullptr);
  ByteStreamInFileBuffered in(file.get(), 4096);
  ASSERT_TRUE(in.has_buffer());
  EXPECT_EQ(in.getByte(), 0u);

  size_t position = 1;
  U64 units = 0;
  while (const U8* lent = in.lend(28, 50, units)) {
    ASSERT_GT(units, 0u);
    ASSERT_LE(units, 50u);
    ASSERT_TRUE(holds_bytes_from(lent, position, units * 28)) << "at " << position;
    position += units * 28;
    ASSERT_EQ(in.tell(), (I64)position);
    // A plain read between the lends takes the next bytes.
    if (position < 5000) {
      U8 two[2];
      in.getBytes(two, 2);
      ASSERT_TRUE(holds_bytes_from(two, position, 2));
      position += 2;
    }
  }
  EXPECT_EQ(units, 0u);
  EXPECT_LT(10000 - position, 28u);
  EXPECT_EQ(in.tell(), (I64)position);
  U8 rest[28];
  EXPECT_EQ(thrown_by([&] { in.getBytes(rest, 28); }), -1);

  // Seeks back inside and before the buffer; a unit larger than the buffer
  // is never lent.
  ASSERT_TRUE(in.seek(9990));
  const U8* last = in.lend(5, 3, units);
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(units, 2u);
  EXPECT_TRUE(holds_bytes_from(last, 9990, 10));
  ASSERT_TRUE(in.seek(100));
  last = in.lend(4, 1, units);
  ASSERT_NE(last, nullptr);
  EXPECT_TRUE(holds_bytes_from(last, 100, 4));
  EXPECT_EQ(in.lend(4097, 1, units), nullptr);
  EXPECT_EQ(in.tell(), 104);
}

// One step of a walk over `size` counting bytes through `in`, checked against
// the bytes themselves; `position` is where the stream must stand. A read
// that runs past the end throws -1, after taking the bytes that were there.
void walk_step(ByteStreamInFileBuffered& in, std::mt19937& random, size_t size, size_t capacity, bool seekable,
               size_t& position) {
  std::vector<U8> got(3 * capacity);
  switch (random() % 6) {
    case 0:
      if (position < size) {
        ASSERT_EQ(in.getByte(), (U32)(position % 251)) << position;
        position++;
      } else {
        ASSERT_EQ(thrown_by([&] { in.getByte(); }), -1);
      }
      break;
    case 1: {
      const size_t count = 1 + random() % (3 * capacity);
      if (count <= size - position) {
        in.getBytes(got.data(), (I64)count);
        ASSERT_TRUE(holds_bytes_from(got.data(), position, count)) << position << " +" << count;
        position += count;
      } else {
        ASSERT_EQ(thrown_by([&] { in.getBytes(got.data(), (I64)count); }), -1);
        position = size;
      }
      break;
    }
    case 2:
    case 3: {
      const U32 unit = 1 + random() % 64;
      const U64 most = 1 + random() % 400;
      U64 units = 99;
      const U8* lent = in.lend(unit, most, units);
      if (lent == nullptr) {
        ASSERT_EQ(units, 0u);
        // Nothing only where not one whole unit is left.
        ASSERT_LT(size - position, unit) << position;
      } else {
        ASSERT_GT(units, 0u);
        ASSERT_LE(units, most);
        ASSERT_TRUE(holds_bytes_from(lent, position, units * unit)) << position;
        position += units * unit;
      }
      break;
    }
    case 4: {
      // Back a little (likely inside the buffer), forward over a few
      // buffers, or anywhere.
      const size_t way = random() % 3;
      const size_t target = way == 0   ? (size_t)std::max<I64>(0, (I64)position - (I64)(random() % 300))
                            : way == 1 ? std::min(size, position + random() % (3 * capacity))
                                       : random() % (size + 1);
      if (seekable) {
        ASSERT_TRUE(in.seek((I64)target));
        position = target;
      } else if (in.seek((I64)target)) {
        position = target;
      }
      break;
    }
    default:
      if (seekable) {
        const size_t distance = random() % 100;
        ASSERT_TRUE(in.seekEnd((I64)distance));
        position = size - distance;
      }
      break;
  }
  ASSERT_EQ(in.tell(), (I64)position);
}

// Random walks of byte reads, block reads, lends and seeks, each step checked
// against the file: buffers that do and do not divide the file, one larger
// than it, and the same through a pipe, where seeks only move inside the
// buffer and fail elsewhere without losing the place.
TEST(ByteStreamInFileBuffered, RandomWalksAgreeWithTheBytes) {
  const size_t size = 50000;  // fits a pipe's own buffer: no writer thread needed
  const std::string bytes = counting_bytes(size);
  TempDir dir;
  dir.write("s.bin", bytes);
  for (const bool seekable : {true, false}) {
    for (const size_t capacity : {4096, 5003, 65536}) {
      SCOPED_TRACE(std::string(seekable ? "file" : "pipe") + " capacity " + std::to_string(capacity));
      FILE* file = nullptr;
      if (seekable) {
        file = fopen(dir.file("s.bin").c_str(), "rb");
      } else {
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        ASSERT_EQ(write(fds[1], bytes.data(), size), (ssize_t)size);
        close(fds[1]);
        file = fdopen(fds[0], "rb");
      }
      ASSERT_NE(file, nullptr);
      {
        ByteStreamInFileBuffered in(file, capacity);
        ASSERT_TRUE(in.has_buffer());
        EXPECT_EQ(in.isSeekable(), seekable);
        std::mt19937 random((unsigned)capacity);
        size_t position = 0;
        for (int step = 0; step < 4000 && !HasFatalFailure(); step++) {
          walk_step(in, random, size, capacity, seekable, position);
        }
      }
      fclose(file);
    }
  }
}

bool several_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  return sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 1;
}

// The thread that reads ahead stops before the stream's memory goes,
// whatever it is doing: deleted just after it started, after a seek that
// drops the blocks in flight, and after the end of the data met by a throw.
// The sanitizers see a read into freed memory or a race.
TEST(ByteStreamInFileBuffered, IsDeletedWhileReadingAhead) {
  const size_t size = 1 << 20;
  TempDir dir;
  dir.write("s.bin", counting_bytes(size));
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(dir.file("s.bin").c_str(), "rb"), fclose);
  ASSERT_NE(file, nullptr);
  std::vector<U8> bytes(3 * 4096);
  for (int round = 0; round < 30; round++) {
    SCOPED_TRACE(round);
    ASSERT_EQ(fseeko(file.get(), 0, SEEK_SET), 0);
    auto in = std::make_unique<ByteStreamInFileBuffered>(file.get(), 4096);
    in->getBytes(bytes.data(), (I64)bytes.size());  // past the first block: the thread starts
    EXPECT_EQ(in->reads_ahead(), several_cpus());
    if (round % 3 == 1) {
      ASSERT_TRUE(in->seek(size / 2 + round));
      in->getBytes(bytes.data(), (I64)bytes.size());
      EXPECT_TRUE(holds_bytes_from(bytes.data(), size / 2 + round, bytes.size()));
    } else if (round % 3 == 2) {
      ASSERT_TRUE(in->seek(size - 100));
      EXPECT_EQ(thrown_by([&] { in->getBytes(bytes.data(), (I64)bytes.size()); }), -1);
    }
    in.reset();
  }
}

// A file that grows after its end was met is read on only after a seek away
// from the buffer, as a stdio stream keeps its end of file until a seek.
TEST(ByteStreamInFileBuffered, GrowingFileIsReadOnAfterASeek) {
  TempDir dir;
  const std::string bytes = counting_bytes(30000);
  dir.write("s.bin", bytes.substr(0, 20000));
  std::unique_ptr<FILE, int (*)(FILE*)> file(fopen(dir.file("s.bin").c_str(), "rb"), fclose);
  ASSERT_NE(file, nullptr);
  ByteStreamInFileBuffered in(file.get(), 4096);
  std::vector<U8> got(20000);
  in.getBytes(got.data(), 20000);
  EXPECT_EQ(thrown_by([&] { in.getByte(); }), -1);
  dir.write("s.bin", bytes);  // rewritten in place: the same file, longer
  EXPECT_EQ(thrown_by([&] { in.getByte(); }), -1);
  ASSERT_TRUE(in.seek(100));
  ASSERT_TRUE(in.seek(20000));
  in.getBytes(got.data(), 10000);
  EXPECT_TRUE(holds_bytes_from(got.data(), 20000, 10000));
  EXPECT_EQ(thrown_by([&] { in.getByte(); }), -1);
}

// The array stream lends in place; the unbuffered file stream lends nothing.
TEST(ByteStreamIn, LendingOfOtherStreams) {
  const std::string bytes = counting_bytes(100);
  ByteStreamInArrayLE array((const U8*)bytes.data(), 100);
  U64 units = 0;
  const U8* lent = array.lend(30, 10, units);
  EXPECT_EQ(lent, (const U8*)bytes.data());
  EXPECT_EQ(units, 3u);
  EXPECT_EQ(array.tell(), 90);
  EXPECT_EQ(array.lend(30, 1, units), nullptr);
  EXPECT_EQ(units, 0u);
  EXPECT_EQ(array.tell(), 90);

  TempDir dir;
  dir.write("s.bin", bytes);
  FILE* file = fopen(dir.file("s.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ByteStreamInFileLE plain(file);
  EXPECT_EQ(plain.lend(10, 1, units), nullptr);
  EXPECT_EQ(plain.tell(), 0);
  fclose(file);
}

}  // namespace
