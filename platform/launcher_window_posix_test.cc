#include "platform/launcher_window.h"

#include <gtest/gtest.h>

namespace marrowgate::platform {
namespace {

// Launchers are sockets here: no window is found or made, so the patcher
// takes the socket way.
TEST(LauncherWindow, NoWindowsOnThisSystem) {
  EXPECT_FALSE(kLauncherWindows);
  EXPECT_EQ(LauncherWindow::Find("Launcher"), nullptr);
  EXPECT_EQ(LauncherWindowHost::Create("Launcher", [](int32_t, int32_t, std::string_view) { return 0; }),
            nullptr);
}

}  // namespace
}  // namespace marrowgate::platform
