// The base of every tool of the suite: the command line, the tool's name, the
// title banner, the usage text and the options every tool understands
// (message levels, help, version and the multi-process switches).
#pragma once

#include <string>

#include "core/lasmessage.hpp"
#include "core/mydefs.hpp"

class Pelkart {
 public:
  virtual ~Pelkart() {}
  virtual void lastitle(LAS_MESSAGE_TYPE level, const std::string& extra = "");
  virtual void usage() {}
  // Message-level options; never empties an argument, never moves i.
  virtual bool parse_pre(int& i, bool apply);
  // Help, version, -gui, -cores and -cpu64.
  virtual bool parse_base(int& i);
  virtual void after_parse() {}

  bool title_printed = false;
  int argc = 0;
  char** argv = nullptr;
  bool force = false;
  U32 cores = 1;
  bool cpu64 = false;
  std::string name;
};
