// Output options, output names and the choice of writer.
#include "core/laswriteopener.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/laswriter_las.hpp"
#include "core/lasutility.hpp"
#include "formats/laswriter_bin.hpp"
#include "formats/laswriter_qfit.hpp"
#include "formats/laswriter_txt.hpp"
#include "formats/laswriter_wrl.hpp"

const char* const PELKARTS_FORMAT_NAMES[12] = {"las", "las", "vmb", "bin", "qi", "wrl", "txt", "shp", "asc", "bil", "flt", "json"};

namespace {

char* copy_of(const char* text) { return text ? strdup(text) : nullptr; }

void replace(char*& target, const char* text) {
  free(target);
  target = copy_of(text);
}

void replace(char*& target, const std::string& text) {
  free(target);
  target = strdup(text.c_str());
}

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

LASwriteOpener::~LASwriteOpener() {
  free(directory);
  free(file_name);
  free(appendix);
  free(parse_string);
  free(separator);
}

// ------------------------------------------------------------------ options

bool LASwriteOpener::parse(int argc, char* argv[]) {
  // The option taking a value at i + 1: a missing value is reported with the
  // option in the message, and the option stays where it is.
  auto value = [&](int i, const char* message) -> const char* {
    if (i + 1 >= argc) {
      laserror(message, argv[i]);
      return nullptr;
    }
    return argv[i + 1];
  };
  auto take = [&](int& i, int count) {
    for (int k = 0; k < count; k++) argv[i + k][0] = '\0';
    i += count - 1;
  };
  struct FormatOption {
    const char* option;
    U32 format;
  };
  static const FormatOption format_options[] = {{"-olas", FORMAT_LAS},   {"-ovmb", FORMAT_VMB},  {"-obin", FORMAT_BIN},
                                                {"-oqi", FORMAT_QFIT},   {"-owrl", FORMAT_VRML}, {"-ojs", FORMAT_JSON}};

  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (arg[0] == '\0') continue;
    if (strcmp(arg, "-h") == 0 || strcmp(arg, "-help") == 0) return true;
    if (strcmp(arg, "-hh") == 0) {
      LASMessage(INFO, USAGE, '/', '/');
      return true;
    }
    const FormatOption* chosen = nullptr;
    for (const FormatOption& f : format_options)
      if (strcmp(arg, f.option) == 0) chosen = &f;
    if (chosen) {
      specified = true;
      format = chosen->format;
      if (file_name) replace_extension(format_word());
      take(i, 1);
    } else if (strcmp(arg, "-o") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: file_name");
      if (!v) return false;
      set_file_name(v);
      take(i, 2);
    } else if (strcmp(arg, "-odir") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: directory");
      if (!v) return false;
      if (!set_directory(v)) {
        laserror("'%s' is not a valid directory", v);
        return false;
      }
      take(i, 2);
    } else if (strcmp(arg, "-odix") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: appendix");
      if (!v) return false;
      replace(appendix, v);
      if (file_name) add_appendix();
      take(i, 2);
    } else if (strcmp(arg, "-ocut") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: number of characters to cut");
      if (!v) return false;
      cut = (U32)strtoul(v, nullptr, 10);
      if (cut && file_name) cut_characters();
      take(i, 2);
    } else if (strcmp(arg, "-oforce") == 0) {
      force = true;
      take(i, 1);
    } else if (strcmp(arg, "-native") == 0) {
      native = true;
      take(i, 1);
    } else if (strcmp(arg, "-compatible") == 0) {
      native = false;
      take(i, 1);
    } else if (strcmp(arg, "-otxt") == 0) {
      specified = true;
      format = FORMAT_TXT;
      take(i, 1);
    } else if (strcmp(arg, "-stdout") == 0) {
      use_stdout = true;
      use_nil = false;
      take(i, 1);
    } else if (strcmp(arg, "-nil") == 0) {
      use_nil = true;
      use_stdout = false;
      take(i, 1);
    } else if (strcmp(arg, "-chunk_size") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: number_points");
      if (!v) return false;
      chunk_size = (U32)strtoul(v, nullptr, 10);
      take(i, 2);
    } else if (strcmp(arg, "-oparse") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: string");
      if (!v) return false;
      set_parse_string(v);
      take(i, 2);
    } else if (strcmp(arg, "-osep") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: separator");
      if (!v) return false;
      set_separator(v);
      take(i, 2);
    } else if (strcmp(arg, "-oscale_rgb") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: scale");
      if (!v) return false;
      scale_rgb = (F32)atof(v);
      take(i, 2);
    } else if (strcmp(arg, "-opts") == 0) {
      opts = true;
      take(i, 1);
    } else if (strcmp(arg, "-optx") == 0) {
      optx = true;
      take(i, 1);
    } else if (strcmp(arg, "-io_obuffer") == 0) {
      const char* v = value(i, "'%s' needs 1 argument: size");
      if (!v) return false;
      io_obuffer_size = (U32)strtoul(v, nullptr, 10);
      take(i, 2);
    }
  }
  return true;
}

