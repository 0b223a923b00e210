// ConsoleView: the patcher's window as lines on a terminal.
//
//   title            "== <title>" on standard output, when it changes;
//   status (1005)    the text as a line on standard output, when it
//                    changes and is not empty;
//   message boxes    "<caption>: <text>" on standard error (the title
//                    stands in for an empty caption);
//   progress bar     on a terminal one line on standard error redrawn in
//                    place ("[#####-----]  50% 250.0/500.0 MB 31.2 MB/s
//                    0:08 left movie.bik"); otherwise a line "progress
//                    50% 250.0/500.0 MB 31.2 MB/s 8 s left data/movie.bik"
//                    whenever the percentage changes (bytes, rate, time
//                    left and the file once the copy has reported them);
//   Ctrl-C           while Ctrl-C asks to stop (platform/interrupt.h), the
//                    request reaches the dialog's Exit handler the next
//                    time events are dispatched;
//   folder picker    none: PickFolder gives nothing, so a run needs its
//                    folder from the command line;
//   everything else  ignored. CloseAsOk only records the request.
// A line written while the bar is drawn ends the bar's line first. Texts
// that are not UTF-8 are shown read as Windows-1252 (util/utf8.h); control
// characters in titles, texts and captions are shown escaped (\n, \t, \r,
// \xHH), as `marrowgate-pack list` shows names.
//
// As a modal view the terminal has no events of its own: RunModal() is the
// show notification alone (the self-started run, if any), unless the
// dialog was closed or hidden during its start.
#ifndef MARROWGATE_APP_CONSOLE_VIEW_H_
#define MARROWGATE_APP_CONSOLE_VIEW_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "app/modal_patcher_view.h"
#include "app/progress_bar_model.h"
#include "app/transfer_meter.h"

namespace marrowgate {

class ConsoleView : public ModalPatcherView {
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
  void SetProgressStep(int step) override { bar_.SetStep(step); }
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void ShowTransfer(const TransferProgress& progress) override;
  void DispatchPendingEvents() override;
  void HideWindow() override { hidden_ = true; }
  void CloseAsOk() override { closeRequested_ = true; }

  void SetHandlers(PatcherViewHandlers handlers) override { handlers_ = std::move(handlers); }
  bool RunModal() override;

  bool close_requested() const { return closeRequested_; }
  // Milliseconds of a steady clock, for the rate (tests give their own).
  void set_clock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

  // The bar's percentage (0 with an empty range).
  int percent() const { return bar_.percent(); }

 private:
  void Line(const Writer& writer, const std::string& text);
  void ShowProgress();
  void EndBarLine();
  // TransferMeter's line, or "" before the copy reported bytes.
  std::string TransferText(bool terminal) const;

  Writer out_;
  Writer err_;
  bool errIsTerminal_;
  std::string title_;
  std::string status_;
  ProgressBarModel bar_;
  int shownPercent_ = -1;
  bool barDrawn_ = false;
  bool closeRequested_ = false;
  bool hidden_ = false;
  PatcherViewHandlers handlers_;
  bool cancelPassed_ = false;
  TransferMeter meter_;
  std::function<int64_t()> clock_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_CONSOLE_VIEW_H_
