// Reader of DTM raster input, presenting it as a LAS point stream.
//
// Stand-in: the format is not read yet. open() answers false without a
// message of its own, so the read opener reports "cannot open lasreaderdtm with
// file name '...'"; the constructors, setters and class names are final.
#pragma once

#include "core/lasreader.hpp"

class LASreaderDTM : public LASreader {
 public:
  explicit LASreaderDTM(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 10; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderDTM() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name);
  // Opens the same file again for another pass.
  bool reopen(const char* file_name);
};

// Delivers the points re-quantised to new scale factors (0: the axis keeps its own).
class LASreaderDTMrescale : public virtual LASreaderDTM {
 public:
  LASreaderDTMrescale(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor)
      : LASreaderDTM(opener), new_scale_factor{x_scale_factor, y_scale_factor, z_scale_factor} {}
  F64 new_scale_factor[3];
};

// Delivers the points re-quantised to new offsets.
class LASreaderDTMreoffset : public virtual LASreaderDTM {
 public:
  LASreaderDTMreoffset(LASreadOpener* opener, F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderDTM(opener), new_offset{x_offset, y_offset, z_offset} {}
  F64 new_offset[3];
};

class LASreaderDTMrescalereoffset : public LASreaderDTMrescale, public LASreaderDTMreoffset {
 public:
  LASreaderDTMrescalereoffset(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                               F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderDTM(opener),
        LASreaderDTMrescale(opener, x_scale_factor, y_scale_factor, z_scale_factor),
        LASreaderDTMreoffset(opener, x_offset, y_offset, z_offset) {}
};
