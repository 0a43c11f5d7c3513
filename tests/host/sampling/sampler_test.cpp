// SubpixelSample and AreaSample against the sampling formulas evaluated
// directly in floating point over the whole world.
#include <ombrix/host/pixel_ops.h>

#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace ombrix {
namespace {

using pixtest::TestWorld;

// Both references visit every pixel of the world with its weight (zero for
// most) and resolve in long double. All weights are multiples of 2^-16 per
// axis, so products and sums are exact in its 64-bit mantissa for these small
// worlds, and the final quotients are far from being misrounded.
PF_Pixel Resolve(long double a_sum, const long double c_sum[3], long double area) {
  if (a_sum == 0) return PF_Pixel{};
  auto round_byte = [](long double v) { return uint8_t(std::min<long double>(255, std::floor(v + 0.5L))); };
  return PF_Pixel{round_byte(a_sum / area), round_byte(c_sum[0] / a_sum), round_byte(c_sum[1] / a_sum),
                  round_byte(c_sum[2] / a_sum)};
}

PF_Pixel RefBilinear(const TestWorld& w, PF_Fixed X, PF_Fixed Y) {
  const long double x = X / 65536.0L, y = Y / 65536.0L;
  long double a_sum = 0, c_sum[3] = {0, 0, 0};
  for (int py = 0; py < w.pf.height; ++py)
    for (int px = 0; px < w.pf.width; ++px) {
      const long double wx = std::max(0.0L, 1 - std::fabs(x - px));
      const long double wy = std::max(0.0L, 1 - std::fabs(y - py));
      const PF_Pixel& p = w.At(px, py);
      const long double wa = wx * wy * p.alpha;
      a_sum += wa;
      c_sum[0] += wa * p.red;
      c_sum[1] += wa * p.green;
      c_sum[2] += wa * p.blue;
    }
  return Resolve(a_sum, c_sum, 1);
}

PF_Pixel RefArea(const TestWorld& w, PF_Fixed X, PF_Fixed Y, PF_Fixed RX, PF_Fixed RY) {
  const long double x = X / 65536.0L, y = Y / 65536.0L;
  const long double rx = std::max(RX / 65536.0L, 0.5L), ry = std::max(RY / 65536.0L, 0.5L);
  auto overlap = [](long double lo, long double hi, int i) {
    return std::max(0.0L, std::min(hi, i + 0.5L) - std::max(lo, i - 0.5L));
  };
  long double a_sum = 0, c_sum[3] = {0, 0, 0};
  for (int py = 0; py < w.pf.height; ++py)
    for (int px = 0; px < w.pf.width; ++px) {
      const long double cover = overlap(x - rx, x + rx, px) * overlap(y - ry, y + ry, py);
      const PF_Pixel& p = w.At(px, py);
      a_sum += cover * p.alpha;
      c_sum[0] += cover * p.alpha * p.red;
      c_sum[1] += cover * p.alpha * p.green;
      c_sum[2] += cover * p.alpha * p.blue;
    }
  return Resolve(a_sum, c_sum, 4 * rx * ry);
}

constexpr PF_Fixed kOne = 0x10000;

// Positions in 16.16 along one axis of `size` pixels: centres, halves, odd
// fractions, the edges, negative and far outside.
std::vector<PF_Fixed> Positions(int size) {
  std::vector<PF_Fixed> v = {0,
                             1,
                             kOne / 2,
                             -1,
                             -kOne / 2,
                             -kOne / 2 - 1,
                             -kOne,
                             -kOne - 12345,
                             (size - 1) * kOne,
                             (size - 1) * kOne + 1,
                             size * kOne - 1,
                             size * kOne,
                             size * kOne + kOne / 2,
                             3 * kOne + 0x4000,
                             2 * kOne + 0xC001,
                             1 << 30,
                             -(1 << 30),
                             INT_MAX,
                             INT_MIN};
  for (int i = 0; i < size; ++i) {
    v.push_back(i * kOne);
    v.push_back(i * kOne + kOne / 2);
    v.push_back(i * kOne + 0x2B4D);
  }
  return v;
}

TEST(SubpixelSample, MatchesBilinearFormulaOnPaddedWorld) {
  TestWorld w(7, 5, 12);
  w.Randomize(11);
  for (PF_Fixed y : Positions(5))
    for (PF_Fixed x : Positions(7))
      ASSERT_EQ(SubpixelSample(w.pf, x, y), RefBilinear(w, x, y)) << "x " << x << " y " << y;
}

TEST(SubpixelSample, ConstantAlphaAndTransparentNeighbours) {
  // Same alpha everywhere (the common-alpha shortcut) and a single opaque
  // pixel among transparent ones with bright colour bytes.
  TestWorld flat(4, 3);
  flat.Randomize(5);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) flat.At(x, y).alpha = 200;
  TestWorld spot(3, 3, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) spot.At(x, y) = PF_Pixel{0, 255, 255, 255};
  spot.At(1, 1) = PF_Pixel{255, 10, 20, 30};
  for (PF_Fixed y : Positions(3))
    for (PF_Fixed x : Positions(4)) {
      ASSERT_EQ(SubpixelSample(flat.pf, x, y), RefBilinear(flat, x, y)) << x << "," << y;
      ASSERT_EQ(SubpixelSample(spot.pf, x, y), RefBilinear(spot, x, y)) << x << "," << y;
    }
}

