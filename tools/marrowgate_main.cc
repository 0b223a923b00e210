// marrowgate: the self-applying patcher, in a window or in a terminal, and
// the check of an install folder (--verify); see app/patcher_app.h.
#include <memory>
#include <string>
#include <vector>

#include "app/gtk/gtk_patcher_view.h"
#include "app/patcher_app.h"
#include "platform/env.h"

#ifndef MARROWGATE_VERSION
#define MARROWGATE_VERSION "unknown"
#endif

int main(int argc, char** argv) {
  using namespace marrowgate;
  std::vector<std::string> args(argv + 1, argv + argc);
  PatcherAppIo io;
  io.out = [](const std::string& text) { platform::WriteStandardOutput(text.data(), text.size()); };
  io.err = [](const std::string& text) { platform::WriteStandardError(text.data(), text.size()); };
  io.errIsTerminal = platform::StderrIsTerminal();
  io.openWindow = []() -> std::unique_ptr<ModalPatcherView> {
    if (!GtkPatcherView::OpenDisplay()) return nullptr;
    return std::make_unique<GtkPatcherView>();
  };
  io.version = MARROWGATE_VERSION;
  io.interruptStops = true;
  // Usage texts name the program as it was started.
  if (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') {
    std::string name = argv[0];
    size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (!name.empty()) io.programName = name;
  }
  return PatcherApp(io).Run(args);
}
