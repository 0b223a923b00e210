// TransferMeter: the rate and the time left of a patch run's copy, worked
// out from the byte counts the dialog hands its view (TransferProgress),
// and the line that tells them. The terminal and the window show the same
// words:
//
//   long form     "100.0/500.0 MB 50.0 MB/s 8 s left /games/client/data/movie.bik"
//   compact form  "100.0/500.0 MB 50.0 MB/s 0:08 left movie.bik"
//
// The rate is the average since the first reading; it and the time left
// are shown once kSettleMs have passed and some bytes are done. The
// compact form keeps the last name of the file, at most kShownNameWidth
// characters (its end, the telling part). Names are shown as DisplayText
// gives them (util/utf8.h); control characters stay as they are (the view
// escapes what it must).
//
// Throttle: a view that redraws text (a label) asks Due() before it does,
// and MarkShown() after: a new file is due at once, anything else at most
// every kRedrawMs, so a copy of many small files does not redraw a label
// for each.
#ifndef MARROWGATE_APP_TRANSFER_METER_H_
#define MARROWGATE_APP_TRANSFER_METER_H_

#include <cstdint>
#include <string>

#include "app/patcher_view.h"

namespace marrowgate {

class TransferMeter {
 public:
  static constexpr int64_t kSettleMs = 500;
  static constexpr int64_t kRedrawMs = 250;
  static constexpr size_t kShownNameWidth = 32;

  // A new reading taken at `nowMs` (milliseconds of a steady clock). A
  // reading with fewer bytes done than the last starts over (a new run).
  void Update(const TransferProgress& progress, int64_t nowMs);
  // Forgets every reading (a new run).
  void Reset() { *this = TransferMeter(); }

  bool known() const { return known_; }
  const TransferProgress& progress() const { return progress_; }
  // Bytes per second, or 0 while the rate is not known yet.
  double BytesPerSecond() const;
  // Whole seconds left at that rate, or -1 while not known.
  int64_t SecondsLeft() const;
  // The line (see above); "" before the first reading.
  std::string Text(bool compact) const;

  // Whether a redraw of the line is due at `nowMs`, and the note that it
  // was drawn.
  bool Due(int64_t nowMs) const;
  void MarkShown(int64_t nowMs);

 private:
  bool known_ = false;
  TransferProgress progress_;
  int64_t startMs_ = 0;
  int64_t nowMs_ = 0;
  bool shown_ = false;
  int64_t shownMs_ = 0;
  std::string shownFile_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_TRANSFER_METER_H_
