// Layer output stand-in: takes the layers it is given and answers opening
// with the failure of a layer file that cannot be written.
#include "layers/lasmodify.hpp"

#include "layers/laslayer.hpp"

void LASmodify::add_directory(const char* directory) {
  has_directory = directory != nullptr;
  this->directory = directory ? directory : "";
}

bool LASmodify::add_layer(const char* kind) {
  if (opened) {
    laserror("cannot add a %s layer after opening", kind);
    return false;
  }
  return true;
}

bool LASmodify::replace_field(const char* field, U32, const char*, I32, const F64*) { return add_layer(field); }

bool LASmodify::delete_points(U32, const char*, I32, const F64*) { return add_layer("delete"); }

bool LASmodify::open(const char* file_name, LASreader*, bool, bool, U32) {
  const std::string name = las_layer_file_name(file_name, has_directory ? directory.c_str() : nullptr);
  laserror("cannot write layer file '%s': writing layer files is not built yet", name.c_str());
  return false;
}

bool LASmodify::write_point(const LASpoint*) {
  if (!opened) return false;
  points_written++;
  return true;
}

bool LASmodify::update_header(const LASheader* header, bool, bool) {
  if (header == nullptr) {
    laserror("header pointer is zero");
    return false;
  }
  return true;
}

I64 LASmodify::close(bool) {
  points_expected = points_written;
  points_written = 0;
  return 0;
}
