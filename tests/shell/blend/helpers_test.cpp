// The shared curve and pixel addressing. SmoothStep stands in for the forms
// the effects computed it in before, so it must give their bits for every
// input; pixel addressing must follow rowbytes, not the width.
#include <pf/smoothstep.h>
#include <pf/world.h>

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

uint64_t Bits(double v) { return std::bit_cast<uint64_t>(v); }

// The clamp-then-curve form (Grid's feathered edge).
double ClampedCurve(double s) {
  if (s < 0) s = 0;
  if (s > 1) s = 1;
  return s * s * (3.0 - 2.0 * s);
}

// The weight form (Magnify's rim), with the opacity folded in last.
double RimWeight(double t, double opacity) {
  return t <= 0.0 ? 0.0 : (t >= 1.0 ? opacity : t * t * (3.0 - 2.0 * t) * opacity);
}

TEST(SmoothStep, GivesTheBitsOfTheFormsItReplaced) {
  std::vector<double> inputs = {-1.0,
                                -0.0,
                                0.0,
                                1e-300,
                                0.25,
                                0.5,
                                std::nextafter(1.0, 0.0),
                                1.0,
                                std::nextafter(1.0, 2.0),
                                2.0,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity()};
  for (int i = -100; i <= 1100; ++i) inputs.push_back(i * 0.001);
  for (double t : inputs) {
    SCOPED_TRACE(t);
    EXPECT_EQ(Bits(pf::SmoothStep(t)), Bits(ClampedCurve(t)));
    for (double opacity : {0.004, 0.37, 1.0}) EXPECT_EQ(Bits(pf::SmoothStep(t) * opacity), Bits(RimWeight(t, opacity)));
  }
  EXPECT_TRUE(std::isnan(pf::SmoothStep(std::nan(""))));
}

TEST(PixelAt, RowsLieRowbytesApart) {
  // 3 x 2 pixels with 4 bytes of padding after each row.
  uint8_t bytes[2 * 16] = {};
  PF_EffectWorld w{};
  w.data = reinterpret_cast<PF_Pixel*>(bytes);
  w.width = 3;
  w.height = 2;
  w.rowbytes = 16;
  pf::PixelAt(w, 2, 1).red = 7;
  EXPECT_EQ(bytes[16 + 2 * 4 + 1], 7);
  const PF_EffectWorld& view = w;
  EXPECT_EQ(pf::PixelRow(view, 1), reinterpret_cast<const PF_Pixel*>(bytes + 16));
  EXPECT_EQ(&pf::PixelAt(view, 2, 1), &pf::PixelAt(w, 2, 1));
}

}  // namespace
