#include "app/message_delivery.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "app/code_format.h"
#include "app/delayed_name_list.h"
#include "app/testing/recording_view_testing.h"
#include "util/utf8.h"

namespace marrowgate {
namespace {

// Collects what a non-interactive link sends, from the other end of a
// socket pair, answering each record with 0.
std::vector<ParentRecord> Collect(ParentLink* link, const std::function<void()>& send) {
  std::unique_ptr<platform::LocalSocket> patcher, launcher;
  if (!platform::LocalSocket::MakePair(&patcher, &launcher)) return {};
  link->AttachSocket(std::move(patcher));
  std::vector<ParentRecord> records;
  std::thread listener([&] {
    std::string packet;
    std::string answer = EncodeParentAnswer(0);
    while (launcher->ReceivePacket(&packet, 5000) == platform::kReceivedPacket) {
      ParentRecord record;
      if (DecodeParentRecord(packet, &record)) records.push_back(record);
      launcher->SendPacket(answer.data(), answer.size());
    }
  });
  send();
  link->AttachSocket(nullptr);
  listener.join();
  return records;
}

class MessageDeliveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.Insert(204, "Choose the install folder first.");
    table.Insert(208, "Cannot open ");
    table.Insert(203, "Update failed (%d)");
  }
  MessageTable table;
  ParentLink link;
  RecordingView view;
  MessageDelivery delivery{&table, &link, &view};
};

TEST_F(MessageDeliveryTest, InteractiveShowsBoxesAndSendsNothing) {
  delivery.ShowMessageById(204);
  delivery.ShowMessageText(208, "Cannot open /game/a.txt");
  delivery.ReportError(203, -5);  // never a box
  delivery.ShowMessageById(999);  // missing: an empty box, and now in the table
  // No caption before the bar of every box.
  EXPECT_EQ(view.boxes, (std::vector<std::string>{"|Choose the install folder first.",
                                                  "|Cannot open /game/a.txt", "|"}));
  EXPECT_TRUE(table.Contains(999));
}

TEST_F(MessageDeliveryTest, NonInteractiveSendsTheMessageTextNotTheGivenText) {
  std::vector<ParentRecord> records = Collect(&link, [&] {
    delivery.ShowMessageById(204);
    delivery.ShowMessageText(208, "Cannot open /game/a.txt");
  });
  EXPECT_TRUE(view.boxes.empty());
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].value, 300);
  EXPECT_EQ(records[0].text, "Choose the install folder first.");
  EXPECT_EQ(records[1].value, 208);
  EXPECT_EQ(records[1].text, "Cannot open ");
}

TEST_F(MessageDeliveryTest, NonInteractiveWithoutListenerShowsNothing) {
  link.AttachSocket(nullptr);
  delivery.ShowMessageById(204);
  delivery.ShowMessageText(208, "x");
  EXPECT_TRUE(view.boxes.empty());
}

TEST(CodeFormat, OneIntegerPlaceholder) {
  EXPECT_EQ(FormatWithCode("Update failed (%d)", -10100), "Update failed (-10100)");
  EXPECT_EQ(FormatWithCode("code %5d|", 42), "code    42|");
  EXPECT_EQ(FormatWithCode("code %-4i|", 7), "code 7   |");
  EXPECT_EQ(FormatWithCode("hex %08x", 255), "hex 000000ff");
  EXPECT_EQ(FormatWithCode("long %ld", -3), "long -3");
  EXPECT_EQ(FormatWithCode("100%% done, code %d", 1), "100% done, code 1");
  EXPECT_EQ(FormatWithCode("no placeholder", 1), "no placeholder");
}

TEST(CodeFormat, PackageTextIsNeverAFormat) {
  // What printf would read past its one argument is copied as it stands.
  EXPECT_EQ(FormatWithCode("%s %n %d %d", 5), "%s %n 5 %d");
  EXPECT_EQ(FormatWithCode("trailing %", 5), "trailing %");
  // Widths above 999 are cut; the text itself is not.
  EXPECT_EQ(FormatWithCode("%99999999d", 5).size(), 999u);
  EXPECT_EQ(FormatWithCode(std::string(300, 'a') + "%d", 5), std::string(300, 'a') + "5");
}

