// Items unsealed ahead on worker threads come back as the owner's own
// unsealing gives them (content, slices), or not at all: a damaged item,
// one passed by, dropped or not done in time is left to the owner. The
// copy engine's notifications, results and files are the same with and
// without workers, whichever notification stops it.
#include "transfer/unseal_ahead.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "package/file/memory_file.h"
#include "package/manager/file_manager.h"
#include "package/seal/unsealer.h"
#include "package/store/package_codecs.h"
#include "package/store/sealed_stream.h"
#include "package/testing/temp_folder_testing.h"
#include "platform/env.h"
#include "transfer/copy_source.h"
#include "transfer/dir_copy.h"
#include "transfer/testing/copy_tree_testing.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/md5.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using Clock = std::chrono::steady_clock;

// Half text-like, half noise, so that items compress somewhat.
std::vector<uint8_t> Content(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes(n);
  uint32_t state = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = (i / 4096) % 2 ? static_cast<uint8_t>(state >> 16) : "word "[i % 5];
  }
  return bytes;
}

class UnsealAheadTest : public ::testing::Test {
 protected:
  UnsealAheadTest() {
    std::memcpy(params_.keyA, "morvelkatun", 11);
    params_.keyALen = 11;
    EXPECT_TRUE(MakeStreamCodecs(params_, 0, &codecs_, &seal_));
  }

  std::vector<uint8_t> Seal(const std::vector<uint8_t>& plain, uint32_t time = 1234) {
    std::vector<uint8_t> stream;
    EXPECT_EQ(SealStream(seal_, plain.data(), plain.size(), time, &stream), 0);
    return stream;
  }

  // What the owner's own unsealing of `stream` gives: code, slices, content.
  int OwnerUnseal(std::vector<uint8_t> stream, UnsealAhead::Unsealed* out) {
    MemoryFile raw(std::move(stream));
    Unsealer unsealer;
    return unsealer.Unseal(SealParamsWithCodecs(seal_, kOpenRead, &raw),
                           [&](const uint8_t* bytes, size_t n) {
                             out->content.insert(out->content.end(), bytes, bytes + n);
                             out->slices.push_back(static_cast<uint32_t>(n));
                             return true;
                           },
                           &out->header);
  }

