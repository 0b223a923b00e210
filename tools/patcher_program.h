// The `marrowgate` program: applies the patch package that the program
// file carries to an install folder, or checks a folder.
//
//   marrowgate [OPTIONS] [INSTALL_FOLDER]   the patcher (app/patcher_app.h):
//                                           a window, or lines in a terminal
//   marrowgate --verify INSTALL_FOLDER      checks the folder's files
//                                           against its local file list
//
// Exit status: 0 the run succeeded (--verify: every file matched), 1 it
// failed (--verify: a file is missing or differs, or the list cannot be
// read), 2 bad usage.
#ifndef MARROWGATE_TOOLS_PATCHER_PROGRAM_H_
#define MARROWGATE_TOOLS_PATCHER_PROGRAM_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/modal_patcher_view.h"

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
  // The window, or null when no display opens; unset: the terminal only.
  std::function<std::unique_ptr<ModalPatcherView>()> openWindow;
};

// The usage text of --verify --help.
const char* PatcherUsageText();

// Runs one command line (argv without the program name).
int RunPatcherProgram(const std::vector<std::string>& args, const PatcherProgramIo& io);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PATCHER_PROGRAM_H_
