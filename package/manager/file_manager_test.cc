#include "package/manager/file_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "package/store/package.h"
#include "package/store/tail_file.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

// Plain packages (no codecs, no keys) keep these tests about path routing.
FileManager* NewManager(int searchMode, bool acceptHosts = false, int defaultMode = kOpenUpdate) {
  FileManagerConfig config;
  config.searchMode = static_cast<uint8_t>(searchMode);
  config.acceptHosts = acceptHosts ? 1 : 0;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.defaultMode = defaultMode;
  return new FileManager(config);
}

std::string ReadAll(VirtualFile* file) {
  std::string content;
  char piece[256];
  int32_t got;
  while ((got = file->Read(piece, sizeof(piece))) > 0) content.append(piece, got);
  return content;
}

bool WriteItem(FileManager* manager, const std::string& path, const std::string& content) {
  if (manager->MakeParentFolder(path.c_str()) != 0) return false;
  Owned<VirtualFile> file(manager->Open(path.c_str(), kOpenCreate));
  if (!file) return false;
  return file->Write(content.data(), static_cast<int32_t>(content.size())) ==
         static_cast<int32_t>(content.size());
}

std::string ReadItem(FileManager* manager, const std::string& path) {
  Owned<VirtualFile> file(manager->Open(path.c_str(), kOpenRead));
  return file ? ReadAll(file.get()) : "<null>";
}

// Creates package `path`.dpk holding `items` (item path -> content).
void MakePackage(const std::string& path, const std::map<std::string, std::string>& items) {
  Owned<FileManager> manager(NewManager(1));
  ASSERT_EQ(manager->EnsurePackage(path.c_str(), ".dpk", kOpenCreate), 0);
  for (const auto& [item, content] : items) {
    ASSERT_TRUE(WriteItem(manager.get(), path + "/" + item, content)) << item;
  }
}

class FileManagerTest : public ::testing::Test {
 protected:
  TestFolder folder_;
};

// Appends to the file `program` a new package holding `item` with `content`.
void AppendPackage(const std::string& program, const char* item, const std::string& content) {
  Owned<FileSystem> disk(CreateFileSystem());
  TailFile* window = new TailFile;
  ASSERT_EQ(window->Attach(disk->Open(program.c_str(), kOpenUpdate), true, kOpenCreate), 0);
  PackageParams params;
  params.mode = kOpenCreate;
  params.file = window;
  params.ownFile = 1;
  Owned<Package> package(new Package);
  ASSERT_EQ(package->Open(params), 0);
  {
    Owned<VirtualFile> file(package->OpenItem(item, kOpenCreate));
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->Write(content.data(), static_cast<int32_t>(content.size())),
              static_cast<int32_t>(content.size()));
  }
  EXPECT_EQ(package->Close(), 0);
}

// Where a package lies does not limit it: only the path inside the
// package, which the package stores, is held to kMaxPath. Where the system
// itself takes no longer disk paths (Windows: 259 characters), a package
// file beyond them is refused (-11) and nothing is made.
TEST_F(FileManagerTest, APackageInAFolderDeeperThanTheItemLimitWorks) {
  std::string deep = folder_.path();
  while (deep.size() <= static_cast<size_t>(kMaxPath)) deep += "/" + std::string(50, 'd');
  std::string package = deep + "/pkg";
  if (package.size() + 4 > static_cast<size_t>(kMaxDiskPath)) {
    Owned<FileManager> manager(NewManager(1));
    EXPECT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), -11);
    EXPECT_EQ(ReadItem(manager.get(), package + "/sub/a.txt"), "<null>");
    EXPECT_FALSE(platform::PathAccessible(folder_.Child(std::string(50, 'd')).c_str()));
    return;
  }
  MakePackage(package, {{"sub/a.txt", "inside a deep folder"}});
  Owned<FileManager> manager(NewManager(1));
  EXPECT_EQ(ReadItem(manager.get(), package + "/sub/a.txt"), "inside a deep folder");
  Owned<DirListing> listing(manager->OpenListing((package + "/sub/").c_str()));
  ASSERT_NE(listing, nullptr);
  std::vector<std::string> names;
  while (const ListingEntry* entry = listing->Next()) names.push_back(entry->name);
  EXPECT_NE(std::find(names.begin(), names.end(), "a.txt"), names.end());

  // The longest path inside the package is taken; one more is refused.
  std::string longest = std::string(kMaxPath - 4, 'n') + ".txt";
  EXPECT_TRUE(WriteItem(manager.get(), package + "/" + longest, "x"));
  EXPECT_EQ(ReadItem(manager.get(), package + "/" + longest), "x");
  Owned<VirtualFile> tooLong(
      manager->Open((package + "/" + longest + "x").c_str(), kOpenCreate));
  EXPECT_EQ(tooLong, nullptr);
}

TEST_F(FileManagerTest, ItemsMayOutliveAFactoryMadeManager) {
  std::string package = folder_.Child("held");
  FileManagerOptions options;
  options.searchMode = 3;
  options.defaultMode = kOpenUpdate;
  std::memcpy(options.keyA, "key", 3);
  options.keyALen = 3;
  Owned<VirtualFile> item;
  {
    Owned<FileManager> manager(CreateFileManager(options));
    ASSERT_NE(manager, nullptr);
    ASSERT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), 0);
    item.reset(manager->Open((package + "/late.txt").c_str(), kOpenCreate));
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(item->Write("written before", 14), 14);
  }
  // The manager, its packages, codec and ciphers are gone; the item is
  // sealed already and touches none of them any more.
  EXPECT_EQ(item->Write("after", 5), -1);
  item.reset();
  options.defaultMode = kOpenRead;
  Owned<FileManager> reader(CreateFileManager(options));
  EXPECT_EQ(ReadItem(reader.get(), package + "/late.txt"), "written before");
}

