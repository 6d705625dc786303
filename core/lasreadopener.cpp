// The read opener's opening part: the parse that hands the arguments on to
// filter, transform and ignore rules after the input options
// (lasreadopener_options.cpp), and the choice, configuration, opening and
// reopening of the readers.
#include "core/lasreadopener.hpp"

#include <cstdlib>
#include <cstring>

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

LASreadOpener::~LASreadOpener() {
  delete filter;
  delete transform;
  delete ignore;
}

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
    if (ignore == nullptr) ignore = new LASignore();
    if (!ignore->parse(i, argc, argv)) {
      delete ignore;
      ignore = nullptr;
      return false;
    }
  } else if (!suppress_ignore) {
    LASMessage(WARNING, "this tool does not process '-ignore_xxxx' options");
  }
  return true;
}

// The filter keeps its criteria only when the options gave it any.
bool LASreadOpener::parse_filter(int argc, char* argv[]) {
  if (filter) {
    filter->clean();
  } else {
    filter = new LASfilter();
  }
  if (!filter->parse(argc, argv)) {
    delete filter;
    filter = nullptr;
    return false;
  }
  if (filter->criteria_count == 0) {
    delete filter;
    filter = nullptr;
  }
  return true;
}

// The transform stays only when the options gave it operations; with
// "-filtered_transform" it takes the filter over.
bool LASreadOpener::parse_transform(int argc, char* argv[]) {
  if (transform) {
    transform->clean();
  } else {
    transform = new LAStransform();
  }
  if (!transform->parse(argc, argv)) {
    delete transform;
    transform = nullptr;
    return false;
  }
  if (transform->op_count > 0) {
    if (transform->filtered_transform) {
      if (filter) {
        // The filter now chooses the points to transform and drops none.
        transform->setFilter(filter);
        filter = nullptr;
      } else {
        LASMessage(WARNING, "no LASfilter specified. '-filtered_transform' has no effect.");
      }
    }
  } else {
    if (transform->filtered_transform) LASMessage(WARNING, "no LAStransform specified. '-filtered_transform' has no effect.");
    delete transform;
    transform = nullptr;
  }
  return true;
}

// ------------------------------------------------------------------ opening

LASreadOpener::InputKind LASreadOpener::input_kind(const char* name) {
  if (IsLasVmbFile(name)) return INPUT_LAS;
  if (HasFileExt(name, ".bin")) return INPUT_BIN;
  if (HasFileExt(name, ".shp")) return INPUT_SHP;
  if (HasFileExt(name, ".asc")) return INPUT_ASC;
  if (HasFileExt(name, ".bil")) return INPUT_BIL;
  if (HasFileExt(name, ".dtm")) return INPUT_DTM;
  if (HasFileExt(name, ".ply")) return INPUT_PLY;
  if (HasFileExt(name, ".qi")) return INPUT_QFIT;
  return INPUT_TXT;
}

// The reader's word in messages.
static const char* reader_word(int kind) {
  static const char* const words[] = {"lasreaderlas", "lasreaderbin", "lasreadershp", "lasreaderasc", "lasreaderbil",
                                      "lasreaderdtm", "lasreaderply", "lasreaderqfit", "lasreadertxt"};
  return words[kind];
}

// The class rule of the six formats with re-quantising variants.
template <class Plain, class Rescale, class Reoffset, class Both>
static LASreader* construct_foreign(LASreadOpener* opener, const F64* s, const F64* o, bool offset_adjust,
                                    bool has_transform) {
  if (offset_adjust) {
    // The scale is then left to the transform's offset adjustment.
    if (o && !has_transform) return new Reoffset(opener, o[0], o[1], o[2]);
    return new Plain(opener);
  }
  if (s && o) return new Both(opener, s[0], s[1], s[2], o[0], o[1], o[2]);
  if (s) return new Rescale(opener, s[0], s[1], s[2]);
  if (o) return new Reoffset(opener, o[0], o[1], o[2]);
  return new Plain(opener);
}

