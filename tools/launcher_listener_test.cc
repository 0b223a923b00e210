#include "tools/launcher_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

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

TEST(LauncherListener, Options) {
  ListenerOptions options;
  std::string error;
  ASSERT_TRUE(ParseListenerArgs({"--answer", "-5", "--stall", "250", "--idle", "0", "My Launcher"},
                                &options, &error));
  EXPECT_EQ(options.title, "My Launcher");
  EXPECT_EQ(options.answer, -5);
  EXPECT_EQ(options.stallMs, 250);
  EXPECT_EQ(options.idleMs, 0);
  ASSERT_TRUE(ParseListenerArgs({"T"}, &options, &error));
  EXPECT_EQ(options.answer, 0);
  EXPECT_EQ(options.stallMs, 0);
  EXPECT_EQ(options.idleMs, -1);
  const std::vector<std::vector<std::string>> bad{
      {},           {"--stall", "5"},    {"--answer"},          {"--answer", "x", "T"},
      {"--answer", "2147483648", "T"},   {"--stall", "-1", "T"}, {"--idle", "9e9", "T"},
      {"T", "U"},   {"--frob", "T"},     {"--stall", "10ms", "T"}};
  for (const auto& args : bad) {
    error.clear();
    EXPECT_FALSE(ParseListenerArgs(args, &options, &error)) << args.size();
    EXPECT_FALSE(error.empty());
  }
}

// The listener's answer reaches the patcher; a stalling listener costs the
// patcher its answer bound and no more; an idle one gives up.
TEST(LauncherListener, AnswerStallAndIdle) {
  for (int answerBoundMs : {3000, 200}) {
    std::unique_ptr<platform::LocalSocket> patcher, launcher;
    ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
    ListenerOptions options;
    options.answer = 41;
    options.stallMs = 700;
    options.idleMs = 300;
    std::vector<std::string> lines;
    int status = -1;
    std::thread serving([&] {
      status = ServeLauncher(launcher.get(), options,
                             [&lines](const std::string& l) { lines.push_back(l); });
    });
    ParentLink link(answerBoundMs);
    link.AttachSocket(std::move(patcher));
    const auto start = std::chrono::steady_clock::now();
    const int32_t answer = link.SendToParent(kParentTagMessage, 300, "waited for");
    const auto took = std::chrono::steady_clock::now() - start;
    serving.join();
    EXPECT_EQ(lines, std::vector<std::string>{"message 300 waited for"});
    if (answerBoundMs > options.stallMs) {
      EXPECT_EQ(answer, 41);
      EXPECT_TRUE(link.HasParent());
      EXPECT_GE(took, std::chrono::milliseconds(650));
      EXPECT_EQ(status, kListenerIdle);  // nothing came after the answer
    } else {
      EXPECT_EQ(answer, 0);
      EXPECT_FALSE(link.HasParent());
      EXPECT_LT(took, std::chrono::milliseconds(600));
      EXPECT_EQ(status, kListenerFailed);  // the patcher left before the answer
    }
  }
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
