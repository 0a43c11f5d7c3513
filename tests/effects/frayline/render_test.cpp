// Frayline through the host. Expected pixels come from the rules written out
// again here (from the noise core's readers and the host's smoothing
// function, both pinned by their own tests), never from the plug-in.
#include <ombrix/host/host.h>
#include <ombrix/host/smooth.h>

#include <noise/fractal.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace effect_test;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

enum { kType = 1, kBorder, kSharpness, kInfluence, kScale, kStretch, kOffset, kComplexity, kEvolution, kEdge };

struct Settings {
  int type = 1;
  double border = 0, sharpness = 1, influence = 1, scale = 100, stretch = 0;
  int complexity = 2;
  PF_Pixel edge{255, 153, 51, 0};
};

void Apply(Instance& inst, const Settings& s) {
  inst.SetValue(kType, Scalar(s.type));
  inst.SetValue(kBorder, Scalar(A_long(std::lround(s.border * 65536))));
  inst.SetValue(kSharpness, Scalar(A_long(std::lround(s.sharpness * 65536))));
  inst.SetValue(kInfluence, Scalar(A_long(std::lround(s.influence * 65536))));
  inst.SetValue(kScale, Scalar(A_long(std::lround(s.scale * 65536))));
  inst.SetValue(kStretch, Scalar(A_long(std::lround(s.stretch * 65536))));
  inst.SetValue(kComplexity, Scalar(s.complexity));
  ParamValue edge;
  edge.color = s.edge;
  inst.SetValue(kEdge, edge);
}

// A rounded shape: opaque inside, transparent outside, a soft rim of
// alpha ramping over `rim` pixels (0: hard edges only).
void FillShape(World& w, int rim) {
  const double cx = w.width() / 2.0, cy = w.height() / 2.0, r = w.height() * 0.35;
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) {
      const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy) - r;
      double a = d <= 0 ? 255 : 0;
      if (rim > 0) a = std::clamp(255.0 * (0.5 - d / rim), 0.0, 255.0);
      w.At(x, y) = PF_Pixel{uint8_t(a), uint8_t(40 + x % 200), uint8_t(200 - y % 150), uint8_t((x * y) % 256)};
    }
}

// ---- The rules, written out again -----------------------------------------
double ClipR(double v) { return v >= 255 ? 255 : v <= 0 ? 0 : std::trunc(v); }

struct Ref {
  noise::NoiseLattice lattice;
  double C, k0, fx, fy, x0, y0, influence;
  int octaves;
  PF_Pixel edge;
};

// The value the plug-in sees: the slider's 16.16 word / 65536.
double Q(double v) { return double(std::lround(v * 65536)) / 65536.0; }

Ref MakeRef(const Settings& given, int W, int H) {
  Settings s = given;
  s.sharpness = Q(s.sharpness);
  s.influence = Q(s.influence);
  s.scale = Q(s.scale);
  s.stretch = Q(s.stretch);
  Ref r{};
  noise::BuildNoiseLattice(r.lattice, 0, nullptr);
  const double D = s.scale * s.sharpness * 0.01;
  r.C = s.type == 3 ? 6 * D + 3 : s.type >= 7 ? s.sharpness * 0.25 + 1 : 10 * D + 1;
  r.k0 = 0.5 - 0.5 / r.C;
  const double base = 1.0 / H;
  const double ex = s.stretch > 0 ? base / (s.stretch + 1) : base;
  const double ey = s.stretch < 0 ? base / (1 - s.stretch) : base;
  r.fx = ex * 4000 / s.scale;
  r.fy = ey * 4000 / s.scale;
  r.x0 = 7913.17 + W * r.fx * 0.5;  // offset (0, 0)
  r.y0 = H * r.fy * 0.5 + 9711.73;
  r.octaves = s.complexity + (s.type == 5 || s.type == 6 ? 1 : 0);
  r.influence = s.influence;
  r.edge = s.edge;
  return r;
}

