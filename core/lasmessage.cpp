// Message counting, filtering, formatting and the process end. Plain globals: the
// process is single-threaded and child processes have their own copies.
#include "core/lasmessage.hpp"

#include "core/mydefs.hpp"

#include <signal.h>
#include <unistd.h>

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

static const int MESSAGE_BUFFER_SIZE = 8192;

static void las_message_va(LAS_MESSAGE_TYPE type, const char* format, va_list args) {
  if (type >= DEBUG && type <= FATAL_ERROR) lasmessage_cnt[type]++;
  if (type < las_message_level) return;  // hidden: counted, never formatted
  char buffer[MESSAGE_BUFFER_SIZE];
  int needed = vsnprintf(buffer, MESSAGE_BUFFER_SIZE, format, args);
  if (needed < 0) {
    buffer[0] = '\0';
  } else if (needed >= MESSAGE_BUFFER_SIZE) {
    fprintf(stderr, "INTERNAL: message cropped from %d to %d chars\n", needed, MESSAGE_BUFFER_SIZE);
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

// The files to remove at an early end, in fixed slots: a signal handler reads
// them, so they are never reallocated, and a slot is marked used only after
// its name is complete.
static const int EXIT_FILE_SLOTS = 8;
static const size_t EXIT_FILE_NAME_SIZE = 4096;
static char exit_file_names[EXIT_FILE_SLOTS][EXIT_FILE_NAME_SIZE];
static volatile sig_atomic_t exit_file_used[EXIT_FILE_SLOTS];

static void remove_exit_files() {
  for (int i = 0; i < EXIT_FILE_SLOTS; i++) {
    if (exit_file_used[i]) unlink(exit_file_names[i]);
    exit_file_used[i] = 0;
  }
}

static void remove_exit_files_and_die(int signal_number) {
  remove_exit_files();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Only signals that would end the process anyway: one the caller ignores
// (nohup, for instance) stays ignored.
static void catch_ending_signals() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction action = {};
    action.sa_handler = remove_exit_files_and_die;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
}

void las_remove_at_exit(const char* file_name) {
  if (file_name == nullptr || strlen(file_name) >= EXIT_FILE_NAME_SIZE) return;
  catch_ending_signals();
  for (int i = 0; i < EXIT_FILE_SLOTS; i++) {
    if (exit_file_used[i]) continue;
    strcpy(exit_file_names[i], file_name);
    exit_file_used[i] = 1;
    return;
  }
}

void las_keep_at_exit(const char* file_name) {
  if (file_name == nullptr) return;
  for (int i = 0; i < EXIT_FILE_SLOTS; i++) {
    if (exit_file_used[i] && strcmp(exit_file_names[i], file_name) == 0) exit_file_used[i] = 0;
  }
}

void byebye() {
  remove_exit_files();
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
