// Bolt drawing on its own: the weighted mix, the two disc profiles, the
// step length and the stamping of short and long paths on padded worlds.
#include "draw.h"
#include "walk_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

using lightning::BlendWeighted;
using ombrix::World;

PF_Pixel Px(int a, int r, int g, int b) { return PF_Pixel{A_u_char(a), A_u_char(r), A_u_char(g), A_u_char(b)}; }

::testing::AssertionResult Is(const PF_Pixel& p, int a, int r, int g, int b) {
  if (p.alpha == a && p.red == r && p.green == g && p.blue == b) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << int(p.alpha) << "," << int(p.red) << "," << int(p.green) << ","
                                       << int(p.blue) << " expected " << a << "," << r << "," << g << "," << b;
}

TEST(BlendWeighted, Rules) {
  // A transparent source leaves the destination; a transparent destination takes the source.
  EXPECT_TRUE(Is(BlendWeighted(Px(0, 9, 9, 9), Px(17, 1, 2, 3)), 17, 1, 2, 3));
  EXPECT_TRUE(Is(BlendWeighted(Px(40, 9, 8, 7), Px(0, 1, 2, 3)), 40, 9, 8, 7));
  // A = 200 + 100 - 20000 div 255 = 222; red = (0*200 + 200*100) div 222 = 90,
  // green = (50*200 + 50*100) div 222 = 67, blue = (100*200 + 0) div 222 = 90.
  EXPECT_TRUE(Is(BlendWeighted(Px(100, 200, 50, 0), Px(200, 0, 50, 100)), 222, 90, 67, 90));
  // Both opaque: A = 255; red's sum 2 x 255 x 255 div 255 = 510 is limited to 255,
  // green (0 x 255 + 255 x 255) div 255 = 255.
  EXPECT_TRUE(Is(BlendWeighted(Px(255, 255, 255, 0), Px(255, 255, 0, 0)), 255, 255, 255, 0));
  // A = 254 + 1 - 254 div 255 = 255; each channel (0 x 254 + 255 x 1) div 255 = 1.
  EXPECT_TRUE(Is(BlendWeighted(Px(1, 255, 255, 255), Px(254, 0, 0, 0)), 255, 1, 1, 1));
  // A sum above 255 is limited: 200 + 200 - 40000 div 255 = 244 stays; 255 + 255 - 255 = 255.
  EXPECT_EQ(BlendWeighted(Px(200, 0, 0, 0), Px(200, 0, 0, 0)).alpha, 244);
}

TEST(BlendWeighted, DivisionByTheAlphaUnionIsExact) {
  // Every alpha union and every sum the mix can form (at most 255 x 510).
  for (int a = 1; a <= 255; ++a)
    for (int n = 0; n <= 255 * 510; ++n)
      if (lightning::DivideByAlpha(n, a) != n / a) FAIL() << n << " div " << a;
}

// The four-lane mix against the one-pixel mix: every pair of alphas, with
// channel values at the ends and the middle of the byte's range.
TEST(BlendWeighted, FourLanesMatchOnePixel) {
  const int values[] = {0, 1, 2, 127, 128, 200, 254, 255};
  for (int as = 0; as <= 255; ++as)
    for (int ad = 0; ad <= 255; ad += 4)
      for (int s : values) {
        const PF_Pixel src = Px(as, s, 255 - s, s / 2);
        lightning::Words4 dst;
        PF_Pixel dst_px[4];
        for (int i = 0; i < 4; ++i) dst_px[i] = Px(std::min(255, ad + i), values[(i + s) % 8], 255 - s, values[i]);
        std::memcpy(&dst, dst_px, sizeof dst);
        const lightning::Words4 got = lightning::BlendWeighted4(dst, lightning::Ints4{} + as, src);
        PF_Pixel got_px[4];
        std::memcpy(got_px, &got, sizeof got_px);
        for (int i = 0; i < 4; ++i) {
          const PF_Pixel want = BlendWeighted(src, dst_px[i]);
          ASSERT_TRUE(Is(got_px[i], want.alpha, want.red, want.green, want.blue))
              << "as " << as << " ad " << int(dst_px[i].alpha) << " s " << s;
        }
      }
}