void LASwriteOpener::set_parse_string(const char* text) { replace(parse_string, text); }

void LASwriteOpener::set_separator(const char* text) { replace(separator, text); }

// ------------------------------------------------------------------ option text

I32 LASwriteOpener::unparse(std::string& text) const {
  const size_t start = text.size();
  static const struct {
    U32 format;
    const char* option;
  } format_options[] = {{FORMAT_LAS, "-olas "}, {FORMAT_VMB, "-ovmb "},  {FORMAT_BIN, "-obin "}, {FORMAT_QFIT, "-oqi "},
                        {FORMAT_VRML, "-owrl "}, {FORMAT_TXT, "-otxt "}, {FORMAT_JSON, "-ojs "}};
  for (const auto& f : format_options) {
    if (format == f.format) text += f.option;
  }
  if (!native) text += "-compatible ";
  if (chunk_size != 50000) text += "-chunk_size " + std::to_string(chunk_size) + " ";
  if (io_obuffer_size != 262144) text += "-io_obuffer " + std::to_string(io_obuffer_size) + " ";
  if (force) text += "-oforce ";
  if (use_nil) text += "-nil ";
  if (parse_string) {
    text += "-oparse ";
    append_quoted_option_value(text, parse_string);
  }
  if (separator) {
    text += "-osep ";
    append_quoted_option_value(text, separator);
  }
  if (scale_rgb != 1.0f) text += "-oscale_rgb " + option_text_f32(scale_rgb) + " ";
  if (opts) text += "-opts ";
  if (optx) text += "-optx ";
  return (I32)(text.size() - start);
}

// ------------------------------------------------------------------ formats

U32 LASwriteOpener::get_format() const {
  if (specified || file_name == nullptr) return format;
  if (HasFileExt(file_name, ".vmb")) return FORMAT_VMB;
  if (HasFileExt(file_name, ".las")) return FORMAT_LAS;
  if (HasFileExt(file_name, ".bin")) return FORMAT_BIN;
  if (HasFileExt(file_name, ".qi")) return FORMAT_QFIT;
  if (HasFileExt(file_name, ".wrl")) return FORMAT_VRML;
  if (HasFileExt(file_name, ".json")) return FORMAT_JSON;
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
  std::string name = file_name;
  const size_t dot = last_dot(name);
  if (dot == std::string::npos) return;
  replace(file_name, name.substr(0, dot + 1) + word);
}

// ------------------------------------------------------------------ names

