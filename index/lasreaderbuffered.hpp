// A reader of one file together with the points of neighbouring files that lie
// within a buffer distance of its bounding box.
//
// Stand-in: buffering is not built yet. The setters, the file name and the
// neighbour list are kept, but open() answers false without a message of its
// own, so the read opener reports "cannot open lasreaderbuffered with %d file names".
#pragma once

#include <string>
#include <vector>

#include "core/lasreader.hpp"

class LASreaderBuffered : public LASreader {
 public:
  explicit LASreaderBuffered(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 0; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderBuffered() override = default;
  bool read_point_default() override { return false; }

  void set_buffer_size(F32 buffer_size) { this->buffer_size = buffer_size; }
  // Three values are copied; null clears.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);
  void set_parse_string(const char* parse_string) { this->parse_string = parse_string ? parse_string : ""; }
  void set_skip_lines(I32 skip_lines) { this->skip_lines = skip_lines; }
  void set_populate_header(bool populate_header) { this->populate_header = populate_header; }
  void set_translate_intensity(F32 value) { translate_intensity = value; }
  void set_scale_intensity(F32 value) { scale_intensity = value; }
  void set_translate_scan_angle(F32 value) { translate_scan_angle = value; }
  void set_scale_scan_angle(F32 value) { scale_scan_angle = value; }
  void set_file_name(const char* file_name) { this->file_name = file_name ? file_name : ""; }
  bool add_neighbor_file_name(const char* file_name);
  bool open();
  bool reopen();
  // Drops the neighbour points so that only the file's own points are read.
  void remove_buffer() {}

  F32 buffer_size = 0.0f;
  bool has_scale_factor = false;
  F64 scale_factor[3] = {0.0, 0.0, 0.0};
  bool has_offset = false;
  F64 offset[3] = {0.0, 0.0, 0.0};
  std::string parse_string;
  I32 skip_lines = 0;
  bool populate_header = false;
  F32 translate_intensity = 0.0f, scale_intensity = 1.0f, translate_scan_angle = 0.0f, scale_scan_angle = 1.0f;
  std::string file_name;
  std::vector<std::string> neighbor_file_names;
};
