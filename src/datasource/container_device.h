// A guest disk inside a container image (E01, VHD, VHDX, VMDK, QCOW2), read through the
// container's own library, so everything above the device sees the guest's sectors in their
// order: the size is the guest's, and blocks a sparse container never stored read as zeros.
//
// The containers are opened read-only, as every source is. The libraries' handles are not
// safe to share between threads, so each device serialises its reads; each SectorReader
// opens a device of its own, so the scan's reads and the window's do not wait for each
// other's.
#pragma once

#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>

#include "datasource/container_kind.h"
#include "datasource/device.h"

namespace ravelin {

// errno of an OpenResult whose container could not be opened; OpenResult::reason says why.
inline constexpr int kContainerOpenError = EINVAL;

// Opens the guest disk of the container at `path`, of the kind its signature showed.
// A container that its library cannot open (damaged, encrypted, a segment missing, a
// differencing disk without its parent, a kind no library here reads) gives no device,
// kContainerOpenError and the reason in words.
OpenResult OpenContainer(const std::string& path, ContainerKind kind);

// The kind of the regular file that `device` reads, from its first and last sectors.
ContainerKind SniffContainer(Device& device);

// The container the source at `path` is, as `opener` opens it: nothing for a raw image, a
// disk, a partition, or a source that cannot be opened.
std::optional<ContainerInfo> ContainerOf(const std::string& path, const DeviceOpener& opener);

}  // namespace ravelin
