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

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler uses them");

extern "C" void OnSignal(int signal) {
  if (stopMode.load() && !stopSeen.load()) {
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
  stopMode.store(true);
}

StopOnInterrupt::~StopOnInterrupt() { stopMode.store(false); }

bool StopOnInterrupt::TakeRequest() { return stopRequested.exchange(false); }

bool StopOnInterrupt::Requested() const { return stopSeen.load(); }

}  // namespace ravelin::cli
