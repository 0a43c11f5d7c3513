// Lightning through the host: registration, the drawn bolt over a cleared
// frame or the layer, the opacity and record rules of the render driver,
// allocation failures, abort between bolts and half-resolution renders.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
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

enum {
  kType = 1,
  kOrigin,
  kDirection,
  kConductivity,
  kCoreRadius,
  kCoreOpacity,
  kCoreColor,
  kGlowRadius,
  kGlowOpacity,
  kGlowColor,
  kObstacle,
  kTurbulence,
  kForking,
  kDecay,
  kDecayMain,
  kAddOriginal,
};

constexpr A_long kW = 320, kH = 240, kPad = 20;

constexpr A_long Fix(double v) { return A_long(v * 65536); }

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("lightning.aex")};
};

// A layer with colour everywhere and alpha varying, so copies are checkable.
World Layer(A_long w = kW, A_long h = kH) {
  World in(w, h, kPad);
  for (A_long y = 0; y < h; ++y)
    for (A_long x = 0; x < w; ++x)
      in.At(x, y) = PF_Pixel{A_u_char(128 + (x + y) % 128), A_u_char(x), A_u_char(y), A_u_char(x ^ y)};
  return in;
}

int Lit(const World& out) {
  int n = 0;
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) n += out.At(x, y).alpha != 0;
  return n;
}

bool Cleared(const World& out) {
  for (A_long y = 0; y < out.height(); ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(out.Row(y));
    for (A_long i = 0; i < out.rowbytes(); ++i)
      if (row[i] != 0) return false;
  }
  return true;
}

std::vector<uint32_t> Words(Instance& inst) {
  PF_Handle h = inst.sequence_data();
  std::vector<uint32_t> w(ombrix::HandleSize(h) / 4);
  if (!w.empty()) std::memcpy(w.data(), *h, 4 * w.size());
  return w;
}

const std::vector<uint32_t> kDefaultWords = {1, 6, 64, 100, 0, 1, 0x00000000u, 0x3F333333u, 0x3E800000u};

uint32_t Reverse(uint32_t v) { return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24); }

// ---------------------------------------------------------------------------

TEST(LightningRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 17);
  EXPECT_EQ(f.effect.global_out_flags() & 0x21, 0x21);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Lightning");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Lightning");
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 17u);
  const char* names[] = {"",
                         "Lightning Type...",
                         "Origin",
                         "Direction/Radius",
                         "Conductivity State",
                         "Core Radius",
                         "Core Opacity",
                         "Core Color",
                         "Glow Radius",
                         "Glow Opacity",
                         "Glow Color",
                         "Alpha Obstacle",
                         "Turbulence",
                         "Forking",
                         "Decay",
                         " ",
                         " "};
  for (int i = 1; i < 17; ++i) {
    EXPECT_STREQ(p[i].name, names[i]) << i;
    const bool folded = i == kCoreOpacity || i == kCoreColor || i == kGlowRadius || i == kObstacle || i == kDecay;
    EXPECT_EQ(p[i].flags, folded ? PF_ParamFlag_COLLAPSE_TWIRLY : 0) << i;
  }
  EXPECT_EQ(p[kType].u.pd.num_choices, 8);
  EXPECT_EQ(f.effect.CheckboxLabel(kAddOriginal), "Add to Original");
  for (int i : {kCoreOpacity, kGlowOpacity, kForking}) EXPECT_EQ(p[i].u.fd.display_flags, 1) << i;
}

TEST(LightningRender, DefaultBoltOnAClearedFrame) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, kW, kH);
  World in = Layer(), out(kW, kH, kPad);
  const auto r = inst.RenderFrame(0, in.pf(), out);
  ASSERT_EQ(r.err, PF_Err_NONE) << r.message;
  EXPECT_TRUE(r.message.empty());
  // The core starts at the Origin (45 %, 5 %): the first core discs sit a
  // few pixels along the bolt, white over the blue glow.
  int white = 0;
  for (A_long y = 12; y <= 18; ++y)
    for (A_long x = 138; x <= 150; ++x) white += out.At(x, y).alpha > 200 && out.At(x, y).red > 150;
  EXPECT_GT(white, 0);
  EXPECT_LT(out.At(144, 6).red, 60) << "only the blue glow above the Origin";
  EXPECT_GT(out.At(144, 6).blue, 250);
  // The main bolt does not decay and runs off the bottom of the frame.
  int bottom = 0;
  for (A_long x = 0; x < kW; ++x) bottom += out.At(x, kH - 1).alpha != 0;
  EXPECT_GT(bottom, 0);
  // Away from it the frame stays transparent black, padding included.
  EXPECT_EQ(out.At(kW - 1, 0).alpha, 0);
  for (A_long y = 0; y < kH; ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(out.Row(y));
    for (A_long i = 4 * kW; i < out.rowbytes(); ++i) ASSERT_EQ(row[i], 0);
  }
  // Deterministic: the same parameters give the same bytes.
  World again(kW, kH, kPad);
  inst.RenderFrame(0, in.pf(), again);
  EXPECT_TRUE(ombrix::SamePixels(out.pf(), again.pf()));
}

