// Brushes on their own: each dab shape's coverage, the keep-larger and
// accumulate rules, the dab walk, and strokes composited into an output
// (animated walks are tested through playback).
#include <ombrix/host/world.h>

#include "effects/common/effect_test.h"

#include "brush.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using effect_test::PaddingUntouched;
using ombrix::World;

// A scratch world with its dirty spans, and a context drawing into it.
struct Canvas {
  Canvas(A_long w, A_long h, int32_t type) : world(w, h), spans(size_t(h)) {
    scratch.world = &world.pf();
    scratch.spans = spans.data();
    paint::ResetDirtySpans(scratch);
    ctx.scratch = &scratch;
    ctx.type = type;
    ctx.colour = PF_Pixel{255, 10, 20, 30};
  }
  int Alpha(A_long x, A_long y) const { return world.At(x, y).alpha; }
  World world;
  std::vector<paint::DirtySpan> spans;
  paint::StrokeScratch scratch;
  paint::StrokeRenderContext ctx;
};

// A stroke of its own point block (freed with it).
struct TestStroke {
  TestStroke(paint::BrushSettings brush, std::initializer_list<paint::StrokePoint> points)
      : block(paint::BeginStroke(0.0f, brush)) {
    for (const paint::StrokePoint& p : points) paint::AppendStrokePoint(block, p);
  }
  ~TestStroke() { paint::DiscardStroke(block); }
  paint::StrokeRecord& record() { return *static_cast<paint::StrokeRecord*>(block->data); }
  paint::MemoryBlock* block;
};

paint::BrushSettings Brush(int32_t type, float radius, float opacity, float feather = 0.0f, int32_t stylus = 0) {
  paint::BrushSettings b = paint::DefaultBrush();
  b.type = type;
  b.radius = radius;
  b.opacity = opacity;
  b.feather = feather;
  b.stylus = stylus;
  b.red = 0.2f;
  b.green = 0.4f;
  b.blue = 0.6f;
  return b;
}

void Fill(World& w, PF_Pixel p) {
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) w.At(x, y) = p;
}

int MaxAlpha(const World& w) {
  int most = 0;
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) most = std::max(most, int(w.At(x, y).alpha));
  return most;
}

