#include "tools/pack_tool.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "package/file/disk_file.h"
#include "package/store/layout.h"
#include "package/file/memory_file.h"
#include "package/store/package_check.h"
#include "package/seal/sealed_file.h"
#include "package/store/sealed_stream.h"
#include "package/store/tail_file.h"
#include "package/seal/unsealer.h"
#include "platform/env.h"
#include "platform/file_tree.h"
#include "platform/interrupt.h"
#include "platform/processor_count.h"
#include "tools/make_patch.h"
#include "tools/pack_archive.h"
#include "tools/pack_items.h"
#include "tools/pack_command_line.h"
#include "tools/pack_jobs.h"
#include "tools/pack_names.h"
#include "tools/pack_progress.h"
#include "tools/pack_source_scan.h"
#include "transfer/delta/delta_item.h"
#include "util/clock.h"
#include "util/md5.h"
#include "util/releaser.h"
#include "util/safe_path.h"

#ifndef MARROWGATE_VERSION
#define MARROWGATE_VERSION "0"
#endif

namespace marrowgate {

namespace {

// How list shows an item: "delta" for a delta item, "full" for the whole
// file carried beside one, "file" for the rest.
const char* ItemKind(const std::string& path) {
  if (IsDeltaName(path)) return "delta";
  if (IsDeltaFullName(path)) return "full";
  return "file";
}

using namespace pack;

// ------------------------------------------------------------ the tool

class PackTool {
 public:
  PackTool(const PackCommandLine& line, std::ostream& out, std::ostream& err, bool draw)
      : line_(line),
        out_(out),
        err_(err),
        draw_(draw && line.verbosity == Verbosity::kNormal) {}

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
    return ok && problems_ == 0 ? kPackExitOk : kPackExitFailure;
  }

 private:
  // ------------------------------------------------------------ output

  // A failure that ends the command.
  bool Fail(const std::string& text) {
    err_ << "marrowgate-pack: " << text << "\n";
    return false;
  }
  // A failure of one thing; the command goes on and fails at the end.
  void Problem(const std::string& text) {
    err_ << "marrowgate-pack: " << text << "\n";
    ++problems_;
  }
  void Warn(const std::string& text) {
    if (line_.verbosity != Verbosity::kQuiet) err_ << "marrowgate-pack: " << text << "\n";
  }
  void Say(const std::string& text) {
    if (line_.verbosity != Verbosity::kQuiet) out_ << text << "\n";
  }
  void Detail(const std::string& text) {
    if (line_.verbosity == Verbosity::kVerbose) out_ << text << "\n";
  }
  std::string ProblemsNote() const {
    return problems_ == 0 ? std::string() : ", " + Count(problems_, "problem", "problems");
  }

  PackArchive NewArchive() const { return PackArchive(*line_.keyA, *line_.keyB); }

  bool OpenArchive(PackArchive* archive, const std::string& path, int mode) {
    std::string problem;
    if (!archive->Open(path, mode, &problem)) return Fail(path + ": " + problem);
    return true;
  }

  bool CloseArchive(PackArchive* archive, const std::string& path) {
    std::string problem;
    if (!archive->Close(&problem)) return Fail(path + ": " + problem);
    return true;
  }

  // What create and attach write is renamed into place at the end; before
  // anything is written, the name must be free, a regular file, or a link
  // (which is replaced, never written through, as extract does). A device,
  // FIFO, socket or folder there is refused.
  bool RequireReplaceable(const std::string& output) {
    platform::NodeStatus status;
    std::string reason;
    if (!platform::LinkStatusOf(output.c_str(), &status, &reason)) return true;  // free
    switch (status.kind) {
      case platform::NodeKind::kFile:
      case platform::NodeKind::kLink:
        return true;
      case platform::NodeKind::kFolder:
        return Fail(output + ": is a folder; nothing written");
      default:
        return Fail(output + ": is not a regular file; nothing written");
    }
  }

  // A package (or copy) written while its own folder is read would be
  // packed into itself.
  bool RequireOutside(const std::string& file, const std::string& folder) {
    std::string resolvedFolder, resolvedFile = ResolvedTarget(file);
    if (resolvedFile.empty() || !platform::ResolvedPath(folder.c_str(), &resolvedFolder, nullptr))
      return true;  // the folder check or the write itself reports it
    if (IsWithin(resolvedFile, resolvedFolder))
      return Fail(file + ": lies inside the folder to be packed (" + folder +
                  "); write it elsewhere");
    return true;
  }

