// Mistform through the host: registration, and every output byte of small
// padded frames against the formulas worked out in reference.h, for every
// type, the zero-contrast fills, the octave cap, low quality, a reduced
// buffer, the settings record and its absence.
#include <ombrix/host/host.h>
#include <ombrix/platform/headless.h>

#include "reference.h"

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using mistform_ref::Values;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

enum { kType = 1, kContrast, kScale, kOffset, kComplexity, kEvolution, kOverflow, kInvert };
constexpr int kTypes[] = {2, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22};

// Varied alpha, a transparent pixel every few, colour bytes under it.
void FillPattern(World& w, uint32_t seed) {
  FillPixels(w, Lcg{seed}, [](A_long x, A_long y, uint32_t s) {
    const uint8_t a = ((x + 2 * y) % 5 == 0) ? 0 : uint8_t(1 + (s >> 24) % 255);
    return PF_Pixel{a, Byte(s, 16), Byte(s, 8), uint8_t(x * 37 + y * 11)};
  });
}

// Full-resolution offset in the instance; the reference takes it in buffer pixels.
void Apply(Instance& inst, const Values& v, double full_x, double full_y) {
  inst.SetValue(kType, Scalar(v.type));
  inst.SetValue(kContrast, Scalar(v.contrast));
  inst.SetValue(kScale, Scalar(v.scale));
  inst.SetValue(kOffset, Point(full_x, full_y));
  inst.SetValue(kComplexity, Scalar(v.complexity));
  inst.SetValue(kEvolution, Scalar(v.evolution));
  inst.SetValue(kOverflow, Scalar(v.overflow));
  inst.SetValue(kInvert, Scalar(v.invert ? 1 : 0));
}

// Every pixel against the reference: transparent input pixels unchanged,
// others the mapped gray with their alpha.
::testing::AssertionResult MatchesReference(const World& in, const World& out, const Values& v,
                                            const noise::NoiseSettings* settings) {
  const auto lattice = std::make_unique<noise::NoiseLattice>();
  noise::BuildNoiseLattice(*lattice, v.evolution, settings);
  const mistform_ref::Setup s = mistform_ref::Prepare(v);
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      PF_Pixel e = in.At(x, y);
      if (e.alpha != 0) {
        const double dx = (x - v.offset_x) * s.F;
        const double dy = (y - v.offset_y) * s.F;
        const uint8_t g = noise::MapOverflow(mistform_ref::Intensity(v.type, *lattice, s.frame, dx, dy), s.mode);
        e.red = e.green = e.blue = g;
      }
      if (!Same(e, out.At(x, y)))
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << "): got " << Show(out.At(x, y)) << " expected " << Show(e);
    }
  }
  return PaddingUntouched(out);
}

::testing::AssertionResult IsFlat(const World& out, const PF_Pixel& c) {
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x)
      if (!Same(out.At(x, y), c))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << "): " << Show(out.At(x, y));
  return PaddingUntouched(out);
}

std::vector<uint8_t> Record(int32_t seed, int32_t repeat, int32_t revolutions) {
  return RecordBytes({2, uint32_t(seed), uint32_t(repeat), uint32_t(revolutions), 0, 8, 8});
}

struct Fixture : EffectFixture {
  Fixture() : EffectFixture("mistform.aex") {}
};

constexpr A_long kW = 23, kH = 13, kPad = 12;

// ---------------------------------------------------------------------------

