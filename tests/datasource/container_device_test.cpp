// Container images as sources: the signature decides the kind, and the guest disk read
// through the container's library is the raw disk it was made from, byte for byte, at any
// offset and length; a container the library cannot open is refused, saying why.
#include "datasource/container_device.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "gen/fs_tools.h"
#include "support/container_images.h"
#include "support/image_fixtures.h"

namespace ravelin {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text, std::size_t size = 512) {
  std::vector<std::uint8_t> bytes(size, 0);
  std::copy(text.begin(), text.end(), bytes.begin());
  return bytes;
}

TEST(IdentifyContainer, NamesEachKindBySignatureAndAnythingElseRaw) {
  const std::vector<std::uint8_t> mbr = [] {
    std::vector<std::uint8_t> s(512, 0);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
  }();
  const std::vector<std::uint8_t> none;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> head, tail;
    ContainerKind kind;
  };
  const std::vector<Case> cases = {
      {"E01", Bytes({"EVF\x09\x0d\x0a\xff\x00", 8}), none, ContainerKind::kE01},
      {"Ex01", Bytes({"EVF2\x0d\x0a\x81\x00", 8}), none, ContainerKind::kEx01},
      {"EVF without the rest", Bytes("EVF"), none, ContainerKind::kRaw},
      {"VHDX", Bytes("vhdxfile"), none, ContainerKind::kVhdx},
      {"dynamic VHD: footer copy at 0", Bytes("conectix"), none, ContainerKind::kVhd},
      {"fixed VHD: footer at the end", mbr, Bytes("conectix"), ContainerKind::kVhd},
      {"footer text not in the last sector", mbr, Bytes("xconectix"), ContainerKind::kRaw},
      {"VMDK sparse", Bytes("KDMV"), none, ContainerKind::kVmdk},
      {"VMDK descriptor", Bytes("# Disk DescriptorFile\nversion=1\n"), none, ContainerKind::kVmdk},
      {"QCOW version 1", Bytes({"QFI\xfb\0\0\0\x01", 8}), none, ContainerKind::kQcow},
      {"QCOW2 version 3", Bytes({"QFI\xfb\0\0\0\x03", 8}), none, ContainerKind::kQcow2},
      {"MBR disk", mbr, mbr, ContainerKind::kRaw},
      {"empty file", none, none, ContainerKind::kRaw},
      {"three bytes", {'Q', 'F', 'I'}, none, ContainerKind::kRaw},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdentifyContainer(c.head, c.tail), c.kind) << c.name;
  }
}

// A raw disk of random bytes with a zeroed stretch (which sparse containers do not store),
// and every container made from it: made once for this test program.
class ContainerDeviceTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kDiskBytes = 6 << 20;

  static void SetUpTestSuite() {
    dir_ = new test::ScratchDir;
    raw_ = new std::vector<std::uint8_t>(kDiskBytes);
    std::mt19937 random(22);
    for (auto& b : *raw_) b = static_cast<std::uint8_t>(random());
    std::fill(raw_->begin() + (2 << 20), raw_->begin() + (4 << 20), 0);
    std::ofstream(dir_->File("disk.raw"), std::ios::binary)
        .write(reinterpret_cast<const char*>(raw_->data()),
               static_cast<std::streamsize>(kDiskBytes));
    images_ = new std::vector<test::ContainerImage>;
    made_ = test::MakeContainerImages(dir_->File("disk.raw"), dir_->File(""), *images_, *why_);
  }
  static void TearDownTestSuite() {
    delete images_;
    delete raw_;
    delete dir_;
  }
  void SetUp() override { ASSERT_TRUE(made_) << *why_; }

  static inline test::ScratchDir* dir_ = nullptr;
  static inline std::vector<std::uint8_t>* raw_ = nullptr;
  static inline std::vector<test::ContainerImage>* images_ = nullptr;
  static inline bool made_ = false;
  static inline std::string* why_ = new std::string;
};

TEST_F(ContainerDeviceTest, GuestReadsAsTheRawDiskAtAnyOffsetAndLength) {
  for (const test::ContainerImage& image : *images_) {
    SCOPED_TRACE(image.label);
    OpenResult opened = OpenSystemDevice(image.path);
    ASSERT_TRUE(opened.device) << opened.reason;
    Device& guest = *opened.device;
    const auto container = guest.Container();
    ASSERT_TRUE(container);
    EXPECT_EQ(container->kind, image.kind);
    EXPECT_EQ(guest.LogicalSectorSize(), 512u);
    // qemu rounds a dynamic VHD up to whole cylinders: the guest may be a little larger,
    // and its added sectors are zeros.
    ASSERT_GE(guest.SizeBytes(), kDiskBytes);
    EXPECT_EQ(container->guestBytes, guest.SizeBytes());
    if (image.label != "vhd-dynamic") {
      EXPECT_EQ(guest.SizeBytes(), kDiskBytes);
    }

    // Whole, in pieces that straddle the container's blocks and the zeroed stretch.
    std::vector<std::uint8_t> all(kDiskBytes);
    for (std::size_t at = 0, step = 3 * 4096 + 512; at < kDiskBytes; at += step) {
      const std::size_t n = std::min(step, kDiskBytes - at);
      ASSERT_TRUE(guest.ReadAt(at, MutableBytes(all.data() + at, n))) << at;
    }
    EXPECT_TRUE(all == *raw_);
    std::vector<std::uint8_t> one(1);
    ASSERT_TRUE(guest.ReadAt(3 * 1048576 + 17, one));
    EXPECT_EQ(one[0], 0);
    std::vector<std::uint8_t> tail(512);
    ASSERT_TRUE(guest.ReadAt(guest.SizeBytes() - 512, tail));
    // Past the end fails, as a read past a raw image's end does.
    std::vector<std::uint8_t> over(1024);
    EXPECT_FALSE(guest.ReadAt(guest.SizeBytes() - 512, over));
    EXPECT_FALSE(guest.ReadAt(guest.SizeBytes(), one));
    EXPECT_FALSE(guest.ReadAt(~std::uint64_t{0}, one));
  }
  // A raw image stays a plain file.
  OpenResult raw = OpenSystemDevice(dir_->File("disk.raw"));
  ASSERT_TRUE(raw.device);
  EXPECT_FALSE(raw.device->Container());
}

