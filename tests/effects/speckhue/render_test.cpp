// Speckhue through the host: registration, the exact copy at zero
// amplitude, every byte of uniform and squared noise against a step-by-step
// walk of the streams, the phase's stream pairs, the repeat of the seeds,
// layouts with padded rows, and the grain through the host's smoothing.
#include "reference.h"

#include <ombrix/host/host.h>
#include <ombrix/host/smooth.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
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
using speckhue_ref::Settings;

enum { kNoise = 1, kHue, kLightness, kSaturation, kGrainSize, kPhase };

ombrix::HostOptions WithThreads(int threads) {
  ombrix::HostOptions options;
  options.threads = threads;
  return options;
}

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("speckhue.aex")};
  Fixture() = default;
  explicit Fixture(int threads) : host(WithThreads(threads)) {}
};

void Apply(Instance& inst, const Settings& s) {
  inst.SetValue(kNoise, Scalar(s.mode));
  inst.SetValue(kHue, Scalar(s.hue));
  inst.SetValue(kLightness, Scalar(s.lightness));
  inst.SetValue(kSaturation, Scalar(s.saturation));
  inst.SetValue(kGrainSize, Scalar(s.grain_size));
  inst.SetValue(kPhase, Scalar(s.phase));
}

// Every colour, some transparent pixels with colour under them, greys.
void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    PF_Pixel p{((x + 2 * y) % 9 == 0) ? uint8_t(0) : Byte(s, 24), Byte(s, 16), Byte(s, 8), Byte(s, 2)};
    if ((x * 3 + y) % 13 == 5) p.green = p.blue = p.red;  // grey: no hue
    return p;
  });
}

::testing::AssertionResult SameImage(const World& got, const World& expected) {
  for (A_long y = 0; y < expected.height(); ++y)
    for (A_long x = 0; x < expected.width(); ++x)
      if (std::memcmp(&got.At(x, y), &expected.At(x, y), 4) != 0)
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << "): got " << Show(got.At(x, y))
                                             << " expected " << Show(expected.At(x, y));
  for (A_long y = 0; y < got.height(); ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(got.Row(y));
    for (A_long i = 4 * got.width(); i < got.rowbytes(); ++i)
      if (row[i] != 0) return ::testing::AssertionFailure() << "padding written in row " << y;
  }
  return ::testing::AssertionSuccess();
}

World RenderWith(Fixture& f, const Settings& s, World& in, A_long pad, PF_Err* err = nullptr) {
  Instance inst(f.effect, TimeBase{}, in.width(), in.height());
  Apply(inst, s);
  World out(in.width(), in.height(), pad);
  const PF_Err e = inst.RenderFrame(0, in.pf(), out.pf()).err;
  if (err != nullptr) {
    *err = e;
  } else {
    EXPECT_EQ(e, PF_Err_NONE);
  }
  return out;
}

int CountChanged(const World& a, const World& b) {
  int n = 0;
  for (A_long y = 0; y < a.height(); ++y)
    for (A_long x = 0; x < a.width(); ++x) n += std::memcmp(&a.At(x, y), &b.At(x, y), 4) != 0;
  return n;
}

constexpr A_long kW = 31, kH = 19, kPad = 24;
constexpr A_long kDegree = 65536;

// ---------------------------------------------------------------------------

TEST(SpeckhueRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 7);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Speckhue");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Speckhue");
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 7u);
  const char* names[] = {"Noise...", "Hue", "Lightness", "Saturation", "Grain Size", "Noise Phase"};
  for (int i = 0; i < 6; ++i) EXPECT_STREQ(p[i + 1].name, names[i]);
  EXPECT_EQ(f.effect.PopupItems(kNoise), (std::vector<std::string>{"Uniform", "Squared", "Grain"}));
  for (int i : {kHue, kLightness, kSaturation}) {
    EXPECT_EQ(p[i].u.fd.dephault, 0);
    EXPECT_EQ(p[i].u.fd.valid_max, 10 << 16);
    EXPECT_EQ(p[i].u.fd.slider_max, 1 << 16);
    EXPECT_EQ(p[i].u.fd.display_flags, 1);
    EXPECT_EQ(p[i].u.fd.precision, 1);
  }
  EXPECT_EQ(p[kGrainSize].u.fd.dephault, 1 << 16);
  EXPECT_EQ(p[kGrainSize].u.fd.slider_max, 4 << 16);
  EXPECT_EQ(p[kGrainSize].u.fd.precision, 2);
  EXPECT_EQ(p[kGrainSize].u.fd.display_flags, 0);
  EXPECT_EQ(p[kGrainSize].flags, 0x20);
  EXPECT_EQ(p[kPhase].param_type, PF_Param_ANGLE);
  EXPECT_EQ(p[kPhase].flags, 0x20);
}

