#include "tools/launcher_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "app/parent_link.h"
#include "platform/env.h"

namespace marrowgate {
namespace {

std::string UniqueTitle(const char* what) {
  return std::string(what) + " " + std::to_string(platform::TimeNow()) + "." +
         std::to_string(platform::TickMilliseconds()) + "." +
         std::to_string(reinterpret_cast<uintptr_t>(&what) & 0xFFFF);
}

// Attaches `link` to `title`, waiting up to 10 s for the listener to bind.
bool AttachWhenListening(ParentLink* link, const std::string& title) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (link->AttachParent(title)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// What a patcher run sends: a failed run's message and a progress sequence.
void SendRun(ParentLink* link) {
  link->StartParentProgress();
  link->StepParentProgress(2);
  link->StepParentProgress(0);
  link->NotifyParent(203, "Update failed (-10100)");
  link->FinishParentProgress();
}

const char kRunLines[] =
    "progress 0\n"
    "progress 50\n"
    "message 262 Update failed (-10100)\n"
    "message 273 Update failed (-10100)\n"
    "progress 100\n"
    "progress -1\n";

TEST(LauncherListener, Lines) {
  ParentRecord record;
  record.tag = kParentTagMessage;
  record.value = 208;
  record.text = "Cannot open a b";
  EXPECT_EQ(ListenerLine(record), "message 208 Cannot open a b");
  record.tag = kParentTagProgress;
  record.value = -1;
  record.text.clear();
  EXPECT_EQ(ListenerLine(record), "progress -1");
  record.tag = 5;
  record.value = 6;
  record.text = "x";
  EXPECT_EQ(ListenerLine(record), "record 5 6 x");
}

TEST(LauncherListener, ServesOnePatcherUntilItDisconnects) {
  std::string title = UniqueTitle("in-process");
  std::string out;
  std::string err;
  int status = -1;
  std::thread listener([&] {
    status = RunLauncherListener(
        title, [&out](const std::string& text) { out += text; },
        [&err](const std::string& text) { err += text; });
  });
  {
    ParentLink link(5000);
    ASSERT_TRUE(AttachWhenListening(&link, title));
    EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "answered"), 0);
    SendRun(&link);
    EXPECT_TRUE(link.HasParent());
  }  // the patcher goes away
  listener.join();
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(out, std::string("message 300 answered\n") + kRunLines);
}

TEST(LauncherListener, MalformedRecordEndsServing) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  std::string lines;
  ASSERT_TRUE(patcher->SendPacket("short", 5));
  EXPECT_EQ(ServeLauncher(launcher.get(), [&lines](const std::string& l) { lines += l; }), 1);
  EXPECT_EQ(lines, "");
}

TEST(LauncherListener, TakenAddressIsAnError) {
  std::string title = UniqueTitle("taken");
  auto holder = platform::LocalListener::Listen(LauncherAddress(title));
  ASSERT_NE(holder, nullptr);
  std::string err;
  EXPECT_EQ(RunLauncherListener(title, [](const std::string&) {},
                                [&err](const std::string& text) { err += text; }),
            1);
  EXPECT_NE(err.find(LauncherAddress(title)), std::string::npos);
}

TEST(LauncherListener, TheProgram) {
  namespace fs = std::filesystem;
  fs::path dir = fs::path(::testing::TempDir()) / ("mglisten_" + std::to_string(platform::TickMilliseconds()));
  fs::create_directories(dir);
  std::string title = UniqueTitle("program's title");
  fs::path out = dir / "out.txt";
  fs::path status = dir / "status.txt";
  // timeout: a listener that never sees its patcher must not linger.
  std::string command = std::string("( timeout 60 '") + MARROWGATE_LISTEN_PROGRAM + "' \"" + title + "\" > '" +
                        out.string() + "'; echo $? > '" + status.string() + "' ) &";
  ASSERT_EQ(std::system(command.c_str()), 0);
  {
    ParentLink link(5000);
    ASSERT_TRUE(AttachWhenListening(&link, title));
    SendRun(&link);
  }
  std::string statusText;
  for (int attempt = 0; attempt < 200 && statusText.empty(); ++attempt) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(status);
    std::getline(in, statusText);
  }
  EXPECT_EQ(statusText, "0");
  std::ifstream in(out, std::ios::binary);
  std::stringstream printed;
  printed << in.rdbuf();
  EXPECT_EQ(printed.str(), kRunLines);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace marrowgate