TEST_F(FileManagerTest, DestructionSavesMountedPackages) {
  std::string package = folder_.Child("store");
  {
    Owned<FileManager> manager(NewManager(3));
    ASSERT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), 0);
    EXPECT_TRUE(WriteItem(manager.get(), package + "/a/b.txt", "inside"));
  }
  EXPECT_EQ(ProbePackageFile(Owned<FileSystem>(CreateFileSystem()).get(), (package + ".dpk").c_str()), 1);
  Owned<FileManager> reader(NewManager(3, false, kOpenRead));
  EXPECT_EQ(ReadItem(reader.get(), package + "/a/b.txt"), "inside");
  EXPECT_TRUE(reader->ReachedPackage());
  FileInfo info;
  ASSERT_EQ(reader->Stat((package + "/a/b.txt").c_str(), &info), 0);
  EXPECT_EQ(info.size, 6);
  EXPECT_TRUE(reader->IsFolder((package + "/a").c_str()));
}

TEST_F(FileManagerTest, SearchModeThreeStaysInAReachedPackage) {
  std::string package = folder_.Child("pk");
  MakePackage(package, {{"in.txt", "from package"}});
  platform::MakeFolder(package.c_str());
  folder_.WriteFile("pk/disk-only.txt", "from disk");
  folder_.WriteFile("pk/in.txt", "disk copy");
  folder_.WriteFile("outside.txt", "plain");

  Owned<FileManager> mode3(NewManager(3));
  EXPECT_EQ(ReadItem(mode3.get(), package + "/in.txt"), "from package");
  // The package lacks the item: no fall-back to the disk file of that path.
  EXPECT_EQ(ReadItem(mode3.get(), package + "/disk-only.txt"), "<null>");
  EXPECT_TRUE(mode3->ReachedPackage());
  EXPECT_EQ(ReadItem(mode3.get(), folder_.Child("outside.txt")), "plain");
  EXPECT_FALSE(mode3->ReachedPackage());

  Owned<FileManager> mode2(NewManager(2));
  EXPECT_EQ(ReadItem(mode2.get(), package + "/in.txt"), "disk copy");
  EXPECT_EQ(ReadItem(mode2.get(), package + "/disk-only.txt"), "from disk");

  Owned<FileManager> mode1(NewManager(1));
  EXPECT_EQ(ReadItem(mode1.get(), folder_.Child("outside.txt")), "<null>");
  EXPECT_EQ(ReadItem(mode1.get(), package + "/in.txt"), "from package");

  Owned<FileManager> mode0(NewManager(0));
  EXPECT_EQ(ReadItem(mode0.get(), package + "/in.txt"), "disk copy");

  Owned<FileManager> badMode(NewManager(4));
  EXPECT_EQ(ReadItem(badMode.get(), folder_.Child("outside.txt")), "<null>");
  FileInfo info;
  EXPECT_EQ(badMode->Stat(folder_.Child("outside.txt").c_str(), &info), -1);
}

TEST_F(FileManagerTest, FakeDpkStopsTheWalkAndPlainExecutableIsSkipped) {
  std::string package = folder_.Child("root");
  MakePackage(package, {{"sub/f.txt", "deep"}});
  platform::MakeFolder(package.c_str());
  Owned<FileManager> manager(NewManager(1));
  std::string item = package + "/sub/f.txt";

  folder_.WriteFile("root/sub.exe", std::string(300, 'e'));  // no package inside
  EXPECT_EQ(ReadItem(manager.get(), item), "deep");

  Owned<FileManager> fresh(NewManager(1));
  folder_.WriteFile("root/sub.dpk", "this is not a package");
  EXPECT_EQ(ReadItem(fresh.get(), item), "<null>");  // shallower "root" not tried
  EXPECT_FALSE(fresh->ReachedPackage());
}

TEST_F(FileManagerTest, MountedPackageKeepsItsFirstMode) {
  std::string package = folder_.Child("m");
  MakePackage(package, {{"x.txt", "x"}});
  Owned<FileManager> manager(NewManager(3));
  Package* first = manager->OpenPackage(package.c_str(), ".dpk", kOpenRead);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(manager->OpenPackage((package + "/").c_str(), ".dpk", kOpenRead), first);
  EXPECT_EQ(manager->OpenPackage(package.c_str(), ".dpk", kOpenUpdate), nullptr);
  EXPECT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenUpdate), 0);  // mounted
  EXPECT_EQ(manager->OpenPackage(folder_.Child("none").c_str(), ".dpk", kOpenRead), nullptr);
}

TEST_F(FileManagerTest, OpenPackageToRecreateProbesBeforeEmptying) {
  Owned<FileManager> manager(NewManager(3));
  std::string junk = folder_.WriteFile("junk.dpk", "keep these bytes");
  EXPECT_EQ(manager->OpenPackage(folder_.Child("junk").c_str(), ".dpk", kOpenCreate), nullptr);
  EXPECT_EQ(TestFolder::ReadFile(junk), "keep these bytes");
  EXPECT_EQ(manager->OpenPackage(folder_.Child("absent").c_str(), ".dpk", kOpenCreate), nullptr);
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("absent.dpk").c_str()));

  std::string package = folder_.Child("full");
  MakePackage(package, {{"old.txt", "old"}});
  Package* recreated = manager->OpenPackage(package.c_str(), ".dpk", kOpenCreate);
  ASSERT_NE(recreated, nullptr);
  EXPECT_EQ(recreated->Mode(), kOpenCreate);
  EXPECT_TRUE(manager->IsFolder(package.c_str()));  // the package root
  EXPECT_FALSE(manager->Exists((package + "/old.txt").c_str()));
}

