// RecordingView: a PatcherView for tests. It keeps the state a window
// would show (texts, enabled and shown controls, the bar) and records every
// call as one text ("TEXT 1005 Patching ...", "STEP", "BOX caption|text").
// Hooks let a test act from inside the dialog's calls: pick a folder,
// run code while events are dispatched. Only for tests.
#ifndef MARROWGATE_APP_TESTING_RECORDING_VIEW_TESTING_H_
#define MARROWGATE_APP_TESTING_RECORDING_VIEW_TESTING_H_

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/patcher_view.h"
#include "app/progress_bar_model.h"

namespace marrowgate {

class RecordingView : public PatcherView {
 public:
  std::vector<std::string> events;
  std::string title;
  std::map<int, std::string> texts;
  std::map<int, bool> enabled;
  std::map<int, bool> shown;
  int lower = 0, upper = 100, step = 10, position = 0;
  int steps = 0;  // StepProgress calls
  // When set, a step past the upper end starts over from the lower end, as
  // the platform's bar does; else the bar is the shared ProgressBarModel.
  bool wrapsLikePlatformBar = false;
  std::vector<std::string> boxes;  // "caption|text"
  bool hidden = false;
  bool closed = false;
  int dispatches = 0;

  // What PickFolder answers (nothing: cancelled).
  std::optional<std::string> pickedFolder;
  std::string lastPrompt, lastInitialFolder;
  // Runs at every DispatchPendingEvents.
  std::function<void()> onDispatch;
  // Runs at every ShowTransfer.
  std::function<void(const TransferProgress&)> onTransfer;

  void SetTitle(const std::string& text) override {
    title = text;
    events.push_back("TITLE " + text);
  }
  void SetControlText(int id, const std::string& text) override {
    texts[id] = text;
    events.push_back("TEXT " + std::to_string(id) + " " + text);
  }
  void EnableControl(int id, bool on) override {
    enabled[id] = on;
    events.push_back("ENABLE " + std::to_string(id) + (on ? " 1" : " 0"));
  }
  void ShowControl(int id, bool on) override {
    shown[id] = on;
    events.push_back("SHOW " + std::to_string(id) + (on ? " 1" : " 0"));
  }
  void SetProgressRange(int lo, int up) override {
    bar.SetRange(lo, up);
    lower = lo;
    upper = up;
    position = bar.position();
    events.push_back("RANGE " + std::to_string(lo) + " " + std::to_string(up));
  }
  void SetProgressStep(int s) override {
    step = s;
    bar.SetStep(s);
    events.push_back("STEPSIZE " + std::to_string(s));
  }
  void SetProgressPosition(int p) override {
    bar.SetPosition(p);
    position = bar.position();
    events.push_back("POS " + std::to_string(p));
  }
  void StepProgress() override {
    ++steps;
    if (wrapsLikePlatformBar && position + step > upper) {
      bar.SetPosition(lower + (position + step - upper));
    } else {
      bar.Step();
    }
    position = bar.position();
    events.push_back("STEP");
  }
  void MessageBox(const std::string& text, const std::string& caption) override {
    boxes.push_back(caption + "|" + text);
    events.push_back("BOX " + caption + "|" + text);
  }
  std::optional<std::string> PickFolder(const std::string& prompt,
                                        const std::string& initialFolder) override {
    lastPrompt = prompt;
    lastInitialFolder = initialFolder;
    events.push_back("PICK " + prompt);
    return pickedFolder;
  }
  void ShowTransfer(const TransferProgress& progress) override {
    if (onTransfer) onTransfer(progress);
  }
  void DispatchPendingEvents() override {
    ++dispatches;
    if (onDispatch) onDispatch();
  }
  void HideWindow() override {
    hidden = true;
    events.push_back("HIDE");
  }
  void CloseAsOk() override {
    closed = true;
    events.push_back("CLOSE");
  }

  ProgressBarModel bar;

  // Whether an event equal to `event` was recorded.
  bool Saw(const std::string& event) const {
    return std::find(events.begin(), events.end(), event) != events.end();
  }
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_TESTING_RECORDING_VIEW_TESTING_H_