static void configure_txt(LASreaderTXT* reader, const LASreadOpener& opener) {
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

LASreader* LASreadOpener::construct_reader(InputKind kind) {
  const F64* s = get_scale_factor();
  const F64* o = get_offset();
  const bool has_transform = transform != nullptr;
  switch (kind) {
    case INPUT_LAS: {
      LASreaderLAS* reader;
      if (s && o) {
        reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2], o[0], o[1], o[2]);
      } else if (s) {
        if (!auto_reoffset && !offset_adjust) {
          reader = new LASreaderLASrescale(this, s[0], s[1], s[2], true);
        } else if (offset_adjust && !auto_reoffset && has_transform) {
          // The transform's offset adjustment takes the new scale factors.
          reader = new LASreaderLAS(this);
        } else {
          reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2]);
        }
      } else if (o) {
        reader = new LASreaderLASreoffset(this, o[0], o[1], o[2]);
      } else if (auto_reoffset || (offset_adjust && !has_transform)) {
        reader = new LASreaderLASreoffset(this);
      } else {
        reader = new LASreaderLAS(this);
      }
      reader->set_keep_copc(keep_copc);
      return reader;
    }
    case INPUT_BIN:
      return construct_foreign<LASreaderBIN, LASreaderBINrescale, LASreaderBINreoffset, LASreaderBINrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_SHP:
      return construct_foreign<LASreaderSHP, LASreaderSHPrescale, LASreaderSHPreoffset, LASreaderSHPrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_ASC:
      return construct_foreign<LASreaderASC, LASreaderASCrescale, LASreaderASCreoffset, LASreaderASCrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_BIL:
      return construct_foreign<LASreaderBIL, LASreaderBILrescale, LASreaderBILreoffset, LASreaderBILrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_DTM:
      return construct_foreign<LASreaderDTM, LASreaderDTMrescale, LASreaderDTMreoffset, LASreaderDTMrescalereoffset>(
          this, s, o, offset_adjust, has_transform);
    case INPUT_QFIT:
      return construct_foreign<LASreaderQFIT, LASreaderQFITrescale, LASreaderQFITreoffset,
                               LASreaderQFITrescalereoffset>(this, s, o, offset_adjust, has_transform);
    case INPUT_PLY: {
      LASreaderPLY* reader = new LASreaderPLY(this);
      if (translate_intensity != 0.0f) reader->set_translate_intensity(translate_intensity);
      if (scale_intensity != 1.0f) reader->set_scale_intensity(scale_intensity);
      reader->set_scale_factor(s);
      reader->set_offset(o);
      return reader;
    }
    case INPUT_TXT:
      break;
  }
  LASreaderTXT* reader = new LASreaderTXT(this);
  configure_txt(reader, *this);
  return reader;
}

// Opens `reader` (made by construct_reader for `kind`) on `name`. With `again`
// the file is opened once more for another pass, where the formats that can
// do so reopen on their open file.
static bool open_by_kind(LASreader* reader, int kind, const char* name, const LASreadOpener& opener, bool again) {
  switch (kind) {
    case 0: {
      LASreaderLAS* las = dynamic_cast<LASreaderLAS*>(reader);
      return las && las->open(name, (I32)opener.io_ibuffer_size, false, opener.decompress_selective);
    }
    case 1: {
      LASreaderBIN* bin = dynamic_cast<LASreaderBIN*>(reader);
      return bin && bin->open(name);
    }
    case 2: {
      LASreaderSHP* shp = dynamic_cast<LASreaderSHP*>(reader);
      return shp && (again ? shp->reopen(name) : shp->open(name));
    }
    case 3: {
      LASreaderASC* asc = dynamic_cast<LASreaderASC*>(reader);
      return asc && (again ? asc->reopen(name) : asc->open(name, opener.comma_not_point));
    }
    case 4: {
      LASreaderBIL* bil = dynamic_cast<LASreaderBIL*>(reader);
      return bil && (again ? bil->reopen(name) : bil->open(name));
    }
    case 5: {
      LASreaderDTM* dtm = dynamic_cast<LASreaderDTM*>(reader);
      return dtm && (again ? dtm->reopen(name) : dtm->open(name));
    }
    case 6: {
      // PLY has no reopen: it is opened again.
      LASreaderPLY* ply = dynamic_cast<LASreaderPLY*>(reader);
      return ply && ply->open(name, opener.point_type, opener.populate_header);
    }
    case 7: {
      LASreaderQFIT* qfit = dynamic_cast<LASreaderQFIT*>(reader);
      return qfit && (again ? qfit->reopen(name) : qfit->open(name));
    }
    default: {
      LASreaderTXT* txt = dynamic_cast<LASreaderTXT*>(reader);
      return txt && (again ? txt->reopen(name)
                           : txt->open(name, opener.point_type, opener.get_parse_string(), (I32)opener.skip_lines,
                                       opener.populate_header));
    }
  }
}

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
    COPCindex* copc_index = new COPCindex(reader->header);
    copc_index->set_stream_order(copc_stream_order);
    reader->set_copcindex(copc_index);
  }
}

void LASreadOpener::adjust_offset_when_transformation(LASreader* reader) {
  if (!offset_adjust || !transform || offset) return;
  transform->adjust_offset(reader, get_scale_factor());
  offset_from_adjustment = offset.has_value();
}

