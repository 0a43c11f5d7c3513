// Painting in the composition window: the click and its tools, the overlay,
// the idle outline and the mouse hook.
#include "painting.h"

#include <ombrix/platform/clock.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/resources.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "brush.h"
#include "memory_block.h"
#include "menu.h"
#include "resources.h"
#include "tablet.h"

namespace paint {
namespace {

namespace plat = ombrix::platform;

// ---------------------------------------------------------------------------
// Mouse hook
// ---------------------------------------------------------------------------

const unsigned char* g_swapped = nullptr;
__attribute__((constructor)) void FindSwappedByte() {
  g_swapped = static_cast<const unsigned char*>(dlsym(RTLD_DEFAULT, "gIsSwapped"));
}

plat::Hook* g_hook = nullptr;
int g_hook_users = 0;
unsigned g_last_press = 0;  // 0: nothing recorded yet
plat::MouseHookInfo g_last_press_info{};

intptr_t MouseHook(int code, uintptr_t message, intptr_t lparam) {
  if (code >= 0 && (message == plat::kWmLButtonDown || message == plat::kWmRButtonDown)) {
    g_last_press = unsigned(message);
    if (lparam != 0) g_last_press_info = *reinterpret_cast<const plat::MouseHookInfo*>(lparam);
  }
  return plat::CallNextHookEx(g_hook, code, message, lparam);
}

// ---------------------------------------------------------------------------
// Positions
// ---------------------------------------------------------------------------

struct ViewPoint {
  float x = 0, y = 0;
};

bool KeyDown(int key) { return (plat::GetKeyState(key) & plat::kKeyDownBit) != 0; }

// Converts a view point to layer pixels with the host's callback.
ViewPoint ToLayer(const PaintEvent& e, ViewPoint v) {
  PF_FixedPoint p{A_long(std::lround(double(v.x) * 65536.0)), A_long(std::lround(double(v.y) * 65536.0))};
  const PF_EventCallbacks& cbs = e.event->cbs;
  if (cbs.comp_to_layer != nullptr)
    cbs.comp_to_layer(cbs.refcon, e.event->contextH, e.in_data->current_time, e.in_data->time_scale, &p);
  return {float(double(p.h) * (1.0 / 65536.0)), float(double(p.v) * (1.0 / 65536.0))};
}

ViewPoint ToView(const PaintEvent& e, double x, double y) {
  PF_FixedPoint p{A_long(std::lround(x * 65536.0)), A_long(std::lround(y * 65536.0))};
  const PF_EventCallbacks& cbs = e.event->cbs;
  if (cbs.layer_to_comp != nullptr)
    cbs.layer_to_comp(cbs.refcon, e.event->contextH, e.in_data->current_time, e.in_data->time_scale, &p);
  return {float(double(p.h) * (1.0 / 65536.0)), float(double(p.v) * (1.0 / 65536.0))};
}

// View pixels per layer pixel.
double ViewScale(const PaintEvent& e) {
  const ViewPoint a = ToView(e, 0, 0), b = ToView(e, 100, 0);
  const double s = (double(b.x) - double(a.x)) / 100.0;
  return s > 0 ? s : 1.0;
}

// Where the pointer is: the pen's sub-pixel position when high-resolution
// coordinates are in force and the pen is near the tablet, else the mouse
// (the pen's last packet says nothing about where the mouse is).
ViewPoint PointerNow(const PaintEvent& e) {
  float x, y;
  const PaintGlobals* g = e.globals;
  if (g != nullptr && g->high_res_coordinates && PenInProximity(g) && PenScreenPosition(g, &x, &y)) return {x, y};
  plat::PointerPoint p;
  plat::GetCursorPos(&p);
  return {float(p.x), float(p.y)};
}

// The pen's pressure while it is near the tablet. With the pen away (the
// mouse in use, or no packet yet) the newest packet holds no pressure worth
// the name (0 for a pen that left), so the mouse paints at full pressure.
float PressureNow(const PaintEvent& e) {
  const PaintGlobals* g = e.globals;
  return g != nullptr && g->tablet_has_pressure && PenInProximity(g) ? PenPressure(g) : 1.0f;
}

void InfoText(const PaintEvent& e, const char* line1, const char* line2) {
  const PF_EventCallbacks& cbs = e.event->cbs;
  if (cbs.info_draw_text != nullptr) cbs.info_draw_text(cbs.refcon, line1, line2);
}

int64_t NowMicroseconds() {
  int64_t us = 0;
  if (plat::QueryMicrosecondCounter(&us)) return us;
  return int64_t(plat::GetTickCount()) * 1000;
}

// ---------------------------------------------------------------------------
// State shown by the overlay
// ---------------------------------------------------------------------------

bool g_multi_stroke = false;  // a Shift sequence is running

struct IdleMark {
  plat::View* view = nullptr;
  int x = 0, y = 0, r = 0;
};
IdleMark g_idle;

void EraseIdleMark() {
  if (g_idle.view != nullptr) plat::ViewInvertCircle(g_idle.view, g_idle.x, g_idle.y, g_idle.r);
  g_idle.view = nullptr;
}

// ---------------------------------------------------------------------------
// Stroke loop
// ---------------------------------------------------------------------------

ClickOutcome OutOfMemory(ClickOutcome o) {
  plat::MessageBeep(plat::kBeepSimple);
  o.err = PF_Err_OUT_OF_MEMORY;
  return o;
}

// The dabs previewing one segment: `n` of them along it, their position,
// radius and pressure interpolated.
struct PreviewDabs {
  ViewPoint p0, p1;
  double r0, r1;
  float pr0, pr1;
  int n;
  double XAt(int i) const { return p0.x + (p1.x - p0.x) * (double(i) / n); }
  double YAt(int i) const { return p0.y + (p1.y - p0.y) * (double(i) / n); }
  double RadiusAt(int i) const { return r0 + (r1 - r0) * (double(i) / n); }
  float PressureAt(int i) const { return pr0 + (pr1 - pr0) * (float(i) / float(n)); }
};

// The better preview: the segment's dabs laid by the brush's own shapes and
// blended, pixel by pixel, into a 32-bit copy of the part of the view they
// cover, which is then shown. The copy is read from the screen (the
// composition view), so each segment blends over what the earlier ones
// showed. False when it cannot be done (no memory, an eraser, nothing of
// the segment on the view): the plain preview stands in.
bool BlendedPreview(const PaintEvent& e, const BrushSettings& b, const PreviewDabs& d) {
  if (IsEraser(b)) return false;
  int vw = 0, vh = 0;
  plat::ViewSize(e.view, &vw, &vh);
  const double reach = std::max(d.r0, d.r1) + 2.0;
  const int x0 = std::max(0, int(std::floor(std::min(d.p0.x, d.p1.x) - reach)));
  const int y0 = std::max(0, int(std::floor(std::min(d.p0.y, d.p1.y) - reach)));
  const int x1 = std::min(vw, int(std::ceil(std::max(d.p0.x, d.p1.x) + reach)) + 1);
  const int y1 = std::min(vh, int(std::ceil(std::max(d.p0.y, d.p1.y) + reach)) + 1);
  const int w = x1 - x0, h = y1 - y0;
  if (w <= 0 || h <= 0 || int64_t(w) * h > (int64_t(1) << 22)) return false;
  const uint32_t pixels = uint32_t(w) * uint32_t(h);
  MemoryBlock* mem = NewMemoryBlock(pixels * 2 * sizeof(PF_Pixel) + uint32_t(h) * sizeof(DirtySpan));
  if (mem == nullptr) return false;
  auto* view_px = static_cast<PF_Pixel*>(mem->data);
  PF_Pixel* scratch_px = view_px + pixels;
  StrokeScratch scratch;
  scratch.spans = reinterpret_cast<DirtySpan*>(scratch_px + pixels);
  PF_EffectWorld copy{}, dabs{};
  for (PF_EffectWorld* world : {&copy, &dabs}) {
    world->data = world == &copy ? view_px : scratch_px;
    world->rowbytes = A_long(w * A_long(sizeof(PF_Pixel)));
    world->width = w;
    world->height = h;
  }
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const plat::ColorRef c = plat::GetScreenPixel(x0 + x, y0 + y);
      view_px[y * w + x] = PF_Pixel{255, plat::RedOf(c), plat::GreenOf(c), plat::BlueOf(c)};
      scratch_px[y * w + x] = PF_Pixel{0, 0, 0, 0};
    }
  }
  scratch.world = &dabs;
  ResetDirtySpans(scratch);
  StrokeRecord record{};
  record.brush = b;
  StrokeRenderContext ctx;
  ctx.scratch = &scratch;
  StartStroke(ctx, record);
  // The Paint shape keeps its opacity apart from its colour; here it
  // weighs each dab.
  const float alpha = float(ctx.colour.alpha) * (BrushShape(b) == kBrushPaint ? ctx.opacity : 1.0f);
  for (int i = 1; i <= d.n; ++i) {
    const int32_t a = int32_t((b.stylus & kPressureOpacity) ? alpha * d.PressureAt(i) : alpha);
    if (a != 0) LayDab(ctx, d.XAt(i) - x0, d.YAt(i) - y0, d.RadiusAt(i), a);
  }
  CompositeStroke(ctx, copy);
  // Shown as 0x00RRGGBB words, in the scratch pixels' place.
  auto* shown = reinterpret_cast<uint32_t*>(scratch_px);
  for (uint32_t k = 0; k < pixels; ++k)
    shown[k] = uint32_t(view_px[k].red) << 16 | uint32_t(view_px[k].green) << 8 | view_px[k].blue;
  plat::ViewBlit(e.view, x0, y0, w, h, shown, w);
  DisposeMemoryBlock(mem);
  return true;
}

