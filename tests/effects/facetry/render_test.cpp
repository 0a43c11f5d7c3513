// Facetry through the host: registration, every type's bytes against the
// step-by-step reference, the closed-form geometry of a regular grid, tiling
// from the settings record, half resolution, transparent input, and the
// reduced copy of the crystallize types released on every path.
#include <ombrix/host/host.h>
#include <ombrix/platform/headless.h>

#include "reference.h"

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace effect_test;
using facetry_ref::Values;
using ombrix::Effect;
using ombrix::Host;
using ombrix::Instance;
using ombrix::ParamValue;
using ombrix::TimeBase;
using ombrix::World;

enum { kType = 1, kDisperse, kContrast, kSize, kOffset, kEvolution, kOverflow, kInvert };
constexpr int kTypes[] = {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13};

// Varied alpha with a transparent pixel every few, colour under it.
void FillPattern(World& w, uint32_t seed, bool opaque = false) {
  FillPixels(w, Lcg{seed}, [opaque](A_long x, A_long y, uint32_t s) {
    const uint8_t a = opaque                   ? 255
                      : ((x + 2 * y) % 7 == 0) ? 0
                      : ((x + y) % 3 == 0)     ? 255
                                               : uint8_t(1 + (s >> 24) % 255);
    return PF_Pixel{a, Byte(s, 16), Byte(s, 8), uint8_t(x * 37 + y * 11)};
  });
}

PF_Fixed Fixed(double v) { return PF_Fixed(std::lround(v * 65536)); }

// Values are given in exact 16.16 steps so the reference sees what the host delivers.
void Apply(Instance& inst, const Values& v, double full_x, double full_y) {
  inst.SetValue(kType, Scalar(v.type));
  inst.SetValue(kDisperse, Scalar(Fixed(v.disperse)));
  inst.SetValue(kContrast, Scalar(Fixed(v.contrast)));
  inst.SetValue(kSize, Scalar(Fixed(v.size)));
  ParamValue p;
  p.x = Fixed(full_x);
  p.y = Fixed(full_y);
  inst.SetValue(kOffset, p);
  inst.SetValue(kEvolution, Scalar(v.evolution));
  inst.SetValue(kOverflow, Scalar(v.overflow));
  inst.SetValue(kInvert, Scalar(v.invert ? 1 : 0));
}

std::vector<uint8_t> Record(const Values& v) {
  return RecordBytes({2, uint32_t(v.seed), uint32_t(v.repeat), uint32_t(v.revolutions), uint32_t(v.tile),
                      uint32_t(v.tile_x), uint32_t(v.tile_y)});
}

// Every pixel against the reference; `before` is the output as it was handed over.
::testing::AssertionResult MatchesReference(const World& in, const World& before, const World& out, const Values& v) {
  const auto s = facetry_ref::Prepare(v, in.pf());
  for (A_long y = 0; y < in.height(); ++y) {
    for (A_long x = 0; x < in.width(); ++x) {
      const PF_Pixel e = facetry_ref::Expected(*s, x, y, in.At(x, y), before.At(x, y));
      if (!Same(e, out.At(x, y)))
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << "): got " << Show(out.At(x, y)) << " expected " << Show(e);
    }
  }
  return ::testing::AssertionSuccess();
}

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("facetry.aex")};
};

// Renders v over `in` at full resolution (offset in pixels). The host hands
// over a transparent black output; `before_out` receives that.
World Render(Fixture& f, const Values& v, World& in, A_long pad = 0, World* before_out = nullptr) {
  Instance inst(f.effect, TimeBase{}, in.width(), in.height(), v.has_record ? std::optional(Record(v)) : std::nullopt);
  Apply(inst, v, v.ox, v.oy);
  World out(in.width(), in.height(), pad);
  if (before_out) *before_out = out;
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  return out;
}

constexpr A_long kW = 41, kH = 29, kPad = 12;

// ---------------------------------------------------------------------------

