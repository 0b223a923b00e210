// Worker threads for marrowgate-pack: items handed in by one owner thread,
// the costly part of each done by a worker, each finished by the owner in
// the order it was handed in, so that what the owner writes and prints
// does not depend on how many workers there are.
//
//   WorkerPool pool(4);
//   OrderedPipeline<Thing> pipeline(&pool, /*maxItems=*/16, /*maxBytes=*/64 << 20,
//                                   [&](Thing& t) { ...owner, in order... });
//   for (...) pipeline.Add(std::move(thing), bytes, [](Thing& t, int worker) {...});
//   pipeline.FinishAll();
#ifndef MARROWGATE_TOOLS_PACK_JOBS_H_
#define MARROWGATE_TOOLS_PACK_JOBS_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace marrowgate {

// A fixed set of threads taking jobs in the order they were submitted.
class WorkerPool {
 public:
  struct Job {
    std::function<void(int worker)> run;  // told the worker's index
    bool done = false;                    // guarded by the pool
  };

  // Starts `workers` threads (fewer when the system refuses more; with none
  // at all, jobs run on the submitting thread).
  explicit WorkerPool(int workers);
  // Jobs still queued are dropped (not run); running ones are waited for.
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  int size() const { return static_cast<int>(threads_.size()); }
  // Queues `job`, which must stay alive until Wait(job) returned.
  void Submit(Job* job);
  // Returns once `job` has run.
  void Wait(Job* job);

 private:
  void Work(int index);

  std::mutex mutex_;
  std::condition_variable wake_;      // a job was queued, or stopping
  std::condition_variable finished_;  // a job is done
  std::deque<Job*> queue_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// Items in flight between an owner and a WorkerPool, finished in order.
// At most `maxItems` items, and `maxBytes` of their declared sizes (but
// always one item), are in flight: adding more first finishes the oldest.
template <typename Item>
class OrderedPipeline {
 public:
  using Finish = std::function<void(Item&)>;
  using Work = std::function<void(Item&, int worker)>;

  OrderedPipeline(WorkerPool* pool, size_t maxItems, size_t maxBytes, Finish finish)
      : pool_(pool), maxItems_(maxItems), maxBytes_(maxBytes), finish_(std::move(finish)) {}
  ~OrderedPipeline() { FinishAll(); }
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;

  // Hands in `item`, holding `bytes` of memory while in flight. `work`,
  // when given, runs on a worker; the finish runs on the owner once `item`
  // is the oldest, in Add or FinishAll.
  void Add(Item item, size_t bytes, Work work) {
    while (!inFlight_.empty() &&
           (inFlight_.size() >= maxItems_ || bytesInFlight_ + bytes > maxBytes_))
      FinishOldest();
    auto slot = std::make_unique<Slot>();
    slot->item = std::move(item);
    slot->bytes = bytes;
    Slot* raw = slot.get();
    if (work) {
      raw->job.run = [raw, work = std::move(work)](int worker) { work(raw->item, worker); };
      raw->submitted = true;
    }
    bytesInFlight_ += bytes;
    inFlight_.push_back(std::move(slot));
    if (raw->submitted) pool_->Submit(&raw->job);
  }

  // Finishes every item handed in.
  void FinishAll() {
    while (!inFlight_.empty()) FinishOldest();
  }

 private:
  struct Slot {
    Item item;
    size_t bytes = 0;
    bool submitted = false;
    WorkerPool::Job job;
  };

  void FinishOldest() {
    std::unique_ptr<Slot> slot = std::move(inFlight_.front());
    inFlight_.pop_front();
    if (slot->submitted) pool_->Wait(&slot->job);
    bytesInFlight_ -= slot->bytes;
    finish_(slot->item);
  }

  WorkerPool* pool_;
  size_t maxItems_;
  size_t maxBytes_;
  Finish finish_;
  std::deque<std::unique_ptr<Slot>> inFlight_;
  size_t bytesInFlight_ = 0;
};

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_JOBS_H_