TEST(StepLength, CompressedAboveFive) {
  EXPECT_EQ(lightning::StepLength(2.0f), 1.0f);
  EXPECT_EQ(lightning::StepLength(10.0f), 5.0f);
  EXPECT_EQ(lightning::StepLength(20.0f), 7.5f);  // 10 - (10 - 5) / 2
  EXPECT_EQ(lightning::StepLength(50.0f), 15.0f);
}

TEST(Discs, CoreProfileIsAParaboloid) {
  World w(21, 21, 12);
  const PF_Pixel c = Px(210, 10, 20, 30);
  lightning::StampCoreDisc(10.0f, 10.0f, 4.0f, 200.0f, c, w.pf());
  // On a cleared world the first stamp writes the colour with its alpha:
  // trunc(200/16 x (16 - d^2)).
  EXPECT_TRUE(Is(w.At(10, 10), 200, 10, 20, 30));
  EXPECT_TRUE(Is(w.At(12, 10), 150, 10, 20, 30));  // half radius
  EXPECT_TRUE(Is(w.At(11, 11), 175, 10, 20, 30));  // d^2 = 2
  EXPECT_TRUE(Is(w.At(14, 10), 0, 0, 0, 0));       // the rim is outside
  EXPECT_TRUE(Is(w.At(13, 13), 0, 0, 0, 0));
  // A stamp alpha that truncates to 0 leaves the pixel as it was: amount 2,
  // (4, 8) at d^2 = 13.69 gives trunc(0.125 x 2.31) = 0; (4, 4) at 0.09 gives 1.
  World v(9, 9);
  v.At(4, 8) = Px(30, 1, 2, 3);
  lightning::StampCoreDisc(4.0f, 4.3f, 4.0f, 2.0f, c, v.pf());
  EXPECT_TRUE(Is(v.At(4, 8), 30, 1, 2, 3));
  EXPECT_TRUE(Is(v.At(4, 4), 1, 10, 20, 30));
}

TEST(Discs, SmallCoreDiscsFadeInsteadOfShrinking) {
  World w(5, 5);
  lightning::StampCoreDisc(2.0f, 2.0f, 0.5f, 200.0f, Px(210, 255, 255, 255), w.pf());
  EXPECT_EQ(w.At(2, 2).alpha, 100);  // amount x r, radius 1
  EXPECT_EQ(w.At(3, 2).alpha, 0);
  World n(5, 5);
  lightning::StampCoreDisc(2.0f, 2.0f, -0.1f, 200.0f, Px(210, 255, 255, 255), n.pf());
  EXPECT_EQ(n.At(2, 2).alpha, 0);
}

TEST(Discs, GlowProfile) {
  World w(41, 41, 4);
  const PF_Pixel c = Px(255, 50, 50, 255);
  lightning::StampGlowDisc(20.0f, 20.0f, 8.0f, 200.0f, c, w.pf());
  EXPECT_TRUE(Is(w.At(20, 20), 200, 50, 50, 255));  // 1 at the centre
  EXPECT_EQ(w.At(24, 20).alpha, 75);                // 0.375 at half radius
  EXPECT_EQ(w.At(28, 20).alpha, 0);                 // 0 at the rim
  // d^2 = 9: 1 - 1.25 x 9 / 25 = 0.55 -> 110.
  EXPECT_EQ(w.At(23, 20).alpha, 110);
  // Glows below one pixel keep radius 1 and the full amount.
  World s(5, 5);
  lightning::StampGlowDisc(2.0f, 2.0f, 0.25f, 200.0f, c, s.pf());
  EXPECT_EQ(s.At(2, 2).alpha, 200);
}