TEST_F(FileManagerTest, ClosePackageSavesAndUnmounts) {
  std::string package = folder_.Child("c");
  Owned<FileManager> manager(NewManager(3));
  EXPECT_EQ(manager->ClosePackage(package.c_str()), -1);  // nothing mounted
  ASSERT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), 0);
  EXPECT_TRUE(WriteItem(manager.get(), package + "/f.txt", "saved"));
  EXPECT_EQ(manager->ClosePackage((package + "/").c_str()), 0);
  // Mounted again on demand, in the default mode, with the saved item.
  EXPECT_EQ(ReadItem(manager.get(), package + "/f.txt"), "saved");
  EXPECT_NE(manager->OpenPackage(package.c_str(), ".dpk", kOpenUpdate), nullptr);
}

TEST_F(FileManagerTest, AMountedPackagesFileIsNeverWrittenUnderItAndAllCloseWithAReport) {
  std::string package = folder_.Child("d/maps");
  Owned<FileManager> manager(NewManager(3));
  ASSERT_EQ(manager->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), 0);
  EXPECT_TRUE(WriteItem(manager.get(), package + "/valley.map", "valley"));
  const std::string file = package + ".dpk";
  EXPECT_TRUE(manager->IsOpenPackageFile(file.c_str()));
  EXPECT_TRUE(manager->IsOpenPackageFile((folder_.Child("d/./x/../maps.dpk")).c_str()));
  EXPECT_FALSE(manager->IsOpenPackageFile(folder_.Child("d/other.dpk").c_str()));
  // Neither truncated nor replaced through the file manager.
  EXPECT_EQ(manager->Open(file.c_str(), kOpenCreate), nullptr);
  EXPECT_EQ(manager->Open(file.c_str(), kOpenUpdate), nullptr);
  const std::string staged = folder_.Child("d/new.tmp");
  Owned<VirtualFile>(manager->Open(staged.c_str(), kOpenCreate)).reset();
  EXPECT_EQ(manager->ReplaceFile(staged.c_str(), file.c_str()), -1);
  // Every package closes, saved; a second close finds nothing.
  std::vector<std::string> failed;
  EXPECT_EQ(manager->CloseAllPackages(&failed), 0);
  EXPECT_TRUE(failed.empty());
  EXPECT_FALSE(manager->IsOpenPackageFile(file.c_str()));
  EXPECT_EQ(manager->ClosePackage(package.c_str()), -1);
  EXPECT_EQ(ReadItem(manager.get(), package + "/valley.map"), "valley");
}

TEST_F(FileManagerTest, SetPackageModeDecidesLaterOpens) {
  std::string package = folder_.Child("ro");
  MakePackage(package, {{"x.txt", "x"}});
  FileManagerConfig config;
  config.searchMode = 3;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.defaultMode = kOpenUpdate;
  PackageModeEntry modes[] = {{package.c_str(), kOpenRead}, {nullptr, 0}};
  config.mountList = modes;
  Owned<FileManager> manager(new FileManager(config));
  Package* opened = manager->OpenPackage(package.c_str(), ".dpk", kOpenUpdate);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(opened->Mode(), kOpenRead);
  EXPECT_EQ(manager->SetPackageMode(package.c_str(), 0), 0);
}

TEST_F(FileManagerTest, EnsurePackageOutcomes) {
  Owned<FileSystem> disk(CreateFileSystem());
  std::string fresh = folder_.Child("new/deeper/p");
  {
    Owned<FileManager> manager(NewManager(3));
    EXPECT_EQ(manager->EnsurePackage(fresh.c_str(), ".dpk", kOpenUpdate), 0);  // created
    EXPECT_EQ(manager->EnsurePackage(fresh.c_str(), ".dpk", kOpenUpdate), 0);  // mounted
  }
  EXPECT_EQ(ProbePackageFile(disk.get(), (fresh + ".dpk").c_str()), 1);

  std::string junk = folder_.WriteFile("junk.dpk", "plain bytes");
  Owned<FileManager> manager(NewManager(3));
  EXPECT_EQ(manager->EnsurePackage(folder_.Child("junk").c_str(), ".dpk", kOpenUpdate), -1);
  EXPECT_EQ(manager->EnsurePackage(folder_.Child("junk").c_str(), ".dpk", 0), -1);
  EXPECT_EQ(TestFolder::ReadFile(junk), "plain bytes");

  // Mode 0 only checks: the package is not mounted, so it can still be
  // opened in any mode.
  EXPECT_EQ(manager->EnsurePackage(fresh.c_str(), ".dpk", 0), 0);
  EXPECT_NE(manager->OpenPackage(fresh.c_str(), ".dpk", kOpenRead), nullptr);

  folder_.WriteFile("file", "x");
  EXPECT_EQ(manager->EnsurePackage(folder_.Child("file/sub/p").c_str(), ".dpk", kOpenUpdate), -11);
  EXPECT_EQ(manager->EnsurePackage(folder_.Child("file/p").c_str(), ".dpk", kOpenUpdate), -21);
}

TEST_F(FileManagerTest, OverlongPasswordIsRefused) {
  FileManagerConfig config;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.keyALen = 129;
  Owned<FileManager> manager(new FileManager(config));
  EXPECT_EQ(manager->EnsurePackage(folder_.Child("p").c_str(), ".dpk", kOpenCreate), -22);

  FileManagerOptions options;
  options.keyALen = 129;
  EXPECT_EQ(CreateFileManager(options), nullptr);
  options.keyALen = 0;
  options.keyBLen = -1;
  EXPECT_EQ(CreateFileManager(options), nullptr);
}

FileManagerOptions KeyedOptions(const char* keyA, const char* keyB) {
  FileManagerOptions options;
  options.searchMode = 3;
  options.defaultMode = kOpenUpdate;
  options.cipherKind = 1;
  options.keyALen = static_cast<int>(std::strlen(keyA));
  std::memcpy(options.keyA, keyA, options.keyALen);
  options.keyBLen = static_cast<int>(std::strlen(keyB));
  std::memcpy(options.keyB, keyB, options.keyBLen);
  return options;
}

