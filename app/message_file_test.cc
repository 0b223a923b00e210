#include "app/message_file.h"

#include <gtest/gtest.h>

#include "app/app_file_manager.h"
#include "app/own_package.h"
#include "app/testing/patcher_program_testing.h"
#include "package/file/memory_file.h"
#include "package/testing/temp_folder_testing.h"

namespace marrowgate {
namespace {

struct Parsed {
  bool ok;
  int32_t number;
  std::string text;
};

Parsed Parse(std::string_view line) {
  Parsed parsed{false, 0, "unset"};
  parsed.ok = ParseMessageLine(line, &parsed.number, &parsed.text);
  return parsed;
}

TEST(MessageLine, NumberNotations) {
  Parsed decimal = Parse("201 The update is complete.\r\n");
  EXPECT_TRUE(decimal.ok);
  EXPECT_EQ(decimal.number, 201);
  EXPECT_EQ(decimal.text, "The update is complete.");

  Parsed hex = Parse("0x12D\tCopy error\r\n");
  EXPECT_TRUE(hex.ok);
  EXPECT_EQ(hex.number, 301);
  EXPECT_EQ(hex.text, "Copy error");

  Parsed octal = Parse("0777 octal\n");
  EXPECT_TRUE(octal.ok);
  EXPECT_EQ(octal.number, 511);
  EXPECT_EQ(octal.text, "octal");

  Parsed spaced = Parse("  \t+150=signed and indented");
  EXPECT_TRUE(spaced.ok);
  EXPECT_EQ(spaced.number, 150);
  EXPECT_EQ(spaced.text, "signed and indented");
}

TEST(MessageLine, TextStartsOneCharacterAfterTheNumber) {
  EXPECT_EQ(Parse("100  two spaces").text, " two spaces");
  EXPECT_EQ(Parse("100").text, "");
  EXPECT_EQ(Parse("100\r\n").text, "");
  EXPECT_EQ(Parse("100 ").text, "");
  EXPECT_TRUE(Parse("100 ").ok);
  EXPECT_EQ(Parse("1000abc").number, 1000);
  EXPECT_EQ(Parse("1000abc").text, "bc");
}

TEST(MessageLine, WhatIsNotAMessage) {
  EXPECT_FALSE(Parse("99 below the first number").ok);
  EXPECT_FALSE(Parse("-300 negative").ok);
  EXPECT_FALSE(Parse("UPDATE").ok);
  EXPECT_FALSE(Parse("{").ok);
  EXPECT_FALSE(Parse("").ok);
  EXPECT_FALSE(Parse("\r\n").ok);
  EXPECT_FALSE(Parse("0xZZ not hex").ok);       // reads as 0
  EXPECT_FALSE(Parse("0999 not octal").ok);     // reads as 0
  EXPECT_FALSE(Parse("4294967597 too big").ok);  // past 32 bits, not wrapped to 301
  EXPECT_TRUE(Parse("2147483647 largest").ok);
  EXPECT_FALSE(Parse("2147483648 one past").ok);
}

TEST(MessageLine, OnlyTheLineEndThatIsThereIsCut) {
  EXPECT_EQ(CutLineEnd("abc\r\n"), "abc");
  EXPECT_EQ(CutLineEnd("abc\n"), "abc");
  EXPECT_EQ(CutLineEnd("abc\r"), "abc");
  EXPECT_EQ(CutLineEnd("abc"), "abc");
  EXPECT_EQ(CutLineEnd("abc\n\r"), "abc\n");
  EXPECT_EQ(CutLineEnd(""), "");
}

TEST(MessageText, LineEndStylesKeepEveryCharacter) {
  MessageTable crlf;
  EXPECT_EQ(ParseMessageText("100 Title\r\n101 Label\r\n102 Last", &crlf), 3);
  EXPECT_EQ(crlf.Text(100), "Title");
  EXPECT_EQ(crlf.Text(101), "Label");
  EXPECT_EQ(crlf.Text(102), "Last");  // unterminated last line keeps its end

  MessageTable lf;
  EXPECT_EQ(ParseMessageText("100 Title\n101 Label\n102 Last\n", &lf), 3);
  EXPECT_EQ(lf.Text(100), "Title");
  EXPECT_EQ(lf.Text(102), "Last");
}

TEST(MessageText, FirstTextOfANumberWinsAndOtherLinesAreSkipped) {
  MessageTable table;
  EXPECT_EQ(ParseMessageText("UPDATE\r\n{\r\n  szUpdateDir = update\r\n}\r\n"
                             "203 first %d\r\n99 not a message\r\n203 second\r\n",
                             &table),
            1);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Text(203), "first %d");
}

TEST(MessageText, LongLinesStayOneMessage) {
  std::string longText(600, 'x');
  std::string trap = "300 trap";
  MessageTable table;
  // A continuation of a long line must not turn into a message of its own.
  ParseMessageText("200 " + longText + trap + "\r\n", &table);
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.Text(200), longText + trap);
}

