// Per-file thinning driver: open the input, settle the steps, check the
// options against each other, let the filter learn the file in a first pass,
// reopen, build the output header, write the survivors with their changes in
// a second pass, correct the header from what was written, report.
#include "tool/voxsifter_driver.hpp"

#include <cstdarg>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "compressor/vembra.hpp"
#include "core/bytestreamin.hpp"
#include "core/lasreader.hpp"
#include "core/lasreader_las.hpp"
#include "core/lasutility.hpp"
#include "core/laswriter.hpp"
#include "filters/lasignore.hpp"
#include "layers/lasapply.hpp"
#include "layers/laslayer.hpp"
#include "layers/lasmodify.hpp"
#include "layers/laswriterdeleted.hpp"
#include "tool/pointfilter.hpp"
#include "tool/voxelfilter.hpp"
#include "tool/voxelgrid.hpp"
#include "tool/voxsifter_factory.hpp"

// What this tool writes into the headers of its outputs.
static const char* const SYSTEM_IDENTIFIER = "Pelkarts by Vantroskel GmbH";
static const char* const GENERATING_SOFTWARE = "voxsifter (251122)-3d thinning";
static_assert(PELKARTS_BUILD_NUMBER == 251122, "the generating software names the build");

static F64 taketime() { return (F64)clock() / CLOCKS_PER_SEC; }

// An ERROR, the support-contact line, and the end of the run while halting on
// errors is on.
static void laserrorm(const char* format, ...) __attribute__((format(printf, 1, 2)));
static void laserrorm(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof(text), format, args);
  va_end(args);
  LASMessage(ERROR, "%s", text);
  las_support_contact();
  if (do_halt_on_error()) byebye();
}

// Wraps a plain reader in the layers of its layer file; the plain reader
// serves unchanged when they cannot be applied.
static LASreaderOwner apply_layers(VoxsifterRun& run, LASreaderOwner reader, bool again) {
  auto lasapply = std::make_unique<LASapply>(&run.lasreadopener);
  lasapply->add_directory(run.options.ilay_directory);
  if (!lasapply->open(run.lasreadopener.get_file_name(), reader.get(), 65536)) {
    LASMessage(WARNING, again ? "could not re-open LAY file ... skipping" : "could not open LAY file ... skipping");
    return reader;
  }
  if (!lasapply->load_layers(run.options.ilay_count)) {
    LASMessage(WARNING, again ? "could not re-load layers ... skipping" : "could not load layers ... skipping");
    return reader;
  }
  // The layered reader owns the plain one once it is open.
  (void)reader.release();
  return LASreaderOwner(lasapply.release());
}

void voxsifter_add_geo_keys(LASheader& header, int number_of_keys, const U16* geo_keys, int num_geo_double_params,
                            const F64* geo_double_params) {
  const U64 key_bytes = ((U64)(number_of_keys > 0 ? number_of_keys : 0) + 1) * 8;
  if (key_bytes <= 65535) {
    U8* data = (U8*)malloc_las(key_bytes);
    if (data) {
      const LASvlrGeoKeys directory = {1, 1, 0, (U16)(key_bytes / 8 - 1)};
      memcpy(data, &directory, sizeof(directory));
      if (key_bytes > 8) memcpy(data + 8, geo_keys, key_bytes - 8);
      if (header.add_vlr("LASF_Projection", 34735, (U16)key_bytes, data)) {
        header.vlr_geo_keys = (LASvlrGeoKeys*)data;
        header.geo_key_entries = (LASvlrKeyEntry*)(data + 8);
      }
    }
  }
  const U64 double_bytes = num_geo_double_params > 0 ? (U64)num_geo_double_params * 8 : 0;
  if (double_bytes > 0 && double_bytes <= 65535) {
    U8* data = (U8*)malloc_las(double_bytes);
    if (data) {
      memcpy(data, geo_double_params, double_bytes);
      if (header.add_vlr("LASF_Projection", 34736, (U16)double_bytes, data)) header.geo_double_params = (F64*)data;
    }
  } else if (double_bytes == 0) {
    header.remove_vlr("LASF_Projection", 34736);
    header.geo_double_params = nullptr;
  }
  header.remove_vlr("LASF_Projection", 34737);
  header.geo_ascii_params = nullptr;
}

// What the second pass does to a survivor, fixed per file.
struct SurvivorChanges {
  bool count_to_user_byte = false;
  bool count_to_intensity = false;
  bool use_cell_center = false;
  bool flatten = false;
  bool flatten_all = false;  // ignored points too
  bool keypoint = false;
  bool withheld = false;
  I32 classify_as = -1;  // set on point output only, see below
  F64 flatten_z = 0.0;
};

struct SecondPassCounts {
  U64 written = 0;
  U64 overflow = 0;
  U64 centre_not_held = 0;  // survivors left in place: the file cannot hold their cell centre
  U64 densest = 0;
  bool densest_known = false;
};

static void change_survivor(LASpoint& point, const SurvivalDecision& decision, const VoxelIndexAndCenter& cell,
                            const SurvivorChanges& changes, SecondPassCounts& counts) {
  if (decision.points_in_cell) {
    const U64 count = *decision.points_in_cell;
    if (count > counts.densest) counts.densest = count;
    counts.densest_known = true;
    if (changes.count_to_user_byte) {
      if (count > 255) counts.overflow++;
      point.user_data = count > 255 ? 255 : (U8)count;
    } else if (changes.count_to_intensity) {
      if (count > 65535) counts.overflow++;
      point.intensity = count > 65535 ? 65535 : (U16)count;
    }
  }
  if (changes.use_cell_center) {
    // A centre beyond what the scale and offset can hold (a cell outside a
    // box near the edge of the raw range) would wrap to a point far from the
    // data: the point stays where it was.
    const LASscaling& scaling = *point.scaling;
    const I64 X = scaling.get_X(cell.center[0]);
    const I64 Y = scaling.get_Y(cell.center[1]);
    const bool z_held = scaling.z_from_attribute >= 0 || las_fits_i32(scaling.get_Z(cell.center[2]));
    if (las_fits_i32(X) && las_fits_i32(Y) && z_held) {
      point.X = (I32)X;
      point.Y = (I32)Y;
      point.set_z(cell.center[2]);
    } else {
      counts.centre_not_held++;
    }
  }
  if (changes.flatten) point.set_z(changes.flatten_z);
  if (changes.keypoint) {
    point.set_keypoint_flag(1);
    point.set_extended_classification_flags(point.get_extended_classification_flags() | 0x2);
  } else if (changes.withheld) {
    point.set_withheld_flag(1);
    point.set_extended_classification_flags(point.get_extended_classification_flags() | 0x4);
  }
  if (changes.classify_as >= 0 && changes.classify_as <= 255) {
    point.extended_classification = (U8)changes.classify_as;
    point.set_classification(changes.classify_as < 32 ? (U8)changes.classify_as : 0);
  }
}

