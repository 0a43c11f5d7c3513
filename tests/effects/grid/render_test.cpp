// Grid through the host: the cleared and covered frames, one-pixel sharp lines
// and their thin-line coverage, crossings, feathered edges worked out by hand,
// the layer as fill with transparent pixels, and a reduced buffer.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

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
  kAnchor = 1,
  kGridsizeFrom,
  kCorner,
  kWidth,
  kHeight,
  kBorder,
  kFeatherWidth,
  kFeatherHeight,
  kUseSolid,
  kSolidColour,
};
enum { kCornerPoint = 1, kWidthSlider = 2, kWidthHeight = 3 };

ParamValue Fixed(double v) { return Scalar(A_long(v * 65536)); }
// Opaque, varied colours with a transparent pixel every seventh.
void FillPattern(World& w) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x)
      w.At(x, y) = PF_Pixel{A_u_char((x + 3 * y) % 7 == 0 ? 0 : 100 + (x * 13 + y) % 156), A_u_char(x * 17),
                            A_u_char(y * 29), A_u_char(x + y)};
}

// True when integer coordinate v lies on a line of spacing `cell` through `anchor`.
bool OnLine(int v, int anchor, int cell) { return ((v - anchor) % cell + cell) % cell == 0; }

struct Fixture {
  Host host;
  Effect effect{host, TestPlugin("grid.aex")};
};

// A grid of sharp lines from the two sliders, anchored at (ax, ay).
void SharpGrid(Instance& inst, double border, double width, double height, double ax, double ay) {
  inst.SetValue(kGridsizeFrom, Scalar(kWidthHeight));
  inst.SetValue(kWidth, Fixed(width));
  inst.SetValue(kHeight, Fixed(height));
  inst.SetValue(kBorder, Fixed(border));
  inst.SetValue(kAnchor, Point(ax, ay));
}

TEST(GridRender, Registration) {
  Fixture f;
  EXPECT_EQ(f.effect.num_params(), 11);
  EXPECT_EQ(f.effect.global_out_flags(), 0);
  EXPECT_EQ(f.effect.FindParam("Use Solid Color"), kUseSolid);
  EXPECT_EQ(f.effect.PopupItems(kGridsizeFrom),
            (std::vector<std::string>{"Corner Point", "Width Slider", "Width & Height Sliders"}));
  EXPECT_EQ(f.effect.params()[kGridsizeFrom].u.pd.value, kCornerPoint);
  EXPECT_EQ(f.effect.params()[kFeatherWidth].flags, PF_ParamFlag_COLLAPSE_TWIRLY);
}

// RENDER sent straight to the plug-in with an output full of stale bytes: a
// zero border clears every pixel, whatever the other settings.
TEST(GridRender, BorderZeroClearsTheOutput) {
  Fixture f;
  World in(9, 6, 8), out(9, 6, 8);
  FillPattern(in);
  std::vector<PF_ParamDef> defs = f.effect.params();
  defs[0].u.ld = in.pf();
  defs[kBorder].u.fd.value = 0;
  defs[kGridsizeFrom].u.pd.value = kCornerPoint;  // corner on the anchor would cover the frame
  for (int solid : {1, 0}) {
    SCOPED_TRACE(solid);
    defs[kUseSolid].u.bd.value = solid;
    std::vector<PF_ParamDef*> params;
    for (PF_ParamDef& d : defs) params.push_back(&d);
    for (A_long y = 0; y < out.height(); ++y) std::memset(out.Row(y), 0xAB, size_t(4 * out.width()));
    PF_InData in_data = f.effect.BaseInData();
    in_data.downsample_x = in_data.downsample_y = PF_RationalScale{1, 1};
    PF_OutData out_data{};
    ASSERT_EQ(f.effect.Send(PF_Cmd_RENDER, in_data, out_data, params.data(), &out.pf(), nullptr), PF_Err_NONE);
    for (A_long y = 0; y < out.height(); ++y)
      for (A_long x = 0; x < out.width(); ++x) ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{0, 0, 0, 0}));
  }
}

