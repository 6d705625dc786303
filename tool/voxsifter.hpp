// The voxsifter tool: its tool object and its program entry.
#pragma once

#include "tool/lasUtil_full.hpp"

class Pelkart_voxsifter : public Pelkart {
 public:
  ~Pelkart_voxsifter() override {}
  void usage() override;
};

// The whole run; ends the process through byebye().
[[noreturn]] void voxsifter_main(int argc, char* argv[]);
