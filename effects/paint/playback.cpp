// Playback: the frame's strokes, drawn in paint-time order through the
// brushes, and the painted result combined with the layer.
#include "playback.h"

#include <pf/blend.h>
#include <pf/world.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "brush.h"

namespace paint {
namespace {

// The times of a render, in seconds.
struct FrameTimes {
  double t;       // the layer time, then the time strokes are shown at
  double frame;   // one frame's duration
  double half;    // half a frame
  double almost;  // just under a frame
};

FrameTimes TimesOf(const PF_InData& in) {
  const double scale = in.time_scale != 0 ? double(in.time_scale) : 1.0;
  FrameTimes ft{};
  ft.t = double(in.current_time) / scale;
  ft.frame = in.local_time_step != 0 ? double(in.local_time_step) / scale
             : in.time_step != 0     ? double(in.time_step) / scale
                                     : 1.0;
  ft.half = 0.5 * ft.frame;
  ft.almost = 0.99 * ft.frame;
  return ft;
}

// The time strokes are shown at: sped up where the mode says so, and, in
// the modes that show whole frames, snapped down to the start of a frame.
double ShownTime(double t, double f, const PlaybackSettings& s) {
  if (s.draw_mode == kDrawPast || s.draw_mode == kDrawHold || (s.draw_mode == kDrawAnimate && s.speed_affects_insert)) {
    t = t * s.speed;
  }
  if (s.draw_mode != kDrawAll && s.draw_mode != kDrawAnimate) t = std::floor((t + 0.25 * f) / f) * f;
  return t;
}

// Hold Strokes shows the strokes of the latest painted frame at or before t.
double HoldTime(const MemoryBlock* drawing, double t) {
  double hold = -t;
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    const double paint_time = StrokeAt(drawing, i)->paint_time;
    if (paint_time <= t + 0.01 && paint_time > hold) hold = paint_time;
  }
  return hold;
}

// How one stroke appears in the frame.
struct StrokeShow {
  bool visible = false;
  bool animate = false;
  float animate_time = 0.0f;
  int32_t onion_offset = 0;
};

// Frames between a stroke and the current one: positive for an earlier
// stroke, negative for a later one, 0 for one of this frame.
int32_t OnionOffset(double dt, const FrameTimes& ft) {
  const double frames = dt / ft.frame;
  const int32_t k = frames >= 1e9 ? 1000000000 : frames <= -1e9 ? -1000000000 : int32_t(frames);
  if (k != 0) return k;
  if (dt < -0.01) return -1;
  if (dt > ft.almost) return 1;
  return 0;
}

StrokeShow ShowStroke(double paint_time, double hold, const FrameTimes& ft, const PlaybackSettings& s,
                      const OnionPrefs& onion) {
  StrokeShow show;
  const double t = ft.t, dt = t - paint_time;
  switch (s.draw_mode) {
    case kDrawAll:
      show.visible = true;
      break;
    case kDrawPast:
      show.visible = dt >= -0.01;
      break;
    case kDrawHold:
      show.visible = hold <= paint_time && paint_time <= hold + ft.half;
      break;
    case kDrawAnimate:
      show.visible = dt > 0;
      show.animate = true;
      show.animate_time = float(s.speed_affects_insert ? dt : dt * s.speed);
      break;
    case kDrawCurrentFrame:
      show.visible = dt >= -0.01 && dt <= ft.almost;
      break;
    case kDrawOnionSkin:
      show.visible = paint_time >= t - (onion.frames_back * ft.frame + ft.half) &&
                     paint_time <= t + onion.frames_forward * ft.frame + ft.half;
      show.onion_offset = OnionOffset(dt, ft);
      break;
    default:
      break;
  }
  return show;
}

// The scratch world of a render with its dirty spans, made at the first
// visible stroke and released at the end.
struct Scratch {
  explicit Scratch(PF_InData* in) : in_data(in) {}
  PF_InData* in_data;
  PF_EffectWorld world{};
  bool made = false;
  StrokeScratch strokes;

  ~Scratch() {
    std::free(strokes.spans);
    if (made) in_data->utils->dispose_world(in_data->effect_ref, &world);
  }

