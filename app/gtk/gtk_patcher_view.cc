#include "app/gtk/gtk_patcher_view.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

#include "app/gtk/patcher_art.h"
#include "app/progress_bar_model.h"
#include "app/transfer_meter.h"
#include "platform/env.h"
#include "util/text.h"
#include "util/utf8.h"
#include "platform/file_tree.h"

namespace marrowgate {
namespace {

// Dialog template 102: the whole dialog and each control, in dialog units.
constexpr int kDialogWidthDu = 284;
constexpr int kDialogHeightDu = 172;

struct ControlTemplate {
  int id;
  int x, y, width, height;
};

constexpr int kPictureId = -1;

// The longest wait for the window to be mapped before the dialog goes on.
constexpr uint32_t kMapWaitMs = 1000;  // the picture has no id of its own

constexpr ControlTemplate kTemplate[] = {
    {kControlExit, 218, 149, 50, 16},
    {kPictureId, 7, 7, 85, 158},
    {kControlStart, 101, 149, 50, 16},
    {kControlHiddenEdit, 101, 15, 167, 12},
    {kControlPathLabel, 101, 43, 113, 8},
    {kControlInstallPath, 101, 67, 167, 12},
    {kControlBrowse, 218, 39, 50, 16},
    {kControlStatus, 101, 92, 167, 12},
    {kControlProgress, 101, 118, 167, 12},
    {kControlTransferLine, 101, 133, 167, 8},
};

const ControlTemplate& TemplateOf(int id) {
  for (const ControlTemplate& t : kTemplate) {
    if (t.id == id) return t;
  }
  return kTemplate[0];
}

// Entries and buttons as tall as the template makes them, not as the
// theme's minimum would.
constexpr const char kCss[] =
    "#marrowgate-dialog entry { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
    "#marrowgate-dialog button { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
    "#marrowgate-status { background: transparent; }\n";

GdkPixbuf* PixbufFromPng(const unsigned char* data, size_t size) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("png", nullptr);
  if (loader == nullptr) return nullptr;
  GdkPixbuf* pixbuf = nullptr;
  if (gdk_pixbuf_loader_write(loader, data, size, nullptr) &&
      gdk_pixbuf_loader_close(loader, nullptr)) {
    pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
    if (pixbuf != nullptr) g_object_ref(pixbuf);
  } else {
    gdk_pixbuf_loader_close(loader, nullptr);
  }
  g_object_unref(loader);
  return pixbuf;
}

}  // namespace

PixelRect DialogUnitsToPixels(int x, int y, int width, int height, int averageCharWidth,
                              int charHeight) {
  auto scale = [](int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
  };
  PixelRect r;
  r.x = scale(x, averageCharWidth, 4);
  r.y = scale(y, charHeight, 8);
  // The far edge is converted too, so neighbouring controls keep their gaps.
  r.width = scale(x + width, averageCharWidth, 4) - r.x;
  r.height = scale(y + height, charHeight, 8) - r.y;
  return r;
}

struct GtkPatcherView::Impl {
  GtkWidget* window = nullptr;
  GtkWidget* fixed = nullptr;
  std::map<int, GtkWidget*> controls;
  std::map<int, PixelRect> rects;
  PixelRect windowSize;
  GtkCssProvider* css = nullptr;
  PatcherViewHandlers handlers;

  ProgressBarModel progress;
  TransferMeter transfer;

  bool hidden = false;       // HideWindow() was called
  ModalEnding ending;
  bool shownOnce = false;
  bool onScreen = false;     // the display has mapped the window

  GtkWidget* Control(int id) const {
    auto it = controls.find(id);
    return it == controls.end() ? nullptr : it->second;
  }

  // A run is under way while Exit is insensitive.
  bool RunUnderWay() const {
    GtkWidget* exitButton = Control(kControlExit);
    return exitButton != nullptr && !gtk_widget_get_sensitive(exitButton);
  }

