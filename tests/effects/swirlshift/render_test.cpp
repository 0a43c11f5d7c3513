// Swirlshift through the host: registration, the exact copy at Amount 0, and
// every output byte of small padded frames against the host's samplers applied
// where reference.h puts them, for every type at both antialiasing levels, low
// quality, a reduced buffer, the settings record and its absence; the sign of
// Amount, the types' difference, thread counts, out-of-range positions and
// host errors.
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>
#include <ombrix/platform/headless.h>

#include "reference.h"

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
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
using swirlshift_ref::Values;

enum { kType = 1, kAmount, kScale, kOffset, kComplexity, kEvolution, kAntialiasing };
constexpr int kTypes[] = {1, 2, 3, 5, 6, 7};

// Varied colour and alpha, a transparent pixel every few with colour under it.
void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    const uint8_t a = ((x + 3 * y) % 7 == 0) ? 0 : uint8_t(1 + (s >> 24) % 255);
    return PF_Pixel{a, Byte(s, 16), Byte(s, 8), uint8_t(x * 37 + y * 11)};
  });
}

// The offset is given at full resolution; the reference takes it in buffer pixels.
void Apply(Instance& inst, const Values& v, double full_x, double full_y) {
  inst.SetValue(kType, Scalar(v.type));
  inst.SetValue(kAmount, Scalar(v.amount));
  inst.SetValue(kScale, Scalar(v.scale));
  inst.SetValue(kOffset, Point(full_x, full_y));
  inst.SetValue(kComplexity, Scalar(v.complexity));
  inst.SetValue(kEvolution, Scalar(v.evolution));
  inst.SetValue(kAntialiasing, Scalar(v.antialiasing));
}

// Every output pixel is the host's sampler at the reference position and footprint.
::testing::AssertionResult MatchesReference(const World& in, const World& out, const Values& v,
                                            const noise::NoiseSettings* settings) {
  const auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, v.evolution, settings);
  const swirlshift_ref::Setup s = swirlshift_ref::Prepare(v);
  for (A_long y = 0; y < out.height(); ++y) {
    for (A_long x = 0; x < out.width(); ++x) {
      const swirlshift_ref::Sample at = swirlshift_ref::At(*lattice, s, v, x, y);
      const PF_Pixel e =
          at.area ? ombrix::AreaSample(in.pf(), at.X, at.Y, at.rx, at.ry) : ombrix::SubpixelSample(in.pf(), at.X, at.Y);
      if (!Same(e, out.At(x, y)))
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << "): got " << Show(out.At(x, y)) << " expected " << Show(e);
    }
  }
  return PaddingUntouched(out);
}

std::vector<uint8_t> Record(int32_t seed, int32_t repeat, int32_t revolutions) {
  return RecordBytes({2, uint32_t(seed), uint32_t(repeat), uint32_t(revolutions), 0, 8, 8});
}

struct Fixture : EffectFixture {
  Fixture() : EffectFixture("swirlshift.aex") {}
};

// Sends RENDER directly, with the given parameter values and no record.
PF_Err RenderWithoutRecord(Fixture& f, World& in, World& out, const Values& v, double ox, double oy) {
  std::vector<PF_ParamDef> defs = f.effect.params();
  defs[0].u.ld = in.pf();
  defs[kType].u.pd.value = v.type;
  defs[kAmount].u.fd.value = v.amount;
  defs[kScale].u.fd.value = v.scale;
  defs[kOffset].u.td.x_value = PF_Fixed(ox * 65536);
  defs[kOffset].u.td.y_value = PF_Fixed(oy * 65536);
  defs[kComplexity].u.fd.value = v.complexity;
  defs[kEvolution].u.ad.value = v.evolution;
  defs[kAntialiasing].u.pd.value = v.antialiasing;
  PF_ParamDef* params[8];
  for (int i = 0; i < 8; ++i) params[i] = &defs[i];
  PF_InData in_data = f.effect.BaseInData();
  in_data.quality = PF_Quality_HI;
  in_data.sequence_data = nullptr;
  PF_OutData out_data{};
  return f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr);
}

