// PatcherDialog: the state and behaviour of the patcher's only window,
// without a window toolkit. A PatcherView (app/patcher_view.h) puts it on a
// screen: a GTK window, the console front end, a test's recording view.
//
//   ConsoleView view;
//   ParentLink link;                       // AttachParent(title) for a launcher
//   PatcherDialog dialog(&view, &link, "/games/client");
//   dialog.OnInitDialog();                 // messages, captions, "-h" run
//   if (!dialog.close_requested()) dialog.OnShowWindow();  // a folder given: the run
//   return dialog.finished() ? 0 : 1;
//
// The view calls the handlers: OnStart for Start (1000), OnBrowse for
// Browse (1004), OnShowWindow for every show or hide of the window; Exit
// (2) is the view's own cancel. The dialog calls back into the view to set
// texts, enable and show controls, move the progress bar, show message
// boxes, open the folder picker, dispatch pending events and close.
//
// States (the buttons):
//   no folder  Start disabled, Exit enabled, Browse enabled;
//   ready      Start enabled with message 103, Exit and Browse enabled;
//   running    Start disabled, Exit enabled as Cancel, Browse enabled;
//   finished   Start enabled with message 202; Start or Exit closes.
// A failed run goes back to ready.
//
// Cancel: RequestCancel() during a run (Exit, a close request, Ctrl-C in
// a terminal) lets the file being copied finish and stops the copy before
// the next one. Every file is then old or new, the version file (always
// copied last) is still old, the status is message 306, the log records
// the stop, and the run ends with kRunStopped; running the patch again
// completes it.
//
// With `keepWindowAfterRun` (a window, no launcher) a run started with a
// folder leaves the window open on its last status instead of closing.
//
// A run (OnStart) is synchronous; the view's event dispatching runs inside
// it after every copied file, so OnBrowse (and a close request the view
// defers) can run in the middle of a run. The run keeps the install folder
// it started with: a folder picked meanwhile changes what the dialog
// shows and the next run, never the running one; Start stays disabled
// until the run ends, and OnStart during a run does nothing.
//
// A copy that skipped files after errors (a full disk, an unreadable or
// unsafe item) fails with kRunFilesLeftOut and a log line counting them:
// the file lists are not updated, so running the patch again completes it.
//
// Messages come from the "cfg.txt" of the package appended to the program
// (OnInitDialog loads them); every caption and status text is a message.
// While a launcher is attached to the ParentLink the patcher is not
// interactive: messages and progress go to the launcher, not to boxes.
#ifndef MARROWGATE_APP_PATCHER_DIALOG_H_
#define MARROWGATE_APP_PATCHER_DIALOG_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/message_delivery.h"
#include "app/message_table.h"
#include "app/parent_link.h"
#include "app/progress_bar_model.h"
#include "app/patcher_view.h"
#include "package/manager/file_manager.h"

namespace marrowgate {

// Message numbers the dialog uses.
constexpr int32_t kMessageTitle = 100;
constexpr int32_t kMessagePathLabel = 101;
constexpr int32_t kMessageBrowse = 102;
constexpr int32_t kMessageStart = 103;
constexpr int32_t kMessageExit = 104;
constexpr int32_t kMessageRunning = 200;
constexpr int32_t kMessageSucceeded = 201;
constexpr int32_t kMessageClose = 202;
constexpr int32_t kMessageFailed = 203;       // one integer placeholder
constexpr int32_t kMessageNoFolder = 204;
constexpr int32_t kMessagePickerPrompt = 210;
constexpr int32_t kMessageSkipCount = 900;    // 901 onward: the names

// The skip list when message 900 is missing or 0.
inline constexpr const char* kDefaultSkipFiles[] = {"vave.exe", "zivoridor.dll"};

// What the install folder text "-h" asks for: a hidden run into the
// program's own folder.
inline constexpr char kHiddenRunArgument[] = "-h";

// Result of a run stopped on request, and what shows when message 306 is
// missing; the Exit button's caption during a run.
constexpr int32_t kRunStopped = -10300;
inline constexpr char kTextRunStopped[] = "The update was stopped.";
// What shows at the end of a run when the patch's messages lack 201 or
// 203 (a run's outcome is never a blank line).
inline constexpr char kTextRunSucceeded[] = "The patch was applied.";
inline constexpr char kTextRunFailed[] = "The patch failed (code %d).";
inline constexpr char kTextCancel[] = "Cancel";

// Log line of a copy that left files out (the run then fails with
// kRunFilesLeftOut), followed by ": " and the engine's text for the first
// of them ("ERROR writng file X! (No space left on device)").
inline constexpr char kTextFilesLeftOut[] = "%d file(s) of the update could not be copied";

struct PatcherDialogSettings {
  // The program file that carries the patch package; empty: the running
  // program (platform::OwnExecutablePath()).
  std::string modulePath;
  // Settings of the file managers of the message file, the version check
  // and the file lists (the run's own file manager is made from its job).
  FileManagerOptions fileManagerOptions;
  // Install an update older than the installed client (--allow-downgrade).
  bool allowDowngrade = false;
  // A run started with a folder leaves the window open (see above).
  bool keepWindowAfterRun = false;
  PatcherDialogSettings();
};

class PatcherDialog {
 public:
  // `view` and `link` are borrowed and must outlive the dialog; a null link
  // means an own one (interactive, no launcher). `installPath` is the
  // initial install folder ("" none, "-h" a hidden run).
  PatcherDialog(PatcherView* view, ParentLink* link, std::string installPath,
                PatcherDialogSettings settings = PatcherDialogSettings());
  ~PatcherDialog();
  PatcherDialog(const PatcherDialog&) = delete;
  PatcherDialog& operator=(const PatcherDialog&) = delete;

