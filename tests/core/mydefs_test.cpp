#include "core/mydefs.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "support/temp_dir.hpp"

namespace {

TEST(HasFileExt, Table) {
  struct Case {
    const char* name;
    const char* ext;
    bool expected;
  } cases[] = {
      {"data.VMB", "vmb", true},  {"vmb", "vmb", true},          {"VMB", "vmb", false},
      {"data", "las", false},     {"cloud.LAS", "las", true},    {"cloud.LAS", ".las", true},
      {"cloud.LAS", "LAS", true}, {"cloud.las.bak", "las", false}, {"", "las", false},
      {"a.las", "", false},       {"dir.las/file", "las", false},
  };
  for (const Case& c : cases) EXPECT_EQ(HasFileExt(c.name, c.ext), c.expected) << c.name << " " << c.ext;
  EXPECT_TRUE(IsLasVmbFile("x.Vmb"));
  EXPECT_FALSE(IsLasVmbFile("x.lax"));
}

TEST(FileExtSet, Table) {
  struct Case {
    const char* name;
    const char* ext;
    const char* expected;
  } cases[] = {
      {"a/b.c/tile", "lax", "a/b.lax"}, {"tile.las", "", "tile"}, {"tile.las", "lax", "tile.lax"},
      {"tile", ".lay", "tile.lay"},     {"t.a.b", "c", "t.a.c"},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExtSet(c.name, c.ext), c.expected);
}

TEST(StringEndsWith, Basics) {
  EXPECT_TRUE(StringEndsWith("abc", ""));
  EXPECT_TRUE(StringEndsWith("abc", "bc"));
  EXPECT_FALSE(StringEndsWith("c", "bc"));
}

TEST(StrncpyLas, CopiesAndCuts) {
  char target[5];
  strncpy_las(target, sizeof(target), "abcd");
  EXPECT_STREQ(target, "abcd");
  ::testing::internal::CaptureStderr();
  strncpy_las(target, sizeof(target), "abcdefg");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "WARNING: target buffer too small [4 < 7] for \"abcdefg\"\n");
  EXPECT_STREQ(target, "abcd");
  strncpy_las(target, sizeof(target), "xyz", 2);
  EXPECT_STREQ(target, "xy");
  strncpy_las(target, sizeof(target), nullptr);
  EXPECT_STREQ(target, "");
  strncpy_las(nullptr, 5, "abc");  // nothing happens
}

TEST(DoubleToString, Digits) {
  EXPECT_EQ(DoubleToString(1.23456, 2), "1.23");
  EXPECT_EQ(DoubleToString(-0.5, 0), "-0");
  EXPECT_EQ(DoubleToString(2.5, 3, true), "2.5");
  EXPECT_EQ(DoubleToString(1e300, 2).size(), 43u);  // cut to the 44-byte buffer
}

// The free-memory figure is injected so the warning can be checked without
// depending on the machine.
static U64 fake_free = 0;
static int fake_calls = 0;
static U64 fake_source() {
  fake_calls++;
  return fake_free;
}

TEST(MallocLas, LowMemoryWarning) {
  set_available_RAM_source(fake_source);
  struct Case {
    U64 request;
    U64 free_bytes;
    const char* expected;
  } cases[] = {
      {3ULL << 30, 512ULL << 20,
       "WARNING: failed to allocate 3GB memory as only approx. 512MB free reported. An error may occur\n"},
      {2ULL << 20, 100, "WARNING: failed to allocate 2MB memory as only approx. 100Bytes free reported. An error may occur\n"},
      {2ULL << 20, 4096, "WARNING: failed to allocate 2MB memory as only approx. 4KB free reported. An error may occur\n"},
      {2ULL << 20, 3ULL << 30, ""},
  };
  for (const Case& c : cases) {
    fake_free = c.free_bytes;
    ::testing::internal::CaptureStderr();
    void* block = malloc_las(c.request);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.expected);
    free(block);
  }
  fake_calls = 0;
  free(malloc_las(1048576));
  EXPECT_EQ(fake_calls, 0);
  free(malloc_las(1048577));
  EXPECT_EQ(fake_calls, 1);
  set_available_RAM_source(nullptr);
}

TEST(ReallocLas, FailureKeepsTheOldBlock) {
  char* block = (char*)malloc_las(16);
  strcpy(block, "kept");
  ::testing::internal::CaptureStderr();
  void* moved = realloc_las(block, ~0ULL >> 1);  // cannot be satisfied
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(moved, nullptr);
  EXPECT_NE(err.find("WARNING: "), std::string::npos);
  EXPECT_STREQ(block, "kept");
  free(block);
}

TEST(FopenCompressed, RefusesArchivesByName) {
  halt_on_error(false);
  TempDir dir;
  dir.write("points.GZ", "x");
  dir.write("a.z", "x");
  bool piped = true;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(fopen_compressed(dir.file("points.txt.gz").c_str(), "rb", &piped), nullptr);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: no support for gzipped input\n");
  for (const char* name : {"points.GZ", "a.z"}) {
    FILE* file = fopen_compressed(dir.file(name).c_str(), "rb", &piped);
    ASSERT_NE(file, nullptr) << name;
    EXPECT_FALSE(piped);
    fclose(file);
  }
  halt_on_error(true);
  EXPECT_EQ(LASfopen(nullptr, "rb"), nullptr);
  EXPECT_EQ(LASfopen("x", ""), nullptr);
}

TEST(FileDelete, DeletesExactlyTheNamedFile) {
  TempDir dir;
  dir.write("a b;c*", "x");
  dir.write("a", "keep");
  FileDelete(dir.file("a b;c*"));
  EXPECT_FALSE(dir.exists("a b;c*"));
  EXPECT_TRUE(dir.exists("a"));
  ::testing::internal::CaptureStderr();
  FileDelete(dir.file("missing"), WARNING);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("WARNING: delete of file '"), std::string::npos);
}

TEST(Paths, ExeAndTemp) {
  std::string exe = exe_path();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.back(), '/');
  EXPECT_EQ(temp_path("some/dir"), "some/dir/");
  EXPECT_EQ(temp_path("some/dir/"), "some/dir/");
  const char* saved = getenv("TMPDIR");
  std::string saved_value = saved ? saved : "";
  setenv("TMPDIR", "/nonexistent/for/sure", 1);
  EXPECT_NO_THROW(temp_path(""));
  EXPECT_EQ(temp_path("").back(), '/');
  if (saved) setenv("TMPDIR", saved_value.c_str(), 1);
  else unsetenv("TMPDIR");
}

}  // namespace
