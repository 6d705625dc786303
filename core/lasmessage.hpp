// The one way the framework reports: every message is counted by type, shown on
// stderr with a severity prefix when at or above the log level, and the counts
// decide the exit code when the run ends through byebye().
#pragma once

#include <cstdint>
#include <string>

enum LAS_MESSAGE_TYPE {
  DEBUG = 0,
  VERY_VERBOSE = 1,
  VERBOSE = 2,
  INFO = 3,
  WARNING = 4,
  SERIOUS_WARNING = 5,
  ERROR = 6,
  FATAL_ERROR = 7,
  QUIET = 8
};

// Number of LASMessage calls per type 0..7, shown or not.
extern uint64_t lasmessage_cnt[8];

void LASMessage(LAS_MESSAGE_TYPE type, const char* format, ...) __attribute__((format(printf, 2, 3)));

void set_message_log_level(LAS_MESSAGE_TYPE level);
LAS_MESSAGE_TYPE get_message_log_level();
const char* las_message_type_string(LAS_MESSAGE_TYPE type);
void las_default_message_handler(LAS_MESSAGE_TYPE type, const char* text, void* user_data);

// The INFO line that sends the user to support, after errors they cannot fix
// alone.
void las_support_contact();

// Replaces every newline-and-tab pair by a newline and `indent` blanks; appends
// one newline when asked.
void format_message(std::string& text, unsigned indent, bool append_newline);

// An ERROR message, then the end of the process while halting on errors is on;
// otherwise returns and the caller reports failure.
void laserror(const char* format, ...) __attribute__((format(printf, 1, 2)));

void halt_on_error(bool on);
bool do_halt_on_error();
void print_log_stats(bool on);
void wait_on_exit(bool on);

// Files that must not outlive a run that ends before they are complete (the
// temporary file of an output being written): byebye removes every file still
// listed, and so does a run ended by SIGINT, SIGTERM or SIGHUP. Keeping a
// file takes it off the list. A name too long for the list is not listed.
void las_remove_at_exit(const char* file_name);
void las_keep_at_exit(const char* file_name);

// Ends the process with 4, 3, 2, 1 or 0 for the worst message type counted.
[[noreturn]] void byebye();
// The exit code byebye would use now.
int las_exit_code();
