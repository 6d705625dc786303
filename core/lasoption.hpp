// One way to read command-line options. An option is a row of a table: its
// name, how many values follow it and what the messages call them, how each
// value is read, and the templates of its two standard messages ("... needs 2
// arguments: min max", "... but 'a' is no valid max"). The helper takes and
// checks the values behind an option; the row's `apply` checks their ranges and
// stores them into the parser's target; the option and its values are then
// blanked for the parsers that come after. Option text (what `unparse` writes
// for child processes and stored layers) is split and written here too.
//
// Parsing runs once per command line; nothing here is on a per-point path.
#pragma once

#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/mydefs.hpp"

// `LASoption::more` for options that take any number of further values.
constexpr U8 LAS_OPTION_LIST = 255;

// One row of an option table. Message templates name their parts in braces:
// {option} the option as typed, {count} the number of values that must follow,
// {values} the names of the values, {needs} the filled `needs` message,
// {arg} the argument that did not read, {name} the name of its value.
struct LASoption {
  const char* name;  // "-keep_xy"; with `prefix`, the beginning of a family of words
  // The value names as the messages show them, blank-separated; value k is
  // named by word k without a trailing comma (the last word names every value
  // past it).
  const char* values;
  U8 count;  // values that must follow
  // How each value is read: "%lf" (F64), "%f" (F32), "%d" (I32), "%u" (U32)
  // or "%s" (the text as it stands), one blank-separated token per value, the
  // last token for every value past it ("%d %lf": an index, then doubles).
  // A number must fill its whole argument: "12abc" is not a number.
  const char* conversions;
  // Further values, taken while the next argument qualifies (see `further`).
  U8 more = 0;
  // Templates; null takes the default. `needs`: "'{option}' needs {count}
  // argument(s): {values}" ("needs at least" for lists). `invalid`:
  // "{needs} but '{arg}' is no valid {name}". `invalid_more`: the same for the
  // further values; null: as `invalid`.
  const char* needs = nullptr;
  const char* invalid = nullptr;
  const char* invalid_more = nullptr;
  // The word only has to begin with `name`; `apply` judges the rest.
  bool prefix = false;
  // Whether the next argument is a further value; null: it begins with a digit.
  bool (*further)(const char* argument) = nullptr;
};

// One value behind an option as read: the argument, and the number in the
// field of its conversion (and, for every number, widened into `f64`).
struct LASoptionValue {
  const char* text = nullptr;
  F64 f64 = 0.0;
  F32 f32 = 0.0f;
  I32 i32 = 0;
  U32 u32 = 0;
};

// An option met on the command line with the values read behind it.
struct LASoptionCall {
  const LASoption* option = nullptr;
  const char* typed = nullptr;  // the option word as typed
  std::vector<LASoptionValue> values;

  // The messages the row words for missing values and for value k not read.
  std::string needs_message() const;
  std::string invalid_message(size_t k) const;
  // The name of value k in the row's `values`.
  std::string value_name(size_t k) const;
};

// How a row's apply ended: the option and its values are taken; the word is
// not this option after all (left for the other parsers, nothing taken); or an
// error was reported.
enum class LASoptionResult : U8 { TAKEN, LEFT, FAILED };

// A row of a parser's table: the option and what its values do to the owner
// (the parser's target): range checks, then the store. FAILED after a reported
// error, with nothing stored.
template <class Owner>
struct LASoptionRow {
  LASoption option;
  LASoptionResult (*apply)(Owner& owner, const LASoptionCall& call);
};

// A number read whole from an argument (leading blanks allowed, nothing after
// it); a double or float must be finite. False when the text is no such number.
bool las_read_f64(const char* text, F64* value);
bool las_read_f32(const char* text, F32* value);
bool las_read_i32(const char* text, I32* value);
bool las_read_u32(const char* text, U32* value);

// Takes the values behind the option word at argv[i] into `call`: the `count`
// values that must follow, whatever they contain, then the further ones while
// the next argument qualifies. Reports the row's message through
// laserror and answers false when too few follow or one does not read.
bool las_take_option_values(const LASoption& option, int i, int argc, char* argv[], LASoptionCall& call);

// Fills a message template (see LASoption) for the call; `k` is the value that
// {arg} and {name} stand for.
std::string las_option_message(const char* templ, const LASoptionCall& call, size_t k = 0);

// Empties argv[from] to argv[to], so the parsers after this one skip them.
inline void las_blank_arguments(char* argv[], int from, int to) {
  for (int k = from; k <= to; k++) argv[k][0] = '\0';
}

// The row for the word among the tables of a parser's option families: an
// exact name in any table, or else the first prefix row the word begins with
// (so that no prefix shadows an exact name of another table); null when none.
// `tables` is any range of spans of rows.
template <class Owner, class Tables>
const LASoptionRow<Owner>* las_find_option_among(const Tables& tables, const char* word) {
  for (std::span<const LASoptionRow<Owner>> rows : tables) {
    for (const LASoptionRow<Owner>& row : rows) {
      if (!row.option.prefix && strcmp(word, row.option.name) == 0) return &row;
    }
  }
  for (std::span<const LASoptionRow<Owner>> rows : tables) {
    for (const LASoptionRow<Owner>& row : rows) {
      if (row.option.prefix && strncmp(word, row.option.name, strlen(row.option.name)) == 0) return &row;
    }
  }
  return nullptr;
}

// The same in one table.
template <class Owner>
const LASoptionRow<Owner>* las_find_option(std::span<const LASoptionRow<Owner>> rows, const char* word) {
  const std::span<const LASoptionRow<Owner>> one[] = {rows};
  return las_find_option_among<Owner>(one, word);
}

// Runs the row for the option at argv[i]: reads its values, applies them, and
// when they are taken blanks the option and its values (unless `blank` is
// false) and leaves i on the last value taken.
template <class Owner>
LASoptionResult las_run_option(const LASoptionRow<Owner>& row, Owner& owner, int& i, int argc, char* argv[],
                               bool blank = true) {
  LASoptionCall call;
  if (!las_take_option_values(row.option, i, argc, argv, call)) return LASoptionResult::FAILED;
  const LASoptionResult result = row.apply(owner, call);
  if (result != LASoptionResult::TAKEN) return result;
  const int last = i + (int)call.values.size();
  if (blank) las_blank_arguments(argv, i, last);
  i = last;
  return result;
}

// Option text split at blanks (0x20 only; no quoting) into an argument vector
// whose entry 0 stands for the program name; any number of words.
class LASoptionWords {
 public:
  explicit LASoptionWords(const char* text);
  LASoptionWords(const LASoptionWords&) = delete;
  LASoptionWords& operator=(const LASoptionWords&) = delete;
  int argc() const { return (int)words.size() - 1; }
  char** argv() { return words.data(); }

 private:
  std::string text;
  std::vector<char*> words;  // null-terminated
};

// Writing option text: each call appends one item and one blank. A number is
// written in the customary format when that text reads back to the same
// value, otherwise with every digit it needs, so that a child process or a
// stored layer rebuilds the very same option.
void las_option_text(std::string& text, const char* word);
void las_option_text_lf(std::string& text, F64 value);  // "%lf", else "%.17g"
void las_option_text_f(std::string& text, F32 value);   // "%f", else "%.9g"
void las_option_text_g(std::string& text, F64 value);   // "%g", else "%.17g"
void las_option_text_g(std::string& text, F32 value);   // "%g", else "%.9g"
void las_option_text_d(std::string& text, I64 value);   // decimal integer
void las_option_text_3f(std::string& text, F32 value);  // "%.3f", else "%.9g"
