// Runs on a display (CTest starts it under xvfb-run); without one the
// window cases are skipped.
#include "app/gtk/gtk_patcher_view.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <sstream>

#include "app/flex_update.h"
#include "app/patcher_dialog.h"
#include "app/testing/patcher_program_testing.h"

namespace marrowgate {
namespace {

namespace fs = std::filesystem;

TEST(DialogUnits, ScaleByQuarterWidthAndEighthHeight) {
  // A font 6 pixels wide on average and 13 high (the template font's usual
  // base units): the whole dialog, 284 x 172 units.
  PixelRect dialog = DialogUnitsToPixels(0, 0, 284, 172, 6, 13);
  EXPECT_EQ(dialog.width, 426);
  EXPECT_EQ(dialog.height, 280);  // 172 * 13 / 8 = 279.5
  PixelRect exitButton = DialogUnitsToPixels(218, 149, 50, 16, 6, 13);
  EXPECT_EQ(exitButton.x, 327);
  EXPECT_EQ(exitButton.y, 242);  // 242.125
  EXPECT_EQ(exitButton.width, 75);
  EXPECT_EQ(exitButton.height, 26);
}

TEST(DialogUnits, NeighboursKeepTheirGapAfterRounding) {
  // Far edges are converted, so a control ends exactly where the next
  // begins when the units touch.
  for (int base = 5; base <= 11; ++base) {
    PixelRect a = DialogUnitsToPixels(7, 7, 85, 158, base, base * 2 + 1);
    PixelRect b = DialogUnitsToPixels(92, 165, 10, 10, base, base * 2 + 1);
    EXPECT_EQ(a.x + a.width, b.x);
    EXPECT_EQ(a.y + a.height, b.y);
  }
}

class GtkViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GtkPatcherView::OpenDisplay()) GTEST_SKIP() << "no display";
    view_ = std::make_unique<GtkPatcherView>();
  }

  // Answers the next folder chooser that opens: shows `folder` in it and
  // accepts, or cancels when `folder` is empty.
  void AnswerNextChooser(const std::string& folder) {
    answer_ = folder;
    g_timeout_add(100, &GtkViewTest::AnswerChooser, this);
  }

  static gboolean AnswerChooser(gpointer data) {
    auto* self = static_cast<GtkViewTest*>(data);
    GList* toplevels = gtk_window_list_toplevels();
    GtkWidget* chooser = nullptr;
    for (GList* it = toplevels; it != nullptr; it = it->next) {
      if (GTK_IS_FILE_CHOOSER_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
        chooser = GTK_WIDGET(it->data);
      }
    }
    g_list_free(toplevels);
    if (chooser == nullptr) return G_SOURCE_CONTINUE;  // not open yet
    self->chooserTitle_ = gtk_window_get_title(GTK_WINDOW(chooser));
    gchar* shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(chooser));
    if (shown == nullptr && ++self->waits_ < 100) return G_SOURCE_CONTINUE;  // still loading
    self->waits_ = 0;
    self->chooserStart_ = shown != nullptr ? shown : "";
    g_free(shown);
    if (self->answer_.empty()) {
      gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
      return G_SOURCE_REMOVE;
    }
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), self->answer_.c_str());
    self->chooser_ = chooser;
    // The chooser loads the folder in the background; accept once it shows it.
    g_timeout_add(50, &GtkViewTest::AcceptWhenLoaded, self);
    return G_SOURCE_REMOVE;
  }

  static gboolean AcceptWhenLoaded(gpointer data) {
    auto* self = static_cast<GtkViewTest*>(data);
    gchar* shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(self->chooser_));
    bool loaded = shown != nullptr && self->answer_ == shown;
    g_free(shown);
    if (!loaded && ++self->waits_ < 100) return G_SOURCE_CONTINUE;
    gtk_dialog_response(GTK_DIALOG(self->chooser_), GTK_RESPONSE_ACCEPT);
    return G_SOURCE_REMOVE;
  }

  // Answers every message box with OK, keeping its text.
  void AnswerMessageBoxes() { boxSource_ = g_timeout_add(50, &GtkViewTest::AnswerBox, this); }

  static gboolean AnswerBox(gpointer data) {
    auto* self = static_cast<GtkViewTest*>(data);
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* it = toplevels; it != nullptr; it = it->next) {
      if (GTK_IS_MESSAGE_DIALOG(it->data) && gtk_widget_get_visible(GTK_WIDGET(it->data))) {
        gchar* text = nullptr;
        g_object_get(it->data, "text", &text, nullptr);
        self->boxes_.push_back(text != nullptr ? text : "");
        g_free(text);
        gtk_dialog_response(GTK_DIALOG(it->data), GTK_RESPONSE_OK);
      }
    }
    g_list_free(toplevels);
    return G_SOURCE_CONTINUE;
  }

  void TearDown() override {
    if (boxSource_ != 0) g_source_remove(boxSource_);
    view_.reset();
  }

  std::unique_ptr<GtkPatcherView> view_;
  guint boxSource_ = 0;
  std::vector<std::string> boxes_;
  GtkWidget* chooser_ = nullptr;
  int waits_ = 0;
  std::string answer_;
  std::string chooserTitle_;
  std::string chooserStart_;
};

