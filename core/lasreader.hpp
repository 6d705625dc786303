// The point-reader interface every reader implements: the LAS and VMB reader,
// the readers of foreign formats and the merging, buffering, storing and piping
// readers. A reader owns the header and the current point of its input; the
// subclass supplies the raw read of the next point, and this base turns it into
// the public read_point() limited to an area, sped up by a spatial index,
// filtered and transformed. The read path is chosen once per configuration
// through two member-operation pointers, never per point.
#pragma once

#include <memory>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"

class ByteStreamIn;
class LASreadOpener;
class LASfilter;
class LAStransform;
class LASignore;
class LASindex;
class COPCindex;

// Fields of a point that a consumer needs decoded (decompress_selective). X, Y,
// the return numbers and the scanner channel are always decoded.
constexpr U32 LAS_SELECTIVE_Z = 0x00000001;
constexpr U32 LAS_SELECTIVE_CLASSIFICATION = 0x00000002;
constexpr U32 LAS_SELECTIVE_FLAGS = 0x00000004;
constexpr U32 LAS_SELECTIVE_INTENSITY = 0x00000008;
constexpr U32 LAS_SELECTIVE_SCAN_ANGLE = 0x00000010;
constexpr U32 LAS_SELECTIVE_USER_DATA = 0x00000020;
constexpr U32 LAS_SELECTIVE_POINT_SOURCE = 0x00000040;
constexpr U32 LAS_SELECTIVE_GPS_TIME = 0x00000080;
constexpr U32 LAS_SELECTIVE_RGB = 0x00000100;
constexpr U32 LAS_SELECTIVE_NIR = 0x00000200;
constexpr U32 LAS_SELECTIVE_WAVEPACKET = 0x00000400;
constexpr U32 LAS_SELECTIVE_EXTRA_BYTES = 0xFFFF0000;
constexpr U32 LAS_SELECTIVE_ALL = 0xFFFFFFFF;

// What get_format() answers for the LAS and VMB reader.
constexpr I32 LAS_READER_FORMAT_LAS = 1;
constexpr I32 LAS_READER_FORMAT_VMB = 2;

// Owns `header`, `point`, `index` and `copc_index`; borrows `opener`,
// `filter`, `transform` and `ignore`.
class LASreader {
 public:
  // Area queries (`inside`).
  enum Inside : I32 { INSIDE_NONE = 0, INSIDE_TILE = 1, INSIDE_CIRCLE = 2, INSIDE_RECTANGLE = 3 };
  // COPC queries (`copc_query`).
  enum CopcQuery : U8 { COPC_QUERY_NONE = 0, COPC_QUERY_DEPTH = 1, COPC_QUERY_RESOLUTION = 2 };

  LASreadOpener* opener;
  LASheader header;
  LASpoint point;
  I64 points_expected = 0;
  I64 points_read = 0;
  // Filled by readers of PTX input for the read opener to apply.
  F64 transform_matrix[12] = {};

  explicit LASreader(LASreadOpener* opener);
  LASreader(const LASreader&) = delete;
  LASreader& operator=(const LASreader&) = delete;