TEST(ReadMessageFile, ReadsFromTheFileAndReportsFailure) {
  MemoryFile file;
  std::string content = "100 Patcher\r\n210 Choose the folder\r\n";
  file.Write(content.data(), static_cast<int32_t>(content.size()));
  file.Seek(0, 0);
  MessageTable table;
  EXPECT_EQ(ReadMessageFile(&file, &table), 2);
  EXPECT_EQ(table.Text(210), "Choose the folder");
  EXPECT_EQ(ReadMessageFile(nullptr, &table), -1);
}

const std::map<std::string, std::string> kPackageFiles = {
    {"cfg.txt", "100 Marrowgate patch\r\n101 Install folder:\r\n203 Failed (%d)\n"
                "UPDATE\r\n{\r\n szUpdateDir = update\r\n}\r\n10001 1\r\n10002 bin/app.exe"},
    {"update/readme.txt", "hello"},
};

TEST(LoadMessageFile, ProgramWithoutExtension) {
  TestFolder folder;
  std::string program = folder.Child("marrowgate");
  ASSERT_TRUE(MakePatcherProgram(program, kPackageFiles));
  MessageTable table;
  std::string failure;
  ASSERT_TRUE(LoadMessageFile(AppFileManagerOptions(), program, &table, &failure)) << failure;
  EXPECT_EQ(table.Text(100), "Marrowgate patch");
  EXPECT_EQ(table.Text(101), "Install folder:");
  EXPECT_EQ(table.Text(203), "Failed (%d)");
  EXPECT_EQ(table.Text(10002), "bin/app.exe");
  EXPECT_EQ(table.size(), 5u);
}

TEST(LoadMessageFile, ProgramWithExeExtensionAndBackslashes) {
  TestFolder folder;
  std::string program = folder.Child("patch.exe");
  ASSERT_TRUE(MakePatcherProgram(program, kPackageFiles));
  MessageTable table;
  std::string failure;
  std::string windowsStyle = program;
  for (char& c : windowsStyle) {
    if (c == '/') c = '\\';
  }
  ASSERT_TRUE(LoadMessageFile(AppFileManagerOptions(), windowsStyle, &table, &failure))
      << failure;
  EXPECT_EQ(table.Text(100), "Marrowgate patch");
}

TEST(LoadMessageFile, ProgramWithAnotherExtension) {
  TestFolder folder;
  std::string program = folder.Child("patch.bin");
  ASSERT_TRUE(MakePatcherProgram(program, kPackageFiles));
  MessageTable table;
  std::string failure;
  ASSERT_TRUE(LoadMessageFile(AppFileManagerOptions(), program, &table, &failure)) << failure;
  EXPECT_EQ(table.Text(203), "Failed (%d)");
}

TEST(LoadMessageFile, StartUpFailureTexts) {
  TestFolder folder;
  std::string plain = folder.WriteFile("plain", "no package appended here");
  MessageTable table;
  std::string failure;
  EXPECT_FALSE(LoadMessageFile(AppFileManagerOptions(), plain, &table, &failure));
  EXPECT_EQ(failure, "Can't open message file: " + plain + "/cfg.txt");
  EXPECT_TRUE(table.empty());

  std::string program = folder.Child("nocfg");
  ASSERT_TRUE(MakePatcherProgram(program, {{"update/a.txt", "a"}}));
  EXPECT_FALSE(LoadMessageFile(AppFileManagerOptions(), program, &table, &failure));
  EXPECT_EQ(failure, "Can't open message file: " + program + "/cfg.txt");

  FileManagerOptions broken = AppFileManagerOptions();
  broken.keyALen = 129;  // no file manager takes it
  EXPECT_FALSE(LoadMessageFile(broken, program, &table, &failure));
  EXPECT_EQ(failure, "Can't create file-manager");
}

TEST(OwnPackage, SelfBaseRule) {
  EXPECT_EQ(SelfBaseOf("C:\\Game\\patch.exe"), "C:/Game/patch");
  EXPECT_EQ(PackageRootOf("C:\\Game\\patch.exe"), "C:\\Game\\patch");
  EXPECT_EQ(SelfBaseOf("/opt/game/marrowgate"), "/opt/game/marrowgate");
  EXPECT_EQ(SelfBaseOf("/opt/game/patch.v2"), "/opt/game/patch.v2");  // 4th from end not '.'
  EXPECT_EQ(SelfBaseOf("a.ex"), "a.ex");
  EXPECT_EQ(SelfBaseOf(".exe"), ".exe");  // four characters are never cut
  EXPECT_EQ(SelfBaseOf("x.exe"), "x");
  EXPECT_EQ(ModulePathStemLength(""), 0u);
}

}  // namespace
}  // namespace marrowgate