TEST_F(GtkViewTest, InitialStateFollowsTheTemplate) {
  EXPECT_FALSE(view_->ControlEnabled(kControlStart));
  EXPECT_TRUE(view_->ControlEnabled(kControlExit));
  EXPECT_TRUE(view_->ControlEnabled(kControlBrowse));
  EXPECT_FALSE(view_->ControlVisible(kControlHiddenEdit));
  EXPECT_TRUE(view_->ControlVisible(kControlProgress));
  EXPECT_TRUE(view_->ControlVisible(kControlInstallPath));
  EXPECT_FALSE(view_->WindowVisible());
}

TEST_F(GtkViewTest, LayoutKeepsTheTemplateProportions) {
  PixelRect window = view_->WindowSize();
  ASSERT_GT(window.width, 0);
  // 284 x 172 units: a quarter of a character per x unit, an eighth of a
  // line per y unit; the window is wider than high.
  EXPECT_GT(window.width, window.height);
  PixelRect start = view_->ControlRect(kControlStart);
  PixelRect exitButton = view_->ControlRect(kControlExit);
  PixelRect path = view_->ControlRect(kControlInstallPath);
  PixelRect browse = view_->ControlRect(kControlBrowse);
  EXPECT_EQ(start.y, exitButton.y);
  EXPECT_EQ(start.width, exitButton.width);
  EXPECT_EQ(path.x, start.x);
  // The right edges of the path field and of Exit and Browse line up.
  EXPECT_EQ(path.x + path.width, exitButton.x + exitButton.width);
  EXPECT_EQ(browse.x, exitButton.x);
  EXPECT_LT(exitButton.y + exitButton.height, window.height);
  EXPECT_LT(path.x + path.width, window.width);
  // Unknown ids have no place.
  EXPECT_EQ(view_->ControlRect(4711).width, 0);
}

TEST_F(GtkViewTest, TextsGoToTheirControls) {
  view_->SetTitle("Patch 1.2");
  view_->SetControlText(kControlPathLabel, "Select Install Path:");
  view_->SetControlText(kControlStart, "Start");
  view_->SetControlText(kControlInstallPath, "/games/client");
  view_->SetControlText(kControlStatus, "Ready");
  view_->SetControlText(4711, "nowhere");  // ignored
  EXPECT_EQ(view_->Title(), "Patch 1.2");
  EXPECT_EQ(view_->ControlText(kControlPathLabel), "Select Install Path:");
  EXPECT_EQ(view_->ControlText(kControlStart), "Start");
  EXPECT_EQ(view_->ControlText(kControlInstallPath), "/games/client");
  EXPECT_EQ(view_->ControlText(kControlStatus), "Ready");
  // An empty message leaves the caption empty.
  view_->SetControlText(kControlBrowse, "");
  EXPECT_EQ(view_->ControlText(kControlBrowse), "");
}

TEST_F(GtkViewTest, ProgressBarRangeStepAndPosition) {
  view_->SetProgressRange(0, 8);
  view_->SetProgressStep(1);
  view_->SetProgressPosition(2);
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 0.25);
  view_->StepProgress();
  view_->StepProgress();
  EXPECT_EQ(view_->ProgressPosition(), 4);
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 0.5);
  view_->SetProgressPosition(100);  // kept within the range
  EXPECT_EQ(view_->ProgressPosition(), 8);
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 1.0);
  view_->StepProgress();  // past the end it stays full (ProgressBarModel)
  EXPECT_EQ(view_->ProgressPosition(), 8);
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 1.0);
  view_->SetProgressRange(0, 0);  // an empty source: no division by zero
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 0.0);
}

