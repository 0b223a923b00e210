// The launcher link where launchers are windows: a launcher window served
// on a thread of its own stands in for the launcher's process.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "app/parent_link.h"
#include "platform/env.h"
#include "platform/launcher_window.h"

namespace marrowgate {
namespace {

using Clock = std::chrono::steady_clock;

std::string UniqueTitle(const char* what) {
  return std::string("mg link ") + what + " " + std::to_string(platform::TickMilliseconds()) +
         "." + std::to_string(reinterpret_cast<uintptr_t>(&what) & 0xFFFF);
}

// A launcher window on its own thread: records what it gets, waits
// `stallMs` and answers with the record's position (from 1).
class Launcher {
 public:
  Launcher(const std::string& title, int stallMs) : stallMs_(stallMs) {
    thread_ = std::thread([this, title] {
      auto host = platform::LauncherWindowHost::Create(
          title, [this](int32_t tag, int32_t value, std::string_view text) {
            int32_t position;
            {
              std::lock_guard<std::mutex> lock(mutex_);
              records_.push_back({tag, value, std::string(text)});
              position = static_cast<int32_t>(records_.size());
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_.load()));
            return position;
          });
      {
        std::lock_guard<std::mutex> lock(mutex_);
        host_ = host.get();
        made_ = true;
      }
      ready_.notify_all();
      if (host != nullptr) host->Serve(20000);
      std::lock_guard<std::mutex> lock(mutex_);
      host_ = nullptr;
    });
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return made_; });
  }
  ~Launcher() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (host_ != nullptr) host_->Stop();
    }
    thread_.join();
  }
  bool up() {
    std::lock_guard<std::mutex> lock(mutex_);
    return host_ != nullptr;
  }
  std::vector<ParentRecord> records() {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_;
  }

 private:
  std::atomic<int> stallMs_;
  std::mutex mutex_;
  std::condition_variable ready_;
  platform::LauncherWindowHost* host_ = nullptr;
  bool made_ = false;
  std::vector<ParentRecord> records_;
  std::thread thread_;
};

std::vector<std::string> Lines(const std::vector<ParentRecord>& records) {
  std::vector<std::string> lines;
  for (const ParentRecord& r : records) {
    lines.push_back(std::to_string(r.tag) + " " + std::to_string(r.value) + " " + r.text);
  }
  return lines;
}

TEST(ParentLinkWindow, ARunReachesTheLauncherWindow) {
  ASSERT_TRUE(platform::kLauncherWindows);
  const std::string title = UniqueTitle("run");
  Launcher launcher(title, 0);
  ASSERT_TRUE(launcher.up());
  ParentLink link(2000);
  link.AttachParentLater(title);
  EXPECT_FALSE(link.IsInteractive());
  EXPECT_FALSE(link.HasParent());
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "first"), 1);
  EXPECT_TRUE(link.HasParent());
  link.StartParentProgress();
  link.StepParentProgress(3);
  link.StepParentProgress(0);
  link.StepParentProgress(0);
  link.StepParentProgress(0);
  link.NotifyParent(203, "Update failed (-10100)");
  link.FinishParentProgress();
  EXPECT_EQ(link.SendToParent(kParentTagProgress, 7, {}), 10);
  EXPECT_TRUE(link.HasParent());
  EXPECT_EQ(Lines(launcher.records()),
            (std::vector<std::string>{"-16 300 first", "-15 0 ", "-15 33 ", "-15 66 ", "-15 99 ",
                                      "-16 262 Update failed (-10100)",
                                      "-16 273 Update failed (-10100)", "-15 100 ", "-15 -1 ",
                                      "-15 7 "}));
}

TEST(ParentLinkWindow, NoWindowNoParent) {
  ParentLink link(2000);
  EXPECT_FALSE(link.AttachParent(UniqueTitle("nobody")));
  EXPECT_FALSE(link.IsInteractive());
  EXPECT_FALSE(link.HasParent());
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "lost"), 0);
}

// A launcher that stalls in its handler: the first record costs the
// answer timeout, the link is dropped, and the rest of the run sends
// nothing and waits for nothing.
TEST(ParentLinkWindow, StalledLauncherCostsOneTimeout) {
  const std::string title = UniqueTitle("stalled");
  Launcher launcher(title, 1500);
  ASSERT_TRUE(launcher.up());
  ParentLink link(300, 30000);
  ASSERT_TRUE(link.AttachParent(title));
  const auto start = Clock::now();
  link.StartParentProgress();
  EXPECT_FALSE(link.HasParent());
  link.StepParentProgress(2);
  link.StepParentProgress(0);
  link.NotifyParent(203, "Update failed (-3)");
  link.FinishParentProgress();
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_LT(took, std::chrono::milliseconds(1500));
  EXPECT_EQ(launcher.records().size(), 1u);
}

// A launcher that answers each record just within the answer timeout
// cannot stretch a run past the waiting budget.
TEST(ParentLinkWindow, SlowLauncherStopsAtTheBudget) {
  const std::string title = UniqueTitle("slow");
  Launcher launcher(title, 200);
  ASSERT_TRUE(launcher.up());
  ParentLink link(1000, 900);
  ASSERT_TRUE(link.AttachParent(title));
  const auto start = Clock::now();
  link.StartParentProgress();
  link.StepParentProgress(20);
  for (int i = 0; i < 20; ++i) link.StepParentProgress(0);
  link.FinishParentProgress();
  const auto took = Clock::now() - start;
  EXPECT_FALSE(link.HasParent());
  EXPECT_LT(took, std::chrono::milliseconds(2000));
  const size_t got = launcher.records().size();
  EXPECT_GE(got, 3u);
  EXPECT_LE(got, 6u);
}

}  // namespace
}  // namespace marrowgate
