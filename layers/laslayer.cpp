// Naming of layer files.
#include "layers/laslayer.hpp"

std::string las_layer_file_name(const char* point_file_name, const char* directory) {
  std::string name = point_file_name ? point_file_name : "";
  const size_t separator = name.find_last_of("/\\:");
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator)) name.erase(dot);
  name += ".lay";
  if (directory == nullptr) return name;
  const std::string base = separator == std::string::npos ? name : name.substr(separator + 1);
  return std::string(directory) + "/" + base;
}
