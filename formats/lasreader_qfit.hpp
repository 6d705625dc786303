// Reader of QFIT input, presenting it as a LAS point stream.
//
// Stand-in: the format is not read yet. open() answers false without a
// message of its own, so the read opener reports "cannot open lasreaderqfit with
// file name '...'"; the constructors, setters and class names are final.
#pragma once

#include "core/lasreader.hpp"

class LASreaderQFIT : public LASreader {
 public:
  explicit LASreaderQFIT(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 4; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderQFIT() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name);
  // Opens the same file again for another pass.
  bool reopen(const char* file_name);
};

// The re-quantising variants (see LASrequantiser).
using LASreaderQFITrescale = LASreaderRescale<LASreaderQFIT>;
using LASreaderQFITreoffset = LASreaderReoffset<LASreaderQFIT>;
using LASreaderQFITrescalereoffset = LASreaderRescaleReoffset<LASreaderQFIT>;