constexpr A_long kW = 29, kH = 17, kPad = 12;

// Parameters under which the displacements of every type span a few pixels
// of the small frames.
Values Typical(int type, int antialiasing) {
  Values v;
  v.type = type;
  v.amount = 37 << 16 | 0x8000;
  v.scale = 12 << 16;
  v.offset_x = 4.25;
  v.offset_y = -2.5;
  v.complexity = 2 << 16 | 0x6000;
  v.evolution = 51 * 65536 + 777;
  v.antialiasing = antialiasing;
  return v;
}

// ---------------------------------------------------------------------------

TEST(SwirlshiftRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 8);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Swirlshift");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Swirlshift");
  EXPECT_EQ(f.effect.file().pipl.global_flags, 0x21u);
  EXPECT_EQ(f.effect.global_out_flags() & 0x21, 0x21);
  EXPECT_EQ(f.effect.file().pipl.api_major, 11);
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 8u);
  const char* names[] = {"Displacement...",
                         "Amount",
                         "Scale",
                         "Offset Turbulence",
                         "Complexity",
                         "Evolution",
                         "Antialiasing (Best Quality)..."};
  const PF_ParamType kinds[] = {PF_Param_POPUP,      PF_Param_FIX_SLIDER, PF_Param_FIX_SLIDER, PF_Param_POINT,
                                PF_Param_FIX_SLIDER, PF_Param_ANGLE,      PF_Param_POPUP};
  for (int i = 0; i < 7; ++i) {
    EXPECT_STREQ(p[i + 1].name, names[i]);
    EXPECT_EQ(p[i + 1].param_type, kinds[i]);
    EXPECT_EQ(p[i + 1].flags, i + 1 == kComplexity ? 0x20 : 0) << i + 1;
  }
  EXPECT_EQ(f.effect.PopupItems(kType),
            (std::vector<std::string>{"Turbulent", "Bulge", "Twist", "(-", "Turbulent HQ", "Bulge HQ", "Twist HQ"}));
  EXPECT_EQ(p[kType].u.pd.num_choices, 7);
  EXPECT_EQ(p[kType].u.pd.dephault, 1);
  EXPECT_EQ(f.effect.PopupItems(kAntialiasing), (std::vector<std::string>{"Low", "High"}));
  EXPECT_EQ(p[kAntialiasing].u.pd.dephault, 1);
  struct Slider {
    int index;
    A_long def, vmin, vmax, smin, smax;
  };
  const Slider sliders[] = {
      {kAmount, 50, -10000, 10000, 0, 100}, {kScale, 100, 5, 1000, 10, 500}, {kComplexity, 1, 1, 10, 1, 5}};
  for (const Slider& s : sliders) {
    const PF_FixedSliderDef& d = p[s.index].u.fd;
    EXPECT_EQ(d.dephault, s.def * 65536) << s.index;
    EXPECT_EQ(d.valid_min, s.vmin * 65536) << s.index;
    EXPECT_EQ(d.valid_max, s.vmax * 65536) << s.index;
    EXPECT_EQ(d.slider_min, s.smin * 65536) << s.index;
    EXPECT_EQ(d.slider_max, s.smax * 65536) << s.index;
    EXPECT_EQ(d.precision, 1) << s.index;
    EXPECT_EQ(d.display_flags, 0) << s.index;
  }
  EXPECT_EQ(p[kOffset].u.td.x_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.y_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.restrict_bounds, 0);
  EXPECT_EQ(p[kEvolution].u.ad.dephault, 0);
}

// Amount 0 copies every byte, colour under transparent pixels included,
// whatever the type (the separator too) and antialiasing.
TEST(SwirlshiftRender, ZeroAmountIsAnExactCopy) {
  Fixture f;
  for (int type : {1, 4, 7}) {
    for (A_long pad : {A_long(0), kPad}) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " pad " << pad);
      Values v = Typical(type, 2);
      v.amount = 0;
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, v, v.offset_x, v.offset_y);
      World in(kW, kH, pad), out(kW, kH, pad);
      FillPattern(in, uint32_t(type + pad));
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
      EXPECT_TRUE(PaddingUntouched(out));
    }
  }
}

