// The read opener's opening part: the parse that hands the arguments on to
// filter, transform and ignore rules after the input options
// (lasreadopener_options.cpp), and the choice, configuration, opening and
// reopening of the readers.
#include "core/lasreadopener.hpp"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/lasreader.hpp"
#include "core/lasreader_las.hpp"
#include "core/lasutility.hpp"
#include "filters/lasfilter.hpp"
#include "filters/lasignore.hpp"
#include "formats/lasreader_asc.hpp"
#include "formats/lasreader_bil.hpp"
#include "formats/lasreader_bin.hpp"
#include "formats/lasreader_dtm.hpp"
#include "formats/lasreader_ply.hpp"
#include "formats/lasreader_qfit.hpp"
#include "formats/lasreader_shp.hpp"
#include "formats/lasreader_txt.hpp"
#include "index/lascopc.hpp"
#include "index/lasindex.hpp"
#include "index/laskdtree.hpp"
#include "index/lasreaderbuffered.hpp"
#include "index/lasreadermerged.hpp"
#include "index/lasreaderpipeon.hpp"
#include "index/lasreaderstored.hpp"
#include "transforms/lastransform.hpp"

LASreadOpener::LASreadOpener() = default;

// The three stay plain public pointers that callers may set; what they hold
// is the opener's.
LASreadOpener::~LASreadOpener() {
  delete filter;
  delete transform;
  delete ignore;
}

namespace {

// Takes what the opener's field holds into an owner, leaving the field empty
// until the owner gives it back.
template <class T>
std::unique_ptr<T> take(T*& field) {
  std::unique_ptr<T> owned(field);
  field = nullptr;
  return owned;
}

// What the field holds, cleaned for a new parse, or a new object.
template <class T>
std::unique_ptr<T> take_cleaned(T*& field) {
  std::unique_ptr<T> owned = take(field);
  if (owned) {
    owned->clean();
  } else {
    owned = std::make_unique<T>();
  }
  return owned;
}

}  // namespace

// ------------------------------------------------------------------ parsing

bool LASreadOpener::parse(int argc, char* argv[], bool parse_ignore, bool suppress_ignore) {
  bool help = false;
  if (!parse_own_options(argc, argv, parse_ignore, suppress_ignore, help)) return false;
  if (help) return true;
  if (!check_neighbors() || !parse_filter(argc, argv) || !parse_transform(argc, argv)) return false;
  // The source ID of each file is put in when the file is opened.
  if (files_are_flightlines != 0 || apply_file_source_ID) point_source_transform()->setPointSource(0);
  return true;
}

// The input options and the ignore rules; `help` when "-h", "-help" or "-hh"
// ended the parse.
bool LASreadOpener::parse_own_options(int argc, char* argv[], bool parse_ignore, bool suppress_ignore, bool& help) {
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "-help") == 0) {
      help = true;
      return true;
    }
    if (strcmp(argv[i], "-hh") == 0) {
      LASfilter().usage();
      LAStransform().usage();
      LASignore().usage();
      usage();
      help = true;
      return true;
    }
    if (strncmp(argv[i], "-ignore_", 8) == 0) {
      if (!parse_ignore_option(i, argc, argv, parse_ignore, suppress_ignore)) return false;
      continue;
    }
    if (!parse_option(i, argc, argv)) return false;
  }
  return true;
}

bool LASreadOpener::parse_ignore_option(int& i, int argc, char* argv[], bool parse_ignore, bool suppress_ignore) {
  if (parse_ignore) {
    std::unique_ptr<LASignore> rules = take(ignore);
    if (!rules) rules = std::make_unique<LASignore>();
    if (!rules->parse(i, argc, argv)) return false;
    ignore = rules.release();
  } else if (!suppress_ignore) {
    LASMessage(WARNING, "this tool does not process '-ignore_xxxx' options");
  }
  return true;
}

// The filter keeps its criteria only when the options gave it any.
bool LASreadOpener::parse_filter(int argc, char* argv[]) {
  std::unique_ptr<LASfilter> parsed = take_cleaned(filter);
  if (!parsed->parse(argc, argv)) return false;
  if (parsed->criteria_count > 0) filter = parsed.release();
  return true;
}

