#include "catalogue/scan_text.h"

#include <iconv.h>

#include <cerrno>
#include <random>

#include "common/bytes.h"
#include "common/text.h"

namespace ravelin {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void AppendHex(std::string& out, unsigned value) {
  out += kHexDigits[(value >> 4) & 0xF];
  out += kHexDigits[value & 0xF];
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

// Converts with iconv, replacing what cannot be converted: `skip` says how many input bytes
// one bad character takes, `replacement` what stands for it.
template <typename Skip>
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in, Skip skip,
                                   std::string_view replacement) {
  // Without the converter (a C library built without GBK) the text must not pass through
  // as it is: a row file of UTF-8 bytes would look like GBK and read back garbled.
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  out.reserve(in.size() * 2);
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  char chunk[256];
  while (inLeft > 0) {
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t r = ::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(chunk, static_cast<std::size_t>(outPtr - chunk));
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: one character that cannot be converted (or is cut off at the end).
    const std::size_t n = std::min(inLeft, skip(static_cast<unsigned char>(*inPtr)));
    inPtr += n;
    inLeft -= n;
    out += replacement;
  }
  ::iconv_close(cd);
  return out;
}

template <typename T>
bool ParseField(std::string_view text, const char* name, T& value, std::string* error) {
  const auto v = ParseInteger<T>(text);
  if (!v) {
    if (error)
      *error = std::string(name) + " 不是数字(is not a number): '" + std::string(text) + "'";
    return false;
  }
  value = *v;
  return true;
}

}  // namespace

const char* RowInconsistency(const FragmentRow& row) {
  // Content-file positions are sums of page counts: a negative size would move them back.
  if (row.SizeKB < 0) return "SizeKB 为负数(is negative)";
  if (row.StartPage < 0) return "StartPage 为负数(is negative)";
  // EndPage lies one past the last page, so 2^31 itself is a valid end.
  if (row.EndPage < row.StartPage || row.EndPage > kPageIdLimit)
    return "EndPage 超出范围(must lie in StartPage..2147483648)";
  // Every reader sizes the fragment by SizeKB (positions in the content file, pages to
  // read); it must be the page range's size, or a size can walk far past it.
  if (row.SizeKB != 8 * (row.EndPage - row.StartPage))
    return "SizeKB 与页面范围不符(is not 8 x (EndPage - StartPage))";
  if (row.EndSector < row.StartSector ||
      (row.EndSector - row.StartSector) / kSectorsPerPage <
          static_cast<std::uint64_t>(row.EndPage - row.StartPage))
    return "EndSector 与页面范围不符(leaves fewer than 16 sectors per page after StartSector)";
  return nullptr;
}

std::string ScrambleText(std::string_view text, std::string_view key, std::uint8_t seed) {
  std::string out;
  out.reserve(2 + 2 * text.size());
  AppendHex(out, seed);
  unsigned prev = seed;
  std::size_t k = 0;
  for (const char c : text) {
    prev = (prev + static_cast<unsigned char>(c)) % 255;
    k = k < key.size() ? k + 1 : 1;
    prev ^= static_cast<unsigned char>(key[k - 1]);
    AppendHex(out, prev);
  }
  return out;
}

std::string ScrambleText(std::string_view text, std::string_view key) {
  static thread_local std::mt19937 random{std::random_device{}()};
  return ScrambleText(text, key, static_cast<std::uint8_t>(random() & 0xFF));
}

std::optional<std::string> UnscrambleText(std::string_view hex, std::string_view key) {
  if (hex.size() < 2 || hex.size() % 2 != 0 || key.empty()) return std::nullopt;
  std::vector<int> values;
  values.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexValue(hex[i]);
    const int lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    values.push_back(hi * 16 + lo);
  }
  std::string out;
  out.reserve(values.size() - 1);
  int prev = values[0];
  std::size_t k = 0;
  for (std::size_t i = 1; i < values.size(); ++i) {
    const int v = values[i];
    k = k < key.size() ? k + 1 : 1;
    const int x = v ^ static_cast<unsigned char>(key[k - 1]);
    out += static_cast<char>(x > prev ? x - prev : x - prev + 255);
    prev = v;
  }
  return out;
}

std::optional<std::string> ConvertText(std::string_view text, const char* to, const char* from) {
  return Convert(
      to, from, text, [](unsigned char) -> std::size_t { return 1; }, "?");
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  return Convert("GBK", "UTF-8", utf8, Utf8Length, "?");
}

