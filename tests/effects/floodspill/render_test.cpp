// Floodspill through the host. Regions are drawn as text maps, so the pixels
// that must be filled are read off the drawing; colours, blends and bleed
// alphas are computed here from the fill and bleed formulas.
#include <ombrix/host/host.h>

#include "effects/common/effect_test.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
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

enum { kColour = 1, kPoint, kTolerance, kMode, kBleed, kFillOnly, kViewThreshold };

constexpr PF_Pixel kWall{255, 250, 250, 250};
constexpr PF_Pixel kOpen{255, 10, 10, 10};
constexpr PF_Pixel kRed{255, 255, 0, 0};

// '#' wall, '.' open; every map is drawn so that the open pixels expected to
// be filled are marked 'o' instead of '.' (both are open colour).
World FromMap(const std::vector<std::string>& map, A_long pad = 8) {
  World w(A_long(map[0].size()), A_long(map.size()), pad);
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) w.At(x, y) = map[y][x] == '#' ? kWall : kOpen;
  return w;
}

struct Rig {
  Host host;
  Effect effect{host, TestPlugin("floodspill.aex")};
  PF_Err Render(World& in, World& out, const std::vector<std::pair<int, ParamValue>>& values,
                const ombrix::RenderSettings& settings = {}, A_long layer_width = 0, A_long layer_height = 0) {
    Instance inst(effect, TimeBase{}, layer_width > 0 ? layer_width : in.width(),
                  layer_height > 0 ? layer_height : in.height());
    inst.SetValue(kColour, Colour(kRed));
    inst.SetValue(kBleed, Scalar(0));
    for (const auto& [index, v] : values) inst.SetValue(index, v);
    return inst.RenderFrame(0, in.pf(), out, settings).err;
  }
};

::testing::AssertionResult FilledAsDrawn(const std::vector<std::string>& map, const World& in, const World& out) {
  std::string got;
  for (A_long y = 0; y < out.height(); ++y) {
    for (A_long x = 0; x < out.width(); ++x) got += Same(out.At(x, y), kRed) ? 'o' : (map[y][x] == '#' ? '#' : '.');
    got += '\n';
  }
  for (A_long y = 0; y < out.height(); ++y)
    for (A_long x = 0; x < out.width(); ++x) {
      const PF_Pixel want = map[y][x] == 'o' ? kRed : in.At(x, y);
      if (!Same(out.At(x, y), want))
        return ::testing::AssertionFailure()
               << "(" << x << ", " << y << ") is " << Show(out.At(x, y)) << ", drawn " << map[y][x] << "\n"
               << got;
    }
  return ::testing::AssertionSuccess();
}

TEST(FloodspillRender, Registration) {
  Rig r;
  EXPECT_EQ(r.effect.num_params(), 8);
  EXPECT_EQ(r.effect.global_out_flags(), 0);
  EXPECT_EQ(r.effect.FindParam("Fill Using..."), kMode);
  EXPECT_EQ(r.effect.FindParam("View Threshold"), kViewThreshold);
  EXPECT_EQ(r.effect.params()[kPoint].u.td.restrict_bounds, 1);
  EXPECT_EQ(r.effect.params()[kBleed].u.fd.slider_min, 1 << 16);
}

// A spiral whose inner arm can only be reached by sweeping back up rows the
// passes from the seed column never visited.
TEST(FloodspillRender, SpiralNeedsTheSweepToStepBack) {
  const std::vector<std::string> m = {
      "###############", "#ooooooooooooo#", "#############o#", "#ooooooooooo#o#", "#o#########o#o#",
      "#o#ooooooo#o#o#", "#o#o#####o#o#o#", "#o#o#ooooo#o#o#", "#o#o#######o#o#", "#o#ooooooooo#o#",
      "#o###########o#", "#ooooooooooooo#", "###############",
  };
  Rig r;
  World in = FromMap(m), out(15, 13, 8);
  // Seed at the spiral's centre, the run at (5, 7).
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(5, 7)}, {kTolerance, Scalar(10 << 16)}}), PF_Err_NONE);
  EXPECT_TRUE(FilledAsDrawn(m, in, out));
}

