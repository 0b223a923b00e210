#include "app/payload_check.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "app/app_file_manager.h"
#include "app/client_version.h"
#include "app/install_bookkeeping.h"
#include "config/cfg_record.h"
#include "config/cfg_std_reader.h"
#include "package/file/disk_file.h"
#include "package/seal/sealed_file.h"
#include "package/seal/unsealer.h"
#include "package/store/package_check.h"
#include "package/store/package_codecs.h"
#include "package/store/tail_file.h"
#include "platform/file_tree.h"
#include "platform/processor_count.h"
#include "util/releaser.h"
#include "util/text.h"

namespace marrowgate {
namespace {

// The most of a carried version file that is looked at: the rule reads a
// line of 254 bytes at a time and keeps 15 characters, so a version sits
// near the start of any sensible file.
constexpr size_t kVersionFileBytes = 64 * 1024;

std::string JoinInner(const std::string& folder, const char* name) {
  return folder.empty() ? std::string(name) : folder + "/" + name;
}

// Releases a Package (its destructor is not public) after closing it.
struct PackageCloser {
  void operator()(Package* package) const {
    package->Close();
    package->Release();
  }
};
using OpenedPackage = std::unique_ptr<Package, PackageCloser>;

// The program file's package, opened read-only over `window` (borrowed;
// it must outlive the package).
class CarriedPackage {
 public:
  // False with *problem when the file carries no package that opens.
  bool Open(const std::string& programPath, std::string* problem) {
    platform::NodeStatus status;
    std::string reason;
    if (!platform::StatusOf(programPath.c_str(), &status, &reason)) {
      *problem = programPath + ": cannot be read: " + reason;
      return false;
    }
    if (status.kind != platform::NodeKind::kFile) {
      *problem = programPath + ": is not a regular file";
      return false;
    }
    file_.reset(DiskFile::Open(programPath.c_str(), "rb"));
    if (!file_) {
      *problem = programPath + ": cannot be read";
      return false;
    }
    window_ = file_.get();
    int kind = ProbePackage(file_.get());
    if (kind == 2) {
      tail_.reset(new TailFile);
      if (tail_->Attach(file_.get(), /*ownsHost=*/false, kOpenRead) != 0) {
        *problem = "its package cannot be found (the end of the file is damaged)";
        return false;
      }
      window_ = tail_.get();
    } else if (kind != 1) {
      *problem = "it carries no package (the end of the file is missing or damaged)";
      return false;
    }
    if (!codecs_.Create(/*cipherKind=*/0, /*withKeyB=*/true)) {
      *problem = "the package codecs cannot be made";
      return false;
    }
    PackageParams params;
    params.mode = kOpenRead;
    codecs_.ApplyTo(&params);
    SetPackageKeyA(&params, kPatcherPasswordA, static_cast<int>(sizeof kPatcherPasswordA - 1));
    SetPackageKeyB(&params, kPatcherPasswordB, static_cast<int>(sizeof kPatcherPasswordB - 1));
    SetPackageName(&params, "patch");
    params.file = window_;
    params.ownFile = 0;
    auto* package = new Package;
    int rc = package->Open(params);
    if (rc != 0) {
      package->Release();
      *problem = "its package cannot be opened (error " + std::to_string(rc) + ")";
      return false;
    }
    package_.reset(package);
    return true;
  }

  // Closes the package; the window stays readable.
  void ClosePackage() { package_.reset(); }

  Package* package() const { return package_.get(); }
  VirtualFile* window() const { return window_; }

