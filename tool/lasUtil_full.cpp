// Banner and standard options shared by the suite's tools.
#include "tool/lasUtil_full.hpp"

#include <cstring>

void Pelkart::lastitle(LAS_MESSAGE_TYPE level, const std::string& extra) {
  if (title_printed) return;
  LASMessage(level, "Pelkarts %s (by " PELKARTS_SUPPORT_ADDRESS ") version %d%s\n", name.c_str(),
             PELKARTS_BUILD_NUMBER, extra.c_str());
  title_printed = (level >= get_message_log_level());
}

bool Pelkart::parse_pre(int& i, bool apply) {
  const char* arg = argv[i];
  if (strcmp(arg, "-v") == 0 || strcmp(arg, "-verbose") == 0) {
    if (apply && get_message_log_level() > VERBOSE) set_message_log_level(VERBOSE);
  } else if (strcmp(arg, "-vv") == 0 || strcmp(arg, "-very_verbose") == 0) {
    if (apply) set_message_log_level(VERY_VERBOSE);
  } else if (strcmp(arg, "-quiet") == 0) {
    if (apply) set_message_log_level(QUIET);
  } else if (strcmp(arg, "-silent") == 0) {
    if (apply) set_message_log_level(WARNING);
  } else if (strcmp(arg, "-errors_ignore") == 0) {
    if (apply) halt_on_error(false);
  } else if (strcmp(arg, "-force") == 0) {
    if (apply) force = true;
  } else if (strcmp(arg, "-print_log_stats") == 0) {
    if (apply) print_log_stats(true);
  } else {
    return false;
  }
  return true;
}

bool Pelkart::parse_base(int& i) {
  const char* arg = argv[i];
  if (strcmp(arg, "-h") == 0 || strcmp(arg, "-hh") == 0 || strcmp(arg, "-help") == 0) {
    lastitle(INFO);
    usage();
    if (strcmp(arg, "-hh") != 0) LASMessage(INFO, "use '-hh' or see %s_README.md to get extended help\n", name.c_str());
    byebye();
  }
  if (strcmp(arg, "-version") == 0) {
    lastitle(INFO);
    byebye();
  }
  if (strcmp(arg, "-gui") == 0) {
    LASMessage(WARNING, "not compiled with GUI support. ignoring '-gui' ...");
    return true;
  }
  if (strcmp(arg, "-cores") == 0) {
    if (i + 1 >= argc) {
      laserror("'%s' needs 1 argument: number", arg);
      usage();
      byebye();
    }
    U32 value;
    if (sscanf_las(argv[i + 1], "%u", &value) != 1) {
      laserror("cannot understand argument '%s' for '%s'", argv[i + 1], arg);
      usage();
      byebye();
    }
    cores = value;
    argv[i][0] = '\0';
    i++;
    argv[i][0] = '\0';
    return true;
  }
  if (strcmp(arg, "-cpu64") == 0) {
    cpu64 = true;
    argv[i][0] = '\0';
    return true;
  }
  return false;
}