TEST(Discs, ClampedToTheWorld) {
  World w(10, 6, 8);
  // Partly outside on every side, and wholly outside: only pixels inside are touched,
  // and the padding stays as it was.
  lightning::StampCoreDisc(-2.0f, -1.0f, 5.0f, 200.0f, Px(210, 1, 1, 1), w.pf());
  lightning::StampGlowDisc(11.0f, 7.0f, 4.0f, 200.0f, Px(255, 2, 2, 2), w.pf());
  lightning::StampGlowDisc(-50.0f, 3.0f, 10.0f, 200.0f, Px(255, 3, 3, 3), w.pf());
  lightning::StampCoreDisc(40.0f, 40.0f, 10.0f, 200.0f, Px(210, 3, 3, 3), w.pf());
  // Coordinates far outside or not numbers at all touch nothing.
  lightning::StampCoreDisc(3e9f, -3e9f, 5.0f, 200.0f, Px(210, 3, 3, 3), w.pf());
  lightning::StampGlowDisc(std::nanf(""), 2.0f, 5.0f, 200.0f, Px(255, 3, 3, 3), w.pf());
  lightning::StampCoreDisc(2.0f, 2.0f, std::nanf(""), 200.0f, Px(210, 3, 3, 3), w.pf());
  lightning::StampGlowDisc(2.0f, 2.0f, 1e30f, std::nanf(""), Px(255, 3, 3, 3), w.pf());
  EXPECT_GT(w.At(0, 0).alpha, 0);
  EXPECT_GT(w.At(9, 5).alpha, 0);
  EXPECT_EQ(w.At(5, 0).alpha, 0);
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) EXPECT_NE(w.At(x, y).red, 3);
  for (A_long y = 0; y < w.height(); ++y) {
    const uint8_t* row = reinterpret_cast<const uint8_t*>(w.Row(y));
    for (A_long i = 4 * w.width(); i < w.rowbytes(); ++i) EXPECT_EQ(row[i], 0);
  }
}

TEST(Discs, EveryPixelOfTheBoxIsDecidedByItsDistance) {
  // Rows skip the columns far outside the rim; the bytes must be those of
  // testing every pixel of the box. Discs of many sizes at fractional
  // centres, partly outside, over a layer that is not clear.
  World fast(157, 93, 8), full(157, 93, 8);
  for (A_long y = 0; y < 93; ++y)
    for (A_long x = 0; x < 157; ++x) fast.At(x, y) = full.At(x, y) = Px((x * 7 + y) % 256, x, y, 90);
  uint32_t seed = 12345;
  auto next = [&](float lo, float hi) {
    seed = seed * 1664525u + 1013904223u;
    return lo + (hi - lo) * float(seed >> 8) / float(1 << 24);
  };
  for (int i = 0; i < 300; ++i) {
    const float cx = next(-20.0f, 177.0f), cy = next(-20.0f, 113.0f), r = next(0.3f, i % 10 == 0 ? 200.0f : 12.0f);
    const float a = next(2.0f, 255.0f);
    const bool glow = i % 2 == 1;
    const PF_Pixel c = Px(glow ? 255 : 210, i % 256, 255 - i % 256, 40);
    if (glow)
      lightning::StampGlowDisc(cx, cy, r, a, c, fast.pf());
    else
      lightning::StampCoreDisc(cx, cy, r, a, c, fast.pf());
    // Every pixel of the frame decided by the profile's own test.
    const float rr = glow ? std::max(r, 1.0f) : std::max(r, 1.0f), aa = !glow && r < 1.0f ? a * r : a;
    const float r2 = rr * rr;
    for (A_long y = 0; y < 93; ++y)
      for (A_long x = 0; x < 157; ++x) {
        const float dx = cx - float(x), dy = cy - float(y), d2 = dx * dx + dy * dy;
        if (!(d2 < r2)) continue;
        const float v = glow ? (1.0f - 1.25f * d2 / (d2 + r2 / 4.0f)) * aa : aa / r2 * (r2 - d2);
        PF_Pixel s = c;
        s.alpha = A_u_char(v >= 255.0f ? 255 : v > 0.0f ? int(v) : 0);
        full.At(x, y) = BlendWeighted(s, full.At(x, y));
      }
  }
  EXPECT_TRUE(ombrix::SamePixels(full.pf(), fast.pf()));
}

