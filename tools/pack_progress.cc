#include "tools/pack_progress.h"

#include <cstdio>

#include "platform/env.h"
#include "transfer/stat_dir.h"

namespace marrowgate {

namespace {
constexpr uint32_t kQuietMilliseconds = 300;   // no bar for shorter work
constexpr uint32_t kRedrawMilliseconds = 100;
constexpr int kBarWidth = 30;

std::string Mebibytes(int64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}
}  // namespace

PackProgress::PackProgress(std::ostream& err, bool draw)
    : err_(err), draw_(draw), startTick_(platform::TickMilliseconds()) {}

int32_t PackProgress::cb_FILEBEGIN(const char* source, const char* target, int32_t size) {
  source_ = source != nullptr ? source : "";
  target_ = target != nullptr ? target : "";
  currentSize_ = size > 0 ? size : 0;
  currentWritten_ = 0;
  return 0;
}

int32_t PackProgress::cb_FILEEND() {
  ++filesDone_;
  bytesDone_ += currentSize_;
  currentWritten_ = 0;
  currentSize_ = 0;
  Draw(false);
  return 0;
}

int32_t PackProgress::cb_PROGRESS(int32_t written) {
  currentWritten_ = written;
  Draw(false);
  return 0;
}

int32_t PackProgress::cb_ERROR(int32_t /*code*/, const char* text) {
  errors_.push_back(text != nullptr ? text : "unknown error");
  return 1;  // stop at the first error
}

int32_t PackProgress::cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) {
  if (stat != nullptr) {
    totalFiles_ = stat->nTotalFile;
    // The pass sums sizes in 32 bits; read the sum as unsigned.
    totalBytes_ = static_cast<uint32_t>(stat->nTotalSize);
  }
  return 0;
}

void PackProgress::Draw(bool force) {
  if (!draw_) return;
  uint32_t now = platform::TickMilliseconds();
  if (!force) {
    if (now - startTick_ < kQuietMilliseconds) return;
    if (drawn_ && now - lastDrawTick_ < kRedrawMilliseconds) return;
  }
  lastDrawTick_ = now;
  drawn_ = true;
  int64_t bytes = bytesDone_ + currentWritten_;
  double share = totalBytes_ > 0 ? static_cast<double>(bytes) / static_cast<double>(totalBytes_)
                 : totalFiles_ > 0 ? static_cast<double>(filesDone_) / static_cast<double>(totalFiles_)
                                   : 0.0;
  if (share > 1.0) share = 1.0;
  int filled = static_cast<int>(share * kBarWidth);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kBarWidth - filled), '-');
  err_ << "\r[" << bar << "] " << filesDone_ << "/" << totalFiles_ << " files, "
       << Mebibytes(bytes) << "/" << Mebibytes(totalBytes_) << " MiB " << std::flush;
}

void PackProgress::Finish() {
  if (!drawn_) return;
  err_ << "\r" << std::string(kBarWidth + 48, ' ') << "\r" << std::flush;
  drawn_ = false;
}

}  // namespace marrowgate
