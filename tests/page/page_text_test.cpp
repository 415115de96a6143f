// File size (page 0) and physical file name (page 32) readers, on pages built here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "page/page_format.h"
#include "support/page_builder.h"

namespace ravelin {
namespace {

using test::FileHeaderPage;
using test::FileNamePage;
using test::Page;
using test::PageBuilder;
using namespace std::literals;

std::string NameOf(const Page& page, int* status = nullptr) {
  std::string name = "stale";
  const int st = GetFileNameFromPage(page, name);
  if (status) *status = st;
  if (st != 0) {
    EXPECT_EQ(name, "");
  }
  return name;
}

int SizeStatus(const Page& page, std::int32_t& size) {
  size = -77;  // must be overwritten either way
  return GetFileSizeFromHeader(page, size);
}

TEST(FileSizeTests, ReadsValueBeforeTheFirstMarkerAfterRow0) {
  std::int32_t size;
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, 123456).Build(), size), 0);
  EXPECT_EQ(size, 123456);
  // The first marker wins; a second one later is not looked at.
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, 5).U32(300, 9).U32(304, 0xFFFFFFFF).Build(), size), 0);
  EXPECT_EQ(size, 5);
  // The value is signed.
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, INT32_MIN).Build(), size), 0);
  EXPECT_EQ(size, INT32_MIN);
  // FF bytes ending the value itself start the first marker: the value read is then the
  // four bytes before those.
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, -2).U32(96, 0x11223344).Build(), size), 0);
  EXPECT_EQ(size, static_cast<std::int32_t>(0xFE112233u));
}

TEST(FileSizeTests, MarkerBeforeRow0OrMissingIsNotFound) {
  std::int32_t size;
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, 40).U32(104, 0).Build(), size), 1);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, 40).Row0Offset(105).Build(), size), 1);
  EXPECT_EQ(size, 0);
  // Three FF bytes are not a marker.
  EXPECT_EQ(SizeStatus(FileHeaderPage(1, 40).Byte(107, 0xFE).Build(), size), 1);
}

TEST(FileSizeTests, HostileRow0OffsetsStayInsideThePage) {
  std::int32_t size;
  // Negative: the search starts at byte 4, so the marker at 104 is still found.
  for (std::int16_t r : {-1, -4, INT16_MIN}) {
    EXPECT_EQ(SizeStatus(FileHeaderPage(1, 40).Row0Offset(r).Build(), size), 0) << r;
    EXPECT_EQ(size, 40);
  }
  // A marker in the first four bytes has no value before it and is never examined.
  Page page{};
  Store32(page, 0, 0xFFFFFFFF);
  EXPECT_EQ(SizeStatus(page, size), 1);
  // The last place a marker can start is 8188; beyond it nothing is examined.
  Page atEnd{};
  Store32(atEnd, 8184, 321);
  Store32(atEnd, 8188, 0xFFFFFFFF);  // also makes the row-0 offset read -1
  EXPECT_EQ(SizeStatus(atEnd, size), 0);
  EXPECT_EQ(size, 321);
  for (std::int16_t r : {8189, 8192, INT16_MAX}) {
    EXPECT_EQ(SizeStatus(PageBuilder().Row0Offset(r).U32(8000, 0xFFFFFFFF).Build(), size), 1);
  }
}

TEST(FileNameTests, PhysicalNameComesBackWithLowerCaseExtension) {
  EXPECT_EQ(NameOf(FileNamePage(u"Northwind", u"C:\\DATA\\NORTHWND.MDF").Build()),
            "C:\\DATA\\NORTHWND.mdf");
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"C:\\a\\b.Mdf").Build()), "C:\\a\\b.mdf");
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"C:\\a\\b.mDF").Build()), "C:\\a\\b.mdf");
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"C:\\Program Files\\a b.mdf").Build()),
            "C:\\Program Files\\a b.mdf");
}

TEST(FileNameTests, BlanksAndControlsAroundTheNameAreTrimmed) {
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"\tC:\\a\\b \x01.mdf").Build()), "C:\\a\\b.mdf");
  // A double space right before the extension leaves nothing but the extension.
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"C:\\a\\b  .mdf").Build()), ".mdf");
  // A NUL cuts the name.
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"C:\\a\\b\0junk.mdf"sv).Build()), "C:\\a\\b.mdf");
}