// The four-lane rows against the pixel-by-pixel rows on narrow and odd
// widths (the lanes' tail), with amounts past 255, not-a-number centres and
// amounts, and radii from a fraction of a pixel to far beyond the frame.
TEST(Discs, FourLaneRowsMatchPixelByPixelRows) {
  const float nan = std::nanf("");
  struct Case {
    float cx, cy, r, a;
  };
  const Case cases[] = {{2.5f, 3.0f, 3.0f, 400.0f},  {0.3f, 1.7f, 0.6f, 90.0f},  {nan, 4.0f, 5.0f, 200.0f},
                        {6.0f, 2.0f, 1e30f, 120.0f}, {4.2f, 4.9f, 7.5f, nan},    {-3.0f, 3.0f, 9.0f, 255.0f},
                        {5.5f, 5.5f, 2.2f, 1e9f},    {1.0f, 0.0f, 4.0f, -50.0f}, {3.3f, 6.1f, 40.0f, 30.0f}};
  for (A_long width : {1, 3, 4, 5, 7, 13}) {
    World lanes(width, 9, 8), plain(width, 9, 8);
    for (A_long y = 0; y < 9; ++y)
      for (A_long x = 0; x < width; ++x) lanes.At(x, y) = plain.At(x, y) = Px((x * 53 + y * 31) % 256, x, y, 7);
    const World start = plain;
    int i = 0;
    for (const Case& c : cases) {
      for (int kind : {lightning::kCoreDisc, lightning::kGlowDisc}) {
        lightning::Disc d;
        const bool made = kind == lightning::kCoreDisc
                              ? lightning::PrepareCoreDisc(c.cx, c.cy, c.r, c.a, lanes.pf(), &d)
                              : lightning::PrepareGlowDisc(c.cx, c.cy, c.r, c.a, lanes.pf(), &d);
        if (!made) continue;
        const PF_Pixel colour = Px(kind == lightning::kCoreDisc ? 210 : 255, 20 * i++, 200, 90);
        for (A_long y = d.box.y0; y <= d.box.y1; ++y) {
          lightning::StampDiscRow(d, colour, y, lanes.pf());
          lightning::StampDiscRowByPixel(d, colour, y, plain.pf());
        }
      }
    }
    EXPECT_TRUE(ombrix::SamePixels(lanes.pf(), plain.pf())) << "width " << width;
    EXPECT_FALSE(ombrix::SamePixels(lanes.pf(), start.pf())) << "nothing stamped at width " << width;
  }
}

// A straight path of n points one pixel apart, all at one strength.
lightning::BoltPath StraightPath(std::vector<lightning::PathPoint>& store, int n, float strength) {
  store.clear();
  for (int i = 0; i < n; ++i) store.push_back({10.0f + float(i), 10.0f, strength});
  lightning::BoltPath p;
  p.capacity = n;
  p.count = n;
  p.points = store.data();
  return p;
}

struct DrawSetup {
  lightning_test::Scene s{40, 20};
  World out{40, 20, 16};
  DrawSetup() {
    s.c.output = &out.pf();
    s.c.core_radius = 2.0f;
    s.c.core_amount = 0.75f * 0.75f * 210.0f;
    s.c.core_colour = Px(210, 255, 255, 255);
    s.c.glow_radius = 5.0f;
    s.c.glow_amount = 0.5f * 0.5f * 255.0f;
    s.c.glow_colour = Px(255, 50, 50, 255);
  }
  int Lit() const {
    int n = 0;
    for (A_long y = 0; y < out.height(); ++y)
      for (A_long x = 0; x < out.width(); ++x) n += out.At(x, y).alpha != 0;
    return n;
  }
};

TEST(DrawBolt, FourOrFewerPointsDrawNothing) {
  DrawSetup d;
  std::vector<lightning::PathPoint> store;
  lightning::DrawBoltCore(StraightPath(store, 4, 1.0f), d.s.c);
  lightning::DrawBoltGlow(StraightPath(store, 4, 1.0f), d.s.c);
  EXPECT_EQ(d.Lit(), 0);
  lightning::DrawBoltCore(StraightPath(store, 5, 1.0f), d.s.c);
  EXPECT_GT(d.Lit(), 0);
}

TEST(DrawBolt, CoreStampsOnePixelBehindEachPoint) {
  // Radius 2 at strength 1: step 1, so from the fourth point on every point
  // stamps a disc at the previous point (f = 1), and the last drawn point
  // gets the closing stamp: centres at x = 12 .. 20 for points x = 10 .. 20.
  DrawSetup d;
  d.s.c.core_amount = 200.0f;
  std::vector<lightning::PathPoint> store;
  lightning::DrawBoltCore(StraightPath(store, 12, 1.0f), d.s.c);  // N = 11 drawn points
  EXPECT_EQ(d.out.At(10, 10).alpha, 0);
  EXPECT_EQ(d.out.At(11, 10).alpha, 150);  // only the disc at 12 reaches it: 50 x (4 - 1)
  for (A_long x = 12; x <= 20; ++x) EXPECT_GE(d.out.At(x, 10).alpha, 200) << "x " << x;
  // Nothing at or beyond the rim of the last disc; the undrawn 12th point adds nothing.
  EXPECT_EQ(d.out.At(22, 10).alpha, 0);
}

