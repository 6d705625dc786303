// The read opener: every input option of the command line, the lists of input
// and neighbour files, and the factory that turns them into the reader of the
// next input (one file by its extension, all files merged, one file with a
// buffer of neighbour points, or standard input; stored or piped on when
// asked) and reopens it for another pass. It also writes its settings back as
// option text for the command lines of child processes. The options, option
// text and lists are in lasreadopener_options.cpp, the opening in
// lasreadopener.cpp.
//
// The option fields are public, under the names of the options' documentation:
// readers consult some of them (z from attribute, offset adjustment) and the
// multi-process runner reads others.
#pragma once

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/mydefs.hpp"

class LASheader;
class LASreader;
class LASreaderStored;
class LASfilter;
class LAStransform;
class LASignore;
class LASkdtreeRectangles;

// Default stdio buffer of input files ("-io_ibuffer").
constexpr U32 LAS_IO_IBUFFER_SIZE = 262144;
// The opener holds at most this many added extra-bytes attributes.
constexpr I32 LAS_READ_OPENER_MAX_ATTRIBUTES = 32;

// An extra-bytes attribute added to text input by "-iadd_extra".
struct LASreadOpenerAttribute {
  I32 data_type = 0;
  std::string name;
  std::string description;
  F64 scale = 1.0;
  F64 offset = 0.0;
  F64 pre_scale = 1.0;
  F64 pre_offset = 0.0;
  F64 no_data = 2e307;
};

// A list of input or neighbour files with what a list file may tell about each:
// an ID, a point count and the bounds. Once a kind of value was given for one
// file, its vector runs along `names` (ID 0, count 0 and unbounded for files
// given without).
struct LASreadOpenerFileList {
  std::vector<std::string> names;
  // The same names, for the "-unique" test on long lists.
  std::unordered_set<std::string> name_set;
  bool with_IDs = false;
  std::vector<U32> IDs;
  bool with_npoints = false;
  std::vector<I64> npoints;
  bool with_bounds = false;
  std::vector<F64> min_x, min_y, max_x, max_y;
  U32 size() const { return (U32)names.size(); }
  bool has_IDs() const { return with_IDs; }
  bool has_bounds() const { return with_bounds; }
};

// Owns its filter, transform, ignore rules, file lists and kd-trees; the
// readers it opens borrow the first three and belong to the caller.
class LASreadOpener {
 public:
  LASreadOpener();
  ~LASreadOpener();
  LASreadOpener(const LASreadOpener&) = delete;
  LASreadOpener& operator=(const LASreadOpener&) = delete;

  // Takes the input options, then lets the filter and the transform take
  // theirs; every argument taken is emptied. With `parse_ignore` the
  // "-ignore_" options go to the ignore rules; otherwise they are left, with a
  // warning unless `suppress_ignore`. False when parsing ended on an error
  // (which ends the process while halting on errors is on).
  bool parse(int argc, char* argv[], bool parse_ignore = false, bool suppress_ignore = false);
  // The usage text of "-hh".
  void usage() const;
  // Appends the input options as option text (each word followed by one
  // blank); answers the characters appended. Input names, list files,
  // "-buffered", "-neighbors", "-stdin", "-pipe_on" and "-faf_index" are left
  // to the caller, and so are the filter, transform and ignore options.
  I32 unparse(std::string& text) const;

  bool is_inside() const { return inside_tile || inside_circle || inside_rectangle; }
  bool is_merged() const { return merged; }
  bool is_stored() const { return stored; }
  bool is_stdin() const { return use_stdin; }
  // No input list and standard input asked for.
  bool is_piped() const { return input.size() == 0 && use_stdin; }
  // A buffer size and more than one input name or any neighbour name.
  bool is_buffered() const { return buffer_size > 0.0f && (input.size() > 1 || neighbors.size() > 0); }
  // Input names remain or standard input is pending.
  bool active() const { return file_name_current < input.size() || use_stdin; }
  F32 get_buffer_size() const { return buffer_size; }
  LASfilter* get_filter() const { return filter; }
  LAStransform* get_transform() const { return transform; }
  LASignore* get_ignore() const { return ignore; }
  const char* get_parse_string() const { return parse_string ? parse_string->c_str() : nullptr; }
  const F64* get_scale_factor() const { return scale_factor ? scale_factor->data() : nullptr; }
  const F64* get_offset() const { return offset ? offset->data() : nullptr; }

