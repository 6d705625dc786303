// A reader that hands out the points of the reader it wraps and at the same
// time writes them as an uncompressed LAS stream to standard output, so that
// the input flows on to the next program of a pipeline. Only the first pass
// is written; later passes read the inner reader again without writing.
#pragma once

#include "core/lasreader.hpp"
#include "core/laswriter_las.hpp"
#include "core/lasutility.hpp"

// Owns the inner reader and the writer on standard output.
class LASreaderPipeOn : public LASreader {
 public:
  explicit LASreaderPipeOn(LASreadOpener* opener) : LASreader(opener) {}
  ~LASreaderPipeOn() override;

  I32 get_format() const override { return lasreader ? lasreader->get_format() : 0; }
  // Filter, transform and areas act in the inner reader, so that the piped
  // points are the points the tool sees.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) override;
  bool inside_circle(const F64 center_x, const F64 center_y, const F64 radius) override;
  bool inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) override;
  bool inside_copc_depth(const U8 mode, const I32 depth, const F32 resolution) override;
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  // Closes the inner reader only; the piped stream ends with the input.
  void close(const bool close_stream = true) override;
  bool read_point_default() override;

  // Takes over `lasreader` (also when it fails) and starts the LAS stream on
  // standard output.
  bool open(LASreader* lasreader);
  // The reader it wraps, which the opener reopens for another pass.
  LASreader* get_lasreader() const { return lasreader.get(); }

 private:
  LASclosing<LASreader> lasreader;
  LASclosing<LASwriterLAS> laswriterlas;
};
