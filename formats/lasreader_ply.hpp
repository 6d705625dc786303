// Reader of PLY input (ASCII or binary vertices), presenting it as a LAS point
// stream.
//
// Stand-in: PLY is not read yet. open() answers false without a message of its
// own, so the read opener reports "cannot open lasreaderply with file name
// '...'"; the constructor, setters and open signatures are final.
#pragma once

#include <cstdio>

#include "core/lasreader.hpp"

class LASreaderPLY : public LASreader {
 public:
  explicit LASreaderPLY(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 8; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderPLY() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name, U8 point_type = 0, bool populate_header = false);
  virtual bool open(FILE* file, const char* file_name = nullptr, U8 point_type = 0, bool populate_header = false);

  void set_translate_intensity(F32 translate_intensity) { this->translate_intensity = translate_intensity; }
  void set_scale_intensity(F32 scale_intensity) { this->scale_intensity = scale_intensity; }
  // Three values are copied; null clears.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);

  F32 translate_intensity = 0.0f;
  F32 scale_intensity = 1.0f;
  bool has_scale_factor = false;
  F64 scale_factor[3] = {0.0, 0.0, 0.0};
  bool has_offset = false;
  F64 offset[3] = {0.0, 0.0, 0.0};
};