TEST(FacetryRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 9);
  EXPECT_EQ(f.effect.file().pipl.display_name, "OB Facetry");
  EXPECT_EQ(f.effect.file().pipl.match_name, "obx Facetry");
  EXPECT_EQ(f.effect.file().pipl.global_flags, 0x21u);
  EXPECT_EQ(f.effect.file().pipl.api_major, 11);
  const auto& p = f.effect.params();
  ASSERT_EQ(p.size(), 9u);
  const char* names[] = {"Facetry...", "Disperse",  "Contrast or Sharpness", "Size",
                         "Offset",     "Evolution", "Overflow...",           " "};
  const PF_ParamType kinds[] = {PF_Param_POPUP, PF_Param_FIX_SLIDER, PF_Param_FIX_SLIDER, PF_Param_FIX_SLIDER,
                                PF_Param_POINT, PF_Param_ANGLE,      PF_Param_POPUP,      PF_Param_CHECKBOX};
  for (int i = 0; i < 8; ++i) {
    EXPECT_STREQ(p[i + 1].name, names[i]);
    EXPECT_EQ(p[i + 1].param_type, kinds[i]);
  }
  EXPECT_EQ(f.effect.PopupItems(kType),
            (std::vector<std::string>{"Bubbles", "Crystals", "Plates", "Static Plates", "Crystallize", "(-", "Pillow",
                                      "Crystals HQ", "Plates HQ", "Static Plates HQ", "Crystallize HQ",
                                      "Mixed Crystals HQ", "Tubular"}));
  EXPECT_EQ(p[kType].u.pd.dephault, 1);
  EXPECT_EQ(f.effect.PopupItems(kOverflow), (std::vector<std::string>{"Clip", "Soft Clamp", "Wrap Back"}));
  EXPECT_EQ(p[kOverflow].u.pd.dephault, 1);
  EXPECT_EQ(f.effect.CheckboxLabel(kInvert), "Invert");
  EXPECT_EQ(p[kInvert].u.bd.dephault, 0);
  struct Slider {
    int index;
    double def, vmin, vmax, smin, smax;
    int precision;
  };
  const Slider sliders[] = {
      {kDisperse, 1, 0, 1.4, 0, 1, 2}, {kContrast, 1, 0, 100, 0, 6, 2}, {kSize, 60, 5, 2000, 10, 500, 1}};
  for (const Slider& s : sliders) {
    const PF_FixedSliderDef& d = p[s.index].u.fd;
    EXPECT_EQ(d.dephault, Fixed(s.def)) << s.index;
    EXPECT_EQ(d.valid_min, Fixed(s.vmin)) << s.index;
    EXPECT_EQ(d.valid_max, PF_Fixed(s.vmax * 65536)) << s.index;
    EXPECT_EQ(d.slider_min, Fixed(s.smin)) << s.index;
    EXPECT_EQ(d.slider_max, Fixed(s.smax)) << s.index;
    EXPECT_EQ(d.precision, s.precision) << s.index;
    EXPECT_EQ(d.display_flags, 0) << s.index;
  }
  EXPECT_EQ(p[kOffset].u.td.x_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.y_dephault, 50 << 16);
  EXPECT_EQ(p[kOffset].u.td.restrict_bounds, 0);
  EXPECT_EQ(p[kEvolution].u.ad.dephault, 0);
}

// Every type, every overflow and invert, tight and padded rows, a seeded
// record, against the reference at every pixel. Transparent input pixels
// get alpha 0 and keep the colour bytes the output held.
TEST(FacetryRender, EveryTypeMatchesTheReference) {
  Fixture f;
  int variant = 0;
  for (int type : kTypes) {
    for (int overflow = 1; overflow <= 3; ++overflow) {
      for (bool invert : {false, true}) {
        ++variant;
        Values v;
        v.type = type;
        v.disperse = 1.25;
        v.contrast = (type == 3 || type == 4 || type == 5 || type >= 9) ? 0.75 : 1.5;
        v.size = 9.5;
        v.ox = 3.25;
        v.oy = -6.5;
        v.evolution = 41 * 65536 + 777;
        v.overflow = overflow;
        v.invert = invert;
        v.has_record = variant % 2 == 0;
        v.seed = 2024;
        SCOPED_TRACE(::testing::Message() << "type " << type << " overflow " << overflow << " invert " << invert);
        World in(kW, kH, variant % 3 == 0 ? kPad : 0), before;
        FillPattern(in, uint32_t(type * 17 + overflow));
        const World out = Render(f, v, in, variant % 3 == 1 ? kPad : 0, &before);
        ASSERT_TRUE(MatchesReference(in, before, out, v));
      }
    }
  }
}

// The default parameters (Size 60, offset at the layer's centre) on a larger frame.
TEST(FacetryRender, DefaultsOnALargerFrame) {
  Fixture f;
  for (int type : kTypes) {
    SCOPED_TRACE(type);
    World in(150, 97);
    FillPattern(in, uint32_t(type));
    Instance inst(f.effect, TimeBase{}, 150, 97);
    inst.SetValue(kType, Scalar(type));
    World out(150, 97), before(150, 97);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    Values v;
    v.type = type;
    v.ox = 75;
    v.oy = 48.5;
    v.has_record = true;  // the defaults the host made at sequence setup
    ASSERT_TRUE(MatchesReference(in, before, out, v));
  }
}

