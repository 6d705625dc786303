// Job building of the multi-process runner. A child must do exactly what this
// process would have done with its own file, so every job carries the option
// text of each parser, the output settings and every argument no parser took,
// as separate arguments; and since each child sees only its own file, output
// names that would collide across children are refused here.
#include "tool/pelkarts_multi_core.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/lasmessage.hpp"
#include "core/lasreadopener.hpp"
#include "core/lasutility.hpp"
#include "core/laswriteopener.hpp"
#include "filters/lasfilter.hpp"
#include "filters/lasignore.hpp"
#include "geo/geoprojectionconverter.hpp"
#include "transforms/lastransform.hpp"

namespace {

using Words = std::vector<std::string>;

void append(Words& words, const Words& more) { words.insert(words.end(), more.begin(), more.end()); }

void append_option_text(Words& words, const std::string& text) { append(words, split_option_text(text)); }

template <class Parser>
void append_unparsed(Words& words, const Parser* parser) {
  if (parser == nullptr) return;
  std::string text;
  parser->unparse(text);
  append_option_text(words, text);
}

// Output settings of one job. The "-o" name already holds the directory, cut
// and appendix: a child given those again would apply them twice.
Words output_words(const LASwriteOpener& laswriteopener, bool named, bool one_at_a_time) {
  Words words;
  append_unparsed(words, &laswriteopener);
  if (named) {
    append(words, {"-o", laswriteopener.get_file_name()});
  } else {
    if (laswriteopener.get_directory()) append(words, {"-odir", laswriteopener.get_directory()});
    if (laswriteopener.get_appendix()) append(words, {"-odix", laswriteopener.get_appendix()});
    if (laswriteopener.get_cut()) append(words, {"-ocut", std::to_string(laswriteopener.get_cut())});
  }
  // Children that run one after the other can share the standard output as
  // the files of a single run do; children running together cannot.
  if (one_at_a_time && laswriteopener.get_use_stdout()) words.push_back("-stdout");
  return words;
}

// Filter, transform, ignore rules, projection, then every argument that no
// parser emptied (the tool's own options, message levels, what nobody knew).
Words processing_words(const PelkartsJobSettings& settings, const GeoProjectionConverter& geoprojectionconverter,
                       const LASreadOpener& lasreadopener) {
  Words words;
  append_unparsed(words, lasreadopener.get_filter());
  append_unparsed(words, lasreadopener.get_transform());
  append_unparsed(words, lasreadopener.get_ignore());
  const GeoProjectionConverter& geo = geoprojectionconverter;
  if (geo.has_projection(true) || geo.has_projection(false) || geo.proj_settings) {
    append_unparsed(words, &geo);
  } else {
    if (geo.has_coordinate_units(true)) {
      words.push_back(std::string("-") + geo.get_coordinate_unit_description_string(false, true));
    }
    if (geo.has_elevation_units(true)) {
      words.push_back(std::string("-elevation_") + geo.get_elevation_unit_description_string(false, true));
    }
  }
  for (int i = 1; i < settings.argc; i++) {
    if (settings.argv[i][0] != '\0') words.push_back(settings.argv[i]);
  }
  return words;
}

}  // namespace

std::string pelkarts_list_file_name(const LASreadOpener& lasreadopener) {
  return temp_path(lasreadopener.temp_file_base) + "file_list_buffered." + std::to_string(GetCurrentProcessIdUni()) +
         ".txt";
}

bool pelkarts_needs_list_file(const LASreadOpener& lasreadopener, int mode) {
  return lasreadopener.is_merged() || lasreadopener.is_buffered() || mode == 3;
}

