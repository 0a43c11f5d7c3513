// The exact rounded quotient behind every premultiplied sample, checked
// across its three arithmetic ranges against the integer remainder.
#include "../../../host/src/pixel_ops_internal.h"

#include <gtest/gtest.h>

#include <random>

namespace ombrix::pixel_ops {
namespace {

uint32_t ByRemainder(u128 n, u128 d) {
  const u128 q = n / d, r = n % d;
  return uint32_t(q) + (2 * r >= d ? 1 : 0);
}

TEST(RoundQuotient, ExactInEveryRange) {
  std::mt19937_64 rng(7);
  // Denominators in the double range, the 64-bit range and the 128-bit range.
  for (int bits : {1, 20, 42, 43, 50, 61, 62, 70, 90}) {
    for (int i = 0; i < 20000; ++i) {
      u128 d = (u128(rng()) << 64 | rng()) >> (128 - bits);
      if (d == 0) d = 1;
      const uint32_t k = uint32_t(rng() % 256);
      // Exactly k + 1/2 (when d is even), just below and just above it, and
      // random numerators up to 255 d.
      const u128 half = u128(k) * d + d / 2;
      const u128 cases[] = {half, half - (half > 0 ? 1 : 0), half + 1, u128(k) * d,
                            (u128(rng()) << 64 | rng()) % (255 * d + 1)};
      for (u128 n : cases) {
        if (n > 255 * d) continue;
        ASSERT_EQ(RoundQuotient(n, d), ByRemainder(n, d))
            << "bits " << bits << " k " << k << " d " << uint64_t(d) << " n " << uint64_t(n);
      }
    }
  }
}

}  // namespace
}  // namespace ombrix::pixel_ops
