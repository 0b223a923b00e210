// marrowgate-listen [--answer N] [--stall MS] [--idle MS] TITLE: the
// reference launcher listener. Prints one line per record the patcher
// started with "/user TITLE" sends and answers each.
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/launcher_window.h"
#include "tools/launcher_listener.h"

namespace {

std::string Usage() {
  std::string usage =
      "usage: marrowgate-listen [--answer N] [--stall MS] [--idle MS] TITLE\n"
      "Waits for the patcher started with \"/user TITLE\", answers each of its\n"
      "records and prints one line per record:\n"
      "  message CODE TEXT\n"
      "  progress VALUE\n"
      "  --answer N   answer every record with N (default 0)\n"
      "  --stall MS   wait MS milliseconds before each answer (a slow launcher)\n"
      "  --idle MS    give up, with status 3, when no record came for MS milliseconds\n";
  usage += marrowgate::platform::kLauncherWindows
               ? "Owns a hidden \"Static\" window titled TITLE; exits after the run's last\n"
                 "record (progress -1).\n"
               : "Exits when the patcher disconnects.\n";
  return usage;
}

}  // namespace

int main(int argc, char** argv) {
  using marrowgate::platform::WriteStandardError;
  using marrowgate::platform::WriteStandardOutput;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && args[0] == "--help") {
    const std::string usage = Usage();
    WriteStandardOutput(usage.data(), usage.size());
    return 0;
  }
  marrowgate::ListenerOptions options;
  std::string problem;
  if (!marrowgate::ParseListenerArgs(args, &options, &problem)) {
    const std::string text = "marrowgate-listen: " + problem + "\n" + Usage();
    WriteStandardError(text.data(), text.size());
    return marrowgate::kListenerUsage;
  }
  return marrowgate::RunLauncherListener(
      options,
      [](const std::string& text) { WriteStandardOutput(text.data(), text.size()); },
      [](const std::string& text) {
        std::string line = text + "\n";
        WriteStandardError(line.data(), line.size());
      });
}