LASreader* LASreadOpener::wrap(LASreader* reader, const char* name, bool from_stdin, bool store) {
  if (stored || store) {
    LASreaderStored* stored_reader = new LASreaderStored(this);
    // It owns the reader from now on, even when it fails.
    if (!stored_reader->open(reader)) {
      laserror("could not open lasreaderstored with %s", name);
      delete stored_reader;
      return nullptr;
    }
    reader = stored_reader;
  }
  if (pipe_on) {
    LASreaderPipeOn* pipe_reader = new LASreaderPipeOn(this);
    if (!pipe_reader->open(reader)) {
      if (from_stdin && strcmp(name, "lasreaderlas") == 0) {
        laserror("cannot open lasreaderpipeon with lasreaderlas from stdin");
      } else {
        laserror("cannot open lasreaderpipeon with %s", name);
      }
      delete pipe_reader;
      return nullptr;
    }
    reader = pipe_reader;
  }
  return reader;
}

LASreader* LASreadOpener::open(const char* other_name, bool reset_list) {
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

LASreader* LASreadOpener::open_single(const char* name) {
  // Every input is opened again for the next pass; a second open of a pipe
  // would wait forever for a writer, so its points are stored instead.
  const bool pipe = las_is_pipe(name);
  const InputKind kind = input_kind(name);
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = flightlines ? flightline_source_ID() : 0;
  if (flightlines) point_source_transform()->setPointSource(source_ID);

  LASreader* reader = construct_reader(kind);
  if (!open_by_kind(reader, kind, name, *this, false)) {
    laserror("cannot open %s with file name '%s'", reader_word(kind), name);
    delete reader;
    return nullptr;
  }
  if (kind == INPUT_LAS) {
    LASMessage(VERY_VERBOSE, "open file '%s'", name);
    attach_las_index(reader, name);
  } else if (kind == INPUT_BIN || kind == INPUT_QFIT) {
    attach_lax_index(reader, name);
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (kind == INPUT_LAS && apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  // A PTX scan's own transformation would go in between filter and transform;
  // the transform has no matrix operation yet to carry it.
  hand_over(reader);
  apply_area(reader, kind == INPUT_LAS);
  if (kind == INPUT_LAS && !apply_copc_query(reader, true)) {
    delete reader;
    return nullptr;
  }
  adjust_offset_when_transformation(reader);
  if (kind == INPUT_LAS) {
    const LASheader& h = reader->header;
    header_after_open = HeaderAfterOpen{{h.x_scale_factor, h.y_scale_factor, h.z_scale_factor},
                                        {h.x_offset, h.y_offset, h.z_offset},
                                        h.min_x,
                                        h.min_y,
                                        h.min_z,
                                        h.max_x,
                                        h.max_y,
                                        h.max_z,
                                        h.file_source_ID};
  }
  return wrap(reader, reader_word(kind), false, pipe);
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

LASreader* LASreadOpener::open_merged() {
  if (refuse_pipes(input.names)) return nullptr;
  LASreaderMerged* reader = new LASreaderMerged(this);
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
    delete reader;
    return nullptr;
  }
  if (files_are_flightlines) reader->set_files_are_flightlines(files_are_flightlines);
  if (apply_file_source_ID) reader->set_apply_file_source_ID(true);
  // The merged reader puts each file's source ID into this transform.
  if (files_are_flightlines || apply_file_source_ID) point_source_transform();
  hand_over(reader);
  apply_area(reader, false);
  apply_copc_query(reader, false);
  return wrap(reader, "lasreadermerged", false);
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

LASreader* LASreadOpener::open_buffered(const char* other_name, bool reset_list) {
  LASreaderBuffered* reader = new LASreaderBuffered(this);
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
  if (refuse_pipes(neighbor_names)) {
    delete reader;
    return nullptr;
  }
  neighbor_names.pop_back();
  reader->set_file_name(file_name->c_str());
  for (const std::string& name : neighbor_names) reader->add_neighbor_file_name(name.c_str());
  hand_over(reader);
  if (!reader->open()) {
    laserror("cannot open lasreaderbuffered with %d file names", (I32)(input.size() + neighbors.size()));
    delete reader;
    return nullptr;
  }
  apply_area(reader, false);
  return wrap(reader, "lasreaderbuffered", false);
}

LASreader* LASreadOpener::open_stdin() {
  use_stdin = false;
  populate_header = true;
  // Standard input counts as the first file of a flight-line numbering.
  const bool flightlines = files_are_flightlines != 0;
  const U16 source_ID = (U16)((I64)files_are_flightlines + 1 + files_are_flightlines_index);
  if (flightlines) point_source_transform()->setPointSource(source_ID);
  if (itxt) {
    LASreaderTXT* reader = new LASreaderTXT(this);
    configure_txt(reader, *this);
    if (!reader->open(stdin, nullptr, point_type, get_parse_string(), (I32)skip_lines, false)) {
      laserror("cannot open lasreadertxt from stdin");
      delete reader;
      return nullptr;
    }
    if (flightlines) reader->header.file_source_ID = source_ID;
    hand_over(reader);
    apply_area(reader, false);
    return wrap(reader, "lasreadertxt", true);
  }
  const F64* s = get_scale_factor();
  const F64* o = get_offset();
  LASreaderLAS* reader;
  if (s && o) {
    reader = new LASreaderLASrescalereoffset(this, s[0], s[1], s[2], o[0], o[1], o[2]);
  } else if (s) {
    reader = new LASreaderLASrescale(this, s[0], s[1], s[2], true);
  } else if (o) {
    reader = new LASreaderLASreoffset(this, o[0], o[1], o[2]);
  } else {
    reader = new LASreaderLAS(this);
  }
  reader->set_keep_copc(keep_copc);
  if (!reader->open(stdin, false, LAS_SELECTIVE_ALL)) {
    laserror("cannot open lasreaderlas from stdin ");
    delete reader;
    return nullptr;
  }
  if (flightlines) {
    reader->header.file_source_ID = source_ID;
  } else if (apply_file_source_ID) {
    point_source_transform()->setPointSource(reader->header.file_source_ID);
  }
  hand_over(reader);
  apply_area(reader, false);
  apply_copc_query(reader, false);
  return wrap(reader, "lasreaderlas", true);
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

  if (pipe_on) {
    // Its points were piped on in the first pass: only the reader it wraps
    // is opened again.
    LASreaderPipeOn* pipe_reader = dynamic_cast<LASreaderPipeOn*>(reader);
    if (pipe_reader && pipe_reader->get_lasreader()) {
      pipe_reader->points_read = 0;
      reader = pipe_reader->get_lasreader();
    }
  }
  // A named pipe is stored without "-stored": its reader tells.
  LASreaderStored* stored_reader = dynamic_cast<LASreaderStored*>(reader);
  if (stored || stored_reader) {
    if (stored_reader == nullptr || !stored_reader->reopen()) {
      LASMessage(WARNING, "could not reopen lasreaderstored for stored input");
      return false;
    }
    return true;
  }
  if (input.size() == 0) {
    laserror("no lasreader input specified");
    return false;
  }

  // The reader's own kind decides: a list of one name may have been merged.
  bool las_precedence = false;
  bool las_file = false;
  if (LASreaderMerged* merged_reader = dynamic_cast<LASreaderMerged*>(reader)) {
    if (!merged_reader->reopen()) {
      LASMessage(WARNING, "cannot reopen lasreadermerged");
      return false;
    }
  } else if (LASreaderBuffered* buffered_reader = dynamic_cast<LASreaderBuffered*>(reader)) {
    if (!buffered_reader->reopen()) {
      laserror("cannot reopen lasreaderbuffered");
      return false;
    }
    if (!keep_buffer) buffered_reader->remove_buffer();
  } else {
    if (!file_name) return false;
    const char* name = file_name->c_str();
    const InputKind kind = input_kind(name);
    if (!open_by_kind(reader, kind, name, *this, true)) {
      laserror("cannot reopen %s with file name '%s'", reader_word(kind), name);
      return false;
    }
    if (kind == INPUT_LAS) {
      las_precedence = true;
      las_file = true;
      attach_las_index(reader, name, true);
    }
  }

  if (is_inside()) {
    reader->inside_none();
    apply_area(reader, las_precedence);
  }
  if (las_file || dynamic_cast<LASreaderMerged*>(reader)) apply_copc_query(reader, false);
  // A LAS or VMB file read its header again: it gets back what the first
  // opening put there (flight-line ID, offsets, scales and bounds adjusted to
  // the transform), so that both passes see the same header and points.
  if (las_file && header_after_open) {
    LASheader& h = reader->header;
    const HeaderAfterOpen& a = *header_after_open;
    h.x_scale_factor = a.scale[0];
    h.y_scale_factor = a.scale[1];
    h.z_scale_factor = a.scale[2];
    h.x_offset = a.offset[0];
    h.y_offset = a.offset[1];
    h.z_offset = a.offset[2];
    h.min_x = a.min_x;
    h.min_y = a.min_y;
    h.min_z = a.min_z;
    h.max_x = a.max_x;
    h.max_y = a.max_y;
    h.max_z = a.max_z;
    h.file_source_ID = a.file_source_ID;
  }
  return true;
}