// Every type at both antialiasing levels, with a fractional complexity and an
// evolved lattice, on tight and padded rows.
TEST(SwirlshiftRender, EveryTypeMatchesTheReference) {
  Fixture f;
  for (int type : kTypes) {
    for (int aa : {1, 2}) {
      for (A_long pad : {A_long(0), kPad}) {
        SCOPED_TRACE(::testing::Message() << "type " << type << " aa " << aa << " pad " << pad);
        const Values v = Typical(type, aa);
        Instance inst(f.effect, TimeBase{}, kW, kH);
        Apply(inst, v, v.offset_x, v.offset_y);
        World in(kW, kH, pad), out(kW, kH, pad);
        FillPattern(in, uint32_t(type * 7 + aa + pad));
        ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
        ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
      }
    }
  }
}

// Defaults (Amount 50, Scale 100, offset at the centre): large, smooth
// displacements; High antialiasing reads wider than a pixel somewhere.
TEST(SwirlshiftRender, DefaultsAndWideFootprints) {
  Fixture f;
  for (int type : {2, 5}) {
    SCOPED_TRACE(type);
    Values v = Typical(type, 2);
    v.amount = 50 << 16;
    v.scale = 100 << 16;
    v.complexity = 1 << 16;
    v.evolution = 0;
    v.offset_x = kW * 0.5;
    v.offset_y = kH * 0.5;
    Instance inst(f.effect, TimeBase{}, kW, kH);
    inst.SetValue(kType, Scalar(type));
    inst.SetValue(kAntialiasing, Scalar(2));
    World in(kW, kH, kPad), out(kW, kH, kPad);
    FillPattern(in, 3);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
  }
  // Strong Amount at a small Scale stretches past the 32-pixel limit.
  Values v = Typical(5, 2);
  v.amount = 10000 << 16;
  v.scale = 5 << 16;
  const auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, v.evolution, nullptr);
  const swirlshift_ref::Setup s = swirlshift_ref::Prepare(v);
  int widest = 0;
  for (A_long y = 0; y < kH; ++y)
    for (A_long x = 0; x < kW; ++x) widest += swirlshift_ref::At(*lattice, s, v, x, y).rx == 2097152;
  EXPECT_GT(widest, 0);
  Instance inst(f.effect, TimeBase{}, kW, kH);
  Apply(inst, v, v.offset_x, v.offset_y);
  World in(kW, kH, kPad), out(kW, kH, kPad);
  FillPattern(in, 4);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
}

// On a ramp whose red and green bytes follow x and y, the sampled colour
// shows where each pixel was read: a negative Amount reads the same distance
// the other way.
TEST(SwirlshiftRender, NegativeAmountDisplacesTheOtherWay) {
  Fixture f;
  constexpr A_long kSide = 64;
  World ramp(kSide, kSide, kPad);
  for (A_long y = 0; y < kSide; ++y)
    for (A_long x = 0; x < kSide; ++x) ramp.At(x, y) = PF_Pixel{255, uint8_t(4 * x), uint8_t(4 * y), 0};
  for (int type : {1, 6}) {
    SCOPED_TRACE(type);
    World plus(kSide, kSide, kPad), minus(kSide, kSide, kPad);
    for (int sign : {1, -1}) {
      Instance inst(f.effect, TimeBase{}, kSide, kSide);
      inst.SetValue(kType, Scalar(type));
      inst.SetValue(kAmount, Scalar(sign * (type == 1 ? 10 << 16 : 20 << 16)));
      inst.SetValue(kScale, Scalar(30 << 16));
      ASSERT_EQ(inst.RenderFrame(0, ramp.pf(), (sign > 0 ? plus : minus).pf()).err, PF_Err_NONE);
    }
    int moved = 0;
    for (A_long y = 16; y < 48; ++y) {
      for (A_long x = 16; x < 48; ++x) {
        const int rx = 4 * x, gy = 4 * y;
        const int px = plus.At(x, y).red - rx, mx = minus.At(x, y).red - rx;
        const int py = plus.At(x, y).green - gy, my = minus.At(x, y).green - gy;
        // Opposite reads, to the rounding of the position and of the byte.
        EXPECT_LE(std::abs(px + mx), 2) << x << "," << y;
        EXPECT_LE(std::abs(py + my), 2) << x << "," << y;
        moved += std::abs(px) >= 3 || std::abs(py) >= 3;
      }
    }
    EXPECT_GT(moved, 100);
  }
}

