// The database files written by SQL Server itself, kept read-only under
// $RAVELIN_TESTDATA_DIR/real with their known answers (CTest sets the variable on every test;
// export it to run a test program by hand). Tests that need them skip, with the reason
// printed, where the folder is absent; scripts/test refuses to run without it.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/bytes.h"
#include "support/page_builder.h"

namespace ravelin::test {

struct RealFileFacts {
  std::string_view fileName;  // under real/
  std::int32_t pageCount;
  std::string_view physicalName;  // as the page-32 name reader returns it
  std::uint8_t protection;        // byte-5 low nibble of its protected pages: 1 torn, 2 checksum
};

inline constexpr std::array<RealFileFacts, 3> kRealFiles = {{
    {"checksum-2005.mdf", 280,
     "D:\\Desarrollo\\Ksi\\Tractis\\Demo\\Tractis_demo\\App_Data\\aspnetdb.mdf", 2},
    {"tornpage-2008r2.mdf", 432,
     "c:\\Program Files\\Microsoft SQL Server\\MSSQL10_50.SQLEXPRESS\\MSSQL\\DATA\\NORTHWND.mdf",
     1},
    {"checksum-2014.mdf", 400,
     "C:\\Users\\Vikas Thmz\\Documents\\Visual Studio 2015\\Projects\\HelloWorld\\Database1.mdf",
     2},
}};

class RealFile {
 public:
  explicit RealFile(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::int64_t PageCount() const { return static_cast<std::int64_t>(bytes_.size() / kPageSize); }
  PageView View(std::int64_t n) const {
    return PageView(bytes_.data() + static_cast<std::size_t>(n) * kPageSize, kPageSize);
  }
  Page Copy(std::int64_t n) const;  // a private copy, for the in-place operations
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// $RAVELIN_TESTDATA_DIR/real/<fileName>.
std::string RealFilePath(std::string_view fileName);
// The whole file, or nothing (with the reason in *why) when it is missing or unreadable.
std::optional<RealFile> LoadRealFile(std::string_view fileName, std::string* why = nullptr);

}  // namespace ravelin::test

// Declares `var` as the loaded RealFile or skips the current test, printing why.
#define RAVELIN_LOAD_REAL_OR_SKIP(var, fileName)             \
  std::string var##_why;                                     \
  std::optional<::ravelin::test::RealFile> var##_opt =       \
      ::ravelin::test::LoadRealFile((fileName), &var##_why); \
  if (!var##_opt) GTEST_SKIP() << var##_why;                 \
  const ::ravelin::test::RealFile& var = *var##_opt