  // Slots in this order; subclasses add their own `open` after them.
  virtual I32 get_format() const { return 0; }
  virtual bool has_layers() const { return false; }
  // Both reset the area read: set them before the area.
  virtual void set_filter(LASfilter* filter);
  virtual void set_transform(LAStransform* transform);
  virtual bool inside_none();
  virtual bool inside_tile(const F32 ll_x, const F32 ll_y, const F32 size);
  virtual bool inside_circle(const F64 center_x, const F64 center_y, const F64 radius);
  virtual bool inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  // Mode 1 limits the depth, mode 2 the resolution; false without a COPC
  // index or for another mode.
  virtual bool inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution);
  // True when the next raw read delivers point `p_index`.
  virtual bool seek(const I64 p_index) = 0;
  virtual ByteStreamIn* get_stream() const = 0;
  virtual void close(const bool close_stream = true) = 0;
  virtual ~LASreader();
  // The raw read of the next point into `point`; counts `points_read`.
  virtual bool read_point_default() = 0;

  // Lends up to `wanted` consecutive point records exactly as they lie in the
  // file (header.point_data_record_length bytes each) and moves past them,
  // counting `points_read`; `got` tells how many. The records stay valid until
  // the next read, seek or close. Null (got 0) at the end, and whenever this
  // reader cannot hand out its records as they stand (compressed, requantised,
  // area, index, filter, transform or ignore set): callers then read point by
  // point. Lets a pass that needs only a few fields skip the point object.
  virtual const U8* lend_point_records(U32 wanted, U32& got) {
    (void)wanted;
    got = 0;
    return nullptr;
  }

  // The public read: area, index, filter and transform as configured. False at
  // the end of the input.
  bool read_point() { return (this->*read_complex)(); }

  // Both take the index (null drops the one held).
  void set_index(LASindex* index);
  void set_copcindex(COPCindex* copc_index);
  void set_ignore(LASignore* ignore) { this->ignore = ignore; }
  LASindex* get_index() const { return index.get(); }
  COPCindex* get_copcindex() const { return copc_index.get(); }
  LASfilter* get_filter() const { return filter; }
  LAStransform* get_transform() const { return transform; }
  LASignore* get_ignore() const { return ignore; }
  I32 get_inside() const { return inside; }

  // The area tests on real coordinates, as the area reads apply them.
  bool is_inside_tile(const F64 x, const F64 y) const {
    return t_ll_x <= x && x < t_ur_x && t_ll_y <= y && y < t_ur_y;
  }
  bool is_inside_circle(const F64 x, const F64 y) const {
    const F64 dx = c_center_x - x;
    const F64 dy = c_center_y - y;
    return dx * dx + dy * dy < c_radius_squared;
  }
  bool is_inside_rectangle(const F64 x, const F64 y) const {
    return r_min_x <= x && x < r_max_x && r_min_y <= y && y < r_max_y;
  }

 protected:
  std::unique_ptr<LASindex> index;
  std::unique_ptr<COPCindex> copc_index;
  LASfilter* filter = nullptr;
  LAStransform* transform = nullptr;
  LASignore* ignore = nullptr;

  I32 inside = INSIDE_NONE;
  F32 t_ll_x = 0, t_ll_y = 0, t_size = 0, t_ur_x = 0, t_ur_y = 0;
  F64 c_center_x = 0, c_center_y = 0, c_radius = 0, c_radius_squared = 0;
  F64 r_min_x = 0, r_min_y = 0, r_max_x = 0, r_max_y = 0;
  F64 saved_min_x = 0, saved_min_y = 0, saved_max_x = 0, saved_max_y = 0;
  U8 copc_query = COPC_QUERY_NONE;
  F32 copc_resolution = 0;
  I32 copc_depth = -1;

  // An area query's kind and values, for the readers that apply areas in
  // their own way; nothing else changes.
  void record_tile(const F32 ll_x, const F32 ll_y, const F32 size);
  void record_circle(const F64 center_x, const F64 center_y, const F64 radius);
  void record_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);
  // The header's box is saved (inside_none puts it back) and becomes this one.
  void replace_bounding_box(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y);

 private:
  typedef bool (LASreader::*ReadOperation)();
  ReadOperation read_complex = &LASreader::read_point_default;
  ReadOperation read_simple = nullptr;

  // Installs the read of an area (or the plain read) below filter and transform.
  void install_area_read(ReadOperation read);
  void choose_read_complex();
  // The tile set last can hold points of the file's bounding box.
  bool tile_meets_bounds() const;

  bool read_point_filtered();
  bool read_point_transformed();
  bool read_then_transform(ReadOperation read);
  bool read_point_filtered_and_transformed();
  bool read_point_none() { return false; }
  bool read_point_inside_tile();
  bool read_point_inside_tile_indexed();
  bool read_point_inside_tile_copc_indexed();
  bool read_point_inside_circle();
  bool read_point_inside_circle_indexed();
  bool read_point_inside_circle_copc_indexed();
  bool read_point_inside_rectangle();
  bool read_point_inside_rectangle_indexed();
  bool read_point_inside_rectangle_copc_indexed();
  bool read_point_inside_depth_copc_indexed();
  template <typename Index, typename Test>
  bool read_indexed(Index* runs, Test passes);
};

// ------------------------------------------------------ re-quantising readers

// New scale factors and offsets for the raw coordinates of a reader's input:
// what the re-quantising variants of every reader class delegate to. Opening
// puts them into the header just read (remembering the file's own) and warns
// about a bounding box they carry past 32 bits; each point read is then moved
// onto them, a coordinate outside 32 bits becoming I32_MIN.
class LASrequantiser {
 public:
  // 0 on an axis: that axis keeps the file's scale factor.
  F64 new_scale_factor[3] = {0.0, 0.0, 0.0};
  F64 new_offset[3] = {0.0, 0.0, 0.0};

