// Number parsing and trimming for the texts of edits and list cells.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace ravelin {

// A decimal integer with optional blanks around it and an optional sign; nothing else.
// nullopt for anything that is not such a number or does not fit T.
template <typename T = std::int64_t>
std::optional<T> ParseInteger(std::string_view text) {
  static_assert(std::is_integral_v<T>);
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  T value{};
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

// `text` without the blanks and control characters (bytes up to 0x20) at either end, as
// the window's Trim does.
inline std::string Trim(std::string_view text) {
  std::size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return std::string(text.substr(b, e - b));
}

// The runtime's message for an edit whose text is not a decimal integer.
inline std::string NotAnIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

}  // namespace ravelin
