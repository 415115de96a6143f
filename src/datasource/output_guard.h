// Where outputs may go, and how they are written.
//
// Nothing the program produces may land on the source under recovery: not the image file
// itself (under any name, hard links and symbolic links included), not the block device
// being read, and not a file system that lives on that device (a partition of the disk
// being read, or a volume built on top of one). OutputOnSource says why a path is refused.
//
// OutputFile writes to a temporary name beside the target and renames it into place when
// the work is complete, so a failed write never leaves a file that looks finished.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bytes.h"
#include "datasource/data_source.h"

namespace ravelin {

// Why writing `outputPath` would write onto the chosen source, or nothing when it would
// not. `sysRoot` is where sysfs is mounted (tests pass a made-up tree).
std::optional<std::string> OutputOnSource(const DataSource& source, const std::string& outputPath,
                                          const std::string& sysRoot = "/sys");

// True when the block device `device` is `target` or is built on it: a partition of the
// disk `target`, or a volume whose underlying devices (sysfs "slaves") lead to it.
bool DeviceLiesOn(dev_t device, dev_t target, const std::string& sysRoot = "/sys");

class OutputFile {
 public:
  // Creates an empty temporary file in the folder of `path`. Null when that fails (errno in
  // *error), or when `path` names a folder.
  static std::unique_ptr<OutputFile> Create(const std::string& path, int* error = nullptr);
  // Removes the temporary file unless Commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Append(ByteView bytes);
  bool AppendZeros(std::uint64_t count);
  // Rewrites the last bytes.size() bytes written (false when fewer were written).
  bool OverwriteTail(ByteView bytes);
  std::uint64_t Size() const { return size_; }
  const std::string& Path() const { return path_; }

  // Writes out what is buffered, closes the file and renames it onto the target (replacing
  // any file of that name). Also used by operations that must leave what they wrote when
  // they stop part-way.
  bool Commit();

 private:
  OutputFile(int fd, std::string path, std::string tempPath);
  bool Flush();

  int fd_;
  std::string path_;
  std::string tempPath_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t size_ = 0;     // bytes appended, buffered or not
  std::uint64_t flushed_ = 0;  // bytes already in the file
  bool failed_ = false;
  bool committed_ = false;
};

}  // namespace ravelin
