// The scan-info row file loader and the row unscramble on any bytes, and the round trip of
// what they accept.
#include <string_view>

#include "catalogue/scan_text.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string error;
  if (const auto rows = ParseRowFile(text, &error)) {
    // What was read is written back the same way and read again.
    const std::string again = RowFileText(*rows);
    const auto reread = ParseRowFile(again, &error);
    if (!reread || reread->size() != rows->size()) __builtin_trap();
  }
  (void)UnscrambleText(text, kRowKey);
  if (size > 0) (void)UnscrambleText(text.substr(1), text.substr(0, 1));
  (void)ParseFragmentRow(text, &error);
  (void)GbkToUtf8(text);
  (void)Utf8ToGbk(text);
  return 0;
}
