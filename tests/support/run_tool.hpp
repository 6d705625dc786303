// Runs the built voxsifter (or any program) as a child process and captures its
// exit code, standard output and standard error.
#pragma once

#include <string>
#include <vector>

struct ToolResult {
  int exit_code = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
};

struct ToolRun {
  std::vector<std::string> args;  // without the program name
  std::string stdin_data;         // written to the child's stdin, then closed
  std::string cwd;                // working directory; empty: the current one
  std::string program = VOXSIFTER_BINARY;
  std::string argv0;              // argv[0] the program sees; empty: `program`
  int timeout_seconds = 120;      // the child is killed after this
};

ToolResult run_tool(const ToolRun& run);
// Shorthand: the built voxsifter with these arguments and an empty stdin.
ToolResult run_voxsifter(const std::vector<std::string>& args);
