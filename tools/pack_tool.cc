#include "tools/pack_tool.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "package/file_manager.h"
#include "package/layout.h"
#include "package/normalise_path.h"
#include "package/sealed_file.h"
#include "package/package_check.h"
#include "package/tail_file.h"
#include "platform/env.h"
#include "tools/pack_command_line.h"
#include "tools/pack_progress.h"
#include "transfer/dir_copy.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "util/safe_path.h"

#ifndef MARROWGATE_VERSION
#define MARROWGATE_VERSION "0"
#endif

namespace marrowgate {

namespace {

constexpr int32_t kCopyBufferSize = 1 << 20;
constexpr const char* kPartialSuffix = ".partial";

// A problem for the user: the file it concerns and the reason.
struct Failure {
  std::string text;
};

std::string Hex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

std::string FormatTime(int32_t seconds) {
  platform::CalendarTime t;
  if (!platform::ToLocalCalendar(seconds, &t)) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

// A path inside a package as the user names it, with a trailing separator
// allowed: '/' separators and no trailing '/', or an empty text when it
// could leave the package (see util/safe_path.h).
std::string CleanInnerPath(std::string path) {
  while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  if (!IsContainedRelativePath(path)) return std::string();
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::string Files(int64_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); }

std::string Join(const std::string& folder, const std::string& inner) {
  if (inner.empty()) return folder;
  if (folder.empty()) return inner;
  return folder + "/" + inner;
}

// One line of `list`: kind, plain size, time, stored MD5, path.
std::string ListLine(const char* kind, const std::string& size, const std::string& time,
                     const std::string& digest, const std::string& path) {
  char text[96];
  std::snprintf(text, sizeof text, "%-4s %12s  %-19s  %-32s  ", kind, size.c_str(), time.c_str(),
                digest.c_str());
  return text + path + "\n";
}

// The copy sink of the tool; besides reporting progress it makes each
// folder the walk enters on the target side, so that empty folders are
// copied too.
class TreeCopySink : public PackProgress {
 public:
  TreeCopySink(std::ostream& err, bool draw, FileSystem* target, std::string sourceRoot,
               std::string targetRoot)
      : PackProgress(err, draw),
        target_(target),
        sourceRoot_(std::move(sourceRoot)),
        targetRoot_(std::move(targetRoot)) {}

  int32_t cb_ENTERDIR(const char* path) override {
    std::string source = path != nullptr ? path : "";
    if (source.compare(0, sourceRoot_.size(), sourceRoot_) != 0) return 0;
    std::string folder = targetRoot_ + source.substr(sourceRoot_.size());
    if (target_->MakeFolder(folder.c_str()) < 0) {
      cb_ERROR(-1, ("cannot create folder " + folder).c_str());
      return 1;
    }
    return 0;
  }

 private:
  FileSystem* target_;
  std::string sourceRoot_;
  std::string targetRoot_;
};

class PackTool {
 public:
  PackTool(const PackCommandLine& line, std::ostream& out, std::ostream& err, bool draw)
      : line_(line), out_(out), err_(err), draw_(draw), disk_(CreateFileSystem()) {}

  int Run() {
    const std::string& c = line_.command;
    bool ok = c == "create"    ? Create()
              : c == "add"     ? Add()
              : c == "remove"  ? Remove()
              : c == "list"    ? List()
              : c == "extract" ? Extract()
              : c == "verify"  ? Verify()
              : c == "probe"   ? Probe()
                               : Attach();
    return ok ? kPackExitOk : kPackExitFailure;
  }

 private:
  // ------------------------------------------------------------ helpers

  bool Fail(const std::string& text) {
    err_ << "marrowgate-pack: " << text << "\n";
    return false;
  }

  bool Absolute(const std::string& path, std::string* out) {
    if (!NormalisePath(path.c_str(), out) || out->size() > static_cast<size_t>(kMaxPath))
      return Fail(path + ": the path is too long");
    return true;
  }

  Owned<FileManager> NewFileManager() {
    FileManagerOptions options;
    options.searchMode = 1;  // packages only: the disk side is disk_
    options.acceptHosts = 1;
    options.defaultMode = kOpenRead;
    options.cipherKind = 0;
    std::memcpy(options.keyA, line_.keyA.data(), line_.keyA.size());
    options.keyALen = static_cast<int>(line_.keyA.size());
    std::memcpy(options.keyB, line_.keyB.data(), line_.keyB.size());
    options.keyBLen = static_cast<int>(line_.keyB.size());
    return Owned<FileManager>(CreateFileManager(options));
  }

  bool RequireFolder(const std::string& folder) {
    if (!disk_->IsFolder(folder.c_str())) return Fail(folder + ": no such folder");
    return true;
  }

  // A package written while its own folder is read would be copied into
  // itself.
  bool RequireOutside(const std::string& file, const std::string& folder, const std::string& named) {
    if (file.compare(0, folder.size(), folder) == 0 && file.size() > folder.size() &&
        file[folder.size()] == '/')
      return Fail(named + ": lies inside the folder to be packed; write it elsewhere");
    return true;
  }

  // Mounts the package held in `path` (a package file or a program
  // carrying one) under `path` itself.
  bool MountExisting(FileManager* fm, const std::string& path, int mode) {
    FileInfo info;
    if (disk_->Stat(path.c_str(), &info) != 0) return Fail(path + ": no such file");
    if (info.flags & kFileInfoFolder) return Fail(path + ": is a folder, not a package");
    int kind = ProbePackageFile(disk_.get(), path.c_str());
    if (kind < 0) return Fail(path + ": cannot be opened for reading");
    if (kind == 0) return Fail(path + ": is not a package and carries none");
    if (fm->OpenPackage(path.c_str(), "", mode) == nullptr)
      return Fail(path + ": the package cannot be opened (wrong password, or damaged)");
    return true;
  }

  bool Unmount(FileManager* fm, const std::string& path) {
    int rc = fm->ClosePackage(path.c_str());
    if (rc != 0) return Fail(path + ": saving the package failed (code " + std::to_string(rc) + ")");
    return true;
  }

  std::string DescribeCopyFailure(int32_t rc, const PackProgress& sink, const std::string& source) {
    if (!sink.errors().empty()) return sink.errors().front();
    if (rc <= -kStatPassOffset)
      return source + ": the files cannot be examined (code " + std::to_string(rc) + ")";
    switch (rc) {
      case -2:
        return source + ": a folder cannot be listed";
      case -1001:
        return source + ": a file's information cannot be read";
      case -1012:
        return sink.currentTarget() + ": its folder cannot be created";
      case -1013:
      case -4013:
        return sink.currentTarget() + ": cannot be created";
      default:
        return source + ": copying failed (code " + std::to_string(rc) + ")";
    }
  }

  // Copies the tree below `source` (on `from`) into `target` (on `to`).
  bool CopyTree(FileSystem* from, const std::string& source, FileSystem* to,
                const std::string& target) {
    TreeCopySink sink(err_, draw_, to, source, target);
    Owned<dircp> engine(CreateDirCopy(0, nullptr));
    if (!engine) return Fail("out of memory");
    DIRCP_PARAM_T params;
    params.pSrcFM = from;
    params.pDstFM = to;
    params.szSrcDir = source.c_str();
    params.szDstDir = target.c_str();
    params.pNotify = &sink;
    params.nBufSize = kCopyBufferSize;
    params.byFlags = kCopyFileTimes;
    params.byStatMode = kStatFromInfo;
    int32_t rc = engine->DoIt(params);
    sink.Finish();
    filesCopied_ += sink.filesDone();
    if (rc < 0) return Fail(DescribeCopyFailure(rc, sink, source));
    return true;
  }

  // Copies one file, keeping its modification time.
  bool CopyFile(FileSystem* from, const std::string& source, FileSystem* to,
                const std::string& target) {
    Owned<VirtualFile> in(from->Open(source.c_str(), kOpenRead));
    if (!in) return Fail(source + ": cannot be opened");
    if (to->MakeParentFolder(target.c_str()) < 0)
      return Fail(target + ": its folder cannot be created");
    Owned<VirtualFile> outFile(to->Open(target.c_str(), kOpenCreate));
    if (!outFile) return Fail(target + ": cannot be created");
    std::vector<uint8_t> buffer(kCopyBufferSize);
    while (!in->AtEnd()) {
      int32_t n = in->Read(buffer.data(), kCopyBufferSize);
      if (n == 0) break;
      if (n < 0) return Fail(source + ": read error");
      if (outFile->Write(buffer.data(), n) != n) return Fail(target + ": write error");
    }
    outFile->SetTime(in->GetTime());
    ++filesCopied_;
    return true;
  }

  // Writes a new package holding `folder` into the file `packagePath`.
  bool BuildPackage(const std::string& folder, const std::string& packagePath) {
    Owned<FileManager> fm = NewFileManager();
    if (!fm) return Fail("cannot set up the package store (bad password length?)");
    int rc = fm->EnsurePackage(packagePath.c_str(), "", kOpenCreate);
    if (rc != 0)
      return Fail(packagePath + ": cannot create the package (code " + std::to_string(rc) + ")");
    if (!CopyTree(disk_.get(), folder, fm.get(), packagePath)) return false;
    return Unmount(fm.get(), packagePath);
  }

  struct Entry {
    std::string path;  // inside the package
    bool isFolder;
    uint32_t firstBlock;
  };

  // Every entry below `root` (a mounted package path), depth first: each
  // folder directly followed by its contents, names in byte order within a
  // folder. Nesting is bounded by the path limit.
  bool Walk(FileManager* fm, const std::string& root, std::vector<Entry>* entries,
            const std::string& inner = std::string()) {
    std::string full = Join(root, inner);
    if (full.size() > static_cast<size_t>(kMaxPath)) return Fail(full + ": the path is too long");
    Owned<DirListing> listing(fm->OpenListing(full.c_str()));
    if (!listing) return Fail(full + ": cannot be listed");
    std::vector<Entry> level;
    while (const ListingEntry* entry = listing->Next()) {
      if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
      level.push_back({Join(inner, entry->name), entry->isFolder != 0, entry->value});
    }
    listing.reset();
    std::sort(level.begin(), level.end(),
              [](const Entry& a, const Entry& b) { return a.path < b.path; });
    for (const Entry& e : level) {
      entries->push_back(e);
      if (e.isFolder && !Walk(fm, root, entries, e.path)) return false;
    }
    return true;
  }

  // ----------------------------------------------------------- commands

  bool Create() {
    std::string package, folder;
    if (!Absolute(line_.operands[0], &package) || !Absolute(line_.operands[1], &folder))
      return false;
    if (!RequireFolder(folder) || !RequireOutside(package, folder, line_.operands[0])) return false;
    std::string partial = package + kPartialSuffix;
    disk_->DeleteFile(partial.c_str());
    if (!BuildPackage(folder, partial) || !platform::RenamePath(partial.c_str(), package.c_str())) {
      disk_->DeleteFile(partial.c_str());
      return Fail(line_.operands[0] + ": not written");
    }
    out_ << "created " << line_.operands[0] << ": " << Files(filesCopied_) << "\n";
    return true;
  }

  bool Add() {
    std::string package, folder;
    if (!Absolute(line_.operands[0], &package) || !Absolute(line_.operands[1], &folder))
      return false;
    std::string prefix;
    if (line_.operands.size() == 3) {
      prefix = CleanInnerPath(line_.operands[2]);
      if (prefix.empty()) return Fail(line_.operands[2] + ": not a path inside a package");
    }
    if (!RequireFolder(folder) || !RequireOutside(package, folder, line_.operands[0])) return false;
    Owned<FileManager> fm = NewFileManager();
    if (!fm || !MountExisting(fm.get(), package, kOpenUpdate)) return false;
    bool copied = CopyTree(disk_.get(), folder, fm.get(), Join(package, prefix));
    if (!Unmount(fm.get(), package) || !copied) return false;
    out_ << "added " << Files(filesCopied_) << " to " << line_.operands[0] << "\n";
    return true;
  }

  bool Remove() {
    std::string package;
    if (!Absolute(line_.operands[0], &package)) return false;
    Owned<FileManager> fm = NewFileManager();
    if (!fm || !MountExisting(fm.get(), package, kOpenUpdate)) return false;
    bool ok = true;
    for (size_t i = 1; i < line_.operands.size(); ++i) {
      const std::string& named = line_.operands[i];
      std::string inner = CleanInnerPath(named);
      if (inner.empty()) {
        ok = Fail(named + ": not a path inside a package");
        continue;
      }
      std::string full = Join(package, inner);
      if (!fm->Exists(full.c_str())) {
        ok = Fail(named + ": not in " + line_.operands[0]);
        continue;
      }
      int rc = fm->DeleteFile(full.c_str());
      if (rc != 0) {
        ok = Fail(named + ": cannot be removed (code " + std::to_string(rc) + ")");
      } else {
        out_ << "removed " << inner << "\n";
      }
    }
    if (!Unmount(fm.get(), package)) return false;
    return ok;
  }

  bool List() {
    std::string package;
    if (!Absolute(line_.operands[0], &package)) return false;
    Owned<FileManager> fm = NewFileManager();
    if (!fm || !MountExisting(fm.get(), package, kOpenRead)) return false;
    std::vector<Entry> entries;
    if (!Walk(fm.get(), package, &entries)) return false;
    bool ok = true;
    for (const Entry& e : entries) {
      if (e.isFolder) {
        out_ << ListLine("dir", "-", "-", "-", e.path + "/");
        continue;
      }
      std::string full = Join(package, e.path);
      // The raw item starts with its sealed-stream header: size, time and
      // stored digest without unsealing the content.
      Owned<VirtualFile> raw(fm->Open(full.c_str(), kOpenRaw));
      uint8_t bytes[kSealHeaderSize];
      SealHeader seal;
      if (!raw || raw->Read(bytes, kSealHeaderSize) != kSealHeaderSize ||
          !DecodeSealHeader(bytes, &seal)) {
        ok = Fail(e.path + ": the item's header cannot be read");
        continue;
      }
      out_ << ListLine("file", std::to_string(seal.plainSize),
                       FormatTime(static_cast<int32_t>(seal.time)), Hex(seal.digest, 16), e.path);
    }
    return ok;
  }

  bool Extract() {
    std::string package, folder;
    if (!Absolute(line_.operands[0], &package) || !Absolute(line_.operands[1], &folder))
      return false;
    Owned<FileManager> fm = NewFileManager();
    if (!fm || !MountExisting(fm.get(), package, kOpenRead)) return false;
    if (disk_->MakeFolder(folder.c_str()) < 0) return Fail(folder + ": cannot be created");
    if (line_.operands.size() == 2) {
      if (!CopyTree(fm.get(), package, disk_.get(), folder)) return false;
    } else {
      for (size_t i = 2; i < line_.operands.size(); ++i) {
        const std::string& named = line_.operands[i];
        std::string inner = CleanInnerPath(named);
        if (inner.empty()) return Fail(named + ": not a path inside a package");
        std::string source = Join(package, inner), target = Join(folder, inner);
        if (source.size() > static_cast<size_t>(kMaxPath) ||
            target.size() > static_cast<size_t>(kMaxPath))
          return Fail(named + ": the path is too long");
        FileInfo info;
        if (fm->Stat(source.c_str(), &info) != 0)
          return Fail(named + ": not in " + line_.operands[0]);
        bool copied = (info.flags & kFileInfoFolder)
                          ? CopyTree(fm.get(), source, disk_.get(), target)
                          : CopyFile(fm.get(), source, disk_.get(), target);
        if (!copied) return false;
      }
    }
    out_ << "extracted " << Files(filesCopied_) << " into " << line_.operands[1] << "\n";
    return true;
  }

  bool Verify() {
    std::string package;
    if (!Absolute(line_.operands[0], &package)) return false;
    std::vector<PackageItemRef> items;
    size_t folders = 0;
    bool ok = true;
    {
      Owned<FileManager> fm = NewFileManager();
      if (!fm || !MountExisting(fm.get(), package, kOpenRead)) return false;
      std::vector<Entry> entries;
      if (!Walk(fm.get(), package, &entries)) return false;
      std::vector<uint8_t> buffer(kCopyBufferSize);
      for (const Entry& e : entries) {
        if (e.isFolder) {
          ++folders;
          continue;
        }
        items.emplace_back(e.path, e.firstBlock);
        std::string full = Join(package, e.path);
        Owned<VirtualFile> item(fm->Open(full.c_str(), kOpenRead));
        if (!item) {
          ok = Fail(e.path + ": cannot be unsealed (damaged content)");
          continue;
        }
        Md5 md5;
        Md5Init(&md5);
        int32_t n;
        while ((n = item->Read(buffer.data(), kCopyBufferSize)) > 0) Md5Update(&md5, buffer.data(), n);
        uint8_t computed[16], stored[16];
        Md5Final(&md5, computed);
        if (n == kSealDigestMismatch && item->Digest(stored) == 0) {
          ok = Fail(e.path + ": content does not match its stored MD5 (stored " + Hex(stored, 16) +
                    ")");
        } else if (n < 0 || item->Digest(stored) != 0) {
          ok = Fail(e.path + ": cannot be read");
        } else if (std::memcmp(computed, stored, 16) != 0) {
          ok = Fail(e.path + ": content does not match its stored MD5 (stored " + Hex(stored, 16) +
                    ", computed " + Hex(computed, 16) + ")");
        }
      }
    }
    // The block structure, read from the raw file.
    Owned<VirtualFile> file(disk_->Open(package.c_str(), kOpenRead));
    if (!file) return Fail(line_.operands[0] + ": cannot be opened for reading");
    VirtualFile* window = file.get();
    Owned<TailFile> tail;
    if (ProbePackage(file.get()) == 2) {
      tail.reset(new TailFile);
      if (tail->Attach(file.get(), false, kOpenRead) != 0)
        return Fail(line_.operands[0] + ": its package window cannot be read");
      window = tail.get();
    }
    for (const std::string& problem : CheckPackageBlocks(window, items))
      ok = Fail(line_.operands[0] + ": " + problem);
    if (!ok) return false;
    out_ << line_.operands[0] << ": ok, " << Files(static_cast<int64_t>(items.size())) << " in "
         << folders << (folders == 1 ? " folder\n" : " folders\n");
    return true;
  }

  bool Probe() {
    const std::string& path = line_.operands[0];
    FileInfo info;
    if (disk_->Stat(path.c_str(), &info) != 0) return Fail(path + ": no such file");
    if (info.flags & kFileInfoFolder) return Fail(path + ": is a folder");
    int kind = ProbePackageFile(disk_.get(), path.c_str());
    if (kind < 0) return Fail(path + ": cannot be opened for reading");
    out_ << (kind == 1 ? "package" : kind == 2 ? "host" : "none") << "\n";
    return true;
  }

  bool Attach() {
    std::string host, folder, output;
    if (!Absolute(line_.operands[0], &host) || !Absolute(line_.operands[1], &folder) ||
        !Absolute(line_.operands[2], &output))
      return false;
    FileInfo info;
    if (disk_->Stat(host.c_str(), &info) != 0 || (info.flags & kFileInfoFolder))
      return Fail(line_.operands[0] + ": no such file");
    if (!RequireFolder(folder) || !RequireOutside(output, folder, line_.operands[2])) return false;
    std::string partial = output + kPartialSuffix;
    std::string partialPackage = output + ".package" + kPartialSuffix;
    bool ok = BuildPackage(folder, partialPackage) && CopyFile(disk_.get(), host, disk_.get(), partial) &&
              AppendPackage(partialPackage, partial) &&
              (platform::CopyPermissions(host.c_str(), partial.c_str()) ||
               Fail(line_.operands[2] + ": cannot set its permissions")) &&
              (platform::RenamePath(partial.c_str(), output.c_str()) ||
               Fail(line_.operands[2] + ": cannot be written"));
    disk_->DeleteFile(partialPackage.c_str());
    if (!ok) {
      disk_->DeleteFile(partial.c_str());
      return false;
    }
    out_ << "attached " << line_.operands[1] << " to " << line_.operands[0] << " as "
         << line_.operands[2] << "\n";
    return true;
  }

  // Appends the bytes of the package file `packagePath` to `hostPath` as
  // its tail window (replacing a window the host already carries).
  bool AppendPackage(const std::string& packagePath, const std::string& hostPath) {
    Owned<VirtualFile> package(disk_->Open(packagePath.c_str(), kOpenRead));
    if (!package) return Fail(packagePath + ": cannot be opened");
    VirtualFile* host = disk_->Open(hostPath.c_str(), kOpenUpdate);
    if (host == nullptr) return Fail(hostPath + ": cannot be opened for writing");
    Owned<TailFile> tail(new TailFile);
    if (tail->Attach(host, true, kOpenCreate) != 0) return Fail(hostPath + ": cannot be extended");
    std::vector<uint8_t> buffer(kCopyBufferSize);
    int32_t n;
    while ((n = package->Read(buffer.data(), kCopyBufferSize)) > 0) {
      if (tail->Write(buffer.data(), n) != n) return Fail(hostPath + ": write error");
    }
    if (n < 0) return Fail(packagePath + ": read error");
    if (tail->Detach() != 0) return Fail(hostPath + ": its tail record cannot be written");
    return true;
  }

  const PackCommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
  bool draw_;
  Owned<FileSystem> disk_;
  int64_t filesCopied_ = 0;
};

}  // namespace

int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool drawProgress) {
  PackCommandLine line;
  std::string problem = ParsePackCommandLine(args, &line);
  if (!problem.empty()) {
    err << "marrowgate-pack: " << problem << "\n\n" << PackUsageText();
    return kPackExitUsage;
  }
  if (line.help) {
    out << PackUsageText();
    return kPackExitOk;
  }
  if (line.version) {
    out << "marrowgate-pack " << MARROWGATE_VERSION << "\n";
    return kPackExitOk;
  }
  PackTool tool(line, out, err, drawProgress);
  return tool.Run();
}

}  // namespace marrowgate
