#include "commands/datasource_menu.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <set>
#include <vector>

#include "common/messages.h"
#include "gen/fs_fat32.h"
#include "gen/fs_tools.h"
#include "support/image_fixtures.h"
#include "support/memory_sources.h"
#include "support/scripted_ui.h"

namespace ravelin {
namespace {

using test::MemorySources;
using test::ScriptedUi;

constexpr std::uint64_t kPartSectors = 20480;  // a 10 MiB partition

std::vector<std::uint8_t> Volume(std::uint64_t sectors) {
  return std::vector<std::uint8_t>(sectors * kSectorSize, 0);
}

// FAT32 with 32 reserved sectors and 100 sectors per FAT: the cluster area starts at 232.
std::vector<std::uint8_t> Fat32Volume(std::uint64_t sectors, std::uint32_t fsSectors) {
  auto v = Volume(sectors);
  std::memcpy(v.data() + 3, "MSDOS5.0", 8);
  Store16(v, 11, 512);
  v[13] = 8;
  Store16(v, 14, 32);
  Store32(v, 32, fsSectors);
  Store32(v, 36, 100);
  std::memcpy(v.data() + 82, "FAT32   ", 8);
  return v;
}

// NTFS counts every sector but the last (the backup boot sector) in its total.
std::vector<std::uint8_t> NtfsVolume(std::uint64_t sectors) {
  auto v = Volume(sectors);
  std::memcpy(v.data() + 3, "NTFS    ", 8);
  Store16(v, 11, 512);
  v[13] = 8;
  Store64(v, 40, sectors - 1);
  Store64(v, 48, 4);
  return v;
}

class SourceSelectionTest : public ::testing::Test {
 protected:
  // The sources' opener, except that the paths in denied_ answer EACCES.
  DeviceOpener Opener() {
    return [this](const std::string& path) -> OpenResult {
      if (denied_.count(path) != 0) return {nullptr, EACCES};
      return sources_.Opener()(path);
    };
  }
  PartitionEntry Part(int number, const std::string& path) {
    PartitionEntry p;
    p.number = number;
    p.devicePath = path;
    p.text = path + " []";
    p.caption = "逻辑分区 " + p.text + " ";
    return p;
  }
  DiskEntry Disk(int number, const std::string& path) {
    DiskEntry d;
    d.number = number;
    d.devicePath = path;
    d.caption = DiskCaption(number, 0, false, path);
    return d;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : ui_.messages) texts.push_back(m.text);
    return texts;
  }
  bool CanRead(std::uint64_t sector) {
    std::vector<std::uint8_t> buffer(kSectorSize);
    return ws_.reader().ReadSectors(1, buffer, sector);
  }

