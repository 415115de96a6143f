// Where the fields of a SQL Server page header lie, and the type and object numbers the
// generator writes, as docs/page_format.md describes them. The generator keeps its own copy
// of these facts instead of borrowing the scanner's: a wrong offset on one side then shows
// up as a disagreement in the tests instead of passing unseen on both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/bytes.h"

namespace ravelin::gen {

// Byte offsets in the 96-byte header.
namespace header {
inline constexpr std::size_t kHeaderVersion = 0;
inline constexpr std::size_t kType = 1;
inline constexpr std::size_t kTypeFlagBits = 2;
inline constexpr std::size_t kLevel = 3;
inline constexpr std::size_t kFlagBits = 4;  // byte 5's low nibble is the protection kind
inline constexpr std::size_t kIndexId = 6;
inline constexpr std::size_t kPrevPage = 8;  // 4-byte page, 2-byte file id
inline constexpr std::size_t kPminlen = 14;
inline constexpr std::size_t kNextPage = 16;
inline constexpr std::size_t kSlotCnt = 22;
inline constexpr std::size_t kObjId = 24;
inline constexpr std::size_t kFreeCnt = 28;
inline constexpr std::size_t kFreeData = 30;
inline constexpr std::size_t kPageNumber = 32;
inline constexpr std::size_t kFileId = 36;
inline constexpr std::size_t kReservedCnt = 38;
inline constexpr std::size_t kLsn = 40;  // VLF 4 bytes, block 4 bytes, slot 2 bytes
inline constexpr std::size_t kXactReserved = 50;
inline constexpr std::size_t kXdesId = 52;
inline constexpr std::size_t kGhostRecCnt = 58;
inline constexpr std::size_t kTornBits = 60;  // torn bits or the page checksum
// The slot array grows down from the page's end; its first entry is row 0's offset.
inline constexpr std::size_t kRow0Offset = kPageSize - 2;
}  // namespace header

namespace page_type {
inline constexpr std::uint8_t kData = 1;
inline constexpr std::uint8_t kIndex = 2;
inline constexpr std::uint8_t kText = 3;
inline constexpr std::uint8_t kGam = 8;
inline constexpr std::uint8_t kSgam = 9;
inline constexpr std::uint8_t kIam = 10;
inline constexpr std::uint8_t kPfs = 11;
inline constexpr std::uint8_t kBoot = 13;
inline constexpr std::uint8_t kFileHeader = 15;
inline constexpr std::uint8_t kDcm = 16;
inline constexpr std::uint8_t kBcm = 17;
}  // namespace page_type

// m_objId of the file header, PFS, GAM, SGAM, DCM, BCM and boot pages.
inline constexpr std::int32_t kAllocationObjId = 99;

}  // namespace ravelin::gen
