// BlendOver and FixedFromDouble on their own: the special cases, values
// worked out by hand, and the bounds every result must keep.
#include <pf/blend.h>
#include <pf/fixed.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

namespace {

bool Same(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}

TEST(BlendOver, EndCases) {
  const PF_Pixel bottom{200, 1, 2, 3};
  EXPECT_TRUE(Same(pf::BlendOver(PF_Pixel{0, 90, 90, 90}, bottom), bottom));
  EXPECT_TRUE(Same(pf::BlendOver(PF_Pixel{255, 9, 8, 7}, bottom), (PF_Pixel{255, 9, 8, 7})));
  EXPECT_TRUE(Same(pf::BlendOver(PF_Pixel{17, 9, 8, 7}, PF_Pixel{0, 50, 50, 50}), (PF_Pixel{17, 9, 8, 7})));
}

TEST(BlendOver, WorkedValues) {
  // t 100 over opaque: wt = 25500, wb = 155 x 255 = 39525, sum 65025.
  // green 255 x 39525 / 65025 = 155, blue 200 x 25500 / 65025 = 78.43.
  EXPECT_TRUE(Same(pf::BlendOver(PF_Pixel{100, 0, 0, 200}, PF_Pixel{255, 0, 255, 0}), (PF_Pixel{255, 0, 155, 78})));
  // t 128 over b 128: alpha 128 + 128 - 16384 / 255 (64) = 192; wt = 32640,
  // wb = 127 x 128 = 16256: red (0 x 16256 + 255 x 32640) / 48896 = 170.2.
  EXPECT_TRUE(Same(pf::BlendOver(PF_Pixel{128, 255, 0, 10}, PF_Pixel{128, 0, 255, 10}), (PF_Pixel{192, 170, 84, 10})));
}

TEST(BlendOver, ResultsStayBetweenTheInputs) {
  for (int t = 1; t < 255; t += 7)
    for (int b = 1; b < 256; b += 11) {
      const PF_Pixel top{uint8_t(t), 240, 3, 128}, bottom{uint8_t(b), 10, 250, 128};
      const PF_Pixel o = pf::BlendOver(top, bottom);
      ASSERT_GE(o.alpha, std::max(t, b));
      ASSERT_LE(o.red, 240);
      ASSERT_GE(o.red, 10);
      ASSERT_GE(o.green, 3);
      ASSERT_LE(o.green, 250);
      ASSERT_EQ(o.blue, 128);
    }
}

TEST(FixedFromDouble, TruncatesAndLimits) {
  EXPECT_EQ(pf::FixedFromDouble(1.5), 0x18000);
  EXPECT_EQ(pf::FixedFromDouble(-1.00001), -65536);  // toward zero
  EXPECT_EQ(pf::FixedFromDouble(32767.99999), PF_Fixed(32767.99999 * 65536.0));
  EXPECT_EQ(pf::FixedFromDouble(40000.0), INT32_MAX);
  EXPECT_EQ(pf::FixedFromDouble(-1e300), INT32_MIN);
  EXPECT_EQ(pf::FixedFromDouble(1e300), INT32_MAX);
}

}  // namespace
