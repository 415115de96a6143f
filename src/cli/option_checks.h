// Checks of option values, said in the user's terms: the option, the value and the range it
// must lie in. A number too large for its field is called too large, not "not an integer",
// and nothing is ever silently cut down to fit a stored field.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class Validator;
}

namespace ravelin::cli {

// Why `text` is not a whole number in [lo, hi], or nothing: "is not a whole number",
// "is too large (the largest allowed is hi)", "is outside lo..hi".
std::optional<std::string> IntegerOutside(const std::string& text, std::int64_t lo,
                                          std::int64_t hi);

// A CLI11 check that runs IntegerOutside before the value is converted; CLI11 puts the
// option's name in front of the reason.
CLI::Validator IntegerIn(std::int64_t lo, std::int64_t hi);

// What a --fragments value names, its parts split at commas: numbers, ranges "A-B", open
// ranges "A-" (to the last row), or "all" (every row). Nothing, after saying why on `err`,
// when a part is none of these.
struct FragmentSelection {
  bool all = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;  // inclusive; open end: INT64_MAX
};
std::optional<FragmentSelection> ParseFragmentSelection(const std::vector<std::string>& parts,
                                                        std::ostream& err);

}  // namespace ravelin::cli
