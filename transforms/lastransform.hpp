// The point transform: an ordered list of operations that changes every point
// a reader delivers, optionally only the points a filter of its own keeps. The
// read opener builds it from the "-translate_...", "-scale_..." (and further)
// options and lends it to every reader it opens; `unparse` writes it back as
// option text for child processes and layer files, and that text parses back
// to the same list.
//
// The operations live in families (lasoperation_*.cpp), each with the option
// table the parser reads and its help lines; lasoperation.hpp is what a family
// needs. With "-offset_adjust" the transform chooses offsets for the moved
// points before the first is read (adjust_offset), and every operation then
// writes its points in those offsets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/lasattributer.hpp"
#include "core/mydefs.hpp"

class LASpoint;
class LASheader;
class LASfilter;
class LASreader;

// One change of a point. Option text is appended to a growable string.
class LASoperation {
 public:
  // Coordinates this operation produced that did not fit 32 bits since the
  // last reset, reported by LAStransform::check_for_overflow.
  I64 overflow_count = 0;
  // The quantisations in which points reach the operation and in which it
  // writes them under offset adjustment.
  F64 source_offset[3] = {0.0, 0.0, 0.0};
  F64 source_scale[3] = {0.01, 0.01, 0.01};
  F64 target_offset[3] = {0.0, 0.0, 0.0};
  F64 target_scale[3] = {0.01, 0.01, 0.01};
  bool offset_adjust = false;
  LASheader* bbox_header = nullptr;  // not owned

  // The option word without its leading '-'.
  virtual const char* name() const = 0;
  // Appends an option that parses back to this operation, "-" + name, then
  // its arguments, each followed by one blank; answers the characters appended.
  virtual I32 get_command(std::string& text) const = 0;
  // The point fields the operation reads beyond x, y, returns and channel.
  virtual U32 get_decompress_selective() const { return 0; }
  // The coordinates after the operation as a new[] array of three that the
  // caller delete[]s, or null when the operation refuses offset adjustment.
  virtual F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) = 0;
  virtual void transform(LASpoint* point) = 0;
  // Before each pass over the input.
  virtual void reset() { overflow_count = 0; }
  virtual ~LASoperation() {}

  // Offset adjustment. The raw Z the operation works on: the raw Z, or the
  // attribute that stands in for z quantised to the point's z and, under
  // offset adjustment, carried from the target into the source quantisation.
  I32 get_Z(const LASpoint* point) const;
  // Stores world coordinates as raw values of the target quantisation; a value
  // that does not fit 32 bits is counted and leaves its raw value as it was.
  // Widens `bbox_header` when there is one.
  void write_transformed_values_with_adjust_offset(F64 x, F64 y, F64 z, LASpoint* point);
  // Re-quantises a point whose coordinates the operation leaves as they are;
  // such operations call it first when `offset_adjust` is set.
  void set_offset_adjust_coord_without_trafo_changes(LASpoint* point);
};

// Owns its operations and its filter.
class LAStransform {
 public:
  // Shared by the register operations of this transform; 0 after reset.
  F64 registers[16] = {};
  // The operations in list order; grows 16 entries at a time so that typical
  // command lines allocate once.
  std::vector<std::unique_ptr<LASoperation>> op_list;
  // op_list.size(), kept as a field for the callers that read the count.
  U32 op_count = 0;
  // "-filtered_transform" was given: the read opener hands its filter over.
  bool filtered_transform = false;
  // Selects the points to transform; a point it would drop stays unchanged.
  std::unique_ptr<LASfilter> filter;
  // After adjust_offset the reader's header states the quantisation the
  // points leave in, while they are read in the file's own: this one, for
  // whatever judges a point before the operations (filters, areas).
  LASscaling scaling_as_read;
  bool offsets_adjusted = false;

  LAStransform();
  ~LAStransform();
  LAStransform(const LAStransform&) = delete;
  LAStransform& operator=(const LAStransform&) = delete;

  // Deletes every operation and the filter; registers and the filtered flag stay.
  void clean();
  // The help text of the transform options, as one INFO message.
  void usage() const;
  // Takes the transform options among the arguments (argv[0] is not read) in
  // their order, empties what it takes and leaves every other argument for
  // the parsers after it. False after a reported error; the operations added
  // before it stay.
  bool parse(int argc, char* argv[]);
  // The same for option text, split into words as the command lines of child
  // processes are (a quoted file name is one word, without its quotes).
  bool parse(const char* text);
  // Appends the option text: the filter's and "-filtered_transform " when a
  // filter is attached, then every operation's in list order; answers the
  // characters appended (0, and nothing written, when there is neither).
  I32 unparse(std::string& text) const;
  // Appends an operation; the transform owns it from now on.
  void add_operation(LASoperation* operation);
  // Deletes the first operation of that name; the others move up.
  void delete_operation(const char* name);
  // Takes ownership, deleting the filter attached before; null also clears
  // `filtered_transform`.
  void setFilter(LASfilter* filter);
  // Replaces the first "set_point_source" operation by one at the end.
  void setPointSource(U16 value);
  // "-offset_adjust": passes the corners of the reader's bounding box through
  // the operations and gives each operation the quantisations it reads and
  // writes, its offsets the middle of the moved box cut to a multiple of 1e7
  // scale units, its scales the rescale factors (null: none; 0: that axis
  // keeps its scale). The reader's header and read opener take the offsets,
  // box and scales that the points come out in.
  void adjust_offset(LASreader* reader, const F64* scale_factor);
  // Every operation in order, unless the attached filter would drop the point;
  // such a point is only carried into the adjusted quantisation.
  void transform(LASpoint* point);
  // The quantisation points are read in when it is not the header's, else null.
  const LASscaling* read_scaling() const { return offsets_adjusted ? &scaling_as_read : nullptr; }
  // Before each pass: the operations, the registers and the attached filter
  // start afresh, so that every pass changes the same points the same way.
  void reset();
  // One WARNING per operation whose overflow count is not 0, in list order.
  void check_for_overflow() const;

 private:
  void keep_in_adjusted_offsets(LASpoint* point);
};
