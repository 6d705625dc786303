// The write opener: options and their errors, output names as given and as
// derived from an input, and the writer each format opens.
#include "core/laswriteopener.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/lasheader.hpp"
#include "core/laswriter_las.hpp"
#include "core/lasutility.hpp"
#include "support/temp_dir.hpp"

namespace {

// A command line whose arguments the parser may empty.
struct Args {
  explicit Args(std::vector<std::string> list) : text(std::move(list)) {
    text.insert(text.begin(), "voxsifter");
    for (std::string& t : text) argv.push_back(t.data());
  }
  int argc() const { return (int)argv.size(); }
  // The arguments nobody took.
  std::vector<std::string> left() const {
    std::vector<std::string> out;
    for (size_t i = 1; i < argv.size(); i++)
      if (argv[i][0]) out.push_back(argv[i]);
    return out;
  }
  std::vector<std::string> text;
  std::vector<char*> argv;
};

class OpenerTest : public ::testing::Test {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

std::string name_of(const LASwriteOpener& opener) { return opener.get_file_name() ? opener.get_file_name() : "(none)"; }

// ------------------------------------------------------------------ names given

struct GivenName {
  std::vector<std::string> args;
  std::string name;
  U32 format;  // get_format()
};

// "-o" and the options around it: the extension a name gets or keeps, the
// format it selects, and the name-building options before and after it.
TEST_F(OpenerTest, NamesGivenWithTheOptions) {
  TempDir temp;
  const GivenName cases[] = {
      {{"-o", "out"}, "out.las", 1},
      {{"-olas", "-o", "out"}, "out.las", 1},
      {{"-otxt", "-o", "out"}, "out.txt", 6},
      {{"-ovmb", "-o", "out"}, "out.vmb", 2},
      {{"-o", "a.vmb"}, "a.vmb", 2},
      {{"-o", "a.VMB"}, "a.VMB", 2},
      {{"-o", "name.backup"}, "name.backup.las", 1},
      {{"-o", "out.las  "}, "out.las", 1},
      {{"-o", "   "}, ".las", 1},
      {{"-o", "out.las", "-obin"}, "out.bin", 3},
      {{"-o", "out.las", "-otxt"}, "out.las", 6},
      {{"-o", "out.las", "-oqi"}, "out.qi", 4},
      {{"-o", "out.las", "-owrl"}, "out.wrl", 5},
      {{"-ocut", "2", "-o", "abcdef.las"}, "abcd.las", 1},
      {{"-o", "abcdef.las", "-ocut", "2"}, "abcd.las", 1},
      {{"-o", "dir/ab.las", "-ocut", "5"}, "dir/.las", 1},
      {{"-o", "noext", "-olas", "-ocut", "3"}, "no.las", 1},
      {{"-odix", "_t", "-o", "dir/a.las"}, "dir/a_t.las", 1},
      {{"-o", "dir/a.las", "-odix", "_t"}, "dir/a_t.las", 1},
      {{"-o", "dir/a.las", "-odir", temp.path()}, temp.path() + "/a.las", 1},
      {{"-odir", temp.path() + "/", "-o", "dir/a.las"}, temp.path() + "/a.las", 1},
      {{"-odir", "D:", "-o", "x\\a.las"}, "D:/a.las", 1},
      {{"-ojs", "-o", "x"}, "x.json", 13},
      {{"-o", "x.json"}, "x.json", 13},
  };
  for (const GivenName& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Args args(c.args);
    LASwriteOpener opener;
    EXPECT_TRUE(opener.parse(args.argc(), args.argv.data()));
    EXPECT_EQ(name_of(opener), c.name);
    EXPECT_EQ(opener.get_format(), c.format);
    EXPECT_TRUE(args.left().empty());
  }
}

// ------------------------------------------------------------------ derived names

struct DerivedName {
  std::vector<std::string> args;
  const char* input;  // relative to the test's working directory
  std::string name;
  bool warns;
};

// A fresh temporary directory as the working directory, with a "data"
// subdirectory holding data/a.las; the old working directory comes back after.
class InDataDirectory {
 public:
  InDataDirectory() {
    if (getcwd(saved, sizeof(saved)) == nullptr || chdir(temp.path().c_str()) != 0) ADD_FAILURE() << "chdir";
    mkdir("data", 0755);
    write_file("data/a.las", "in");
  }
  ~InDataDirectory() {
    if (chdir(saved) != 0) ADD_FAILURE() << "chdir back";
  }

