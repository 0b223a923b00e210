// marrowgate: the self-applying patcher in a terminal (see
// tools/patcher_program.h).
#include <string>
#include <vector>

#include "platform/env.h"
#include "tools/patcher_program.h"

int main(int argc, char** argv) {
  using namespace marrowgate;
  std::vector<std::string> args(argv + 1, argv + argc);
  PatcherProgramIo io;
  io.out = [](const std::string& text) { platform::WriteStandardOutput(text.data(), text.size()); };
  io.err = [](const std::string& text) { platform::WriteStandardError(text.data(), text.size()); };
  io.errIsTerminal = platform::StderrIsTerminal();
  return RunPatcherProgram(args, io);
}
