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
#include "tool/modulusfilter.hpp"
#include "tool/pointfilter.hpp"
#include "tool/voxelgrid.hpp"

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
static LASreader* apply_layers(VoxsifterRun& run, LASreader* reader, bool again) {
  LASapply* lasapply = new LASapply(&run.lasreadopener);
  lasapply->add_directory(run.options.ilay_directory);
  if (!lasapply->open(run.lasreadopener.get_file_name(), reader, 65536)) {
    LASMessage(WARNING, again ? "could not re-open LAY file ... skipping" : "could not open LAY file ... skipping");
    delete lasapply;
    return reader;
  }
  if (!lasapply->load_layers(run.options.ilay_count)) {
    LASMessage(WARNING, again ? "could not re-load layers ... skipping" : "could not load layers ... skipping");
    delete lasapply;
    return reader;
  }
  return lasapply;
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
// the deleting writer would drop.
struct WriterSink {
  LASwriter* writer;
  void put(const LASpoint& point) {
    writer->write_point(&point);
    writer->update_inventory(&point);
  }
};

struct InventorySink {
  LASinventory& inventory;
  bool drop_deleted;
  void put(const LASpoint& point) {
    if (drop_deleted && point.is_deleted) return;
    inventory.add(&point);
  }
};

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

// First pass: the filter sees every point that the ignore rules do not name.
// Counts the points read.
static I64 first_pass(LASreader* reader, PointFilterInterface* filter, const LASignore* ignore, I64& read) {
  LASpoint& point = reader->point;
  I64 ignored = 0;
  read = 0;
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

// The filter of this file: counting asks for a voxel filter; otherwise an n-th
// option a modulus filter (every n-th wins over random n-th).
static PointFilterInterface* choose_filter(const VoxsifterRun& run, bool counting, F64 step_xy, F64 step_z,
                                           const LASreader& reader) {
  const VoxsifterOptions& o = run.options;
  if (counting) return make_point_filter(o, step_xy, step_z, reader);
  if (o.every_nth) return new ModulusFilter<false>(*o.every_nth);
  if (o.random_nth) return new ModulusFilter<true>(*o.random_nth);
  return make_point_filter(o, step_xy, step_z, reader);
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
// reader is made anew with its layers, any other is reopened in place. Null
// after an error; the reader is gone then.
static LASreader* reopen_for_pass(VoxsifterRun& run, LASreader* reader, const std::string& input_name) {
  reader->close(true);
  if (reader->has_layers()) {
    delete reader;
    reader = run.lasreadopener.open(input_name.c_str());
    if (reader == nullptr) {
      laserror("could not re-open modified lasreader");
      return nullptr;
    }
    return apply_layers(run, reader, true);
  }
  if (!run.lasreadopener.reopen(reader, run.options.remain_buffered)) {
    laserror("could not re-open lasreader");
    delete reader;
    return nullptr;
  }
  return reader;
}

// Counts, counts by return, bounds and GPS range of what the writing pass will
// write, for an output whose header cannot be corrected afterwards. A filter
// that learned the file in a first pass answers the same again; one that
// decides as it goes (every n-th, random n-th) is made afresh with the same
// seed, so that it repeats its decisions.
static void count_survivors(VoxsifterRun& run, LASreader* reader, PointFilterInterface* filter, bool counting,
                            F64 step_xy, F64 step_z, const SurvivorChanges& changes, bool changing,
                            LASinventory& inventory) {
  const VoxsifterOptions& o = run.options;
  std::unique_ptr<PointFilterInterface> fresh;
  if (!filter->requiresVisit()) {
    fresh.reset(choose_filter(run, counting, step_xy, step_z, *reader));
    if (o.seed) fresh->setSeed(*o.seed);
    filter = fresh.get();
  }
  LASMessage(VERY_VERBOSE, "Counting the surviving points for a header that is written before them.");
  InventorySink sink{inventory, !o.marking()};
  SecondPassCounts counts;
  second_pass_points(reader, sink, filter, reader->get_ignore(), changes, changing, counts);
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

// Everything made for a file that is skipped before its second pass.
static void skip_file(VoxsifterRun& run, LASreader* reader, PointFilterInterface* filter) {
  if (reader) {
    reader->close(true);
    delete reader;
  }
  run.laswriteopener.set_file_name(nullptr);
  delete filter;
}

void voxsifter_thin_next_file(VoxsifterRun& run) {
  const VoxsifterOptions& o = run.options;
  LASreadOpener& lasreadopener = run.lasreadopener;
  LASwriteOpener& laswriteopener = run.laswriteopener;
  const bool layer_output = o.olay;

  const F64 file_start = taketime();
  lasreadopener.set_populate_header(true);
  LASreader* reader = lasreadopener.open();
  if (reader == nullptr) {
    laserror("could not open lasreader");
    return;
  }
  const std::string input_name = lasreadopener.get_file_name() ? lasreadopener.get_file_name() : "";
  if (!layer_output && refuse_output(run, input_name)) {
    skip_file(run, reader, nullptr);
    return;
  }
  run.identical_reported = false;
  // Records described by items that form no LAS point format would go out
  // under a format byte that no LAS reader knows.
  Vembra* items = reader->header.compressor;
  if (!layer_output && items && !items->is_standard()) {
    laserror("the point records of '%s' form no LAS point format", input_name.c_str());
    skip_file(run, reader, nullptr);
    return;
  }
  if (o.ilay) reader = apply_layers(run, reader, false);

  if (reader->points_expected > (I64)U32_MAX) {
    LASMessage(ERROR, "Way too many points in source file '%s'", input_name.c_str());
    las_support_contact();
    if (do_halt_on_error()) byebye();
  }

  F64 step_xy = 0.0, step_z = 0.0;
  if (!o.every_nth && !o.random_nth) settle_steps(run, step_xy, step_z);

  LASMessage(VERBOSE, "processing %lld points", (long long)reader->points_expected);
  F64 pass_start = taketime();

  if (o.every_nth && *o.every_nth > 0 && (o.step > 0.0 || o.step_z > 0.0)) {
    laserror(
        "Cannot remove every 'mod' time and at the same time comply with step specification. Only use either method");
  }
  LASMessage(VERBOSE, "first pass reading %lld points ...", (long long)reader->points_expected);
  if (o.selection_count() > 1) {
    laserrorm(
        "Only specify one of the following flags: return_min, return_max, attribute_max, attribute_min, "
        "intensity_min, intensity_max, highest, lowest, closest, random_occurrence");
  }
  bool counting = o.counting();
  if (counting && (o.every_nth || o.random_nth)) {
    laserrorm("Cannot count bytes when using '-every_nth' or '-random_nth'");
    counting = false;
  }
  if (o.seed && !o.random_nth && !o.random_cell_occurrence) {
    LASMessage(WARNING, "Setting a seed without using a random flag is without effect.");
  }

  if (!o.every_nth && !o.random_nth && !steps_fit_the_file(run, reader->header, step_xy, step_z, input_name)) {
    skip_file(run, reader, nullptr);
    return;
  }
  PointFilterInterface* filter = choose_filter(run, counting, step_xy, step_z, *reader);
  if (o.seed) filter->setSeed(*o.seed);

  const LASignore* ignore = reader->get_ignore();
  // Survivor marks let the second pass read only the survivors; they serve
  // point output of inputs that the second pass reads exactly as the first.
  bool marked = !layer_output && filter->requiresVisit() && replays_first_pass(run, reader) && filter->markSurvivors();
  try {
    if (filter->requiresVisit()) {
      LASMessage(VERY_VERBOSE, "Visiting all points for making a survival decision.");
      I64 read = 0;
      const I64 ignored = first_pass(reader, filter, ignore, read);
      // A file that gave fewer points than its header claims is read in full
      // again, so that the second pass reports it too.
      marked = marked && read == reader->points_expected;
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
    marked = false;
    laserrorm("Unexpected exception: %s", e.what());
  } catch (...) {
    marked = false;
    laserrorm("Unknown exception occurred.");
  }
  const I64 first_pass_points = reader->points_expected;

  reader = reopen_for_pass(run, reader, input_name);
  if (reader == nullptr) {
    delete filter;
    return;
  }
  ignore = reader->get_ignore();
  const std::vector<U64>* marks = nullptr;
  if (marked && replays_first_pass(run, reader) && reader->points_expected == first_pass_points) {
    marks = filter->survivorMarks();
  }

  // The output header takes over the input header's records; the reader's
  // point still links to the attribute arrays, which now belong to the copy,
  // so the copy is cleaned only after the reader is gone.
  LASheader header;
  header.take_over(reader->header);
  strncpy_las(header.system_identifier, sizeof(header.system_identifier), SYSTEM_IDENTIFIER);
  strncpy_las(header.generating_software, sizeof(header.generating_software), GENERATING_SOFTWARE);

  // What the second pass does to a survivor.
  SurvivorChanges changes;
  changes.count_to_user_byte = counting && o.count_to_user_byte;
  changes.count_to_intensity = counting && o.count_to_intensity;
  changes.use_cell_center = o.use_cell_center;
  changes.flatten = o.flatten_points;
  changes.flatten_all = o.flatten_all_points;
  changes.flatten_z = (reader->header.max_z + reader->header.min_z) * 0.5;
  changes.keypoint = o.keypoint;
  changes.withheld = o.withheld;
  // The classification layer classifies for layer output; point output does it here.
  changes.classify_as = layer_output ? -1 : o.classify_as;
  const bool changing = changes.count_to_user_byte || changes.count_to_intensity || changes.use_cell_center ||
                        changes.flatten || o.marking();

  LASwriter* writer = nullptr;
  LASmodify* modify = nullptr;
  LASpointModified* modified = nullptr;
  // An output that cannot be corrected afterwards gets a true header first.
  bool header_first = false;
  if (!layer_output) {
    if (!laswriteopener.active() && !laswriteopener.make_file_name(input_name.c_str(), -1)) {
      skip_file(run, reader, filter);
      return;
    }
    if (refuse_output(run, input_name)) {
      skip_file(run, reader, filter);
      return;
    }
    if (run.geo_keys_obtained) {
      voxsifter_add_geo_keys(header, run.number_of_keys, run.geo_keys, run.num_geo_double_params,
                             run.geo_double_params);
    }
    header_first = !laswriteopener.can_update_header();
    if (header_first) {
      LASinventory inventory;
      count_survivors(run, reader, filter, counting, step_xy, step_z, changes, changing, inventory);
      reader = reopen_for_pass(run, reader, input_name);
      if (reader == nullptr) {
        skip_file(run, nullptr, filter);
        return;
      }
      ignore = reader->get_ignore();
      set_counts_and_bounds(header, inventory);
    }
    writer = laswriteopener.open(&header);
    if (writer && !o.marking()) {
      LASwriterDeleted* deleting = new LASwriterDeleted();
      if (deleting->open(writer)) {
        writer = deleting;
      } else {
        delete deleting;
      }
    }
    if (writer == nullptr) laserror("could not open laswriter");
  } else {
    modified = new LASpointModified();
    const LASpoint& point = reader->point;
    if (point.num_items) {
      modified->init(point.scaling, point.attribute_table, point.num_items, point.items);
    }
    modified->original = &reader->point;
    modify = new LASmodify(&header);
    if (add_output_layer(run, modify, ignore)) {
      modify->add_directory(o.ilay ? o.ilay_directory : o.olay_directory);
      if (modify->open(input_name.c_str(), reader, o.ilay, false, 65536)) {
        writer = modify;
      } else {
        laserror("opening lasmodify file for '%s'", input_name.c_str());
      }
    }
    if (writer == nullptr) {
      delete modify;
      modify = nullptr;
    }
  }

  if (writer == nullptr) {
    // Nothing to write to: the file is skipped.
    delete modified;
    skip_file(run, reader, filter);
    return;
  }

  // Second pass.
  SecondPassCounts counts;
  if (layer_output) {
    second_pass_layers(reader, modify, *modified, filter, ignore, !o.marking(), changes, counts);
  } else if (marks) {
    WriterSink sink{writer};
    const bool replayed = changing ? second_pass_marked<true>(reader, sink, filter, *marks, changes, counts)
                                   : second_pass_marked<false>(reader, sink, filter, *marks, changes, counts);
    if (!replayed) {
      laserror("the second pass over '%s' did not give the points of the first; '%s' is incomplete",
               input_name.c_str(), laswriteopener.get_file_name() ? laswriteopener.get_file_name() : "stdout");
    }
  } else {
    WriterSink sink{writer};
    second_pass_points(reader, sink, filter, ignore, changes, changing, counts);
  }

  // Counts and bounds come from what was written, marked points included; a
  // layer writer keeps the input's header when it marks, and a header written
  // first is already true.
  if (layer_output ? !o.marking() : !header_first) writer->update_header(&header, true, false);
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
               (unsigned long long)counts.centre_not_held, input_name.c_str());
  }
  LASMessage(VERBOSE, "Writing %zu points...", (size_t)counts.written);
  if (counts.densest_known) {
    LASMessage(VERBOSE, "Highest point density in a single cell is %zu points per cell.", (size_t)counts.densest);
  }
  writer->close(true);
  delete writer;
  delete modified;
  reader->close(true);
  delete reader;
  if (laswriteopener.writes_file()) run.outputs_written.add(laswriteopener.get_file_name(), input_name);

  LASMessage(VERY_VERBOSE, "took %g sec.", taketime() - pass_start);
  // Without a file name the output went to the standard output or a layer file.
  std::string shown;
  if (laswriteopener.get_file_name()) {
    shown = laswriteopener.get_file_name();
  } else if (layer_output) {
    shown = las_layer_file_name(input_name.c_str(), o.ilay ? o.ilay_directory : o.olay_directory);
  } else {
    shown = "stdout";
  }
  LASMessage(INFO, "done with '%s'. total time %g sec.", shown.c_str(), taketime() - file_start);
  if (!run.geo_keys_obtained) run.geoprojectionconverter.reset_projection(true);
  laswriteopener.set_file_name(nullptr);
  header.clean();
  delete filter;
}