TEST(LightningRender, AddToOriginalDrawsOverTheLayer) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.SetValue(kAddOriginal, Scalar(1));
  World in = Layer(), out(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE);
  EXPECT_EQ(std::memcmp(&out.At(kW - 1, 0), &in.At(kW - 1, 0), 4), 0);
  EXPECT_NE(std::memcmp(&out.At(144, 12), &in.At(144, 12), 4), 0);
}

TEST(LightningRender, BothOpacitiesZeroCopyOrClearWithoutLookingAtTheRecord) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.Command(PF_Cmd_SEQUENCE_SETDOWN);
  ASSERT_EQ(inst.sequence_data(), nullptr);
  inst.SetValue(kCoreOpacity, Scalar(0));
  inst.SetValue(kGlowOpacity, Scalar(0));
  World in = Layer(), out(kW, kH, kPad);
  auto r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.message.empty());
  EXPECT_TRUE(Cleared(out));
  EXPECT_EQ(inst.sequence_data(), nullptr);
  inst.SetValue(kAddOriginal, Scalar(1));
  r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
}

TEST(LightningRender, OpacityTenPercentStillDraws) {
  Fixture f;
  World in = Layer(), out(kW, kH, kPad);
  // Amounts opacity^2 x 210 (core) and x 255 (glow) below 2 draw nothing;
  // a core radius of 0 none either.
  struct Case {
    A_long core, glow, radius;
    bool drawn;
  } cases[] = {{Fix(10), 0, Fix(2), true},
               {0, Fix(10), Fix(2), true},
               {Fix(9), 0, Fix(2), false},
               {0, Fix(8.8), Fix(2), false},
               {Fix(100), 0, 0, false}};
  for (const Case& c : cases) {
    Instance inst(f.effect, TimeBase{}, kW, kH);
    inst.SetValue(kCoreOpacity, Scalar(c.core));
    inst.SetValue(kGlowOpacity, Scalar(c.glow));
    inst.SetValue(kCoreRadius, Scalar(c.radius));
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE);
    EXPECT_EQ(Lit(out) > 0, c.drawn) << c.core / 65536.0 << " " << c.glow / 65536.0;
  }
}

TEST(LightningRender, MissingRecordAnswersSetupErrorAndMakesTheDefault) {
  Fixture f;
  World in = Layer(), out(kW, kH, kPad), expected(kW, kH, kPad);
  {
    Instance fresh(f.effect, TimeBase{}, kW, kH);
    ASSERT_EQ(fresh.RenderFrame(0, in.pf(), expected).err, PF_Err_NONE);
  }
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.Command(PF_Cmd_SEQUENCE_SETDOWN);
  auto r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, "Setup Error");
  EXPECT_TRUE(Cleared(out));
  EXPECT_EQ(Words(inst), kDefaultWords);
  r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.message.empty());
  EXPECT_TRUE(ombrix::SamePixels(expected.pf(), out.pf()));
}

TEST(LightningRender, ForeignRecordIsReplacedByTheDefault) {
  Fixture f;
  World in = Layer(), out(kW, kH, kPad);
  Instance inst(f.effect, TimeBase{}, kW, kH);
  static_cast<uint32_t*>(*inst.sequence_data())[0] = 3;  // version 3 in either byte order
  const size_t handles = ombrix::LiveHandleCount();
  const auto r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_EQ(r.message, "Setup Error");
  EXPECT_TRUE(Cleared(out));
  EXPECT_EQ(Words(inst), kDefaultWords);
  EXPECT_EQ(ombrix::LiveHandleCount(), handles) << "the foreign record is released, not dropped";
}

