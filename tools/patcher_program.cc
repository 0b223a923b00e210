#include "tools/patcher_program.h"

#include "app/app_file_manager.h"
#include "app/console_view.h"
#include "app/install_verify.h"
#include "app/parent_link.h"
#include "app/patcher_app.h"
#include "app/patcher_dialog.h"

#ifndef MARROWGATE_VERSION
#define MARROWGATE_VERSION "unknown"
#endif

namespace marrowgate {

namespace {

struct VerifyCommandLine {
  bool help = false;
  bool version = false;
  bool verify = false;
  std::string folder;
};

// Empty on success, else what is wrong.
std::string ParseArgs(const std::vector<std::string>& args, VerifyCommandLine* line) {
  bool optionsEnded = false;
  std::vector<std::string> operands;
  for (const std::string& arg : args) {
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg == "--help") {
      line->help = true;
    } else if (!optionsEnded && arg == "--version") {
      line->version = true;
    } else if (!optionsEnded && arg == "--verify") {
      line->verify = true;
    } else if (!optionsEnded && arg == "--console") {
      // The terminal is the only front end of this program.
    } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      return "unknown option " + arg;
    } else {
      operands.push_back(arg);
    }
  }
  if (line->help || line->version) return "";
  if (operands.empty()) return "no install folder given";
  if (operands.size() > 1) return "more than one install folder given";
  line->folder = operands[0];
  if (line->folder.empty()) return "the install folder is empty";
  // "folder/" and "folder" name the same folder; a root keeps its separator.
  while (line->folder.size() > 1 &&
         (line->folder.back() == '/' || line->folder.back() == '\\') &&
         line->folder[line->folder.size() - 2] != ':') {
    line->folder.pop_back();
  }
  return "";
}

int Verify(const std::string& folder, const PatcherProgramIo& io) {
  VerifyCounts counts;
  VerifyResult result = VerifyInstall(
      AppFileManagerOptions(), folder, [&](const std::string& text) { io.out(text + "\n"); },
      &counts);
  switch (result) {
    case kVerifyWhole:
    case kVerifyDiffers:
      io.out(std::to_string(counts.matched) + " ok, " + std::to_string(counts.missing) +
             " missing, " + std::to_string(counts.differing) + " differing\n");
      return result == kVerifyWhole ? kPatcherExitOk : kPatcherExitFailure;
    case kVerifyNoList:
      io.err("marrowgate: " + folder + "/update/localfilelist.txt cannot be read\n");
      return kPatcherExitFailure;
    case kVerifyDamagedList:
      io.err("marrowgate: " + folder + "/update/localfilelist.txt is damaged\n");
      return kPatcherExitFailure;
    case kVerifyNoFileManager:
      break;
  }
  io.err("marrowgate: cannot create a file manager\n");
  return kPatcherExitFailure;
}

// The start-up of a patch run: a window when a display opens, else the
// terminal (app/patcher_app.h).
int Patch(const std::vector<std::string>& args, const PatcherProgramIo& io) {
  PatcherAppIo appIo;
  appIo.out = io.out;
  appIo.err = io.err;
  appIo.errIsTerminal = io.errIsTerminal;
  appIo.modulePath = io.modulePath;
  appIo.openWindow = io.openWindow;
  appIo.version = MARROWGATE_VERSION;
  return PatcherApp(appIo).Run(args);
}

bool AsksForVerify(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--verify") return true;
    // /D takes the rest of the line as the folder.
    if (arg == "/D" || arg.rfind("/D=", 0) == 0) return false;
  }
  return false;
}

}  // namespace

const char* PatcherUsageText() {
  return "usage: marrowgate --verify INSTALL_FOLDER\n"
         "Checks every file of INSTALL_FOLDER/update/localfilelist.txt: present,\n"
         "with the listed size and MD5.\n"
         "Exit status: 0 every file matched, 1 a file is missing or differs, 2 bad usage.\n";
}

int RunPatcherProgram(const std::vector<std::string>& args, const PatcherProgramIo& io) {
  if (!AsksForVerify(args)) return Patch(args, io);
  VerifyCommandLine line;
  std::string problem = ParseArgs(args, &line);
  if (!problem.empty()) {
    io.err("marrowgate: " + problem + "\n" + PatcherUsageText());
    return kPatcherExitUsage;
  }
  if (line.help) {
    io.out(PatcherUsageText());
    return kPatcherExitOk;
  }
  if (line.version) {
    io.out(std::string("marrowgate ") + MARROWGATE_VERSION + "\n");
    return kPatcherExitOk;
  }
  return Verify(line.folder, io);
}

}  // namespace marrowgate