// Disperse 0: feature points at the cell centres. Bubbles inverted (its raw
// value) is 0 at every centre and grows as the squared distance from it;
// Crystals HQ is twice the distance to the square cell's nearest side.
TEST(FacetryRender, DisperseZeroIsARegularGrid) {
  Fixture f;
  World in(60, 40);
  FillPattern(in, 1, true);
  Values v;
  v.disperse = 0;
  v.size = 10;
  v.ox = 0;
  v.oy = 0;
  v.type = 1;
  v.invert = true;
  const World bubbles = Render(f, v, in);
  v.type = 8;
  v.invert = false;
  const World crystals = Render(f, v, in);
  for (A_long y = 0; y < 40; ++y) {
    for (A_long x = 0; x < 60; ++x) {
      // Position from the centre of the pixel's cell; x = 5 + 10 n is a centre.
      const double cx = x % 10 * 0.1 - 0.5, cy = y % 10 * 0.1 - 0.5;
      const double f1 = cx * cx + cy * cy;
      const double raw = 1.0 * 0.15 * 1275 * f1;
      EXPECT_EQ(bubbles.At(x, y).red, raw >= 255 ? 255 : int(raw)) << x << "," << y;
      const double e = 2 * (0.5 - std::max(std::fabs(cx), std::fabs(cy)));
      const double hq = 0.15 * 1275 * e;
      EXPECT_NEAR(crystals.At(x, y).red, hq >= 255 ? 255 : int(hq), 1) << x << "," << y;
      if (x % 10 == 5 && y % 10 == 5) {
        EXPECT_EQ(bubbles.At(x, y).red, 0);
        EXPECT_EQ(crystals.At(x, y).red, 191);  // 191.25 at the centre
      }
    }
  }
  // Invert off gives bright centres for Bubbles.
  v.type = 1;
  v.invert = false;
  const World flipped = Render(f, v, in);
  EXPECT_EQ(flipped.At(5, 5).red, 255);
  EXPECT_EQ(flipped.At(15, 25).red, 255);
}

// Contrast 0 "Plates": A = 5, so the plates meet in a ramp of t =
// clamp(5 (F2 - F1) + 0.5); at a cell centre (F2 - F1 = 1) the cell's own
// plate, on a boundary (F1 = F2) the average of the two.
TEST(FacetryRender, ContrastZeroPlates) {
  Fixture f;
  World in(40, 30);
  FillPattern(in, 2, true);
  Values v;
  v.type = 3;
  v.contrast = 0;
  v.disperse = 0;
  v.size = 10;
  v.ox = 0;
  v.oy = 0;
  v.evolution = 10 * 65536;
  World before;
  const World out = Render(f, v, in, 0, &before);
  ASSERT_TRUE(MatchesReference(in, before, out, v));
  noise::NoiseLattice lattice;
  noise::BuildNoiseLattice(lattice, v.evolution, nullptr);
  auto plate = [&](int cx, int cy) { return facetry_ref::L(lattice, cx, cy); };
  auto clip = [](double g) { return g >= 255 ? 255 : g <= 0 ? 0 : int(g); };
  // Centre of cell (1, 2).
  EXPECT_EQ(out.At(15, 25).red, clip(plate(1, 2) * 122 + 127.5));
  // x = 20 lies on the boundary between cells 1 and 2 (row of cell 1's centre).
  EXPECT_EQ(out.At(20, 15).red, clip((plate(2, 1) + 0.5 * (plate(1, 1) - plate(2, 1))) * 122 + 127.5));
  // x = 19: px = 0.4; own centre at 0.16, the right one at 0.36: t = 0.5 + 5 x 0.2, clamped to 1.
  EXPECT_EQ(out.At(19, 15).red, clip(plate(1, 1) * 122 + 127.5));
}

