// Fourtint through the host: every pixel against the inverse-square mix
// computed here in double precision, the weights of a pixel on a point at
// Blend 5, transparent pixels passed through, the jitter table rebuilt here
// from the generator and the frame time, and a reduced buffer.
//
// The effect sums in single precision, so a channel whose exact value lies
// within a hundredth of an integer may truncate either way; everywhere else
// the byte must match exactly.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

constexpr int kBlend = 9;
constexpr int kJitter = 10;
int PointParam(int k) { return 1 + 2 * k; }
int ColourParam(int k) { return 2 + 2 * k; }

ParamValue Fixed(double v) {
  ParamValue p;
  p.value = A_long(std::lround(v * 65536));
  return p;
}

struct Scene {
  double px[4], py[4];  // buffer pixels
  PF_Pixel colour[4];
  double blend;  // buffer pixels
};

void Apply(Instance& inst, const Scene& s, double scale_to_full, double jitter_percent) {
  for (int k = 0; k < 4; ++k) {
    ParamValue p;
    p.x = PF_Fixed(std::lround(s.px[k] * scale_to_full * 65536));
    p.y = PF_Fixed(std::lround(s.py[k] * scale_to_full * 65536));
    inst.SetValue(PointParam(k), p);
    ParamValue c;
    c.color = s.colour[k];
    inst.SetValue(ColourParam(k), c);
  }
  inst.SetValue(kBlend, Fixed(s.blend * scale_to_full));
  inst.SetValue(kJitter, Fixed(jitter_percent));
}

// The exact mix of one channel at (x, y) and the three weighted channel sums.
void ExactMix(const Scene& s, int x, int y, double sum[3]) {
  const double c = s.blend * s.blend;
  double w[4], total = 0;
  for (int k = 0; k < 4; ++k) {
    const double dx = s.px[k] - x, dy = s.py[k] - y;
    w[k] = c / (c + dx * dx + dy * dy);
    total += w[k];
  }
  sum[0] = sum[1] = sum[2] = 0;
  for (int k = 0; k < 4; ++k) {
    sum[0] += w[k] / total * s.colour[k].red;
    sum[1] += w[k] / total * s.colour[k].green;
    sum[2] += w[k] / total * s.colour[k].blue;
  }
}

// `got` is the truncation of `exact` clamped to 0..255, or, when `exact` lies
// within 0.01 of an integer, either neighbour.
::testing::AssertionResult ChannelMatches(int got, double exact, const char* what, int x, int y) {
  const double clamped = exact < 0 ? 0 : exact > 255 ? 255 : exact;
  const int want = int(clamped);
  const double near = std::round(clamped);
  if (got == want) return ::testing::AssertionSuccess();
  if (std::fabs(clamped - near) < 0.01 && (got == int(near) || got == int(near) - 1))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << what << " at (" << x << ", " << y << "): got " << got << ", exact " << exact;
}

// Varied alpha with transparent pixels whose colour bytes are not zero.
void FillInput(World& w) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      w.At(x, y) = PF_Pixel{A_u_char((x * 7 + y * 3) % 11 == 0 ? 0 : 1 + (x * 31 + y * 17) % 255), A_u_char(x * 9 + 1),
                            A_u_char(y * 5 + 2), A_u_char(x ^ y)};
}

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("fourtint.aex")};
};