// The transform stays only when the options gave it operations; with
// "-filtered_transform" it takes the filter over.
bool LASreadOpener::parse_transform(int argc, char* argv[]) {
  std::unique_ptr<LAStransform> parsed = take_cleaned(transform);
  if (!parsed->parse(argc, argv)) return false;
  if (parsed->op_count == 0) {
    if (parsed->filtered_transform) {
      LASMessage(WARNING, "no LAStransform specified. '-filtered_transform' has no effect.");
    }
    return true;
  }
  if (parsed->filtered_transform) {
    if (filter) {
      // The filter now chooses the points to transform and drops none; the
      // transform owns it from here.
      parsed->setFilter(take(filter).release());
    } else {
      LASMessage(WARNING, "no LASfilter specified. '-filtered_transform' has no effect.");
    }
  }
  transform = parsed.release();
  return true;
}

// ------------------------------------------------------------------ formats

namespace {

// The plain reader of a format, or its variant that re-quantises to new scale
// factors, offsets or both.
template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<Plain> requantising(LASreadOpener* opener, const F64* s, const F64* o) {
  if (s && o) return std::make_unique<Both>(opener, s[0], s[1], s[2], o[0], o[1], o[2]);
  if (s) return std::make_unique<Rescale>(opener, s[0], s[1], s[2]);
  if (o) return std::make_unique<Reoffset>(opener, o[0], o[1], o[2]);
  return std::make_unique<Plain>(opener);
}

// The LAS and VMB reader by the rescale, reoffset, auto-reoffset and
// offset-adjust settings.
std::unique_ptr<LASreader> construct_las(LASreadOpener& opener) {
  const F64* s = opener.get_scale_factor();
  const F64* o = opener.get_offset();
  const bool has_transform = opener.transform != nullptr;
  std::unique_ptr<LASreaderLAS> reader;
  if (s && !o && (opener.auto_reoffset || opener.offset_adjust)) {
    if (opener.offset_adjust && !opener.auto_reoffset && has_transform) {
      // The transform's offset adjustment takes the new scale factors.
      reader = std::make_unique<LASreaderLAS>(&opener);
    } else {
      reader = std::make_unique<LASreaderLASrescalereoffset>(&opener, s[0], s[1], s[2]);
    }
  } else if (!s && !o && (opener.auto_reoffset || (opener.offset_adjust && !has_transform))) {
    reader = std::make_unique<LASreaderLASreoffset>(&opener);
  } else {
    reader = requantising<LASreaderLAS, LASreaderLASrescale, LASreaderLASreoffset, LASreaderLASrescalereoffset>(
        &opener, s, o);
  }
  reader->set_keep_copc(opener.keep_copc);
  return reader;
}

// The class rule of the formats with re-quantising variants.
template <class Plain, class Rescale, class Reoffset, class Both>
std::unique_ptr<LASreader> construct_foreign(LASreadOpener& opener) {
  const F64* s = opener.get_scale_factor();
  const F64* o = opener.get_offset();
  if (opener.offset_adjust) {
    // The scale is then left to the transform's offset adjustment.
    if (o && opener.transform == nullptr) return std::make_unique<Reoffset>(&opener, o[0], o[1], o[2]);
    return std::make_unique<Plain>(&opener);
  }
  return requantising<Plain, Rescale, Reoffset, Both>(&opener, s, o);
}

std::unique_ptr<LASreader> construct_ply(LASreadOpener& opener) {
  auto reader = std::make_unique<LASreaderPLY>(&opener);
  if (opener.translate_intensity != 0.0f) reader->set_translate_intensity(opener.translate_intensity);
  if (opener.scale_intensity != 1.0f) reader->set_scale_intensity(opener.scale_intensity);
  reader->set_scale_factor(opener.get_scale_factor());
  reader->set_offset(opener.get_offset());
  return reader;
}

void configure_txt(LASreaderTXT* reader, const LASreadOpener& opener) {
  if (opener.ipts) {
    reader->set_pts(true);
  } else {
    if (opener.iptx) reader->set_ptx(true);
    if (opener.iptx_transform) reader->set_ptx_transform(true);
  }
  if (opener.translate_intensity != 0.0f) reader->set_translate_intensity(opener.translate_intensity);
  if (opener.scale_intensity != 1.0f) reader->set_scale_intensity(opener.scale_intensity);
  if (opener.translate_scan_angle != 0.0f) reader->set_translate_scan_angle(opener.translate_scan_angle);
  if (opener.scale_scan_angle != 1.0f) reader->set_scale_scan_angle(opener.scale_scan_angle);
  reader->set_scale_factor(opener.get_scale_factor());
  reader->set_offset(opener.get_offset());
  for (const LASreadOpenerAttribute& a : opener.attributes) {
    reader->add_attribute(a.data_type, a.name.c_str(), a.description.c_str(), a.scale, a.offset, a.pre_scale,
                          a.pre_offset, a.no_data);
  }
}

std::unique_ptr<LASreader> construct_txt(LASreadOpener& opener) {
  auto reader = std::make_unique<LASreaderTXT>(&opener);
  configure_txt(reader.get(), opener);
  return reader;
}

// Opening a reader made by the format's constructor; null when the reader is
// of another class.
using OpenReader = bool (*)(LASreader* reader, const char* name, const LASreadOpener& opener);

bool open_las(LASreader* reader, const char* name, const LASreadOpener& opener) {
  LASreaderLAS* las = dynamic_cast<LASreaderLAS*>(reader);
  return las && las->open(name, (I32)opener.io_ibuffer_size, false, opener.decompress_selective);
}

// The stand-in formats open by name alone, and reopen by name.
template <class Reader>
bool open_by_name(LASreader* reader, const char* name, const LASreadOpener&) {
  Reader* r = dynamic_cast<Reader*>(reader);
  return r && r->open(name);
}

template <class Reader>
bool reopen_by_name(LASreader* reader, const char* name, const LASreadOpener&) {
  Reader* r = dynamic_cast<Reader*>(reader);
  return r && r->reopen(name);
}

bool open_asc(LASreader* reader, const char* name, const LASreadOpener& opener) {
  LASreaderASC* asc = dynamic_cast<LASreaderASC*>(reader);
  return asc && asc->open(name, opener.comma_not_point);
}

bool open_ply(LASreader* reader, const char* name, const LASreadOpener& opener) {
  LASreaderPLY* ply = dynamic_cast<LASreaderPLY*>(reader);
  return ply && ply->open(name, opener.point_type, opener.populate_header);
}

bool open_txt(LASreader* reader, const char* name, const LASreadOpener& opener) {
  LASreaderTXT* txt = dynamic_cast<LASreaderTXT*>(reader);
  return txt &&
         txt->open(name, opener.point_type, opener.get_parse_string(), (I32)opener.skip_lines, opener.populate_header);
}

// What the opener knows of one input format.
struct InputFormat {
  LASreadOpener::InputKind kind;
  // The endings of its names as HasFileExt takes them; none: the format of
  // every name no other format claims.
  const char* extensions[2];
  const char* reader_word;  // the reader in messages
  std::unique_ptr<LASreader> (*construct)(LASreadOpener& opener);
  OpenReader open;
  // Opening once more for another pass; formats without a reopen open again.
  OpenReader reopen;
  // A .lax index next to the file is attached on the first opening.
  bool lax_index;
  // A LAS or VMB file: its own .lax index or COPC hierarchy, its source ID,
  // the COPC queries, the rectangle's precedence among the areas, and the
  // header state a reopen gives back.
  bool las;
};

// In the order of LASreadOpener::InputKind.
constexpr InputFormat INPUT_FORMATS[] = {
    {LASreadOpener::INPUT_LAS, {"las", "vmb"}, "lasreaderlas", construct_las, open_las, open_las, false, true},
    {LASreadOpener::INPUT_BIN,
     {".bin"},
     "lasreaderbin",
     construct_foreign<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset, LASreaderBINrescalereoffset>,
     open_by_name<LASreaderBIN>,
     open_by_name<LASreaderBIN>,
     true,
     false},
    {LASreadOpener::INPUT_SHP,
     {".shp"},
     "lasreadershp",
     construct_foreign<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset, LASreaderSHPrescalereoffset>,
     open_by_name<LASreaderSHP>,
     reopen_by_name<LASreaderSHP>,
     false,
     false},
    {LASreadOpener::INPUT_ASC,
     {".asc"},
     "lasreaderasc",
     construct_foreign<LASreaderASC, LASreaderASCrescale, LASreaderASCreoffset, LASreaderASCrescalereoffset>,
     open_asc,
     reopen_by_name<LASreaderASC>,
     false,
     false},
    {LASreadOpener::INPUT_BIL,
     {".bil"},
     "lasreaderbil",
     construct_foreign<LASreaderBIL, LASreaderBILrescale, LASreaderBILreoffset, LASreaderBILrescalereoffset>,
     open_by_name<LASreaderBIL>,
     reopen_by_name<LASreaderBIL>,
     false,
     false},
    {LASreadOpener::INPUT_DTM,
     {".dtm"},
     "lasreaderdtm",
     construct_foreign<LASreaderDTM, LASreaderDTMrescale, LASreaderDTMreoffset, LASreaderDTMrescalereoffset>,
     open_by_name<LASreaderDTM>,
     reopen_by_name<LASreaderDTM>,
     false,
     false},
    {LASreadOpener::INPUT_PLY, {".ply"}, "lasreaderply", construct_ply, open_ply, open_ply, false, false},
    {LASreadOpener::INPUT_QFIT,
     {".qi"},
     "lasreaderqfit",
     construct_foreign<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset, LASreaderQFITrescalereoffset>,
     open_by_name<LASreaderQFIT>,
     reopen_by_name<LASreaderQFIT>,
     true,
     false},
    {LASreadOpener::INPUT_TXT, {}, "lasreadertxt", construct_txt, open_txt, reopen_by_name<LASreaderTXT>, false, false},
};

constexpr bool in_kind_order() {
  for (size_t k = 0; k < std::size(INPUT_FORMATS); k++) {
    if ((size_t)INPUT_FORMATS[k].kind != k) return false;
  }
  return std::size(INPUT_FORMATS) == (size_t)LASreadOpener::INPUT_TXT + 1;
}
static_assert(in_kind_order(), "one format row per input kind, in the order of the kinds");

const InputFormat& format_of(LASreadOpener::InputKind kind) { return INPUT_FORMATS[kind]; }

}  // namespace

