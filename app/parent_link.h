// ParentLink: the patcher's link to a launching program, named by "/user
// TITLE" on the command line. Messages and progress go to the launcher's
// listener as records (app/parent_record.h) instead of message boxes.
//
//   ParentLink link;              // interactive, no parent
//   link.AttachParent("Launcher");  // non-interactive from now on
//   link.StartParentProgress();     // progress 0
//   link.StepParentProgress(120);   // total 120, nothing sent
//   link.StepParentProgress(0);     // progress 0 (1 * 100 / 120)
//   link.NotifyParent(203, text);   // codes 262, then 273, same text
//   link.FinishParentProgress();    // progress 100, then -1
//
// Whatever the listener does, the run goes on. Connecting, sending a record
// and waiting for its answer are each bounded by the answer timeout
// (kParentAnswerTimeoutMs, 10 s), and all waiting on the launcher in one
// run together by kParentWaitBudgetMs (30 s), so a slow peer cannot stretch
// a run without limit. When a bound is passed, or the listener has gone, the
// link is dropped (a debug line says so) and later records go nowhere.
//
// Only the player's own launcher is told anything: before the first record
// the listener's user is checked, and a listener of another user (other
// than root) gets nothing; the run goes on without a parent.
//
// Where launchers are windows (platform::kLauncherWindows), the parent is
// the launcher's "Static" window of that title and each record goes to it
// as one window message (platform/launcher_window.h), bounded the same way;
// elsewhere it is the listener at the title's socket address.
#ifndef MARROWGATE_APP_PARENT_LINK_H_
#define MARROWGATE_APP_PARENT_LINK_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/parent_record.h"
#include "platform/launcher_window.h"
#include "platform/local_socket.h"

namespace marrowgate {

// The parent codes sent for message `number`, in order: 6 -> 280;
// 203 -> 262, 273; 207 -> 261; 208 -> 208; 213 -> 273; 304 -> 260;
// 306 -> 259; any other -> 300.
std::vector<int32_t> ParentCodes(int32_t number);

// The longest wait for one step of the link: a connection taken, a record
// sent, its answer.
constexpr int kParentAnswerTimeoutMs = 10000;
// All waiting on the launcher in one run (from StartParentProgress, the
// connection included) ends after this much; the link is then dropped.
constexpr int kParentWaitBudgetMs = 30000;

class ParentLink {
 public:
  explicit ParentLink(int answerTimeoutMs = kParentAnswerTimeoutMs,
                      int waitBudgetMs = kParentWaitBudgetMs)
      : answerTimeoutMs_(answerTimeoutMs),
        waitBudgetMs_(waitBudgetMs),
        budgetLeftMs_(waitBudgetMs) {}

  // Connects to the launcher of `title`: its window, or the listener at
  // LauncherAddress(title) where launchers are not windows. The patcher
  // becomes non-interactive whether or not one listens. True when one
  // was found and it runs as this process's user or as root.
  bool AttachParent(std::string_view title);
  // Like AttachParent, but the connection is made at the first record, so
  // a window can show before the launcher is reached. The patcher is
  // non-interactive from now on.
  void AttachParentLater(std::string_view title);
  // Uses `socket` (connected to a listener) as the parent; the patcher
  // becomes non-interactive. A null socket means no parent.
  void AttachSocket(std::unique_ptr<platform::LocalSocket> socket);

  bool IsInteractive() const { return interactive_; }
  // A connected parent (one named for later is not yet connected).
  bool HasParent() const { return socket_ != nullptr || window_ != nullptr; }

  // Sends one record and returns the listener's answer; 0 when there is no
  // parent or the link was dropped by this call.
  int32_t SendToParent(int32_t tag, int32_t value, std::string_view text);

  // One message record (tag -16) per code of ParentCodes(number), each
  // with `text`.
  void NotifyParent(int32_t number, std::string_view text);

  // Progress record 0. A run starts here: its waiting budget is whole again.
  void StartParentProgress();
  // n > 0: n becomes the total, nothing is sent. Otherwise the count grows
  // by one and count * 100 / total is sent (100 is sent as 99); with no
  // total nothing is sent.
  void StepParentProgress(int32_t n);
  // Progress records 100, then -1.
  void FinishParentProgress();

  int32_t progress_total() const { return progressTotal_; }
  int32_t progress_count() const { return progressCount_; }

 private:
  void Drop(const std::string& why);
  // Connects to the launcher of `title` and checks its user.
  bool Connect(std::string_view title);
  bool ConnectWindow(std::string_view title, const std::string& quoted);
  int32_t SendToWindow(int32_t tag, int32_t value, std::string_view text);
  std::string SpentReason() const;
  // The bound of the next wait; 0 when the budget is spent.
  int NextWaitMs() const;
  void Spend(uint32_t startTick);

  int answerTimeoutMs_;
  int waitBudgetMs_;
  int budgetLeftMs_;
  bool interactive_ = true;
  std::string laterTitle_;
  bool connectLater_ = false;
  std::unique_ptr<platform::LocalSocket> socket_;
  std::unique_ptr<platform::LauncherWindow> window_;
  int32_t progressTotal_ = 0;
  int32_t progressCount_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_PARENT_LINK_H_
