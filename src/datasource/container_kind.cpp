#include "datasource/container_kind.h"

#include <cstring>

namespace ravelin {
namespace {

bool StartsWith(ByteView bytes, std::string_view text) {
  return bytes.size() >= text.size() && std::memcmp(bytes.data(), text.data(), text.size()) == 0;
}

std::uint32_t BigEndian32(ByteView bytes, std::size_t offset) {
  if (!InBounds(bytes.size(), offset, 4)) return 0;
  const std::uint8_t* p = bytes.data() + offset;
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

constexpr std::string_view kEwf1{"EVF\x09\x0d\x0a\xff\x00", 8};
constexpr std::string_view kEwf2{"EVF2\x0d\x0a\x81\x00", 8};
constexpr std::string_view kVhdFooter = "conectix";
constexpr std::string_view kVhdx = "vhdxfile";
constexpr std::string_view kVmdkSparse = "KDMV";
constexpr std::string_view kVmdkDescriptor = "# Disk DescriptorFile";
constexpr std::string_view kQcow{"QFI\xfb", 4};

}  // namespace

ContainerKind IdentifyContainer(ByteView head, ByteView tail) {
  if (StartsWith(head, kEwf1)) return ContainerKind::kE01;
  if (StartsWith(head, kEwf2)) return ContainerKind::kEx01;
  if (StartsWith(head, kVhdx)) return ContainerKind::kVhdx;
  if (StartsWith(head, kVmdkSparse) || StartsWith(head, kVmdkDescriptor)) {
    return ContainerKind::kVmdk;
  }
  if (StartsWith(head, kQcow)) {
    const std::uint32_t version = BigEndian32(head, 4);
    return version >= 2 ? ContainerKind::kQcow2 : ContainerKind::kQcow;
  }
  // A fixed VHD is the raw disk followed by the footer; a dynamic one starts with its copy.
  if (StartsWith(head, kVhdFooter)) return ContainerKind::kVhd;
  if (tail.size() == kSectorSize && StartsWith(tail, kVhdFooter)) return ContainerKind::kVhd;
  return ContainerKind::kRaw;
}

std::string_view ContainerKindName(ContainerKind kind) {
  switch (kind) {
    case ContainerKind::kRaw:
      return "raw";
    case ContainerKind::kE01:
      return "E01";
    case ContainerKind::kEx01:
      return "Ex01";
    case ContainerKind::kVhd:
      return "VHD";
    case ContainerKind::kVhdx:
      return "VHDX";
    case ContainerKind::kVmdk:
      return "VMDK";
    case ContainerKind::kQcow:
      return "QCOW";
    case ContainerKind::kQcow2:
      return "QCOW2";
  }
  return "raw";
}

}  // namespace ravelin
