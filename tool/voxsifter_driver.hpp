// The work done for one input file: open, first pass, reopen, write the
// survivors, finish. Runs while the read opener has input.
#pragma once

#include "tool/voxsifter.hpp"

// Thins the read opener's next input file. False when nothing could be opened
// (the run then stops looking for input).
bool voxsifter_thin_next_file(VoxsifterRun& run);