// Message 203 of about 70 "é": the status and the log keep the whole text;
// the launcher's 128-byte copy ends before the character that would not
// fit, never inside it.
TEST_F(MessageDeliveryTest, LaunchersCopyIsCutAtACharacterBoundary) {
  std::string format = "x";
  for (int i = 0; i < 70; ++i) format += "\xC3\xA9";
  format += " (%d)";
  MessageTable table203;
  table203.Insert(203, format);
  MessageDelivery cutting(&table203, &link, &view);
  std::string whole = FormatWithCode(format, -5);
  EXPECT_EQ(whole.size(), 1u + 140u + 5u);
  EXPECT_TRUE(IsValidUtf8(whole));
  std::vector<ParentRecord> records = Collect(&link, [&] { cutting.ReportError(203, -5); });
  ASSERT_EQ(records.size(), 2u);
  for (const ParentRecord& record : records) {
    EXPECT_EQ(record.text, whole.substr(0, 127));  // 'x' and 63 whole "é"
    EXPECT_TRUE(IsValidUtf8(record.text));
  }
  // The same cut one byte shorter drops the whole "é".
  EXPECT_EQ(CutText(whole, 126), whole.substr(0, 125));
  // A Windows-1252 message keeps its bytes towards the launcher.
  MessageTable latin;
  latin.Insert(203, std::string(200, '\xE9') + "%d");
  MessageDelivery latinDelivery(&latin, &link, &view);
  records = Collect(&link, [&] { latinDelivery.ReportError(203, 1); });
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].text, std::string(127, '\xE9'));
}

TEST(MessageTable, LookupAddsMissingNumbers) {
  MessageTable table;
  EXPECT_TRUE(table.Insert(100, "Title"));
  EXPECT_FALSE(table.Insert(100, "Other"));
  EXPECT_EQ(table.Find(101), nullptr);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Text(101), "");
  EXPECT_TRUE(table.Contains(101));
  EXPECT_EQ(table.Text(100), "Title");
}

TEST(MessageTable, Counts) {
  EXPECT_EQ(MessageCount("3"), 3);
  EXPECT_EQ(MessageCount(" \t+12 names"), 12);
  EXPECT_EQ(MessageCount("-2"), -2);
  EXPECT_EQ(MessageCount("three"), 0);
  EXPECT_EQ(MessageCount(""), 0);
  EXPECT_EQ(MessageCount("99999999999"), 2147483647);
}

TEST(DelayedNameList, StopsAtTheFirstMissingName) {
  MessageTable table;
  table.Insert(10001, "3");
  table.Insert(10002, "bin/app.exe");
  table.Insert(10004, "bin/other.dll");  // behind the gap: not taken
  DelayedNameList list;
  EXPECT_EQ(list.names()[0], nullptr);  // before Build: only the null end
  list.Build(table);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_STREQ(list.names()[0], "bin/app.exe");
  EXPECT_EQ(list.names()[1], nullptr);
}

TEST(DelayedNameList, EmptyNameEndsAndBuildHappensOnce) {
  MessageTable table;
  table.Insert(10001, "2");
  table.Insert(10002, "");
  table.Insert(10003, "b");
  DelayedNameList list;
  list.Build(table);
  EXPECT_TRUE(list.built());
  EXPECT_EQ(list.size(), 0u);
  MessageTable other;
  other.Insert(10001, "1");
  other.Insert(10002, "late");
  list.Build(other);  // already built: unchanged
  EXPECT_EQ(list.size(), 0u);
}

TEST(DelayedNameList, MissingOrNonPositiveCount) {
  MessageTable table;
  DelayedNameList list;
  list.Build(table);
  EXPECT_FALSE(list.built());
  EXPECT_EQ(list.names()[0], nullptr);
  table.Insert(10001, "0");
  table.Insert(10002, "a");
  list.Build(table);
  EXPECT_EQ(list.size(), 0u);
  table.Insert(10001, "-4");
  list.Build(table);
  EXPECT_EQ(list.size(), 0u);
}

TEST(DelayedNameList, NamesStayValidWhileTheTableGrows) {
  MessageTable table;
  table.Insert(10001, "2");
  table.Insert(10002, "first");
  table.Insert(10003, "second");
  DelayedNameList list;
  list.Build(table);
  for (int32_t number = 1; number < 2000; ++number) table.Text(number * 7);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_STREQ(list.names()[0], "first");
  EXPECT_STREQ(list.names()[1], "second");
}

}  // namespace
}  // namespace marrowgate
