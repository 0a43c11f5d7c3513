// ScaledCopy against the box formula evaluated pixel by pixel in integers,
// and ScaledSize.
#include <ombrix/host/pixel_ops.h>

#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace ombrix {
namespace {

using pixtest::TestWorld;

// round(n / d), halves up, from the integer remainder.
uint8_t RoundRatio(unsigned __int128 n, unsigned __int128 d) {
  const unsigned __int128 q = n / d, r = n % d;
  return uint8_t(q + (2 * r >= d ? 1 : 0));
}

// Destination pixel (dx, dy): its footprint, scaled by the destination size
// on each axis, is [dx * sw, (dx + 1) * sw] x [dy * sh, (dy + 1) * sh];
// source pixel (sx, sy) is [sx * dw, (sx + 1) * dw] x [sy * dh, (sy + 1) * dh].
// Every source pixel is visited with its 2D overlap area.
PF_Pixel RefBox(const TestWorld& src, int dw, int dh, int dx, int dy) {
  const int64_t sw = src.pf.width, sh = src.pf.height;
  auto overlap = [](int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    return std::max<int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
  };
  unsigned __int128 a_sum = 0, c_sum[3] = {0, 0, 0};
  for (int64_t sy = 0; sy < sh; ++sy)
    for (int64_t sx = 0; sx < sw; ++sx) {
      const int64_t area = overlap(dx * sw, (dx + 1) * sw, sx * dw, (sx + 1) * dw) *
                           overlap(dy * sh, (dy + 1) * sh, sy * dh, (sy + 1) * dh);
      const PF_Pixel& p = src.At(int(sx), int(sy));
      a_sum += unsigned(area * p.alpha);
      c_sum[0] += unsigned(area * p.alpha * p.red);
      c_sum[1] += unsigned(area * p.alpha * p.green);
      c_sum[2] += unsigned(area * p.alpha * p.blue);
    }
  if (a_sum == 0) return PF_Pixel{};
  return PF_Pixel{RoundRatio(a_sum, unsigned(sw * sh)), RoundRatio(c_sum[0], a_sum), RoundRatio(c_sum[1], a_sum),
                  RoundRatio(c_sum[2], a_sum)};
}

void ExpectBoxCopy(int sw, int sh, int dw, int dh, uint32_t seed) {
  SCOPED_TRACE(::testing::Message() << sw << "x" << sh << " -> " << dw << "x" << dh);
  TestWorld src(sw, sh, 8);
  src.Randomize(seed);
  TestWorld dst(dw, dh, 12);
  ScaledCopy(src.pf, dst.pf);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x) ASSERT_EQ(dst.At(x, y), RefBox(src, dw, dh, x, y)) << "at " << x << "," << y;
  EXPECT_TRUE(dst.PaddingIntact());
}

TEST(ScaledCopy, ReductionsOnOddSizes) {
  ExpectBoxCopy(9, 7, ScaledSize(9, 1, 2), ScaledSize(7, 1, 2), 1);  // 5x4
  ExpectBoxCopy(9, 7, 3, ScaledSize(7, 1, 3), 2);                    // 3x3
  ExpectBoxCopy(9, 7, 6, ScaledSize(7, 2, 3), 3);                    // 6x5
  ExpectBoxCopy(13, 11, 7, 6, 4);
  ExpectBoxCopy(31, 3, 4, 1, 5);
  ExpectBoxCopy(5, 5, 1, 1, 6);
}

TEST(ScaledCopy, EnlargementAndMixedAxes) {
  ExpectBoxCopy(3, 2, 7, 5, 7);
  ExpectBoxCopy(1, 1, 4, 3, 8);
  ExpectBoxCopy(5, 4, 11, 9, 9);
  ExpectBoxCopy(5, 5, 3, 8, 10);  // narrower and taller
  ExpectBoxCopy(7, 3, 7, 5, 11);  // one axis equal: alpha-0 colour is not kept
}

TEST(ScaledCopy, HandComputedAverages) {
  TestWorld src(3, 1);
  src.At(0, 0) = PF_Pixel{255, 0, 0, 0};
  src.At(1, 0) = PF_Pixel{255, 90, 0, 0};
  src.At(2, 0) = PF_Pixel{255, 180, 0, 0};
  TestWorld two(2, 1);
  ScaledCopy(src.pf, two.pf);
  // [0, 1.5]: (0 + 90 / 2) / 1.5 = 30; [1.5, 3]: (45 + 180) / 1.5 = 150.
  EXPECT_EQ(two.At(0, 0), (PF_Pixel{255, 30, 0, 0}));
  EXPECT_EQ(two.At(1, 0), (PF_Pixel{255, 150, 0, 0}));

  TestWorld pair(2, 1);
  pair.At(0, 0) = PF_Pixel{255, 200, 0, 0};
  pair.At(1, 0) = PF_Pixel{0, 9, 9, 9};
  TestWorld one(1, 1);
  ScaledCopy(pair.pf, one.pf);
  EXPECT_EQ(one.At(0, 0), (PF_Pixel{128, 200, 0, 0}));  // the transparent colour does not leak
}

TEST(ScaledCopy, EqualSizeCopiesEveryByte) {
  TestWorld src(7, 5, 8);
  src.Randomize(12);
  src.At(3, 2) = PF_Pixel{0, 11, 22, 33};  // colour under alpha 0 survives
  TestWorld dst(7, 5, 20);
  ScaledCopy(src.pf, dst.pf);
  for (int y = 0; y < 5; ++y) EXPECT_EQ(std::memcmp(&dst.At(0, y), &src.At(0, y), 7 * 4), 0) << "row " << y;
  EXPECT_TRUE(dst.PaddingIntact());
}

TEST(ScaledCopy, EmptySourceClearsDestination) {
  TestWorld dst(3, 2, 4);
  dst.Randomize(1);
  PF_EffectWorld empty{};
  ScaledCopy(empty, dst.pf);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(dst.At(x, y), (PF_Pixel{0, 0, 0, 0}));
  EXPECT_TRUE(dst.PaddingIntact());
}

TEST(ScaledSize, RoundsUp) {
  EXPECT_EQ(ScaledSize(1920, 1, 2), 960);
  EXPECT_EQ(ScaledSize(1921, 1, 2), 961);
  EXPECT_EQ(ScaledSize(7, 2, 3), 5);  // 14 / 3 = 4.67
  EXPECT_EQ(ScaledSize(9, 1, 3), 3);
  EXPECT_EQ(ScaledSize(1, 1, 4), 1);
  EXPECT_EQ(ScaledSize(1080, 1, 1), 1080);
  EXPECT_EQ(ScaledSize(2000000000, 3, 2), 2147483647);  // limited, not wrapped
  EXPECT_EQ(ScaledSize(640, 0, 2), 640);                // no factor: unchanged
}

}  // namespace
}  // namespace ombrix
