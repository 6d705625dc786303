// A reader that stores the points of the reader it wraps while they are read
// the first time, so that an input that cannot be opened twice (standard
// input, a named pipe) can be read a second time. The first pass writes every
// point delivered into a LAS stream in memory, compressed where the point
// format has coders; every later pass reads that stream back from its start.
#pragma once

#include <memory>

#include "core/bytestreamin_array.hpp"
#include "core/bytestreamout_array.hpp"
#include "core/lasreader.hpp"
#include "core/laswriter_las.hpp"
#include "core/lasutility.hpp"

// Owns the inner reader, the writer of the first pass and both memory streams.
class LASreaderStored : public LASreader {
 public:
  explicit LASreaderStored(LASreadOpener* opener) : LASreader(opener) {}
  ~LASreaderStored() override;

  // The inner reader's format: the input's in the first pass, LAS after reopen.
  I32 get_format() const override { return lasreader ? lasreader->get_format() : 0; }
  // Filter, transform and areas act in the inner reader of the first pass; the
  // stored points are already filtered, transformed and limited.
  void set_filter(LASfilter* filter) override;
  void set_transform(LAStransform* transform) override;
  bool inside_tile(const F32 ll_x, const F32 ll_y, const F32 size) override;
  bool inside_circle(const F64 center_x, const F64 center_y, const F64 radius) override;
  bool inside_rectangle(const F64 min_x, const F64 min_y, const F64 max_x, const F64 max_y) override;
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  // Ends the pass: the inner reader and the writer go, the stored bytes stay.
  // Before the first point is read nothing ends: a tool that writes in one
  // pass closes and reopens its input before it reads it at all.
  void close(const bool close_stream = true) override;
  bool read_point_default() override;

  // Takes over `lasreader` (also when it fails) and prepares the store.
  bool open(LASreader* lasreader);
  // Restarts reading from the first stored point (from the input when the
  // first pass has not begun).
  bool reopen();

  // Bytes held by the store (written so far, or read back).
  I64 stored_bytes() const;

  // The first buffer holds 2 bytes per announced point, but never more than
  // this: a piped header may announce any count. The store grows as it fills.
  static constexpr I64 FIRST_BUFFER_CAP = 64 * 1024 * 1024;

 private:
  // Ends the first pass: the stored header then counts the points stored.
  void finish_writer();
  // Ends the pass that runs: its reader goes, and after the first pass the writer.
  void end_pass();
  bool first_pass_pending() const { return lasreader && laswriterlas && points_read == 0; }

  LASclosing<LASreader> lasreader;
  LASclosing<LASwriterLAS> laswriterlas;
  // The writer and the reader of a pass use these; they outlive both.
  std::unique_ptr<ByteStreamInArray> streaminarray;
  std::unique_ptr<ByteStreamOutArray> streamoutarray;
  // The count announced at open, which every pass expects again.
  I64 points_expected_at_open = 0;
  // A point could not be stored (reported then): the store cannot be replayed.
  bool store_failed = false;
};