 private:
  Owned<VirtualFile> file_;
  Owned<TailFile> tail_;
  PackageCodecs codecs_;
  OpenedPackage package_;  // declared last: closed before the codecs go
  VirtualFile* window_ = nullptr;
};

// Every item below `folder` of `package` into `items` (depth first), the
// folders counted. False when a folder cannot be listed.
bool CollectItems(Package* package, const std::string& folder,
                  std::vector<PackageItemRef>* items, int32_t* folders) {
  DirListing* listing = package->List(folder.c_str());
  if (listing == nullptr) return false;
  std::vector<std::string> subfolders;
  while (const ListingEntry* entry = listing->Next()) {
    if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
    std::string path = JoinInner(folder, entry->name);
    if (entry->isFolder != 0) {
      subfolders.push_back(std::move(path));
    } else {
      items->emplace_back(std::move(path), entry->value);
    }
  }
  listing->Release();
  for (const std::string& sub : subfolders) {
    ++*folders;
    if (!CollectItems(package, sub, items, folders)) return false;
  }
  return true;
}

// Unseals the item `inner` to its end, handing its content to `sink`. 0,
// or the Unsealer's code (-1 when the item cannot be opened).
int UnsealItem(Package* package, const std::string& inner, Unsealer* unsealer,
               const UnsealSink& sink) {
  Owned<VirtualFile> raw(package->OpenItem(inner.c_str(), kOpenRaw));
  if (!raw) return -1;
  SealParams codecs;
  CopyCodecs(package->Params(), &codecs);
  return unsealer->Unseal(SealParamsWithCodecs(codecs, kOpenRead, raw.get()), sink);
}

// The UPDATE block's two texts, for describing a patch; PACKAGE lines
// are taken and ignored (nothing is made here).
class UpdateFacts : public CfgRecord {
 public:
  static const CfgFieldInfo ROWS[];
  static const CfgTypeInfo TYPE;
  const CfgTypeInfo* GetTypeInfo() const override { return &TYPE; }
  int OnPackage(std::string_view) { return 0; }

  char szUpdateDir[260] = "update";
  char szValidityStr[16] = {};
};

const CfgFieldInfo UpdateFacts::ROWS[] = {
    CfgField<&UpdateFacts::szUpdateDir>("szUpdateDir"),
    CfgField<&UpdateFacts::szValidityStr>("szValidityStr"),
    CfgAction<&UpdateFacts::OnPackage>("PACKAGE"),
    CfgEndOfTable(),
};
const CfgTypeInfo UpdateFacts::TYPE = {"FlexUpdate::CFGINFO_T", nullptr, UpdateFacts::ROWS};

}  // namespace

namespace {

// The first item (by index) that failed, shared by the workers.
struct ItemFault {
  std::mutex lock;
  size_t index = SIZE_MAX;
  std::string problem;
  void Note(size_t at, std::string text) {
    std::lock_guard<std::mutex> hold(lock);
    if (at < index) {
      index = at;
      problem = std::move(text);
    }
  }
  bool Found() {
    std::lock_guard<std::mutex> hold(lock);
    return index != SIZE_MAX;
  }
};

// Unseals items[next++] to their end until none is left or a fault was
// found, over its own opening of the package.
void CheckItems(Package* package, const std::vector<PackageItemRef>& items,
                std::atomic<size_t>* next, ItemFault* fault) {
  try {
    Unsealer unsealer;
    const UnsealSink discard = [](const uint8_t*, size_t) { return true; };
    for (size_t at = (*next)++; at < items.size(); at = (*next)++) {
      if (fault->Found()) return;
      int code = UnsealItem(package, items[at].first, &unsealer, discard);
      if (code != 0) {
        fault->Note(at, items[at].first + ": " +
                            (code == kSealDigestMismatch
                                 ? std::string("its content does not match its MD5")
                                 : "it cannot be read (error " + std::to_string(code) + ")"));
        return;
      }
    }
  } catch (...) {
    fault->Note(0, "it cannot be checked (out of memory)");
  }
}

}  // namespace

bool CheckPayload(const std::string& programPath, PayloadSummary* summary, std::string* problem,
                  PayloadDepth depth, std::vector<ItemHeaderFacts>* headers) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  try {
    CarriedPackage carried;
    if (!carried.Open(programPath, &why)) return false;
    std::vector<PackageItemRef> items;
    int32_t folders = 0;
    if (!CollectItems(carried.package(), "", &items, &folders)) {
      why = "its folder tree cannot be read";
      return false;
    }
    // A second worker, over its own opening of the package, unseals every
    // other item when there is a second processor to run it. The
    // structure alone unseals nothing.
    std::atomic<size_t> next{0};
    ItemFault fault;
    CarriedPackage second;  // outlives the worker that reads it
    std::string secondProblem;
    std::thread helper;
    if (depth == PayloadDepth::kWhole && platform::ProcessorCount() > 1 && items.size() > 1 &&
        second.Open(programPath, &secondProblem)) {
      try {
        helper = std::thread(CheckItems, second.package(), std::cref(items), &next, &fault);
      } catch (const std::system_error&) {
        // No thread to be had: this one does all the items.
      }
    }
    if (depth == PayloadDepth::kWhole) CheckItems(carried.package(), items, &next, &fault);
    if (helper.joinable()) helper.join();
    if (fault.Found()) {
      why = fault.problem;
      return false;
    }
    carried.ClosePackage();
    std::vector<ItemHeaderFacts> read;
    std::vector<std::string> faults =
        CheckPackageBlocks(carried.window(), items, headers != nullptr ? &read : nullptr);
    if (!faults.empty()) {
      why = faults.front();
      return false;
    }
    if (headers != nullptr) *headers = std::move(read);
    if (summary != nullptr) {
      summary->packageBytes = carried.window()->Size();
      summary->itemCount = static_cast<int32_t>(items.size());
      summary->folderCount = folders;
    }
    return true;
  } catch (...) {
    why = "it cannot be checked (out of memory)";
    return false;
  }
}

