// The tool's choice of thinning filter: which filter the options ask for and
// how it is built over the reader of the file. The driver asks here once per
// file and never looks at the options that decide it.
#pragma once

#include <memory>

#include "core/mydefs.hpp"
#include "tool/voxsifter_options.hpp"

class LASreader;
class PointFilterInterface;
enum class VoxelRule;

// Survival rule for voxel filtering, by the first option in the factory's
// order: counting tests the return options before the attribute options, the
// plain order the attribute options first. The return rule reads the 4-bit
// extended return number for points of formats 6 to 10.
VoxelRule choose_voxel_rule(const VoxsifterOptions& options, bool extended_points);

// The voxel filter the options ask for over the open reader's bounding box;
// the caller owns it.
PointFilterInterface* make_point_filter(const VoxsifterOptions& options, F64 step_xy, F64 step_z,
                                        const LASreader& reader);

// The filter of a file: counting asks for a voxel filter; otherwise an n-th
// option a modulus filter (every n-th wins over random n-th); otherwise a
// voxel filter.
std::unique_ptr<PointFilterInterface> choose_point_filter(const VoxsifterOptions& options, bool counting, F64 step_xy,
                                                          F64 step_z, const LASreader& reader);
