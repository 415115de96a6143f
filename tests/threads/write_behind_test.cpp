// The writer's write-behind sink: blocks go on in the order they were handed over, on a
// thread of their own, and a block that fails stops everything after it. Run under
// ThreadSanitizer by scripts/test.
#include "assembly/write_behind.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "page/page_format.h"

namespace ravelin {
namespace {

// Keeps what reaches it as text ("A<first byte>x<pages>", "Z<pages>", "T<first byte>"),
// failing the Append numbered `failAt` (from 1).
class RecordingSink final : public MdfSink {
 public:
  explicit RecordingSink(int failAt = 0) : failAt_(failAt) {}
  bool Append(ByteView pages) override {
    if (++appends_ == failAt_) return false;
    log_.push_back("A" + std::to_string(pages[0]) + "x" + std::to_string(pages.size() / kPageSize));
    return true;
  }
  bool AppendZeros(std::uint64_t bytes) override {
    log_.push_back("Z" + std::to_string(bytes / kPageSize));
    return true;
  }
  bool OverwriteTail(PageView page) override {
    log_.push_back("T" + std::to_string(page[0]));
    return true;
  }
  const std::vector<std::string>& Log() const { return log_; }

 private:
  int failAt_;
  int appends_ = 0;
  std::vector<std::string> log_;
};

TEST(WriteBehindTest, BlocksGoOnInOrderAndAFailureStopsWhatFollows) {
  // Odd blocks are long enough to be handed to the thread, even ones go on at once.
  constexpr std::size_t kLong = WriteBehind::kHandOverBytes;
  const std::string longPages = std::to_string(kLong / kPageSize);
  std::array<std::vector<std::uint8_t>, 2> buffers;
  std::array<std::uint8_t, kPageSize> tail{};
  tail[0] = 99;
  struct Case {
    int failAt;
    std::vector<std::string> log;
    bool drained;
  };
  for (const Case& c :
       {Case{0, {"A1x" + longPages, "Z3", "A2x2", "T99", "A3x" + longPages, "A4x2"}, true},
        Case{3, {"A1x" + longPages, "Z3", "A2x2", "T99"}, false}}) {
    RecordingSink sink(c.failAt);
    bool ok = true;
    {
      WriteBehind behind(sink);
      // The caller refills a buffer only after the call that follows its hand-over.
      for (std::uint8_t b = 1; b <= 4 && ok; ++b) {
        std::vector<std::uint8_t>& block = buffers[b % 2];
        block.assign(b % 2 == 1 ? kLong : 2 * kPageSize, b);
        ok = behind.Append(ByteView(block.data(), block.size()));
        if (ok && b == 1) ok = behind.AppendZeros(3 * kPageSize);
        if (ok && b == 2) ok = behind.OverwriteTail(PageView(tail.data(), kPageSize));
      }
      ok = behind.Drain() && ok;
    }
    EXPECT_EQ(sink.Log(), c.log) << "fail at " << c.failAt;
    EXPECT_EQ(ok, c.drained) << "fail at " << c.failAt;
  }
}

}  // namespace
}  // namespace ravelin
