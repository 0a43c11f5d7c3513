// Helpers shared by the pixel services' source files.
#pragma once

#include <pf/api.h>

#include <cstddef>
#include <cstdint>

namespace ombrix::pixel_ops {

using u128 = unsigned __int128;

inline const PF_Pixel* RowOf(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(w.data) + std::ptrdiff_t(y) * w.rowbytes);
}
inline PF_Pixel* RowOf(PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + std::ptrdiff_t(y) * w.rowbytes);
}

inline bool HasPixels(const PF_EffectWorld& w) { return w.data != nullptr && w.width > 0 && w.height > 0; }

// round(n / d) = floor(n / d + 1/2) for d > 0 and n <= 255 * d, exactly.
//
// Below 2^43 the quotient is taken in double: n and d are exact, the
// correctly rounded quotient (< 256) is within 2^-45 of n / d and adding
// 1/2 costs at most another 2^-45, while n / d + 1/2 is either an exact
// integer (then every step is exact: q = k + 1/2 is representable) or at
// least 1 / (2d) > 2^-44 away from the nearest integer. The floor is
// therefore the true one. Larger denominators use integer division, in 64
// bits while 2n + d fits.
inline uint32_t RoundQuotient(u128 n, u128 d) {
  if (d < (u128(1) << 43)) {
    const double q = double(uint64_t(n)) / double(uint64_t(d));
    return uint32_t(q + 0.5);  // positive: truncation is the floor
  }
  if (n < (u128(1) << 62) && d < (u128(1) << 62)) {
    const uint64_t n64 = uint64_t(n), d64 = uint64_t(d);
    return uint32_t((2 * n64 + d64) / (2 * d64));
  }
  return uint32_t((2 * n + d) / (2 * d));
}

inline uint8_t ClampByte(uint32_t v) { return v > 255 ? 255 : uint8_t(v); }

}  // namespace ombrix::pixel_ops