// Where point output sends a point: the writer, or, in the pass that counts
// for a header written before the points, only an inventory that drops what
// the deleting writer would drop. Unchanged survivors may go to either as the
// records they are in the file, where the writer writes those as it writes
// their points; records as they lie are never marked deleted.
struct WriterSink {
  LASwriter* writer;
  void put(const LASpoint& point) {
    writer->write_point(&point);
    writer->update_inventory(&point);
  }
  bool takes_records(U8 format, U32 record_length) const { return writer->takes_records(format, record_length); }
  void put_records(const U8* records, U32 count, const LASrecordFields& fields) {
    writer->write_records(records, count);
    writer->update_inventory_records(records, count, fields);
  }
};

struct InventorySink {
  LASinventory& inventory;
  bool drop_deleted;
  void put(const LASpoint& point) {
    if (drop_deleted && point.is_deleted) return;
    inventory.add(&point);
  }
  bool takes_records(U8, U32) const { return true; }
  void put_records(const U8* records, U32 count, const LASrecordFields& fields) {
    inventory.add_records(records, count, fields);
  }
};

// Walks the set bits of survivor marks in order.
class MarkCursor {
 public:
  static constexpr U64 NONE = U64_MAX;
  explicit MarkCursor(const std::vector<U64>& marks) : marks(marks), bits(marks.empty() ? 0 : marks[0]) {}
  // The next marked index, which stays next until taken; NONE after the last.
  U64 peek() {
    while (bits == 0) {
      if (word + 1 >= marks.size()) return NONE;
      bits = marks[++word];
    }
    return (word << 6) + (U64)__builtin_ctzll(bits);
  }
  void take() { bits &= bits - 1; }

 private:
  const std::vector<U64>& marks;
  U64 word = 0;
  U64 bits;
};

// The marked points among records lent from point `start` up to `end` go to
// the sink as they lie, neighbours together; `check` is asked about each
// first. False when one does not survive: those before it went out.
template <class Sink, class Check>
static bool put_marked_records(Sink& sink, MarkCursor& marks, const U8* records, U64 start, U64 end,
                               const LASrecordFields& fields, Check check, SecondPassCounts& counts) {
  U64 run_start = start, run_end = start;
  auto put_run = [&]() {
    if (run_end == run_start) return;
    sink.put_records(records + (run_start - start) * fields.record_length, (U32)(run_end - run_start), fields);
    counts.written += run_end - run_start;
  };
  for (U64 index = marks.peek(); index < end; index = marks.peek()) {
    marks.take();
    if (!check(records + (index - start) * fields.record_length)) {
      put_run();
      return false;
    }
    if (index != run_end) {
      put_run();
      run_start = index;
    }
    run_end = index + 1;
  }
  put_run();
  return true;
}

// Point output. `changing` is false when survivors are written as read, which
// keeps the common default run free of the per-survivor option tests.
template <bool changing, class Sink>
static void second_pass_points(LASreader* reader, Sink& sink, PointFilterInterface* filter, const LASignore* ignore,
                               const SurvivorChanges& changes, SecondPassCounts& counts) {
  LASpoint& point = reader->point;
  VoxelIndexAndCenter cell;
  const bool flatten_ignored = changes.flatten_all;
  while (reader->read_point()) {
    if (ignore && ignore->ignore(&point)) {
      if (flatten_ignored) point.set_z(changes.flatten_z);
    } else {
      const SurvivalDecision decision = filter->isSurvivingPointAndModify(point, cell);
      if (!decision.survives) continue;
      if constexpr (changing) change_survivor(point, decision, cell, changes, counts);
    }
    sink.put(point);
    counts.written++;
  }
}

template <class Sink>
static void second_pass_points(LASreader* reader, Sink& sink, PointFilterInterface* filter, const LASignore* ignore,
                               const SurvivorChanges& changes, bool changing, SecondPassCounts& counts) {
  if (changing) {
    second_pass_points<true>(reader, sink, filter, ignore, changes, counts);
  } else {
    second_pass_points<false>(reader, sink, filter, ignore, changes, counts);
  }
}

// Point output when the filter marked its survivors in the first pass: only
// the marked points are read, in order, the reader seeking over the others,
// and each is still asked about, for its cell and as a check. False when the
// input no longer gives the points of the first pass there.
template <bool changing, class Sink>
static bool second_pass_marked(LASreader* reader, Sink& sink, PointFilterInterface* filter,
                               const std::vector<U64>& marks, const SurvivorChanges& changes,
                               SecondPassCounts& counts) {
  LASpoint& point = reader->point;
  VoxelIndexAndCenter cell;
  U64 next = 0;  // the point the reader gives next
  for (U64 word = 0; word < marks.size(); word++) {
    for (U64 bits = marks[word]; bits != 0; bits &= bits - 1) {
      const U64 index = (word << 6) + (U64)__builtin_ctzll(bits);
      if (index != next && !reader->seek((I64)index)) return false;
      if (!reader->read_point()) return false;
      next = index + 1;
      const SurvivalDecision decision = filter->isSurvivingPointAndModify(point, cell);
      if (!decision.survives) return false;
      if constexpr (changing) change_survivor(point, decision, cell, changes, counts);
      sink.put(point);
      counts.written++;
    }
  }
  return true;
}