// The preview of one segment: discs in the brush colour along it, their
// position and radius interpolated; with "Better Preview While Drawing"
// the brush's dabs blended into the view.
void PreviewSegment(const PaintEvent& e, const BrushSettings& b, double scale, ViewPoint p0, float pr0, ViewPoint p1,
                    float pr1) {
  if (e.view == nullptr) return;
  const bool by_pressure = (b.stylus & kPressureRadius) != 0;
  const double r0 = double(b.radius) * (by_pressure ? pr0 : 1.0f) * scale;
  const double r1 = double(b.radius) * (by_pressure ? pr1 : 1.0f) * scale;
  const double length = std::fabs(double(p1.x) - p0.x) + std::fabs(double(p1.y) - p0.y);
  int n = int(std::min(length, std::trunc(6.0 * length / (r0 + r1 + 0.1))));
  if (n < 1) n = 1;
  const PreviewDabs dabs{p0, p1, r0, r1, pr0, pr1, n};
  if (e.globals != nullptr && e.globals->better_preview && BlendedPreview(e, b, dabs)) return;
  for (int i = 1; i <= n; ++i) plat::ViewFillDisc(e.view, dabs.XAt(i), dabs.YAt(i), dabs.RadiusAt(i), BrushColorRef(b));
}

// Adds the point at view position `v` to the stroke.
bool AddViewPoint(const PaintEvent& e, MemoryBlock* stroke, ViewPoint v, float pressure) {
  const ViewPoint l = ToLayer(e, v);
  char line2[96];
  std::snprintf(line2, sizeof line2, "  %2.1f            %4.1f     %4.1f", double(pressure) * 100.0, double(l.x),
                double(l.y));
  InfoText(e, "Pressure     X        Y", line2);
  return AddStrokePoint(stroke, pressure, l.x, l.y, 1.0f / float(e.in_data->width), 1.0f / float(e.in_data->height));
}

