#include "compressor/vembra.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using T = LASitem::Type;

std::string error_of(const Vembra& v) { return v.get_error() ? v.get_error() : "(none)"; }

// Item list of every point format, with and without extra bytes, and what
// is_standard makes of it again.
TEST(VembraSetup, ItemListOfEveryPointFormat) {
  struct Case {
    U8 format;
    U16 base;
    std::vector<T> types;
  } cases[] = {
      {0, 20, {LASitem::POINT10}},
      {1, 28, {LASitem::POINT10, LASitem::GPSTIME11}},
      {2, 26, {LASitem::POINT10, LASitem::RGB12}},
      {3, 34, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12}},
      {4, 57, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::WAVEPACKET13}},
      {5, 63, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12, LASitem::WAVEPACKET13}},
      {6, 30, {LASitem::POINT14}},
      {7, 36, {LASitem::POINT14, LASitem::RGB14}},
      {8, 38, {LASitem::POINT14, LASitem::RGBNIR14}},
      {9, 59, {LASitem::POINT14, LASitem::WAVEPACKET14}},
      {10, 67, {LASitem::POINT14, LASitem::RGBNIR14, LASitem::WAVEPACKET14}},
  };
  for (const Case& c : cases) {
    for (U16 extra : {0, 6}) {
      SCOPED_TRACE("format " + std::to_string(c.format) + " extra " + std::to_string(extra));
      Vembra v;
      U16 n = 0;
      LASitem* items = nullptr;
      ASSERT_TRUE(v.setup(&n, &items, c.format, c.base + extra));
      EXPECT_EQ(v.items, nullptr) << "setup by format must not touch the object's items";
      ASSERT_EQ(n, c.types.size() + (extra ? 1 : 0));
      U32 sum = 0;
      for (U32 i = 0; i < c.types.size(); i++) {
        EXPECT_EQ(items[i].type, c.types[i]);
        EXPECT_EQ(items[i].version, 0);
        sum += items[i].size;
      }
      EXPECT_EQ(sum, c.base);
      if (extra) {
        EXPECT_EQ(items[n - 1].type, c.format <= 5 ? LASitem::BYTE : LASitem::BYTE14);
        EXPECT_EQ(items[n - 1].size, extra);
        EXPECT_EQ(items[n - 1].version, 0);
      }
      Vembra d;
      ASSERT_TRUE(d.setup(n, items, Vembra::NONE));
      U8 format = 0;
      U16 length = 0;
      EXPECT_TRUE(d.is_standard(&format, &length)) << error_of(d);
      EXPECT_EQ(format, c.format);
      EXPECT_EQ(length, c.base + extra);
      delete[] items;
    }
  }
}

TEST(VembraSetup, TooSmallPointSizeWarnsAndAssumesTheBaseSize) {
  Vembra v;
  U16 n = 0;
  LASitem* items = nullptr;
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(v.setup(&n, &items, 3, 30));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "WARNING: point size 30 too small by 4 bytes for point type 3. assuming point_size of 34\n");
  EXPECT_EQ(n, 3);
  delete[] items;
}

TEST(VembraSetup, UnknownPointFormat) {
  Vembra v;
  U16 n = 7;
  LASitem* items = nullptr;
  EXPECT_FALSE(v.setup(&n, &items, 11, 40));
  EXPECT_EQ(error_of(v), "point type 11 unknown (Vembra v3.5r0)");
  EXPECT_EQ(items, nullptr);
  EXPECT_EQ(n, 7);
}

