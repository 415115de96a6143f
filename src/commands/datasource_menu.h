// Choosing what to recover from: the data-source menu (disks, partitions, "打开镜像文件")
// and its handlers, which fill the Data source record and the tab I scan options exactly
// where the window's menu handlers do. The window and the command line both call these.
#pragma once

#include <string>
#include <string_view>

#include "datasource/discovery.h"
#include "workspace/workspace.h"

namespace ravelin {

inline constexpr std::string_view kImageKindQuestion =
    "此镜像文件是逻辑分区镜像请选是，是整个磁盘镜像请选否";
inline constexpr std::string_view kImageKindCaption = "数据文件类型选择";
inline constexpr std::string_view kOpenImageTitle = "打开镜像文件";
inline constexpr std::string_view kImageFilter =
    "镜像文件(*.hdd;*.img;*.dsr;*.bin)|*.hdd;*.img;*.dsr;*.bin|所有文件(*.*)|*";

// How a choice ended.
enum class Selection {
  kChosen,                // the source and the tab I options are set
  kChosenWithoutOptions,  // the source is set, its boot sector could not be read: the scan
                          // options and SectorLimit keep their earlier values
  kRefused,               // nothing changed (no permission, no such source, invalid partition)
  kCancelled,             // the person cancelled the file dialog
};

// Fills the menu's disk entries (DiskCaptions) and partition entries (PartitionCaptions).
void ListPhysicalDisks(Workspace& ws, const DiscoveryEnv& env = {});
void ListLogicalDrives(Workspace& ws, const DiscoveryEnv& env = {});
// Both, disks first, as the window does when it starts.
void ListDataSources(Workspace& ws, const DiscoveryEnv& env = {});

// A whole disk: read from sector 0 to its end, no file system.
Selection PhysicalDiskClick(Workspace& ws, const DiskEntry& disk);
// A partition: read through its own device; the boot sector decides the file system, the
// start of the cluster area and the read limit.
Selection PartitionClick(Workspace& ws, const PartitionEntry& partition);
// "打开镜像文件": asks for a file, then ChooseImageFile.
Selection N7Click(Workspace& ws);
// The image file at `path`, after the file dialog: asks whether it is a partition image
// (kImageKindQuestion) or a whole-disk image.
Selection ChooseImageFile(Workspace& ws, const std::string& path);

// Partition `number` of the whole-disk image at `path` (its partition table read with
// libblkid), chosen as a partition of a real disk is: the file system detected from its
// boot sector, FREE SPACE ONLY ticked, the scan over its cluster area. Sectors keep the
// image's numbering, so the rows name the same sectors as a scan of the whole image.
// Refused (after a message) when the image has no partition `number`.
Selection ChooseImagePartition(Workspace& ws, const std::string& path, int number);

// DetectFileSystem over the Workspace's source, reader and Ui.
int DetectFileSystem(Workspace& ws);

// What the person is told when the source may not be read, and how to get access.
std::string PermissionDeniedMessage(const std::string& path);

}  // namespace ravelin