  // With `check_for_overflow` a rescale alone warns about the bounding box.
  void set_rescale(F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor, bool check_for_overflow);
  void set_reoffset(F64 x_offset, F64 y_offset, F64 z_offset);
  // Offsets from the bounding box: its centre, cut toward zero to a multiple
  // of 10^7 units of the scale factor.
  void set_auto_reoffset();

  void requantise_header(LASheader& header);
  void requantise_point(LASpoint& point, const LASheader& header) const;

 private:
  bool rescaling = false;
  bool reoffsetting = false;
  bool auto_offset = false;
  bool check_for_overflow = false;
  // Per axis, after requantise_header: what changed, and the file's values.
  bool rescaled[3] = {false, false, false};
  bool reoffset[3] = {false, false, false};
  F64 file_scale_factor[3] = {0.0, 0.0, 0.0};
  F64 file_offset[3] = {0.0, 0.0, 0.0};

  void install_scale_factors(LASheader& header);
  void install_offsets(LASheader& header);
  void warn_about_overflow(const LASheader& header) const;
};

// The part the re-quantising variants of reader class `Base` share: the
// requantiser, applied to every point read. The header is handed over in
// `open(ByteStreamIn*, ...)`, which overrides the virtual open of a Base that
// reads its header from a stream (LAS and VMB); a reader class that reads
// otherwise calls requantise_header itself once its header is read.
template <class Base>
class LASreaderRequantised : public virtual Base, public LASrequantiser {
 public:
  explicit LASreaderRequantised(LASreadOpener* opener) : Base(opener) {}
  using Base::open;
  bool open(ByteStreamIn* stream, const bool peek_only = false, const U32 decompress_selective = LAS_SELECTIVE_ALL) {
    if (!Base::open(stream, peek_only, decompress_selective)) return false;
    this->requantise_header(this->header);
    return true;
  }
  bool read_point_default() {
    if (!Base::read_point_default()) return false;
    this->requantise_point(this->point, this->header);
    return true;
  }
  // The records in the file hold the coordinates before the change.
  const U8* lend_point_records(U32, U32& got) {
    got = 0;
    return nullptr;
  }
};

// New scale factors (0 keeps the file's).
template <class Base>
class LASreaderRescale : public virtual LASreaderRequantised<Base> {
 public:
  LASreaderRescale(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                   bool check_for_overflow = true)
      : Base(opener), LASreaderRequantised<Base>(opener) {
    this->set_rescale(x_scale_factor, y_scale_factor, z_scale_factor, check_for_overflow);
  }
};

// New offsets, given or computed from the bounding box.
template <class Base>
class LASreaderReoffset : public virtual LASreaderRequantised<Base> {
 public:
  LASreaderReoffset(LASreadOpener* opener, F64 x_offset, F64 y_offset, F64 z_offset)
      : Base(opener), LASreaderRequantised<Base>(opener) {
    this->set_reoffset(x_offset, y_offset, z_offset);
  }
  explicit LASreaderReoffset(LASreadOpener* opener) : Base(opener), LASreaderRequantised<Base>(opener) {
    this->set_auto_reoffset();
  }
};

// Both; the bounding box is checked once for the two together.
template <class Base>
class LASreaderRescaleReoffset : public LASreaderRescale<Base>, public LASreaderReoffset<Base> {
 public:
  LASreaderRescaleReoffset(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor,
                           F64 x_offset, F64 y_offset, F64 z_offset)
      : Base(opener),
        LASreaderRequantised<Base>(opener),
        LASreaderRescale<Base>(opener, x_scale_factor, y_scale_factor, z_scale_factor, false),
        LASreaderReoffset<Base>(opener, x_offset, y_offset, z_offset) {}
  // With offsets computed from the bounding box.
  LASreaderRescaleReoffset(LASreadOpener* opener, F64 x_scale_factor, F64 y_scale_factor, F64 z_scale_factor)
      : Base(opener),
        LASreaderRequantised<Base>(opener),
        LASreaderRescale<Base>(opener, x_scale_factor, y_scale_factor, z_scale_factor, false),
        LASreaderReoffset<Base>(opener) {}
};