  void End(bool ok) { ending.End(ok); }
  void CloseRequest() { ending.RequestClose(handlers, RunUnderWay()); }

  void UpdateProgress() {
    GtkWidget* bar = Control(kControlProgress);
    if (bar == nullptr) return;
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), progress.fraction());
  }

  // The window is gone, whoever destroyed it (this view, or another client
  // of the display): no widget of it may be touched again, and the modal
  // loop ends (after the run, if one is under way: the run goes on without
  // a window).
  void Forget() {
    window = nullptr;
    fixed = nullptr;
    controls.clear();
    End(false);
  }

  void Build();
};

namespace {

void OnWindowDestroyed(GtkWidget*, gpointer data) {
  static_cast<GtkPatcherView::Impl*>(data)->Forget();
}

gboolean OnMapEvent(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<GtkPatcherView::Impl*>(data)->onScreen = true;
  return FALSE;
}

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<GtkPatcherView::Impl*>(data)->CloseRequest();
  return TRUE;  // the window is destroyed by the view, never by the close
}

void OnButtonClicked(GtkButton* button, gpointer data) {
  auto* impl = static_cast<GtkPatcherView::Impl*>(data);
  int id = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "marrowgate-id"));
  if (id == kControlExit) {
    // Cancel during a run; Exit otherwise.
    if (impl->handlers.onExit && impl->handlers.onExit()) return;
    impl->End(false);
  } else if (id == kControlStart) {
    if (impl->handlers.onStart) impl->handlers.onStart();
  } else if (id == kControlBrowse) {
    if (impl->handlers.onBrowse) impl->handlers.onBrowse();
  }
}

// The font's average character width (over the 52 letters, as the
// template's font would measure it) and its height, in pixels.
void MeasureFont(GtkWidget* widget, int* averageWidth, int* height) {
  PangoLayout* layout = gtk_widget_create_pango_layout(
      widget, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  *averageWidth = std::max(1, (w / 26 + 1) / 2);
  *height = std::max(1, h);
}

}  // namespace

