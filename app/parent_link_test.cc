#include "app/parent_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "app/message_delivery.h"
#include "app/parent_record.h"
#include "platform/env.h"
#include "platform/launcher_window.h"
#include "platform/testing/local_socket_testing.h"

namespace marrowgate {
namespace {

// The launcher's side of a socket pair: records every record it receives
// and answers each with `answer`, until the patcher's side closes.
class Responder {
 public:
  Responder(std::unique_ptr<platform::LocalSocket> socket, int32_t answer)
      : socket_(std::move(socket)), answer_(answer) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~Responder() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  const std::vector<ParentRecord>& records() const { return records_; }
  bool malformed() const { return malformed_; }

 private:
  void Serve() {
    std::string packet;
    while (socket_->ReceivePacket(&packet, 10000) == platform::kReceivedPacket) {
      ParentRecord record;
      if (!DecodeParentRecord(packet, &record)) {
        malformed_ = true;
        return;
      }
      records_.push_back(record);
      std::string answer = EncodeParentAnswer(answer_);
      if (!socket_->SendPacket(answer.data(), answer.size())) return;
    }
  }

  std::unique_ptr<platform::LocalSocket> socket_;
  int32_t answer_;
  std::vector<ParentRecord> records_;
  bool malformed_ = false;
  std::thread thread_;
};

struct Linked {
  ParentLink link{2000};
  std::unique_ptr<Responder> responder;
};

// A link whose parent is the responder at the other end of a socket pair.
void Connect(Linked* linked, int32_t answer = 0) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  linked->link.AttachSocket(std::move(patcher));
  linked->responder = std::make_unique<Responder>(std::move(launcher), answer);
}

// Closes the patcher's side and waits for the responder to see it.
const std::vector<ParentRecord>& Finish(Linked* linked) {
  linked->link.AttachSocket(nullptr);
  linked->responder->Join();
  EXPECT_FALSE(linked->responder->malformed());
  return linked->responder->records();
}

TEST(ParentCodes, Table) {
  EXPECT_EQ(ParentCodes(6), (std::vector<int32_t>{280}));
  EXPECT_EQ(ParentCodes(203), (std::vector<int32_t>{262, 273}));
  EXPECT_EQ(ParentCodes(207), (std::vector<int32_t>{261}));
  EXPECT_EQ(ParentCodes(208), (std::vector<int32_t>{208}));
  EXPECT_EQ(ParentCodes(213), (std::vector<int32_t>{273}));
  EXPECT_EQ(ParentCodes(304), (std::vector<int32_t>{260}));
  EXPECT_EQ(ParentCodes(306), (std::vector<int32_t>{259}));
  EXPECT_EQ(ParentCodes(212), (std::vector<int32_t>{300}));
  EXPECT_EQ(ParentCodes(0), (std::vector<int32_t>{300}));
}

TEST(ParentLink, StartsInteractiveWithoutParent) {
  ParentLink link;
  EXPECT_TRUE(link.IsInteractive());
  EXPECT_FALSE(link.HasParent());
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "nobody"), 0);
}

TEST(ParentLink, MessageRecordsAndTheAnswer) {
  Linked linked;
  Connect(&linked, 42);
  EXPECT_FALSE(linked.link.IsInteractive());
  EXPECT_EQ(linked.link.SendToParent(kParentTagMessage, 208, "missing file"), 42);
  linked.link.NotifyParent(213, "bad version");
  const auto& records = Finish(&linked);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].tag, -16);
  EXPECT_EQ(records[0].value, 208);
  EXPECT_EQ(records[0].text, "missing file");
  EXPECT_EQ(records[1].value, 273);
  EXPECT_EQ(records[1].text, "bad version");
}

