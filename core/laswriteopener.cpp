// Output options, output names and the choice of writer.
#include "core/laswriteopener.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/laswriter_las.hpp"
#include "core/lasutility.hpp"
#include "formats/laswriter_bin.hpp"
#include "formats/laswriter_qfit.hpp"
#include "formats/laswriter_txt.hpp"
#include "formats/laswriter_wrl.hpp"

const char* const PELKARTS_FORMAT_NAMES[12] = {"las", "las", "vmb", "bin", "qi", "wrl", "txt", "shp", "asc", "bil", "flt", "json"};

namespace {

// The text is copied before the old one goes: it may lie inside it.
void replace(std::optional<std::string>& target, const char* text) {
  if (text == nullptr) {
    target.reset();
  } else {
    target = std::string(text);
  }
}

void replace(std::optional<std::string>& target, const std::string& text) { target = text; }

bool is_separator(char c) { return c == '/' || c == '\\' || c == ':'; }

// Index of the last separator at index 1 or later; 0 when there is none
// (index 0 is never examined).
size_t last_separator(const std::string& name) {
  for (size_t i = name.size(); i-- > 1;)
    if (is_separator(name[i])) return i;
  return 0;
}

// Index of the last '.' at index 1 or later; npos when there is none.
size_t last_dot(const std::string& name) {
  for (size_t i = name.size(); i-- > 1;)
    if (name[i] == '.') return i;
  return std::string::npos;
}

const char* const USAGE =
    "Supported LAS Outputs\n"
    "  -o lidar.las\n"
    "  -o lidar.vmb\n"
    "  -o xyzta.txt -oparse xyzta (on-the-fly to ASCII)\n"
    "  -o terrasolid.bin\n"
    "  -odir C:%cdata%cground (specify output directory)\n"
    "  -odix _classified (specify file name appendix)\n"
    "  -ocut 2 (cut the last two characters from name)\n"
    "  -olas -ovmb -otxt -obin -oqi (specify format)\n"
    "  -stdout (pipe to stdout)\n"
    "  -nil    (pipe to NULL)\n";

}  // namespace

// ------------------------------------------------------------------ options

// The format options, for parsing and for option text.
struct FormatOption {
  const char* option;
  U32 format;
};
static const FormatOption FORMAT_OPTIONS[] = {
    {"-olas", LASwriteOpener::FORMAT_LAS},  {"-ovmb", LASwriteOpener::FORMAT_VMB},
    {"-obin", LASwriteOpener::FORMAT_BIN},  {"-oqi", LASwriteOpener::FORMAT_QFIT},
    {"-owrl", LASwriteOpener::FORMAT_VRML}, {"-otxt", LASwriteOpener::FORMAT_TXT},
    {"-ojs", LASwriteOpener::FORMAT_JSON}};

// The apply of an option that only sets a member to a value.
template <auto member, auto value>
static LASoptionResult set_to(LASwriteOpener& opener, const LASoptionCall&) {
  opener.*member = value;
  return LASoptionResult::TAKEN;
}

// The apply of an option whose text goes to a setter.
template <void (LASwriteOpener::*setter)(const char*)>
static LASoptionResult set_text(LASwriteOpener& opener, const LASoptionCall& call) {
  (opener.*setter)(call.values[0].text);
  return LASoptionResult::TAKEN;
}

// The apply of a count or size: the digits up to the first other character;
// text without them reads as 0.
template <auto member>
static LASoptionResult set_count(LASwriteOpener& opener, const LASoptionCall& call) {
  opener.*member = (U32)strtoul(call.values[0].text, nullptr, 10);
  return LASoptionResult::TAKEN;
}

