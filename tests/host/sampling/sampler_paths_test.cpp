// The samplers' fast forms against their plain forms, byte for byte: odd
// sizes, padded rows, alpha patterns that take the common-alpha and the
// general paths, positions inside, on and beyond every edge, radii from none
// to boxes larger than the world.
#include <ombrix/host/pixel_ops.h>

#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iterator>

namespace ombrix {
namespace {

using pixtest::TestWorld;

enum class Alpha { kOpaque, kRandom, kHalf, kClear };

TestWorld MakeWorld(int w, int h, int pad, Alpha alpha, uint32_t seed) {
  TestWorld world(w, h, pad);
  world.Randomize(seed);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      PF_Pixel& p = world.At(x, y);
      if (alpha == Alpha::kOpaque) p.alpha = 255;
      if (alpha == Alpha::kHalf) p.alpha = 128;
      if (alpha == Alpha::kClear) p.alpha = 0;
    }
  return world;
}

// A small generator of its own, so that the positions do not depend on the
// world's filling.
struct Positions {
  uint32_t s;
  uint32_t Next() { return s = s * 1664525u + 1013904223u; }
  // A 16.16 position from `below` pixels before 0 to `beyond` after `size`.
  PF_Fixed Along(int size, int margin) {
    const int64_t span = int64_t(size + 2 * margin) << 16;
    return PF_Fixed(int64_t(Next() % uint32_t(span)) - (int64_t(margin) << 16));
  }
};

TEST(SamplerPaths, FastFormsGiveThePlainFormsBytes) {
  struct Case {
    int w, h, pad;
    Alpha alpha;
  };
  const Case cases[] = {
      {1, 1, 0, Alpha::kRandom},   {2, 3, 4, Alpha::kOpaque},  {7, 5, 12, Alpha::kRandom}, {33, 17, 4, Alpha::kHalf},
      {19, 41, 0, Alpha::kOpaque}, {64, 9, 8, Alpha::kRandom}, {5, 5, 0, Alpha::kClear},
  };
  // Radii in 16.16: below, at and above half a pixel, fractional, and boxes
  // wider than every world here (the 128-bit sums).
  const PF_Fixed radii[] = {0, 0x4000, 0x8000, 0x8001, 0xC000, 0x10000, 0x1A3D7, 0x48000, 0x7FFFF, 0x2000000};
  uint32_t seed = 1;
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " pad " << k.pad << " alpha " << int(k.alpha));
    const TestWorld world = MakeWorld(k.w, k.h, k.pad, k.alpha, seed++);
    Positions pos{seed * 7919u};
    for (int n = 0; n < 3000; ++n) {
      PF_Fixed x = pos.Along(k.w, 3), y = pos.Along(k.h, 3);
      if (n % 5 == 0) x &= ~0xFFFF;  // on pixel centres along one axis or both
      if (n % 7 == 0) y &= ~0xFFFF;
      ASSERT_TRUE(SubpixelSample(world.pf, x, y) == SubpixelSampleReference(world.pf, x, y)) << x << ", " << y;
      const PF_Fixed rx = radii[n % std::size(radii)], ry = radii[(n / 3) % std::size(radii)];
      ASSERT_TRUE(AreaSample(world.pf, x, y, rx, ry) == AreaSampleReference(world.pf, x, y, rx, ry))
          << x << ", " << y << " radii " << rx << ", " << ry;
    }
  }
}

TEST(SamplerPaths, FarPositionsAndEmptyWorlds) {
  const TestWorld world = MakeWorld(6, 4, 4, Alpha::kRandom, 99);
  const TestWorld empty = [] {
    TestWorld e(6, 4);
    e.pf.data = nullptr;
    return e;
  }();
  const PF_Fixed far[] = {INT_MIN, INT_MIN + 1, -0x10001, -0x10000, -1, 0x5FFFF, 0x60000, 0x3FFFF, INT_MAX};
  for (const TestWorld* w : std::initializer_list<const TestWorld*>{&world, &empty})
    for (PF_Fixed x : far)
      for (PF_Fixed y : far) {
        EXPECT_TRUE(SubpixelSample(w->pf, x, y) == SubpixelSampleReference(w->pf, x, y)) << x << ", " << y;
        EXPECT_TRUE(AreaSample(w->pf, x, y, 0x30000, 0x18000) == AreaSampleReference(w->pf, x, y, 0x30000, 0x18000))
            << x << ", " << y;
      }
}

}  // namespace
}  // namespace ombrix
