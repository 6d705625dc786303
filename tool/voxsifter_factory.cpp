// Which thinning filter a file gets, from the tool's options.
#include "tool/voxsifter_factory.hpp"

#include "core/lasreader.hpp"
#include "tool/modulusfilter.hpp"
#include "tool/voxelfilter.hpp"

VoxelRule choose_voxel_rule(const VoxsifterOptions& o, bool extended_points) {
  const VoxelRule highest_return = extended_points ? VoxelRule::HIGHEST_EXTENDED_RETURN : VoxelRule::HIGHEST_RETURN;
  const VoxelRule lowest_return = extended_points ? VoxelRule::LOWEST_EXTENDED_RETURN : VoxelRule::LOWEST_RETURN;
  if (o.closest) return VoxelRule::CLOSEST;
  if (o.highest) return VoxelRule::HIGHEST_Z;
  if (o.lowest) return VoxelRule::LOWEST_Z;
  if (o.intensity_max) return VoxelRule::HIGHEST_INTENSITY;
  if (o.intensity_min) return VoxelRule::LOWEST_INTENSITY;
  if (o.counting()) {
    if (o.return_max) return highest_return;
    if (o.return_min) return lowest_return;
    if (o.attribute_max) return VoxelRule::HIGHEST_ATTRIBUTE;
    if (o.attribute_min) return VoxelRule::LOWEST_ATTRIBUTE;
  } else {
    if (o.attribute_max) return VoxelRule::HIGHEST_ATTRIBUTE;
    if (o.attribute_min) return VoxelRule::LOWEST_ATTRIBUTE;
    if (o.return_max) return highest_return;
    if (o.return_min) return lowest_return;
  }
  if (o.random_cell_occurrence) return VoxelRule::RANDOM;
  return VoxelRule::FIRST;
}

PointFilterInterface* make_point_filter(const VoxsifterOptions& options, F64 step_xy, F64 step_z,
                                        const LASreader& reader) {
  const VoxelRule rule = choose_voxel_rule(options, reader.point.get_extended_layout() != 0);
  return make_voxel_filter(rule, options.counting(), step_xy, step_z, reader.header);
}

std::unique_ptr<PointFilterInterface> choose_point_filter(const VoxsifterOptions& options, bool counting, F64 step_xy,
                                                          F64 step_z, const LASreader& reader) {
  if (!counting) {
    if (options.every_nth) return std::make_unique<ModulusFilter<false>>(*options.every_nth);
    if (options.random_nth) return std::make_unique<ModulusFilter<true>>(*options.random_nth);
  }
  return std::unique_ptr<PointFilterInterface>(make_point_filter(options, step_xy, step_z, reader));
}
