#include "package/store/package.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "keys/key_factory.h"
#include "package/store/entry_file.h"
#include "package/store/folder_tree.h"
#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/testing/package_audit_testing.h"
#include "package/testing/package_testing.h"
#include "package/seal/sealed_file.h"
#include "package/store/tail_file.h"
#include "package/testing/temp_folder_testing.h"
#include "package/testing/cipher_testing.h"
#include "util/clock.h"
#include "util/hash_table.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "util/byte_order.h"

namespace marrowgate {
namespace {

constexpr uint32_t kBlock = 1024;
const uint8_t kEmptyDigest[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                  0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};

struct PackageDeleter {
  void operator()(Package* package) const { package->Release(); }
};
using PackagePtr = std::unique_ptr<Package, PackageDeleter>;

struct Options {
  bool compress = true;
  bool cipherA = true;
  bool cipherB = false;
  std::string keyA = "first password";
  std::string keyB = "second";
  uint8_t ignoreFreeErrors = 0;
  uint8_t checkSize = 0;
};

class PackageTest : public ::testing::Test {
 protected:
  PackageTest() : codec_(CreateZlibCodec()) {}

  PackageParams Params(int mode, const Options& options) {
    PackageParams params;
    params.mode = mode;
    params.file = &file_;
    params.compressor = options.compress ? codec_.get() : nullptr;
    if (options.cipherA) {
      params.cipherAEnc = &aEnc_;
      params.cipherADec = &aDec_;
    }
    if (options.cipherB) {
      params.cipherBEnc = &bEnc_;
      params.cipherBDec = &bDec_;
    }
    EXPECT_TRUE(
        SetPackageKeyA(&params, options.keyA.data(), static_cast<int>(options.keyA.size())));
    EXPECT_TRUE(
        SetPackageKeyB(&params, options.keyB.data(), static_cast<int>(options.keyB.size())));
    EXPECT_TRUE(SetPackageName(&params, "/install/data"));
    params.ignoreFreeErrors = options.ignoreFreeErrors;
    params.checkSize = options.checkSize;
    return params;
  }

  PackagePtr OpenPackage(int mode, const Options& options = Options(), int* code = nullptr) {
    PackagePtr package(new Package);
    const int rc = package->Open(Params(mode, options));
    if (code != nullptr) *code = rc;
    else EXPECT_EQ(0, rc);
    return package;
  }

  static void Put(Package* package, const char* path, const std::vector<uint8_t>& content) {
    Owned<VirtualFile> item(package->OpenItem(path, kOpenCreate));
    ASSERT_NE(item, nullptr) << path;
    ASSERT_EQ(static_cast<int32_t>(content.size()),
              item->Write(content.data(), static_cast<int32_t>(content.size())));
  }

  static std::vector<uint8_t> Get(Package* package, const char* path) {
    Owned<VirtualFile> item(package->OpenItem(path, kOpenRead));
    EXPECT_NE(item, nullptr) << path;
    if (item == nullptr) return {};
    std::vector<uint8_t> content(static_cast<size_t>(item->Size()));
    if (!content.empty()) {
      EXPECT_EQ(item->Size(), item->Read(content.data(), item->Size()));
    }
    return content;
  }

  static std::vector<std::string> ListNames(Package* package, const char* path) {
    std::vector<std::string> names;
    Owned<DirListing> listing(package->List(path));
    if (listing == nullptr) return names;
    while (const ListingEntry* entry = listing->Next())
      names.push_back(std::string(entry->isFolder ? "+" : "") + entry->name);
    return names;
  }

  uint32_t HeaderWord(size_t offset) const { return LoadLe32(file_.bytes().data() + offset); }

  // The plain content of the system item at `block` (no compressor or
  // cipher needed when the package was made without them).
  std::vector<uint8_t> SystemItem(uint32_t block, bool compress, bool cipherA) {
    std::vector<uint8_t> bytes = file_.bytes();
    MemoryBlockStore store(&bytes);
    auto* entry = new EntryFile(&store);
    uint32_t first = block;
    EXPECT_EQ(0, entry->Open(kOpenRead, &first));
    SealParams params;
    params.file = entry;
    params.ownFile = true;
    params.compressor = compress ? codec_.get() : nullptr;
    params.cipherADec = cipherA ? &aDec_ : nullptr;
    Owned<SealedFile> sealed(new SealedFile);
    EXPECT_EQ(0, sealed->Open(params));
    std::vector<uint8_t> content(static_cast<size_t>(sealed->Size()));
    if (!content.empty()) sealed->Read(content.data(), sealed->Size());
    return content;
  }

  // Replaces the content of a system item (written plain: no compressor,
  // no cipher).
  void RewriteSystemItem(uint32_t block, const std::vector<uint8_t>& content) {
    std::vector<uint8_t>& bytes = file_.mutable_bytes();
    MemoryBlockStore store(&bytes);
    auto* entry = new EntryFile(&store);
    uint32_t first = block;
    ASSERT_EQ(0, entry->Open(kOpenUpdate, &first));
    SealParams params;
    params.mode = kOpenCreate;
    params.file = entry;
    params.ownFile = true;
    Owned<SealedFile> sealed(new SealedFile);
    ASSERT_EQ(0, sealed->Open(params));
    if (!content.empty()) {
      ASSERT_EQ(static_cast<int32_t>(content.size()),
                sealed->Write(content.data(), static_cast<int32_t>(content.size())));
    }
    ASSERT_EQ(0, sealed->Seal());
    // The store may have appended blocks: keep the header's count in step.
    StoreLe32(static_cast<uint32_t>(bytes.size() / kBlock), bytes.data() + 28);
  }

  uint32_t FreeListLength() const {
    uint32_t count = 0;
    for (uint32_t block = HeaderWord(24); block != 0 && count <= HeaderWord(28); ++count)
      block = LoadLe32(file_.bytes().data() + block * kBlock + 4);
    return count;
  }