// Only edge-sharing neighbours join the region: an open pixel touching it at
// a corner (right of the seed column, where no pass reaches) stays.
TEST(FloodspillRender, FourWayConnectivity) {
  const std::vector<std::string> map = {
      "#########", "#ooo#####", "#ooo#####", "####.####", "####..###", "#########",
  };
  Rig r;
  World in = FromMap(map), out(9, 6, 0);
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(2, 1)}, {kTolerance, Scalar(10 << 16)}}), PF_Err_NONE);
  EXPECT_TRUE(FilledAsDrawn(map, in, out));
}

// The downward pass calls the span at the seed column in every row it goes
// on to; the leftward part of that span fills an inside run left of the
// column although that run touches the region only at a corner.
TEST(FloodspillRender, DownwardPassReachesRunsLeftOfTheSeedColumn) {
  const std::vector<std::string> map = {
      "##########", "####oooo##", "###o##o###", "###o##o###", "##########",
  };
  Rig r;
  World in = FromMap(map), out(10, 5, 0);
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(4, 1)}, {kTolerance, Scalar(10 << 16)}}), PF_Err_NONE);
  EXPECT_TRUE(FilledAsDrawn(map, in, out));
}

TEST(FloodspillRender, ToleranceZeroFillsNothing) {
  Rig r;
  World in = FromMap({"....", "....", "...."}), out(4, 3, 4);
  ASSERT_EQ(r.Render(in, out, {{kTolerance, Scalar(0)}}), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
  // Fill Only: the cleared frame.
  World cleared(4, 3, 4);
  ASSERT_EQ(r.Render(in, out, {{kTolerance, Scalar(0)}, {kFillOnly, Scalar(1)}}), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(cleared.pf(), out.pf()));
  // 1/3 of a unit: 3 x Tolerance truncates to 0 (Paint Bucket), nothing filled.
  ASSERT_EQ(r.Render(in, out, {{kTolerance, Scalar(0x5555)}}), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
  // A third of a unit more is T = 1: identical colours (D = 0) are inside.
  ASSERT_EQ(r.Render(in, out, {{kTolerance, Scalar(0x5556)}}), PF_Err_NONE);
  EXPECT_TRUE(FilledAsDrawn({"oooo", "oooo", "oooo"}, in, out));
}

// A uniform opaque layer is one region; its border is never a bleed centre
// and its inside has no unfilled neighbour, so the bleed changes nothing.
TEST(FloodspillRender, UniformOpaqueLayerFilledWhole) {
  Rig r;
  for (A_long bleed : {0, 1 << 16, 4 << 16, 20 << 16}) {
    SCOPED_TRACE(bleed);
    World in(37, 23, 12), out(37, 23, 12);
    for (A_long y = 0; y < 23; ++y)
      for (A_long x = 0; x < 37; ++x) in.At(x, y) = PF_Pixel{255, 40, 90, 200};
    ASSERT_EQ(r.Render(in, out, {{kPoint, Point(5, 20)}, {kBleed, Scalar(bleed)}, {kColour, Colour({7, 1, 2, 3})}}),
              PF_Err_NONE);
    for (A_long y = 0; y < 23; ++y)
      for (A_long x = 0; x < 37; ++x) ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{255, 1, 2, 3})) << x << "," << y;
  }
}

// Paint Bucket compares premultiplied colours: all fully transparent pixels
// are equal whatever their colour bytes.
TEST(FloodspillRender, TransparentPixelsOfAnyColourAreOneRegion) {
  Rig r;
  World in(12, 8, 0), out(12, 8, 0);
  FillPixels(in, Lcg{5}, [](A_long x, A_long, uint32_t s) {
    return x == 6 ? kWall : PF_Pixel{0, Byte(s, 24), Byte(s, 16), Byte(s, 8)};
  });
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(2, 3)}, {kTolerance, Scalar(1 << 16)}}), PF_Err_NONE);
  for (A_long y = 0; y < 8; ++y)
    for (A_long x = 0; x < 12; ++x) {
      // Left of the wall filled; right of it a separate region, untouched.
      const PF_Pixel want = x < 6 ? kRed : in.At(x, y);
      ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y;
    }
}

