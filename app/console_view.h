// ConsoleView: the patcher's window as lines on a terminal.
//
//   title            "== <title>" on standard output, when it changes;
//   status (1005)    the text as a line on standard output, when it
//                    changes and is not empty;
//   message boxes    "<caption>: <text>" on standard error (the title
//                    stands in for an empty caption);
//   progress bar     on a terminal one line on standard error redrawn in
//                    place ("[#####-----]  50% 10/20"); otherwise a line
//                    "progress 50%" whenever the percentage changes;
//   folder picker    none: PickFolder gives nothing, so a run needs its
//                    folder from the command line;
//   everything else  ignored. CloseAsOk only records the request.
// A line written while the bar is drawn ends the bar's line first. Control
// characters in titles, texts and captions are shown escaped (\n, \t, \r,
// \xHH), as `marrowgate-pack list` shows names.
#ifndef MARROWGATE_APP_CONSOLE_VIEW_H_
#define MARROWGATE_APP_CONSOLE_VIEW_H_

#include <functional>
#include <optional>
#include <string>

#include "app/patcher_view.h"

namespace marrowgate {

class ConsoleView : public PatcherView {
 public:
  using Writer = std::function<void(const std::string&)>;

  // Standard output and error of the process; the bar is drawn when
  // standard error is a terminal.
  ConsoleView();
  // Writes through `out` and `err` (for tests); `errIsTerminal` chooses
  // the bar's form.
  ConsoleView(Writer out, Writer err, bool errIsTerminal);
  ~ConsoleView() override;

  void SetTitle(const std::string& title) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int, bool) override {}
  void ShowControl(int, bool) override {}
  void SetProgressRange(int lower, int upper) override;
  void SetProgressStep(int step) override { step_ = step; }
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DispatchPendingEvents() override {}
  void HideWindow() override {}
  void CloseAsOk() override { closeRequested_ = true; }

  bool close_requested() const { return closeRequested_; }
  // The bar's percentage (0 with an empty range).
  int percent() const;

 private:
  void Line(const Writer& writer, const std::string& text);
  void ShowProgress();
  void EndBarLine();

  Writer out_;
  Writer err_;
  bool errIsTerminal_;
  std::string title_;
  std::string status_;
  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  int position_ = 0;
  int shownPercent_ = -1;
  bool barDrawn_ = false;
  bool closeRequested_ = false;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_CONSOLE_VIEW_H_
