#include "catalogue/scan_checkpoint.h"

#include <cstdio>

#include "catalogue/scan_text.h"
#include "common/text.h"

namespace ravelin {
namespace {

constexpr std::string_view kMagic = "ravelin-scan-checkpoint 1";

// Values and rows go one to a line: the bytes that would break a line, and the escape
// itself, are written as %XX (a remark is a name read from a page and may hold anything).
std::string Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '%' || c == '\n' || c == '\r') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t k = 1; k <= 2; ++k) {
      const char h = text[i + k];
      value <<= 4;
      if (h >= '0' && h <= '9') {
        value |= static_cast<unsigned>(h - '0');
      } else if (h >= 'A' && h <= 'F') {
        value |= static_cast<unsigned>(h - 'A' + 10);
      } else {
        return std::nullopt;
      }
    }
    out += static_cast<char>(value);
    i += 2;
  }
  return out;
}

void AddLine(std::string& text, std::string_view name, std::string_view value) {
  text.append(name).append(" ").append(Escape(value)).append("\n");
}

// Splits the text into lines; every line, the last included, ends with "\n".
std::optional<std::vector<std::string_view>> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return lines;
}

// "NAME VALUE" into its two parts.
std::pair<std::string_view, std::string_view> NameAndValue(std::string_view line) {
  const std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return {line, {}};
  return {line.substr(0, space), line.substr(space + 1)};
}

}  // namespace

namespace {

// FNV-1a over the bytes handed to it, piece by piece.
class TextHash {
 public:
  void Add(std::string_view bytes) {
    for (const char c : bytes) {
      hash_ ^= static_cast<unsigned char>(c);
      hash_ *= 1099511628211ull;
    }
  }
  std::string Text() const {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
  }

 private:
  std::uint64_t hash_ = 14695981039346656037ull;
};

}  // namespace

std::string HashText(std::string_view bytes) {
  TextHash hash;
  hash.Add(bytes);
  return hash.Text();
}

std::optional<std::uint64_t> WriteCheckpointText(
    const ScanCheckpoint& checkpoint, const std::vector<FragmentRow>& rows,
    const std::function<bool(std::string_view)>& write) {
  constexpr std::size_t kPiece = 1 << 20;
  TextHash hash;
  std::uint64_t written = 0;
  std::string text(kMagic);
  auto flush = [&] {
    hash.Add(text);
    written += text.size();
    const bool ok = write(text);
    text.clear();
    return ok;
  };
  text += '\n';
  for (const auto& [name, value] : checkpoint.identity) AddLine(text, "id " + name, value);
  AddLine(text, "position", std::to_string(checkpoint.position));
  AddLine(text, "last-run-end", std::to_string(checkpoint.lastRunEnd));
  AddLine(text, "fragment-count", std::to_string(checkpoint.fragmentCount));
  AddLine(text, "content-key", std::to_string(checkpoint.contentKey));
  for (const auto& [name, value] : checkpoint.saved) AddLine(text, "saved " + name, value);
  AddLine(text, "rows", std::to_string(rows.size()));
  for (const FragmentRow& row : rows) {
    text.append(Escape(row.Text())).append("\n");
    if (text.size() >= kPiece && !flush()) return std::nullopt;
  }
  if (!flush()) return std::nullopt;
  text.append("end ").append(hash.Text()).append("\n");
  written += text.size();
  if (!write(text)) return std::nullopt;
  return written;
}

std::string CheckpointText(const ScanCheckpoint& checkpoint) {
  std::string text;
  WriteCheckpointText(checkpoint, checkpoint.rows, [&text](std::string_view piece) {
    text.append(piece);
    return true;
  });
  return text;
}