  MemorySources sources_;
  std::set<std::string> denied_;
  ScriptedUi ui_;
  Workspace ws_{ui_, Opener()};
};

TEST_F(SourceSelectionTest, DiskIsReadWholeWithoutFileSystem) {
  sources_.AddPattern("/dev/sda", 1000 * kSectorSize + 100);  // a partial last sector
  sources_.AddPattern("/dev/sdc", 3000 * kSectorSize);
  ws_.controls().tab1.chkfreespace = true;
  ws_.controls().tab1.chkfreespaceEnabled = true;

  ASSERT_EQ(PhysicalDiskClick(ws_, Disk(0, "/dev/sda")), Selection::kChosen);
  const DataSource& s = ws_.source();
  const Tab1Controls& t = ws_.controls().tab1;
  EXPECT_TRUE(s.SourceChosen);
  EXPECT_FALSE(s.IsPartition);
  EXPECT_FALSE(s.HasFileSystem);
  EXPECT_EQ(s.SourcePath, "/dev/sda");
  EXPECT_EQ(s.TotalSectors, 1000u);
  EXPECT_EQ(s.SectorLimit, 1000u);
  EXPECT_EQ(t.edtDataStr, "本地磁盘 0 (0.00 MB) [/dev/sda]");
  EXPECT_EQ(t.edtbegin, "0");
  EXPECT_EQ(t.edtend, "1000");
  EXPECT_EQ(t.edtsecs, "1");
  EXPECT_EQ(t.label5, "");
  EXPECT_FALSE(t.chkfreespace);
  EXPECT_FALSE(t.chkfreespaceEnabled);
  EXPECT_TRUE(CanRead(999));
  EXPECT_FALSE(CanRead(1000));

  // Entries keep their own device: the next one opens /dev/sdc, whatever its number.
  ASSERT_EQ(PhysicalDiskClick(ws_, Disk(2, "/dev/sdc")), Selection::kChosen);
  EXPECT_EQ(ws_.source().TotalSectors, 3000u);
  EXPECT_GE(sources_.OpenCount("/dev/sdc"), 1);
  EXPECT_FALSE(ui_.changes.empty());
}

TEST_F(SourceSelectionTest, Fat32PartitionEndsAtItsLastReadableSector) {
  sources_.Add("/dev/sda1", Fat32Volume(kPartSectors, kPartSectors));
  ws_.controls().tab1.chkfreespace = false;
  ASSERT_EQ(PartitionClick(ws_, Part(3, "/dev/sda1")), Selection::kChosen);
  const DataSource& s = ws_.source();
  const Tab1Controls& t = ws_.controls().tab1;
  EXPECT_TRUE(s.IsPartition);
  EXPECT_TRUE(s.HasFileSystem);
  EXPECT_EQ(s.DriveNumber, 3);
  EXPECT_EQ(s.SourcePath, "/dev/sda1");
  EXPECT_EQ(s.DataStartSector, 232u);
  EXPECT_EQ(s.TotalSectors, kPartSectors - 232 - 1);
  EXPECT_EQ(s.SectorLimit, kPartSectors - 1);
  EXPECT_EQ(t.edtDataStr, "/dev/sda1 []");
  EXPECT_EQ(t.edtbegin, "232");
  EXPECT_EQ(t.edtend, std::to_string(kPartSectors - 1));
  EXPECT_EQ(t.edtsecs, "8");
  EXPECT_EQ(t.label5, "FAT32");
  EXPECT_TRUE(t.chkfreespace);
  EXPECT_TRUE(t.chkfreespaceEnabled);
  EXPECT_TRUE(CanRead(kPartSectors - 1));
  EXPECT_FALSE(CanRead(kPartSectors));
}

TEST_F(SourceSelectionTest, NtfsAndUnknownPartitionsStartAtZero) {
  sources_.Add("/dev/sdb1", NtfsVolume(kPartSectors));
  ASSERT_EQ(PartitionClick(ws_, Part(1, "/dev/sdb1")), Selection::kChosen);
  EXPECT_EQ(ws_.source().TotalSectors, kPartSectors - 2);
  EXPECT_EQ(ws_.source().SectorLimit, kPartSectors - 2);  // the backup boot sector is left out
  EXPECT_EQ(ws_.source().MftStartCluster, 4u);
  EXPECT_EQ(ws_.controls().tab1.edtbegin, "0");
  EXPECT_EQ(ws_.controls().tab1.label5, "NTFS");

  // Neither NTFS nor FAT32: sized by the device, and still free space only.
  sources_.Add("/dev/sdb2", Volume(kPartSectors));
  ws_.controls().tab1.chkfreespace = false;
  ASSERT_EQ(PartitionClick(ws_, Part(2, "/dev/sdb2")), Selection::kChosen);
  EXPECT_EQ(ws_.source().FileSystemName, "不可识别");
  EXPECT_EQ(ws_.source().TotalSectors, kPartSectors - 1);
  EXPECT_EQ(ws_.controls().tab1.edtbegin, "0");
  EXPECT_EQ(ws_.controls().tab1.edtend, std::to_string(kPartSectors - 1));
  EXPECT_EQ(ws_.controls().tab1.label5, "不可识别");
  EXPECT_TRUE(ws_.controls().tab1.chkfreespace);
  EXPECT_EQ(ws_.source().MftStartCluster, 4u);  // kept from the NTFS choice
}

TEST_F(SourceSelectionTest, FileSystemLargerThanItsDeviceEndsAtTheDevice) {
  sources_.Add("/dev/sdd1", Fat32Volume(kPartSectors, 2 * kPartSectors));
  ASSERT_EQ(PartitionClick(ws_, Part(1, "/dev/sdd1")), Selection::kChosen);
  EXPECT_EQ(ws_.source().SectorLimit, kPartSectors - 1);
}

// A failed choice leaves no source: tab I as before the first choice, so that SCAN asks for
// one instead of reading what the person chose before.
TEST_F(SourceSelectionTest, EmptyPartitionIsRefusedAndLeavesNoSource) {
  sources_.AddPattern("/dev/sda", 1000 * kSectorSize);
  ASSERT_EQ(PhysicalDiskClick(ws_, Disk(0, "/dev/sda")), Selection::kChosen);
  sources_.Add("/dev/sr0", {});
  EXPECT_EQ(PartitionClick(ws_, Part(4, "/dev/sr0")), Selection::kRefused);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "分区无效！");
  EXPECT_EQ(ui_.messages[0].caption, "提示");
  EXPECT_EQ(ui_.messages[0].icon, MessageIcon::kWarning);
  EXPECT_FALSE(ws_.source().SourceChosen);
  EXPECT_EQ(ws_.controls().tab1.edtend, "");
  EXPECT_EQ(ws_.controls().tab1.edtDataStr, Tab1Controls{}.edtDataStr);
  ASSERT_FALSE(ui_.statuses.empty());
  EXPECT_EQ(ui_.statuses.back(), "");
}

