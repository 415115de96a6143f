#include "catalogue/scan_checkpoint.h"

#include <gtest/gtest.h>

namespace ravelin {
namespace {

ScanCheckpoint Sample() {
  ScanCheckpoint c;
  c.identity = {{"source-path", "/tmp/a disk.img"}, {"end", "40000"}, {"file-id", "1"}};
  c.position = 12345;
  c.lastRunEnd = 12352;
  c.fragmentCount = 7;
  c.contentKey = 2147483646u;
  c.saved = {{"rows-file", "854 1700000000123456789 42"}};
  FragmentRow header;
  header.No = 1;
  header.StartSector = 200;
  header.EndSector = 840;
  header.SizeKB = 320;
  header.EndPage = 40;
  // A remark is a name read from a page: it may hold the separator, the escape, line breaks.
  header.Remark = "C:\\d|a%41\r\nb.mdf(0.31 MB)";
  FragmentRow data;
  data.No = 7;
  data.StartSector = 2000;
  data.EndSector = 2336;
  data.SizeKB = 168;
  data.StartPage = 5;
  data.EndPage = 26;
  data.Shown = 'N';
  c.rows = {header, data};
  return c;
}

// The text with its closing hash made right again after an edit.
std::string Rehashed(std::string text) {
  text.erase(text.rfind("end "));
  return text + "end " + HashText(text) + "\n";
}

TEST(ScanCheckpointTest, ReadsBackWhatItWrote) {
  const ScanCheckpoint c = Sample();
  const std::string text = CheckpointText(c);
  std::string error;
  const auto back = ParseCheckpoint(text, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->identity, c.identity);
  EXPECT_EQ(back->saved, c.saved);
  EXPECT_EQ(back->position, c.position);
  EXPECT_EQ(back->lastRunEnd, c.lastRunEnd);
  EXPECT_EQ(back->fragmentCount, c.fragmentCount);
  EXPECT_EQ(back->contentKey, c.contentKey);
  ASSERT_EQ(back->rows.size(), 2u);
  EXPECT_EQ(back->rows[0].Text(), c.rows[0].Text());
  EXPECT_EQ(back->rows[1].Text(), c.rows[1].Text());
  EXPECT_EQ(CheckpointText(*back), text);
}

TEST(ScanCheckpointTest, WrittenInPiecesItIsTheSameTextAndAFailedPieceStopsIt) {
  ScanCheckpoint c = Sample();
  // Enough rows for several pieces of a megabyte.
  for (std::int32_t i = 0; i < 60000; ++i) {
    FragmentRow row = c.rows[1];
    row.No = 8 + i;
    row.StartSector += 1000 * static_cast<std::uint64_t>(i);
    row.EndSector += 1000 * static_cast<std::uint64_t>(i);
    c.rows.push_back(row);
  }
  const std::string whole = CheckpointText(c);
  ScanCheckpoint header = c;
  header.rows.clear();
  std::string joined;
  int pieces = 0;
  const auto size = WriteCheckpointText(header, c.rows, [&](std::string_view piece) {
    joined.append(piece);
    ++pieces;
    return true;
  });
  EXPECT_EQ(joined, whole);
  EXPECT_EQ(size, whole.size());
  EXPECT_GT(pieces, 2);
  std::string error;
  const auto back = ParseCheckpoint(joined, &error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->rows.size(), c.rows.size());
  int calls = 0;
  EXPECT_FALSE(WriteCheckpointText(header, c.rows, [&](std::string_view) { return ++calls < 2; }));
  EXPECT_EQ(calls, 2) << "nothing is written after a piece fails";
}

TEST(ScanCheckpointTest, RefusesFilesThatAreDamagedCutShortOrIncomplete) {
  const std::string good = CheckpointText(Sample());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    const char* what;
    std::string text;
    const char* said;
  };
  const Case cases[] = {
      {"empty", "", "not a scan checkpoint"},
      {"another file", "1|200|840|320|0|40| |Y|\n", "not a scan checkpoint"},
      {"cut short", good.substr(0, good.size() - 30), "cut short"},
      {"last line cut", good.substr(0, good.size() - 1), "cut short"},
      {"a byte changed", replaced("position 12345", "position 12346"), "hash does not match"},
      {"a row missing", Rehashed(replaced("rows 2", "rows 3")), "holds 2 rows, not 3"},
      {"no position", Rehashed(replaced("position 12345\n", "")), "lacks the scan's position"},
      {"negative position", Rehashed(replaced("position 12345", "position -16")),
       "is not understood"},
      {"unknown line", Rehashed(replaced("content-key", "colour-key")), "is not understood"},
      {"bad escape", Rehashed(replaced("%25", "%G5")), "bad escape"},
      {"bad row", Rehashed(replaced("|168|", "|169|")), "line "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(ParseCheckpoint(c.text, &error));
    EXPECT_NE(error.find(c.said), std::string::npos) << error;
  }
}

TEST(ScanCheckpointTest, NamesTheFirstFieldThatDiffers) {
  const CheckpointFields saved = {{"source-sectors", "100"}, {"file-id", "1"}};
  EXPECT_FALSE(IdentityDifference(saved, saved));
  EXPECT_EQ(IdentityDifference(saved, {{"source-sectors", "100"}, {"file-id", "2"}}),
            "file-id: 1 (now 2)");
  EXPECT_EQ(IdentityDifference(saved, {{"source-sectors", "100"}}), "file-id: 1 (now none)");
  EXPECT_EQ(IdentityDifference(saved, {{"source-sectors", "100"}, {"file-id", "1"}, {"x", "y"}}),
            "x: (none) (now y)");
}

}  // namespace
}  // namespace ravelin
