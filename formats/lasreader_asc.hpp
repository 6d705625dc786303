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

// The re-quantising variants (see LASrequantiser).
using LASreaderASCrescale = LASreaderRescale<LASreaderASC>;
using LASreaderASCreoffset = LASreaderReoffset<LASreaderASC>;
using LASreaderASCrescalereoffset = LASreaderRescaleReoffset<LASreaderASC>;