// Whether a second pass over this reader meets exactly the points of the
// first, in the same order, and can seek among them cheaply: a LAS file of
// uncompressed records read as it is, without layers, area, filter,
// transform or ignore rules.
static bool replays_first_pass(const VoxsifterRun& run, LASreader* reader) {
  if (run.options.ilay || reader->has_layers()) return false;
  if (reader->get_filter() || reader->get_transform() || reader->get_ignore()) return false;
  if (reader->get_inside() != LASreader::INSIDE_NONE || reader->get_index() || reader->get_copcindex()) return false;
  const LASreaderLAS* las = dynamic_cast<const LASreaderLAS*>(reader);
  if (las == nullptr || las->get_format() != 1) return false;
  const ByteStreamIn* stream = las->get_stream();
  return stream && stream->isSeekable();
}

// Layer output: every point goes to the layer writer as a changed copy beside
// the point as read; a point that does not survive is marked deleted for the
// deletion layer and handed over unchanged for a marking layer.
static void second_pass_layers(LASreader* reader, LASmodify* modify, LASpointModified& modified,
                               PointFilterInterface* filter, const LASignore* ignore, bool deletion_layer,
                               const SurvivorChanges& changes, SecondPassCounts& counts) {
  LASpoint& point = reader->point;
  VoxelIndexAndCenter cell;
  while (reader->read_point()) {
    static_cast<LASpoint&>(modified) = point;
    if (ignore && ignore->ignore(&point)) {
      if (changes.flatten_all) modified.set_z(changes.flatten_z);
      counts.written++;
    } else {
      const SurvivalDecision decision = filter->isSurvivingPointAndModify(point, cell);
      if (decision.survives) {
        counts.written++;
        change_survivor(modified, decision, cell, changes, counts);
      } else if (deletion_layer) {
        modified.is_deleted = 1;
      }
    }
    modify->write_point(&modified);
    modify->update_inventory(&modified);
  }
}

// Records a reader is asked to lend at a time.
static constexpr U32 RECORDS_AT_ONCE = 4096;

// Where the reader's records hold what the filters read, when they hold it
// as the reader's points would give it.
static std::optional<PointRecordLayout> record_layout(const LASreader* reader) {
  if (reader->point.scaling == nullptr) return std::nullopt;
  std::optional<PointRecordLayout> layout = PointRecordLayout::of(
      reader->header.point_data_format, reader->header.point_data_record_length, *reader->point.scaling);
  if (layout) layout->findAttribute(reader->point, attribute_idx);
  return layout;
}

// Records lent by the reader, where unchanged survivors may go to the sink as
// they lie: the sink writes records of their format and length as it writes
// their points.
template <class Sink>
static bool takes_records_as_read(const LASreader* reader, const Sink& sink) {
  return sink.takes_records(reader->header.point_data_format, reader->header.point_data_record_length);
}

static LASrecordFields fields_of(const PointRecordLayout& layout) {
  return LASrecordFields{layout.record_length, layout.extended, layout.gps_time_at};
}

enum class RecordReplay { DONE, FAILED, NOT_LENT };

// Marked survivors, unchanged, as the reader lends their records: blocks are
// lent from each survivor that the block before did not hold, the others
// skipped by seeking; each survivor is still asked about from its record, as
// a check. NOT_LENT when the reader lends nothing (before anything was
// written).
template <class Sink>
static RecordReplay second_pass_marked_records(LASreader* reader, Sink& sink, PointFilterInterface* filter,
                                               const std::vector<U64>& marks, const PointRecordLayout& layout,
                                               SecondPassCounts& counts) {
  const LASrecordFields fields = fields_of(layout);
  MarkCursor cursor(marks);
  bool lent = false;
  auto check = [&](const U8* record) { return filter->isSurvivingRecord(record, layout); };
  for (U64 start = cursor.peek(); start != MarkCursor::NONE; start = cursor.peek()) {
    if ((I64)start != reader->points_read && !reader->seek((I64)start)) return RecordReplay::FAILED;
    U32 got = 0;
    const U8* records = reader->lend_point_records(RECORDS_AT_ONCE, got);
    if (records == nullptr) return lent ? RecordReplay::FAILED : RecordReplay::NOT_LENT;
    lent = true;
    if (!put_marked_records(sink, cursor, records, start, start + got, fields, check, counts)) {
      return RecordReplay::FAILED;
    }
  }
  return RecordReplay::DONE;
}

template <class Sink>
static bool second_pass_marked(LASreader* reader, Sink& sink, PointFilterInterface* filter,
                               const std::vector<U64>& marks, const SurvivorChanges& changes, bool changing,
                               SecondPassCounts& counts) {
  if (changing) return second_pass_marked<true>(reader, sink, filter, marks, changes, counts);
  const std::optional<PointRecordLayout> layout = record_layout(reader);
  if (layout && takes_records_as_read(reader, sink) && filter->requiresVisit() && filter->decidesRecords()) {
    const RecordReplay replay = second_pass_marked_records(reader, sink, filter, marks, *layout, counts);
    if (replay != RecordReplay::NOT_LENT) return replay == RecordReplay::DONE;
  }
  return second_pass_marked<false>(reader, sink, filter, marks, changes, counts);
}

// First pass: the filter sees every point that the ignore rules do not name,
// as records where the reader lends them and the filter reads them (the
// reader lends none with ignore rules), else as points. Counts the points read.
static I64 first_pass(LASreader* reader, PointFilterInterface* filter, const LASignore* ignore, I64& read) {
  LASpoint& point = reader->point;
  I64 ignored = 0;
  read = 0;
  if (!ignore) {
    const std::optional<PointRecordLayout> layout = record_layout(reader);
    if (layout && filter->visitsRecords(*layout)) {
      U32 got = 0;
      while (const U8* records = reader->lend_point_records(RECORDS_AT_ONCE, got)) {
        filter->visitRecords(records, got, *layout);
        read += got;
      }
    }
  }
  if (ignore) {
    while (reader->read_point()) {
      read++;
      if (ignore->ignore(&point)) {
        ignored++;
      } else {
        filter->visitPoint(point);
      }
    }
  } else {
    while (reader->read_point()) {
      read++;
      filter->visitPoint(point);
    }
  }
  return ignored;
}

