// Process helpers: memory with a low-memory warning, bounded string copies,
// file-name tests, file deletion and the program and temporary directories.
#include "core/mydefs.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>

static const U64 ONE_MIB = 1048576;

static U64 read_available_RAM_from_proc() {
  FILE* file = fopen("/proc/meminfo", "r");
  if (!file) return 0;
  char line[256];
  U64 result = 0;
  while (fgets(line, sizeof(line), file)) {
    size_t kb;
    if (sscanf(line, "MemAvailable: %zu kB", &kb) == 1) {
      result = (U64)kb * 1024;
      break;
    }
  }
  fclose(file);
  return result;
}

static AvailableRamSource available_ram_source = read_available_RAM_from_proc;

void set_available_RAM_source(AvailableRamSource source) {
  available_ram_source = source ? source : read_available_RAM_from_proc;
}

U64 get_available_RAM() { return available_ram_source(); }

// True when the warning was given (the request is then made without a further
// message on failure).
static bool warn_when_low_memory(U64 size) {
  if (size <= ONE_MIB) return false;
  U64 available = get_available_RAM();
  if (available >= size) return false;
  const U64 GB = 1ULL << 30;
  double request = (size >= GB) ? (double)size / (double)GB : (double)size / (double)ONE_MIB;
  const char* request_unit = (size >= GB) ? "GB" : "MB";
  double free_amount;
  const char* free_unit;
  if (available >= GB) {
    free_amount = (double)available / (double)GB;
    free_unit = "GB";
  } else if (available >= ONE_MIB) {
    free_amount = (double)available / (double)ONE_MIB;
    free_unit = "MB";
  } else if (available >= 1024) {
    free_amount = (double)available / 1024.0;
    free_unit = "KB";
  } else {
    free_amount = (double)available;
    free_unit = "Bytes";
  }
  LASMessage(WARNING, "failed to allocate %.0f%s memory as only approx. %.0f%s free reported. An error may occur",
             request, request_unit, free_amount, free_unit);
  return true;
}

void* malloc_las(U64 size) {
  if (warn_when_low_memory(size)) return malloc(size);
  void* block = malloc(size);
  if (!block) LASMessage(WARNING, "memory allocation failed");
  return block;
}

void* realloc_las(void* block, U64 size) {
  if (warn_when_low_memory(size)) return realloc(block, size);
  void* moved = realloc(block, size);
  if (!moved) LASMessage(WARNING, "memory reallocation failed");
  return moved;
}

void strncpy_las(char* target, size_t target_size, const char* source, size_t count) {
  if (!source) {
    if (target_size != 0 && target) target[0] = '\0';
    return;
  }
  if (!target) return;
  if (count == 0) count = strlen(source);
  if (count < target_size) {
    strncpy(target, source, count);
    target[count] = '\0';
  } else {
    LASMessage(WARNING, "target buffer too small [%llu < %llu] for \"%s\"", (unsigned long long)(target_size - 1),
               (unsigned long long)count, source);
    if (target_size == 0) return;
    strncpy(target, source, target_size - 1);
    target[target_size - 1] = '\0';
  }
}

int sscanf_las(const char* text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int result = vsscanf(text, format, args);
  va_end(args);
  return result;
}

std::string DoubleToString(F64 value, short digits, bool trim) {
  char buffer[44];
  snprintf(buffer, sizeof(buffer), "%.*f", (int)digits, value);
  std::string text(buffer);
  if (trim && text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  return text;
}

bool StringEndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

static void to_lower(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
  }
}

bool HasFileExt(std::string name, std::string extension) {
  if (name.empty() || extension.empty()) return false;
  if (name.size() == extension.size()) return name == extension;
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  if (extension[0] != '.') extension.insert(extension.begin(), '.');
  to_lower(name);
  to_lower(extension);
  return name.compare(dot, std::string::npos, extension) == 0;
}

std::string FileExtSet(std::string name, std::string extension) {
  if (!extension.empty() && extension[0] != '.') extension.insert(extension.begin(), '.');
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return name + extension;
  return name.substr(0, dot) + extension;
}

bool IsLasVmbFile(const std::string& name) { return HasFileExt(name, "las") || HasFileExt(name, "vmb"); }

FILE* LASfopen(const char* name, const char* mode) {
  if (!name || !mode || !mode[0]) return nullptr;
  return fopen(name, mode);
}

// Deletes without a shell: a name with blanks or shell characters must remove
// exactly that file. The status is reported like a shell's would be.
void FileDelete(const std::string& name, LAS_MESSAGE_TYPE level) {
  if (name.empty()) return;
  LASMessage(VERY_VERBOSE, "deleting '%s'", name.c_str());
  if (unlink(name.c_str()) != 0) {
    LASMessage(level, "delete of file '%s' failed [%d]", name.c_str(), errno);
  }
}

std::string exe_path() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return "/";
  std::string link(buffer, (size_t)length);
  size_t separator = link.find_last_of("/\\");
  if (separator == std::string::npos) return "/";
  return link.substr(0, separator) + "/";
}

std::string temp_path(const std::string& directory) {
  std::string path = directory;
  if (path.empty()) {
    std::error_code error;  // a bad TMPDIR must not throw
    path = std::filesystem::temp_directory_path(error).string();
    if (error || path.empty()) path.assign(1, '.');
  }
  if (path.back() != '/') path += '/';
  return path;
}
