// marrowgate-pack: the publisher's package tool (see tools/pack_tool.h).
#include <iostream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/pack_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return marrowgate::RunPackTool(args, std::cout, std::cerr,
                                 marrowgate::platform::StderrIsTerminal());
}
