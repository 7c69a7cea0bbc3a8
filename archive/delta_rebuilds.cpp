#include "archive/delta_rebuilds.h"

#include <system_error>
#include <utility>

RebuildOutcome rebuildEntry(BlockRef record, BlockRef oldContents) {
  auto decoded = delta::decodeDeltaContents(
      record->data(), static_cast<size_t>(record->length()), oldContents->data(),
      static_cast<size_t>(oldContents->length()));
  // The record and the old contents are done with: for a large entry they are as much again
  // as what the deflation holds.
  record = BlockRef();
  oldContents = BlockRef();
  if (!decoded) return platform::fail(decoded.error());
  return delta::storeDeltaContents(std::move(decoded).value());
}

DeltaRebuilds::DeltaRebuilds(unsigned workers, size_t budgetBytes)
    : maxWorkers_(workers > 0 ? workers : 1), budgetBytes_(budgetBytes) {
  for (unsigned k = 0; k < workers; ++k) {
    try {
      workers_.emplace_back([this] { work(); });
    } catch (const std::system_error&) {
      break;  // fewer workers; with none, take() does the work
    }
  }
}

DeltaRebuilds::~DeltaRebuilds() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  jobReady_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  // The blocks of jobs never begun are released here, on the thread that handed them over.
  jobs_.clear();
}

bool DeltaRebuilds::admits(size_t peakBytes) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (jobs_.empty()) return true;
  return jobs_.size() < maxWorkers_ && peakBytes <= budgetBytes_ &&
         chargedBytes_ <= budgetBytes_ - peakBytes;
}

void DeltaRebuilds::submit(size_t key, BlockRef record, BlockRef oldContents, size_t peakBytes) {
  auto job = std::make_unique<Job>();
  job->key = key;
  job->peakBytes = peakBytes;
  job->record = std::move(record);
  job->oldContents = std::move(oldContents);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    chargedBytes_ += peakBytes;
    jobs_.push_back(std::move(job));
  }
  jobReady_.notify_one();
}

bool DeltaRebuilds::holds(size_t key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !jobs_.empty() && jobs_.front()->key == key;
}

DeltaRebuilds::Job* DeltaRebuilds::firstWaiting() {
  for (const std::unique_ptr<Job>& job : jobs_)
    if (!job->started) return job.get();
  return nullptr;
}

void DeltaRebuilds::work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    jobReady_.wait(lock, [this] { return quit_ || firstWaiting() != nullptr; });
    if (quit_) return;
    Job* job = firstWaiting();
    job->started = true;
    BlockRef record = std::move(job->record);
    BlockRef oldContents = std::move(job->oldContents);
    lock.unlock();
    std::optional<RebuildOutcome> outcome;
    std::exception_ptr thrown;
    try {
      outcome.emplace(rebuildEntry(std::move(record), std::move(oldContents)));
    } catch (...) {
      thrown = std::current_exception();
    }
    lock.lock();
    // The job is still queued: the writer takes it only once it has an outcome, and the
    // destructor clears the queue only after every worker has returned.
    job->outcome = std::move(outcome);
    job->thrown = thrown;
    job->done = true;
    jobDone_.notify_all();
  }
}

RebuildOutcome DeltaRebuilds::take() {
  std::unique_lock<std::mutex> lock(mutex_);
  Job& job = *jobs_.front();
  if (!job.started) {
    // No worker has begun it (all busy, or none could start): waiting would only idle.
    job.started = true;
    BlockRef record = std::move(job.record);
    BlockRef oldContents = std::move(job.oldContents);
    lock.unlock();
    RebuildOutcome outcome = rebuildEntry(std::move(record), std::move(oldContents));
    lock.lock();
    job.outcome.emplace(std::move(outcome));
    job.done = true;
  }
  jobDone_.wait(lock, [&job] { return job.done; });
  std::optional<RebuildOutcome> outcome = std::move(job.outcome);
  const std::exception_ptr thrown = job.thrown;
  chargedBytes_ -= job.peakBytes;
  jobs_.pop_front();
  if (thrown) std::rethrow_exception(thrown);
  return std::move(*outcome);
}
