// Lampcast through the host: every pixel against the projected sample, the
// shadow colour rules and the over blend computed here (the softened layer
// from the host's own smoothing kernel), the pass-through cases, samples
// outside the layer, and the temporary world's disposal on every path.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>
#include <ombrix/host/smooth.h>

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

enum { kColour = 1, kOpacity, kLight, kDistance, kSoftness, kMode, kInfluence, kComposite };

A_long Fx(double v) { return A_long(std::lround(v * 65536)); }

// A layer with opaque, semi-transparent and clear parts.
void FillLayer(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    const int band = (x / 5 + y / 4) % 4;
    const uint8_t a = band == 0 ? 0 : band == 1 ? 255 : Byte(s, 24);
    return PF_Pixel{a, Byte(s, 16), Byte(s, 8), uint8_t(x * 11)};
  });
}

struct Shadow {
  PF_Pixel colour{255, 0, 0, 0};
  double opacity = 0.5;  // 0..1
  double light_x = 5, light_y = 4;
  double distance = 10, softness = 0;
  int mode = 1;
  double influence = 1;  // 0..2
  bool composite = true;
};

struct Rig : EffectFixture {
  Rig() : EffectFixture("lampcast.aex") {}
  PF_Err Render(World& in, World& out, const Shadow& s) {
    return EffectFixture::Render(in, out, [&](Instance& inst) {
      inst.SetValue(kColour, Colour(s.colour));
      inst.SetValue(kOpacity, Scalar(Fx(s.opacity)));
      inst.SetValue(kLight, RoundedPoint(s.light_x, s.light_y));
      inst.SetValue(kDistance, Scalar(Fx(s.distance)));
      inst.SetValue(kSoftness, Scalar(Fx(s.softness)));
      inst.SetValue(kMode, Scalar(s.mode));
      inst.SetValue(kInfluence, Scalar(Fx(s.influence)));
      inst.SetValue(kComposite, Scalar(s.composite));
    });
  }
};

// The shadow worked out from its description.
PF_Pixel Expected(const World& in, const World& source, const Shadow& s, A_long x, A_long y) {
  const double opacity = Fx(s.opacity) / 65536.0, k = Fx(s.distance) / 65536.0 * 0.01;
  const double lx = float(Fx(s.light_x) / 65536.0), ly = float(Fx(s.light_y) / 65536.0);
  const PF_Pixel p = in.At(x, y);
  if (s.composite && p.alpha == 255) return p;
  const double sx = x + (lx - x) * k, sy = y + (ly - y) * k;
  const PF_Pixel v =
      ombrix::SubpixelSample(source.pf(), PF_Fixed(std::trunc(sx * 65536)), PF_Fixed(std::trunc(sy * 65536)));
  if (v.alpha == 0) return s.composite ? p : PF_Pixel{0, 0, 0, 0};
  PF_Pixel shadow = s.colour;
  shadow.alpha = uint8_t(int(v.alpha * opacity));
  const bool glass = s.mode == 2 && Fx(s.influence) != 0;
  if (glass && v.alpha != 255) {
    const double m = (255 - v.alpha) * (Fx(s.influence) / 65536.0 / 127.5);
    if (m >= 1) {
      shadow.red = v.red, shadow.green = v.green, shadow.blue = v.blue;
    } else if (m > 0) {
      const double d = (1 - m) * (1 - m);
      shadow.red = uint8_t(int(d * s.colour.red + (1 - d) * v.red));
      shadow.green = uint8_t(int(d * s.colour.green + (1 - d) * v.green));
      shadow.blue = uint8_t(int(d * s.colour.blue + (1 - d) * v.blue));
    }
  }
  return s.composite ? Over(p, shadow) : shadow;
}

::testing::AssertionResult MatchesShadow(const World& in, const World& out, const Shadow& s) {
  World source = in;
  if (s.softness > 0) ombrix::SmoothWorld(source.pf(), s.softness * 0.5, s.mode == 2 && s.influence != 0 ? 111 : 97);
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) {
      const PF_Pixel e = Expected(in, source, s, x, y), o = out.At(x, y);
      if (!Same(e, o))
        return ::testing::AssertionFailure() << "(" << x << ", " << y << "): " << Show(o) << " expected " << Show(e);
    }
  return ::testing::AssertionSuccess();
}

TEST(LampcastRender, EveryPixelFollowsTheShadow) {
  Rig rig;
  World in(37, 26, 8), out(37, 26, 8);
  FillLayer(in, 3);
  for (int mode : {1, 2})
    for (bool composite : {true, false})
      for (double softness : {0.0, 6.0})
        for (double influence : {1.0, 0.3, 2.0}) {
          Shadow s;
          s.colour = PF_Pixel{255, 20, 40, 200};
          s.opacity = 0.75;
          s.light_x = 30.5;
          s.light_y = -4.25;
          s.distance = 35;
          s.mode = mode;
          s.composite = composite;
          s.softness = softness;
          s.influence = influence;
          SCOPED_TRACE(::testing::Message() << "mode " << mode << " composite " << composite << " softness " << softness
                                            << " influence " << influence);
          ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
          ASSERT_TRUE(MatchesShadow(in, out, s));
        }
  EXPECT_EQ(ombrix::LiveWorldCount(), 0u);
}

TEST(LampcastRender, OpacityZero) {
  Rig rig;
  World in(17, 9, 4), out(17, 9, 4), untouched(17, 9, 4);
  FillLayer(in, 8);
  Shadow s;
  s.opacity = 0;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
  // Shadow alone: the output is not written (the host's cleared frame).
  s.composite = false;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(untouched.pf(), out.pf()));
}

