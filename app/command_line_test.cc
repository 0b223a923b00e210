#include "app/command_line.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace marrowgate {
namespace {

// ------------------------------------------------------- the Windows form

PatcherCommandLine Windows(const std::string& program, const std::string& tail) {
  std::string line = program;
  if (!tail.empty()) line += " " + tail;
  return ParseWindowsCommandLine(line, tail);
}

TEST(WindowsCommandLine, NoArgumentsLeavesEverythingEmpty) {
  PatcherCommandLine r = Windows("C:\\Game\\patch.exe", "");
  EXPECT_FALSE(r.usageError);
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_EQ(r.installFolder, "");
}

TEST(WindowsCommandLine, BareTailIsTheInstallFolder) {
  PatcherCommandLine r = Windows("patch.exe", "C:\\Games\\Client");
  EXPECT_EQ(r.installFolder, "C:\\Games\\Client");
  EXPECT_EQ(r.parentTitle, "");
}

TEST(WindowsCommandLine, UserValueForms) {
  EXPECT_EQ(Windows("p.exe", "/user Launcher /D C:\\G").parentTitle, "Launcher");
  EXPECT_EQ(Windows("p.exe", "/user=Launcher /D C:\\G").parentTitle, "Launcher");
  // Any run of spaces, tabs and '=' before the value.
  EXPECT_EQ(Windows("p.exe", "/user \t= =Launcher").parentTitle, "Launcher");
  // An unquoted value stops at a space, a tab or '='.
  EXPECT_EQ(Windows("p.exe", "/user Lau=ncher").parentTitle, "Lau");
  EXPECT_EQ(Windows("p.exe", "/user Lau\tncher").parentTitle, "Lau");
  // Quoted: to the next quote mark of either kind, spaces included.
  EXPECT_EQ(Windows("p.exe", "/user \"My Launcher\" /D x").parentTitle, "My Launcher");
  EXPECT_EQ(Windows("p.exe", "/user 'My Launcher' /D x").parentTitle, "My Launcher");
  EXPECT_EQ(Windows("p.exe", "/user \"it's\"").parentTitle, "it");
  // An unclosed quote runs to the end of the line.
  EXPECT_EQ(Windows("p.exe", "/user \"Open end").parentTitle, "Open end");
  // Nothing after the option.
  EXPECT_EQ(Windows("p.exe", "/user").parentTitle, "");
}

TEST(WindowsCommandLine, UserTitleOf128BytesOrMoreIsIgnored) {
  std::string longest(kMaxParentTitle - 1, 'a');
  EXPECT_EQ(Windows("p.exe", "/user " + longest + " /D x").parentTitle, longest);
  PatcherCommandLine r = Windows("p.exe", "/user " + longest + "a /D x");
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_FALSE(r.notes.empty());
  EXPECT_FALSE(r.usageError);
}

TEST(WindowsCommandLine, FolderStartsThreeCharactersAfterTheOption) {
  EXPECT_EQ(Windows("p.exe", "/D C:\\Games\\Client").installFolder, "C:\\Games\\Client");
  EXPECT_EQ(Windows("p.exe", "/D=C:\\Games\\Client").installFolder, "C:\\Games\\Client");
  // No separator: the folder's first character is lost.
  EXPECT_EQ(Windows("p.exe", "/DC:\\Games").installFolder, ":\\Games");
  // Quotes are kept, and the folder runs to the end of the line.
  EXPECT_EQ(Windows("p.exe", "/D \"C:\\My Games\" more").installFolder,
            "\"C:\\My Games\" more");
  // The option letter is case-sensitive.
  EXPECT_EQ(Windows("p.exe", "/d C:\\G").installFolder, "/d C:\\G");
}

TEST(WindowsCommandLine, UserWithoutFolderTakesTheWholeTail) {
  PatcherCommandLine r = Windows("p.exe", "/user Launcher");
  EXPECT_EQ(r.parentTitle, "Launcher");
  EXPECT_EQ(r.installFolder, "/user Launcher");
}

TEST(WindowsCommandLine, OptionAtTheVeryEndFallsBackToTheTail) {
  EXPECT_EQ(Windows("p.exe", "/D").installFolder, "/D");
  EXPECT_EQ(Windows("p.exe", "x /D ").installFolder, "x /D ");
}

TEST(WindowsCommandLine, SearchesTheProgramPathToo) {
  // This is why a POSIX build does not use this reader.
  PatcherCommandLine r = ParseWindowsCommandLine("/home/user/Downloads/patch", "");
  EXPECT_EQ(r.parentTitle, "/Downloads/patch");
  EXPECT_EQ(r.installFolder, "wnloads/patch");
  EXPECT_EQ(ParseWindowsCommandLine("/user/x/patch C:\\G", "C:\\G").parentTitle, "/x/patch");
}

TEST(WindowsCommandLine, HiddenRunIsTheWholeTail) {
  EXPECT_EQ(Windows("p.exe", "-h").installFolder, "-h");
  EXPECT_EQ(Windows("p.exe", "-h x").installFolder, "-h x");
}

TEST(WindowsCommandLine, OnlyTheFirst511BytesAreSearched) {
  std::string program(600, 'p');
  PatcherCommandLine r = ParseWindowsCommandLine(program + " /user L /D C:\\G", "/user L /D C:\\G");
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_EQ(r.installFolder, "/user L /D C:\\G");
}

TEST(WindowsCommandLine, FolderCutByTheCopyIsRefused) {
  std::string folder = "C:\\" + std::string(600, 'f');
  PatcherCommandLine r = Windows("p.exe", "/D " + folder);
  EXPECT_TRUE(r.usageError);
  EXPECT_NE(r.error.find("cut"), std::string::npos);
  // A line that just fits is taken whole.
  std::string fits = "C:\\" + std::string(511 - 3 - 6 - 3, 'f');
  PatcherCommandLine ok = Windows("p.exe", "/D " + fits);
  EXPECT_FALSE(ok.usageError);
  EXPECT_EQ(ok.installFolder, fits);
}

// --------------------------------------------------------- the POSIX form

PatcherCommandLine Posix(std::vector<std::string> args) { return ParsePosixArguments(args); }

TEST(PosixArguments, NoArgumentsIsInteractiveWithoutFolder) {
  PatcherCommandLine r = Posix({});
  EXPECT_FALSE(r.usageError);
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_EQ(r.installFolder, "");
  EXPECT_FALSE(r.console);
}

TEST(PosixArguments, LauncherTitleForms) {
  EXPECT_EQ(Posix({"/user", "Launcher", "/tmp/g"}).parentTitle, "Launcher");
  EXPECT_EQ(Posix({"/user=Launcher", "/tmp/g"}).parentTitle, "Launcher");
  EXPECT_EQ(Posix({"--launcher", "My Launcher", "/tmp/g"}).parentTitle, "My Launcher");
  EXPECT_EQ(Posix({"--launcher=L", "/tmp/g"}).parentTitle, "L");
  // --launcher's folder is its own; "/user" names the folder after /D.
  EXPECT_EQ(Posix({"--launcher", "Launcher", "/tmp/g"}).installFolder, "/tmp/g");
  EXPECT_EQ(Posix({"/user", "Launcher", "/D", "/tmp/g"}).installFolder, "/tmp/g");
  // After "/user", '=' is skipped, in the argument and as arguments.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"/user", "=", "T", "/D", "/tmp/g"},
           {"/user==T", "/D", "/tmp/g"},
           {"/user=", "T", "/D", "/tmp/g"},
           {"/user", "==", "=T", "/D", "/tmp/g"}}) {
    PatcherCommandLine r = Posix(args);
    EXPECT_FALSE(r.usageError) << args[0];
    EXPECT_EQ(r.parentTitle, "T") << args[0];
    EXPECT_EQ(r.installFolder, "/tmp/g") << args[0];
  }
  EXPECT_TRUE(Posix({"/user", "=", "="}).usageError);
}

