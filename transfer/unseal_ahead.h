// UnsealAhead: the package items a copy is about to reach, unsealed on
// worker threads while the copying thread writes the current one.
//
// A package and its codecs belong to one thread. That thread (the owner)
// reads each item's stored form (SealHeader and stored bytes) out of its
// package and queues it here; a worker deciphers, inflates and digests it
// with a codec and ciphers of its own into memory. When the copy reaches
// the item, Take gives the content back in the slices the owner's own
// Unsealer would have handed out, so what the copy does with it (its
// writes, its progress notifications) is the same either way.
//
// Only small items go ahead (Limits::itemBytes, stored and plain), and the
// items queued or in work stay within Limits::bytesAhead and
// Limits::itemsAhead: memory does not follow the package. An item that
// cannot be unsealed ahead (damaged, keyed otherwise, not done in time) is
// simply not given back: the owner unseals it itself and reports what it
// finds, for that file, as without the workers.
//
// Every wait is bounded: a worker gives up an item dropped or left behind
// at its next slice, Take waits at most Limits::takeWait for one item, and
// the destructor stops and joins every worker.
//
// CopyReadAhead drives it for a depth-first copy walk: it lists the
// folder the walk is in once, queues the items that follow the current
// one, and hands a CopySource the content unsealed for it.
#ifndef MARROWGATE_TRANSFER_UNSEAL_AHEAD_H_
#define MARROWGATE_TRANSFER_UNSEAL_AHEAD_H_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "package/file/file_system.h"
#include "package/seal/seal_layout.h"
#include "package/store/package.h"

namespace marrowgate {

class CopySource;
class Package;

class UnsealAhead {
 public:
  struct Limits {
    size_t itemBytes = size_t{1} << 20;   // largest stored form, and content
    size_t bytesAhead = size_t{6} << 20;  // stored forms and contents held at once
    size_t itemsAhead = 16;               // items queued at once
    std::chrono::milliseconds takeWait{20000};
  };

  // An item unsealed ahead: its header (as stored), its content and the
  // sizes of the slices the content came in.
  struct Unsealed {
    SealHeader header;
    std::vector<uint8_t> content;
    std::vector<uint32_t> slices;
  };

  // Starts `workers` threads, each with a codec and ciphers of kind
  // `cipherKind` keyed from `params` as a package keys its own. Null when
  // `workers` is below 1 or they cannot be made.
  static std::unique_ptr<UnsealAhead> Start(const PackageParams& params, int cipherKind,
                                            int workers, const Limits& limits);
  // Stops the workers (an item in work stops at its next slice) and
  // waits for them.
  ~UnsealAhead();
  UnsealAhead(const UnsealAhead&) = delete;
  UnsealAhead& operator=(const UnsealAhead&) = delete;

  // Queues the stored form `stream` under `key`. False (nothing queued)
  // when its header does not read, it is larger than an item may be, or
  // it would take the queue beyond its limits. With `wake` false the
  // workers are not told yet: a caller queueing a run of items calls
  // Wake() once after the last, so a worker is woken for the run.
  bool Add(const std::string& key, std::vector<uint8_t> stream, bool wake = true);
  // Wakes the workers for what was queued without waking them.
  void Wake();
  // Whether a stored form of `bytes` would be queued now.
  bool HasRoom(size_t bytes) const;
  // The item queued under `key`, once unsealed; the items queued before it
  // are dropped. False when `key` is not queued (everything queued is then
  // dropped), its unsealing failed, or it took longer than takeWait.
  bool Take(const std::string& key, Unsealed* out);
  // Drops everything queued.
  void Drop();

  size_t queued() const;
  // Bytes held for the queue (and items dropped while in work).
  size_t bytes_held() const;
  // Items unsealed ahead that did not unseal.
  size_t failures() const;

 private:
  struct Job;
  struct Worker;

  explicit UnsealAhead(const Limits& limits);
  void Work(Worker* worker);
  // Lets go of `job`, taken out of the queue (lock held).
  void Release(const std::shared_ptr<Job>& job);

  const Limits limits_;
  mutable std::mutex mutex_;
  std::condition_variable work_;  // a job queued, or stopping
  std::condition_variable done_;  // a job finished
  std::deque<std::shared_ptr<Job>> queue_;
  size_t bytes_ = 0;
  size_t failures_ = 0;
  bool stopping_ = false;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::thread> threads_;
};

// Worker threads for the copy: one fewer than the processors (at most
// two; none on one processor). MARROWGATE_COPY_WORKERS, when set to a
// number, is taken instead (0: none), for measuring.
int CopyWorkerCount();

class CopyReadAhead {
 public:
  // `source` is the walk's source side; `passes` its file filter. Nothing
  // goes ahead unless `source` is a FileManager reading packages first
  // (search mode 1 or 3), as CopySource reads items there.
  CopyReadAhead(FileSystem* source, std::function<bool(const char*)> passes, int workers,
                const UnsealAhead::Limits& limits = UnsealAhead::Limits());
  ~CopyReadAhead();

  // The walk has come to the file `path`: queues the items that follow it
  // in its folder, as far as the limits allow.
  void After(const std::string& path);
  // Opens `source` as the package item at `path` from the content
  // unsealed ahead for it (CopySource::OpenUnsealed). False when there is
  // none: `source` is then to be opened as usual.
  bool Take(const std::string& path, CopySource* source);

  // Items given to a CopySource so far.
  size_t taken() const { return taken_; }

 private:
  void Plan(const std::string& folder);

  FileSystem* source_;
  std::function<bool(const char*)> passes_;
  int workers_;
  UnsealAhead::Limits limits_;
  std::unique_ptr<UnsealAhead> ahead_;
  Package* package_ = nullptr;
  bool off_ = false;
  std::string folder_;
  std::vector<std::string> names_;  // files of folder_ in listing order
  size_t at_ = static_cast<size_t>(-1);  // where the walk was in names_
  size_t next_ = 0;                 // first of names_ not yet queued
  std::set<std::string> queued_;    // paths queued and not yet reached
  std::string current_;             // the file the walk is at
  bool current_queued_ = false;     // it was queued, and not yet taken
  size_t unused_ = 0;               // queued items passed by, in a row
  size_t pause_ = 0;                // files to pass before queueing again
  size_t taken_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TRANSFER_UNSEAL_AHEAD_H_