// Survivor marks from the records as they lie in the file, for a filter that
// could not keep them in the first pass, so that the writing pass reads only
// the survivors. Leaves the reader at its first point. False when there are
// none; `moved` tells whether the reader was read from then.
static bool scan_survivors(LASreader* reader, PointFilterInterface* filter, std::vector<U64>& marks, bool& moved) {
  moved = false;
  if (!filter->decidesRecords() || reader->points_expected <= 0) return false;
  const std::optional<PointRecordLayout> layout = record_layout(reader);
  if (!layout) return false;
  const U64 expected = (U64)reader->points_expected;
  U64 first = 0;
  U32 got = 0;
  while (const U8* records = reader->lend_point_records(RECORDS_AT_ONCE, got)) {
    if (!moved) marks.assign((expected + 63) / 64, 0);
    moved = true;
    if (got > expected - first) return false;
    filter->markSurvivingRecords(records, got, *layout, first, marks);
    first += got;
  }
  return moved && first == expected && reader->seek(0);
}

// The layer that layer output adds, with the ignore rules of the input as
// values so that ignored points keep what they had.
static bool add_output_layer(VoxsifterRun& run, LASmodify* modify, const LASignore* ignore) {
  const VoxsifterOptions& o = run.options;
  F64 values[64];
  U32 count = 0;
  if (o.classify()) {
    values[count++] = 1.0;
    values[count++] = (F64)o.classify_as;
    values[count++] = 1.0;
  }
  if (ignore) ignore->unparse(count, values);
  const char* description = run.layer_description.c_str();
  const char* input = run.lasreadopener.get_file_name();
  if (o.classify()) {
    if (modify->replace_field("classification", 48, description, (I32)count, values)) return true;
    laserror("adding layer replace classification for '%s'", input);
  } else if (o.withheld) {
    if (modify->replace_field("withheld_flag", 48, description, (I32)count, values)) return true;
    laserror("adding layer replace withheld_flag for '%s'", input);
  } else if (o.keypoint) {
    if (modify->replace_field("keypoint_flag", 48, description, (I32)count, values)) return true;
    laserror("adding layer replace keypoint_flag for '%s'", input);
  } else {
    if (modify->delete_points(48, description, (I32)count, values)) return true;
    laserror("adding layer delete point for '%s'", input);
  }
  return false;
}

// Steps for voxel filtering: the options, or 2 units, tripled when the
// converter says the units are feet.
static void settle_steps(const VoxsifterRun& run, F64& step_xy, F64& step_z) {
  const VoxsifterOptions& o = run.options;
  if (o.step > 0.0) {
    step_xy = o.step;
  } else {
    step_xy = 2.0;
    if (run.geoprojectionconverter.get_ProjLinearUnitsGeoKey(true) > 9001) {
      step_xy = 6.0;
      LASMessage(VERBOSE, "projection VLR shows coordinates are feet. tripling default step_xy to %g", step_xy);
    } else {
      LASMessage(VERBOSE, "using default step_xy of %g", step_xy);
    }
  }
  if (o.step_z > 0.0) {
    step_z = o.step_z;
  } else {
    step_z = 2.0;
    if (run.geoprojectionconverter.get_VerticalUnitsGeoKey(true) != 9001) {
      step_z = 6.0;
      LASMessage(VERBOSE, "projection VLR shows elevation is feet. tripling default step_z to %g", step_z);
    } else {
      LASMessage(VERBOSE, "using default step_z of %g", step_z);
    }
  }
}

// Whether the voxel grid over the header's box gives every coordinate that a
// raw integer of the file stands for a cell of its own; a step so small that
// cells would run out of indices would merge distinct voxels. Reports the
// step that fails.
static bool steps_fit_the_file(const VoxsifterRun& run, const LASheader& h, F64 step_xy, F64 step_z,
                               const std::string& input_name) {
  const F64 scale[3] = {h.x_scale_factor, h.y_scale_factor, h.z_scale_factor};
  const F64 offset[3] = {h.x_offset, h.y_offset, h.z_offset};
  const F64 min[3] = {h.min_x, h.min_y, h.min_z};
  const F64 step[3] = {step_xy, step_xy, step_z};
  for (int a = 0; a < 3; a++) {
    const F64 lo = (F64)I32_MIN * scale[a] + offset[a];
    const F64 hi = (F64)I32_MAX * scale[a] + offset[a];
    if (VoxelGrid::indexes(lo, hi, min[a], step[a])) continue;
    const VoxsifterOptions& o = run.options;
    const char* option = (a < 2) ? (o.step > 0.0 ? "-step" : nullptr) : (o.step_z > 0.0 ? o.step_z_option : nullptr);
    const char* text = (a < 2) ? o.step_text : o.step_z_text;
    if (option && text) {
      laserror("'%s' needs 1 argument: <step size> but '%s' in not a valid step for the coordinates of '%s'", option,
               text, input_name.c_str());
    } else {
      laserror("the default step of %g is too small for the coordinates of '%s'", step[a], input_name.c_str());
    }
    return false;
  }
  return true;
}

// An output never lands on a file of the run: an input, whether still to be
// read or read already, or an output written before. It is refused whatever
// the halting setting; with halting off only this file is skipped. The entry
// has already reported a -o name equal to the first input. The messages are
// those of the multi-process runner, which refuses the same before it starts.
static bool refuse_output(VoxsifterRun& run, const std::string& input_name) {
  const LASwriteOpener& laswriteopener = run.laswriteopener;
  if (!laswriteopener.writes_file()) return false;
  const char* output = laswriteopener.get_file_name();
  if (const char* input = run.inputs.find(output)) {
    if (!run.identical_reported) {
      laserror("output '%s' for '%s' would overwrite the input '%s'", output, input_name.c_str(), input);
    }
    run.identical_reported = false;
    return true;
  }
  const char* earlier_input = nullptr;
  if (run.outputs_written.find(output, &earlier_input)) {
    laserror("output '%s' for '%s' would overwrite the output for '%s'", output, input_name.c_str(), earlier_input);
    return true;
  }
  return false;
}

