// MyDirSearch: the copy walker of dircp (transfer/dir_copy.h). It walks the
// source side and copies each file that passes the filters into the target
// folder; codes and notifications are those listed in dir_copy.h.
// DoIt builds one per run; it borrows the parameter record.
#ifndef MARROWGATE_TRANSFER_MY_DIR_SEARCH_H_
#define MARROWGATE_TRANSFER_MY_DIR_SEARCH_H_

#include <array>
#include <list>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/copy_source.h"
#include "transfer/dir_copy.h"
#include "transfer/dir_search.h"
#include "transfer/unseal_ahead.h"
#include "util/releaser.h"

namespace marrowgate {

class MyDirSearch : public DirSearch {
 public:
  // Takes the source side, stop text, excluded names and suffixes of
  // `params` and allocates the transfer buffer (std::bad_alloc when it
  // cannot). An excluded name is kept out as a path below the source root,
  // compared as list names are (util/safe_path.h: either separator, ASCII
  // case ignored); one without a folder part is also kept out wherever it
  // stands, spelled exactly. `params` must be valid (see DirCopyParamsValid).
  explicit MyDirSearch(const DIRCP_PARAM_T& params);
  // Staged files not yet committed are dropped (their staging files go;
  // the old targets stay).
  ~MyDirSearch() override;

  int32_t ActionOnFile(const char* name) override;
  // Refuses (cb_ERROR -2 "Path too long: %s") a sub-folder whose path does
  // not fit; the walk then ends with -2.
  int32_t ActionOnDir(const char* name) override;
  int32_t ActionOnEnterDir(const char* path) override;
  int32_t ActionOnLeaveDir(const char* path) override;

  // Files passed over so far because the sink answered 0 to their error.
  int32_t FilesLeftOut() const { return files_left_out_; }
  // Targets found up to date (same size and MD5) and left unwritten.
  int32_t FilesIdentical() const { return files_identical_; }

  // Puts the staged batch in place (transfer/staged_target.h): flushes
  // every staged file, moves each over its target, then syncs the folders
  // of these moves and of every earlier batch's. A file that fails is
  // given up as by a write error (cb_ERROR -4 "ERROR writng file %s!").
  // Returns 0, or -22 when the sink asked to stop; the rest of the batch is
  // still placed.
  int32_t CommitStaged();
  // From now on each staged file is placed before its cb_FILEEND (the
  // held-back files).
  void PlaceEachFile() { place_each_ = true; }

 protected:
  // The checks done before a listed file is touched. Composes the source
  // path S (in the entry-path buffer), the relative path R (from the root,
  // with its leading "/", shortened by nCutTail) and the target path T,
  // then takes the source's information and leaves a read-only source out
  // when asked to (cb_READONLY). Returns true when the file may go on;
  // otherwise `*code` is the file's result (0 skipped, or negative).
  bool PrepareListedFile(const char* name, std::string* source, std::string* relative,
                         std::string* target, int32_t* code);
  // Turns `*source`, a delta item, into its target's rebuilt content and
  // puts the target in `*target_path`, setting `*opened`; on failure
  // reports it and returns the file code.
  int32_t OpenDeltaItem(CopySource* source, const std::string& source_path,
                        std::string* target_path, bool* opened);
  // For a target inside a package: reads `*source` (an item, a rebuilding
  // delta item, or a plain file) whole into memory, checked, and makes that
  // the source, so the package item is opened only for content known good;
  // on failure reports a read error and returns the file code.
  int32_t HoldSourceInMemory(CopySource* source, const std::string& source_path, bool* opened);
  // Steps from cb_FILEBEGIN to cb_FILEEND for an opened source. A disk
  // target is staged and replaces the old file only when complete
  // (transfer/staged_target.h); a file given up leaves the old target.
  // A disk target is staged and joins the batch; the notification
  // cb_FILEEND comes once it is written whole, before the batch is placed.
  int32_t CopyOpenedFile(CopySource* source, const std::string& source_path,
                         const std::string& target_path);
  // Opens a source for CopyOpenedFile; false when it cannot be opened.
  bool OpenSource(const std::string& source_path, CopySource* source);
  // Sends cb_ERROR(code, text formatted with arg) and returns the answer;
  // an answer of 0 (go on without the file) counts in FilesLeftOut.
  int32_t SendError(int32_t code, const char* format, const std::string& arg);
  // Sends cb_ERROR(code, text formatted with arg and reason).
  int32_t SendError(int32_t code, const char* format, const std::string& arg,
                    const std::string& reason);
  // cb_ERROR(-4, "Can not write <target>: <reason>") for a target that
  // cannot be made or written (`written` is the path that was tried: the
  // target or its staging name); `stop_code` when the sink answers
  // non-zero, else 0 (the file is skipped).
  int32_t RefuseTarget(const std::string& target, const std::string& written,
                       int32_t stop_code);
  // cb_ERROR for an unsafe relative path; -14 or 0.
  int32_t RefuseUnsafe(const std::string& relative);
  // cb_ERROR for a path that does not fit; -2 or 0.
  int32_t RefuseTooLong(const std::string& path);