std::optional<std::string> GbkToUtf8(std::string_view gbk) {
  return Convert(
      "UTF-8", "GBK", gbk, [](unsigned char) -> std::size_t { return 1; }, "\xEF\xBF\xBD");
}

std::optional<FragmentRow> ParseFragmentRow(std::string_view text, std::string* error) {
  auto fail = [error](std::string why) -> std::optional<FragmentRow> {
    if (error) *error = std::move(why);
    return std::nullopt;
  };
  // Six numbers from the front, each closed by "|".
  std::string_view numbers[6];
  std::string_view rest = text;
  for (auto& field : numbers) {
    const std::size_t bar = rest.find('|');
    if (bar == std::string_view::npos) return fail("缺少字段(fewer than eight fields)");
    field = rest.substr(0, bar);
    rest.remove_prefix(bar + 1);
  }
  // Then Remark|Shown| with the last "|" closing Shown.
  if (rest.empty() || rest.back() != '|')
    return fail("行末缺少\"|\"(the row does not end with \"|\")");
  rest.remove_suffix(1);
  const std::size_t bar = rest.rfind('|');
  if (bar == std::string_view::npos) return fail("缺少字段(fewer than eight fields)");
  const std::string shown = Trim(rest.substr(bar + 1));
  if (shown.size() != 1) return fail("显示标志无效(Shown is not one character)");

  FragmentRow row;
  if (!ParseField(numbers[0], "No", row.No, error) ||
      !ParseField(numbers[1], "StartSector", row.StartSector, error) ||
      !ParseField(numbers[2], "EndSector", row.EndSector, error) ||
      !ParseField(numbers[3], "SizeKB", row.SizeKB, error) ||
      !ParseField(numbers[4], "StartPage", row.StartPage, error) ||
      !ParseField(numbers[5], "EndPage", row.EndPage, error))
    return std::nullopt;
  if (const char* why = RowInconsistency(row)) return fail(why);
  row.Remark = std::string(rest.substr(0, bar));
  row.Shown = shown[0];
  return row;
}

std::optional<std::string> RowFileText(const std::vector<FragmentRow>& rows) {
  std::string out;
  for (const FragmentRow& row : rows) {
    const auto gbk = Utf8ToGbk(row.Text());
    if (!gbk) return std::nullopt;
    out += ScrambleText(*gbk, kRowKey);
    out += "\r\n";
  }
  return out;
}

std::string RowFileLineError(std::size_t lineNumber, std::string_view why) {
  return "error,扫描信息文件第" + std::to_string(lineNumber) + "行无效(line " +
         std::to_string(lineNumber) + " of the scan-info file): " + std::string(why);
}

std::optional<std::string> RowBeyondSource(const std::vector<FragmentRow>& rows,
                                           std::uint64_t sourceEnd) {
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FragmentRow& row = rows[i];
    if (row.EndSector == row.StartSector) continue;
    // The last page may be cut short by the end, as the scan's reads are; a page that
    // starts at or past it can never be read.
    if (row.EndSector - kSectorsPerPage >= sourceEnd) {
      return RowFileLineError(i + 1, "EndSector " + std::to_string(row.EndSector) +
                                         " 超出数据源(lies past the source's end, sector " +
                                         std::to_string(sourceEnd) + ")");
    }
  }
  return std::nullopt;
}

std::optional<std::vector<FragmentRow>> ParseRowFile(std::string_view bytes, std::string* error) {
  std::vector<FragmentRow> rows;
  std::size_t lineNumber = 0;
  while (!bytes.empty()) {
    ++lineNumber;
    const std::size_t eol = bytes.find('\n');
    std::string_view line = bytes.substr(0, eol);
    bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    auto fail = [&](const std::string& why) -> std::optional<std::vector<FragmentRow>> {
      if (error) *error = RowFileLineError(lineNumber, why);
      return std::nullopt;
    };
    const auto text = UnscrambleText(line, kRowKey);
    if (!text) return fail("不是偶数长度的十六进制文本(not even-length hexadecimal text)");
    const auto utf8 = GbkToUtf8(*text);
    if (!utf8) {
      if (error) *error = kNoGbkMessage;
      return std::nullopt;
    }
    std::string why;
    auto row = ParseFragmentRow(*utf8, &why);
    if (!row) return fail(why);
    rows.push_back(std::move(*row));
  }
  return rows;
}

}  // namespace ravelin