// View Threshold wins over Fill Only and the fill: black where the threshold
// test says inside, white elsewhere.
TEST(FloodspillRender, ViewThresholdShowsTheTest) {
  Rig r;
  World in(16, 9, 4), out(16, 9, 4);
  FillPixels(in, Lcg{77}, [](A_long, A_long, uint32_t s) {
    return PF_Pixel{Byte(s, 24), Byte(s, 16), Byte(s, 8), Byte(s, 0)};
  });
  in.At(3, 4) = PF_Pixel{200, 100, 50, 25};
  const A_long tol = 0x2A8000;  // 42.5: T = 127
  ASSERT_EQ(
      r.Render(in, out,
               {{kPoint, Point(3, 4)}, {kTolerance, Scalar(tol)}, {kFillOnly, Scalar(1)}, {kViewThreshold, Scalar(1)}}),
      PF_Err_NONE);
  const PF_Pixel seed = in.At(3, 4);
  for (A_long y = 0; y < 9; ++y)
    for (A_long x = 0; x < 16; ++x) {
      const PF_Pixel p = in.At(x, y);
      const int d =
          (std::abs(p.red * p.alpha - seed.red * seed.alpha) + std::abs(p.green * p.alpha - seed.green * seed.alpha) +
           std::abs(p.blue * p.alpha - seed.blue * seed.alpha)) /
          256;
      const uint8_t v = d < 127 ? 0 : 255;
      ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{255, v, v, v})) << x << "," << y;
    }
  // Underfill: black where alpha is below T = 42.
  ASSERT_EQ(
      r.Render(in, out,
               {{kPoint, Point(3, 4)}, {kTolerance, Scalar(tol)}, {kMode, Scalar(2)}, {kViewThreshold, Scalar(1)}}),
      PF_Err_NONE);
  for (A_long y = 0; y < 9; ++y)
    for (A_long x = 0; x < 16; ++x) {
      const uint8_t v = in.At(x, y).alpha < 42 ? 0 : 255;
      ASSERT_TRUE(Same(out.At(x, y), PF_Pixel{255, v, v, v})) << x << "," << y;
    }
}

// Underfill puts the colour under the layer: nothing on an opaque layer; in a
// hole, the colour shows through in proportion to the transparency.
TEST(FloodspillRender, UnderfillOnOpaqueAndOnAHole) {
  Rig r;
  World in(11, 11, 8), out(11, 11, 8);
  for (A_long y = 0; y < 11; ++y)
    for (A_long x = 0; x < 11; ++x) in.At(x, y) = PF_Pixel{255, 0, 0, 200};
  const std::vector<std::pair<int, ParamValue>> under = {
      {kMode, Scalar(2)}, {kTolerance, Scalar(255 << 16)}, {kPoint, Point(5, 5)}, {kColour, Colour({0, 0, 255, 0})}};
  ASSERT_EQ(r.Render(in, out, under), PF_Err_NONE);
  EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));

  // A hole: alpha 0 in the middle, a semi-transparent ring around it.
  for (A_long y = 3; y <= 7; ++y)
    for (A_long x = 3; x <= 7; ++x)
      in.At(x, y) = PF_Pixel{uint8_t(y == 3 || y == 7 || x == 3 || x == 7 ? 100 : 0), 0, 0, 200};
  ASSERT_EQ(r.Render(in, out, under), PF_Err_NONE);
  const PF_Pixel green{255, 0, 255, 0};
  for (A_long y = 0; y < 11; ++y)
    for (A_long x = 0; x < 11; ++x) {
      const PF_Pixel p = in.At(x, y);
      const PF_Pixel want = p.alpha < 255 ? Over(p, green) : p;
      ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << " " << Show(out.At(x, y));
    }
  EXPECT_TRUE(Same(out.At(5, 5), green));
  EXPECT_TRUE(Same(out.At(3, 5), PF_Pixel{255, 0, 155, 78}));  // 100/255 of blue over green
}