// A launcher title and no folder: the whole line is the folder, as the
// Windows form takes the tail; that run fails at the version check.
TEST(PosixArguments, LauncherWithoutFolderTakesTheWholeLine) {
  PatcherCommandLine r = Posix({"/user", "Launcher"});
  EXPECT_FALSE(r.usageError);
  EXPECT_EQ(r.parentTitle, "Launcher");
  EXPECT_EQ(r.installFolder, "/user Launcher");
  EXPECT_EQ(Posix({"--console", "/user=L"}).installFolder, "--console /user=L");
  // Without a launcher nothing changes: the window waits for a folder.
  EXPECT_EQ(Posix({"--console"}).installFolder, "");
  // A hidden run keeps its own folder.
  EXPECT_EQ(Posix({"/user", "L", "-h"}).installFolder, "-h");
}

TEST(PosixArguments, VerifyTakesOneFolder) {
  PatcherCommandLine r = Posix({"--verify", "/tmp/g/"});
  EXPECT_FALSE(r.usageError);
  EXPECT_TRUE(r.verify);
  EXPECT_EQ(r.installFolder, "/tmp/g");
  EXPECT_EQ(Posix({"--verify", "/"}).installFolder, "/");
  EXPECT_TRUE(Posix({"--verify"}).usageError);
  EXPECT_TRUE(Posix({"--verify", "-h"}).usageError);
  EXPECT_TRUE(Posix({"--verify", "/a", "/b"}).usageError);
  EXPECT_TRUE(Posix({"--verify", "--help"}).help);
  // After /D the rest of the line is the folder, "--verify" included.
  PatcherCommandLine folder = Posix({"/D", "--verify"});
  EXPECT_FALSE(folder.verify);
  EXPECT_EQ(folder.installFolder, "--verify");
}