std::vector<PelkartsJob> pelkarts_make_jobs(const PelkartsJobSettings& settings,
                                            const GeoProjectionConverter& geoprojectionconverter,
                                            const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener) {
  const LASreadOpener& ro = lasreadopener;
  const bool one_job = ro.is_merged() || settings.mode == 3;
  const bool one_at_a_time = settings.cores == 1;
  Words reading;
  append_unparsed(reading, &ro);
  if (one_at_a_time && ro.pipe_on) reading.push_back("-pipe_on");
  Words extra;
  if (settings.extra) append_option_text(extra, settings.extra);
  const Words processing = processing_words(settings, geoprojectionconverter, ro);

  // Job j reads `input`; `index` numbers it among the flight lines.
  std::vector<PelkartsJob> jobs;
  auto add_job = [&](const Words& input, const std::string& input_name, const std::string& label, U32 index) {
    PelkartsJob job;
    job.arguments.push_back(settings.argv[0]);
    append(job.arguments, input);
    append(job.arguments, reading);
    if (ro.files_are_flightlines != 0) {
      // A "-faf_index" given here shifts every number as it would in this process.
      job.arguments.push_back("-faf_index");
      job.arguments.push_back(std::to_string((I64)index + 1 + ro.files_are_flightlines_index));
    }
    if (ro.is_buffered()) {
      append(job.arguments, {"-buffered", option_text_f32(ro.get_buffer_size()), "-neighbors_lof", settings.list_file});
    }
    append(job.arguments, extra);
    // Only the first file of a run gets the "-o" name; the others derive theirs.
    job.named_output = one_at_a_time && jobs.empty() && laswriteopener.get_file_name() != nullptr;
    append(job.arguments, output_words(laswriteopener, job.named_output, one_at_a_time));
    append(job.arguments, processing);
    job.input = input_name;
    job.label = label;
    jobs.push_back(std::move(job));
  };

  if (one_job) {
    Words input = {"-lof", settings.list_file};
    if (ro.is_stdin()) input.push_back("-stdin");
    add_job(input, "", "for '" + settings.list_file + "'", 0);
    return jobs;
  }
  for (U32 j = 0; j < ro.get_file_name_number(); j++) {
    const std::string name = ro.get_file_name(j);
    add_job({"-i", name}, name, "for '" + name + "'", j);
  }
  // Standard input comes after the files, as in a single run; a run with no
  // input at all still gets its child, which reports that.
  if (ro.is_stdin()) add_job({"-stdin"}, "", "for standard input", 0);
  if (jobs.empty()) add_job({}, "", "without input", 0);
  return jobs;
}

// ------------------------------------------------------------------ list file

// Creates the file anew: a file or link left under this name (an earlier run
// with the same process id, or someone else's link in a shared directory) is
// removed, not written through.
static FILE* create_new_file(const std::string& name) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;
  int fd = open(name.c_str(), flags, 0600);
  if (fd < 0 && errno == EEXIST && unlink(name.c_str()) == 0) fd = open(name.c_str(), flags, 0600);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w");
  if (file == nullptr) close(fd);
  return file;
}

// Reads the list back as a child will; the first name that comes back
// different (a line end in it, blanks at its end, a name that reads as
// "ID,name"), or null when all are the same.
static const char* first_unlistable_name(const std::string& list_file, const LASreadOpener& ro, bool with_neighbors) {
  LASreadOpener child;
  std::vector<const char*> expected;
  for (U32 k = 0; k < ro.get_file_name_number(); k++) expected.push_back(ro.get_file_name(k));
  if (with_neighbors) {
    for (U32 k = 0; k < ro.get_neighbor_file_name_number(); k++) expected.push_back(ro.get_neighbor_file_name(k));
    child.add_neighbor_list_of_files(list_file.c_str());
  } else {
    child.add_list_of_files(list_file.c_str());
  }
  for (U32 k = 0; k < expected.size(); k++) {
    const char* back = with_neighbors ? child.get_neighbor_file_name(k) : child.get_file_name(k);
    if (back == nullptr || strcmp(back, expected[k]) != 0) return expected[k];
  }
  return nullptr;
}

bool pelkarts_write_list_file(const std::string& list_file, const LASreadOpener& lasreadopener) {
  FILE* file = create_new_file(list_file);
  if (file == nullptr) {
    laserror("cannot open '%s'", list_file.c_str());
    return false;
  }
  // Each buffered child names its own file and takes the others, with any
  // neighbours named here, from the list.
  const bool with_neighbors = lasreadopener.is_buffered() && !lasreadopener.is_merged();
  bool written = lasreadopener.write_list_of_files(file, with_neighbors);
  written = (fclose(file) == 0) && written;
  if (!written) {
    FileDelete(list_file, WARNING);
    laserror("cannot write list file '%s'", list_file.c_str());
    return false;
  }
  if (const char* name = first_unlistable_name(list_file, lasreadopener, with_neighbors)) {
    const std::string kept = name;
    FileDelete(list_file, WARNING);
    laserror("file name '%s' cannot be stored in list file '%s'", kept.c_str(), list_file.c_str());
    return false;
  }
  return true;
}

// ------------------------------------------------------------------ collisions

// Whether two output names, which need not exist yet, name one file: equal
// names, one existing file, or one base name in one existing directory.
static bool same_output(const std::string& a, const std::string& b) {
  if (las_same_file(a.c_str(), b.c_str())) return true;
  auto split = [](const std::string& name, std::string& directory, std::string& base) {
    const size_t slash = name.rfind('/');
    directory = (slash == std::string::npos) ? "." : (slash == 0 ? "/" : name.substr(0, slash));
    base = (slash == std::string::npos) ? name : name.substr(slash + 1);
  };
  std::string directory_a, base_a, directory_b, base_b;
  split(a, directory_a, base_a);
  split(b, directory_b, base_b);
  return base_a == base_b && las_same_file(directory_a.c_str(), directory_b.c_str());
}

