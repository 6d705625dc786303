// The reader closer, the point inventory, the file-identity tests, the named
// output written through a temporary file, and option text.
#include "core/lasutility.hpp"
#include "core/laswriter.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"

void LAScloseThenDelete::operator()(LASreader* reader) const {
  if (reader == nullptr) return;
  reader->close(true);
  delete reader;
}

void LAScloseThenDelete::operator()(LASwriter* writer) const {
  if (writer == nullptr) return;
  writer->close(true);
  delete writer;
}

namespace {
template <class T>
void widen(T value, T& min, T& max) {
  if (value < min)
    min = value;
  else if (value > max)
    max = value;
}

// A little-endian field of a record, which may lie off its alignment.
template <class T>
T record_field(const U8* at) {
  T value;
  if constexpr (Endian::IS_LITTLE_ENDIAN) {
    memcpy(&value, at, sizeof(T));
  } else {
    U8 bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); i++) bytes[i] = at[sizeof(T) - 1 - i];
    memcpy(&value, bytes, sizeof(T));
  }
  return value;
}
}  // namespace

inline void LASinventory::add_values(U32 return_number, I32 X, I32 Y, I32 Z, bool has_gps_time, F64 gps_time) {
  number_of_point_records++;
  number_of_points_by_return[return_number]++;
  if (first) {
    min_X = max_X = X;
    min_Y = max_Y = Y;
    min_Z = max_Z = Z;
    if (has_gps_time) min_gps_time = max_gps_time = gps_time;
    first = false;
    return;
  }
  widen(X, min_X, max_X);
  widen(Y, min_Y, max_Y);
  widen(Z, min_Z, max_Z);
  if (has_gps_time) widen(gps_time, min_gps_time, max_gps_time);
}

bool LASinventory::add(const LASpoint* point) {
  const U32 return_number = point->get_extended_layout() ? point->get_extended_return_number()
                                                         : point->get_return_number();
  add_values(return_number, point->get_X(), point->get_Y(), point->get_Z(), point->has_gps_time, point->gps_time);
  return true;
}

void LASinventory::add_records(const U8* records, U32 count, const LASrecordFields& fields) {
  const U8 return_mask = fields.extended_returns ? 0x0F : 0x07;
  const bool has_gps_time = fields.gps_time_at >= 0;
  for (U32 i = 0; i < count; i++, records += fields.record_length) {
    const F64 gps_time = has_gps_time ? record_field<F64>(records + fields.gps_time_at) : 0.0;
    add_values(records[14] & return_mask, record_field<I32>(records), record_field<I32>(records + 4),
               record_field<I32>(records + 8), has_gps_time, gps_time);
  }
}

bool LASinventory::update_header(LASheader* header) const {
  if (header == nullptr) return false;
  const bool las_1_4_or_later = header->version_major > 1 || header->version_minor >= 4;
  // Every count that needs more than 32 bits: older headers cannot hold it;
  // from 1.4 on the legacy field holds 0 and the extended one the count. No
  // return count exceeds the total, so checking the total first is enough to
  // leave an older header untouched.
  if (number_of_point_records > (I64)U32_MAX && !las_1_4_or_later) return false;
  header->number_of_point_records = (number_of_point_records > (I64)U32_MAX) ? 0 : (U32)number_of_point_records;
  for (int r = 1; r <= 5; r++) {
    const I64 count = number_of_points_by_return[r];
    header->number_of_points_by_return[r - 1] = (count > (I64)U32_MAX) ? 0 : (U32)count;
  }
  header->max_x = header->get_x(max_X);
  header->min_x = header->get_x(min_X);
  header->max_y = header->get_y(max_Y);
  header->min_y = header->get_y(min_Y);
  header->max_z = header->get_z(max_Z);
  header->min_z = header->get_z(min_Z);
  header->max_gps_time = max_gps_time;
  header->min_gps_time = min_gps_time;
  header->extended_number_of_point_records = (U64)number_of_point_records;
  for (int r = 1; r <= 15; r++) header->extended_number_of_points_by_return[r - 1] = (U64)number_of_points_by_return[r];
  return true;
}

bool las_same_file(const char* name1, const char* name2) {
  if (name1 == nullptr || name2 == nullptr) return false;
  if (strcmp(name1, name2) == 0) return true;
  struct stat s1, s2;
  if (stat(name1, &s1) != 0 || stat(name2, &s2) != 0) return false;
  return s1.st_dev == s2.st_dev && s1.st_ino == s2.st_ino;
}

bool las_is_pipe(const char* name) {
  struct stat info;
  if (name == nullptr || stat(name, &info) != 0) return false;
  return S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode);
}

bool las_is_file_output(const char* name) {
  struct stat info;
  if (name == nullptr) return false;
  if (stat(name, &info) == 0) return S_ISREG(info.st_mode);
  // Nothing to follow: a new name, unless it is a link that points nowhere,
  // which is written through as it stands.
  return lstat(name, &info) != 0;
}

void LASfileSet::add(const std::string& name, const std::string& note) {
  notes.emplace(name, note);
  struct stat info;
  if (stat(name.c_str(), &info) == 0) identities.emplace(std::make_pair((U64)info.st_dev, (U64)info.st_ino), name);
}

