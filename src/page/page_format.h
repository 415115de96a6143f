// The SQL Server data page as this program reads it: the 96-byte header tests that decide
// whether a block is a page of the file being rebuilt, the integrity test of a whole page,
// torn-page repair, the file size and physical name of a database file, and a few small
// text and scramble helpers that the catalogue shares.
//
// Every function is pure: it touches only its arguments and is safe on any bytes, whatever
// the offsets stored inside the page say. The layout is described in docs/page_format.md.
// page_format.cpp holds the tests, integrity, torn bits, copy and scramble; page_text.cpp the
// file size, file name and row-field readers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace ravelin {

// Header offsets read by the tests and by the analysis.
namespace page_header {
inline constexpr std::size_t kHeaderVersion = 0;
inline constexpr std::size_t kType = 1;
inline constexpr std::size_t kTypeFlagBits = 2;
inline constexpr std::size_t kLevel = 3;
inline constexpr std::size_t kFlagBits = 4;
inline constexpr std::size_t kIndexId = 6;
inline constexpr std::size_t kPrevPage = 8;
inline constexpr std::size_t kPminlen = 14;
inline constexpr std::size_t kNextPage = 16;
inline constexpr std::size_t kSlotCnt = 22;
inline constexpr std::size_t kObjId = 24;
inline constexpr std::size_t kFreeCnt = 28;
inline constexpr std::size_t kFreeData = 30;
inline constexpr std::size_t kPageNumber = 32;
inline constexpr std::size_t kFileId = 36;
inline constexpr std::size_t kReservedCnt = 38;
inline constexpr std::size_t kLsn = 40;
inline constexpr std::size_t kXactReserved = 50;
inline constexpr std::size_t kXdesId = 52;
inline constexpr std::size_t kGhostRecCnt = 58;
inline constexpr std::size_t kTornBits = 60;
inline constexpr std::size_t kReserved = 64;  // 32 bytes, always zero
inline constexpr std::size_t kRow0Offset = kPageSize - 2;
}  // namespace page_header

inline constexpr std::uint8_t kPageTypeData = 1;
inline constexpr std::uint8_t kPageTypeIndex = 2;
inline constexpr std::uint8_t kPageTypeIam = 10;
inline constexpr std::uint8_t kPageTypePfs = 11;
inline constexpr std::uint8_t kPageTypeFileHeader = 15;
inline constexpr std::int32_t kAllocationObjectId = 99;

// Header tests. `currentFileId` is the Workspace's CurrentFileId.
bool IsDataPageHeader(HeaderView header, std::uint16_t currentFileId);
bool IsFileHeaderPage(HeaderView header, std::uint16_t currentFileId);
bool IsPfsPageHeader(HeaderView header, std::uint16_t currentFileId);
bool IsExpectedPage(std::uint16_t fileId, std::int32_t pageNumber, HeaderView header,
                    std::uint16_t currentFileId);

// XOR of the 128 little-endian words of one sector: a sector's share of the page checksum,
// before its rotation.
std::uint32_t SectorFold(const std::uint8_t* sector);

// The page checksum SQL Server stores in m_tornBits when the checksum flag is on: XOR of
// every word but m_tornBits, each rotated left by 15 - its sector. Does not look at byte 5.
std::uint32_t PageChecksum(PageView page);

// All zero, or consistent torn bits, or a matching checksum. Applied to the page as read.
bool IsPageIntact(PageView page);

// Whether every byte of the page is zero (a page never written).
bool IsZeroPage(PageView page);

// Puts the saved sector-end bits back into a torn-page-protected page (bit 0 of byte 5 set,
// pattern 1 or 2); otherwise no change. Idempotent.
void RestoreTornBits(MutablePage page);
// Whether RestoreTornBits would change anything in `page`.
bool HasTornBitsToRestore(PageView page);

// 0 and the size in pages when found; 1 and size 0 when not.
int GetFileSizeFromHeader(PageView page, std::int32_t& size);

// 0 and the physical file name (UTF-8, always ending ".mdf") when found; 1 and "" when not.
// UTF-16 code units that are not part of a valid surrogate pair come back as U+FFFD.
int GetFileNameFromPage(PageView page, std::string& name);

// Copies `count` bytes from `start`; bytes that would come from outside the page, or go
// outside `destination`, are not copied (destination keeps them as they were).
void CopyPageBytes(PageView page, MutableBytes destination, std::int64_t start, std::int64_t count);

// The n-th (1-based) "|"-terminated field of a row; "" when it has no terminating "|".
std::string GetField(std::string_view row, int n);

// The path through its last "\"; "" when there is none.
std::string ExtractDirPart(std::string_view path);

// Word-wise scramble of the fragment content file: each little-endian 32-bit word w becomes
// rotr(w, 1) ^ key. Applies to bytes.size() / 4 whole words.
void ScramblePage(MutableBytes bytes, std::uint32_t key);
void UnscramblePage(MutableBytes bytes, std::uint32_t key);

}  // namespace ravelin
