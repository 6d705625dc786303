// Opening text-like input: compressed archives are refused by name, since the
// system reads no archive formats.
#include <cstring>

#include "core/mydefs.hpp"

static bool ends_with(const char* name, const char* suffix) {
  size_t n = strlen(name), s = strlen(suffix);
  return n >= s && strcmp(name + n - s, suffix) == 0;
}

FILE* fopen_compressed(const char* name, const char* mode, bool* piped) {
  if (name) {
    static const char* const refused[][2] = {{".gz", "no support for gzipped input"},
                                             {".zip", "no support for ZIPped input"},
                                             {".7z", "no support for 7zipped input"},
                                             {".rar", "no support for RARed input"}};
    for (const auto& entry : refused) {
      if (ends_with(name, entry[0])) {
        LASMessage(ERROR, "%s", entry[1]);
        if (do_halt_on_error()) byebye();
        return nullptr;
      }
    }
  }
  FILE* file = LASfopen(name, mode);
  if (piped) *piped = false;
  return file;
}
