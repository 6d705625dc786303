// Program entry of voxsifter: argument passes in their fixed order, banner,
// the checks before any work, the per-file loop and the end of the run.
#include "tool/voxsifter.hpp"

#include <cstring>
#include <ctime>

#include "tool/voxsifter_driver.hpp"
#include "tool/voxsifter_multi_core.hpp"

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

// The notice that layer files are a prototype; silent only at level QUIET.
static void LayInfo() {
  if (get_message_log_level() > FATAL_ERROR) return;
  fputs(
      "WARNING: do not expect LAY files to work across different versions\n"
      "         of Pelkarts because the development of change layers is still\n"
      "         not completed. this is just an awesome prototype as proof\n"
      "         of concept. we continue to gather community input ... (-;\n",
      stderr);
}

void voxsifter_main(int argc, char* argv[]) {
  VoxsifterRun run;
  Pelkart_voxsifter& tool = run.tool;
  tool.argc = argc;
  tool.argv = argv;
  tool.name = "voxsifter";
  VoxsifterOptions& options = run.options;
  LASreadOpener& lasreadopener = run.lasreadopener;
  LASwriteOpener& laswriteopener = run.laswriteopener;

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
    bool layer_output = false;
    for (int i = 1; i < argc; i++) {
      if ((unsigned char)argv[i][0] == 0x96) argv[i][0] = '-';
      if (strncmp(argv[i], "-olay", 5) == 0) layer_output = true;
    }
    // Taken before any parser empties an argument: the command line as typed.
    if (layer_output) {
      run.has_layer_description = true;
      for (int i = 0; i < argc; i++) {
        if (i > 0) run.layer_description += ' ';
        run.layer_description += argv[i];
      }
    }
    run.geoprojectionconverter.parse(argc, argv);
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
    if (parse_tool_option(options, argc, argv, i)) continue;
    if (tool.parse_base(i)) continue;
    if (tool.parse_pre(i, false)) continue;
    laserror("cannot understand argument '%s'. use '-h' or see %s_README.md to get help.", argv[i],
             tool.name.c_str());
  }
  tool.after_parse();

  if (!tool.force && lasmessage_cnt[SERIOUS_WARNING] > 0) byebye();

  if (options.ilay || options.olay) LayInfo();
  if (options.ilay) {
    // These two end the run whatever the halting setting.
    if (lasreadopener.is_buffered()) {
      LASMessage(ERROR, "on-the-fly buffering and '-ilay' cannot currently be combined.");
      byebye();
    }
    if (lasreadopener.is_piped()) {
      LASMessage(ERROR, "cannot use '-ilay' for piped input");
      byebye();
    }
  }
  if (options.olay && lasreadopener.is_inside()) laserror("inside queries and '-olay' cannot currently be combined.");

  if (tool.cores > 1) {
    if (lasreadopener.is_stdin()) {
      LASMessage(WARNING, "using stdin. ignoring '-cores %d' ...", (int)tool.cores);
    } else if (lasreadopener.get_file_name_number() < 2) {
      LASMessage(WARNING, "only %u input file(s). ignoring '-cores %d' ...", lasreadopener.get_file_name_number(),
                 (int)tool.cores);
    } else if (lasreadopener.is_merged()) {
      LASMessage(WARNING, "input files merged on-the-fly. ignoring '-cores %d' ...", (int)tool.cores);
    } else {
      voxsifter_multi_core(argc, argv, run.geoprojectionconverter, lasreadopener, laswriteopener, tool.cores,
                           tool.cpu64);
    }
  }
  if (tool.cpu64) {
    voxsifter_multi_core(argc, argv, run.geoprojectionconverter, lasreadopener, laswriteopener, 1, true);
  }

  if (!lasreadopener.active()) laserror("no input specified");
  if (laswriteopener.is_piped()) LASMessage(WARNING, "cannot update header for piped output");
  if (lasreadopener.get_file_name() && laswriteopener.get_file_name() &&
      strcmp(lasreadopener.get_file_name(), laswriteopener.get_file_name()) == 0) {
    laserror("input and output file name are identical");
    run.identical_reported = true;
  }

  if (run.geoprojectionconverter.has_projection(true)) {
    run.geo_keys_obtained = run.geoprojectionconverter.get_geo_keys_from_projection(
        run.number_of_keys, &run.geo_keys, run.num_geo_double_params, &run.geo_double_params, true);
  }

  clock_t start_time = clock();
  // Piped input can be read only once: it is kept for the second pass.
  if (lasreadopener.is_piped()) lasreadopener.set_stored(true);

  while (lasreadopener.active()) {
    const U32 current = lasreadopener.get_file_name_current();
    const bool from_stdin = lasreadopener.is_stdin();
    voxsifter_thin_next_file(run);
    // An opener that took no input would offer the same one forever.
    if (lasreadopener.get_file_name_current() == current && lasreadopener.is_stdin() == from_stdin) break;
  }

  if (lasreadopener.get_file_name_number() > 1 && !lasreadopener.is_merged()) {
    LASMessage(INFO, "done with all files. total time for %u files %g sec.", lasreadopener.get_file_name_number(),
               (double)(clock() - start_time) / CLOCKS_PER_SEC);
  }
  byebye();
}
