#include "catalogue/scan_text.h"

#include <gtest/gtest.h>

#include <set>

#include "catalogue/fragment_rows.h"
#include "common/messages.h"

namespace ravelin {
namespace {

TEST(ScrambleTextTest, WritesSeedThenOneUpperCasePairPerByteWithTheKeyCycling) {
  EXPECT_EQ(ScrambleText("1|", kRowKey, 0x10), "1010D6");
  // Seven bytes: the sixth and seventh take key bytes 1 and 2 again.
  EXPECT_EQ(ScrambleText("AAAAAAA", kRowKey, 0), "00100B071C0A1A01");
  // Sums wrap at 255, not 256; GBK bytes above 127 scramble like any other.
  EXPECT_EQ(ScrambleText(*Utf8ToGbk("7|1000|1048|24|10|13|测试|Y|"), kRowKey, 0xFF),
            "FF66B8A286E143E55CD85AC31A076FBCBCB678FD66B33C544B77A2A155");
}

TEST(ScrambleTextTest, EveryNonZeroByteComesBackForEverySeed) {
  std::string all;
  for (int b = 1; b <= 255; ++b) all += static_cast<char>(b);
  for (int seed = 0; seed < 255; ++seed) {
    const auto back =
        UnscrambleText(ScrambleText(all, kRowKey, static_cast<std::uint8_t>(seed)), kRowKey);
    ASSERT_TRUE(back) << seed;
    ASSERT_EQ(*back, all) << "seed " << seed;
  }
}

TEST(ScrambleTextTest, RandomSeedsGiveDifferentLinesForOneRow) {
  const std::string row = "1|2048|2096|24|0|3|无效文件头,size:0KB|Y|";
  std::set<std::string> lines;
  for (int i = 0; i < 8; ++i) {
    const std::string line = ScrambleText(row, kRowKey);
    EXPECT_EQ(UnscrambleText(line, kRowKey), row);
    lines.insert(line);
  }
  EXPECT_GT(lines.size(), 1u);
}

TEST(ScrambleTextTest, UnscrambleRefusesWhatIsNotEvenLengthHex) {
  EXPECT_FALSE(UnscrambleText("", kRowKey));
  EXPECT_FALSE(UnscrambleText("1010D", kRowKey));
  EXPECT_FALSE(UnscrambleText("1010G6", kRowKey));
  EXPECT_FALSE(UnscrambleText("10 0D6", kRowKey));
  EXPECT_EQ(UnscrambleText("1010d6", kRowKey), "1|") << "lower-case digits are hex too";
  EXPECT_EQ(UnscrambleText("10", kRowKey), "");
}

TEST(GbkTextTest, ConvertsChineseBothWaysAndReplacesWhatGbkLacks) {
  const std::string text = "无效文件头,size:10240KB";
  const std::string gbk = *Utf8ToGbk(text);
  EXPECT_EQ(gbk.size(), 5 * 2 + std::string(",size:10240KB").size());
  EXPECT_EQ(GbkToUtf8(gbk), text);
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80z"), "a?z");  // an emoji has no GBK code
  EXPECT_EQ(GbkToUtf8("a\xFF"
                      "b"),
            "a\xEF\xBF\xBD"
            "b");
}

TEST(GbkTextTest, AConversionIconvLacksIsNoConversionAtAll) {
  EXPECT_FALSE(ConvertText("abc", "NO-SUCH-CODE-PAGE", "UTF-8"));
  EXPECT_EQ(ConvertText("abc", "GBK", "UTF-8"), "abc");
}

TEST(ParseFragmentRowTest, ReadsEveryFieldAndKeepsARemarkWithBars) {
  std::string error;
  const auto row = ParseFragmentRow("7|1000|1048|24|10|13|a|b(1.00 MB)|N|", &error);
  ASSERT_TRUE(row) << error;
  EXPECT_EQ(row->No, 7);
  EXPECT_EQ(row->StartSector, 1000u);
  EXPECT_EQ(row->EndSector, 1048u);
  EXPECT_EQ(row->SizeKB, 24);
  EXPECT_EQ(row->StartPage, 10);
  EXPECT_EQ(row->EndPage, 13);
  EXPECT_EQ(row->Remark, "a|b(1.00 MB)");
  EXPECT_EQ(row->Shown, 'N');
  const auto big = ParseFragmentRow(
      "1|18446744073709551599|18446744073709551615|8|2147483647|2147483648| |Y|", &error);
  ASSERT_TRUE(big) << error;
  EXPECT_EQ(big->StartSector, 18446744073709551599u);
  EXPECT_EQ(big->EndPage, 2147483648);
}

TEST(FragmentRowTest, EveryFieldAndRemarkComesBackThroughTheRowText) {
  // The remark is held apart from the numbers; every kind a row holds, and the numbers at
  // their limits, must give the same text and parse back to the same row.
  const char* const remarks[] = {" ",
                                 "",
                                 "  ",
                                 "D:\\数据\\销售.mdf(39.06 MB)",
                                 "无效文件头,size:800KB 0000001500000AF80001",
                                 "a|b|Y",
                                 "x"};
  struct Numbers {
    std::int32_t no;
    std::uint64_t startSector;
    std::int32_t startPage;
    std::int64_t pages;
  };
  const Numbers numbers[] = {{1, 0, 0, 0},
                             {7, 2048, 40, 3},
                             {2147483647, UINT64_MAX - 16, 2147483647, 1},
                             {12, 1ULL << 40, 0, 2147483648}};
  for (const Numbers& n : numbers) {
    for (const char* remark : remarks) {
      FragmentRow row;
      row.No = n.no;
      row.StartSector = n.startSector;
      row.EndSector = n.startSector + 16 * static_cast<std::uint64_t>(n.pages);
      row.SizeKB = 8 * n.pages;
      row.StartPage = n.startPage;
      row.EndPage = n.startPage + n.pages;
      row.Remark = remark;
      row.Shown = n.no == 1 ? 'N' : 'Y';
      SCOPED_TRACE(row.Text());
      std::string error;
      const auto back = ParseFragmentRow(row.Text(), &error);
      ASSERT_TRUE(back) << error;
      // The text names every field: the same text is the same row.
      EXPECT_EQ(back->Text(), row.Text());
      EXPECT_EQ(back->Remark, remark);
      EXPECT_EQ(back->Remark.str(), std::string(remark));
    }
  }
  EXPECT_LE(sizeof(FragmentRow), 56u);
}

TEST(FragmentRowTest, ACopiedRowOwnsItsRemark) {
  FragmentRow a;
  EXPECT_EQ(a.Remark, " ") << "a new row's remark";
  a.Remark = std::string("C:\\a.mdf(1.00 MB)");
  FragmentRow b = a;
  b.Remark = "other";
  EXPECT_EQ(a.Remark, "C:\\a.mdf(1.00 MB)");
  a = b;
  b.Remark = " ";
  EXPECT_EQ(a.Remark, "other");
  EXPECT_EQ(b.Remark, " ");
  FragmentRow c = std::move(a);
  EXPECT_EQ(c.Remark, "other");
  const std::string& text = c.Remark;
  EXPECT_EQ(text, "other");
}

TEST(ParseFragmentRowTest, RefusesRowsWhoseFieldsDisagreeNamingTheField) {
  struct Case {
    const char* row;
    const char* field;
  };
  const Case cases[] = {
      // SizeKB raised by 2^54 over a 142-page fragment.
      {"2|5000|7272|18014398509483120|40|182| |Y|", "SizeKB"},
      {"2|5000|5048|16|10|13| |Y|", "SizeKB"},
      {"2|5000|5048|24|-3|0| |Y|", "StartPage"},
      {"2|5000|5048|24|13|10| |Y|", "EndPage"},
      {"2|5000|5048|24|2147483647|2147483650| |Y|", "EndPage"},
      {"2|5000|5047|24|10|13| |Y|", "EndSector"},
      {"2|5000|4952|24|10|13| |Y|", "EndSector"},
      {"2|18446744073709551615|15|8|0|1| |Y|", "EndSector"},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseFragmentRow(c.row, &error)) << c.row;
    EXPECT_EQ(error.rfind(c.field, 0), 0u) << c.row << ": " << error;
  }
  std::string error;
  EXPECT_TRUE(ParseFragmentRow("2|5000|5000|0|7|7| |Y|", &error)) << error;
  EXPECT_TRUE(ParseFragmentRow("2|5000|5100|24|10|13| |Y|", &error)) << "room to spare";
}

TEST(ParseRowFileTest, RowBeyondSourceNamesTheFirstRowWhoseLastPageStartsPastTheEnd) {
  std::vector<FragmentRow> rows(3);
  rows[0] = {.StartSector = 100, .EndSector = 132, .SizeKB = 16, .EndPage = 2, .No = 1};
  // Its last page starts at 1000: cut short, still read.
  rows[1] = {
      .StartSector = 984, .EndSector = 1016, .SizeKB = 16, .EndPage = 4, .No = 2, .StartPage = 2};
  rows[2] = {
      .StartSector = 1001, .EndSector = 1017, .SizeKB = 8, .EndPage = 5, .No = 3, .StartPage = 4};
  EXPECT_FALSE(RowBeyondSource({rows[0], rows[1]}, 1001));
  const auto why = RowBeyondSource(rows, 1001);
  ASSERT_TRUE(why);
  EXPECT_NE(why->find("line 3 "), std::string::npos) << *why;
  EXPECT_FALSE(RowBeyondSource({FragmentRow{}}, 0)) << "a row of no pages reads nothing";
}

TEST(ParseFragmentRowTest, RefusesMissingFieldsTextForNumbersAndOverflow) {
  for (const char* bad : {"1|2|3|4|5|6| |", "1|2|3|4|5|6| |Y", "1|2|3|4|5|", "x|2|3|4|5|6| |Y|",
                          "1|2|3|4|5|6x| |Y|", "1||3|4|5|6| |Y|", "1|-2|3|4|5|6| |Y|",
                          "1|2|3|4|2147483648|6| |Y|", "1|2|3|-8|5|6| |Y|", "1|2|3|4|5|6| |YN|"}) {
    std::string error;
    EXPECT_FALSE(ParseFragmentRow(bad, &error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
}

TEST(ParseRowFileTest, ReadsCrLfAndLfLinesAndNamesTheFirstBadLine) {
  std::vector<FragmentRow> rows(2);
  rows[0].StartSector = 100;
  rows[0].EndSector = 100;
  rows[1].Remark = "中文备注";
  const std::string text = *RowFileText(rows);
  ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
  std::string error;
  auto back = ParseRowFile(text, &error);
  ASSERT_TRUE(back) << error;
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0].Text(), rows[0].Text());
  EXPECT_EQ((*back)[1].Remark, "中文备注");

  const std::string line1 = text.substr(0, text.find('\n') + 1);
  EXPECT_TRUE(ParseRowFile(line1.substr(0, line1.size() - 2) + "\n" + line1, &error));
  EXPECT_TRUE(ParseRowFile("", &error)->empty());

  EXPECT_FALSE(ParseRowFile(line1 + "ABC\r\n", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
  EXPECT_FALSE(ParseRowFile(line1 + line1 + "\r\n" + line1, &error)) << "an empty line";
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
  EXPECT_FALSE(ParseRowFile(line1 + ScrambleText("1|2|3|", kRowKey) + "\r\n", &error));
  EXPECT_NE(error.find("line 2"), std::string::npos) << error;
}

// The remark as a row file or a list cell carries it, read back into the parts the rows are
// made of: the JSON of the fragment lists takes its name and size from here.
TEST(SplitRemarkTest, ReadsBackEveryRemarkTheRowsCompose) {
  struct Case {
    std::string remark;
    bool invalid;
    std::string name, size, lsn;
  };
  const std::string lsn = "0000002A000001F00001";
  for (const Case& c : std::vector<Case>{
           {InvalidHeaderRemark(800), true, "", "800KB", ""},
           {InvalidHeaderRemark(16) + " " + lsn, true, "", "16KB", lsn},
           {"D:\\data\\shop(1).mdf(3.00 MB)", false, "D:\\data\\shop(1).mdf", "3.00 MB", ""},
           {" a.mdf(1.00 MB) " + lsn, false, "a.mdf", "1.00 MB", lsn},
           {" ", false, "", "", ""},
           {"(no name)", false, "", "", ""},
           {"a.mdf(1.00 MB) 0000002a000001f00001", false, "", "", ""},  // not our digits
       }) {
    const RemarkFields f = SplitRemark(c.remark);
    EXPECT_EQ(f.invalidHeader, c.invalid) << c.remark;
    EXPECT_EQ(f.name, c.name) << c.remark;
    EXPECT_EQ(f.sizeText, c.size) << c.remark;
    EXPECT_EQ(f.lsn, c.lsn) << c.remark;
  }
  // Composed and read with the same table, whatever its wording.
  const PlaceholderTexts placeholders;
  EXPECT_EQ(SplitRemark(InvalidHeaderRemark(24)).sizeText, "24KB");
  EXPECT_TRUE(SplitRemark(InvalidHeaderRemark(24)).invalidHeader);
}

}  // namespace
}  // namespace ravelin