TEST(LightningRender, RecordOfTheOtherByteOrderIsAcceptedAndConverted) {
  Fixture f;
  World in = Layer();
  // Complexity 3, fork distance 20, Spline, fork strength 0.9f, forking 100 %.
  const std::vector<uint32_t> custom = {1, 3, 20, 100, 0, 4, 0, 0x3F666666u, 0x3E800000u};
  std::vector<uint8_t> stored(36);
  std::memcpy(stored.data(), custom.data(), 36);
  World expected(kW, kH, kPad), defaults(kW, kH, kPad), out(kW, kH, kPad);
  {
    Instance native(f.effect, TimeBase{}, kW, kH, stored);
    native.SetValue(kForking, Scalar(Fix(1)));
    ASSERT_EQ(native.RenderFrame(0, in.pf(), expected).err, PF_Err_NONE);
  }
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.SetValue(kForking, Scalar(Fix(1)));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), defaults).err, PF_Err_NONE);
  auto* words = static_cast<uint32_t*>(*inst.sequence_data());
  for (int i = 0; i < 9; ++i) words[i] = Reverse(custom[i]);
  const auto r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(r.message.empty());
  EXPECT_EQ(Words(inst), custom);
  EXPECT_TRUE(ombrix::SamePixels(expected.pf(), out.pf()));
  EXPECT_FALSE(ombrix::SamePixels(defaults.pf(), out.pf())) << "the record's settings are used";
}

TEST(LightningRender, StoredComplexityIsBounded) {
  // A stored record may hold any octave count; the dialog offers 1..8. A
  // huge one renders like 64 octaves (the rest is below 1e-9) instead of
  // running for hours.
  Fixture f;
  World in = Layer(), capped(kW, kH, kPad), huge(kW, kH, kPad);
  auto record = [](uint32_t complexity) {
    return RecordBytes({1, complexity, 64, 100, 0, 1, 0, 0x3F333333u, 0x3E800000u});
  };
  Instance a(f.effect, TimeBase{}, kW, kH, record(64));
  ASSERT_EQ(a.RenderFrame(0, in.pf(), capped).err, PF_Err_NONE);
  Instance b(f.effect, TimeBase{}, kW, kH, record(0x7FFFFFFF));
  ASSERT_EQ(b.RenderFrame(0, in.pf(), huge).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(capped.pf(), huge.pf()));
}

TEST(LightningRender, AllocationFailures) {
  Fixture f;
  World in = Layer(), out(kW, kH, kPad);
  Instance inst(f.effect, TimeBase{}, kW, kH);
  // The queue is the render's first handle: -108, the frame left cleared.
  f.host.failures().Arm("new_handle", 1, PF_Err_OUT_OF_MEMORY);
  auto r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_MAC_OUT_OF_MEMORY);
  EXPECT_TRUE(Cleared(out));
  // The main bolt's path is the second: the bolt and its forks are skipped.
  f.host.failures().Arm("new_handle", 2, PF_Err_OUT_OF_MEMORY);
  r = inst.RenderFrame(0, in.pf(), out);
  EXPECT_EQ(r.err, PF_Err_NONE);
  EXPECT_TRUE(Cleared(out));
  // A failing fill is returned as it is.
  f.host.failures().Arm("fill", 1, 1234);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out).err, 1234);
  inst.SetValue(kAddOriginal, Scalar(1));
  f.host.failures().Arm("copy", 1, 4321);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out).err, 4321);
  f.host.failures().Clear();
  EXPECT_EQ(ombrix::LiveHandleCount(), 1u) << "only the settings record is left";
}

TEST(LightningRender, AbortStopsBetweenBolts) {
  Fixture f;
  World in = Layer(), main_only(kW, kH, kPad), out(kW, kH, kPad);
  {
    // Without forks (and no fork drain) the main bolt is the same bolt.
    Instance inst(f.effect, TimeBase{}, kW, kH);
    inst.SetValue(kForking, Scalar(0));
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), main_only).err, PF_Err_NONE);
  }
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.SetValue(kForking, Scalar(Fix(1)));
  const int before = f.host.failures().Calls("abort");
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE);
  const int checks = f.host.failures().Calls("abort") - before;
  EXPECT_GT(checks, 1) << "asked after every bolt but the last";
  f.host.abort_requested = true;
  const auto r = inst.RenderFrame(0, in.pf(), out);
  f.host.abort_requested = false;
  EXPECT_EQ(r.err, PF_Interrupt_CANCEL);
  EXPECT_EQ(f.host.failures().Calls("abort") - before, checks + 1);
  EXPECT_TRUE(ombrix::SamePixels(main_only.pf(), out.pf()));
  EXPECT_EQ(ombrix::LiveHandleCount(), 1u) << "queue and paths are released";
}

