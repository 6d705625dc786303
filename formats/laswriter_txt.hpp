// Writer of text output. Not built yet: every open fails without a message of
// its own, so that the write opener's error names the output that could not
// be made. The interface is the one the write opener calls.
#pragma once

#include <cstdio>

#include "core/laswriter.hpp"

class LASwriterTXT : public LASwriter {
 public:
  // PTS or PTX text; chosen before open.
  void set_pts(bool pts) { this->pts = pts; }
  void set_ptx(bool ptx) { this->ptx = ptx; }
  // Factor applied to colours on output; set after open.
  void set_scale_rgb(F32 scale_rgb) { this->scale_rgb = scale_rgb; }

  bool open(const char* file_name, const LASheader* header, const char* parse_string, const char* separator);
  bool open(FILE* file, const LASheader* header, const char* parse_string, const char* separator);

  bool write_point(const LASpoint* point) override;
  bool chunk() override;
  bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;

 private:
  bool pts = false;
  bool ptx = false;
  F32 scale_rgb = 1.0f;
};