// The line under the bar names the file being copied with the bytes (the
// rate and time left follow once the rate settles); it sits between the
// bar and the buttons.
TEST_F(GtkViewTest, TheLineUnderTheBarNamesTheCurrentFile) {
  PixelRect bar = view_->ControlRect(kControlProgress);
  PixelRect line = view_->ControlRect(kControlTransferLine);
  PixelRect start = view_->ControlRect(kControlStart);
  EXPECT_GE(line.y, bar.y + bar.height);
  EXPECT_LE(line.y + line.height, start.y);
  TransferProgress t;
  t.file = "/games/client/data/movie.bik";
  t.fileSize = t.bytesTotal = 500000000;
  t.fileWritten = t.bytesDone = 1000000;
  view_->ShowTransfer(t);
  EXPECT_EQ(view_->ControlText(kControlTransferLine), "1.0/500.0 MB movie.bik");
  t.file = "/games/client/data/next\n.bin";
  view_->ShowTransfer(t);  // a new file shows at once
  EXPECT_EQ(view_->ControlText(kControlTransferLine), "1.0/500.0 MB next\\n.bin");
}

TEST_F(GtkViewTest, ButtonsReachTheHandlers) {
  int starts = 0, browses = 0;
  view_->SetHandlers({[&] { ++starts; }, [&] { ++browses; }, nullptr});
  view_->Click(kControlStart);  // insensitive: nothing
  EXPECT_EQ(starts, 0);
  view_->EnableControl(kControlStart, true);
  view_->Click(kControlStart);
  view_->Click(kControlBrowse);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(browses, 1);
  EXPECT_FALSE(view_->Closing());
}

TEST_F(GtkViewTest, ShowStartsTheRunThatClosesAsOk) {
  int shows = 0;
  bool visibleDuringShow = false;
  view_->SetHandlers({nullptr, nullptr, [&] {
                        ++shows;
                        visibleDuringShow = view_->WindowVisible();
                        view_->DispatchPendingEvents();
                        view_->CloseAsOk();
                      }});
  EXPECT_TRUE(view_->RunModal());
  EXPECT_EQ(shows, 1);
  EXPECT_TRUE(visibleDuringShow);
  EXPECT_FALSE(view_->WindowVisible());
}

TEST_F(GtkViewTest, ExitCancels) {
  view_->SetHandlers({nullptr, nullptr, [&] { view_->Click(kControlExit); }});
  EXPECT_FALSE(view_->RunModal());
}

TEST_F(GtkViewTest, HiddenAndClosedDuringStartIsNeverShown) {
  bool shown = false;
  view_->SetHandlers({nullptr, nullptr, [&] { shown = true; }});
  view_->HideWindow();
  view_->CloseAsOk();
  EXPECT_TRUE(view_->RunModal());
  EXPECT_FALSE(shown);
}

TEST_F(GtkViewTest, WindowManagerCloseWaitsForTheRunsEnd) {
  bool closedDuringRun = true;
  view_->SetHandlers({nullptr, nullptr, [&] {
                        // A run: Start and Exit insensitive while files are copied.
                        view_->EnableControl(kControlStart, false);
                        view_->EnableControl(kControlExit, false);
                        view_->Click(0);  // the window manager's close
                        for (int file = 0; file < 5; ++file) view_->DispatchPendingEvents();
                        closedDuringRun = view_->Closing();
                        view_->EnableControl(kControlStart, true);
                        view_->EnableControl(kControlExit, true);  // the run has ended
                      }});
  EXPECT_FALSE(view_->RunModal());
  EXPECT_FALSE(closedDuringRun);
  EXPECT_TRUE(view_->Closing());
}

TEST_F(GtkViewTest, WindowManagerCloseOutsideARunCancels) {
  view_->SetHandlers({nullptr, nullptr, [&] { view_->Click(0); }});
  EXPECT_FALSE(view_->RunModal());
}

