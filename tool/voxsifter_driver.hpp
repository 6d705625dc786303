// The work done for one input file: open, first pass, reopen, write the
// survivors, finish. Runs while the read opener has input.
#pragma once

#include "tool/voxsifter.hpp"

// Thins the read opener's next input file. A file that cannot be opened or
// written is skipped after its error (halting off).
void voxsifter_thin_next_file(VoxsifterRun& run);
