// The scan-info row file loader and the row unscramble on any bytes, and the round trip of
// what they accept. An input starting with byte FF (which no row file does) is rows built
// from numbers over every field's whole range, written as a row file and read back (a row
// is accepted only when its fields agree); any other input is taken as a row file.
#include <string_view>

#include "catalogue/scan_text.h"
#include "fuzz_support.h"

using namespace ravelin;

namespace {

void ReadRowsBuiltFromNumbers(fuzz::Input& in) {
  const int rowCount = in.Take<std::uint8_t>() % 8;
  std::vector<FragmentRow> rows;
  for (int i = 0; i < rowCount; ++i) {
    FragmentRow row;
    row.No = in.Take<std::int32_t>();
    row.StartSector = in.Take<std::uint64_t>();
    row.EndSector = in.Take<std::uint64_t>();
    row.SizeKB = in.Take<std::int64_t>();
    row.StartPage = in.Take<std::int32_t>();
    row.EndPage = in.Take<std::int64_t>();
    row.Shown = in.Take<std::uint8_t>() % 2 ? 'Y' : 'N';
    rows.push_back(row);
  }
  std::string error;
  const auto back = ParseRowFile(RowFileText(rows).value_or(""), &error);
  bool consistent = true;
  for (const FragmentRow& row : rows) consistent = consistent && RowInconsistency(row) == nullptr;
  // Every row whose fields agree comes back; a file holding any other is refused whole.
  if (consistent != back.has_value()) __builtin_trap();
  if (!back) return;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const FragmentRow& row = (*back)[i];
    if (row.Text() != rows[i].Text()) __builtin_trap();
    // What readers derive from an accepted row stays inside the fragment.
    if (row.Pages() != row.EndPage - row.StartPage ||
        (row.EndSector - row.StartSector) / 16 < static_cast<std::uint64_t>(row.Pages()))
      __builtin_trap();
  }
}

void ReadRowFileBytes(std::string_view text) {
  std::string error;
  if (const auto rows = ParseRowFile(text, &error)) {
    for (const FragmentRow& row : *rows)
      if (RowInconsistency(row) != nullptr) __builtin_trap();
    // What was read is written back the same way and read again.
    const std::string again = RowFileText(*rows).value_or("");
    const auto reread = ParseRowFile(again, &error);
    if (!reread || reread->size() != rows->size()) __builtin_trap();
  }
  (void)UnscrambleText(text, kRowKey);
  if (!text.empty()) (void)UnscrambleText(text.substr(1), text.substr(0, 1));
  (void)ParseFragmentRow(text, &error);
  (void)GbkToUtf8(text);
  (void)Utf8ToGbk(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0 && data[0] == 0xFF) {
    fuzz::Input in(data + 1, size - 1);
    ReadRowsBuiltFromNumbers(in);
  } else {
    ReadRowFileBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  }
  return 0;
}
