// The directory copy engines: copy a source folder tree into a target
// folder, file by file, through two FileSystem objects (the local disk or a
// FileManager, either side a folder on disk or inside a mounted package),
// reporting every step to a CPackNotify sink (transfer/pack_notify.h).
//
//   dircp          copies every file the filters let through;
//   delayed_dircp  the same, but files named in a HeldBackNames list are held
//                  back during the walk and copied after the whole tree was
//                  copied without error; an optional last name is held
//                  back as well and copied after every other held-back
//                  file, and only when no file of the run was left out
//                  (skipped after an error), so a file that marks the copy
//                  complete is never written beside an incomplete one.
//
//   const char* delayed[] = {"bin/app.exe", nullptr};
//   Owned<dircp> engine(CreateDirCopy(kDelayedDirCopy, delayed));
//   DIRCP_PARAM_T params;  // sides, folders, sink, buffer size, ...
//   int32_t rc = engine->DoIt(params);
//
// Order of notifications of one run (each only when its condition holds):
// cb_INFO(0, "Calculating src dir stat ...") and then cb_SRCDIRSTAT or
// cb_ERROR(-3, "Source files are probably corrupted") when statistics are
// requested; cb_ENTERDIR of the root; per entry in listing order either
// cb_READONLY, or cb_FILEBEGIN, cb_PROGRESS after each block, cb_FILEEND
// (cb_ERROR in place of the rest when the file fails), and for a sub-folder
// cb_ENTERDIR, its entries, cb_LEAVEDIR; cb_LEAVEDIR of the root; then for
// each held-back file cb_FILEBEGIN, cb_PROGRESS..., cb_FILEEND.
//
// A target on the local disk (FileSystem::WritesToDisk) is written under a
// staging name in its folder and moved over the old file only when the
// whole source was read and the new content is on the device; a file given
// up (a read or write error, a refusal during progress) leaves the old
// target as it was. See transfer/staged_target.h for the naming rule and
// the removal of leftovers of an interrupted run. A failed final move is
// reported as a write error. Targets inside packages are written in place
// (the package's commit makes them whole). Files copied before a failure
// stay copied.
//
// Safety: nothing is ever written outside szDstDir. The part of a target
// path below szDstDir (from the source listing, after nCutTail, with
// szDstSuffix; or a held-back name with szDstSuffix) must be a relative
// path of non-empty components none of which is "." or ".." or holds ':'
// ("/" and "\\" both separate components), and its name must not end with
// the staging suffix ".~mgpart". Otherwise the file is refused
// before anything is opened, with cb_ERROR(-6, "Unsafe path refused: %s")
// formatted with that relative part, and, when the sink answers non-zero,
// the file code -14 (-1014 from the walk, -4014 from the held-back pass);
// else it is skipped.
//
// Paths are limited to kMaxPath characters and never truncated. A path too
// long is sent as cb_ERROR(-7, "Path too long: %s") (kNotifyPathTooLong: a
// code of its own, outside -1 .. -5 and -100, which the patcher's dialog
// shows under its caption for any other copy-engine error):
//  - a file whose source or target path would be longer is refused like a
//    source that cannot be opened (file code -2 when the sink answers
//    non-zero, else skipped);
//  - a sub-folder whose path would be longer ends the walk with -2 like a
//    folder that cannot be listed;
//  - szSrcDir or szDstDir longer than kMaxPath: DoIt returns -2 before
//    anything else is sent.
//
// Results of DoIt: 0 success; -1 (cb_ENTERDIR refused), -2 (a folder cannot
// be listed, or a path too long as above), -3 (cb_LEAVEDIR refused); a file
// code less 1000 (e.g. -1011 when cb_FILEBEGIN refused a file, -1001 when
// Stat of a source failed); a held-back file's code less 4000 (e.g. -4013);
// a failed statistics pass's result less 30000 (e.g. -31010);
// kDirCopyBadParams (-9, nothing sent) for a record without sides, folders,
// sink or a positive buffer size; kDirCopyNoMemory (-8) when the transfer
// buffer or the walker's sets cannot be allocated.
//
// One target's trouble is that file's alone. A target that cannot be
// placed (its folders cannot be made, a folder or a read-only file is in
// its place, its folder may not be written, a read-only file system, or it
// is the file of a package the target side holds open) is named with the
// system's reason: cb_ERROR(-4, "Can not write %s: %s") with the target
// path and the reason. When the sink answers 0 the file is skipped and the
// walk goes on; otherwise the file code is -12 (folders) or -13.
//
// File codes: 0 copied or skipped; -1 Stat of the source failed (nothing
// sent); -2 source cannot be opened (cb_ERROR -1 "Can not open %s!") or path
// too long (cb_ERROR -7), and the sink asked to stop; -11 cb_FILEBEGIN
// refused; -12 the target's folders cannot be made and -13 the target
// cannot be placed or opened for writing (both after cb_ERROR -4 "Can not
// write", when the sink asked to stop); -14 unsafe path and the sink asked
// to stop; -21 read error
// (cb_ERROR -3 "ERROR reading file %s!") and the sink asked to stop; -22
// short write (cb_ERROR -4 "ERROR writng file %s! (%s)" with the system's
// reason, e.g. "No space left on device") and the sink asked to stop; -23 cb_PROGRESS refused; -30 cb_FILEEND refused.
#ifndef MARROWGATE_TRANSFER_DIR_COPY_H_
#define MARROWGATE_TRANSFER_DIR_COPY_H_

#include <cstdint>

#include "package/file/file_system.h"
#include "transfer/pack_notify.h"
#include "transfer/stat_dir.h"

