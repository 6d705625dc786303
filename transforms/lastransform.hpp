// The point transform: an ordered list of operations that changes every point
// a reader delivers, optionally only the points a filter of its own keeps.
//
// Stand-in: the list, its filter, the registers and the overflow report work,
// and the one operation the framework adds itself ("set_point_source") exists;
// `parse` knows no option yet and `adjust_offset` adjusts nothing.
#pragma once

#include <string>

#include "core/mydefs.hpp"

class LASpoint;
class LASheader;
class LASfilter;
class LASreader;

class LASoperation {
 public:
  // Coordinates that did not fit 32 bits, reported by check_for_overflow.
  I64 overflow_count = 0;
  F64 source_offset[3] = {0.0, 0.0, 0.0};
  F64 source_scale[3] = {0.01, 0.01, 0.01};
  F64 target_offset[3] = {0.0, 0.0, 0.0};
  F64 target_scale[3] = {0.01, 0.01, 0.01};
  bool offset_adjust = false;
  LASheader* bbox_header = nullptr;

  // The option word without its leading '-'.
  virtual const char* name() const = 0;
  // Appends "-" + name + arguments + " "; answers the characters appended.
  virtual I32 get_command(std::string& text) const = 0;
  virtual U32 get_decompress_selective() const { return 0; }
  // The coordinates after the operation as a new[] array of three that the
  // caller delete[]s, or null when the operation refuses offset adjustment.
  virtual F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) = 0;
  virtual void transform(LASpoint* point) = 0;
  virtual void reset() { overflow_count = 0; }
  virtual ~LASoperation() {}
};

// Sets every point's source ID.
class LASoperationSetPointSource : public LASoperation {
 public:
  explicit LASoperationSetPointSource(U16 psid) : psid(psid) {}
  const char* name() const override { return "set_point_source"; }
  I32 get_command(std::string& text) const override;
  U32 get_decompress_selective() const override { return 0; }
  F64* transform_coords_for_offset_adjustment(F64 x, F64 y, F64 z) override { return new F64[3]{x, y, z}; }
  void transform(LASpoint* point) override;

 private:
  U16 psid;
};

// Owns its operations and its filter.
class LAStransform {
 public:
  F64 registers[16] = {};
  U32 op_count = 0;
  U32 op_capacity = 0;
  LASoperation** op_list = nullptr;
  bool filtered_transform = false;
  LASfilter* filter = nullptr;

  LAStransform() = default;
  ~LAStransform();
  LAStransform(const LAStransform&) = delete;
  LAStransform& operator=(const LAStransform&) = delete;

  void clean();
  void usage() const;
  // Takes the transform options among the arguments; none are known yet.
  bool parse(int argc, char* argv[]);
  bool parse(const char* text);
  // Appends the option text: the filter's with "-filtered_transform ", then
  // every operation's; answers the characters appended.
  I32 unparse(std::string& text) const;
  void add_operation(LASoperation* operation);
  void delete_operation(const char* name);
  // Takes ownership; null also clears `filtered_transform`.
  void setFilter(LASfilter* filter);
  // Replaces the first "set_point_source" operation by one at the end.
  void setPointSource(U16 value);
  // Re-quantises the operations and the reader's offsets ("-offset_adjust");
  // not yet: the reader is left as it is.
  void adjust_offset(LASreader* reader, const F64* scale_factor);
  void transform(LASpoint* point);
  void reset();
  // One WARNING per operation whose overflow count is not 0.
  void check_for_overflow() const;
};