TEST_F(SourceSelectionTest, UnreadableBootSectorChoosesThePartitionButKeepsTheOptions) {
  sources_.Add("/dev/sde1", Volume(kPartSectors));
  sources_.SetBadSectors("/dev/sde1", {0});
  ws_.controls().tab1.edtbegin = "77";
  ws_.source().SectorLimit = 5;
  EXPECT_EQ(PartitionClick(ws_, Part(6, "/dev/sde1")), Selection::kChosenWithoutOptions);
  EXPECT_EQ(Texts(), std::vector<std::string>{"取分区信息失败"});
  EXPECT_EQ(ui_.MemoLines(Memo::kMemo1), std::vector<std::string>{"512error 读取sec0"});
  EXPECT_TRUE(ws_.source().SourceChosen);
  EXPECT_TRUE(ws_.source().IsPartition);
  EXPECT_EQ(ws_.source().DriveNumber, 6);
  EXPECT_EQ(ws_.source().TotalSectors, kPartSectors - 1);
  EXPECT_EQ(ws_.source().SectorLimit, 5u);
  EXPECT_EQ(ws_.controls().tab1.edtbegin, "77");
}

TEST_F(SourceSelectionTest, PermissionDeniedSaysHowToGetAccessAndChoosesNothing) {
  denied_ = {"/dev/sda", "/dev/sda1", "/home/u/disk.img"};
  const std::string before = ws_.controls().tab1.edtDataStr;
  EXPECT_EQ(PhysicalDiskClick(ws_, Disk(0, "/dev/sda")), Selection::kRefused);
  EXPECT_EQ(PartitionClick(ws_, Part(1, "/dev/sda1")), Selection::kRefused);
  ui_.dialogAnswers.push_back("/home/u/disk.img");
  EXPECT_EQ(N7Click(ws_), Selection::kRefused);
  ASSERT_EQ(ui_.messages.size(), 3u);
  for (const auto& m : ui_.messages) {
    EXPECT_NE(m.text.find("Permission denied"), std::string::npos) << m.text;
    EXPECT_NE(m.text.find("disk 组"), std::string::npos) << m.text;
  }
  EXPECT_NE(ui_.messages[0].text.find("/dev/sda"), std::string::npos);
  EXPECT_TRUE(ui_.questions.empty());
  EXPECT_FALSE(ws_.source().SourceChosen);
  EXPECT_EQ(ws_.controls().tab1.edtDataStr, before);
}

TEST_F(SourceSelectionTest, WholeDiskImageDropsThePartialLastSector) {
  sources_.Add("/images/a.img", std::vector<std::uint8_t>(1'000'000));
  ui_.dialogAnswers.push_back("/images/a.img");
  ui_.yesNoAnswers.push_back(false);
  ASSERT_EQ(N7Click(ws_), Selection::kChosen);
  EXPECT_EQ(ui_.questions, std::vector<std::string>{std::string(Text(TextId::kImageKindQuestion))});
  EXPECT_EQ(ws_.source().TotalSectors, 1953u);
  EXPECT_EQ(ws_.source().SectorLimit, 1953u);
  EXPECT_EQ(ws_.controls().tab1.edtend, "1953");
  EXPECT_EQ(ws_.controls().tab1.edtDataStr, "/images/a.img");
  EXPECT_FALSE(ws_.source().IsPartition);
  EXPECT_FALSE(ws_.source().HasFileSystem);
  EXPECT_FALSE(ws_.controls().tab1.chkfreespaceEnabled);
  // No physical disk was touched to learn the sector size.
  EXPECT_EQ(sources_.TotalOpens(), sources_.OpenCount("/images/a.img"));
}