LASreadOpener::InputKind LASreadOpener::input_kind(const char* name) {
  for (const InputFormat& format : INPUT_FORMATS) {
    for (const char* extension : format.extensions) {
      if (extension && HasFileExt(name, extension)) return format.kind;
    }
  }
  return INPUT_TXT;
}

// The caller owns the reader.
LASreader* LASreadOpener::construct_reader(InputKind kind) { return format_of(kind).construct(*this).release(); }

// parse makes this transform for "-faf" and "-apply_file_source_ID"; an opener
// configured through its fields gets it here.
LAStransform* LASreadOpener::point_source_transform() {
  if (transform == nullptr) transform = new LAStransform();
  return transform;
}

U16 LASreadOpener::flightline_source_ID() const {
  return (U16)((I64)files_are_flightlines + file_name_current + files_are_flightlines_index);
}

void LASreadOpener::hand_over(LASreader* reader) {
  if (filter) reader->set_filter(filter);
  if (transform) reader->set_transform(transform);
  reader->set_ignore(ignore);
}

// LAS and VMB files take the rectangle, else the tile, else the circle; every
// other reader was given tile, circle and rectangle in turn, so the last of
// them set is the one in force. Only that one is applied, so that the bounds
// the reader saves (and restores on inside_none) are the input's own.
void LASreadOpener::apply_area(LASreader* reader, bool las_precedence) const {
  if (inside_rectangle) {
    const std::array<F64, 4>& r = *inside_rectangle;
    reader->inside_rectangle(r[0], r[1], r[2], r[3]);
  } else if (inside_tile && (las_precedence || !inside_circle)) {
    reader->inside_tile((*inside_tile)[0], (*inside_tile)[1], (*inside_tile)[2]);
  } else if (inside_circle) {
    reader->inside_circle((*inside_circle)[0], (*inside_circle)[1], (*inside_circle)[2]);
  }
}