  // Walks `folder` for create/add/attach and reports what it found.
  // False when nothing may be written.
  bool Scan(const std::string& folder, const std::string& prefix, ScanResult* scan) {
    platform::NodeStatus status;
    std::string reason;
    if (!platform::StatusOf(folder.c_str(), &status, &reason))
      return Fail(folder + ": cannot be packed: " + reason);
    if (status.kind != platform::NodeKind::kFolder)
      return Fail(folder + ": cannot be packed: Not a directory");
    ScanOptions options;
    options.excludes = line_.excludes;
    options.skipSpecial = line_.skipSpecial;
    *scan = ScanSourceTree(folder, prefix, options);
    for (const std::string& text : scan->warnings) Warn(text);
    for (const std::string& text : scan->problems) Problem(text);
    for (const std::string& text : scan->collisions) Fail(text);
    if (!scan->collisions.empty())
      return Fail("nothing written: " + Count(static_cast<int64_t>(scan->collisions.size()),
                                              "name collision", "name collisions"));
    if (line_.strict && !scan->problems.empty())
      return Fail("nothing written (--strict): " + Count(problems_, "problem", "problems"));
    return true;
  }

  // Stores the scanned items into an open package.
  bool StoreItems(Package* package, const std::string& prefix, const ScanResult& scan) {
    if (!prefix.empty() && package->MakeFolder(prefix.c_str()) < 0)
      return Fail(prefix + ": cannot be made a folder inside the package");
    PackProgress progress(err_, draw_);
    int64_t fileCount = 0;
    for (const SourceItem& item : scan.items)
      if (!item.isFolder) ++fileCount;
    progress.SetTotals(fileCount, static_cast<int64_t>(scan.totalBytes));
    std::vector<std::unique_ptr<WorkerCodecs>> workers =
        MakeWorkers(package, static_cast<size_t>(fileCount));
    if (!workers.empty()) {
      StoreOnWorkers(package, scan, &progress, &workers);
      progress.Finish();
      return true;
    }
    std::vector<uint8_t> buffer;
    for (const SourceItem& item : scan.items) {
      if (item.isFolder) {
        if (package->MakeFolder(item.innerPath.c_str()) < 0)
          Problem(item.diskPath + ": cannot be added: a file of that name is in the package");
        continue;
      }
      progress.cb_FILEBEGIN(item.diskPath.c_str(), item.innerPath.c_str(),
                            static_cast<int32_t>(std::min<uint64_t>(item.size, INT32_MAX)));
      ItemResult result =
          StoreItem(package, item, &buffer, ReadSteps(&progress), SealSteps(&progress));
      if (result.ok()) {
        ++files_;
        Detail(EscapedName(item.innerPath));
      } else {
        Problem(result.problem);
      }
      progress.cb_FILEEND();
    }
    progress.Finish();
    return true;
  }

  // Feeds the bytes read of the item being stored to `progress`, so the
  // bar moves within a large item.
  static std::function<void(uint64_t)> ReadSteps(PackProgress* progress) {
    return [progress](uint64_t bytes) {
      progress->cb_PROGRESS(static_cast<int32_t>(std::min<uint64_t>(bytes, INT32_MAX)));
    };
  }

  // Feeds the seal's steps of the item being stored to `progress`.
  static std::function<void(uint64_t, uint64_t)> SealSteps(PackProgress* progress) {
    return [progress](uint64_t done, uint64_t total) { progress->SealStep(done, total); };
  }

  // ----------------------------------------------------------- workers

  int Jobs() const { return line_.jobs > 0 ? line_.jobs : platform::ProcessorCount(); }

  // A codec set per worker for `files` items of `package` (no more
  // workers than items); none when one worker is asked for, there is one
  // item, or they cannot be made: the work then stays on this thread.
  std::vector<std::unique_ptr<WorkerCodecs>> MakeWorkers(Package* package, size_t files) {
    std::vector<std::unique_ptr<WorkerCodecs>> workers;
    const int jobs = static_cast<int>(std::min<size_t>(static_cast<size_t>(Jobs()), files));
    if (jobs < 2) return workers;
    for (int i = 0; i < jobs; ++i) {
      auto worker = std::make_unique<WorkerCodecs>();
      if (!MakeStreamCodecs(package->Params(), 0, &worker->codecs, &worker->seal)) return {};
      workers.push_back(std::move(worker));
    }
    return workers;
  }

  static size_t MaxItemsInFlight(size_t workers) { return workers * 4 + 4; }

