// A writer that records changes as layers of the point file's layer file
// instead of writing points. Writing layer files is not built yet: layers are
// accepted, opening reports why and fails, so the driver stops (or skips the
// file with halting off).
#pragma once

#include <string>

#include "core/laswriter.hpp"

class LASreader;

class LASmodify : public LASwriter {
 public:
  // The header the layers describe (the tool's output header); borrowed.
  explicit LASmodify(LASheader* header) : header(header) {}
  void add_directory(const char* directory);
  // Before open only: a layer replacing one field, or one recording deletions.
  bool replace_field(const char* field, U32 modification_mask, const char* description, I32 value_count,
                     const F64* values);
  bool delete_points(U32 modification_mask, const char* description, I32 value_count, const F64* values);
  // False with an ERROR of its own.
  bool open(const char* file_name, LASreader* reader, bool append, bool all_in_memory, U32 io_buffer_size);

  // The point must be a LASpointModified.
  bool write_point(const LASpoint* point) override;
  bool chunk() override { return true; }
  bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;

 private:
  bool add_layer(const char* kind);
  [[maybe_unused]] LASheader* header;  // the layers will write through it
  bool opened = false;
  bool has_directory = false;
  std::string directory;
};
