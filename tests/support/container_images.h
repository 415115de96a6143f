// Container images made from one raw disk image by the tools that make them in the field:
// qemu-img (VHD, VHDX, VMDK, QCOW2) and ewfacquire (E01). The tools must be installed
// (scripts/setup installs them): a missing tool fails the caller, it is not a reason to skip.
#pragma once

#include <string>
#include <vector>

#include "datasource/container_kind.h"

namespace ravelin::test {

struct ContainerImage {
  std::string label;  // "vhd-fixed", "e01-split" …
  std::string path;   // the file to open (a VMDK descriptor, the first E01 segment)
  ContainerKind kind;
  bool sparse;  // the guest's unwritten blocks are not stored
};

// Converts `raw` into every kind the program opens, in `dir`: VHD fixed and dynamic, VHDX
// dynamic and fixed, VMDK monolithic sparse and flat (a descriptor beside its extent),
// QCOW2 versions 2 and 3, E01 compressed, and E01 split into 1 MiB segments. False with the
// tool's words in `why` when a tool is missing or fails.
bool MakeContainerImages(const std::string& raw, const std::string& dir,
                         std::vector<ContainerImage>& images, std::string& why);

}  // namespace ravelin::test
