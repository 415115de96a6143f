#include "output/temp_registry.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstring>

namespace ravelin {
namespace {

constexpr std::size_t kMaxPath = 4096;

// A slot is claimed (kBusy) while its path is copied in, and only read by the handler
// once it is kReady: the handler never sees half a path.
enum SlotState : int { kFree = 0, kBusy = 1, kReady = 2 };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kMaxPath];
};

std::array<Slot, kTemporaryOutputSlots> slots;

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads the states");

extern "C" void RemoveAndExit(int signal) {
  RemoveTemporaryOutputs();
  ::_exit(128 + signal);
}

}  // namespace

int RegisterTemporaryOutput(const std::string& path) {
  if (path.size() >= kMaxPath) return -1;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kBusy)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(kReady);
    return static_cast<int>(i);
  }
  return -1;
}

void ReleaseTemporaryOutput(int slot) {
  if (slot < 0 || static_cast<std::size_t>(slot) >= slots.size()) return;
  slots[static_cast<std::size_t>(slot)].state.store(kFree);
}

void RemoveTemporaryOutputs() noexcept {
  for (Slot& slot : slots) {
    if (slot.state.load() == kReady) ::unlink(slot.path);
  }
}

void RemoveTemporaryOutputsOnSignal() {
  struct sigaction action {};
  action.sa_handler = RemoveAndExit;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

}  // namespace ravelin