TEST(MistformRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 9);
  EXPECT_EQ(f.effect.global_out_flags() & 0x21, 0x21);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Mistform");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Mistform");
  EXPECT_EQ(f.effect.file().pipl.global_flags, 0x21u);
  EXPECT_EQ(f.effect.file().pipl.api_major, 11);
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 9u);
  const char* names[] = {"Fractal Type...", "Contrast",  "Scale",       "Offset Turbulence",
                         "Complexity",      "Evolution", "Overflow...", " "};
  const PF_ParamType kinds[] = {PF_Param_POPUP,      PF_Param_FIX_SLIDER, PF_Param_FIX_SLIDER, PF_Param_POINT,
                                PF_Param_FIX_SLIDER, PF_Param_ANGLE,      PF_Param_POPUP,      PF_Param_CHECKBOX};
  for (int i = 0; i < 8; ++i) {
    EXPECT_STREQ(p[i + 1].name, names[i]);
    EXPECT_EQ(p[i + 1].param_type, kinds[i]);
  }
  const std::vector<std::string> items = {"(=== Basic ===",
                                          "Linear",
                                          "Smooth",
                                          "(=== Turbulent ===",
                                          "Soft",
                                          "Standard",
                                          "Sharp",
                                          "(=== Dynamic ===",
                                          "Linear",
                                          "Linear Progressive",
                                          "Linear Twist",
                                          "Smooth",
                                          "Smooth Progressive",
                                          "Smooth Twist",
                                          "(=== Extras === ",
                                          "Max",
                                          "Smeary",
                                          "Swirly",
                                          "Rocky",
                                          "Cloudy",
                                          "Terrain",
                                          "Subscale"};
  EXPECT_EQ(f.effect.PopupItems(kType), items);
  EXPECT_EQ(p[kType].u.pd.num_choices, 22);
  EXPECT_EQ(p[kType].u.pd.value, 2);
  EXPECT_EQ(p[kType].u.pd.dephault, 2);
  EXPECT_EQ(f.effect.PopupItems(kOverflow), (std::vector<std::string>{"Clip", "Soft Clamp", "Wrap Back"}));
  EXPECT_EQ(p[kOverflow].u.pd.dephault, 1);
  EXPECT_EQ(f.effect.CheckboxLabel(kInvert), "Invert");
  EXPECT_EQ(p[kInvert].u.bd.dephault, 0);
  struct Slider {
    int index;
    A_long def, vmin, vmax, smin, smax;
  };
  const Slider sliders[] = {
      {kContrast, 100, 0, 10000, 0, 400}, {kScale, 100, 20, 10000, 25, 600}, {kComplexity, 6, 1, 20, 1, 10}};
  for (const Slider& s : sliders) {
    const PF_FixedSliderDef& d = p[s.index].u.fd;
    EXPECT_EQ(d.dephault, s.def << 16) << s.index;
    EXPECT_EQ(d.valid_min, s.vmin << 16) << s.index;
    EXPECT_EQ(d.valid_max, s.vmax << 16) << s.index;
    EXPECT_EQ(d.slider_min, s.smin << 16) << s.index;
    EXPECT_EQ(d.slider_max, s.smax << 16) << s.index;
    EXPECT_EQ(d.precision, 1) << s.index;
    EXPECT_EQ(d.display_flags, 0) << s.index;
  }
  EXPECT_EQ(p[kOffset].u.td.x_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.y_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.restrict_bounds, 0);
  EXPECT_EQ(p[kEvolution].u.ad.dephault, 0);
}

// Each type with fractional complexity, an evolved lattice, every overflow
// mode in turn, with and without Invert, on tight and padded rows.
TEST(MistformRender, EveryTypeMatchesTheFormulas) {
  Fixture f;
  int variant = 0;
  for (int type : kTypes) {
    for (A_long pad : {A_long(0), kPad}) {
      ++variant;
      Values v;
      v.type = type;
      v.contrast = 137 << 16 | 0x8000;
      v.scale = 30 << 16;
      v.offset_x = 7.25;
      v.offset_y = -3.5;
      v.complexity = 3 << 16 | 0x6000;
      v.evolution = 37 * 65536 + 1234;
      v.overflow = 1 + variant % 3;
      v.invert = (variant / 3) % 2 == 1;
      SCOPED_TRACE(::testing::Message() << "type " << type << " pad " << pad << " overflow " << v.overflow << " invert "
                                        << v.invert);
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, v, v.offset_x, v.offset_y);
      World in(kW, kH, pad), out(kW, kH, pad);
      FillPattern(in, uint32_t(type * 31 + pad));
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
    }
  }
}

// Default parameters (offset at the layer's centre, Complexity 6) and the
// soft clamp: centred for "Smooth" (127.5 stays 127), plain for "Sharp".
TEST(MistformRender, DefaultsAndSoftClamp) {
  Fixture f;
  for (int type : {3, 7, 21}) {
    for (int overflow : {2, 3}) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " overflow " << overflow);
      Instance inst(f.effect, TimeBase{}, kW, kH);
      inst.SetValue(kType, Scalar(type));
      inst.SetValue(kOverflow, Scalar(overflow));
      World in(kW, kH, kPad), out(kW, kH, kPad);
      FillPattern(in, 5);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      Values v;
      v.type = type;
      v.overflow = overflow;
      v.offset_x = kW * 0.5;  // 50 % of the layer, rounded to 16.16 exactly
      v.offset_y = kH * 0.5;
      ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
    }
  }
  EXPECT_EQ(noise::MapOverflow(127.5, 10), 127);
}

