#include "cli/interrupt.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

#include "output/temp_registry.h"

namespace ravelin::cli {
namespace {

std::atomic<bool> stopMode{false};
std::atomic<bool> stopRequested{false};  // not yet taken by the work
std::atomic<bool> stopSeen{false};       // asked at some point
std::atomic<int> stopSignal{0};          // the signal that asked

static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free,
              "the signal handler uses them");

extern "C" void OnSignal(int signal) {
  if (stopMode.load() && !stopSeen.load()) {
    stopSignal.store(signal);
    stopSeen.store(true);
    stopRequested.store(true);
    return;
  }
  RemoveTemporaryOutputs();
  ::_exit(128 + signal);
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

StopOnInterrupt::StopOnInterrupt() {
  InstallInterruptHandlers();
  stopRequested.store(false);
  stopSeen.store(false);
  stopSignal.store(0);
  stopMode.store(true);
}

StopOnInterrupt::~StopOnInterrupt() { stopMode.store(false); }

bool StopOnInterrupt::TakeRequest() { return stopRequested.exchange(false); }

bool StopOnInterrupt::Requested() const { return stopSeen.load(); }

int StopOnInterrupt::ExitCode() const {
  const int signal = stopSignal.load();
  return signal != 0 ? 128 + signal : 128 + SIGINT;
}

}  // namespace ravelin::cli
