// Reading the values of an option, its standard messages, option text split
// into words, and the number formats of option text.
#include "core/lasoption.hpp"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdlib>

// ------------------------------------------------------------------ numbers

// True when strto* stopped at the end of a text it read something from.
static bool whole(const char* text, const char* end) { return end != text && *end == '\0'; }

bool las_read_f64(const char* text, F64* value) {
  char* end;
  const F64 v = strtod(text, &end);
  if (!whole(text, end) || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool las_read_f32(const char* text, F32* value) {
  char* end;
  const F32 v = strtof(text, &end);
  if (!whole(text, end) || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

bool las_read_i32(const char* text, I32* value) {
  char* end;
  errno = 0;
  const long long v = strtoll(text, &end, 10);
  if (!whole(text, end) || errno == ERANGE || v < I32_MIN || v > I32_MAX) return false;
  *value = (I32)v;
  return true;
}

// No sign: a minus would wrap to a large value that passes as a number.
bool las_read_u32(const char* text, U32* value) {
  const char* digits = text;
  while (isspace((unsigned char)*digits)) digits++;
  if (*digits == '-') return false;
  char* end;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 10);
  if (!whole(text, end) || errno == ERANGE || v > U32_MAX) return false;
  *value = (U32)v;
  return true;
}

// ------------------------------------------------------------------ values

// Token k of a blank-separated list; the last token for every k past it.
static std::string word_of(const char* list, size_t k) {
  std::string word;
  size_t index = 0;
  const char* p = list;
  while (*p) {
    while (*p == ' ') p++;
    if (*p == '\0') break;
    const char* start = p;
    while (*p && *p != ' ') p++;
    word.assign(start, p);
    if (index++ == k) break;
  }
  return word;
}

static bool read_value(const std::string& conversion, LASoptionValue& value) {
  const char* text = value.text;
  if (conversion == "%lf") return las_read_f64(text, &value.f64);
  if (conversion == "%f") {
    if (!las_read_f32(text, &value.f32)) return false;
    value.f64 = value.f32;
    return true;
  }
  if (conversion == "%d") {
    if (!las_read_i32(text, &value.i32)) return false;
    value.f64 = value.i32;
    return true;
  }
  if (conversion == "%u") {
    if (!las_read_u32(text, &value.u32)) return false;
    value.f64 = value.u32;
    return true;
  }
  return true;  // "%s": the text as it stands
}

bool las_take_option_values(const LASoption& option, int i, int argc, char* argv[], LASoptionCall& call) {
  call.option = &option;
  call.typed = argv[i];
  call.values.clear();
  if (i + (int)option.count >= argc) {
    laserror("%s", call.needs_message().c_str());
    return false;
  }
  for (int k = 1;; k++) {
    const bool further = k > (int)option.count;
    if (further) {
      const bool more_allowed = option.more == LAS_OPTION_LIST || k <= (int)option.count + (int)option.more;
      if (!more_allowed || i + k >= argc) break;
      const char* next = argv[i + k];
      if (!(option.further ? option.further(next) : isdigit((unsigned char)next[0]) != 0)) break;
    }
    LASoptionValue value;
    value.text = argv[i + k];
    call.values.push_back(value);
    if (!read_value(word_of(option.conversions, k - 1), call.values.back())) {
      laserror("%s", call.invalid_message(k - 1).c_str());
      return false;
    }
  }
  return true;
}

// ------------------------------------------------------------------ messages

// A list written "x, y, z" names its values without the commas.
std::string LASoptionCall::value_name(size_t k) const {
  std::string name = word_of(option->values, k);
  if (!name.empty() && name.back() == ',') name.pop_back();
  return name;
}

std::string LASoptionCall::needs_message() const {
  if (option->needs) return las_option_message(option->needs, *this);
  std::string text = "'{option}' needs ";
  if (option->more == LAS_OPTION_LIST) text += "at least ";
  text += option->count == 1 ? "{count} argument: {values}" : "{count} arguments: {values}";
  return las_option_message(text.c_str(), *this);
}

std::string LASoptionCall::invalid_message(size_t k) const {
  const char* templ = option->invalid;
  if (k >= option->count && option->invalid_more) templ = option->invalid_more;
  return las_option_message(templ ? templ : "{needs} but '{arg}' is no valid {name}", *this, k);
}

std::string las_option_message(const char* templ, const LASoptionCall& call, size_t k) {
  std::string out;
  for (const char* p = templ; *p; p++) {
    const char* close = (*p == '{') ? strchr(p, '}') : nullptr;
    if (close == nullptr) {
      out += *p;
      continue;
    }
    const std::string field(p + 1, close);
    if (field == "option") {
      out += call.typed;
    } else if (field == "count") {
      out += std::to_string(call.option->count);
    } else if (field == "values") {
      out += call.option->values;
    } else if (field == "needs") {
      out += call.needs_message();
    } else if (field == "arg") {
      out += k < call.values.size() ? call.values[k].text : "";
    } else if (field == "name") {
      out += call.value_name(k);
    } else {
      out += *p;  // not a field: the brace stands as written
      continue;
    }
    p = close;
  }
  return out;
}

// ------------------------------------------------------------------ option text

LASoptionWords::LASoptionWords(const char* text) : text(text ? text : "") {
  static char program[] = "";
  words.push_back(program);
  char* p = this->text.data();
  while (*p) {
    if (*p == ' ') {
      p++;
      continue;
    }
    words.push_back(p);
    while (*p && *p != ' ') p++;
    if (*p) *p++ = '\0';
  }
  words.push_back(nullptr);
}

void las_option_text(std::string& text, const char* word) {
  text += word;
  text += ' ';
}

static bool reads_back(const char* text, F64 value) {
  F64 back;
  return las_read_f64(text, &back) && back == value;
}
static bool reads_back(const char* text, F32 value) {
  F32 back;
  return las_read_f32(text, &back) && back == value;
}

// The customary text of the value when it reads back to the value itself,
// else the text with every digit the type needs.
template <typename T>
static void number(std::string& text, const char* format, const char* exact, T value) {
  char buffer[512];  // "%lf" of the largest double takes 316 characters
  snprintf(buffer, sizeof(buffer), format, (F64)value);
  if (!reads_back(buffer, value)) snprintf(buffer, sizeof(buffer), exact, (F64)value);
  las_option_text(text, buffer);
}

void las_option_text_lf(std::string& text, F64 value) { number<F64>(text, "%lf", "%.17g", value); }
void las_option_text_f(std::string& text, F32 value) { number<F32>(text, "%f", "%.9g", value); }
void las_option_text_g(std::string& text, F64 value) { number<F64>(text, "%g", "%.17g", value); }
void las_option_text_g(std::string& text, F32 value) { number<F32>(text, "%g", "%.9g", value); }
void las_option_text_3f(std::string& text, F32 value) { number<F32>(text, "%.3f", "%.9g", value); }
void las_option_text_d(std::string& text, I64 value) { las_option_text(text, std::to_string(value).c_str()); }