namespace marrowgate {

// byFlags bits.
constexpr uint8_t kCopySkipReadOnly = 0x02;  // leave read-only sources out
constexpr uint8_t kCopyFileTimes = 0x04;     // give targets the source's time

// byStatMode values (any other non-zero value counts as 1).
constexpr uint8_t kStatNone = 0;
constexpr uint8_t kStatFromInfo = 1;
constexpr uint8_t kStatByOpening = 2;

// The parameter record of one run, borrowed for the length of DoIt.
struct DIRCP_PARAM_T {
  FileSystem* pSrcFM = nullptr;   // listing, file information, reading
  FileSystem* pDstFM = nullptr;   // folders, writing (may equal pSrcFM)
  const char* szSrcDir = nullptr;  // source root, no trailing "/"
  const char* szDstDir = nullptr;  // target root, no trailing "/"
  uint32_t nCutTail = 0;           // characters cut from each relative path
  const char* szDstSuffix = nullptr;  // appended to each target path
  CPackNotify* pNotify = nullptr;  // required
  StatSink* pStatSink = nullptr;   // sink of the statistics pass
  int32_t nBufSize = 0;            // transfer buffer bytes, > 0
  uint8_t byFlags = 0;             // kCopySkipReadOnly | kCopyFileTimes
  uint8_t byStatMode = 0;          // kStatNone, kStatFromInfo, kStatByOpening
  char* szStop = nullptr;          // stop text, may be null
  const char* const* ppszExcludeNames = nullptr;  // null-ended names (my_dir_search.h)
  const char* szExcludeSuffixes = nullptr;        // "|"-separated endings
};

// Paths relative to the source root, "/" between folder names, no leading
// "/", ending with a null entry. Borrowed; must outlive the engine.
using HeldBackNames = const char* const*;

// Texts sent to cb_ERROR and cb_INFO.
inline constexpr char kTextCanNotOpen[] = "Can not open %s!";
inline constexpr char kTextReadError[] = "ERROR reading file %s!";
inline constexpr char kTextWriteError[] = "ERROR writng file %s!";
// kTextWriteError with the system's reason (or kReasonUnknown) after it,
// as every write failure is sent: "ERROR writng file a! (No space left on
// device)".
inline constexpr char kTextWriteErrorWithReason[] = "ERROR writng file %s! (%s)";
inline constexpr char kTextCorrupted[] = "Source files are probably corrupted";
inline constexpr char kTextCalculating[] = "Calculating src dir stat ...";
inline constexpr char kTextPathTooLong[] = "Path too long: %s";
inline constexpr char kTextUnsafePath[] = "Unsafe path refused: %s";
// A target that cannot be made or written, with the reason.
inline constexpr char kTextCanNotWrite[] = "Can not write %s: %s";
inline constexpr char kReasonPackageInUse[] = "a package of this update is open there";
inline constexpr char kReasonUnknown[] = "the system gave no reason";
// A delta item whose target is not the file the delta was made from.
inline constexpr char kTextDeltaBasisDiffers[] =
    "The installed file %s differs from the version the patch was made for";

// Codes sent to cb_ERROR.
constexpr int32_t kNotifyCanNotOpen = -1;
constexpr int32_t kNotifyReadError = -3;   // also the corrupted source
constexpr int32_t kNotifyWriteError = -4;
constexpr int32_t kNotifyUnsafePath = -6;
constexpr int32_t kNotifyPathTooLong = -7;  // a file, folder or root path
constexpr int32_t kNotifyDeltaBasisDiffers = -8;  // kTextDeltaBasisDiffers

// File codes (see above) and DoIt codes of the engine itself.
constexpr int32_t kFileStatFailed = -1;
constexpr int32_t kFileOpenStopped = -2;
constexpr int32_t kFileRefused = -11;
constexpr int32_t kFileNoFolders = -12;
constexpr int32_t kFileNoTarget = -13;
constexpr int32_t kFileUnsafeStopped = -14;
constexpr int32_t kFileReadStopped = -21;
constexpr int32_t kFileWriteStopped = -22;
constexpr int32_t kFileProgressStopped = -23;
constexpr int32_t kFileEndStopped = -30;
constexpr int32_t kDirCopyNoMemory = -8;
constexpr int32_t kDirCopyBadParams = -9;
constexpr int32_t kDelayedOffset = 4000;
constexpr int32_t kStatPassOffset = 30000;

class dircp {
 public:
  dircp() = default;
  dircp(const dircp&) = delete;
  dircp& operator=(const dircp&) = delete;
  virtual ~dircp() = default;

  virtual void Release() { delete this; }
  // One run over `params`; 0 or a negative code (see above).
  virtual int32_t DoIt(const DIRCP_PARAM_T& params);
};

class delayed_dircp : public dircp {
 public:
  // A null list is taken as an empty one; `lastName` (borrowed, may be
  // null) is the last name (see above).
  explicit delayed_dircp(HeldBackNames delayedNames, const char* lastName = nullptr);
  int32_t DoIt(const DIRCP_PARAM_T& params) override;

 private:
  HeldBackNames delayed_names_;
  const char* last_name_;
};

constexpr int kDelayedDirCopy = 1;

// kind 1 (kDelayedDirCopy): a delayed_dircp keeping `delayedNames` and
// `lastName`; any other kind: a dircp (the names are ignored). Null when it cannot be
// allocated. Dispose of it through Release().
dircp* CreateDirCopy(int kind, HeldBackNames delayedNames, const char* lastName = nullptr);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_DIR_COPY_H_