  MemoryFile file_;
  Owned<ZlibCodec> codec_;
  XorTestCipher aEnc_, aDec_, bEnc_, bDec_;
};

std::vector<uint8_t> Bytes(const char* text) {
  return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST_F(PackageTest, EmptyPackageBytes) {
  Options plain;
  plain.compress = false;
  plain.cipherA = false;
  plain.keyA = "";
  const uint32_t before = static_cast<uint32_t>(LibClockNow());
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    EXPECT_EQ(0, package->Close());
  }
  const uint32_t after = static_cast<uint32_t>(LibClockNow());
  const std::vector<uint8_t>& bytes = file_.bytes();
  ASSERT_EQ(bytes.size(), 3u * kBlock);

  uint8_t header[kPackageHeaderSize] = {};
  std::memcpy(header, "zkpackage1.0", 12);
  StoreLe32(2, header + 16);
  StoreLe32(1024, header + 20);
  StoreLe32(0, header + 24);
  StoreLe32(3, header + 28);
  std::memcpy(header + 32, kEmptyDigest, 16);
  StoreLe32(1, header + 132);
  StoreLe32(2, header + 136);
  EXPECT_EQ(0, std::memcmp(bytes.data(), header, sizeof(header)));
  EXPECT_TRUE(std::all_of(bytes.begin() + kPackageHeaderSize, bytes.begin() + kBlock,
                          [](uint8_t b) { return b == 0; }));

  for (uint32_t block : {1u, 2u}) {
    SCOPED_TRACE(block);
    const uint8_t* at = bytes.data() + block * kBlock;
    EXPECT_EQ(LoadLe32(at), 0u);       // prev
    EXPECT_EQ(LoadLe32(at + 4), 0u);   // next
    EXPECT_EQ(LoadLe32(at + 8), block);  // lastBlock
    EXPECT_EQ(LoadLe32(at + 12), 48u);   // size: the sealed header
    const uint32_t entryTime = LoadLe32(at + 16);
    EXPECT_GE(entryTime, before);
    EXPECT_LE(entryTime, after);
    for (int i = 20; i < 32; ++i) EXPECT_EQ(at[i], 0) << i;
    uint8_t seal[kSealHeaderSize] = {};
    std::memcpy(seal, "zksc1.0", 7);
    std::memcpy(seal + 16, kEmptyDigest, 16);
    const uint32_t sealTime = LoadLe32(at + 32 + 44);
    StoreLe32(sealTime, seal + 44);
    EXPECT_EQ(0, std::memcmp(at + 32, seal, sizeof(seal)));
    EXPECT_GE(sealTime, before);
    EXPECT_LE(sealTime, after);
    EXPECT_TRUE(std::all_of(at + 32 + kSealHeaderSize, at + kBlock,
                            [](uint8_t b) { return b == 0; }));
  }
}

TEST_F(PackageTest, SystemItemsUseKeyAOnly) {
  Options both;
  both.cipherB = true;
  {
    PackagePtr package = OpenPackage(kOpenCreate, both);
    Put(package.get(), "x.txt", TextBytes(3000));
    EXPECT_EQ(0, package->Close());
  }
  // Names: compressed not smaller for a tiny pool, enciphered with A (bit 1
  // only); the file item: compressed and enciphered with B.
  SealHeader names;
  ASSERT_TRUE(DecodeSealHeader(file_.bytes().data() + 2 * kBlock + 32, &names));
  EXPECT_EQ(names.flags, kSealEnciphered);
  const std::vector<uint8_t> pool = SystemItem(2, true, true);
  EXPECT_EQ(std::string(pool.begin(), pool.end()), std::string("x.txt\0", 6));
  uint32_t first = 0;
  PackagePtr package = OpenPackage(kOpenRead, both);
  Owned<VirtualFile> item(package->OpenItem("x.txt", kOpenRead, &first));
  ASSERT_NE(item, nullptr);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(file_.bytes().data() + first * kBlock + 32, &header));
  EXPECT_EQ(header.flags, kSealCompressed | kSealEnciphered | kSealCipherB);
}

TEST_F(PackageTest, ReopenSeesEverythingWritten) {
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Put(package.get(), "cfg.txt", Bytes("UPDATE {}\n"));
    Put(package.get(), "update/bin/game.exe", NoiseBytes(20000));
    Put(package.get(), "update\\data\\big.dat", TextBytes(300000));
    Put(package.get(), "empty", {});
    EXPECT_EQ(0, package->MakeFolder("update/empty folder"));
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(file_.bytes().size() % kBlock, 0u);
  EXPECT_EQ(file_.bytes().size() / kBlock, HeaderWord(28));
  PackagePtr package = OpenPackage(kOpenRead);
  EXPECT_EQ(Get(package.get(), "cfg.txt"), Bytes("UPDATE {}\n"));
  EXPECT_EQ(Get(package.get(), "/update/bin/game.exe"), NoiseBytes(20000));
  EXPECT_EQ(Get(package.get(), "UPDATE/DATA/BIG.DAT"), TextBytes(300000));
  EXPECT_EQ(Get(package.get(), "update//bin\\ game.exe "), NoiseBytes(20000));
  EXPECT_TRUE(Get(package.get(), "empty").empty());
  std::vector<std::string> root = ListNames(package.get(), "");
  std::sort(root.begin(), root.end());
  EXPECT_EQ(root, (std::vector<std::string>{"+update", "cfg.txt", "empty"}));
  std::vector<std::string> update = ListNames(package.get(), "update");
  std::sort(update.begin(), update.end());
  EXPECT_EQ(update, (std::vector<std::string>{"+bin", "+data", "+empty folder"}));
  EXPECT_EQ(package->List("cfg.txt"), nullptr);
  EXPECT_EQ(package->List("missing"), nullptr);
  EXPECT_EQ(package->OpenItem("update", kOpenRead), nullptr);
  EXPECT_EQ(package->OpenItem("cfg.txt/x", kOpenRead), nullptr);
  EXPECT_EQ(package->OpenItem("cfg.txt", kOpenCreate), nullptr);  // read-only package
  EXPECT_EQ(package->OpenItem("cfg.txt", 0), nullptr);
}

TEST_F(PackageTest, ListingFollowsBucketOrderAndCarriesFirstBlocks) {
  PackagePtr package = OpenPackage(kOpenCreate);
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("file" + std::to_string(i));
  std::vector<uint32_t> firsts;
  for (const std::string& name : names) {
    uint32_t first = 0;
    Owned<VirtualFile> item(package->OpenItem(name.c_str(), kOpenCreate, &first));
    ASSERT_NE(item, nullptr);
    firsts.push_back(first);
  }
  // A model of the table: 40 names grow it 17 -> 29 -> 53 buckets; each
  // growth walks the old buckets in order and pushes every node to the
  // front of its new bucket; a new node goes to the front.
  std::vector<std::vector<int>> buckets(17);
  for (int i = 0; i < 40; ++i) {
    if (static_cast<uint32_t>(i + 1) > buckets.size()) {
      std::vector<std::vector<int>> grown(PrimeAbove(static_cast<uint32_t>(i + 1)));
      for (const std::vector<int>& chain : buckets)
        for (int node : chain) {
          auto& slot = grown[HashTextIgnoreCase(names[node]) % grown.size()];
          slot.insert(slot.begin(), node);
        }
      buckets.swap(grown);
    }
    auto& slot = buckets[HashTextIgnoreCase(names[i]) % buckets.size()];
    slot.insert(slot.begin(), i);
  }
  ASSERT_EQ(buckets.size(), 53u);
  std::vector<int> order;
  for (const std::vector<int>& chain : buckets)
    order.insert(order.end(), chain.begin(), chain.end());
  Owned<DirListing> listing(package->List("/"));
  ASSERT_NE(listing, nullptr);
  EXPECT_STREQ(listing->BasePath(), "/install/data//");
  for (int index : order) {
    const ListingEntry* entry = listing->Next();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->name, names[index]);
    EXPECT_EQ(entry->value, firsts[index]);
    EXPECT_EQ(entry->isFolder, 0);
  }
  EXPECT_EQ(listing->Next(), nullptr);
  listing->Rewind();
  ASSERT_NE(listing->Next(), nullptr);
}

