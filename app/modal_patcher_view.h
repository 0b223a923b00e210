// ModalPatcherView: a PatcherView that also runs the dialog modally.
//
// The application object hands the view the dialog's handlers and runs it:
// RunModal() shows the window (unless it was hidden or closed during the
// dialog's start), delivers one show notification, and handles events
// until the dialog closes, as OK (CloseAsOk) or cancelled (Exit, or the
// window manager's close). A close asked for while a run is under way
// (Exit insensitive) waits for the run's end: a run is never cut off.
#ifndef MARROWGATE_APP_MODAL_PATCHER_VIEW_H_
#define MARROWGATE_APP_MODAL_PATCHER_VIEW_H_

#include <functional>
#include <utility>

#include "app/patcher_view.h"

namespace marrowgate {

struct PatcherViewHandlers {
  PatcherViewHandlers(std::function<void()> start = {}, std::function<void()> browse = {},
                      std::function<void()> show = {}, std::function<bool()> exit = {})
      : onStart(std::move(start)),
        onBrowse(std::move(browse)),
        onShow(std::move(show)),
        onExit(std::move(exit)) {}

  std::function<void()> onStart;   // Start (1000) clicked
  std::function<void()> onBrowse;  // Browse (1004) clicked
  std::function<void()> onShow;    // the window shown (once)
  // Exit (2) clicked, a close asked for, or Ctrl-C in a terminal: true when
  // the dialog took it as a request to stop its run (the view stays open),
  // false when the view is to close.
  std::function<bool()> onExit;
};

// How a modal view ends, the same for every toolkit: once, as OK or
// cancelled. A close asked for (Exit, the window's close box, Escape) goes
// to the dialog first, which may take it as a request to stop its run;
// otherwise a close during a run (Exit disabled) waits until Exit is
// enabled again at the run's end.
class ModalEnding {
 public:
  void RequestClose(const PatcherViewHandlers& handlers, bool runUnderWay) {
    if (handlers.onExit && handlers.onExit()) return;
    if (runUnderWay) {
      closePending_ = true;
      return;
    }
    End(false);
  }
  // Exit is enabled again: a close that waited for the run happens now.
  void ExitEnabled() {
    if (closePending_) End(false);
  }
  void End(bool ok) {
    if (done_) return;
    done_ = true;
    ok_ = ok;
  }
  bool done() const { return done_; }
  bool ok() const { return ok_; }

 private:
  bool done_ = false;
  bool ok_ = false;
  bool closePending_ = false;
};

class ModalPatcherView : public PatcherView {
 public:
  virtual void SetHandlers(PatcherViewHandlers handlers) = 0;
  // Returns true when the dialog ended as OK, false when cancelled.
  virtual bool RunModal() = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_MODAL_PATCHER_VIEW_H_