// Counts the toolkit's warnings and criticals while it lives.
class ToolkitWarnings {
 public:
  ToolkitWarnings() {
    for (const char* domain : kDomains) {
      handlers_.push_back(g_log_set_handler(
          domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL),
          &ToolkitWarnings::Count, this));
    }
  }
  ~ToolkitWarnings() {
    for (size_t i = 0; i < handlers_.size(); ++i) g_log_remove_handler(kDomains[i], handlers_[i]);
  }
  const std::vector<std::string>& messages() const { return messages_; }

 private:
  static void Count(const gchar*, GLogLevelFlags, const gchar* message, gpointer data) {
    static_cast<ToolkitWarnings*>(data)->messages_.push_back(message != nullptr ? message : "");
  }
  static constexpr const char* kDomains[] = {"Gtk", "Gdk", "GLib-GObject", "GLib", "Pango"};
  std::vector<guint> handlers_;
  std::vector<std::string> messages_;
};

GtkWidget* DialogWindow() {
  GtkWidget* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* it = toplevels; it != nullptr; it = it->next) {
    if (g_strcmp0(gtk_widget_get_name(GTK_WIDGET(it->data)), "marrowgate-dialog") == 0) {
      found = GTK_WIDGET(it->data);
    }
  }
  g_list_free(toplevels);
  return found;
}

// Another party destroys the window in the middle of a run: the view stops
// touching its widgets, the run goes on to its end, the modal loop ends.
TEST_F(GtkViewTest, WindowDestroyedByAnotherPartyDuringARun) {
  ToolkitWarnings warnings;
  bool sawWindow = false;
  view_->SetHandlers({nullptr, nullptr, [&] {
                        view_->EnableControl(kControlStart, false);
                        view_->EnableControl(kControlExit, false);
                        view_->SetProgressRange(0, 3);
                        view_->SetProgressStep(1);
                        GtkWidget* window = DialogWindow();
                        sawWindow = window != nullptr;
                        if (window != nullptr) gtk_widget_destroy(window);
                        for (int file = 0; file < 3; ++file) {
                          view_->DispatchPendingEvents();
                          view_->StepProgress();
                          view_->SetControlText(kControlStatus, "still copying");
                        }
                        view_->SetTitle("after");
                        view_->ShowControl(kControlProgress, true);
                        view_->HideWindow();
                        view_->EnableControl(kControlStart, true);
                        view_->EnableControl(kControlExit, true);
                      }});
  EXPECT_FALSE(view_->RunModal());
  EXPECT_TRUE(sawWindow);
  EXPECT_TRUE(view_->Closing());
  EXPECT_EQ(view_->ControlText(kControlStatus), "");
  EXPECT_EQ(view_->Title(), "");
  EXPECT_FALSE(view_->WindowVisible());
  view_->Click(0);
  view_.reset();  // the destructor has no window left to destroy
  EXPECT_TRUE(warnings.messages().empty()) << warnings.messages().front();
}

// The window is on the screen before the show notification runs the
// dialog's work, however long that work then takes.
TEST_F(GtkViewTest, WindowIsMappedBeforeTheShowNotification) {
  bool mappedAtShow = false;
  view_->SetHandlers({nullptr, nullptr, [&] {
                        GtkWidget* window = DialogWindow();
                        GdkWindow* surface = window != nullptr ? gtk_widget_get_window(window)
                                                               : nullptr;
                        mappedAtShow = surface != nullptr && gdk_window_is_viewable(surface);
                        view_->CloseAsOk();
                      }});
  EXPECT_TRUE(view_->RunModal());
  EXPECT_TRUE(mappedAtShow);
}

TEST_F(GtkViewTest, TextsThatAreNotUtf8AreShownAsWindows1252) {
  ToolkitWarnings warnings;
  view_->SetTitle("Mise \xE0 jour");
  view_->SetControlText(kControlPathLabel, "Dossier d'installation \x96 \x80");
  view_->SetControlText(kControlStatus, "D\xC3\xA9j\xC3\xA0 fait");  // UTF-8 stays
  EXPECT_EQ(view_->Title(), "Mise \xC3\xA0 jour");
  EXPECT_EQ(view_->ControlText(kControlPathLabel),
            "Dossier d'installation \xE2\x80\x93 \xE2\x82\xAC");
  EXPECT_EQ(view_->ControlText(kControlStatus), "D\xC3\xA9j\xC3\xA0 fait");
  EXPECT_TRUE(warnings.messages().empty()) << warnings.messages().front();
}

