// A reader that presents several input files of one format as a single point
// stream with a single header. open() makes one pass over the files' headers
// to build the merged header (union of counts and bounding boxes) and to
// choose how points must be re-quantised when scale factors or offsets differ
// or the union no longer fits 32-bit coordinates; reading then opens the files
// one after the other, handing each the filter, transform, area query and
// spatial index, and skips files whose box misses the area.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/lasreader.hpp"
#include "core/lasreadopener.hpp"

// Owns the file reader of its format, the file list with the file IDs and
// bounding boxes, and its settings; borrows the opener, filter and transform.
class LASreaderMerged : public LASreader {
 public:
  explicit LASreaderMerged(LASreadOpener* opener);
  ~LASreaderMerged() override;

  // The format of the file reader, once a name was added; 0 before.
  I32 get_format() const override;
  // Filter and transform only take effect in each file reader.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  // The areas set the header's box to the area and pick the files to open;
  // each file reader applies the area to its points.
  bool inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) override;
  bool inside_circle(const F64 center_x, const F64 center_y, const F64 radius) override;
  bool inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) override;
  // Stored and handed to each file; false when the merged header has no COPC info.
  bool inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) override;
  // Merged input cannot seek.
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream = true) override;
  bool read_point_default() override;

  // User scale factors and offsets: three values are copied; null clears. A
  // scale factor of 0 leaves that axis at the files' scale.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);
  void set_parse_string(const char* parse_string);
  void set_skip_lines(I32 skip_lines) { this->skip_lines = skip_lines; }
  void set_populate_header(bool populate_header) { this->populate_header = populate_header; }
  void set_keep_lastiling(bool keep_lastiling) { this->keep_lastiling = keep_lastiling; }
  void set_translate_intensity(F32 value) { translate_intensity = value; }
  void set_scale_intensity(F32 value) { scale_intensity = value; }
  void set_translate_scan_angle(F32 value) { translate_scan_angle = value; }
  void set_scale_scan_angle(F32 value) { scale_scan_angle = value; }
  void set_io_ibuffer_size(I32 io_ibuffer_size) { this->io_ibuffer_size = io_ibuffer_size; }
  // 0 file order, 1 spatial order, 2 depth order; anything else is file order.
  void set_copc_stream_order(U8 copc_stream_order) { this->copc_stream_order = copc_stream_order < 3 ? copc_stream_order : 0; }
  // Not 0: the points of file i get the source ID of its file ID + 1, or this
  // value + i without IDs. The merged header's file source ID becomes 0.
  void set_files_are_flightlines(I32 files_are_flightlines);
  // The points of each file get that file's source ID; the merged one becomes 0.
  void set_apply_file_source_ID(bool apply_file_source_ID);

  // False, with an error, for a null name, a file that cannot be opened or a
  // file of another format than those added before.
  bool add_file_name(const char* file_name);
  bool add_file_name(const char* file_name, U32 ID);
  // Builds the merged header from every file's header; called once.
  bool open();
  // Starts a new pass from the first file; the opener applies the area again.
  bool reopen();
  // Back to the state after construction.
  void clean();

  U32 get_file_name_number() const { return (U32)file_names.size(); }
  // Files opened or skipped in this pass.
  U32 get_file_name_current() const { return file_name_current; }
  bool has_file_IDs() const { return has_IDs; }
  U32 get_file_ID(U32 index) const { return index < file_IDs.size() ? file_IDs[index] : 0; }
  // Whether points are re-quantised to the merged scale factors or offsets.
  bool get_rescale() const { return rescale; }
  bool get_reoffset() const { return reoffset; }
  const LASreader* get_file_reader() const { return file_reader.get(); }

 private:
  using Kind = LASreadOpener::InputKind;

  // Saves the header's box for inside_none and replaces it by the area's.
  void set_area_box(F64 min_x, F64 min_y, F64 max_x, F64 max_y);

  // A file reader of the files' format; with `scale` or `offset` the variant
  // that re-quantises to them.
  std::unique_ptr<LASreader> make_file_reader(const F64* scale, const F64* offset) const;
  // Opens file `index` on the file reader; in the header pass with the small
  // buffer, and for LAS after the first file the header only unless
  // attributes must be compared. False after its error.
  bool open_file(U32 index, bool header_pass);
  // Every file's header into the merged header; the boxes of the files.
  bool read_headers();
  void take_first_header(LASheader& file, I64 count);
  void merge_header(LASheader& file, I64 count);
  void compare_layout(const LASheader& file);
  // The union box and, with `with_records`, the number of point records grow
  // by a file's, with its counts by return.
  void add_counts_and_box(const LASheader& file, bool with_records);
  void apply_user_scaling();
  bool init_point();
  // Scale factor and offset of one axis so that the union box fits 32-bit
  // integers; false after an error when no scale factor can.
  bool widen(int axis);
  bool open_next_file();
  void attach_index(const char* name);
  void set_point_source(U32 index);
  void hand_down();
  // Counts of formats whose header knows them only once the file was read.
  void update_header_after_file();
  // A file's bounding box misses the area set in the header.
  bool misses_area(U32 index) const;

  std::unique_ptr<LASreader> file_reader;
  Kind kind = LASreadOpener::INPUT_LAS;
  bool point_type_change = false;
  bool point_size_change = false;
  bool attribute_change = false;
  bool rescale = false;
  bool reoffset = false;
  bool has_user_scale_factor = false;
  F64 user_scale_factor[3] = {0.0, 0.0, 0.0};
  bool has_user_offset = false;
  F64 user_offset[3] = {0.0, 0.0, 0.0};
  I32 files_are_flightlines = 0;
  bool apply_file_source_ID = false;
  F32 translate_intensity = 0.0f;
  F32 scale_intensity = 1.0f;
  F32 translate_scan_angle = 0.0f;
  F32 scale_scan_angle = 1.0f;
  bool has_parse_string = false;
  std::string parse_string;
  I32 skip_lines = 0;
  bool populate_header = false;
  bool keep_lastiling = false;
  U32 file_name_current = 0;
  I32 io_ibuffer_size = 262144;
  U8 copc_stream_order = 0;
  std::vector<std::string> file_names;
  // An ID per name once one name came with an ID (0 for names without).
  bool has_IDs = false;
  std::vector<U32> file_IDs;
  // Per file: min x, min y, max x, max y; an empty file's box meets no area.
  std::vector<F64> bounding_boxes;
  // open() built the header and the point.
  bool opened = false;
  // The file reader holds an open file of this pass.
  bool file_open = false;
};