TEST(MistformRender, ZeroContrastFillsTheWholeFrame) {
  Fixture f;
  struct Case {
    int type;
    bool invert;
    PF_Pixel fill;
  };
  const Case cases[] = {{2, false, {255, 127, 127, 127}}, {2, true, {255, 127, 127, 127}},
                        {19, true, {255, 127, 127, 127}}, {22, false, {255, 127, 127, 127}},
                        {5, false, {255, 0, 0, 0}},       {5, true, {255, 255, 255, 255}},
                        {21, false, {255, 0, 0, 0}},      {16, true, {255, 255, 255, 255}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " invert " << c.invert);
    Instance inst(f.effect, TimeBase{}, kW, kH);
    inst.SetValue(kType, Scalar(c.type));
    inst.SetValue(kContrast, Scalar(0));
    inst.SetValue(kInvert, Scalar(c.invert ? 1 : 0));
    World in(kW, kH, kPad), out(kW, kH, kPad);
    FillPattern(in, 9);  // transparent pixels included: the fill ignores alpha
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    EXPECT_TRUE(IsFlat(out, c.fill));
  }
}

TEST(MistformRender, FractionalComplexityByQuality) {
  Fixture f;
  for (int type : {3, 6, 10, 19}) {
    SCOPED_TRACE(type);
    World in(kW, kH, kPad);
    FillPattern(in, 21);
    World outs[3] = {World(kW, kH, kPad), World(kW, kH, kPad), World(kW, kH, kPad)};
    const A_long complexity[3] = {1 << 16 | 0x8000, 1 << 16 | 0x8000, 1 << 16};
    const PF_Quality quality[3] = {PF_Quality_LO, PF_Quality_HI, PF_Quality_LO};
    for (int i = 0; i < 3; ++i) {
      Values v;
      v.type = type;
      v.complexity = complexity[i];
      v.quality = quality[i];
      v.offset_x = 4;
      v.offset_y = 2;
      Instance inst(f.effect, TimeBase{}, kW, kH);
      Apply(inst, v, v.offset_x, v.offset_y);
      ombrix::RenderSettings rs;
      rs.quality = quality[i];
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), outs[i].pf(), rs).err, PF_Err_NONE);
      ASSERT_TRUE(MatchesReference(in, outs[i], v, nullptr));
    }
    // Low quality: one octave, the same as Complexity 1; high quality adds half a second.
    EXPECT_TRUE(ombrix::SamePixels(outs[0].pf(), outs[2].pf()));
    EXPECT_FALSE(ombrix::SamePixels(outs[0].pf(), outs[1].pf()));
  }
}

// Scale 20, Complexity 20: the cap lowers C to 4.6066 (1.1 steps for "Max"
// leave it alone); the frame matches the capped reference and differs from
// an uncapped one only in that.
TEST(MistformRender, OctaveCapAtScale20Complexity20) {
  Fixture f;
  for (int type : {3, 2, 5, 16, 18}) {
    SCOPED_TRACE(type);
    Values v;
    v.type = type;
    v.scale = 20 << 16;
    v.complexity = 20 << 16;
    v.offset_x = 1.5;
    v.offset_y = 0.25;
    Instance inst(f.effect, TimeBase{}, kW, kH);
    Apply(inst, v, v.offset_x, v.offset_y);
    World in(kW, kH, kPad), out(kW, kH, kPad);
    FillPattern(in, 33);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    ASSERT_TRUE(MatchesReference(in, out, v, nullptr));
    const double capped = mistform_ref::CappedComplexity(20.0, 0.075, type);
    if (type == 16) {
      EXPECT_EQ(capped, 20.0);
    } else {
      EXPECT_NEAR(capped, 4.60656, 1e-5);
    }
  }
}

// A 46x26 layer rendered at 1/2 into a 23x13 buffer: the host reduces the
// layer, the frequency doubles, the offset arrives in buffer pixels and the
// cap sees the doubled frequency.
TEST(MistformRender, HalfResolution) {
  Fixture f;
  const ombrix::RenderSettings half = Downsampled(2);
  for (int type : {2, 12, 17, 19}) {
    for (A_long pad : {A_long(0), kPad}) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " pad " << pad);
      Values v;
      v.type = type;
      v.scale = 20 << 16;
      v.complexity = 5 << 16 | 0x4000;
      v.downsample = 0.5;
      v.offset_x = 10.5 * 0.5;
      v.offset_y = 6.0 * 0.5;
      Instance inst(f.effect, TimeBase{}, 2 * kW, 2 * kH);
      Apply(inst, v, 10.5, 6.0);
      World full(2 * kW, 2 * kH, pad), out(kW, kH, pad), reduced;
      FillPattern(full, 17);
      ASSERT_TRUE(RenderReduced(inst, full, out, half, reduced));
      ASSERT_TRUE(MatchesReference(reduced, out, v, nullptr));

      // A buffer already at the reduced size is used as it is.
      World small(kW, kH, pad), out2(kW, kH, pad);
      FillPattern(small, 18);
      ASSERT_EQ(inst.RenderFrame(0, small.pf(), out2.pf(), half).err, PF_Err_NONE);
      ASSERT_TRUE(MatchesReference(small, out2, v, nullptr));
    }
  }
  // At Scale 20 and full resolution Complexity 5.25 stays; at 1/2 it is capped to 4.
  EXPECT_EQ(mistform_ref::CappedComplexity(5.25, 0.075, 12), 5.25);
  EXPECT_EQ(mistform_ref::CappedComplexity(5.25, 0.15, 12), 4.0);
}