TEST_F(PackageTest, WrongPasswordAndEmptyKey) {
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    EXPECT_EQ(0, package->Close());
  }
  Options wrong;
  wrong.keyA = "first passwore";
  int code = 0;
  PackagePtr refused = OpenPackage(kOpenRead, wrong, &code);
  EXPECT_EQ(code, -23);
  EXPECT_FALSE(refused->IsOpen());

  // A package made without key A opens only without key A, and its items
  // are not enciphered although cipher objects were given.
  file_.mutable_bytes().clear();
  Options noKey;
  noKey.keyA = "";
  {
    PackagePtr package = OpenPackage(kOpenCreate, noKey);
    Put(package.get(), "a", TextBytes(100));
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(0, std::memcmp(file_.bytes().data() + 32, kEmptyDigest, 16));
  PackagePtr withKey = OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -23);
  uint32_t first = 0;
  PackagePtr package = OpenPackage(kOpenRead, noKey);
  Owned<VirtualFile> item(package->OpenItem("a", kOpenRead, &first));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(file_.bytes()[first * kBlock + 32 + 15] & kSealEnciphered, 0);
}

TEST_F(PackageTest, ItemStoringExactly992BytesTakesOneBlock) {
  Options plain;
  plain.compress = false;
  plain.cipherA = false;
  uint32_t first = 0;
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    Owned<VirtualFile> item(package->OpenItem("exact", kOpenCreate, &first));
    const std::vector<uint8_t> data = NoiseBytes(992 - kSealHeaderSize);
    ASSERT_EQ(944, item->Write(data.data(), 944));
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(HeaderWord(28), 4u);
  const uint8_t* block = file_.bytes().data() + first * kBlock;
  EXPECT_EQ(LoadLe32(block + 4), 0u);       // no next block
  EXPECT_EQ(LoadLe32(block + 8), first);    // lastBlock
  EXPECT_EQ(LoadLe32(block + 12), 992u);    // size
  PackagePtr package = OpenPackage(kOpenRead, plain);
  EXPECT_EQ(Get(package.get(), "exact"), NoiseBytes(944));
}

TEST_F(PackageTest, ReplacedBlocksWaitForTheCommitAndAreReusedAfterIt) {
  Options plain;
  plain.compress = false;
  auto problems = [&] {
    PackagePtr package = OpenPackage(kOpenRead, plain);
    MemoryFile copy(file_.bytes());
    return testing_audit::BlockProblems(package.get(), &copy);
  };
  uint32_t oldFirst = 0;
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    Owned<VirtualFile> item(package->OpenItem("a.bin", kOpenCreate, &oldFirst));
    const std::vector<uint8_t> data = NoiseBytes(5000);
    ASSERT_EQ(5000, item->Write(data.data(), 5000));
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(HeaderWord(28), 3u + 5u);  // 5048 stored bytes take 5 blocks
  EXPECT_EQ(HeaderWord(132), 1u);      // a new package keeps its tree in block 1
  EXPECT_EQ(HeaderWord(136), 2u);
  // Replacing: the old chain and tree stay untouched until the new header
  // is written, so the new item and tree go to new blocks.
  uint32_t newFirst = 0;
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain);
    Owned<VirtualFile> item(package->OpenItem("a.bin", kOpenCreate, &newFirst));
    ASSERT_NE(item, nullptr);
    EXPECT_GE(newFirst, 8u);
    const std::vector<uint8_t> data = NoiseBytes(2000, 7);
    ASSERT_EQ(2000, item->Write(data.data(), 2000));
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  // 3 item blocks, a tree block and a block listing the free ones.
  const uint32_t grown = HeaderWord(28);
  EXPECT_EQ(grown, 8u + 3u + 1u + 1u);
  EXPECT_NE(HeaderWord(132), 1u);
  EXPECT_EQ(HeaderWord(136), 2u);  // no new name: the pool stays
  EXPECT_EQ(FreeListLength(), 5u + 1u + 1u);
  EXPECT_EQ(problems(), std::vector<std::string>{});
  // The next session reuses the freed blocks before the file grows.
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain);
    Put(package.get(), "a.bin", NoiseBytes(2000, 9));
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(HeaderWord(28), grown);
  EXPECT_EQ(problems(), std::vector<std::string>{});
  PackagePtr package = OpenPackage(kOpenRead, plain);
  EXPECT_EQ(Get(package.get(), "a.bin"), NoiseBytes(2000, 9));
}

