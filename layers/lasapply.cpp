// Layer application stand-in: answers with the failure of a layer file that
// cannot be used.
#include "layers/lasapply.hpp"

#include "layers/laslayer.hpp"

void LASapply::add_directory(const char* directory) {
  has_directory = directory != nullptr;
  this->directory = directory ? directory : "";
}

bool LASapply::open(const char* file_name, LASreader*, U32) {
  const std::string name = las_layer_file_name(file_name, has_directory ? directory.c_str() : nullptr);
  FILE* file = LASfopen(name.c_str(), "rb");
  if (file == nullptr) {
    laserror("cannot open file '%s'", name.c_str());
    return false;
  }
  fclose(file);
  laserror("cannot apply layer file '%s': reading layer files is not built yet", name.c_str());
  return false;
}

bool LASapply::load_layers(I32) {
  laserror("cannot load layers: reading layer files is not built yet");
  return false;
}
