// PatcherView: what the patcher's dialog logic needs of a window.
//
// The dialog logic (PatcherDialog) holds the state and the behaviour of the
// patcher's only window; a view puts it on a screen. A GTK window, a
// terminal front end and a recording test double each implement this
// interface, so the patch run, the dialog's state table and everything
// under them build and test without a window toolkit.
//
// Controls are named by the ids of the dialog template (kControl*). A view
// need not have every control: a call about a control it does not show is
// ignored. No call may throw; none reports failure, except where a result
// is stated.
//
// Re-entrancy: DispatchPendingEvents() runs the view's event handling, so
// the dialog's handlers (Browse, a close request) may run from inside it,
// in the middle of a patch run.
#ifndef MARROWGATE_APP_PATCHER_VIEW_H_
#define MARROWGATE_APP_PATCHER_VIEW_H_

#include <cstdint>
#include <optional>
#include <string>

namespace marrowgate {

// Control ids of dialog template 102.
inline constexpr int kControlExit = 2;             // push button, closes (cancel)
inline constexpr int kControlStart = 1000;         // push button, starts a run
inline constexpr int kControlHiddenEdit = 1002;    // edit, hidden, not used
inline constexpr int kControlInstallPath = 1003;   // read-only edit: the install folder
inline constexpr int kControlBrowse = 1004;        // push button, folder picker
inline constexpr int kControlStatus = 1005;        // read-only edit, no border: status
inline constexpr int kControlProgress = 1006;      // progress bar
inline constexpr int kControlPathLabel = 1007;     // static label

// Where the copy stands in bytes: the file being copied and how much of
// it is written, and the run's bytes done of its total.
struct TransferProgress {
  std::string file;  // target path of the current file
  int64_t fileWritten = 0;
  int64_t fileSize = 0;
  int64_t bytesDone = 0;
  int64_t bytesTotal = 0;
};

class PatcherView {
 public:
  virtual ~PatcherView() = default;

  // The window's title.
  virtual void SetTitle(const std::string& title) = 0;
  // The text or caption of a control (edits, label, button captions).
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  // Whether a control accepts input (buttons).
  virtual void EnableControl(int controlId, bool enabled) = 0;
  // Whether a control is shown.
  virtual void ShowControl(int controlId, bool shown) = 0;

  // The progress bar (control 1006): range [lower, upper], the step that
  // StepProgress() adds, the position, and one step. The position stays
  // within the range.
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetProgressPosition(int position) = 0;
  virtual void StepProgress() = 0;
  // The copy's byte counts beside the bar (the bar itself moves through
  // the calls above). A view that shows no such detail ignores it.
  virtual void ShowTransfer(const TransferProgress& /*progress*/) {}

  // A modal message box over the window with one OK button. An empty
  // caption means the view's default caption.
  virtual void MessageBox(const std::string& text, const std::string& caption) = 0;

  // The platform's folder picker with `prompt`, starting in
  // `initialFolder`. Returns the chosen folder without a trailing separator
  // (a root keeps its own), or nothing when the user cancelled or the view
  // has no picker.
  virtual std::optional<std::string> PickFolder(const std::string& prompt,
                                                const std::string& initialFolder) = 0;

  // Handles every event that is pending (repaint, input), then returns.
  virtual void DispatchPendingEvents() = 0;

  // Hides the whole window (a hidden run).
  virtual void HideWindow() = 0;
  // Ends the modal dialog as OK; the view's modal loop returns after the
  // handler that asked for it.
  virtual void CloseAsOk() = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PATCHER_VIEW_H_
