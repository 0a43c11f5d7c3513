// Magnify through the host: every pixel against the lens weight, the
// enlargement and the over blend computed here (the bilinear sample from the
// host's sampler, the B-spline from its written weights), and the cases
// named for the lens: 100 %, the feather band, a tiny radius, the opacity
// threshold, low quality and the fading border.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

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

enum { kCentre = 1, kRadius, kMagnification, kFeather, kOpacity, kSofter, kComposite };

A_long Fx(double v) { return A_long(std::lround(v * 65536)); }

void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    return PF_Pixel{Byte(s, 24), uint8_t(x * 17), uint8_t(y * 23), Byte(s, 12)};
  });
}

struct Lens {
  double cx = -1, cy = -1;
  double radius = 100, magnification = 150, feather = 0, opacity = 100;
  bool softer = false, composite = true;
  PF_Quality quality = PF_Quality_HI;
};

struct Rig : EffectFixture {
  Rig() : EffectFixture("magnify.aex") {}
  PF_Err Render(World& in, World& out, const Lens& l) {
    ombrix::RenderSettings settings;
    settings.quality = l.quality;
    return EffectFixture::Render(
        in, out,
        [&](Instance& inst) {
          if (l.cx >= 0) inst.SetValue(kCentre, RoundedPoint(l.cx, l.cy));
          inst.SetValue(kRadius, Scalar(Fx(l.radius)));
          inst.SetValue(kMagnification, Scalar(Fx(l.magnification)));
          inst.SetValue(kFeather, Scalar(Fx(l.feather)));
          inst.SetValue(kOpacity, Scalar(Fx(l.opacity)));
          inst.SetValue(kSofter, Scalar(l.softer));
          inst.SetValue(kComposite, Scalar(l.composite));
        },
        settings);
  }
};

// The cubic B-spline of the description: single-precision weights with the
// constant 0.1666666667, rows truncated to bytes, outside pixels zero.
PF_Pixel BSpline(const World& w, double x, double y) {
  const double flx = std::floor(x), fly = std::floor(y);
  const long ix = long(flx), iy = long(fly);
  const float fx = float(x - flx), fy = float(y - fly);
  const float c = 0.1666666667f;
  // Powers first, then the polynomials (single precision throughout).
  const float x2 = fx * fx, x3 = x2 * fx, y2 = fy * fy, y3 = y2 * fy;
  const float wx[4] = {(1 - fx) * (1 - fx) * (1 - fx) * c, (3 * x3 - 6 * x2 + 4) * c, (3 * (fx + x2) - 3 * x3 + 1) * c,
                       x3 * c};
  const float wy[4] = {(1 - fy) * (1 - fy) * (1 - fy), 3 * y3 - 6 * y2 + 4, 3 * (fy + y2) - 3 * y3 + 1, y3};
  auto channel = [&](const PF_Pixel& p, int ch) {
    return ch == 0 ? p.alpha : ch == 1 ? p.red : ch == 2 ? p.green : p.blue;
  };
  uint8_t out[4];
  for (int ch = 0; ch < 4; ++ch) {
    float sum = 0;
    for (int j = 0; j < 4; ++j) {
      float row = 0;
      for (int i = 0; i < 4; ++i) {
        const long xx = ix - 1 + i, yy = iy - 1 + j;
        const int v = (xx < 0 || yy < 0 || xx >= w.width() || yy >= w.height()) ? 0 : channel(w.At(xx, yy), ch);
        row += wx[i] * float(v);
      }
      sum += wy[j] * float(std::min(255, int(row)));
    }
    out[ch] = uint8_t(std::min(255, int(sum * c)));
  }
  return PF_Pixel{out[0], out[1], out[2], out[3]};
}