TEST(PaintBrush, EachShapeCoversItsPixels) {
  struct Probe {
    A_long x, y;
    int alpha;
  };
  // Expected alphas worked out by hand from each shape's falloff.
  const struct {
    const char* what;
    int32_t type;
    float feather;
    double r;
    int32_t a;
    std::vector<Probe> probes;
  } cases[] = {
      // a thin Solid dab fades first: a = 255 x 0.05 x 10 = 127; 0.5625 x 127 / 0.985 = 72.5
      {"solid thin", paint::kBrushSolid, 0, 0.05, 255, {{10, 10, 72}, {11, 10, 0}, {9, 10, 0}}},
      // outer 3.7^2 = 13.69, inner 2.3^2 = 5.29: d^2 9 gives 4.69 x 200 / 8.4
      {"solid", paint::kBrushSolid, 0, 3, 200, {{10, 10, 200}, {13, 10, 111}, {12, 12, 135}, {14, 10, 0}}},
      // outer 4.5^2 = 20.25, inner ((4 - 2) x 0.5)^2 = 1: d^2 4 gives 255 (16.25 / 19.25)^3
      {"paint",
       paint::kBrushPaint,
       0.5f,
       4,
       255,
       {{10, 10, 255}, {11, 10, 255}, {12, 10, 153}, {14, 10, 2}, {15, 10, 0}}},
      // outer 16, inner 0: d^2 4 gives 128 x 0.75^3 = 54, d^2 9 gives 128 x 0.4375^3
      {"air", paint::kBrushAir, 0.5f, 4, 128, {{10, 10, 128}, {12, 10, 54}, {13, 10, 10}, {14, 10, 0}}},
      // outer 3.7, inner 0.8: at 2 pixels w = (1.2 / 2.9)^2, at 3 pixels (2.2 / 2.9)^2
      {"square",
       paint::kBrushSquare,
       0.5f,
       3,
       255,
       {{10, 10, 255}, {12, 10, 211}, {12, 12, 167}, {13, 10, 108}, {7, 10, 108}, {10, 13, 108}, {6, 10, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Canvas canvas(24, 24, c.type);
    canvas.ctx.feather = c.feather;
    paint::LayDab(canvas.ctx, 10, 10, c.r, c.a);
    for (const Probe& p : c.probes) EXPECT_EQ(canvas.Alpha(p.x, p.y), p.alpha) << p.x << "," << p.y;
    EXPECT_EQ(canvas.world.At(10, 10).red, 10);
  }
}

TEST(PaintBrush, DabsOutsideTheBufferOrTooSmallDrawNothing) {
  const struct {
    const char* what;
    int32_t type;
    double cx, r;
    int32_t a;
  } cases[] = {
      {"wholly left", paint::kBrushSolid, -10, 3, 255},
      {"wholly right", paint::kBrushSquare, 40, 3, 255},
      {"paint below 0.01", paint::kBrushPaint, 5, 0.005, 255},
      {"air with alpha 1", paint::kBrushAir, 5, 3, 1},
      {"unknown shape", 5, 5, 3, 255},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Canvas canvas(16, 16, c.type);
    paint::LayDab(canvas.ctx, c.cx, 8, c.r, c.a);
    EXPECT_EQ(MaxAlpha(canvas.world), 0);
    EXPECT_GT(canvas.scratch.first_row, canvas.scratch.last_row);
  }
}

TEST(PaintBrush, KeepLargerReplacesAndAccumulateBuildsUp) {
  // Solid keeps the larger coverage and takes the colour that brought it.
  Canvas solid(16, 16, paint::kBrushSolid);
  paint::LayDab(solid.ctx, 8, 8, 3, 200);
  solid.ctx.colour = PF_Pixel{255, 99, 99, 99};
  paint::LayDab(solid.ctx, 8, 8, 3, 100);
  EXPECT_EQ(solid.Alpha(8, 8), 200);
  EXPECT_EQ(solid.world.At(8, 8).red, 10);
  paint::LayDab(solid.ctx, 8, 8, 3, 250);
  EXPECT_EQ(solid.Alpha(8, 8), 250);
  EXPECT_EQ(solid.world.At(8, 8).red, 99);

  // Air adds to what is there and keeps the first colour:
  // 128 - (129 x 128 >> 8) + 128 = 192.
  Canvas air(16, 16, paint::kBrushAir);
  paint::LayDab(air.ctx, 8, 8, 4, 128);
  air.ctx.colour = PF_Pixel{255, 99, 99, 99};
  paint::LayDab(air.ctx, 8, 8, 4, 128);
  EXPECT_EQ(air.Alpha(8, 8), 192);
  EXPECT_EQ(air.world.At(8, 8).red, 10);
  // Dirty spans cover what was written: rows 5..11 (d^2 < 16), row 8 from 5 to 11.
  EXPECT_EQ(air.scratch.first_row, 5);
  EXPECT_EQ(air.scratch.last_row, 11);
  EXPECT_EQ(air.spans[8].first, 5);
  EXPECT_EQ(air.spans[8].last, 11);
  EXPECT_EQ(air.spans[2].first, paint::kNoSpan);
}

TEST(PaintBrush, PaintShapeOpacityCapsWhileAirBuildsUp) {
  // Many dabs on one spot: the Paint shape saturates, then takes its
  // opacity (255 x 0.5 = 127); Air carries it in each dab and keeps adding.
  std::vector<paint::StrokePoint> zigzag;
  for (int i = 0; i < 40; ++i) zigzag.push_back({0.01f * float(i), i % 2 ? 0.55f : 0.5f, 0.5f, 1.0f});
  for (int32_t type : {paint::kBrushPaint, paint::kBrushAir}) {
    SCOPED_TRACE(type);
    TestStroke stroke(Brush(type, 5, 0.5f), {});
    for (const auto& p : zigzag) paint::AppendStrokePoint(stroke.block, p);
    Canvas canvas(20, 20, type);
    World out(20, 20);
    paint::RenderStroke(canvas.ctx, stroke.record(), out.pf());
    if (type == paint::kBrushPaint) {
      EXPECT_EQ(MaxAlpha(out), 127);
    } else {
      EXPECT_GT(MaxAlpha(out), 240);
    }
    // The scratch world is left clear for the next stroke.
    EXPECT_EQ(MaxAlpha(canvas.world), 0);
    EXPECT_GT(canvas.scratch.first_row, canvas.scratch.last_row);
  }
}

TEST(PaintBrush, WalksThatLayNothingStillReachTheEnd) {
  // Pressure 0 with pressure-to-opacity: no dab, but the walk goes on.
  TestStroke silent(Brush(paint::kBrushSolid, 3, 1, 0, paint::kPressureOpacity),
                    {{0, 0.1f, 0.5f, 0}, {0.1f, 0.5f, 0.5f, 0}, {0.2f, 0.9f, 0.5f, 0}});
  Canvas canvas(32, 16, paint::kBrushSolid);
  World out(32, 16);
  paint::RenderStroke(canvas.ctx, silent.record(), out.pf());
  EXPECT_EQ(silent.record().points_drawn, 3);
  EXPECT_EQ(MaxAlpha(out), 0);

  // A segment of 24 pixels walked in steps of 3 x 0.2 + 1 = 1.6: the
  // fraction reaches 1 by rounding while the rest still looks longer than a
  // step. The walk must end there rather than start the segment again.
  const float step = 3.0f * 0.2f + 1.0f;
  float u = 0;
  while (24.0f - 24.0f * u > step) u += step / 24.0f;
  ASSERT_GE(u, 1.0f);
  TestStroke hang(Brush(paint::kBrushSolid, 3, 1), {{0, 0, 0.5f, 1}, {1, 0.375f, 0.5f, 1}});
  Canvas wide(64, 64, paint::kBrushSolid);
  paint::StartStroke(wide.ctx, hang.record());
  EXPECT_EQ(paint::LayDabs(wide.ctx, paint::StrokePoints(hang.record()), 1), 2);
  // Fifteen dabs from x = 0 to 22.4: full cover to 24, nothing at 3.7 past the last.
  EXPECT_EQ(wide.Alpha(0, 32), 255);
  EXPECT_EQ(wide.Alpha(24, 32), 255);
  EXPECT_EQ(wide.Alpha(27, 32), 0);
}

TEST(PaintBrush, ErasersTakeAlphaAndKeepColour) {
  TestStroke stroke(Brush(paint::kBrushSolid + paint::kEraserOffset, 4, 1),
                    {{0, 0.5f, 0.5f, 1}, {0.1f, 0.6f, 0.5f, 1}});
  Canvas canvas(20, 20, 0);
  World out(20, 20);
  Fill(out, PF_Pixel{255, 50, 60, 70});
  paint::RenderStroke(canvas.ctx, stroke.record(), out.pf());
  EXPECT_TRUE(effect_test::Same(out.At(10, 10), PF_Pixel{0, 50, 60, 70}));
  EXPECT_TRUE(effect_test::Same(out.At(0, 0), PF_Pixel{255, 50, 60, 70}));
}

TEST(PaintBrush, CompositesIntoOutputsOfAnyRowLayout) {
  // The same stroke into an output with padded rows and into one smaller
  // than the scratch world: pixel for pixel the same as the plain output.
  TestStroke stroke(Brush(paint::kBrushSquare, 3, 0.8f, 0.5f), {{0, 0.2f, 0.3f, 1}, {0.1f, 0.8f, 0.7f, 1}});
  auto render = [&](World& out) {
    Canvas canvas(24, 20, 0);
    Fill(out, PF_Pixel{200, 1, 2, 3});
    paint::RenderStroke(canvas.ctx, stroke.record(), out.pf());
  };
  World plain(24, 20), padded(24, 20, 12), small(13, 9);
  render(plain);
  render(padded);
  render(small);
  ASSERT_GT(MaxAlpha(plain), 200);
  EXPECT_TRUE(PaddingUntouched(padded));
  for (A_long y = 0; y < 20; ++y)
    for (A_long x = 0; x < 24; ++x) {
      ASSERT_TRUE(effect_test::Same(padded.At(x, y), plain.At(x, y))) << x << "," << y;
      if (x < 13 && y < 9) {
        ASSERT_TRUE(effect_test::Same(small.At(x, y), plain.At(x, y))) << x << "," << y;
      }
    }
}

TEST(PaintBrush, SmoothStrokesStoreNoMorePointsThanTheStrokeHas) {
  paint::DrawingHeader header = paint::DefaultHeader();
  paint::SetSmoothStrokes(header, true);
  TestStroke stroke(Brush(paint::kBrushSolid, 2, 1),
                    {{0, 0.2f, 0.5f, 1}, {0.1f, 0.5f, 0.2f, 1}, {0.2f, 0.8f, 0.5f, 1}});
  Canvas canvas(30, 30, 0);
  canvas.ctx.drawing = &header;
  World out(30, 30);
  paint::RenderStroke(canvas.ctx, stroke.record(), out.pf());
  EXPECT_EQ(stroke.record().points_drawn, 3);
  // The curve starts at the first point and passes below the middle one
  // (the spline does not reach its control point).
  EXPECT_EQ(out.At(6, 15).alpha, 255);
  EXPECT_EQ(out.At(15, 6).alpha, 0);
}

}  // namespace