// Closes the reader and opens the same input for the next pass: a layered
// reader is made anew with its layers, any other is reopened in place. False
// after an error; the reader is gone then.
static bool reopen_for_pass(VoxsifterRun& run, LASreaderOwner& reader, const std::string& input_name) {
  reader->close(true);
  if (reader->has_layers()) {
    delete reader.release();  // closed above
    reader.reset(run.lasreadopener.open(input_name.c_str()));
    if (!reader) {
      laserror("could not re-open modified lasreader");
      return false;
    }
    reader = apply_layers(run, std::move(reader), true);
    return true;
  }
  if (!run.lasreadopener.reopen(reader.get(), run.options.remain_buffered)) {
    laserror("could not re-open lasreader");
    delete reader.release();  // closed above
    return false;
  }
  return true;
}

// Point output of a filter that decides without a first pass (every n-th,
// random n-th), and of one that learned the file but could not keep survivor
// marks: where the reader lends its records, the filter decides a block of
// them at once and only the survivors are read as points, the reader stepping
// back to each inside its buffer; unchanged survivors go out as the records
// lent where the sink takes them. A filter that learned the file is asked
// again about each survivor read back, for its cell and count. What it does
// not lend (compressed records, the end of a file cut short, ignore rules) and
// inputs that cannot step back (pipes) go point by point, the filter going on
// where it stood. False when a survivor cannot be read back.
template <bool changing, class Sink>
static bool second_pass_lent(LASreader* reader, Sink& sink, PointFilterInterface* filter,
                             const SurvivorChanges& changes, SecondPassCounts& counts) {
  const ByteStreamIn* stream = reader->get_stream();
  const std::optional<PointRecordLayout> layout = record_layout(reader);
  if (stream && stream->isSeekable() && layout && filter->decidesRecords()) {
    LASpoint& point = reader->point;
    const bool learned = filter->requiresVisit();
    SurvivalDecision kept;
    kept.survives = true;
    VoxelIndexAndCenter cell;  // the filters without a first pass leave it alone
    std::vector<U64> marks(RECORDS_AT_ONCE / 64);
    // Unchanged survivors go out as they lie.
    const bool as_read = !changing && takes_records_as_read(reader, sink);
    U32 got = 0;
    for (;;) {
      const I64 first = reader->points_read;
      const U8* records = reader->lend_point_records(RECORDS_AT_ONCE, got);
      if (records == nullptr) break;
      std::fill(marks.begin(), marks.end(), 0);
      filter->markSurvivingRecords(records, got, *layout, 0, marks);
      if (as_read) {
        MarkCursor cursor(marks);
        auto kept_all = [](const U8*) { return true; };
        put_marked_records(sink, cursor, records, 0, got, fields_of(*layout), kept_all, counts);
        continue;
      }
      const I64 end = first + got;
      I64 next = end;  // the point the reader gives next
      for (U64 word = 0; word < marks.size(); word++) {
        for (U64 bits = marks[word]; bits != 0; bits &= bits - 1) {
          const I64 index = first + (I64)((word << 6) + (U64)__builtin_ctzll(bits));
          if (index != next && !reader->seek(index)) return false;
          if (!reader->read_point()) return false;
          next = index + 1;
          if constexpr (changing) {
            SurvivalDecision decision = kept;
            if (learned) {
              decision = filter->isSurvivingPointAndModify(point, cell);
              if (!decision.survives) return false;
            }
            change_survivor(point, decision, cell, changes, counts);
          }
          sink.put(point);
          counts.written++;
        }
      }
      // Lending goes on after the block: its last record is read over (a
      // seek cannot go to the end of the points).
      if (next != end && (!reader->seek(end - 1) || !reader->read_point())) return false;
    }
  }
  second_pass_points<changing>(reader, sink, filter, reader->get_ignore(), changes, counts);
  return true;
}

template <class Sink>
static bool second_pass_lent(LASreader* reader, Sink& sink, PointFilterInterface* filter,
                             const SurvivorChanges& changes, bool changing, SecondPassCounts& counts) {
  return changing ? second_pass_lent<true>(reader, sink, filter, changes, counts)
                  : second_pass_lent<false>(reader, sink, filter, changes, counts);
}

// Counts, counts by return, bounds and GPS range of what the writing pass will
// write, for an output whose header cannot be corrected afterwards. A filter
// that learned the file in a first pass answers the same again, by the
// survivor marks where the writing pass goes by them; one that decides as it
// goes (every n-th, random n-th) is made afresh with the same seed, so that it
// repeats its decisions. False when the marked points were not there.
static bool count_survivors(VoxsifterRun& run, LASreader* reader, PointFilterInterface* filter,
                            const std::vector<U64>* marks, bool counting, F64 step_xy, F64 step_z,
                            const SurvivorChanges& changes, bool changing, LASinventory& inventory) {
  const VoxsifterOptions& o = run.options;
  LASMessage(VERY_VERBOSE, "Counting the surviving points for a header that is written before them.");
  InventorySink sink{inventory, !o.marking()};
  SecondPassCounts counts;
  if (!filter->requiresVisit()) {
    std::unique_ptr<PointFilterInterface> fresh = choose_point_filter(o, counting, step_xy, step_z, *reader);
    if (o.seed) fresh->setSeed(*o.seed);
    return second_pass_lent(reader, sink, fresh.get(), changes, changing, counts);
  }
  if (marks) {
    return second_pass_marked(reader, sink, filter, *marks, changes, changing, counts);
  }
  second_pass_points(reader, sink, filter, reader->get_ignore(), changes, changing, counts);
  return true;
}

// The header written first then tells the truth: point formats above 5 keep
// their legacy counts at 0 where the extended counts carry the points, as the
// writer's own correction would.
static void set_counts_and_bounds(LASheader& header, const LASinventory& inventory) {
  inventory.update_header(&header);
  if ((header.point_data_format & 0x7F) > 5 && header.version_minor >= 4) {
    header.number_of_point_records = 0;
    for (U32& count : header.number_of_points_by_return) count = 0;
  }
}

