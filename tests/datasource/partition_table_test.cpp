#include "datasource/partition_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace ravelin {
namespace {

TEST(ClassifyImage, BootSectorsArePartitionImagesTablesAndTheRestWholeDisks) {
  struct Case {
    const char* name;
    std::size_t offset;  // where `text` goes in sector 0 (or sector 1 for GPT)
    const char* text;
    bool signature;       // 0x55 0xAA at the end of sector 0
    bool gpt;             // the text goes in sector 1
    ImageKind kind;
    const char* reason;
  };
  const Case cases[] = {
      {"FAT32", 82, "FAT32   ", true, false, ImageKind::kPartitionImage, "FAT32 boot sector"},
      {"NTFS", 3, "NTFS    ", true, false, ImageKind::kPartitionImage, "NTFS boot sector"},
      {"MBR", 446, "\x80", true, false, ImageKind::kWholeDiskImage, "MBR"},
      {"GPT", 0, "EFI PART", true, true, ImageKind::kWholeDiskImage, "GPT"},
      {"zeros", 0, "", false, false, ImageKind::kWholeDiskImage, "no boot sector"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> s0(512, 0), s1(512, 0);
    std::memcpy((c.gpt ? s1 : s0).data() + c.offset, c.text, std::strlen(c.text));
    if (c.signature) {
      s0[510] = 0x55;
      s0[511] = 0xAA;
    }
    const ImageKindGuess guess = ClassifyImage(s0, s1);
    EXPECT_EQ(guess.kind, c.kind);
    EXPECT_EQ(guess.reason, c.reason);
  }
  EXPECT_EQ(ClassifyImage({}, {}).kind, ImageKind::kWholeDiskImage) << "an empty image";
}

}  // namespace
}  // namespace ravelin