// Each HQ type reads bicubic noise at its own frequency: a different image
// from its fast form; and the three fields differ from each other.
TEST(SwirlshiftRender, TypesDiffer) {
  Fixture f;
  World in(kW, kH, kPad);
  FillPattern(in, 11);
  std::vector<World> outs;
  for (int type : kTypes) {
    const Values v = Typical(type, 1);
    Instance inst(f.effect, TimeBase{}, kW, kH);
    Apply(inst, v, v.offset_x, v.offset_y);
    outs.emplace_back(kW, kH, kPad);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), outs.back().pf()).err, PF_Err_NONE);
  }
  for (size_t i = 0; i < outs.size(); ++i)
    for (size_t j = i + 1; j < outs.size(); ++j)
      EXPECT_FALSE(ombrix::SamePixels(outs[i].pf(), outs[j].pf())) << kTypes[i] << " vs " << kTypes[j];
}

// Low quality drops the fractional octave and reads by point sampling, even
// with High chosen: the same bytes as Complexity 2 with Low at best quality.
TEST(SwirlshiftRender, LowQualityForcesLowAndWholeOctaves) {
  Fixture f;
  for (int type : {3, 5}) {
    SCOPED_TRACE(type);
    World in(kW, kH, kPad), low(kW, kH, kPad), plain(kW, kH, kPad), high(kW, kH, kPad);
    FillPattern(in, 23);
    Values v = Typical(type, 2);
    v.quality = PF_Quality_LO;
    {
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, v, v.offset_x, v.offset_y);
      ombrix::RenderSettings rs;
      rs.quality = PF_Quality_LO;
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), low.pf(), rs).err, PF_Err_NONE);
      ASSERT_TRUE(MatchesReference(in, low, v, nullptr));
    }
    Values w = Typical(type, 1);
    w.complexity = 2 << 16;
    {
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, w, w.offset_x, w.offset_y);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), plain.pf()).err, PF_Err_NONE);
    }
    EXPECT_TRUE(ombrix::SamePixels(low.pf(), plain.pf()));
    {
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, Typical(type, 2), 4.25, -2.5);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), high.pf()).err, PF_Err_NONE);
    }
    EXPECT_FALSE(ombrix::SamePixels(low.pf(), high.pf()));
  }
}

// A 58x34 layer rendered at 1/2 into a 29x17 buffer: the host reduces the
// layer, the frequency doubles, the amplitude halves and the offset arrives
// in buffer pixels.
TEST(SwirlshiftRender, HalfResolution) {
  Fixture f;
  const ombrix::RenderSettings half = Downsampled(2);
  for (int type : {1, 6}) {
    for (int aa : {1, 2}) {
      for (A_long pad : {A_long(0), kPad}) {
        SCOPED_TRACE(::testing::Message() << "type " << type << " aa " << aa << " pad " << pad);
        Values v = Typical(type, aa);
        v.ds_den = 2;
        v.offset_x = 9.0 * 0.5;
        v.offset_y = 5.5 * 0.5;
        Instance inst(f.effect, TimeBase{}, 2 * kW, 2 * kH);
        Apply(inst, v, 9.0, 5.5);
        World full(2 * kW, 2 * kH, pad), out(kW, kH, pad), reduced;
        FillPattern(full, 17);
        ASSERT_TRUE(RenderReduced(inst, full, out, half, reduced));
        ASSERT_TRUE(MatchesReference(reduced, out, v, nullptr));
      }
    }
  }
}