int ReadCarriedVersion(Package* package, const std::string& updateDir, std::string* version) {
  if (package == nullptr) return 0;
  std::string inner = updateDir;
  while (!inner.empty() && (inner.back() == '/' || inner.back() == '\\')) inner.pop_back();
  inner = JoinInner(inner, "mb/etc/version.txt");
  FileInfo info;
  if (package->Stat(inner.c_str(), &info) != 0) return 0;
  if ((info.flags & kFileInfoFolder) != 0) return -1;  // a folder of that name
  std::string content;
  Unsealer unsealer;
  int code = UnsealItem(package, inner, &unsealer, [&content](const uint8_t* bytes, size_t n) {
    size_t take = std::min(n, kVersionFileBytes - content.size());
    content.append(reinterpret_cast<const char*>(bytes), take);
    return content.size() < kVersionFileBytes;
  });
  if (code != 0 && code != kUnsealSinkFailed) return -1;
  std::string text(TrimView(VersionFromText(content)));
  if (version != nullptr) *version = text;
  return IsClientVersionText(text) ? 1 : -1;
}

bool ReadPatchFacts(const std::string& programPath, PatchFacts* facts, std::string* problem) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  PatchFacts found;
  try {
    CarriedPackage carried;
    if (!carried.Open(programPath, &why)) return false;
    std::vector<PackageItemRef> items;
    if (!CollectItems(carried.package(), "", &items, &found.summary.folderCount)) {
      why = "its folder tree cannot be read";
      return false;
    }
    found.summary.itemCount = static_cast<int32_t>(items.size());
    found.summary.packageBytes = carried.window()->Size();
    UpdateFacts update;
    bool read = true;
    {
      Owned<VirtualFile> cfg(carried.package()->OpenItem("cfg.txt", kOpenRead));
      if (cfg) {
        CfgStdReader reader;
        reader.RegisterObject("UPDATE", &update);
        read = reader.ReadStream(cfg.get(), true, 0) >= 0;
      }
    }
    if (read) {
      found.requiredVersion = update.szValidityStr;
      std::string target;
      if (ReadCarriedVersion(carried.package(), update.szUpdateDir, &target) == 1)
        found.targetVersion = target;
    }
  } catch (...) {
    why = "it cannot be read (out of memory)";
    return false;
  }
  if (facts != nullptr) *facts = std::move(found);
  return true;
}

std::string DescribePatch(const PatchFacts& facts) {
  if (facts.targetVersion.empty()) return std::string();
  if (facts.requiredVersion.empty()) return "to " + facts.targetVersion;
  return "from " + facts.requiredVersion + " or later to " + facts.targetVersion;
}

}  // namespace marrowgate