TEST_F(FileManagerTest, FactoryMadeManagerSealsWithItsKeys) {
  std::string package = folder_.Child("sealed");
  std::string text(20000, 'z');
  {
    Owned<FileManager> writer(CreateFileManager(KeyedOptions("first pass", "second")));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(writer->config().ownFileSystem, 1);
    EXPECT_EQ(writer->config().blockSize, 1024);
    EXPECT_NE(writer->config().cipherBEnc, nullptr);
    ASSERT_EQ(writer->EnsurePackage(package.c_str(), ".dpk", kOpenCreate), 0);
    EXPECT_TRUE(WriteItem(writer.get(), package + "/t.txt", text));
  }
  // Compressed and enciphered: the plain text is nowhere in the file, and
  // the file is far smaller than it.
  std::string stored = TestFolder::ReadFile(package + ".dpk");
  EXPECT_EQ(stored.find("zzzzzzzz"), std::string::npos);
  EXPECT_LT(stored.size(), text.size());

  Owned<FileManager> reader(CreateFileManager(KeyedOptions("first pass", "second")));
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(ReadItem(reader.get(), package + "/t.txt"), text);

  FileManagerOptions noKeyB = KeyedOptions("first pass", "");
  Owned<FileManager> withoutB(CreateFileManager(noKeyB));
  ASSERT_NE(withoutB, nullptr);
  EXPECT_EQ(withoutB->config().cipherBEnc, nullptr);

  Owned<FileManager> wrongKey(CreateFileManager(KeyedOptions("wrong pass", "second")));
  ASSERT_NE(wrongKey, nullptr);
  EXPECT_EQ(ReadItem(wrongKey.get(), package + "/t.txt"), "<null>");
}

TEST_F(FileManagerTest, MergedListingPutsDiskFirst) {
  std::string package = folder_.Child("m");
  MakePackage(package, {{"a.txt", "package a"}, {"b.txt", "package b"}});
  platform::MakeFolder(package.c_str());
  folder_.WriteFile("m/a.txt", "disk a");
  folder_.WriteFile("m/c.txt", "disk c");
  Owned<FileManager> manager(NewManager(2));
  Owned<DirListing> listing(manager->OpenListing(package.c_str()));
  ASSERT_NE(listing, nullptr);
  std::vector<std::string> names;
  std::map<std::string, uint32_t> values;
  while (const ListingEntry* entry = listing->Next()) {
    names.push_back(entry->name);
    values[entry->name] = entry->value;
  }
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "a.txt", "b.txt", "c.txt"}));
  EXPECT_EQ(values["a.txt"], 0u);  // the disk entry won
  EXPECT_NE(values["b.txt"], 0u);  // a package item names its first block
}

TEST_F(FileManagerTest, ListingShowsPackagesAsFoldersAndEntersThem) {
  std::string package = folder_.Child("x");
  MakePackage(package, {{"inner.txt", "i"}});
  folder_.WriteFile("y.txt", "y");
  Owned<FileManager> manager(NewManager(3));
  std::map<std::string, int> entries;
  {
    Owned<DirListing> listing(manager->OpenListing(folder_.path().c_str()));
    ASSERT_NE(listing, nullptr);
    while (const ListingEntry* entry = listing->Next()) entries[entry->name] = entry->isFolder;
  }
  EXPECT_EQ(entries["x"], 1);
  EXPECT_EQ(entries.count("x.dpk"), 0u);
  EXPECT_EQ(entries["y.txt"], 0);
  EXPECT_FALSE(manager->ReachedPackage());
  // The folder the listing showed can be listed in turn.
  Owned<DirListing> inside(manager->OpenListing(package.c_str()));
  ASSERT_NE(inside, nullptr);
  EXPECT_TRUE(manager->ReachedPackage());
  std::vector<std::string> names;
  while (const ListingEntry* entry = inside->Next()) names.push_back(entry->name);
  EXPECT_EQ(names, std::vector<std::string>{"inner.txt"});

  Owned<FileManager> diskOnly(NewManager(0));
  EXPECT_EQ(diskOnly->OpenListing(folder_.Child("missing").c_str()), nullptr);
}

TEST_F(FileManagerTest, ExecutableWithoutExtensionCarriesItsPackage) {
  std::string program = folder_.WriteFile("prog", std::string(1000, 'P'));
  ASSERT_NO_FATAL_FAILURE(AppendPackage(program, "cfg.txt", "messages"));
  {
    Owned<FileSystem> disk(CreateFileSystem());
    EXPECT_EQ(ProbePackageFile(disk.get(), program.c_str()), 2);
    EXPECT_EQ(TestFolder::ReadFile(program).substr(0, 1000), std::string(1000, 'P'));
  }
  Owned<FileManager> refusing(NewManager(3, /*acceptHosts=*/false));
  EXPECT_EQ(refusing->OpenPackage(program.c_str(), "", kOpenRead), nullptr);

  Owned<FileManager> manager(NewManager(3, /*acceptHosts=*/true));
  ASSERT_EQ(manager->SetPackageMode(program.c_str(), kOpenRead), 0);
  ASSERT_NE(manager->OpenPackage(program.c_str(), "", kOpenRead), nullptr);
  EXPECT_EQ(ReadItem(manager.get(), program + "/cfg.txt"), "messages");
  EXPECT_TRUE(manager->ReachedPackage());
}

