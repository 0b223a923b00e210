#include "platform/launcher_window.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace marrowgate::platform {
namespace {

std::string UniqueTitle(const char* what) {
  return std::string("mg ") + what + " " + std::to_string(GetCurrentProcessId()) + "." +
         std::to_string(GetTickCount64());
}

// What a window received, field by field, as the system delivered it.
struct RawRecord {
  WPARAM wParam = 0;
  ULONG_PTR dwData = 0;
  DWORD cbData = 0;
  std::string bytes;
};

// A host serving on a thread of its own, as a launcher's window does in
// another process.
class HostThread {
 public:
  HostThread(std::string title, LauncherWindowHost::Handler handler, int idleMs = 20000)
      : title_(std::move(title)) {
    thread_ = std::thread([this, handler, idleMs] {
      auto host = LauncherWindowHost::Create(title_, handler);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        host_ = host.get();
        made_ = true;
      }
      ready_.notify_all();
      if (host != nullptr) served_ = host->Serve(idleMs) ? 1 : 2;
      std::lock_guard<std::mutex> lock(mutex_);
      host_ = nullptr;
    });
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return made_; });
    created_ = host_ != nullptr;
  }
  ~HostThread() {
    Stop();
    Join();
  }
  bool created() const { return created_; }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (host_ != nullptr) host_->Stop();
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  int served() const { return served_; }  // 1 stopped, 2 idle

 private:
  std::string title_;
  std::mutex mutex_;
  std::condition_variable ready_;
  LauncherWindowHost* host_ = nullptr;
  bool made_ = false;
  bool created_ = false;
  std::atomic<int> served_{0};
  std::thread thread_;
};

struct Seen {
  int32_t tag;
  int32_t value;
  std::string text;
  bool operator==(const Seen&) const = default;
};

// Records sent to a host come back with their tag, value and text whole,
// the handler's answer is the sender's, and the host ends when stopped.
TEST(LauncherWindow, RecordsAndAnswersBetweenThreads) {
  const std::string title = UniqueTitle("records");
  std::mutex mutex;
  std::vector<Seen> seen;
  HostThread host(title, [&](int32_t tag, int32_t value, std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex);
    seen.push_back({tag, value, std::string(text)});
    return value == 208 ? -7 : static_cast<int32_t>(seen.size());
  });
  ASSERT_TRUE(host.created());
  auto window = LauncherWindow::Find(title);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->OwnedByThisUser());
  const std::string binary("a\0b\xff\x80 c", 7);
  int32_t answer = 99;
  EXPECT_EQ(window->Send(-16, 262, "Update failed (-10100)", 2000, &answer), kWindowAnswered);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(window->Send(-15, -1, {}, 2000, &answer), kWindowAnswered);
  EXPECT_EQ(answer, 2);
  EXPECT_EQ(window->Send(-16, 208, binary, 2000, &answer), kWindowAnswered);
  EXPECT_EQ(answer, -7);
  EXPECT_EQ(window->Send(INT32_MIN, INT32_MAX, "x", 2000, &answer), kWindowAnswered);
  host.Stop();
  host.Join();
  EXPECT_EQ(host.served(), 1);
  std::vector<Seen> expected{{-16, 262, "Update failed (-10100)"},
                             {-15, -1, ""},
                             {-16, 208, binary},
                             {INT32_MIN, INT32_MAX, "x"}};
  EXPECT_EQ(seen, expected);
  // The window went with its host.
  EXPECT_EQ(window->Send(-15, 0, {}, 2000, &answer), kWindowGone);
  EXPECT_EQ(LauncherWindow::Find(title), nullptr);
}

// The message itself, as any launcher window sees it: WPARAM the tag, the
// COPYDATASTRUCT {value, text length without terminator, text}, and the
// window procedure's result as the answer.
LRESULT CALLBACK RawProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    auto* raw = reinterpret_cast<RawRecord*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    raw->wParam = wParam;
    raw->dwData = data->dwData;
    raw->cbData = data->cbData;
    raw->bytes.assign(static_cast<const char*>(data->lpData), data->cbData);
    return 0x12345678;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(LauncherWindow, RecordLayoutOnTheWire) {
  const std::string title = UniqueTitle("layout");
  RawRecord raw;
  std::atomic<HWND> made{nullptr};
  std::atomic<bool> done{false};
  std::thread owner([&] {
    HWND window = CreateWindowExA(0, "Static", title.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
    if (window != nullptr) {
      SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&raw));
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RawProc));
    }
    made = window != nullptr ? window : HWND(-1);
    while (!done) {
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
      MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
    if (window != nullptr) DestroyWindow(window);
  });
  while (made == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_NE(made.load(), HWND(-1));
  auto window = LauncherWindow::Find(title);
  ASSERT_NE(window, nullptr);
  int32_t answer = 0;
  EXPECT_EQ(window->Send(-16, 273, "Bad version", 2000, &answer), kWindowAnswered);
  EXPECT_EQ(answer, 0x12345678);
  EXPECT_EQ(static_cast<int32_t>(raw.wParam), -16);
  EXPECT_EQ(static_cast<int32_t>(raw.dwData), 273);
  EXPECT_EQ(raw.cbData, 11u);
  EXPECT_EQ(raw.bytes, "Bad version");
  EXPECT_EQ(window->Send(-15, -1, {}, 2000, &answer), kWindowAnswered);
  EXPECT_EQ(static_cast<int32_t>(raw.wParam), -15);
  EXPECT_EQ(static_cast<int32_t>(raw.dwData), -1);
  EXPECT_EQ(raw.cbData, 0u);
  done = true;
  owner.join();
}

// A launcher that does not answer costs the sender its timeout, and no
// more; the host goes on answering afterwards.
TEST(LauncherWindow, StalledWindowIsBounded) {
  const std::string title = UniqueTitle("stalled");
  std::atomic<int> stallMs{1500};
  HostThread host(title, [&](int32_t, int32_t value, std::string_view) {
    std::this_thread::sleep_for(std::chrono::milliseconds(stallMs.load()));
    return value;
  });
  ASSERT_TRUE(host.created());
  auto window = LauncherWindow::Find(title);
  ASSERT_NE(window, nullptr);
  int32_t answer = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(window->Send(-15, 5, {}, 200, &answer), kWindowTimedOut);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(150));
  EXPECT_LT(took, std::chrono::milliseconds(1200));
  stallMs = 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));
  EXPECT_EQ(window->Send(-15, 6, {}, 2000, &answer), kWindowAnswered);
  EXPECT_EQ(answer, 6);
}

TEST(LauncherWindow, IdleHostEndsAndTitlesAreChecked) {
  const std::string title = UniqueTitle("idle");
  HostThread host(title, [](int32_t, int32_t, std::string_view) { return 0; }, 100);
  ASSERT_TRUE(host.created());
  // A second window of the same title would make the link ambiguous.
  EXPECT_EQ(LauncherWindowHost::Create(title, [](int32_t, int32_t, std::string_view) { return 0; }),
            nullptr);
  host.Join();
  EXPECT_EQ(host.served(), 2);

  auto handler = [](int32_t, int32_t, std::string_view) { return 0; };
  for (const std::string& bad :
       {std::string(), std::string("a\0b", 3), std::string(kMaxLauncherTitle + 1, 't')}) {
    EXPECT_EQ(LauncherWindow::Find(bad), nullptr);
    EXPECT_EQ(LauncherWindowHost::Create(bad, handler), nullptr);
  }
  EXPECT_EQ(LauncherWindow::Find(UniqueTitle("nobody")), nullptr);
}

}  // namespace
}  // namespace marrowgate::platform
