// GtkPatcherView: the patcher's dialog as a GTK 3 window.
//
// A fixed-size window laid out from the dialog template: positions and
// sizes in dialog units, converted to pixels with the window font's
// average character width / 4 and height / 8. The picture sits on the
// left, the install folder, status, progress bar and buttons on the right.
//
// This header is free of GTK: the rest of the program includes it without
// the toolkit's headers. Only the .cc files of this folder include GTK.
//
//   if (GtkPatcherView::OpenDisplay()) {
//     GtkPatcherView view;
//     view.SetHandlers({...});
//     ... the dialog's start ...
//     bool ok = view.RunModal();
//   }
#ifndef MARROWGATE_APP_GTK_GTK_PATCHER_VIEW_H_
#define MARROWGATE_APP_GTK_GTK_PATCHER_VIEW_H_

#include <memory>
#include <optional>
#include <string>

#include "app/modal_patcher_view.h"

namespace marrowgate {

// A label under the progress bar, the window's own beside the template's
// controls: the file being copied, the bytes, the rate and the time left
// (TransferMeter's compact line), redrawn at most every
// TransferMeter::kRedrawMs and at each new file.
inline constexpr int kControlTransferLine = 1008;

// A rectangle in pixels.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
};

// Dialog units to pixels: x and widths scale by averageCharWidth / 4,
// y and heights by charHeight / 8 (rounded to the nearest pixel).
PixelRect DialogUnitsToPixels(int x, int y, int width, int height, int averageCharWidth,
                              int charHeight);

class GtkPatcherView : public ModalPatcherView {
 public:
  // Initialises GTK once for the process when DISPLAY or WAYLAND_DISPLAY is
  // set and the display opens. False: no window can be shown.
  static bool OpenDisplay();

  // Builds the (not yet shown) window. OpenDisplay() must have succeeded.
  GtkPatcherView();
  ~GtkPatcherView() override;
  GtkPatcherView(const GtkPatcherView&) = delete;
  GtkPatcherView& operator=(const GtkPatcherView&) = delete;

  // PatcherView.
  void SetTitle(const std::string& title) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  void ShowControl(int controlId, bool shown) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressStep(int step) override;
  void SetProgressPosition(int position) override;
  void StepProgress() override;
  void ShowTransfer(const TransferProgress& progress) override;
  void MessageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::string> PickFolder(const std::string& prompt,
                                        const std::string& initialFolder) override;
  void DispatchPendingEvents() override;
  void HideWindow() override;
  void CloseAsOk() override;

  // ModalPatcherView.
  void SetHandlers(PatcherViewHandlers handlers) override;
  bool RunModal() override;

  // For tests and screenshots: what the controls hold now.
  std::string ControlText(int controlId) const;
  bool ControlEnabled(int controlId) const;
  bool ControlVisible(int controlId) const;
  double ProgressFraction() const;
  int ProgressPosition() const;
  std::string Title() const;
  bool WindowVisible() const;
  // The window's size and a control's place in pixels (an unknown id
  // gives an empty rectangle).
  PixelRect WindowSize() const;
  PixelRect ControlRect(int controlId) const;
  // Simulates a click on Start, Browse or Exit, or the window manager's
  // close (controlId 0), as the user's input would arrive.
  void Click(int controlId);
  // True once the modal loop was asked to end.
  bool Closing() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_GTK_GTK_PATCHER_VIEW_H_
