// Writer of BIN output (the version string "ts16" selects the later record
// version). Not built yet: every open fails without a message of
// its own, so that the write opener's error names the output that could not
// be made. The interface is the one the write opener calls.
#pragma once

#include <cstdio>

#include "core/laswriter.hpp"

class LASwriterBIN : public LASwriter {
 public:

  bool open(const char* file_name, const LASheader* header, const char* version, U32 io_buffer_size);
  bool open(FILE* file, const LASheader* header, const char* version);

  bool write_point(const LASpoint* point) override;
  bool chunk() override;
  bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;
};
