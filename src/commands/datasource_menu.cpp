#include "commands/datasource_menu.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include "commands/command_guards.h"
#include "common/messages.h"
#include "datasource/file_system.h"
#include "datasource/partition_table.h"

namespace ravelin {
namespace {

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

void RefuseUnreadable(Workspace& ws, const std::string& path) {
  ws.ui().ShowMessage(PermissionDeniedMessage(path), kPromptCaption, MessageIcon::kWarning);
}

// The image at `path` could not be opened: no permission, no such file, or a container its
// library refused (`reason` says why in the library's words).
void RefuseImage(Workspace& ws, const std::string& path, int error, const std::string& reason) {
  if (IsPermissionError(error)) {
    RefuseUnreadable(ws, path);
    return;
  }
  ws.ui().ShowMessage(std::string(Text(TextId::kCannotOpenImage)) + " " + path + " (" +
                          (reason.empty() ? std::strerror(error) : reason) + ")",
                      kPromptCaption, MessageIcon::kWarning);
}

// The whole source from sector 0, one sector at a time: a disk or a whole-disk image
// carries no file system a free-space map could be built from.
SourceScanRange WholeSourceRange(Workspace& ws) {
  ws.source().SectorLimit = ws.source().TotalSectors;
  return {0, ws.source().TotalSectors, 1, {}};
}

// After a successful DetectFileSystem: the cluster area, cluster by cluster.
SourceScanRange FileSystemRange(DataSource& source) {
  const std::uint64_t first = source.FileSystemStartSector + source.DataStartSector;
  source.SectorLimit = first + source.TotalSectors;
  return {first, source.SectorLimit, source.SectorsPerCluster, source.FileSystemName};
}

SourceChoice Refused() { return {}; }

// A choice that failed leaves no source chosen: the settings of the one before it would have
// the next scan read what the person no longer means.
SourceChoice Failed(Workspace& ws) {
  ws.source() = DataSource{};
  ws.ui().Changed(Change::kDataSource);
  return Refused();
}

// The partition's size in bytes: its cluster area as the boot sector describes it, never
// reaching past the device; the device's length when the boot sector describes none.
std::optional<std::uint64_t> PartitionSizeBytes(std::optional<ByteView> bootSector,
                                                std::optional<std::uint64_t> deviceBytes) {
  if (bootSector) {
    const BootSectorInfo boot = ParseBootSector(*bootSector);
    if (auto area = ClusterAreaBytes(boot)) {
      if (!deviceBytes) return area;
      const std::uint64_t front =
          std::min(*deviceBytes, boot.dataStartSector * std::uint64_t{kSectorSize});
      return std::min(*area, *deviceBytes - front);
    }
  }
  return deviceBytes;
}

}  // namespace

std::string PermissionDeniedMessage(const std::string& path) {
  return "没有读取 " + path +
         " 的权限(Permission denied)。需要对该设备或文件的读取权限：例如把当前用户加入 disk "
         "组(sudo usermod -aG disk $USER，重新登录后生效)，给文件加上读取权限，或以 root "
         "身份运行。(Reading it needs read access: add your user to the disk group with "
         "`sudo usermod -aG disk $USER` and log in again, make the file readable, or run as "
         "root.)";
}

void ListPhysicalDisks(Workspace& ws, const DiscoveryEnv& env) {
  ws.DiskCaptions() = ListPhysicalDisks(env);
  ws.ui().Changed(Change::kDataSource);
}

void ListLogicalDrives(Workspace& ws, const DiscoveryEnv& env) {
  ws.PartitionCaptions() = ListLogicalDrives(ws.DiskCaptions(), env);
  ws.ui().Changed(Change::kDataSource);
}

void ListDataSources(Workspace& ws, const DiscoveryEnv& env) {
  ListPhysicalDisks(ws, env);
  ListLogicalDrives(ws, env);
}

int DetectFileSystem(Workspace& ws) {
  UiReporter reporter(ws.ui(), Memo::kMemo1);
  return DetectFileSystem(ws.source(), ws.reader(), reporter);
}

SourceChoice ChooseDiskSource(Workspace& ws, const DiskEntry& disk) {
  // A running scan reads through the same record and reader.
  if (RefuseWhileJobRuns(ws)) return Refused();
  ws.reader().Close();  // a disk swapped under the same node is opened afresh
  // The first read opens the device; its bytes are not used.
  std::array<std::uint8_t, kSectorSize> sector0{};
  if (!ws.reader().ReadPathSectors(disk.devicePath, 1, sector0, 0) &&
      IsPermissionError(ws.reader().LastOpenError())) {
    RefuseUnreadable(ws, disk.devicePath);
    return Failed(ws);
  }

  DataSource& source = ws.source();
  source.IsPartition = false;
  source.SourceChosen = true;
  source.FileSystemStartSector = 0;
  source.SourcePath = disk.devicePath;
  // The disk's exact length; a disk that cannot be sized keeps the previous count.
  if (const auto bytes = ImageFileSize(disk.devicePath, ws.opener()).bytes) {
    source.TotalSectors = *bytes / kSectorSize;
  }
  const std::uint32_t sectorSize = ws.reader().PathDeviceSectorSize();
  source.BytesPerSector = sectorSize != 0 ? sectorSize : 512;
  source.HasFileSystem = false;
  SourceChoice choice{Selection::kChosen, disk.caption, false, false, WholeSourceRange(ws)};
  ws.ui().Changed(Change::kDataSource);
  return choice;
}

SourceChoice ChoosePartitionSource(Workspace& ws, const PartitionEntry& partition) {
  if (RefuseWhileJobRuns(ws)) return Refused();
  ws.reader().Close();
  const auto driveNumber = static_cast<std::uint8_t>(partition.number);
  std::array<std::uint8_t, kSectorSize> sector0{};
  const bool bootRead =
      ws.reader().ReadDriveSectors(driveNumber, partition.devicePath, 0, 1, sector0);
  if (!bootRead && IsPermissionError(ws.reader().LastOpenError())) {
    RefuseUnreadable(ws, partition.devicePath);
    return Failed(ws);
  }

  const std::optional<std::uint64_t> size =
      PartitionSizeBytes(bootRead ? std::optional<ByteView>(sector0) : std::nullopt,
                         ImageFileSize(partition.devicePath, ws.opener()).bytes);
  // Less than one sector is as good as none: size / 512 - 1 would wrap around.
  if (!size || *size < kSectorSize) {
    ws.ui().ShowMessage(Text(TextId::kPartitionInvalid), kPromptCaption, MessageIcon::kWarning);
    return Failed(ws);
  }

  DataSource& source = ws.source();
  source.DriveNumber = driveNumber;
  source.SourcePath = partition.devicePath;
  source.FileSystemStartSector = 0;
  // The last readable sector of the cluster area, counted from its first: SectorLimit
  // below is DataStartSector + this, the partition's last readable sector.
  source.TotalSectors = *size / kSectorSize - 1;
  source.SourceChosen = true;
  source.IsPartition = true;
  source.HasFileSystem = true;
  const std::uint32_t sectorSize = ws.reader().DriveDeviceSectorSize();
  source.BytesPerSector = sectorSize != 0 ? sectorSize : 512;
  SourceChoice choice{Selection::kChosenWithoutOptions, partition.text, false, true, {}};

  if (DetectFileSystem(ws) != 0) {
    ws.ui().ShowMessage(Text(TextId::kPartitionInfoFailed));
    ws.ui().Changed(Change::kDataSource);
    return choice;
  }
  choice.selection = Selection::kChosen;
  choice.freeSpaceOnly = true;
  choice.range = FileSystemRange(source);
  ws.ui().Changed(Change::kDataSource);
  return choice;
}

SourceChoice OpenImageSource(Workspace& ws, const std::string& path) {
  if (RefuseWhileJobRuns(ws)) return Refused();
  ws.reader().Close();  // an image replaced under the same name is opened afresh
  const ImageSize length = ImageFileSize(path, ws.opener());
  if (!length.bytes) {
    // Nothing to scan: say why instead of choosing an image of 0 sectors.
    RefuseImage(ws, path, length.error, length.reason);
    return Failed(ws);
  }

  DataSource& source = ws.source();
  source.TotalSectors = *length.bytes / kSectorSize;
  source.IsPartition = false;
  source.SourcePath = path;
  source.SourceChosen = true;
  source.FileSystemStartSector = 0;
  // Image files are 512-byte-sector sources; no device has to be read to learn that.
  source.BytesPerSector = 512;
  source.HasFileSystem = false;
  ws.ui().Changed(Change::kDataSource);
  return {Selection::kChosenWithoutOptions, path, false, false, {}};
}

SourceChoice TakeImageAs(Workspace& ws, const std::string& path, bool partitionImage) {
  DataSource& source = ws.source();
  if (!partitionImage) {
    SourceChoice choice{Selection::kChosen, path, false, false, WholeSourceRange(ws)};
    ListImagePartitions(ws, path);
    ws.ui().Changed(Change::kDataSource);
    return choice;
  }

  source.HasFileSystem = true;
  SourceChoice choice{Selection::kChosenWithoutOptions, path, false, true, {}};
  if (DetectFileSystem(ws) != 0) {
    ws.ui().ShowMessage(Text(TextId::kPartitionInfoFailed2));
    ws.ui().Changed(Change::kDataSource);
    return choice;
  }
  // The cluster area runs to the end of the image, as it does for a partition. Counting
  // it from the image's first sector instead would put the end DataStartSector sectors
  // past the file on FAT32, and the scan's last block read would fail.
  const std::uint64_t imageSectors = source.TotalSectors;
  source.TotalSectors =
      imageSectors > source.DataStartSector ? imageSectors - source.DataStartSector : 0;
  choice.selection = Selection::kChosen;
  choice.freeSpaceOnly = true;
  choice.range = FileSystemRange(source);
  ws.ui().Changed(Change::kDataSource);
  return choice;
}

SourceChoice ChooseImageSource(Workspace& ws, const std::string& path, bool partitionImage) {
  const SourceChoice opened = OpenImageSource(ws, path);
  if (!opened.Chosen()) return opened;
  return TakeImageAs(ws, path, partitionImage);
}

SourceChoice ChooseImagePartitionSource(Workspace& ws, const std::string& path, int number) {
  if (RefuseWhileJobRuns(ws)) return Refused();
  ws.reader().Close();
  int error = 0;
  std::string reason;
  const auto table = ReadPartitionTable(path, &error, &reason);
  if (!table) {
    RefuseImage(ws, path, error, reason);
    return Failed(ws);
  }
  const ImagePartition* found = nullptr;
  for (const ImagePartition& p : table->partitions) {
    if (p.number == number) found = &p;
  }
  if (found == nullptr || found->sectors == 0) {
    ws.ui().ShowMessage(std::string(Text(TextId::kPartitionInvalid)) + "(" + path +
                            " has no partition " + std::to_string(number) +
                            "; `ravelin sources --image " + path + "` lists them)",
                        kPromptCaption, MessageIcon::kWarning);
    return Failed(ws);
  }

  DataSource& source = ws.source();
  source.IsPartition = false;  // read through the image file, in the image's numbering
  source.SourcePath = path;
  source.SourceChosen = true;
  source.BytesPerSector = 512;
  source.FileSystemStartSector = found->start;
  // Reads stop at the partition's end, as they do on a partition's own device.
  source.SectorLimit = found->start + found->sectors;
  source.TotalSectors = found->sectors;
  source.HasFileSystem = true;
  SourceChoice choice{Selection::kChosenWithoutOptions,
                      path + " 分区(partition) " + std::to_string(number),
                      false,
                      true,
                      {}};
  ws.ui().Changed(Change::kDataSource);

  if (DetectFileSystem(ws) != 0) {
    ws.ui().ShowMessage(Text(TextId::kPartitionInfoFailed));
    ws.ui().Changed(Change::kDataSource);
    return choice;
  }
  // The cluster area runs to the partition's end, as for a partition image.
  source.TotalSectors =
      found->sectors > source.DataStartSector ? found->sectors - source.DataStartSector : 0;
  choice.selection = Selection::kChosen;
  choice.freeSpaceOnly = true;
  choice.range = FileSystemRange(source);
  ws.ui().Changed(Change::kDataSource);
  return choice;
}

void ShowSourceChoice(Workspace& ws, const SourceChoice& choice) {
  Tab1Controls& tab1 = ws.controls().tab1;
  if (!choice.Chosen()) {
    // A failed choice: tab I and the status bar say no source, as before the first choice.
    if (choice.selection != Selection::kRefused || ws.source().SourceChosen) return;
    const Tab1Controls initial;
    tab1.edtDataStr = initial.edtDataStr;
    tab1.edtbegin = tab1.edtend = tab1.edtsecs = tab1.label5 = "";
    tab1.chkfreespace = initial.chkfreespace;
    tab1.chkfreespaceEnabled = initial.chkfreespaceEnabled;
    ws.ui().SetStatus("");
    ws.ui().Changed(Change::kControls);
    return;
  }
  tab1.edtDataStr = choice.caption;
  tab1.chkfreespace = choice.freeSpaceOnly;
  tab1.chkfreespaceEnabled = choice.freeSpaceAvailable;
  if (const auto& range = choice.range) {
    tab1.edtbegin = std::to_string(range->begin);
    tab1.edtend = std::to_string(range->end);
    tab1.edtsecs = std::to_string(range->sectorsPerCluster);
    tab1.label5 = range->fileSystemName;
  }
  ws.ui().Changed(Change::kControls);
}

Selection PhysicalDiskClick(Workspace& ws, const DiskEntry& disk) {
  const SourceChoice choice = ChooseDiskSource(ws, disk);
  ShowSourceChoice(ws, choice);
  return choice.selection;
}

Selection PartitionClick(Workspace& ws, const PartitionEntry& partition) {
  const SourceChoice choice = ChoosePartitionSource(ws, partition);
  ShowSourceChoice(ws, choice);
  return choice.selection;
}

Selection N7Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return Selection::kRefused;
  const auto path = ws.ui().OpenFileDialog(Text(TextId::kOpenImageTitle), kImageFilter);
  if (!path || path->empty()) return Selection::kCancelled;
  return ChooseImageFile(ws, *path);
}

