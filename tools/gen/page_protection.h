// The two ways SQL Server protects a page when it writes it, computed by the generator
// itself from the layout in docs/page_format.md (the scanner has its own code for the same
// thing; the tests hold both to the pages SQL Server wrote).
//
// The protection kind is the low nibble of header byte 5: 1 torn-page detection, 2 page
// checksum, anything else none. Both kinds keep their data in m_tornBits (header offset 60).
#pragma once

#include <cstdint>

#include "common/bytes.h"

namespace ravelin::gen {

// The low nibble of header byte 5.
int ProtectionNibble(PageView page);

// XOR over the 32-bit little-endian words of the page, m_tornBits left out, where each
// word of sector s is rotated left by 15 - s. Does not look at byte 5.
std::uint32_t ComputePageChecksum(PageView page);
bool ChecksumMatches(PageView page);
// Sets nibble 2 and stores the checksum. Any later change to the page breaks it.
void StampChecksum(MutablePage page);

// Sets nibble 1, moves the low 2 bits of the last byte of sectors 1..15 into m_tornBits
// (bits 2k..2k+1 for sector k) and writes `pattern` (1 or 2; anything else counts as 1) in
// their place and in bits 0..1.
void StampTornBits(MutablePage page, std::uint8_t pattern);
// Nibble 1, a pattern of 1 or 2, and that pattern at the end of every sector 1..15: the page
// reached the disk whole.
bool TornBitsConsistent(PageView page);
// Puts the saved sector-end bits back when bit 0 of byte 5 is set and the pattern is 1 or 2
// (the bytes a torn-page file's pages really hold); otherwise leaves the page alone.
void UndoTornBits(MutablePage page);

}  // namespace ravelin::gen
