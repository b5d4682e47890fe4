// Stream compression on worker threads, ahead of the writer.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "codec/ksFilterChain.h"

// The writer queues the data of streams it will reach soon; worker threads compress
// them meanwhile, and the writer takes each result when it reaches its object. Each
// stream is compressed on its own by the same function the writer would call, so the
// output is the same byte for byte whatever the number of threads.
class TksCompressAhead {
 public:
  TksCompressAhead(const TksCompression& settings, unsigned threads);
  ~TksCompressAhead();
  TksCompressAhead(const TksCompressAhead&) = delete;
  TksCompressAhead& operator=(const TksCompressAhead&) = delete;

  // Whether more data may be queued: what is queued and not yet taken stays bounded.
  bool HasRoom() const;
  // Queues data (which must stay valid until taken) for the object key.
  void Submit(const void* key, std::string_view data);
  // Moves the compressed data of key into packed, waiting for them, and returns true;
  // false when key is not the oldest queued object. An error of the worker is raised here.
  bool Take(const void* key, std::string& packed);

  // Threads to use for a save that asked for threads (0: one per core).
  static unsigned ThreadsFor(int32_t asked);

 private:
  struct Job {
    const void* key;
    std::string_view data;
    std::string packed;
    std::exception_ptr error;
    bool done = false;
  };
  void Work();

  static constexpr size_t kMostQueuedBytes = 64 << 20;
  static constexpr size_t kMostQueuedJobs = 256;

  const TksCompression settings_;
  mutable std::mutex lock_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<Job> jobs_;   // in the order the writer takes them; references stay valid
  size_t started_ = 0;     // jobs_[0 .. started_) are being or have been compressed
  size_t queuedBytes_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