void GtkPatcherView::Impl::Build() {
  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_set_name(window, "marrowgate-dialog");
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(window, "destroy", G_CALLBACK(OnWindowDestroyed), this);
  g_signal_connect(window, "map-event", G_CALLBACK(OnMapEvent), this);

  if (GdkPixbuf* icon = PixbufFromPng(kPatcherIconPng, kPatcherIconPngSize)) {
    gtk_window_set_icon(GTK_WINDOW(window), icon);
    g_object_unref(icon);
  }

  int charWidth = 0, charHeight = 0;
  MeasureFont(window, &charWidth, &charHeight);
  windowSize = DialogUnitsToPixels(0, 0, kDialogWidthDu, kDialogHeightDu, charWidth, charHeight);

  // The bar fills its place in the template (less the trough's border).
  const ControlTemplate& barUnits = TemplateOf(kControlProgress);
  PixelRect bar = DialogUnitsToPixels(barUnits.x, barUnits.y, barUnits.width, barUnits.height,
                                      charWidth, charHeight);
  std::string style = std::string(kCss) +
                      "#marrowgate-dialog progressbar trough, #marrowgate-dialog progressbar "
                      "progress { min-height: " +
                      std::to_string(std::max(4, bar.height - 2)) + "px; }\n";
  css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(css, style.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window),
                                            GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, windowSize.width, windowSize.height);
  gtk_container_add(GTK_CONTAINER(window), fixed);

  for (const ControlTemplate& t : kTemplate) {
    PixelRect r = DialogUnitsToPixels(t.x, t.y, t.width, t.height, charWidth, charHeight);
    GtkWidget* widget = nullptr;
    switch (t.id) {
      case kPictureId: {
        GdkPixbuf* picture = PixbufFromPng(kPatcherPicturePng, kPatcherPicturePngSize);
        if (picture != nullptr) {
          GdkPixbuf* scaled =
              gdk_pixbuf_scale_simple(picture, r.width, r.height, GDK_INTERP_BILINEAR);
          widget = gtk_image_new_from_pixbuf(scaled != nullptr ? scaled : picture);
          if (scaled != nullptr) g_object_unref(scaled);
          g_object_unref(picture);
        } else {
          widget = gtk_image_new();
        }
        break;
      }
      case kControlExit:
      case kControlStart:
      case kControlBrowse:
        widget = gtk_button_new_with_label("");
        g_object_set_data(G_OBJECT(widget), "marrowgate-id", GINT_TO_POINTER(t.id));
        g_signal_connect(widget, "clicked", G_CALLBACK(OnButtonClicked), this);
        break;
      case kControlPathLabel:
        widget = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_END);
        break;
      case kControlTransferLine:
        // The end of a long line (the file's name) is the telling part.
        widget = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(widget), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(widget), PANGO_ELLIPSIZE_START);
        break;
      case kControlProgress:
        widget = gtk_progress_bar_new();
        break;
      default: {  // the read-only edits
        widget = gtk_entry_new();
        gtk_editable_set_editable(GTK_EDITABLE(widget), FALSE);
        gtk_entry_set_width_chars(GTK_ENTRY(widget), 1);
        if (t.id == kControlHiddenEdit) gtk_entry_set_alignment(GTK_ENTRY(widget), 0.5f);
        if (t.id == kControlStatus) {
          gtk_entry_set_has_frame(GTK_ENTRY(widget), FALSE);
          gtk_widget_set_name(widget, "marrowgate-status");
          gtk_widget_set_can_focus(widget, FALSE);
        }
        break;
      }
    }
    gtk_widget_set_size_request(widget, r.width, r.height);
    gtk_fixed_put(GTK_FIXED(fixed), widget, r.x, r.y);
    if (t.id != kControlHiddenEdit) gtk_widget_show(widget);
    if (t.id == kControlStart) gtk_widget_set_sensitive(widget, FALSE);
    controls[t.id] = widget;
    rects[t.id] = r;
  }
  gtk_widget_show(fixed);
  UpdateProgress();
}