// The defaults (all amplitudes 0) copy the input exactly in every mode,
// grain included, whatever the phase and grain size.
TEST(SpeckhueRender, ZeroAmplitudesCopy) {
  Fixture f;
  for (int mode = 1; mode <= 3; ++mode) {
    Settings s;
    s.mode = mode;
    s.phase = 123 * kDegree;
    s.grain_size = 3 << 16;
    World in(kW, kH, kPad);
    FillPattern(in, 4);
    EXPECT_TRUE(SameImage(RenderWith(f, s, in, kPad), in)) << mode;
  }
}

// Uniform and squared noise on hue, lightness and saturation alone and
// together, at phases on and between the quarter turns (negative and past
// a full turn included), on tight and padded rows: every byte as the reference walk gives it.
TEST(SpeckhueRender, UniformAndSquaredMatchTheWrittenWalk) {
  Fixture f;
  const A_long phases[] = {0, 90 * kDegree, 37 * kDegree + 0x4321, -200 * kDegree - 77, 1000 * kDegree + 0x8000};
  struct Amps {
    A_long h, l, s;
  };
  const Amps amps[] = {
      {0x4000, 0, 0}, {0, 0x8000, 0}, {0, 0, 0x6000}, {0x2000, 0x3000, 0x5000}, {0x10000, 0x10000, 0x10000}};
  int variant = 0;
  for (int mode : {1, 2}) {
    for (A_long phase : phases) {
      for (const Amps& a : amps) {
        ++variant;
        Settings s;
        s.mode = mode;
        s.phase = phase;
        s.hue = a.h;
        s.lightness = a.l;
        s.saturation = a.s;
        const A_long pad = (variant % 2) ? kPad : 0;
        SCOPED_TRACE(::testing::Message() << "mode " << mode << " phase " << phase << " amps " << a.h << "/" << a.l
                                          << "/" << a.s << " pad " << pad);
        World in(kW, kH, pad);
        FillPattern(in, uint32_t(variant));
        const World out = RenderWith(f, s, in, pad);
        ASSERT_TRUE(SameImage(out, speckhue_ref::Render(in, s)));
        EXPECT_GT(CountChanged(out, in), kW * kH / 3);
      }
    }
  }
}

// Phase 0 reads the stream pairs of seeds (s-1, s0), (s0, s1); 90 degrees
// those shifted by one, (s0, s1), (s1, s2). 66 full turns (264 quarter
// turns) later the seeds repeat, and so does the noise.
TEST(SpeckhueRender, PhaseChoosesTheStreams) {
  Fixture f;
  World in(kW, kH, kPad);
  FillPattern(in, 17);
  Settings s;
  s.hue = 0x3000;
  s.lightness = 0x3000;
  s.saturation = 0x3000;

  speckhue_ref::Streams at0;
  at0.phase[0] = 3641352 - 13793;
  at0.phase[1] = 0;
  at0.phase[2] = 13793;
  at0.phase[3] = 27586;
  speckhue_ref::Streams at90 = at0;
  for (int k = 0; k < 4; ++k) at90.phase[k] = uint32_t(13793 * k);

  for (int mode : {1, 2}) {
    s.mode = mode;
    at0.squared = at90.squared = mode == 2;
    s.phase = 0;
    const World zero = RenderWith(f, s, in, kPad);
    EXPECT_TRUE(SameImage(zero, speckhue_ref::Render(in, s, at0)));
    s.phase = 90 * kDegree;
    const World ninety = RenderWith(f, s, in, kPad);
    EXPECT_TRUE(SameImage(ninety, speckhue_ref::Render(in, s, at90)));
    EXPECT_GT(CountChanged(zero, ninety), kW * kH / 2);

    // The same phase twice, and the same phase 66 turns on.
    s.phase = 45 * kDegree;
    const World a = RenderWith(f, s, in, kPad);
    EXPECT_TRUE(SameImage(RenderWith(f, s, in, 0), a));
    s.phase = (45 + 66 * 360) * kDegree;
    EXPECT_TRUE(SameImage(RenderWith(f, s, in, kPad), a));
    s.phase = 46 * kDegree;
    EXPECT_GT(CountChanged(RenderWith(f, s, in, kPad), a), 0);
  }
}

// The noise belongs to the pixel, not to the row layout: tight and padded
// rows give the same image, and the padding is never written.
TEST(SpeckhueRender, RowLayoutDoesNotMatter) {
  Fixture f;
  for (int mode : {1, 2}) {
    Settings s;
    s.mode = mode;
    s.hue = 0x8000;
    s.lightness = 0x4000;
    s.phase = 10 * kDegree;
    World tight(kW, kH, 0), padded(kW, kH, kPad), wide(kW, kH, 4 * 64);
    FillPattern(tight, 9);
    FillPattern(padded, 9);
    FillPattern(wide, 9);
    const World a = RenderWith(f, s, tight, 0);
    EXPECT_TRUE(SameImage(RenderWith(f, s, padded, kPad), a));
    EXPECT_TRUE(SameImage(RenderWith(f, s, wide, 4 * 64), a));
  }
}