  // StoreItems with the reading and sealing of files up to
  // kWorkerItemLimit done by workers; the package is written here, in the
  // order of the scan.
  void StoreOnWorkers(Package* package, const ScanResult& scan, PackProgress* progress,
                      std::vector<std::unique_ptr<WorkerCodecs>>* workers) {
    struct Slot {
      const SourceItem* item = nullptr;
      bool onWorker = false;
      ItemResult result;
      std::vector<uint8_t> stream;
    };
    std::vector<uint8_t> buffer;
    WorkerPool pool(static_cast<int>(workers->size()));
    OrderedPipeline<Slot> pipeline(
        &pool, MaxItemsInFlight(workers->size()), kBytesInFlight, [&](Slot& slot) {
          const SourceItem& item = *slot.item;
          if (item.isFolder) {
            if (package->MakeFolder(item.innerPath.c_str()) < 0)
              Problem(item.diskPath + ": cannot be added: a file of that name is in the package");
            return;
          }
          progress->cb_FILEBEGIN(item.diskPath.c_str(), item.innerPath.c_str(),
                                 static_cast<int32_t>(std::min<uint64_t>(item.size, INT32_MAX)));
          ItemResult result = !slot.onWorker    ? StoreItem(package, item, &buffer,
                                                                  ReadSteps(progress),
                                                                  SealSteps(progress))
                              : slot.result.ok() ? StoreSealedItem(package, item, slot.stream)
                                                 : slot.result;
          if (result.ok()) {
            ++files_;
            Detail(EscapedName(item.innerPath));
          } else {
            Problem(result.problem);
          }
          progress->cb_FILEEND();
        });
    for (const SourceItem& item : scan.items) {
      Slot slot;
      slot.item = &item;
      if (item.isFolder || item.size > kWorkerItemLimit) {
        pipeline.Add(std::move(slot), 0, nullptr);
        continue;
      }
      slot.onWorker = true;
      // The plain content twice (read, and held by the sealing), the
      // stored form twice (sealed, and the stream).
      pipeline.Add(std::move(slot), 4 * static_cast<size_t>(item.size) + kChunk,
                   [workers](Slot& s, int worker) {
                     s.result = SealSourceItem(*s.item, (*workers)[worker].get(), &s.stream);
                   });
    }
    pipeline.FinishAll();
  }

  // Extract's items with the unsealing, checking and writing of items up
  // to kWorkerItemLimit done by workers; the package is read here, and
  // results are told in the order of `chosen`.
  void ExtractOnWorkers(Package* package, const std::vector<const PackEntry*>& chosen,
                        ExtractTarget* target, PackProgress* progress, int64_t* kept,
                        std::vector<std::unique_ptr<WorkerCodecs>>* workers) {
    enum class Where { kDone, kWorker, kOwner };
    struct Slot {
      const PackEntry* entry = nullptr;
      Where where = Where::kDone;
      ItemResult result;
      std::string disk, diskFolder;
      std::vector<uint8_t> stream;
    };
    std::vector<uint8_t> buffer;
    WorkerPool pool(static_cast<int>(workers->size()));
    OrderedPipeline<Slot> pipeline(
        &pool, MaxItemsInFlight(workers->size()), kBytesInFlight, [&](Slot& slot) {
          const PackEntry& e = *slot.entry;
          if (e.isFolder) {
            if (!slot.result.ok()) Problem(slot.result.problem);
            return;
          }
          progress->cb_FILEBEGIN(e.path.c_str(), e.path.c_str(), 0);
          if (slot.where == Where::kOwner) {
            slot.result = WriteExtracted(slot.disk, slot.diskFolder, target,
                                         [&](uint32_t* time, auto sink) {
                                           return ReadCheckedItem(package, e.path,
                                                                  time, sink);
                                         });
          }
          progress->cb_FILEEND();
          TellExtracted(e, slot.result, kept);
        });
    for (const PackEntry* e : chosen) {
      Slot slot;
      slot.entry = e;
      if (e->isFolder) {
        slot.result = target->MakeFolder(e->path);
        pipeline.Add(std::move(slot), 0, nullptr);
        continue;
      }
      slot.result = PrepareExtract(*e, target, line_.overwrite, &slot.disk, &slot.diskFolder);
      size_t bytes = 0;
      if (slot.result.ok() && !slot.result.skipped) {
        slot.where = Where::kOwner;
        if (package->ReadSealedItem(e->path.c_str(), kWorkerItemLimit, &slot.stream) == 0)
          bytes = WorkerBytesFor(slot.stream);
        if (bytes != 0) slot.where = Where::kWorker;
        else std::vector<uint8_t>().swap(slot.stream);
      }
      if (slot.where != Where::kWorker) {
        pipeline.Add(std::move(slot), 0, nullptr);
        continue;
      }
      pipeline.Add(std::move(slot), bytes, [workers, target](Slot& s, int worker) {
        WorkerCodecs* codecs = (*workers)[worker].get();
        s.result = WriteExtracted(s.disk, s.diskFolder, target, [&](uint32_t* time, auto sink) {
          return ReadCheckedSealed(std::move(s.stream), s.entry->path, codecs, time, sink);
        });
      });
    }
    pipeline.FinishAll();
  }

  // Tells what became of one extracted file.
  void TellExtracted(const PackEntry& e, const ItemResult& result, int64_t* kept) {
    if (result.ok() && result.skipped) {
      ++*kept;
      Detail(EscapedName(e.path) + " (kept the existing file)");
    } else if (result.ok()) {
      ++files_;
      Detail(EscapedName(e.path));
    } else {
      Problem(result.problem);
    }
  }

