#include <gtest/gtest.h>

#include <memory>

#include "catalogue/fragment_table.h"
#include "commands/workspace_fragments.h"
#include "datasource/memory_device.h"
#include "page/page_format.h"
#include "support/page_builder.h"
#include "support/scripted_ui.h"
#include "support/workspace_tables.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

using test::Page;
using test::PageBuilder;

constexpr char kImage[] = "image.bin";

// A Workspace reading an in-memory image of `sectors` sectors, with pages placed at will.
class AddFragmentTest : public ::testing::Test {
 protected:
  void SetUp() override { image_->assign(4096 * kSectorSize, 0); }

  Workspace& Ws() {
    if (!ws_) {
      auto bytes = image_;
      ws_ = std::make_unique<Workspace>(ui_, [bytes](const std::string& path) {
        OpenResult r;
        if (path == kImage)
          r.device = std::make_unique<MemoryDevice>(bytes);
        else
          r.error = ENOENT;
        return r;
      });
      ws_->source().SourceChosen = true;
      ws_->source().SourcePath = kImage;
      ws_->source().SectorLimit = image_->size() / kSectorSize;
    }
    return *ws_;
  }

  void Place(std::uint64_t sector, const Page& page) {
    std::copy(page.begin(), page.end(), image_->begin() + sector * kSectorSize);
  }

  std::vector<std::string> FieldsOfLastRow() {
    const std::string text = Ws().fragments().Row(Ws().fragments().Count() - 1).Text();
    std::vector<std::string> fields;
    for (int n = 1; n <= 8; ++n) fields.push_back(GetField(text, n));
    return fields;
  }

  std::shared_ptr<std::vector<std::uint8_t>> image_ = std::make_shared<std::vector<std::uint8_t>>();
  test::ScriptedUi ui_;
  std::unique_ptr<Workspace> ws_;
};

TEST_F(AddFragmentTest, RowTextHoldsEveryFieldInOrder) {
  ASSERT_TRUE(AddFragment(Ws(), 7, 3, 10, 1000));
  EXPECT_EQ(Ws().fragments().Row(0).Text(), "7|1000|1048|24|10|13| |Y|");
  const ReportRow& item = Ws().ListView2().Row(0);
  EXPECT_EQ(item.cells, (std::vector<std::string>{"1", "24", "10", "13", " ", "1000", "1048"}));
  EXPECT_EQ(item.imageIndex, 0);
}

TEST_F(AddFragmentTest, ShortHeaderFragmentReportsTheFileSizeInKilobytes) {
  Place(64, test::FileHeaderPage(1, 1280).Build());
  ASSERT_TRUE(AddFragment(Ws(), 1, 20, 0, 64));
  EXPECT_EQ(FieldsOfLastRow()[6], "无效文件头,size:10240KB");
  EXPECT_EQ(Ws().ListView2().Row(0).imageIndex, 1);
}

TEST_F(AddFragmentTest, ShortHeaderWithoutSizeSaysSoInMemo1AndCountsZero) {
  Place(64, test::FileHeaderPage(1, 1280).Row0Offset(8000).Build());
  ASSERT_TRUE(AddFragment(Ws(), 1, 2, 0, 64));
  EXPECT_EQ(FieldsOfLastRow()[6], "无效文件头,size:0KB");
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo1), (std::vector<std::string>{"get fileinfo1 error"}));
}

TEST_F(AddFragmentTest, LongHeaderFragmentTakesNameFromPage32AndSizeInMegabytes) {
  Place(0, test::FileHeaderPage(1, 1280).Build());
  Place(512, test::FileNamePage(u"shop", u"C:\\DATA\\shop.MDF").Build());
  ASSERT_TRUE(AddFragment(Ws(), 1, 100, 0, 0));
  EXPECT_EQ(FieldsOfLastRow()[6], "C:\\DATA\\shop.mdf(10.00 MB)");
}