std::span<const LASoptionRow<LASwriteOpener>> LASwriteOpener::option_rows() {
  using Row = LASoptionRow<LASwriteOpener>;
  constexpr LASoptionResult TAKEN = LASoptionResult::TAKEN;
  // A format option rewrites the extension of a name given before it; "-otxt"
  // leaves that name as it stands.
  constexpr auto choose_format = [](LASwriteOpener& o, const LASoptionCall& call) {
    for (const FormatOption& f : FORMAT_OPTIONS) {
      if (strcmp(call.typed, f.option) == 0) o.format = f.format;
    }
    o.specified = true;
    if (o.file_name && o.format != FORMAT_TXT) o.replace_extension(o.format_word());
    return TAKEN;
  };
  static const Row rows[] = {
      {{"-olas", "", 0, ""}, choose_format},
      {{"-ovmb", "", 0, ""}, choose_format},
      {{"-obin", "", 0, ""}, choose_format},
      {{"-oqi", "", 0, ""}, choose_format},
      {{"-owrl", "", 0, ""}, choose_format},
      {{"-otxt", "", 0, ""}, choose_format},
      {{"-ojs", "", 0, ""}, choose_format},
      {{"-o", "file_name", 1, "%s"}, set_text<&LASwriteOpener::set_file_name>},
      {{"-odir", "directory", 1, "%s"},
       [](LASwriteOpener& o, const LASoptionCall& call) {
         if (o.set_directory(call.values[0].text)) return TAKEN;
         laserror("'%s' is not a valid directory", call.values[0].text);
         return LASoptionResult::FAILED;
       }},
      {{"-odix", "appendix", 1, "%s"},
       [](LASwriteOpener& o, const LASoptionCall& call) {
         replace(o.appendix, call.values[0].text);
         if (o.file_name) o.add_appendix();
         return TAKEN;
       }},
      {{"-ocut", "number of characters to cut", 1, "%s"},
       [](LASwriteOpener& o, const LASoptionCall& call) {
         set_count<&LASwriteOpener::cut>(o, call);
         if (o.cut && o.file_name) o.cut_characters();
         return TAKEN;
       }},
      {{"-oforce", "", 0, ""}, set_to<&LASwriteOpener::force, true>},
      {{"-native", "", 0, ""}, set_to<&LASwriteOpener::native, true>},
      {{"-compatible", "", 0, ""}, set_to<&LASwriteOpener::native, false>},
      {{"-stdout", "", 0, ""},
       [](LASwriteOpener& o, const LASoptionCall&) {
         o.use_stdout = true;
         o.use_nil = false;
         return TAKEN;
       }},
      {{"-nil", "", 0, ""},
       [](LASwriteOpener& o, const LASoptionCall&) {
         o.use_nil = true;
         o.use_stdout = false;
         return TAKEN;
       }},
      {{"-chunk_size", "number_points", 1, "%s"}, set_count<&LASwriteOpener::chunk_size>},
      {{"-oparse", "string", 1, "%s"}, set_text<&LASwriteOpener::set_parse_string>},
      {{"-osep", "separator", 1, "%s"}, set_text<&LASwriteOpener::set_separator>},
      {{"-oscale_rgb", "scale", 1, "%s"},
       [](LASwriteOpener& o, const LASoptionCall& call) {
         o.scale_rgb = (F32)atof(call.values[0].text);
         return TAKEN;
       }},
      {{"-opts", "", 0, ""}, set_to<&LASwriteOpener::opts, true>},
      {{"-optx", "", 0, ""}, set_to<&LASwriteOpener::optx, true>},
      {{"-io_obuffer", "size", 1, "%s"}, set_count<&LASwriteOpener::io_obuffer_size>},
  };
  return rows;
}

bool LASwriteOpener::parse(int argc, char* argv[]) {
  const std::span<const LASoptionRow<LASwriteOpener>> rows = option_rows();
  for (int i = 1; i < argc; i++) {
    const char* word = argv[i];
    if (word[0] == '\0') continue;
    if (strcmp(word, "-h") == 0 || strcmp(word, "-help") == 0) return true;
    if (strcmp(word, "-hh") == 0) {
      LASMessage(INFO, USAGE, '/', '/');
      return true;
    }
    const LASoptionRow<LASwriteOpener>* row = las_find_option(rows, word);
    if (row == nullptr) continue;  // another parser's, or nobody's: the tool reports it
    if (las_run_option(*row, *this, i, argc, argv) == LASoptionResult::FAILED) return false;
  }
  return true;
}

void LASwriteOpener::set_parse_string(const char* text) { replace(parse_string, text); }

void LASwriteOpener::set_separator(const char* text) { replace(separator, text); }

// ------------------------------------------------------------------ option text