bool GtkPatcherView::OpenDisplay() {
  static int opened = -1;
  if (opened < 0) {
    const char* x11 = platform::GetEnvironment("DISPLAY");
    const char* wayland = platform::GetEnvironment("WAYLAND_DISPLAY");
    bool named = (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
    opened = named && gtk_init_check(nullptr, nullptr) ? 1 : 0;
  }
  return opened == 1;
}

GtkPatcherView::GtkPatcherView() : impl_(std::make_unique<Impl>()) { impl_->Build(); }

GtkPatcherView::~GtkPatcherView() {
  if (impl_->window != nullptr) {
    GtkWidget* window = impl_->window;
    g_signal_handlers_disconnect_by_data(window, impl_.get());
    impl_->Forget();
    gtk_widget_destroy(window);
  }
  if (impl_->css != nullptr) {
    gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(),
                                                 GTK_STYLE_PROVIDER(impl_->css));
    g_object_unref(impl_->css);
  }
  // Let the toolkit finish with the destroyed window.
  for (int i = 0; i < 1000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void GtkPatcherView::SetTitle(const std::string& title) {
  if (impl_->window == nullptr) return;
  gtk_window_set_title(GTK_WINDOW(impl_->window), DisplayText(title).c_str());
}

void GtkPatcherView::SetControlText(int controlId, const std::string& text) {
  GtkWidget* widget = impl_->Control(controlId);
  if (widget == nullptr) return;
  const std::string shown = DisplayText(text);
  if (GTK_IS_BUTTON(widget)) {
    gtk_button_set_label(GTK_BUTTON(widget), shown.c_str());
  } else if (GTK_IS_LABEL(widget)) {
    gtk_label_set_text(GTK_LABEL(widget), shown.c_str());
  } else if (GTK_IS_ENTRY(widget)) {
    gtk_entry_set_text(GTK_ENTRY(widget), shown.c_str());
  }
}

void GtkPatcherView::EnableControl(int controlId, bool enabled) {
  GtkWidget* widget = impl_->Control(controlId);
  if (widget == nullptr) return;
  gtk_widget_set_sensitive(widget, enabled ? TRUE : FALSE);
  // A close asked for during the run takes effect now that it has ended.
  if (controlId == kControlExit && enabled) impl_->ending.ExitEnabled();
}

void GtkPatcherView::ShowControl(int controlId, bool shown) {
  GtkWidget* widget = impl_->Control(controlId);
  if (widget != nullptr) gtk_widget_set_visible(widget, shown ? TRUE : FALSE);
}

void GtkPatcherView::SetProgressRange(int lower, int upper) {
  impl_->progress.SetRange(lower, upper);
  impl_->UpdateProgress();
}

void GtkPatcherView::SetProgressStep(int step) { impl_->progress.SetStep(step); }

void GtkPatcherView::SetProgressPosition(int position) {
  impl_->progress.SetPosition(position);
  impl_->UpdateProgress();
}

void GtkPatcherView::StepProgress() {
  impl_->progress.Step();
  impl_->UpdateProgress();
}

void GtkPatcherView::ShowTransfer(const TransferProgress& progress) {
  const int64_t now = g_get_monotonic_time() / 1000;
  impl_->transfer.Update(progress, now);
  if (!impl_->transfer.Due(now)) return;
  impl_->transfer.MarkShown(now);
  GtkWidget* line = impl_->Control(kControlTransferLine);
  if (line != nullptr)
    gtk_label_set_text(GTK_LABEL(line), EscapeControlCharacters(impl_->transfer.Text(true)).c_str());
}

void GtkPatcherView::MessageBox(const std::string& text, const std::string& caption) {
  GtkWindow* owner = impl_->window != nullptr ? GTK_WINDOW(impl_->window) : nullptr;
  GtkWidget* box = gtk_message_dialog_new(owner, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_OK, "%s", DisplayText(text).c_str());
  std::string title;
  if (!caption.empty()) {
    title = DisplayText(caption);
  } else if (owner != nullptr && gtk_window_get_title(owner) != nullptr) {
    title = gtk_window_get_title(owner);
  }
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

std::optional<std::string> GtkPatcherView::PickFolder(const std::string& prompt,
                                                      const std::string& initialFolder) {
  GtkWidget* chooser = gtk_file_chooser_dialog_new(
      DisplayText(prompt).c_str(),
      impl_->window != nullptr ? GTK_WINDOW(impl_->window) : nullptr,
      GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_Select",
      GTK_RESPONSE_ACCEPT, nullptr);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  // A name typed into the location bar must not make a folder: the picker
  // chooses among folders that exist.
  gtk_file_chooser_set_create_folders(GTK_FILE_CHOOSER(chooser), FALSE);
  if (!initialFolder.empty()) {
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), initialFolder.c_str());
  }
  std::optional<std::string> chosen;
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (name == nullptr) {  // nothing selected: the folder being shown
      name = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
    }
    if (name != nullptr) {
      std::string path = name;
      g_free(name);
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      platform::NodeStatus status;
      if (!path.empty() && platform::StatusOf(path.c_str(), &status, nullptr) &&
          status.kind == platform::NodeKind::kFolder) {
        chosen = path;
      }
    }
  }
  gtk_widget_destroy(chooser);
  return chosen;
}

void GtkPatcherView::DispatchPendingEvents() {
  // Bounded, so a source that keeps itself pending cannot hold a run up.
  for (int i = 0; i < 10000 && gtk_events_pending(); ++i) gtk_main_iteration_do(FALSE);
}

void GtkPatcherView::HideWindow() {
  impl_->hidden = true;
  if (impl_->window != nullptr) gtk_widget_hide(impl_->window);
}

