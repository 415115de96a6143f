#include "support/real_files.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace ravelin::test {

Page RealFile::Copy(std::int64_t n) const {
  Page page;
  const PageView view = View(n);
  std::copy(view.begin(), view.end(), page.begin());
  return page;
}

std::string RealFilePath(std::string_view fileName) {
  // Unset (a test program run by hand without it), the path names the variable to set and
  // the tests that need the files skip, printing it.
  const char* dir = std::getenv("RAVELIN_TESTDATA_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : "$RAVELIN_TESTDATA_DIR") + "/real/" +
         std::string(fileName);
}

std::optional<RealFile> LoadRealFile(std::string_view fileName, std::string* why) {
  const std::string path = RealFilePath(fileName);
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    if (why) *why = "sample database file not available: " + path;
    return std::nullopt;
  }
  const std::streamoff length = in.tellg();
  std::vector<std::uint8_t> bytes(length > 0 ? static_cast<std::size_t>(length) : 0);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in || bytes.empty() || bytes.size() % kPageSize != 0) {
    if (why) *why = "sample database file is empty or not whole pages: " + path;
    return std::nullopt;
  }
  return RealFile(std::move(bytes));
}

}  // namespace ravelin::test
