#include "cli/option_checks.h"

#include <CLI/CLI.hpp>
#include <limits>

#include "common/text.h"

namespace ravelin::cli {
namespace {

// An optional sign and digits only: a number, whatever its size.
bool LooksLikeInteger(std::string_view text) {
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (const char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::optional<std::string> IntegerOutside(const std::string& text, std::int64_t lo,
                                          std::int64_t hi) {
  const std::string t = Trim(text);
  const auto value = ParseInteger<std::int64_t>(t);
  if (!value) {
    if (!LooksLikeInteger(t)) return "'" + text + "' is not a whole number";
    return "'" + text + "' is too " + std::string(t.front() == '-' ? "small" : "large") +
           " (allowed: " + std::to_string(lo) + ".." + std::to_string(hi) + ")";
  }
  if (*value < lo || *value > hi) {
    return std::to_string(*value) + " is outside " + std::to_string(lo) + ".." + std::to_string(hi);
  }
  return std::nullopt;
}

CLI::Validator IntegerIn(std::int64_t lo, std::int64_t hi) {
  return CLI::Validator(
      [lo, hi](std::string& text) { return IntegerOutside(text, lo, hi).value_or(""); },
      std::to_string(lo) + ".." + std::to_string(hi));
}

std::optional<FragmentSelection> ParseFragmentSelection(const std::vector<std::string>& parts,
                                                        std::ostream& err) {
  constexpr std::int64_t kOpen = std::numeric_limits<std::int64_t>::max();
  FragmentSelection selection;
  auto bad = [&err](const std::string& part) {
    err << "--fragments: '" << part
        << "' is not a number, a range A-B or A-, or all (e.g. 1-5,9,12-)\n";
    return std::nullopt;
  };
  for (const std::string& raw : parts) {
    const std::string part = Trim(raw);
    if (part == "all") {
      selection.all = true;
      continue;
    }
    const std::size_t dash = part.find('-', 1);
    if (dash == std::string::npos) {
      const auto n = ParseInteger<std::int64_t>(part);
      if (!n || *n < 0) return bad(raw);
      selection.ranges.emplace_back(*n, *n);
      continue;
    }
    const auto from = ParseInteger<std::int64_t>(part.substr(0, dash));
    const std::string tail = part.substr(dash + 1);
    const auto to =
        tail.empty() ? std::optional<std::int64_t>(kOpen) : ParseInteger<std::int64_t>(tail);
    if (!from || !to || *from < 0 || *to < *from) return bad(raw);
    selection.ranges.emplace_back(*from, *to);
  }
  return selection;
}

}  // namespace ravelin::cli