// The depth or resolution query of the options stays in force for every file;
// without one a COPC file read without circle or rectangle is read through its
// hierarchy at unlimited depth (for this file only). With `check` a file without
// COPC hierarchy cannot take a query.
bool LASreadOpener::apply_copc_query(LASreader* reader, bool check) const {
  if (copc_query != LASreader::COPC_QUERY_NONE) {
    if (check && reader->get_copcindex() == nullptr) {
      laserror("queries with a depth limit are restrited to COPC files.");
      return false;
    }
    reader->inside_copc_depth(copc_query, max_depth, resolution);
  } else if (reader->get_copcindex() && !inside_circle && !inside_rectangle) {
    reader->inside_copc_depth(LASreader::COPC_QUERY_DEPTH, I32_MAX, 0.0f);
  }
  return true;
}

void LASreadOpener::attach_las_index(LASreader* reader, const char* name, bool reopened) const {
  // A reopened reader keeps the .lax index of its first opening; its COPC
  // index is made anew from the header read again.
  if (!reopened) attach_lax_index(reader, name);
  if (reader->header.copc_info) {
    if (reader->get_index()) {
      LASMessage(WARNING, "both LAX file and COPC spatial indexing registered. COPC has the precedence.");
      reader->set_index(nullptr);
    }
    auto copc_index = std::make_unique<COPCindex>(reader->header);
    copc_index->set_stream_order(copc_stream_order);
    reader->set_copcindex(copc_index.release());  // the reader owns its index
  }
}