TEST_F(GtkViewTest, FolderChooserReturnsTheChosenFolder) {
  fs::path folder = fs::temp_directory_path() / ("mg-gtk-chooser-" + std::to_string(std::random_device()()));
  fs::create_directories(folder / "client");
  AnswerNextChooser((folder / "client").string());
  std::optional<std::string> chosen = view_->PickFolder("Choose the game folder", folder.string());
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, (folder / "client").string());
  EXPECT_EQ(chooserTitle_, "Choose the game folder");
  EXPECT_EQ(chooserStart_, folder.string());
  fs::remove_all(folder);
}

TEST_F(GtkViewTest, FolderChooserCancelGivesNothing) {
  AnswerNextChooser("");
  EXPECT_FALSE(view_->PickFolder("Choose", fs::current_path().string()).has_value());
}

TEST_F(GtkViewTest, RootFolderKeepsItsSeparator) {
  AnswerNextChooser("/");
  std::optional<std::string> chosen = view_->PickFolder("Choose", "/");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(*chosen, "/");
}

// A patcher program at `program` carrying the tree of `folder`, as the
// publisher's tool attaches it.
bool MakePatcherFromFolder(const fs::path& folder, const fs::path& program) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    files[fs::relative(entry.path(), folder).generic_string()] = content.str();
  }
  return MakePatcherProgram(program.string(), files);
}

