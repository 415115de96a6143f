// Readers of the text and numbers a database file keeps about itself (its size on page 0,
// its physical name on page 32), and the helpers for the "|"-joined fragment rows.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "page/page_format.h"

namespace ravelin {
namespace {

// The slot array grows down from the page end; its first entry, at 8190, is the byte offset
// of row 0. It comes from the page, so it may be anything: callers clamp it.
std::int32_t Row0Offset(PageView page) {
  return static_cast<std::int16_t>(Load16(page, page_header::kRow0Offset));
}

// A name may be cut anywhere by the 4001-unit limit or may be damaged: every code unit that
// is not part of a valid surrogate pair becomes U+FFFD.
void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Utf16LeToUtf8(ByteView bytes) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  for (std::size_t u = 0; u < units; ++u) {
    const std::uint32_t c = DecodeFixed16(bytes.data() + 2 * u);
    if (c >= 0xD800 && c <= 0xDBFF && u + 1 < units) {
      const std::uint32_t low = DecodeFixed16(bytes.data() + 2 * (u + 1));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++u;
        continue;
      }
    }
    AppendUtf8(out, (c >= 0xD800 && c <= 0xDFFF) ? kReplacement : c);
  }
  return out;
}

// UTF-16LE ".mdf" in any letter case at i; the caller keeps i + 8 inside the page.
bool IsMdfExtensionAt(PageView page, std::size_t i) {
  auto lower = [](std::uint8_t b) { return static_cast<std::uint8_t>(b | 0x20); };
  return page[i] == '.' && page[i + 1] == 0 && lower(page[i + 2]) == 'm' && page[i + 3] == 0 &&
         lower(page[i + 4]) == 'd' && page[i + 5] == 0 && lower(page[i + 6]) == 'f' &&
         page[i + 7] == 0;
}

bool IsDoubleSpaceAt(PageView page, std::size_t j) {
  return page[j] == 0x20 && page[j + 1] == 0 && page[j + 2] == 0x20 && page[j + 3] == 0;
}

}  // namespace

int GetFileSizeFromHeader(PageView page, std::int32_t& size) {
  // Row 0 of the file header page holds the size in pages as a 32-bit value directly
  // followed by FF FF FF FF; the first such marker at or after row 0 is taken.
  size = 0;
  constexpr std::int32_t kLastMarker = static_cast<std::int32_t>(kPageSize) - 4;  // 8188
  for (std::int32_t p = std::max(Row0Offset(page), 4); p <= kLastMarker; ++p) {
    if (Load32(page, static_cast<std::size_t>(p)) == 0xFFFFFFFFu) {
      size = static_cast<std::int32_t>(Load32(page, static_cast<std::size_t>(p - 4)));
      return 0;
    }
  }
  return 1;
}

int GetFileNameFromPage(PageView page, std::string& name) {
  // Page 32 holds, in UTF-16LE, the logical name padded with spaces and then the physical
  // name ending in ".mdf". The physical name is what lies between the last double space
  // before the extension (searched no further back than row 0) and the extension.
  // 1. Row 0 offset r, clamped to the page by the loops below.
  // 2. First ".mdf" at or after r.
  // 3. Walk back from just before it for a double space, down to the first j not above r.
  // 4. Decode, cut at NUL and at 4001 units, trim blanks and controls, append ".mdf".
  name.clear();
  const std::int32_t r = Row0Offset(page);
  constexpr std::int32_t kLastExtension = static_cast<std::int32_t>(kPageSize) - 8;  // 8184

  std::int32_t i = std::max(r, 0);
  while (i <= kLastExtension && !IsMdfExtensionAt(page, static_cast<std::size_t>(i))) ++i;
  if (i > kLastExtension) return 1;

  // j + 3 <= i + 1 stays inside the page; j never goes below 0, whatever r says.
  std::int32_t j = i - 2;
  bool found = false;
  while (j >= 0) {
    if (IsDoubleSpaceAt(page, static_cast<std::size_t>(j))) {
      found = true;
      break;
    }
    if (j <= r) break;
    j -= 2;
  }
  if (!found) return 1;

  constexpr std::size_t kMaxNameUnits = 4001;
  const auto begin = static_cast<std::size_t>(j) + 4;
  std::size_t units = std::min((static_cast<std::size_t>(i) - begin) / 2, kMaxNameUnits);
  for (std::size_t u = 0; u < units; ++u) {
    if (Load16(page, begin + 2 * u) == 0) {
      units = u;
      break;
    }
  }
  std::string text = Utf16LeToUtf8(page.subspan(begin, 2 * units));

  // Characters of code 32 or below are single bytes in UTF-8, and no byte of a longer
  // sequence is below 0x80, so trimming bytes is trimming characters.
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
  name = first < last ? std::string(first, last) : std::string();
  name += ".mdf";
  return 0;
}

std::string GetField(std::string_view row, int n) {
  if (n < 1) return {};
  std::size_t begin = 0;
  for (int k = 1;; ++k) {
    const std::size_t bar = row.find('|', begin);
    if (bar == std::string_view::npos) return {};  // text after the last "|" is no field
    if (k == n) return std::string(row.substr(begin, bar - begin));
    begin = bar + 1;
  }
}

std::string ExtractDirPart(std::string_view path) {
  const std::size_t slash = path.rfind('\\');
  if (slash == std::string_view::npos) return {};
  return std::string(path.substr(0, slash + 1));
}

}  // namespace ravelin
