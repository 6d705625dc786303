// Owners for the readers and writers that a wrapping reader holds: a reader
// or writer must end its file (close the input, finish and patch the output)
// before it is deleted, whichever exit path lets it go.
#pragma once

#include <memory>

#include "core/lasreader.hpp"
#include "core/laswriter.hpp"

struct LAScloseThenDelete {
  void operator()(LASreader* reader) const {
    reader->close(true);
    delete reader;
  }
  void operator()(LASwriter* writer) const {
    writer->close(true);
    delete writer;
  }
};

template <class T>
using LASclosing = std::unique_ptr<T, LAScloseThenDelete>;
