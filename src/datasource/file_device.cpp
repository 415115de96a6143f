#include "datasource/file_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace ravelin {

namespace {

// pread takes an off_t: offsets at or above 2^63 cannot be expressed.
constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

}  // namespace

OpenResult FileDevice::Open(const std::string& path) {
  // O_NONBLOCK keeps the open itself from hanging on a FIFO named by mistake, and lets a
  // drive without media be opened so the read, not the open, reports the fault. It is
  // cleared again below; it has no effect on reads of regular files anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {nullptr, errno};

  auto fail = [fd](int error) {
    ::close(fd);
    return OpenResult{nullptr, error};
  };

  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(errno);
  if (S_ISDIR(st.st_mode)) return fail(EISDIR);
  const bool isBlock = S_ISBLK(st.st_mode);
  if (!isBlock && !S_ISREG(st.st_mode)) return fail(ENOTBLK);

  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(errno);

  std::uint64_t sizeBytes = 0;
  std::uint32_t sectorSize = 512;
  std::optional<BlockDetails> block;
  if (isBlock) {
    if (::ioctl(fd, BLKGETSIZE64, &sizeBytes) != 0) return fail(errno);
    int logical = 0;
    // A device that will not say keeps 512: reads are addressed in 512-byte units anyway.
    if (::ioctl(fd, BLKSSZGET, &logical) == 0 && logical > 0) {
      sectorSize = static_cast<std::uint32_t>(logical);
    }
    block = BlockDetails{::major(st.st_rdev), ::minor(st.st_rdev), 0, 0};
    // Loop, NVMe and device-mapper devices answer no HDIO_GETGEO; that is not a failure.
    hd_geometry hd{};
    if (::ioctl(fd, HDIO_GETGEO, &hd) == 0) {
      block->heads = hd.heads;
      block->sectorsPerTrack = hd.sectors;
    }
  } else {
    sizeBytes = static_cast<std::uint64_t>(st.st_size);
  }
  return {std::unique_ptr<Device>(new FileDevice(fd, sizeBytes, sectorSize, block)), 0};
}

FileDevice::FileDevice(int fd, std::uint64_t sizeBytes, std::uint32_t logicalSectorSize,
                       std::optional<BlockDetails> block)
    : fd_(fd), sizeBytes_(sizeBytes), logicalSectorSize_(logicalSectorSize), block_(block) {}

FileDevice::~FileDevice() { ::close(fd_); }

bool FileDevice::ReadAt(std::uint64_t byteOffset, MutableBytes out) {
  if (byteOffset > kMaxOffset || out.size() > kMaxOffset - byteOffset) {
    lastReadError_ = EOVERFLOW;
    return false;
  }
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(byteOffset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      lastReadError_ = errno;
      return false;
    }
    if (got == 0) {  // end of the file or device: the request runs past the source
      lastReadError_ = 0;
      return false;
    }
    done += static_cast<std::size_t>(got);
  }
  return true;
}

void FileDevice::WillNeed(std::uint64_t byteOffset, std::uint64_t length) {
  // Starts the reads in the background; the bytes arrive in the page cache, where the next
  // pread finds them.
  if (byteOffset > kMaxOffset || length > kMaxOffset) return;
  (void)posix_fadvise(fd_, static_cast<off_t>(byteOffset), static_cast<off_t>(length),
                      POSIX_FADV_WILLNEED);
}

void FileDevice::AdviseSequential() {
  // The result is ignored: the advice changes read-ahead, never the bytes read.
  (void)posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace ravelin
