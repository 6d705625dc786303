// Program entry of voxsifter: argument passes in their fixed order, banner,
// the checks before any work, and the end of the run.
#include "tool/voxsifter.hpp"

#include <cstring>
#include <ctime>
#include <string>

#include "core/lasreadopener.hpp"
#include "core/laswriteopener.hpp"
#include "geo/geoprojectionconverter.hpp"

void Pelkart_voxsifter::usage() {
  fputs(
      "usage:\n"
      "voxsifter -i in.vmb -o out.vmb\n"
      "voxsifter -i in.vmb -every_nth 100 -o out.vmb\n"
      "voxsifter -i in.vmb -random_nth 100 -o out.vmb\n"
      "voxsifter -i in.vmb -step 2 -flatten_points -o out.vmb\n"
      "voxsifter -i in.vmb -step 3 -o out.vmb\n"
      "voxsifter -i in.vmb -use_cell_center -o out.vmb\n"
      "voxsifter -i in.vmb -step 2 -step_z 1 -o out.vmb\n"
      "voxsifter -i in.vmb -step 2 -step_z 1 -highest -o out.vmb\n"
      "voxsifter -h\n",
      stderr);
}

// The tool's own options; none are understood yet.
static bool parse_tool_option(Pelkart_voxsifter&, int&) { return false; }

// Reads one answer of the terminal prompt; the line end is removed only when
// it is there, so an empty or unreadable answer gives an empty name.
static std::string read_prompt_line() {
  char line[256];
  if (!fgets(line, sizeof(line), stdin)) return "";
  size_t length = strlen(line);
  if (length > 0 && line[length - 1] == '\n') line[--length] = '\0';
  if (length > 0 && line[length - 1] == '\r') line[--length] = '\0';
  return line;
}

void voxsifter_main(int argc, char* argv[]) {
  Pelkart_voxsifter tool;
  tool.argc = argc;
  tool.argv = argv;
  tool.name = "voxsifter";
  LASreadOpener lasreadopener;
  GeoProjectionConverter geoprojectionconverter;
  LASwriteOpener laswriteopener;

  if (argc == 1) {
    wait_on_exit(true);
    fprintf(stderr, "%s is better run in the command line\n", argv[0]);
    fprintf(stderr, "enter input file: ");
    std::string input = read_prompt_line();
    lasreadopener.set_file_name(input.c_str());
    fprintf(stderr, "enter output file: ");
    std::string output = read_prompt_line();
    laswriteopener.set_file_name(output.c_str());
  } else {
    for (int i = 1; i < argc; i++) {
      if ((unsigned char)argv[i][0] == 0x96) argv[i][0] = '-';
    }
    geoprojectionconverter.parse(argc, argv);
    lasreadopener.parse(argc, argv, true);
    laswriteopener.parse(argc, argv);
  }

  // Message levels first, wherever they stand, so that they hold for the banner
  // and every message after it.
  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    tool.parse_pre(i, true);
  }

  tool.lastitle(VERBOSE);

  for (int i = 1; i < argc; i++) {
    if (argv[i][0] == '\0') continue;
    if (parse_tool_option(tool, i)) continue;
    if (tool.parse_base(i)) continue;
    if (tool.parse_pre(i, false)) continue;
    laserror("cannot understand argument '%s'. use '-h' or see %s_README.md to get help.", argv[i],
             tool.name.c_str());
  }
  tool.after_parse();

  if (!tool.force && lasmessage_cnt[SERIOUS_WARNING] > 0) byebye();

  if (!lasreadopener.active()) laserror("no input specified");
  if (laswriteopener.is_piped()) LASMessage(WARNING, "cannot update header for piped output");
  if (lasreadopener.get_file_name() && laswriteopener.get_file_name() &&
      strcmp(lasreadopener.get_file_name(), laswriteopener.get_file_name()) == 0) {
    laserror("input and output file name are identical");
  }

  clock_t start_time = clock();
  if (lasreadopener.active()) laserror("reading point files is not built yet");

  if (lasreadopener.get_file_name_number() > 1 && !lasreadopener.is_merged()) {
    LASMessage(INFO, "done with all files. total time for %u files %g sec.", lasreadopener.get_file_name_number(),
               (double)(clock() - start_time) / CLOCKS_PER_SEC);
  }
  byebye();
}