I32 LASwriteOpener::unparse(std::string& text) const {
  const size_t start = text.size();
  for (const FormatOption& f : FORMAT_OPTIONS) {
    if (format == f.format) las_option_text(text, f.option);
  }
  if (!native) text += "-compatible ";
  if (chunk_size != 50000) text += "-chunk_size " + std::to_string(chunk_size) + " ";
  if (io_obuffer_size != 262144) text += "-io_obuffer " + std::to_string(io_obuffer_size) + " ";
  if (force) text += "-oforce ";
  if (use_nil) text += "-nil ";
  if (parse_string) {
    text += "-oparse ";
    append_quoted_option_value(text, *parse_string);
  }
  if (separator) {
    text += "-osep ";
    append_quoted_option_value(text, *separator);
  }
  if (scale_rgb != 1.0f) text += "-oscale_rgb " + option_text_f32(scale_rgb) + " ";
  if (opts) text += "-opts ";
  if (optx) text += "-optx ";
  return (I32)(text.size() - start);
}

// ------------------------------------------------------------------ formats

U32 LASwriteOpener::get_format() const {
  if (specified || !file_name) return format;
  if (HasFileExt(*file_name, ".vmb")) return FORMAT_VMB;
  if (HasFileExt(*file_name, ".las")) return FORMAT_LAS;
  if (HasFileExt(*file_name, ".bin")) return FORMAT_BIN;
  if (HasFileExt(*file_name, ".qi")) return FORMAT_QFIT;
  if (HasFileExt(*file_name, ".wrl")) return FORMAT_VRML;
  if (HasFileExt(*file_name, ".json")) return FORMAT_JSON;
  return FORMAT_TXT;
}

const char* LASwriteOpener::get_format_name() const {
  const U32 f = get_format();
  if (f == FORMAT_JSON) return "json";
  return (f < 12) ? PELKARTS_FORMAT_NAMES[f] : "txt";
}

const char* LASwriteOpener::format_word() const {
  switch (format) {
    case FORMAT_DEFAULT:
    case FORMAT_LAS: return "las";
    case FORMAT_VMB: return "vmb";
    case FORMAT_BIN: return "bin";
    case FORMAT_QFIT: return "qi";
    case FORMAT_VRML: return "wrl";
    case FORMAT_JSON: return "json";
    default: return "txt";
  }
}

void LASwriteOpener::replace_extension(const char* word) {
  std::string name = *file_name;
  const size_t dot = last_dot(name);
  if (dot == std::string::npos) return;
  replace(file_name, name.substr(0, dot + 1) + word);
}

// ------------------------------------------------------------------ names

void LASwriteOpener::set_file_name(const char* name) {
  if (name == nullptr) {
    file_name.reset();
    return;
  }
  std::string text = name;
  while (!text.empty() && text.back() == ' ') text.pop_back();

  // An extension is what follows a '.' among the last five characters.
  size_t dot = std::string::npos;
  for (size_t k = text.size(); k-- > 0 && k + 5 >= text.size();) {
    if (text[k] == '.') {
      dot = k;
      break;
    }
  }
  if (dot != std::string::npos) {
    if (!specified) {
      const std::string ext = text.substr(dot + 1);
      auto has = [&](const char* lower, const char* upper) {
        return ext.find(lower) != std::string::npos || ext.find(upper) != std::string::npos;
      };
      if (has("vmb", "VMB"))
        format = FORMAT_VMB;
      else if (has("las", "LAS"))
        format = FORMAT_LAS;
      else if (has("bin", "BIN"))
        format = FORMAT_BIN;
      else if (has("qi", "QI"))
        format = FORMAT_QFIT;
      else if (has("wrl", "WRL"))
        format = FORMAT_VRML;
      else if (has("json", "JSON"))
        format = FORMAT_JSON;
      else
        format = FORMAT_TXT;
    }
  } else {
    text += '.';
    text += format_word();
  }
  replace(file_name, text);
  if (directory) add_directory();
  if (cut) cut_characters();
  if (appendix) add_appendix();
}

