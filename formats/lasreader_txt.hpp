// Reader of text input (one point per line, fields named by a parse string;
// PTS and PTX scans), presenting it as a LAS point stream.
//
// Stand-in: text is not read yet. open() answers false without a message of
// its own, so the read opener reports "cannot open lasreadertxt with file name
// '...'"; the constructor, setters and open/reopen signatures are final. The
// setters keep their values so that the real reader only adds the reading.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/lasreader.hpp"

class LASreaderTXT : public LASreader {
 public:
  // One extra-bytes attribute to fill from a column of the parse string.
  struct Attribute {
    I32 data_type;
    std::string name;
    std::string description;
    F64 scale, offset, pre_scale, pre_offset, no_data;
  };

  explicit LASreaderTXT(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 6; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderTXT() override = default;
  bool read_point_default() override { return false; }
  virtual bool open(const char* file_name, U8 point_type = 0, const char* parse_string = nullptr, I32 skip_lines = 0,
                    bool populate_header = false);
  virtual bool open(FILE* file, const char* file_name = nullptr, U8 point_type = 0,
                    const char* parse_string = nullptr, I32 skip_lines = 0, bool populate_header = false);
  // Opens the same file again for another pass.
  bool reopen(const char* file_name);

  void set_pts(bool pts) { this->pts = pts; }
  void set_ptx(bool ptx) { this->ptx = ptx; }
  // PTX: hold the scan's transformation in transform_matrix for the opener.
  void set_ptx_transform(bool ptx_transform) { this->ptx_transform = ptx_transform; }
  void set_translate_intensity(F32 translate_intensity) { this->translate_intensity = translate_intensity; }
  void set_scale_intensity(F32 scale_intensity) { this->scale_intensity = scale_intensity; }
  void set_translate_scan_angle(F32 translate_scan_angle) { this->translate_scan_angle = translate_scan_angle; }
  void set_scale_scan_angle(F32 scale_scan_angle) { this->scale_scan_angle = scale_scan_angle; }
  // Three values are copied; null clears.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);
  bool add_attribute(I32 data_type, const char* name, const char* description = nullptr, F64 scale = 1.0,
                     F64 offset = 0.0, F64 pre_scale = 1.0, F64 pre_offset = 0.0, F64 no_data = 2e307);
  // After opening PTX input with set_ptx_transform: transform_matrix holds the
  // scan's rotation and translation, which the opener is to apply.
  bool has_ptx_transform_to_apply() const { return ptx_transform_to_apply; }

  bool pts = false;
  bool ptx = false;
  bool ptx_transform = false;
  F32 translate_intensity = 0.0f;
  F32 scale_intensity = 1.0f;
  F32 translate_scan_angle = 0.0f;
  F32 scale_scan_angle = 1.0f;
  bool has_scale_factor = false;
  F64 scale_factor[3] = {0.0, 0.0, 0.0};
  bool has_offset = false;
  F64 offset[3] = {0.0, 0.0, 0.0};
  std::vector<Attribute> attributes;

 protected:
  bool ptx_transform_to_apply = false;
};
