// DialogPackNotify: the patch run's CPackNotify sink, over the dialog.
//
//   cb_FILEBEGIN   dispatches the view's pending events; when the dialog
//                  was asked to stop, answers 1 (the engine stops before
//                  the file: every file is old or new); else notes the
//                  target, which cb_FILEEND then counts among the files
//                  the run copied (copied_targets());
//   cb_PROGRESS    moves the bar by the bytes written (forward only: the
//                  bar never goes back, across the held-back pass too),
//                  dispatching pending
//                  events, when the bar moves or kProgressInterval ms have
//                  passed since it was last shown;
//   cb_FILEEND     steps the launcher's progress (StepParentProgress(0)),
//                  dispatches the view's pending events, moves the bar
//                  past the file;
//   cb_SRCDIRSTAT  bar range 0..kProgressScale, position at the skip
//                  count; the launcher's progress total becomes nTotalFile
//                  (the launcher keeps counting files);
//                  a debug line "marrowgate,test,in CPackNotify::
//                  cb_SRCDIRSTAT,nTotalFile=N,m_skipCounts=M";
//   cb_READONLY    interactive: a box with the path under message 300;
//   cb_ERROR       code 0: nothing; -1..-5: shown under message 301..305;
//                  -100: shown under message 306 and answered -1 (stop);
//                  any other code: shown under message 307;
//   cb_VERIFIED    keeps the target's size and MD5 (verified_targets()) and
//                  counts the targets found up to date (files_identical());
//   everything else answers 0 and shows nothing.
// The copy engine skips a file it could not open, read, write or place
// (codes -1, -3, -4, -6, -7) when told to go on, and still ends its run
// with 0; the sink counts those files so that the run is not reported as
// a success when the install folder did not get the whole update.
// To show a text under message N: interactive, a box with the text and
// message N as caption; otherwise the launcher gets message N's own text
// (never for message 300).
#ifndef MARROWGATE_APP_DIALOG_PACK_NOTIFY_H_
#define MARROWGATE_APP_DIALOG_PACK_NOTIFY_H_

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transfer/pack_notify.h"

namespace marrowgate {

class PatcherDialog;

// Message numbers of the copy's boxes.
constexpr int32_t kMessageReadOnlyCaption = 300;
constexpr int32_t kMessageCopyErrorFirst = 301;  // codes -1 .. -5
constexpr int32_t kMessageCopyStopped = 306;     // code -100
constexpr int32_t kMessageCopyOtherError = 307;
constexpr int32_t kNotifyStopRequest = -100;

inline constexpr char kTextSourceStatDebug[] =
    "marrowgate,test,in %s,nTotalFile=%d,m_skipCounts=%d";

// The bar's range in the window and the terminal, and how often a large
// file moves it. Every file weighs its size plus kFileWeight bytes, so
// that a run of many small files moves the bar as well.
constexpr int kProgressScale = 10000;
constexpr int kProgressInterval = 100;
constexpr int64_t kFileWeight = 64 * 1024;

class DialogPackNotify : public CPackNotify {
 public:
  // `dialog` is borrowed for the run.
  explicit DialogPackNotify(PatcherDialog* dialog) : dialog_(dialog) {}

  // Lives on the run's stack: Release does nothing.
  int32_t Release() override { return 0; }
  int32_t cb_FILEBEGIN(const char* source, const char* target, int32_t size) override;
  int32_t cb_FILEEND() override;
  int32_t cb_PROGRESS(int32_t written) override;
  int32_t cb_READONLY(const char* source) override;
  int32_t cb_ERROR(int32_t code, const char* text) override;
  int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) override;
  int32_t cb_VERIFIED(const char* target, uint32_t size, const uint8_t* digest,
                      int32_t identical) override;

  // The message whose text captions copy error `code` (0 for code 0).
  static int32_t CaptionMessageOf(int32_t code);
  // True for the engine's codes after which, answered 0, a file is left
  // out of the copy.
  static bool LeavesFileOut(int32_t code);

  // Files the copy left out after an error this sink answered with 0.
  int32_t files_left_out() const { return filesLeftOut_; }
  // The engine's text for the first of them (with the system's reason for
  // a write that failed), for the log.
  const std::string& first_left_out() const { return firstLeftOut_; }
  // The target paths of the files copied whole, in copy order.
  const std::vector<std::string>& copied_targets() const { return copiedTargets_; }
  // A target whose content the copy knows: its size and MD5.
  struct VerifiedTarget {
    std::string target;
    uint32_t size = 0;
    std::array<uint8_t, 16> digest{};
  };
  // The disk targets written and checked, or found up to date, in order.
  const std::vector<VerifiedTarget>& verified_targets() const { return verifiedTargets_; }
  // Targets found up to date and left unwritten.
  int32_t files_identical() const { return filesIdentical_; }
  // True once a file was refused because a stop was asked for.
  bool stopped() const { return stopped_; }

 private:
  void ShowUnder(int32_t number, const char* text);
  // Puts the bar and the view's byte counts where the copy stands.
  void ShowBytes();
  // The bar's position for `units` done.
  int PositionOf(int64_t units) const;

  PatcherDialog* dialog_;
  int32_t filesLeftOut_ = 0;
  std::string firstLeftOut_;
  std::string currentTarget_;
  std::vector<std::string> copiedTargets_;
  std::vector<VerifiedTarget> verifiedTargets_;
  int32_t filesIdentical_ = 0;
  bool stopped_ = false;
  int64_t statUnits_ = 0;     // bytes and file weights the pass counted
  int64_t statBytes_ = 0;
  int64_t statFiles_ = 0;
  int64_t filesBegun_ = 0;    // files begun (skip-list files count as begun)
  int64_t unitsBegun_ = 0;
  int64_t bytesBegun_ = 0;
  int64_t totalUnits_ = 0;    // bytes and file weights of the whole run
  int64_t doneUnits_ = 0;     // of the files ended
  int64_t totalBytes_ = 0;
  int64_t doneBytes_ = 0;
  int64_t currentSize_ = 0;
  int64_t currentWritten_ = 0;
  int64_t lastShownMs_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_DIALOG_PACK_NOTIFY_H_