TEST(PosixArguments, DryRunTakesTheFolderFormsOfARun) {
  PatcherCommandLine r = Posix({"/user", "L", "--dry-run", "/D", "my", "game"});
  EXPECT_FALSE(r.usageError);
  EXPECT_TRUE(r.dryRun);
  EXPECT_EQ(r.installFolder, "my game");
  EXPECT_EQ(r.parentTitle, "L");
  EXPECT_EQ(Posix({"--dry-run", "-h"}).installFolder, "-h");
  EXPECT_EQ(Posix({"--dry-run", "--dir=/g"}).installFolder, "/g");
  EXPECT_TRUE(Posix({"--dry-run"}).usageError);
  EXPECT_TRUE(Posix({"/user", "L", "--dry-run"}).usageError);
  EXPECT_TRUE(Posix({"--dry-run", "--verify", "/g"}).usageError);
  EXPECT_TRUE(Posix({"--dry-run", "--help"}).help);
}

TEST(PosixArguments, LauncherTitleTooLongIsIgnored) {
  std::string title(kMaxParentTitle, 't');
  PatcherCommandLine r = Posix({"/user", title, "/D", "/tmp/g"});
  EXPECT_FALSE(r.usageError);
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_EQ(r.notes.size(), 1u);
  EXPECT_EQ(r.installFolder, "/tmp/g");
}

TEST(PosixArguments, FolderOptionTakesTheRestOfTheLine) {
  EXPECT_EQ(Posix({"/D", "/tmp/My", "Games"}).installFolder, "/tmp/My Games");
  EXPECT_EQ(Posix({"/D=/tmp/My", "Games"}).installFolder, "/tmp/My Games");
  EXPECT_EQ(Posix({"/user", "L", "/D", "/tmp/g"}).installFolder, "/tmp/g");
  // Whatever follows /D belongs to the folder, option-like or not.
  EXPECT_EQ(Posix({"/D", "/tmp/g", "--console"}).installFolder, "/tmp/g --console");
  EXPECT_FALSE(Posix({"/D", "/tmp/g", "--console"}).console);
  EXPECT_EQ(Posix({"--dir", "/tmp/My Games"}).installFolder, "/tmp/My Games");
  EXPECT_EQ(Posix({"--dir=/tmp/g", "--console"}).installFolder, "/tmp/g");
  EXPECT_TRUE(Posix({"--dir=/tmp/g", "--console"}).console);
}

