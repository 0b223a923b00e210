#include "app/patcher_app.h"

#include <utility>

#include "app/app_file_manager.h"
#include "app/command_line.h"
#include "app/console_view.h"
#include "app/dry_run.h"
#include "app/install_verify.h"
#include "app/parent_link.h"
#include "app/patcher_dialog.h"
#include "app/payload_check.h"
#include "platform/env.h"
#include "platform/interrupt.h"

namespace marrowgate {
namespace {

void Debug(const std::string& text) { platform::DebugOutput(text.c_str()); }

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& arg : args) {
    if (!joined.empty()) joined += ' ';
    joined += arg;
  }
  return joined;
}

int Verify(const std::string& folder, const std::function<void(const std::string&)>& out,
           const std::function<void(const std::string&)>& err, const std::string& programName) {
  VerifyCounts counts;
  VerifyResult result = VerifyInstall(
      AppFileManagerOptions(), folder, [&](const std::string& text) { out(text + "\n"); },
      &counts);
  switch (result) {
    case kVerifyWhole:
    case kVerifyDiffers:
      out(std::to_string(counts.matched) + " ok, " + std::to_string(counts.missing) +
          " missing, " + std::to_string(counts.differing) + " differing\n");
      return result == kVerifyWhole ? kPatcherAppOk : kPatcherAppFailure;
    case kVerifyNoList:
      err(programName + ": " + folder + "/update/localfilelist.txt cannot be read\n");
      return kPatcherAppFailure;
    case kVerifyDamagedList:
      err(programName + ": " + folder + "/update/localfilelist.txt is damaged\n");
      return kPatcherAppFailure;
    case kVerifyNoFileManager:
      break;
  }
  err(programName + ": cannot create a file manager\n");
  return kPatcherAppFailure;
}

// --about: what the patch carried by `modulePath` is, after checking it
// whole.
int About(const std::string& modulePath, const std::function<void(const std::string&)>& out,
          const std::function<void(const std::string&)>& err, const std::string& programName) {
  PatchFacts facts;
  std::string problem;
  if (!ReadPatchFacts(modulePath, &facts, &problem) ||
      !CheckPayload(modulePath, nullptr, &problem)) {
    err(programName + ": " + kTextPatchDamaged + " (" + problem + ")\n");
    return kPatcherAppFailure;
  }
  out("needs:   " + (facts.requiredVersion.empty() ? std::string("any version")
                                                    : facts.requiredVersion + " or later") +
      "\n");
  out("brings:  " + (facts.targetVersion.empty() ? std::string("(no version file)")
                                                  : facts.targetVersion) +
      "\n");
  out("package: " + std::to_string(facts.summary.packageBytes) + " bytes, " +
      std::to_string(facts.summary.itemCount) + " files in " +
      std::to_string(facts.summary.folderCount) + " folders, checked whole\n");
  return kPatcherAppOk;
}

// Lists what a run would do to `folder` ("-h": the program's own folder);
// writes nothing.
int DryRunFolder(std::string folder, std::string modulePath, bool allowDowngrade,
                 const std::function<void(const std::string&)>& out) {
  if (modulePath.empty()) modulePath = platform::OwnExecutablePath();
  if (folder == kHiddenRunFolder) {
    size_t at = modulePath.find_last_of("/\\");
    folder = at == std::string::npos ? std::string(".") : modulePath.substr(0, at);
  }
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  DryRunSettings settings;
  settings.options = AppFileManagerOptions();
  settings.modulePath = std::move(modulePath);
  settings.installDir = std::move(folder);
  settings.allowDowngrade = allowDowngrade;
  DryRunResult result =
      DryRunInstall(settings, [&](const std::string& text) { out(text + "\n"); }, nullptr);
  return result == kDryRunWouldApply ? kPatcherAppOk : kPatcherAppFailure;
}

}  // namespace

PatcherDisplay ChooseDisplay(bool consoleOption, const std::function<bool()>& openDisplay) {
  if (consoleOption || !openDisplay || !openDisplay()) return PatcherDisplay::kConsole;
  return PatcherDisplay::kWindow;
}

