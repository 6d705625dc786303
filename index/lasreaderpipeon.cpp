// The pipe-on reader owns the reader it wraps; piping is not built yet.
#include "index/lasreaderpipeon.hpp"

void LASreaderPipeOn::close(const bool close_stream) {
  if (lasreader) lasreader->close(close_stream);
}

LASreaderPipeOn::~LASreaderPipeOn() {
  if (lasreader) {
    lasreader->close(true);
    delete lasreader;
  }
}

bool LASreaderPipeOn::open(LASreader* lasreader) {
  if (lasreader == nullptr) {
    laserror("no lasreader");
    return false;
  }
  this->lasreader = lasreader;
  return false;
}
