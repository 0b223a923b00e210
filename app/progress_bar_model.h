// ProgressBarModel: the one model of the patcher's progress bar, used by
// the dialog and by every view (window, terminal, tests), so that they
// cannot disagree about where the bar stands.
//
// A range [lower, upper], a step, a position. The position always lies in
// the range: SetPosition and Step stop at the ends. A step that would pass
// the upper end leaves the bar full instead of starting over (as the
// platform bar's step does), so a run that counts a few files more than
// the range (a skip-list file that is in the install folder but not in the
// patch counts at the start and is never copied) still ends with the bar
// full.
#ifndef MARROWGATE_APP_PROGRESS_BAR_MODEL_H_
#define MARROWGATE_APP_PROGRESS_BAR_MODEL_H_

#include <algorithm>
#include <cstdint>

namespace marrowgate {

class ProgressBarModel {
 public:
  // An upper end below the lower one is taken as the lower one (an empty
  // range).
  void SetRange(int lower, int upper) {
    lower_ = lower;
    upper_ = std::max(lower, upper);
    position_ = Clamp(position_);
  }
  void SetStep(int step) { step_ = step; }
  void SetPosition(int position) { position_ = Clamp(position); }
  // One step; false when it stopped at an end instead of moving by the
  // whole step.
  bool Step() {
    int64_t next = static_cast<int64_t>(position_) + step_;
    position_ = Clamp(next);
    return position_ == next;
  }

  int lower() const { return lower_; }
  int upper() const { return upper_; }
  int step() const { return step_; }
  int position() const { return position_; }
  bool full() const { return position_ == upper_; }
  // Done part of the range, 0..1 (0 for an empty range).
  double fraction() const {
    if (upper_ == lower_) return 0.0;
    return (static_cast<double>(position_) - lower_) / (static_cast<double>(upper_) - lower_);
  }
  // Done part in whole percent, 0..100.
  int percent() const {
    if (upper_ == lower_) return 0;
    return static_cast<int>((static_cast<int64_t>(position_) - lower_) * 100 /
                            (static_cast<int64_t>(upper_) - lower_));
  }

 private:
  int Clamp(int64_t value) const {
    return static_cast<int>(std::clamp<int64_t>(value, lower_, upper_));
  }

  int lower_ = 0;
  int upper_ = 100;
  int step_ = 10;
  int position_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PROGRESS_BAR_MODEL_H_