  static bool EventuallyEmpty(const UnsealAhead& ahead) {
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (ahead.bytes_held() != 0 && Clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ahead.bytes_held() == 0;
  }

  PackageParams params_;
  PackageCodecs codecs_;
  SealParams seal_;
};

TEST_F(UnsealAheadTest, GivesBackWhatTheOwnerUnsealsSliceForSlice) {
  UnsealAhead::Limits limits;
  limits.itemBytes = size_t{8} << 20;
  limits.bytesAhead = size_t{64} << 20;
  for (int workers : {1, 2}) {
    auto ahead = UnsealAhead::Start(params_, 0, workers, limits);
    ASSERT_TRUE(ahead);
    const std::vector<size_t> sizes = {0, 1, 5000, 300000, (size_t{3} << 20) + 17};
    std::vector<std::vector<uint8_t>> streams;
    for (size_t i = 0; i < sizes.size(); ++i) {
      streams.push_back(Seal(Content(sizes[i], static_cast<uint32_t>(i))));
      ASSERT_TRUE(ahead->Add("item" + std::to_string(i), streams.back()));
    }
    for (size_t i = 0; i < sizes.size(); ++i) {
      UnsealAhead::Unsealed got, owner;
      ASSERT_EQ(OwnerUnseal(streams[i], &owner), 0);
      ASSERT_TRUE(ahead->Take("item" + std::to_string(i), &got)) << i;
      EXPECT_EQ(got.content, Content(sizes[i], static_cast<uint32_t>(i)));
      EXPECT_EQ(got.slices, owner.slices);
      EXPECT_EQ(std::memcmp(got.header.digest, owner.header.digest, 16), 0);
      EXPECT_EQ(got.header.time, 1234u);
    }
    EXPECT_GT(sizes.size(), 0u);
    EXPECT_EQ(ahead->queued(), 0u);
    EXPECT_EQ(ahead->bytes_held(), 0u);
    EXPECT_EQ(ahead->failures(), 0u);
  }
}

// Damage in any slice of an item (or its digest) makes that item, and only
// that one, come back as not unsealed: the owner reads and reports it.
TEST_F(UnsealAheadTest, DamageInEverySliceIsLeftToTheOwnerOfThatItem) {
  UnsealAhead::Limits limits;
  limits.itemBytes = size_t{8} << 20;
  limits.bytesAhead = size_t{64} << 20;
  auto ahead = UnsealAhead::Start(params_, 0, 1, limits);
  ASSERT_TRUE(ahead);
  const std::vector<uint8_t> plain = Content((size_t{3} << 20) + 999, 7);
  const std::vector<uint8_t> good = Seal(plain);
  const std::vector<uint8_t> small = Content(777, 8);
  // The digest (header offset 16), then a byte in each stored slice.
  std::vector<size_t> places = {16};
  for (size_t at = kSealHeaderSize + 100; at < good.size(); at += Unsealer::kSliceSize)
    places.push_back(at);
  places.push_back(good.size() - 1);
  ASSERT_GE(places.size(), 3u);
  for (size_t place : places) {
    std::vector<uint8_t> damaged = good;
    damaged[place] ^= 0x40;
    UnsealAhead::Unsealed owner;
    ASSERT_NE(OwnerUnseal(damaged, &owner), 0) << place;
    ASSERT_TRUE(ahead->Add("before", Seal(small)));
    ASSERT_TRUE(ahead->Add("damaged", damaged));
    ASSERT_TRUE(ahead->Add("after", Seal(small)));
    UnsealAhead::Unsealed got;
    ASSERT_TRUE(ahead->Take("before", &got));
    EXPECT_EQ(got.content, small);
    EXPECT_FALSE(ahead->Take("damaged", &got)) << place;
    UnsealAhead::Unsealed after;
    ASSERT_TRUE(ahead->Take("after", &after)) << place;
    EXPECT_EQ(after.content, small);
  }
  EXPECT_EQ(ahead->failures(), places.size());
  EXPECT_EQ(ahead->bytes_held(), 0u);
}

TEST_F(UnsealAheadTest, ItemsPassedByAreDroppedAndTheirMemoryFreed) {
  auto ahead = UnsealAhead::Start(params_, 0, 1, UnsealAhead::Limits());
  ASSERT_TRUE(ahead);
  for (int i = 0; i < 4; ++i)
    ASSERT_TRUE(ahead->Add("k" + std::to_string(i), Seal(Content(200000, i))));
  UnsealAhead::Unsealed got;
  ASSERT_TRUE(ahead->Take("k2", &got));
  EXPECT_EQ(got.content, Content(200000, 2));
  EXPECT_FALSE(ahead->Take("k0", &got));  // passed by: dropped, and k3 with it
  EXPECT_EQ(ahead->queued(), 0u);
  EXPECT_TRUE(EventuallyEmpty(*ahead));
  // An unknown key drops everything queued.
  ASSERT_TRUE(ahead->Add("a", Seal(Content(10, 1))));
  ASSERT_TRUE(ahead->Add("b", Seal(Content(10, 2))));
  EXPECT_FALSE(ahead->Take("zzz", &got));
  EXPECT_FALSE(ahead->Take("b", &got));
  EXPECT_TRUE(EventuallyEmpty(*ahead));
}

TEST_F(UnsealAheadTest, LimitsBoundWhatIsHeld) {
  UnsealAhead::Limits limits;
  limits.itemBytes = 100000;
  limits.bytesAhead = 250000;
  limits.itemsAhead = 3;
  auto ahead = UnsealAhead::Start(params_, 0, 1, limits);
  ASSERT_TRUE(ahead);
  EXPECT_FALSE(ahead->Add("large", Seal(Content(150000, 1))));         // content too large
  EXPECT_FALSE(ahead->Add("bad", std::vector<uint8_t>(100, 0)));      // no header
  ASSERT_TRUE(ahead->Add("a", Seal(Content(60000, 2))));
  ASSERT_TRUE(ahead->Add("b", Seal(Content(60000, 3))));
  EXPECT_FALSE(ahead->Add("c", Seal(Content(90000, 4))));  // beyond bytesAhead
  EXPECT_LE(ahead->bytes_held(), limits.bytesAhead);
  ASSERT_TRUE(ahead->Add("d", Seal(Content(10, 5))));
  EXPECT_FALSE(ahead->HasRoom(0));  // itemsAhead
  EXPECT_FALSE(ahead->Add("e", Seal(Content(10, 6))));
  ahead->Drop();
  EXPECT_TRUE(EventuallyEmpty(*ahead));
  EXPECT_TRUE(ahead->HasRoom(1000));
}

// Dropping, a Take that gives up waiting, and the end of the object each
// stop the work in hand at its next slice.
TEST_F(UnsealAheadTest, DropWaitAndEndStopTheWorkersPromptly) {
  UnsealAhead::Limits limits;
  limits.itemBytes = size_t{32} << 20;
  limits.bytesAhead = size_t{256} << 20;
  limits.takeWait = std::chrono::milliseconds(0);
  const std::vector<uint8_t> big = Seal(Content(size_t{24} << 20, 3));
  {
    auto ahead = UnsealAhead::Start(params_, 0, 1, limits);
    ASSERT_TRUE(ahead);
    ASSERT_TRUE(ahead->Add("big", big));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    UnsealAhead::Unsealed got;
    EXPECT_FALSE(ahead->Take("big", &got));  // not waited for
    EXPECT_TRUE(got.content.empty());
    EXPECT_TRUE(EventuallyEmpty(*ahead));
    ASSERT_TRUE(ahead->Add("big2", big));
    ahead->Drop();
    EXPECT_TRUE(EventuallyEmpty(*ahead));
  }
  for (int workers : {1, 2}) {
    auto ahead = UnsealAhead::Start(params_, 0, workers, limits);
    ASSERT_TRUE(ahead);
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(ahead->Add("big" + std::to_string(i), big));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto start = Clock::now();
    ahead.reset();  // joins every worker
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  }
  EXPECT_FALSE(UnsealAhead::Start(params_, 0, 0, limits));
}

// ---------------------------------------------------- with a file manager

class CopyAheadTest : public ::testing::Test {
 protected:
  static FileManager* NewManager() {
    FileManagerOptions options;
    options.searchMode = 3;
    std::memcpy(options.keyA, "morvelkatun", 11);
    options.keyALen = 11;
    return CreateFileManager(options);
  }