PF_Pixel Expected(const World& in, const Lens& l, A_long x, A_long y) {
  const double cx = l.cx >= 0 ? l.cx : in.width() / 2.0, cy = l.cy >= 0 ? l.cy : in.height() / 2.0;
  const double fw = l.feather * 2 + 1.5;
  const double inner = l.radius - fw / 2, outer = l.radius + fw / 2;
  const double dx = x - cx, dy = y - cy, d2 = dx * dx + dy * dy;
  const PF_Pixel p = in.At(x, y);
  if (d2 >= outer * outer) return l.composite ? p : PF_Pixel{0, 0, 0, 0};
  const double opacity = l.opacity * 0.01;
  double weight = opacity;
  if (d2 > (inner < 0 ? -inner * inner : inner * inner)) {
    const double t = (outer - std::sqrt(d2)) * (1.0 / fw);
    weight = t <= 0 ? 0 : t >= 1 ? opacity : t * t * (3 - 2 * t) * opacity;
  }
  const double sx = dx * (100.0 / l.magnification) + cx, sy = dy * (100.0 / l.magnification) + cy;
  PF_Pixel s =
      (l.softer && l.quality != PF_Quality_LO)
          ? BSpline(in, sx, sy)
          : ombrix::SubpixelSample(in.pf(), PF_Fixed(std::trunc(sx * 65536)), PF_Fixed(std::trunc(sy * 65536)));
  s.alpha = uint8_t(int(s.alpha * weight));
  return l.composite ? Over(s, p) : s;
}

::testing::AssertionResult MatchesLens(const World& in, const World& out, const Lens& l) {
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) {
      const PF_Pixel e = Expected(in, l, x, y), o = out.At(x, y);
      if (!Same(e, o))
        return ::testing::AssertionFailure() << "(" << x << ", " << y << "): " << Show(o) << " expected " << Show(e);
    }
  return ::testing::AssertionSuccess();
}

TEST(MagnifyRender, EveryPixelFollowsTheLens) {
  Rig rig;
  World in(45, 33, 8), out(45, 33, 8);
  FillPattern(in, 17);
  for (bool softer : {false, true})
    for (bool composite : {true, false})
      for (double feather : {0.0, 3.5})
        for (double opacity : {100.0, 37.5}) {
          Lens l;
          l.cx = 20.25;
          l.cy = 14.5;
          l.radius = 12.5;
          l.magnification = 230;
          l.feather = feather;
          l.opacity = opacity;
          l.softer = softer;
          l.composite = composite;
          SCOPED_TRACE(::testing::Message() << "softer " << softer << " composite " << composite << " feather "
                                            << feather << " opacity " << opacity);
          ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
          ASSERT_TRUE(MatchesLens(in, out, l));
        }
}

// At 100 % the lens shows the layer itself: over an opaque layer the
// output is the input, rim included.
TEST(MagnifyRender, MagnificationHundredShowsTheLayer) {
  Rig rig;
  World in(40, 30, 4), out(40, 30, 4);
  FillPattern(in, 4);
  for (A_long y = 0; y < 30; ++y)
    for (A_long x = 0; x < 40; ++x) in.At(x, y).alpha = 255;
  Lens l;
  l.cx = 20;
  l.cy = 15;
  l.radius = 10;
  l.feather = 2;
  l.magnification = 100;
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
}

// Feather 0 still leaves a band 1.5 pixels wide: on an opaque white layer,
// the lens alone has alpha 255 up to radius - 0.75, the smoothstep between,
// and nothing from radius + 0.75.
TEST(MagnifyRender, FeatherZeroBandIsOnePointFivePixels) {
  Rig rig;
  World in(41, 41, 0), out(41, 41, 0);
  for (A_long y = 0; y < 41; ++y)
    for (A_long x = 0; x < 41; ++x) in.At(x, y) = PF_Pixel{255, 255, 255, 255};
  Lens l;
  l.cx = 20;
  l.cy = 20;
  l.radius = 10;
  l.composite = false;
  l.magnification = 100;
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  EXPECT_EQ(out.At(29, 20).alpha, 255);  // d = 9 < 9.25
  EXPECT_EQ(out.At(30, 20).alpha, 127);  // d = 10: t = 0.5, weight 0.5
  EXPECT_EQ(out.At(31, 20).alpha, 0);    // d = 11 >= 10.75
  // d = sqrt(100 + 1): t = (10.75 - 10.0499) / 1.5 = 0.4667, weight 0.4500.
  EXPECT_EQ(out.At(30, 21).alpha, 114);
}

// A radius below half the band: every lens pixel is in the falloff, and the
// centre stays below full weight because the outer radius is below fw.
TEST(MagnifyRender, RadiusSmallerThanHalfTheBand) {
  Rig rig;
  World in(15, 15, 0), out(15, 15, 0);
  for (A_long y = 0; y < 15; ++y)
    for (A_long x = 0; x < 15; ++x) in.At(x, y) = PF_Pixel{255, 10, 20, 30};
  Lens l;
  l.cx = 7;
  l.cy = 7;
  l.radius = 1;
  l.feather = 2;  // fw = 5.5, outer 3.75
  l.composite = false;
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  const double t = 3.75 / 5.5;
  EXPECT_EQ(out.At(7, 7).alpha, int(255 * (t * t * (3 - 2 * t))));
  EXPECT_LT(out.At(7, 7).alpha, 255);
  ASSERT_TRUE(MatchesLens(in, out, l));
}