  void set_merged(bool merged) { this->merged = merged; }
  void set_stored(bool stored) { this->stored = stored; }
  // Replace the pointer only: what was held before stays the caller's.
  void set_filter(LASfilter* filter) { this->filter = filter; }
  void set_transform(LAStransform* transform) { this->transform = transform; }
  // A copy is kept; null clears.
  void set_parse_string(const char* parse_string);
  // Three values are copied; null clears.
  void set_scale_factor(const F64* scale_factor);
  void set_offset(const F64* offset);
  void set_translate_intensity(F32 value) { translate_intensity = value; }
  void set_scale_intensity(F32 value) { scale_intensity = value; }
  void set_translate_scan_angle(F32 value) { translate_scan_angle = value; }
  void set_scale_scan_angle(F32 value) { scale_scan_angle = value; }
  void set_skip_lines(U32 skip_lines) { this->skip_lines = skip_lines; }
  void set_populate_header(bool populate_header) { this->populate_header = populate_header; }
  void set_inside_rectangle(F64 min_x, F64 min_y, F64 max_x, F64 max_y) {
    inside_rectangle = std::array<F64, 4>{min_x, min_y, max_x, max_y};
  }

  // Input names. An empty name is refused; with `unique` so is a name already
  // listed (byte for byte).
  void set_file_name(const char* file_name, bool unique = false);
  bool add_file_name(const char* file_name, bool unique = false);
  bool add_file_name(const char* file_name, U32 ID, bool unique = false);
  bool add_file_name(const char* file_name, U32 ID, I64 npoints, F64 min_x, F64 min_y, F64 max_x, F64 max_y,
                     bool unique = false);
  // Reads a list file: per line a name, "ID,name", or
  // "ID,npoints,min_x,min_y,max_x,max_y,name". False when it cannot be opened.
  bool add_list_of_files(const char* list_file, bool unique = false);
  bool add_neighbor_file_name(const char* file_name, bool unique = false);
  bool add_neighbor_file_name(const char* file_name, I64 npoints, F64 min_x, F64 min_y, F64 max_x, F64 max_y,
                              bool unique = false);
  bool add_neighbor_list_of_files(const char* list_file, bool unique = false);
  // Back to the first input name.
  void reset();
  U32 get_file_name_number() const { return input.size(); }
  U32 get_neighbor_file_name_number() const { return neighbors.size(); }
  const char* get_neighbor_file_name(U32 index) const {
    return index < neighbors.size() ? neighbors.names[index].c_str() : nullptr;
  }
  // Writes the input names, and with `with_neighbors` the neighbour names
  // after them, one a line in the list-file form that carries what the lists
  // hold (ID, point count, bounds), so that a child process reads the same
  // entries. False when writing fails.
  bool write_list_of_files(FILE* file, bool with_neighbors) const;
  const char* get_file_name(U32 index) const { return index < input.size() ? input.names[index].c_str() : nullptr; }
  // The input being opened, else the first input name, else null.
  const char* get_file_name() const;
  U32 get_file_name_current() const { return file_name_current; }

  // The reader of the next input, or of `other_name` when given (with `reset`
  // the list restarts); null when nothing is left or opening failed. The
  // caller owns the reader.
  LASreader* open(const char* other_name = nullptr, bool reset = false);
  // Reopens the current input on `reader` for another pass, with the same
  // filter, transform, area and header as the first opening.
  bool reopen(LASreader* reader, bool keep_buffer = false);
  // "-offset_adjust" with a transform and no re-offset values: the transform
  // adjusts to the reader's input.
  void adjust_offset_when_transformation(LASreader* reader);

  // Option fields.
  bool z_from_attribute = false;
  I16 z_from_attribute_index = -1;
  U32 io_ibuffer_size = LAS_IO_IBUFFER_SIZE;
  bool merged = false;
  bool stored = false;
  F32 buffer_size = 0.0f;
  std::string temp_file_base;
  bool comma_not_point = false;
  std::optional<std::array<F64, 3>> scale_factor;  // 0 on an axis: that axis keeps its scale
  std::optional<std::array<F64, 3>> offset;
  bool auto_reoffset = false;
  bool offset_adjust = false;
  // `offset` holds what the transform chose for the file opened last, not
  // values of "-reoffset": the next file is adjusted from its own header.
  bool offset_from_adjustment = false;
  I32 files_are_flightlines = 0;
  I32 files_are_flightlines_index = -1;
  bool apply_file_source_ID = false;
  bool itxt = false, ipts = false, iptx = false, iptx_transform = false;
  F32 translate_intensity = 0.0f, scale_intensity = 1.0f;
  F32 translate_scan_angle = 0.0f, scale_scan_angle = 1.0f;
  std::vector<LASreadOpenerAttribute> attributes;
  std::optional<std::string> parse_string;
  U32 skip_lines = 0;
  bool populate_header = false;
  bool pipe_on = false;
  bool use_stdin = false;
  bool unique = false;
  LASfilter* filter = nullptr;
  LAStransform* transform = nullptr;
  LASignore* ignore = nullptr;
  std::optional<std::array<F32, 3>> inside_tile;       // ll_x, ll_y, size
  std::optional<std::array<F64, 3>> inside_circle;     // center_x, center_y, radius
  std::optional<std::array<F64, 4>> inside_rectangle;  // min_x, min_y, max_x, max_y
  U8 copc_query = 0;  // 1 depth ("-max_depth"), 2 resolution ("-resolution")
  U8 copc_stream_order = 1;
  F32 resolution = 0.0f;
  I32 max_depth = -1;