TEST_F(FileManagerTest, RecreatingAHostPackageKeepsTheProgram) {
  std::string program = folder_.WriteFile("tool.exe", std::string(500, 'T'));
  std::string path = folder_.Child("tool");
  ASSERT_NO_FATAL_FAILURE(AppendPackage(program, "old.txt", std::string(5000, 'o')));
  {
    Owned<FileManager> manager(NewManager(3, /*acceptHosts=*/true));
    EXPECT_EQ(ReadItem(manager.get(), path + "/old.txt"), std::string(5000, 'o'));
    Owned<FileManager> recreating(NewManager(3, /*acceptHosts=*/true));
    manager.reset();
    ASSERT_EQ(recreating->EnsurePackage(path.c_str(), ".exe", kOpenCreate), 0);
    EXPECT_TRUE(WriteItem(recreating.get(), path + "/new.txt", "fresh"));
  }
  EXPECT_EQ(TestFolder::ReadFile(program).substr(0, 500), std::string(500, 'T'));
  Owned<FileManager> reader(NewManager(3, /*acceptHosts=*/true, kOpenRead));
  EXPECT_EQ(ReadItem(reader.get(), path + "/new.txt"), "fresh");
  EXPECT_EQ(ReadItem(reader.get(), path + "/old.txt"), "<null>");
}

TEST_F(FileManagerTest, RelativePathsFollowTheWorkingFolder) {
  std::string saved = platform::CurrentFolder();
  platform::MakeFolder(folder_.Child("one").c_str());
  platform::MakeFolder(folder_.Child("two").c_str());
  folder_.WriteFile("one/f.txt", "first");
  folder_.WriteFile("two/f.txt", "second");
  Owned<FileManager> manager(NewManager(0));
  ASSERT_TRUE(platform::SetCurrentFolder(folder_.Child("one").c_str()));
  std::string first = ReadItem(manager.get(), "f.txt");
  ASSERT_TRUE(platform::SetCurrentFolder(folder_.Child("two").c_str()));
  std::string second = ReadItem(manager.get(), ".\\f.txt");
  platform::SetCurrentFolder(saved.c_str());
  EXPECT_EQ(first, "first");
  EXPECT_EQ(second, "second");
}

TEST_F(FileManagerTest, MakeFolderAndDeleteFollowTheSearchMode) {
  std::string package = folder_.Child("pk");
  MakePackage(package, {{"keep.txt", "k"}});
  Owned<FileManager> manager(NewManager(3));
  EXPECT_EQ(manager->MakeFolder((package + "/made/deeper").c_str()), 0);
  EXPECT_TRUE(manager->IsFolder((package + "/made/deeper").c_str()));
  EXPECT_FALSE(platform::PathAccessible((package + "/made").c_str()));  // not on disk
  EXPECT_EQ(manager->MakeFolder(folder_.Child("disk/side").c_str()), 0);
  EXPECT_TRUE(platform::PathAccessible(folder_.Child("disk/side").c_str()));

  EXPECT_EQ(manager->DeleteFile((package + "/keep.txt").c_str()), 0);
  EXPECT_FALSE(manager->Exists((package + "/keep.txt").c_str()));
  folder_.WriteFile("loose.txt", "l");
  EXPECT_EQ(manager->DeleteFile(folder_.Child("loose.txt").c_str()), 0);  // disk after package
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("loose.txt").c_str()));

  Owned<FileManager> packagesOnly(NewManager(1));
  FileInfo info;
  EXPECT_EQ(packagesOnly->Stat(folder_.Child("disk").c_str(), &info), -100);
  EXPECT_EQ(packagesOnly->MakeFolder(folder_.Child("disk/x").c_str()), -1);
}

// Another spelling of a mounted package's path reaches the same package: a
// package file is never mounted (and written) twice.
TEST_F(FileManagerTest, OnePackageIsMountedOnceWhateverThePathSpelling) {
  std::string package = folder_.Child("twice");
  std::string other;
  if (package.size() >= 2 && package[1] == ':') {
    // Drive paths: names are case-blind, which normalising keeps apart.
    other = package;
    other[0] = static_cast<char>(std::isupper(static_cast<unsigned char>(other[0]))
                                     ? std::tolower(static_cast<unsigned char>(other[0]))
                                     : std::toupper(static_cast<unsigned char>(other[0])));
    ASSERT_NE(other, package);
  } else {
    other = "/" + package;  // "//..." is kept apart by normalising
    ASSERT_EQ(other.rfind("//", 0), 0u);
  }
  MakePackage(package, {});
  {
    Owned<FileManager> manager(NewManager(3));
    Package* first = manager->OpenPackage(package.c_str(), ".dpk", kOpenUpdate);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(manager->OpenPackage(other.c_str(), ".dpk", kOpenUpdate), first);
    EXPECT_EQ(manager->OpenPackage(other.c_str(), ".dpk", kOpenRead), nullptr);  // its mode stays
    EXPECT_EQ(manager->EnsurePackage(other.c_str(), ".dpk", kOpenUpdate), 0);
    // Re-creating it under the other spelling would empty the open package.
    EXPECT_EQ(manager->EnsurePackage(other.c_str(), ".dpk", kOpenCreate), -23);
    EXPECT_TRUE(WriteItem(manager.get(), package + "/a.txt", "through one"));
    EXPECT_TRUE(WriteItem(manager.get(), other + "/b.txt", "through the other"));
    EXPECT_EQ(ReadItem(manager.get(), package + "/b.txt"), "through the other");
  }
  // Both writes went into the one package, which was saved once.
  Owned<FileManager> reader(NewManager(3, false, kOpenRead));
  EXPECT_EQ(ReadItem(reader.get(), package + "/a.txt"), "through one");
  EXPECT_EQ(ReadItem(reader.get(), package + "/b.txt"), "through the other");
}

