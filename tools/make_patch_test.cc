#include "tools/make_patch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>

#include "tools/testing/pack_tool_testing.h"

namespace marrowgate {
namespace {

// Relative path -> content; a package file stands as "<path>.dpk/" followed
// by its items, so trees compare item by item.
using Tree = std::map<std::string, std::string>;

class MakePatchTest : public PackToolFolderTest {
 protected:
  // Runs a shell command quietly; its exit status.
  int Shell(const std::string& command) {
    fs::path status = root_ / "status.txt";
    std::system((command + " > " + (root_ / "shell.log").string() + " 2>&1; echo $? > " +
                 status.string())
                    .c_str());
    int code = std::atoi(ReadFile(status).c_str());
    fs::remove(status);
    return code;
  }

  Tree ReadInstall(const fs::path& root) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      std::string rel = fs::relative(entry.path(), root).generic_string();
      if (rel.rfind("update/", 0) == 0) continue;  // bookkeeping
      if (rel.size() > 4 && rel.substr(rel.size() - 4) == ".dpk") {
        fs::path out = root_ / ("items" + std::to_string(++extracted_));
        EXPECT_EQ(RunTool({"extract", entry.path().string(), out.string()}).status, 0) << rel;
        fs::create_directories(out);
        for (const auto& item : fs::recursive_directory_iterator(out))
          if (item.is_regular_file())
            tree[rel + "/" + fs::relative(item.path(), out).generic_string()] = ReadFile(item.path());
        tree[rel + "/"] = "(package)";
        continue;
      }
      tree[rel] = ReadFile(entry.path());
    }
    return tree;
  }

  // Writes `files` under `folder`, then packs every "<name>.dpk/..." group
  // into the package <name>.dpk.
  void MakeInstall(const fs::path& folder, const Tree& files) {
    std::map<std::string, fs::path> packages;
    for (const auto& [rel, content] : files) {
      size_t at = rel.find(".dpk/");
      if (at == std::string::npos) {
        WriteFile(folder / rel, content);
        continue;
      }
      const std::string package = rel.substr(0, at + 4);
      fs::path source = root_ / ("src" + std::to_string(packages.size())) ;
      if (packages.count(package) == 0) packages[package] = source;
      if (rel.size() > at + 5) WriteFile(packages[package] / rel.substr(at + 5), content);
      else fs::create_directories(packages[package]);
    }
    for (const auto& [package, source] : packages) {
      fs::create_directories((folder / package).parent_path());
      ASSERT_EQ(RunTool({"create", (folder / package).string(), source.string()}).status, 0);
      fs::remove_all(source);
    }
    ASSERT_EQ(RunTool({"file-list", folder.string()}).status, 0);
  }

  int extracted_ = 0;
};