  int32_t Copy(FileManager* fm, const std::string& from, const std::string& to,
               RecordingNotify* sink) {
    return CopyTreeForTest(fm, from, to, sink, 4096, kCopyFileTimes);
  }

  // A package "pack.dpk" holding update/ with files in two folders, one of
  // them larger than goes ahead, and one item whose digest is damaged.
  void MakePackage() {
    platform::MakeFolder(folder_.Child("src").c_str());
    platform::MakeFolder(folder_.Child("src/sub").c_str());
    for (int i = 0; i < 9; ++i) {
      const std::vector<uint8_t> bytes = Content(static_cast<size_t>(i) * 7000 + 3, i);
      files_.push_back((i < 6 ? "f" : "sub/g") + std::to_string(i));
      folder_.WriteFile("src/" + files_.back(), std::string(bytes.begin(), bytes.end()));
    }
    const std::vector<uint8_t> large = Content((size_t{3} << 19) + 5, 99);
    folder_.WriteFile("src/large", std::string(large.begin(), large.end()));
    const std::vector<uint8_t> text = Content(30001, 77);
    folder_.WriteFile("src/damaged", std::string(text.begin(), text.end()));
    {
      Owned<FileManager> fm(NewManager());
      ASSERT_EQ(fm->EnsurePackage(folder_.Child("pack").c_str(), ".dpk", kOpenCreate), 0);
      RecordingNotify sink;
      ASSERT_EQ(Copy(fm.get(), folder_.Child("src"), folder_.Child("pack/update"), &sink), 0);
    }
    uint8_t digest[16];
    Md5Digest(text.data(), text.size(), digest);
    std::string bytes = TestFolder::ReadFile(folder_.Child("pack.dpk"));
    auto at = std::search(bytes.begin(), bytes.end(), digest, digest + 16,
                          [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; });
    ASSERT_NE(at, bytes.end());
    *at = static_cast<char>(*at ^ 0x01);
    folder_.WriteFile("pack.dpk", bytes);
  }

