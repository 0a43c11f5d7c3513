// Brushes: one stroke of the drawing turned into pixels.
//
// The stroke's dabs are laid into a transparent scratch world the size of
// the layer, recording which pixels of each row were touched; those
// dirty spans are then composited into the output (paint) or taken out of its
// alpha (erasers) and cleared, so the scratch world serves stroke after
// stroke without ever being cleared whole.
#pragma once

#include <pf/api.h>

#include <cstdint>

#include "drawing.h"
#include "globals.h"

namespace paint {

// The pixels of one scratch row written since the last composite. An empty
// row has first = kNoSpan, last = -1 (kNoSpan lies beyond any x a world
// can have).
struct DirtySpan {
  int32_t first;
  int32_t last;
};
inline constexpr int32_t kNoSpan = INT32_MAX;

// The scratch world a render draws its strokes into, with its dirty rows.
struct StrokeScratch {
  PF_EffectWorld* world = nullptr;
  DirtySpan* spans = nullptr;  // one per row of `world`
  int32_t first_row = 0;       // dirty rows; none while first_row > last_row
  int32_t last_row = -1;
};

// Marks every row of `scratch` clean (its world is assumed transparent).
void ResetDirtySpans(StrokeScratch& scratch);

// How one stroke is drawn. The playback fills the drawing, scale, animate
// and onion fields; StartStroke() completes the rest from the stroke record.
struct StrokeRenderContext {
  const DrawingHeader* drawing = nullptr;  // for "Smooth Strokes"
  float scale = 1.0f;                      // the horizontal downsample factor
  PF_Pixel colour{};
  float opacity = 1.0f;
  float radius = 0.0f;  // pixels at this resolution
  int32_t type = kBrushSolid;
  float feather = 0.0f;
  float spacing = 0.25f;  // of the radius, between dabs
  int32_t stylus = 0;     // kPressureRadius | kPressureOpacity
  bool animate = false;
  float animate_time = 0.0f;  // seconds of drawing time shown
  int32_t onion_offset = 0;   // > 0 earlier stroke, < 0 later one, 0 this frame
  OnionPrefs onion{};
  StrokeScratch* scratch = nullptr;
};

// Dab spacing of a shape (type & 7), as a share of the radius.
float DabSpacing(int32_t shape);

// Colour, opacity, radius, type, feather, spacing and stylus controls of
// `ctx` from the stroke, with the onion skin's colour and opacity for a
// stroke of another frame.
void StartStroke(StrokeRenderContext& ctx, const StrokeRecord& stroke);

// Lays one dab of the context's shape centred at (cx, cy) pixels with
// radius `r` and alpha `a` into the scratch world.
void LayDab(StrokeRenderContext& ctx, double cx, double cy, double r, int32_t a);

// Walks points[0..last] (positions as fractions of the scratch world's
// size) laying dabs. Answers the index of the segment the walk reached + 1,
// at most last + 1; 0 when there is nothing to walk.
int32_t LayDabs(StrokeRenderContext& ctx, const StrokePoint* points, int32_t last);

// Composites the dirty spans into `output` (paint types) or out of its
// alpha (eraser types), pixel by pixel within both worlds, and clears them.
void CompositeStroke(StrokeRenderContext& ctx, PF_EffectWorld& output);

// Draws the stroke into `output` through the scratch world: lays its dabs
// (densified first when the drawing has "Smooth Strokes" on), stores the
// number of points drawn in the stroke, and composites.
void RenderStroke(StrokeRenderContext& ctx, StrokeRecord& stroke, PF_EffectWorld& output);

}  // namespace paint
