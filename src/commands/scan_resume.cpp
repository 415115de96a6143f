#include "commands/scan_resume.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "commands/command_guards.h"
#include "commands/workspace_fragments.h"
#include "output/output_file.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr std::int64_t kHashedSectors = 64;  // sectors 0 to 63 stand for the source's bytes

// The source's device: the device number of a disk or partition node, the file system and
// inode of an image file. Another file with the same size and first sectors is another source.
std::string DeviceText(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "unknown";
  if (S_ISBLK(st.st_mode))
    return "block " + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
  return "file " + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)) +
         " inode " + std::to_string(st.st_ino);
}

// A hash of the source's sectors 0 to 63 as the scan reads them; a sector that cannot be read
// counts as such, so the hash of a failing disk stays the same from one run to the next.
std::string FirstSectorsHash(SectorReader& reader) {
  const auto count =
      static_cast<std::int32_t>(std::min<std::uint64_t>(kHashedSectors, reader.ReadableEnd()));
  std::string bytes(static_cast<std::size_t>(count) * kSectorSize, '\0');
  auto span = [&](std::int64_t first, std::int64_t n) {
    return MutableBytes(reinterpret_cast<std::uint8_t*>(bytes.data()) + first * kSectorSize,
                        static_cast<std::size_t>(n) * kSectorSize);
  };
  if (count > 0 && !reader.ReadSectors(count, span(0, count), 0)) {
    std::string marks;
    for (std::int32_t s = 0; s < count; ++s)
      marks += reader.ReadSectors(1, span(s, 1), s) ? 'r' : 'x';
    bytes += marks;
  }
  return HashText(bytes);
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::weakly_canonical(path, ec);
  return ec ? path : absolute.string();
}

}  // namespace

CheckpointFields ScanIdentity(Workspace& ws, const ScanSettings& settings) {
  const DataSource& source = ws.source();
  return {
      {"source-path", Absolute(source.SourcePath)},
      {"source-device", DeviceText(source.SourcePath)},
      {"source-sectors", std::to_string(ws.reader().ReadableEnd())},
      {"source-hash", FirstSectorsHash(ws.reader())},
      {"partition", source.IsPartition ? std::to_string(source.DriveNumber) : "none"},
      {"file-system", source.HasFileSystem ? source.FileSystemName : "none"},
      {"file-system-start", std::to_string(source.FileSystemStartSector)},
      {"begin", std::to_string(settings.start)},
      {"end", std::to_string(settings.end)},
      {"sectors-per-cluster", std::to_string(settings.step)},
      {"free-space-only", settings.freeSpaceOnly ? "yes" : "no"},
      {"file-id", std::to_string(settings.fileId)},
      {"start-page-below",
       settings.startPageBelow ? std::to_string(*settings.startPageBelow) : "none"},
  };
}

std::optional<std::string> CheckpointUnfit(const ScanCheckpoint& checkpoint,
                                           const ScanSettings& settings, std::int64_t end) {
  const std::int64_t step = settings.step >= 32 ? 16 : settings.step;
  const std::int64_t p = checkpoint.position;
  // A completed scan stands at its end, which need not lie on the grid.
  const bool atEnd = p == end;
  if (p < settings.start || p > end || (!atEnd && (p - settings.start) % step != 0))
    return "position " + std::to_string(p) + " is not a candidate position of this scan";
  std::int32_t highest = 0;
  for (const FragmentRow& row : checkpoint.rows) highest = std::max(highest, row.No);
  if (highest > checkpoint.fragmentCount)
    return "a row is numbered " + std::to_string(highest) + ", above the " +
           std::to_string(checkpoint.fragmentCount) + " fragments counted";
  return std::nullopt;
}

ScanPoint RestoreScan(Workspace& ws, const ScanCheckpoint& checkpoint) {
  {
    MutexLock lock(ws.tableLock);
    ws.LockedFragments().Replace(checkpoint.rows);
  }
  FillFragmentList(ws);
  return {checkpoint.position, checkpoint.lastRunEnd, checkpoint.fragmentCount};
}

std::optional<ScanCheckpoint> ReadCheckpoint(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = "no checkpoint to resume from";
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) {
    if (error) *error = "the checkpoint cannot be read";
    return std::nullopt;
  }
  return ParseCheckpoint(text.str(), error);
}

std::optional<std::string> FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  const auto ns = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return std::to_string(st.st_size) + " " + std::to_string(ns) + " " + std::to_string(st.st_ino);
}

CheckpointWriter::CheckpointWriter(Workspace& ws, std::string path, CheckpointFields identity,
                                   std::uint32_t contentKey, std::vector<std::string> inputs)
    : ws_(ws),
      path_(std::move(path)),
      identity_(std::move(identity)),
      contentKey_(contentKey),
      inputs_(std::move(inputs)) {}

void CheckpointWriter::Reached(const ScanPoint& point) {
  if (failed_) return;
  if (!lastPosition_) {
    lastPosition_ = point.position;
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  const bool due = now - last_ >= every || point.position - *lastPosition_ >= everySectors;
  if (!due || now - started_ < quiet || now - last_ < lastCost_ * 200) return;
  if (!Write(point)) {
    failed_ = true;
    ws_.ui().ShowMessage("检查点写入失败，扫描继续(the checkpoint " + path_ +
                             " could not be written; the scan goes on without one)",
                         kPromptCaption, MessageIcon::kWarning);
  }
}

bool CheckpointWriter::Write(const ScanPoint& point, const CheckpointFields& saved) {
  const auto started = std::chrono::steady_clock::now();
  ScanCheckpoint checkpoint;
  checkpoint.identity = identity_;
  checkpoint.position = point.position;
  checkpoint.lastRunEnd = point.lastRunEnd;
  checkpoint.fragmentCount = point.fragmentCount;
  checkpoint.contentKey = contentKey_;
  checkpoint.saved = state;
  checkpoint.saved.insert(checkpoint.saved.end(), saved.begin(), saved.end());
  // The job is the table's only writer while it runs: its own rows need no lock. They are
  // written as they stand, without a copy: the text is measured, then written in pieces.
  const std::vector<FragmentRow>& rows = ws_.fragments().Rows();
  const std::uint64_t size =
      WriteCheckpointText(checkpoint, rows, [](std::string_view) { return true; }).value_or(0);
  auto file = CreateOutput(ws_, path_, size, inputs_);
  if (!file) return false;
  const auto append = [&file](std::string_view piece) {
    return file->Append(
        ByteView(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size()));
  };
  if (!WriteCheckpointText(checkpoint, rows, append) || !file->Commit()) {
    ShowWriteFailed(ws_, *file);
    return false;
  }
  last_ = std::chrono::steady_clock::now();
  lastCost_ = last_ - started;
  cost_ += lastCost_;
  lastPosition_ = point.position;
  lastWritten_ = point;
  ++written_;
  return true;
}

}  // namespace ravelin