// The seed, repeat and revolutions words of the record steer the lattice;
// with no record the lattice is that of seed 0, no repeat.
TEST(MistformRender, SettingsRecordAndNone) {
  Fixture f;
  Values v;
  v.type = 12;
  v.evolution = 200 * 65536;
  v.offset_x = 3;
  v.offset_y = 4;
  World in(kW, kH, kPad);
  FillPattern(in, 41);

  const noise::NoiseSettings seeded{4000001, 1, 2};
  Instance inst(f.effect, TimeBase{}, kW, kH, Record(4000001, 1, 2));
  Apply(inst, v, v.offset_x, v.offset_y);
  World with(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), with.pf()).err, PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, with, v, &seeded));

  // Repeat every 2 revolutions: 200 and 920 degrees give the same frame.
  Values later = v;
  later.evolution = 920 * 65536;
  inst.SetValue(kEvolution, Scalar(later.evolution));
  World looped(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), looped.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(with.pf(), looped.pf()));

  // The host passing no record at all.
  std::vector<PF_ParamDef> defs = f.effect.params();
  defs[0].u.ld = in.pf();
  defs[kType].u.pd.value = v.type;
  defs[kEvolution].u.ad.value = v.evolution;
  defs[kOffset].u.td.x_value = 3 << 16;
  defs[kOffset].u.td.y_value = 4 << 16;
  PF_ParamDef* params[9];
  for (int i = 0; i < 9; ++i) params[i] = &defs[i];
  PF_InData in_data = f.effect.BaseInData();
  in_data.quality = PF_Quality_HI;
  in_data.sequence_data = nullptr;
  PF_OutData out_data{};
  World none(kW, kH, kPad);
  ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &none.pf(), nullptr), PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, none, v, nullptr));
  EXPECT_FALSE(ombrix::SamePixels(with.pf(), none.pf()));
}

// The record the host keeps: made with the defaults at sequence setup (seed
// 0, no repeat: the same lattice as no record) and edited in the options
// dialog, whose seed and loop then steer the pattern.
TEST(MistformRender, OptionsDialogSteersThePattern) {
  Fixture f;
  Values v;
  v.type = 3;
  v.offset_x = 6;
  v.offset_y = 5;
  World in(kW, kH, kPad);
  FillPattern(in, 12);

  Instance inst(f.effect, TimeBase{}, kW, kH);
  ASSERT_EQ(inst.setup_result().err, PF_Err_NONE);
  EXPECT_EQ(inst.SequenceDataBytes(), Record(0, 0, 1));
  Apply(inst, v, v.offset_x, v.offset_y);
  World plain(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), plain.pf()).err, PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, plain, v, nullptr));

  ombrix::platform::DialogScript script;
  std::string error;
  ASSERT_TRUE(ombrix::platform::ParseDialogScript("text 1002=123456; check 1003=1; text 1004=1; ok", &script, &error))
      << error;
  ombrix::platform::PushDialogScript(script);
  ASSERT_EQ(inst.Command(PF_Cmd_DO_DIALOG).err, PF_Err_NONE);
  EXPECT_EQ(inst.SequenceDataBytes(), Record(123456, 1, 1));

  const noise::NoiseSettings seeded{123456, 1, 1};
  World at0(kW, kH, kPad), at360(kW, kH, kPad);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), at0.pf()).err, PF_Err_NONE);
  ASSERT_TRUE(MatchesReference(in, at0, v, &seeded));
  EXPECT_FALSE(ombrix::SamePixels(at0.pf(), plain.pf()));
  inst.SetValue(kEvolution, Scalar(360 * 65536));
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), at360.pf()).err, PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(at0.pf(), at360.pf()));
}

