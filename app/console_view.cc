#include "app/console_view.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "platform/env.h"
#include "platform/interrupt.h"
#include "util/text.h"
#include "util/utf8.h"

namespace marrowgate {

namespace {

constexpr int kBarWidth = 30;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

void ConsoleView::DispatchPendingEvents() {
  if (cancelPassed_ || !platform::CancelRequested()) return;
  cancelPassed_ = true;
  if (handlers_.onExit) handlers_.onExit();
}

void ConsoleView::ShowTransfer(const TransferProgress& progress) {
  meter_.Update(progress, clock_ ? clock_() : NowMs());
  if (errIsTerminal_) ShowProgress();
}

std::string ConsoleView::TransferText(bool terminal) const { return meter_.Text(terminal); }

ConsoleView::ConsoleView()
    : ConsoleView([](const std::string& text) {
                    platform::WriteStandardOutput(text.data(), text.size());
                  },
                  [](const std::string& text) {
                    platform::WriteStandardError(text.data(), text.size());
                  },
                  platform::StderrIsTerminal()) {}

ConsoleView::ConsoleView(Writer out, Writer err, bool errIsTerminal)
    : out_(std::move(out)), err_(std::move(err)), errIsTerminal_(errIsTerminal) {}

ConsoleView::~ConsoleView() { EndBarLine(); }

void ConsoleView::EndBarLine() {
  if (!barDrawn_) return;
  err_("\n");
  barDrawn_ = false;
}

void ConsoleView::Line(const Writer& writer, const std::string& text) {
  EndBarLine();
  // Names and texts come from the patch and the disk: nothing in them may
  // break the line or steer the terminal.
  // A text's own line end is the line's.
  std::string_view shown = text;
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
  writer(EscapeControlCharacters(shown) + "\n");
}

void ConsoleView::SetTitle(const std::string& title) {
  if (title == title_) return;
  title_ = title;
  if (!title.empty()) Line(out_, "== " + DisplayText(title));
}

void ConsoleView::SetControlText(int controlId, const std::string& text) {
  if (controlId != kControlStatus || text == status_) return;
  status_ = text;
  if (!text.empty()) Line(out_, DisplayText(text));
}

void ConsoleView::MessageBox(const std::string& text, const std::string& caption) {
  std::string shownCaption = !caption.empty() ? caption : !title_.empty() ? title_ : "marrowgate";
  Line(err_, DisplayText(shownCaption) + ": " + DisplayText(text));
}

void ConsoleView::SetProgressRange(int lower, int upper) {
  bar_.SetRange(lower, upper);
  shownPercent_ = -1;
  ShowProgress();
}

void ConsoleView::SetProgressPosition(int position) {
  bar_.SetPosition(position);
  ShowProgress();
}

void ConsoleView::StepProgress() {
  bar_.Step();
  ShowProgress();
}

bool ConsoleView::RunModal() {
  if (!closeRequested_ && !hidden_ && handlers_.onShow) handlers_.onShow();
  return closeRequested_;
}

void ConsoleView::ShowProgress() {
  int shown = percent();
  if (errIsTerminal_) {
    int filled = shown * kBarWidth / 100;
    std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
    std::string number = std::to_string(shown);
    bar += std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "% ";
    std::string detail = EscapeControlCharacters(TransferText(true));
    bar += !detail.empty() ? detail
                           : std::to_string(bar_.position() - bar_.lower()) + "/" +
                                 std::to_string(bar_.upper() - bar_.lower());
    // Clears what a longer line before left behind.
    err_(bar + "\x1b[K");
    barDrawn_ = true;
  } else if (shown != shownPercent_) {
    std::string detail = TransferText(false);
    Line(err_, "progress " + std::to_string(shown) + "%" + (detail.empty() ? "" : " " + detail));
  }
  shownPercent_ = shown;
}

}  // namespace marrowgate
