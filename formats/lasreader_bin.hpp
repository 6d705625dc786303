// Reader of BIN (binary point record) input, presenting it as a LAS point stream.
//
// Stand-in: the format is not read yet. open() answers false without a
// message of its own, so the read opener reports "cannot open lasreaderbin with
// file name '...'"; the constructors, setters and class names are final.
#pragma once

#include "core/lasreader.hpp"

class LASreaderBIN : public LASreader {
 public:
  explicit LASreaderBIN(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 3; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderBIN() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name);
};

// The re-quantising variants (see LASrequantiser).
using LASreaderBINrescale = LASreaderRescale<LASreaderBIN>;
using LASreaderBINreoffset = LASreaderReoffset<LASreaderBIN>;
using LASreaderBINrescalereoffset = LASreaderRescaleReoffset<LASreaderBIN>;
