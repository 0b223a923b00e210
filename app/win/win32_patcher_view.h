// Win32PatcherView: the patcher's dialog as a Win32 dialog.
//
// The window is dialog template 102 of the program's resources
// (app/win/patcher_dialog.rc, linked into the program), with icon 128 set
// as the window's big and small icon (WM_SETICON) and painted centred
// while the dialog is minimised, and bitmap 129 as the picture. The
// progress bar is driven by its own messages (PBM_SETRANGE, PBM_SETSTEP,
// PBM_SETPOS, PBM_STEPIT), Browse opens the shell's folder picker
// (SHBrowseForFolderA), and DispatchPendingEvents() is the PeekMessageA /
// TranslateMessage / DispatchMessageA pump. Texts are narrow strings in the
// system code page, as the message file holds them.
//
// This header is free of system headers; only the .cc files of this folder
// include them.
//
//   if (Win32PatcherView::OpenDisplay()) {
//     Win32PatcherView view;       // the dialog, created hidden
//     view.SetHandlers({...});
//     ... the dialog's start ...
//     bool ok = view.RunModal();
//   }
#ifndef MARROWGATE_APP_WIN_WIN32_PATCHER_VIEW_H_
#define MARROWGATE_APP_WIN_WIN32_PATCHER_VIEW_H_

#include <memory>
#include <optional>
#include <string>

#include "app/modal_patcher_view.h"

namespace marrowgate {

// Resource ids of the program's dialog, icon and picture.
inline constexpr int kResourceDialog = 102;
inline constexpr int kResourceIcon = 128;
inline constexpr int kResourceBitmap = 129;

class Win32PatcherView : public ModalPatcherView {
 public:
  // Initialises the common controls (progress bar) and COM for the folder
  // picker, once for the process. False: no window can be shown.
  static bool OpenDisplay();

  // Creates the dialog from template 102, hidden. Created() tells whether
  // it could be made (the resources are part of the program).
  Win32PatcherView();
  ~Win32PatcherView() override;
  Win32PatcherView(const Win32PatcherView&) = delete;
  Win32PatcherView& operator=(const Win32PatcherView&) = delete;
  bool Created() const;

  // PatcherView.
  void SetTitle(const std::string& title) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  void ShowControl(int controlId, bool shown) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressStep(int step) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string& prompt,
                                        const std::string& initialFolder) override;
  void DispatchPendingEvents() override;
  void HideWindow() override;
  void CloseAsOk() override;

  // ModalPatcherView.
  void SetHandlers(PatcherViewHandlers handlers) override;
  bool RunModal() override;

  // For tests: what the controls hold now, and input as the user's would
  // arrive (a click on Start, Browse or Exit; controlId 0: the window's
  // close box).
  std::string ControlText(int controlId) const;
  bool ControlEnabled(int controlId) const;
  bool ControlVisible(int controlId) const;
  std::string Title() const;
  int ProgressPosition() const;
  int ProgressUpper() const;
  void Click(int controlId);
  bool Closing() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_WIN_WIN32_PATCHER_VIEW_H_