int PatcherApp::Run(const std::vector<std::string>& args) {
  return RunCommandLine(ParsePosixArguments(args), JoinArguments(args));
}

int PatcherApp::RunCommandLine(const PatcherCommandLine& line, const std::string& rawTail) {
  auto out = io_.out ? io_.out : [](const std::string&) {};
  auto err = io_.err ? io_.err : [](const std::string&) {};

  if (line.usageError) {
    err(io_.programName + ": " + line.error + "\n" + "Try '" + io_.programName +
        " --help'.\n");
    return kPatcherAppUsage;
  }
  if (line.help) {
    out(PatcherUsage(io_.programName));
    return kPatcherAppOk;
  }
  if (line.version) {
    out(io_.programName + " " + io_.version + "\n");
    return kPatcherAppOk;
  }
  if (line.verify) return Verify(line.installFolder, out, err, io_.programName);
  if (line.about) {
    return About(io_.modulePath.empty() ? platform::OwnExecutablePath() : io_.modulePath, out, err,
                 io_.programName);
  }
  if (line.dryRun) return DryRunFolder(line.installFolder, io_.modulePath, line.allowDowngrade, out);

  Debug("marrowgate, inner cmd m_lpCmdLine=" + rawTail);
  for (const std::string& note : line.notes) Debug("marrowgate, " + note);

  std::unique_ptr<ModalPatcherView> view;
  display_ = ChooseDisplay(line.console, [&] {
    if (io_.openWindow) view = io_.openWindow();
    return view != nullptr;
  });
  if (display_ == PatcherDisplay::kConsole) {
    view.reset();
    if (line.installFolder.empty()) {
      err(io_.programName +
          ": no install folder given (a terminal has no folder picker; without a display give "
          "the folder on the command line)\n");
      return kPatcherAppUsage;
    }
    view = std::make_unique<ConsoleView>(out, err, io_.errIsTerminal);
  }

  Debug(display_ == PatcherDisplay::kWindow ? "marrowgate, shown in a window"
                                            : "marrowgate, shown in the terminal");

  // The launcher is reached at the first record, once the window is up:
  // however it behaves, the window shows first.
  ParentLink link;
  if (!line.parentTitle.empty()) link.AttachParentLater(line.parentTitle);
  Debug(line.installFolder);

  PatcherDialogSettings settings;
  settings.modulePath = io_.modulePath;
  settings.allowDowngrade = line.allowDowngrade;
  settings.keepWindowAfterRun = display_ == PatcherDisplay::kWindow && line.parentTitle.empty();
  const bool folderGiven = !line.installFolder.empty();
  PatcherDialog dialog(view.get(), &link, line.installFolder, settings);

  // A run that was asked for (a folder given, or Start with a folder) and
  // did not finish makes the exit status a failure.
  bool runAsked = folderGiven;
  view->SetHandlers({
      [&] {
        if (!dialog.running() && !dialog.finished() && !dialog.install_path().empty()) {
          runAsked = true;
        }
        dialog.OnStart();
      },
      [&] { dialog.OnBrowse(); },
      [&] { dialog.OnShowWindow(); },
      [&] { return dialog.RequestCancel(); },
  });
  // In a terminal Ctrl-C asks the run to stop before its next file; a
  // second one ends the program at once (every file is still old or new:
  // a file is moved into place only whole, the version file last).
  if (display_ == PatcherDisplay::kConsole && io_.interruptStops) platform::SetInterruptAsksToStop(true);

  dialog.OnInitDialog();
  // The message file could not be read: the dialog closes at once.
  const bool failedAtStart = dialog.close_requested() && line.installFolder != kHiddenRunFolder;
  view->RunModal();
  if (display_ == PatcherDisplay::kConsole && io_.interruptStops) platform::SetInterruptAsksToStop(false);

  if (dialog.finished()) return kPatcherAppOk;
  if (runAsked || failedAtStart) return kPatcherAppFailure;
  return kPatcherAppOk;
}

}  // namespace marrowgate