// Checks every pixel of `out` against the exact mix plus `noise` per channel.
template <class Noise>
::testing::AssertionResult MatchesMix(const Scene& s, const World& in, const World& out, Noise noise) {
  for (int y = 0; y < out.height(); ++y) {
    for (int x = 0; x < out.width(); ++x) {
      const PF_Pixel& i = in.At(x, y);
      const PF_Pixel& o = out.At(x, y);
      if (i.alpha == 0) {
        if (o.alpha != 0 || o.red != i.red || o.green != i.green || o.blue != i.blue)
          return ::testing::AssertionFailure() << "transparent pixel (" << x << ", " << y << ") not copied";
        continue;
      }
      if (o.alpha != i.alpha) return ::testing::AssertionFailure() << "alpha at " << x << "," << y;
      double sum[3];
      ExactMix(s, x, y, sum);
      const int got[3] = {o.red, o.green, o.blue};
      const char* names[3] = {"red", "green", "blue"};
      for (int ch = 0; ch < 3; ++ch) {
        auto r = ChannelMatches(got[ch], sum[ch] + noise(ch, x, y), names[ch], x, y);
        if (!r) return r;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

const Scene kCorners = {
    {3, 40, 5, 37}, {2, 4, 27, 30}, {{255, 255, 255, 0}, {255, 0, 255, 0}, {255, 255, 0, 255}, {255, 0, 0, 255}}, 12.5};

TEST(FourtintRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 11);
  EXPECT_EQ(f.effect.FindParam("Point 4"), PointParam(3));
  EXPECT_EQ(f.effect.FindParam("Color 4"), ColourParam(3));
  EXPECT_EQ(f.effect.params()[kBlend].u.fd.valid_min, 5 * 65536);
  EXPECT_EQ(f.effect.params()[kJitter].u.fd.display_flags, PF_ValueDisplayFlag_PERCENT);
  EXPECT_EQ(f.effect.params()[PointParam(1)].u.td.x_dephault, 90 * 65536);
  EXPECT_EQ(f.effect.params()[PointParam(1)].u.td.restrict_bounds, 0);
}

TEST(FourtintRender, MixMatchesTheInverseSquareWeights) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 43, 31);
  Apply(inst, kCorners, 1.0, 0);
  World in(43, 31, 12), out(43, 31, 12);
  FillInput(in);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(MatchesMix(kCorners, in, out, [](int, int, int) { return 0.0; }));
}

// At Blend 5 a pixel on point 1 weighs it 1, the points 5 pixels away
// 25 / 50 = 0.5 and the one sqrt(50) away 25 / 75 = 1/3; normalised by 7/3:
// 3/7, 3/14, 3/14, 1/7. So red 255 x 3/7 = 109.3, green 200 x 3/14 = 42.9,
// blue 3/14 x 90 + 1/7 x 250 = 55.0 (exactly 55: either side is allowed).
TEST(FourtintRender, PixelOnAPointStillMixesAtBlendFive) {
  Fixture f;
  const Scene s = {
      {10, 15, 10, 15}, {10, 10, 15, 15}, {{255, 255, 0, 0}, {255, 0, 200, 0}, {255, 0, 0, 90}, {255, 0, 0, 250}}, 5};
  Instance inst(f.effect, TimeBase{}, 20, 20);
  Apply(inst, s, 1.0, 0);
  World in(20, 20), out(20, 20);
  for (A_long y = 0; y < 20; ++y)
    for (A_long x = 0; x < 20; ++x) in.At(x, y) = PF_Pixel{255, 0, 0, 0};
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  const PF_Pixel& o = out.At(10, 10);
  EXPECT_EQ(o.red, 109);
  EXPECT_EQ(o.green, 42);
  EXPECT_TRUE(o.blue == 55 || o.blue == 54) << int(o.blue);
  EXPECT_TRUE(MatchesMix(s, in, out, [](int, int, int) { return 0.0; }));
}

// The table the effect must have built for frame time t and jitter J, made
// here from the generator's recurrence.
std::vector<double> JitterTable(uint32_t t, double j) {
  std::vector<double> table(4096);
  Lcg rng{t};
  for (double& e : table) e = float((rng.Rand15() / 16384.0 - 1.0) * j);
  return table;
}

int TableIndex(int ch, int x, int y) {
  static const int off[3][2] = {{0, 0}, {3, 17}, {37, 13}};
  const int a = x + off[ch][0], b = y + off[ch][1];
  if (ch == 1) return (((a >> 5) & 63) ^ (b & 63)) * 64 + (((b >> 5) & 63) ^ (a & 63));
  return (((b >> 5) & 63) ^ (a & 63)) * 64 + (((a >> 5) & 63) ^ (b & 63));
}

// Jitter 350 %: every channel adds its own table entry, up to 3.5 levels each
// way, clamped to the byte; bright and dark colours push the sums over both
// ends. The frame time seeds the table: two frames differ, the same frame
// repeats exactly.
TEST(FourtintRender, JitterAddsTheFrameTable) {
  Fixture f;
  const Scene s = {{0, 69, 0, 69},
                   {0, 0, 69, 69},
                   {{255, 255, 254, 1}, {255, 128, 0, 128}, {255, 1, 100, 255}, {255, 60, 200, 2}},
                   20};
  const TimeBase tb;
  Instance inst(f.effect, tb, 70, 70);
  Apply(inst, s, 1.0, 350);
  World in(70, 70, 8);
  FillInput(in);
  for (int frame : {7, 8}) {
    SCOPED_TRACE(frame);
    const A_long t = tb.FrameToTicks(frame);
    const std::vector<double> table = JitterTable(uint32_t(t), 3.5);
    World out(70, 70, 8);
    ASSERT_EQ(inst.RenderFrame(t, in.pf(), out.pf()).err, PF_Err_NONE);
    EXPECT_TRUE(MatchesMix(s, in, out, [&](int ch, int x, int y) { return table[size_t(TableIndex(ch, x, y))]; }));
    World again(70, 70, 8);
    ASSERT_EQ(inst.RenderFrame(t, in.pf(), again.pf()).err, PF_Err_NONE);
    EXPECT_TRUE(ombrix::SamePixels(out.pf(), again.pf()));
  }
}

// At half resolution the points arrive halved and the blend distance is
// halved with them: the buffer shows the full-size gradient at half scale.
TEST(FourtintRender, HalfResolutionHalvesTheBlend) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 86, 62);
  Apply(inst, kCorners, 2.0, 0);
  ombrix::RenderSettings half;
  half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};
  World in(43, 31, 4), out(43, 31, 4);
  FillInput(in);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), half).err, PF_Err_NONE);
  EXPECT_TRUE(MatchesMix(kCorners, in, out, [](int, int, int) { return 0.0; }));
}

TEST(FourtintRender, IterateFailureIsReturned) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 6, 6);
  World in(6, 6), out(6, 6);
  f.host.failures().Arm("iterate", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
}

}  // namespace