// Lightness and saturation at 1000 %: every pixel is pushed against the
// ends of the range, and the result is still exactly the reference walk's (the
// clamp to 0..1 holds); hue at 1000 % wraps any number of turns.
TEST(SpeckhueRender, ExtremeAmplitudes) {
  Fixture f;
  World in(kW, kH, kPad);
  FillPattern(in, 23);
  Settings s;
  s.hue = 10 << 16;
  s.lightness = 10 << 16;
  s.saturation = 10 << 16;
  s.phase = 300 * kDegree;
  for (int mode : {1, 2}) {
    s.mode = mode;
    const World out = RenderWith(f, s, in, kPad);
    ASSERT_TRUE(SameImage(out, speckhue_ref::Render(in, s)));
  }
  // With lightness alone at 1000 %, most pixels end black or white.
  s.mode = 1;
  s.hue = 0;
  s.saturation = 0;
  const World out = RenderWith(f, s, in, kPad);
  int extremes = 0;
  for (A_long y = 0; y < kH; ++y)
    for (A_long x = 0; x < kW; ++x) {
      const PF_Pixel& p = out.At(x, y);
      const bool black = p.red == 0 && p.green == 0 && p.blue == 0;
      const bool white = p.red == 255 && p.green == 255 && p.blue == 255;
      extremes += (black || white) ? 1 : 0;
    }
  EXPECT_GT(extremes, kW * kH * 3 / 4);
}

// Grain Size 0 smooths nothing: the output is the noise field itself
// (uniform draws as bytes around 127.5) applied with the grain amplitudes
// and the 0..0xFFFF clamp. Any other size goes through the host's routine
// in its colour-only mode; the field is checked against the routine applied
// here to that field, at full and half resolution.
TEST(SpeckhueRender, GrainThroughTheSmoothingRoutine) {
  Fixture f;
  struct Case {
    A_long size;
    A_long phase;
    A_long h, l, s;
    A_long pad;
  };
  const Case cases[] = {{0, 0, 0x8000, 0x8000, 0x8000, kPad},
                        {0, 33 * kDegree, 10 << 16, 10 << 16, 10 << 16, 0},
                        {1 << 16, 0, 0x8000, 0x4000, 0x2000, kPad},
                        {3 << 16 | 0x4000, 200 * kDegree, 0x10000, 0x10000, 0x10000, 0},
                        {10 << 16, -70 * kDegree, 0x6000, 0, 0x6000, kPad}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "size " << c.size << " phase " << c.phase << " pad " << c.pad);
    Settings s;
    s.mode = 3;
    s.grain_size = c.size;
    s.phase = c.phase;
    s.hue = c.h;
    s.lightness = c.l;
    s.saturation = c.s;
    World in(kW, kH, c.pad);
    FillPattern(in, uint32_t(c.size + 3));
    const World out = RenderWith(f, s, in, c.pad);
    World field = speckhue_ref::GrainField(kW, kH, s);
    ombrix::SmoothWorld(field.pf(), speckhue_ref::GrainRadius(s), ombrix::kSmoothColor);
    ASSERT_TRUE(SameImage(out, speckhue_ref::ApplyGrain(in, field, s)));
    EXPECT_GT(CountChanged(out, in), kW * kH / 3);
  }

  // A 62x38 layer at half resolution: grains of half the size in buffer pixels.
  ombrix::RenderSettings half;
  half.downsample_x = PF_RationalScale{1, 2};
  half.downsample_y = PF_RationalScale{1, 2};
  Settings s;
  s.mode = 3;
  s.grain_size = 4 << 16;
  s.hue = s.lightness = s.saturation = 0x8000;
  s.downsample = 0.5;
  Instance inst(f.effect, TimeBase{}, 2 * kW, 2 * kH);
  Apply(inst, s);
  World full(2 * kW, 2 * kH, kPad), out(kW, kH, kPad);
  FillPattern(full, 8);
  ASSERT_EQ(inst.RenderFrame(0, full.pf(), out.pf(), half).err, PF_Err_NONE);
  const World reduced = ombrix::DownsampledWorld(full.pf(), half, kPad);
  World field = speckhue_ref::GrainField(kW, kH, s);
  ombrix::SmoothWorld(field.pf(), 2.0, ombrix::kSmoothColor);
  EXPECT_TRUE(SameImage(out, speckhue_ref::ApplyGrain(reduced, field, s)));
}