void LASreadOpener::adjust_offset_when_transformation(LASreader* reader) {
  if (!offset_adjust || !transform || offset) return;
  transform->adjust_offset(reader, get_scale_factor());
  offset_from_adjustment = offset.has_value();
}

std::unique_ptr<LASreader> LASreadOpener::wrap(std::unique_ptr<LASreader> reader, const char* name, bool from_stdin,
                                               bool store) {
  if (stored || store) {
    auto stored_reader = std::make_unique<LASreaderStored>(this);
    // It owns the reader from now on, even when it fails.
    if (!stored_reader->open(reader.release())) {
      laserror("could not open lasreaderstored with %s", name);
      return nullptr;
    }
    reader = std::move(stored_reader);
  }
  if (pipe_on) {
    auto pipe_reader = std::make_unique<LASreaderPipeOn>(this);
    // The same holds for the reader it pipes on.
    if (!pipe_reader->open(reader.release())) {
      if (from_stdin && strcmp(name, "lasreaderlas") == 0) {
        laserror("cannot open lasreaderpipeon with lasreaderlas from stdin");
      } else {
        laserror("cannot open lasreaderpipeon with %s", name);
      }
      return nullptr;
    }
    reader = std::move(pipe_reader);
  }
  return reader;
}

// The caller owns the reader.
LASreader* LASreadOpener::open(const char* other_name, bool reset_list) {
  return open_next(other_name, reset_list).release();
}

std::unique_ptr<LASreader> LASreadOpener::open_next(const char* other_name, bool reset_list) {
  if (filter) filter->reset();
  if (transform) transform->reset();
  header_after_open.reset();
  // A reopen keeps the adjusted offsets; another file gets its own.
  if (offset_from_adjustment) {
    offset.reset();
    offset_from_adjustment = false;
  }
  const U32 count = input.size();
  if (count > 0) {
    use_stdin = false;
    if (other_name) {
      if (buffer_size > 0.0f && (count > 1 || neighbors.size() > 0)) return open_buffered(other_name, reset_list);
      file_name = std::string(other_name);
      if (reset_list) file_name_current = 0;
      return open_single(other_name);
    }
    if (file_name_current >= count) return nullptr;
    if ((count > 1 && merged) || (count == 1 && merged && input.has_IDs())) return open_merged();
    if (buffer_size > 0.0f && (count > 1 || neighbors.size() > 0)) return open_buffered(nullptr, false);
    file_name = input.names[file_name_current];
    file_name_current++;
    return open_single(file_name->c_str());
  }
  if (other_name) {
    use_stdin = false;
    if (buffer_size > 0.0f && neighbors.size() > 0) return open_buffered(other_name, reset_list);
    file_name = std::string(other_name);
    if (reset_list) file_name_current = 0;
    return open_single(other_name);
  }
  if (use_stdin) return open_stdin();
  return nullptr;
}