// Follows the pointer until the button is released, recording points into
// the open stroke. False when memory ran out.
bool CaptureStroke(const PaintEvent& e, MemoryBlock* stroke, const BrushSettings& brush) {
  const double scale = ViewScale(e);
  ViewPoint last = PointerNow(e);
  float last_pressure = PressureNow(e);
  if (!AddViewPoint(e, stroke, last, last_pressure)) return false;
  PreviewSegment(e, brush, scale, last, last_pressure, last, last_pressure);
  while (plat::PollPointer(plat::kVkLButton)) {
    const ViewPoint now = PointerNow(e);
    if (std::fabs(now.x - last.x) + std::fabs(now.y - last.y) < 1.0f) continue;
    const float pressure = PressureNow(e);
    if (!AddViewPoint(e, stroke, now, pressure)) return false;
    PreviewSegment(e, brush, scale, last, last_pressure, now, pressure);
    last = now;
    last_pressure = pressure;
  }
  return true;
}

ClickOutcome StrokeLoop(const PaintEvent& e, int32_t type) {
  ClickOutcome o;
  DrawingHeader* h = HeaderOf(e.drawing);
  BrushSettings brush = h->brush;
  brush.type = type;
  if (ColorClone(*h) && type < kEraserOffset) {
    const ViewPoint p = PointerNow(e);
    float rgb[3];
    SampleScreenColor(int(p.x), int(p.y), rgb);
    SetBrushColor(brush, rgb[0], rgb[1], rgb[2]);
  }
  const double scale = double(e.in_data->time_scale);
  float paint_time = float(double(e.in_data->current_time) / scale);
  const float frame = float(double(e.in_data->time_step) / scale);
  ClearUndoStore(*h);
  g_multi_stroke = KeyDown(plat::kVkShift);
  if (g_multi_stroke) DrawOverlay(e);
  for (;;) {
    const int64_t began = NowMicroseconds();
    MemoryBlock* stroke = BeginStroke(paint_time, brush);
    if (stroke == nullptr) return OutOfMemory(o);
    if (!CaptureStroke(e, stroke, brush)) {
      DiscardStroke(stroke);
      g_multi_stroke = false;
      return OutOfMemory(o);
    }
    const int32_t before = StrokeCount(e.drawing);
    if (!EndStroke(e.drawing, stroke)) {
      g_multi_stroke = false;
      return OutOfMemory(o);
    }
    const float drawing_time = float(double(NowMicroseconds() - began) * 1e-6);
    o.changed = o.changed || StrokeCount(e.drawing) != before;
    if (!KeyDown(plat::kVkShift)) break;
    g_multi_stroke = true;
    DrawOverlay(e);
    if (!plat::WaitForPress() || !KeyDown(plat::kVkShift)) break;
    switch (PaintTiming(*HeaderOf(e.drawing))) {
      case kTimingNextFrame:
        paint_time += frame;
        break;
      case kTimingRealtime:
        paint_time += float(double(NowMicroseconds() - began) * 1e-6);
        break;
      case kTimingContinuous:
        paint_time += drawing_time;
        break;
      default:
        break;
    }
  }
  g_multi_stroke = false;
  HeaderOf(e.drawing)->selection_state = 0;
  return o;
}

