// The first pass of `create`, `add` and `attach`: walks a folder on disk
// and decides, before anything is written, what goes into the package and
// what cannot.
//
//  - Links are followed to files and folders, inside the tree or outside
//    it; a folder that is already one of the folders being walked (a loop
//    of links) is skipped, as is a link that leads nowhere.
//  - FIFOs, sockets and devices are skipped (reading them could block or
//    never end).
//  - Files and folders that cannot be read, names the package cannot hold
//    (':' or '\\', or a path inside the package over 259 characters) and
//    files larger than an item can hold are skipped, each named with the
//    reason.
//  - Two names in one folder that the package would fold into one (it
//    ignores ASCII case) are collisions: nothing may be written.
//  - Times are stored as unsigned 32-bit seconds: before 1970 becomes 1970
//    and after 2106 the last second, each with a warning.
#ifndef MARROWGATE_TOOLS_PACK_SOURCE_SCAN_H_
#define MARROWGATE_TOOLS_PACK_SOURCE_SCAN_H_

#include <cstdint>
#include <string>
#include <vector>

namespace marrowgate {

// The largest item the package store takes: the format's sizes are
// unsigned 32 bits (reading takes items up to that), and items are sealed
// in memory with signed 32-bit lengths, which is the tighter bound for
// writing.
inline constexpr uint64_t kFormatMaxItemSize = 0xFFFFFFFFu;
inline constexpr uint64_t kMaxItemSize = 0x7FFFFFFFu;

struct SourceItem {
  std::string diskPath;   // as reached on disk
  std::string innerPath;  // inside the package, '/' separated
  bool isFolder = false;
  uint64_t size = 0;
  uint32_t time = 0;      // seconds since 1970, unsigned
};

struct ScanOptions {
  std::vector<std::string> excludes;  // see MatchesExcludePattern
  bool skipSpecial = false;  // special files and bad links are warnings only
  uint64_t maxItemSize = kMaxItemSize;
};

struct ScanResult {
  std::vector<SourceItem> items;        // each folder before its contents
  std::vector<std::string> problems;    // skipped things that fail the run
  std::vector<std::string> warnings;    // noted, the run still succeeds
  std::vector<std::string> collisions;  // the run must write nothing
  uint64_t totalBytes = 0;
};

// Scans the folder `root` (a path the system takes); items are named
// below `prefix` ("" or a '/' separated path inside the package). Texts
// have the form "PATH: what: reason".
ScanResult ScanSourceTree(const std::string& root, const std::string& prefix,
                          const ScanOptions& options);

// Converts a file time to the package's unsigned 32-bit seconds; sets
// `clamped` when it lay outside 1970..2106.
uint32_t ToPackageTime(int64_t seconds, bool* clamped);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_SOURCE_SCAN_H_