// Corner on the anchor: a 1x1 cell, which a border of 2 covers entirely.
TEST(GridRender, CornerOnTheAnchorCoversTheFrame) {
  Fixture f;
  World in(10, 7, 4);
  FillPattern(in);
  const PF_Pixel colour{180, 10, 20, 30};
  for (bool solid : {true, false}) {
    SCOPED_TRACE(solid);
    Instance inst(f.effect, TimeBase{}, 10, 7);
    inst.SetValue(kGridsizeFrom, Scalar(kCornerPoint));
    inst.SetValue(kAnchor, Point(4, 3));
    inst.SetValue(kCorner, Point(4, 3));
    inst.SetValue(kBorder, Fixed(2));
    inst.SetValue(kUseSolid, Scalar(solid ? 1 : 0));
    inst.SetValue(kSolidColour, Colour(colour));
    World out(10, 7, 4);
    ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    for (A_long y = 0; y < 7; ++y)
      for (A_long x = 0; x < 10; ++x) ASSERT_TRUE(Same(out.At(x, y), solid ? colour : in.At(x, y)));
  }
}

// Border 1: the line is the one column (row) through the anchor and every cell
// after it, at full coverage; its neighbours get none. Where two lines cross
// the coverage is 2, full colour as well.
TEST(GridRender, SharpBorderOneIsOnePixelWide) {
  Fixture f;
  const PF_Pixel colour{200, 250, 128, 3};
  Instance inst(f.effect, TimeBase{}, 31, 23);
  SharpGrid(inst, 1.0, 10, 8, 3, 2);
  inst.SetValue(kSolidColour, Colour(colour));
  World in(31, 23, 12), out(31, 23, 12);
  FillPattern(in);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  for (int y = 0; y < 23; ++y) {
    for (int x = 0; x < 31; ++x) {
      const bool line = OnLine(x, 3, 10) || OnLine(y, 2, 8);
      const PF_Pixel& o = out.At(x, y);
      if (line)
        ASSERT_TRUE(Same(o, colour)) << x << "," << y << ": " << Show(o);
      else
        ASSERT_TRUE(Same(o, PF_Pixel{0, 0, 0, 0})) << x << "," << y << ": " << Show(o);
    }
  }
}

// Border 0.5: the line pixel is covered 0.75, so its alpha is trunc(0.75 x 200)
// = 150; on a crossing 1.5 counts as full coverage.
TEST(GridRender, SharpBorderHalfCoversThreeQuarters) {
  Fixture f;
  const PF_Pixel colour{200, 1, 2, 3};
  Instance inst(f.effect, TimeBase{}, 25, 19);
  SharpGrid(inst, 0.5, 6, 9, 0, 5);
  inst.SetValue(kSolidColour, Colour(colour));
  World in(25, 19), out(25, 19);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  for (int y = 0; y < 19; ++y) {
    for (int x = 0; x < 25; ++x) {
      const bool vx = OnLine(x, 0, 6), hy = OnLine(y, 5, 9);
      const PF_Pixel& o = out.At(x, y);
      PF_Pixel e{0, 0, 0, 0};
      if (vx && hy)
        e = colour;
      else if (vx || hy)
        e = PF_Pixel{150, 1, 2, 3};
      ASSERT_TRUE(Same(o, e)) << x << "," << y << ": " << Show(o);
    }
  }
}

