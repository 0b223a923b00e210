#include "app/patcher_app.h"

#include <utility>

#include "app/command_line.h"
#include "app/console_view.h"
#include "app/parent_link.h"
#include "app/patcher_dialog.h"
#include "platform/env.h"

namespace marrowgate {
namespace {

void Debug(const std::string& text) { platform::DebugOutput(text.c_str()); }

// The terminal as a modal view: it has no events of its own, so the modal
// run is the show notification alone (the self-started run, if any).
class ConsoleModalView : public ModalPatcherView {
 public:
  ConsoleModalView(ConsoleView::Writer out, ConsoleView::Writer err, bool errIsTerminal)
      : console_(std::move(out), std::move(err), errIsTerminal) {}

  void SetTitle(const std::string& title) override { console_.SetTitle(title); }
  void SetControlText(int id, const std::string& text) override {
    console_.SetControlText(id, text);
  }
  void EnableControl(int id, bool enabled) override { console_.EnableControl(id, enabled); }
  void ShowControl(int id, bool shown) override { console_.ShowControl(id, shown); }
  void SetProgressRange(int lower, int upper) override { console_.SetProgressRange(lower, upper); }
  void SetProgressStep(int step) override { console_.SetProgressStep(step); }
  void SetProgressPosition(int position) override { console_.SetProgressPosition(position); }
  void StepProgress() override { console_.StepProgress(); }
  void MessageBox(const std::string& text, const std::string& caption) override {
    console_.MessageBox(text, caption);
  }
  std::optional<std::string> PickFolder(const std::string& prompt,
                                        const std::string& initialFolder) override {
    return console_.PickFolder(prompt, initialFolder);
  }
  void DispatchPendingEvents() override { console_.DispatchPendingEvents(); }
  void HideWindow() override {
    hidden_ = true;
    console_.HideWindow();
  }
  void CloseAsOk() override { console_.CloseAsOk(); }

  void SetHandlers(PatcherViewHandlers handlers) override { handlers_ = std::move(handlers); }
  bool RunModal() override {
    if (!console_.close_requested() && !hidden_ && handlers_.onShow) handlers_.onShow();
    return console_.close_requested();
  }

 private:
  ConsoleView console_;
  PatcherViewHandlers handlers_;
  bool hidden_ = false;
};

std::string JoinArguments(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& arg : args) {
    if (!joined.empty()) joined += ' ';
    joined += arg;
  }
  return joined;
}

}  // namespace

PatcherDisplay ChooseDisplay(bool consoleOption, const std::function<bool()>& openDisplay) {
  if (consoleOption || !openDisplay || !openDisplay()) return PatcherDisplay::kConsole;
  return PatcherDisplay::kWindow;
}

int PatcherApp::Run(const std::vector<std::string>& args) {
  auto out = io_.out ? io_.out : [](const std::string&) {};
  auto err = io_.err ? io_.err : [](const std::string&) {};

  PatcherCommandLine line = ParsePosixArguments(args);
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

  Debug("marrowgate, inner cmd m_lpCmdLine=" + JoinArguments(args));
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
    view = std::make_unique<ConsoleModalView>(out, err, io_.errIsTerminal);
  }

  Debug(display_ == PatcherDisplay::kWindow ? "marrowgate, shown in a window"
                                            : "marrowgate, shown in the terminal");

  ParentLink link;
  if (!line.parentTitle.empty()) link.AttachParent(line.parentTitle);
  Debug(line.installFolder);

  PatcherDialogSettings settings;
  settings.modulePath = io_.modulePath;
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
  });

  dialog.OnInitDialog();
  // The message file could not be read: the dialog closes at once.
  const bool failedAtStart = dialog.close_requested() && line.installFolder != kHiddenRunFolder;
  view->RunModal();

  if (dialog.finished()) return kPatcherAppOk;
  if (runAsked || failedAtStart) return kPatcherAppFailure;
  return kPatcherAppOk;
}

}  // namespace marrowgate