// The point file a job's child will write, as its own write opener will name
// it (`derived` holds the settings of the jobs without "-o"); empty when it
// writes none, or refuses to because the name is its own input.
static std::string predicted_output(const PelkartsJob& job, const LASwriteOpener& laswriteopener,
                                    LASwriteOpener& derived, bool nil, bool forced) {
  if (nil) return "";
  if (job.named_output) {
    const char* name = laswriteopener.get_file_name();
    return las_same_file(name, job.input.c_str()) ? "" : name;
  }
  derived.set_file_name(nullptr);
  if (derived.active()) return "";  // standard output
  derived.make_file_name(job.input.c_str(), -1);
  const std::string name = derived.get_file_name();
  if (!las_same_file(name.c_str(), job.input.c_str())) return name;
  // A derived name that is the input itself becomes "temp" with the
  // extension, unless "-oforce" was given, which the child then refuses.
  if (forced) return "";
  const size_t dot = name.rfind('.');
  return "temp" + (dot == std::string::npos ? std::string() : name.substr(dot));
}

void pelkarts_refuse_colliding_outputs(std::vector<PelkartsJob>& jobs, const PelkartsJobSettings& settings,
                                       const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener) {
  // A write opener set up from the very words the derived jobs get, plus
  // "-oforce" so that deriving here warns of nothing; the real setting is
  // `forced`.
  Words words = output_words(laswriteopener, false, settings.cores == 1);
  const bool nil = std::find(words.begin(), words.end(), "-nil") != words.end();
  const bool forced = std::find(words.begin(), words.end(), "-oforce") != words.end();
  words.insert(words.begin(), "program");
  words.push_back("-oforce");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  LASwriteOpener derived;
  derived.parse((int)argv.size(), argv.data());

  std::vector<std::string> inputs;
  for (U32 k = 0; k < lasreadopener.get_file_name_number(); k++) inputs.push_back(lasreadopener.get_file_name(k));
  for (U32 k = 0; k < lasreadopener.get_neighbor_file_name_number(); k++) {
    inputs.push_back(lasreadopener.get_neighbor_file_name(k));
  }

  std::vector<PelkartsJob> kept;
  std::vector<std::pair<std::string, std::string>> outputs;  // name, its input
  for (PelkartsJob& job : jobs) {
    const std::string output = job.input.empty() ? "" : predicted_output(job, laswriteopener, derived, nil, forced);
    bool refused = false;
    for (const std::string& input : inputs) {
      if (output.empty() || refused || !las_same_file(output.c_str(), input.c_str())) continue;
      laserror("output '%s' for '%s' would overwrite the input '%s'", output.c_str(), job.input.c_str(), input.c_str());
      refused = true;
    }
    for (const auto& [earlier, earlier_input] : outputs) {
      if (output.empty() || refused || !same_output(output, earlier)) continue;
      laserror("output '%s' for '%s' would overwrite the output for '%s'", output.c_str(), job.input.c_str(),
               earlier_input.c_str());
      refused = true;
    }
    if (refused) continue;
    if (!output.empty()) outputs.emplace_back(output, job.input);
    kept.push_back(std::move(job));
  }
  jobs = std::move(kept);
}

// ------------------------------------------------------------------ the run

void pelkarts_multi_core_standard(int argc, char* argv[], const GeoProjectionConverter& geoprojectionconverter,
                                  const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener, U32 cores,
                                  const char* extra, int mode, bool point_outputs) {
  PelkartsJobSettings settings;
  settings.argc = argc;
  settings.argv = argv;
  settings.cores = cores;
  settings.extra = extra;
  settings.mode = mode;
  const bool listed = pelkarts_needs_list_file(lasreadopener, mode);
  if (listed) settings.list_file = pelkarts_list_file_name(lasreadopener);

  std::vector<PelkartsJob> jobs = pelkarts_make_jobs(settings, geoprojectionconverter, lasreadopener, laswriteopener);
  // Refused before the list exists, so that a halting refusal leaves no file.
  if (point_outputs) pelkarts_refuse_colliding_outputs(jobs, settings, lasreadopener, laswriteopener);
  // Without its list no job can run (with halting off the run ends here).
  if (listed && !pelkarts_write_list_file(settings.list_file, lasreadopener)) byebye();

  details::spawn_processes(jobs, cores);
  if (listed) FileDelete(settings.list_file, WARNING);
  byebye();
}