TEST(VembraSetup, CompressorChoice) {
  const LASitem point10[] = {{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}};
  const LASitem point14[] = {{LASitem::POINT14, 30, 0}, {LASitem::RGB14, 6, 0}};
  struct Case {
    const char* name;
    const LASitem* items;
    U16 requested;
    bool ok;
    U16 compressor;  // expected afterwards
  } cases[] = {
      {"legacy none", point10, 0, true, 0},
      {"legacy pointwise", point10, 1, true, 1},
      {"legacy chunked", point10, 2, true, 2},
      {"legacy layered becomes chunked", point10, 3, true, 2},
      {"extended none", point14, 0, true, 0},
      {"extended pointwise refused", point14, 1, false, 2},
      {"extended chunked refused", point14, 2, false, 2},
      {"extended layered", point14, 3, true, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Vembra v;
    v.chunk_size = 0;
    EXPECT_EQ(v.setup(2, c.items, c.requested), c.ok);
    EXPECT_EQ(v.compressor, c.compressor);
    if (!c.ok) {
      // A silent refusal: no text and no change.
      EXPECT_EQ(v.get_error(), nullptr);
      EXPECT_EQ(v.num_items, 0);
      EXPECT_EQ(v.chunk_size, 0u);
      continue;
    }
    EXPECT_EQ(v.num_items, 2);
    EXPECT_EQ(v.items[1].type, c.items[1].type);
    EXPECT_EQ(v.chunk_size, (c.compressor >= 2) ? 50000u : 0u);
  }
  Vembra v;
  EXPECT_FALSE(v.setup(2, point10, 4));
  EXPECT_EQ(error_of(v), "compressor 4 not supported (Vembra v3.5r0)");
  const LASitem bad[] = {{LASitem::POINT10, 21, 0}};
  EXPECT_FALSE(v.setup(1, bad, 2));
  EXPECT_EQ(error_of(v), "POINT10 has size != 20 (Vembra v3.5r0)");
}

TEST(VembraVersion, RequestVersion) {
  struct Case {
    std::vector<LASitem> items;
    U16 compressor;
    U16 requested;
    std::vector<U16> versions;
  } cases[] = {
      {{{LASitem::POINT14, 30, 0}, {LASitem::RGB14, 6, 0}}, 3, 2, {3, 3}},
      {{{LASitem::POINT14, 30, 0}, {LASitem::RGB14, 6, 0}}, 3, 4, {4, 4}},
      {{{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}, {LASitem::WAVEPACKET13, 29, 0}}, 2, 4, {2, 2, 1}},
      {{{LASitem::POINT10, 20, 0}, {LASitem::RGB12, 6, 0}, {LASitem::BYTE, 3, 0}}, 2, 1, {1, 1, 1}},
      {{{LASitem::POINT14, 30, 0}, {LASitem::WAVEPACKET14, 29, 0}, {LASitem::BYTE14, 2, 0}}, 3, 3, {3, 3, 3}},
      {{{LASitem::POINT10, 20, 0}}, 0, 0, {0}},
  };
  for (const Case& c : cases) {
    Vembra v;
    ASSERT_TRUE(v.setup((U16)c.items.size(), c.items.data(), c.compressor));
    ASSERT_TRUE(v.request_version(c.requested)) << error_of(v);
    for (U32 i = 0; i < c.versions.size(); i++) EXPECT_EQ(v.items[i].version, c.versions[i]) << i;
  }
}

TEST(VembraVersion, RequestVersionErrors) {
  Vembra empty;
  EXPECT_FALSE(empty.request_version(2));
  EXPECT_EQ(error_of(empty), "call setup() before requesting version (Vembra v3.5r0)");

  const LASitem list[] = {{LASitem::POINT10, 20, 0}};
  Vembra compressed;
  ASSERT_TRUE(compressed.setup(1, list, 2));
  EXPECT_FALSE(compressed.request_version(0));
  EXPECT_EQ(error_of(compressed), "with compression version is at least 1 (Vembra v3.5r0)");
  EXPECT_FALSE(compressed.request_version(5));
  EXPECT_EQ(error_of(compressed), "version larger than 4 not supported (Vembra v3.5r0)");

  Vembra plain;
  ASSERT_TRUE(plain.setup(1, list, 0));
  EXPECT_FALSE(plain.request_version(2));
  EXPECT_EQ(error_of(plain), "without compression version is always 0 (Vembra v3.5r0)");

  // An unknown kind stops the loop; the items before it keep their new version.
  Vembra odd;
  odd.compressor = 2;
  odd.num_items = 2;
  odd.items = new LASitem[2]{{LASitem::POINT10, 20, 0}, {(T)5, 4, 0}};
  EXPECT_FALSE(odd.request_version(2));
  EXPECT_EQ(error_of(odd), "item type not supported (Vembra v3.5r0)");
  EXPECT_EQ(odd.items[0].version, 2);
}

TEST(VembraVersion, DefaultVersion) {
  struct Case {
    U8 type, major, minor;
    U16 expected;
  } cases[] = {
      {6, 1, 4, 3}, {6, 1, 5, 4}, {0x86, 1, 5, 4}, {3, 1, 5, 2}, {10, 1, 4, 3},
      {0x4A, 1, 6, 4}, {11, 1, 5, 2}, {6, 0, 5, 3}, {0, 1, 2, 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Vembra::get_default_version(c.type, c.major, c.minor), c.expected)
        << (int)c.type << " " << (int)c.major << "." << (int)c.minor;
}

TEST(VembraCheck, ItemChecksAndTheirTexts) {
  struct Case {
    LASitem item;
    const char* message;  // null: accepted
  } cases[] = {
      {{LASitem::BYTE, 0, 0}, "BYTE has size < 1"},
      {{LASitem::BYTE, 1, 3}, "BYTE has version > 2"},
      {{LASitem::BYTE, 0, 3}, "BYTE has size < 1"},  // size before version
      {{LASitem::BYTE, 9, 2}, nullptr},
      {{LASitem::POINT10, 19, 0}, "POINT10 has size != 20"},
      {{LASitem::POINT10, 20, 3}, "POINT10 has version > 2"},
      {{LASitem::GPSTIME11, 4, 0}, "GPSTIME11 has size != 8"},
      {{LASitem::GPSTIME11, 8, 3}, "GPSTIME11 has version > 2"},
      {{LASitem::RGB12, 8, 0}, "RGB12 has size != 6"},
      {{LASitem::RGB12, 6, 3}, "RGB12 has version > 2"},
      {{LASitem::WAVEPACKET13, 28, 0}, "WAVEPACKET13 has size != 29"},
      {{LASitem::WAVEPACKET13, 29, 2}, "WAVEPACKET13 has version > 1"},
      {{LASitem::POINT14, 20, 0}, "POINT14 has size != 30"},
      {{LASitem::POINT14, 30, 1}, "POINT14 has version != 0 and != 2 and != 3 and != 4"},
      {{LASitem::POINT14, 30, 4}, nullptr},
      {{LASitem::RGB14, 8, 0}, "RGB14 has size != 6"},
      {{LASitem::RGB14, 6, 5}, "RGB14 has version != 0 and != 2 and != 3 and != 4"},
      {{LASitem::RGBNIR14, 6, 0}, "RGBNIR14 has size != 8"},
      {{LASitem::RGBNIR14, 8, 1}, "RGBNIR14 has version != 0 and != 2 and != 3 and != 4"},
      {{LASitem::WAVEPACKET14, 30, 0}, "WAVEPACKET14 has size != 29"},
      {{LASitem::WAVEPACKET14, 29, 2}, "WAVEPACKET14 has version != 0 and != 3 and != 4"},
      {{LASitem::BYTE14, 0, 0}, "BYTE14 has size < 1"},
      {{LASitem::BYTE14, 4, 1}, "BYTE14 has version != 0 and != 2 and != 3 and != 4"},
      {{(T)3, 5, 1}, "item unknown (3,5,1)"},
      {{(T)15, 2, 0}, "item unknown (15,2,0)"},
  };
  for (const Case& c : cases) {
    Vembra v;
    bool ok = v.check_item(&c.item);
    if (!c.message) {
      EXPECT_TRUE(ok) << error_of(v);
      continue;
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(error_of(v), std::string(c.message) + " (Vembra v3.5r0)");
  }
}

TEST(VembraCheck, DescriptionChecks) {
  const LASitem list[] = {{LASitem::POINT10, 20, 2}, {LASitem::GPSTIME11, 8, 2}, {LASitem::RGB12, 6, 2}};
  Vembra v;
  ASSERT_TRUE(v.setup(3, list, 2));
  EXPECT_TRUE(v.check(34));
  EXPECT_FALSE(v.check(40));
  EXPECT_EQ(error_of(v), "point has size of 40 but items only add up to 34 bytes (Vembra v3.5r0)");
  v.coder = 1;
  EXPECT_FALSE(v.check(34));
  EXPECT_EQ(error_of(v), "coder 1 not supported (Vembra v3.5r0)");
  v.compressor = 7;
  EXPECT_FALSE(v.check(34));
  EXPECT_EQ(error_of(v), "compressor 7 not supported (Vembra v3.5r0)");

  Vembra empty;
  empty.compressor = 0;
  EXPECT_FALSE(empty.check(20));
  EXPECT_EQ(error_of(empty), "number of items cannot be zero (Vembra v3.5r0)");
  EXPECT_FALSE(empty.check_items(1, nullptr, 20));
  EXPECT_EQ(error_of(empty), "items pointer cannot be NULL (Vembra v3.5r0)");
}

// Item sizes that wrap past 65535 must not add up to a small point size.
TEST(VembraCheck, ItemSizesAreSummedWithoutWrapping) {
  const LASitem list[] = {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 65530, 0}};
  Vembra v;
  EXPECT_FALSE(v.check_items(2, list, 14));
  EXPECT_EQ(error_of(v), "point has size of 14 but items only add up to 65550 bytes (Vembra v3.5r0)");
  ASSERT_TRUE(v.setup(2, list, 0));
  U8 format = 0;
  U16 length = 0;
  EXPECT_FALSE(v.is_standard(&format, &length));
  EXPECT_EQ(format, 127);
  EXPECT_EQ(length, 65535);
}

TEST(VembraStandard, NonStandardLists) {
  struct Case {
    const char* name;
    std::vector<LASitem> items;
    const char* message;
  } cases[] = {
      {"none", {}, "less than one LASitem entries"},
      {"six", std::vector<LASitem>(6, LASitem{LASitem::BYTE, 1, 0}), "more than five LASitem entries"},
      {"order", {{LASitem::GPSTIME11, 8, 0}, {LASitem::POINT10, 20, 0}}, "LASitem array does not match LAS specification 1.4"},
      {"byte14 after legacy", {{LASitem::POINT10, 20, 0}, {LASitem::BYTE14, 4, 0}}, "LASitem array does not match LAS specification 1.4"},
      {"rgb12 on extended", {{LASitem::POINT14, 30, 0}, {LASitem::RGB12, 6, 0}}, "LASitem array does not match LAS specification 1.4"},
      {"empty extra bytes", {{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 0, 0}}, "LASitem array does not match LAS specification 1.4"},
      {"odd size", {{LASitem::POINT10, 20, 0}, {LASitem::RGB12, 8, 0}}, "LASitem array does not match LAS specification 1.4"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Vembra v;
    v.num_items = (U16)c.items.size();
    v.items = new LASitem[c.items.size() + 1];
    for (U32 i = 0; i < c.items.size(); i++) v.items[i] = c.items[i];
    U8 format = 0;
    EXPECT_FALSE(v.is_standard(&format, nullptr));
    EXPECT_EQ(format, 127);
    EXPECT_EQ(error_of(v), std::string(c.message) + " (Vembra v3.5r0)");
  }
  Vembra none;
  EXPECT_FALSE(none.is_standard());
  EXPECT_EQ(error_of(none), "LASitem array is zero (Vembra v3.5r0)");

  // Formats 9 and 10 accept the LAS 1.3 wave packet and either extra-bytes kind.
  Vembra mixed;
  const LASitem list[] = {{LASitem::POINT14, 30, 3}, {LASitem::WAVEPACKET13, 29, 1}, {LASitem::BYTE, 2, 2}};
  ASSERT_TRUE(mixed.setup(3, list, 0));
  U8 format = 0;
  EXPECT_TRUE(mixed.is_standard(&format));
  EXPECT_EQ(format, 9);
}

TEST(VembraChunkSize, SetChunkSize) {
  Vembra v;
  EXPECT_FALSE(v.set_chunk_size(1000));
  EXPECT_EQ(error_of(v), "call setup() before setting chunk size (Vembra v3.5r0)");
  const LASitem list[] = {{LASitem::POINT10, 20, 0}};
  ASSERT_TRUE(v.setup(1, list, 1));
  v.error_text.clear();
  EXPECT_FALSE(v.set_chunk_size(1000));  // pointwise: silent refusal
  EXPECT_EQ(v.get_error(), nullptr);
  EXPECT_EQ(v.chunk_size, 50000u);
  ASSERT_TRUE(v.setup(1, list, 2));
  EXPECT_TRUE(v.set_chunk_size(0xFFFFFFFF));
  EXPECT_EQ(v.chunk_size, 0xFFFFFFFFu);
}

// The compressor record of a two-item description, byte for byte.
TEST(VembraRecord, PackIsByteExactAndUnpacksToTheSameFields) {
  const LASitem list[] = {{LASitem::POINT14, 30, 0}, {LASitem::RGBNIR14, 8, 0}};
  Vembra v;
  ASSERT_TRUE(v.setup(2, list, 3));
  ASSERT_TRUE(v.request_version(3));
  v.options = 0x01020304;
  v.chunk_size = 0x00012345;
  U8* bytes = nullptr;
  U32 n = 0;
  ASSERT_TRUE(v.pack(bytes, n));
  ASSERT_EQ(n, 46u);
  EXPECT_EQ(bytes, v.record_bytes.get());
  const std::vector<U8> expected = {
      3, 0,                    // compressor
      0, 0,                    // coder
      3, 5,                    // version major, minor
      0, 0,                    // revision
      4, 3, 2, 1,              // options
      0x45, 0x23, 0x01, 0x00,  // chunk size
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // special EVLR count -1
      0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // special EVLR offset -1
      2, 0,                                             // items
      10, 0, 30, 0, 3, 0,                               // POINT14 30 v3
      12, 0, 8, 0, 3, 0,                                // RGBNIR14 8 v3
  };
  EXPECT_EQ(std::vector<U8>(bytes, bytes + n), expected);

  Vembra back;
  ASSERT_TRUE(back.unpack(expected.data(), (U32)expected.size())) << error_of(back);
  EXPECT_EQ(back.compressor, 3);
  EXPECT_EQ(back.coder, 0);
  EXPECT_EQ(back.version_major, 3);
  EXPECT_EQ(back.version_minor, 5);
  EXPECT_EQ(back.options, 0x01020304u);
  EXPECT_EQ(back.chunk_size, 0x12345u);
  EXPECT_EQ(back.number_of_special_evlrs, -1);
  EXPECT_EQ(back.offset_to_special_evlrs, -1);
  ASSERT_EQ(back.num_items, 2);
  EXPECT_EQ(back.items[1].type, LASitem::RGBNIR14);
  EXPECT_EQ(back.items[1].size, 8);
  EXPECT_EQ(back.items[1].version, 3);
  U8* again = nullptr;
  U32 m = 0;
  ASSERT_TRUE(back.pack(again, m));
  EXPECT_EQ(std::vector<U8>(again, again + m), expected);
  EXPECT_TRUE(back.check(38));
}

// An item count that the record's length does not carry is refused before any
// item is allocated or read.
TEST(VembraRecord, UnpackRefusesLengthsThatDisagreeWithTheItemCount) {
  std::vector<U8> record(40, 0);
  record[32] = 1;  // one item needs 40 bytes: fine
  record[34] = 6;
  record[36] = 20;
  Vembra v;
  EXPECT_TRUE(v.unpack(record.data(), 40));
  record[32] = 0xFF;
  record[33] = 0xFF;  // 65535 items in 40 bytes
  Vembra w;
  EXPECT_FALSE(w.unpack(record.data(), 40));
  EXPECT_EQ(error_of(w), "compressor record of 40 bytes cannot hold 65535 items (Vembra v3.5r0)");
  EXPECT_EQ(w.items, nullptr);
  EXPECT_FALSE(w.unpack(record.data(), 33));
  EXPECT_EQ(error_of(w), "compressor record of 33 bytes is shorter than 34 (Vembra v3.5r0)");
  EXPECT_FALSE(w.unpack(nullptr, 0));
}

TEST(VembraItems, RepeatedKindsAreDetected) {
  struct Case {
    std::vector<LASitem> items;
    bool repeated;
  } cases[] = {
      {{{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}, {LASitem::BYTE, 3, 0}}, false},
      {{{LASitem::POINT14, 30, 0}, {LASitem::RGBNIR14, 8, 0}, {LASitem::WAVEPACKET14, 29, 0}}, false},
      {{{LASitem::POINT10, 20, 0}, {LASitem::BYTE, 3, 0}, {LASitem::BYTE, 3, 0}}, true},
      {{{LASitem::POINT14, 30, 0}, {LASitem::BYTE, 3, 0}, {LASitem::BYTE14, 3, 0}}, true},
      {{{LASitem::POINT10, 20, 0}, {LASitem::POINT14, 30, 0}}, true},
      {{{LASitem::POINT10, 20, 0}, {LASitem::RGB12, 6, 0}, {LASitem::RGBNIR14, 8, 0}}, true},
      {{{LASitem::POINT10, 20, 0}, {LASitem::GPSTIME11, 8, 0}, {LASitem::GPSTIME11, 8, 0}}, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(las_items_repeat_a_kind((U16)c.items.size(), c.items.data()), c.repeated);
}

}  // namespace
