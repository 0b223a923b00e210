#include "app/dialog_pack_notify.h"

#include <algorithm>

#include <chrono>
#include <utility>

#include "app/patcher_dialog.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/stat_dir.h"
#include "util/text.h"

namespace marrowgate {

int32_t DialogPackNotify::CaptionMessageOf(int32_t code) {
  if (code == 0) return 0;
  if (code >= -5 && code <= -1) return kMessageCopyErrorFirst - 1 - code;
  if (code == kNotifyStopRequest) return kMessageCopyStopped;
  return kMessageCopyOtherError;
}

bool DialogPackNotify::LeavesFileOut(int32_t code) {
  return code == kNotifyCanNotOpen || code == kNotifyReadError || code == kNotifyWriteError ||
         code == kNotifyUnsafePath || code == kNotifyPathTooLong ||
         code == kNotifyDeltaBasisDiffers;
}

void DialogPackNotify::ShowUnder(int32_t number, const char* text) {
  ParentLink* link = dialog_->parent_link();
  if (link->IsInteractive()) {
    dialog_->view()->MessageBox(text != nullptr ? text : "", dialog_->MessageText(number));
  } else if (number != kMessageReadOnlyCaption) {
    link->NotifyParent(number, dialog_->MessageText(number));
  }
}

namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

int32_t DialogPackNotify::cb_FILEBEGIN(const char*, const char* target, int32_t size) {
  // A stop asked for meanwhile (Cancel, Ctrl-C) is seen before the file.
  dialog_->view()->DispatchPendingEvents();
  if (dialog_->cancel_requested()) {
    stopped_ = true;
    return 1;
  }
  currentTarget_ = target != nullptr ? target : "";
  // The engine's sizes are 32-bit; a file past 2 GiB reads as unsigned.
  currentSize_ = static_cast<int64_t>(static_cast<uint32_t>(size));
  currentWritten_ = 0;
  ++filesBegun_;
  unitsBegun_ += currentSize_ + kFileWeight;
  bytesBegun_ += currentSize_;
  ShowBytes();
  return 0;
}

int32_t DialogPackNotify::cb_PROGRESS(int32_t written) {
  currentWritten_ = std::min<int64_t>(static_cast<uint32_t>(written), currentSize_);
  // Shown when the bar moves, and now and then for the rate and the time
  // left; never for every block.
  int64_t now = NowMs();
  if (PositionOf(doneUnits_ + currentWritten_) == dialog_->progress_bar().position() &&
      now - lastShownMs_ < kProgressInterval)
    return 0;
  lastShownMs_ = now;
  ShowBytes();
  dialog_->view()->DispatchPendingEvents();
  return 0;
}

int32_t DialogPackNotify::cb_VERIFIED(const char* target, uint32_t size, const uint8_t* digest,
                                      int32_t identical) {
  if (target == nullptr || digest == nullptr) return 0;
  VerifiedTarget entry;
  entry.target = target;
  entry.size = size;
  std::copy(digest, digest + 16, entry.digest.begin());
  verifiedTargets_.push_back(std::move(entry));
  if (identical != 0) ++filesIdentical_;
  return 0;
}

int32_t DialogPackNotify::cb_FILEEND() {
  if (!currentTarget_.empty()) copiedTargets_.push_back(std::move(currentTarget_));
  currentTarget_.clear();
  doneUnits_ += currentSize_ + kFileWeight;
  doneBytes_ += currentSize_;
  currentSize_ = 0;
  currentWritten_ = 0;
  dialog_->parent_link()->StepParentProgress(0);
  dialog_->view()->DispatchPendingEvents();
  ShowBytes();
  return 0;
}

int DialogPackNotify::PositionOf(int64_t units) const {
  if (totalUnits_ <= 0) return 0;
  return static_cast<int>(std::min(units, totalUnits_) * kProgressScale / totalUnits_);
}

void DialogPackNotify::ShowBytes() {
  // Totals too small for what was seen (a 32-bit total that wrapped, a
  // file that grew) grow with it: the bar stops full, never past it.
  int64_t done = doneUnits_ + currentWritten_;
  const bool underWay = !currentTarget_.empty();
  // The files the pass counted and the copy has not begun yet (the
  // held-back ones among them) keep their room in the range: what the
  // pass counted less what was begun, and at least their weights.
  const int64_t filesLeft = std::max<int64_t>(0, statFiles_ - filesBegun_);
  const int64_t unitsLeft = std::max(statUnits_ - unitsBegun_, filesLeft * kFileWeight);
  const int64_t bytesLeft = std::max<int64_t>(0, statBytes_ - bytesBegun_);
  totalUnits_ = std::max(statUnits_, doneUnits_ + (underWay ? currentSize_ + kFileWeight : 0) +
                                         unitsLeft);
  totalBytes_ = std::max(statBytes_, doneBytes_ + currentSize_ + bytesLeft);
  ProgressBarModel& bar = dialog_->progress_bar();
  // Never back: when the copy finds more than the pass counted (a delta
  // item rebuilds a larger file, a total that wrapped), the total grows
  // and the bar waits where it stands until the work catches up with it.
  int position = std::max(PositionOf(done), bar.position());
  if (position != bar.position()) {
    bar.SetPosition(position);
    dialog_->view()->SetProgressPosition(bar.position());
  }
  TransferProgress progress;
  progress.file = currentTarget_;
  progress.fileWritten = currentWritten_;
  progress.fileSize = currentSize_;
  progress.bytesDone = doneBytes_ + currentWritten_;
  progress.bytesTotal = totalBytes_;
  dialog_->view()->ShowTransfer(progress);
}

int32_t DialogPackNotify::cb_READONLY(const char* source) {
  if (dialog_->parent_link()->IsInteractive()) ShowUnder(kMessageReadOnlyCaption, source);
  return 0;
}

int32_t DialogPackNotify::cb_ERROR(int32_t code, const char* text) {
  int32_t number = CaptionMessageOf(code);
  if (number == 0) return 0;
  ShowUnder(number, text);
  if (code == kNotifyStopRequest) return -1;
  if (LeavesFileOut(code) && filesLeftOut_++ == 0) firstLeftOut_ = text != nullptr ? text : "";
  return 0;
}

int32_t DialogPackNotify::cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) {
  if (stat == nullptr) return 0;
  int32_t total = stat->nTotalFile;
  PatcherView* view = dialog_->view();
  // Sizes sum in 32 bits; read unsigned, a total up to 4 GiB is right.
  totalBytes_ = static_cast<int64_t>(static_cast<uint32_t>(stat->nTotalSize));
  totalUnits_ = totalBytes_ + std::max<int64_t>(total, 0) * kFileWeight;
  statBytes_ = totalBytes_;
  statUnits_ = totalUnits_;
  statFiles_ = std::max<int64_t>(total, 0);
  // Skip-list files present are counted and never copied: begun already.
  filesBegun_ = dialog_->skip_counts();
  unitsBegun_ = filesBegun_ * kFileWeight;
  bytesBegun_ = 0;
  // Skip-list files counted by the pass are never copied: they start done.
  doneUnits_ = std::min<int64_t>(dialog_->skip_counts() * kFileWeight, totalUnits_);
  ProgressBarModel& bar = dialog_->progress_bar();
  bar.SetRange(0, kProgressScale);
  bar.SetStep(1);
  bar.SetPosition(PositionOf(doneUnits_));
  view->SetProgressRange(bar.lower(), bar.upper());
  view->SetProgressStep(bar.step());
  view->SetProgressPosition(bar.position());
  platform::DebugOutput(FormatText(kTextSourceStatDebug, "CPackNotify::cb_SRCDIRSTAT", total,
                                   static_cast<int>(dialog_->skip_counts()))
                            .c_str());
  // A count of 0 would be taken as a step, not as a total.
  if (total > 0) dialog_->parent_link()->StepParentProgress(total);
  return 0;
}

}  // namespace marrowgate
