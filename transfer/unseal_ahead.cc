#include "transfer/unseal_ahead.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <system_error>
#include <utility>

#include "package/file/memory_file.h"
#include "package/manager/file_manager.h"
#include "package/seal/unsealer.h"
#include "package/store/package_codecs.h"
#include "package/store/sealed_stream.h"
#include "platform/env.h"
#include "platform/processor_count.h"
#include "transfer/copy_source.h"
#include "transfer/delta/delta_item.h"
#include "util/releaser.h"

namespace marrowgate {

struct UnsealAhead::Job {
  enum State { kQueued, kWorking, kDone };
  std::string key;
  std::vector<uint8_t> stream;  // until a worker takes it up
  size_t charged = 0;           // bytes counted in bytes_
  State state = kQueued;
  bool ok = false;
  // Set (under the lock) when the job left the queue unfinished; read by
  // the worker between slices.
  std::atomic<bool> dropped{false};
  Unsealed result;
};

struct UnsealAhead::Worker {
  PackageCodecs codecs;
  SealParams seal;
  Unsealer unsealer;
};

UnsealAhead::UnsealAhead(const Limits& limits) : limits_(limits) {}

std::unique_ptr<UnsealAhead> UnsealAhead::Start(const PackageParams& params, int cipherKind,
                                                int workers, const Limits& limits) {
  if (workers < 1) return nullptr;
  try {
    std::unique_ptr<UnsealAhead> ahead(new UnsealAhead(limits));
    for (int i = 0; i < workers; ++i) {
      auto worker = std::make_unique<Worker>();
      if (!MakeStreamCodecs(params, cipherKind, &worker->codecs, &worker->seal)) return nullptr;
      ahead->workers_.push_back(std::move(worker));
    }
    ahead->threads_.reserve(ahead->workers_.size());
    for (auto& worker : ahead->workers_) {
      Worker* w = worker.get();
      ahead->threads_.emplace_back([a = ahead.get(), w] { a->Work(w); });
    }
    return ahead;
  } catch (const std::bad_alloc&) {
  } catch (const std::system_error&) {
  }
  // A thread that could not start: those started are stopped by the
  // destructor of the half-made object, which went out of scope above.
  return nullptr;
}

UnsealAhead::~UnsealAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    for (const auto& job : queue_) job->dropped = true;
  }
  work_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void UnsealAhead::Work(Worker* worker) {
  for (;;) {
    std::shared_ptr<Job> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      work_.wait(lock, [&] {
        if (stopping_) return true;
        return std::any_of(queue_.begin(), queue_.end(),
                           [](const auto& j) { return j->state == Job::kQueued; });
      });
      if (stopping_) return;
      for (const auto& j : queue_) {
        if (j->state == Job::kQueued) {
          job = j;
          break;
        }
      }
      job->state = Job::kWorking;
    }
    bool ok = false;
    try {
      MemoryFile raw(std::move(job->stream));
      const SealParams params = SealParamsWithCodecs(worker->seal, kOpenRead, &raw);
      Unsealed& out = job->result;
      const int code = worker->unsealer.Unseal(
          params,
          [&](const uint8_t* bytes, size_t n) {
            if (job->dropped.load(std::memory_order_relaxed)) return false;
            out.content.insert(out.content.end(), bytes, bytes + n);
            out.slices.push_back(static_cast<uint32_t>(n));
            return true;
          },
          &out.header);
      ok = code == 0;
    } catch (const std::bad_alloc&) {
      ok = false;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->state = Job::kDone;
      job->ok = ok;
      if (!ok && !job->dropped) ++failures_;
      if (!ok) {
        job->result = Unsealed();
      }
      // Dropped while in work: its bytes are free only now.
      if (job->dropped) bytes_ -= job->charged;
    }
    done_.notify_all();
  }
}

