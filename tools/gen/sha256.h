// SHA-256, so that a manifest can name each original file by its digest without running an
// outside program. Streaming: feed any number of spans, then take the digest once.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/bytes.h"

namespace ravelin::gen {

class PageSource;

class Sha256 {
 public:
  Sha256();
  void Update(ByteView bytes);
  // Finishes the digest; the object must not be updated afterwards.
  std::array<std::uint8_t, 32> Finish();
  // Finish() as 64 lower-case hex digits.
  std::string FinishHex();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockUsed_ = 0;
  std::uint64_t totalBytes_ = 0;
};

std::string Sha256Hex(ByteView bytes);
// Digest of the whole file that a page source stands for (PageCount() pages).
std::string Sha256OfPages(const PageSource& source);

}  // namespace ravelin::gen
