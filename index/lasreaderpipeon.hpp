// A reader that hands out the points of the reader it wraps and at the same
// time writes them as an uncompressed LAS stream to standard output, so that
// the input flows on to the next program of a pipeline.
//
// Stand-in: piping is not built yet. open() takes over the given reader (the
// opener then deletes only this one) and answers false without a message of its
// own, so the read opener reports "cannot open lasreaderpipeon with ...".
#pragma once

#include "core/lasreader.hpp"

class LASreaderPipeOn : public LASreader {
 public:
  explicit LASreaderPipeOn(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return lasreader ? lasreader->get_format() : 0; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream = true) override;
  ~LASreaderPipeOn() override;
  bool read_point_default() override { return false; }
  bool open(LASreader* lasreader);
  // The reader it wraps, which the opener reopens for another pass.
  LASreader* get_lasreader() const { return lasreader; }

 private:
  LASreader* lasreader = nullptr;  // owned
};
