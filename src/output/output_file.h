// Outputs are written to a temporary name beside the target and renamed into place when the
// work is complete, so a failed write never leaves a file that looks finished.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace ravelin {

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

  // What every output file writes its bytes with: pwrite(2) unless a test puts in one that
  // fails the way a full or failing disk does. Returns what it was replaced with.
  using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size, off_t offset);
  static WriteFunction SetWriteFunction(WriteFunction write);

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
