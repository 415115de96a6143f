// What an image file is, from its own bytes rather than its name: a raw copy of a disk, or
// a container that keeps the guest disk's blocks in its own order with its own metadata in
// between (a virtual machine's disk, a forensic image).
//
// The signatures, at byte 0 of the file unless said otherwise:
//   E01   "EVF\x09\x0d\x0a\xff\x00" (Expert Witness, EWF version 1)
//   Ex01  "EVF2\x0d\x0a\x81\x00"    (EWF version 2)
//   VHD   "conectix" in the 512-byte footer at the end of the file; a dynamic VHD also
//         keeps a copy of the footer at byte 0
//   VHDX  "vhdxfile"
//   VMDK  "KDMV" (a sparse extent with its descriptor inside), or a text descriptor
//         starting "# Disk DescriptorFile" that names flat or sparse extent files
//   QCOW  "QFI\xfb", then the version (big-endian): 1 is QCOW, 2 and 3 are QCOW2
// Anything else is raw.
#pragma once

#include <string_view>

#include "common/bytes.h"

namespace ravelin {

enum class ContainerKind { kRaw, kE01, kEx01, kVhd, kVhdx, kVmdk, kQcow, kQcow2 };

// `head` is the first bytes of the file (up to 512 are looked at), `tail` its last 512
// bytes (empty, or overlapping `head`, for a short file).
ContainerKind IdentifyContainer(ByteView head, ByteView tail);

// "raw", "E01", "Ex01", "VHD", "VHDX", "VMDK", "QCOW", "QCOW2".
std::string_view ContainerKindName(ContainerKind kind);

}  // namespace ravelin
