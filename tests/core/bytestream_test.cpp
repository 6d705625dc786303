#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/bytestreamin_array.hpp"
#include "core/bytestreamin_file.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/bytestreamout_file.hpp"
#include "core/bytestreamout_nil.hpp"
#include "core/lasmessage.hpp"
#include "core/mappedwindows.hpp"
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
  FILE* file = fopen(dir.file("s.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ByteStreamInFileBuffered in(file, 4096);
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
  fclose(file);
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

// Windows of two pages in these tests, so that small files cross many.
size_t page_size() {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? (size_t)page : 4096;
}

// The mapped stream against the buffered one over the same file, through a
// fixed sequence of random reads, seeks (back, forward, before the start,
// past the end, from the end) and lends: every value, every end of data met
// and every position agree. Lent units are the file's bytes, and as many as
// asked while the file holds them, also where they cross a window's end.
TEST(ByteStreamInFileMapped, AgreesWithTheBufferedStream) {
  const size_t page = page_size(), window = 2 * page, size = 6 * window + 123;
  TempDir dir;
  dir.write("s.bin", counting_bytes(size));
  FILE* mapped_file = fopen(dir.file("s.bin").c_str(), "rb");
  FILE* buffered_file = fopen(dir.file("s.bin").c_str(), "rb");
  ASSERT_NE(mapped_file, nullptr);
  ASSERT_NE(buffered_file, nullptr);
  {
    ByteStreamInFileMapped mapped(mapped_file, window);
    ASSERT_TRUE(mapped.is_mapped());
    ByteStreamInFileBuffered buffered(buffered_file, 4096);
    std::mt19937 random(15);
    auto pick = [&](size_t n) { return (size_t)(random() % n); };
    int lends_across = 0;
    for (int step = 0; step < 6000; step++) {
      SCOPED_TRACE("step " + std::to_string(step));
      const I64 before = buffered.tell();
      ASSERT_EQ(mapped.tell(), before);
      switch (pick(8)) {
        case 0: {
          U32 a = 0, b = 0;
          ASSERT_EQ(thrown_by([&] { a = mapped.getByte(); }), thrown_by([&] { b = buffered.getByte(); }));
          ASSERT_EQ(a, b);
          break;
        }
        case 1:
        case 2: {
          const size_t n = pick(window * 3 / 2);
          std::string a(n, '?'), b(n, '?');
          ASSERT_EQ(thrown_by([&] { mapped.getBytes((U8*)a.data(), (I64)n); }),
                    thrown_by([&] { buffered.getBytes((U8*)b.data(), (I64)n); }));
          ASSERT_EQ(a, b);
          break;
        }
        case 3: {
          U8 a[12] = {}, b[12] = {};
          ASSERT_EQ(thrown_by([&] { mapped.get32bitsLE(a), mapped.get64bitsBE(a + 4); }),
                    thrown_by([&] { buffered.get32bitsLE(b), buffered.get64bitsBE(b + 4); }));
          ASSERT_EQ(std::string((char*)a, 12), std::string((char*)b, 12));
          break;
        }
        case 4: {
          // Near the reader half the time, else anywhere in the file, past its
          // end or before its start.
          const size_t where = pick(6);
          const I64 to = where < 3    ? before + (I64)pick(2 * window) - (I64)window
                         : where < 5 ? (I64)pick(size + 1)
                                     : (pick(2) ? (I64)(size + pick(50)) : -1 - (I64)pick(10));
          ASSERT_EQ(mapped.seek(to), buffered.seek(to)) << to;
          break;
        }
        case 5: {
          const I64 distance = (I64)pick(size + 30) - 20;
          ASSERT_EQ(mapped.seekEnd(distance), buffered.seekEnd(distance)) << distance;
          break;
        }
        case 6: {
          const U32 skip = (U32)pick(window);
          ASSERT_EQ(mapped.skipBytes(skip), buffered.skipBytes(skip));
          break;
        }
        case 7: {
          const U32 unit = 1 + (U32)pick(64);
          const U64 most = 1 + pick(page / unit);
          U64 units = 99;
          const U8* lent = mapped.lend(unit, most, units);
          const U64 left = before < (I64)size ? (U64)(size - (size_t)before) : 0;
          ASSERT_EQ(units, std::min(most, left / unit));
          if (units == 0) {
            ASSERT_EQ(lent, nullptr);
            break;
          }
          ASSERT_TRUE(holds_bytes_from(lent, (size_t)before, units * unit));
          if ((size_t)before / window != ((size_t)before + units * unit - 1) / window) lends_across++;
          ASSERT_TRUE(buffered.seek(before + (I64)(units * unit)));
          break;
        }
      }
    }
    EXPECT_GT(lends_across, 20);
    // A unit larger than any window is not lent; reads still take it.
    ASSERT_TRUE(mapped.seek(0));
    U64 units = 1;
    EXPECT_EQ(mapped.lend((U32)window, 1, units), nullptr);
    EXPECT_EQ(units, 0u);
    EXPECT_EQ(mapped.tell(), 0);
  }
  fclose(mapped_file);
  fclose(buffered_file);
}

// A file that another program shortens while it is read, each time after the
// first window is mapped and before the next: the stream ends where the file
// now ends, whether it is read in lent units or by plain reads, and throws
// the end of data there as for any file cut short.
TEST(ByteStreamInFileMapped, FileThatShrinksBetweenWindowsEndsThere) {
  const size_t window = 2 * page_size(), size = 5 * window;
  const struct {
    const char* name;
    size_t cut;
  } cases[] = {
      {"at the first window's end", window},
      {"inside the second window", window + 1000},
      {"inside a later window", 3 * window + 7},
      {"not at all", size},
  };
  for (const auto& c : cases) {
    for (const bool lending : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (lending ? ", lent" : ", read"));
      TempDir dir;
      dir.write("s.bin", counting_bytes(size));
      FILE* file = fopen(dir.file("s.bin").c_str(), "rb");
      ASSERT_NE(file, nullptr);
      {
        ByteStreamInFileMapped in(file, window);
        ASSERT_TRUE(in.is_mapped());
        U8 first[100];
        in.getBytes(first, 100);
        ASSERT_EQ(truncate(dir.file("s.bin").c_str(), (off_t)c.cut), 0);
        size_t position = 100;
        U64 units = 0;
        while (lending) {
          const U8* lent = in.lend(28, 50, units);
          if (lent == nullptr) break;
          ASSERT_TRUE(holds_bytes_from(lent, position, units * 28));
          position += units * 28;
        }
        std::string rest(1000, '\0');
        int thrown = 0;
        while (thrown == 0) {
          const size_t from = position;
          thrown = thrown_by([&] { in.getBytes((U8*)rest.data(), 1000); });
          position = (size_t)in.tell();
          ASSERT_TRUE(holds_bytes_from((const U8*)rest.data(), from, position - from));
        }
        EXPECT_EQ(thrown, -1);
        EXPECT_EQ(position, c.cut);
        EXPECT_EQ(thrown_by([&] { in.getByte(); }), -1);
        EXPECT_EQ(in.lend(1, 1, units), nullptr);
        ASSERT_TRUE(in.seekEnd(0));
        EXPECT_EQ(in.tell(), (I64)c.cut);
      }
      fclose(file);
    }
  }
}

// Only regular files are mapped; an empty one is mapped and simply ends.
TEST(ByteStreamInFileMapped, MapsRegularFilesOnly) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  FILE* read_end = fdopen(fds[0], "rb");
  EXPECT_FALSE(ByteStreamInFileMapped(read_end).is_mapped());
  fclose(read_end);
  close(fds[1]);

  TempDir dir;
  dir.write("empty.bin", "");
  FILE* file = fopen(dir.file("empty.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  {
    ByteStreamInFileMapped empty(file);
    ASSERT_TRUE(empty.is_mapped());
    EXPECT_EQ(thrown_by([&] { empty.getByte(); }), -1);
    U64 units = 1;
    EXPECT_EQ(empty.lend(4, 1, units), nullptr);
    EXPECT_EQ(empty.tell(), 0);
    EXPECT_TRUE(empty.seekEnd(0));
    EXPECT_FALSE(empty.seekEnd(1));
    EXPECT_TRUE(empty.seek(5));
    EXPECT_EQ(empty.tell(), 5);
  }
  fclose(file);
}

// Each window is listed while it is mapped and given back when the reader
// moves on: reading through more windows than there are slots keeps every
// lent window guarded, and none stays listed once the stream is gone.
TEST(ByteStreamInFileMapped, GuardsEachLiveWindow) {
  const size_t window = 2 * page_size(), windows = 100;
  TempDir dir;
  dir.write("s.bin", counting_bytes(windows * window));
  FILE* file = fopen(dir.file("s.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  const U8* lent = nullptr;
  {
    ByteStreamInFileMapped in(file, window, "s.bin");
    ASSERT_TRUE(in.is_mapped());
    for (size_t w = 0; w < windows; w++) {
      SCOPED_TRACE("window " + std::to_string(w));
      ASSERT_TRUE(in.seek((I64)(w * window)));
      U64 units = 0;
      lent = in.lend(8, 100, units);
      ASSERT_EQ(units, 100u);
      ASSERT_TRUE(holds_bytes_from(lent, w * window, 800));
      ASSERT_TRUE(is_guarded_address(lent));
      ASSERT_TRUE(is_guarded_address(lent + window - 1));
      ASSERT_FALSE(is_guarded_address(lent + window));
    }
  }
  EXPECT_FALSE(is_guarded_address(lent));
  fclose(file);
}

// Where no slot is free, a window is not read through the map, since a fault
// there could not be caught: the first makes the stream unusable (its owner
// then reads through the buffered stream), a later one is read into memory.
TEST(ByteStreamInFileMapped, WindowsThatCannotBeGuardedAreRead) {
  const size_t window = 2 * page_size(), size = 3 * window;
  TempDir dir;
  dir.write("s.bin", counting_bytes(size));
  FILE* file = fopen(dir.file("s.bin").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  static const char elsewhere[1] = {0};
  std::vector<int> taken;
  auto take_every_slot = [&] {
    for (int slot; (slot = guard_mapped_window(elsewhere, 1, "")) >= 0;) taken.push_back(slot);
  };
  {
    // Opened at the file's end, the stream maps nothing yet.
    ASSERT_EQ(fseek(file, 0, SEEK_END), 0);
    ByteStreamInFileMapped in(file, window);
    ASSERT_TRUE(in.is_mapped());
    take_every_slot();
    ASSERT_FALSE(taken.empty());
    ASSERT_TRUE(in.seek((I64)window + 5));
    U64 units = 0;
    const U8* lent = in.lend(4, 100, units);
    ASSERT_EQ(units, 100u);
    EXPECT_TRUE(holds_bytes_from(lent, window + 5, 400));
    EXPECT_FALSE(is_guarded_address(lent));
    ASSERT_EQ(fseek(file, 0, SEEK_SET), 0);
    EXPECT_FALSE(ByteStreamInFileMapped(file, window).is_mapped());
  }
  for (const int slot : taken) unguard_mapped_window(slot);
  fclose(file);
}

// Bus errors the streams did not cause end the process as before, while a
// window is live: a SIGBUS sent to it and a fault on a mapping of its own.
// The address sanitizer reports such a fault itself and exits.
#if defined(__SANITIZE_ADDRESS__)
const ::testing::ExitedWithCode bus_error_death(1);
const char* const bus_error_report = "BUS";
#else
const ::testing::KilledBySignal bus_error_death(SIGBUS);
const char* const bus_error_report = "";
#endif

TEST(ByteStreamInFileMappedDeathTest, OtherBusErrorsStillKill) {
  const size_t page = page_size();
  TempDir dir;
  dir.write("s.bin", counting_bytes(4 * page));
  dir.write("other.bin", counting_bytes(4 * page));
  const std::string name = dir.file("s.bin"), other = dir.file("other.bin");
  auto while_a_window_is_live = [&](auto fault) {
    FILE* file = fopen(name.c_str(), "rb");
    if (file == nullptr) return;
    ByteStreamInFileMapped in(file, 4 * page, name.c_str());
    if (in.is_mapped()) fault();
  };
  auto fault_on_own_mapping = [&] {
    const int fd = open(other.c_str(), O_RDWR);
    void* mapped = mmap(nullptr, 4 * page, PROT_READ, MAP_SHARED, fd, 0);
    if (fd < 0 || mapped == MAP_FAILED || ftruncate(fd, 0) != 0) return;
    fprintf(stderr, "read %d\n", (int)((const volatile U8*)mapped)[page]);
  };
  EXPECT_EXIT(while_a_window_is_live([] { raise(SIGBUS); }), bus_error_death, bus_error_report);
  EXPECT_EXIT(while_a_window_is_live(fault_on_own_mapping), bus_error_death, bus_error_report);
}

// Another program cuts the file inside the window being read: touching the
// lent bytes from there ends the run as an error on input does, with one line
// naming the file and exit code 3 instead of death by SIGBUS, and the
// temporary file of an output is removed as at any early end.
TEST(ByteStreamInFileMappedDeathTest, FileCutInsideTheWindowEndsWithAnError) {
  const size_t page = page_size();
  TempDir dir;
  dir.write("s.bin", counting_bytes(8 * page));
  dir.write("out.tmp", "partial");
  const std::string name = dir.file("s.bin");
  auto cut_while_lent = [&] {
    las_remove_at_exit(dir.file("out.tmp").c_str());
    FILE* file = fopen(name.c_str(), "rb");
    if (file == nullptr) return;
    ByteStreamInFileMapped in(file, 8 * page, name.c_str());
    U64 units = 0;
    const U8* lent = in.lend(16, 6 * page / 16, units);
    if (lent == nullptr || truncate(name.c_str(), (off_t)page) != 0) return;
    unsigned sum = 0;
    for (size_t i = 0; i < units * 16; i++) sum += ((const volatile U8*)lent)[i];
    fprintf(stderr, "read %u\n", sum);
  };
  EXPECT_EXIT(cut_while_lent(), ::testing::ExitedWithCode(3),
              "^ERROR: file '.*/s\\.bin' was cut short or could not be read while being read\n$");
  EXPECT_FALSE(dir.exists("out.tmp"));
}

}  // namespace
