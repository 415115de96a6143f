// Long work runs on a worker thread: the window names the job in JobName and starts a
// TMyThread; the thread waits for the one-slot JobGate, runs the job named when the gate
// opens, and releases the gate however the job ended. At most one job runs at a time; a
// thread started while another job runs waits its turn.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace ravelin {

class Workspace;

class JobRunner {
 public:
  using Job = std::function<void(Workspace&)>;

  JobRunner();
  // Joins every thread it started: call StopAll first if jobs may still be running.
  ~JobRunner();
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  void Register(const std::string& name, Job job);

  // JobName: read by a thread when the gate opens, not when it was started.
  void SetJobName(const std::string& name);
  std::string JobName() const;

  // Starts a TMyThread over `ws`.
  void StartThread(Workspace& ws);

  // True from StartThread until the thread has released the gate.
  bool Busy() const;

  // Waits until no job is busy or `timeout` has passed; true when none is busy.
  bool WaitIdle(std::chrono::milliseconds timeout);

  // Waits for every started thread to end.
  void JoinAll();

 private:
  void Execute(Workspace& ws);

  std::binary_semaphore JobGate{1};
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::string jobName_;
  std::map<std::string, Job> jobs_;
  std::vector<std::thread> threads_;
  int busy_ = 0;
};

}  // namespace ravelin