// `bytes` written over the file at `offset`.
void Overwrite(const std::string& path, std::uint64_t offset, std::string_view bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string CopyOf(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

const test::ContainerImage& Find(const std::vector<test::ContainerImage>& images,
                                 std::string_view label) {
  for (const auto& image : images) {
    if (image.label == label) return image;
  }
  throw std::runtime_error("no image " + std::string(label));
}

TEST_F(ContainerDeviceTest, RefusesWhatTheLibraryCannotOpenSayingWhy) {
  struct Case {
    const char* name;
    std::string path;
    const char* said;  // part of the reason
  };
  std::vector<Case> cases;
  // Damaged headers: both VHDX headers' signatures, the QCOW2 header's version.
  const std::string vhdx = CopyOf(Find(*images_, "vhdx-dynamic").path, dir_->File("bad.vhdx"));
  Overwrite(vhdx, 64 * 1024, "XXXX");
  Overwrite(vhdx, 128 * 1024, "XXXX");
  cases.push_back({"damaged VHDX headers", vhdx, "VHDX: "});
  const std::string qcow = CopyOf(Find(*images_, "qcow2-v3").path, dir_->File("bad.qcow2"));
  Overwrite(qcow, 4, std::string("\0\0\0\x09", 4));
  cases.push_back({"QCOW2 version 9", qcow, "QCOW2: "});
  // A split E01 with its second segment gone.
  const std::string split = Find(*images_, "e01-split").path;
  std::filesystem::create_directory(dir_->File("gap"));
  const std::string base = split.substr(0, split.size() - 4);
  ASSERT_TRUE(std::filesystem::exists(base + ".E03")) << "the split E01 has fewer than 3 parts";
  for (const char* ext : {".E01", ".E03"}) CopyOf(base + ext, dir_->File("gap/split") + ext);
  cases.push_back(
      {"E01 missing a segment", dir_->File("gap/split.E01"), "segment file is missing"});
  // Ex01: libewf 20140813 reads version 1 segment files only.
  const std::string ex01 = dir_->File("image.Ex01");
  std::ofstream(ex01, std::ios::binary)
      << std::string("EVF2\r\n\x81\0", 8) << std::string(4096, '\0');
  cases.push_back({"Ex01", ex01, "Ex01 (EWF version 2) images cannot be read"});
  // A QCOW2 overlay holds only what changed since its backing file.
  const std::string overlay = dir_->File("overlay.qcow2");
  ASSERT_TRUE(gen::RunToolChecked({"qemu-img", "create", "-f", "qcow2", "-F", "raw", "-b",
                                   dir_->File("disk.raw"), overlay})
                  .ok());
  cases.push_back({"QCOW2 with a backing file", overlay, "backing file"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OpenResult opened = OpenSystemDevice(c.path);
    EXPECT_FALSE(opened.device);
    EXPECT_EQ(opened.error, kContainerOpenError);
    EXPECT_NE(opened.reason.find(c.said), std::string::npos) << opened.reason;
  }
}

TEST_F(ContainerDeviceTest, AnE01ChunkFailingItsChecksumIsUnreadableAndOnlyIt) {
  // An uncompressed E01 keeps the disk's bytes as they are, each chunk (32 KiB) with its
  // checksum: a byte changed inside a chunk makes that chunk's reads fail.
  ASSERT_TRUE(gen::RunToolChecked(
                  {"ewfacquire", "-u", "-q", "-t", dir_->File("plain"), dir_->File("disk.raw")})
                  .ok());
  const std::string path = dir_->File("plain.E01");
  std::ifstream in(path, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t sector = 100;  // in the second chunk, which holds sectors 64..127
  const std::string probe(reinterpret_cast<const char*>(raw_->data()) + sector * 512, 64);
  const std::size_t at = file.find(probe);
  ASSERT_NE(at, std::string::npos);
  Overwrite(path, at, std::string(1, static_cast<char>(file[at] ^ 0xff)));

  OpenResult opened = OpenSystemDevice(path);
  ASSERT_TRUE(opened.device) << opened.reason;
  std::vector<std::uint8_t> s(512);
  EXPECT_FALSE(opened.device->ReadAt(sector * 512, s));
  EXPECT_FALSE(opened.device->ReadAt(64 * 512, s));  // the same chunk of 64 sectors
  ASSERT_TRUE(opened.device->ReadAt(128 * 512, s));  // the next chunk
  EXPECT_TRUE(std::equal(s.begin(), s.end(), raw_->begin() + 128 * 512));
}

}  // namespace
}  // namespace ravelin
