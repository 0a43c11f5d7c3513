// The shared test image: the recurrence and its strides against known
// values, one state per pixel in row order, and the mix of RandomPixels.
#include "common/test_image.h"
#include "host/sampling/test_world.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using ombrix::pixtest::TestWorld;
using testimage::Lcg;

// From seed 1, the first draws of the classic C library rand().
TEST(TestImageLcg, RandFromSeedOne) {
  Lcg rng{1};
  for (uint32_t want : {16838u, 5758u, 10113u, 17515u, 31051u}) EXPECT_EQ(rng.Rand15(), want);
}

TEST(TestImageLcg, StrideIsThatManySteps) {
  // Three steps at once: the constants the three-draw skip of several effects uses.
  EXPECT_EQ(Lcg{}.Stride(3).multiplier, 0x807DBCB5u);
  EXPECT_EQ(Lcg{}.Stride(3).increment, 0xA70427DFu);
  for (uint32_t n : {0u, 1u, 2u, 7u, 100u}) {
    Lcg one{987654321u}, many = one.Stride(n);
    for (uint32_t i = 0; i < n; ++i) one.Next();
    EXPECT_EQ(many.Next(), n == 0 ? 987654321u : one.state) << n;
  }
}

TEST(TestImageFill, OneStatePerPixelInRowOrderPaddingKept) {
  TestWorld w(3, 2, 8);
  std::vector<uint32_t> seen;
  testimage::FillPixels(w, Lcg{42}, [&](A_long x, A_long y, uint32_t s) {
    seen.push_back(s);
    return PF_Pixel{uint8_t(x), uint8_t(y), testimage::Byte(s, 24), testimage::Byte(s, 0)};
  });
  Lcg rng{42};
  ASSERT_EQ(seen.size(), 6u);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      const uint32_t s = rng.Next();
      EXPECT_EQ(seen[size_t(3 * y + x)], s);
      EXPECT_EQ(w.At(x, y), (PF_Pixel{uint8_t(x), uint8_t(y), uint8_t(s >> 24), uint8_t(s)}));
    }
  EXPECT_TRUE(w.PaddingIntact());
}

// A quarter transparent, a quarter opaque, the rest partial with colour
// everywhere; the same seed repeats the image, another seed changes it.
TEST(TestImageFill, RandomPixelsMix) {
  TestWorld a(64, 64, 12), b(64, 64, 12), c(64, 64, 12);
  testimage::RandomPixels(a, 9);
  testimage::RandomPixels(b, 9);
  testimage::RandomPixels(c, 10);
  EXPECT_EQ(a.bytes, b.bytes);
  EXPECT_NE(a.bytes, c.bytes);
  EXPECT_TRUE(a.PaddingIntact());
  int clear = 0, opaque = 0, coloured_clear = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const PF_Pixel p = a.At(x, y);
      clear += p.alpha == 0;
      opaque += p.alpha == 255;
      coloured_clear += p.alpha == 0 && (p.red | p.green | p.blue) != 0;
    }
  EXPECT_NEAR(clear, 1024, 120);
  EXPECT_NEAR(opaque, 1024, 120);
  EXPECT_GT(coloured_clear, clear / 2);
}

}  // namespace