// Ties of the edge measure: near a corner of a regular grid the right and
// lower edges are equally near. "Crystallize HQ" takes the later neighbour
// (the cell below), the other HQ types the earlier one (the cell to the right).
TEST(FacetryRender, EdgeTiesOfTheHQTypes) {
  Fixture f;
  World in(100, 100);
  for (A_long y = 0; y < 100; ++y)
    for (A_long x = 0; x < 100; ++x)
      in.At(x, y) = PF_Pixel{255, uint8_t(x < 50 ? 20 : 220), uint8_t(y < 50 ? 30 : 200), 90};
  for (int type : {9, 10, 11}) {
    SCOPED_TRACE(type);
    Values v;
    v.type = type;
    v.disperse = 0;
    v.contrast = 0;
    v.size = 50;
    World before;
    const World out = Render(f, v, in, 0, &before);
    ASSERT_TRUE(MatchesReference(in, before, out, v));
    if (type == 11) {
      // Pixel (49, 49): px = py = 0.48, E = 0.04, t = 0.7; C1 the own cell's
      // corner (0, 0), C2 the corner of the cell below (0, 50) in the copy.
      const auto s = facetry_ref::Prepare(v, in.pf());
      const PF_Pixel own = ombrix::SubpixelSample(s->copy.pf(), 32768, 32768);
      const PF_Pixel below = ombrix::SubpixelSample(s->copy.pf(), 32768, PF_Fixed(50 * s->ys));
      const PF_Pixel right = ombrix::SubpixelSample(s->copy.pf(), PF_Fixed(50 * s->xs), 32768);
      EXPECT_FALSE(Same(below, right));
      const double p = 49 * (1.0 / 50) - 0.5;
      const double e = ((p - 1) * (p - 1) + p * p) - (p * p + p * p);
      EXPECT_TRUE(Same(out.At(49, 49), facetry_ref::Blend(own, below, e * 5 + 0.5)));
    }
  }
}

// Tiling 8 x 8 with Disperse 1: the pattern repeats every 8 cells exactly.
TEST(FacetryRender, TilingRepeatsEveryTileCount) {
  Fixture f;
  const A_long kSide = 8 * 6;  // Size 6: 8 cells are 48 pixels
  World in(2 * kSide + 7, kSide + 13);
  FillPattern(in, 3, true);
  for (int type : {2, 4, 9, 13}) {
    SCOPED_TRACE(type);
    Values v;
    v.type = type;
    v.size = 6;
    v.ox = 2;
    v.oy = 3;
    v.evolution = 77 * 65536;
    v.has_record = true;
    v.seed = 31337;
    v.tile = 1;
    v.tile_x = 8;
    v.tile_y = 8;
    const World out = Render(f, v, in);
    for (A_long y = 0; y < in.height(); ++y)
      for (A_long x = 0; x < in.width(); ++x) {
        if (x + kSide < in.width()) {
          ASSERT_TRUE(Same(out.At(x, y), out.At(x + kSide, y))) << x << "," << y;
        }
        if (y + kSide < in.height()) {
          ASSERT_TRUE(Same(out.At(x, y), out.At(x, y + kSide))) << x << "," << y;
        }
      }
    // Not a smaller repeat: one cell over differs somewhere.
    bool differs = false;
    for (A_long x = 0; x < kSide && !differs; ++x) differs = !Same(out.At(x, 20), out.At(x + 6, 20));
    EXPECT_TRUE(differs);
  }
}

// A record with the tile flag 0 ignores its X and Y: the same frame as
// another untiled record; the flag on changes it.
TEST(FacetryRender, TileFlagZeroIgnoresTheCounts) {
  Fixture f;
  World in(50, 30);
  FillPattern(in, 4);
  Values v;
  v.type = 2;
  v.size = 5;
  v.has_record = true;
  v.seed = 99;
  v.tile = 0;
  v.tile_x = 2;
  v.tile_y = 3;
  const World a = Render(f, v, in);
  v.tile_x = 4;
  v.tile_y = 4;
  const World b = Render(f, v, in);
  v.tile = 1;
  v.tile_x = 2;
  v.tile_y = 3;
  const World c = Render(f, v, in);
  EXPECT_TRUE(ombrix::SamePixels(a.pf(), b.pf()));
  EXPECT_FALSE(ombrix::SamePixels(a.pf(), c.pf()));
  World before;
  v.tile = 0;
  const World d = Render(f, v, in, 0, &before);
  EXPECT_TRUE(MatchesReference(in, before, d, v));
}