TEST_F(SourceSelectionTest, NothingIsChosenWhileAJobRuns) {
  // A job that holds the gate until the test lets it go.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ws_.jobs().Register("hold", [released] {
    released.wait();
    return JobResult{};
  });
  ws_.jobs().SetJobName("hold");
  ws_.jobs().StartThread();
  sources_.Add("/images/a.img", std::vector<std::uint8_t>(1'000'000));
  ui_.yesNoAnswers.push_back(false);
  EXPECT_EQ(ChooseImageFile(ws_, "/images/a.img"), Selection::kRefused);
  EXPECT_EQ(PhysicalDiskClick(ws_, Disk(0, "/dev/sdz")), Selection::kRefused);
  EXPECT_EQ(Texts(), (std::vector<std::string>{std::string(Text(TextId::kJobRunning)),
                                               std::string(Text(TextId::kJobRunning))}));
  EXPECT_FALSE(ws_.source().SourceChosen);
  release.set_value();
  ws_.jobs().JoinAll();
  EXPECT_EQ(ChooseImageFile(ws_, "/images/a.img"), Selection::kChosen);
}

TEST_F(SourceSelectionTest, Fat32PartitionImageEndsAtTheImageEnd) {
  sources_.Add("/images/p.img", Fat32Volume(kPartSectors, kPartSectors));
  ui_.dialogAnswers.push_back("/images/p.img");
  ui_.yesNoAnswers.push_back(true);
  ASSERT_EQ(N7Click(ws_), Selection::kChosen);
  EXPECT_TRUE(ws_.source().HasFileSystem);
  EXPECT_EQ(ws_.source().DataStartSector, 232u);
  EXPECT_EQ(ws_.source().TotalSectors, kPartSectors - 232);
  EXPECT_EQ(ws_.source().SectorLimit, kPartSectors);
  EXPECT_EQ(ws_.controls().tab1.edtbegin, "232");
  EXPECT_EQ(ws_.controls().tab1.edtend, std::to_string(kPartSectors));
  EXPECT_TRUE(ws_.controls().tab1.chkfreespace);
  // The scan's last block, ending at the image's end, reads whole.
  std::vector<std::uint8_t> block(12288 * kSectorSize);
  EXPECT_TRUE(ws_.reader().ReadSectors(12288, block, kPartSectors - 12288));
}

TEST_F(SourceSelectionTest, NtfsPartitionImageAndItsFailures) {
  sources_.Add("/images/n.img", NtfsVolume(kPartSectors));
  ui_.dialogAnswers.push_back("/images/n.img");
  ui_.yesNoAnswers.push_back(true);
  ASSERT_EQ(N7Click(ws_), Selection::kChosen);
  EXPECT_EQ(ws_.source().SectorLimit, kPartSectors);
  EXPECT_EQ(ws_.controls().tab1.label5, "NTFS");

  sources_.Add("/images/bad.img", Volume(100));
  sources_.SetBadSectors("/images/bad.img", {0});
  ui_.dialogAnswers.push_back("/images/bad.img");
  ui_.yesNoAnswers.push_back(true);
  EXPECT_EQ(N7Click(ws_), Selection::kChosenWithoutOptions);
  EXPECT_EQ(Texts(), std::vector<std::string>{"取分区信息失败2"});
  EXPECT_EQ(ws_.source().SourcePath, "/images/bad.img");
  EXPECT_EQ(ws_.source().SectorLimit, kPartSectors);  // the earlier options stay

  ui_.messages.clear();
  ui_.dialogAnswers.push_back("/images/missing.img");
  EXPECT_EQ(N7Click(ws_), Selection::kRefused);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_NE(ui_.messages[0].text.find("/images/missing.img"), std::string::npos);
  EXPECT_FALSE(ws_.source().SourceChosen);

  ui_.messages.clear();
  EXPECT_EQ(N7Click(ws_), Selection::kCancelled);  // no answer: the dialog was cancelled
  ui_.dialogAnswers.push_back("");
  EXPECT_EQ(N7Click(ws_), Selection::kCancelled);
  EXPECT_TRUE(ui_.messages.empty());
}