TEST_F(PackageTest, NestedPathsReuseFoldersAndPooledNames) {
  Options plain;
  plain.compress = false;
  plain.cipherA = false;
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    Put(package.get(), "a/b/c.txt", Bytes("one"));
    EXPECT_EQ(0, package->Close());
  }
  std::vector<uint8_t> pool = SystemItem(2, false, false);
  EXPECT_EQ(std::string(pool.begin(), pool.end()), std::string("a\0b\0c.txt\0", 10));
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain);
    Put(package.get(), "A/B/x", Bytes("two"));
    // Folders "A" and "B" are "a" and "b"; the new file in "a" keeps its own
    // spelling (the pool shares names of the same spelling only).
    Put(package.get(), "A/C.TXT", Bytes("three"));
    EXPECT_EQ(0, package->Close());
  }
  pool = SystemItem(HeaderWord(136), false, false);
  EXPECT_EQ(std::string(pool.begin(), pool.end()), std::string("a\0b\0c.txt\0x\0C.TXT\0", 18));
  PackagePtr package = OpenPackage(kOpenRead, plain);
  EXPECT_EQ(ListNames(package.get(), ""), std::vector<std::string>{"+a"});
  std::vector<std::string> inB = ListNames(package.get(), "a/b");
  std::sort(inB.begin(), inB.end());
  EXPECT_EQ(inB, (std::vector<std::string>{"c.txt", "x"}));
  EXPECT_EQ(Get(package.get(), "a/c.txt"), Bytes("three"));
  std::vector<std::string> inA = ListNames(package.get(), "a");
  std::sort(inA.begin(), inA.end());
  EXPECT_EQ(inA, (std::vector<std::string>{"+b", "C.TXT"}));
  // The tree stream: folder a (tag 2, offset 0), its records, its end tag;
  // a { b { two files } c.txt }: 5 + 5 + 9 + 9 + 1 + 9 + 1 bytes, and no
  // end tag for the root.
  const std::vector<uint8_t> tree = SystemItem(HeaderWord(132), false, false);
  ASSERT_EQ(tree.size(), 39u);
  EXPECT_EQ(tree[0], 2);
  EXPECT_EQ(LoadLe32(tree.data() + 1), 0u);
  EXPECT_EQ(tree.back(), 3);
}

TEST_F(PackageTest, DeletingAFolderFreesEveryChainBelowIt) {
  Options plain;
  plain.compress = false;
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    Put(package.get(), "keep.txt", Bytes("keep"));
    Put(package.get(), "d/x", NoiseBytes(3000));
    Put(package.get(), "d/e/y", NoiseBytes(1500));
    Put(package.get(), "d/e/f/z", NoiseBytes(10));
    EXPECT_EQ(0, package->Close());
  }
  const std::vector<uint8_t> poolBefore = SystemItem(2, false, true);
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain);
    EXPECT_EQ(-2, package->Delete("nothing"));
    EXPECT_EQ(-2, package->Delete(""));  // the root stays
    EXPECT_EQ(0, package->Delete("d"));
    FileInfo info;
    EXPECT_EQ(-1, package->Stat("d/x", &info));
    EXPECT_EQ(0, package->Close());
  }
  // 3048, 1548 and 58 stored bytes, the replaced tree and the block that
  // listed the free blocks while the new tree was committed.
  EXPECT_EQ(FreeListLength(), 4u + 2u + 1u + 1u + 1u);
  EXPECT_EQ(SystemItem(HeaderWord(136), false, true), poolBefore);  // names stay pooled
  PackagePtr package = OpenPackage(kOpenUpdate, plain);
  EXPECT_EQ(ListNames(package.get(), ""), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(Get(package.get(), "keep.txt"), Bytes("keep"));
  // New items take the freed blocks first.
  const uint32_t blocks = HeaderWord(28);
  Put(package.get(), "again", NoiseBytes(5000, 3));
  EXPECT_EQ(0, package->Delete("keep.txt"));
  EXPECT_EQ(0, package->Close());
  EXPECT_EQ(HeaderWord(28), blocks);
}

TEST_F(PackageTest, ClosingReadOnlyWritesNothing) {
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Put(package.get(), "a/b.txt", TextBytes(5000));
    EXPECT_EQ(0, package->Close());
  }
  const std::vector<uint8_t> before = file_.bytes();
  for (int mode : {kOpenRead, kOpenRaw}) {
    PackagePtr package = OpenPackage(mode);
    EXPECT_EQ(Get(package.get(), "a/b.txt"), TextBytes(5000));
    FileInfo info;
    EXPECT_EQ(0, package->Stat("a/b.txt", &info));
    EXPECT_EQ(-1, package->MakeFolder("new"));
    EXPECT_EQ(-1, package->Delete("a"));
    Owned<VirtualFile> raw(package->OpenItem("a/b.txt", kOpenRaw));
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(-1, raw->Write("x", 1));
    raw.reset();
    EXPECT_EQ(0, package->Close());
    EXPECT_EQ(file_.bytes(), before);
  }
  // An update that only reads changes nothing either.
  PackagePtr package = OpenPackage(kOpenUpdate);
  EXPECT_EQ(Get(package.get(), "a/b.txt"), TextBytes(5000));
  Owned<VirtualFile> item(package->OpenItem("a/b.txt", kOpenUpdate));
  ASSERT_NE(item, nullptr);
  item.reset();
  EXPECT_EQ(0, package->Close());
  EXPECT_EQ(file_.bytes(), before);
}

