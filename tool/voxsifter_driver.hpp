// The work done for one input file: open, first pass, reopen, write the
// survivors, finish. Runs while the read opener has input.
#pragma once

#include "tool/voxsifter.hpp"

// Thins the read opener's next input file. A file that cannot be opened or
// written is skipped after its error (halting off).
void voxsifter_thin_next_file(VoxsifterRun& run);

// The GeoTIFF records of a projection given on the command line: the key
// directory 34735 (not set when longer than 65535 bytes), the double
// parameters 34736 (removed when there are none), and no ASCII parameters
// 34737, as their text would belong to another projection.
void voxsifter_add_geo_keys(LASheader& header, int number_of_keys, const U16* geo_keys, int num_geo_double_params,
                            const F64* geo_double_params);