Selection ChooseImageFile(Workspace& ws, const std::string& path) {
  const SourceChoice opened = OpenImageSource(ws, path);
  ShowSourceChoice(ws, opened);
  if (!opened.Chosen()) return opened.selection;
  const bool partitionImage =
      ws.ui().AskYesNo(Text(TextId::kImageKindQuestion), Text(TextId::kImageKindCaption));
  const SourceChoice taken = TakeImageAs(ws, path, partitionImage);
  ShowSourceChoice(ws, taken);
  return taken.selection;
}

Selection ChooseImagePartition(Workspace& ws, const std::string& path, int number) {
  const SourceChoice choice = ChooseImagePartitionSource(ws, path, number);
  ShowSourceChoice(ws, choice);
  return choice.selection;
}

void ListImagePartitions(Workspace& ws, const std::string& path) {
  ws.ImagePartitionsOf() = path;
  ws.ImagePartitionCaptions().clear();
  const auto table = ReadPartitionTable(path);
  if (!table) return;
  for (const ImagePartition& p : table->partitions) {
    PartitionEntry entry;
    entry.number = p.number;
    entry.devicePath = path;
    entry.sectors = p.sectors;
    entry.volume = p.volume;
    entry.text = path + " #" + std::to_string(p.number);
    if (!p.volume.label.empty()) entry.text += " [" + p.volume.label + "]";
    entry.caption = std::string(Text(TextId::kLogicalPartition)) + entry.text + " ";
    ws.ImagePartitionCaptions().push_back(std::move(entry));
  }
}

}  // namespace ravelin
