// CfgReader: reads configuration text line by line, keeps the stack of
// open blocks, follows "#include", hands key = value pairs to the record on
// top of the stack and keeps the error state.
//
// The reader does not own its registry, line parser or records. Includes
// are opened from the local disk (never from a package) through a
// FileSystem the reader creates and owns, and only when they name an
// ordinary file (a folder, device, pipe or socket is refused like a missing
// file), so an include never blocks or reads without end.
//
// One read (a ReadStream or ReadFile call from outside, with every file it
// includes) consumes at most kMaxReadLines lines and kMaxReadBytes bytes;
// past either bound it stops with the "text too long" result.
//
// Results: 0 or a negative code.
//   included file cannot be opened (or its path is too long,  error code -1, result -2
//     or includes nest deeper than kMaxIncludeDepth)
//   file already being read (recursive include)               error code -2, result -1
//   block name not found (or not a sub-record) inside a block  error code -10, result -11
//   "}" with no block open                                     error code -11, result -12
//   record rejects a key                                       error code -11, result -13
//   malformed line                                             error code -11 (or the
//                                                              parser's), result -14
//   malformed line while skipping an unknown block             error code -11, result -1
//   the text cannot be read (a read failure, such as a damaged error code -12, result -15
//     package item)
//   text too long (kMaxReadLines or kMaxReadBytes passed)      error code -13, result -16
// An error inside an included file is returned unchanged through every
// including level; the line number is that of the innermost file.
#ifndef MARROWGATE_CONFIG_CFG_READER_H_
#define MARROWGATE_CONFIG_CFG_READER_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "config/cfg_line_parser.h"
#include "config/cfg_record.h"
#include "package/file/file_system.h"
#include "package/file/virtual_file.h"
#include "util/hash_table.h"
#include "util/releaser.h"
#include "util/string_list.h"

namespace marrowgate {

// Block name -> record (not owned).
using CfgRegistry = std::map<std::string, CfgRecord*, std::less<>>;

class CfgReader {
 public:
  // Bytes read per line (a longer physical line continues as the next one).
  static constexpr int32_t kMaxLineBytes = 4094;
  static constexpr size_t kLineBufferSize = 4096;
  static constexpr size_t kErrorTextSize = 1024;
  static constexpr size_t kMaxIncludeDepth = 64;
  // Bounds of one read, includes counted in.
  static constexpr int64_t kMaxReadLines = int64_t{1} << 20;
  static constexpr int64_t kMaxReadBytes = int64_t{64} << 20;

  CfgReader();
  virtual ~CfgReader();
  CfgReader(const CfgReader&) = delete;
  CfgReader& operator=(const CfgReader&) = delete;

  int SetRegistry(const CfgRegistry* registry);
  int SetLineParser(CfgLineParser* parser);

  // Reads the open `file` (never closing it). `reset` starts a fresh text:
  // the record stack is emptied and the parser's Reset called. `mask` is
  // passed to every SetValue (0 binds every field).
  int ReadStream(VirtualFile* file, bool reset, uint32_t mask);
  // Opens `path` from the disk and reads it; with `reset` the include stack
  // and the open-file set are emptied first. A missing or empty path reads
  // nothing and returns 0.
  int ReadFile(const char* path, bool reset, uint32_t mask);
  // Handles one trimmed line.
  int HandleLine(std::string_view line, uint32_t mask);

  // Writes "fileinclude:[" path "<-" ... "]" " errcode:%d line:%d content:%s"
  // into `buffer` (*size bytes), each piece bounded by the space left; with a
  // null buffer a static buffer of kErrorTextSize bytes is used and *size
  // set to that. Consumes the include stack. Returns the buffer.
  const char* GetErrorText(char* buffer, int32_t* size);
  // The same text as a string (also consuming the include stack).
  std::string GetErrorText();

  int32_t error_code() const { return errorCode_; }
  int32_t line_number() const { return lineNumber_; }
  // How deep an unregistered block may start and still be skipped (1: only
  // at the top level).
  void set_unregistered_block_depth_limit(int32_t limit) { unknownBlockDepthLimit_ = limit; }
  // When set, a key that the record rejects is not an error.
  void set_tolerate_rejected_keys(bool tolerate) { tolerateRejectedKeys_ = tolerate; }

 private:
  int ReadLines(VirtualFile* file, uint32_t mask);
  int OpenBlock(const char* name);
  int Fail(int32_t errorCode, int result) {
    errorCode_ = errorCode;
    return result;
  }

  int32_t unknownBlockDepthLimit_ = 1;
  bool skipping_ = false;
  int32_t skipDepth_ = 0;
  int32_t blockDepth_ = 0;
  int32_t errorCode_ = 0;
  int32_t lineNumber_ = 0;
  // Nesting of ReadStream calls (0: no read under way) and what the read
  // under way has consumed.
  int32_t readDepth_ = 0;
  int64_t linesConsumed_ = 0;
  int64_t bytesConsumed_ = 0;
  StringList includeStack_;
  StringHashSet openFiles_;
  const CfgRegistry* registry_ = nullptr;
  CfgLineParser* parser_ = nullptr;
  std::vector<CfgRecord*> records_;
  char line_[kLineBufferSize] = {};
  Owned<FileSystem> fileOpener_;
  bool tolerateRejectedKeys_ = false;
};

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_READER_H_