// The stamping walk of core and glow written out with double intervals,
// interpolation and amounts, each disc's centre, radius and amount rounded to
// float once; the discs themselves are the ones tested above.
void ReferenceDraw(const std::vector<lightning::PathPoint>& p, const lightning::WalkContext& c) {
  const int n = int(p.size()) - 1;
  const double s = c.scale, core = c.core_radius, glow = c.glow_radius;
  auto step = [](double w) {
    const double h = w * 0.5;
    return h > 5 ? h - (h - 5) * 0.5 : h;
  };
  auto between = [&](double f, double a, double b) { return float(s * (a + f * (b - a))); };
  double acc = 0, h = 0;
  if (s * p[1].strength * core >= 0.02 && c.core_amount >= 2) {
    for (int i = 1; i < n; ++i) {
      h = step(core * p[i].strength);
      if (acc > h) {
        acc = std::fmin(acc - h, 1.0);
        lightning::StampCoreDisc(between(acc, p[i].x, p[i - 1].x), between(acc, p[i].y, p[i - 1].y),
                                 between(acc, core * p[i].strength, core * p[i - 1].strength), c.core_amount,
                                 c.core_colour, *c.output);
      }
      acc = acc + 1;
    }
    if (acc > 1)
      lightning::StampCoreDisc(float(s * p[n - 1].x), float(s * p[n - 1].y), float(s * core * p[n - 1].strength),
                               float(c.core_amount * (acc - 1) / std::fmax(h, 1.0)), c.core_colour, *c.output);
  }
  acc = 0;
  h = step(glow);
  if (glow * s < 0.02 || c.glow_amount < 2) return;
  for (int i = 1; i < n; ++i) {
    if (acc > h) {
      acc = std::fmin(acc - h, 1.0);
      lightning::StampGlowDisc(between(acc, p[i].x, p[i - 1].x), between(acc, p[i].y, p[i - 1].y), float(glow * s),
                               float(double(c.glow_amount) * p[i].strength), c.glow_colour, *c.output);
    }
    acc = acc + 1;
  }
  if (acc > 1)
    lightning::StampGlowDisc(float(s * p[n - 1].x), float(s * p[n - 1].y), float(glow * s),
                             float(c.glow_amount * ((acc - 1) / std::fmax(h, 1.0)) * p[n - 1].strength), c.glow_colour,
                             *c.output);
}

TEST(DrawBolt, MatchesTheStampingWalkInDouble) {
  // A fading spiral with fractional positions, at full and half size; the
  // glow's interval is compressed (radius 13.7 gives 5.925).
  std::vector<lightning::PathPoint> store;
  for (int i = 0; i < 300; ++i) {
    const double t = i / 40.0;
    store.push_back(
        {float(60 + (10 + 3 * t) * std::cos(t)), float(45 + (10 + 3 * t) * std::sin(t)), float(1.0 - i / 400.0)});
  }
  lightning::BoltPath path;
  path.capacity = path.count = int32_t(store.size());
  path.points = store.data();
  for (float scale : {1.0f, 0.5f}) {
    SCOPED_TRACE(scale);
    DrawSetup d;
    World code(A_long(120 * scale), A_long(90 * scale), 8), reference = code;
    d.s.c.scale = scale;
    d.s.c.core_radius = 3.3f;
    d.s.c.glow_radius = 13.7f;
    d.s.c.output = &code.pf();
    lightning::DrawBoltCore(path, d.s.c);
    lightning::DrawBoltGlow(path, d.s.c);
    d.s.c.output = &reference.pf();
    ReferenceDraw(store, d.s.c);
    for (A_long y = 0; y < code.height(); ++y)
      for (A_long x = 0; x < code.width(); ++x) {
        const PF_Pixel& r = reference.At(x, y);
        ASSERT_TRUE(Is(code.At(x, y), r.alpha, r.red, r.green, r.blue)) << "pixel " << x << "," << y;
      }
  }
}

}  // namespace
