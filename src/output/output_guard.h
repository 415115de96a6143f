// Where outputs may go.
//
// Nothing the program produces may land on the source under recovery: not the image file
// itself (under any name, hard links and symbolic links included), not the block device
// being read, and not a file system that lives on that device (a partition of the disk
// being read, or a volume built on top of one). OutputOnSource says why a path is refused.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravelin {

// Why writing `outputPath` would write onto the source at `sourcePath` (an image file or a
// block device), or nothing when it would not. `sysRoot` is where sysfs is mounted (tests
// pass a made-up tree).
std::optional<std::string> OutputOnSource(const std::string& sourcePath,
                                          const std::string& outputPath,
                                          const std::string& sysRoot = "/sys");

// The same for a folder, existing or about to be made in `folder`'s nearest existing
// ancestor: why files in it would land on the source, naming the folder, or nothing.
std::optional<std::string> FolderOnSource(const std::string& sourcePath, const std::string& folder,
                                          const std::string& sysRoot = "/sys");

// `path` itself when it exists, else its nearest existing ancestor (absolute): where a
// folder about to be made would live, and what to check before making it.
std::string NearestExistingFolder(const std::string& path);

// True when the block device `device` is `target` or is built on it: a partition of the
// disk `target`, or a volume whose underlying devices (sysfs "slaves") lead to it.
bool DeviceLiesOn(dev_t device, dev_t target, const std::string& sysRoot = "/sys");

// Why `path` may not be written, or nothing: it exists and is not a regular file (a device
// node, a fifo, a socket, a folder: renaming onto it would replace the node, writing into it
// would feed a device), or it is one of `inputs`, the files the operation reads (same device
// and inode, or the same path once links are resolved). The text names the reason in words,
// not the path; callers put the path in front.
std::optional<std::string> RefuseOutputTarget(const std::string& path,
                                              const std::vector<std::string>& inputs);

// Why no new file can be made in the folder of `path`, or nothing: it does not exist, is
// not a folder, or may not be written.
std::optional<std::string> CheckOutputFolder(const std::string& path);
// The same for the folder `folder` itself.
std::optional<std::string> CheckFolderWritable(const std::string& folder);

// Why `bytes` more do not fit in the file system of the folder of `path` (statvfs), or
// nothing. The text names the size needed and the space free.
std::optional<std::string> CheckOutputSpace(const std::string& path, std::uint64_t bytes);

// The folder a new file at `path` lands in ("." for a bare name).
std::string OutputFolder(const std::string& path);

}  // namespace ravelin