// One input file on its way through the steps below. The output header is
// declared before the reader so that it outlives it: the reader's point links
// to the attribute arrays that the header takes over. The layer writer and
// the changed copy it records are declared after the reader, which they
// borrow.
struct FileThinning {
  explicit FileThinning(VoxsifterRun& run) : run(run), o(run.options), layer_output(run.options.olay) {}

  VoxsifterRun& run;
  const VoxsifterOptions& o;
  const bool layer_output;
  F64 file_start = 0.0;
  F64 pass_start = 0.0;
  std::string input_name;
  F64 step_xy = 0.0;
  F64 step_z = 0.0;
  bool counting = false;
  LASheader header;
  std::unique_ptr<PointFilterInterface> filter;
  LASreaderOwner reader;
  // Survivor marks are asked for before the first pass; the second pass goes
  // by them only when it provably reads the points of the first (replayed),
  // kept in the first pass (marked) or taken from the records (scanned).
  // Where the first pass could not keep them, the writing pass decides each
  // point from its record as it reads it (decided_as_read), and only a header
  // written first, whose counts come before that pass, has them scanned.
  bool replayed = false;
  bool marked = false;
  const std::vector<U64>* marks = nullptr;
  bool decided_as_read = false;
  std::vector<U64> scanned;
  SurvivorChanges changes;
  bool changing = false;
  // An output that cannot be corrected afterwards gets a true header first.
  bool header_first = false;
  std::unique_ptr<LASpointModified> modified;  // layer output only
  LASmodify* modify = nullptr;                 // layer output only: the writer below
  std::unique_ptr<LASwriter> writer;
  SecondPassCounts counts;
};

// Everything made for a file that is skipped before its second pass.
static void skip_file(FileThinning& f) {
  f.modified.reset();
  f.reader.reset();
  f.run.laswriteopener.set_file_name(nullptr);
  f.filter.reset();
}

// Opens the input and refuses what cannot be thinned into it. False when the
// file is skipped.
static bool open_input(FileThinning& f) {
  LASreadOpener& lasreadopener = f.run.lasreadopener;
  f.file_start = taketime();
  lasreadopener.set_populate_header(true);
  f.reader.reset(lasreadopener.open());
  if (!f.reader) {
    laserror("could not open lasreader");
    return false;
  }
  f.input_name = lasreadopener.get_file_name() ? lasreadopener.get_file_name() : "";
  if (!f.layer_output && refuse_output(f.run, f.input_name)) {
    skip_file(f);
    return false;
  }
  f.run.identical_reported = false;
  // Records described by items that form no LAS point format would go out
  // under a format byte that no LAS reader knows.
  Vembra* items = f.reader->header.compressor.get();
  if (!f.layer_output && items && !items->is_standard()) {
    laserror("the point records of '%s' form no LAS point format", f.input_name.c_str());
    skip_file(f);
    return false;
  }
  if (f.o.ilay) f.reader = apply_layers(f.run, std::move(f.reader), false);

  if (f.reader->points_expected > (I64)U32_MAX) {
    LASMessage(ERROR, "Way too many points in source file '%s'", f.input_name.c_str());
    las_support_contact();
    if (do_halt_on_error()) byebye();
  }
  return true;
}

// The grid steps, and the checks of the options against each other that
// come with the first pass. False when the steps do not fit the file, which
// is then skipped.
static bool settle_options(FileThinning& f) {
  const VoxsifterOptions& o = f.o;
  if (!o.every_nth && !o.random_nth) settle_steps(f.run, f.step_xy, f.step_z);

  LASMessage(VERBOSE, "processing %lld points", (long long)f.reader->points_expected);
  f.pass_start = taketime();

  if (o.every_nth && *o.every_nth > 0 && (o.step > 0.0 || o.step_z > 0.0)) {
    laserror(
        "Cannot remove every 'mod' time and at the same time comply with step specification. Only use either method");
  }
  LASMessage(VERBOSE, "first pass reading %lld points ...", (long long)f.reader->points_expected);
  if (o.selection_count() > 1) {
    laserrorm(
        "Only specify one of the following flags: return_min, return_max, attribute_max, attribute_min, "
        "intensity_min, intensity_max, highest, lowest, closest, random_occurrence");
  }
  f.counting = o.counting();
  if (f.counting && (o.every_nth || o.random_nth)) {
    laserrorm("Cannot count bytes when using '-every_nth' or '-random_nth'");
    f.counting = false;
  }
  if (o.seed && !o.random_nth && !o.random_cell_occurrence) {
    LASMessage(WARNING, "Setting a seed without using a random flag is without effect.");
  }

  if (!o.every_nth && !o.random_nth &&
      !steps_fit_the_file(f.run, f.reader->header, f.step_xy, f.step_z, f.input_name)) {
    skip_file(f);
    return false;
  }
  return true;
}

// The filter of the file, seeded. Survivor marks let the second pass read
// only the survivors; they serve point output of inputs that the second pass
// reads exactly as the first.
static void make_filter(FileThinning& f) {
  f.filter = choose_point_filter(f.run.options, f.counting, f.step_xy, f.step_z, *f.reader);
  if (f.o.seed) f.filter->setSeed(*f.o.seed);
  f.replayed = !f.layer_output && f.filter->requiresVisit() && replays_first_pass(f.run, f.reader.get());
  f.marked = f.replayed && f.filter->markSurvivors();
}

