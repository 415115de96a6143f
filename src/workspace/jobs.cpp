#include "workspace/jobs.h"

#include <exception>

namespace ravelin {

JobRunner::JobRunner(FailureHandler onFailure) : onFailure_(std::move(onFailure)) {}

JobRunner::~JobRunner() { JoinAll(); }

void JobRunner::Register(const std::string& name, Job job) {
  MutexLock lock(mutex_);
  jobs_[name] = std::move(job);
}

void JobRunner::SetJobName(const std::string& name) {
  MutexLock lock(mutex_);
  jobName_ = name;
}

std::string JobRunner::JobName() const {
  MutexLock lock(mutex_);
  return jobName_;
}

void JobRunner::JoinFinished() {
  std::list<Worker> finished;
  {
    MutexLock lock(mutex_);
    for (auto it = workers_.begin(); it != workers_.end();) {
      auto next = std::next(it);
      if (it->done.load()) finished.splice(finished.end(), workers_, it);
      it = next;
    }
  }
  for (Worker& w : finished) w.thread.join();
}

void JobRunner::StartThread() {
  JoinFinished();
  MutexLock lock(mutex_);
  ++busy_;
  Worker& worker = workers_.emplace_back();
  worker.thread = std::thread([this, &worker] { Execute(worker); });
}

bool JobRunner::Busy() const {
  MutexLock lock(mutex_);
  return busy_ > 0;
}

void JobRunner::JoinAll() {
  std::list<Worker> workers;
  {
    MutexLock lock(mutex_);
    workers.swap(workers_);
  }
  for (Worker& w : workers)
    if (w.thread.joinable()) w.thread.join();
}

JobResult JobRunner::LastResult() const {
  MutexLock lock(mutex_);
  return last_;
}

void JobRunner::ReportFailure(const std::string& name, const std::string& what) noexcept {
  if (!onFailure_) return;
  try {
    onFailure_(name, what);
  } catch (...) {
    // The report itself failed (out of memory): the job still ends and the gate opens.
  }
}

void JobRunner::Execute(Worker& worker) {
  JobGate.acquire();
  Job job;
  std::string name;
  {
    MutexLock lock(mutex_);
    name = jobName_;
    if (auto it = jobs_.find(name); it != jobs_.end()) job = it->second;
  }
  JobResult result;
  result.name = name;
  // Nothing may keep the gate closed, and nothing may end the program from a worker: an
  // exception is reported and the job counts as failed.
  try {
    if (job) {
      result = job();
      result.name = name;
    }
  } catch (const std::exception& e) {
    result.outcome = JobOutcome::kFailed;
    ReportFailure(name, e.what());
  } catch (...) {
    result.outcome = JobOutcome::kFailed;
    ReportFailure(name, "unknown exception");
  }
  JobGate.release();
  MutexLock lock(mutex_);
  if (job) last_ = result;
  --busy_;
  worker.done.store(true);
  idle_.notify_all();
}

bool JobRunner::WaitIdle(std::chrono::milliseconds timeout) {
  MutexLock lock(mutex_);
  // The wait lets go of mutex_ and takes it again before each look at busy_.
  return idle_.wait_for(mutex_, timeout, [this]() REQUIRES(mutex_) { return busy_ == 0; });
}

}  // namespace ravelin
