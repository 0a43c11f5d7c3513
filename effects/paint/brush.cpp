// Brushes: the dab walk along a stroke, the four dab shapes, the Paint
// shape's opacity, and compositing the scratch world into the output.
#include "brush.h"

#include <pf/blend.h>
#include <pf/world.h>

#include <cmath>
#include <cstdlib>

namespace paint {
namespace {

// `v` truncated toward zero, within lo..hi (not-a-number gives lo).
int32_t TruncIn(double v, int32_t lo, int32_t hi) {
  if (!(v > double(lo))) return lo;
  if (v >= double(hi)) return hi;
  return int32_t(v);
}

A_u_char ColourByte(double component) { return A_u_char(TruncIn(component * 255.0, 0, 255)); }

// The pixels of a dab's box: x0..x1, y0..y1 inclusive, within the world.
struct DabBox {
  int32_t x0, y0, x1, y1;
};

// The box from truncate(lo) to truncate(hi) on each axis, clamped to the
// world; false when nothing of it is left.
bool ClampBox(const PF_EffectWorld& w, double x_lo, double x_hi, double y_lo, double y_hi, DabBox* box) {
  box->x0 = TruncIn(x_lo, 0, w.width);
  box->x1 = TruncIn(x_hi, -1, w.width - 1);
  box->y0 = TruncIn(y_lo, 0, w.height);
  box->y1 = TruncIn(y_hi, -1, w.height - 1);
  return box->x1 >= box->x0 && box->y1 >= box->y0;
}

// Widens row y's dirty span to x0..x1 (x1 < x0: nothing was written).
void MarkDirty(StrokeScratch& s, int32_t y, int32_t x0, int32_t x1) {
  if (x1 < x0) return;
  DirtySpan& span = s.spans[y];
  if (x0 < span.first) span.first = x0;
  if (x1 > span.last) span.last = x1;
  if (y < s.first_row) s.first_row = y;
  if (y > s.last_row) s.last_row = y;
}

// How a dab's coverage meets what the scratch pixel holds.
enum class WriteRule { kKeepLarger, kAccumulate };

// Writes coverage `cov` of `colour` into `px` (whose alpha is below 255);
// false when the pixel is left as it was.
bool WriteCoverage(PF_Pixel& px, int32_t cov, const PF_Pixel& colour, WriteRule rule) {
  const int32_t e = px.alpha;
  if (rule == WriteRule::kKeepLarger) {
    if (cov < e) return false;
  } else if (e != 0 && cov != 255) {
    if (cov <= 0) return false;
    px.alpha = A_u_char(e - (((e + 1) * cov) >> 8) + cov);
    return true;
  }
  px = PF_Pixel{A_u_char(cov), colour.red, colour.green, colour.blue};
  return true;
}

// Runs `coverage(dx, dy)` (answering < 0 for no coverage) over the box and
// writes what it gives, recording the dirty spans.
template <typename Coverage>
void PaintBox(StrokeRenderContext& ctx, const DabBox& box, double cx, double cy, WriteRule rule, Coverage coverage) {
  StrokeScratch& s = *ctx.scratch;
  for (int32_t y = box.y0; y <= box.y1; ++y) {
    PF_Pixel* row = pf::PixelRow(*s.world, y);
    const double dy = double(y) - cy;
    int32_t lo = INT32_MAX, hi = -1;
    for (int32_t x = box.x0; x <= box.x1; ++x) {
      PF_Pixel& px = row[x];
      if (px.alpha == 255) continue;
      const int32_t cov = coverage(double(x) - cx, dy);
      if (cov < 0 || !WriteCoverage(px, cov, ctx.colour, rule)) continue;
      if (x < lo) lo = x;
      hi = x;
    }
    MarkDirty(s, y, lo, hi);
  }
}

// `v` squared, keeping the sign of `v`.
double SignedSquare(double v) { return v * std::fabs(v); }

// Round dabs: full coverage `a` within inner², a falloff out to outer².
// `cubic` raises the falloff to the third power (Paint, Air); otherwise it
// is linear (Solid).
void RoundDab(StrokeRenderContext& ctx, double cx, double cy, double box_r, double outer2, double inner2, int32_t a,
              bool cubic, WriteRule rule) {
  DabBox box;
  if (!ClampBox(*ctx.scratch->world, cx - box_r, cx + box_r, cy - box_r, cy + box_r, &box)) return;
  const double span = outer2 - inner2;
  PaintBox(ctx, box, cx, cy, rule, [&](double dx, double dy) {
    const double d2 = dx * dx + dy * dy;
    if (!(d2 < outer2)) return -1;
    if (d2 <= inner2) return a;
    if (!cubic) return int32_t((outer2 - d2) * a / span);
    const double t = (outer2 - d2) / span;
    return int32_t(a * (t * t * t));
  });
}

// Below a tenth of a pixel, Solid and Square dabs fade with their radius.
int32_t ThinAlpha(int32_t a, double r) { return r < 0.1 ? int32_t(a * r * 10) : a; }

void SolidDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a) {
  if (!(r > 0)) return;
  a = ThinAlpha(a, r);
  const double outer = r + 0.7;
  RoundDab(ctx, cx, cy, outer, outer * outer, SignedSquare(r - 0.7), a, false, WriteRule::kKeepLarger);
}

void PaintShapeDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a) {
  if (!(r >= 0.01)) return;
  const double outer = r + double(ctx.feather);
  const double soft = (r - 2.0) * (1.0 - double(ctx.feather));
  const double inner2 = r >= 2.0 ? soft * soft : -(2.0 - r) * (2.0 - r);
  RoundDab(ctx, cx, cy, outer, outer * outer, inner2, a, true, WriteRule::kAccumulate);
}

void AirDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a) {
  if (!(r >= 0.01) || a < 2) return;
  const double inner2 = r >= 2.0 ? 0.0 : -(2.0 - r) * (2.0 - r);
  RoundDab(ctx, cx, cy, r, r * r, inner2, a, true, WriteRule::kAccumulate);
}

void SquareDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a) {
  if (!(r > 0)) return;
  a = ThinAlpha(a, r);
  const double outer = r + 0.7;
  const double inner = (1.0 - double(ctx.feather)) * r - 0.7;
  const double k = 1.0 / (outer - inner);
  DabBox box;
  if (!ClampBox(*ctx.scratch->world, cx - outer + 1, cx + outer, cy - outer + 1, cy + outer, &box)) return;
  auto falloff = [&](double d) {
    if (d <= inner) return 0.0;
    const double w = (d - inner) * k;
    return w * w;
  };
  PaintBox(ctx, box, cx, cy, WriteRule::kKeepLarger, [&](double dx, double dy) {
    const double ax = std::fabs(dx), ay = std::fabs(dy);
    if (!(ax <= outer && ay < outer)) return -1;
    const double f = 1.0 - falloff(ay) - falloff(ax);
    return f > 0 ? int32_t(a * f) : -1;
  });
}

// The walk runs in single precision, as the stroke's own values are kept.
float SegmentLength(const StrokePoint* p, int32_t i, float width, float height) {
  const float dx = p[i + 1].x * width - p[i].x * width;
  const float dy = p[i + 1].y * height - p[i].y * height;
  const float len = std::sqrt(dx * dx + dy * dy);
  return len >= 0.01f ? len : 0.01f;
}

// A value between two points at fraction u.
float Lerp(float a, float b, float u) { return a + (b - a) * u; }

// The Paint shape carries its opacity here rather than in its colour: every
// dirty scratch alpha is scaled by it.
void ApplyPaintOpacity(StrokeRenderContext& ctx) {
  if (BrushShapeOfType(ctx.type) != kBrushPaint || !(ctx.opacity < 0.99f)) return;
  A_u_char table[256];
  for (int32_t i = 0; i < 256; ++i) table[i] = A_u_char(TruncIn(double(float(i) * ctx.opacity), 0, 255));
  StrokeScratch& s = *ctx.scratch;
  for (int32_t y = s.first_row; y <= s.last_row; ++y) {
    PF_Pixel* row = pf::PixelRow(*s.world, y);
    for (int32_t x = s.spans[y].first; x <= s.spans[y].last; ++x) row[x].alpha = table[row[x].alpha];
  }
}

