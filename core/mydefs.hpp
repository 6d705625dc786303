// Fixed-width names used throughout the framework, the host byte-order flag and
// the process helpers every subsystem calls instead of the C library directly:
// memory requests that warn on low memory, bounded copies, file-name tests.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/lasmessage.hpp"

typedef int8_t I8;
typedef uint8_t U8;
typedef int16_t I16;
typedef uint16_t U16;
typedef int32_t I32;
typedef uint32_t U32;
typedef int64_t I64;
typedef uint64_t U64;
typedef float F32;
typedef double F64;

#define U8_MAX ((U8)0xFF)
#define I8_MIN ((I8)0x80)
#define I8_MAX ((I8)0x7F)
#define U16_MAX ((U16)0xFFFF)
#define I16_MIN ((I16)0x8000)
#define I16_MAX ((I16)0x7FFF)
#define U32_MAX ((U32)0xFFFFFFFF)
#define I32_MIN ((I32)0x80000000)
#define I32_MAX ((I32)0x7FFFFFFF)
#define I64_MAX ((I64)0x7FFFFFFFFFFFFFFFLL)
#define U64_MAX ((U64)0xFFFFFFFFFFFFFFFFULL)

// Build number of the suite: in the banner, the generating software of written
// headers and the descriptions of written records.
#define PELKARTS_BUILD_NUMBER 251122
// Where users are sent after errors they cannot fix alone.
#define PELKARTS_SUPPORT_ADDRESS "support@pelkarts.example"

// The stream and raw-item classes come in a little- and a big-endian flavour,
// named for the host they serve; creators pick by this flag.
struct Endian {
  static constexpr bool IS_LITTLE_ENDIAN = (std::endian::native == std::endian::little);
};

// A value of type T in host order at a byte position of a packed record.
template <typename T>
inline T las_load(const U8* at) {
  T value;
  memcpy(&value, at, sizeof(T));
  return value;
}
template <typename T>
inline void las_store(U8* at, const T value) {
  memcpy(at, &value, sizeof(T));
}

// Memory. Requests above 1 MiB that exceed the memory the system reports free
// warn first and are still made; failures warn and give null.
void* malloc_las(U64 size);
void* realloc_las(void* block, U64 size);
// Owns a block from malloc_las/realloc_las: such blocks grow by realloc, so
// that a failed growth is an answer (null) rather than an exception.
struct LASfreeBlock {
  void operator()(void* block) const { free(block); }
};
template <typename T>
using LASmallocated = std::unique_ptr<T, LASfreeBlock>;
U64 get_available_RAM();
// Source of the free-memory figure; tests replace it to exercise the warning.
typedef U64 (*AvailableRamSource)();
void set_available_RAM_source(AvailableRamSource source);  // null restores /proc/meminfo

// Strings and numbers.
void strncpy_las(char* target, size_t target_size, const char* source, size_t count = 0);
int sscanf_las(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));
std::string DoubleToString(F64 value, short digits, bool trim = false);
bool StringEndsWith(const std::string& text, const std::string& suffix);

// File names.
bool HasFileExt(std::string name, std::string extension);
std::string FileExtSet(std::string name, std::string extension);
bool IsLasVmbFile(const std::string& name);

// Files and processes.
FILE* LASfopen(const char* name, const char* mode);
FILE* fopen_compressed(const char* name, const char* mode, bool* piped);
void FileDelete(const std::string& name, LAS_MESSAGE_TYPE level = WARNING);
std::string exe_path();
std::string temp_path(const std::string& directory = "");
