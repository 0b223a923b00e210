#include "app/win/win32_patcher_view.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>

#include <string>
#include <utility>

// windows.h maps MessageBox to MessageBoxA; this file calls the A
// functions by name.
#undef MessageBox

namespace marrowgate {

namespace {

// At most this many window messages per DispatchPendingEvents(), so that a
// message that keeps itself pending cannot hold a run up.
constexpr int kMaxDispatchedMessages = 10000;

HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

}  // namespace

struct Win32PatcherView::Impl {
  HWND dialog = nullptr;
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  PatcherViewHandlers handlers;
  bool hidden = false;        // HideWindow() was called
  ModalEnding ending;
  bool shownOnce = false;

  HWND Control(int id) const { return dialog != nullptr ? GetDlgItem(dialog, id) : nullptr; }

  // A run is under way while Exit is disabled.
  bool RunUnderWay() const {
    HWND exitButton = Control(kControlExit);
    return exitButton != nullptr && IsWindowEnabled(exitButton) == 0;
  }

  void End(bool ok) { ending.End(ok); }
  void CloseRequest() { ending.RequestClose(handlers, RunUnderWay()); }

  void Command(int id) {
    switch (id) {
      case kControlStart:
        if (handlers.onStart) handlers.onStart();
        break;
      case kControlBrowse:
        if (handlers.onBrowse) handlers.onBrowse();
        break;
      case IDCANCEL:  // Exit, the Escape key
        CloseRequest();
        break;
      default:  // IDOK from the Enter key: the dialog has no default button
        break;
    }
  }

  // The icon centred in the minimised window.
  void PaintMinimised() {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    GetClientRect(dialog, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, bigIcon);
    EndPaint(dialog, &paint);
  }
};

namespace {

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* impl = reinterpret_cast<Win32PatcherView::Impl*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, static_cast<LONG_PTR>(lParam));
    impl->dialog = window;
    SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(impl->bigIcon));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(impl->smallIcon));
    return TRUE;
  }
  auto* impl = reinterpret_cast<Win32PatcherView::Impl*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (impl == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) impl->Command(LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      impl->CloseRequest();
      return TRUE;
    case WM_PAINT:
      if (IsIconic(window) != 0) {
        impl->PaintMinimised();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(impl->bigIcon);
    case WM_DESTROY:
      // Destroyed by whoever: no control of it is touched again, and the
      // modal loop ends (after the run, if one is under way).
      SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      impl->dialog = nullptr;
      impl->End(false);
      return TRUE;
    default:
      return FALSE;
  }
}

// Selects the starting folder once the picker is up.
int CALLBACK PickerCallback(HWND picker, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED && data != 0) {
    SendMessageA(picker, BFFM_SETSELECTIONA, TRUE, data);
  }
  return 0;
}

std::string WindowText(HWND window) {
  if (window == nullptr) return "";
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return "";
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(window, text.data(), length + 1);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

}  // namespace

bool Win32PatcherView::OpenDisplay() {
  static int opened = -1;
  if (opened < 0) {
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    const bool common = InitCommonControlsEx(&controls) != 0;
    // The folder picker is a shell object: COM on this (the only) thread.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    opened = common && SUCCEEDED(com) ? 1 : 0;
  }
  return opened == 1;
}

Win32PatcherView::Win32PatcherView() : impl_(std::make_unique<Impl>()) {
  HINSTANCE instance = ProgramInstance();
  impl_->bigIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kResourceIcon),
                                                 IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                 GetSystemMetrics(SM_CYICON), 0));
  impl_->smallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kResourceIcon),
                                                   IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), 0));
  // A modeless dialog, run modally by RunModal(): the dialog's start sets
  // its texts before it is shown.
  CreateDialogParamA(instance, MAKEINTRESOURCEA(kResourceDialog), nullptr, DialogProcedure,
                     reinterpret_cast<LPARAM>(impl_.get()));
}

Win32PatcherView::~Win32PatcherView() {
  if (impl_->dialog != nullptr) DestroyWindow(impl_->dialog);
  if (impl_->bigIcon != nullptr) DestroyIcon(impl_->bigIcon);
  if (impl_->smallIcon != nullptr) DestroyIcon(impl_->smallIcon);
}

bool Win32PatcherView::Created() const { return impl_->dialog != nullptr; }

void Win32PatcherView::SetTitle(const std::string& title) {
  if (impl_->dialog != nullptr) SetWindowTextA(impl_->dialog, title.c_str());
}

void Win32PatcherView::SetControlText(int controlId, const std::string& text) {
  HWND control = impl_->Control(controlId);
  if (control != nullptr) SetWindowTextA(control, text.c_str());
}

void Win32PatcherView::EnableControl(int controlId, bool enabled) {
  HWND control = impl_->Control(controlId);
  if (control != nullptr) EnableWindow(control, enabled ? TRUE : FALSE);
  // A close asked for during the run is carried out once Exit is back.
  if (controlId == kControlExit && enabled) impl_->ending.ExitEnabled();
}

void Win32PatcherView::ShowControl(int controlId, bool shown) {
  HWND control = impl_->Control(controlId);
  if (control != nullptr) ShowWindow(control, shown ? SW_SHOW : SW_HIDE);
}