  TestFolder folder_;
  std::vector<std::string> files_;
};

TEST_F(CopyAheadTest, ReadAheadTakesTheItemsThatFollowInTheWalk) {
  MakePackage();
  Owned<FileManager> fm(NewManager());
  const std::string root = folder_.Child("pack/update");
  CopyReadAhead ahead(fm.get(), [](const char* name) { return name[0] != 'l'; }, 1);
  Owned<DirListing> listing(fm->OpenListing(root.c_str()));
  ASSERT_TRUE(listing);
  size_t files = 0;
  bool first = true;
  size_t expected = 0;  // all good items but the first of the walk
  while (const ListingEntry* entry = listing->Next()) {
    if (entry->isFolder || entry->name[0] == 'l') continue;
    const std::string path = root + "/" + entry->name;
    ahead.After(path);
    CopySource source;
    ASSERT_TRUE(source.Open(fm.get(), path));
    const bool taken = ahead.Take(path, &source);
    std::vector<uint8_t> got;
    std::vector<char> buffer(4096);
    Unsealer unsealer;
    uint8_t digest[16];
    const int pumped = source.Pump(
        &buffer, &unsealer,
        [&](const uint8_t* bytes, size_t n) {
          got.insert(got.end(), bytes, bytes + n);
          return true;
        },
        digest);
    if (!first && std::string(entry->name) != "damaged") ++expected;
    first = false;
    if (std::string(entry->name) == "damaged") {
      EXPECT_FALSE(taken);
      EXPECT_EQ(pumped, CopySource::kReadFailed);
      continue;
    }
    ++files;
    ASSERT_EQ(pumped, CopySource::kPumped) << path;
    const std::string want = TestFolder::ReadFile(folder_.Child("src/") + entry->name);
    EXPECT_EQ(std::string(got.begin(), got.end()), want) << path;
  }
  EXPECT_EQ(files, 6u);
  EXPECT_EQ(ahead.taken(), expected);
  EXPECT_GE(expected, 5u);
}

// Every notification in turn answered with "stop": with and without a
// worker the run gives the same notifications, result and files.
TEST_F(CopyAheadTest, SameNotificationsAndResultsWithAndWithoutWorkers) {
  MakePackage();
  const std::string from = folder_.Child("pack/update");
  auto run = [&](const char* workers, int stop_at, const std::string& out,
                 std::vector<std::string>* events) {
    platform::SetEnvironment("MARROWGATE_COPY_WORKERS", workers);
    Owned<FileManager> fm(NewManager());
    RecordingNotify sink;
    int index = 0;
    sink.answer = [&](const std::string&) { return index++ == stop_at ? 1 : 0; };
    const int32_t result = Copy(fm.get(), from, out, &sink);
    for (std::string& event : sink.events) {
      const size_t at = event.find(out);
      if (at != std::string::npos) event.replace(at, out.size(), "OUT");
    }
    *events = sink.events;
    events->push_back("result " + std::to_string(result));
    for (const std::string& name : files_) {
      events->push_back(name + ": " + std::to_string(TestFolder::ReadFile(out + "/" + name).size()));
    }
  };
  std::vector<std::string> plain, ahead;
  run("0", -1, folder_.Child("out0"), &plain);
  run("1", -1, folder_.Child("out1"), &ahead);
  ASSERT_EQ(plain, ahead);
  EXPECT_GT(plain.size(), 40u);
  const int steps = static_cast<int>(plain.size());
  for (int stop_at = 0; stop_at < steps; ++stop_at) {
    const std::string tag = std::to_string(stop_at);
    run("0", stop_at, folder_.Child("a" + tag), &plain);
    run("1", stop_at, folder_.Child("b" + tag), &ahead);
    ASSERT_EQ(plain, ahead) << "stopped at notification " << stop_at;
  }
  platform::SetEnvironment("MARROWGATE_COPY_WORKERS", nullptr);
}

}  // namespace
}  // namespace marrowgate
