// libblkid probes a file descriptor, not a Device, and a container's guest disk has no
// descriptor of its own. Probing gets a sketch of it instead: an anonymous in-memory file
// (memfd) as long as the guest, holding only the stretches copied into it. The rest reads as
// zeros and takes no memory. Nothing is written anywhere but that memory.
#pragma once

#include <cstdint>
#include <set>

#include "datasource/device.h"

namespace ravelin {

class GuestSketch {
 public:
  // Stretches are copied in whole pieces of this size, aligned to it.
  static constexpr std::uint64_t kPiece = 256 * 1024;

  explicit GuestSketch(Device& guest);
  ~GuestSketch();
  GuestSketch(const GuestSketch&) = delete;
  GuestSketch& operator=(const GuestSketch&) = delete;

  // The sketch's descriptor, or -1 (errno in Error()) when none could be made.
  int Fd() const { return fd_; }
  int Error() const { return error_; }

  // Copies the piece holding guest byte `offset` unless it was copied already (or lies past
  // the guest's end); true when it was new. A piece the guest cannot read stays zeros.
  bool CopyPieceAt(std::uint64_t offset);

 private:
  Device& guest_;
  int fd_ = -1;
  int error_ = 0;
  std::set<std::uint64_t> copied_;  // piece numbers
};

}  // namespace ravelin
