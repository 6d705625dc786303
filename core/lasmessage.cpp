// Message counting, filtering, formatting and the process end. Plain globals: the
// process is single-threaded and child processes have their own copies.
#include "core/lasmessage.hpp"

#include "core/mydefs.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

uint64_t lasmessage_cnt[8] = {0, 0, 0, 0, 0, 0, 0, 0};

typedef void (*LASMessageHandler)(LAS_MESSAGE_TYPE type, const char* text, void* user_data);

static LAS_MESSAGE_TYPE las_message_level = INFO;
static LASMessageHandler message_handler = las_default_message_handler;
static void* message_user_data = nullptr;
static bool halt_on_error_ = true;
static bool print_log_stats_ = false;
static bool wait_on_exit_ = false;
static std::string output_being_opened;

static const int MESSAGE_BUFFER_SIZE = 8192;

static void las_message_va(LAS_MESSAGE_TYPE type, const char* format, va_list args) {
  if (type >= DEBUG && type <= FATAL_ERROR) lasmessage_cnt[type]++;
  if (type < las_message_level) return;  // hidden: counted, never formatted
  char buffer[MESSAGE_BUFFER_SIZE];
  int needed = vsnprintf(buffer, MESSAGE_BUFFER_SIZE, format, args);
  if (needed < 0) {
    buffer[0] = '\0';
  } else if (needed >= MESSAGE_BUFFER_SIZE) {
    fprintf(stderr, "INTERNAL: message cropped from %d to %d chars", needed, MESSAGE_BUFFER_SIZE);
  } else {
    size_t len = strlen(buffer);
    while (len > 0 && buffer[len - 1] == '\n') buffer[--len] = '\0';
  }
  message_handler(type, buffer, message_user_data);
}

void LASMessage(LAS_MESSAGE_TYPE type, const char* format, ...) {
  va_list args;
  va_start(args, format);
  las_message_va(type, format, args);
  va_end(args);
}

void laserror(const char* format, ...) {
  va_list args;
  va_start(args, format);
  las_message_va(ERROR, format, args);
  va_end(args);
  if (do_halt_on_error()) byebye();
}

void set_message_log_level(LAS_MESSAGE_TYPE level) {
  if (level == las_message_level) return;
  las_message_level = level;
  LASMessage(VERY_VERBOSE, "Log level [%s]", las_message_type_string(level));
}

LAS_MESSAGE_TYPE get_message_log_level() { return las_message_level; }

const char* las_message_type_string(LAS_MESSAGE_TYPE type) {
  switch (type) {
    case DEBUG: return "DEBUG";
    case VERY_VERBOSE: return "VERY_VERBOSE";
    case VERBOSE: return "VERBOSE";
    case INFO: return "INFO";
    case WARNING: return "WARNING";
    case SERIOUS_WARNING: return "SERIOUS_WARNING";
    case ERROR: return "ERROR";
    case FATAL_ERROR: return "FATAL_ERROR";
    case QUIET: return "QUIET";
  }
  return "?";
}

void format_message(std::string& text, unsigned indent, bool append_newline) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\t') {
      out += '\n';
      out.append(indent, ' ');
      i++;
    } else {
      out += text[i];
    }
  }
  if (append_newline) out += '\n';
  text.swap(out);
}

void las_default_message_handler(LAS_MESSAGE_TYPE type, const char* text, void* /*user_data*/) {
  const char* prefix = nullptr;
  switch (type) {
    case WARNING: prefix = "WARNING: "; break;
    case SERIOUS_WARNING: prefix = "SERIOUS WARNING: "; break;
    case ERROR: prefix = "ERROR: "; break;
    case FATAL_ERROR: prefix = "FATAL ERROR: "; break;
    default: break;
  }
  // The whole message in one write, so that the lines of child processes
  // sharing the stream do not cut into each other.
  std::string line(text);
  if (prefix) {
    format_message(line, (unsigned)strlen(prefix), true);
    line.insert(0, prefix);
  } else {
    line += '\n';
  }
  fwrite(line.data(), 1, line.size(), stderr);
}

void las_support_contact() { LASMessage(INFO, "\tcontact " PELKARTS_SUPPORT_ADDRESS " for support"); }

void halt_on_error(bool on) { halt_on_error_ = on; }
bool do_halt_on_error() { return halt_on_error_; }
void print_log_stats(bool on) { print_log_stats_ = on; }
void wait_on_exit(bool on) { wait_on_exit_ = on; }

int las_exit_code() {
  if (lasmessage_cnt[FATAL_ERROR]) return 4;
  if (lasmessage_cnt[ERROR]) return 3;
  if (lasmessage_cnt[SERIOUS_WARNING]) return 2;
  if (lasmessage_cnt[WARNING]) return 1;
  return 0;
}

void las_set_output_being_opened(const char* file_name) { output_being_opened = file_name ? file_name : ""; }

void byebye() {
  if (!output_being_opened.empty()) remove(output_being_opened.c_str());
  if (print_log_stats_) {
    LASMessage(INFO, "Log stats: FE=%lu,E=%lu,SW=%lu,W=%lu,I=%lu", (unsigned long)lasmessage_cnt[FATAL_ERROR],
               (unsigned long)lasmessage_cnt[ERROR], (unsigned long)lasmessage_cnt[SERIOUS_WARNING],
               (unsigned long)lasmessage_cnt[WARNING], (unsigned long)lasmessage_cnt[INFO]);
  }
  if (wait_on_exit_) {
    fputs("<press ENTER>\n", stderr);
    getc(stdin);
  }
  exit(las_exit_code());
}