  // Verify's items with the unsealing and checking of items up to
  // kWorkerItemLimit done by workers, told in the order of `entries`.
  void VerifyOnWorkers(Package* package, const std::string& packagePath,
                       const std::vector<PackEntry>& entries, PackProgress* progress,
                       std::vector<std::unique_ptr<WorkerCodecs>>* workers) {
    struct Slot {
      const PackEntry* entry = nullptr;
      bool onWorker = false;
      ItemResult result;
      std::vector<uint8_t> stream;
    };
    std::vector<uint8_t> buffer;
    WorkerPool pool(static_cast<int>(workers->size()));
    OrderedPipeline<Slot> pipeline(
        &pool, MaxItemsInFlight(workers->size()), kBytesInFlight, [&](Slot& slot) {
          const PackEntry& e = *slot.entry;
          progress->cb_FILEBEGIN(e.path.c_str(), e.path.c_str(), 0);
          if (!slot.onWorker) slot.result = VerifyItem(package, e);
          progress->cb_FILEEND();
          TellVerified(packagePath, e, slot.result);
        });
    for (const PackEntry& e : entries) {
      if (e.isFolder) continue;
      Slot slot;
      slot.entry = &e;
      size_t bytes = 0;
      if (package->ReadSealedItem(e.path.c_str(), kWorkerItemLimit, &slot.stream) == 0)
        bytes = WorkerBytesFor(slot.stream);
      if (bytes == 0) {
        std::vector<uint8_t>().swap(slot.stream);
        pipeline.Add(std::move(slot), 0, nullptr);
        continue;
      }
      slot.onWorker = true;
      pipeline.Add(std::move(slot), bytes, [workers](Slot& s, int worker) {
        s.result = ReadCheckedSealed(std::move(s.stream), s.entry->path, (*workers)[worker].get(),
                                     nullptr, [](const uint8_t*, size_t) { return ItemResult(); });
      });
    }
    pipeline.FinishAll();
  }

  void TellVerified(const std::string& packagePath, const PackEntry& e, const ItemResult& result) {
    if (result.ok()) {
      Detail(EscapedName(e.path) + ": ok");
    } else {
      Problem(EscapedName(packagePath) + ": " + result.problem);
    }
  }

  // Writes a new package file at `path` holding the scanned items.
  bool BuildPackage(const ScanResult& scan, const std::string& path, const std::string& named) {
    PackArchive archive = NewArchive();
    std::string problem;
    if (!archive.Create(path, &problem)) return Fail(named + ": " + problem);
    if (!StoreItems(archive.package(), std::string(), scan)) return false;
    if (!archive.Close(&problem)) return Fail(named + ": " + problem);
    return true;
  }

  // Each name the added items would put into the package that folds onto
  // an entry already there under another spelling.
  std::vector<std::string> CaseClashes(PackArchive* archive, const std::string& package,
                                       const std::vector<std::string>& paths) {
    std::vector<std::string> clashes;
    std::map<std::string, std::vector<std::string>> folders;  // inner -> stored names
    std::set<std::string> seen;
    for (const std::string& path : paths) {
      std::string parent;
      size_t start = 0;
      for (;;) {
        size_t end = path.find('/', start);
        std::string name = path.substr(start, end == std::string::npos ? end : end - start);
        std::string here = Join(parent, name);
        if (!seen.insert(here).second) {
          if (end == std::string::npos) break;
          parent = here;
          start = end + 1;
          continue;
        }
        auto found = folders.find(parent);
        if (found == folders.end()) {
          std::vector<std::string> names;
          archive->Names(parent, &names);
          found = folders.emplace(parent, std::move(names)).first;
        }
        for (const std::string& stored : found->second) {
          if (stored != name && FoldedName(stored) == FoldedName(name)) {
            clashes.push_back(EscapedName(here) + ": would replace " +
                              EscapedName(Join(parent, stored)) + " in " + package +
                              ", whose name differs only in case");
          }
        }
        if (end == std::string::npos) break;
        parent = here;
        start = end + 1;
      }
    }
    return clashes;
  }

  // ----------------------------------------------------------- commands

  bool Create() {
    const std::string& package = line_.operands[0];
    const std::string& folder = line_.operands[1];
    if (!RequireReplaceable(package) || !RequireOutside(package, folder)) return false;
    ScanResult scan;
    if (!Scan(folder, std::string(), &scan)) return false;
    TemporaryFile partial(package + kPartialSuffix);
    platform::RemoveNode(partial.path().c_str());
    if (!BuildPackage(scan, partial.path(), package)) return Fail(package + ": not written");
    std::string reason;
    if (!partial.MoveTo(package, &reason))
      return Fail(package + ": cannot be written: " + reason);
    Say("created " + package + ": " + Files(files_) + ProblemsNote());
    return true;
  }