TEST_F(PackageTest, StatOfFolderAndFile) {
  uint32_t sealTime = 0;
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Owned<VirtualFile> item(package->OpenItem("dir/file.txt", kOpenCreate));
    const std::vector<uint8_t> data = TextBytes(12345);
    ASSERT_EQ(12345, item->Write(data.data(), 12345));
    EXPECT_EQ(0, item->SetTime(1500000000));
    sealTime = static_cast<uint32_t>(item->GetTime());
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  PackagePtr package = OpenPackage(kOpenRead);
  FileInfo info;
  info.flags = 0x10;
  EXPECT_EQ(0, package->Stat("dir", &info));
  EXPECT_EQ(info.flags, kFileInfoFolder);
  EXPECT_EQ(info.time, 0);
  EXPECT_EQ(0, package->Stat("", &info));
  EXPECT_EQ(info.flags, kFileInfoFolder);
  EXPECT_EQ(0, package->Stat("DIR/FILE.TXT", &info));
  EXPECT_EQ(info.flags, 0);
  EXPECT_EQ(info.time, 1500000000);
  EXPECT_EQ(sealTime, 1500000000u);
  EXPECT_EQ(info.size, 12345);
  EXPECT_EQ(-1, package->Stat("dir/missing", &info));
}

TEST_F(PackageTest, StreamRewrittenShorterKeepsItemSize) {
  Options plain;
  plain.cipherA = false;
  uint32_t first = 0;
  {
    PackagePtr package = OpenPackage(kOpenCreate, plain);
    Owned<VirtualFile> item(package->OpenItem("f", kOpenCreate, &first));
    const std::vector<uint8_t> noise = NoiseBytes(5000);
    ASSERT_EQ(5000, item->Write(noise.data(), 5000));
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  const uint32_t sizeBefore = LoadLe32(file_.bytes().data() + first * kBlock + 12);
  EXPECT_EQ(sizeBefore, 5048u);
  const std::vector<uint8_t> zeros(5000, 0);
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain);
    Owned<VirtualFile> item(package->OpenItem("f", kOpenUpdate));
    ASSERT_NE(item, nullptr);
    ASSERT_EQ(5000, item->Write(zeros.data(), 5000));
    item.reset();
    EXPECT_EQ(0, package->Close());
  }
  EXPECT_EQ(LoadLe32(file_.bytes().data() + first * kBlock + 12), sizeBefore);
  SealHeader header;
  ASSERT_TRUE(DecodeSealHeader(file_.bytes().data() + first * kBlock + 32, &header));
  EXPECT_LT(header.storedSize, 100u);
  PackagePtr package = OpenPackage(kOpenRead, plain);
  EXPECT_EQ(Get(package.get(), "f"), zeros);
}

TEST_F(PackageTest, MakeFolderCodesAndInvalidNames) {
  PackagePtr package = OpenPackage(kOpenCreate);
  EXPECT_EQ(0, package->MakeFolder("a/b"));
  EXPECT_EQ(0, package->MakeFolder("A/B"));
  Put(package.get(), "a/file", Bytes("x"));
  EXPECT_EQ(-2, package->MakeFolder("a/file"));
  EXPECT_EQ(-100, package->MakeFolder("a/file/sub"));
  for (const char* bad : {"a/../x", "./x", "c:x", "a/b/..", "x:y/z"}) {
    EXPECT_EQ(-11, package->MakeFolder(bad)) << bad;
    EXPECT_EQ(package->OpenItem(bad, kOpenCreate), nullptr) << bad;
  }
  const std::string tooLong(300, 'n');
  EXPECT_EQ(package->OpenItem(tooLong.c_str(), kOpenCreate), nullptr);
  std::vector<std::string> names = ListNames(package.get(), "a");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"+b", "file"}));
  EXPECT_EQ(ListNames(package.get(), ""), std::vector<std::string>{"+a"});
  EXPECT_EQ(0, package->Close());
}

TEST_F(PackageTest, CloseReportsSaveAndSealFailures) {
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Put(package.get(), "a", TextBytes(100));
    EXPECT_EQ(0, package->Close());
  }
  // The file refuses to grow: sealing a larger item fails at its release,
  // which only Close can report.
  file_.set_capacity_limit(file_.bytes().size());
  PackagePtr package = OpenPackage(kOpenUpdate);
  {
    Owned<VirtualFile> item(package->OpenItem("a", kOpenUpdate));
    ASSERT_NE(item, nullptr);
    const std::vector<uint8_t> noise = NoiseBytes(50000);
    ASSERT_EQ(50000, item->Write(noise.data(), 50000));
  }
  EXPECT_LT(package->Close(), 0);
  // A second Close has nothing left to report.
  EXPECT_EQ(0, package->Close());
}

TEST_F(PackageTest, ItemsAndListingsStillOpenWhenThePackageCloses) {
  Owned<VirtualFile> written;
  Owned<VirtualFile> read;
  Owned<DirListing> listing;
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Put(package.get(), "kept", Bytes("kept"));
    written.reset(package->OpenItem("dir/late", kOpenCreate));
    ASSERT_NE(written, nullptr);
    ASSERT_EQ(4, written->Write("late", 4));
    read.reset(package->OpenItem("kept", kOpenRead));
    ASSERT_NE(read, nullptr);
    listing.reset(package->List(""));
    ASSERT_NE(listing, nullptr);
    // Closing seals the open item and saves the tree that names it.
    EXPECT_EQ(0, package->Close());
  }
  // The package is gone: the items and the listing outlive it safely.
  EXPECT_EQ(listing->Next(), nullptr);
  char byte = 0;
  EXPECT_EQ(1, read->Read(&byte, 1));  // the content is held in memory
  EXPECT_EQ(-1, written->Write("more", 4));  // nowhere to seal it
  written.reset();
  read.reset();
  listing.reset();

  PackagePtr package = OpenPackage(kOpenRead);
  EXPECT_EQ(Get(package.get(), "dir/late"), Bytes("late"));
  EXPECT_EQ(Get(package.get(), "kept"), Bytes("kept"));
}

