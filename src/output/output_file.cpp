#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "output/output_guard.h"
#include "output/temp_registry.h"

namespace ravelin {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWriteBufferSize = 1 << 20;

// Makes a rename in `folder` durable. Some file systems cannot fsync a folder (EINVAL);
// the rename itself has then been done as well as they allow.
bool SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
  ::close(fd);
  return ok;
}

}  // namespace

const OutputOps& OutputOps::System() {
  static const OutputOps ops{
      [](int fd, const void* data, std::size_t size, off_t offset) {
        return ::pwrite(fd, data, size, offset);
      },
      [](int fd) { return ::fdatasync(fd); }};
  return ops;
}

OutputFile::OutputFile(int fd, std::string path, std::string tempPath, const OutputOps& ops)
    : fd_(fd), path_(std::move(path)), tempPath_(std::move(tempPath)), ops_(ops) {
  buffer_.reserve(kWriteBufferSize);
  registration_ = RegisterTemporaryOutput(tempPath_);
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, int* error) {
  std::string why;
  auto file = Create(path, OutputRequest{}, &why);
  if (!file && error) {
    std::error_code ec;
    *error = errno != 0 ? errno : EINVAL;
    if (fs::is_directory(path, ec)) *error = EISDIR;
  }
  return file;
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path,
                                               const OutputRequest& request, std::string* why) {
  auto refuse = [why](std::string text, int e) -> std::unique_ptr<OutputFile> {
    if (why) *why = std::move(text);
    errno = e;
    return nullptr;
  };
  if (const auto reason = RefuseOutputTarget(path, request.inputs)) return refuse(*reason, ENODEV);
  if (const auto reason = CheckOutputFolder(path)) return refuse(*reason, ENOENT);
  if (const auto reason = CheckOutputSpace(path, request.expectedBytes)) {
    return refuse(*reason, ENOSPC);
  }
  const fs::path target(path);
  const std::string folder = OutputFolder(path);
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    // The name is cut so that the temporary name stays within NAME_MAX (255 bytes).
    const std::string temp = folder + "/." + target.filename().string().substr(0, 200) + ".part-" +
                             std::to_string(random() % 1000000000u);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      const OutputOps& ops = request.ops ? *request.ops : OutputOps::System();
      return std::unique_ptr<OutputFile>(new OutputFile(fd, path, temp, ops));
    }
    if (errno != EEXIST) {
      const int e = errno;
      return refuse(std::strerror(e), e);
    }
  }
  return refuse(std::strerror(EEXIST), EEXIST);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(tempPath_.c_str());
  ReleaseTemporaryOutput(registration_);
}

bool OutputFile::Fail(int error) {
  failed_ = true;
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

bool OutputFile::WriteAll(const std::uint8_t* data, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = ops_.pwrite(fd_, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    if (n == 0) return Fail(ENOSPC);  // a write that makes no progress would spin forever
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

bool OutputFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    if (!WriteAll(buffer_.data(), buffer_.size(), static_cast<off_t>(flushed_))) return false;
    flushed_ += buffer_.size();
    buffer_.clear();
  }
  return true;
}

bool OutputFile::Append(ByteView bytes) {
  if (failed_) return false;
  size_ += bytes.size();
  // A large block goes to the file as it is, after what the buffer holds: copying it through
  // the buffer first would cost as much as the write.
  if (bytes.size() >= kWriteBufferSize) {
    if (!Flush() || !WriteAll(bytes.data(), bytes.size(), static_cast<off_t>(flushed_)))
      return false;
    flushed_ += bytes.size();
    return true;
  }
  while (!bytes.empty()) {
    const std::size_t room = kWriteBufferSize - buffer_.size();
    const std::size_t n = std::min(room, bytes.size());
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
    bytes = bytes.subspan(n);
    if (buffer_.size() == kWriteBufferSize && !Flush()) return false;
  }
  return true;
}

bool OutputFile::AppendZeros(std::uint64_t count) {
  static const std::vector<std::uint8_t> zeros(kPageSize, 0);
  while (count > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, zeros.size()));
    if (!Append(ByteView(zeros.data(), n))) return false;
    count -= n;
  }
  return true;
}

bool OutputFile::OverwriteTail(ByteView bytes) {
  if (failed_ || bytes.size() > size_) return false;
  if (!Flush()) return false;
  return WriteAll(bytes.data(), bytes.size(), static_cast<off_t>(size_ - bytes.size()));
}

bool OutputFile::Commit() {
  if (committed_) return true;
  auto abandon = [this](int error) {
    Fail(error);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(tempPath_.c_str());
    return false;
  };
  if (!Flush()) return abandon(error_);
  if (ops_.fdatasync(fd_) != 0) return abandon(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return abandon(errno);
  // The target may have become a device node or a folder while the work ran.
  if (RefuseOutputTarget(path_, {})) return abandon(ENODEV);
  if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return abandon(errno);
  committed_ = true;
  ReleaseTemporaryOutput(registration_);
  registration_ = -1;
  if (!SyncFolder(OutputFolder(path_))) {
    // The file is complete under its name; only its survival of a power cut is in doubt.
    error_ = errno;
  }
  return true;
}

}  // namespace ravelin
