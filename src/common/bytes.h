// Little-endian decoding and encoding over byte spans.
//
// Pages and boot sectors are read through these helpers only: never cast a struct onto
// on-disk bytes. The Load* functions are bounds-checked and answer 0 for any byte that
// lies outside the span, so an offset taken from a damaged page can never read past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace ravelin {

inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kPageSize = 8192;
inline constexpr std::size_t kSectorsPerPage = kPageSize / kSectorSize;  // 16
inline constexpr std::size_t kPageHeaderSize = 96;

using ByteView = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;
using PageView = std::span<const std::uint8_t, kPageSize>;
using MutablePage = std::span<std::uint8_t, kPageSize>;
using HeaderView = std::span<const std::uint8_t, kPageHeaderSize>;

// Unchecked decoding: the caller guarantees offset + width <= bytes.size().
inline std::uint16_t DecodeFixed16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t DecodeFixed32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t DecodeFixed64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(DecodeFixed32(p)) |
         (static_cast<std::uint64_t>(DecodeFixed32(p + 4)) << 32);
}

inline void EncodeFixed16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void EncodeFixed32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void EncodeFixed64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// True when [offset, offset + width) lies inside a span of `size` bytes.
inline bool InBounds(std::size_t size, std::size_t offset, std::size_t width) {
  return offset <= size && width <= size - offset;
}

// Bounds-checked decoding: 0 when the value would reach outside `bytes`.
inline std::uint8_t Load8(ByteView bytes, std::size_t offset) {
  return offset < bytes.size() ? bytes[offset] : 0;
}
inline std::uint16_t Load16(ByteView bytes, std::size_t offset) {
  return InBounds(bytes.size(), offset, 2) ? DecodeFixed16(bytes.data() + offset) : 0;
}
inline std::uint32_t Load32(ByteView bytes, std::size_t offset) {
  return InBounds(bytes.size(), offset, 4) ? DecodeFixed32(bytes.data() + offset) : 0;
}
inline std::uint64_t Load64(ByteView bytes, std::size_t offset) {
  return InBounds(bytes.size(), offset, 8) ? DecodeFixed64(bytes.data() + offset) : 0;
}

// Bounds-checked encoding: does nothing when the value would reach outside `bytes`.
inline void Store16(MutableBytes bytes, std::size_t offset, std::uint16_t v) {
  if (InBounds(bytes.size(), offset, 2)) EncodeFixed16(bytes.data() + offset, v);
}
inline void Store32(MutableBytes bytes, std::size_t offset, std::uint32_t v) {
  if (InBounds(bytes.size(), offset, 4)) EncodeFixed32(bytes.data() + offset, v);
}
inline void Store64(MutableBytes bytes, std::size_t offset, std::uint64_t v) {
  if (InBounds(bytes.size(), offset, 8)) EncodeFixed64(bytes.data() + offset, v);
}

}  // namespace ravelin
