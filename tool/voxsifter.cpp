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

// No arguments: the input and output names are asked for at the terminal.
static void ask_for_files(VoxsifterRun& run) {
  wait_on_exit(true);
  fprintf(stderr, "%s is better run in the command line\n", run.tool.argv[0]);
  fprintf(stderr, "enter input file: ");
  std::string input = read_prompt_line();
  run.lasreadopener.set_file_name(input.c_str());
  fprintf(stderr, "enter output file: ");
  std::string output = read_prompt_line();
  run.laswriteopener.set_file_name(output.c_str());
}

// The framework's parsers take (empty) their options first. Before them a
// dash typed as the byte 0x96 becomes '-', and with layer output the command
// line is kept as typed for the layer.
static void parse_framework_options(VoxsifterRun& run, int argc, char* argv[]) {
  bool layer_output = false;
  for (int i = 1; i < argc; i++) {
    if ((unsigned char)argv[i][0] == 0x96) argv[i][0] = '-';
    if (strncmp(argv[i], "-olay", 5) == 0) layer_output = true;
  }
  if (layer_output) {
    run.has_layer_description = true;
    for (int i = 0; i < argc; i++) {
      if (i > 0) run.layer_description += ' ';
      run.layer_description += argv[i];
    }
  }
  run.geoprojectionconverter.parse(argc, argv);
  run.lasreadopener.parse(argc, argv, true);
  run.laswriteopener.parse(argc, argv);
}

// Message levels first, wherever they stand, so that they hold for the banner
// and every message after it.
static void set_message_levels(Pelkart& tool) {
  for (int i = 1; i < tool.argc; i++) {
    if (tool.argv[i][0] == '\0') continue;
    tool.parse_pre(i, true);
  }
}

// What the framework left: the tool's own options, then the standard ones
// (help and version end the run where they stand), then the message levels
// taken already; anything else is not understood.
static void parse_tool_options(VoxsifterRun& run) {
  Pelkart_voxsifter& tool = run.tool;
  for (int i = 1; i < tool.argc; i++) {
    if (tool.argv[i][0] == '\0') continue;
    if (parse_tool_option(run.options, tool.argc, tool.argv, i)) continue;
    if (tool.parse_base(i)) continue;
    if (tool.parse_pre(i, false)) continue;
    laserror("cannot understand argument '%s'. use '-h' or see %s_README.md to get help.", tool.argv[i],
             tool.name.c_str());
  }
  tool.after_parse();
  if (!tool.force && lasmessage_cnt[SERIOUS_WARNING] > 0) byebye();
}

static void check_layer_options(const VoxsifterRun& run) {
  const VoxsifterOptions& options = run.options;
  if (options.ilay || options.olay) LayInfo();
  if (options.ilay) {
    // These two end the run whatever the halting setting.
    if (run.lasreadopener.is_buffered()) {
      LASMessage(ERROR, "on-the-fly buffering and '-ilay' cannot currently be combined.");
      byebye();
    }
    if (run.lasreadopener.is_piped()) {
      LASMessage(ERROR, "cannot use '-ilay' for piped input");
      byebye();
    }
  }
  if (options.olay && run.lasreadopener.is_inside()) {
    laserror("inside queries and '-olay' cannot currently be combined.");
  }
}

// Several input files over several cores, or the 64-bit hand-off, go to the
// multi-process runner, which ends the run; otherwise this process goes on.
static void hand_off_to_cores(VoxsifterRun& run) {
  Pelkart_voxsifter& tool = run.tool;
  LASreadOpener& lasreadopener = run.lasreadopener;
  if (tool.cores > 1) {
    if (lasreadopener.is_stdin()) {
      LASMessage(WARNING, "using stdin. ignoring '-cores %d' ...", (int)tool.cores);
    } else if (lasreadopener.get_file_name_number() < 2) {
      LASMessage(WARNING, "only %u input file(s). ignoring '-cores %d' ...", lasreadopener.get_file_name_number(),
                 (int)tool.cores);
    } else if (lasreadopener.is_merged()) {
      LASMessage(WARNING, "input files merged on-the-fly. ignoring '-cores %d' ...", (int)tool.cores);
    } else {
      voxsifter_multi_core(tool.argc, tool.argv, run.geoprojectionconverter, lasreadopener, run.laswriteopener,
                           tool.cores, tool.cpu64);
    }
  }
  if (tool.cpu64) {
    voxsifter_multi_core(tool.argc, tool.argv, run.geoprojectionconverter, lasreadopener, run.laswriteopener, 1, true);
  }
}

static void check_input_and_output(VoxsifterRun& run) {
  const LASreadOpener& lasreadopener = run.lasreadopener;
  const LASwriteOpener& laswriteopener = run.laswriteopener;
  if (!lasreadopener.active()) laserror("no input specified");
  if (laswriteopener.is_piped()) LASMessage(WARNING, "cannot update header for piped output");
  if (lasreadopener.get_file_name() && laswriteopener.get_file_name() &&
      strcmp(lasreadopener.get_file_name(), laswriteopener.get_file_name()) == 0) {
    laserror("input and output file name are identical");
    run.identical_reported = true;
  }
}

// What every file of the run shares: the GeoKeys of a projection given on
// the command line, and the files no output may land on.
static void prepare_files(VoxsifterRun& run) {
  if (run.geoprojectionconverter.has_projection(true)) {
    run.geo_keys_obtained = run.geoprojectionconverter.get_geo_keys_from_projection(
        run.number_of_keys, &run.geo_keys, run.num_geo_double_params, &run.geo_double_params, true);
  }
  LASreadOpener& lasreadopener = run.lasreadopener;
  for (U32 i = 0; i < lasreadopener.get_file_name_number(); i++) run.inputs.add(lasreadopener.get_file_name(i));
  for (U32 i = 0; i < lasreadopener.get_neighbor_file_name_number(); i++) {
    run.inputs.add(lasreadopener.get_neighbor_file_name(i));
  }
}

static void thin_every_file(VoxsifterRun& run) {
  LASreadOpener& lasreadopener = run.lasreadopener;
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
}

void voxsifter_main(int argc, char* argv[]) {
  VoxsifterRun run;
  run.tool.argc = argc;
  run.tool.argv = argv;
  run.tool.name = "voxsifter";

  if (argc == 1) {
    ask_for_files(run);
  } else {
    parse_framework_options(run, argc, argv);
  }
  set_message_levels(run.tool);
  run.tool.lastitle(VERBOSE);
  parse_tool_options(run);
  check_layer_options(run);
  hand_off_to_cores(run);
  check_input_and_output(run);
  prepare_files(run);
  thin_every_file(run);
  byebye();
}
