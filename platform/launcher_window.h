// The launcher's window: how a patcher started by a launching program
// reaches it on Windows. The launcher shows (or hides) a top-level window
// of class "Static" with its title; each record goes to that window as one
// WM_COPYDATA message:
//   WPARAM  the record's tag (-16 a message, -15 progress)
//   COPYDATASTRUCT.dwData  the record's value (a code or a progress value)
//   COPYDATASTRUCT.cbData  the text's length in bytes, without terminator
//   COPYDATASTRUCT.lpData  the text
// and the value the window returns for the message is the record's answer.
// 32-bit values travel sign-extended in the pointer-sized fields and are
// read back from their low 32 bits.
//
// Other systems reach the launcher through a local socket
// (platform/local_socket.h); there Find finds nothing and Create makes
// nothing. kLauncherWindows tells which way this build goes.
//
// No call throws. A send never waits longer than its timeout, whatever the
// window does: one that stalls in its handler, or whose thread is hung.
#ifndef MARROWGATE_PLATFORM_LAUNCHER_WINDOW_H_
#define MARROWGATE_PLATFORM_LAUNCHER_WINDOW_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>

namespace marrowgate::platform {

#ifdef _WIN32
inline constexpr bool kLauncherWindows = true;
#else
inline constexpr bool kLauncherWindows = false;
#endif

// The longest title a launcher window may have (bytes, no terminator).
constexpr size_t kMaxLauncherTitle = 255;

// Results of LauncherWindow::Send.
enum WindowSendResult : int {
  kWindowAnswered = 1,
  kWindowGone = 0,        // the window no longer exists
  kWindowSendFailed = -1,
  kWindowTimedOut = -2,   // no answer within the timeout (or the window hangs)
};

// The patcher's side: a found launcher window.
class LauncherWindow {
 public:
  // The top-level window of class "Static" titled exactly `title`; null
  // when there is none, when the title is empty, longer than
  // kMaxLauncherTitle or holds a NUL byte, or on a system without windows.
  static std::unique_ptr<LauncherWindow> Find(std::string_view title);

  ~LauncherWindow() = default;
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;

  // Sends one record and waits at most `timeoutMs` (0 or more) for the
  // window to handle it; on kWindowAnswered *answer holds its answer.
  WindowSendResult Send(int32_t tag, int32_t value, std::string_view text, int timeoutMs,
                        int32_t* answer);

  // Whether the process that owns the window runs as this process's user;
  // false when that cannot be told.
  bool OwnedByThisUser() const;

 private:
  explicit LauncherWindow(void* window) : window_(window) {}
  void* window_;
};

// The launcher's side: a hidden top-level "Static" window with a title,
// whose records a handler answers. The window belongs to the thread that
// created it and is served by that thread.
class LauncherWindowHost {
 public:
  // Answers one record. Called on the serving thread.
  using Handler = std::function<int32_t(int32_t tag, int32_t value, std::string_view text)>;

  // Creates the window on the calling thread. Null when the title is not
  // usable (see LauncherWindow::Find), a "Static" window of that title
  // exists already, or the window cannot be made.
  static std::unique_ptr<LauncherWindowHost> Create(std::string_view title, Handler handler);

  ~LauncherWindowHost();  // destroys the window (on the thread that made it)
  LauncherWindowHost(const LauncherWindowHost&) = delete;
  LauncherWindowHost& operator=(const LauncherWindowHost&) = delete;

  // Handles the calling thread's window messages, records included, until
  // Stop is called or `idleMs` pass without a record (negative: no limit).
  // True when stopped, false when the idle time ran out.
  bool Serve(int idleMs);
  // Ends Serve after the record being handled; callable from any thread,
  // the handler included.
  void Stop();

  struct State;

 private:
  explicit LauncherWindowHost(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_LAUNCHER_WINDOW_H_