  bool Add() {
    const std::string& package = line_.operands[0];
    const std::string& folder = line_.operands[1];
    std::string prefix;
    if (line_.operands.size() == 3) {
      prefix = CleanInnerPath(line_.operands[2]);
      if (prefix.empty()) return Fail(line_.operands[2] + ": not a path inside a package");
      if (prefix.size() > static_cast<size_t>(kMaxPath))
        return Fail(line_.operands[2] + ": longer than " + std::to_string(kMaxPath) +
                    " characters");
    }
    if (!RequireOutside(package, folder)) return false;
    ScanResult scan;
    if (!Scan(folder, prefix, &scan)) return false;
    PackArchive archive = NewArchive();
    if (!OpenArchive(&archive, package, kOpenUpdate)) return false;
    std::vector<std::string> paths;
    if (!prefix.empty()) paths.push_back(prefix);
    for (const SourceItem& item : scan.items) paths.push_back(item.innerPath);
    std::vector<std::string> clashes = CaseClashes(&archive, package, paths);
    if (!clashes.empty()) {
      for (const std::string& text : clashes) Fail(text);
      return Fail("nothing written: " + Count(static_cast<int64_t>(clashes.size()),
                                              "name collision", "name collisions"));
    }
    bool stored = StoreItems(archive.package(), prefix, scan);
    if (!CloseArchive(&archive, package) || !stored) return false;
    Say("added " + Files(files_) + " to " + package + ProblemsNote());
    return true;
  }

  bool Remove() {
    const std::string& package = line_.operands[0];
    PackArchive archive = NewArchive();
    if (!OpenArchive(&archive, package, kOpenUpdate)) return false;
    for (size_t i = 1; i < line_.operands.size(); ++i) {
      const std::string& named = line_.operands[i];
      std::string inner = CleanInnerPath(named);
      FileInfo info;
      if (inner.empty()) {
        Problem(named + ": not a path inside a package");
      } else if (archive.package()->Stat(inner.c_str(), &info) != 0) {
        Problem(named + ": not in " + package);
      } else if (archive.package()->Delete(inner.c_str()) != 0) {
        Problem(named + ": cannot be removed: the package's blocks are damaged");
      } else {
        Say("removed " + EscapedName(inner));
      }
    }
    return CloseArchive(&archive, package);
  }

  // Size, time and stored digest of an item from its sealed-stream header,
  // without unsealing the content.
  bool ItemHeader(Package* package, const std::string& inner, SealHeader* seal) {
    Owned<VirtualFile> raw(package->OpenItem(inner.c_str(), kOpenRaw));
    uint8_t bytes[kSealHeaderSize];
    return raw && raw->Read(bytes, kSealHeaderSize) == kSealHeaderSize &&
           DecodeSealHeader(bytes, seal);
  }

  bool List() {
    const std::string& package = line_.operands[0];
    PackArchive archive = NewArchive();
    if (!OpenArchive(&archive, package, kOpenRead)) return false;
    std::vector<PackEntry> entries;
    std::string problem;
    if (!archive.Walk(&entries, &problem)) return Fail(package + ": " + problem);
    int64_t files = 0, folders = 0;
    uint64_t bytes = 0;
    bool first = true;
    if (line_.json) out_ << "{\"package\": " << JsonString(package) << ", \"entries\": [";
    for (const PackEntry& e : entries) {
      SealHeader seal;
      if (!e.isFolder && !ItemHeader(archive.package(), e.path, &seal)) {
        Problem(EscapedName(e.path) + ": cannot be read: the item's header is damaged");
        continue;
      }
      if (e.isFolder) {
        ++folders;
      } else {
        ++files;
        bytes += seal.plainSize;
      }
      if (line_.json) {
        out_ << (first ? "\n  " : ",\n  ") << "{\"path\": " << JsonString(e.path);
        if (e.isFolder) {
          out_ << ", \"type\": \"folder\"}";
        } else {
          out_ << ", \"type\": \"" << ItemKind(e.path)
               << "\", \"size\": " << seal.plainSize
               << ", \"time\": " << seal.time << ", \"md5\": \"" << Hex(seal.digest, 16) << "\"}";
        }
        first = false;
      } else if (line_.longList) {
        char text[64];
        std::snprintf(text, sizeof text, "%8s  %-19s  ",
                      e.isFolder ? "-" : HumanSize(seal.plainSize).c_str(),
                      e.isFolder ? "-" : FormatTime(seal.time).c_str());
        out_ << text << EscapedName(e.path) << (e.isFolder ? "/" : "")
             << (e.isFolder || std::strcmp(ItemKind(e.path), "file") == 0
                     ? std::string()
                     : std::string("  (") + ItemKind(e.path) + ")")
             << "\n";
      } else {
        char text[96];
        if (e.isFolder) {
          std::snprintf(text, sizeof text, "%-4s %12s  %-19s  %-32s  ", "dir", "-", "-", "-");
        } else {
          std::snprintf(text, sizeof text, "%-4s %12u  %-19s  %-32s  ",
                        ItemKind(e.path), seal.plainSize,
                        FormatTime(seal.time).c_str(), Hex(seal.digest, 16).c_str());
        }
        out_ << text << EscapedName(e.path) << (e.isFolder ? "/" : "") << "\n";
      }
    }
    if (line_.json) {
      out_ << (first ? "" : "\n") << "], \"files\": " << files << ", \"folders\": " << folders
           << ", \"bytes\": " << bytes << "}\n";
    } else if (line_.longList) {
      char text[64];
      std::snprintf(text, sizeof text, "%8s  ", HumanSize(bytes).c_str());
      out_ << text << Count(files, "file", "files") << ", " << Count(folders, "folder", "folders")
           << ", " << bytes << " bytes\n";
    }
    return true;
  }

