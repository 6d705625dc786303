// The write opener: holds every output option of the command line, keeps and
// rewrites the output file name (format extension, directory, appendix,
// characters cut), derives an output name from an input name, and opens the
// writer that matches the output format on a file, the standard output or a
// stream that only counts bytes.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/lasoption.hpp"
#include "core/mydefs.hpp"

class LASheader;
class LASwriter;
class LASwriterLAS;
class LASwriterBIN;
class LASwriterQFIT;
class LASwriterWRL;
class LASwriterTXT;

// Extension words of the format numbers; 7 to 10 are input formats only.
extern const char* const PELKARTS_FORMAT_NAMES[12];

class LASwriteOpener {
 public:
  // Output format numbers.
  static constexpr U32 FORMAT_DEFAULT = 0;
  static constexpr U32 FORMAT_LAS = 1;
  static constexpr U32 FORMAT_VMB = 2;
  static constexpr U32 FORMAT_BIN = 3;
  static constexpr U32 FORMAT_QFIT = 4;
  static constexpr U32 FORMAT_VRML = 5;
  static constexpr U32 FORMAT_TXT = 6;
  static constexpr U32 FORMAT_JSON = 13;

  LASwriteOpener() = default;
  LASwriteOpener(const LASwriteOpener&) = delete;
  LASwriteOpener& operator=(const LASwriteOpener&) = delete;

  // Takes (empties) the output options among the arguments. False after an
  // error that did not end the run.
  bool parse(int argc, char* argv[]);

  // Takes a name (null: none) and fits it to the format, directory, cut and
  // appendix options.
  void set_file_name(const char* file_name);
  // Number -1: the output name derived from an input name. Number 0 or more:
  // the number written into the digits before the name's extension. Either
  // way a name that would be the input file itself becomes "temp.<ext>"
  // unless '-oforce' was given; when a file of that name exists already it is
  // not replaced: an error, no name is held, and the result is false.
  bool make_file_name(const char* file_name, I32 file_number = -1);
  bool set_directory(const char* directory);
  void add_directory(const char* directory = nullptr);
  void add_appendix(const char* appendix = nullptr);
  void cut_characters();
  void set_parse_string(const char* parse_string);
  void set_separator(const char* separator);

  // Null when not set; a name stays valid until the opener changes it.
  const char* get_directory() const { return text_of(directory); }
  const char* get_file_name() const { return text_of(file_name); }
  const char* get_appendix() const { return text_of(appendix); }
  U32 get_cut() const { return cut; }
  U32 get_format() const;
  const char* get_format_name() const;
  bool active() const { return file_name || use_stdout || use_nil; }
  bool is_piped() const { return !file_name && use_stdout; }
  // A file of the held name is what opening writes (not -nil's count only).
  bool writes_file() const { return file_name && !use_nil; }
  bool get_use_stdout() const { return use_stdout; }
  // Appends, as option text, the settings a child process needs to write as
  // this opener does: the format option first (so that a name given after it
  // is kept as this opener kept its own), then compressor, chunk size, buffer,
  // "-oforce", "-nil" and the text-output settings. Where the output goes (the
  // name, "-odir", "-odix", "-ocut", "-stdout") differs by child and is left
  // to the caller. Answers the characters appended.
  I32 unparse(std::string& text) const;
  // True when opening now would write the file `name` names (by name or as
  // the same file): the check that keeps an input from being overwritten.
  bool writes_to(const char* name) const;
  // False when the header of the output cannot be corrected after the points:
  // the standard output, or a named pipe or device, which is written directly.
  bool can_update_header() const;

  // The writer for the options; null after an error. The caller owns it.
  LASwriter* open(const LASheader* header);

 private:
  // A text setting: absent, or a text that may be empty ("-odix ''").
  using Text = std::optional<std::string>;
  static const char* text_of(const Text& text) { return text ? text->c_str() : nullptr; }

  // The output options as rows of an option table, for `parse`.
  static std::span<const LASoptionRow<LASwriteOpener>> option_rows();

  // The steps of `open`: the compressor the format asks for, the counting
  // stream of "-nil", and the writer of each format opened on the held name
  // or the standard output.
  U32 compressor() const;
  LASwriter* open_nil(const LASheader* header) const;
  bool open_las(LASwriterLAS& writer, const LASheader* header) const;
  bool open_bin(LASwriterBIN& writer, const LASheader* header) const;
  bool open_qfit(LASwriterQFIT& writer, const LASheader* header) const;
  bool open_wrl(LASwriterWRL& writer, const LASheader* header) const;
  bool open_txt(LASwriterTXT& writer, const LASheader* header) const;
  template <class W>
  LASwriter* make_writer(bool (LASwriteOpener::*open_step)(W&, const LASheader*) const, const LASheader* header,
                         const char* word) const;

  // The extension word of the current format ("las" for 0 and 1, "txt" for
  // the numbers without a word of their own).
  const char* format_word() const;
  void replace_extension(const char* word);
  // A name that is the input file itself becomes temp.<ext>, with a warning;
  // false (and no name) when temp.<ext> exists.
  bool avoid_input_name(const char* input);

  U32 io_obuffer_size = 262144;
  Text directory;
  Text file_name;
  Text appendix;
  U32 cut = 0;
  bool opts = false;
  bool optx = false;
  Text parse_string;
  Text separator;
  F32 scale_rgb = 1.0f;
  U32 format = FORMAT_DEFAULT;
  bool specified = false;
  bool force = false;
  bool native = true;
  U32 chunk_size = 50000;
  bool use_stdout = false;
  bool use_nil = false;
  I32 requested_version = 0;
};
