#include "app/dialog_pack_notify.h"

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

int32_t DialogPackNotify::cb_FILEBEGIN(const char*, const char* target, int32_t) {
  currentTarget_ = target != nullptr ? target : "";
  return 0;
}

int32_t DialogPackNotify::cb_FILEEND() {
  if (!currentTarget_.empty()) copiedTargets_.push_back(std::move(currentTarget_));
  currentTarget_.clear();
  dialog_->parent_link()->StepParentProgress(0);
  dialog_->view()->DispatchPendingEvents();
  // The bar never steps past its end: a view whose step starts over (as
  // the platform's bar does) would show a finished run nearly empty.
  ProgressBarModel& bar = dialog_->progress_bar();
  if (bar.Step()) {
    dialog_->view()->StepProgress();
  } else {
    dialog_->view()->SetProgressPosition(bar.position());
  }
  return 0;
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
  if (LeavesFileOut(code)) ++filesLeftOut_;
  return 0;
}

int32_t DialogPackNotify::cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) {
  if (stat == nullptr) return 0;
  int32_t total = stat->nTotalFile;
  PatcherView* view = dialog_->view();
  ProgressBarModel& bar = dialog_->progress_bar();
  bar.SetRange(0, total);
  bar.SetStep(1);
  bar.SetPosition(dialog_->skip_counts());
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