// Feather 2 on both axes with Border 4: G = 3, inner edge -1, outer 2.5, so
// at distance d from a line the coverage is ((2.5 - d) / 3)^2 and the alpha
// trunc(255 s^2 (3 - 2s)) with s its square root: 236, 127, 18, then 0.
TEST(GridRender, FeatheredEdgeFollowsTheSmoothstep) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 40, 40);
  SharpGrid(inst, 4, 20, 20, 10, 10);
  inst.SetValue(kFeatherWidth, Fixed(2));
  inst.SetValue(kFeatherHeight, Fixed(2));
  World in(40, 40, 4), out(40, 40, 4);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  // Row 0 is as far from the horizontal lines (10, 30) as can be.
  const int alpha_at[] = {236, 127, 18, 0, 0};
  for (int d = 0; d < 5; ++d) {
    SCOPED_TRACE(d);
    EXPECT_EQ(out.At(10 + d, 0).alpha, alpha_at[d]);
    EXPECT_EQ(out.At(10 - d, 0).alpha, alpha_at[d]);
    EXPECT_EQ(out.At(0, 30 + d).alpha, alpha_at[d]);
  }
  // Opaque white wherever the alpha is not 0.
  EXPECT_TRUE(Same(out.At(11, 0), PF_Pixel{127, 255, 255, 255}));
  // Two edges adding past 1 are full coverage: (11, 11) has 0.25 + 0.25 = 0.5,
  // (10, 10) has 2 x 0.694 > 1.
  EXPECT_TRUE(Same(out.At(10, 10), PF_Pixel{255, 255, 255, 255}));
  EXPECT_EQ(out.At(11, 11).alpha, 202);  // s = sqrt(0.5): 255 x 0.5 x (3 - 2s) = 202.2
}

// Without the solid colour the input is the fill: its own pixels on the
// lines, transparent input staying transparent, alpha 0 between lines.
TEST(GridRender, LayerAsFillKeepsTransparentPixelsTransparent) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 29, 21);
  SharpGrid(inst, 1.0, 7, 5, 2, 1);
  inst.SetValue(kUseSolid, Scalar(0));
  World in(29, 21, 8), out(29, 21, 8);
  FillPattern(in);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  int transparent_on_lines = 0;
  for (int y = 0; y < 21; ++y) {
    for (int x = 0; x < 29; ++x) {
      const bool line = OnLine(x, 2, 7) || OnLine(y, 1, 5);
      const PF_Pixel& i = in.At(x, y);
      const PF_Pixel& o = out.At(x, y);
      if (line && i.alpha != 0) {
        ASSERT_TRUE(Same(o, i)) << x << "," << y;
      } else {
        ASSERT_EQ(o.alpha, 0) << x << "," << y;
        transparent_on_lines += line ? 1 : 0;
      }
    }
  }
  EXPECT_GT(transparent_on_lines, 0);

  // Border 0.5 scales the input's own alpha: trunc(0.75 x alpha).
  SharpGrid(inst, 0.5, 7, 5, 2, 1);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  const PF_Pixel& i = in.At(2, 3);  // on a vertical line only
  ASSERT_NE(i.alpha, 0);
  EXPECT_TRUE(Same(out.At(2, 3), PF_Pixel{A_u_char(i.alpha * 3 / 4), i.red, i.green, i.blue}));
}

// At half resolution the slider lengths halve: Width 20 is a 10-pixel cell in
// the buffer, and Border 2 a one-pixel line.
TEST(GridRender, HalfResolutionScalesTheCell) {
  Fixture f;
  Instance inst(f.effect, TimeBase{}, 40, 30);
  inst.SetValue(kGridsizeFrom, Scalar(kWidthSlider));
  inst.SetValue(kWidth, Fixed(20));
  inst.SetValue(kBorder, Fixed(2));
  inst.SetValue(kAnchor, Point(6, 4));  // (3, 2) in the buffer
  ombrix::RenderSettings half;
  half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};
  World in(20, 15, 4), out(20, 15, 4);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf(), half).err, PF_Err_NONE);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 20; ++x)
      ASSERT_EQ(out.At(x, y).alpha, (OnLine(x, 3, 10) || OnLine(y, 2, 10)) ? 255 : 0) << x << "," << y;
}

TEST(GridRender, ServiceFailuresAreReturned) {
  Fixture f;
  World in(8, 8), out(8, 8);
  Instance inst(f.effect, TimeBase{}, 8, 8);
  SharpGrid(inst, 1, 4, 4, 0, 0);
  f.host.failures().Arm("iterate", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_OUT_OF_MEMORY);
  inst.SetValue(kBorder, Fixed(0));
  f.host.failures().Arm("fill", 1, PF_Err_INTERNAL_STRUCT_DAMAGED);
  EXPECT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
}

}  // namespace