TEST(ParentLink, FailedRunReachesTheParentTwice) {
  Linked linked;
  Connect(&linked);
  MessageTable table;
  table.Insert(203, "Update failed (%d)");
  MessageDelivery delivery(&table, &linked.link, nullptr);
  delivery.ReportError(203, -10100);
  const auto& records = Finish(&linked);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].tag, kParentTagMessage);
  EXPECT_EQ(records[0].value, 262);
  EXPECT_EQ(records[1].tag, kParentTagMessage);
  EXPECT_EQ(records[1].value, 273);
  EXPECT_EQ(records[0].text, "Update failed (-10100)");
  EXPECT_EQ(records[1].text, records[0].text);
}

TEST(ParentLink, ProgressSequence) {
  Linked linked;
  Connect(&linked);
  linked.link.StartParentProgress();
  linked.link.StepParentProgress(0);  // no total yet: nothing sent
  linked.link.StepParentProgress(3);  // the total: nothing sent
  EXPECT_EQ(linked.link.progress_total(), 3);
  linked.link.StepParentProgress(0);  // 2 * 100 / 3
  linked.link.StepParentProgress(0);  // 3 * 100 / 3 = 100, sent as 99
  linked.link.FinishParentProgress();
  const auto& records = Finish(&linked);
  std::vector<int32_t> values;
  for (const ParentRecord& record : records) {
    EXPECT_EQ(record.tag, kParentTagProgress);
    EXPECT_EQ(record.text, "");
    values.push_back(record.value);
  }
  EXPECT_EQ(values, (std::vector<int32_t>{0, 66, 99, 100, -1}));
}

TEST(ParentLink, ASecondRunCountsItsProgressAfresh) {
  Linked linked;
  Connect(&linked);
  for (int run = 0; run < 2; ++run) {
    linked.link.StartParentProgress();
    linked.link.StepParentProgress(2);
    linked.link.StepParentProgress(0);  // 1 * 100 / 2
  }
  const auto& records = Finish(&linked);
  std::vector<int32_t> values;
  for (const ParentRecord& record : records) values.push_back(record.value);
  EXPECT_EQ(values, (std::vector<int32_t>{0, 50, 0, 50}));
}

TEST(ParentLink, ListenerThatNeverAnswersIsDropped) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  ParentLink link(100);  // the answer timeout, short for the test
  link.AttachSocket(std::move(patcher));
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "hello"), 0);
  EXPECT_FALSE(link.HasParent());
  EXPECT_FALSE(link.IsInteractive());  // still no message boxes
  // The one record did arrive; nothing more is sent after the drop.
  std::string packet;
  EXPECT_EQ(launcher->ReceivePacket(&packet, 1000), platform::kReceivedPacket);
  link.NotifyParent(203, "after the drop");
  EXPECT_EQ(launcher->ReceivePacket(&packet, 1000), platform::kPeerClosed);
}

TEST(ParentLink, ListenerThatHasGoneIsDropped) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  ParentLink link(2000);
  link.AttachSocket(std::move(patcher));
  launcher.reset();
  EXPECT_EQ(link.SendToParent(kParentTagProgress, 0, ""), 0);
  EXPECT_FALSE(link.HasParent());
}

TEST(ParentLink, MalformedAnswerDropsTheLink) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  ParentLink link(2000);
  link.AttachSocket(std::move(patcher));
  std::thread answer([&launcher] {
    std::string packet;
    if (launcher->ReceivePacket(&packet, 5000) == platform::kReceivedPacket) {
      launcher->SendPacket("12345", 5);
    }
  });
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "x"), 0);
  answer.join();
  EXPECT_FALSE(link.HasParent());
}

TEST(ParentLink, TitleWithoutListener) {
  ParentLink link;
  std::string title = "no launcher " + std::to_string(platform::TimeNow()) + " " +
                      std::to_string(platform::TickMilliseconds());
  EXPECT_FALSE(link.AttachParent(title));
  EXPECT_FALSE(link.IsInteractive());
  EXPECT_FALSE(link.HasParent());
  link.StartParentProgress();
  EXPECT_EQ(link.SendToParent(kParentTagMessage, 300, "goes nowhere"), 0);
}

