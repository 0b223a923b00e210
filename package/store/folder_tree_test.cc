#include "package/store/folder_tree.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "package/store/layout.h"

namespace marrowgate {
namespace {

TEST(EntryNameTest, RefusesNamesThatEscapeOrSplit) {
  for (const char* good : {"a", "file.txt", "a b", ".hidden", "x.."})
    EXPECT_TRUE(IsValidEntryName(good)) << good;
  for (const char* bad : {"", "...", ".", "..", "a/b", "a\\b", "c:", ":"})
    EXPECT_FALSE(IsValidEntryName(bad)) << bad;
  EXPECT_FALSE(IsValidEntryName(std::string_view("a\0b", 3)));
  EXPECT_TRUE(IsValidEntryName(std::string(259, 'n')));
  EXPECT_FALSE(IsValidEntryName(std::string(260, 'n')));
}

TEST(NamePoolTest, StoresEachSpellingOnce) {
  NamePool pool;
  bool added = false;
  EXPECT_EQ(pool.Intern("Readme.TXT", &added), 0u);
  EXPECT_TRUE(added);
  EXPECT_EQ(pool.Intern("bin", &added), 11u);
  EXPECT_TRUE(added);
  EXPECT_EQ(pool.Intern("bin", &added), 11u);
  EXPECT_FALSE(added);
  EXPECT_EQ(pool.Find("bin"), 11);
  EXPECT_EQ(pool.Find("lib"), -1);
  const std::vector<uint8_t>& bytes = pool.bytes();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("Readme.TXT\0bin\0", 15));
  std::string_view name;
  ASSERT_TRUE(pool.NameAt(11, &name));
  EXPECT_EQ(name, "bin");
  ASSERT_TRUE(pool.NameAt(13, &name));  // inside a name: its tail
  EXPECT_EQ(name, "n");
  EXPECT_FALSE(pool.NameAt(15, &name));
}

// Two entries whose names differ only in case (in different folders) each
// keep their own spelling.
TEST(NamePoolTest, NamesDifferingOnlyInCaseAreStoredApart) {
  NamePool pool;
  bool added = false;
  EXPECT_EQ(pool.Intern("font.h", &added), 0u);
  EXPECT_EQ(pool.Intern("Font.h", &added), 7u);
  EXPECT_TRUE(added);
  EXPECT_EQ(pool.Find("Font.h"), 7);
  EXPECT_EQ(pool.Find("FONT.H"), -1);
  std::string_view name;
  ASSERT_TRUE(pool.NameAt(7, &name));
  EXPECT_EQ(name, "Font.h");
}

TEST(NamePoolTest, LoadScansNamesAndTerminatesTheLastOne) {
  NamePool pool;
  EXPECT_TRUE(pool.Load({'a', 0, 'B', 0, 'c'}));  // "c" unterminated
  EXPECT_EQ(pool.bytes().size(), 6u);
  EXPECT_EQ(pool.bytes().back(), 0);
  EXPECT_EQ(pool.name_count(), 3u);
  EXPECT_EQ(pool.Find("B"), 2);
  EXPECT_EQ(pool.Find("c"), 4);
  // A name the pool holds twice is refused; names differing only in case
  // are two names.
  NamePool twice;
  EXPECT_FALSE(twice.Load({'a', 0, 'B', 0, 'B', 0}));
  NamePool cased;
  EXPECT_TRUE(cased.Load({'a', 0, 'B', 0, 'b', 0}));
  EXPECT_EQ(cased.Find("b"), 4);
  // Many names: the set grows through several primes and stays correct.
  NamePool big;
  bool added = false;
  for (int i = 0; i < 2000; ++i) big.Intern("name" + std::to_string(i), &added);
  for (int i = 0; i < 2000; i += 97) EXPECT_GE(big.Find("name" + std::to_string(i)), 0);
  EXPECT_EQ(big.name_count(), 2000u);
}

TEST(FolderTest, CaseInsensitiveNodesAndRecordsRoundTrip) {
  NamePool pool;
  bool added = false;
  Folder root(&pool);
  FolderNode* docs = root.Insert(pool.Intern("Docs", &added), true);
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(root.Insert(pool.Intern("DOCS", &added), false), nullptr);  // clash
  FolderNode* file = docs->children->Insert(pool.Intern("a.txt", &added), false);
  ASSERT_NE(file, nullptr);
  file->firstBlock = 42;
  FolderNode* top = root.Insert(pool.Intern("top.bin", &added), false);
  top->firstBlock = 7;
  EXPECT_EQ(root.Find("docs"), docs);
  EXPECT_EQ(root.Find("docs/a.txt"), nullptr);

  std::vector<uint8_t> records;
  WriteFolderTree(root, &records);
  ASSERT_EQ(records.size(), 5u + 9u + 1u + 9u);
  Folder copy(&pool);
  ASSERT_EQ(0, ParseFolderTree(records.data(), records.size(), pool, &copy));
  ASSERT_NE(copy.Find("DOCS"), nullptr);
  ASSERT_TRUE(copy.Find("DOCS")->isFolder);
  FolderNode* again = copy.Find("docs")->children->Find("A.TXT");
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->firstBlock, 42u);
  EXPECT_EQ(copy.Find("top.bin")->firstBlock, 7u);
  std::vector<uint8_t> rewritten;
  WriteFolderTree(copy, &rewritten);
  EXPECT_EQ(rewritten, records);

  EXPECT_TRUE(copy.Remove("TOP.BIN"));
  EXPECT_FALSE(copy.Remove("top.bin"));
  EXPECT_EQ(copy.size(), 1u);
}

TEST(FolderTest, GrowsThroughThePrimesKeepingEveryNode) {
  NamePool pool;
  Folder folder(&pool);
  bool added = false;
  for (int i = 0; i < 500; ++i)
    ASSERT_NE(folder.Insert(pool.Intern("n" + std::to_string(i), &added), false), nullptr);
  EXPECT_EQ(folder.size(), 500u);
  EXPECT_EQ(folder.bucket_count(), 769u);  // 17, 29, 53, 97, 193, 389, 769
  size_t seen = 0;
  folder.ForEach([&](const FolderNode&) { ++seen; });
  EXPECT_EQ(seen, 500u);
  for (int i = 0; i < 500; i += 37) EXPECT_NE(folder.Find("N" + std::to_string(i)), nullptr);
}

}  // namespace
}  // namespace marrowgate
