// Reader of ESRI ASCII grid input, presenting it as a LAS point stream.
//
// Stand-in: the format is not read yet. open() answers false without a
// message of its own, so the read opener reports "cannot open lasreaderasc with
// file name '...'"; the constructors, setters and class names are final.
#pragma once

#include "core/lasreader.hpp"

class LASreaderASC : public LASreader {
 public:
  explicit LASreaderASC(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 9; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderASC() override = default;
  bool read_point_default() override { return false; }
  // With comma_not_point a comma is the decimal separator.
  virtual bool open(const char* file_name, bool comma_not_point = false);
  // Opens the same file again for another pass.
  bool reopen(const char* file_name);
};

// Delivers the points re-quantised to new scale factors (0: the axis keeps its own).
class LASreaderASCrescale : public virtual LASreaderASC {
 public:
  LASreaderASCrescale(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor)
      : LASreaderASC(opener), new_scale_factor{x_scale_factor, y_scale_factor, z_scale_factor} {}
  F64 new_scale_factor[3];
};

// Delivers the points re-quantised to new offsets.
class LASreaderASCreoffset : public virtual LASreaderASC {
 public:
  LASreaderASCreoffset(LASreadOpener* opener, F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderASC(opener), new_offset{x_offset, y_offset, z_offset} {}
  F64 new_offset[3];
};

class LASreaderASCrescalereoffset : public LASreaderASCrescale, public LASreaderASCreoffset {
 public:
  LASreaderASCrescalereoffset(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                               F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderASC(opener),
        LASreaderASCrescale(opener, x_scale_factor, y_scale_factor, z_scale_factor),
        LASreaderASCreoffset(opener, x_offset, y_offset, z_offset) {}
};
