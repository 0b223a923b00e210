#include "app/win/win32_patcher_view.h"

#include <string>

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

class Win32PatcherViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Win32PatcherView::OpenDisplay()); }
};

TEST_F(Win32PatcherViewTest, TemplateControlsAndTheirFirstState) {
  Win32PatcherView view;
  ASSERT_TRUE(view.Created());
  EXPECT_EQ(view.Title(), "Marrowgate");
  EXPECT_EQ(view.ControlText(kControlStart), "Start");
  EXPECT_FALSE(view.ControlEnabled(kControlStart));
  EXPECT_TRUE(view.ControlEnabled(kControlExit));
  EXPECT_TRUE(view.ControlEnabled(kControlBrowse));
  EXPECT_FALSE(view.ControlVisible(kControlHiddenEdit));
  EXPECT_TRUE(view.ControlVisible(kControlProgress));
  EXPECT_EQ(view.ControlText(kControlPathLabel), "Select Install Path:");

  view.SetTitle("Patch 1.2");
  view.SetControlText(kControlInstallPath, "C:\\Games\\Client");
  view.SetControlText(kControlStatus, "");
  view.EnableControl(kControlStart, true);
  view.ShowControl(kControlProgress, false);
  EXPECT_EQ(view.Title(), "Patch 1.2");
  EXPECT_EQ(view.ControlText(kControlInstallPath), "C:\\Games\\Client");
  EXPECT_EQ(view.ControlText(kControlStatus), "");
  EXPECT_TRUE(view.ControlEnabled(kControlStart));
  EXPECT_FALSE(view.ControlVisible(kControlProgress));
  // An id the template does not have is ignored.
  view.SetControlText(4242, "x");
  EXPECT_EQ(view.ControlText(4242), "");
}

TEST_F(Win32PatcherViewTest, ProgressBarStaysInItsRange) {
  Win32PatcherView view;
  ASSERT_TRUE(view.Created());
  view.SetProgressRange(0, 3);
  view.SetProgressStep(1);
  view.SetProgressPosition(1);
  EXPECT_EQ(view.ProgressPosition(), 1);
  view.StepProgress();
  view.StepProgress();
  EXPECT_EQ(view.ProgressPosition(), 3);
  // A step past the end keeps the bar full (the control itself would
  // start again from the bottom).
  view.StepProgress();
  EXPECT_EQ(view.ProgressPosition(), 3);
  // More files than a 16-bit range holds.
  view.SetProgressRange(0, 100000);
  view.SetProgressPosition(70000);
  EXPECT_EQ(view.ProgressUpper(), 100000);
  EXPECT_EQ(view.ProgressPosition(), 70000);
}

TEST_F(Win32PatcherViewTest, ButtonsReachTheHandlersAndCloseWaitsForTheRun) {
  Win32PatcherView view;
  ASSERT_TRUE(view.Created());
  int starts = 0, browses = 0, exits = 0;
  bool stopTaken = false;
  view.SetHandlers({[&] { ++starts; }, [&] { ++browses; }, {}, [&] {
                      ++exits;
                      return stopTaken;
                    }});
  view.Click(kControlStart);  // disabled: no click
  EXPECT_EQ(starts, 0);
  view.EnableControl(kControlStart, true);
  view.Click(kControlStart);
  view.Click(kControlBrowse);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(browses, 1);

  // During a run (Exit disabled) the close box asks the dialog first; when
  // it does not take it as a stop, the close waits for the run's end.
  view.EnableControl(kControlExit, false);
  view.Click(0);
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(view.Closing());
  view.EnableControl(kControlExit, true);
  EXPECT_TRUE(view.Closing());
  EXPECT_FALSE(view.RunModal());
}

TEST_F(Win32PatcherViewTest, StopRequestKeepsTheWindowAndCloseAsOkEnds) {
  Win32PatcherView view;
  ASSERT_TRUE(view.Created());
  int shows = 0;
  view.SetHandlers({{}, {}, [&] {
                      ++shows;
                      view.DispatchPendingEvents();
                      view.CloseAsOk();
                    },
                    [] { return true; }});
  view.Click(kControlExit);
  EXPECT_FALSE(view.Closing());
  EXPECT_TRUE(view.RunModal());
  EXPECT_EQ(shows, 1);
}

TEST_F(Win32PatcherViewTest, HiddenWindowRunsNoShowHandler) {
  Win32PatcherView view;
  ASSERT_TRUE(view.Created());
  int shows = 0;
  view.SetHandlers({{}, {}, [&] { ++shows; }, {}});
  view.HideWindow();
  view.CloseAsOk();
  EXPECT_TRUE(view.RunModal());
  EXPECT_EQ(shows, 0);
}

}  // namespace
}  // namespace marrowgate
