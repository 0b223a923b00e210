// marrowgate-pack: the publisher's package tool (see tools/pack_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/interrupt.h"
#include "tools/pack_tool.h"

int main(int argc, char** argv) {
  // An interrupted run removes the files it was writing under temporary
  // names and ends with 128 + the signal's number.
  marrowgate::platform::InstallInterruptCleanup();
  std::vector<std::string> args(argv + 1, argv + argc);
  return marrowgate::RunPackTool(args, std::cout, std::cerr,
                                 marrowgate::platform::StderrIsTerminal());
}