// ---------------------------------------------------------------------------
// Selection gesture
// ---------------------------------------------------------------------------

ClickOutcome SelectionGesture(const PaintEvent& e) {
  ClickOutcome o;
  DrawingHeader* h = HeaderOf(e.drawing);
  const A_long mods = e.event->u.do_click.modifiers;
  const int32_t state = (mods & PF_Mod_CMD_CTRL_KEY) ? 2 : (mods & PF_Mod_SHIFT_KEY) ? 1 : 0;
  h->selection_state = state;
  // The path in layer pixels, x and y by turns. Memory that runs out ends
  // the path where it is, with a beep.
  MemoryBlock* path = NewMemoryBlock(0);
  bool beeped = path == nullptr;
  if (beeped) plat::MessageBeep(plat::kBeepDefault);
  const auto add = [&](ViewPoint v) {
    const ViewPoint l = ToLayer(e, v);
    const float xy[2] = {l.x, l.y};
    if (path != nullptr && AppendMemoryBytes(path, xy, sizeof xy) != kMemoryOk && !beeped) {
      plat::MessageBeep(plat::kBeepDefault);
      beeped = true;
    }
    char line2[96];
    std::snprintf(line2, sizeof line2, "                   %4.1f     %4.1f", double(l.x), double(l.y));
    InfoText(e, "Selecting     X        Y", line2);
  };
  ViewPoint last = PointerNow(e);
  add(last);
  while (plat::PollPointer(plat::kVkLButton)) {
    const ViewPoint now = PointerNow(e);
    if (std::fabs(now.x - last.x) + std::fabs(now.y - last.y) <= 2.0f) continue;
    if (e.view != nullptr) plat::ViewLine(e.view, int(last.x), int(last.y), int(now.x), int(now.y), 0xFFFFFF);
    add(now);
    last = now;
  }
  const int32_t points = path != nullptr ? int32_t(path->size / (2 * sizeof(float))) : 0;
  const bool changed = SelectAlongPath(e.drawing, path != nullptr ? static_cast<const float*>(path->data) : nullptr,
                                       points, state, float(e.in_data->width), float(e.in_data->height));
  DisposeMemoryBlock(path);
  if (changed) HeaderOf(e.drawing)->selection_state = 1;
  RecomputeSelection(e.drawing);
  o.changed = changed;
  return o;
}

// ---------------------------------------------------------------------------
// Radius drag
// ---------------------------------------------------------------------------

struct Circle {
  plat::View* view;
  int cx, cy;
  int r = 0;
  void Show(int radius) {
    if (r > 0) plat::ViewInvertCircle(view, cx, cy, r);
    r = radius;
    if (r > 0) plat::ViewInvertCircle(view, cx, cy, r);
  }
};

ClickOutcome RadiusDrag(const PaintEvent& e) {
  ClickOutcome o;
  const ViewPoint centre = PointerNow(e);
  const double scale = ViewScale(e);
  DrawingHeader* h = HeaderOf(e.drawing);
  const int32_t shape = BrushShape(h->brush);
  Circle radius{e.view, int(centre.x), int(centre.y)}, feather{e.view, int(centre.x), int(centre.y)};
  double d1 = 0, d2 = 0;
  bool second = false;
  while (plat::PollPointer(plat::kVkLButton)) {
    const ViewPoint now = PointerNow(e);
    const double d = std::hypot(double(now.x) - centre.x, double(now.y) - centre.y);
    if (!second && (shape == kBrushPaint || shape == kBrushSquare) && !KeyDown(plat::kVkControl) && d > 10.0)
      second = true;
    if (second) {
      d2 = d;
      if (e.view) feather.Show(int(std::lround(d)));
    } else {
      d1 = d;
      if (e.view) radius.Show(int(std::lround(d)));
    }
  }
  if (e.view) {
    radius.Show(0);
    feather.Show(0);
  }
  const double r = std::clamp((d1 + 1.0) / scale, 0.1, 500.0);
  SetBrushRadius(h->brush, float(r));
  if (second && r > 1.0) SetBrushFeather(h->brush, float(std::clamp(1.0 - ((d2 + 1.0 - 10.0) / scale) / r, 0.0, 1.0)));
  o.changed = true;
  return o;
}

// ---------------------------------------------------------------------------
// Eyedropper
// ---------------------------------------------------------------------------

struct Rgb16 {
  uint32_t r = 0, g = 0, b = 0;
};