TEST(FileNameTests, ConvertsUtf16ToUtf8) {
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"D:\\数据\\库.mdf").Build()), "D:\\数据\\库.mdf");
  EXPECT_EQ(NameOf(FileNamePage(u"x", u"D:\\\U0001F600.mdf").Build()), "D:\\\xF0\x9F\x98\x80.mdf");
  // Lone surrogates become U+FFFD.
  const std::u16string lone = {u'D', u':', 0xD800, u'a', 0xDC00};
  EXPECT_EQ(NameOf(FileNamePage(u"x", lone + u".mdf").Build()),
            "D:\xEF\xBF\xBD"
            "a\xEF\xBF\xBD.mdf");
}

TEST(FileNameTests, MissingExtensionOrDoubleSpaceIsNotFound) {
  int status;
  NameOf(FileNamePage(u"x", u"C:\\a\\b.ndf").Build(), &status);
  EXPECT_EQ(status, 1);
  NameOf(Page{}, &status);
  EXPECT_EQ(status, 1);
  // No double space anywhere before the extension.
  NameOf(PageBuilder().Row0Offset(96).Utf16(100, u"C:\\a.mdf").Build(), &status);
  EXPECT_EQ(status, 1);
  // An extension before row 0 is not looked at.
  NameOf(FileNamePage(u"x", u"C:\\a.mdf").Row0Offset(800).Build(), &status);
  EXPECT_EQ(status, 1);
}

// The backward search examines j and goes on while j > r: the last j examined is the first
// one not above r.
TEST(FileNameTests, BackwardSearchStopsAtFirstPositionNotAboveRow0) {
  auto page = [](std::int16_t r) {
    return PageBuilder().Row0Offset(r).Utf16(200, u"  C:\\a.mdf").Build();
  };
  int status;
  EXPECT_EQ(NameOf(page(200), &status), "C:\\a.mdf");
  EXPECT_EQ(NameOf(page(201), &status), "C:\\a.mdf");
  NameOf(page(202), &status);
  EXPECT_EQ(status, 1);
  // Odd offsets work alike.
  EXPECT_EQ(NameOf(PageBuilder().Row0Offset(301).Utf16(301, u"  C:\\b.MDF").Build()), "C:\\b.mdf");
}

TEST(FileNameTests, HostileRow0OffsetsStayInsideThePage) {
  int status;
  // Negative offset: both searches start at 0, and the backward one never goes below it.
  Page low{};
  Store32(low, 0, 0x00200020);  // double space at 0
  for (std::size_t i = 0; i < 8; i += 2) low[4 + i] = ".mdf"[i / 2];
  Store16(low, 8190, static_cast<std::uint16_t>(-100));
  EXPECT_EQ(NameOf(low, &status), ".mdf");
  Page noSpace{};
  for (std::size_t i = 0; i < 8; i += 2) noSpace[2 + i] = ".mdf"[i / 2];
  Store16(noSpace, 8190, static_cast<std::uint16_t>(INT16_MIN));
  NameOf(noSpace, &status);
  EXPECT_EQ(status, 1);
  for (std::int16_t r : {8185, 8190, 8192, INT16_MAX}) {
    NameOf(FileNamePage(u"x", u"C:\\a.mdf").Row0Offset(r).Build(), &status);
    EXPECT_EQ(status, 1) << r;
  }
}

TEST(FileNameTests, NameIsCutAt4001Units) {
  Page page{};
  Store32(page, 0, 0x00200020);
  const std::size_t units = 4050;
  for (std::size_t u = 0; u < units; ++u) Store16(page, 4 + 2 * u, 'a');
  const std::u16string ext = u".mdf";
  for (std::size_t u = 0; u < ext.size(); ++u) Store16(page, 4 + 2 * units + 2 * u, ext[u]);
  const std::string name = NameOf(page);
  EXPECT_EQ(name, std::string(4001, 'a') + ".mdf");
}

}  // namespace
}  // namespace ravelin