  bool Extract() {
    const std::string& package = line_.operands[0];
    const std::string& folder = line_.operands[1];
    PackArchive archive = NewArchive();
    if (!OpenArchive(&archive, package, kOpenRead)) return false;
    std::vector<PackEntry> entries;
    std::string problem;
    if (!archive.Walk(&entries, &problem)) return Fail(package + ": " + problem);
    // The entries the patterns select.
    std::vector<std::string> patterns;
    for (size_t i = 2; i < line_.operands.size(); ++i) {
      std::string pattern = line_.operands[i];
      while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
      if (pattern.empty() || pattern[0] == '/' || !IsSafePatternPath(pattern))
        return Fail(line_.operands[i] + ": not a path inside a package");
      patterns.push_back(pattern);
    }
    std::vector<bool> used(patterns.size(), false);
    std::vector<const PackEntry*> chosen;
    for (const PackEntry& e : entries) {
      bool selected = patterns.empty();
      for (size_t i = 0; i < patterns.size(); ++i) {
        if (MatchesPathPattern(patterns[i], e.path)) {
          selected = true;
          used[i] = true;
        }
      }
      if (selected) chosen.push_back(&e);
    }
    bool allFound = true;
    for (size_t i = 0; i < patterns.size(); ++i) {
      if (!used[i]) allFound = Fail(line_.operands[i + 2] + ": not in " + package);
    }
    if (!allFound) return false;

    ExtractTarget target;
    if (!target.Prepare(folder, &problem)) return Fail(problem);
    PackProgress progress(err_, draw_);
    progress.SetTotals(static_cast<int64_t>(chosen.size()), 0);
    std::vector<uint8_t> buffer;
    int64_t kept = 0;
    std::vector<std::unique_ptr<WorkerCodecs>> workers =
        MakeWorkers(archive.package(), static_cast<size_t>(std::count_if(
                                           chosen.begin(), chosen.end(),
                                           [](const PackEntry* e) { return !e->isFolder; })));
    if (!workers.empty()) {
      ExtractOnWorkers(archive.package(), chosen, &target, &progress, &kept, &workers);
    } else {
      for (const PackEntry* e : chosen) {
        if (e->isFolder) {
          ItemResult result = target.MakeFolder(e->path);
          if (!result.ok()) Problem(result.problem);
          continue;
        }
        progress.cb_FILEBEGIN(e->path.c_str(), e->path.c_str(), 0);
        ItemResult result = ExtractItem(archive.package(), *e, &target, line_.overwrite);
        progress.cb_FILEEND();
        TellExtracted(*e, result, &kept);
      }
    }
    progress.Finish();
    std::string keptNote = kept == 0 ? std::string() : ", " + Count(kept, "existing file", "existing files") + " kept";
    Say("extracted " + Files(files_) + " into " + folder + keptNote + ProblemsNote());
    return true;
  }

  static bool IsSafePatternPath(const std::string& pattern) {
    size_t start = 0;
    for (;;) {
      size_t end = pattern.find('/', start);
      std::string part = pattern.substr(start, end == std::string::npos ? end : end - start);
      if (part.empty() || part.find_first_not_of('.') == std::string::npos) return false;
      if (end == std::string::npos) return true;
      start = end + 1;
    }
  }