Rgb16 Pixel16(int x, int y) {
  const plat::ColorRef c = plat::GetScreenPixel(x, y);
  return {plat::RedOf(c) * 257u, plat::GreenOf(c) * 257u, plat::BlueOf(c) * 257u};
}

// The pixel counted twice plus its eight neighbours, over 10, in 16 bits.
Rgb16 Weighted16(int x, int y) {
  Rgb16 sum = Pixel16(x, y);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) {
      const Rgb16 p = Pixel16(x + dx, y + dy);
      sum.r += p.r, sum.g += p.g, sum.b += p.b;
    }
  return {sum.r / 10, sum.g / 10, sum.b / 10};
}

ClickOutcome Eyedropper(const PaintEvent& e) {
  ClickOutcome o;
  Rgb16 ring[16];
  int ring_count = 0, ring_next = 0;
  Rgb16 mean;
  const auto sample = [&](ViewPoint v) {
    const int x = int(v.x), y = int(v.y);
    if (KeyDown(plat::kVkControl)) {
      mean = Pixel16(x, y);
    } else if (KeyDown(plat::kVkShift)) {
      ring[ring_next] = Pixel16(x, y);
      ring_next = (ring_next + 1) % 16;
      ring_count = std::min(ring_count + 1, 16);
      Rgb16 sum;
      for (int i = 0; i < ring_count; ++i) sum.r += ring[i].r, sum.g += ring[i].g, sum.b += ring[i].b;
      mean = {sum.r / uint32_t(ring_count), sum.g / uint32_t(ring_count), sum.b / uint32_t(ring_count)};
    } else {
      mean = Weighted16(x, y);
    }
    const PF_EventCallbacks& cbs = e.event->cbs;
    if (cbs.info_draw_color != nullptr)
      cbs.info_draw_color(cbs.refcon,
                          PF_Pixel{255, A_u_char(mean.r >> 8), A_u_char(mean.g >> 8), A_u_char(mean.b >> 8)});
  };
  ViewPoint last = PointerNow(e);
  sample(last);
  while (plat::PollPointer(plat::kVkLButton)) {
    if (KeyDown(plat::kVkEscape)) {
      while (plat::PollPointer(plat::kVkLButton)) {
      }
      return o;
    }
    const ViewPoint now = PointerNow(e);
    if (now.x == last.x && now.y == last.y) continue;
    sample(now);
    last = now;
  }
  DrawingHeader* h = HeaderOf(e.drawing);
  SetBrushColor(h->brush, float(mean.r / 65535.0), float(mean.g / 65535.0), float(mean.b / 65535.0));
  SetColorClone(*h, false);
  if (e.globals != nullptr) SetCurrentTool(e.globals, e.globals->tool_after_eyedropper);
  o.changed = true;
  return o;
}

// ---------------------------------------------------------------------------
// Toolbar
// ---------------------------------------------------------------------------

constexpr int kToolbarLeft = 38, kToolbarTop = 14, kButtonWidth = 24, kButtonHeight = 20;
constexpr int32_t kToolbarTools[4] = {kToolSelect, kToolEyedropper, kToolPaint, kToolEraser};

// The toolbar button (1..4) at view point v, or 0.
int ToolbarButton(const PaintEvent& e, ViewPoint v) {
  const ViewPoint origin = ToView(e, 0, 0);
  const double x = v.x - (origin.x + kToolbarLeft), y = v.y - (origin.y + kToolbarTop);
  if (x < 0 || y < 0 || y >= kButtonHeight || x >= 4 * kButtonWidth) return 0;
  return int(x) / kButtonWidth + 1;
}

ClickOutcome ToolbarClick(const PaintEvent& e, int button) {
  ClickOutcome o;
  const int32_t tool = kToolbarTools[button - 1];
  if (tool != kToolSelect || StrokeCount(e.drawing) > 0) SetCurrentTool(e.globals, tool);
  if (tool == kToolEyedropper) {
    SetColorClone(*HeaderOf(e.drawing), false);
    o.changed = true;
  }
  DrawOverlay(e);
  while (plat::PollPointer(plat::kVkLButton)) {
  }
  return o;
}

// ---------------------------------------------------------------------------
// Path index
// ---------------------------------------------------------------------------

// The segments of a selection path sorted into a grid of cells over the
// path's bounds, so that a stroke segment is tested only against the path
// segments near it. Without memory for the grid every segment is tested.
struct PathIndex {
  double x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // the path's bounds (empty when x1 < x0)
  int32_t nx = 0, ny = 0;
  double cell_w = 1, cell_h = 1;
  MemoryBlock* cells = nullptr;     // nx * ny + 1 starts into `segments`
  MemoryBlock* segments = nullptr;  // path segment numbers, cell by cell
};

constexpr int32_t kGridSide = 64;
// A path of long segments criss-crossing its bounds fills most cells: past
// this many entries the grid would cost more than it saves.
constexpr int64_t kMaxGridEntries = 1 << 22;

