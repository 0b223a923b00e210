// PatcherApp: the patcher process's start-up.
//
//   PatcherAppIo io;                 // output, and how to open a window
//   io.openWindow = [] { return a GtkPatcherView, or null without display };
//   return PatcherApp(io).Run(args); // argv after the program name
//
// Run() reads the command line (app/command_line.h, POSIX form). With
// --verify it checks the folder against its local file list
// (app/install_verify.h), one line per file and a summary on standard
// output, and patches nothing. With --about it checks the patch's own
// package whole and prints the versions it serves and brings, the
// package's size and file count (app/payload_check.h). With --dry-run it
// lists what a run would write, replace, hold back, skip and delete
// (app/dry_run.h) on standard output and writes nothing. Otherwise it writes
// "marrowgate, inner cmd m_lpCmdLine=..." to the debug channel, attaches
// the launcher named by /user (the patcher then sends its messages and
// progress there; the connection is made at the first record, after the
// window has been shown), writes the chosen install folder to the debug channel
// and runs the PatcherDialog modally over a view:
//   a window      when --console is absent and openWindow() gives one
//                 (DISPLAY or WAYLAND_DISPLAY set and the display opens);
//   the terminal  otherwise (ConsoleView). The terminal has no folder
//                 picker, so there a folder (or -h) is required.
// With a folder the run starts when the window is shown and the program
// ends with it; "-h" runs hidden into the program's own folder; without a
// folder the window waits for Browse and Start.
//
// Exit status: 0 when the last run succeeded (or the user closed the window
// without starting one), 1 when the last run failed or no run could be
// made because of an error (the message file, a folder given but not
// patched), 2 for bad usage. --verify: 0 every file matched, 1 a file is
// missing or differs or the list cannot be read, 2 bad usage. --dry-run:
// 0 the patch would apply, 1 it would not.
#ifndef MARROWGATE_APP_PATCHER_APP_H_
#define MARROWGATE_APP_PATCHER_APP_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/modal_patcher_view.h"

namespace marrowgate {

inline constexpr int kPatcherAppOk = 0;
inline constexpr int kPatcherAppFailure = 1;
inline constexpr int kPatcherAppUsage = 2;

struct PatcherAppIo {
  std::function<void(const std::string&)> out;  // standard output
  std::function<void(const std::string&)> err;  // standard error
  bool errIsTerminal = false;                   // the terminal's bar drawn in place
  // The program file carrying the package; empty: the running program.
  std::string modulePath;
  // The window, or null when no display can be opened. Unset: no window.
  std::function<std::unique_ptr<ModalPatcherView>()> openWindow;
  // The program's name in usage texts.
  std::string programName = "marrowgate";
  // In a terminal, Ctrl-C asks the run to stop (the process's signal
  // handling changes: off for tests that run the app in-process).
  bool interruptStops = false;
  std::string version = "unknown";
};

enum class PatcherDisplay { kWindow, kConsole };

// The window unless the console was asked for or no display opens.
// `openDisplay` is only called when a window is wanted.
PatcherDisplay ChooseDisplay(bool consoleOption, const std::function<bool()>& openDisplay);

class PatcherApp {
 public:
  explicit PatcherApp(PatcherAppIo io) : io_(std::move(io)) {}
  // The process's start: returns its exit status.
  int Run(const std::vector<std::string>& args);
  // The same over a command line already read (the Windows program reads
  // its own, app/command_line.h); `rawTail` is the line as given, for the
  // debug channel.
  int RunCommandLine(const PatcherCommandLine& line, const std::string& rawTail);

  // Which view the last Run() used.
  PatcherDisplay display() const { return display_; }

 private:
  PatcherAppIo io_;
  PatcherDisplay display_ = PatcherDisplay::kConsole;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PATCHER_APP_H_
