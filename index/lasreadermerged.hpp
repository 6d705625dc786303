// A reader that presents several input files as one point stream with one
// merged header.
//
// Stand-in: merging is not built yet. The setters and the file list are kept,
// but open() answers false without a message of its own, so the read opener
// reports "cannot open lasreadermerged with %d file names".
#pragma once

#include <string>
#include <vector>

#include "core/lasreader.hpp"

class LASreaderMerged : public LASreader {
 public:
  explicit LASreaderMerged(LASreadOpener* opener) : LASreader(opener) {}
  I32 get_format() const override { return 0; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool = true) override {}
  ~LASreaderMerged() override = default;
  bool read_point_default() override { return false; }

  // Three values are copied; null clears.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);
  void set_parse_string(const char* parse_string) { this->parse_string = parse_string ? parse_string : ""; }
  void set_skip_lines(I32 skip_lines) { this->skip_lines = skip_lines; }
  void set_populate_header(bool populate_header) { this->populate_header = populate_header; }
  void set_keep_lastiling(bool keep_lastiling) { this->keep_lastiling = keep_lastiling; }
  void set_translate_intensity(F32 value) { translate_intensity = value; }
  void set_scale_intensity(F32 value) { scale_intensity = value; }
  void set_translate_scan_angle(F32 value) { translate_scan_angle = value; }
  void set_scale_scan_angle(F32 value) { scale_scan_angle = value; }
  void set_io_ibuffer_size(I32 io_ibuffer_size) { this->io_ibuffer_size = io_ibuffer_size; }
  void set_copc_stream_order(U8 copc_stream_order) { this->copc_stream_order = copc_stream_order; }
  void set_files_are_flightlines(I32 files_are_flightlines) { this->files_are_flightlines = files_are_flightlines; }
  void set_apply_file_source_ID(bool apply_file_source_ID) { this->apply_file_source_ID = apply_file_source_ID; }
  bool add_file_name(const char* file_name);
  bool add_file_name(const char* file_name, U32 ID);
  bool open();
  // Starts again from the first file.
  bool reopen();

  bool has_scale_factor = false;
  F64 scale_factor[3] = {0.0, 0.0, 0.0};
  bool has_offset = false;
  F64 offset[3] = {0.0, 0.0, 0.0};
  std::string parse_string;
  I32 skip_lines = 0;
  bool populate_header = false;
  bool keep_lastiling = false;
  F32 translate_intensity = 0.0f, scale_intensity = 1.0f, translate_scan_angle = 0.0f, scale_scan_angle = 1.0f;
  I32 io_ibuffer_size = 0;
  U8 copc_stream_order = 0;
  I32 files_are_flightlines = 0;
  bool apply_file_source_ID = false;
  std::vector<std::string> file_names;
  std::vector<U32> file_IDs;
};
