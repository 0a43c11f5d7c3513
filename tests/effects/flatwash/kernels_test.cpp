// Flatwash's pixel functions against the mixing formula evaluated here in
// 64-bit integers with explicit floor division.
#include "kernels.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

int Mix(int original, int colour, int64_t b) {
  return int((original * b + colour * (65536 - b)) / 65536);  // non-negative: floor
}

TEST(FlatwashKernels, BlendMatchesTheFormulaForEveryChannelPair) {
  for (int64_t b : {1, 0x100, 0x4000, 0x8000, 0xC000, 0xFFFE, 0xFFFF}) {
    SCOPED_TRACE(b);
    for (int original = 0; original < 256; ++original) {
      for (int colour = 0; colour < 256; colour += 3) {
        const flatwash::Block block = flatwash::MakeBlock(
            PF_Pixel{0, A_u_char(colour), A_u_char(255 - colour), A_u_char(colour / 2)}, PF_Fixed(b));
        const PF_Pixel in{A_u_char(original / 3), A_u_char(original), A_u_char(255 - original),
                          A_u_char(original ^ 0x55)};
        PF_Pixel out{};
        flatwash::BlendColour(block, in, out);
        ASSERT_EQ(out.alpha, in.alpha);
        ASSERT_EQ(out.red, Mix(in.red, colour, b));
        ASSERT_EQ(out.green, Mix(in.green, 255 - colour, b));
        ASSERT_EQ(out.blue, Mix(in.blue, colour / 2, b));
      }
    }
  }
}

TEST(FlatwashKernels, HalfAndNearlyFullBlend) {
  PF_Pixel out{};
  // 50 %: (255 * 0x8000) >> 16 = 127, truncated, not rounded.
  flatwash::BlendColour(flatwash::MakeBlock(PF_Pixel{255, 0, 0, 0}, 0x8000), PF_Pixel{200, 255, 0, 0}, out);
  EXPECT_EQ(out.red, 127);
  EXPECT_EQ(out.alpha, 200);
  // Just below 100 %: (255 * 0xFFFF + 255 * 1) >> 16 = 255.
  flatwash::BlendColour(flatwash::MakeBlock(PF_Pixel{255, 255, 255, 255}, 0xFFFF), PF_Pixel{9, 255, 255, 255}, out);
  EXPECT_EQ(out.red, 255);
}

TEST(FlatwashKernels, PureColourKeepsInputAlphaAndIgnoresTheColoursAlpha) {
  const PF_Pixel colour{17, 10, 20, 30};
  const flatwash::Block block = flatwash::MakeBlock(colour, 0);
  EXPECT_EQ(block.colour.alpha, 255);
  EXPECT_EQ(block.original_weight, 0);
  EXPECT_EQ(block.colour_weight, 0x10000);
  for (int a : {0, 1, 128, 255}) {
    PF_Pixel out{};
    flatwash::PureColour(block, PF_Pixel{A_u_char(a), 200, 100, 50}, out);
    EXPECT_EQ(out.alpha, a);
    EXPECT_EQ(out.red, 10);
    EXPECT_EQ(out.green, 20);
    EXPECT_EQ(out.blue, 30);
  }
}

TEST(FlatwashKernels, InPlaceGivesTheSameResult) {
  const flatwash::Block pure = flatwash::MakeBlock(PF_Pixel{255, 1, 2, 3}, 0);
  const flatwash::Block half = flatwash::MakeBlock(PF_Pixel{255, 1, 2, 3}, 0x8000);
  PF_Pixel p{77, 201, 202, 203};
  flatwash::PureColour(pure, p, p);
  EXPECT_EQ(p.alpha, 77);
  EXPECT_EQ(p.red, 1);
  PF_Pixel q{77, 201, 202, 203};
  flatwash::BlendColour(half, q, q);
  EXPECT_EQ(q.alpha, 77);
  EXPECT_EQ(q.red, Mix(201, 1, 0x8000));
  EXPECT_EQ(q.blue, Mix(203, 3, 0x8000));
}

}  // namespace