std::optional<ScanCheckpoint> ParseCheckpoint(std::string_view text, std::string* error) {
  auto fail = [&](const std::string& why) -> std::optional<ScanCheckpoint> {
    if (error) *error = why;
    return std::nullopt;
  };
  const auto lines = Lines(text);
  if (!lines) return fail("the checkpoint is damaged or cut short (its last line is incomplete)");
  if (lines->empty() || lines->front() != kMagic) return fail("not a scan checkpoint");
  // The hash covers every byte before the last line: a file cut short or changed is refused
  // whole rather than resumed from a guess.
  const std::string_view last = lines->back();
  const std::size_t bodySize = text.size() - last.size() - 1;
  if (!last.starts_with("end ") || last.substr(4) != HashText(text.substr(0, bodySize)))
    return fail("the checkpoint is damaged or cut short (its closing hash does not match)");

  ScanCheckpoint checkpoint;
  bool position = false, lastRunEnd = false, count = false, key = false;
  std::optional<std::size_t> rowCount;
  std::size_t i = 1;
  const std::size_t bodyLines = lines->size() - 1;
  for (; i < bodyLines && !rowCount; ++i) {
    const auto [name, raw] = NameAndValue((*lines)[i]);
    const auto value = Unescape(raw);
    if (!value) return fail("line " + std::to_string(i + 1) + " holds a bad escape");
    if (name == "id" || name == "saved") {
      const auto [field, fieldValue] = NameAndValue(*value);
      (name == "id" ? checkpoint.identity : checkpoint.saved)
          .emplace_back(std::string(field), std::string(fieldValue));
      continue;
    }
    bool ok = true;
    if (name == "position") {
      const auto n = ParseInteger(*value);
      ok = position = n && *n >= 0;
      if (ok) checkpoint.position = *n;
    } else if (name == "last-run-end") {
      const auto n = ParseInteger(*value);
      ok = lastRunEnd = n && *n >= 0;
      if (ok) checkpoint.lastRunEnd = *n;
    } else if (name == "fragment-count") {
      const auto n = ParseInteger<std::int32_t>(*value);
      ok = count = n && *n >= 0;
      if (ok) checkpoint.fragmentCount = *n;
    } else if (name == "content-key") {
      const auto n = ParseInteger<std::uint32_t>(*value);
      ok = key = n.has_value();
      if (ok) checkpoint.contentKey = *n;
    } else if (name == "rows") {
      const auto n = ParseInteger<std::size_t>(*value);
      ok = n.has_value();
      if (ok) rowCount = *n;
    } else {
      ok = false;
    }
    if (!ok) return fail("line " + std::to_string(i + 1) + " is not understood");
  }
  if (!position || !lastRunEnd || !count || !key || !rowCount)
    return fail("the checkpoint lacks the scan's position");
  if (bodyLines - i != *rowCount)
    return fail("the checkpoint holds " + std::to_string(bodyLines - i) + " rows, not " +
                std::to_string(*rowCount));
  checkpoint.rows.reserve(*rowCount);
  for (; i < bodyLines; ++i) {
    const auto rowText = Unescape((*lines)[i]);
    std::string why;
    std::optional<FragmentRow> row;
    if (rowText) row = ParseFragmentRow(*rowText, &why);
    if (!row) return fail("line " + std::to_string(i + 1) + ": " + (rowText ? why : "bad escape"));
    checkpoint.rows.push_back(std::move(*row));
  }
  return checkpoint;
}

std::optional<std::string> IdentityDifference(const CheckpointFields& saved,
                                              const CheckpointFields& now) {
  for (const auto& [name, value] : now) {
    const auto was = FieldValue(saved, name);
    if (was != value)
      return name + ": " + (was ? *was : std::string("(none)")) + " (now " + value + ")";
  }
  for (const auto& [name, value] : saved) {
    if (!FieldValue(now, name)) return name + ": " + value + " (now none)";
  }
  return std::nullopt;
}

std::optional<std::string> FieldValue(const CheckpointFields& fields, std::string_view name) {
  for (const auto& [field, value] : fields)
    if (field == name) return value;
  return std::nullopt;
}

}  // namespace ravelin
