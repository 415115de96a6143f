// Integer division to the nearest whole number, an exact half going to the even neighbour:
// the one rounding rule for page counts (SizeKB / 8), progress percentages and the left-page
// repair's trial count.
#pragma once

#include <cstdint>

namespace ravelin {

// numerator / denominator, rounded half to even. `denominator` must be positive. Exact for
// every int64 numerator (the remainder is compared, never doubled past the range).
constexpr std::int64_t RoundHalfEven(std::int64_t numerator, std::int64_t denominator) {
  std::int64_t q = numerator / denominator;
  std::int64_t r = numerator % denominator;  // same sign as numerator
  const std::int64_t half = denominator / 2;
  const bool exactHalf = denominator % 2 == 0 && (r == half || r == -half);
  if (r > 0 && (r > half || (exactHalf && (q & 1)))) ++q;
  if (r < 0 && (-r > half || (exactHalf && (q & 1)))) --q;
  return q;
}

// position × 100 / end to the nearest whole number, halves to even; 0 when end ≤ 0. The
// product is taken in 128 bits: sector numbers of large disks times 100 leave 64 bits.
constexpr int PercentOf(std::int64_t position, std::int64_t end) {
  if (end <= 0) return 0;
  __extension__ using Int128 = __int128;
  const Int128 scaled = static_cast<Int128>(position) * 100;
  Int128 q = scaled / end;
  const Int128 r = scaled % end;
  if (r > 0 && (2 * r > end || (2 * r == end && (q & 1)))) ++q;
  if (r < 0 && (-2 * r > end || (-2 * r == end && (q & 1)))) --q;
  return static_cast<int>(q);
}

}  // namespace ravelin
