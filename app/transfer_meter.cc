#include "app/transfer_meter.h"

#include <algorithm>
#include <cstdio>

#include "util/utf8.h"

namespace marrowgate {

namespace {

std::string Megabytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace

void TransferMeter::Update(const TransferProgress& progress, int64_t nowMs) {
  // Fewer bytes done than before: a new run, whose rate starts afresh.
  if (known_ && progress.bytesDone < progress_.bytesDone) *this = TransferMeter();
  if (!known_) startMs_ = nowMs;
  known_ = true;
  progress_ = progress;
  nowMs_ = std::max(nowMs, startMs_);
}

double TransferMeter::BytesPerSecond() const {
  const int64_t elapsed = nowMs_ - startMs_;
  if (!known_ || elapsed < kSettleMs || progress_.bytesDone <= 0) return 0.0;
  return static_cast<double>(progress_.bytesDone) * 1000.0 / static_cast<double>(elapsed);
}

int64_t TransferMeter::SecondsLeft() const {
  const double rate = BytesPerSecond();
  if (rate <= 0.0) return -1;
  const int64_t left = std::max<int64_t>(0, progress_.bytesTotal - progress_.bytesDone);
  return static_cast<int64_t>(static_cast<double>(left) / rate);
}

std::string TransferMeter::Text(bool compact) const {
  if (!known_) return "";
  std::string text =
      Megabytes(progress_.bytesDone) + "/" + Megabytes(progress_.bytesTotal) + " MB";
  const int64_t left = SecondsLeft();
  if (left >= 0) {
    char shown[64];
    std::snprintf(shown, sizeof shown, " %.1f MB/s", BytesPerSecond() / 1e6);
    text += shown;
    if (compact) {
      std::snprintf(shown, sizeof shown, " %lld:%02lld left", static_cast<long long>(left / 60),
                    static_cast<long long>(left % 60));
    } else {
      std::snprintf(shown, sizeof shown, " %lld s left", static_cast<long long>(left));
    }
    text += shown;
  }
  if (!progress_.file.empty()) {
    std::string name = DisplayText(progress_.file);
    if (compact) {
      size_t slash = name.find_last_of('/');
      if (slash != std::string::npos) name = name.substr(slash + 1);
      if (name.size() > kShownNameWidth) name = "..." + name.substr(name.size() - kShownNameWidth);
    }
    text += " " + name;
  }
  return text;
}

bool TransferMeter::Due(int64_t nowMs) const {
  if (!known_) return false;
  if (!shown_ || progress_.file != shownFile_) return true;
  return nowMs - shownMs_ >= kRedrawMs;
}

void TransferMeter::MarkShown(int64_t nowMs) {
  shown_ = true;
  shownMs_ = nowMs;
  shownFile_ = progress_.file;
}

}  // namespace marrowgate