// A header item, or a value outside the list, renders nothing and succeeds.
TEST(MistformRender, HeaderValueLeavesTheOutputUntouched) {
  Fixture f;
  World in(kW, kH, kPad);
  FillPattern(in, 3);
  for (A_long type : {1, 4, 8, 15, 0, 23, -7}) {
    SCOPED_TRACE(type);
    World out(kW, kH, kPad), before(kW, kH, kPad);
    FillPattern(out, 77);
    FillPattern(before, 77);
    std::vector<PF_ParamDef> defs = f.effect.params();
    defs[0].u.ld = in.pf();
    defs[kType].u.pd.value = type;
    PF_ParamDef* params[9];
    for (int i = 0; i < 9; ++i) params[i] = &defs[i];
    PF_InData in_data = f.effect.BaseInData();
    PF_OutData out_data{};
    ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr), PF_Err_NONE);
    EXPECT_TRUE(ombrix::SamePixels(out.pf(), before.pf()));
  }
  // The zero-contrast fill comes first in the setup, for any type.
  World out(kW, kH, kPad);
  FillPattern(out, 77);
  std::vector<PF_ParamDef> defs = f.effect.params();
  defs[0].u.ld = in.pf();
  defs[kType].u.pd.value = 4;
  defs[kContrast].u.fd.value = 0;
  PF_ParamDef* params[9];
  for (int i = 0; i < 9; ++i) params[i] = &defs[i];
  PF_InData in_data = f.effect.BaseInData();
  PF_OutData out_data{};
  ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr), PF_Err_NONE);
  EXPECT_TRUE(IsFlat(out, PF_Pixel{255, 0, 0, 0}));
}

TEST(MistformRender, SameBytesOnOneThreadAndMany) {
  Fixture f;
  Values v;
  v.type = 17;
  v.offset_x = 2;
  v.offset_y = 9;
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

// The row walk against the per-pixel reference walk (OMBRIX_REFERENCE_PATHS),
// byte for byte: every type, odd sizes with and without padding, a reduced
// render, one to three threads, with a fractional octave and many octaves.
TEST(MistformRender, RowWalkMatchesThePixelWalk) {
  Fixture f;
  const ombrix::RenderSettings half = Downsampled(2);
  struct Case {
    A_long w, h, pad;
    bool reduced;
    int threads;
    PF_Fixed scale, complexity;
  };
  const Case cases[] = {
      {61, 47, 0, false, 1, 30 << 16, 3 << 16 | 0x6000},    {37, 29, 5, false, 2, 100 << 16, 6 << 16},
      {45, 17, 3, true, 3, 20 << 16, 5 << 16 | 0x4000},     {1, 9, 2, false, 3, 2000 << 16, 20 << 16},
      {33, 21, 7, false, 3, 9000 << 16, 13 << 16 | 0x1000},
  };
  for (const Case& c : cases) {
    for (int type : kTypes) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " size " << c.w << "x" << c.h << " pad " << c.pad
                                        << " threads " << c.threads << (c.reduced ? " reduced" : ""));
      f.host.SetThreads(c.threads);
      Values v;
      v.type = type;
      v.scale = c.scale;
      v.complexity = c.complexity;
      v.evolution = 211 * 65536 + 99;
      v.offset_x = 9.75;
      v.offset_y = -4.5;
      const A_long lw = c.reduced ? 2 * c.w : c.w, lh = c.reduced ? 2 * c.h : c.h;
      Instance inst(f.effect, TimeBase{}, lw, lh);
      Apply(inst, v, v.offset_x, v.offset_y);
      World in(lw, lh, c.pad);
      FillPattern(in, uint32_t(type));
      World outs[2] = {World(c.w, c.h, c.pad), World(c.w, c.h, c.pad)};
      for (int reference = 0; reference < 2; ++reference) {
        if (reference) setenv("OMBRIX_REFERENCE_PATHS", "1", 1);
        World reduced;
        const bool ok = c.reduced ? bool(RenderReduced(inst, in, outs[reference], half, reduced))
                                  : inst.RenderFrame(0, in.pf(), outs[reference].pf()).err == PF_Err_NONE;
        unsetenv("OMBRIX_REFERENCE_PATHS");
        ASSERT_TRUE(ok);
      }
      ASSERT_TRUE(ombrix::SamePixels(outs[0].pf(), outs[1].pf()));
      ASSERT_TRUE(PaddingUntouched(outs[0]));
    }
  }
  f.host.SetThreads(1);
}

TEST(MistformRender, HostErrorsAreReturnedUnchanged) {
  Fixture f;
  World in(5, 5), out(5, 5);
  {
    Instance inst(f.effect, TimeBase{}, 5, 5);
    f.host.failures().Arm("iterate", 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
  }
  {
    Instance inst(f.effect, TimeBase{}, 5, 5);
    inst.SetValue(kContrast, Scalar(0));
    f.host.failures().Arm("fill", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  }
}

}  // namespace
