// Partition tables of whole-disk images, written and read back by sfdisk: an MBR ("dos"
// label) or a GPT. Sector 0 is never part of a partition; a GPT also keeps its first 34 and
// last 33 sectors for itself (header and entries, and their backup).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gen/image_common.h"

namespace ravelin::gen {

enum class PartitionTableKind { kMbr, kGpt };

// Type codes: the MBR byte, and the GPT type GUID, for each kind of partition we write.
inline constexpr std::uint32_t kMbrTypeFat32Lba = 0x0C;
inline constexpr std::uint32_t kMbrTypeNtfs = 0x07;
inline constexpr std::uint32_t kMbrTypeLinux = 0x83;
inline constexpr const char* kGptTypeBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
inline constexpr const char* kGptTypeLinux = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

inline constexpr std::uint64_t kGptFirstUsable = 34;
inline constexpr std::uint64_t kGptBackupSectors = 33;

struct TableEntry {
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint32_t mbrType = 0;  // MBR only
  std::string gptType;        // GPT only
};

// Writes the table (disk and partition ids derived from `seed`, so the same seed gives the
// same bytes) onto the existing file `path`. Entries are numbered 1, 2, ... in order.
Status WritePartitionTable(const std::string& path, PartitionTableKind kind,
                           const std::vector<TableEntry>& entries, std::uint64_t seed);

// A partition as sfdisk reads it back, numbered as the kernel and libblkid number it.
struct TablePartition {
  int number = 0;
  std::uint64_t start = 0;
  std::uint64_t size = 0;
  std::uint32_t type = 0;  // MBR type byte; 0 on a GPT
  std::string typeGuid;    // GPT type GUID; "" on an MBR
};
using MbrPartition = TablePartition;  // the name from before GPT was written

// The partitions in table order; `label`, when given, gets "dos" or "gpt".
Status ReadPartitionTable(const std::string& imagePath, std::vector<TablePartition>& partitions,
                          std::string* label = nullptr);

// "c" for an MBR type byte, the GUID for a GPT type: as the manifest records either.
std::string TypeText(PartitionTableKind kind, const TableEntry& entry);

}  // namespace ravelin::gen