// The first pass for a filter that learns the file before it decides, with
// its report. `pass_start` restarts when it ends. False when it did not see
// every point the header claims (a short file, an exception): marks kept
// then do not stand for the file.
static bool learn_the_file(LASreader* reader, PointFilterInterface* filter, const std::string& input_name,
                           F64& pass_start) {
  bool complete = true;
  try {
    if (filter->requiresVisit()) {
      LASMessage(VERY_VERBOSE, "Visiting all points for making a survival decision.");
      I64 read = 0;
      const I64 ignored = first_pass(reader, filter, reader->get_ignore(), read);
      // A file that gave fewer points than its header claims is read in full
      // again, so that the second pass reports it too.
      complete = read == reader->points_expected;
      LASMessage(VERBOSE, "took %g sec.", taketime() - pass_start);
      pass_start = taketime();
      // A header box that misses points is worth a warning; points that a
      // transform moved out of it are expected.
      if (filter->numOfPointsOutsideBox() > 0) {
        LASMessage(reader->get_transform() ? VERBOSE : WARNING,
                   "%llu points of '%s' lie outside the bounding box of its header. their voxels continue the grid "
                   "beyond it",
                   (unsigned long long)filter->numOfPointsOutsideBox(), input_name.c_str());
      }
      LASMessage(VERY_VERBOSE, "Marked %zu points for survival", (size_t)filter->numOfSurvivingPoints());
      if (ignored > 0) {
        LASMessage(VERY_VERBOSE, "ignored %lld points (that will also survive) and marked %zu points for survival",
                   (long long)ignored, (size_t)filter->numOfSurvivingPoints());
      }
    }
  } catch (const std::exception& e) {
    complete = false;
    laserrorm("Unexpected exception: %s", e.what());
  } catch (...) {
    complete = false;
    laserrorm("Unknown exception occurred.");
  }
  return complete;
}

// The marks the second pass goes by, or null when it has to ask about every
// point: the marks were not kept, or the reopened input may not give the
// points of the first pass in their order.
static const std::vector<U64>* decide_marks(const VoxsifterRun& run, LASreader* reader,
                                            const PointFilterInterface* filter, bool marked, I64 first_pass_points) {
  if (marked && replays_first_pass(run, reader) && reader->points_expected == first_pass_points) {
    return filter->survivorMarks();
  }
  return nullptr;
}

// Without marks from the first pass, where the reopened input replays it,
// the writing pass decides the points from their records as it reads them.
static void decide_as_read(FileThinning& f, I64 first_pass_points) {
  f.decided_as_read = !f.marks && f.replayed && replays_first_pass(f.run, f.reader.get()) &&
                      f.reader->points_expected == first_pass_points;
}

// A header written first needs the survivors counted before they are written:
// marks from the records, so that the count and the writing pass read only the
// survivors instead of deciding every point twice. A scan that did not finish
// leaves the reader somewhere: it is opened again, and both passes ask about
// every point. False when that fails.
static bool scan_for_marks(FileThinning& f) {
  if (!f.decided_as_read) return true;
  f.decided_as_read = false;
  bool moved = false;
  if (scan_survivors(f.reader.get(), f.filter.get(), f.scanned, moved)) {
    f.marks = &f.scanned;
    return true;
  }
  std::vector<U64>().swap(f.scanned);
  return !moved || reopen_for_pass(f.run, f.reader, f.input_name);
}

// The output header takes over the input header's records and names this
// tool; the changes of the survivors are fixed with it.
static void build_output_header(FileThinning& f) {
  const VoxsifterOptions& o = f.o;
  f.header.take_over(f.reader->header);
  strncpy_las(f.header.system_identifier, sizeof(f.header.system_identifier), SYSTEM_IDENTIFIER);
  strncpy_las(f.header.generating_software, sizeof(f.header.generating_software), GENERATING_SOFTWARE);

  SurvivorChanges& changes = f.changes;
  changes.count_to_user_byte = f.counting && o.count_to_user_byte;
  changes.count_to_intensity = f.counting && o.count_to_intensity;
  changes.use_cell_center = o.use_cell_center;
  changes.flatten = o.flatten_points;
  changes.flatten_all = o.flatten_all_points;
  changes.flatten_z = (f.reader->header.max_z + f.reader->header.min_z) * 0.5;
  changes.keypoint = o.keypoint;
  changes.withheld = o.withheld;
  // The classification layer classifies for layer output; point output does it here.
  changes.classify_as = f.layer_output ? -1 : o.classify_as;
  f.changing = changes.count_to_user_byte || changes.count_to_intensity || changes.use_cell_center || changes.flatten ||
               o.marking();
}

// The points that the writing pass goes by were not all there to be read.
static void report_incomplete(const FileThinning& f) {
  const char* output = f.run.laswriteopener.get_file_name();
  laserror("the second pass over '%s' did not give the points of the first; '%s' is incomplete",
           f.input_name.c_str(), output ? output : "stdout");
}

// Point output: the output's name and its refusals, the projection of the
// command line, a header made true before the points where the output cannot
// be corrected afterwards, and the writer, which drops the points marked
// deleted unless the run marks survivors. False without a writer.
static bool open_point_output(FileThinning& f) {
  LASwriteOpener& laswriteopener = f.run.laswriteopener;
  if (!laswriteopener.active() && !laswriteopener.make_file_name(f.input_name.c_str(), -1)) return false;
  if (refuse_output(f.run, f.input_name)) return false;
  if (f.run.geo_keys_obtained) {
    voxsifter_add_geo_keys(f.header, f.run.number_of_keys, f.run.geo_keys, f.run.num_geo_double_params,
                           f.run.geo_double_params);
  }
  f.header_first = !laswriteopener.can_update_header();
  if (f.header_first) {
    if (!scan_for_marks(f)) return false;
    LASinventory inventory;
    if (!count_survivors(f.run, f.reader.get(), f.filter.get(), f.marks, f.counting, f.step_xy, f.step_z, f.changes,
                         f.changing, inventory)) {
      report_incomplete(f);
      return false;
    }
    if (!reopen_for_pass(f.run, f.reader, f.input_name)) return false;
    // The writing pass meets the survivors in the order the count met them.
    f.filter->restartSecondPass();
    set_counts_and_bounds(f.header, inventory);
  }
  f.writer.reset(laswriteopener.open(&f.header));
  if (f.writer && !f.o.marking()) {
    auto deleting = std::make_unique<LASwriterDeleted>();
    // The deleting writer owns the plain one once it is open.
    if (deleting->open(f.writer.get())) {
      (void)f.writer.release();
      f.writer = std::move(deleting);
    }
  }
  if (!f.writer) laserror("could not open laswriter");
  return f.writer != nullptr;
}