TEST(LightningRender, BandedStampingMatchesStampingOneByOne) {
  // The discs are stamped in bands of rows through iterate. When the batch's
  // block cannot be had (the third handle, after the queue and the main
  // bolt's path) each disc is stamped as it is placed instead: the bytes
  // must not differ, whatever the threads, size and row padding.
  struct Case {
    A_long w, h, pad;
    A_long forking, core_radius, glow_radius, add_original;
    bool several_passes;  // more discs than one batch holds
  };
  const Case cases[] = {
      {kW, kH, kPad, 0x4000, Fix(2), Fix(50), 0, false},
      {333, 207, 12, Fix(1), Fix(1), Fix(1), 1, true},
      {97, 301, 0, Fix(1), Fix(6.5), Fix(120), 1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " pad " << k.pad);
    Fixture f;
    Instance inst(f.effect, TimeBase{}, k.w, k.h, RecordBytes({1, 8, 64, 100, 0, 1, 0, 0x3F333333u, 0x3E800000u}));
    inst.SetValue(kForking, Scalar(k.forking));
    inst.SetValue(kCoreRadius, Scalar(k.core_radius));
    inst.SetValue(kGlowRadius, Scalar(k.glow_radius));
    inst.SetValue(kAddOriginal, Scalar(k.add_original));
    World in = Layer(k.w, k.h), one_by_one(k.w, k.h, k.pad);
    f.host.failures().Clear();
    f.host.failures().Arm("new_handle", 3, PF_Err_OUT_OF_MEMORY);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), one_by_one).err, PF_Err_NONE);
    ASSERT_EQ(f.host.failures().Calls("iterate"), 0) << "stamped without a batch";
    ASSERT_GT(Lit(one_by_one), 0);
    for (int threads : {1, 2, 3}) {
      f.host.SetThreads(threads);
      f.host.failures().Clear();
      World out(k.w, k.h, k.pad);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out).err, PF_Err_NONE);
      const int passes = f.host.failures().Calls("iterate");
      EXPECT_GE(passes, 1);
      if (k.several_passes) {
        EXPECT_GT(passes, 1);
      }
      EXPECT_TRUE(ombrix::SamePixels(one_by_one.pf(), out.pf())) << threads << " threads";
    }
  }
}

TEST(LightningRender, FailingStampingPassIsReturned) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, kW, kH);
  World in = Layer(), out(kW, kH, kPad);
  f.host.failures().Arm("iterate", 1, 2345);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out).err, 2345);
  f.host.failures().Clear();
  EXPECT_EQ(ombrix::LiveHandleCount(), 1u) << "queue, paths and batch are released";
}

// Alpha-weighted centre of the lit pixels, in full-resolution pixels.
struct Centroid {
  double x = 0, y = 0, mass = 0;
};
Centroid CentreOf(const World& out, double scale) {
  Centroid c;
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) {
      const double a = out.At(x, y).alpha;
      c.x += a * x;
      c.y += a * y;
      c.mass += a;
    }
  c.x = c.x / c.mass / scale;
  c.y = c.y / c.mass / scale;
  return c;
}

TEST(LightningRender, HalfResolutionDrawsTheSameBoltAtHalfSize) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, kW, kH);
  inst.SetValue(kGlowOpacity, Scalar(0));
  inst.SetValue(kCoreRadius, Scalar(Fix(4)));
  World in = Layer(), full(kW, kH, kPad), half;
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), full).err, PF_Err_NONE);
  ombrix::RenderSettings rs;
  rs.downsample_x = rs.downsample_y = PF_RationalScale{1, 2};
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), half, rs).err, PF_Err_NONE);
  ASSERT_EQ(half.width(), kW / 2);
  const Centroid a = CentreOf(full, 1.0), b = CentreOf(half, 0.5);
  EXPECT_NEAR(a.x, b.x, 1.0);
  EXPECT_NEAR(a.y, b.y, 1.0);
  // A quarter of the area, within the blur of stamping at half size.
  EXPECT_NEAR(b.mass / a.mass, 0.25, 0.06);
  // Every lit half-size pixel lies within a pixel of a lit full-size one.
  for (A_long y = 0; y < half.height(); ++y)
    for (A_long x = 0; x < half.width(); ++x) {
      if (half.At(x, y).alpha == 0) continue;
      bool near = false;
      for (A_long dy = -2; dy <= 3 && !near; ++dy)
        for (A_long dx = -2; dx <= 3 && !near; ++dx) {
          const A_long fx = 2 * x + dx, fy = 2 * y + dy;
          near = fx >= 0 && fy >= 0 && fx < kW && fy < kH && full.At(fx, fy).alpha != 0;
        }
      ASSERT_TRUE(near) << x << "," << y;
    }
}

}  // namespace