  bool Verify() {
    const std::string& package = line_.operands[0];
    std::vector<PackageItemRef> items;
    int64_t folders = 0;
    {
      PackArchive archive = NewArchive();
      if (!OpenArchive(&archive, package, kOpenRead)) return false;
      std::vector<PackEntry> entries;
      std::string problem;
      if (!archive.Walk(&entries, &problem)) return Fail(package + ": " + problem);
      PackProgress progress(err_, draw_);
      progress.SetTotals(static_cast<int64_t>(entries.size()), 0);
      for (const PackEntry& e : entries) {
        if (e.isFolder) ++folders;
        else items.emplace_back(e.path, e.firstBlock);
      }
      std::vector<uint8_t> buffer;
      std::vector<std::unique_ptr<WorkerCodecs>> workers =
          MakeWorkers(archive.package(), items.size());
      if (!workers.empty()) {
        VerifyOnWorkers(archive.package(), package, entries, &progress, &workers);
      } else {
        for (const PackEntry& e : entries) {
          if (e.isFolder) continue;
          progress.cb_FILEBEGIN(e.path.c_str(), e.path.c_str(), 0);
          ItemResult result = VerifyItem(archive.package(), e);
          progress.cb_FILEEND();
          TellVerified(package, e, result);
        }
      }
      progress.Finish();
    }
    // The block structure, read from the raw file.
    Owned<VirtualFile> file(DiskFile::Open(package.c_str(), "rb"));
    if (!file) return Fail(package + ": cannot be opened: " + platform::LastSystemError());
    VirtualFile* window = file.get();
    Owned<TailFile> tail;
    if (ProbePackage(file.get()) == 2) {
      tail.reset(new TailFile);
      if (tail->Attach(file.get(), false, kOpenRead) != 0)
        return Fail(package + ": its package window cannot be read");
      window = tail.get();
    }
    for (const std::string& problem : CheckPackageBlocks(window, items)) Problem(package + ": " + problem);
    if (problems_ != 0) return Fail(package + ": damaged, " + Count(problems_, "problem", "problems"));
    Say(package + ": ok, " + Files(static_cast<int64_t>(items.size())) + " in " +
        Count(folders, "folder", "folders"));
    return true;
  }

  bool Probe() {
    const std::string& path = line_.operands[0];
    platform::NodeStatus status;
    std::string reason;
    if (!platform::StatusOf(path.c_str(), &status, &reason))
      return Fail(path + ": cannot be opened: " + reason);
    if (status.kind == platform::NodeKind::kFolder) return Fail(path + ": is a folder");
    if (status.kind != platform::NodeKind::kFile) return Fail(path + ": is not a regular file");
    Owned<VirtualFile> file(DiskFile::Open(path.c_str(), "rb"));
    if (!file) return Fail(path + ": cannot be opened: " + platform::LastSystemError());
    int kind = ProbePackage(file.get());
    out_ << (kind == 1 ? "package" : kind == 2 ? "host" : "none") << "\n";
    return true;
  }

  bool Attach() {
    const std::string& host = line_.operands[0];
    const std::string& folder = line_.operands[1];
    const std::string& output = line_.operands[2];
    platform::NodeStatus status;
    std::string reason;
    if (!platform::StatusOf(host.c_str(), &status, &reason))
      return Fail(host + ": cannot be opened: " + reason);
    if (status.kind != platform::NodeKind::kFile) return Fail(host + ": is not a regular file");
    if (platform::SameNode(host.c_str(), output.c_str()))
      return Fail(output + ": is the same file as " + host + "; write the copy elsewhere");
    if (!RequireReplaceable(output) || !RequireOutside(output, folder)) return false;
    ScanResult scan;
    if (!Scan(folder, std::string(), &scan)) return false;
    TemporaryFile partial(output + kPartialSuffix);
    TemporaryFile partialPackage(output + ".package" + kPartialSuffix);
    platform::RemoveNode(partial.path().c_str());
    platform::RemoveNode(partialPackage.path().c_str());
    if (!BuildPackage(scan, partialPackage.path(), output)) return Fail(output + ": not written");
    // The host's bytes and the package's are copied once more: a bar of
    // their own.
    PackProgress copying(err_, draw_);
    copying.CopyOnly();
    platform::NodeStatus built;
    copying.SetTotals(2, static_cast<int64_t>(status.size) +
                             (platform::StatusOf(partialPackage.path().c_str(), &built, nullptr)
                                  ? static_cast<int64_t>(built.size)
                                  : 0));
    const bool copied = CopyHost(host, partial.path(), output, status.size, &copying) &&
                        AppendPackage(partialPackage.path(), partial.path(), output, &copying);
    copying.Finish();
    if (!copied) return Fail(output + ": not written");
    if (!platform::CopyPermissions(host.c_str(), partial.path().c_str()))
      return Fail(output + ": cannot be given " + host + "'s permissions: " +
                  platform::LastSystemError());
    if (!partial.MoveTo(output, &reason)) return Fail(output + ": cannot be written: " + reason);
    Say("attached " + folder + " to " + host + " as " + output + ProblemsNote());
    return true;
  }

