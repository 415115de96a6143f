#include "gen/real_file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ravelin::gen {

Status RealFileSource::Open(const std::string& path, std::unique_ptr<RealFileSource>& source) {
  source.reset();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Status::BadInput("cannot open " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::BadInput(path + " is not a regular file");
  }
  if (st.st_size == 0 || st.st_size % static_cast<off_t>(kPageSize) != 0) {
    ::close(fd);
    return Status::BadInput(path + " is not a whole number of 8192-byte pages (" +
                            std::to_string(st.st_size) + " bytes)");
  }
  std::string name = path.substr(path.find_last_of('/') + 1);
  source.reset(new RealFileSource(fd, st.st_size / static_cast<off_t>(kPageSize), name));
  return Status::Ok();
}

RealFileSource::~RealFileSource() { ::close(fd_); }

void RealFileSource::ReadPage(std::int64_t n, MutablePage out) const {
  std::size_t done = 0;
  const off_t base = static_cast<off_t>(n) * static_cast<off_t>(kPageSize);
  while (done < kPageSize) {
    const ssize_t got =
        ::pread(fd_, out.data() + done, kPageSize - done, base + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(done), out.end(), 0);
}

}  // namespace ravelin::gen
