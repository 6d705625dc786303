// A reader that applies the layers of a layer file to the points of an inner
// reader. Reading layer files is not built yet: opening reports why and fails,
// so the driver goes on with the plain reader (halting off) or stops.
#pragma once

#include <string>

#include "core/lasreader.hpp"

// Would own the inner reader once open succeeds; it never does yet.
class LASapply : public LASreader {
 public:
  explicit LASapply(LASreadOpener* opener) : LASreader(opener) {}
  // The directory in which the layer file is looked for; null clears it.
  void add_directory(const char* directory);
  // Opens the layer file of `file_name` for `reader`: ERROR "cannot open file
  // '%s'" when there is none, another ERROR of its own otherwise; false.
  bool open(const char* file_name, LASreader* reader, U32 io_buffer_size);
  bool load_layers(I32 n);

  bool has_layers() const override { return true; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool) override {}
  bool read_point_default() override { return false; }

 private:
  bool has_directory = false;
  std::string directory;
};