TEST(PosixArguments, PlainArgumentsAreJoinedBySingleSpaces) {
  EXPECT_EQ(Posix({"/tmp/My", "Games"}).installFolder, "/tmp/My Games");
  EXPECT_EQ(Posix({"--console", "/tmp/g"}).installFolder, "/tmp/g");
  EXPECT_TRUE(Posix({"--console", "/tmp/g"}).console);
}

TEST(PosixArguments, PathsContainingTheOptionTextsAreFolders) {
  PatcherCommandLine r = Posix({"/home/user/Downloads/game"});
  EXPECT_FALSE(r.usageError);
  EXPECT_EQ(r.parentTitle, "");
  EXPECT_EQ(r.installFolder, "/home/user/Downloads/game");
  EXPECT_EQ(Posix({"/user/games"}).installFolder, "/user/games");
  EXPECT_EQ(Posix({"/users"}).installFolder, "/users");
  EXPECT_EQ(Posix({"/Data"}).installFolder, "/Data");
  EXPECT_EQ(Posix({"/D/games"}).installFolder, "/D/games");
  EXPECT_EQ(Posix({"/user", "L", "/D", "/home/user/D x"}).installFolder, "/home/user/D x");
}

TEST(PosixArguments, HiddenRun) {
  EXPECT_EQ(Posix({"-h"}).installFolder, "-h");
  EXPECT_EQ(Posix({"--hidden"}).installFolder, "-h");
  PatcherCommandLine withLauncher = Posix({"/user", "L", "-h"});
  EXPECT_EQ(withLauncher.installFolder, "-h");
  EXPECT_EQ(withLauncher.parentTitle, "L");
  EXPECT_TRUE(Posix({"-h", "/tmp/g"}).usageError);
  EXPECT_TRUE(Posix({"--", "-h"}).usageError);
}

TEST(PosixArguments, DoubleDashEndsTheOptions) {
  EXPECT_EQ(Posix({"--", "--console"}).installFolder, "--console");
  EXPECT_FALSE(Posix({"--", "--console"}).console);
}

TEST(PosixArguments, BadUsage) {
  EXPECT_TRUE(Posix({"/user"}).usageError);
  EXPECT_TRUE(Posix({"--launcher"}).usageError);
  EXPECT_TRUE(Posix({"/D"}).usageError);
  EXPECT_TRUE(Posix({"--dir"}).usageError);
  EXPECT_TRUE(Posix({"--dir="}).usageError);
  EXPECT_TRUE(Posix({"--frobnicate"}).usageError);
  EXPECT_TRUE(Posix({"-x"}).usageError);
  EXPECT_TRUE(Posix({"--dir", "/a", "/b"}).usageError);
  PatcherCommandLine r = Posix({"--bogus"});
  EXPECT_NE(r.error.find("--bogus"), std::string::npos);
}

TEST(PosixArguments, HelpAndVersion) {
  EXPECT_TRUE(Posix({"--help"}).help);
  EXPECT_TRUE(Posix({"--version"}).version);
  EXPECT_NE(PatcherUsage("marrowgate").find("--launcher"), std::string::npos);
}

// ------------------------------------------- the Windows program's reader

TEST(WindowsArguments, SplitAsTheRunTimeDoes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitWindowsArguments(""), V{});
  EXPECT_EQ(SplitWindowsArguments("  \t "), V{});
  EXPECT_EQ(SplitWindowsArguments("--verify  C:\\Games\\Client"), (V{"--verify", "C:\\Games\\Client"}));
  EXPECT_EQ(SplitWindowsArguments("--verify \"C:\\My Games\\Client\""),
            (V{"--verify", "C:\\My Games\\Client"}));
  // A quoted folder with a trailing separator: the backslash doubled.
  EXPECT_EQ(SplitWindowsArguments("--dir \"C:\\My Games\\\\\" --console"),
            (V{"--dir", "C:\\My Games\\", "--console"}));
  EXPECT_EQ(SplitWindowsArguments("a\\\\\\\"b c\\d"), (V{"a\\\"b", "c\\d"}));
  EXPECT_EQ(SplitWindowsArguments("\"\" x"), (V{"", "x"}));
  EXPECT_EQ(SplitWindowsArguments("\"say \"\"hi\"\"\""), (V{"say \"hi\""}));
  EXPECT_EQ(SplitWindowsArguments("ab\"c d\"e"), (V{"abc de"}));
}