TEST_F(FileManagerTest, EnsurePackageFailures) {
  std::string locked = folder_.Child("locked");
  {
    Owned<FileManager> manager(NewManager(3));
    ASSERT_EQ(manager->EnsurePackage(locked.c_str(), ".dpk", kOpenCreate), 0);
  }
  const std::string before = TestFolder::ReadFile(locked + ".dpk");
  // A package that exists but does not open (another password): -2.
  FileManagerConfig config;
  config.searchMode = 3;
  config.ownFileSystem = 1;
  config.fileSystem = CreateFileSystem();
  config.defaultMode = kOpenUpdate;
  std::memcpy(config.keyA, "other", 5);
  config.keyALen = 5;
  {
    Owned<FileManager> manager(new FileManager(config));
    EXPECT_EQ(manager->EnsurePackage(locked.c_str(), ".dpk", kOpenUpdate), -2);
  }
  EXPECT_EQ(TestFolder::ReadFile(locked + ".dpk"), before);
  // A package that cannot be created (a block size outside the format's
  // range): -22, and no empty file is left behind.
  config.keyALen = 0;
  config.fileSystem = CreateFileSystem();
  config.blockSize = 5;
  Owned<FileManager> manager(new FileManager(config));
  std::string fresh = folder_.Child("fresh");
  EXPECT_EQ(manager->EnsurePackage(fresh.c_str(), ".dpk", kOpenUpdate), -22);
  EXPECT_FALSE(platform::PathAccessible((fresh + ".dpk").c_str()));
}

TEST_F(FileManagerTest, DeleteFolderFollowsTheSearchMode) {
  std::string package = folder_.Child("pk");
  MakePackage(package, {{"dir/a.txt", "a"}, {"dir/sub/b.txt", "b"}, {"keep.txt", "k"}});
  platform::MakeFolder(folder_.Child("empty").c_str());
  platform::MakeFolder(folder_.Child("full").c_str());
  folder_.WriteFile("full/f.txt", "f");
  {
    // Disk only: a folder inside a package is not there.
    Owned<FileManager> diskOnly(NewManager(0));
    EXPECT_NE(diskOnly->DeleteFolder((package + "/dir").c_str()), 0);
  }
  Owned<FileManager> manager(NewManager(3));
  // In a package the folder goes with everything below it.
  EXPECT_EQ(manager->DeleteFolder((package + "/dir").c_str()), 0);
  EXPECT_FALSE(manager->Exists((package + "/dir").c_str()));
  EXPECT_FALSE(manager->Exists((package + "/dir/sub/b.txt").c_str()));
  EXPECT_EQ(ReadItem(manager.get(), package + "/keep.txt"), "k");
  EXPECT_NE(manager->DeleteFolder((package + "/dir").c_str()), 0);  // gone
  // No package on the path: the disk, where only an empty folder goes.
  EXPECT_EQ(manager->DeleteFolder(folder_.Child("empty").c_str()), 0);
  EXPECT_FALSE(platform::PathAccessible(folder_.Child("empty").c_str()));
  EXPECT_NE(manager->DeleteFolder(folder_.Child("full").c_str()), 0);
  EXPECT_EQ(TestFolder::ReadFile(folder_.Child("full/f.txt")), "f");
}

TEST_F(FileManagerTest, MakeFolderInModeThreeTellsWhichSideFailed) {
  std::string package = folder_.Child("pk");
  MakePackage(package, {{"file.txt", "f"}});
  folder_.WriteFile("plain", "p");
  Owned<FileManager> manager(NewManager(3));
  // The package failed: its code less 10, less 1000.
  EXPECT_EQ(manager->MakeFolder((package + "/file.txt").c_str()), -2 - 10 - 1000);
  EXPECT_EQ(manager->MakeFolder((package + "/file.txt/sub").c_str()), -100 - 10 - 1000);
  // No package: the disk's code less 2000.
  EXPECT_EQ(manager->MakeFolder(folder_.Child("plain").c_str()), -1 - 2000);
  // A read-only package refuses folders.
  Owned<FileManager> reader(NewManager(3, false, kOpenRead));
  EXPECT_EQ(reader->MakeFolder((package + "/new").c_str()), -1 - 10 - 1000);
}


// Counts every call a FileManager makes to its disk side.
class CountingFileSystem : public FileSystem {
 public:
  explicit CountingFileSystem(FileSystem* inner) : inner_(inner) {}
  ~CountingFileSystem() override { inner_->Release(); }

  VirtualFile* Open(const char* path, int mode) override { return Count(inner_->Open(path, mode)); }
  DirListing* OpenListing(const char* path) override { return Count(inner_->OpenListing(path)); }
  int MakeFolder(const char* path) override { return Count(inner_->MakeFolder(path)); }
  int MakeParentFolder(const char* path) override {
    return Count(inner_->MakeParentFolder(path));
  }
  bool Exists(const char* path) override { return Count(inner_->Exists(path)); }
  bool IsFolder(const char* path) override { return Count(inner_->IsFolder(path)); }
  int Stat(const char* path, FileInfo* info) override { return Count(inner_->Stat(path, info)); }
  int DeleteFile(const char* path) override { return Count(inner_->DeleteFile(path)); }
  int DeleteFolder(const char* path) override { return Count(inner_->DeleteFolder(path)); }
  int ReplaceFile(const char* from, const char* to) override {
    return Count(inner_->ReplaceFile(from, to));
  }
  bool WritesToDisk(const char* path) override { return Count(inner_->WritesToDisk(path)); }
  VirtualFile* CreateFresh(const char* path) override { return Count(inner_->CreateFresh(path)); }

  int calls = 0;

 private:
  template <typename T>
  T Count(T result) {
    ++calls;
    return result;
  }
  FileSystem* inner_;
};

// What the copy engine does for one disk target: make its folder, stage
// it, check the target, write the staging file and put it in place.
bool CopyLikeTheEngine(FileManager* manager, const std::string& target) {
  if (manager->MakeParentFolder(target.c_str()) != 0 || !manager->WritesToDisk(target.c_str()))
    return false;
  FileInfo info;
  if (!manager->NameKnownFree(target.c_str())) manager->Stat(target.c_str(), &info);
  if (manager->IsOpenPackageFile(target.c_str())) return false;
  const std::string staging = target + ".~mgpart";
  {
    Owned<VirtualFile> file(manager->CreateFresh(staging.c_str()));
    if (!file || file->Write("x", 1) != 1) return false;
  }
  return manager->ReplaceFile(staging.c_str(), target.c_str()) == 0;
}