void UnsealAhead::Release(const std::shared_ptr<Job>& job) {
  if (job->state == Job::kWorking) {
    job->dropped = true;  // the worker lets go of its bytes
  } else {
    bytes_ -= job->charged;
  }
}

bool UnsealAhead::HasRoom(size_t bytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes <= limits_.itemBytes && queue_.size() < limits_.itemsAhead &&
         bytes_ + 2 * bytes <= limits_.bytesAhead;
}

bool UnsealAhead::Add(const std::string& key, std::vector<uint8_t> stream, bool wake) {
  SealHeader header;
  if (stream.size() < kSealHeaderSize || !DecodeSealHeader(stream.data(), &header) ||
      stream.size() > limits_.itemBytes || header.plainSize > limits_.itemBytes)
    return false;
  const size_t charged = stream.size() + header.plainSize;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || queue_.size() >= limits_.itemsAhead || bytes_ + charged > limits_.bytesAhead)
      return false;
    auto job = std::make_shared<Job>();
    job->key = key;
    job->stream = std::move(stream);
    job->charged = charged;
    job->result.content.reserve(header.plainSize);
    queue_.push_back(std::move(job));
    bytes_ += charged;
  }
  if (wake) work_.notify_one();
  return true;
}

void UnsealAhead::Wake() { work_.notify_all(); }

bool UnsealAhead::Take(const std::string& key, Unsealed* out) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto found = std::find_if(queue_.begin(), queue_.end(),
                            [&](const auto& job) { return job->key == key; });
  // The items before it were passed by.
  for (auto it = queue_.begin(); it != found; ++it) Release(*it);
  if (found == queue_.end()) {
    queue_.clear();
    return false;
  }
  queue_.erase(queue_.begin(), found);
  std::shared_ptr<Job> job = queue_.front();
  const bool finished = done_.wait_for(lock, limits_.takeWait,
                                       [&] { return job->state == Job::kDone; });
  // Taken out of the queue: no worker starts it after this.
  queue_.erase(std::find(queue_.begin(), queue_.end(), job));
  if (!finished) {
    Release(job);
    return false;
  }
  bytes_ -= job->charged;
  if (!job->ok) return false;
  *out = std::move(job->result);
  return true;
}

void UnsealAhead::Drop() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& job : queue_) Release(job);
  queue_.clear();
}

size_t UnsealAhead::queued() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

size_t UnsealAhead::bytes_held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

size_t UnsealAhead::failures() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failures_;
}

int CopyWorkerCount() {
  const char* text = platform::GetEnvironment("MARROWGATE_COPY_WORKERS");
  if (text != nullptr && text[0] >= '0' && text[0] <= '9' && text[1] == '\0') return text[0] - '0';
  return std::clamp(platform::ProcessorCount() - 1, 0, 2);
}

// ------------------------------------------------------------ the walk

namespace {

// Items queued and passed by in a row before the queueing pauses (a run
// whose targets are up to date reads nothing), and for how many files.
constexpr size_t kUnusedInARow = 8;
constexpr size_t kPauseFiles = 64;

}  // namespace

CopyReadAhead::CopyReadAhead(FileSystem* source, std::function<bool(const char*)> passes,
                             int workers, const UnsealAhead::Limits& limits)
    : source_(source), passes_(std::move(passes)), workers_(workers), limits_(limits) {
  auto* manager = dynamic_cast<FileManager*>(source_);
  off_ = workers_ < 1 || manager == nullptr ||
         (manager->config().searchMode != 1 && manager->config().searchMode != 3);
}

CopyReadAhead::~CopyReadAhead() = default;

