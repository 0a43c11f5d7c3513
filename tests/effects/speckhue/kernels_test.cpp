// Speckhue's hue wrap and the clamps of lightness and saturation, which the
// host's conversion would otherwise hide (it wraps and clamps on its own).
#include "kernels.h"

#include <gtest/gtest.h>

namespace {

TEST(SpeckhueKernels, HueWrapsIntoOneTurn) {
  EXPECT_EQ(speckhue::WrapHue(0), 0);
  EXPECT_EQ(speckhue::WrapHue(0x1680000), 0);
  EXPECT_EQ(speckhue::WrapHue(-1), 0x1680000 - 1);
  EXPECT_EQ(speckhue::WrapHue(int64_t(0x1680000) * 7 + 5), 5);
  EXPECT_EQ(speckhue::WrapHue(-int64_t(0x1680000) * 9 - 65536), 359 * 65536);
}

// Shift with the largest amplitudes: hue stays in [0, 360) degrees;
// lightness and saturation stay in 0..0x10000 (0..0xFFFF for grain).
TEST(SpeckhueKernels, ShiftKeepsTheRanges) {
  speckhue::Block b{};
  b.amp[0] = float(10 << 16) * 360.0f;
  b.amp[1] = float(10 << 16);
  b.amp[2] = float(10 << 16);
  for (int64_t top : {0x10000, 0xFFFF}) {
    for (double n : {-1.0, -0.73, -0.01, 0.0, 0.4, 0.99993896484375}) {
      for (PF_Fixed h : {0, 1, 180 * 65536, 0x1680000 - 1}) {
        for (PF_Fixed l : {0, 0x8000, 0x10000}) {
          const double shift[3] = {n, n, -n};
          PF_Fixed hls[3] = {h, l, l};
          speckhue::Shift(b, shift, hls, top);
          ASSERT_GE(hls[0], 0);
          ASSERT_LT(hls[0], 0x1680000);
          ASSERT_GE(hls[1], 0);
          ASSERT_LE(hls[1], top);
          ASSERT_GE(hls[2], 0);
          ASSERT_LE(hls[2], top);
          // The hue moved by n x amplitude, modulo a turn.
          const int64_t moved = int64_t(n * double(b.amp[0]) + h);
          EXPECT_EQ((moved - hls[0]) % 0x1680000, 0);
        }
      }
    }
  }
  // Full lightness pushed up: 0x10000 in the plain modes, 0xFFFF in grain.
  const double up[3] = {0, 0.5, 0.5};
  PF_Fixed plain[3] = {0, 0x8000, 0x8000};
  speckhue::Shift(b, up, plain, 0x10000);
  EXPECT_EQ(plain[1], 0x10000);
  PF_Fixed grain[3] = {0, 0x8000, 0x8000};
  speckhue::Shift(b, up, grain, 0xFFFF);
  EXPECT_EQ(grain[1], 0xFFFF);
}

// The phase split: quarter turns, the fraction in single precision, and
// the four seeds s(n-1) .. s(n+2), never negative.
TEST(SpeckhueKernels, PhaseSeeds) {
  const speckhue::Phase zero = speckhue::PhaseOf(0);
  EXPECT_EQ(zero.n, 0);
  EXPECT_EQ(zero.phi, 0.0f);
  EXPECT_EQ(zero.seeds[0], 3641352u - 13793u);
  EXPECT_EQ(zero.seeds[1], 0u);
  EXPECT_EQ(zero.seeds[3], 27586u);
  const speckhue::Phase back = speckhue::PhaseOf(-45 * 65536);  // -0.5 quarter turn
  EXPECT_EQ(back.n, -1);
  EXPECT_EQ(back.phi, 0.5f);
  EXPECT_EQ(back.seeds[0], 3641352u - 2 * 13793u);
  EXPECT_EQ(speckhue::PhaseOf(264 * 90 * 65536).seeds[1], 0u);
}

}  // namespace
