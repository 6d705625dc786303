// Reader of shapefile input, presenting it as a LAS point stream.
//
// Stand-in: the format is not read yet. open() answers false without a
// message of its own, so the read opener reports "cannot open lasreadershp with
// file name '...'"; the constructors, setters and class names are final.
#pragma once

#include "core/lasreader.hpp"

class LASreaderSHP : public LASreader {
 public:
  explicit LASreaderSHP(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 7; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderSHP() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name);
  // Opens the same file again for another pass.
  bool reopen(const char* file_name);
};

// Delivers the points re-quantised to new scale factors (0: the axis keeps its own).
class LASreaderSHPrescale : public virtual LASreaderSHP {
 public:
  LASreaderSHPrescale(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor)
      : LASreaderSHP(opener), new_scale_factor{x_scale_factor, y_scale_factor, z_scale_factor} {}
  F64 new_scale_factor[3];
};

// Delivers the points re-quantised to new offsets.
class LASreaderSHPreoffset : public virtual LASreaderSHP {
 public:
  LASreaderSHPreoffset(LASreadOpener* opener, F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderSHP(opener), new_offset{x_offset, y_offset, z_offset} {}
  F64 new_offset[3];
};

class LASreaderSHPrescalereoffset : public LASreaderSHPrescale, public LASreaderSHPreoffset {
 public:
  LASreaderSHPrescalereoffset(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                               F64 x_offset, F64 y_offset, F64 z_offset)
      : LASreaderSHP(opener),
        LASreaderSHPrescale(opener, x_scale_factor, y_scale_factor, z_scale_factor),
        LASreaderSHPreoffset(opener, x_offset, y_offset, z_offset) {}
};
