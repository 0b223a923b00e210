#include "app/console_view.h"

#include <gtest/gtest.h>

#include <string>

namespace marrowgate {
namespace {

struct Captured {
  std::string out, err;
  ConsoleView View(bool terminal) {
    return ConsoleView([this](const std::string& t) { out += t; },
                       [this](const std::string& t) { err += t; }, terminal);
  }
};

TEST(ConsoleViewTest, StatusAndTitleAreLinesOnceEach) {
  Captured io;
  {
    ConsoleView view = io.View(false);
    view.SetTitle("Patch");
    view.SetTitle("Patch");
    view.SetControlText(kControlStatus, "Patching");
    view.SetControlText(kControlStatus, "Patching");  // unchanged: no line
    view.SetControlText(kControlInstallPath, "/games/x");  // not shown
    view.SetControlText(kControlStart, "Close");           // not shown
    view.SetControlText(kControlStatus, "");               // empty: no line
    view.SetControlText(kControlStatus, "Done");
  }
  EXPECT_EQ(io.out, "== Patch\nPatching\nDone\n");
  EXPECT_EQ(io.err, "");
}

TEST(ConsoleViewTest, MessageBoxesGoToStandardErrorWithCaption) {
  Captured io;
  ConsoleView view = io.View(false);
  view.MessageBox("no folder", "");  // no title yet
  view.SetTitle("Patch");
  view.MessageBox("too old", "");    // the title stands in
  view.MessageBox("Can not open a", "Open error");
  EXPECT_EQ(io.err, "marrowgate: no folder\nPatch: too old\nOpen error: Can not open a\n");
}

// A patch's names and texts cannot reach the terminal raw: an escape
// sequence that would set the terminal's title and a line break in a
// message both show escaped, one line each.
TEST(ConsoleViewTest, ControlCharactersAreShownEscaped) {
  Captured io;
  {
    ConsoleView view = io.View(false);
    view.SetTitle("Patch\x1b]0;owned\x07");
    view.SetControlText(kControlStatus, "cannot read /games/x/a\nb\r.txt");
    view.MessageBox("data\x1b[2J/file", "Error\t1");
    view.MessageBox("Can not analyze cfgfile\r\n", "Error");  // its own line end
  }
  EXPECT_EQ(io.out, "== Patch\\x1b]0;owned\\x07\ncannot read /games/x/a\\nb\\r.txt\n");
  EXPECT_EQ(io.err, "Error\\t1: data\\x1b[2J/file\nError: Can not analyze cfgfile\n");
}

TEST(ConsoleViewTest, PlainProgressPrintsEachNewPercentage) {
  Captured io;
  ConsoleView view = io.View(false);
  view.SetProgressRange(0, 4);
  view.SetProgressStep(1);
  view.SetProgressPosition(1);
  for (int i = 0; i < 5; ++i) view.StepProgress();  // the last one stays at 100
  EXPECT_EQ(io.err,
            "progress 0%\nprogress 25%\nprogress 50%\nprogress 75%\nprogress 100%\n");
  EXPECT_EQ(view.percent(), 100);
}

TEST(ConsoleViewTest, TerminalBarIsRedrawnInPlaceAndEndedByALine) {
  Captured io;
  {
    ConsoleView view = io.View(true);
    view.SetProgressRange(0, 2);
    view.SetProgressStep(1);
    view.StepProgress();
    view.MessageBox("boom", "Error");
    view.StepProgress();
  }
  std::string bar0 = "\r[" + std::string(30, '-') + "]   0% 0/2\x1b[K";
  std::string bar1 = "\r[" + std::string(15, '#') + std::string(15, '-') + "]  50% 1/2\x1b[K";
  std::string bar2 = "\r[" + std::string(30, '#') + "] 100% 2/2\x1b[K";
  EXPECT_EQ(io.err, bar0 + bar1 + "\nError: boom\n" + bar2 + "\n");
}

// Bytes, rate, time left and the file: plain lines name the whole path, the
// terminal's line the end of it.
TEST(ConsoleViewTest, TransferShowsBytesRateTimeLeftAndTheFile) {
  for (bool terminal : {false, true}) {
    Captured io;
    {
      ConsoleView view = io.View(terminal);
      int64_t now = 1000;
      view.set_clock([&] { return now; });
      view.SetProgressRange(0, 100);
      TransferProgress t;
      t.file = "/games/client/data/movie.bik";
      t.fileSize = 500000000;
      t.bytesTotal = 500000000;
      view.ShowTransfer(t);  // the start: no rate yet
      now += 2000;
      t.fileWritten = t.bytesDone = 100000000;  // 50 MB/s
      view.ShowTransfer(t);
      view.SetProgressPosition(20);
    }
    if (terminal) {
      EXPECT_NE(io.err.find("]  20% 100.0/500.0 MB 50.0 MB/s 0:08 left movie.bik\x1b[K"),
                std::string::npos)
          << io.err;
    } else {
      EXPECT_EQ(io.err, "progress 0%\nprogress 20% 100.0/500.0 MB 50.0 MB/s 8 s left "
                        "/games/client/data/movie.bik\n");
    }
  }
}

TEST(ConsoleViewTest, EmptyRangeAndNoPicker) {
  Captured io;
  ConsoleView view = io.View(false);
  view.SetProgressRange(0, 0);
  view.StepProgress();
  EXPECT_EQ(view.percent(), 0);
  EXPECT_FALSE(view.PickFolder("Pick", "/").has_value());
  EXPECT_FALSE(view.close_requested());
  view.CloseAsOk();
  EXPECT_TRUE(view.close_requested());
}

}  // namespace
}  // namespace marrowgate
