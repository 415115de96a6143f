// Long work runs on a worker thread: a command names the job in JobName and starts a
// TMyThread; the thread waits for the one-slot JobGate, runs the job named when the gate
// opens, and releases the gate however the job ended. At most one job runs at a time; a
// thread started while another job runs waits its turn.
//
// A job returns how it ended; the runner keeps the last result for whoever started it (the
// command line waits for it). A job that throws is reported through the failure handler and
// counts as failed; the gate is released all the same.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <semaphore>
#include <string>
#include <thread>

#include "common/mutex.h"

namespace ravelin {

enum class JobOutcome { kNone, kCompleted, kStopped, kFailed };

struct JobResult {
  std::string name;  // the job that ran ("scan", "anlys"); empty when none has
  JobOutcome outcome = JobOutcome::kNone;
  std::int64_t position = 0;  // how far it came, in its own units (the scan: sectors)
  std::int64_t end = 0;       // where it was going
};

class JobRunner {
 public:
  using Job = std::function<JobResult()>;
  // Told, on the job's thread, when a job ends with an exception.
  using FailureHandler = std::function<void(const std::string& job, const std::string& what)>;

  explicit JobRunner(FailureHandler onFailure = nullptr);
  // Joins every thread it started: stop running jobs first.
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  void Register(const std::string& name, Job job);

  // JobName: read by a thread when the gate opens, not when it was started.
  void SetJobName(const std::string& name);
  std::string JobName() const;

  // Starts a TMyThread. Threads of jobs that have ended are joined first, so a long session
  // keeps no finished threads.
  void StartThread();

  // True from StartThread until the thread has released the gate.
  bool Busy() const;

  // Waits until no job is busy or `timeout` has passed; true when none is busy.
  bool WaitIdle(std::chrono::milliseconds timeout);

  // Waits for every started thread to end.
  void JoinAll();

  // How the last job that ended, ended.
  JobResult LastResult() const;

 private:
  struct Worker {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Execute(Worker& worker);
  void ReportFailure(const std::string& name, const std::string& what) noexcept;
  void JoinFinished();

  std::binary_semaphore JobGate{1};
  FailureHandler onFailure_;
  mutable Mutex mutex_;
  std::condition_variable_any idle_;  // busy_ fell to 0
  std::string jobName_ GUARDED_BY(mutex_);
  std::map<std::string, Job> jobs_ GUARDED_BY(mutex_);
  std::list<Worker> workers_ GUARDED_BY(mutex_);
  int busy_ GUARDED_BY(mutex_) = 0;
  JobResult last_ GUARDED_BY(mutex_);
};

}  // namespace ravelin
