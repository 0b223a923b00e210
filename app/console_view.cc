#include "app/console_view.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "platform/env.h"
#include "util/text.h"

namespace marrowgate {

namespace {

constexpr int kBarWidth = 30;

}  // namespace

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
  if (!title.empty()) Line(out_, "== " + title);
}

void ConsoleView::SetControlText(int controlId, const std::string& text) {
  if (controlId != kControlStatus || text == status_) return;
  status_ = text;
  if (!text.empty()) Line(out_, text);
}

void ConsoleView::MessageBox(const std::string& text, const std::string& caption) {
  std::string shownCaption = !caption.empty() ? caption : !title_.empty() ? title_ : "marrowgate";
  Line(err_, shownCaption + ": " + text);
}

int ConsoleView::percent() const {
  int64_t span = static_cast<int64_t>(upper_) - lower_;
  if (span <= 0) return 0;
  int64_t done = static_cast<int64_t>(position_) - lower_;
  return static_cast<int>(std::clamp<int64_t>(done * 100 / span, 0, 100));
}

void ConsoleView::SetProgressRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  position_ = std::clamp(position_, lower_, std::max(lower_, upper_));
  shownPercent_ = -1;
  ShowProgress();
}

void ConsoleView::SetProgressPosition(int position) {
  position_ = std::clamp(position, lower_, std::max(lower_, upper_));
  ShowProgress();
}

void ConsoleView::StepProgress() {
  int64_t next = static_cast<int64_t>(position_) + step_;
  position_ = static_cast<int>(std::clamp<int64_t>(next, lower_, std::max(lower_, upper_)));
  ShowProgress();
}

void ConsoleView::ShowProgress() {
  int shown = percent();
  if (errIsTerminal_) {
    int filled = shown * kBarWidth / 100;
    std::string bar = "\r[" + std::string(static_cast<size_t>(filled), '#') +
                      std::string(static_cast<size_t>(kBarWidth - filled), '-') + "] ";
    std::string number = std::to_string(shown);
    bar += std::string(3 - std::min<size_t>(3, number.size()), ' ') + number + "% " +
           std::to_string(position_ - lower_) + "/" + std::to_string(upper_ - lower_);
    err_(bar);
    barDrawn_ = true;
  } else if (shown != shownPercent_) {
    Line(err_, "progress " + std::to_string(shown) + "%");
  }
  shownPercent_ = shown;
}

}  // namespace marrowgate