// A 2W x 2H layer at 1/2: the cell size halves in buffer pixels, the offset
// arrives in buffer pixels, and the crystallize copy is made of the reduced input.
TEST(FacetryRender, HalfResolution) {
  Fixture f;
  ombrix::RenderSettings half;
  half.downsample_x = PF_RationalScale{1, 2};
  half.downsample_y = PF_RationalScale{1, 2};
  for (int type : {1, 5, 10, 11, 13}) {
    SCOPED_TRACE(type);
    Values v;
    v.type = type;
    v.size = 14;
    v.disperse = 0.8;
    v.downsample = 0.5;
    Instance inst(f.effect, TimeBase{}, 2 * kW, 2 * kH);
    Apply(inst, v, 9.0, 6.5);
    v.ox = 4.5;
    v.oy = 3.25;
    v.has_record = true;
    World full(2 * kW, 2 * kH, kPad), out(kW, kH, kPad);
    FillPattern(full, 5);
    const World before(kW, kH);
    ASSERT_EQ(inst.RenderFrame(0, full.pf(), out.pf(), half).err, PF_Err_NONE);
    const World reduced = ombrix::DownsampledWorld(full.pf(), half, kPad);
    ASSERT_TRUE(MatchesReference(reduced, before, out, v));
  }
  // Disperse 0 at 1/2: cells of Size 20 are 10 buffer pixels, centres at 5 + 10 n.
  Values v;
  v.type = 1;
  v.invert = true;
  v.disperse = 0;
  v.size = 20;
  Instance inst(f.effect, TimeBase{}, 2 * kW, 2 * kH);
  Apply(inst, v, 0, 0);
  World full(2 * kW, 2 * kH), out(kW, kH);
  FillPattern(full, 6, true);
  ASSERT_EQ(inst.RenderFrame(0, full.pf(), out.pf(), half).err, PF_Err_NONE);
  EXPECT_EQ(out.At(5, 15).red, 0);
  EXPECT_EQ(out.At(35, 25).red, 0);
  EXPECT_GT(out.At(10, 15).red, 0);
}

// The options dialog's tiling steers the pattern: X 2 repeats every 2 cells across.
TEST(FacetryRender, OptionsDialogTiling) {
  Fixture f;
  World in(60, 20);
  FillPattern(in, 7, true);
  Instance inst(f.effect, TimeBase{}, 60, 20);
  ASSERT_EQ(inst.setup_result().err, PF_Err_NONE);
  inst.SetValue(kType, Scalar(2));
  inst.SetValue(kSize, Scalar(Fixed(5)));
  ombrix::platform::DialogScript script;
  std::string error;
  ASSERT_TRUE(ombrix::platform::ParseDialogScript("check 1005=1; text 1006=2; text 1007=3; ok", &script, &error))
      << error;
  ombrix::platform::PushDialogScript(script);
  ASSERT_EQ(inst.Command(PF_Cmd_DO_DIALOG).err, PF_Err_NONE);
  World out(60, 20);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  for (A_long y = 0; y < 20; ++y)
    for (A_long x = 0; x + 10 < 60; ++x) ASSERT_TRUE(Same(out.At(x, y), out.At(x + 10, y))) << x << "," << y;
}

// Where the input is transparent only the alpha byte is written: colour
// bytes already in the output stay. Sent directly, so the output is not
// cleared by the host first.
TEST(FacetryRender, TransparentPixelsGetOnlyAlpha) {
  Fixture f;
  World in(19, 11, kPad);
  FillPattern(in, 11);
  for (int type : kTypes) {
    SCOPED_TRACE(type);
    World out(19, 11, kPad);
    FillPattern(out, 55);
    const World before = out;
    std::vector<PF_ParamDef> defs = f.effect.params();
    defs[0].u.ld = in.pf();
    defs[kType].u.pd.value = type;
    defs[kSize].u.fd.value = Fixed(6);
    defs[kOffset].u.td.x_value = Fixed(1.5);
    defs[kOffset].u.td.y_value = Fixed(2);
    PF_ParamDef* params[9];
    for (int i = 0; i < 9; ++i) params[i] = &defs[i];
    PF_InData in_data = f.effect.BaseInData();
    in_data.sequence_data = nullptr;
    in_data.downsample_x = in_data.downsample_y = PF_RationalScale{1, 1};
    in_data.width = 19;
    in_data.height = 11;
    PF_OutData out_data{};
    ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params, &out.pf(), nullptr), PF_Err_NONE);
    Values v;
    v.type = type;
    v.size = 6;
    v.ox = 1.5;
    v.oy = 2;
    ASSERT_TRUE(MatchesReference(in, before, out, v));
    int transparent = 0;
    for (A_long y = 0; y < 11; ++y)
      for (A_long x = 0; x < 19; ++x)
        if (in.At(x, y).alpha == 0) {
          ++transparent;
          const PF_Pixel expected{0, before.At(x, y).red, before.At(x, y).green, before.At(x, y).blue};
          EXPECT_TRUE(Same(out.At(x, y), expected)) << x << "," << y;
        }
    EXPECT_GT(transparent, 10);
  }
}