TEST(ParentLink, AttachFindsTheListenerOfTheTitle) {
  std::string title = "Launcher window " + std::to_string(platform::TickMilliseconds());
  auto listener = platform::LocalListener::Listen(LauncherAddress(title));
  ASSERT_NE(listener, nullptr);
  ParentLink link(2000);
  if (platform::kLauncherWindows) {
    // There the launcher is a window of the title (see
    // parent_link_win_test.cc); a socket under its name is not one.
    EXPECT_FALSE(link.AttachParent(title));
    EXPECT_FALSE(link.HasParent());
    EXPECT_EQ(listener->Accept(0), nullptr);
    return;
  }
  ASSERT_TRUE(link.AttachParent(title));
  auto accepted = listener->Accept(2000);
  ASSERT_NE(accepted, nullptr);
  Responder responder(std::move(accepted), 7);
  EXPECT_EQ(link.SendToParent(kParentTagProgress, 50, ""), 7);
  link.AttachSocket(nullptr);
  responder.Join();
  ASSERT_EQ(responder.records().size(), 1u);
  EXPECT_EQ(responder.records()[0].value, 50);
}

std::string UniqueTitle(const char* what) {
  return std::string(what) + " " + std::to_string(platform::TimeNow()) + " " +
         std::to_string(platform::TickMilliseconds());
}

// A listener with a full queue that never accepts: the patcher gives up
// within the answer timeout, says so, and goes on without a parent.
TEST(ParentLink, ListenerThatNeverAcceptsCannotHoldTheRun) {
  std::string title = UniqueTitle("never accepts");
  auto listener = platform::LocalListener::Listen(LauncherAddress(title), 0);
  ASSERT_NE(listener, nullptr);
  std::vector<std::unique_ptr<platform::LocalSocket>> queue;
  for (int i = 0; i < 4; ++i) {
    if (auto queued = platform::LocalSocket::Connect(LauncherAddress(title), 50)) {
      queue.push_back(std::move(queued));
    }
  }
  ASSERT_FALSE(queue.empty());
  ParentLink link(200);
  uint32_t before = platform::TickMilliseconds();
  EXPECT_FALSE(link.AttachParent(title));
  EXPECT_LT(platform::TickMilliseconds() - before, 2000u);
  EXPECT_FALSE(link.IsInteractive());
  // Named for later (the window's way): the first record makes the attempt.
  ParentLink later(200);
  later.AttachParentLater(title);
  before = platform::TickMilliseconds();
  later.StartParentProgress();
  later.NotifyParent(203, "failed");
  EXPECT_FALSE(later.HasParent());
  EXPECT_LT(platform::TickMilliseconds() - before, 2000u);
}

// A listener that answers ahead and then stops reading: the patcher's
// records stop being taken, and the send gives up after the answer timeout.
TEST(ParentLink, ListenerThatStopsReadingCannotHoldTheRun) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  // Answers ahead, as many as the patcher's side takes (a few hundred).
  std::string answer = EncodeParentAnswer(0);
  int ahead = 0;
  while (ahead < 700 &&
         launcher->SendPacketWithin(answer.data(), answer.size(), 50) == platform::kSentPacket) {
    ++ahead;
  }
  ASSERT_GT(ahead, 10);
  ParentLink link(200, 60000);
  link.AttachSocket(std::move(patcher));
  link.StartParentProgress();
  // Each step sends a record. Where the link's buffer holds every record
  // (a 64 KiB pipe on Windows), the answers run out first; either way the
  // link goes within the answers sent ahead and one answer timeout.
  const int bound = ahead + 50;
  link.StepParentProgress(bound);
  uint32_t before = platform::TickMilliseconds();
  int steps = 0;
  for (; steps < bound && link.HasParent(); ++steps) link.StepParentProgress(0);
  EXPECT_FALSE(link.HasParent());
  EXPECT_LT(steps, bound);
  EXPECT_LE(steps, ahead);
  EXPECT_LT(platform::TickMilliseconds() - before, 3000u);
  link.FinishParentProgress();  // goes nowhere, at once
}

