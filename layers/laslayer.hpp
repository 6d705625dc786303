// What a change layer receives of a point: the changed copy, and the point as
// it was read, on which the layer evaluates its ignore rules and contexts.
// Only this hand-over exists so far; the layers themselves are not built.
#pragma once

#include <memory>
#include <string>

#include "core/laspoint.hpp"

// The changed copy of a point (this LASpoint) with a reference to the point as
// read. `original` is borrowed, unless the copy holds it in `owned_original`.
class LASpointModified : public LASpoint {
 public:
  const LASpoint* original = nullptr;
  std::unique_ptr<const LASpoint> owned_original;

  LASpointModified() = default;
  LASpointModified(const LASpointModified&) = delete;
  LASpointModified& operator=(const LASpointModified&) = delete;
};

// The layer file of a point file: its name with the extension replaced by
// "lay", placed in `directory` when one is given.
std::string las_layer_file_name(const char* point_file_name, const char* directory);
