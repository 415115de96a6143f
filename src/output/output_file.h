// Outputs are written to a temporary name beside the target and renamed into place when the
// work is complete, so a failed write never leaves a file that looks finished.
//
// The road, step by step:
// 1. Create refuses a target that exists and is not a regular file, a target that is one
//    of the operation's inputs, a folder that is missing or read-only, and an output whose
//    expected size does not fit in the free space; the refusal says why.
// 2. The bytes go to ".NAME.part-N" in the target's folder; its path is registered so that
//    SIGINT/SIGTERM can remove it (temp_registry.h).
// 3. Commit fdatasyncs the file, closes it, checks the target once more, renames the file
//    onto the target and fsyncs the folder, so that after a power cut the name holds either
//    the old file or the whole new one.
// 4. Any failure, and destruction without Commit, removes the temporary file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace ravelin {

// The system calls an OutputFile writes through. Tests replace them to fail part-way (a
// disk that fills up, an I/O error) and check that nothing is left behind.
struct OutputOps {
  std::function<ssize_t(int fd, const void* data, std::size_t size, off_t offset)> pwrite;
  std::function<int(int fd)> fdatasync;
  static const OutputOps& System();
};

// What Create is told about the output beyond its path.
struct OutputRequest {
  // Files the operation reads (the source, the row file, the content file, other outputs
  // of the same operation): none may be the target.
  std::vector<std::string> inputs;
  // Bytes the finished file will have, checked against the free space; 0 when not known.
  std::uint64_t expectedBytes = 0;
  // Null: the system's calls.
  const OutputOps* ops = nullptr;
};

class OutputFile {
 public:
  // Creates an empty temporary file in the folder of `path` after the checks of step 1.
  // Null when refused or when that fails, with the reason in words in *why (the system's
  // strerror text when a call failed).
  static std::unique_ptr<OutputFile> Create(const std::string& path, const OutputRequest& request,
                                            std::string* why);
  // As above without inputs or size; errno in *error (EISDIR for a folder, ENODEV for
  // another file that is not a regular one).
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
  const std::string& TemporaryPath() const { return tempPath_; }
  // errno of the call that failed (ENOSPC, EIO, ...); 0 while nothing failed.
  int LastError() const { return error_; }

  // Writes out what is buffered, closes the file and renames it onto the target (replacing
  // any file of that name). Also used by operations that must leave what they wrote when
  // they stop part-way. On failure the temporary file is removed and the target is left
  // as it was.
  bool Commit();

 private:
  OutputFile(int fd, std::string path, std::string tempPath, const OutputOps& ops);
  bool Flush();
  bool Fail(int error);
  bool WriteAll(const std::uint8_t* data, std::size_t size, off_t offset);

  int fd_;
  std::string path_;
  std::string tempPath_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t size_ = 0;     // bytes appended, buffered or not
  std::uint64_t flushed_ = 0;  // bytes already in the file
  bool failed_ = false;
  bool committed_ = false;
  int error_ = 0;
  int registration_ = -1;  // slot in the temporary-file registry
  const OutputOps& ops_;
};

}  // namespace ravelin