// Below half a byte of opacity there is no lens: a copy, or transparent.
TEST(MagnifyRender, OpacityThreshold) {
  Rig rig;
  World in(21, 13, 4), out(21, 13, 4), clear(21, 13, 4);
  FillPattern(in, 8);
  Lens l;
  l.radius = 5;
  l.opacity = 0.19;  // 0.0019 x 255 = 0.48
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
  l.composite = false;
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(clear.pf(), out.pf()));
  l.opacity = 0.2;  // 0.51: the lens is drawn
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  EXPECT_TRUE(MatchesLens(in, out, l));

  Rig failing;
  failing.host.failures().Arm("fill", 1, PF_Err_OUT_OF_MEMORY);
  l.opacity = 0;
  EXPECT_EQ(failing.Render(in, out, l), PF_Err_OUT_OF_MEMORY);
}

TEST(MagnifyRender, LowQualityTurnsSofterScalingOff) {
  Rig rig;
  World in(30, 30, 0), soft(30, 30, 0), plain(30, 30, 0);
  FillPattern(in, 12);
  Lens l;
  l.radius = 12;
  l.magnification = 300;
  l.softer = true;
  l.quality = PF_Quality_LO;
  ASSERT_EQ(rig.Render(in, soft, l), PF_Err_NONE);
  l.softer = false;
  ASSERT_EQ(rig.Render(in, plain, l), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(soft.pf(), plain.pf()));
  l.softer = true;
  l.quality = PF_Quality_HI;
  ASSERT_EQ(rig.Render(in, soft, l), PF_Err_NONE);
  EXPECT_FALSE(ombrix::SamePixels(soft.pf(), plain.pf()));
}

// The softer sampler counts pixels outside the layer as transparent black,
// so a lens over the layer's edge fades towards transparent there.
TEST(MagnifyRender, SofterSamplerFadesAtTheBorder) {
  Rig rig;
  World in(24, 24, 0), out(24, 24, 0);
  for (A_long y = 0; y < 24; ++y)
    for (A_long x = 0; x < 24; ++x) in.At(x, y) = PF_Pixel{255, 90, 90, 90};
  Lens l;
  l.cx = 0;
  l.cy = 12;
  l.radius = 20;
  l.magnification = 100;
  l.softer = true;
  l.composite = false;
  ASSERT_EQ(rig.Render(in, out, l), PF_Err_NONE);
  ASSERT_TRUE(MatchesLens(in, out, l));
  // Column 0: one of the four taps is outside, (1/6 + 4/6) of 255 per row.
  EXPECT_LT(out.At(0, 12).alpha, 255);
  EXPECT_GE(out.At(0, 12).alpha, 211);
  EXPECT_EQ(out.At(3, 12).alpha, 255);
}

TEST(MagnifyRender, HostErrorsAreReturned) {
  for (const char* service : {"iterate", "subpixel_sample", "copy"}) {
    Rig rig;
    World in(20, 20, 0), out(20, 20, 0);
    FillPattern(in, 1);
    Lens l;
    l.radius = 5;
    if (std::string(service) == "copy") l.opacity = 0;
    rig.host.failures().Arm(service, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(rig.Render(in, out, l), PF_Err_INTERNAL_STRUCT_DAMAGED) << service;
  }
}

TEST(MagnifyRender, Registration) {
  Rig rig;
  EXPECT_EQ(rig.effect.num_params(), 8);
  const auto& p = rig.effect.params();
  EXPECT_EQ(p[kFeather].flags, PF_ParamFlag_COLLAPSE_TWIRLY);
  EXPECT_EQ(p[kOpacity].flags, PF_ParamFlag_COLLAPSE_TWIRLY);
  EXPECT_EQ(p[kOpacity].u.fd.display_flags, 1);
  EXPECT_EQ(p[kRadius].flags, 0);
  EXPECT_EQ(p[kMagnification].u.fd.valid_max, 10000 << 16);
  EXPECT_EQ(rig.effect.CheckboxLabel(kComposite), "Composite With Original");
  EXPECT_EQ(p[kComposite].u.bd.value, 1);
}

}  // namespace