TEST_F(PackageTest, AnItemOpenForWritingIsNeitherReplacedNorDeleted) {
  PackagePtr package = OpenPackage(kOpenCreate);
  Put(package.get(), "dir/a", Bytes("first"));
  Put(package.get(), "b", Bytes("other"));
  {
    Owned<VirtualFile> writer(package->OpenItem("dir/a", kOpenUpdate));
    ASSERT_NE(writer, nullptr);
    ASSERT_EQ(6, writer->Write("second", 6));
    EXPECT_EQ(package->OpenItem("dir/a", kOpenCreate), nullptr);
    EXPECT_EQ(-11, package->Delete("dir/a"));
    EXPECT_EQ(-102, package->Delete("dir"));  // the file's failure less 100
  }
  EXPECT_EQ(Get(package.get(), "dir/a"), Bytes("second"));
  EXPECT_EQ(Get(package.get(), "b"), Bytes("other"));
  {
    // An item open for reading may be replaced: its content is in memory.
    Owned<VirtualFile> reader(package->OpenItem("dir/a", kOpenRead));
    ASSERT_NE(reader, nullptr);
    Put(package.get(), "dir/a", Bytes("third"));
    char text[6] = {};
    EXPECT_EQ(6, reader->Read(text, 6));
    EXPECT_EQ(std::string(text, 6), "second");
  }
  EXPECT_EQ(0, package->Delete("dir"));
  EXPECT_EQ(0, package->Close());
  PackagePtr reopened = OpenPackage(kOpenRead);
  EXPECT_EQ(Get(reopened.get(), "b"), Bytes("other"));
  EXPECT_TRUE(ListNames(reopened.get(), "dir").empty());
}

TEST_F(PackageTest, DeletingWhatAListingHandedOutKeepsTheListingValid) {
  PackagePtr package = OpenPackage(kOpenCreate);
  for (const char* path : {"dir/a", "dir/b", "dir/c", "dir/sub/d"}) Put(package.get(), path, Bytes("x"));
  std::vector<std::string> listed;
  Owned<DirListing> listing(package->List("dir"));
  ASSERT_NE(listing, nullptr);
  while (const ListingEntry* entry = listing->Next()) {
    listed.push_back(entry->name);
    EXPECT_EQ(0, package->Delete(("dir/" + listed.back()).c_str())) << listed.back();
  }
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"a", "b", "c", "sub"}));
  EXPECT_TRUE(ListNames(package.get(), "dir").empty());
  // The listed folder itself may go too.
  Owned<DirListing> root(package->List(""));
  ASSERT_NE(root, nullptr);
  ASSERT_NE(root->Next(), nullptr);
  EXPECT_EQ(0, package->Delete("dir"));
  EXPECT_EQ(root->Next(), nullptr);
  EXPECT_EQ(0, package->Close());
}

TEST_F(PackageTest, OpenCodes) {
  int code = 0;
  PackagePtr empty = OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -21);
  EXPECT_EQ(-1, empty->Open(Params(kOpenRead, Options())));  // never reopened

  file_.mutable_bytes() = std::vector<uint8_t>(4096, 0);
  OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -22);

  file_.mutable_bytes().clear();
  {
    PackagePtr package = OpenPackage(kOpenCreate);
    Put(package.get(), "x", TextBytes(10));
    EXPECT_EQ(0, package->Close());
  }
  const std::vector<uint8_t> good = file_.bytes();
  // A longer file is accepted unless the size is checked.
  file_.mutable_bytes().resize(good.size() + kBlock);
  OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, 0);
  Options check;
  check.checkSize = 1;
  OpenPackage(kOpenRead, check, &code);
  EXPECT_EQ(code, -24);
  // A shorter file than the header counts is refused.
  file_.mutable_bytes() = good;
  file_.mutable_bytes().resize(good.size() - kBlock);
  OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -24);

  // Bad system items.
  file_.mutable_bytes() = good;
  StoreLe32(77, file_.mutable_bytes().data() + 136);
  OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -32);
  file_.mutable_bytes() = good;
  StoreLe32(2, file_.mutable_bytes().data() + 132);
  OpenPackage(kOpenRead, Options(), &code);
  EXPECT_EQ(code, -42);
  Options noCipher;
  noCipher.cipherA = false;
  file_.mutable_bytes() = good;
  OpenPackage(kOpenRead, noCipher, &code);
  EXPECT_EQ(code, -34);  // enciphered names, no cipher to read them
}

TEST_F(PackageTest, RoundTripWithTheRealBlockCipher) {
  Owned<KeyFactory> factory(CreateKeyFactory());
  ASSERT_NE(factory, nullptr);
  Owned<CipherObject> aEnc(factory->CreateCipher(0)), aDec(factory->CreateCipher(0));
  Owned<CipherObject> bEnc(factory->CreateCipher(1)), bDec(factory->CreateCipher(1));
  auto params = [&](int mode) {
    PackageParams p = Params(mode, Options());
    p.cipherAEnc = aEnc.get();
    p.cipherADec = aDec.get();
    p.cipherBEnc = bEnc.get();
    p.cipherBDec = bDec.get();
    return p;
  };
  const std::vector<uint8_t> text = TextBytes(70001);
  const std::vector<uint8_t> noise = NoiseBytes(3333);
  {
    PackagePtr package(new Package);
    ASSERT_EQ(0, package->Open(params(kOpenCreate)));
    Put(package.get(), "dir/text.txt", text);
    Put(package.get(), "noise.bin", noise);
    EXPECT_EQ(0, package->Close());
  }
  // Nothing of the plain text is visible in the file.
  const std::string all(file_.bytes().begin(), file_.bytes().end());
  EXPECT_EQ(all.find("text.txt"), std::string::npos);
  EXPECT_EQ(all.find("the patch copies"), std::string::npos);
  PackagePtr package(new Package);
  ASSERT_EQ(0, package->Open(params(kOpenRead)));
  EXPECT_EQ(Get(package.get(), "dir/text.txt"), text);
  EXPECT_EQ(Get(package.get(), "noise.bin"), noise);
  // Without key B the items (enciphered with B) cannot be read; the tree
  // (key A only) still can.
  PackageParams noB = params(kOpenRead);
  noB.keyBLen = 0;
  PackagePtr withoutB(new Package);
  ASSERT_EQ(0, withoutB->Open(noB));
  EXPECT_EQ(withoutB->OpenItem("noise.bin", kOpenRead), nullptr);
  FileInfo info;
  EXPECT_EQ(0, withoutB->Stat("noise.bin", &info));
  EXPECT_EQ(info.size, 3333);
}

