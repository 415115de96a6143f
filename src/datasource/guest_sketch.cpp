#include "datasource/guest_sketch.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace ravelin {

GuestSketch::GuestSketch(Device& guest) : guest_(guest) {
  fd_ = ::memfd_create("ravelin-guest-sketch", MFD_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno;
    return;
  }
  if (::ftruncate(fd_, static_cast<off_t>(guest.SizeBytes())) != 0) {
    error_ = errno;
    ::close(fd_);
    fd_ = -1;
  }
}

GuestSketch::~GuestSketch() {
  if (fd_ >= 0) ::close(fd_);
}

bool GuestSketch::CopyPieceAt(std::uint64_t offset) {
  const std::uint64_t size = guest_.SizeBytes();
  if (fd_ < 0 || offset >= size) return false;
  const std::uint64_t piece = offset / kPiece;
  if (!copied_.insert(piece).second) return false;
  const std::uint64_t start = piece * kPiece;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(std::min(kPiece, size - start)));
  if (!guest_.ReadAt(start, bytes)) return true;  // unreadable: zeros, as the sketch holds
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(start + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace ravelin