// Rows are shared out in bands among the host's threads: every mode at any
// thread count, odd sizes and padded rows gives the walk's bytes, the grain
// also at half resolution.
TEST(SpeckhueRender, ThreadCountsAndSizesMatchTheWalk) {
  struct Case {
    int threads;
    A_long w, h, pad;
  };
  const Case cases[] = {{1, 45, 37, 8}, {2, 45, 37, 0}, {3, 45, 37, 8}, {3, 1, 40, 4}, {2, 49, 1, 0}};
  for (const Case& c : cases) {
    Fixture f(c.threads);
    for (int mode : {1, 2, 3}) {
      Settings s;
      s.mode = mode;
      s.hue = 0x6000;
      s.lightness = 0x3000;
      s.saturation = 0x5000;
      s.grain_size = 2 << 16;
      s.phase = 123 * kDegree;
      SCOPED_TRACE(::testing::Message() << c.threads << " threads " << c.w << "x" << c.h << " mode " << mode);
      World in(c.w, c.h, c.pad);
      FillPattern(in, uint32_t(c.w * c.h));
      const World out = RenderWith(f, s, in, c.pad);
      if (mode != 3) {
        ASSERT_TRUE(SameImage(out, speckhue_ref::Render(in, s)));
        continue;
      }
      World field = speckhue_ref::GrainField(c.w, c.h, s);
      ombrix::SmoothWorld(field.pf(), speckhue_ref::GrainRadius(s), ombrix::kSmoothColor);
      ASSERT_TRUE(SameImage(out, speckhue_ref::ApplyGrain(in, field, s)));
    }
    // Half resolution: a 2w x 2h layer rendered into w x h buffer pixels.
    ombrix::RenderSettings half;
    half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};
    Settings s;
    s.mode = 1;
    s.hue = s.lightness = s.saturation = 0x8000;
    s.downsample = 0.5;
    Instance inst(f.effect, TimeBase{}, 2 * c.w, 2 * c.h);
    Apply(inst, s);
    World full(2 * c.w, 2 * c.h, c.pad), out(c.w, c.h, c.pad);
    FillPattern(full, 4);
    ASSERT_EQ(inst.RenderFrame(0, full.pf(), out.pf(), half).err, PF_Err_NONE);
    EXPECT_TRUE(SameImage(out, speckhue_ref::Render(ombrix::DownsampledWorld(full.pf(), half, c.pad), s)));
  }
}

// Smoothing really happens: the grain field of a flat grey frame varies less
// from pixel to pixel at Grain Size 4 than at 0.
TEST(SpeckhueRender, GrainSizeSoftensTheNoise) {
  Fixture f;
  World in(64, 48, 0);
  for (A_long y = 0; y < 48; ++y)
    for (A_long x = 0; x < 64; ++x) in.At(x, y) = PF_Pixel{255, 128, 128, 128};
  auto roughness = [&](A_long size) {
    Settings s;
    s.mode = 3;
    s.grain_size = size;
    s.lightness = 0x10000;
    const World out = RenderWith(f, s, in, 0);
    double sum = 0;
    for (A_long y = 0; y < 48; ++y)
      for (A_long x = 1; x < 64; ++x) sum += std::abs(out.At(x, y).green - out.At(x - 1, y).green);
    return sum;
  };
  EXPECT_LT(roughness(4 << 16) * 4, roughness(0));
}

// Colour conversion failures reach the host in every mode.
TEST(SpeckhueRender, ServiceErrorsAreReturned) {
  Fixture f;
  World in(kW, kH);
  FillPattern(in, 5);
  Settings s;
  s.hue = 0x4000;
  for (const char* service : {"RGBtoHLS", "HLStoRGB", "iterate"}) {
    for (int mode : {1, 2, 3}) {
      s.mode = mode;
      f.host.failures().Arm(service, 7, PF_Err_INTERNAL_STRUCT_DAMAGED);
      if (std::string(service) == "iterate") f.host.failures().Arm(service, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
      PF_Err err = 0;
      RenderWith(f, s, in, 0, &err);
      EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED) << service << " " << mode;
      f.host.failures().Clear();
    }
  }
  // Grain: the routine's lookup and the routine itself.
  s.mode = 3;
  for (const char* service : {"get_callback_addr", "smooth", "HLStoRGB"}) {
    f.host.failures().Arm(service, 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    PF_Err err = 0;
    RenderWith(f, s, in, 0, &err);
    EXPECT_EQ(err, PF_Err_INTERNAL_STRUCT_DAMAGED) << service;
    f.host.failures().Clear();
  }
  Settings none;
  f.host.failures().Arm("copy", 1, PF_Err_OUT_OF_MEMORY);
  PF_Err err = 0;
  RenderWith(f, none, in, 0, &err);
  EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
  f.host.failures().Clear();
}

}  // namespace
