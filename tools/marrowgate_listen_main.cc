// marrowgate-listen TITLE: the reference launcher listener. Prints one line
// per record the patcher started with "/user TITLE" sends, answers each
// with 0, and exits when the patcher disconnects.
#include <cstring>
#include <string>

#include "platform/env.h"
#include "tools/launcher_listener.h"

int main(int argc, char** argv) {
  using marrowgate::platform::WriteStandardError;
  using marrowgate::platform::WriteStandardOutput;
  if (argc != 2 || std::strcmp(argv[1], "--help") == 0) {
    const char usage[] =
        "usage: marrowgate-listen TITLE\n"
        "Waits for the patcher started with \"/user TITLE\", answers each of its\n"
        "records with 0 and prints one line per record:\n"
        "  message CODE TEXT\n"
        "  progress VALUE\n"
        "Exits when the patcher disconnects.\n";
    bool help = argc == 2;
    if (help) {
      WriteStandardOutput(usage, sizeof(usage) - 1);
    } else {
      WriteStandardError(usage, sizeof(usage) - 1);
    }
    return help ? 0 : 2;
  }
  return marrowgate::RunLauncherListener(
      argv[1],
      [](const std::string& text) { WriteStandardOutput(text.data(), text.size()); },
      [](const std::string& text) {
        std::string line = text + "\n";
        WriteStandardError(line.data(), line.size());
      });
}