  // The dialog's start: self base and own folder from the module path,
  // the message file (on failure a box with the literal text and a close
  // request; the steps after it still run with an empty table), the title
  // and captions (messages 100-104), the initial button states, a hidden
  // run for "-h" (install folder = own folder, window hidden, OnStart,
  // close), the delayed-name list. Returns true.
  bool OnInitDialog();

  // A show or hide of the window: with an install folder the first one
  // starts the run and asks to close when it ends, whatever its outcome.
  // Later notifications, and any after a close request, do nothing.
  void OnShowWindow();

  // The Start button (and the entry of a self-started run): after a
  // successful run it closes the dialog; without a folder it shows message
  // 204; otherwise one patch run (see the file comment).
  void OnStart();

  // The Browse button: the folder picker (prompt message 210, starting in
  // the current folder); a chosen folder that exists becomes the install
  // folder, is shown, and enables Start unless a run is under way. Cancel,
  // or a choice that is not an existing folder, changes nothing.
  void OnBrowse();

  // Exit, a close request or Ctrl-C: during a run, asks it to stop before
  // its next file and returns true; otherwise returns false (close).
  bool RequestCancel();
  bool cancel_requested() const { return cancelRequested_; }

  // Builds the skip list from messages 900 onward (done by every run);
  // public for tests.
  void BuildSkipList();
  // Keeps the flag of the skip names present in `installDir`, counts them.
  void MarkPresentSkipFiles(const std::string& installDir);
  // The flagged names in key order, null-ended (pointers into m_skipFiles).
  void FillSkipArray();
  const std::vector<const char*>& exclude_names() const { return excludeNames_; }

  // Pushes m_strInstallPath to 1003 and m_strStatus to 1005.
  void PushMembersToControls();

  // State.
  bool running() const { return running_; }
  bool finished() const { return m_bFinished; }
  bool close_requested() const { return closeRequested_; }
  // Result of the last run that reached the copy (0 before any).
  int32_t last_result() const { return lastResult_; }
  const std::string& install_path() const { return m_strInstallPath; }
  const std::string& status() const { return m_strStatus; }
  const std::string& self_base() const { return m_strSelfBase; }
  const std::string& own_folder() const { return ownFolder_; }
  const std::string& module_path() const { return modulePath_; }
  const char* client_version() const { return m_szClientVersion; }
  int16_t skip_counts() const { return m_skipCounts; }
  const std::map<std::string, bool>& skip_files() const { return m_skipFiles; }

  // Where the progress bar stands; the view's bar follows it.
  ProgressBarModel& progress_bar() { return progressBar_; }

  MessageTable& messages() { return messages_; }
  MessageSink* message_sink() { return &delivery_; }
  ParentLink* parent_link() { return link_; }
  PatcherView* view() { return view_; }
  // The held-back names (messages 10001 onward), null-ended; only the null
  // end until the dialog's start has built them.
  const std::vector<const char*>& delayed_names() const { return delayedNames_; }
  // The text of message `number` (empty when missing).
  std::string MessageText(int32_t number) { return messages_.Text(number); }
  // MessageText for the window's own controls (title, labels, buttons,
  // the running status and the folder picker's prompt): a built-in English
  // text where the message is missing.
  std::string WindowText(int32_t number);

  // Asks the view to end the dialog as OK.
  void CloseAsOk();

 private:
  // One patch run, after the checks at the start of OnStart.
  void RunPatch();

  PatcherView* view_;
  std::unique_ptr<ParentLink> ownLink_;
  ParentLink* link_;
  PatcherDialogSettings settings_;
  MessageTable messages_;
  MessageDelivery delivery_;
  // Pointers into messages_ (whose texts never move).
  std::vector<const char*> delayedNames_{nullptr};
  bool delayedNamesBuilt_ = false;

  // The members of the dialog.
  char m_szClientVersion[16] = {};
  bool m_bFinished = false;
  std::string m_strSelfBase;
  std::map<std::string, bool> m_skipFiles;
  std::string m_strInstallPath;
  std::string m_strStatus;
  int16_t m_skipCounts = 0;

  std::string modulePath_;
  std::string ownFolder_;
  std::vector<const char*> excludeNames_{nullptr};
  bool running_ = false;
  bool cancelRequested_ = false;
  bool closeRequested_ = false;
  bool autoStartDone_ = false;
  int32_t lastResult_ = 0;
  ProgressBarModel progressBar_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PATCHER_DIALOG_H_
