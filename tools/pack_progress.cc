#include "tools/pack_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/env.h"
#include "transfer/stat_dir.h"

namespace marrowgate {

namespace {
constexpr int kBarWidth = 30;
constexpr char kTurns[] = "|/-\\";

std::string Mebibytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}
}  // namespace

PackProgress::PackProgress(std::ostream& err, bool draw, uint32_t quietMs, uint32_t redrawMs)
    : err_(err),
      draw_(draw),
      quietMs_(quietMs),
      redrawMs_(redrawMs),
      startTick_(platform::TickMilliseconds()) {}

PackProgress::~PackProgress() { StopTicker(); }

int32_t PackProgress::cb_FILEBEGIN(const char* source, const char* target, int32_t size) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    source_ = source != nullptr ? source : "";
    target_ = target != nullptr ? target : "";
    currentSize_ = size > 0 ? size : 0;
    currentWritten_ = 0;
    sealShare_ = 0.0;
    underWay_ = true;
    itemStartTick_ = platform::TickMilliseconds();
  }
  StartTicker();
  return 0;
}

int32_t PackProgress::cb_FILEEND() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++filesDone_;
  bytesDone_ += currentSize_;
  currentWritten_ = 0;
  currentSize_ = 0;
  sealShare_ = 0.0;
  underWay_ = false;
  DrawLocked(false);
  return 0;
}

int32_t PackProgress::cb_PROGRESS(int32_t written) {
  std::lock_guard<std::mutex> lock(mutex_);
  currentWritten_ = std::clamp<int64_t>(written, 0, std::max<int64_t>(currentSize_, written));
  DrawLocked(false);
  return 0;
}

void PackProgress::SealStep(uint64_t done, uint64_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (total == 0) return;
  sealShare_ = std::clamp(static_cast<double>(done) / static_cast<double>(total), sealShare_, 1.0);
  DrawLocked(false);
}

int32_t PackProgress::cb_ERROR(int32_t /*code*/, const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  errors_.push_back(text != nullptr ? text : "unknown error");
  return 1;  // stop at the first error
}

int32_t PackProgress::cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stat != nullptr) {
    totalFiles_ = stat->nTotalFile;
    // The pass sums sizes in 32 bits; read the sum as unsigned.
    totalBytes_ = static_cast<uint32_t>(stat->nTotalSize);
  }
  return 0;
}

void PackProgress::StartTicker() {
  if (!draw_ || ticker_.joinable()) return;
  stopTicker_ = false;
  ticker_ = std::thread([this] {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopTicker_) {
      wake_.wait_for(lock, std::chrono::milliseconds(kTickMilliseconds));
      if (stopTicker_) break;
      if (underWay_) {
        ++turns_;
        DrawLocked(false);
      }
    }
  });
}

void PackProgress::StopTicker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopTicker_ = true;
  }
  wake_.notify_all();
  if (ticker_.joinable()) ticker_.join();
}

void PackProgress::Draw(bool force) {
  std::lock_guard<std::mutex> lock(mutex_);
  DrawLocked(force);
}

void PackProgress::DrawLocked(bool force) {
  if (!draw_) return;
  uint32_t now = platform::TickMilliseconds();
  if (!force) {
    if (now - startTick_ < quietMs_) return;
    if (drawn_ && now - lastDrawTick_ < redrawMs_) return;
  }
  lastDrawTick_ = now;
  drawn_ = true;
  const int64_t bytes = bytesDone_ + std::min(currentWritten_, currentSize_);
  // Reading and sealing are each half of an item's share.
  const double current =
      copyOnly_ ? static_cast<double>(std::min(currentWritten_, currentSize_))
                : (static_cast<double>(std::min(currentWritten_, currentSize_)) +
                   sealShare_ * static_cast<double>(currentSize_)) / 2.0;
  double share = totalBytes_ > 0
                     ? (static_cast<double>(bytesDone_) + current) / static_cast<double>(totalBytes_)
                 : totalFiles_ > 0 ? static_cast<double>(filesDone_) / static_cast<double>(totalFiles_)
                                   : 0.0;
  share = std::clamp(share, 0.0, 1.0);
  shownShare_ = share;
  int filled = static_cast<int>(share * kBarWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '-');
  err_ << "\r[" << bar << "] " << filesDone_ << "/" << totalFiles_ << " files, "
       << Mebibytes(bytes) << "/" << Mebibytes(totalBytes_) << " MiB";
  if (underWay_) {
    err_ << " " << kTurns[turns_ % 4] << " " << (now - itemStartTick_) / 1000 << " s";
  }
  err_ << "\x1b[K" << std::flush;
}

void PackProgress::Finish() {
  StopTicker();
  std::lock_guard<std::mutex> lock(mutex_);
  if (!drawn_) return;
  err_ << "\r\x1b[K" << std::flush;
  drawn_ = false;
}

}  // namespace marrowgate