void Win32PatcherView::SetProgressRange(int lower, int upper) {
  HWND bar = impl_->Control(kControlProgress);
  if (bar == nullptr) return;
  if (upper < lower) upper = lower;
  // PBM_SETRANGE carries 16-bit bounds; a longer range (more than 65535
  // files) takes the 32-bit message instead of being cut.
  if (lower >= 0 && upper <= 0xFFFF) {
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
  } else {
    SendMessageA(bar, PBM_SETRANGE32, static_cast<WPARAM>(lower), static_cast<LPARAM>(upper));
  }
}

void Win32PatcherView::SetProgressStep(int step) {
  HWND bar = impl_->Control(kControlProgress);
  if (bar != nullptr) SendMessageA(bar, PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void Win32PatcherView::SetProgressPosition(int position) {
  HWND bar = impl_->Control(kControlProgress);
  if (bar != nullptr) SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Win32PatcherView::StepProgress() {
  HWND bar = impl_->Control(kControlProgress);
  if (bar == nullptr) return;
  // PBM_STEPIT wraps round at the top of the range; the bar stays full.
  const int upper = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
  const int position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  const int step = static_cast<int>(SendMessageA(bar, PBM_GETSTEP, 0, 0));
  if (static_cast<long long>(position) + step > upper) {
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(upper), 0);
  } else {
    SendMessageA(bar, PBM_STEPIT, 0, 0);
  }
}

void Win32PatcherView::MessageBox(const std::string& text, const std::string& caption) {
  std::string shownCaption = caption;
  if (shownCaption.empty()) shownCaption = Title();
  MessageBoxA(impl_->dialog, text.c_str(), shownCaption.c_str(), MB_OK);
}

std::optional<std::string> Win32PatcherView::PickFolder(const std::string& prompt,
                                                        const std::string& initialFolder) {
  std::string start = initialFolder;
  for (char& c : start) {
    if (c == '/') c = '\\';
  }
  BROWSEINFOA info{};
  info.hwndOwner = impl_->dialog;
  info.pidlRoot = nullptr;
  info.lpszTitle = prompt.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
  info.lpfn = PickerCallback;
  info.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
  LPITEMIDLIST item = SHBrowseForFolderA(&info);
  if (item == nullptr) return std::nullopt;
  char path[MAX_PATH + 1] = {};
  const bool converted = SHGetPathFromIDListA(item, path) != 0;
  CoTaskMemFree(item);
  if (!converted || path[0] == '\0') return std::nullopt;
  std::string chosen = path;
  // No trailing separator, except a root's own ("C:\").
  while (chosen.size() > 3 && (chosen.back() == '\\' || chosen.back() == '/')) chosen.pop_back();
  return chosen;
}

void Win32PatcherView::DispatchPendingEvents() {
  MSG message;
  for (int i = 0; i < kMaxDispatchedMessages && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
       ++i) {
    if (message.message == WM_QUIT) {
      // Left for the loop that owns the thread.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    if (impl_->dialog != nullptr && IsDialogMessageA(impl_->dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void Win32PatcherView::HideWindow() {
  impl_->hidden = true;
  if (impl_->dialog != nullptr) ShowWindow(impl_->dialog, SW_HIDE);
}

void Win32PatcherView::CloseAsOk() { impl_->End(true); }

void Win32PatcherView::SetHandlers(PatcherViewHandlers handlers) {
  impl_->handlers = std::move(handlers);
}

bool Win32PatcherView::RunModal() {
  if (!impl_->ending.done() && !impl_->hidden && impl_->dialog != nullptr) {
    ShowWindow(impl_->dialog, SW_SHOW);
    UpdateWindow(impl_->dialog);
    SetForegroundWindow(impl_->dialog);
    DispatchPendingEvents();
    if (impl_->dialog != nullptr && !impl_->shownOnce) {
      impl_->shownOnce = true;
      if (impl_->handlers.onShow) impl_->handlers.onShow();
    }
  }
  MSG message;
  while (!impl_->ending.done()) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == 0 || got == -1) {  // WM_QUIT, or no queue to read
      impl_->End(false);
      break;
    }
    if (impl_->dialog != nullptr && IsDialogMessageA(impl_->dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (impl_->dialog != nullptr) ShowWindow(impl_->dialog, SW_HIDE);
  DispatchPendingEvents();
  return impl_->ending.ok();
}

std::string Win32PatcherView::ControlText(int controlId) const {
  return WindowText(impl_->Control(controlId));
}

bool Win32PatcherView::ControlEnabled(int controlId) const {
  HWND control = impl_->Control(controlId);
  return control != nullptr && IsWindowEnabled(control) != 0;
}

bool Win32PatcherView::ControlVisible(int controlId) const {
  HWND control = impl_->Control(controlId);
  return control != nullptr && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::string Win32PatcherView::Title() const { return WindowText(impl_->dialog); }

int Win32PatcherView::ProgressPosition() const {
  HWND bar = impl_->Control(kControlProgress);
  return bar != nullptr ? static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0)) : 0;
}

int Win32PatcherView::ProgressUpper() const {
  HWND bar = impl_->Control(kControlProgress);
  return bar != nullptr ? static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0)) : 0;
}

void Win32PatcherView::Click(int controlId) {
  if (impl_->dialog == nullptr) return;
  if (controlId == 0) {
    SendMessageA(impl_->dialog, WM_CLOSE, 0, 0);
    return;
  }
  HWND control = impl_->Control(controlId);
  // A disabled button takes no click.
  if (control == nullptr || IsWindowEnabled(control) == 0) return;
  SendMessageA(impl_->dialog, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
               reinterpret_cast<LPARAM>(control));
}

bool Win32PatcherView::Closing() const { return impl_->ending.done(); }

}  // namespace marrowgate