PF_Pixel Expected(const Ref& r, int type, int x, int y, PF_Pixel in, PF_Pixel out) {
  const double u0 = r.x0 - x * r.fx, v0 = r.y0 - y * r.fy;
  const double e = out.alpha * 0.003921568;
  auto fray = [&](double start, bool spiky) {
    double g = start, w = 1, u = u0, v = v0;
    for (int i = 0; i < r.octaves; ++i) {
      u *= -1.77;
      v *= -1.77;
      const double n = noise::NoiseCubic(r.lattice, u, v);
      g += spiky ? (1 - e) * (0.3 - std::fabs(w * n)) : n * w * std::fabs(g) * (1 - std::fabs(g));
      w *= 0.77;
    }
    return g;
  };
  auto trunc8 = [](double v) { return uint8_t(int(v)); };
  if (type <= 4 && type != 3) {
    if (out.alpha == 255) return in;
    if (out.alpha == 0) return out;
    const double q = e + (fray(e, type == 4) - e) * r.influence;
    const double m = (q - r.k0) * out.alpha * r.C;
    PF_Pixel p = out;
    p.alpha = uint8_t(ClipR(m));
    if (in.alpha > 0) {
      const double t = e * in.alpha / 255;
      p.red = trunc8(t * in.red + (1 - t) * out.red);
      p.green = trunc8(t * in.green + (1 - t) * out.green);
      p.blue = trunc8(t * in.blue + (1 - t) * out.blue);
    }
    if (type == 2) {
      const double t2 = std::clamp((m - 255) / 255, 0.0, 1.0);
      p.red = trunc8((1 - t2) * r.edge.red + t2 * p.red);
      p.green = trunc8((1 - t2) * r.edge.green + t2 * p.green);
      p.blue = trunc8((1 - t2) * r.edge.blue + t2 * p.blue);
    }
    return p;
  }
  if (type == 3) {
    if (in.alpha == 0) return in;
    if (out.alpha == 0 || out.alpha == 255) return out;
    PF_Pixel p = in;
    p.alpha = uint8_t(ClipR((e + (fray(e, false) - e) * r.influence - r.k0) * in.alpha * r.C));
    return p;
  }
  if (type <= 6) {
    if (out.alpha == 255 || in.alpha == 0) return in;
    if (out.alpha == 0) return out;
    const double c = noise::NoiseCubic(r.lattice, u0, v0);
    double h = c * c * 0.5, w = 0.3, u = u0, v = v0;
    for (int i = 0; i < r.octaves; ++i) {
      u *= -1.77;
      v *= -1.77;
      h += w * noise::NoiseLinear(r.lattice, u, v);
      w *= 0.77;
    }
    PF_Pixel p = in;
    double l = h - (1.1 - r.influence);
    if (l > 0) {
      l = l * (1 - e) * r.C;
      p.alpha = 2 * l >= 1 ? 0 : uint8_t(ClipR((1 - 2 * l) * in.alpha));
    }
    if (type == 6 && p.alpha >= 1 && p.alpha <= 254) {
      const double o = (255 - p.alpha) * 0.007874015748;
      if (o >= 1) {
        p.red = r.edge.red, p.green = r.edge.green, p.blue = r.edge.blue;
      } else {
        p.red = trunc8(o * r.edge.red + (1 - o) * p.red);
        p.green = trunc8(o * r.edge.green + (1 - o) * p.green);
        p.blue = trunc8(o * r.edge.blue + (1 - o) * p.blue);
      }
    }
    return p;
  }
  if (in.alpha == 0) return in;
  if (out.alpha == 0) return out;
  const double m0 = (in.alpha - 2 * out.alpha + 265) * 0.003921568;
  const double mixed = m0 + (fray(std::clamp(m0, 0.0, 1.0), false) - m0) * r.influence;
  if (type == 7) {
    PF_Pixel p = in;
    p.alpha = uint8_t(std::min<double>(in.alpha, ClipR(mixed * in.alpha * r.C)));
    return p;
  }
  const double A = mixed * r.C;
  if (A <= 0) return PF_Pixel{in.alpha, r.edge.red, r.edge.green, r.edge.blue};
  if (A >= 1) return in;
  return PF_Pixel{in.alpha, trunc8((1 - A) * r.edge.red + A * in.red), trunc8((1 - A) * r.edge.green + A * in.green),
                  trunc8((1 - A) * r.edge.blue + A * in.blue)};
}

class FraylineTest : public ::testing::Test {
 protected:
  Host host;
  Effect effect{host, TestPlugin("frayline.aex")};
};

TEST_F(FraylineTest, EveryTypeFollowsItsRuleOnASoftEdgedLayer) {
  // Border 0: only the Cerox types smooth (radius 1), with the host's routine.
  const int W = 61, H = 47;
  World in(W, H, 12);
  FillShape(in, 9);
  for (int type = 1; type <= 8; ++type) {
    for (double influence : {1.0, 0.6}) {
      Settings s;
      s.type = type;
      s.influence = influence;
      s.sharpness = type >= 7 ? 1.5 : 0.02;  // keep the Roughen-family curve from saturating
      Instance inst(effect, TimeBase{}, W, H);
      Apply(inst, s);
      World out(W, H, 8);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      World smoothed = in;
      if (type >= 7) ombrix::SmoothWorld(smoothed.pf(), 1.0, 97);
      const Ref ref = MakeRef(s, W, H);
      int soft = 0;
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const PF_Pixel want = Expected(ref, type, x, y, in.At(x, y), smoothed.At(x, y));
          const PF_Pixel got = out.At(x, y);
          ASSERT_EQ(Show(got), Show(want)) << "type " << type << " influence " << influence << " at " << x << "," << y;
          if (smoothed.At(x, y).alpha > 0 && smoothed.At(x, y).alpha < 255) ++soft;
        }
      EXPECT_GT(soft, 50);
    }
  }
}

TEST_F(FraylineTest, BorderZeroLeavesHardAlphaUnchangedExceptCerox) {
  const int W = 50, H = 40;
  World in(W, H, 4);
  FillShape(in, 0);
  for (int type = 1; type <= 8; ++type) {
    Settings s;
    s.type = type;
    Instance inst(effect, TimeBase{}, W, H);
    Apply(inst, s);
    World out(W, H, 4);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    EXPECT_EQ(ombrix::SamePixels(in.pf(), out.pf()), type < 7) << type;
  }
}