const char* LASfileSet::find(const char* name, const char** note) const {
  if (name == nullptr) return nullptr;
  auto entry = notes.find(name);
  if (entry == notes.end()) {
    struct stat info;
    if (stat(name, &info) != 0) return nullptr;
    const auto by_identity = identities.find(std::make_pair((U64)info.st_dev, (U64)info.st_ino));
    if (by_identity == identities.end()) return nullptr;
    entry = notes.find(by_identity->second);
  }
  if (note) *note = entry->second.c_str();
  return entry->first.c_str();
}

namespace {
// Holds back the signals that end a run while a temporary file is made and
// registered for removal: one arriving in between would leave the file behind.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&ending, signal_number);
    sigprocmask(SIG_BLOCK, &ending, &before);
  }
  ~EndingSignalsHeld() { sigprocmask(SIG_SETMASK, &before, nullptr); }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before;
};
}  // namespace

FILE* LASoutputFile::open(const char* name) {
  discard();
  if (name == nullptr) return nullptr;
  target = name;
  if (!las_is_file_output(name)) {
    file = LASfopen(name, "wb");
    return file;
  }
  struct stat existing;
  const bool exists = stat(name, &existing) == 0;
  struct stat link;
  if (exists && lstat(name, &link) == 0 && S_ISLNK(link.st_mode)) {
    // The link stays; the file it names is replaced.
    if (const LASmallocated<char> real{realpath(name, nullptr)}) target = real.get();
  }
  const size_t slash = target.rfind('/');
  const std::string directory = (slash == std::string::npos) ? std::string() : target.substr(0, slash + 1);
  // A long base name is cut so that the temporary name still fits.
  const std::string base = target.substr(directory.size()).substr(0, 200);
  std::string pattern = directory + base + ".tmpXXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const EndingSignalsHeld held;
  const int descriptor = mkstemp(buffer.data());
  if (descriptor < 0) {
    // A directory that takes no new file may still hold a writable output:
    // it is then written in place, as it always could be.
    if (exists && (errno == EACCES || errno == EPERM)) {
      target = name;
      file = LASfopen(name, "wb");
    }
    return file;
  }
  // The file gets the permissions (and owner) the replaced file had, or those
  // a new file would get; mkstemp made it private.
  mode_t mode;
  if (exists) {
    mode = existing.st_mode & 0777;
    if (fchown(descriptor, existing.st_uid, existing.st_gid) != 0) {
      // Only the owner may give a file away; the permissions still follow.
    }
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(descriptor, mode);
  file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    ::close(descriptor);
    unlink(buffer.data());
    return nullptr;
  }
  temporary = buffer.data();
  las_remove_at_exit(temporary.c_str());
  return file;
}

bool LASoutputFile::close() {
  if (file == nullptr) return true;
  bool kept = fflush(file) == 0 && !ferror(file);
  kept = fclose(file) == 0 && kept;
  file = nullptr;
  return kept;
}

bool LASoutputFile::commit() {
  if (file != nullptr && !close()) {
    discard();
    return false;
  }
  if (temporary.empty()) return true;
  const bool renamed = rename(temporary.c_str(), target.c_str()) == 0;
  if (!renamed) unlink(temporary.c_str());
  las_keep_at_exit(temporary.c_str());
  temporary.clear();
  return renamed;
}

void LASoutputFile::discard() {
  if (file != nullptr) fclose(file);
  file = nullptr;
  if (temporary.empty()) return;
  unlink(temporary.c_str());
  las_keep_at_exit(temporary.c_str());
  temporary.clear();
}

void append_quoted_option_value(std::string& text, const std::string& value) {
  text += '"';
  for (char c : value) {
    if (c == '"' || c == '\\') text += '\\';
    text += c;
  }
  text += "\" ";
}

std::vector<std::string> split_option_text(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, in_double = false, in_single = false;
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (in_double) {
      if (c == '"') {
        in_double = false;
      } else if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
        word += text[++i];
      } else {
        word += c;
      }
    } else if (c == '"') {
      // Inside single quotes a double quote opens nothing but is still dropped.
      in_double = !in_single;
      in_word = true;
    } else if (c == ' ' && !in_single) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      if (c == '\'') in_single = !in_single;
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::string option_text_f64(F64 value, const char* format) {
  char buffer[512];
  snprintf(buffer, sizeof(buffer), format, value);
  if (strtod(buffer, nullptr) == value) return buffer;
  const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer), value);
  return std::string(buffer, result.ptr);
}

// Parsers read a float either directly ("%f") or as a double they narrow;
// the text must give the same float both ways.
static bool reads_back(const char* text, F32 value) {
  return strtof(text, nullptr) == value && (F32)strtod(text, nullptr) == value;
}

std::string option_text_f32(F32 value, const char* format) {
  char buffer[512];
  snprintf(buffer, sizeof(buffer), format, (F64)value);
  if (reads_back(buffer, value)) return buffer;
  std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer) - 1, value);
  *result.ptr = '\0';
  if (reads_back(buffer, value)) return std::string(buffer, result.ptr);
  // Nine significant digits name every float exactly.
  snprintf(buffer, sizeof(buffer), "%.9g", (F64)value);
  return buffer;
}
