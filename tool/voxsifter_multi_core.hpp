// The hand-over of a voxsifter run to child processes: one per input file, at
// most `cores` at a time, or with "-cpu64" the whole work in one child.
#pragma once

#include "core/mydefs.hpp"

class GeoProjectionConverter;
class LASreadOpener;
class LASwriteOpener;

// Runs the jobs and ends the process with the worst exit code of the run.
[[noreturn]] void voxsifter_multi_core(int argc, char* argv[], const GeoProjectionConverter& geoprojectionconverter,
                                       const LASreadOpener& lasreadopener, const LASwriteOpener& laswriteopener,
                                       U32 cores, bool cpu64);