// The record's seed and loop steer the lattice; no record at all behaves as
// seed 0 without repeat, which is also the record made at sequence setup.
TEST(SwirlshiftRender, SettingsRecordAndNone) {
  Fixture f;
  Values v = Typical(2, 2);
  v.evolution = 200 * 65536;
  World in(kW, kH, kPad);
  FillPattern(in, 41);

  const noise::NoiseSettings seeded{4000001, 1, 2};
  Instance inst(f.effect, TimeBase{}, kW, kH, Record(4000001, 1, 2));
  Apply(inst, v, v.offset_x, v.offset_y);
  World with(kW, kH, kPad), looped(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), with.pf()).err, PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, with, v, &seeded));
  // Repeat every 2 revolutions: 200 and 920 degrees give the same frame.
  inst.SetValue(kEvolution, Scalar(920 * 65536));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), looped.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(with.pf(), looped.pf()));

  World none(kW, kH, kPad), defaults(kW, kH, kPad);
  ASSERT_EQ(RenderWithoutRecord(f, in, none, v, v.offset_x, v.offset_y), PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, none, v, nullptr));
  EXPECT_FALSE(ombrix::SamePixels(with.pf(), none.pf()));
  Instance fresh(f.effect, TimeBase{}, kW, kH);
  EXPECT_EQ(fresh.SequenceDataBytes(), Record(0, 0, 1));
  Apply(fresh, v, v.offset_x, v.offset_y);
  ASSERT_EQ(fresh.RenderFrame(0, in.pf(), defaults.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(defaults.pf(), none.pf()));
}

// The options dialog edits the record: its seed changes the warp and its
// loop makes Evolution 0 and 360 identical.
TEST(SwirlshiftRender, OptionsDialogSteersTheWarp) {
  Fixture f;
  const Values v = Typical(5, 1);
  World in(kW, kH, kPad), plain(kW, kH, kPad), at0(kW, kH, kPad), at360(kW, kH, kPad);
  FillPattern(in, 12);
  Instance inst(f.effect, TimeBase{}, kW, kH);
  Apply(inst, v, v.offset_x, v.offset_y);
  inst.SetValue(kEvolution, Scalar(0));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), plain.pf()).err, PF_Err_NONE);

  ombrix::platform::DialogScript script;
  std::string error;
  ASSERT_TRUE(ombrix::platform::ParseDialogScript("text 1002=98765; check 1003=1; text 1004=1; ok", &script, &error))
      << error;
  ombrix::platform::PushDialogScript(script);
  ASSERT_EQ(inst.Command(PF_Cmd_DO_DIALOG).err, PF_Err_NONE);
  EXPECT_EQ(inst.SequenceDataBytes(), Record(98765, 1, 1));

  ASSERT_EQ(inst.RenderFrame(0, in.pf(), at0.pf()).err, PF_Err_NONE);
  const noise::NoiseSettings seeded{98765, 1, 1};
  Values v0 = v;
  v0.evolution = 0;
  ASSERT_TRUE(MatchesReference(in, at0, v0, &seeded));
  EXPECT_FALSE(ombrix::SamePixels(at0.pf(), plain.pf()));
  inst.SetValue(kEvolution, Scalar(360 * 65536));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), at360.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(at0.pf(), at360.pf()));
}

// The separator (or a value outside the list) renders nothing and succeeds.
TEST(SwirlshiftRender, SeparatorLeavesTheOutputUntouched) {
  Fixture f;
  World in(kW, kH, kPad);
  FillPattern(in, 3);
  for (A_long type : {4, 0, 8, -3}) {
    SCOPED_TRACE(type);
    World out(kW, kH, kPad), before(kW, kH, kPad);
    FillPattern(out, 77);
    FillPattern(before, 77);
    Values v = Typical(1, 2);
    v.type = type;
    ASSERT_EQ(RenderWithoutRecord(f, in, out, v, 1, 1), PF_Err_NONE);
    EXPECT_TRUE(ombrix::SamePixels(out.pf(), before.pf()));
  }
}

