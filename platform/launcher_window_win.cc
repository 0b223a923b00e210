// Launcher windows: FindWindowA("Static", title) and WM_COPYDATA sent with
// SendMessageTimeoutA, so that a launcher which stalls or hangs costs the
// sender its timeout and no more.
#include "platform/launcher_window.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace marrowgate::platform {
namespace {

constexpr char kLauncherClass[] = "Static";

bool UsableTitle(std::string_view title) {
  return !title.empty() && title.size() <= kMaxLauncherTitle &&
         title.find('\0') == std::string_view::npos;
}

HWND ToWindow(void* window) { return static_cast<HWND>(window); }

// The SID of the user `process` runs as, copied into *sid.
bool UserSidOf(HANDLE process, std::string* sid) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::string buffer(size > 0 ? size : 1, '\0');
  bool ok = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
  CloseHandle(token);
  if (!ok) return false;
  PSID user = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  if (!IsValidSid(user)) return false;
  sid->assign(static_cast<const char*>(user), GetLengthSid(user));
  return true;
}

}  // namespace

std::unique_ptr<LauncherWindow> LauncherWindow::Find(std::string_view title) {
  if (!UsableTitle(title)) return nullptr;
  const std::string text(title);
  HWND window = FindWindowA(kLauncherClass, text.c_str());
  if (window == nullptr) return nullptr;
  return std::unique_ptr<LauncherWindow>(new LauncherWindow(window));
}

WindowSendResult LauncherWindow::Send(int32_t tag, int32_t value, std::string_view text,
                                      int timeoutMs, int32_t* answer) {
  HWND window = ToWindow(window_);
  if (!IsWindow(window)) return kWindowGone;
  if (text.size() > 0x7FFFFFFF) return kWindowSendFailed;
  static const char kEmpty[] = "";
  COPYDATASTRUCT record{};
  record.dwData = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(value));
  record.cbData = static_cast<DWORD>(text.size());
  record.lpData = const_cast<char*>(text.empty() ? kEmpty : text.data());
  DWORD_PTR result = 0;
  SetLastError(ERROR_SUCCESS);
  const LRESULT sent = SendMessageTimeoutA(
      window, WM_COPYDATA, static_cast<WPARAM>(static_cast<LONG_PTR>(tag)),
      reinterpret_cast<LPARAM>(&record), SMTO_ABORTIFHUNG | SMTO_BLOCK,
      static_cast<UINT>(std::max(1, timeoutMs)), &result);
  if (sent != 0) {
    *answer = static_cast<int32_t>(static_cast<uint32_t>(result));
    return kWindowAnswered;
  }
  const DWORD code = GetLastError();
  if (!IsWindow(window)) return kWindowGone;
  // A hung window is given up at once, with or without ERROR_TIMEOUT.
  if (code == ERROR_TIMEOUT || code == ERROR_SUCCESS) return kWindowTimedOut;
  return kWindowSendFailed;
}

bool LauncherWindow::OwnedByThisUser() const {
  DWORD process = 0;
  GetWindowThreadProcessId(ToWindow(window_), &process);
  if (process == 0) return false;
  if (process == GetCurrentProcessId()) return true;
  HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
  if (handle == nullptr) return false;
  std::string theirs;
  std::string ours;
  const bool known = UserSidOf(handle, &theirs) && UserSidOf(GetCurrentProcess(), &ours);
  CloseHandle(handle);
  return known && theirs == ours;
}

struct LauncherWindowHost::State {
  HWND window = nullptr;
  WNDPROC staticProc = nullptr;
  Handler handler;
  std::atomic<bool> stop{false};
  bool sawRecord = false;
};

namespace {

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* state =
      reinterpret_cast<LauncherWindowHost::State*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (state == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_COPYDATA) {
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    if (record == nullptr) return 0;
    std::string_view text;
    if (record->lpData != nullptr) {
      text = std::string_view(static_cast<const char*>(record->lpData), record->cbData);
    }
    state->sawRecord = true;
    int32_t answer = 0;
    try {
      answer = state->handler(static_cast<int32_t>(wParam),
                              static_cast<int32_t>(static_cast<uint32_t>(record->dwData)), text);
    } catch (...) {
      answer = 0;
    }
    return static_cast<LRESULT>(static_cast<LONG_PTR>(answer));
  }
  return CallWindowProcA(state->staticProc, window, message, wParam, lParam);
}

}  // namespace

LauncherWindowHost::LauncherWindowHost(std::unique_ptr<State> state) : state_(std::move(state)) {}

LauncherWindowHost::~LauncherWindowHost() {
  if (state_ != nullptr && state_->window != nullptr) {
    SetWindowLongPtrA(state_->window, GWLP_USERDATA, 0);
    DestroyWindow(state_->window);
  }
}

std::unique_ptr<LauncherWindowHost> LauncherWindowHost::Create(std::string_view title,
                                                               Handler handler) {
  if (!UsableTitle(title) || !handler) return nullptr;
  const std::string text(title);
  if (FindWindowA(kLauncherClass, text.c_str()) != nullptr) return nullptr;
  auto state = std::make_unique<State>();
  state->handler = std::move(handler);
  // A top-level window, never shown: message-only windows cannot be found
  // by title.
  state->window = CreateWindowExA(0, kLauncherClass, text.c_str(), WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr);
  if (state->window == nullptr) return nullptr;
  SetWindowLongPtrA(state->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.get()));
  state->staticProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
      state->window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostProc)));
  if (state->staticProc == nullptr) {
    DestroyWindow(state->window);
    return nullptr;
  }
  // Patchers started with less privilege than the launcher may still
  // send their records.
  ChangeWindowMessageFilterEx(state->window, WM_COPYDATA, MSGFLT_ALLOW, nullptr);
  return std::unique_ptr<LauncherWindowHost>(new LauncherWindowHost(std::move(state)));
}

bool LauncherWindowHost::Serve(int idleMs) {
  State& state = *state_;
  ULONGLONG deadline = idleMs < 0 ? 0 : GetTickCount64() + static_cast<ULONGLONG>(idleMs);
  state.sawRecord = false;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Left for an outer loop of this thread.
        PostQuitMessage(static_cast<int>(message.wParam));
        return true;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
      if (state.stop.load()) break;
    }
    if (state.stop.load()) {
      state.stop.store(false);
      return true;
    }
    DWORD wait = INFINITE;
    if (idleMs >= 0) {
      const ULONGLONG now = GetTickCount64();
      if (state.sawRecord) {
        state.sawRecord = false;
        deadline = now + static_cast<ULONGLONG>(idleMs);
      }
      if (now >= deadline) return false;
      wait = static_cast<DWORD>(deadline - now);
    }
    // Records sent from other threads and processes are handled inside
    // PeekMessageA; this wakes for them as for posted messages.
    MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

void LauncherWindowHost::Stop() {
  state_->stop.store(true);
  PostMessageA(state_->window, WM_NULL, 0, 0);
}

}  // namespace marrowgate::platform
