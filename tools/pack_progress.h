// PackProgress: the copy-engine sink of marrowgate-pack. It remembers the
// file being copied and every error text (answering the first error with
// "stop"), and, when drawing is enabled, keeps a one-line progress bar on
// the error stream: files and bytes done of the totals of the statistics
// pass. The bar appears only once the work has run for a moment, so short
// runs print nothing.
//
// An item's work is reading it (cb_PROGRESS, its bytes read) and sealing
// it (SealStep, done of total); each is half of the item's share of the
// bar, so the bar moves while a large item is digested and written. An
// item with no seal steps (sealed elsewhere, or stored plain) completes
// at cb_FILEEND. While an item is under way a ticker redraws the line
// every kTickMilliseconds with a turning mark and the item's seconds, so
// the line is seen alive through a step that tells nothing (compressing
// a large item in one piece). A plain copy (attach's host and package
// bytes) tells its bytes through cb_PROGRESS alone with CopyOnly().
#ifndef MARROWGATE_TOOLS_PACK_PROGRESS_H_
#define MARROWGATE_TOOLS_PACK_PROGRESS_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "transfer/pack_notify.h"

namespace marrowgate {

class PackProgress : public CPackNotify {
 public:
  static constexpr uint32_t kQuietMilliseconds = 300;  // no bar for shorter work
  static constexpr uint32_t kRedrawMilliseconds = 100;
  static constexpr uint32_t kTickMilliseconds = 250;

  // `quietMs` and `redrawMs` other than the defaults are for tests.
  PackProgress(std::ostream& err, bool draw, uint32_t quietMs = kQuietMilliseconds,
               uint32_t redrawMs = kRedrawMilliseconds);
  ~PackProgress() override;
  PackProgress(const PackProgress&) = delete;
  PackProgress& operator=(const PackProgress&) = delete;

  int32_t Release() override { return 0; }  // lives on the caller's stack
  int32_t cb_FILEBEGIN(const char* source, const char* target, int32_t size) override;
  int32_t cb_FILEEND() override;
  int32_t cb_PROGRESS(int32_t written) override;
  int32_t cb_ERROR(int32_t code, const char* text) override;
  int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) override;

  // How far the seal of the current item has come.
  void SealStep(uint64_t done, uint64_t total);
  // The work is a plain copy: the bytes told are the whole of each item.
  void CopyOnly() { copyOnly_ = true; }

  // Totals for a pass that counted the work itself.
  void SetTotals(int64_t files, int64_t bytes) {
    totalFiles_ = files;
    totalBytes_ = bytes;
  }

  // Clears the bar (when one was drawn) and stops the ticker.
  void Finish();

  const std::vector<std::string>& errors() const { return errors_; }
  const std::string& currentSource() const { return source_; }
  const std::string& currentTarget() const { return target_; }
  int64_t filesDone() const { return filesDone_; }
  // The bar's filled share, 0..1, as last drawn.
  double shownShare() const { return shownShare_; }

 private:
  void Draw(bool force);
  void DrawLocked(bool force);
  void StartTicker();
  void StopTicker();

  std::ostream& err_;
  bool draw_;
  uint32_t quietMs_;
  uint32_t redrawMs_;
  bool copyOnly_ = false;
  bool drawn_ = false;
  uint32_t startTick_;
  uint32_t lastDrawTick_ = 0;
  uint32_t itemStartTick_ = 0;
  int turns_ = 0;
  int64_t totalFiles_ = 0;
  int64_t totalBytes_ = 0;
  int64_t filesDone_ = 0;
  int64_t bytesDone_ = 0;
  int64_t currentWritten_ = 0;
  int64_t currentSize_ = 0;
  double sealShare_ = 0.0;
  bool underWay_ = false;
  double shownShare_ = 0.0;
  std::string source_;
  std::string target_;
  std::vector<std::string> errors_;

  std::mutex mutex_;  // the counts and the stream, between caller and ticker
  std::condition_variable wake_;
  bool stopTicker_ = false;
  std::thread ticker_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_PROGRESS_H_
