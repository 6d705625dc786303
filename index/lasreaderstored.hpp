// A reader that stores the points of the reader it wraps while they are read
// the first time, so that an input that cannot be opened twice (standard
// input) can be read a second time.
//
// Stand-in: storing is not built yet. open() takes over the given reader (the
// opener then deletes only this one) and answers false without a message of its
// own, so the read opener reports "could not open lasreaderstored with ...".
#pragma once

#include "core/lasreader.hpp"

class LASreaderStored : public LASreader {
 public:
  explicit LASreaderStored(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return lasreader ? lasreader->get_format() : 0; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream = true) override;
  ~LASreaderStored() override;
  bool read_point_default() override { return false; }
  bool open(LASreader* lasreader);
  // Restarts reading from the store.
  bool reopen();

 private:
  LASreader* lasreader = nullptr;  // owned
};