// The uniform cubic B-spline through `n` points: five samples for each of
// the n + 1 spans, written to `out`.
void SmoothPoints(const StrokePoint* p, int32_t n, StrokePoint* out) {
  auto at = [&](int32_t i) -> const StrokePoint& { return p[i < 0 ? 0 : i > n - 1 ? n - 1 : i]; };
  int32_t k = 0;
  for (int32_t j = -1; j <= n - 1; ++j) {
    const StrokePoint &p0 = at(j - 1), &p1 = at(j), &p2 = at(j + 1), &p3 = at(j + 2);
    for (int32_t step = 0; step < 5; ++step) {
      const double t = double(step) / 6.0;
      const double t2 = t * t, t3 = t2 * t;
      const double w0 = (1.0 - t) * (1.0 - t) * (1.0 - t);
      const double w1 = 3.0 * t3 - 6.0 * t2 + 4.0;
      const double w2 = -3.0 * t3 + 3.0 * t2 + 3.0 * t + 1.0;
      const double w3 = t3;
      auto blend = [&](float StrokePoint::*field) {
        return float(
            (w0 * double(p0.*field) + w1 * double(p1.*field) + w2 * double(p2.*field) + w3 * double(p3.*field)) *
            0.16667);
      };
      out[k++] = StrokePoint{blend(&StrokePoint::time), blend(&StrokePoint::x), blend(&StrokePoint::y),
                             blend(&StrokePoint::pressure)};
    }
  }
}

}  // namespace

void ResetDirtySpans(StrokeScratch& scratch) {
  const int32_t rows = scratch.world ? scratch.world->height : 0;
  for (int32_t y = 0; y < rows; ++y) scratch.spans[y] = DirtySpan{kNoSpan, -1};
  scratch.first_row = rows;
  scratch.last_row = -1;
}

float DabSpacing(int32_t shape) {
  switch (shape) {
    case kBrushSolid:
      return 0.2f;
    case kBrushPaint:
      return 0.3f;
    case kBrushAir:
      return 0.3f;
    case kBrushSquare:
      return 0.1f;
    default:
      return 0.25f;
  }
}

void StartStroke(StrokeRenderContext& ctx, const StrokeRecord& stroke) {
  const BrushSettings& b = stroke.brush;
  const float* rgb = nullptr;
  float opacity = b.opacity;
  if (ctx.onion_offset != 0) {
    rgb = ctx.onion_offset > 0 ? ctx.onion.back_color : ctx.onion.forward_color;
    opacity = ctx.onion.skin_opacity * b.opacity;
  }
  ctx.colour.red = ColourByte(rgb ? rgb[0] : b.red);
  ctx.colour.green = ColourByte(rgb ? rgb[1] : b.green);
  ctx.colour.blue = ColourByte(rgb ? rgb[2] : b.blue);
  ctx.opacity = opacity;
  ctx.type = b.type;
  ctx.colour.alpha = BrushShapeOfType(b.type) == kBrushPaint ? 255 : A_u_char(TruncIn(255 * opacity, 0, 255));
  ctx.radius = b.radius * ctx.scale;
  ctx.feather = b.feather;
  ctx.spacing = DabSpacing(BrushShapeOfType(b.type));
  ctx.stylus = b.stylus;
}

void LayDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a) {
  switch (BrushShapeOfType(ctx.type)) {
    case kBrushSolid:
      SolidDab(ctx, cx, cy, r, a);
      break;
    case kBrushPaint:
      PaintShapeDab(ctx, cx, cy, r, a);
      break;
    case kBrushAir:
      AirDab(ctx, cx, cy, r, a);
      break;
    case kBrushSquare:
      SquareDab(ctx, cx, cy, r, a);
      break;
    default:
      break;
  }
}

