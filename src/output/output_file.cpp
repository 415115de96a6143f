#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <random>
#include <system_error>

namespace ravelin {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kWriteBufferSize = 1 << 20;

std::string FolderOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

std::atomic<OutputFile::WriteFunction> writeFunction{&::pwrite};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = writeFunction.load()(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    // A write that takes nothing would be asked again for ever.
    if (n == 0) {
      errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += n;
  }
  return true;
}

}  // namespace

OutputFile::OutputFile(int fd, std::string path, std::string tempPath)
    : fd_(fd), path_(std::move(path)), tempPath_(std::move(tempPath)) {
  buffer_.reserve(kWriteBufferSize);
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, int* error) {
  auto fail = [error](int e) -> std::unique_ptr<OutputFile> {
    if (error) *error = e;
    return nullptr;
  };
  std::error_code ec;
  if (path.empty() || fs::is_directory(path, ec)) return fail(EISDIR);
  const fs::path target(path);
  const std::string folder = FolderOf(path);
  std::random_device random;
  for (int attempt = 0; attempt < 16; ++attempt) {
    // The name is cut so that the temporary name stays within NAME_MAX (255 bytes).
    const std::string temp = folder + "/." + target.filename().string().substr(0, 200) + ".part-" +
                             std::to_string(random() % 1000000000u);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return std::unique_ptr<OutputFile>(new OutputFile(fd, path, temp));
    if (errno != EEXIST) return fail(errno);
  }
  return fail(EEXIST);
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) ::unlink(tempPath_.c_str());
}

bool OutputFile::Flush() {
  if (failed_) return false;
  if (!buffer_.empty()) {
    if (!WriteAll(fd_, buffer_.data(), buffer_.size(), static_cast<off_t>(flushed_))) {
      failed_ = true;
      return false;
    }
    flushed_ += buffer_.size();
    buffer_.clear();
  }
  return true;
}

bool OutputFile::Append(ByteView bytes) {
  if (failed_) return false;
  size_ += bytes.size();
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
  if (!WriteAll(fd_, bytes.data(), bytes.size(), static_cast<off_t>(size_ - bytes.size()))) {
    failed_ = true;
    return false;
  }
  return true;
}

OutputFile::WriteFunction OutputFile::SetWriteFunction(WriteFunction write) {
  return writeFunction.exchange(write ? write : &::pwrite);
}

bool OutputFile::Commit() {
  if (committed_) return true;
  if (!Flush()) return false;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return false;
  if (::rename(tempPath_.c_str(), path_.c_str()) != 0) return false;
  committed_ = true;
  return true;
}

}  // namespace ravelin
