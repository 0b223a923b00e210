// marrowgate.exe: the self-applying patcher as a Windows program (GUI
// subsystem). The command line is the system's own: the whole line for
// "/user" and "/D", the tail after the program name as the install folder;
// a tail that starts with an option ("--verify DIR", "--console DIR",
// "--dry-run DIR", "--help", "--about") is read as on Linux, and the text
// goes to the console the program was started from. Exit status as on
// Linux (app/patcher_app.h).
#include <memory>
#include <string>

#include "app/command_line.h"
#include "app/patcher_app.h"
#include "app/win/win32_patcher_view.h"
#include "platform/env.h"

#ifndef MARROWGATE_VERSION
#define MARROWGATE_VERSION "unknown"
#endif

namespace {

int PatcherMain(const char* tail) {
  using namespace marrowgate;
  platform::AttachStartingConsole();
  PatcherAppIo io;
  io.out = [](const std::string& text) { platform::WriteStandardOutput(text.data(), text.size()); };
  io.err = [](const std::string& text) { platform::WriteStandardError(text.data(), text.size()); };
  io.errIsTerminal = platform::StderrIsTerminal();
  io.openWindow = []() -> std::unique_ptr<ModalPatcherView> {
    if (!Win32PatcherView::OpenDisplay()) return nullptr;
    auto view = std::make_unique<Win32PatcherView>();
    if (!view->Created()) return nullptr;
    return view;
  };
  io.version = MARROWGATE_VERSION;
  io.interruptStops = true;
  const std::string self = platform::OwnExecutablePath();
  const size_t slash = self.find_last_of("/\\");
  const std::string name = self.substr(slash == std::string::npos ? 0 : slash + 1);
  if (!name.empty()) io.programName = name;
  const std::string rawTail = tail != nullptr ? tail : "";
  PatcherCommandLine line = ParseWindowsProgramLine(platform::ProcessCommandLine(), rawTail);
  return PatcherApp(io).RunCommandLine(line, rawTail);
}

}  // namespace

// The GUI entry point, declared with plain types so that no system header
// is needed here (instance, previous instance, command-line tail, show
// state); the run-time hands it the tail after the program name.
extern "C" int __stdcall WinMain(void* /*instance*/, void* /*previous*/, char* commandTail,
                                 int /*show*/) {
  return PatcherMain(commandTail);
}