  const DIRCP_PARAM_T& params_;

 private:
  // Removes leftover staging files from `folder`, once per run.
  void SweepStagingLeftovers(const std::string& folder);

  // True when the relative path `below` (no leading "/") is excluded.
  bool ExcludedPath(std::string_view below) const;

  // 0 when the target folder of the source folder `path` is missing or
  // lies within the target root once its links are resolved; otherwise
  // the refusal is sent and -1 stops the walk: a folder link leading out
  // of the target root is never written through.
  int32_t CheckTargetFolderInside(const char* path);
  std::string resolved_root_;  // the target root, links resolved, once

  // A file written whole under its staging name (or under its own name in
  // a new folder), waiting for its batch.
  struct StagedFile {
    Owned<VirtualFile> file;  // null once closed (see WatchFolder)
    std::string staging;
    std::string target;
    uint32_t size = 0;
    std::array<uint8_t, 16> digest{};
    bool target_was_free = false;  // nothing was at the target when staged
    bool in_new_folder = false;    // `staging` lies in a NewFolder
  };
  // A file of a new folder on the device, waiting for the folder's move.
  struct WrittenFile {
    std::string target;
    uint32_t size = 0;
    std::array<uint8_t, 16> digest{};
  };
  // A folder the walk makes new, under its staging name until it is
  // moved to its own (transfer/staged_target.h).
  struct NewFolder {
    std::string staging;  // "<target>.~mgpart"
    std::string target;
    std::set<std::string> targets;    // every target written into it
    std::vector<WrittenFile> placed;  // on the device, waiting for the move
    bool closes_files = false;        // its file system is synced whole
    bool walk_left = false;           // the walk wrote a file elsewhere since
  };
  // The new folder `target` goes into: one already made, or one made now
  // for the topmost missing folder of the target's path below the root.
  // Null when the target's folder is on the disk, or when no new folder
  // can be made (the target is then written as any other).
  NewFolder* NewFolderFor(const std::string& target);
  // Moves the new folders the walk has left (all of them when `all`) to
  // their names; the files of a folder that cannot be moved are moved one
  // by one. Their cb_VERIFIED follow each move. Sets `*result` to -22 when
  // the sink asked to stop on a file given up.
  void PlaceNewFolders(bool all, int32_t* result);
  // True when the disk target (`existing` its status) already holds
  // `size` bytes with `digest`; its time is then set when times are copied.
  bool TargetIsIdentical(const std::string& target, const FileInfo& existing, int32_t size,
                         const uint8_t digest[16], int32_t time);
  // CommitStaged, where `settle` false leaves the moves' folders unsynced:
  // the next batch's sync (step 1) takes them along, so a batch waits for
  // the device once. The walk's last placement settles them.
  int32_t PlaceBatch(bool settle);
  // Syncs the folders that received moves not yet synced.
  void SettleMoves();
  // The batch's sync must see a write error of a file even if it strikes
  // before the sync: the file system of `folder` is watched before the
  // first write into it (once per folder for the run). True when it is,
  // that is when it is synced whole and a file written there may be closed
  // before that sync.
  bool WatchFolder(const std::string& folder);
  // Opens the closed file at `path` again and flushes it to the device.
  bool FlushClosedFile(const std::string& path);
  // Adds `folder` to the folders whose moves no sync has covered yet.
  void NoteUnsettled(const std::string& folder);

  std::vector<char> buffer_;
  std::unique_ptr<Unsealer> unsealer_;
  // The items the walk comes to next, unsealed on other threads.
  std::unique_ptr<CopyReadAhead> read_ahead_;
  std::vector<StagedFile> batch_;
  std::list<NewFolder> new_folders_;
  std::string folder_on_disk_;  // the last target folder found on the disk
  std::set<std::string> batch_targets_;
  uint64_t batch_bytes_ = 0;
  // Folders that received moves no sync has covered yet.
  std::vector<std::string> unsettled_folders_;
  // Folders whose file system the destination watches for the batch
  // syncs, and whether it does (the file system is synced whole).
  std::map<std::string, bool> watched_folders_;
  // Staged files of the batch that hold a handle until it is placed.
  size_t batch_open_files_ = 0;
  int32_t files_identical_ = 0;
  bool place_each_ = false;
  std::vector<std::string> excluded_paths_;
  std::set<std::string> swept_folders_;
  int32_t files_left_out_ = 0;
};

// True when the record has both sides, both folders, a sink and a positive
// buffer size.
bool DirCopyParamsValid(const DIRCP_PARAM_T& params);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_MY_DIR_SEARCH_H_
