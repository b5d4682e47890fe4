#include "write/ksCompressAhead.h"

#include <algorithm>

TksCompressAhead::TksCompressAhead(const TksCompression& settings, unsigned threads) : settings_(settings) {
  threads_.reserve(threads);
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

TksCompressAhead::~TksCompressAhead() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

unsigned TksCompressAhead::ThreadsFor(int32_t asked) {
  if (asked > 0) return static_cast<unsigned>(std::min(asked, 64));
  return std::max(1u, std::thread::hardware_concurrency());
}

bool TksCompressAhead::HasRoom() const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_.empty() || (queuedBytes_ < kMostQueuedBytes && jobs_.size() < kMostQueuedJobs);
}

void TksCompressAhead::Submit(const void* key, std::string_view data) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_.push_back(Job{key, data, {}, {}, false});
    queuedBytes_ += data.size();
  }
  queued_.notify_one();
}

bool TksCompressAhead::Take(const void* key, std::string& packed) {
  std::unique_lock<std::mutex> guard(lock_);
  if (jobs_.empty() || jobs_.front().key != key) return false;
  finished_.wait(guard, [this] { return jobs_.front().done; });
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  --started_;
  queuedBytes_ -= job.data.size();
  guard.unlock();
  if (job.error) std::rethrow_exception(job.error);
  packed = std::move(job.packed);
  return true;
}

void TksCompressAhead::Work() {
  std::unique_lock<std::mutex> guard(lock_);
  for (;;) {
    queued_.wait(guard, [this] { return stopping_ || started_ < jobs_.size(); });
    if (stopping_) return;
    Job& job = jobs_[started_++];  // a deque keeps it in place while others are added
    guard.unlock();
    std::string packed;
    std::exception_ptr error;
    try {
      packed = CompressStreamData(settings_, job.data);
    } catch (...) {
      error = std::current_exception();
    }
    guard.lock();
    job.packed = std::move(packed);
    job.error = error;
    job.done = true;
    finished_.notify_all();
  }
}