std::unique_ptr<LASreader> LASreadOpener::open_single(const char* name) {
  // Every input is opened again for the next pass; a second open of a pipe
  // would wait forever for a writer, so its points are stored instead.
  const bool pipe = las_is_pipe(name);
  const InputFormat& format = format_of(input_kind(name));
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = flightlines ? flightline_source_ID() : 0;
  if (flightlines) point_source_transform()->setPointSource(source_ID);

  std::unique_ptr<LASreader> reader = format.construct(*this);
  if (!format.open(reader.get(), name, *this)) {
    laserror("cannot open %s with file name '%s'", format.reader_word, name);
    return nullptr;
  }
  if (format.las) {
    LASMessage(VERY_VERBOSE, "open file '%s'", name);
    attach_las_index(reader.get(), name);
  } else if (format.lax_index) {
    attach_lax_index(reader.get(), name);
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (format.las && apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  // A PTX scan's own transformation would go in between filter and transform;
  // the transform has no matrix operation yet to carry it.
  hand_over(reader.get());
  apply_area(reader.get(), format.las);
  if (format.las && !apply_copc_query(reader.get(), true)) return nullptr;
  adjust_offset_when_transformation(reader.get());
  if (format.las) header_after_open = HeaderAfterOpen::of(reader->header);
  return wrap(std::move(reader), format.reader_word, false, pipe);
}

// The merged and buffered readers open each of their files more than once: a
// named pipe among them would wait forever for a writer the second time.
static bool refuse_pipes(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (las_is_pipe(name.c_str())) {
      laserror("input '%s' is a pipe that cannot be read twice. save it to a file first.", name.c_str());
      return true;
    }
  }
  return false;
}

std::unique_ptr<LASreader> LASreadOpener::open_merged() {
  if (refuse_pipes(input.names)) return nullptr;
  auto reader = std::make_unique<LASreaderMerged>(this);
  reader->set_scale_factor(get_scale_factor());
  reader->set_offset(get_offset());
  reader->set_parse_string(get_parse_string());
  reader->set_skip_lines((I32)skip_lines);
  reader->set_populate_header(populate_header);
  reader->set_keep_lastiling(keep_lastiling);
  reader->set_translate_intensity(translate_intensity);
  reader->set_scale_intensity(scale_intensity);
  reader->set_translate_scan_angle(translate_scan_angle);
  reader->set_scale_scan_angle(scale_scan_angle);
  reader->set_io_ibuffer_size((I32)io_ibuffer_size);
  reader->set_copc_stream_order(copc_stream_order);
  for (file_name_current = 0; file_name_current < input.size(); file_name_current++) {
    const char* name = input.names[file_name_current].c_str();
    if (input.has_IDs()) {
      reader->add_file_name(name, input.IDs[file_name_current]);
    } else {
      reader->add_file_name(name);
    }
  }
  if (!reader->open()) {
    laserror("cannot open lasreadermerged with %d file names", (I32)input.size());
    return nullptr;
  }
  if (files_are_flightlines) reader->set_files_are_flightlines(files_are_flightlines);
  if (apply_file_source_ID) reader->set_apply_file_source_ID(true);
  // The merged reader puts each file's source ID into this transform.
  if (files_are_flightlines || apply_file_source_ID) point_source_transform();
  hand_over(reader.get());
  apply_area(reader.get(), false);
  apply_copc_query(reader.get(), false);
  return wrap(std::move(reader), "lasreadermerged", false);
}

std::vector<std::string> LASreadOpener::buffered_neighbors(const char* main_name, I64 main_index) {
  std::vector<std::string> found;
  if (main_index < 0) {
    // A name given to open: every other listed name, without bounds.
    for (const std::string& name : input.names) {
      if (name != main_name) found.push_back(name);
    }
    for (const std::string& name : neighbors.names) {
      if (name != main_name) found.push_back(name);
    }
    return found;
  }
  // The main file's rectangle grown by the buffer on every side (unbounded
  // when its bounds are not known).
  F64 query[4] = {-UNBOUNDED, -UNBOUNDED, UNBOUNDED, UNBOUNDED};
  if (input.has_bounds()) {
    query[0] = input.min_x[main_index] - buffer_size;
    query[1] = input.min_y[main_index] - buffer_size;
    query[2] = input.max_x[main_index] + buffer_size;
    query[3] = input.max_y[main_index] + buffer_size;
  }
  auto overlapping = [&query](LASreadOpenerFileList& list, std::unique_ptr<LASkdtreeRectangles>& tree) {
    if (!tree) {
      tree = std::make_unique<LASkdtreeRectangles>();
      tree->init();
      for (U32 k = 0; k < list.size(); k++) tree->add(list.min_x[k], list.min_y[k], list.max_x[k], list.max_y[k]);
    }
    if (!tree->was_built()) tree->build();
    std::vector<U32> indices;
    tree->overlap(query[0], query[1], query[2], query[3]);
    if (tree->has_overlaps()) {
      U32 k;
      while (tree->get_overlap(k)) indices.push_back(k);
    }
    return indices;
  };
  if (input.has_bounds()) {
    for (U32 k : overlapping(input, kdtree_rectangles)) {
      if (k != (U32)main_index) found.push_back(input.names[k]);
    }
  } else {
    for (U32 k = 0; k < input.size(); k++) {
      if (k != (U32)main_index) found.push_back(input.names[k]);
    }
  }
  if (neighbors.has_bounds()) {
    for (U32 k : overlapping(neighbors, neighbor_kdtree_rectangles)) {
      if (neighbors.names[k] != main_name) found.push_back(neighbors.names[k]);
    }
  } else {
    for (const std::string& name : neighbors.names) {
      if (name != main_name) found.push_back(name);
    }
  }
  return found;
}

void LASreadOpener::forget_kdtree(bool is_neighbor) {
  (is_neighbor ? neighbor_kdtree_rectangles : kdtree_rectangles).reset();
}

std::unique_ptr<LASreader> LASreadOpener::open_buffered(const char* other_name, bool reset_list) {
  auto reader = std::make_unique<LASreaderBuffered>(this);
  reader->set_buffer_size(buffer_size);
  reader->set_scale_factor(get_scale_factor());
  reader->set_offset(get_offset());
  reader->set_parse_string(get_parse_string());
  reader->set_skip_lines((I32)skip_lines);
  reader->set_populate_header(populate_header);
  reader->set_translate_intensity(translate_intensity);
  reader->set_scale_intensity(scale_intensity);
  reader->set_translate_scan_angle(translate_scan_angle);
  reader->set_scale_scan_angle(scale_scan_angle);
  std::vector<std::string> neighbor_names;
  if (other_name == nullptr) {
    file_name = input.names[file_name_current];
    neighbor_names = buffered_neighbors(file_name->c_str(), file_name_current);
    file_name_current++;
  } else {
    file_name = std::string(other_name);
    if (reset_list) file_name_current = 0;
    neighbor_names = buffered_neighbors(other_name, -1);
  }
  neighbor_names.push_back(*file_name);
  if (refuse_pipes(neighbor_names)) return nullptr;
  neighbor_names.pop_back();
  reader->set_file_name(file_name->c_str());
  for (const std::string& name : neighbor_names) reader->add_neighbor_file_name(name.c_str());
  hand_over(reader.get());
  if (!reader->open()) {
    laserror("cannot open lasreaderbuffered with %d file names", (I32)(input.size() + neighbors.size()));
    return nullptr;
  }
  apply_area(reader.get(), false);
  return wrap(std::move(reader), "lasreaderbuffered", false);
}

std::unique_ptr<LASreader> LASreadOpener::open_stdin() {
  use_stdin = false;
  populate_header = true;
  // Standard input counts as the first file of a flight-line numbering.
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = (U16)((I64)files_are_flightlines + 1 + files_are_flightlines_index);
  if (flightlines) point_source_transform()->setPointSource(source_ID);
  if (itxt) {
    auto reader = std::make_unique<LASreaderTXT>(this);
    configure_txt(reader.get(), *this);
    if (!reader->open(stdin, nullptr, point_type, get_parse_string(), (I32)skip_lines, false)) {
      laserror("cannot open lasreadertxt from stdin");
      return nullptr;
    }
    if (flightlines) reader->header.file_source_ID = source_ID;
    hand_over(reader.get());
    apply_area(reader.get(), false);
    return wrap(std::move(reader), "lasreadertxt", true);
  }
  // Without the auto-reoffset and offset-adjust rules of files.
  std::unique_ptr<LASreaderLAS> reader =
      requantising<LASreaderLAS, LASreaderLASrescale, LASreaderLASreoffset, LASreaderLASrescalereoffset>(
          this, get_scale_factor(), get_offset());
  reader->set_keep_copc(keep_copc);
  if (!reader->open(stdin, false, LAS_SELECTIVE_ALL)) {
    laserror("cannot open lasreaderlas from stdin ");
    return nullptr;
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  hand_over(reader.get());
  apply_area(reader.get(), false);
  apply_copc_query(reader.get(), false);
  return wrap(std::move(reader), "lasreaderlas", true);
}

// ------------------------------------------------------------------ reopening

bool LASreadOpener::reopen(LASreader* reader, bool keep_buffer) {
  if (reader == nullptr) {
    LASMessage(WARNING, "pointer to LASreader is NULL");
    return false;
  }
  reader->close();
  if (filter) filter->reset();
  if (transform) transform->reset();
  if (pipe_on) reader = piped_reader(reader);
  // A named pipe is stored without "-stored": its reader tells.
  LASreaderStored* stored_reader = dynamic_cast<LASreaderStored*>(reader);
  if (stored || stored_reader) return reopen_stored(stored_reader);
  if (input.size() == 0) {
    laserror("no lasreader input specified");
    return false;
  }
  bool las_file = false;
  if (!reopen_input(reader, keep_buffer, las_file)) return false;
  if (is_inside()) {
    reader->inside_none();
    apply_area(reader, las_file);
  }
  if (las_file || dynamic_cast<LASreaderMerged*>(reader)) apply_copc_query(reader, false);
  // A LAS or VMB file read its header again: it gets back what the first
  // opening put there (flight-line ID, offsets, scales and bounds adjusted to
  // the transform), so that both passes see the same header and points.
  if (las_file && header_after_open) header_after_open->restore(reader->header);
  return true;
}

// The points of a pipe-on reader were piped on in the first pass: only the
// reader it wraps is opened again.
LASreader* LASreadOpener::piped_reader(LASreader* reader) {
  LASreaderPipeOn* pipe_reader = dynamic_cast<LASreaderPipeOn*>(reader);
  if (pipe_reader == nullptr || pipe_reader->get_lasreader() == nullptr) return reader;
  pipe_reader->points_read = 0;
  return pipe_reader->get_lasreader();
}

bool LASreadOpener::reopen_stored(LASreaderStored* reader) {
  if (reader == nullptr || !reader->reopen()) {
    LASMessage(WARNING, "could not reopen lasreaderstored for stored input");
    return false;
  }
  return true;
}

// The reader's own kind decides: a list of one name may have been merged.
// `las_file` when a single LAS or VMB file was opened again.
bool LASreadOpener::reopen_input(LASreader* reader, bool keep_buffer, bool& las_file) {
  if (LASreaderMerged* merged_reader = dynamic_cast<LASreaderMerged*>(reader)) {
    if (!merged_reader->reopen()) {
      LASMessage(WARNING, "cannot reopen lasreadermerged");
      return false;
    }
    return true;
  }
  if (LASreaderBuffered* buffered_reader = dynamic_cast<LASreaderBuffered*>(reader)) {
    if (!buffered_reader->reopen()) {
      laserror("cannot reopen lasreaderbuffered");
      return false;
    }
    if (!keep_buffer) buffered_reader->remove_buffer();
    return true;
  }
  if (!file_name) return false;
  const char* name = file_name->c_str();
  const InputFormat& format = format_of(input_kind(name));
  if (!format.reopen(reader, name, *this)) {
    laserror("cannot reopen %s with file name '%s'", format.reader_word, name);
    return false;
  }
  if (format.las) {
    las_file = true;
    attach_las_index(reader, name, true);
  }
  return true;
}

// The header fields a reopen gives back.
static F64 LASheader::* const HEADER_AFTER_OPEN[12] = {
    &LASheader::x_scale_factor, &LASheader::y_scale_factor, &LASheader::z_scale_factor,
    &LASheader::x_offset,       &LASheader::y_offset,       &LASheader::z_offset,
    &LASheader::min_x,          &LASheader::min_y,          &LASheader::min_z,
    &LASheader::max_x,          &LASheader::max_y,          &LASheader::max_z,
};

LASreadOpener::HeaderAfterOpen LASreadOpener::HeaderAfterOpen::of(const LASheader& header) {
  HeaderAfterOpen kept;
  for (int k = 0; k < 12; k++) kept.values[k] = header.*HEADER_AFTER_OPEN[k];
  kept.file_source_ID = header.file_source_ID;
  return kept;
}

void LASreadOpener::HeaderAfterOpen::restore(LASheader& header) const {
  for (int k = 0; k < 12; k++) header.*HEADER_AFTER_OPEN[k] = values[k];
  header.file_source_ID = file_source_ID;
}
