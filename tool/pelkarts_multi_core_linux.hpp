// The process pool of the multi-process runner: runs each job as a child
// process of this program, at most a given number at a time, and finds the
// program file to start. The only place where the system starts processes.
#pragma once

#include <string>
#include <vector>

#include "core/mydefs.hpp"

// One child process: its argument vector, the program's own argv[0] first,
// handed to the child as it stands (never re-split by quote rules), and the
// words that name it in messages ("for 'a.las'").
struct PelkartsJob {
  std::vector<std::string> arguments;
  std::string label;
  // The one input file it thins (empty for a list, standard input or none),
  // and whether it was given the "-o" name.
  std::string input;
  bool named_output = false;
};

namespace details {

// Starts every job, at most `cores` at a time, polling every 2 ms and starting
// the next job in each slot that became free; returns when all have ended. A
// job that cannot be started, or a child that ends with a non-zero exit code
// or by a signal, is reported through a message of the matching level, so the
// run's exit code is the worst of its children's.
void spawn_processes(const std::vector<PelkartsJob>& jobs, U32 cores);

// The path under which the program `name` (an argv[0]) can be started: a name
// with a '/' as it is; otherwise the first executable of that name on the
// search path, else the running program itself. Empty, after a line on
// stderr, when none is found. No shell is asked.
std::string bin_location_get(const std::string& name);

}  // namespace details

U32 GetCurrentProcessIdUni();