struct Span {
  int32_t lo, hi;
};

Span CellSpan(double a, double b, double origin, double size, int32_t n) {
  const auto cell = [&](double v) {
    const double c = std::floor((v - origin) / size);
    return int32_t(std::clamp(c, 0.0, double(n - 1)));
  };
  return {cell(std::min(a, b)), cell(std::max(a, b))};
}

void BuildPathIndex(const float* xy, int32_t points, PathIndex* index) {
  for (int32_t j = 0; j < points; ++j) {
    const double x = xy[2 * j], y = xy[2 * j + 1];
    if (!std::isfinite(x) || !std::isfinite(y)) return;  // no grid: every segment is tested
    if (j == 0) {
      index->x0 = index->x1 = x;
      index->y0 = index->y1 = y;
    }
    index->x0 = std::min(index->x0, x), index->x1 = std::max(index->x1, x);
    index->y0 = std::min(index->y0, y), index->y1 = std::max(index->y1, y);
  }
  if (points < 2) return;
  const int32_t side = points > 256 ? kGridSide : 1;
  index->nx = index->ny = side;
  index->cell_w = std::max((index->x1 - index->x0) / side, 1e-9);
  index->cell_h = std::max((index->y1 - index->y0) / side, 1e-9);
  const uint32_t ncells = uint32_t(side * side);
  index->cells = NewMemoryBlock((ncells + 1) * uint32_t(sizeof(int32_t)));
  if (index->cells == nullptr) return;
  auto* start = static_cast<int32_t*>(index->cells->data);
  // Counted first, then placed: each segment goes into every cell its bounds touch.
  for (int pass = 0; pass < 2; ++pass) {
    int32_t* at = pass == 0 ? nullptr : static_cast<int32_t*>(index->segments->data);
    int64_t entries = 0;
    for (int32_t j = 0; j + 1 < points; ++j) {
      const Span sx = CellSpan(xy[2 * j], xy[2 * j + 2], index->x0, index->cell_w, side);
      const Span sy = CellSpan(xy[2 * j + 1], xy[2 * j + 3], index->y0, index->cell_h, side);
      entries += int64_t(sx.hi - sx.lo + 1) * (sy.hi - sy.lo + 1);
      if (entries > kMaxGridEntries) {
        DisposeMemoryBlock(index->cells);
        index->cells = nullptr;
        return;
      }
      for (int32_t cy = sy.lo; cy <= sy.hi; ++cy)
        for (int32_t cx = sx.lo; cx <= sx.hi; ++cx) {
          int32_t& slot = start[cy * side + cx + (pass == 0 ? 1 : 0)];
          if (pass == 0)
            ++slot;
          else
            at[slot++] = j;
        }
    }
    if (pass == 0) {
      for (uint32_t c = 0; c < ncells; ++c) start[c + 1] += start[c];
      index->segments = NewMemoryBlock(uint32_t(start[ncells]) * uint32_t(sizeof(int32_t)));
      if (index->segments == nullptr) {
        DisposeMemoryBlock(index->cells);
        index->cells = nullptr;
        return;
      }
    }
  }
  // Placing moved each start to the next cell's: shift them back.
  for (uint32_t c = ncells; c > 0; --c) start[c] = start[c - 1];
  start[0] = 0;
}

bool CrossesSegment(const float* xy, int32_t j, double ax, double ay, double bx, double by) {
  return SegmentsCross(ax, ay, bx, by, xy[2 * j], xy[2 * j + 1], xy[2 * j + 2], xy[2 * j + 3]);
}