TEST_F(PackageTest, DiskFileAndTailWindowRoundTrips) {
  TestFolder folder;
  Owned<FileSystem> disk(CreateFileSystem());
  const std::string path = folder.Child("data.dpk");
  const std::vector<uint8_t> content = TextBytes(40000);
  {
    PackageParams params = Params(kOpenCreate, Options());
    params.file = disk->Open(path.c_str(), kOpenCreate);
    ASSERT_NE(params.file, nullptr);
    params.ownFile = 1;
    PackagePtr package(new Package);
    ASSERT_EQ(0, package->Open(params));
    Put(package.get(), "x/y.txt", content);
    EXPECT_EQ(0, package->Close());
  }
  {
    Options check;
    check.checkSize = 1;
    PackageParams params = Params(kOpenRead, check);
    params.file = disk->Open(path.c_str(), kOpenRead);
    params.ownFile = 1;
    PackagePtr package(new Package);
    ASSERT_EQ(0, package->Open(params));
    EXPECT_EQ(Get(package.get(), "x/y.txt"), content);
  }
  // The same package appended to a host through a tail window.
  file_.Write("host image", 10);
  {
    auto* tail = new TailFile;
    ASSERT_EQ(0, tail->Attach(&file_, false, kOpenCreate));
    PackageParams params = Params(kOpenCreate, Options());
    params.file = tail;
    params.ownFile = 1;
    PackagePtr package(new Package);
    ASSERT_EQ(0, package->Open(params));
    Put(package.get(), "x/y.txt", content);
    EXPECT_EQ(0, package->Close());
  }
  auto* tail = new TailFile;
  ASSERT_EQ(0, tail->Attach(&file_, false, kOpenRead));
  EXPECT_EQ(tail->record().baseOffset, 10u);
  PackageParams params = Params(kOpenRead, Options());
  params.file = tail;
  params.ownFile = 1;
  params.checkSize = 1;
  PackagePtr package(new Package);
  ASSERT_EQ(0, package->Open(params));
  EXPECT_EQ(Get(package.get(), "X/Y.TXT"), content);
}

class HostilePackageTest : public PackageTest {
 protected:
  // A package without codecs: a/, a/f (3000 bytes), g.
  void SetUp() override {
    plain_.compress = false;
    plain_.cipherA = false;
    PackagePtr package = OpenPackage(kOpenCreate, plain_);
    Put(package.get(), "a/f", NoiseBytes(3000));
    Put(package.get(), "g", Bytes("gee"));
    EXPECT_EQ(0, package->Close());
    good_ = file_.bytes();
  }
  int OpenCode() {
    int code = 0;
    OpenPackage(kOpenRead, plain_, &code);
    return code;
  }
  // Walks everything the package lists and reads every file; returns how
  // many items failed to open or read.
  int WalkAndReadAll() {
    int code = 0;
    PackagePtr package = OpenPackage(kOpenRead, plain_, &code);
    if (code < 0) return -1;
    int failures = 0;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
      std::string folder = pending.back();
      pending.pop_back();
      Owned<DirListing> listing(package->List(folder.c_str()));
      if (listing == nullptr) continue;
      while (const ListingEntry* entry = listing->Next()) {
        std::string path = folder.empty() ? entry->name : folder + "/" + entry->name;
        if (entry->isFolder) {
          pending.push_back(path);
          continue;
        }
        Owned<VirtualFile> item(package->OpenItem(path.c_str(), kOpenRead));
        if (item == nullptr) {
          ++failures;
          continue;
        }
        std::vector<uint8_t> content(static_cast<size_t>(item->Size()));
        if (!content.empty() && item->Read(content.data(), item->Size()) != item->Size())
          ++failures;
      }
    }
    return failures;
  }
  uint32_t FirstBlockOf(const char* path) {
    PackagePtr package = OpenPackage(kOpenRead, plain_);
    uint32_t first = 0;
    Owned<VirtualFile> item(package->OpenItem(path, kOpenRead, &first));
    return first;
  }

  Options plain_;
  std::vector<uint8_t> good_;
};

TEST_F(HostilePackageTest, ChainFaultsFailTheItemOnly) {
  EXPECT_EQ(0, WalkAndReadAll());
  const uint32_t first = FirstBlockOf("a/f");
  uint8_t* bytes = file_.mutable_bytes().data();
  const uint32_t second = LoadLe32(bytes + first * kBlock + 4);
  ASSERT_NE(second, 0u);
  // A cycle: the second block leads back to the first.
  StoreLe32(first, bytes + second * kBlock + 4);
  EXPECT_EQ(1, WalkAndReadAll());
  // A block number past the block count.
  file_.mutable_bytes() = good_;
  bytes = file_.mutable_bytes().data();
  StoreLe32(0x7FFFFFFF, bytes + first * kBlock + 4);
  EXPECT_EQ(1, WalkAndReadAll());
  // A file node whose first block is outside the package or not a start.
  file_.mutable_bytes() = good_;
  std::vector<uint8_t> tree = SystemItem(1, false, false);
  for (size_t i = 0; i + 9 <= tree.size(); ++i) {
    if (tree[i] == 1 && LoadLe32(tree.data() + i + 5) == first) {
      StoreLe32(5000, tree.data() + i + 5);
    }
  }
  RewriteSystemItem(1, tree);
  EXPECT_EQ(1, WalkAndReadAll());
  // Freeing such an item fails unless told to ignore it.
  {
    PackagePtr package = OpenPackage(kOpenUpdate, plain_);
    EXPECT_EQ(-11, package->Delete("a/f"));
    EXPECT_EQ(0, package->Close());
  }
  Options lenient = plain_;
  lenient.ignoreFreeErrors = 1;
  PackagePtr package = OpenPackage(kOpenUpdate, lenient);
  EXPECT_EQ(0, package->Delete("a/f"));
  EXPECT_EQ(0, package->Close());
}