void CopyReadAhead::Plan(const std::string& folder) {
  folder_ = folder;
  names_.clear();
  next_ = 0;
  at_ = static_cast<size_t>(-1);
  queued_.clear();
  if (ahead_) ahead_->Drop();
  Owned<DirListing> listing(source_->OpenListing(folder.c_str()));
  if (!listing) return;
  while (const ListingEntry* entry = listing->Next()) {
    if (entry->isFolder) continue;
    const std::string name(entry->name,
                           std::find(entry->name, entry->name + sizeof entry->name, '\0'));
    if (!passes_(name.c_str())) continue;
    std::string path = folder + "/" + name;
    // A delta item is rebuilt against its target, never unsealed whole.
    if (IsDeltaName(path) || IsDeltaFullName(path)) continue;
    names_.push_back(std::move(path));
  }
}

void CopyReadAhead::After(const std::string& path) {
  if (off_) return;
  try {
    // The file before was queued and passed by without being taken.
    if (current_queued_) {
      if (++unused_ >= kUnusedInARow) {
        unused_ = 0;
        pause_ = kPauseFiles;
      }
    }
    current_ = path;
    current_queued_ = queued_.erase(path) != 0;
    // Workers that unseal nothing (the package's ciphers are of another
    // kind than theirs) are let go.
    if (ahead_ && taken_ == 0 && ahead_->failures() >= 2) {
      ahead_.reset();
      off_ = true;
      queued_.clear();
      current_queued_ = false;
      return;
    }
    if (pause_ > 0) {
      --pause_;
      return;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    const std::string folder = path.substr(0, slash);
    if (folder != folder_) Plan(folder);
    // Where the walk is in the listing: mostly the file after the one
    // before (a search from the start for each would cost the square of a
    // large folder's files).
    size_t at = at_ + 1;
    if (at >= names_.size() || names_[at] != path) {
      auto found = std::find(names_.begin(), names_.end(), path);
      if (found == names_.end()) return;
      at = static_cast<size_t>(found - names_.begin());
    }
    at_ = at;
    next_ = std::max(next_, at + 1);
    // The queue is topped up once it has run down to half, so a worker
    // is woken for a run of items, not for each one.
    if (ahead_ && ahead_->queued() > limits_.itemsAhead / 2) return;
    auto* manager = static_cast<FileManager*>(source_);
    std::vector<uint8_t> stream;
    // The workers are woken once for the items queued here.
    struct WakeAtEnd {
      UnsealAhead* ahead = nullptr;
      ~WakeAtEnd() {
        if (ahead != nullptr) ahead->Wake();
      }
    } wake;
    for (; next_ < names_.size(); ++next_) {
      if (ahead_ && !ahead_->HasRoom(0)) break;
      const std::string& next = names_[next_];
      std::string inner;
      Package* package = manager->FindPackage(next.c_str(), true, &inner);
      if (package == nullptr) continue;
      if (!ahead_) {
        ahead_ = UnsealAhead::Start(package->Params(), 0, workers_, limits_);
        package_ = package;
        if (!ahead_) {
          off_ = true;
          return;
        }
      }
      // Items of another package are read as before.
      if (package != package_) continue;
      if (package->ReadSealedItem(inner.c_str(), limits_.itemBytes, &stream) != 0) continue;
      if (!ahead_->HasRoom(stream.size())) break;
      if (!ahead_->Add(next, std::move(stream), /*wake=*/false)) break;
      wake.ahead = ahead_.get();
      queued_.insert(next);
      stream = std::vector<uint8_t>();
    }
  } catch (const std::bad_alloc&) {
    // Nothing more goes ahead; the copy reads as before.
    if (ahead_) ahead_->Drop();
    queued_.clear();
  }
}

bool CopyReadAhead::Take(const std::string& path, CopySource* source) {
  // Only the file the walk is at, when it was queued: asking for another
  // would drop what is queued after it.
  if (!ahead_ || path != current_ || !current_queued_) return false;
  current_queued_ = false;
  unused_ = 0;
  UnsealAhead::Unsealed item;
  if (!ahead_->Take(path, &item)) return false;
  if (!source->OpenUnsealed(source_, path, item.header, std::move(item.content),
                            std::move(item.slices)))
    return false;
  ++taken_;
  return true;
}

}  // namespace marrowgate