// The dialog's logic over the GTK window: a program carrying the example
// patch, an install folder copied from the example installation.
class GtkDialogTest : public GtkViewTest {
 protected:
  void SetUp() override {
    GtkViewTest::SetUp();
    if (IsSkipped()) return;
    root_ = fs::temp_directory_path() / ("mg-gtk-dialog-" + std::to_string(std::random_device()()));
    fs::create_directories(root_);
    const char* source = std::getenv("MARROWGATE_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    fs::path examples = fs::path(source) / "examples";
    ASSERT_TRUE(MakePatcherFromFolder(examples / "patch", root_ / "patcher"));
    fs::copy(examples / "install", root_ / "game", fs::copy_options::recursive);
    PatcherDialogSettings settings;
    settings.modulePath = (root_ / "patcher").string();
    dialog_ = std::make_unique<PatcherDialog>(view_.get(), nullptr, "", settings);
    view_->SetHandlers({[this] { dialog_->OnStart(); }, [this] { dialog_->OnBrowse(); },
                        [this] { dialog_->OnShowWindow(); },
                        [this] { return dialog_->RequestCancel(); }});
  }
  void TearDown() override {
    dialog_.reset();
    GtkViewTest::TearDown();
    if (!root_.empty()) fs::remove_all(root_);
  }

  fs::path root_;
  std::unique_ptr<PatcherDialog> dialog_;
};

TEST_F(GtkDialogTest, CaptionsComeFromTheMessagesAndStartWaitsForAFolder) {
  dialog_->OnInitDialog();
  ASSERT_FALSE(dialog_->close_requested());
  EXPECT_EQ(view_->Title(), "Marrowgate patch");
  EXPECT_EQ(view_->ControlText(kControlPathLabel), "Install folder:");
  EXPECT_EQ(view_->ControlText(kControlBrowse), "Browse...");
  EXPECT_EQ(view_->ControlText(kControlStart), "Start");
  EXPECT_EQ(view_->ControlText(kControlExit), "Exit");
  EXPECT_FALSE(view_->ControlEnabled(kControlStart));
  EXPECT_TRUE(view_->ControlEnabled(kControlExit));
  // Start does nothing while insensitive.
  view_->Click(kControlStart);
  EXPECT_FALSE(dialog_->running());
  EXPECT_EQ(view_->ControlText(kControlStatus), "from 1.2.0.0 or later to 1.3.0.0");  // what the patch is
}

// A message file written in a Windows code page: its texts are shown
// converted, never as broken text, and the toolkit does not complain.
TEST_F(GtkDialogTest, Windows1252MessageFileIsShownConverted) {
  const char* source = std::getenv("MARROWGATE_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  fs::path patch = root_ / "latin-patch";
  fs::copy(fs::path(source) / "examples" / "patch", patch, fs::copy_options::recursive);
  std::string cfg;
  {
    std::ifstream in(patch / "cfg.txt", std::ios::binary);
    cfg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  auto replace = [&cfg](const std::string& from, const std::string& to) {
    size_t at = cfg.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    cfg.replace(at, from.size(), to);
  };
  replace("100 Marrowgate patch", "100 Mise \xE0 jour du jeu");
  replace("101 Install folder:", "101 Dossier d'installation\xA0:");
  replace("103 Start", "103 D\xE9marrer");
  {
    std::ofstream out(patch / "cfg.txt", std::ios::binary | std::ios::trunc);
    out << cfg;
  }
  ASSERT_TRUE(MakePatcherFromFolder(patch, root_ / "latin-patcher"));
  ToolkitWarnings warnings;
  PatcherDialogSettings settings;
  settings.modulePath = (root_ / "latin-patcher").string();
  PatcherDialog latin(view_.get(), nullptr, "", settings);
  latin.OnInitDialog();
  ASSERT_FALSE(latin.close_requested());
  // The table keeps the file's bytes; the window shows them read as 1252.
  EXPECT_EQ(latin.MessageText(101), "Dossier d'installation\xA0:");
  EXPECT_EQ(view_->Title(), "Mise \xC3\xA0 jour du jeu");
  EXPECT_EQ(view_->ControlText(kControlPathLabel), "Dossier d'installation\xC2\xA0:");
  EXPECT_EQ(view_->ControlText(kControlStart), "D\xC3\xA9marrer");
  // Drawn on the display without a complaint from the text layout.
  view_->SetHandlers({nullptr, nullptr, [this] {
                        view_->DispatchPendingEvents();
                        view_->CloseAsOk();
                      }});
  view_->RunModal();
  EXPECT_TRUE(warnings.messages().empty()) << warnings.messages().front();
}

TEST_F(GtkDialogTest, BrowseSetsTheFolderAndEnablesStart) {
  dialog_->OnInitDialog();
  AnswerNextChooser("");  // cancelled: nothing changes
  view_->Click(kControlBrowse);
  EXPECT_EQ(view_->ControlText(kControlInstallPath), "");
  EXPECT_FALSE(view_->ControlEnabled(kControlStart));

  AnswerNextChooser((root_ / "game").string());
  view_->Click(kControlBrowse);
  EXPECT_EQ(chooserTitle_, "Choose the folder where the game is installed");
  EXPECT_EQ(view_->ControlText(kControlInstallPath), (root_ / "game").string());
  EXPECT_EQ(dialog_->install_path(), (root_ / "game").string());
  EXPECT_TRUE(view_->ControlEnabled(kControlStart));
}

TEST_F(GtkDialogTest, StartRunsThePatchAndOffersClose) {
  dialog_->OnInitDialog();
  AnswerNextChooser((root_ / "game").string());
  view_->Click(kControlBrowse);
  ASSERT_TRUE(view_->ControlEnabled(kControlStart));
  AnswerMessageBoxes();
  view_->Click(kControlStart);
  EXPECT_TRUE(dialog_->finished());
  // The example installation carries its file lists: no box appears (a
  // box would be answered and show up here).
  EXPECT_TRUE(boxes_.empty()) << boxes_.front();
  EXPECT_EQ(view_->ControlText(kControlStatus), "The patch was applied.");
  EXPECT_EQ(view_->ControlText(kControlStart), "Close");
  EXPECT_TRUE(view_->ControlEnabled(kControlStart));
  EXPECT_TRUE(view_->ControlEnabled(kControlExit));
  EXPECT_DOUBLE_EQ(view_->ProgressFraction(), 1.0);
  EXPECT_TRUE(fs::exists(root_ / "game" / "bin" / "game.cfg"));
  EXPECT_TRUE(fs::exists(root_ / "game" / "data" / "maps.dpk"));
  // Start (now "Close") ends the dialog as OK.
  view_->Click(kControlStart);
  EXPECT_TRUE(view_->Closing());
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// During a run Exit reads Cancel; a click lets the file under way finish
// and stops before the next one. Every file is old or new, the version
// file is old, the status says the run was stopped and the window stays
// up to show it; Start then runs the patch to its end.
TEST_F(GtkDialogTest, CancelStopsTheRunBetweenFilesAndARerunCompletes) {
  const char* source = std::getenv("MARROWGATE_SOURCE_DIR");
  ASSERT_NE(source, nullptr);
  fs::path patch = root_ / "big-patch";
  fs::copy(fs::path(source) / "examples" / "patch", patch, fs::copy_options::recursive);
  std::mt19937 random(5);
  std::map<std::string, std::string> large;
  for (int i = 0; i < 40; ++i) {
    std::string content(512 * 1024, '\0');
    for (char& c : content) c = static_cast<char>(random());
    std::string name = "data/big/f" + std::to_string(i) + ".bin";
    large[name] = content;
    fs::create_directories((patch / "update" / name).parent_path());
    std::ofstream(patch / "update" / name, std::ios::binary) << content;
  }
  ASSERT_TRUE(MakePatcherFromFolder(patch, root_ / "patcher"));
  const std::string oldVersion = ReadWhole(root_ / "game/mb/etc/version.txt");

  dialog_->OnInitDialog();
  AnswerNextChooser((root_ / "game").string());
  view_->Click(kControlBrowse);
  ASSERT_TRUE(view_->ControlEnabled(kControlStart));
  EXPECT_EQ(view_->ControlText(kControlExit), "Exit");

  // Clicks Cancel as soon as a run shows it.
  struct Watch {
    GtkPatcherView* view;
    bool clicked = false;
  } watch{view_.get()};
  guint watcher = g_timeout_add(
      5,
      [](gpointer data) -> gboolean {
        auto* w = static_cast<Watch*>(data);
        if (w->view->ControlText(kControlExit) != kTextCancel ||
            !w->view->ControlEnabled(kControlExit))
          return G_SOURCE_CONTINUE;
        w->view->Click(kControlExit);
        w->clicked = true;
        return G_SOURCE_REMOVE;
      },
      &watch);
  view_->Click(kControlStart);
  if (!watch.clicked) g_source_remove(watcher);
  ASSERT_TRUE(watch.clicked);

  EXPECT_FALSE(dialog_->finished());
  EXPECT_EQ(dialog_->last_result(), kRunStopped);
  EXPECT_EQ(view_->ControlText(kControlStatus), "Stopped");
  EXPECT_EQ(view_->ControlText(kControlExit), "Exit");
  EXPECT_TRUE(view_->ControlEnabled(kControlExit));
  EXPECT_TRUE(view_->ControlEnabled(kControlStart));
  EXPECT_FALSE(view_->Closing());
  EXPECT_EQ(ReadWhole(root_ / "game/mb/etc/version.txt"), oldVersion);
  int copied = 0;
  for (const auto& [name, content] : large) {
    fs::path target = root_ / "game" / name;
    if (!fs::exists(target)) continue;
    EXPECT_EQ(ReadWhole(target), content) << name;
    ++copied;
  }
  EXPECT_LT(copied, static_cast<int>(large.size()));
  for (const auto& entry : fs::recursive_directory_iterator(root_ / "game"))
    EXPECT_EQ(entry.path().string().find(".~mgpart"), std::string::npos) << entry.path();

  // For a look at the window as the user sees it after the stop.
  if (const char* shot = std::getenv("MARROWGATE_WINDOW_SHOT")) {
    GtkWidget* window = DialogWindow();
    ASSERT_NE(window, nullptr);
    gtk_widget_show(window);
    for (int i = 0; i < 50 && !gtk_widget_get_mapped(window); ++i) {
      view_->DispatchPendingEvents();
      g_usleep(20000);
    }
    for (int i = 0; i < 10; ++i) {
      view_->DispatchPendingEvents();
      g_usleep(20000);
    }
    GdkWindow* drawn = gtk_widget_get_window(window);
    GdkPixbuf* picture = gdk_pixbuf_get_from_window(drawn, 0, 0, gdk_window_get_width(drawn),
                                                    gdk_window_get_height(drawn));
    ASSERT_NE(picture, nullptr);
    EXPECT_TRUE(gdk_pixbuf_save(picture, shot, "png", nullptr, nullptr));
    g_object_unref(picture);
  }

  view_->Click(kControlStart);
  EXPECT_TRUE(dialog_->finished());
  EXPECT_EQ(view_->ControlText(kControlStatus), "The patch was applied.");
  EXPECT_EQ(ReadWhole(root_ / "game/mb/etc/version.txt"), "1 1.3.0.0\r\n");
  for (const auto& [name, content] : large) EXPECT_EQ(ReadWhole(root_ / "game" / name), content);
}

}  // namespace
}  // namespace marrowgate
