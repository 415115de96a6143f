// The temporary files of outputs being written, so that an interrupted program can remove
// them. A signal handler may call RemoveTemporaryOutputs: it only reads fixed slots and
// calls unlink(2), both safe in a handler. The command line installs its own handler (which
// can also stop a scan); the window installs RemoveTemporaryOutputsOnSignal, and removes
// them through the OutputFile destructors when it closes.
#pragma once

#include <cstddef>
#include <string>

namespace ravelin {

// At most this many outputs are written at once (each file is one slot); more are still
// written, only not cleaned up by a signal.
inline constexpr std::size_t kTemporaryOutputSlots = 32;

// Remembers `path` until ReleaseTemporaryOutput with the returned slot; -1 when all slots
// are taken or the path is too long for one.
int RegisterTemporaryOutput(const std::string& path);
void ReleaseTemporaryOutput(int slot);

// Removes every registered temporary file. Async-signal-safe.
void RemoveTemporaryOutputs() noexcept;

// Installs handlers for SIGINT and SIGTERM that remove every registered temporary file and
// end the program with 128 + the signal, as a shell reports a program the signal killed.
void RemoveTemporaryOutputsOnSignal();

}  // namespace ravelin
