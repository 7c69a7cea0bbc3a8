// Delta entries rebuilt ahead of the archive writer, on worker threads, so that several
// entries decode and deflate at once while the writer copies the others. The writer reads
// every input itself (the archives' handles are its own, and their positions are shared) and
// hands the bytes over; a worker only decodes and deflates. The writer takes the outcomes in
// the order it handed the rebuilds over, which is the order it writes the entries in, so
// that whatever a rebuild ends in is told when the writer reaches its entry, as when each
// entry is rebuilt on the writer's own thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "delta/delta_apply.h"
#include "platform/result.h"
#include "sections/binary_block.h"

using RebuildOutcome = platform::Result<delta::AppliedDelta, delta::DeltaError>;

// Applies `record` to `oldContents`, releasing both once the new contents are decoded so that
// they are not held through the deflation. Either thread may call it on blocks that nothing
// else references (their counts are not interlocked).
RebuildOutcome rebuildEntry(BlockRef record, BlockRef oldContents);

class DeltaRebuilds {
 public:
  // `workers` threads (should none start, take() rebuilds on the caller's thread). At most
  // `workers` rebuilds are outstanding (handed over and not taken), and only while their
  // estimated peaks together stay within `budgetBytes`; one is always admitted when none is.
  DeltaRebuilds(unsigned workers, size_t budgetBytes);
  // Waits for the rebuilds under way and discards every outcome not taken.
  ~DeltaRebuilds();
  DeltaRebuilds(const DeltaRebuilds&) = delete;
  DeltaRebuilds& operator=(const DeltaRebuilds&) = delete;

  // Whether a rebuild whose peak is estimated at `peakBytes` may be handed over now.
  [[nodiscard]] bool admits(size_t peakBytes) const;
  // Hands over the rebuild of entry `key`, keys increasing. The blocks must be referenced by
  // nothing else: they are released on whichever thread rebuilds the entry.
  void submit(size_t key, BlockRef record, BlockRef oldContents, size_t peakBytes);
  // Whether the next outcome to take is entry `key`'s.
  [[nodiscard]] bool holds(size_t key) const;
  // The next outcome in order, waiting for it; rebuilt here when no worker has begun it.
  // Whatever the rebuild threw is thrown here.
  [[nodiscard]] RebuildOutcome take();

 private:
  struct Job {
    size_t key = 0;
    size_t peakBytes = 0;
    BlockRef record;
    BlockRef oldContents;
    bool started = false;
    bool done = false;
    std::optional<RebuildOutcome> outcome;
    // What a worker's rebuild threw (memory running out), thrown again on the writer's thread
    // by take(), as if the writer had rebuilt the entry itself.
    std::exception_ptr thrown;
  };
  void work();
  // The oldest job no thread has begun, or none; under the lock.
  Job* firstWaiting();

  const unsigned maxWorkers_;
  const size_t budgetBytes_;
  mutable std::mutex mutex_;
  std::condition_variable jobReady_;  // workers: a job waits, or quit
  std::condition_variable jobDone_;   // the writer: an outcome is ready
  std::deque<std::unique_ptr<Job>> jobs_;  // in key order; the front is taken next
  size_t chargedBytes_ = 0;                // the estimated peaks of every job in jobs_
  bool quit_ = false;
  std::vector<std::thread> workers_;
};