bool LASwriteOpener::set_directory(const char* dir) {
  if (dir == nullptr) {
    directory.reset();
    return true;
  }
  std::string text = dir;
  if (text.find_first_of(";\"") != std::string::npos) {
    LASMessage(WARNING,
               "specified '-odir' seems to contain a substring '\\\"' such\n\tas -odir \"D:\\\" or -odir "
               "\"..\\tiles\\\". this command will\n\tprobably fail. please use -odir \"D:\" or -odir "
               "\"..\\tiles\"\n\tinstead.");
  }
  if (!text.empty() && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  replace(directory, text);
  if (file_name) add_directory();
  if (text.empty() || text.back() == ':') return true;
  struct stat info;
  return stat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void LASwriteOpener::add_directory(const char* dir) {
  if (dir == nullptr) dir = text_of(directory);
  if (!file_name || dir == nullptr) return;
  const std::string name = *file_name;
  const size_t sep = last_separator(name);
  const std::string base = sep ? name.substr(sep + 1) : name;
  replace(file_name, std::string(dir) + '/' + base);
}

void LASwriteOpener::add_appendix(const char* text) {
  if (text == nullptr) text = text_of(appendix);
  if (!file_name || text == nullptr) return;
  std::string name = *file_name;
  size_t at = 0;
  for (size_t i = name.size(); i-- > 1;) {
    if (name[i] == '.' || is_separator(name[i])) {
      at = i;
      break;
    }
  }
  if (at && name[at] == '.')
    name.insert(at, text);
  else
    name += text;
  replace(file_name, name);
}

void LASwriteOpener::cut_characters() {
  if (!file_name || cut == 0) return;
  std::string name = *file_name;
  size_t dot = 0;
  for (size_t i = name.size(); i-- > 1;) {
    if (is_separator(name[i])) break;
    if (name[i] == '.') {
      dot = i;
      break;
    }
  }
  if (dot) {
    const size_t sep = last_separator(name.substr(0, dot));
    const size_t base_start = sep ? sep + 1 : 0;
    const size_t n = std::min<size_t>(cut, dot - base_start);
    name.erase(dot - n, n);
  } else {
    name.erase(name.size() - std::min<size_t>(cut, name.size()));
  }
  replace(file_name, name);
}

bool LASwriteOpener::make_file_name(const char* input, I32 number) {
  // The input may be the held name itself, which changes below.
  const Text input_copy = input ? Text(input) : std::nullopt;
  input = text_of(input_copy);
  if (number < 0) {
    file_name.reset();
    std::string name;
    if (input == nullptr) {
      name = std::string("output.") + format_word();
    } else {
      const std::string in = input;
      const size_t dot = last_dot(in);
      std::string base = (dot == std::string::npos) ? std::string() : in.substr(0, dot);
      if (cut) {
        base.erase(base.size() - std::min<size_t>(cut, base.size()));
        if (appendix) base += *appendix;
      } else if (appendix) {
        base += *appendix;
      } else if (!directory && number == -1) {
        base += "_1";
      }
      name = base + '.' + format_word();
    }
    replace(file_name, name);
  } else {
    if (input) {
      replace(file_name, input);
      cut_characters();
    } else if (!file_name) {
      replace(file_name, std::string("output_0000000.") + format_word());
    }
    std::string name = *file_name;
    size_t dot = last_dot(name);
    if (dot == std::string::npos) dot = name.size();
    U32 rest = (U32)number;
    for (size_t i = dot; i-- > 1 && name[i] >= '0' && name[i] <= '9';) {
      name[i] = (char)('0' + rest % 10);
      rest /= 10;
    }
    if (rest) LASMessage(WARNING, "file name number %d too big to store in '%s'. use more digits.", number, name.c_str());
    name = name.substr(0, dot) + '.' + format_word();
    replace(file_name, name);
  }
  if (directory) add_directory();
  return avoid_input_name(input);
}

bool LASwriteOpener::avoid_input_name(const char* input) {
  if (input == nullptr || force || !las_same_file(get_file_name(), input)) return true;
  // "temp" names the output in the working directory. A file there already
  // (another run's output, an earlier output of this run, or the input
  // itself) is never replaced by a name the user did not choose.
  const std::string name = std::string("temp.") + format_word();
  struct stat info;
  if (lstat(name.c_str(), &info) == 0) {
    file_name.reset();
    laserror(
        "generated output name '%s'\n\tidentical to input name. cannot change it to '%s'\n\tas that file "
        "exists already. use '-odir' or '-odix' to choose another name.",
        input, name.c_str());
    return false;
  }
  LASMessage(WARNING,
             "generated output name '%s'\n\tidentical to input name. changed to '%s'.\n\tyou can override this "
             "safety measure with '-oforce'.",
             input, name.c_str());
  replace(file_name, name);
  return true;
}

bool LASwriteOpener::writes_to(const char* name) const {
  if (use_nil || !file_name) return false;
  return las_same_file(file_name->c_str(), name);
}

bool LASwriteOpener::can_update_header() const {
  if (use_nil) return true;
  if (file_name) return las_is_file_output(file_name->c_str());
  return !use_stdout;
}

// ------------------------------------------------------------------ opening

U32 LASwriteOpener::compressor() const {
  if (format != FORMAT_VMB) return 0;
  return native ? 3u : 2u;
}

LASwriter* LASwriteOpener::open_nil(const LASheader* header) const {
  auto writer = std::make_unique<LASwriterLAS>();
  if (!writer->open(header, compressor(), requested_version, (I32)chunk_size)) {
    laserror("cannot open laswriterlas to NULL");
    return nullptr;
  }
  return writer.release();
}

// Each writer opened on the held name, or on the standard output when there
// is none.
bool LASwriteOpener::open_las(LASwriterLAS& writer, const LASheader* header) const {
  if (file_name) {
    return writer.open(file_name->c_str(), header, compressor(), requested_version, (I32)chunk_size, io_obuffer_size);
  }
  return writer.open(stdout, header, compressor(), requested_version, (I32)chunk_size);
}

bool LASwriteOpener::open_bin(LASwriterBIN& writer, const LASheader* header) const {
  return file_name ? writer.open(file_name->c_str(), header, "ts8", 262144) : writer.open(stdout, header, "ts8");
}

bool LASwriteOpener::open_qfit(LASwriterQFIT& writer, const LASheader* header) const {
  return file_name ? writer.open(file_name->c_str(), header, 40, 65536) : writer.open(stdout, header, 40);
}

bool LASwriteOpener::open_wrl(LASwriterWRL& writer, const LASheader* header) const {
  const char* parse = text_of(parse_string);
  return file_name ? writer.open(file_name->c_str(), header, parse) : writer.open(stdout, header, parse);
}

bool LASwriteOpener::open_txt(LASwriterTXT& writer, const LASheader* header) const {
  if (opts) {
    writer.set_pts(true);
  } else if (optx) {
    writer.set_ptx(true);
  }
  const char* parse = text_of(parse_string);
  const char* sep = text_of(separator);
  const bool ok = file_name ? writer.open(file_name->c_str(), header, parse, sep) : writer.open(stdout, header, parse, sep);
  if (ok && scale_rgb != 1.0f) writer.set_scale_rgb(scale_rgb);
  return ok;
}

// Makes the writer of type W and opens it with `open_step`; null after the
// error that names the writer by `word`.
template <class W>
LASwriter* LASwriteOpener::make_writer(bool (LASwriteOpener::*open_step)(W&, const LASheader*) const,
                                       const LASheader* header, const char* word) const {
  auto writer = std::make_unique<W>();
  if ((this->*open_step)(*writer, header)) return writer.release();
  if (file_name) {
    laserror("cannot open laswriter%s with file name '%s'", word, file_name->c_str());
  } else {
    laserror("cannot open laswriter%s to stdout", word);
  }
  return nullptr;
}

LASwriter* LASwriteOpener::open(const LASheader* header) {
  if (use_nil) return open_nil(header);
  if (!file_name && !use_stdout) {
    laserror("no laswriter output specified");
    return nullptr;
  }
  // The format the options and the name chose: a name ending in ".Las" was
  // taken as text by set_file_name, and text it is.
  switch (format) {
    case FORMAT_DEFAULT:
    case FORMAT_LAS:
    case FORMAT_VMB:
      return make_writer(&LASwriteOpener::open_las, header, "las");
    case FORMAT_BIN:
      return make_writer(&LASwriteOpener::open_bin, header, "bin");
    case FORMAT_QFIT:
      return make_writer(&LASwriteOpener::open_qfit, header, "qfit");
    case FORMAT_VRML:
      return make_writer(&LASwriteOpener::open_wrl, header, "wrl");
    case FORMAT_TXT:
      return make_writer(&LASwriteOpener::open_txt, header, "txt");
    default:
      laserror("unknown format %d", format);
      return nullptr;
  }
}