  PF_Err Make(const PF_EffectWorld& input) {
    PF_UtilCallbacks* u = in_data->utils;
    if (const PF_Err err = u->new_world(in_data->effect_ref, input.width, input.height, PF_WorldFlag_NONE, &world))
      return err;
    made = true;
    const PF_Pixel clear{0, 0, 0, 0};
    if (const PF_Err err = u->fill(in_data->effect_ref, &clear, nullptr, &world)) return err;
    const size_t rows = world.height > 0 ? size_t(world.height) : 1;
    strokes.spans = static_cast<DirtySpan*>(std::malloc(rows * sizeof(DirtySpan)));
    if (strokes.spans == nullptr) return PF_Err_MAC_OUT_OF_MEMORY;
    strokes.world = &world;
    ResetDirtySpans(strokes);
    return PF_Err_NONE;
  }
};

PF_Err DrawStrokes(PF_InData* in_data, MemoryBlock* drawing, const OnionPrefs& onion, const PlaybackSettings& s,
                   PF_EffectWorld& input, PF_EffectWorld& output) {
  DrawingHeader& h = *HeaderOf(drawing);
  FrameTimes ft = TimesOf(*in_data);
  h.last_draw_mode = s.draw_mode;
  ft.t = ShownTime(ft.t, ft.frame, s);
  const double hold = s.draw_mode == kDrawHold ? HoldTime(drawing, ft.t) : 0.0;

  bool rebuilt = false;
  const int32_t* order = DrawOrder(drawing, &rebuilt);
  if (order == nullptr) return PF_Err_MAC_OUT_OF_MEMORY;
  const int32_t n = StrokeCount(drawing);
  const A_long index_share = rebuilt ? A_long(int64_t(n) * n / 16384) : 0;

  const PF_RationalScale ds = in_data->downsample_x;
  Scratch scratch(in_data);
  StrokeRenderContext ctx;
  ctx.drawing = &h;
  ctx.scale = ds.den != 0 ? float(double(ds.num) / double(ds.den)) : 1.0f;
  ctx.onion = onion;
  for (int32_t k = 0; k < n; ++k) {
    StrokeRecord* stroke = StrokeAt(drawing, order[k]);
    if (stroke == nullptr) continue;
    if (h.selection_state == 0) stroke->selected = 0;
    stroke->points_drawn = 0;
    const StrokeShow show = ShowStroke(stroke->paint_time, hold, ft, s, onion);
    if (!show.visible) continue;
    if (!scratch.made) {
      if (const PF_Err err = scratch.Make(input)) return err;
      ctx.scratch = &scratch.strokes;
    }
    ctx.animate = show.animate;
    ctx.animate_time = show.animate_time;
    ctx.onion_offset = show.onion_offset;
    RenderStroke(ctx, *stroke, output);
    if (in_data->inter.progress != nullptr) {
      if (const PF_Err err = in_data->inter.progress(in_data->effect_ref, k + index_share, n + index_share)) return err;
    }
  }
  return PF_Err_NONE;
}

// The painted output combined with the layer, pixel by pixel within both.
void Composite(int32_t mode, const PF_EffectWorld& input, PF_EffectWorld& output) {
  switch (mode) {
    case kCompositeOver:
    case kCompositeUnder:
    case kCompositeTrackMatte:
    case kCompositeTrackMatteVisible:
    case kCompositeAsMatte:
    case kCompositeAsInverseMatte:
      break;
    default:
      return;  // the paint stays as it was drawn
  }
  const A_long width = std::min(input.width, output.width), height = std::min(input.height, output.height);
  if (input.data == nullptr) return;
  for (A_long y = 0; y < height; ++y) {
    const PF_Pixel* in = pf::PixelRow(input, y);
    PF_Pixel* out = pf::PixelRow(output, y);
    for (A_long x = 0; x < width; ++x) out[x] = CompositePixel(mode, in[x], out[x]);
  }
}

}  // namespace

const int32_t* DrawOrder(MemoryBlock* drawing, bool* rebuilt) {
  *rebuilt = false;
  DrawingHeader* h = HeaderOf(drawing);
  const int32_t n = StrokeCount(drawing);
  if (h == nullptr || n <= 0) return nullptr;
  const MemoryBlock* held = MemoryBlockFromId(h->draw_order.blocks);
  if (h->draw_order.valid != 0 && h->draw_order.count == n && held != nullptr &&
      held->size >= uint32_t(n) * sizeof(int32_t)) {
    return static_cast<const int32_t*>(held->data);
  }
  ReleaseDrawOrder(*h);
  MemoryBlock* block = NewMemoryBlock(uint32_t(n) * sizeof(int32_t));
  if (block == nullptr) return nullptr;
  auto* order = static_cast<int32_t*>(block->data);
  for (int32_t i = 0; i < n; ++i) order[i] = i;
  // Paint time, then id; the array position settles the rest so that the
  // order is total even for equal ids or a time that is not a number.
  auto key = [&](int32_t i) {
    const float t = StrokeAt(drawing, i)->paint_time;
    return t == t ? t : INFINITY;
  };
  std::sort(order, order + n, [&](int32_t a, int32_t b) {
    const float ta = key(a), tb = key(b);
    if (ta != tb) return ta < tb;
    const int32_t ia = StrokeAt(drawing, a)->id, ib = StrokeAt(drawing, b)->id;
    return ia != ib ? ia < ib : a < b;
  });
  h->draw_order = DrawOrderIndex{1, n, MemoryBlockId(block)};
  *rebuilt = true;
  return order;
}

PF_Pixel CompositePixel(int32_t mode, const PF_Pixel& in, const PF_Pixel& out) {
  PF_Pixel r = out;
  switch (mode) {
    case kCompositeOver:
      return pf::BlendOver(out, in);
    case kCompositeUnder:
      return pf::BlendOver(in, out);
    case kCompositeTrackMatte:
      r.alpha = std::min(out.alpha, in.alpha);
      return r;
    case kCompositeTrackMatteVisible:
      r = pf::BlendOver(out, in);
      r.alpha = in.alpha;
      return r;
    case kCompositeAsMatte:
      r = in;
      r.alpha = A_u_char(((in.alpha + 1) * out.alpha) >> 8);
      return r;
    case kCompositeAsInverseMatte:
      r = in;
      r.alpha = A_u_char(((256 - out.alpha) * in.alpha) >> 8);
      return r;
    default:
      return r;
  }
}

PF_Err RenderDrawing(PF_InData* in_data, MemoryBlock* drawing, const OnionPrefs& onion, const PlaybackSettings& s,
                     PF_EffectWorld& input, PF_EffectWorld& output) {
  PF_UtilCallbacks* u = in_data->utils;
  if (s.composite == kCompositeWithOriginal) {
    if (const PF_Err err = u->copy(in_data->effect_ref, &input, &output, nullptr, nullptr)) return err;
  } else {
    const PF_Pixel clear{0, 0, 0, 0};
    if (const PF_Err err = u->fill(in_data->effect_ref, &clear, nullptr, &output)) return err;
  }
  if (HeaderOf(drawing) != nullptr && StrokeCount(drawing) > 0) {
    if (const PF_Err err = DrawStrokes(in_data, drawing, onion, s, input, output)) return err;
  }
  Composite(s.composite, input, output);
  return PF_Err_NONE;
}

}  // namespace paint
