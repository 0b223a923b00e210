#include "tools/pack_jobs.h"

#include <system_error>

namespace marrowgate {

WorkerPool::WorkerPool(int workers) {
  for (int i = 0; i < workers; ++i) {
    try {
      threads_.emplace_back([this, i] { Work(i); });
    } catch (const std::exception&) {
      break;  // run with the threads there are
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void WorkerPool::Submit(Job* job) {
  if (threads_.empty()) {
    try {
      job->run(0);
    } catch (...) {
    }
    job->done = true;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(job);
  }
  wake_.notify_one();
}

void WorkerPool::Wait(Job* job) {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [job] { return job->done; });
}

void WorkerPool::Work(int index) {
  for (;;) {
    Job* job = nullptr;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = queue_.front();
      queue_.pop_front();
    }
    try {
      job->run(index);
    } catch (...) {
      // A job reports its own failures; one that throws is simply done.
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job->done = true;
    }
    finished_.notify_all();
  }
}

}  // namespace marrowgate
