// Errors must not end a fuzz run: halting is off and messages are silenced,
// once per process.
#pragma once

#include "core/lasmessage.hpp"

inline void fuzz_quiet() {
  static const bool quiet = [] {
    halt_on_error(false);
    set_message_log_level(QUIET);
    return true;
  }();
  (void)quiet;
}