int32_t LayDabs(StrokeRenderContext& ctx, const StrokePoint* p, int32_t last) {
  if (p == nullptr || last < 1 || ctx.scratch == nullptr || ctx.scratch->world == nullptr) return 0;
  const float width = float(ctx.scratch->world->width), height = float(ctx.scratch->world->height);
  const int32_t alpha = ctx.colour.alpha;
  int32_t i = 0;
  float u = 0.0f;
  float len = SegmentLength(p, 0, width, height);
  float cx = p[0].x * width, cy = p[0].y * height;
  for (;;) {
    const float pressure = Lerp(p[i].pressure, p[i + 1].pressure, u);
    const float r = (ctx.stylus & kPressureRadius) ? pressure * ctx.radius : ctx.radius;
    const int32_t a = (ctx.stylus & kPressureOpacity) ? int32_t(float(alpha) * pressure) : alpha;
    if (a != 0) LayDab(ctx, cx, cy, r, a);

    const float step = r * ctx.spacing + 1.0f;
    const float rest = len - len * u;
    if (rest > step) {
      u += step / len;
    } else {
      // The step leaves this segment: whole segments it spans are passed.
      float left = step - rest;
      if (++i >= last) break;
      len = SegmentLength(p, i, width, height);
      while (left >= len) {
        left -= len;
        if (++i >= last) return last + 1;
        len = SegmentLength(p, i, width, height);
      }
      u = left / len;
    }
    // A fraction that rounds up to the segment's end stands for its end,
    // which is where the next segment begins: going back to the start of
    // the segment instead would repeat it forever.
    if (u >= 1.0f) {
      if (++i >= last) break;
      u = 0.0f;
      len = SegmentLength(p, i, width, height);
    }
    cx = Lerp(p[i].x * width, p[i + 1].x * width, u);
    cy = Lerp(p[i].y * height, p[i + 1].y * height, u);
    if (ctx.animate && p[i + 1].time > ctx.animate_time && Lerp(p[i].time, p[i + 1].time, u) > ctx.animate_time) break;
  }
  return i + 1 < last + 1 ? i + 1 : last + 1;
}

void CompositeStroke(StrokeRenderContext& ctx, PF_EffectWorld& output) {
  StrokeScratch& s = *ctx.scratch;
  const bool paints = ctx.type >= kBrushSolid && ctx.type <= kBrushSquare;
  const bool erases = ctx.type >= kBrushSolid + kEraserOffset && ctx.type <= kBrushSquare + kEraserOffset;
  for (int32_t y = s.first_row; y <= s.last_row; ++y) {
    DirtySpan& span = s.spans[y];
    if (span.last < span.first) continue;
    PF_Pixel* scratch = pf::PixelRow(*s.world, y);
    PF_Pixel* out = y < output.height ? pf::PixelRow(output, y) : nullptr;
    const int32_t shown = out ? (span.last < output.width ? span.last : output.width - 1) : -1;
    for (int32_t x = span.first; x <= shown; ++x) {
      const PF_Pixel top = scratch[x];
      if (paints) {
        out[x] = pf::BlendOver(top, out[x]);
      } else if (erases && top.alpha != 0) {
        out[x].alpha = A_u_char(out[x].alpha > top.alpha ? out[x].alpha - top.alpha : 0);
      }
    }
    for (int32_t x = span.first; x <= span.last; ++x) scratch[x] = PF_Pixel{0, 0, 0, 0};
    span = DirtySpan{kNoSpan, -1};
  }
  s.first_row = s.world->height;
  s.last_row = -1;
}

void RenderStroke(StrokeRenderContext& ctx, StrokeRecord& stroke, PF_EffectWorld& output) {
  stroke.points_drawn = 0;
  if (ctx.scratch == nullptr || ctx.scratch->world == nullptr) return;
  StartStroke(ctx, stroke);
  const StrokePoint* points = StrokePoints(stroke);
  const int32_t n = points ? stroke.point_count : 0;
  int32_t drawn = 0;
  if (n > 0 && ctx.drawing != nullptr && SmoothStrokes(*ctx.drawing)) {
    const int32_t samples = 5 * (n + 1);
    auto* smooth = static_cast<StrokePoint*>(std::malloc(size_t(samples) * sizeof(StrokePoint)));
    if (smooth != nullptr) {
      SmoothPoints(points, n, smooth);
      drawn = LayDabs(ctx, smooth, samples - 1) / 5;
      std::free(smooth);
    }
  } else {
    drawn = LayDabs(ctx, points, n - 1);
  }
  // The densified walk counts one span more than there are points; what is
  // stored never names a point the stroke does not have.
  stroke.points_drawn = drawn < n ? drawn : n;
  ApplyPaintOpacity(ctx);
  CompositeStroke(ctx, output);
}

}  // namespace paint