void LASwriteOpener::set_file_name(const char* name) {
  free(file_name);
  file_name = nullptr;
  if (name == nullptr) return;
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
  free(directory);
  directory = nullptr;
  if (dir == nullptr) return true;
  if (strchr(dir, ';') || strchr(dir, '"')) {
    LASMessage(WARNING,
               "specified '-odir' seems to contain a substring '\\\"' such\n\tas -odir \"D:\\\" or -odir "
               "\"..\\tiles\\\". this command will\n\tprobably fail. please use -odir \"D:\" or -odir "
               "\"..\\tiles\"\n\tinstead.");
  }
  std::string text = dir;
  if (!text.empty() && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  replace(directory, text);
  if (file_name) add_directory();
  if (text.empty() || text.back() == ':') return true;
  struct stat info;
  return stat(text.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void LASwriteOpener::add_directory(const char* dir) {
  if (dir == nullptr) dir = directory;
  if (file_name == nullptr || dir == nullptr) return;
  const std::string name = file_name;
  const size_t sep = last_separator(name);
  const std::string base = sep ? name.substr(sep + 1) : name;
  replace(file_name, std::string(dir) + '/' + base);
}

void LASwriteOpener::add_appendix(const char* text) {
  if (text == nullptr) text = appendix;
  if (file_name == nullptr || text == nullptr) return;
  std::string name = file_name;
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
  if (file_name == nullptr || cut == 0) return;
  std::string name = file_name;
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

void LASwriteOpener::make_file_name(const char* input, I32 number) {
  if (number < 0) {
    free(file_name);
    file_name = nullptr;
    std::string name;
    if (input == nullptr) {
      name = std::string("output.") + format_word();
    } else {
      const std::string in = input;
      const size_t dot = last_dot(in);
      std::string base = (dot == std::string::npos) ? std::string() : in.substr(0, dot);
      if (cut) {
        base.erase(base.size() - std::min<size_t>(cut, base.size()));
        if (appendix) base += appendix;
      } else if (appendix) {
        base += appendix;
      } else if (directory == nullptr && number == -1) {
        base += "_1";
      }
      name = base + '.' + format_word();
    }
    replace(file_name, name);
  } else {
    if (input) {
      replace(file_name, input);
      cut_characters();
    } else if (file_name == nullptr) {
      replace(file_name, std::string("output_0000000.") + format_word());
    }
    std::string name = file_name;
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
  avoid_input_name(input);
}

void LASwriteOpener::avoid_input_name(const char* input) {
  if (input == nullptr || force || !las_same_file(file_name, input)) return;
  // "temp" names the output in the working directory; should that be the
  // input itself, "_1" goes on until it is not.
  std::string base = "temp";
  std::string name = base + '.' + format_word();
  for (int tries = 0; las_same_file(name.c_str(), input) && tries < 16; tries++) {
    base += "_1";
    name = base + '.' + format_word();
  }
  LASMessage(WARNING,
             "generated output name '%s'\n\tidentical to input name. changed to '%s'.\n\tyou can override this "
             "safety measure with '-oforce'.",
             input, name.c_str());
  replace(file_name, name);
}

bool LASwriteOpener::writes_to(const char* name) const {
  if (use_nil || file_name == nullptr) return false;
  return las_same_file(file_name, name);
}

// ------------------------------------------------------------------ opening

LASwriter* LASwriteOpener::open(const LASheader* header) {
  // The format the options and the name chose: a name ending in ".Las" was
  // taken as text by set_file_name, and text it is.
  const U32 out_format = format;
  const U32 compressor = (out_format == FORMAT_VMB) ? (native ? 3u : 2u) : 0u;
  auto fail = [](LASwriter* writer) -> LASwriter* {
    delete writer;
    return nullptr;
  };

  if (use_nil) {
    LASwriterLAS* writer = new LASwriterLAS();
    if (!writer->open(header, compressor, requested_version, (I32)chunk_size)) {
      laserror("cannot open laswriterlas to NULL");
      return fail(writer);
    }
    return writer;
  }

  if (file_name || use_stdout) {
    if (out_format > FORMAT_TXT) {
      laserror("unknown format %d", out_format);
      return nullptr;
    }
    const bool to_file = file_name != nullptr;
    switch (out_format) {
      case FORMAT_DEFAULT:
      case FORMAT_LAS:
      case FORMAT_VMB: {
        LASwriterLAS* writer = new LASwriterLAS();
        const bool ok = to_file ? writer->open(file_name, header, compressor, requested_version, (I32)chunk_size,
                                               io_obuffer_size)
                                : writer->open(stdout, header, compressor, requested_version, (I32)chunk_size);
        if (ok) return writer;
        if (to_file)
          laserror("cannot open laswriterlas with file name '%s'", file_name);
        else
          laserror("cannot open laswriterlas to stdout");
        return fail(writer);
      }
      case FORMAT_BIN: {
        LASwriterBIN* writer = new LASwriterBIN();
        const bool ok = to_file ? writer->open(file_name, header, "ts8", 262144) : writer->open(stdout, header, "ts8");
        if (ok) return writer;
        if (to_file)
          laserror("cannot open laswriterbin with file name '%s'", file_name);
        else
          laserror("cannot open laswriterbin to stdout");
        return fail(writer);
      }
      case FORMAT_QFIT: {
        LASwriterQFIT* writer = new LASwriterQFIT();
        const bool ok = to_file ? writer->open(file_name, header, 40, 65536) : writer->open(stdout, header, 40);
        if (ok) return writer;
        if (to_file)
          laserror("cannot open laswriterqfit with file name '%s'", file_name);
        else
          laserror("cannot open laswriterqfit to stdout");
        return fail(writer);
      }
      case FORMAT_VRML: {
        LASwriterWRL* writer = new LASwriterWRL();
        const bool ok = to_file ? writer->open(file_name, header, parse_string) : writer->open(stdout, header, parse_string);
        if (ok) return writer;
        if (to_file)
          laserror("cannot open laswriterwrl with file name '%s'", file_name);
        else
          laserror("cannot open laswriterwrl to stdout");
        return fail(writer);
      }
      default: {
        LASwriterTXT* writer = new LASwriterTXT();
        if (opts)
          writer->set_pts(true);
        else if (optx)
          writer->set_ptx(true);
        const bool ok = to_file ? writer->open(file_name, header, parse_string, separator)
                                : writer->open(stdout, header, parse_string, separator);
        if (ok) {
          if (scale_rgb != 1.0f) writer->set_scale_rgb(scale_rgb);
          return writer;
        }
        if (to_file)
          laserror("cannot open laswritertxt with file name '%s'", file_name);
        else
          laserror("cannot open laswritertxt to stdout");
        return fail(writer);
      }
    }
  }

  laserror("no laswriter output specified");
  return nullptr;
}