TEST_F(FraylineTest, InfluenceZeroIsThePureContrastCurve) {
  // alpha = clip(((e - 0.5) C + 0.5) a_out) on the smoothed edge.
  const int W = 64, H = 48;
  World in(W, H);
  FillShape(in, 0);
  Settings s;
  s.border = 6;
  s.influence = 0;
  s.sharpness = 0.05;  // C = 10 * (100 * 0.05 * 0.01) + 1 = 1.5
  Instance inst(effect, TimeBase{}, W, H);
  Apply(inst, s);
  World out(W, H);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  World smoothed = in;
  ombrix::SmoothWorld(smoothed.pf(), 6, 111);
  const double C = 10 * (100 * Q(0.05) * 0.01) + 1;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const int a = smoothed.At(x, y).alpha;
      if (a == 0) continue;
      if (a == 255) {
        ASSERT_EQ(Show(out.At(x, y)), Show(in.At(x, y)));  // opaque interior restored
        continue;
      }
      const double e = a * 0.003921568;
      ASSERT_NEAR(out.At(x, y).alpha, ClipR(((e - 0.5) * C + 0.5) * a), 1.0) << x << "," << y;
    }
}

TEST_F(FraylineTest, StretchHalvesTheFrequency) {
  // Pixel x with stretch 1 reads the lattice where pixel x / 2 read it
  // unstretched, measured from the centre (W even, offsets along one row).
  const int W = 80, H = 40;
  Settings plain, wide;
  wide.stretch = 1;
  const Ref a = MakeRef(plain, W, H), b = MakeRef(wide, W, H);
  EXPECT_DOUBLE_EQ(b.fx, a.fx / 2);
  EXPECT_DOUBLE_EQ(b.fy, a.fy);
  Settings tall;
  tall.stretch = -1;
  EXPECT_DOUBLE_EQ(MakeRef(tall, W, H).fy, a.fy / 2);
  // Through the plug-in: a stretched render follows the reference with halved fx.
  World in(W, H);
  FillShape(in, 11);
  wide.influence = 1;
  wide.sharpness = 0.02;  // Border 0 (the default of Settings): the input is the edge zone
  Instance inst(effect, TimeBase{}, W, H);
  Apply(inst, wide);
  World out(W, H);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  const Ref sharp = MakeRef(wide, W, H);
  ASSERT_DOUBLE_EQ(sharp.fx, a.fx / 2);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) ASSERT_EQ(Show(out.At(x, y)), Show(Expected(sharp, 1, x, y, in.At(x, y), in.At(x, y))));
}

TEST_F(FraylineTest, PaddedRowsHalfResolutionAndThreads) {
  const int W = 90, H = 60;
  World tight(W, H), padded(W, H, 28);
  FillShape(tight, 0);
  FillShape(padded, 0);
  for (int type : {1, 5, 8}) {
    Settings s;
    s.type = type;
    s.border = 5;
    Instance a(effect, TimeBase{}, W, H), b(effect, TimeBase{}, W, H);
    Apply(a, s);
    Apply(b, s);
    World out_a(W, H), out_b(W, H, 16);
    host.SetThreads(1);
    ASSERT_EQ(a.RenderFrame(0, tight.pf(), out_a.pf()).err, PF_Err_NONE);
    host.SetThreads(0);
    ASSERT_EQ(b.RenderFrame(0, padded.pf(), out_b.pf()).err, PF_Err_NONE);
    EXPECT_TRUE(ombrix::SamePixels(out_a.pf(), out_b.pf())) << type;
  }
  // Half resolution: the border halves with the buffer and the pattern keeps
  // its size relative to the layer (W and H are the buffer's).
  Settings s;
  s.border = 6;
  Instance inst(effect, TimeBase{}, W, H);
  Apply(inst, s);
  ombrix::RenderSettings half;
  half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};
  World out;
  ASSERT_EQ(inst.RenderFrame(0, tight.pf(), out, half).err, PF_Err_NONE);
  ASSERT_EQ(out.width(), 45);
  World reduced = ombrix::DownsampledWorld(tight.pf(), half);
  World smoothed = reduced;
  ombrix::SmoothWorld(smoothed.pf(), 3, 111);
  const Ref ref = MakeRef(s, 45, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 45; ++x)
      ASSERT_EQ(Show(out.At(x, y)), Show(Expected(ref, 1, x, y, reduced.At(x, y), smoothed.At(x, y))));
}

TEST_F(FraylineTest, SmoothingErrorsEndTheRender) {
  World in(20, 20), out(20, 20);
  FillShape(in, 0);
  Instance inst(effect, TimeBase{}, 20, 20);
  Apply(inst, Settings{1, 4});
  host.failures().Arm("get_callback_addr", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
  host.failures().Arm("smooth", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
}

}  // namespace
