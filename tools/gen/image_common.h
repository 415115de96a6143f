// Types shared by the disk-image builders: the result of a build step, and an extent, the
// unit in which a file lies on a disk (a run of its sectors at one place).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "common/bytes.h"

namespace ravelin::gen {

// Sectors per page, in the type sector numbers have.
inline constexpr std::uint64_t kSpp = kSectorsPerPage;

enum class StatusCode {
  kOk,
  kBadInput,     // the caller asked for something impossible (size, cluster, file)
  kMissingTool,  // mkfs.vfat, mtools, mkntfs, ntfs-3g tools or sfdisk not installed
  kToolFailed,   // an outside program ran and failed, or left an inconsistent file system
  kIoError,      // reading a source or writing the image failed
};

class Status {
 public:
  Status() = default;
  Status(StatusCode code, std::string message) : code_(code), message_(std::move(message)) {}
  static Status Ok() { return {}; }
  static Status BadInput(std::string m) { return {StatusCode::kBadInput, std::move(m)}; }
  static Status MissingTool(std::string m) { return {StatusCode::kMissingTool, std::move(m)}; }
  static Status ToolFailed(std::string m) { return {StatusCode::kToolFailed, std::move(m)}; }
  static Status IoError(std::string m) { return {StatusCode::kIoError, std::move(m)}; }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  const std::string& message() const { return message_; }

 private:
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
};

// Sectors [fileSector, fileSector + sectorCount) of a file lie at sectors
// [diskSector, diskSector + sectorCount) of the image.
struct FileExtent {
  std::uint64_t fileSector = 0;
  std::uint64_t sectorCount = 0;
  std::uint64_t diskSector = 0;

  bool operator==(const FileExtent&) const = default;
};

// Sector counts that real file systems use for a cluster: a power of two from 1 to 128.
inline bool IsValidClusterSize(std::uint32_t sectorsPerCluster) {
  return sectorsPerCluster >= 1 && sectorsPerCluster <= 128 &&
         (sectorsPerCluster & (sectorsPerCluster - 1)) == 0;
}

inline std::uint64_t RoundUp(std::uint64_t value, std::uint64_t multiple) {
  return (value + multiple - 1) / multiple * multiple;
}

}  // namespace ravelin::gen
