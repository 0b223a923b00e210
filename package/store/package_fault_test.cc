// A package update interrupted at every write, flush, replace or delete:
// reopened afterwards, the package holds its old content or its new one,
// and its block structure is sound.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "package/testing/fault_injection_testing.h"
#include "package/file/memory_file.h"
#include "package/store/package.h"
#include "package/testing/package_audit_testing.h"
#include "package/testing/package_testing.h"
#include "package/testing/cipher_testing.h"
#include "package/seal/zlib_codec.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using testing_faults::FaultFile;
using testing_faults::FaultPlan;
using Contents = std::map<std::string, std::string>;

std::string Noise(size_t n, uint32_t seed) {
  std::vector<uint8_t> bytes = NoiseBytes(n, seed);
  return std::string(bytes.begin(), bytes.end());
}

class PackageFaultTest : public ::testing::Test {
 protected:
  PackageFaultTest() : codec_(CreateZlibCodec()) {}

  struct Deleter {
    void operator()(Package* p) const { p->Release(); }
  };
  using PackagePtr = std::unique_ptr<Package, Deleter>;

  // A package over `file` (borrowed); null when it does not open.
  PackagePtr Open(VirtualFile* file, int mode, int* code = nullptr) {
    PackageParams params;
    params.mode = mode;
    params.file = file;
    params.ownFile = 0;
    params.compressor = codec_.get();
    params.cipherAEnc = &aEnc_;
    params.cipherADec = &aDec_;
    SetPackageKeyA(&params, "key", 3);
    SetPackageName(&params, "/game/data");
    PackagePtr package(new Package);
    const int rc = package->Open(params);
    if (code != nullptr) *code = rc;
    if (rc != 0) return nullptr;
    return package;
  }

  static bool Put(Package* package, const char* path, const std::string& content) {
    Owned<VirtualFile> item(package->OpenItem(path, kOpenCreate));
    return item && item->Write(content.data(), static_cast<int32_t>(content.size())) ==
                       static_cast<int32_t>(content.size());
  }

  // The update under test: replaces, grows, deletes and adds items (names
  // new to the pool included).
  static void Update(Package* package) {
    Put(package, "a.txt", "version two of a");
    Put(package, "big.bin", Noise(7000, 3));
    package->Delete("dir/c.txt");
    Put(package, "new/e.bin", Noise(2500, 4));
    Put(package, "dir/d.txt", Noise(1200, 5));
  }

  // The package before the update: it already has free blocks.
  std::vector<uint8_t> Original() {
    MemoryFile file;
    {
      PackagePtr package = Open(&file, kOpenCreate);
      Put(package.get(), "a.txt", "version one of a");
      Put(package.get(), "big.bin", Noise(3000, 1));
      Put(package.get(), "dir/c.txt", Noise(2000, 2));
      Put(package.get(), "dir/d.txt", "d");
      Put(package.get(), "scratch", Noise(4000, 9));
      EXPECT_EQ(0, package->Close());
    }
    {
      PackagePtr package = Open(&file, kOpenUpdate);
      EXPECT_EQ(0, package->Delete("scratch"));
      EXPECT_EQ(0, package->Close());
    }
    return file.bytes();
  }

  // Content and block problems of the package in `bytes`.
  void Inspect(const std::vector<uint8_t>& bytes, Contents* contents,
               std::vector<std::string>* problems) {
    int code = 0;
    MemoryFile file(bytes);
    PackagePtr package = Open(&file, kOpenRead, &code);
    ASSERT_NE(package, nullptr) << "the package no longer opens: " << code;
    *contents = testing_audit::Contents(package.get());
    MemoryFile copy(bytes);
    *problems = testing_audit::BlockProblems(package.get(), &copy);
  }

  Owned<ZlibCodec> codec_;
  XorTestCipher aEnc_, aDec_;
};

TEST_F(PackageFaultTest, EveryInterruptedUpdateLeavesTheOldOrTheNewPackage) {
  const std::vector<uint8_t> original = Original();
  Contents before, after;
  std::vector<std::string> problems;
  Inspect(original, &before, &problems);
  ASSERT_EQ(problems, std::vector<std::string>{});
  std::vector<uint8_t> updated;
  {
    MemoryFile file(original);
    PackagePtr package = Open(&file, kOpenUpdate);
    Update(package.get());
    ASSERT_EQ(0, package->Close());
    updated = file.bytes();
  }
  Inspect(updated, &after, &problems);
  ASSERT_EQ(problems, std::vector<std::string>{});
  ASSERT_NE(before, after);

  int injected = 0, leftOld = 0, leftNew = 0;
  for (FaultPlan::Effect effect : {FaultPlan::Effect::kFail, FaultPlan::Effect::kStop}) {
    for (int64_t n = 1;; ++n) {
      SCOPED_TRACE("operation " + std::to_string(n) +
                   (effect == FaultPlan::Effect::kStop ? " stops" : " fails"));
      FaultPlan plan;
      plan.Arm(n, effect);
      MemoryFile disk(original);
      Owned<VirtualFile> faulty(new FaultFile(&disk, &plan, /*ownsInner=*/false));
      {
        PackagePtr package = Open(faulty.get(), kOpenUpdate);
        ASSERT_NE(package, nullptr);
        Update(package.get());
        package->Close();
      }
      if (!plan.tripped()) break;
      ++injected;
      Contents contents;
      Inspect(disk.bytes(), &contents, &problems);
      EXPECT_EQ(problems, std::vector<std::string>{});
      EXPECT_TRUE(contents == before || contents == after);
      if (contents == before) ++leftOld;
      if (contents == after) ++leftNew;
      // Opened for writing again and closed, it stays as it is and sound.
      MemoryFile reopened(disk.bytes());
      {
        PackagePtr again = Open(&reopened, kOpenUpdate);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(0, again->Close());
      }
      Contents settled;
      Inspect(reopened.bytes(), &settled, &problems);
      EXPECT_EQ(problems, std::vector<std::string>{});
      EXPECT_EQ(settled, contents);
      // And the update, run again, completes with the new content.
      {
        PackagePtr rerun = Open(&reopened, kOpenUpdate);
        ASSERT_NE(rerun, nullptr);
        Update(rerun.get());
        EXPECT_EQ(0, rerun->Close());
      }
      Inspect(reopened.bytes(), &settled, &problems);
      EXPECT_EQ(problems, std::vector<std::string>{});
      EXPECT_EQ(settled, after);
    }
  }
  // Both outcomes occur: failures before the header write leave the old
  // package, failures after it the new one.
  EXPECT_GT(leftOld, 0);
  EXPECT_GT(leftNew, 0);
  EXPECT_GT(injected, 20);
  std::printf("package update: %d failure points injected, %d left the old package, %d the new\n",
              injected, leftOld, leftNew);
}

}  // namespace
}  // namespace marrowgate
