// Number parsing for the texts of edits and list cells.
#pragma once

#include <charconv>
#include <cstdint>
#include <optional>
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

}  // namespace ravelin