void GtkPatcherView::CloseAsOk() { impl_->End(true); }

void GtkPatcherView::SetHandlers(PatcherViewHandlers handlers) {
  impl_->handlers = std::move(handlers);
}

bool GtkPatcherView::RunModal() {
  if (!impl_->ending.done() && !impl_->hidden && impl_->window != nullptr) {
    gtk_window_present(GTK_WINDOW(impl_->window));
    // The window is on the screen before anything else happens (a run
    // that starts by itself, a launcher that is slow to answer): wait,
    // boundedly, until it is mapped and drawn.
    const uint32_t start = platform::TickMilliseconds();
    while (impl_->window != nullptr && !impl_->onScreen &&
           platform::TickMilliseconds() - start < kMapWaitMs) {
      if (gtk_events_pending()) {
        gtk_main_iteration_do(FALSE);
      } else {
        g_usleep(2000);
      }
    }
    DispatchPendingEvents();
    if (impl_->window != nullptr && !impl_->shownOnce) {
      impl_->shownOnce = true;
      if (impl_->handlers.onShow) impl_->handlers.onShow();
    }
  }
  while (!impl_->ending.done()) gtk_main_iteration_do(TRUE);
  if (impl_->window != nullptr) gtk_widget_hide(impl_->window);
  DispatchPendingEvents();
  return impl_->ending.ok();
}

std::string GtkPatcherView::ControlText(int controlId) const {
  GtkWidget* widget = impl_->Control(controlId);
  const char* text = nullptr;
  if (widget == nullptr) return "";
  if (GTK_IS_BUTTON(widget)) {
    text = gtk_button_get_label(GTK_BUTTON(widget));
  } else if (GTK_IS_LABEL(widget)) {
    text = gtk_label_get_text(GTK_LABEL(widget));
  } else if (GTK_IS_ENTRY(widget)) {
    text = gtk_entry_get_text(GTK_ENTRY(widget));
  }
  return text != nullptr ? text : "";
}

bool GtkPatcherView::ControlEnabled(int controlId) const {
  GtkWidget* widget = impl_->Control(controlId);
  return widget != nullptr && gtk_widget_get_sensitive(widget);
}

bool GtkPatcherView::ControlVisible(int controlId) const {
  GtkWidget* widget = impl_->Control(controlId);
  return widget != nullptr && gtk_widget_get_visible(widget);
}

double GtkPatcherView::ProgressFraction() const {
  GtkWidget* bar = impl_->Control(kControlProgress);
  return bar != nullptr ? gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(bar)) : 0.0;
}

int GtkPatcherView::ProgressPosition() const { return impl_->progress.position(); }

std::string GtkPatcherView::Title() const {
  if (impl_->window == nullptr) return "";
  const char* title = gtk_window_get_title(GTK_WINDOW(impl_->window));
  return title != nullptr ? title : "";
}

bool GtkPatcherView::WindowVisible() const {
  return impl_->window != nullptr && gtk_widget_get_visible(impl_->window);
}

PixelRect GtkPatcherView::WindowSize() const { return impl_->windowSize; }

PixelRect GtkPatcherView::ControlRect(int controlId) const {
  auto it = impl_->rects.find(controlId);
  return it == impl_->rects.end() ? PixelRect{} : it->second;
}

void GtkPatcherView::Click(int controlId) {
  if (controlId == 0) {
    // The window manager's close arrives as a delete event.
    if (impl_->window != nullptr) gtk_window_close(GTK_WINDOW(impl_->window));
    return;
  }
  GtkWidget* widget = impl_->Control(controlId);
  if (widget != nullptr && GTK_IS_BUTTON(widget) && gtk_widget_is_sensitive(widget)) {
    gtk_button_clicked(GTK_BUTTON(widget));
  }
}

bool GtkPatcherView::Closing() const { return impl_->ending.done(); }

}  // namespace marrowgate
