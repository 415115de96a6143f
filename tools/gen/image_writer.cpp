#include "gen/image_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gen/random.h"

namespace ravelin::gen {
namespace {

constexpr std::size_t kBufferSectors = 2048;   // 1 MiB per write
constexpr std::size_t kHoleGrain = 64 * 1024;  // zero stretches of this size become holes

bool AllZero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

Status WriteAll(int fd, const std::uint8_t* data, std::size_t size, off_t offset,
                const std::string& path) {
  while (size > 0) {
    const ssize_t done = ::pwrite(fd, data, size, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return Status::IoError("write to " + path + " failed: " + std::strerror(errno));
    data += done;
    size -= static_cast<std::size_t>(done);
    offset += done;
  }
  return Status::Ok();
}

// Writes a buffer, leaving whole zero grains unwritten when `sparse`.
Status WriteMaybeSparse(int fd, const std::uint8_t* data, std::size_t size, off_t offset,
                        bool sparse, const std::string& path) {
  if (!sparse) return WriteAll(fd, data, size, offset, path);
  std::size_t i = 0;
  while (i < size) {
    const std::size_t n = std::min(kHoleGrain, size - i);
    if (!AllZero(data + i, n)) {
      if (Status s = WriteAll(fd, data + i, n, offset + static_cast<off_t>(i), path); !s.ok()) {
        return s;
      }
    }
    i += n;
  }
  return Status::Ok();
}

class PageCache {
 public:
  explicit PageCache(const PageSource& source) : source_(source), page_(kPageSize) {}
  const std::uint8_t* Page(std::int64_t n) {
    if (n != cached_) {
      source_.ReadPage(n, MutablePage(page_.data(), kPageSize));
      cached_ = n;
    }
    return page_.data();
  }

 private:
  const PageSource& source_;
  std::vector<std::uint8_t> page_;
  std::int64_t cached_ = -1;
};

}  // namespace

void FillRandom(std::uint64_t seed, std::uint64_t offset, MutableBytes out) {
  // One splitmix stream per 4 KiB block, so any window of the noise can be produced alone.
  constexpr std::uint64_t kBlock = 4096;
  std::size_t i = 0;
  while (i < out.size()) {
    const std::uint64_t position = offset + i;
    const std::uint64_t block = position / kBlock;
    Random random(seed ^ (block * 0xD1B54A32D192ED03ull));
    std::uint64_t within = position % kBlock;
    // Skip to the word that holds `within`.
    for (std::uint64_t w = 0; w < within / 8; ++w) random.Next();
    std::uint64_t word = random.Next();
    std::size_t byteInWord = within % 8;
    while (i < out.size() && within < kBlock) {
      out[i++] = static_cast<std::uint8_t>(word >> (8 * byteInWord));
      ++within;
      if (++byteInWord == 8 && within < kBlock) {
        word = random.Next();
        byteInWord = 0;
      }
    }
  }
}

void ReadSourceSectors(const PageSource& source, std::uint64_t sector, std::uint64_t count,
                       MutableBytes out) {
  PageCache cache(source);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t s = sector + i;
    std::uint8_t* dst = out.data() + i * kSectorSize;
    const auto page = static_cast<std::int64_t>(s / kSectorsPerPage);
    if (page >= source.PageCount()) {
      std::memset(dst, 0, kSectorSize);
    } else {
      std::memcpy(dst, cache.Page(page) + (s % kSectorsPerPage) * kSectorSize, kSectorSize);
    }
  }
}

Status WritePlacements(const std::string& path, std::vector<Placement> placements,
                       const WriteOptions& options) {
  std::sort(placements.begin(), placements.end(),
            [](const Placement& a, const Placement& b) { return a.sector < b.sector; });
  for (std::size_t i = 0; i < placements.size(); ++i) {
    const Placement& p = placements[i];
    if (p.kind == FillKind::kPages && p.source == nullptr) {
      return Status::BadInput("a page placement has no source");
    }
    if (i > 0 && placements[i - 1].sector + placements[i - 1].sectorCount > p.sector) {
      return Status::BadInput("placements overlap at sector " + std::to_string(p.sector));
    }
    if (options.newFile && p.sector + p.sectorCount > options.totalSectors) {
      return Status::BadInput("placement at sector " + std::to_string(p.sector) +
                              " reaches past the end of the image");
    }
  }

  const int flags = O_WRONLY | O_CLOEXEC | (options.newFile ? O_CREAT | O_TRUNC : 0);
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return Status::IoError("cannot open " + path + ": " + std::strerror(errno));

  std::vector<std::uint8_t> buffer(kBufferSectors * kSectorSize);
  Status status;
  for (const Placement& p : placements) {
    for (std::uint64_t done = 0; done < p.sectorCount && status.ok();) {
      const std::uint64_t n = std::min<std::uint64_t>(kBufferSectors, p.sectorCount - done);
      const std::size_t bytes = n * kSectorSize;
      switch (p.kind) {
        case FillKind::kZeros:
          std::memset(buffer.data(), 0, bytes);
          break;
        case FillKind::kRandom:
          FillRandom(p.seed, done * kSectorSize, MutableBytes(buffer.data(), bytes));
          break;
        case FillKind::kPages:
          ReadSourceSectors(*p.source, p.sourceSector + done, n,
                            MutableBytes(buffer.data(), bytes));
          break;
      }
      const off_t offset = static_cast<off_t>((options.baseSector + p.sector + done) * kSectorSize);
      status = WriteMaybeSparse(fd, buffer.data(), bytes, offset, options.newFile, path);
      done += n;
    }
    if (!status.ok()) break;
  }
  if (status.ok() && options.newFile &&
      ::ftruncate(
          fd, static_cast<off_t>((options.baseSector + options.totalSectors) * kSectorSize)) != 0) {
    status = Status::IoError("cannot size " + path + ": " + std::strerror(errno));
  }
  if (::close(fd) != 0 && status.ok()) {
    status = Status::IoError("closing " + path + " failed: " + std::strerror(errno));
  }
  return status;
}

Status WriteSourceFile(const PageSource& source, const std::string& path) {
  Placement p;
  p.sectorCount = static_cast<std::uint64_t>(source.PageCount()) * kSectorsPerPage;
  p.kind = FillKind::kPages;
  p.source = &source;
  WriteOptions options;
  options.totalSectors = p.sectorCount;
  const std::string temporary = path + ".tmp";
  Status s = WritePlacements(temporary, {p}, options);
  if (s.ok() && std::rename(temporary.c_str(), path.c_str()) != 0) {
    s = Status::IoError("cannot rename " + temporary + " to " + path);
  }
  if (!s.ok()) std::remove(temporary.c_str());
  return s;
}

Status CopySectors(const std::string& from, std::uint64_t fromSector, const std::string& to,
                   std::uint64_t toSector, std::uint64_t count) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return Status::IoError("cannot open " + from + ": " + std::strerror(errno));
  const int out = ::open(to.c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return Status::IoError("cannot open " + to + ": " + std::strerror(errno));
  }
  std::vector<std::uint8_t> buffer(kBufferSectors * kSectorSize);
  Status status;
  for (std::uint64_t done = 0; done < count && status.ok();) {
    const std::uint64_t n = std::min<std::uint64_t>(kBufferSectors, count - done);
    const std::size_t want = n * kSectorSize;
    std::size_t got = 0;
    const off_t at = static_cast<off_t>((fromSector + done) * kSectorSize);
    while (got < want) {
      const ssize_t r = ::pread(in, buffer.data() + got, want - got, at + static_cast<off_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    std::memset(buffer.data() + got, 0, want - got);
    status = WriteMaybeSparse(out, buffer.data(), want,
                              static_cast<off_t>((toSector + done) * kSectorSize), true, to);
    done += n;
  }
  ::close(in);
  if (::close(out) != 0 && status.ok()) status = Status::IoError("closing " + to + " failed");
  return status;
}

}  // namespace ravelin::gen
