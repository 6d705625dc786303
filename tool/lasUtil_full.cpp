// Banner and standard options shared by the suite's tools.
#include "tool/lasUtil_full.hpp"

#include <cstring>

#include "core/lasoption.hpp"

void Pelkart::lastitle(LAS_MESSAGE_TYPE level, const std::string& extra) {
  if (title_printed) return;
  LASMessage(level, "Pelkarts %s (by " PELKARTS_SUPPORT_ADDRESS ") version %d%s\n", name.c_str(),
             PELKARTS_BUILD_NUMBER, extra.c_str());
  title_printed = (level >= get_message_log_level());
}

namespace {

using StandardRow = LASoptionRow<Pelkart>;
constexpr LASoptionResult TAKEN = LASoptionResult::TAKEN;

// ------------------------------------------------------------------ message levels

// "-v" never raises the level: after "-vv" it keeps VERY_VERBOSE.
LASoptionResult set_verbose(Pelkart&, const LASoptionCall&) {
  if (get_message_log_level() > VERBOSE) set_message_log_level(VERBOSE);
  return TAKEN;
}

template <LAS_MESSAGE_TYPE level>
LASoptionResult set_level(Pelkart&, const LASoptionCall&) {
  set_message_log_level(level);
  return TAKEN;
}

LASoptionResult ignore_errors(Pelkart&, const LASoptionCall&) {
  halt_on_error(false);
  return TAKEN;
}

LASoptionResult set_force(Pelkart& tool, const LASoptionCall&) {
  tool.force = true;
  return TAKEN;
}

LASoptionResult show_log_stats(Pelkart&, const LASoptionCall&) {
  print_log_stats(true);
  return TAKEN;
}

const StandardRow LEVEL_OPTIONS[] = {
    {{"-v", "", 0, ""}, set_verbose},
    {{"-verbose", "", 0, ""}, set_verbose},
    {{"-vv", "", 0, ""}, set_level<VERY_VERBOSE>},
    {{"-very_verbose", "", 0, ""}, set_level<VERY_VERBOSE>},
    {{"-quiet", "", 0, ""}, set_level<QUIET>},
    {{"-silent", "", 0, ""}, set_level<WARNING>},
    {{"-errors_ignore", "", 0, ""}, ignore_errors},
    {{"-force", "", 0, ""}, set_force},
    {{"-print_log_stats", "", 0, ""}, show_log_stats},
};

// ------------------------------------------------------------------ standard options

// "-h", "-help" and "-hh"; the extended help of the framework parsers has
// already been shown for "-hh", so only the others point to it.
[[noreturn]] LASoptionResult show_help(Pelkart& tool, const LASoptionCall& call) {
  tool.lastitle(INFO);
  tool.usage();
  if (strcmp(call.typed, "-hh") != 0) {
    LASMessage(INFO, "use '-hh' or see %s_README.md to get extended help\n", tool.name.c_str());
  }
  byebye();
}

[[noreturn]] LASoptionResult show_version(Pelkart& tool, const LASoptionCall&) {
  tool.lastitle(INFO);
  byebye();
}

LASoptionResult ignore_gui(Pelkart&, const LASoptionCall&) {
  LASMessage(WARNING, "not compiled with GUI support. ignoring '-gui' ...");
  return TAKEN;
}

// The count is read as scanf reads "%u": leading digits suffice ("4x" is 4)
// and a minus sign wraps ("-1" is the largest count). Child processes and
// stored command lines have always been read this way.
LASoptionResult set_cores(Pelkart& tool, const LASoptionCall& call) {
  U32 value;
  if (sscanf_las(call.values[0].text, "%u", &value) != 1) {
    laserror("cannot understand argument '%s' for '%s'", call.values[0].text, call.typed);
    return LASoptionResult::FAILED;
  }
  tool.cores = value;
  return TAKEN;
}

LASoptionResult set_cpu64(Pelkart& tool, const LASoptionCall&) {
  tool.cpu64 = true;
  return TAKEN;
}

// Help and version end the run where they stand; "-gui" only warns and, like
// the message levels, stays on the command line that children get.
const StandardRow KEPT_OPTIONS[] = {
    {{"-h", "", 0, ""}, show_help},          {{"-hh", "", 0, ""}, show_help},   {{"-help", "", 0, ""}, show_help},
    {{"-version", "", 0, ""}, show_version}, {{"-gui", "", 0, ""}, ignore_gui},
};

// Taken by this process and emptied: the multi-process runner gives each
// child its own share.
const StandardRow EMPTIED_OPTIONS[] = {
    {{"-cores", "number", 1, "%s"}, set_cores},
    {{"-cpu64", "", 0, ""}, set_cpu64},
};

}  // namespace

bool Pelkart::parse_pre(int& i, bool apply) {
  const StandardRow* row = las_find_option<Pelkart>(LEVEL_OPTIONS, argv[i]);
  if (row == nullptr) return false;
  if (apply) las_run_option(*row, *this, i, argc, argv, false);
  return true;
}

bool Pelkart::parse_base(int& i) {
  const StandardRow* row = las_find_option<Pelkart>(KEPT_OPTIONS, argv[i]);
  const bool emptied = row == nullptr;
  if (emptied) row = las_find_option<Pelkart>(EMPTIED_OPTIONS, argv[i]);
  if (row == nullptr) return false;
  // A missing or unreadable value shows the usage and ends the run, even
  // with halting on errors off.
  if (las_run_option(*row, *this, i, argc, argv, emptied) == LASoptionResult::FAILED) {
    usage();
    byebye();
  }
  return true;
}