TEST(LampcastRender, ColourInfluenceZeroIsRegular) {
  Rig rig;
  World in(30, 20, 0), glass(30, 20, 0), regular(30, 20, 0);
  FillLayer(in, 5);
  for (bool composite : {true, false}) {
    Shadow s;
    s.colour = PF_Pixel{255, 200, 10, 10};
    s.influence = 0;
    s.composite = composite;
    s.softness = 3;
    s.mode = 2;
    ASSERT_EQ(rig.Render(in, glass, s), PF_Err_NONE);
    s.mode = 1;
    ASSERT_EQ(rig.Render(in, regular, s), PF_Err_NONE);
    EXPECT_TRUE(ombrix::SamePixels(glass.pf(), regular.pf()));
  }
}

// Without softness the shadow is the layer's alpha enlarged by 1 / (1 - k)
// about the light: light at (0, 0) and k = 0.5 double an opaque square.
TEST(LampcastRender, SharpShadowIsTheLayerEnlargedAboutTheLight) {
  Rig rig;
  World in(40, 40, 0), out(40, 40, 0);
  for (A_long y = 4; y < 8; ++y)
    for (A_long x = 6; x < 10; ++x) in.At(x, y) = PF_Pixel{255, 1, 1, 1};
  Shadow s;
  s.light_x = 0;
  s.light_y = 0;
  s.distance = 50;
  s.opacity = 1;
  s.composite = false;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  // The square spans columns 6..9, rows 4..7: its shadow spans 12..18, 8..14.
  for (A_long y = 0; y < 40; ++y)
    for (A_long x = 0; x < 40; ++x) {
      const bool inside = x >= 12 && x <= 18 && y >= 8 && y <= 14;
      if (inside) {
        ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{255, 0, 0, 0})) << x << "," << y;
      } else if (x < 11 || x > 19 || y < 7 || y > 15) {
        ASSERT_EQ(out.At(x, y).alpha, 0) << x << "," << y;
      }
    }
}

TEST(LampcastRender, OpaqueLayerHidesItsShadow) {
  Rig rig;
  World in(25, 15, 4), out(25, 15, 4);
  for (A_long y = 0; y < 15; ++y)
    for (A_long x = 0; x < 25; ++x) in.At(x, y) = PF_Pixel{255, uint8_t(x * 10), uint8_t(y * 16), 77};
  Shadow s;
  s.opacity = 1;
  s.softness = 4;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
}

// With the light far outside and k = 1 every pixel samples the light's
// position, outside the layer: transparent, so no shadow anywhere.
TEST(LampcastRender, SamplesOutsideTheLayerCastNothing) {
  Rig rig;
  World in(20, 12, 0), out(20, 12, 0), clear(20, 12, 0);
  FillLayer(in, 2);
  Shadow s;
  s.light_x = -500;
  s.light_y = 30000;  // the projected position is far outside the layer
  s.distance = 100;
  s.composite = false;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(clear.pf(), out.pf()));
  s.composite = true;
  ASSERT_EQ(rig.Render(in, out, s), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
}

// Every failing service ends the render with its error, and the softened
// copy never outlives the render.
TEST(LampcastRender, ErrorsAndTheTemporaryWorld) {
  const std::pair<const char*, PF_Err> cases[] = {{"new_world", PF_Err_OUT_OF_MEMORY},
                                                  {"copy", PF_Err_OUT_OF_MEMORY},
                                                  {"get_callback_addr", PF_Err_BAD_CALLBACK_PARAM},
                                                  {"iterate", PF_Err_INTERNAL_STRUCT_DAMAGED},
                                                  {"subpixel_sample", PF_Err_INTERNAL_STRUCT_DAMAGED},
                                                  {"dispose_world", PF_Err_INTERNAL_STRUCT_DAMAGED}};
  for (const auto& [service, err] : cases) {
    SCOPED_TRACE(service);
    Rig rig;
    World in(16, 16, 0), out(16, 16, 0);
    FillLayer(in, 1);
    Shadow s;
    s.softness = 5;
    rig.host.failures().Arm(service, 1, err);
    EXPECT_EQ(rig.Render(in, out, s), err);
    if (std::string(service) != "dispose_world") {
      EXPECT_EQ(ombrix::LiveWorldCount(), 0u);
    }
    rig.host.failures().Clear();
  }
  // Without softness no world is made.
  Rig rig;
  World in(16, 16, 0), out(16, 16, 0);
  FillLayer(in, 1);
  rig.host.failures().Arm("new_world", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(rig.Render(in, out, Shadow{}), PF_Err_NONE);
}

TEST(LampcastRender, Registration) {
  Rig rig;
  EXPECT_EQ(rig.effect.num_params(), 9);
  const auto& p = rig.effect.params();
  EXPECT_EQ(p[kInfluence].flags, PF_ParamFlag_COLLAPSE_TWIRLY);
  EXPECT_EQ(p[kOpacity].flags, 0);
  EXPECT_EQ(p[kOpacity].u.fd.value, 0x8000);
  EXPECT_EQ(p[kLight].u.td.restrict_bounds, 0);
  EXPECT_EQ(rig.effect.PopupItems(kMode).size(), 2u);
  EXPECT_EQ(rig.effect.CheckboxLabel(kComposite), "Composite Shadow");
}

}  // namespace