  // Copies the host's bytes into the new file `copy`.
  bool CopyHost(const std::string& host, const std::string& copy, const std::string& output,
                uint64_t size, PackProgress* progress) {
    progress->cb_FILEBEGIN(host.c_str(), output.c_str(),
                           static_cast<int32_t>(std::min<uint64_t>(size, INT32_MAX)));
    std::string reason;
    std::unique_ptr<platform::RawFile> in = platform::RawFile::OpenForReading(host.c_str(), &reason);
    if (!in) return Fail(host + ": cannot be read: " + reason);
    std::unique_ptr<platform::RawFile> out = platform::RawFile::CreateNew(copy.c_str(), &reason);
    if (!out) return Fail(output + ": cannot be created: " + reason);
    std::vector<uint8_t> buffer(kChunk);
    uint64_t total = 0;
    for (;;) {
      int64_t n = in->Read(buffer.data(), buffer.size(), &reason);
      if (n < 0) return Fail(host + ": cannot be read: " + reason);
      if (n == 0) break;
      if (!out->WriteAll(buffer.data(), static_cast<size_t>(n), &reason))
        return Fail(output + ": cannot be written: " + reason);
      total += static_cast<uint64_t>(n);
      progress->cb_PROGRESS(static_cast<int32_t>(std::min<uint64_t>(total, INT32_MAX)));
    }
    if (!out->Close(&reason)) return Fail(output + ": cannot be written: " + reason);
    progress->cb_FILEEND();
    return true;
  }

  // Appends the bytes of the package file `packagePath` to `hostPath` as
  // its tail window (replacing a window the host already carries).
  bool AppendPackage(const std::string& packagePath, const std::string& hostPath,
                     const std::string& output, PackProgress* progress) {
    Owned<VirtualFile> package(DiskFile::Open(packagePath.c_str(), "rb"));
    if (!package) return Fail(output + ": the new package cannot be read back");
    progress->cb_FILEBEGIN(packagePath.c_str(), output.c_str(), package->Size());
    VirtualFile* host = DiskFile::Open(hostPath.c_str(), "rb+");
    if (host == nullptr) return Fail(output + ": cannot be opened for writing");
    Owned<TailFile> tail(new TailFile);
    if (tail->Attach(host, true, kOpenCreate) != 0)
      return Fail(output + ": cannot be extended: writing failed");
    std::vector<uint8_t> buffer(kChunk);
    int32_t n;
    int64_t total = 0;
    while ((n = package->Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0) {
      if (tail->Write(buffer.data(), n) != n)
        return Fail(output + ": cannot be written: " + platform::LastSystemError());
      total += n;
      progress->cb_PROGRESS(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)));
    }
    if (n < 0) return Fail(output + ": the new package cannot be read back");
    if (tail->Detach() != 0) return Fail(output + ": its tail record cannot be written");
    progress->cb_FILEEND();
    return true;
  }

  const PackCommandLine& line_;
  std::ostream& out_;
  std::ostream& err_;
  bool draw_;
  int64_t files_ = 0;
  int64_t problems_ = 0;
};

}  // namespace

namespace {

// SOURCE_DATE_EPOCH, when set, is the moment every time the tool would take
// from the clock (a package's own items, items written without a time), so
// the same tree packs to the same bytes on any machine at any hour.
std::string ReadSourceDateEpoch(int32_t* seconds) {
  *seconds = 0;
  const char* text = platform::GetEnvironment("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return {};
  int64_t value = 0;
  // Digits only; a stray character or too many digits ends the reading.
  for (const char* c = text; *c != '\0' && value >= 0 && value <= INT32_MAX; ++c)
    value = *c >= '0' && *c <= '9' ? value * 10 + (*c - '0') : -1;
  if (value < 1 || value > INT32_MAX)
    return "SOURCE_DATE_EPOCH must be a count of seconds since 1970 up to 2147483647, not '" +
           std::string(text) + "'";
  *seconds = static_cast<int32_t>(value);
  return {};
}

// Stops the library's clock for one run of the tool.
class FixedClockForRun {
 public:
  explicit FixedClockForRun(int32_t seconds) : active_(seconds != 0) {
    if (active_) SetLibClockFixed(seconds);
  }
  ~FixedClockForRun() {
    if (active_) SetLibClockFixed(0);
  }

 private:
  bool active_;
};

}  // namespace

int RunPackTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                bool drawProgress) {
  PackCommandLine line;
  std::string problem = ParsePackCommandLine(args, &line);
  if (problem.empty()) problem = ResolvePackKeys(&line, platform::GetEnvironment);
  int32_t sourceDate = 0;
  if (problem.empty()) problem = ReadSourceDateEpoch(&sourceDate);
  if (!problem.empty()) {
    err << "marrowgate-pack: " << problem << "\nTry 'marrowgate-pack --help' for more information.\n";
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
  FixedClockForRun clock(sourceDate);
  if (line.command == "make-patch") return RunMakePatch(line, out, err);
  if (line.command == "check") return RunCheckPatch(line, out, err);
  if (line.command == "file-list") return RunFileList(line, out, err);
  PackTool tool(line, out, err, drawProgress);
  return tool.Run();
}

}  // namespace marrowgate