TEST_F(HostilePackageTest, TreeFaultsFailTheOpen) {
  const std::vector<uint8_t> pool = SystemItem(2, false, false);
  auto record = [](std::vector<uint8_t>* out, uint8_t tag, uint32_t offset, uint32_t block) {
    out->push_back(tag);
    if (tag == 1 || tag == 2) {
      uint8_t word[4];
      StoreLe32(offset, word);
      out->insert(out->end(), word, word + 4);
    }
    if (tag == 1) {
      uint8_t word[4];
      StoreLe32(block, word);
      out->insert(out->end(), word, word + 4);
    }
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> poolBytes;
    std::vector<uint8_t> tree;
    int code;
  };
  std::vector<Case> cases;
  {
    std::vector<uint8_t> tree;
    record(&tree, 1, static_cast<uint32_t>(pool.size()) + 10, 3);
    cases.push_back({"name offset outside the pool", pool, tree, -46});
  }
  {
    std::vector<uint8_t> p = Bytes("../x");
    p.push_back(0);
    std::vector<uint8_t> tree;
    record(&tree, 1, 0, 3);
    cases.push_back({"../x name", p, tree, -47});
  }
  for (const char* bad : {"..", ".", "a:b", "a\\b"}) {
    std::vector<uint8_t> p = Bytes(bad);
    p.push_back(0);
    std::vector<uint8_t> tree;
    record(&tree, 2, 0, 0);
    record(&tree, 3, 0, 0);
    cases.push_back({bad, p, tree, -47});
  }
  {
    std::vector<uint8_t> p = Bytes("x");
    p.push_back(0);
    p.push_back(0);  // an empty name at offset 2
    std::vector<uint8_t> tree;
    record(&tree, 1, 2, 3);
    cases.push_back({"empty name", p, tree, -47});
  }
  {
    std::vector<uint8_t> tree;
    record(&tree, 1, 0, 3);
    record(&tree, 1, 0, 3);
    cases.push_back({"duplicate", pool, tree, -46});
  }
  {
    std::vector<uint8_t> tree{9};
    cases.push_back({"unknown tag", pool, tree, -46});
  }
  {
    // A pool that holds one name twice ("name" and "NAME" are two names).
    std::vector<uint8_t> p = Bytes("name");
    p.push_back(0);
    for (uint8_t c : Bytes("name")) p.push_back(c);
    p.push_back(0);
    cases.push_back({"repeated pool name", p, {}, -36});
  }
  {
    std::vector<uint8_t> tree{1, 0, 0};
    cases.push_back({"short record", pool, tree, -46});
  }
  {
    std::vector<uint8_t> tree;
    for (int i = 0; i < 10000; ++i) record(&tree, 2, 0, 0);
    cases.push_back({"deep nesting", pool, tree, -46});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    file_.mutable_bytes() = good_;
    RewriteSystemItem(2, c.poolBytes);
    RewriteSystemItem(1, c.tree);
    EXPECT_EQ(OpenCode(), c.code);
  }
  // Nesting within the limit is fine.
  file_.mutable_bytes() = good_;
  std::vector<uint8_t> tree;
  for (int i = 0; i < 100; ++i) record(&tree, 2, 0, 0);
  RewriteSystemItem(1, tree);
  EXPECT_EQ(OpenCode(), 0);
}

TEST_F(HostilePackageTest, RandomDamageIsRefusedOrReadsConsistently) {
  // The items' own blocks (3 on) are not touched, so whatever a damaged
  // package lets through must be one of the original contents, the same at
  // every read.
  const std::set<std::vector<uint8_t>> originals{NoiseBytes(3000), Bytes("gee")};
  int refused = 0;
  int intact = 0;
  // Every third byte of the header and the system blocks flipped in turn.
  for (size_t offset = 0; offset < 3 * kBlock; offset += 3) {
    SCOPED_TRACE(offset);
    file_.mutable_bytes() = good_;
    file_.mutable_bytes()[offset] ^= 0x5A;
    int code = 0;
    PackagePtr package = OpenPackage(kOpenRead, plain_, &code);
    if (code != 0) {
      EXPECT_LT(code, 0);
      ++refused;
      continue;
    }
    std::vector<std::string> pending{""};
    std::set<std::vector<uint8_t>> seen;
    int items = 0;
    while (!pending.empty()) {
      const std::string folder = pending.back();
      pending.pop_back();
      Owned<DirListing> listing(package->List(folder.c_str()));
      if (listing == nullptr) continue;
      while (const ListingEntry* entry = listing->Next()) {
        const std::string path = folder.empty() ? entry->name : folder + "/" + entry->name;
        if (entry->isFolder) {
          pending.push_back(path);
          continue;
        }
        ++items;
        for (int pass = 0; pass < 2; ++pass) {
          Owned<VirtualFile> item(package->OpenItem(path.c_str(), kOpenRead));
          if (item == nullptr) break;  // refused: fine
          ASSERT_GE(item->Size(), 0);
          std::vector<uint8_t> content(static_cast<size_t>(item->Size()) + 1);
          const int32_t got = item->Read(content.data(), static_cast<int32_t>(content.size()));
          if (got < 0) break;  // a read error: fine
          content.resize(static_cast<size_t>(got));
          EXPECT_EQ(got, item->Size()) << path;
          EXPECT_EQ(originals.count(content), 1u) << path;
          seen.insert(content);
        }
      }
    }
    if (items == 2 && seen == originals) ++intact;
  }
  // Both outcomes occur: damage in a used field is caught, damage in unused
  // bytes leaves the package whole.
  EXPECT_GT(refused, 0);
  EXPECT_GT(intact, 0);
}

}  // namespace
}  // namespace marrowgate