TEST(WindowsArguments, OptionsFirstOtherwiseTheSubstringRule) {
  const std::string program = "\"C:\\Patch\\patch.exe\" ";
  PatcherCommandLine verify = ParseWindowsProgramLine(program + "--verify \"C:\\My Games\\G\"",
                                                      "--verify \"C:\\My Games\\G\"");
  EXPECT_TRUE(verify.verify);
  EXPECT_EQ(verify.installFolder, "C:\\My Games\\G");
  PatcherCommandLine console =
      ParseWindowsProgramLine(program + "--console --dir C:\\G", "--console --dir C:\\G");
  EXPECT_TRUE(console.console);
  EXPECT_EQ(console.installFolder, "C:\\G");
  EXPECT_TRUE(ParseWindowsProgramLine(program + "--help", "--help").help);
  EXPECT_TRUE(ParseWindowsProgramLine(program + "--bogus", "--bogus").usageError);
  // Without a leading option the launcher's form of the line holds:
  // "/user" and "/D" anywhere, quotes kept, options after the folder are
  // part of it.
  PatcherCommandLine launcher = ParseWindowsProgramLine(
      program + "/user \"Game Launcher\" /D \"C:\\G\" --console", "/user \"Game Launcher\" /D \"C:\\G\" --console");
  EXPECT_EQ(launcher.parentTitle, "Game Launcher");
  EXPECT_EQ(launcher.installFolder, "\"C:\\G\" --console");
  EXPECT_FALSE(launcher.console);
  PatcherCommandLine bare = ParseWindowsProgramLine(program + "C:\\G", "C:\\G");
  EXPECT_EQ(bare.installFolder, "C:\\G");
  EXPECT_TRUE(ParseWindowsProgramLine(program, "").installFolder.empty());
}

// ------------------------------------------------- both forms, one rule

// A launcher names the folder after "/D"; "/user" without "/D" makes the
// whole tail the folder. The Windows line and the same tail split into
// arguments give the same title and folder.
TEST(CommandLineForms, UserAndFolderReadAlikeOnBothSystems) {
  const std::string longTitle(kMaxParentTitle, 't');
  struct Case {
    std::string tail, title, folder;
  };
  const std::vector<Case> cases = {
      {"", "", ""},
      {"C:\\Games\\Client", "", "C:\\Games\\Client"},
      {"/user L /D C:\\G", "L", "C:\\G"},
      {"/user=L /D C:\\My Games", "L", "C:\\My Games"},
      {"/user L C:\\G", "L", "/user L C:\\G"},
      {"/user=L C:\\G", "L", "/user=L C:\\G"},
      {"C:\\G /user L", "L", "C:\\G /user L"},
      {"/user L", "L", "/user L"},
      {"/user " + longTitle + " C:\\G", "", "/user " + longTitle + " C:\\G"},
      {"/user " + longTitle + " /D C:\\G", "", "C:\\G"},
  };
  for (const Case& c : cases) {
    PatcherCommandLine windows = Windows("p.exe", c.tail);
    PatcherCommandLine posix = Posix(SplitWindowsArguments(c.tail));
    for (const PatcherCommandLine* r : {&windows, &posix}) {
      const char* form = r == &windows ? "windows" : "posix";
      EXPECT_FALSE(r->usageError) << form << ": " << c.tail << ": " << r->error;
      EXPECT_EQ(r->parentTitle, c.title) << form << ": " << c.tail;
      EXPECT_EQ(r->installFolder, c.folder) << form << ": " << c.tail;
    }
  }
  // The POSIX form's own launcher option keeps its folder.
  EXPECT_EQ(Posix({"--launcher", "L", "C:\\G"}).installFolder, "C:\\G");
}

}  // namespace
}  // namespace marrowgate
