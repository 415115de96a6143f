// The text side of the scan-info row file: the row scramble, the GBK code page the file is
// written in, and the strict parser that turns a stored row back into a FragmentRow. The
// byte layout is described in docs/scan_info_format.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/fragment_table.h"

namespace ravelin {

// The fixed key of the row scramble.
inline constexpr std::string_view kRowKey = "QZKTW";

// Scrambles `text` with `key` (at least one byte): two upper-case hex digits of `seed`, then
// two per input byte. Sums are taken modulo 255, so the text must not hold byte 0.
std::string ScrambleText(std::string_view text, std::string_view key, std::uint8_t seed);
// The same with a seed drawn at random, so one row scrambles differently on every save.
std::string ScrambleText(std::string_view text, std::string_view key);
// The inverse; nothing when `hex` is not an even number (2 or more) of hex digits.
std::optional<std::string> UnscrambleText(std::string_view hex, std::string_view key);

// Said when the C library cannot convert to or from GBK (iconv_open fails).
inline constexpr std::string_view kNoGbkMessage =
    "error,无法转换GBK文本(iconv cannot convert between UTF-8 and GBK on this system)";

// `text` from code page `from` to `to` (iconv names); bytes that do not convert become "?".
// Nothing when iconv knows no such conversion.
std::optional<std::string> ConvertText(std::string_view text, const char* to, const char* from);
// UTF-8 to GBK; characters GBK cannot hold become "?". Nothing without a GBK converter.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
// GBK to UTF-8; bytes that are not GBK become U+FFFD. Nothing without a GBK converter.
std::optional<std::string> GbkToUtf8(std::string_view gbk);

// Parses "No|StartSector|EndSector|SizeKB|StartPage|EndPage|Remark|Shown|". The six numbers
// must be decimal integers that fit their fields and agree with each other
// (RowInconsistency); Shown one character.
// A Remark holding "|" is kept whole (the six numbers are taken from the front, Shown from
// the back). On failure returns nothing and says why in *error.
std::optional<FragmentRow> ParseFragmentRow(std::string_view text, std::string* error);

// Why a parsed row cannot describe a fragment, or nothing when it can: SizeKB is 8 pages per
// page of [StartPage, EndPage), pages lie in [0, 2^31), and the sectors from StartSector to
// EndSector hold 16 per page. Every reader sizes a fragment by these fields, so a row that
// breaks them is refused before any arithmetic is done with it.
const char* RowInconsistency(const FragmentRow& row);

// The row file: one scrambled GBK row per CR LF line. Nothing without a GBK converter.
std::optional<std::string> RowFileText(const std::vector<FragmentRow>& rows);
// The message that names line `lineNumber` (1-based) of a row file and why it is refused.
std::string RowFileLineError(std::size_t lineNumber, std::string_view why);
// The message naming the first row (by its line) that lies past `sourceEnd`, one past the
// source's last sector; nothing when every row lies within.
std::optional<std::string> RowBeyondSource(const std::vector<FragmentRow>& rows,
                                           std::uint64_t sourceEnd);

// Parses a whole row file. Every line must hold a row; on the first that does not, returns
// nothing and puts a message naming the line in *error.
std::optional<std::vector<FragmentRow>> ParseRowFile(std::string_view bytes, std::string* error);

}  // namespace ravelin
