#include "app/patcher_app.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "package/testing/temp_folder_testing.h"

namespace marrowgate {
namespace {

TEST(ChooseDisplay, WindowOnlyWhenWantedAndOpened) {
  int opens = 0;
  auto opens_ok = [&] { ++opens; return true; };
  auto opens_not = [&] { ++opens; return false; };
  EXPECT_EQ(ChooseDisplay(false, opens_ok), PatcherDisplay::kWindow);
  EXPECT_EQ(ChooseDisplay(false, opens_not), PatcherDisplay::kConsole);
  EXPECT_EQ(opens, 2);
  // --console never tries the display.
  EXPECT_EQ(ChooseDisplay(true, opens_ok), PatcherDisplay::kConsole);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(ChooseDisplay(false, nullptr), PatcherDisplay::kConsole);
}

// A window that records what the dialog does and plays the user's part.
class FakeWindow : public ModalPatcherView {
 public:
  std::vector<std::string> boxes;
  std::string title;
  bool shown = false;
  bool hidden = false;
  bool closedOk = false;
  bool startEnabled = true;
  // What the user does once the window shows; by default Exit.
  std::function<void(FakeWindow*)> user;

  void SetTitle(const std::string& text) override { title = text; }
  void SetControlText(int, const std::string&) override {}
  void EnableControl(int id, bool on) override {
    if (id == kControlStart) startEnabled = on;
  }
  void ShowControl(int, bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressStep(int) override {}
  void SetProgressPosition(int) override {}
  void StepProgress() override {}
  void MessageBox(const std::string& text, const std::string&) override { boxes.push_back(text); }
  std::optional<std::string> PickFolder(const std::string&, const std::string&) override {
    return std::nullopt;
  }
  void DispatchPendingEvents() override {}
  void HideWindow() override { hidden = true; }
  void CloseAsOk() override { closedOk = true; }
  void SetHandlers(PatcherViewHandlers h) override { handlers = std::move(h); }
  bool RunModal() override {
    if (closedOk) return true;
    if (!hidden) {
      shown = true;
      if (handlers.onShow) handlers.onShow();
    }
    if (!closedOk && user) user(this);
    return closedOk;
  }
  PatcherViewHandlers handlers;
};

class PatcherAppTest : public ::testing::Test {
 protected:
  int Run(std::vector<std::string> args) {
    PatcherAppIo io;
    io.out = [this](const std::string& text) { out_ += text; };
    io.err = [this](const std::string& text) { err_ += text; };
    io.modulePath = folder_.Child("patcher");  // carries no package
    io.version = "9.8.7";
    io.openWindow = [this]() -> std::unique_ptr<ModalPatcherView> {
      ++windowsAsked_;
      if (!displayThere_) return nullptr;
      auto window = std::make_unique<FakeWindow>();
      window_ = window.get();
      window->user = user_;
      return window;
    };
    PatcherApp app(io);
    int status = app.Run(args);
    display_ = app.display();
    return status;
  }

  TestFolder folder_;
  std::string out_, err_;
  bool displayThere_ = true;
  int windowsAsked_ = 0;
  FakeWindow* window_ = nullptr;  // valid during Run only
  std::function<void(FakeWindow*)> user_;
  PatcherDisplay display_ = PatcherDisplay::kConsole;
};

TEST_F(PatcherAppTest, UsageHelpAndVersion) {
  EXPECT_EQ(Run({"--bogus"}), kPatcherAppUsage);
  EXPECT_NE(err_.find("unknown option --bogus"), std::string::npos);
  EXPECT_EQ(windowsAsked_, 0);
  EXPECT_EQ(Run({"--help"}), kPatcherAppOk);
  EXPECT_NE(out_.find("/user TITLE"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), kPatcherAppOk);
  EXPECT_NE(out_.find("marrowgate 9.8.7"), std::string::npos);
}

TEST_F(PatcherAppTest, TerminalNeedsAFolder) {
  EXPECT_EQ(Run({"--console"}), kPatcherAppUsage);
  EXPECT_EQ(windowsAsked_, 0);
  EXPECT_NE(err_.find("no install folder"), std::string::npos);
  displayThere_ = false;
  EXPECT_EQ(Run({}), kPatcherAppUsage);
  EXPECT_EQ(windowsAsked_, 1);
}

TEST_F(PatcherAppTest, MissingMessageFileEndsWithFailure) {
  // In a window: the box with the literal text, then the dialog closes
  // before it is shown.
  EXPECT_EQ(Run({}), kPatcherAppFailure);
  EXPECT_EQ(display_, PatcherDisplay::kWindow);
  // In the terminal with a folder: the box as a line, no run.
  EXPECT_EQ(Run({"--console", folder_.path()}), kPatcherAppFailure);
  EXPECT_EQ(display_, PatcherDisplay::kConsole);
  EXPECT_NE(err_.find("cfg.txt"), std::string::npos);
}

}  // namespace
}  // namespace marrowgate
