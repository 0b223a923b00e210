// The `marrowgate` program in a terminal: applies the patch package that
// the program file carries to an install folder, or checks a folder.
//
//   marrowgate [--console] INSTALL_FOLDER   the patch run, shown as lines
//   marrowgate --verify INSTALL_FOLDER      checks the folder's files
//                                           against its local file list
//   marrowgate --help | --version
//
// A run is a self-started one: the dialog logic (app/patcher_dialog.h)
// over a ConsoleView, started as if its window had been shown with the
// folder given, ending with the run.
// Exit status: 0 the run succeeded (--verify: every file matched), 1 it
// failed (--verify: a file is missing or differs, or the list cannot be
// read), 2 bad usage.
#ifndef MARROWGATE_TOOLS_PATCHER_PROGRAM_H_
#define MARROWGATE_TOOLS_PATCHER_PROGRAM_H_

#include <functional>
#include <string>
#include <vector>

namespace marrowgate {

constexpr int kPatcherExitOk = 0;
constexpr int kPatcherExitFailure = 1;
constexpr int kPatcherExitUsage = 2;

struct PatcherProgramIo {
  std::function<void(const std::string&)> out;  // standard output
  std::function<void(const std::string&)> err;  // standard error
  bool errIsTerminal = false;  // draw the progress bar in place
  // The program file carrying the package; empty: the running program.
  std::string modulePath;
};

// The usage text of --help.
const char* PatcherUsageText();

// Runs one command line (argv without the program name).
int RunPatcherProgram(const std::vector<std::string>& args, const PatcherProgramIo& io);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PATCHER_PROGRAM_H_