// Whether segment a-b crosses any segment of the path.
bool CrossesPath(const PathIndex& index, const float* xy, int32_t points, double ax, double ay, double bx, double by) {
  if (!std::isfinite(ax) || !std::isfinite(ay) || !std::isfinite(bx) || !std::isfinite(by)) return false;
  if (index.cells == nullptr) {
    for (int32_t j = 0; j + 1 < points; ++j)
      if (CrossesSegment(xy, j, ax, ay, bx, by)) return true;
    return false;
  }
  // Crossings lie within both bounds.
  if (std::max(ax, bx) < index.x0 || std::min(ax, bx) > index.x1 || std::max(ay, by) < index.y0 ||
      std::min(ay, by) > index.y1)
    return false;
  const auto* start = static_cast<const int32_t*>(index.cells->data);
  const auto* seg = static_cast<const int32_t*>(index.segments->data);
  const Span sx = CellSpan(ax, bx, index.x0, index.cell_w, index.nx);
  const Span sy = CellSpan(ay, by, index.y0, index.cell_h, index.ny);
  for (int32_t cy = sy.lo; cy <= sy.hi; ++cy)
    for (int32_t cx = sx.lo; cx <= sx.hi; ++cx) {
      const int32_t c = cy * index.nx + cx;
      for (int32_t n = start[c]; n < start[c + 1]; ++n)
        if (CrossesSegment(xy, seg[n], ax, ay, bx, by)) return true;
    }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Mouse hook
// ---------------------------------------------------------------------------

const unsigned char* SwappedByte() { return g_swapped; }

void AddMouseHookUser() {
  if (g_hook_users++ == 0 && g_swapped == nullptr)
    g_hook = plat::SetWindowsHookEx(plat::kWhMouse, MouseHook, nullptr, plat::GetCurrentThreadId());
}

void RemoveMouseHookUser() {
  if (g_hook_users == 0) return;
  if (--g_hook_users == 0 && g_hook != nullptr) {
    plat::UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
  }
}

int MouseHookUsers() { return g_hook_users; }

bool TakeRightClick() {
  bool right;
  if (g_swapped != nullptr)
    right = *g_swapped != 0;
  else
    right = g_last_press == plat::kWmRButtonDown || g_last_press == 0;
  g_last_press = plat::kWmLButtonDown;
  return right;
}

// ---------------------------------------------------------------------------
// Pieces
// ---------------------------------------------------------------------------

std::string PaintString(int id) {
  char text[64] = {};
  plat::LoadStringResource(PaintResources(), id, text, int(sizeof text));
  return text;
}

plat::ColorRef BrushColorRef(const BrushSettings& b) {
  const auto byte = [](float v) { return uint8_t(v <= 0 ? 0 : v >= 1 ? 255 : int(v * 255.0f + 0.5f)); };
  return plat::MakeColorRef(byte(b.red), byte(b.green), byte(b.blue));
}

void SampleScreenColor(int x, int y, float rgb[3]) {
  const Rgb16 m = Weighted16(x, y);
  rgb[0] = float(m.r / 65535.0);
  rgb[1] = float(m.g / 65535.0);
  rgb[2] = float(m.b / 65535.0);
}

bool SegmentsCross(double p0x, double p0y, double p1x, double p1y, double q0x, double q0y, double q1x, double q1y) {
  const double rx = p1x - p0x, ry = p1y - p0y, sx = q1x - q0x, sy = q1y - q0y;
  const double d = rx * sy - ry * sx;
  if (d == 0.0) return false;
  const double wx = q0x - p0x, wy = q0y - p0y;
  const double t = (wx * sy - wy * sx) / d, u = (wx * ry - wy * rx) / d;
  return t >= 0.0 && t <= 1.0 && u >= 0.0 && u <= 1.0;
}

bool SelectAlongPath(MemoryBlock* drawing, const float* xy, int32_t points, int32_t state, float width, float height) {
  bool changed = false;
  const int32_t count = StrokeCount(drawing);
  for (int32_t i = 0; i < count; ++i) {
    StrokeRecord* s = StrokeAt(drawing, i);
    if (state == 0 && s->selected) {
      s->selected = 0;
      changed = true;
    }
  }
  PathIndex index;
  BuildPathIndex(xy, points, &index);
  for (int32_t i = 0; i < count; ++i) {
    StrokeRecord* s = StrokeAt(drawing, i);
    if (state == 2 && !s->selected) continue;
    const StrokePoint* p = StrokePoints(*s);
    const int32_t drawn = std::min(s->points_drawn, s->point_count);
    bool hit = false;
    for (int32_t k = 0; p != nullptr && k + 1 < drawn && !hit; ++k) {
      const double ax = double(p[k].x) * width, ay = double(p[k].y) * height;
      const double bx = double(p[k + 1].x) * width, by = double(p[k + 1].y) * height;
      hit = CrossesPath(index, xy, points, ax, ay, bx, by);
    }
    if (hit) {
      s->selected = s->selected ? 0 : 1;
      changed = true;
    }
  }
  DisposeMemoryBlock(index.cells);
  DisposeMemoryBlock(index.segments);
  return changed;
}

// ---------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------

ClickOutcome CompositionClick(const PaintEvent& e) {
  ClickOutcome o;
  if (e.drawing == nullptr || HeaderOf(e.drawing) == nullptr) return o;
  if ((e.event->u.do_click.modifiers & PF_Mod_OPT_ALT_KEY) || KeyDown(plat::kVkAlt)) return o;
  PaintGlobals fallback;
  InitPaintGlobals(&fallback);
  PaintEvent ev = e;
  if (ev.globals == nullptr) ev.globals = &fallback;
  PaintGlobals* g = ev.globals;
  if (g->mouse_drawing_disabled && !PenInProximity(g)) return o;
  bool eraser_end = false;
  if (g->tablet_available && g->tablet != nullptr) {
    ReadLatestPacket(g->tablet);
    eraser_end = PenCursorKind(g) == kCursorKindEraser;
  }
  const ViewPoint at = PointerNow(ev);
  if (TakeRightClick()) {
    CommandContext ctx{ev.drawing, g, double(ev.in_data->current_time) / double(ev.in_data->time_scale), ev.parent};
    const CommandResult r = RunPopupMenu(ctx, int(at.x), int(at.y), nullptr);
    if (g->tool == kToolSelect && StrokeCount(ev.drawing) == 0) SetCurrentTool(g, kToolPaint);
    o.changed = r.changed || r.rerender;
    return o;
  }
  if (g->show_toolbar) {
    if (const int button = ToolbarButton(ev, at)) return ToolbarClick(ev, button);
  }
  switch (g->tool) {
    case kToolEyedropper:
      return Eyedropper(ev);
    case kToolSelect:
      return SelectionGesture(ev);
    case kToolEraser:
    case kToolPaint: {
      if (e.event->u.do_click.modifiers & PF_Mod_CMD_CTRL_KEY) return RadiusDrag(ev);
      plat::SetCursor(g->show_actual_brush_size ? plat::kCursorNone : 151);
      const int32_t shape = BrushShape(HeaderOf(ev.drawing)->brush);
      if (g->tool == kToolEraser) return StrokeLoop(ev, shape + kEraserOffset);
      return StrokeLoop(ev, BrushTypeForCursor(shape, eraser_end ? kCursorKindEraser : kCursorKindPenTip));
    }
    default:
      return o;
  }
}

void DrawOverlay(const PaintEvent& e) {
  if (e.view == nullptr || e.drawing == nullptr) return;
  const ViewPoint origin = ToView(e, 0, 0);
  const int ox = int(origin.x), oy = int(origin.y);
  std::string status = std::to_string(StrokeCount(e.drawing)) + " Strokes";
  if (g_multi_stroke) status += " QP - " + PaintString(kStrTimingBase + PaintTiming(*HeaderOf(e.drawing)));
  plat::ViewText(e.view, ox + 2, oy + 1, status.c_str(), e.medium_font, 0xFFFFFF);
  if (e.globals != nullptr && e.globals->show_toolbar) {
    for (int i = 0; i < 4; ++i) {
      const int left = ox + kToolbarLeft + i * kButtonWidth, top = oy + kToolbarTop;
      const bool current = e.globals->tool == kToolbarTools[i];
      plat::ViewFillRect(e.view, left, top, left + kButtonWidth - 1, top + kButtonHeight,
                         current ? 0x404040 : 0xA0A0A0);
      plat::ViewText(e.view, left + 2, top + 4, PaintString(kStrToolBase + kToolbarTools[i]).substr(0, 2).c_str(),
                     e.small_font, current ? 0xFFFFFF : 0);
    }
    const int swatch = ox + kToolbarLeft + 4 * kButtonWidth + 4;
    plat::ViewFillRect(e.view, swatch, oy + kToolbarTop, swatch + kButtonHeight, oy + kToolbarTop + kButtonHeight,
                       BrushColorRef(HeaderOf(e.drawing)->brush));
  }
  const int32_t count = StrokeCount(e.drawing);
  for (int32_t i = 0; i < count; ++i) {
    const StrokeRecord* s = StrokeAt(e.drawing, i);
    const StrokePoint* p = StrokePoints(*s);
    if (!s->selected || p == nullptr) continue;
    for (int32_t k = 0; k + 1 < s->point_count; ++k) {
      const ViewPoint a = ToView(e, double(p[k].x) * e.in_data->width, double(p[k].y) * e.in_data->height);
      const ViewPoint b = ToView(e, double(p[k + 1].x) * e.in_data->width, double(p[k + 1].y) * e.in_data->height);
      plat::ViewLine(e.view, int(a.x), int(a.y), int(b.x), int(b.y), 0x00FFFF);
    }
  }
}

void IdleOutline(const PaintEvent& e) {
  EraseIdleMark();
  const PaintGlobals* g = e.globals;
  if (g == nullptr || !g->show_actual_brush_size || e.view == nullptr || e.drawing == nullptr) return;
  const bool pen = PenInProximity(g);
  if (g->mouse_drawing_disabled && !pen) return;
  const PF_Point at = e.event->u.idle.screen_point;
  int w = 0, h = 0;
  plat::ViewSize(e.view, &w, &h);
  if (at.h < 0 || at.v < 0 || at.h >= w || at.v >= h) return;
  const bool eraser_end = pen && PenCursorKind(g) == kCursorKindEraser;
  int r = 3;  // a plain marker for the tools without a brush
  if (g->tool == kToolPaint || g->tool == kToolEraser || eraser_end)
    r = std::max(1, int(std::lround(double(HeaderOf(e.drawing)->brush.radius) * ViewScale(e))));
  g_idle = IdleMark{e.view, at.h, at.v, r};
  plat::ViewInvertCircle(e.view, at.h, at.v, r);
}

}  // namespace paint