TEST_F(AddFragmentTest, SizesOfAThousandMegabytesOrMoreAreWrittenInGigabytes) {
  EXPECT_EQ(FileSizeText(128000), "0.98 GB");
  EXPECT_EQ(FileSizeText(127999), "999.99 MB");
  EXPECT_EQ(FileSizeText(1280), "10.00 MB");
  EXPECT_EQ(FileSizeText(16), "0.13 MB") << "an exact half rounds away from zero";
}

TEST_F(AddFragmentTest, MissingNameBecomesNoneAndInheritedRemarkIsKept) {
  Place(0, test::FileHeaderPage(1, 1280).Build());
  ASSERT_TRUE(AddFragment(Ws(), 1, 40, 0, 0));
  EXPECT_EQ(FieldsOfLastRow()[6], "none(10.00 MB)");
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo1), (std::vector<std::string>{"get fileinfo2 error"}));

  ASSERT_TRUE(AddFragment(Ws(), 2, 40, 0, 0, std::string("kept.mdf(1.00 MB)")));
  EXPECT_EQ(FieldsOfLastRow()[6], "kept.mdf(1.00 MB)");
  // An inherited "invalid header" remark is not kept: the pages are read again.
  ASSERT_TRUE(AddFragment(Ws(), 3, 40, 0, 0, std::string("无效文件头,size:0KB")));
  EXPECT_EQ(FieldsOfLastRow()[6], "none(10.00 MB)");
}

TEST_F(AddFragmentTest, UnreadableHeaderPageDropsTheFragment) {
  Ws().source().SectorLimit = 100;  // page 32 of a fragment at sector 0 lies past the end
  Place(0, test::FileHeaderPage(1, 1280).Build());
  EXPECT_FALSE(AddFragment(Ws(), 1, 40, 0, 0));
  EXPECT_EQ(Ws().fragments().Count(), 0u);
  EXPECT_EQ(Ws().ListView2().Count(), 0u);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "read disk error");
  EXPECT_EQ(ui_.messages[0].caption, "提示");
}

TEST_F(AddFragmentTest, PageNumberLimitExcludesStartPagesAtOrAboveIt) {
  Ws().controls().tab1.CheckBox1 = true;
  Ws().controls().tab1.edtmaxpageid = "100";
  EXPECT_FALSE(AddFragment(Ws(), 1, 4, 100, 0));
  EXPECT_TRUE(AddFragment(Ws(), 2, 4, 99, 0));
  Ws().controls().tab1.CheckBox1 = false;
  EXPECT_TRUE(AddFragment(Ws(), 3, 4, 500, 0));
  EXPECT_EQ(Ws().fragments().Count(), 2u);
}

TEST_F(AddFragmentTest, FilledListSkipsHiddenRowsButKeepsTheirPositions) {
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(AddFragment(Ws(), i + 1, 2, 10 * (i + 1), 0));
  test::EditFragments(Ws()).SetShown(1, false);
  test::EditList(Ws(), Ws().ListView2()).Edit(0).checked = true;
  FillFragmentList(Ws());
  ASSERT_EQ(Ws().ListView2().Count(), 3u);
  EXPECT_EQ(Ws().ListView2().Row(1).Cell(0), "3");
  EXPECT_FALSE(test::EditList(Ws(), Ws().ListView2()).Edit(0).checked)
      << "a rebuild drops the ticks";
  test::EditFragments(Ws()).BuildFragmentIndex();
  EXPECT_EQ(Ws().fragments().FragmentCount(), 4) << "hidden rows stay in the index";
}

TEST_F(AddFragmentTest, PageCountRoundsHalfToEven) {
  FragmentRow row;
  for (auto [kb, pages] : {std::pair{12, 2}, {20, 2}, {28, 4}, {24, 3}, {13, 2}, {11, 1}}) {
    row.SizeKB = kb;
    EXPECT_EQ(row.Pages(), pages) << kb << " KB";
  }
}

}  // namespace
}  // namespace ravelin