  // Settings no option changes.
  U8 point_type = 0;
  bool keep_lastiling = false;
  bool keep_copc = false;
  U32 decompress_selective = 0xFFFFFFFF;

  // What an input name is read as, by its extension (the merged reader
  // decides its files' format the same way).
  enum InputKind { INPUT_LAS, INPUT_BIN, INPUT_SHP, INPUT_ASC, INPUT_BIL, INPUT_DTM, INPUT_PLY, INPUT_QFIT, INPUT_TXT };
  static InputKind input_kind(const char* name);
  // The spatial index of a LAS or VMB file just opened: its .lax file, or its
  // COPC hierarchy, which takes precedence. The merged reader uses it per file.
  // `reopened`: the reader was opened before and still holds its .lax index.
  void attach_las_index(LASreader* reader, const char* name, bool reopened = false) const;

 protected:
  // The reader class for a single input of that kind by the rescale, reoffset
  // and offset-adjust settings, configured but not opened.
  LASreader* construct_reader(InputKind kind);
  // The neighbour names of a buffered reader for the input `main_name`:
  // overlapping by bounds (grown by the buffer size) where the lists have
  // them, else every other name. `main_index` is its index in the input list,
  // or -1 for a name given to open.
  std::vector<std::string> buffered_neighbors(const char* main_name, I64 main_index);
  // Applies the one area query in force: for LAS and VMB files the rectangle,
  // else the tile, else the circle; for other readers the last of tile, circle
  // and rectangle that is set.
  void apply_area(LASreader* reader, bool las_precedence) const;

  // The bounds of a file that a list with bounds does not know: it may lie
  // anywhere, so it overlaps every query.
  static constexpr F64 UNBOUNDED = 2e307;

  LASreadOpenerFileList input;
  LASreadOpenerFileList neighbors;
  std::unique_ptr<LASkdtreeRectangles> kdtree_rectangles;
  std::unique_ptr<LASkdtreeRectangles> neighbor_kdtree_rectangles;
  std::optional<std::string> file_name;
  U32 file_name_current = 0;

 private:
  // The steps of parse.
  bool parse_own_options(int argc, char* argv[], bool parse_ignore, bool suppress_ignore, bool& help);
  bool parse_ignore_option(int& i, int argc, char* argv[], bool parse_ignore, bool suppress_ignore);
  bool parse_option(int& i, int argc, char* argv[]);
  bool check_neighbors() const;
  bool parse_filter(int argc, char* argv[]);
  bool parse_transform(int argc, char* argv[]);
  bool add_to_list(LASreadOpenerFileList& list, bool is_neighbor, const char* file_name, const U32* ID,
                   const I64* npoints, const F64* bounds, bool unique);
  bool read_list_file(const char* list_file, bool unique, bool is_neighbor);
  // Drops the kd-tree over the bounds of a list; its next use builds it again.
  void forget_kdtree(bool is_neighbor);

  // The steps of open; each gives up what it made when it fails.
  std::unique_ptr<LASreader> open_next(const char* other_name, bool reset);
  std::unique_ptr<LASreader> open_single(const char* name);
  std::unique_ptr<LASreader> open_merged();
  std::unique_ptr<LASreader> open_buffered(const char* other_name, bool reset);
  std::unique_ptr<LASreader> open_stdin();
  // The stored and pipe-on wrappers, when asked; `name` is the reader's word in
  // messages ("lasreaderlas", ...); `store` stores an input that cannot be read
  // twice also without "-stored". Null after a reported failure.
  std::unique_ptr<LASreader> wrap(std::unique_ptr<LASreader> reader, const char* name, bool from_stdin,
                                  bool store = false);
  // Source ID of the current single file with "-faf".
  U16 flightline_source_ID() const;
  LAStransform* point_source_transform();
  void hand_over(LASreader* reader);
  bool apply_copc_query(LASreader* reader, bool check) const;
  // The steps of reopen.
  static LASreader* piped_reader(LASreader* reader);
  static bool reopen_stored(LASreaderStored* reader);
  bool reopen_input(LASreader* reader, bool keep_buffer, bool& las_file);

  // What the first opening of a LAS or VMB file left in its header beyond the
  // file (flight-line source ID, adjusted offsets, scales and bounds): a
  // reopen reads the header again and gets these back.
  struct HeaderAfterOpen {
    F64 values[12];  // scale factors, offsets and bounds
    U16 file_source_ID;
    static HeaderAfterOpen of(const LASheader& header);
    void restore(LASheader& header) const;
  };
  std::optional<HeaderAfterOpen> header_after_open;
};