TEST(SubpixelSample, HandComputedValues) {
  TestWorld w(2, 1, 8);
  w.At(0, 0) = PF_Pixel{255, 200, 0, 0};
  w.At(1, 0) = PF_Pixel{0, 9, 9, 255};
  // Halfway: A = 127.5 -> 128; colour weighted by alpha keeps pure red.
  EXPECT_EQ(SubpixelSample(w.pf, kOne / 2, 0), (PF_Pixel{128, 200, 0, 0}));
  // Half a pixel left of the first centre: half transparent black.
  EXPECT_EQ(SubpixelSample(w.pf, -kOne / 2, 0), (PF_Pixel{128, 200, 0, 0}));
  // A quarter: A = 191.25 -> 191.
  EXPECT_EQ(SubpixelSample(w.pf, kOne / 4, 0), (PF_Pixel{191, 200, 0, 0}));
  // On a transparent pixel's centre: all zero, its colour bytes not shown.
  EXPECT_EQ(SubpixelSample(w.pf, kOne, 0), (PF_Pixel{0, 0, 0, 0}));
  // -1 + 1/65536 floors to pixel -1, leaving weight 1/65536 on pixel 0:
  // A = 255/65536 rounds to 0, while the colour is still pixel 0's.
  EXPECT_EQ(SubpixelSample(w.pf, -kOne + 1, 0), (PF_Pixel{0, 200, 0, 0}));
  // Just left of pixel 0's centre (weight 65535/65536): A rounds to 255.
  EXPECT_EQ(SubpixelSample(w.pf, -1, 0), (PF_Pixel{255, 200, 0, 0}));
  PF_EffectWorld empty{};
  EXPECT_EQ(SubpixelSample(empty, 0, 0), (PF_Pixel{0, 0, 0, 0}));
}

// Radii of 24 pixels make the box area pass 2^43 units (integer rounding).
TEST(AreaSample, MatchesBoxFormulaForRadiiAroundHalfAPixel) {
  TestWorld w(7, 5, 20);
  w.Randomize(23);
  const PF_Fixed radii[] = {INT_MIN, -kOne, 0,       100,          kOne / 2 - 1, kOne / 2, kOne / 2 + 1,
                            0xC000,  kOne,  0x1A3C7, 5 * kOne / 2, 9 * kOne,     24 * kOne};
  for (PF_Fixed rx : radii)
    for (PF_Fixed ry : {PF_Fixed(0), PF_Fixed(kOne / 2), PF_Fixed(0xC000), PF_Fixed(3 * kOne + 7), PF_Fixed(24 * kOne)})
      for (PF_Fixed y : Positions(5))
        for (PF_Fixed x : Positions(7))
          ASSERT_EQ(AreaSample(w.pf, x, y, rx, ry), RefArea(w, x, y, rx, ry))
              << "x " << x << " y " << y << " rx " << rx << " ry " << ry;
}

TEST(AreaSample, SmallRadiiEqualBilinear) {
  TestWorld w(6, 4, 4);
  w.Randomize(3);
  for (PF_Fixed y : Positions(4))
    for (PF_Fixed x : Positions(6)) {
      const PF_Pixel bilinear = RefBilinear(w, x, y);
      ASSERT_EQ(AreaSample(w.pf, x, y, 0, 0), bilinear);
      ASSERT_EQ(AreaSample(w.pf, x, y, kOne / 2, -5), bilinear);
    }
}

TEST(AreaSample, HandComputedCoverage) {
  TestWorld w(4, 4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) w.At(x, y) = PF_Pixel{255, 40, 50, 60};
  // Fully inside: the mean of one colour.
  EXPECT_EQ(AreaSample(w.pf, 2 * kOne, 2 * kOne, kOne, kOne), (PF_Pixel{255, 40, 50, 60}));
  // Box [-1, 1]^2 at the corner: 1.5 x 1.5 of 4 inside, 255 * 2.25 / 4 = 143.4375.
  EXPECT_EQ(AreaSample(w.pf, 0, 0, kOne, kOne), (PF_Pixel{143, 40, 50, 60}));
  // A box of 2^30 square pixels around the world: alpha rounds to 0, the
  // colour is still the covered pixels' colour (the sum is not zero).
  EXPECT_EQ(AreaSample(w.pf, 0, 0, 1 << 30, 1 << 30), (PF_Pixel{0, 40, 50, 60}));
  // A box wholly outside.
  EXPECT_EQ(AreaSample(w.pf, 10 * kOne, 0, kOne, kOne), (PF_Pixel{0, 0, 0, 0}));
}

}  // namespace
}  // namespace ombrix
