// The run-at-a-time fill and the tabled bleed against their pixel-by-pixel
// forms: the same output bytes and the same mask on maze-like layers of odd
// sizes with padded rows, from several points, in both modes.
#include "kernels.h"

#include <ombrix/host/world.h>

#include "common/test_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using ombrix::World;

// Walls (colour 200, opaque) on open pixels near 10, a third of them walls,
// so that the regions are large and turn back on themselves. Open pixels
// are opaque for the paint bucket (a few of any alpha) and below the
// threshold's alpha for Underfill.
World Maze(A_long w, A_long h, A_long pad, uint32_t seed, bool underfill) {
  World out(w, h, pad);
  testimage::FillPixels(out, testimage::Lcg{seed}, [underfill](A_long, A_long, uint32_t s) {
    const bool wall = (s >> 24) % 100 < 33;
    const uint8_t v = wall ? 200 : uint8_t(10 + (s >> 8) % 12);
    const uint8_t open_alpha = underfill ? uint8_t((s >> 16) % 120) : (s >> 16) % 16 == 0 ? uint8_t(s >> 4) : 255;
    return PF_Pixel{wall ? uint8_t(255) : open_alpha, v, uint8_t(v + 1), v};
  });
  return out;
}

struct Result {
  World out;
  std::vector<uint8_t> mask;
};

Result FillAndBleed(const World& in, bool underfill, PF_Fixed px, PF_Fixed py, double bleed, double scale, bool plain) {
  Result r{in, std::vector<uint8_t>(size_t(in.width()) * size_t(in.height()), floodspill::kUnseen)};
  floodspill::Fill f{};
  f.input = &in.pf();
  f.output = &r.out.pf();
  f.mask = r.mask.data();
  f.width = in.width();
  f.height = in.height();
  f.colour = PF_Pixel{255, 30, 160, 90};
  f.underfill = underfill;
  const PF_Pixel seed = in.At(px >> 16, py >> 16);
  f.seed_r = seed.red * seed.alpha;
  f.seed_g = seed.green * seed.alpha;
  f.seed_b = seed.blue * seed.alpha;
  f.threshold = underfill ? 128 : 40;
  floodspill::RunFill(f, px, py, plain ? floodspill::FillSpanByPixel : floodspill::FillSpan);
  if (bleed > 0) (plain ? floodspill::BleedByPixel : floodspill::Bleed)(f, bleed, scale);
  return r;
}

TEST(FloodspillKernels, RunsAndTabledBleedMatchThePixelByPixelForms) {
  struct Case {
    A_long w, h, pad;
    bool underfill;
    double x, y, bleed, scale;
  };
  const Case cases[] = {
      {61, 47, 0, false, 30.5, 20.25, 0, 1}, {61, 47, 12, true, 3, 45, 4, 1},
      {97, 33, 4, false, 0, 0.5, 3, 1},      {40, 71, 8, true, 39, 70, 20, 1},
      {131, 9, 0, false, 64, 4, 7, 1.0 / 3}, {23, 23, 16, false, 11, 11, 20, 1.4},
      {1, 37, 0, false, 0, 18, 1, 1},        {37, 1, 4, true, 18, 0, 2, 1},
  };
  int filled_somewhere = 0;
  for (const Case& c : cases) {
    for (uint32_t seed : {1u, 77u, 4242u}) {
      SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " seed " << seed << " underfill " << c.underfill);
      const World in = Maze(c.w, c.h, c.pad, seed, c.underfill);
      const PF_Fixed px = PF_Fixed(c.x * 65536), py = PF_Fixed(c.y * 65536);
      const Result fast = FillAndBleed(in, c.underfill, px, py, c.bleed, c.scale, false);
      const Result plain = FillAndBleed(in, c.underfill, px, py, c.bleed, c.scale, true);
      ASSERT_EQ(fast.mask, plain.mask);
      ASSERT_TRUE(ombrix::SamePixels(fast.out.pf(), plain.out.pf()));
      for (uint8_t m : fast.mask) filled_somewhere += m == floodspill::kFilled;
    }
  }
  EXPECT_GT(filled_somewhere, 1000);  // the cases fill real regions, not just the seed
}

}  // namespace