// The separator (or a value outside the list) renders nothing.
TEST(FacetryRender, SeparatorRendersNothing) {
  Fixture f;
  World in(9, 7);
  FillPattern(in, 8);
  for (A_long type : {6, 0, 14}) {
    World out(9, 7), before(9, 7);
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
    EXPECT_TRUE(ombrix::SamePixels(out.pf(), before.pf())) << type;
  }
}

TEST(FacetryRender, SameBytesOnOneThreadAndMany) {
  Fixture f;
  World in(67, 53, 8);
  FillPattern(in, 9);
  for (int type : {5, 13}) {
    World outs[2] = {World(67, 53, 8), World(67, 53, 8)};
    for (int i = 0; i < 2; ++i) {
      f.host.SetThreads(i == 0 ? 1 : 4);
      Instance inst(f.effect, TimeBase{}, 67, 53);
      inst.SetValue(kType, Scalar(type));
      inst.SetValue(kSize, Scalar(Fixed(7)));
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), outs[i].pf()).err, PF_Err_NONE);
    }
    EXPECT_TRUE(ombrix::SamePixels(outs[0].pf(), outs[1].pf())) << type;
  }
}

// Rows are shaded on the host's threads, the pixels of a row sharing their
// cells: every type at several thread counts, at full and reduced
// resolution, with tight and padded rows, against the reference.
TEST(FacetryRender, EveryThreadCountAndResolutionMatchesTheReference) {
  Fixture f;
  struct Case {
    int threads;
    A_u_long den;
    A_long pad;
  };
  const Case cases[] = {{1, 1, 0}, {2, 1, kPad}, {3, 3, 8}, {4, 2, 0}};
  for (const Case& c : cases) {
    f.host.SetThreads(c.threads);
    for (int type : kTypes) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " threads " << c.threads << " 1/" << c.den);
      Values v;
      v.type = type;
      v.size = 11;
      v.disperse = 1.1;
      v.downsample = 1.0 / double(c.den);
      v.has_record = true;
      Instance inst(f.effect, TimeBase{}, kW * A_long(c.den), kH * A_long(c.den));
      Apply(inst, v, 9.0, 6.0);
      v.ox = 9.0 / double(c.den);
      v.oy = 6.0 / double(c.den);
      World full(kW * A_long(c.den), kH * A_long(c.den), c.pad), out(kW, kH, c.pad), reduced;
      FillPattern(full, uint32_t(type + c.threads));
      const World before(kW, kH);
      ASSERT_TRUE(RenderReduced(inst, full, out, Downsampled(c.den), reduced));
      ASSERT_TRUE(MatchesReference(reduced, before, out, v));
    }
  }
}

// The reduced copy is released whichever host service fails, and the error
// comes back unchanged.
TEST(FacetryRender, ReducedCopyReleasedOnEveryPath) {
  Fixture f;
  World in(23, 17), out(23, 17);
  FillPattern(in, 10);
  struct Case {
    const char* service;
    PF_Err err;
  };
  const Case cases[] = {{"copy", PF_Err_OUT_OF_MEMORY},
                        {"new_world", PF_Err_OUT_OF_MEMORY},
                        {"iterate", PF_Err_INTERNAL_STRUCT_DAMAGED},
                        {"subpixel_sample", PF_Err_BAD_CALLBACK_PARAM}};
  for (int type : {5, 11}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << "type " << type << " " << c.service);
      Instance inst(f.effect, TimeBase{}, 23, 17);
      inst.SetValue(kType, Scalar(type));
      const size_t live = ombrix::LiveWorldCount();
      f.host.failures().Clear();
      f.host.failures().Arm(c.service, 1, c.err);
      EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, c.err);
      EXPECT_EQ(ombrix::LiveWorldCount(), live);
      f.host.failures().Clear();
      EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
      EXPECT_EQ(ombrix::LiveWorldCount(), live);
    }
  }
  // Types without the copy never ask for a world.
  Instance inst(f.effect, TimeBase{}, 23, 17);
  f.host.failures().Clear();
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  EXPECT_EQ(f.host.failures().Calls("new_world"), 0);
}

}  // namespace