// One filled pixel surrounded by walls: every bleed disc value from the
// paraboloid, r = Bleed x downsample + 1, blended over the copy.
TEST(FloodspillRender, BleedDiscAroundAnEdgePixel) {
  Rig r;
  const std::vector<std::string> map = {"###########", "###########", "###########", "###########",
                                        "###########", "#####o#####", "###########", "###########",
                                        "###########", "###########", "###########"};
  World in = FromMap(map), out(11, 11, 0);
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(5, 5)}, {kTolerance, Scalar(10 << 16)}, {kBleed, Scalar(2 << 16)}}),
            PF_Err_NONE);
  const float r2 = 9.0f;
  for (A_long y = 0; y < 11; ++y)
    for (A_long x = 0; x < 11; ++x) {
      const int d2 = (x - 5) * (x - 5) + (y - 5) * (y - 5);
      PF_Pixel want = (x == 5 && y == 5) ? kRed : kWall;
      if (float(d2) < r2) {
        PF_Pixel c = kRed;
        c.alpha = uint8_t(int((r2 - float(d2)) * (255.0f / r2)));
        want = Over(c, want);
      }
      ASSERT_TRUE(Same(out.At(x, y), want)) << x << "," << y << " " << Show(out.At(x, y)) << " want " << Show(want);
    }
  // At half resolution the radius is 2 x 1/2 + 1 = 2: the pixels at distance
  // 2 are no longer touched. The 11x11 layer is a 6x6 buffer; the point (4, 4) is (2, 2) there.
  World half_in(6, 6, 0), half_out(6, 6, 0);
  for (A_long y = 0; y < 6; ++y)
    for (A_long x = 0; x < 6; ++x) half_in.At(x, y) = (x == 2 && y == 2) ? kOpen : kWall;
  ombrix::RenderSettings half;
  half.downsample_x = half.downsample_y = PF_RationalScale{1, 2};
  ASSERT_EQ(r.Render(half_in, half_out,
                     {{kPoint, Point(4, 4)}, {kTolerance, Scalar(10 << 16)}, {kBleed, Scalar(2 << 16)}}, half, 11, 11),
            PF_Err_NONE);
  EXPECT_TRUE(Same(half_out.At(4, 2), kWall));
  PF_Pixel c = kRed;
  c.alpha = uint8_t(int((4.0f - 1.0f) * (255.0f / 4.0f)));
  EXPECT_TRUE(Same(half_out.At(3, 2), Over(c, kWall)));
}

// Without its mask the fill cannot run: the host's out-of-memory error, and
// the output as prepared (the copy).
TEST(FloodspillRender, MaskAllocationFailureIsReported) {
  for (const char* service : {"new_handle", "lock_handle"}) {
    SCOPED_TRACE(service);
    Rig r;
    World in = FromMap({"......", "......"}), out(6, 2, 0);
    r.host.failures().Arm(service, 1, PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(r.Render(in, out, {}), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(ombrix::SamePixels(in.pf(), out.pf()));
  }
  EXPECT_EQ(ombrix::LiveHandleCount(), 0u);
}

TEST(FloodspillRender, HostErrorsAreReturned) {
  const std::pair<const char*, PF_Err> cases[] = {{"copy", PF_Err_INTERNAL_STRUCT_DAMAGED},
                                                  {"subpixel_sample", PF_Err_BAD_CALLBACK_PARAM}};
  for (const auto& [service, err] : cases) {
    Rig r;
    World in = FromMap({"...", "..."}), out(3, 2, 0);
    r.host.failures().Arm(service, 1, err);
    EXPECT_EQ(r.Render(in, out, {}), err) << service;
  }
  Rig r;
  World in = FromMap({"...", "..."}), out(3, 2, 0);
  r.host.failures().Arm("fill", 1, PF_Err_OUT_OF_MEMORY);
  EXPECT_EQ(r.Render(in, out, {{kFillOnly, Scalar(1)}}), PF_Err_OUT_OF_MEMORY);
}

// A long serpentine: every corridor turn sends the sweep back up, and the
// whole corridor is still filled on a wide layer.
TEST(FloodspillRender, SerpentineOnALargerLayer) {
  const A_long w = 301, h = 203;
  std::vector<std::string> map(h, std::string(w, '#'));
  for (A_long y = 1; y < h - 1; y += 2) {
    for (A_long x = 1; x < w - 1; ++x) map[y][x] = 'o';
    // Openings alternate between the right and the left end.
    if (y + 2 < h - 1) map[y + 1][((y / 2) % 2 == 0) ? w - 2 : 1] = 'o';
  }
  Rig r;
  World in = FromMap(map, 0), out(w, h, 0);
  ASSERT_EQ(r.Render(in, out, {{kPoint, Point(150, h - 2)}, {kTolerance, Scalar(10 << 16)}}), PF_Err_NONE);
  EXPECT_TRUE(FilledAsDrawn(map, in, out));
}

}  // namespace
