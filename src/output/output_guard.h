// Where outputs may go.
//
// Nothing the program produces may land on the source under recovery: not the image file
// itself (under any name, hard links and symbolic links included), not the block device
// being read, and not a file system that lives on that device (a partition of the disk
// being read, or a volume built on top of one). OutputOnSource says why a path is refused.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace ravelin {

// Why writing `outputPath` would write onto the source at `sourcePath` (an image file or a
// block device), or nothing when it would not. `sysRoot` is where sysfs is mounted (tests
// pass a made-up tree).
std::optional<std::string> OutputOnSource(const std::string& sourcePath,
                                          const std::string& outputPath,
                                          const std::string& sysRoot = "/sys");

// True when the block device `device` is `target` or is built on it: a partition of the
// disk `target`, or a volume whose underlying devices (sysfs "slaves") lead to it.
bool DeviceLiesOn(dev_t device, dev_t target, const std::string& sysRoot = "/sys");

}  // namespace ravelin
