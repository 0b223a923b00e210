// Whole-file replacement of disk targets by the copy engines.
//
// A target on the local disk is never written under its own name. The copy
// engine writes the new content to a staging file in the target's folder,
// and only when the whole source was read without error (an item's digest
// checked at its end) does the staging file join the batch. The batch is
// placed when it holds kStagedBatchFiles files or kStagedBatchBytes bytes,
// before a target already in it is staged again, and at the end of the
// walk, before the held-back files (each of which is placed alone, the
// last one last):
// Where the file system is synced whole (the target's folder is watched,
// WatchFileSystemOf), a staged file is closed as soon as it is written,
// and a batch is bounded by its bytes only; elsewhere (Windows) each keeps
// its handle until its batch is placed, and kStagedBatchFiles bounds them.
//   1. every staged file is put on the device: its buffers go to the
//      system (VirtualFile::FlushBuffers), then the file systems holding
//      the batch's folders are synced once (FileSystem::SyncFileSystemsOf,
//      on Linux one syncfs); where that call is missing or fails (Windows)
//      each file is flushed to the device instead (VirtualFile::Flush; a
//      file closed already is opened again for it);
//   2. each is moved over its target (FileSystem::ReplaceFileUnsynced, or
//      ReplaceFreeNameUnsynced where the name was free when the file was
//      staged), which keeps the replaced file's permission bits;
//   3. the moves are put on the device by a SyncFileSystemsOf of the
//      folders that received a file, or, where it fails, SyncFolder of
//      each of them. Between batches this is the next batch's step 1,
//      which names those folders too; the walk's last placement, and each
//      held-back file, syncs them at once.
// A folder the walk makes new (missing on the disk, below the target root)
// is made under its staging name instead, "data.~mgpart" for "data". Its
// files, and its sub-folders', are written there under their own names,
// with no staging file each. Where the file system is synced whole (the
// folder holding the new one is watched, WatchFileSystemOf), each is
// closed once written and counts towards the batch's bytes only: the next
// step 1 sync puts it on the device, and where that sync fails it is
// opened again and flushed on its own. Elsewhere (Windows) the files join
// the batches like staged files, with nothing to move in step 2. Once the
// walk has left the folder, the next placement moves the whole folder to
// its name in one step (FileSystem::MoveFolderToFreeName), after its own
// step 1, and step 3 syncs that move as it syncs a file's. A new folder
// thus appears with every file written so far in it, or not at all. Where
// the folder cannot be moved (its name was taken meanwhile, or the file
// system has no such move), each of its files is moved to its name as a
// staged file is. Held-back files never go into a new folder.
// The rule: no move before the sync that put its file on the device. So
// after a crash or a kill every target is the old file or the new one,
// never a mix; a target moved but not yet synced in step 3 may read as the
// old file. A file that fails a step is given up like a write error (the
// old target stays), and a failed sync in step 1 gives up nothing by
// itself: the per-file flush that follows decides. The device is waited
// for once per batch, not once per file.
//
// Staging names follow package/file/staging_name.h: "bin/game.exe" is
// staged as "bin/game.exe.~mgpart". Names ending in ".~mgpart" are
// reserved for this: the copy engines refuse to install a file so named
// (as an unsafe path), and before they first write into a folder during a
// run they remove every file and folder there whose name ends so, which
// are the leftovers of an interrupted run. A package a FileManager creates is
// staged the same way until it is closed (package/manager/file_manager.h).
#ifndef MARROWGATE_TRANSFER_STAGED_TARGET_H_
#define MARROWGATE_TRANSFER_STAGED_TARGET_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/file/file_system.h"
#include "package/file/staging_name.h"

namespace marrowgate {

// Limits of one batch of staged files (files holding a handle, bytes).
inline constexpr size_t kStagedBatchFiles = 256;
inline constexpr uint64_t kStagedBatchBytes = uint64_t{64} << 20;

// Deletes the entries of `folder` on `fs` whose names end with
// kStagingSuffix, a folder with everything in it (FileSystem::RemoveTree).
// Returns how many were deleted.
int RemoveLeftoverStagingFiles(FileSystem* fs, const std::string& folder);

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_STAGED_TARGET_H_