// A listener of another user squatting the title's name gets nothing, not
// even the first record, and the run goes on without a parent.
TEST(ParentLink, ListenerOfAnotherUserGetsNothing) {
  if (!platform::ListenerOfUser::CanSwitchUser()) {
    GTEST_SKIP() << "needs root to listen as another user";
  }
  std::string title = UniqueTitle("squatter");
  platform::ListenerOfUser squatter;
  ASSERT_TRUE(squatter.Start(LauncherAddress(title), 65534, EncodeParentAnswer(0)));
  ParentLink link(2000);
  EXPECT_FALSE(link.AttachParent(title));
  EXPECT_FALSE(link.IsInteractive());
  link.StartParentProgress();
  link.NotifyParent(203, "secret");
  link.FinishParentProgress();
  EXPECT_EQ(squatter.Wait(), 0);
}

// A listener that answers every record just inside the answer timeout: the
// run's budget for waiting on it ends the link, whatever the number of
// records.
TEST(ParentLink, SlowListenerIsBoundedByTheRunsBudget) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  ASSERT_TRUE(platform::LocalSocket::MakePair(&patcher, &launcher));
  std::thread slow([&launcher] {
    std::string packet;
    while (launcher->ReceivePacket(&packet, 3000) == platform::kReceivedPacket) {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      std::string answer = EncodeParentAnswer(1);
      if (!launcher->SendPacket(answer.data(), answer.size())) return;
    }
  });
  // Answers take 150 ms of a 300 ms timeout (room for a coarse system
  // timer and a loaded machine); the budget is 1200 ms.
  ParentLink link(300, 1200);
  link.AttachSocket(std::move(patcher));
  uint32_t before = platform::TickMilliseconds();
  link.StartParentProgress();
  link.StepParentProgress(1000);
  int answered = 0;
  for (int i = 0; i < 1000; ++i) {
    link.StepParentProgress(0);
    if (link.HasParent()) ++answered;
  }
  uint32_t took = platform::TickMilliseconds() - before;
  EXPECT_FALSE(link.HasParent());
  EXPECT_GE(answered, 2);
  EXPECT_LE(answered, 8);
  EXPECT_LT(took, 3000u);
  link.AttachSocket(nullptr);
  slow.join();
}

TEST(ParentRecord, LauncherAddressIsTheMd5OfTheTitle) {
  // RFC 1321 test vectors.
  EXPECT_EQ(LauncherAddress(""), "marrowgate-launcher-d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(LauncherAddress("abc"), "marrowgate-launcher-900150983cd24fb0d6963f7d28e17f72");
  EXPECT_LE(LauncherAddress(std::string(127, 'T')).size(), platform::kMaxLocalSocketName);
}

TEST(ParentRecord, LayoutIsLittleEndian) {
  std::string packet = EncodeParentRecord(-16, 262, "ab");
  const unsigned char expected[] = {0xF0, 0xFF, 0xFF, 0xFF, 0x06, 0x01, 0x00, 0x00,
                                    0x02, 0x00, 0x00, 0x00, 'a',  'b'};
  ASSERT_EQ(packet.size(), sizeof(expected));
  EXPECT_EQ(0, std::memcmp(packet.data(), expected, sizeof(expected)));
  ParentRecord record;
  ASSERT_TRUE(DecodeParentRecord(packet, &record));
  EXPECT_EQ(record.tag, -16);
  EXPECT_EQ(record.value, 262);
  EXPECT_EQ(record.text, "ab");

  EXPECT_FALSE(DecodeParentRecord(packet.substr(0, 11), &record));  // short header
  EXPECT_FALSE(DecodeParentRecord(packet.substr(0, 13), &record));  // text cut short
  EXPECT_FALSE(DecodeParentRecord(packet + "c", &record));          // bytes past the text

  int32_t answer = 0;
  ASSERT_TRUE(DecodeParentAnswer(EncodeParentAnswer(-1), &answer));
  EXPECT_EQ(answer, -1);
  EXPECT_FALSE(DecodeParentAnswer("abc", &answer));
}

}  // namespace
}  // namespace marrowgate