TEST_F(FileManagerTest, AFileCostsTheSameDiskCallsAtAnyDepthAndLookupsFollowOwnChanges) {
  FileManagerConfig config;
  config.searchMode = 3;
  config.ownFileSystem = 1;
  auto* counting = new CountingFileSystem(CreateFileSystem());
  config.fileSystem = counting;
  config.defaultMode = kOpenUpdate;
  Owned<FileManager> manager(new FileManager(config));
  const std::string shallow = folder_.Child("s");
  const std::string deep = folder_.Child("d/1/2/3/4/5/6/7/8/9/10/11/12");
  // A mounted package elsewhere makes the "same file under another name"
  // check part of every write, as in a run with a PACKAGE line.
  ASSERT_EQ(manager->EnsurePackage(folder_.Child("p").c_str(), ".dpk", kOpenUpdate), 0);

  // The cost of the fifth file in a folder (the first ones learn it).
  auto costOfLaterFile = [&](const std::string& folder) {
    for (int i = 0; i < 4; ++i)
      EXPECT_TRUE(CopyLikeTheEngine(manager.get(), folder + "/f" + std::to_string(i)));
    const int before = counting->calls;
    EXPECT_TRUE(CopyLikeTheEngine(manager.get(), folder + "/f4"));
    return counting->calls - before;
  };
  const int shallowCost = costOfLaterFile(shallow);
  const int deepCost = costOfLaterFile(deep);
  EXPECT_EQ(shallowCost, deepCost);
  EXPECT_LE(deepCost, 10);  // stat, writes, the mounted-file checks, the rename

  // Learnt that "d/1/pkg" holds no package; the manager then makes one
  // there: paths below it go into the package.
  const std::string inner = folder_.Child("d/1/pkg");
  EXPECT_TRUE(CopyLikeTheEngine(manager.get(), inner + "/a.txt"));
  EXPECT_EQ(manager->FindPackage((inner + "/b.txt").c_str(), true, nullptr), nullptr);
  ASSERT_EQ(manager->DeleteFile((inner + "/a.txt").c_str()), 0);
  ASSERT_EQ(manager->DeleteFolder(inner.c_str()), 0);
  ASSERT_EQ(manager->EnsurePackage(inner.c_str(), ".dpk", kOpenUpdate), 0);
  EXPECT_TRUE(WriteItem(manager.get(), inner + "/b.txt", "in package"));
  EXPECT_FALSE(manager->WritesToDisk((inner + "/b.txt").c_str()));
  // Closed, it is found again on disk.
  ASSERT_EQ(manager->ClosePackage(inner.c_str()), 0);
  EXPECT_EQ(ReadItem(manager.get(), inner + "/b.txt"), "in package");
  ASSERT_EQ(manager->ClosePackage(inner.c_str()), 0);

  // Renamed away by the manager: the path leads to the disk again ...
  const std::string moved = folder_.Child("d/1/moved.dpk");
  ASSERT_EQ(manager->ReplaceFile((inner + ".dpk").c_str(), moved.c_str()), 0);
  EXPECT_TRUE(manager->WritesToDisk((inner + "/b.txt").c_str()));
  EXPECT_EQ(ReadItem(manager.get(), folder_.Child("d/1/moved/b.txt")), "in package");
  ASSERT_EQ(manager->ClosePackage(folder_.Child("d/1/moved").c_str()), 0);
  // ... and back: found in the package once more.
  ASSERT_EQ(manager->ReplaceFile(moved.c_str(), (inner + ".dpk").c_str()), 0);
  EXPECT_EQ(ReadItem(manager.get(), inner + "/b.txt"), "in package");
  ASSERT_EQ(manager->ClosePackage(inner.c_str()), 0);

  // Deleted by the manager: gone.
  ASSERT_EQ(manager->DeleteFile((inner + ".dpk").c_str()), 0);
  EXPECT_EQ(manager->FindPackage((inner + "/b.txt").c_str(), true, nullptr), nullptr);
  EXPECT_TRUE(manager->WritesToDisk((inner + "/b.txt").c_str()));

  // A ".dpk" the manager writes (not a package) stops the walk; once it
  // becomes a package (written through the manager), it is found.
  {
    Owned<VirtualFile> file(manager->Open((inner + ".dpk").c_str(), kOpenCreate));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(manager->FindPackage((inner + "/b.txt").c_str(), true, nullptr), nullptr);
    ASSERT_EQ(file->Write("not a package", 13), 13);
  }
  EXPECT_EQ(manager->FindPackage((inner + "/b.txt").c_str(), true, nullptr), nullptr);
  EXPECT_EQ(ReadItem(manager.get(), inner + "/b.txt"), "<null>");
  MakePackage(folder_.Child("source"), {{"b.txt", "rewritten"}});
  {
    Owned<FileSystem> disk(CreateFileSystem());
    Owned<VirtualFile> from(disk->Open(folder_.Child("source.dpk").c_str(), kOpenRead));
    Owned<VirtualFile> to(manager->Open((inner + ".dpk").c_str(), kOpenCreate));
    ASSERT_TRUE(from && to);
    const std::string bytes = ReadAll(from.get());
    ASSERT_EQ(to->Write(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
  }
  EXPECT_EQ(ReadItem(manager.get(), inner + "/b.txt"), "rewritten");
}

// A folder the manager made holds no package until it writes one there,
// and nothing on the disk lies below a mounted program file: names there
// cost no probes. A package made in the folder (a PACKAGE line) is found.
TEST_F(FileManagerTest, NamesInAFolderItMadeOrBelowAMountedFileCostNoProbes) {
  const std::string program = folder_.Child("patcher");
  folder_.WriteFile("patcher", "the program itself");
  AppendPackage(program, "update/a.txt", "carried");
  platform::MakeFolder(folder_.Child("old").c_str());
  FileManagerConfig config;
  config.searchMode = 3;
  config.acceptHosts = 1;
  config.ownFileSystem = 1;
  auto* counting = new CountingFileSystem(CreateFileSystem());
  config.fileSystem = counting;
  config.defaultMode = kOpenUpdate;
  Owned<FileManager> manager(new FileManager(config));
  ASSERT_NE(manager->OpenPackage(program.c_str(), "", kOpenRead), nullptr);

  auto costOfLaterFile = [&](const std::string& folder) {
    for (int i = 0; i < 2; ++i)
      EXPECT_TRUE(CopyLikeTheEngine(manager.get(), folder + "/f" + std::to_string(i)));
    const int before = counting->calls;
    EXPECT_TRUE(CopyLikeTheEngine(manager.get(), folder + "/f2"));
    return counting->calls - before;
  };
  // In a folder that was there: the name's ".dpk" and ".exe" are probed.
  EXPECT_EQ(costOfLaterFile(folder_.Child("old")), 5);
  // In a folder the manager made: the fresh file and the rename; a name is
  // known free until the manager makes something of it there.
  EXPECT_EQ(costOfLaterFile(folder_.Child("new/deeper")), 2);
  EXPECT_FALSE(manager->NameKnownFree(folder_.Child("old/f9").c_str()));
  EXPECT_FALSE(manager->NameKnownFree(folder_.Child("new/deeper/F2").c_str()));
  EXPECT_TRUE(manager->NameKnownFree(folder_.Child("new/deeper/f9").c_str()));
  ASSERT_EQ(manager->MakeFolder(folder_.Child("new/deeper/f9/inner").c_str()), 0);
  EXPECT_FALSE(manager->NameKnownFree(folder_.Child("new/deeper/f9").c_str()));
  EXPECT_TRUE(manager->NameKnownFree(folder_.Child("new/deeper/f9/inner/x").c_str()));

  // Below the mounted program nothing is probed: after the first look, an
  // item costs no disk call, a name the package lacks the disk's own stat.
  FileInfo info;
  ASSERT_EQ(manager->Stat((program + "/update/a.txt").c_str(), &info), 0);
  int before = counting->calls;
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(manager->Stat((program + "/update/a.txt").c_str(), &info), 0);
  EXPECT_EQ(counting->calls, before);
  EXPECT_NE(manager->Stat((program + "/update/x/y/b.txt").c_str(), &info), 0);
  EXPECT_EQ(counting->calls, before + 1);
  EXPECT_EQ(ReadItem(manager.get(), program + "/update/a.txt"), "carried");

  // A package made in the new folder is found, and so are its items.
  const std::string maps = folder_.Child("new/deeper/maps");
  ASSERT_EQ(manager->EnsurePackage(maps.c_str(), ".dpk", kOpenUpdate), 0);
  ASSERT_EQ(manager->ClosePackage(maps.c_str()), 0);
  EXPECT_NE(manager->FindPackage((maps + "/a.txt").c_str(), true, nullptr), nullptr);
  EXPECT_TRUE(WriteItem(manager.get(), maps + "/a.txt", "in maps"));
  EXPECT_FALSE(manager->WritesToDisk((maps + "/a.txt").c_str()));
  // A file written there by the manager under a package's name is probed
  // again, so a package copied in that way is found too.
  MakePackage(folder_.Child("source"), {{"b.txt", "copied"}});
  {
    Owned<FileSystem> disk(CreateFileSystem());
    Owned<VirtualFile> from(disk->Open(folder_.Child("source.dpk").c_str(), kOpenRead));
    const std::string bytes = ReadAll(from.get());
    Owned<VirtualFile> to(manager->CreateFresh(folder_.Child("new/deeper/copied.dpk").c_str()));
    ASSERT_TRUE(to);
    ASSERT_EQ(to->Write(bytes.data(), static_cast<int32_t>(bytes.size())),
              static_cast<int32_t>(bytes.size()));
  }
  EXPECT_EQ(ReadItem(manager.get(), folder_.Child("new/deeper/copied/b.txt")), "copied");
  // Writing under a package's name forgot what was known of made folders.
  EXPECT_FALSE(manager->NameKnownFree(folder_.Child("new/deeper/f10").c_str()));
  // The program's own file is still never written.
  EXPECT_TRUE(manager->IsOpenPackageFile(program.c_str()));
  EXPECT_EQ(manager->Open(program.c_str(), kOpenCreate), nullptr);
}

TEST_F(FileManagerTest, TheDiskListingNeitherOpensNorShowsPackages) {
  MakePackage(folder_.Child("t/maps"), {{"a.txt", "a"}});
  folder_.WriteFile("t/x.txt.~mgpart", "left over");
  Owned<FileManager> manager(NewManager(3));
  std::vector<std::string> names;
  {
    Owned<DirListing> listing(manager->OpenDiskListing(folder_.Child("t").c_str()));
    ASSERT_NE(listing, nullptr);
    while (const ListingEntry* entry = listing->Next()) {
      if (std::strcmp(entry->name, ".") != 0 && std::strcmp(entry->name, "..") != 0)
        names.push_back(std::string(entry->isFolder ? "+" : "") + entry->name);
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"maps.dpk", "x.txt.~mgpart"}));
  // Nothing was mounted for it; inside a package there is no disk listing.
  EXPECT_EQ(manager->ClosePackage(folder_.Child("t/maps").c_str()), -1);
  EXPECT_EQ(manager->OpenDiskListing(folder_.Child("t/maps").c_str()), nullptr);
}

}  // namespace
}  // namespace marrowgate