 private:
  TempDir temp;
  char saved[4096] = {};
};

// The output names the program derives from its inputs. A name that would be
// the input file itself, by name or as the same file, becomes temp.<ext>
// with a warning unless '-oforce' is given.
TEST_F(OpenerTest, NamesDerivedFromTheInput) {
  InDataDirectory directory;
  ASSERT_EQ(mkdir("out", 0755), 0);
  const DerivedName cases[] = {
      {{}, "data/a.las", "data/a_1.las", false},
      {{"-odix", "_t"}, "data/a.las", "data/a_t.las", false},
      {{"-ocut", "1"}, "data/a.las", "data/.las", false},
      {{"-ocut", "1", "-odix", "_x"}, "data/a.las", "data/_x.las", false},
      {{"-odir", "out"}, "data/a.las", "out/a.las", false},
      {{"-ovmb"}, "data/a.las", "data/a_1.vmb", false},
      {{"-otxt"}, "data/a.las", "data/a_1.txt", false},
      {{"-ojs"}, "data/a.las", "data/a_1.json", false},
      {{"-odir", "data"}, "data/a.las", "temp.las", true},
      {{"-odir", "data", "-oforce"}, "data/a.las", "data/a.las", false},
      {{"-odir", "./data"}, "data/a.las", "temp.las", true},
      {{"-odix", ""}, "data/a.las", "temp.las", true},
      {{"-odir", "data", "-ovmb"}, "data/a.vmb", "temp.vmb", true},
      {{}, nullptr, "output.las", false},
      {{"-obin"}, nullptr, "output.bin", false},
  };
  for (const DerivedName& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + (c.input ? c.input : "null"));
    Args args(c.args);
    LASwriteOpener opener;
    EXPECT_TRUE(opener.parse(args.argc(), args.argv.data()));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(opener.make_file_name(c.input, -1));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(name_of(opener), c.name);
    if (c.warns) {
      EXPECT_EQ(err, "WARNING: generated output name '" + std::string(c.input) +
                         "'\n         identical to input name. changed to '" + c.name +
                         "'.\n         you can override this safety measure with '-oforce'.\n");
      EXPECT_TRUE(opener.writes_to(c.name.c_str()));
      EXPECT_FALSE(opener.writes_to(c.input));
    } else {
      EXPECT_EQ(err, "");
    }
  }
}

// The safety rename never replaces a file that is there already: another
// run's output, an earlier output of this run, or the input itself. The
// error names the input and the name it would have taken, and no name is held.
TEST_F(OpenerTest, SafetyRenameNeverReplacesAFile) {
  InDataDirectory directory;
  write_file("data/a.vmb", "in");
  write_file("temp.las", "kept");
  write_file("temp.vmb", "kept");
  const DerivedName cases[] = {
      {{"-odir", "data"}, "data/a.las", "temp.las", true},
      {{"-odir", "data", "-ovmb"}, "data/a.vmb", "temp.vmb", true},
      // The input is temp.las itself.
      {{"-odir", "."}, "temp.las", "temp.las", true},
  };
  for (const DerivedName& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.input);
    Args args(c.args);
    LASwriteOpener opener;
    EXPECT_TRUE(opener.parse(args.argc(), args.argv.data()));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(opener.make_file_name(c.input, -1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: generated output name '" + std::string(c.input) +
                  "'\n       identical to input name. cannot change it to '" + c.name +
                  "'\n       as that file exists already. use '-odir' or '-odix' to choose another name.\n");
    EXPECT_EQ(opener.get_file_name(), nullptr);
    EXPECT_FALSE(opener.active());
    EXPECT_EQ(read_file(c.name), "kept");
  }
}

// Numbering writes the number into the digits before the extension.
TEST_F(OpenerTest, NumberedNames) {
  LASwriteOpener opener;
  opener.make_file_name("tile_0000.las", 12);
  EXPECT_EQ(name_of(opener), "tile_0012.las");
  testing::internal::CaptureStderr();
  opener.make_file_name("t_00.las", 123);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: file name number 123 too big to store in 't_23.las'. use more digits.\n");
  LASwriteOpener fresh;
  fresh.make_file_name(nullptr, 7);
  EXPECT_EQ(name_of(fresh), "output_0000007.las");
}

// ------------------------------------------------------------------ options

TEST_F(OpenerTest, OptionsAreTakenAndOthersLeft) {
  Args args({"-i", "in.las", "-stdout", "-chunk_size", "1000", "-oparse", "xyz", "-osep", "comma", "-oscale_rgb",
             "0.5", "-opts", "-optx", "-io_obuffer", "4096", "-compatible", "-native", "-oforce", "-keep", "-nil"});
  LASwriteOpener opener;
  EXPECT_TRUE(opener.parse(args.argc(), args.argv.data()));
  EXPECT_EQ(args.left(), (std::vector<std::string>{"-i", "in.las", "-keep"}));
  EXPECT_TRUE(opener.active());
  EXPECT_FALSE(opener.is_piped());  // -nil came last

  Args piped({"-nil", "-stdout"});
  LASwriteOpener to_stdout;
  EXPECT_TRUE(to_stdout.parse(piped.argc(), piped.argv.data()));
  EXPECT_TRUE(to_stdout.is_piped());

  // Help ends the parse at once and takes nothing.
  Args help({"-h", "-o", "x.las"});
  LASwriteOpener helped;
  EXPECT_TRUE(helped.parse(help.argc(), help.argv.data()));
  EXPECT_EQ(help.left().size(), 3u);
  EXPECT_FALSE(helped.active());
}

struct MissingValue {
  const char* option;
  std::string err;
};

TEST_F(OpenerTest, MissingValuesAreErrors) {
  const MissingValue cases[] = {
      {"-o", "'-o' needs 1 argument: file_name"},
      {"-odir", "'-odir' needs 1 argument: directory"},
      {"-odix", "'-odix' needs 1 argument: appendix"},
      {"-ocut", "'-ocut' needs 1 argument: number of characters to cut"},
      {"-chunk_size", "'-chunk_size' needs 1 argument: number_points"},
      {"-oparse", "'-oparse' needs 1 argument: string"},
      {"-osep", "'-osep' needs 1 argument: separator"},
      {"-oscale_rgb", "'-oscale_rgb' needs 1 argument: scale"},
      {"-io_obuffer", "'-io_obuffer' needs 1 argument: size"},
  };
  for (const MissingValue& c : cases) {
    Args args({c.option});
    LASwriteOpener opener;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(opener.parse(args.argc(), args.argv.data()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: " + c.err + "\n");
    EXPECT_EQ(args.left(), std::vector<std::string>{c.option});
  }
}

TEST_F(OpenerTest, OutputDirectoryChecks) {
  TempDir temp;
  Args missing({"-odir", temp.file("none")});
  LASwriteOpener opener;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(opener.parse(missing.argc(), missing.argv.data()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR: '" + temp.file("none") + "' is not a valid directory\n");
  EXPECT_EQ(std::string(opener.get_directory()), temp.file("none"));

  Args quoted({"-odir", "D;:"});
  LASwriteOpener warned;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(warned.parse(quoted.argc(), quoted.argv.data()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "WARNING: specified '-odir' seems to contain a substring '\\\"' such\n"
            "         as -odir \"D:\\\" or -odir \"..\\tiles\\\". this command will\n"
            "         probably fail. please use -odir \"D:\" or -odir \"..\\tiles\"\n"
            "         instead.\n");
}

// ------------------------------------------------------------------ opening

struct Opening {
  std::vector<std::string> args;
  std::string err;  // after the temp dir's path is put for "@"
  bool opens;
  const char* file;  // created in the temp dir, or null
};

std::string at_path(std::string text, const std::string& path) {
  for (size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, path);
  return text;
}

// Which writer each output opens, on a file, the standard output or the
// counting stream, and the error of each that cannot open.
TEST_F(OpenerTest, OpensTheWriterOfTheFormat) {
  const Opening cases[] = {
      {{"-o", "@/out.las"}, "", true, "out.las"},
      {{"-nil", "-o", "@/x.txt"}, "", true, nullptr},
      {{"-o", "@/x.Las", "-nil"}, "", true, nullptr},
      {{"-o", "@/out.vmb"}, "", true, "out.vmb"},
      {{"-o", "@/out.bin"}, "ERROR: cannot open laswriterbin with file name '@/out.bin'\n", false, nullptr},
      {{"-o", "@/out.qi"}, "ERROR: cannot open laswriterqfit with file name '@/out.qi'\n", false, nullptr},
      {{"-o", "@/out.wrl"}, "ERROR: cannot open laswriterwrl with file name '@/out.wrl'\n", false, nullptr},
      {{"-o", "@/out.txt"}, "ERROR: cannot open laswritertxt with file name '@/out.txt'\n", false, nullptr},
      {{"-o", "@/x.Las"}, "ERROR: cannot open laswritertxt with file name '@/x.Las'\n", false, nullptr},
      {{"-ojs", "-o", "@/x"}, "ERROR: unknown format 13\n", false, nullptr},
      {{"-stdout", "-obin"}, "ERROR: cannot open laswriterbin to stdout\n", false, nullptr},
      {{"-stdout", "-otxt"}, "ERROR: cannot open laswritertxt to stdout\n", false, nullptr},
      {{"-stdout", "-oqi"}, "ERROR: cannot open laswriterqfit to stdout\n", false, nullptr},
      {{"-stdout", "-owrl"}, "ERROR: cannot open laswriterwrl to stdout\n", false, nullptr},
      {{"-stdout", "-ojs"}, "ERROR: unknown format 13\n", false, nullptr},
      {{}, "ERROR: no laswriter output specified\n", false, nullptr},
  };
  for (const Opening& c : cases) {
    TempDir temp;
    std::vector<std::string> list;
    for (const std::string& a : c.args) list.push_back(at_path(a, temp.path()));
    SCOPED_TRACE(testing::PrintToString(list));
    Args args(list);
    LASwriteOpener opener;
    ASSERT_TRUE(opener.parse(args.argc(), args.argv.data()));
    LASheader header;
    testing::internal::CaptureStderr();
    std::unique_ptr<LASwriter> writer(opener.open(&header));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), at_path(c.err, temp.path()));
    EXPECT_EQ(writer != nullptr, c.opens);
    if (writer) {
      // A VMB file adds its compressor record (54 + 40 bytes) and an empty
      // chunk table with its position (16 bytes).
      const bool vmb = c.file && std::string(c.file) == "out.vmb";
      EXPECT_EQ(writer->close(true), vmb ? 227 + 94 + 16 : 227);
    }
    for (const char* name : {"out.las", "x.txt", "x.Las", "out.vmb", "out.bin", "out.txt"})
      EXPECT_EQ(temp.exists(name), c.file != nullptr && std::string(name) == c.file) << name;
  }
}

// "-io_obuffer" sizes the output file's buffer; the file is written the same.
TEST_F(OpenerTest, BufferSizeOfTheOutputFile) {
  TempDir temp;
  Args args({"-io_obuffer", "16", "-o", temp.file("small.las")});
  LASwriteOpener opener;
  ASSERT_TRUE(opener.parse(args.argc(), args.argv.data()));
  LASheader header;
  std::unique_ptr<LASwriter> writer(opener.open(&header));
  ASSERT_NE(writer, nullptr);
  writer->close(true);
  EXPECT_EQ(temp.read("small.las").size(), 227u);
  EXPECT_TRUE(opener.writes_to(temp.file("small.las").c_str()));
  EXPECT_TRUE(opener.writes_to((temp.path() + "/../" + temp.path().substr(temp.path().rfind('/') + 1) + "/small.las").c_str()));
}

// Whether the header of the output can be corrected after the points: only
// a file, existing or new, can; the standard output and a pipe are written
// directly.
TEST_F(OpenerTest, HeaderCanBeUpdatedOnlyInAFile) {
  TempDir temp;
  temp.write("old.las", "x");
  ASSERT_EQ(mkfifo(temp.file("pipe.las").c_str(), 0600), 0);
  const struct {
    std::vector<std::string> args;
    bool can;
  } cases[] = {
      {{"-o", temp.file("new.las")}, true},
      {{"-o", temp.file("old.las")}, true},
      {{"-nil"}, true},
      {{"-o", temp.file("new.las"), "-nil"}, true},
      {{"-stdout"}, false},
      {{"-o", temp.file("pipe.las")}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Args args(c.args);
    LASwriteOpener opener;
    ASSERT_TRUE(opener.parse(args.argc(), args.argv.data()));
    EXPECT_EQ(opener.can_update_header(), c.can);
  }
}

// ------------------------------------------------------------------ option text

// The option text a child process gets: the format option first, so that a
// name handed after it is kept as this opener kept its own; the settings that
// change how a file is written; never where it goes.
TEST_F(OpenerTest, OptionTextForChildProcesses) {
  TempDir temp;
  const struct {
    std::vector<std::string> args;
    std::string text;
  } cases[] = {
      {{}, ""},
      {{"-o", "out.vmb"}, "-ovmb "},
      {{"-obin", "-o", "out.las"}, "-obin "},
      {{"-o", "out.las", "-obin"}, "-obin "},
      {{"-o", "out.Las"}, "-otxt "},
      {{"-ojs"}, "-ojs "},
      {{"-stdout", "-odir", "@", "-odix", "_t", "-ocut", "1"}, ""},
      {{"-compatible", "-chunk_size", "1000", "-io_obuffer", "4096", "-oforce", "-nil"},
       "-compatible -chunk_size 1000 -io_obuffer 4096 -oforce -nil "},
      {{"-otxt", "-oparse", "xyz", "-osep", "semicolon", "-oscale_rgb", "0.1", "-opts"},
       "-otxt -oparse \"xyz\" -osep \"semicolon\" -oscale_rgb 0.1 -opts "},
      {{"-oscale_rgb", "0.123456789", "-optx"}, "-oscale_rgb 0.12345679 -optx "},
      {{"-owrl", "-oparse", "a \"b\\c"}, "-owrl -oparse \"a \\\"b\\\\c\" "},
  };
  for (const auto& c : cases) {
    std::vector<std::string> list;
    for (const std::string& a : c.args) list.push_back(a == "@" ? temp.path() : a);
    SCOPED_TRACE(testing::PrintToString(list));
    Args args(list);
    LASwriteOpener parent;
    ASSERT_TRUE(parent.parse(args.argc(), args.argv.data()));
    std::string text = "-i \"in.las\" ";
    const I32 appended = parent.unparse(text);
    EXPECT_EQ((size_t)appended, text.size() - 12);
    text.erase(0, 12);
    EXPECT_EQ(text, c.text);

    // The child, given the words and the parent's name, holds what the parent holds.
    std::vector<std::string> words = split_option_text(text);
    if (parent.get_file_name()) words.insert(words.end(), {"-o", parent.get_file_name()});
    Args child_args(words);
    LASwriteOpener child;
    ASSERT_TRUE(child.parse(child_args.argc(), child_args.argv.data()));
    EXPECT_EQ(name_of(child), name_of(parent));
    std::string again;
    child.unparse(again);
    EXPECT_EQ(again, text);
    // A name derived in the child has the parent's extension and format.
    if (parent.get_file_name() && !parent.is_piped()) {
      child.make_file_name("in.las", -1);
      parent.make_file_name("in.las", -1);
      EXPECT_EQ(name_of(child), name_of(parent));
    }
  }
}

// A name the opener handed out may come back to it: the held text it points
// into changes during the call, so the opener must read it first.
TEST_F(OpenerTest, OwnNameHandedBack) {
  InDataDirectory directory;
  ASSERT_EQ(mkdir("out", 0755), 0);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    void (*call)(LASwriteOpener& opener, const char* text);
    const char* (*text)(const LASwriteOpener& opener);
  };
  auto file_name = [](const LASwriteOpener& o) { return o.get_file_name(); };
  const Case cases[] = {
      {"set_file_name", {"-o", "data/a.las", "-odix", "_t"},
       [](LASwriteOpener& o, const char* t) { o.set_file_name(t); }, file_name},
      {"set_directory", {"-odir", "out", "-o", "a.las"},
       [](LASwriteOpener& o, const char* t) { o.set_directory(t); },
       [](const LASwriteOpener& o) { return o.get_directory(); }},
      {"derived name", {"-o", "data/b.las", "-ovmb"},
       [](LASwriteOpener& o, const char* t) { o.make_file_name(t, -1); }, file_name},
      {"numbered name", {"-o", "data/c_000.las"},
       [](LASwriteOpener& o, const char* t) { o.make_file_name(t, 42); }, file_name},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Args own_args(c.args);
    Args copy_args(c.args);
    LASwriteOpener own;
    LASwriteOpener copy;
    ASSERT_TRUE(own.parse(own_args.argc(), own_args.argv.data()));
    ASSERT_TRUE(copy.parse(copy_args.argc(), copy_args.argv.data()));
    const std::string held = c.text(copy);
    c.call(own, c.text(own));
    c.call(copy, held.c_str());
    EXPECT_EQ(name_of(own), name_of(copy));
    EXPECT_NE(name_of(own), "(none)");
  }
}

}  // namespace
