// The process pool on POSIX: posix_spawn with an argument vector built
// directly, non-blocking waitpid on each slot's own child, and a search of the
// program file done here rather than by a shell, so that no user-controlled
// name is ever interpreted as a command.
#include "tool/pelkarts_multi_core_linux.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "core/lasmessage.hpp"

extern char** environ;

namespace {

// A slot of the pool: the child running in it (0 when free) and its job.
struct Slot {
  pid_t pid = 0;
  size_t job = 0;
};

bool is_executable_file(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string running_program() {
  char buffer[4096];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (length <= 0) return "";
  return std::string(buffer, (size_t)length);
}

// The runner's lines go to stderr directly, each in one write, so that the
// lines of running children cannot cut into them.
void write_line(const std::string& line) {
  fflush(stderr);
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(STDERR_FILENO, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += (size_t)n;
  }
}

void sleep_2ms() {
  timespec wait = {0, 2000000}, left;
  while (nanosleep(&wait, &left) != 0 && errno == EINTR) wait = left;
}

// The message level that carries a child's exit code into this run's own.
LAS_MESSAGE_TYPE level_of_exit_code(int code) {
  switch (code) {
    case 1:
      return WARNING;
    case 2:
      return SERIOUS_WARNING;
    case 4:
      return FATAL_ERROR;
    default:
      return ERROR;
  }
}

void report_end(const PelkartsJob& job, int status) {
  if (WIFSIGNALED(status)) {
    const int signal_number = WTERMSIG(status);
    LASMessage(ERROR, "process %s was killed by signal %d (%s)", job.label.c_str(), signal_number,
               strsignal(signal_number));
  } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    const int code = WEXITSTATUS(status);
    LASMessage(level_of_exit_code(code), "process %s ended with exit code %d", job.label.c_str(), code);
  }
}

// Starts `job` in `slot`; false, after reporting, when it could not be started
// (the slot then stays free).
bool start_job(const PelkartsJob& job, size_t slot_number, Slot& slot) {
  const std::string path = details::bin_location_get(job.arguments[0]);
  std::string line = "Starting thread[" + std::to_string(slot_number) + "](" + path + ") with arguments: ";
  for (const std::string& argument : job.arguments) line += argument + " ";
  line += '\n';
  write_line(line);

  std::vector<char*> argv;
  for (const std::string& argument : job.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) {
    write_line("  fail. error=" + std::to_string(error) + "\n");
    LASMessage(ERROR, "process %s was not started: %s", job.label.c_str(), strerror(error));
    slot.pid = 0;
    return false;
  }
  slot.pid = pid;
  return true;
}

// True when the slot's child has ended (and was reported).
bool has_ended(const std::vector<PelkartsJob>& jobs, Slot& slot) {
  int status = 0;
  pid_t answer;
  do {
    answer = waitpid(slot.pid, &status, WNOHANG);
  } while (answer < 0 && errno == EINTR);
  if (answer == 0) return false;
  if (answer < 0) {
    LASMessage(ERROR, "process %s cannot be waited for: %s", jobs[slot.job].label.c_str(), strerror(errno));
  } else {
    report_end(jobs[slot.job], status);
  }
  slot.pid = 0;
  return true;
}

}  // namespace

void details::spawn_processes(const std::vector<PelkartsJob>& jobs, U32 cores) {
  const size_t slot_count = std::min<size_t>(jobs.size(), cores);
  write_line("Starting " + std::to_string(jobs.size()) + " processes on " + std::to_string(slot_count) + " cores\n");
  // Children are reaped here to learn how they ended; an inherited "ignore"
  // for SIGCHLD would let the system reap them first.
  signal(SIGCHLD, SIG_DFL);

  std::vector<Slot> slots(slot_count);
  size_t next = 0, started = 0;
  // A job that cannot be started leaves its slot free for the next one.
  auto start_next = [&](size_t s) {
    slots[s].job = next;
    if (start_job(jobs[next++], s, slots[s])) started++;
  };
  for (size_t s = 0; s < slot_count; s++) start_next(s);
  for (;;) {
    sleep_2ms();
    const bool all_started = next == jobs.size();
    bool running = false;
    for (size_t s = 0; s < slot_count; s++) {
      // Only a slot's own child is asked for: never "any child", whose answer
      // could belong to another slot.
      if (slots[s].pid != 0 && !has_ended(jobs, slots[s])) running = true;
    }
    if (all_started && !running) break;
    for (size_t s = 0; s < slot_count; s++) {
      if (slots[s].pid == 0 && next < jobs.size()) start_next(s);
    }
  }
  write_line("Sucessfully started " + std::to_string(started) + " jobs\n");
}

std::string details::bin_location_get(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  if (const char* path = getenv("PATH")) {
    const std::string list = path;
    size_t begin = 0;
    for (;;) {
      const size_t end = std::min(list.find(':', begin), list.size());
      // An empty entry is the working directory.
      const std::string directory = end > begin ? list.substr(begin, end - begin) : ".";
      const std::string candidate = directory + "/" + name;
      if (!name.empty() && is_executable_file(candidate)) return candidate;
      if (end == list.size()) break;
      begin = end + 1;
    }
  }
  const std::string self = running_program();
  if (!self.empty()) return self;
  write_line("Error: Binary [" + name + "] not found\n");
  return "";
}

U32 GetCurrentProcessIdUni() { return (U32)getpid(); }
