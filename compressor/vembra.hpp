// The compressor description of a point file (its item list and how the items
// are coded). The description travels in the file as the payload of the compressor
// record ("vembra encoded", 22204); readers check it, writers build it, and the
// chunked point reader and writer take their items, compressor and chunk size
// from it. Errors are kept as text in the object for the caller to report.
#pragma once

#include <memory>
#include <string>

#include "core/lasitem.hpp"
#include "core/mydefs.hpp"

constexpr U32 VEMBRA_CHUNK_SIZE_DEFAULT = 50000;

class Vembra {
 public:
  enum Compressor : U16 { NONE = 0, POINTWISE = 1, POINTWISE_CHUNKED = 2, LAYERED_CHUNKED = 3 };
  static constexpr U8 VERSION_MAJOR = 3;
  static constexpr U8 VERSION_MINOR = 5;
  static constexpr U16 VERSION_REVISION = 0;

  Vembra() = default;
  ~Vembra();
  Vembra(const Vembra&) = delete;
  Vembra& operator=(const Vembra&) = delete;

  // Item list of LAS point format `point_type` with records of `point_size`
  // bytes, in a new array that the caller releases with delete[]. The object's
  // own items are not touched.
  bool setup(U16* num_items, LASitem** items, const U8 point_type, const U16 point_size,
             const U16 compressor = NONE);
  // Description for a compressor and a copy of an item list.
  bool setup(const U16 num_items, const LASitem* items, const U16 compressor);
  bool set_chunk_size(const U32 chunk_size);
  bool request_version(const U16 version);
  static U16 get_default_version(const U8 point_type, const U8 version_major, const U8 version_minor);
  bool is_standard(U8* point_type = nullptr, U16* record_length = nullptr);
  bool check(const U16 point_size);
  bool check_items(const U16 num_items, const LASitem* items, const U16 point_size = 0);
  bool check_item(const LASitem* item);

  // The compressor record payload, 34 + 6 x num_items bytes, little-endian. `pack`
  // keeps the bytes in `record_bytes` (owned here) and hands out a pointer to them.
  bool pack(U8*& bytes, U32& num_bytes);
  // Fills the fields from a payload of `num_bytes`; the item count must agree with
  // the length. Does not `check`.
  bool unpack(const U8* bytes, const U32 num_bytes);

  // Null until an error was kept.
  const char* get_error() const { return error_text.empty() ? nullptr : error_text.c_str(); }
  bool return_error(const char* message);

  std::unique_ptr<U8[]> record_bytes;
  U16 compressor = POINTWISE_CHUNKED;
  U16 coder = 0;
  U8 version_major = VERSION_MAJOR;
  U8 version_minor = VERSION_MINOR;
  U16 version_revision = VERSION_REVISION;
  U32 options = 0;
  U32 chunk_size = VEMBRA_CHUNK_SIZE_DEFAULT;
  I64 number_of_special_evlrs = -1;
  I64 offset_to_special_evlrs = -1;
  U16 num_items = 0;
  LASitem* items = nullptr;  // owned, new[]
  std::string error_text;

 private:
  bool fail(const char* format, ...) __attribute__((format(printf, 2, 3)));
};