// Amount 10000 at Scale 1000 moves pixels by millions of pixels, beyond the
// 16.16 range: those read outside the layer (transparent) instead of
// wrapping back into it.
TEST(SwirlshiftRender, DisplacementsBeyondTheFixedRange) {
  Fixture f;
  World in(kW, kH, kPad), out(kW, kH, kPad);
  for (A_long y = 0; y < kH; ++y)
    for (A_long x = 0; x < kW; ++x) in.At(x, y) = PF_Pixel{255, 200, uint8_t(x), uint8_t(y)};
  for (int aa : {1, 2}) {
    Values v = Typical(5, aa);
    v.amount = 10000 << 16;
    v.scale = 1000 << 16;
    Instance inst(f.effect, TimeBase{}, kW, kH);
    Apply(inst, v, v.offset_x, v.offset_y);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
    const auto lattice = std::make_unique<noise::NoiseLattice>();
    noise::BuildNoiseLattice(*lattice, v.evolution, nullptr);
    const swirlshift_ref::Setup s = swirlshift_ref::Prepare(v);
    int clamped = 0;
    for (A_long y = 0; y < kH; ++y) {
      for (A_long x = 0; x < kW; ++x) {
        const swirlshift_ref::Sample at = swirlshift_ref::At(*lattice, s, v, x, y);
        if (at.X == INT32_MAX || at.X == INT32_MIN || at.Y == INT32_MAX || at.Y == INT32_MIN) {
          ++clamped;
          EXPECT_TRUE(Same(out.At(x, y), PF_Pixel{0, 0, 0, 0})) << x << "," << y;
        }
      }
    }
    EXPECT_GT(clamped, kW * kH / 2);
  }
}

TEST(SwirlshiftRender, SameBytesOnOneThreadAndMany) {
  Fixture f;
  for (int type : {2, 7}) {
    const Values v = Typical(type, 2);
    World in(61, 47, 8);
    FillPattern(in, 8);
    World outs[2] = {World(61, 47, 8), World(61, 47, 8)};
    for (int i = 0; i < 2; ++i) {
      f.host.SetThreads(i == 0 ? 1 : 4);
      Instance inst(f.effect, TimeBase{}, 61, 47);
      Apply(inst, v, v.offset_x, v.offset_y);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), outs[i].pf()).err, PF_Err_NONE);
    }
    EXPECT_TRUE(ombrix::SamePixels(outs[0].pf(), outs[1].pf()));
    EXPECT_TRUE(MatchesReference(in, outs[0], v, nullptr));
  }
}

TEST(SwirlshiftRender, HostErrorsAreReturnedUnchanged) {
  Fixture f;
  World in(5, 5), out(5, 5);
  struct Case {
    const char* service;
    int nth;
    int aa;
    A_long amount;
    PF_Err err;
  };
  const Case cases[] = {{"iterate", 1, 1, 50 << 16, PF_Err_OUT_OF_MEMORY},
                        {"copy", 1, 1, 0, PF_Err_INTERNAL_STRUCT_DAMAGED},
                        {"subpixel_sample", 7, 1, 50 << 16, PF_Err_BAD_CALLBACK_PARAM},
                        {"area_sample", 7, 2, 50 << 16, PF_Err_OUT_OF_MEMORY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.service);
    Instance inst(f.effect, TimeBase{}, 5, 5);
    inst.SetValue(kAmount, Scalar(c.amount));
    inst.SetValue(kAntialiasing, Scalar(c.aa));
    f.host.failures().Arm(c.service, c.nth, c.err);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, c.err);
    f.host.failures().Clear();
  }
}

}  // namespace