// Layer output: the layer writer, which records the changed copy of each
// point beside the point as read. False when it cannot be opened.
static bool open_layer_output(FileThinning& f) {
  const VoxsifterOptions& o = f.o;
  f.modified = std::make_unique<LASpointModified>();
  const LASpoint& point = f.reader->point;
  if (point.num_items) {
    f.modified->init(point.scaling, point.attribute_table, point.num_items, point.items);
  }
  f.modified->original = &f.reader->point;
  auto modify = std::make_unique<LASmodify>(&f.header);
  if (!add_output_layer(f.run, modify.get(), f.reader->get_ignore())) return false;
  modify->add_directory(o.ilay ? o.ilay_directory : o.olay_directory);
  if (!modify->open(f.input_name.c_str(), f.reader.get(), o.ilay, false, 65536)) {
    laserror("opening lasmodify file for '%s'", f.input_name.c_str());
    return false;
  }
  f.modify = modify.get();
  f.writer = std::move(modify);
  return true;
}

// The writer of the file. Without one the file is skipped (false).
static bool open_output(FileThinning& f) {
  const bool opened = f.layer_output ? open_layer_output(f) : open_point_output(f);
  if (!opened) skip_file(f);
  return opened;
}

// Second pass: the survivors, changed, go to the writer; layer output hands
// over every point.
static void write_survivors(FileThinning& f, LASreader* reader, PointFilterInterface* filter) {
  const SurvivorChanges& changes = f.changes;
  SecondPassCounts& counts = f.counts;
  if (f.layer_output) {
    second_pass_layers(reader, f.modify, *f.modified, filter, reader->get_ignore(), !f.o.marking(), changes, counts);
  } else if (f.marks) {
    WriterSink sink{f.writer.get()};
    if (!second_pass_marked(reader, sink, filter, *f.marks, changes, f.changing, counts)) report_incomplete(f);
  } else if (!filter->requiresVisit() || f.decided_as_read) {
    WriterSink sink{f.writer.get()};
    if (!second_pass_lent(reader, sink, filter, changes, f.changing, counts)) report_incomplete(f);
  } else {
    WriterSink sink{f.writer.get()};
    second_pass_points(reader, sink, filter, reader->get_ignore(), changes, f.changing, counts);
  }
}

// Corrects the header from what was written, reports the counts, and closes
// the output and the input.
static void finish_output(FileThinning& f) {
  const VoxsifterOptions& o = f.o;
  const SecondPassCounts& counts = f.counts;
  // Counts and bounds come from what was written, marked points included; a
  // layer writer keeps the input's header when it marks, and a header written
  // first is already true.
  if (f.layer_output ? !o.marking() : !f.header_first) f.writer->update_header(&f.header, true, false);
  if (counts.overflow > 0) {
    if (o.count_to_user_byte) {
      LASMessage(VERY_VERBOSE,
                 "For %zu cells there were too many counts per cell in order to write it to the user-byte. These "
                 "counts were truncated at %zu. Try using -count_to_intensity.",
                 (size_t)counts.overflow, (size_t)255);
    }
    LASMessage(VERY_VERBOSE, "For %zu cells it came to a count overflow.", (size_t)counts.overflow);
  }
  if (counts.centre_not_held > 0) {
    LASMessage(WARNING, "%llu points of '%s' stay where they were: the scale and offset cannot hold their cell centre",
               (unsigned long long)counts.centre_not_held, f.input_name.c_str());
  }
  LASMessage(VERBOSE, "Writing %zu points...", (size_t)counts.written);
  if (counts.densest_known) {
    LASMessage(VERBOSE, "Highest point density in a single cell is %zu points per cell.", (size_t)counts.densest);
  }
  f.writer->close(true);
  f.modify = nullptr;
  f.writer.reset();
  f.modified.reset();
  f.reader.reset();
  LASwriteOpener& laswriteopener = f.run.laswriteopener;
  if (laswriteopener.writes_file()) f.run.outputs_written.add(laswriteopener.get_file_name(), f.input_name);
}

// The closing report of the file, and what the next file starts without.
static void report_done(FileThinning& f) {
  const VoxsifterOptions& o = f.o;
  LASwriteOpener& laswriteopener = f.run.laswriteopener;
  LASMessage(VERY_VERBOSE, "took %g sec.", taketime() - f.pass_start);
  // Without a file name the output went to the standard output or a layer file.
  std::string shown;
  if (laswriteopener.get_file_name()) {
    shown = laswriteopener.get_file_name();
  } else if (f.layer_output) {
    shown = las_layer_file_name(f.input_name.c_str(), o.ilay ? o.ilay_directory : o.olay_directory);
  } else {
    shown = "stdout";
  }
  LASMessage(INFO, "done with '%s'. total time %g sec.", shown.c_str(), taketime() - f.file_start);
  if (!f.run.geo_keys_obtained) f.run.geoprojectionconverter.reset_projection(true);
  laswriteopener.set_file_name(nullptr);
  f.header.clean();
  f.filter.reset();
}

void voxsifter_thin_next_file(VoxsifterRun& run) {
  FileThinning f(run);
  if (!open_input(f) || !settle_options(f)) return;
  make_filter(f);
  const bool complete = learn_the_file(f.reader.get(), f.filter.get(), f.input_name, f.pass_start);
  f.replayed = f.replayed && complete;
  f.marked = f.marked && complete;
  const I64 first_pass_points = f.reader->points_expected;
  // A failed reopen leaves the output name to the next file.
  if (!reopen_for_pass(run, f.reader, f.input_name)) return;
  f.marks = decide_marks(run, f.reader.get(), f.filter.get(), f.marked, first_pass_points);
  decide_as_read(f, first_pass_points);
  build_output_header(f);
  if (!open_output(f)) return;
  write_survivors(f, f.reader.get(), f.filter.get());
  finish_output(f);
  report_done(f);
}
