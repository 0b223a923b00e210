// PackProgress: the copy-engine sink of marrowgate-pack. It remembers the
// file being copied and every error text (answering the first error with
// "stop"), and, when drawing is enabled, keeps a one-line progress bar on
// the error stream: files and bytes done of the totals of the statistics
// pass. The bar appears only once the work has run for a moment, so short
// runs print nothing.
#ifndef MARROWGATE_TOOLS_PACK_PROGRESS_H_
#define MARROWGATE_TOOLS_PACK_PROGRESS_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "transfer/pack_notify.h"

namespace marrowgate {

class PackProgress : public CPackNotify {
 public:
  PackProgress(std::ostream& err, bool draw);

  int32_t Release() override { return 0; }  // lives on the caller's stack
  int32_t cb_FILEBEGIN(const char* source, const char* target, int32_t size) override;
  int32_t cb_FILEEND() override;
  int32_t cb_PROGRESS(int32_t written) override;
  int32_t cb_ERROR(int32_t code, const char* text) override;
  int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) override;

  // Totals for a pass that counted the work itself.
  void SetTotals(int64_t files, int64_t bytes) {
    totalFiles_ = files;
    totalBytes_ = bytes;
  }

  // Clears the bar (when one was drawn).
  void Finish();

  const std::vector<std::string>& errors() const { return errors_; }
  const std::string& currentSource() const { return source_; }
  const std::string& currentTarget() const { return target_; }
  int64_t filesDone() const { return filesDone_; }

 private:
  void Draw(bool force);

  std::ostream& err_;
  bool draw_;
  bool drawn_ = false;
  uint32_t startTick_;
  uint32_t lastDrawTick_ = 0;
  int64_t totalFiles_ = 0;
  int64_t totalBytes_ = 0;
  int64_t filesDone_ = 0;
  int64_t bytesDone_ = 0;
  int64_t currentWritten_ = 0;
  int64_t currentSize_ = 0;
  std::string source_;
  std::string target_;
  std::vector<std::string> errors_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_PROGRESS_H_
