// Choosing what to recover from: the data-source menu (disks, partitions, "打开镜像文件").
// The Choose… calls fill the Data source record and return the scan options the choice
// implies; the command line takes those as its defaults. The menu's handlers (…Click,
// ChooseImageFile, ChooseImagePartition) call them and put the options into tab I's
// controls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "datasource/discovery.h"
#include "workspace/workspace.h"

namespace ravelin {

// The system's image kinds first; then raw copies by their other usual names, and the
// containers whose guest disk is read through their libraries (the signature decides what
// a file is, never these names).
inline constexpr std::string_view kImageFilter =
    "镜像文件(*.hdd;*.img;*.dsr;*.bin)|*.hdd;*.img;*.dsr;*.bin|"
    "原始镜像(*.dd;*.raw)|*.dd;*.raw|"
    "虚拟磁盘与取证镜像(*.vhd;*.vhdx;*.vmdk;*.qcow2;*.E01)|"
    "*.vhd;*.vhdx;*.vmdk;*.qcow2;*.qcow;*.E01;*.e01|"
    "所有文件(*.*)|*";

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

// The scan options a source implies: where its scan begins and ends, the stride, and the
// file system found on it.
struct SourceScanRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::int64_t sectorsPerCluster = 1;
  std::string fileSystemName;
};

// What choosing a source set up, besides the Data source record.
struct SourceChoice {
  Selection selection = Selection::kRefused;
  std::string caption;                   // the source as tab I shows it (edtDataStr)
  bool freeSpaceOnly = false;            // "FREE SPACE ONLY" ticked
  bool freeSpaceAvailable = false;       // ...and usable: the source has a file system
  std::optional<SourceScanRange> range;  // kChosen only: the other options keep their values

  bool Chosen() const {
    return selection == Selection::kChosen || selection == Selection::kChosenWithoutOptions;
  }
};

// A whole disk: read from sector 0 to its end, no file system.
SourceChoice ChooseDiskSource(Workspace& ws, const DiskEntry& disk);
// A partition: read through its own device; the boot sector decides the file system, the
// start of the cluster area and the read limit.
SourceChoice ChoosePartitionSource(Workspace& ws, const PartitionEntry& partition);
// The image file at `path`, before its kind is known: chosen as a source without a file
// system (kChosenWithoutOptions), or refused when it cannot be read.
SourceChoice OpenImageSource(Workspace& ws, const std::string& path);
// The image OpenImageSource chose, taken as a partition image (its boot sector decides as
// for a partition) or as a whole disk (whose partition entries are listed).
SourceChoice TakeImageAs(Workspace& ws, const std::string& path, bool partitionImage);
// Both, without a question.
SourceChoice ChooseImageSource(Workspace& ws, const std::string& path, bool partitionImage);
// Partition `number` of the whole-disk image at `path` (its partition table read with
// libblkid), chosen as a partition of a real disk is: the file system detected from its
// boot sector, FREE SPACE ONLY ticked, the scan over its cluster area. Sectors keep the
// image's numbering, so the rows name the same sectors as a scan of the whole image.
// Refused (after a message) when the image has no partition `number`.
SourceChoice ChooseImagePartitionSource(Workspace& ws, const std::string& path, int number);

// Puts a choice into tab I's controls: caption, FREE SPACE ONLY and, with a range, the
// begin, end and cluster-size edits and the file-system label. Nothing for a refused one.
void ShowSourceChoice(Workspace& ws, const SourceChoice& choice);

// The menu's handlers: the choices above, shown in tab I.
Selection PhysicalDiskClick(Workspace& ws, const DiskEntry& disk);
Selection PartitionClick(Workspace& ws, const PartitionEntry& partition);
// "打开镜像文件": asks for a file, then ChooseImageFile.
Selection N7Click(Workspace& ws);
// The image file at `path`, after the file dialog: asks whether it is a partition image
// (TextId::kImageKindQuestion) or a whole-disk image.
Selection ChooseImageFile(Workspace& ws, const std::string& path);
// The menu entry of an image's partition: ChooseImagePartitionSource, shown.
Selection ChooseImagePartition(Workspace& ws, const std::string& path, int number);
// The menu entries for the partitions of the whole-disk image at `path`
// (ImagePartitionCaptions), in the style of the partition entries; none when it has no
// partition table. Choosing an image as a whole disk fills them.
void ListImagePartitions(Workspace& ws, const std::string& path);

// DetectFileSystem over the Workspace's source, reader and Ui.
int DetectFileSystem(Workspace& ws);

// What the person is told when the source may not be read, and how to get access.
std::string PermissionDeniedMessage(const std::string& path);

}  // namespace ravelin