// The command line's road (ChooseImageSource, no question, no control touched) sets the same
// Data source record as the menu's, and its choice holds what the menu shows in tab I.
TEST_F(SourceSelectionTest, TypedChoiceMatchesWhatTheMenuShows) {
  sources_.Add("/images/fat.img", Fat32Volume(kPartSectors, kPartSectors));
  sources_.Add("/images/ntfs.img", NtfsVolume(kPartSectors));
  sources_.Add("/images/bad.img", Volume(100));
  sources_.SetBadSectors("/images/bad.img", {0});
  struct Case {
    std::string path;
    bool partitionImage;
    Selection expected;
  };
  for (const Case& c : {Case{"/images/fat.img", true, Selection::kChosen},
                        Case{"/images/fat.img", false, Selection::kChosen},
                        Case{"/images/ntfs.img", true, Selection::kChosen},
                        Case{"/images/bad.img", true, Selection::kChosenWithoutOptions},
                        Case{"/images/missing.img", true, Selection::kRefused}}) {
    SCOPED_TRACE(c.path + (c.partitionImage ? " as a partition" : " as a disk"));
    ScriptedUi menuUi, typedUi;
    Workspace menu(menuUi, Opener()), typed(typedUi, Opener());
    menuUi.yesNoAnswers.push_back(c.partitionImage);
    ASSERT_EQ(ChooseImageFile(menu, c.path), c.expected);
    const SourceChoice choice = ChooseImageSource(typed, c.path, c.partitionImage);
    ASSERT_EQ(choice.selection, c.expected);

    const Tab1Controls untouched;
    EXPECT_EQ(typed.controls().tab1.edtDataStr, untouched.edtDataStr);
    EXPECT_EQ(typed.controls().tab1.edtbegin, untouched.edtbegin);
    EXPECT_EQ(typed.controls().tab1.chkfreespace, untouched.chkfreespace);
    EXPECT_EQ(typed.source().SourcePath, menu.source().SourcePath);
    EXPECT_EQ(typed.source().TotalSectors, menu.source().TotalSectors);
    EXPECT_EQ(typed.source().SectorLimit, menu.source().SectorLimit);
    EXPECT_EQ(typed.source().HasFileSystem, menu.source().HasFileSystem);
    EXPECT_EQ(typedUi.messages.size(), menuUi.messages.size());
    if (c.expected == Selection::kRefused) continue;

    const Tab1Controls& shown = menu.controls().tab1;
    EXPECT_EQ(choice.caption, shown.edtDataStr);
    EXPECT_EQ(choice.freeSpaceOnly, shown.chkfreespace);
    EXPECT_EQ(choice.freeSpaceAvailable, shown.chkfreespaceEnabled);
    ASSERT_EQ(choice.range.has_value(), c.expected == Selection::kChosen);
    if (choice.range) {
      EXPECT_EQ(std::to_string(choice.range->begin), shown.edtbegin);
      EXPECT_EQ(std::to_string(choice.range->end), shown.edtend);
      EXPECT_EQ(std::to_string(choice.range->sectorsPerCluster), shown.edtsecs);
      EXPECT_EQ(choice.range->fileSystemName, shown.label5);
    } else {
      EXPECT_EQ(shown.edtbegin, untouched.edtbegin);  // the options keep their values
    }
  }
}

TEST(RealImageSelectionTest, Fat32PartitionImageFromMkfsSetsTheScanOptions) {
  RAVELIN_REQUIRE_TOOLS_OR_SKIP("mkfs.vfat", "mcopy", "mdel", "mshowfat");
  test::ScratchDir dir;
  test::SyntheticDatabase target(40, 3);
  gen::Fat32ImageOptions o;
  o.sectorsPerCluster = 8;
  o.decoys.count = 2;
  gen::Manifest m;
  ASSERT_TRUE(gen::BuildFat32Image(target, o, dir.File("p.img"), m).ok());

  ScriptedUi ui;
  Workspace ws(ui);
  ui.dialogAnswers.push_back(dir.File("p.img"));
  ui.yesNoAnswers.push_back(true);
  ASSERT_EQ(N7Click(ws), Selection::kChosen);
  const std::uint64_t data = m.partition->dataStartSector;
  EXPECT_EQ(ws.source().DataStartSector, data);
  EXPECT_EQ(ws.source().SectorLimit, m.totalSectors);
  EXPECT_EQ(ws.controls().tab1.edtbegin, std::to_string(data));
  EXPECT_EQ(ws.controls().tab1.edtend, std::to_string(m.totalSectors));
  EXPECT_EQ(ws.controls().tab1.edtsecs, "8");
  EXPECT_EQ(ws.controls().tab1.label5, "FAT32");
  EXPECT_TRUE(ws.controls().tab1.chkfreespace);
  EXPECT_TRUE(ws.controls().tab1.chkfreespaceEnabled);

  // The free-space map the scan will build agrees: the deleted database's first sector is
  // in a free cluster.
  NullReporter reporter;
  ASSERT_EQ(ws.freeSpaceMap().BuildFreeSpaceMap(ws.source(), ws.reader(), reporter), 0);
  const auto fragments = m.FragmentsOf(m.TargetFile());
  ASSERT_FALSE(fragments.empty());
  EXPECT_FALSE(ws.freeSpaceMap().IsClusterInUse(fragments.front().extent.diskSector));
}

}  // namespace
}  // namespace ravelin