TEST_F(MakePatchTest, PatchProgramTurnsOldIntoNewCarryingOnlyWhatChanged) {
  const std::string deep = "a/b/c/d/e/f/g/h/deep-file.txt";
  const std::string large = Incompressible(3 * 1024 * 1024 + 17, 3);
  Tree old = {
      {"mb/etc/version.txt", "1 1.2.0.0\r\n"},
      {"bin/game.exe", "old game"},
      {"bin/same.dll", "never changes"},
      {"readme.txt", "read me"},
      {"old-folder/one.txt", "1"},
      {"old-folder/sub/two.txt", "2"},
      {"removed.txt", "gone soon"},
      {"data/big.bin", large},
      {deep, "deep old"},
      {"data/maps.dpk/valley.map", "old valley"},
      {"data/maps.dpk/hill.map", "hill stays"},
      {"data/maps.dpk/gone.map", "removed item"},
      {"data/maps.dpk/old-sub/x.map", "removed item folder"},
      {"data/retired.dpk/r.bin", "a whole package removed"},
  };
  Tree changedTree = old;
  changedTree["mb/etc/version.txt"] = "1 1.3.0.0\r\n";
  changedTree["bin/game.exe"] = "new game, longer";
  changedTree["readme.txt"] = "read ME";  // same size, other bytes
  changedTree.erase("old-folder/one.txt");
  changedTree.erase("old-folder/sub/two.txt");
  changedTree.erase("removed.txt");
  changedTree.erase("data/maps.dpk/gone.map");
  changedTree.erase("data/maps.dpk/old-sub/x.map");
  changedTree.erase("data/retired.dpk/r.bin");
  changedTree["data/big.bin"] = large.substr(0, large.size() - 1) + "!";
  changedTree[deep] = "deep new";
  changedTree["data/maps.dpk/valley.map"] = "new valley";
  changedTree["data/maps.dpk/new.map"] = "new item";
  changedTree["data/sounds.dpk/bang.wav"] = "a new package";
  changedTree["gr\xC3\xBC\xC3\x9F" "e/\xE6\x96\x87\xE5\xAD\x97.txt"] = "non-ASCII";
  changedTree["bin/game.cfg"] = "held back";

  const fs::path oldDir = root_ / "old", newDir = root_ / "new";
  MakeInstall(oldDir, old);
  MakeInstall(newDir, changedTree);
  // NEW's own bookkeeping lists are never carried.
  WriteFile(newDir / "update/newfile.txt", "stale\r\n");

  const fs::path program = root_ / "patch-program";
  ToolRun made = RunTool({"make-patch", "--patcher", MARROWGATE_PATCHER_PROGRAM, "--hold-back",
                          "bin/game.cfg", oldDir.string(), newDir.string(), program.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find("4 added, 6 changed, 6 removed"), std::string::npos) << made.out;
  EXPECT_NE(made.out.find("; 1 file as deltas"), std::string::npos) << made.out;
  ToolRun checked = RunTool({"check", program.string()});
  EXPECT_EQ(checked.status, 0) << checked.err;

  // The patch carries exactly the new and changed files and items.
  const fs::path unpacked = root_ / "unpacked";
  ASSERT_EQ(RunTool({"extract", program.string(), unpacked.string()}).status, 0);
  std::set<std::string> carried;
  for (const auto& entry : fs::recursive_directory_iterator(unpacked / "update"))
    if (entry.is_regular_file())
      carried.insert(fs::relative(entry.path(), unpacked / "update").generic_string());
  const std::set<std::string> expected = {
      "mb/etc/version.txt", "bin/game.exe", "readme.txt", "data/big.bin.mgdelta", deep,
      "data/maps/valley.map", "data/maps/new.map", "data/sounds/bang.wav",
      "gr\xC3\xBC\xC3\x9F" "e/\xE6\x96\x87\xE5\xAD\x97.txt", "bin/game.cfg",
      "update/newfile.txt", "update/dellist.txt"};
  EXPECT_EQ(carried, expected);
  EXPECT_EQ(ReadFile(unpacked / "update/update/dellist.txt"),
            "data/retired.dpk\r\ndata/retired\r\ndata/maps/gone.map\r\ndata/maps/old-sub\r\nold-folder\r\n"
            "removed.txt\r\n");
  const std::string cfg = ReadFile(unpacked / "cfg.txt");
  EXPECT_NE(cfg.find("szValidityStr = 1.2.0.0\r\n"), std::string::npos);
  EXPECT_NE(cfg.find("PACKAGE = data/maps\r\n    PACKAGE = data/sounds\r\n"), std::string::npos);
  EXPECT_NE(cfg.find("10001 1\r\n10002 bin/game.cfg\r\n"), std::string::npos);
  EXPECT_EQ(ModificationTime(unpacked / "update/bin/game.exe"),
            ModificationTime(newDir / "bin/game.exe"));

  // Applied to a copy of OLD, it gives NEW file for file and item for item.
  const fs::path install = root_ / "install";
  fs::copy(oldDir, install, fs::copy_options::recursive);
  ASSERT_EQ(Shell(program.string() + " --console " + install.string()), 0)
      << ReadFile(root_ / "shell.log");
  EXPECT_EQ(ReadInstall(install), ReadInstall(newDir));
  EXPECT_EQ(Shell(program.string() + " --verify " + install.string()), 0)
      << ReadFile(root_ / "shell.log");
  // The patched list is the one a fresh install of NEW gets.
  EXPECT_EQ(ReadFile(install / "update/localfilelist.txt"),
            ReadFile(newDir / "update/localfilelist.txt"));

  // The patch folder form holds the same patch.
  const fs::path folder = root_ / "patch-folder";
  made = RunTool({"make-patch", "--folder", "--hold-back", "bin/game.cfg", oldDir.string(),
                  newDir.string(), folder.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(ReadFile(folder / "cfg.txt"), cfg);
  EXPECT_FALSE(fs::exists(root_ / "patch-folder.make-patch.partial"));
}

// A large file changed in a few places travels as a delta of its old
// version; an installed file that is not that old version fails the run
// by name and stays as it was.
TEST_F(MakePatchTest, DeltaItemsRebuildChangedFilesAndRefuseAModifiedOldOne) {
  const std::string large = Incompressible(2 * 1024 * 1024, 7);
  std::string changed = large;
  changed.replace(100, 3000, Incompressible(3000, 8));
  changed.replace(changed.size() / 2, 2000, Incompressible(2000, 9));
  changed += "appended at the end";
  const std::string small = Incompressible(10000, 10);
  Tree old = {{"mb/etc/version.txt", "1 1.2.0.0\r\n"},
              {"data/big.bin", large},
              {"data/small.bin", small}};
  Tree changedTree = old;
  changedTree["mb/etc/version.txt"] = "1 1.3.0.0\r\n";
  changedTree["data/big.bin"] = changed;
  changedTree["data/small.bin"] = small + "x";  // below the delta size: whole
  const fs::path oldDir = root_ / "old", newDir = root_ / "new";
  MakeInstall(oldDir, old);
  MakeInstall(newDir, changedTree);

  const fs::path program = root_ / "patch-program";
  ToolRun made = RunTool({"make-patch", "--patcher", MARROWGATE_PATCHER_PROGRAM, oldDir.string(),
                          newDir.string(), program.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  ToolRun listed = RunTool({"list", program.string()});
  ASSERT_EQ(listed.status, 0) << listed.err;
  const size_t line = listed.out.find("update/data/big.bin.mgdelta");
  ASSERT_NE(line, std::string::npos) << listed.out;
  const size_t start = listed.out.rfind('\n', line) + 1;
  EXPECT_EQ(listed.out.compare(start, 5, "delta"), 0) << listed.out;
  EXPECT_NE(listed.out.find("update/data/small.bin\n"), std::string::npos) << listed.out;
  // The delta is a small share of the file.
  const fs::path unpacked = root_ / "unpacked";
  ASSERT_EQ(RunTool({"extract", program.string(), unpacked.string()}).status, 0);
  EXPECT_LT(fs::file_size(unpacked / "update/data/big.bin.mgdelta"), 64u * 1024);
  EXPECT_FALSE(fs::exists(unpacked / "update/data/big.bin"));
  EXPECT_EQ(ReadFile(unpacked / "update/update/newfile.txt"),
            "data/big.bin\r\ndata/small.bin\r\nmb/etc/version.txt\r\n");

  // On OLD: NEW, and the file list of a fresh NEW.
  const fs::path install = root_ / "install";
  fs::copy(oldDir, install, fs::copy_options::recursive);
  ASSERT_EQ(Shell(program.string() + " --console " + install.string()), 0)
      << ReadFile(root_ / "shell.log");
  EXPECT_EQ(ReadInstall(install), ReadInstall(newDir));
  EXPECT_EQ(ReadFile(install / "update/localfilelist.txt"),
            ReadFile(newDir / "update/localfilelist.txt"));

  // On an OLD whose big file a player changed: the run fails naming it.
  const fs::path modified = root_ / "modified";
  fs::copy(oldDir, modified, fs::copy_options::recursive);
  std::string damaged = large;
  damaged[1234567] ^= 0x20;
  WriteFile(modified / "data/big.bin", damaged);
  EXPECT_NE(Shell(program.string() + " --console " + modified.string()), 0);
  const std::string log = ReadFile(root_ / "shell.log");
  EXPECT_NE(log.find("data/big.bin differs from the version the patch was made for"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("-10203"), std::string::npos) << log;
  EXPECT_TRUE(ReadFile(modified / "data/big.bin") == damaged);
  for (const auto& entry : fs::recursive_directory_iterator(modified))
    EXPECT_EQ(entry.path().string().find(".~mgpart"), std::string::npos) << entry.path();

  // Checked against an install: every delta is rebuilt from its old file.
  EXPECT_EQ(RunTool({"check", oldDir.string(), program.string()}).status, 0);
  ToolRun against = RunTool({"check", modified.string(), program.string()});
  EXPECT_EQ(against.status, 1);
  EXPECT_NE(against.err.find("update/data/big.bin.mgdelta: was made from another data/big.bin than " +
                             (modified / "data/big.bin").string()),
            std::string::npos)
      << against.err;
  std::string item = ReadFile(unpacked / "update/data/big.bin.mgdelta");
  item[40] ^= 1;  // the new file's MD5
  WriteFile(unpacked / "update/data/big.bin.mgdelta", item);
  against = RunTool({"check", oldDir.string(), unpacked.string()});
  EXPECT_EQ(against.status, 1);
  EXPECT_NE(against.err.find("does not rebuild data/big.bin from"), std::string::npos)
      << against.err;
  // A patch with full files takes that install to NEW all the same.
  const fs::path withFull = root_ / "patch-with-full-files";
  made = RunTool({"make-patch", "--with-full-files", "--patcher", MARROWGATE_PATCHER_PROGRAM,
                  oldDir.string(), newDir.string(), withFull.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(RunTool({"check", withFull.string()}).status, 0);
  ASSERT_EQ(Shell(withFull.string() + " --console " + modified.string()), 0)
      << ReadFile(root_ / "shell.log");
  EXPECT_EQ(ReadInstall(modified), ReadInstall(newDir));

  // Without deltas the file travels whole.
  const fs::path whole = root_ / "whole-folder";
  made = RunTool({"make-patch", "--folder", "--no-delta", oldDir.string(), newDir.string(),
                  whole.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(ReadFile(whole / "update/data/big.bin"), changed);
  EXPECT_FALSE(fs::exists(whole / "update/data/big.bin.mgdelta"));
}

// An item of an install-folder package changed in a few places travels as
// a delta item inside the patch's package, and the patcher rebuilds the
// installed package's item from its old version; an old item a player
// changed fails the run by name and stays as it was.
TEST_F(MakePatchTest, DeltaItemsRebuildPackageItemsAndRefuseAModifiedOldOne) {
  const std::string large = Incompressible(1024 * 1024, 21);
  std::string changed = large;
  changed.replace(0, 500, Incompressible(500, 22));
  changed.replace(changed.size() / 2, 1500, Incompressible(1500, 23));
  changed.resize(changed.size() - 4000);
  changed += "a new end";
  Tree old = {{"mb/etc/version.txt", "1 1.2.0.0\r\n"},
              {"data/maps.dpk/big.map", large},
              {"data/maps.dpk/same.map", Incompressible(200000, 24)},
              {"data/maps.dpk/gone.map", "removed item"}};
  Tree changedTree = old;
  changedTree["mb/etc/version.txt"] = "1 1.3.0.0\r\n";
  changedTree["data/maps.dpk/big.map"] = changed;
  changedTree.erase("data/maps.dpk/gone.map");
  changedTree["data/maps.dpk/new.map"] = Incompressible(70000, 25);
  const fs::path oldDir = root_ / "old", newDir = root_ / "new";
  MakeInstall(oldDir, old);
  MakeInstall(newDir, changedTree);

  const fs::path program = root_ / "patch-program";
  ToolRun made = RunTool({"make-patch", "--patcher", MARROWGATE_PATCHER_PROGRAM, oldDir.string(),
                          newDir.string(), program.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_NE(made.out.find("1 added, 2 changed, 1 removed"), std::string::npos) << made.out;
  EXPECT_NE(made.out.find("; 1 file as deltas"), std::string::npos) << made.out;
  const fs::path unpacked = root_ / "unpacked";
  ASSERT_EQ(RunTool({"extract", program.string(), unpacked.string()}).status, 0);
  EXPECT_LT(fs::file_size(unpacked / "update/data/maps/big.map.mgdelta"), 32u * 1024);
  EXPECT_FALSE(fs::exists(unpacked / "update/data/maps/big.map"));
  EXPECT_FALSE(fs::exists(unpacked / "update/data/maps/same.map"));
  EXPECT_NE(ReadFile(unpacked / "cfg.txt").find("PACKAGE = data/maps\r\n"), std::string::npos);
  EXPECT_EQ(RunTool({"check", oldDir.string(), program.string()}).status, 0);

  // On OLD: NEW, item for item, and the file list of a fresh NEW.
  const fs::path install = root_ / "install";
  fs::copy(oldDir, install, fs::copy_options::recursive);
  ASSERT_EQ(Shell(program.string() + " --dry-run " + install.string()), 0)
      << ReadFile(root_ / "shell.log");
  EXPECT_NE(ReadFile(root_ / "shell.log")
                .find("data/maps/big.map 1048576 -> " + std::to_string(changed.size()) +
                      " (the installed file matches)"),
            std::string::npos)
      << ReadFile(root_ / "shell.log");
  ASSERT_EQ(Shell(program.string() + " --console " + install.string()), 0)
      << ReadFile(root_ / "shell.log");
  EXPECT_EQ(ReadInstall(install), ReadInstall(newDir));
  EXPECT_EQ(ReadFile(install / "update/localfilelist.txt"),
            ReadFile(newDir / "update/localfilelist.txt"));

  // On an OLD whose item a player changed: the run fails naming it, and
  // the item is the player's still.
  Tree modifiedTree = old;
  std::string damaged = large;
  damaged[654321] ^= 0x20;
  modifiedTree["data/maps.dpk/big.map"] = damaged;
  const fs::path modified = root_ / "modified";
  MakeInstall(modified, modifiedTree);
  ToolRun against = RunTool({"check", modified.string(), program.string()});
  EXPECT_EQ(against.status, 1);
  EXPECT_NE(against.err.find("update/data/maps/big.map.mgdelta: was made from another "
                             "data/maps/big.map"),
            std::string::npos)
      << against.err;
  EXPECT_NE(Shell(program.string() + " --console " + modified.string()), 0);
  const std::string log = ReadFile(root_ / "shell.log");
  EXPECT_NE(log.find("data/maps/big.map differs from the version the patch was made for"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("-10203"), std::string::npos) << log;
  Tree after = ReadInstall(modified);
  EXPECT_TRUE(after["data/maps.dpk/big.map"] == damaged);
  EXPECT_TRUE(after["data/maps.dpk/same.map"] == old["data/maps.dpk/same.map"]);
  // Run again on the player's install: the same refusal, nothing lost.
  EXPECT_NE(Shell(program.string() + " --console " + modified.string()), 0);
  EXPECT_TRUE(ReadInstall(modified)["data/maps.dpk/big.map"] == damaged);
}

// Each problem check names, one case each, on a patch folder that is
// otherwise sound.
TEST_F(MakePatchTest, CheckNamesEveryProblem) {
  const std::string block =
      "UPDATE\r\n{\r\n    szUpdateDir = update\r\n    szValidityStr = 1.2.0.0\r\n}\r\n";
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> spoil;
    const char* expected;  // part of the one problem reported
  };
  auto replaceInCfg = [](const fs::path& folder, const std::string& from, const std::string& to) {
    std::string cfg = ReadFile(folder / "cfg.txt");
    size_t at = cfg.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    cfg.replace(at, from.size(), to);
    WriteFile(folder / "cfg.txt", cfg);
  };
  const std::vector<Case> cases = {
      {"sound", [](const fs::path&) {}, nullptr},
      {"unparsable cfg",
       [&](const fs::path& f) { replaceInCfg(f, "}\r\n", "}\r\n}\r\n"); }, "cannot read it"},
      {"203 without placeholder",
       [&](const fs::path& f) { replaceInCfg(f, "203 Failed (%d)", "203 Failed"); },
       "message 203 must hold exactly one"},
      {"203 with two placeholders",
       [&](const fs::path& f) { replaceInCfg(f, "203 Failed (%d)", "203 Failed %d (%x)"); },
       "message 203 must hold exactly one"},
      {"missing message",
       [&](const fs::path& f) { replaceInCfg(f, "305 Too old\r\n", ""); }, "message 305 is missing"},
      {"validity not a version",
       [&](const fs::path& f) { replaceInCfg(f, "= 1.2.0.0", "= v1.2"); }, "cannot read it"},
      {"held-back name not carried",
       [&](const fs::path& f) { replaceInCfg(f, "UPDATE", "10001 1\r\n10002 bin/none.cfg\r\nUPDATE"); },
       "held-back name bin/none.cfg is not in the update"},
      {"skip name not carried",
       [&](const fs::path& f) { replaceInCfg(f, "UPDATE", "900 1\r\n901 tool.exe\r\nUPDATE"); },
       "skip name tool.exe is not in the update"},
      {"a name the default skip list keeps out",
       [](const fs::path& f) { WriteFile(f / "update/vave.exe", "tool"); },
       "vave.exe is carried, but without skip names"},
      {"new-file line not carried",
       [](const fs::path& f) { WriteFile(f / "update/update/newfile.txt", "bin/game.exe\r\nbin/x\r\n"); },
       "new-file line bin/x: the patch does not carry"},
      {"delete line carried",
       [](const fs::path& f) { WriteFile(f / "update/update/dellist.txt", "bin\r\n"); },
       "delete line bin: the update carries bin/game.exe"},
      {"unsafe list name",
       [](const fs::path& f) { WriteFile(f / "update/update/dellist.txt", "../outside\r\n"); },
       "delete line ../outside: an unsafe name"},
      {"unsafe package name",
       [&](const fs::path& f) { replaceInCfg(f, "}\r\n", "    PACKAGE = ../up\r\n}\r\n"); },
       "cannot read it"},
      {"delta item not readable",
       [](const fs::path& f) { WriteFile(f / "update/data/x.bin.mgdelta", "not a delta"); },
       "update/data/x.bin.mgdelta: not a delta item"},
      {"full file without its delta item",
       [](const fs::path& f) { WriteFile(f / "update/data/x.bin.mgfull", "whole"); },
       "update/data/x.bin.mgfull: a full file without its delta item"},
      {"version file not raised",
       [](const fs::path& f) { WriteFile(f / "update/mb/etc/version.txt", "1 1.2.0.0\r\n"); },
       "is not above the version the patch requires"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = root_ / "patch";
    fs::remove_all(folder);
    WriteFile(folder / "cfg.txt", "100 Title\r\n" + std::string(kPatcherTestMessages) + block);
    WriteFile(folder / "update/bin/game.exe", "game");
    WriteFile(folder / "update/mb/etc/version.txt", "1 1.3.0.0\r\n");
    WriteFile(folder / "update/update/newfile.txt", "bin/game.exe\r\nmb/etc/version.txt\r\n");
    c.spoil(folder);
    std::vector<std::string> problems = CheckPatchFolder(folder.string());
    ToolRun run = RunTool({"check", folder.string()});
    if (c.expected == nullptr) {
      EXPECT_TRUE(problems.empty()) << problems[0];
      EXPECT_EQ(run.status, 0);
      continue;
    }
    ASSERT_EQ(problems.size(), 1u) << (problems.empty() ? "" : problems[0] + " ...");
    EXPECT_NE(problems[0].find(c.expected), std::string::npos) << problems[0];
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
  // A missing version file counts when the version was to change.
  const fs::path folder = root_ / "patch";
  fs::remove(folder / "update/mb/etc/version.txt");
  PatchCheckContext context;
  context.newVersion = "1.3.0.0";
  std::vector<std::string> problems = CheckPatchFolder(folder.string(), context);
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[1].find("carries no mb/etc/version.txt"), std::string::npos) << problems[1];
}

}  // namespace
}  // namespace marrowgate
