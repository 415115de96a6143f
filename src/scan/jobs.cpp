#include "scan/jobs.h"

namespace ravelin {

JobRunner::JobRunner() = default;

JobRunner::~JobRunner() { JoinAll(); }

void JobRunner::Register(const std::string& name, Job job) {
  std::lock_guard lock(mutex_);
  jobs_[name] = std::move(job);
}

void JobRunner::SetJobName(const std::string& name) {
  std::lock_guard lock(mutex_);
  jobName_ = name;
}

std::string JobRunner::JobName() const {
  std::lock_guard lock(mutex_);
  return jobName_;
}

void JobRunner::StartThread(Workspace& ws) {
  std::lock_guard lock(mutex_);
  ++busy_;
  threads_.emplace_back([this, &ws] { Execute(ws); });
}

bool JobRunner::Busy() const {
  std::lock_guard lock(mutex_);
  return busy_ > 0;
}

void JobRunner::JoinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(mutex_);
    threads.swap(threads_);
  }
  for (auto& t : threads)
    if (t.joinable()) t.join();
}

void JobRunner::Execute(Workspace& ws) {
  JobGate.acquire();
  Job job;
  {
    std::lock_guard lock(mutex_);
    if (auto it = jobs_.find(jobName_); it != jobs_.end()) job = it->second;
  }
  // A job catches its own errors and reports them; nothing may keep the gate closed.
  try {
    if (job) job(ws);
  } catch (...) {
  }
  JobGate.release();
  std::lock_guard lock(mutex_);
  --busy_;
  idle_.notify_all();
}

bool JobRunner::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return busy_ == 0; });
}

}  // namespace ravelin
