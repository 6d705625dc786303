// A reader of one file (a tile) together with a buffer: the points of
// neighbouring files that lie within a buffer distance of the tile's bounding
// box. The tile's own points come first, the buffer points after them, under
// one header that counts and bounds both; a record of the tile's own counts and
// bounds lets a later pass drop the buffer again, so that a tool decides voxels
// at tile edges with all their points but writes only the tile's own.
//
// Neighbour files are read once, at open, through a merged reader, and their
// points kept as raw records in memory blocks; every later pass plays the
// records back instead of reading the neighbours again.
#pragma once

#include <cstdlib>
#include <memory>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"

// Owns its two openers (the tile's and the neighbours'), the tile's reader
// and the buffer memory; borrows the outer opener's filter and transform,
// which it lends on to its openers and takes back before they go.
class LASreaderBuffered : public LASreader {
 public:
  explicit LASreaderBuffered(LASreadOpener* opener);
  ~LASreaderBuffered() override;

  // The tile reader's format; 0 before open.
  I32 get_format() const override;
  // Filtering and transforming happen in the tile's and the neighbours'
  // readers; this reader's own read stays the plain one.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  // The areas set the header's box to the area as the merged reader does; the
  // tile reader reads only its points inside the area, and buffer points
  // outside it are skipped when played back.
  bool inside_none() override;
  bool inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) override;
  bool inside_circle(const F64 center_x, const F64 center_y, const F64 radius) override;
  bool inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) override;
  // Stored only; false when the header has no COPC info.
  bool inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) override;
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream = true) override;
  bool read_point_default() override;

  void set_buffer_size(F32 buffer_size) { this->buffer_size = buffer_size; }
  // Each of these goes to both openers.
  void set_scale_factor(const F64* scale_factor) { to_both(&LASreadOpener::set_scale_factor, scale_factor); }
  void set_offset(const F64* offset) { to_both(&LASreadOpener::set_offset, offset); }
  void set_parse_string(const char* parse_string) { to_both(&LASreadOpener::set_parse_string, parse_string); }
  void set_skip_lines(I32 skip_lines) { to_both(&LASreadOpener::set_skip_lines, (U32)skip_lines); }
  void set_populate_header(bool populate_header) { to_both(&LASreadOpener::set_populate_header, populate_header); }
  void set_translate_intensity(F32 value) { to_both(&LASreadOpener::set_translate_intensity, value); }
  void set_scale_intensity(F32 value) { to_both(&LASreadOpener::set_scale_intensity, value); }
  void set_translate_scan_angle(F32 value) { to_both(&LASreadOpener::set_translate_scan_angle, value); }
  void set_scale_scan_angle(F32 value) { to_both(&LASreadOpener::set_scale_scan_angle, value); }
  // The tile, and one neighbour file; false, with an error, for a null name
  // or a file that cannot be opened for reading.
  bool set_file_name(const char* file_name);
  bool add_neighbor_file_name(const char* file_name);

  // Opens the tile, reads the neighbours' points within the buffer distance
  // into memory and builds the header of both. False after an error.
  bool open();
  // Starts another pass: the tile is opened again, the buffer played back
  // from its first point.
  bool reopen();
  // Frees the buffer and gives the header back the tile's own counts and
  // bounds; false when there was no buffer record to restore.
  bool remove_buffer();

  U32 get_buffered_points() const { return buffered_points; }
  // Whether the widening for the enlarged box changed a scale factor or offset.
  bool get_rescale() const { return rescale; }
  bool get_reoffset() const { return reoffset; }

  // Number of point records per memory block.
  static constexpr U32 points_per_buffer = 10000;

 private:

  template <typename Value>
  void to_both(void (LASreadOpener::*set)(Value), Value value) {
    (lasreadopener.*set)(value);
    (lasreadopener_neighbors.*set)(value);
  }
  // Checks that the point's items can be kept as buffer records.
  bool check_record_layout();
  void record_original_counts();
  // Reads every neighbour point within the buffer distance into the buffer.
  bool read_neighbors();
  void count_buffer_point();
  bool copy_point_to_buffer();
  void copy_point_from_buffer();
  // Brings the stored records from the quantisation they were read in to the
  // header's.
  void requantise_buffer();
  bool buffer_point_inside() const;
  // The area set on this reader, handed to the tile reader.
  void hand_area_to_main();

  std::vector<LASmallocated<U8>> buffers;
  U8* current_buffer = nullptr;
  U32 buffered_points = 0;
  U32 buffer_read_count = 0;
  LASreadOpener lasreadopener;
  LASreadOpener lasreadopener_neighbors;
  std::unique_ptr<LASreader> lasreader;
  F32 buffer_size = 0.0f;
  bool point_type_change = false;
  bool point_size_change = false;
  bool rescale = false;
  bool reoffset = false;

  // Bytes of one buffer record and whether its first item is the extended one.
  U32 record_size = 0;
  bool extended_record = false;
  // The quantisation the tile's points and the stored records arrive in;
  // where it differs from the header's (after widening) they are brought to
  // the header's.
  LASscaling main_scaling;
  LASscaling buffer_scaling;
  bool requantise_main = false;
  // The tile reader has an open file, and it still delivers points.
  bool main_open = false;
  bool main_done = false;
};
