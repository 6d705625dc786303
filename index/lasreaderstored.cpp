// The stored reader owns the reader it wraps; storing is not built yet.
#include "index/lasreaderstored.hpp"

void LASreaderStored::close(const bool close_stream) {
  if (lasreader) lasreader->close(close_stream);
}

LASreaderStored::~LASreaderStored() {
  if (lasreader) {
    lasreader->close(true);
    delete lasreader;
  }
}

bool LASreaderStored::open(LASreader* lasreader) {
  if (lasreader == nullptr) {
    laserror("no lasreader");
    return false;
  }
  this->lasreader = lasreader;
  return false;
}

bool LASreaderStored::reopen() { return false; }
