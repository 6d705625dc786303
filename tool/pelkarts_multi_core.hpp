// The multi-process runner of the suite's tools: turns one command line over
// many input files into one child process per file (or one for merged input,
// through a temporary list file), each with the option text of every parser,
// the output settings and the tool's own arguments, and runs them in the
// process pool.
#pragma once

#include <string>
#include <vector>

#include "core/mydefs.hpp"
#include "tool/pelkarts_multi_core_linux.hpp"

class GeoProjectionConverter;
class LASreadOpener;
class LASwriteOpener;

// Everything the jobs are made from, besides the parsed objects.
struct PelkartsJobSettings {
  int argc = 0;
  char** argv = nullptr;        // after parsing: what no parser emptied goes to every child
  U32 cores = 1;                // 1: one child at a time (the "-cpu64" hand-over)
  const char* extra = nullptr;  // option text the tool adds to every job, or null
  int mode = 0;                 // 3: one job over all files through the list file
  std::string list_file;        // the list file's name when one is needed
};

// The list file name for this process: the temporary directory of the read
// opener's "-temp_files" (else the system's), "file_list_buffered.", the
// process id and ".txt".
std::string pelkarts_list_file_name(const LASreadOpener& lasreadopener);
// Merged or buffered input, and mode 3, give the jobs a list file.
bool pelkarts_needs_list_file(const LASreadOpener& lasreadopener, int mode);

// The argument vector of every job. Each parser's settings come from its one
// option-text call, so a parser that learns new options needs no change here.
std::vector<PelkartsJob> pelkarts_make_jobs(const PelkartsJobSettings& settings,
                                            const GeoProjectionConverter& geoprojectionconverter,
                                            const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener);

// Writes the list file, then reads it back as a child will; false after an
// ERROR ("cannot open '%s'" when it cannot be created). A file left over under
// the same name is replaced, never followed through a link.
bool pelkarts_write_list_file(const std::string& list_file, const LASreadOpener& lasreadopener);

// Children see only their own file, so this process refuses, before any child
// starts, a job whose point output would be an input of the run or the
// output of an earlier job. Each refusal is an ERROR naming both files (the
// run ends while halting on errors is on); the job is dropped.
void pelkarts_refuse_colliding_outputs(std::vector<PelkartsJob>& jobs, const PelkartsJobSettings& settings,
                                       const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener);

// Makes and runs the jobs, deletes the list file, and ends the process.
// `point_outputs` is false when the children write no point files (layer
// output), so their output names cannot collide.
[[noreturn]] void pelkarts_multi_core_standard(int argc, char* argv[],
                                               const GeoProjectionConverter& geoprojectionconverter,
                                               const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener,
                                               U32 cores, const char* extra, int mode, bool point_outputs);
