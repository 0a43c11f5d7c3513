// The composition-window tools on their own, with a hand-made event: memory
// running out mid-stroke, the eyedropper's means, the radius drag and the
// segment test of selection paths.
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/view.h>

#include "drawing.h"
#include "memory_block.h"
#include "painting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

namespace plat = ombrix::platform;

constexpr int kW = 40, kH = 30;

plat::PointerEvent At(plat::PointerEvent::Kind kind, int x, int y) {
  plat::PointerEvent e;
  e.kind = kind;
  e.point = {x, y};
  return e;
}

// A left click at `at` in a view of the layer at zoom 1, with the pointer
// script `then` to follow.
class Tools : public ::testing::Test {
 public:
  void SetUp() override {
    plat::ResetHeadless();
    paint::AddMouseHookUser();
    in.width = kW;
    in.height = kH;
    in.time_scale = 2400;
    in.time_step = 100;
    context.w_type = PF_Window_COMP;
    extra.contextH = &context;
    extra.e_type = PF_Event_DO_CLICK;
    paint::InitPaintGlobals(&globals);
    drawing = paint::NewDrawing();
    view = plat::CreateView(kW, kH);
    plat::SetScreenView(view);
  }
  void TearDown() override {
    paint::RemoveMouseHookUser();
    paint::DisposeDrawing(drawing);
    plat::DestroyView(view);
    paint::FailMemoryBlockAllocation(0);
    plat::ResetHeadless();
  }
  paint::ClickOutcome Click(PF_Point at, A_long modifiers, const std::vector<plat::PointerEvent>& then) {
    plat::PointerEvent press = At(plat::PointerEvent::kDown, at.h, at.v);
    press.control = modifiers & PF_Mod_CMD_CTRL_KEY;
    plat::DeliverPointerEvent(press);
    plat::PushPointerEvents(then);
    extra.u.do_click.screen_point = at;
    extra.u.do_click.modifiers = modifiers;
    return paint::CompositionClick(paint::PaintEvent{&in, &extra, drawing, &globals, view, nullptr});
  }

  PF_InData in{};
  PF_Context context{};
  PF_EventExtra extra{};
  paint::PaintGlobals globals{};
  paint::MemoryBlock* drawing = nullptr;
  plat::View* view = nullptr;
};

TEST_F(Tools, StrokeOutOfMemoryBeepsAnswers108AndKeepsTheDrawing) {
  for (int nth = 1; nth <= 3; ++nth) {
    plat::ResetBeeps();
    paint::FailMemoryBlockAllocation(nth);
    const paint::ClickOutcome o = Click({5, 5}, 0,
                                        {At(plat::PointerEvent::kMove, 9, 5), At(plat::PointerEvent::kMove, 15, 5),
                                         At(plat::PointerEvent::kUp, 15, 5)});
    paint::FailMemoryBlockAllocation(0);
    EXPECT_EQ(o.err, PF_Err_OUT_OF_MEMORY) << nth;
    EXPECT_EQ(plat::BeepTotal(), 1u) << nth;
    EXPECT_EQ(paint::StrokeCount(drawing), 0) << nth;
  }
  // The drawing still takes strokes.
  const paint::ClickOutcome o =
      Click({5, 5}, 0, {At(plat::PointerEvent::kMove, 9, 5), At(plat::PointerEvent::kUp, 9, 5)});
  EXPECT_EQ(o.err, PF_Err_NONE);
  EXPECT_TRUE(o.changed);
  EXPECT_EQ(paint::StrokeCount(drawing), 1);
}

TEST_F(Tools, BetterPreviewBlendsTheBrushIntoTheView) {
  // A red Solid brush of radius 3 at full opacity over a black view, from
  // (5, 5) to (15, 5): the path turns red either way, a pixel 7 below it
  // stays black. The better preview shows a blended copy of the view; the
  // plain one and erasers draw discs.
  struct Case {
    bool better;
    int32_t type;
    const char* drawn;  // the view's log holds this and not the other
    const char* not_drawn;
  };
  const Case cases[] = {
      {false, paint::kBrushSolid, "disc", "blit"},
      {true, paint::kBrushSolid, "blit", "disc"},
      {true, paint::kBrushSolid + paint::kEraserOffset, "disc", "blit"},
  };
  for (const Case& c : cases) {
    plat::SetViewPixels(view, std::vector<uint32_t>(size_t(kW * kH), 0));
    plat::ClearViewLog(view);
    globals.better_preview = c.better;
    globals.tool = c.type > paint::kEraserOffset ? paint::kToolEraser : paint::kToolPaint;
    paint::BrushSettings& b = paint::HeaderOf(drawing)->brush;
    paint::SetBrushColor(b, 1.0f, 0.0f, 0.0f);
    b.type = paint::kBrushSolid;
    b.radius = 3.0f;
    b.opacity = 1.0f;
    b.stylus = 0;
    Click({5, 5}, 0, {At(plat::PointerEvent::kMove, 15, 5), At(plat::PointerEvent::kUp, 15, 5)});
    const std::vector<uint32_t> px = plat::ViewPixels(view);
    EXPECT_EQ(px[5 * kW + 10], 0xFF0000u) << c.better << " " << c.type;
    EXPECT_EQ(px[12 * kW + 10], 0u) << c.better << " " << c.type;
    std::string log;
    for (const std::string& line : plat::ViewLog(view)) log += line + "\n";
    EXPECT_NE(log.find(c.drawn), std::string::npos) << log;
    EXPECT_EQ(log.find(c.not_drawn), std::string::npos) << log;
  }
}

TEST_F(Tools, EyedropperTakesTheWeightedMeanAndReturnsToTheTool) {
  // A gradient: pixel (x, y) has red 4x, green 5y, blue 100.
  std::vector<uint32_t> px(size_t(kW * kH));
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) px[size_t(y * kW + x)] = uint32_t(4 * x) << 16 | uint32_t(5 * y) << 8 | 100u;
  plat::SetViewPixels(view, px);
  paint::SetColorClone(*paint::HeaderOf(drawing), true);
  globals.tool = paint::kToolEyedropper;
  globals.tool_after_eyedropper = paint::kToolEraser;
  const paint::ClickOutcome o =
      Click({7, 3}, 0, {At(plat::PointerEvent::kMove, 10, 6), At(plat::PointerEvent::kUp, 10, 6)});
  EXPECT_TRUE(o.changed);
  // Around (10, 6): red sums 4 * (2 * 10 + 9 + 10 + 11 + ...) = 4 * 10 * 10,
  // in 16 bits (x 257) over 10.
  const paint::BrushSettings& b = paint::HeaderOf(drawing)->brush;
  EXPECT_FLOAT_EQ(b.red, float((40 * 257 * 10 / 10) / 65535.0));
  EXPECT_FLOAT_EQ(b.green, float((30 * 257 * 10 / 10) / 65535.0));
  EXPECT_FLOAT_EQ(b.blue, float((100 * 257 * 10 / 10) / 65535.0));
  EXPECT_FALSE(paint::ColorClone(*paint::HeaderOf(drawing)));
  EXPECT_EQ(globals.tool, paint::kToolEraser);

  // Escape leaves the colour as it was.
  globals.tool = paint::kToolEyedropper;
  plat::PointerEvent escape = At(plat::PointerEvent::kMove, 30, 20);
  escape.escape = true;
  Click({7, 3}, 0, {escape, At(plat::PointerEvent::kUp, 30, 20)});
  EXPECT_FLOAT_EQ(paint::HeaderOf(drawing)->brush.red, float(40 * 257 / 65535.0));
  EXPECT_EQ(globals.tool, paint::kToolEyedropper);
}

TEST_F(Tools, RadiusDragSetsRadiusAndFeather) {
  struct Case {
    int32_t type;
    int release_x;       // pointer released at (release_x, 10), pressed at (10, 10)
    bool ctrl_released;  // Ctrl let go during the drag
    float radius, feather;
  };
  const Case cases[] = {
      {paint::kBrushSolid, 16, true, 7.0f, -1},   // (6 + 1) / 1; no feather phase for Solid
      {paint::kBrushPaint, 16, false, 7.0f, -1},  // Ctrl held throughout
      {paint::kBrushPaint, 30, true, 0, 0},       // released: the second phase starts at once
  };
  for (const Case& c : cases) {
    paint::BrushSettings& b = paint::HeaderOf(drawing)->brush;
    b.type = c.type;
    b.feather = 0.5f;
    plat::PointerEvent first = At(plat::PointerEvent::kMove, c.release_x, 10);
    first.control = !c.ctrl_released;
    plat::PointerEvent up = At(plat::PointerEvent::kUp, c.release_x, 10);
    up.control = first.control;
    Click({10, 10}, PF_Mod_CMD_CTRL_KEY, {first, up});
    if (c.radius > 0) {
      EXPECT_FLOAT_EQ(b.radius, c.radius) << c.type;
      EXPECT_FLOAT_EQ(b.feather, 0.5f) << c.type;
    } else {
      // No first-phase move: radius (0 + 1) / 1; feather needs a radius above 1.
      EXPECT_FLOAT_EQ(b.radius, 1.0f);
      EXPECT_FLOAT_EQ(b.feather, 0.5f);
    }
  }
  // The circles are gone afterwards.
  const std::vector<uint32_t> blank(size_t(kW * kH), 0);
  EXPECT_EQ(plat::ViewPixels(view), blank);
}

// A press on the "Brush Settings" control at `at`, the pointer then
// following `then` (control pixels).
paint::ClickOutcome ControlClick(Tools& t, PF_Point at, const std::vector<plat::PointerEvent>& then) {
  plat::DeliverPointerEvent(At(plat::PointerEvent::kDown, at.h, at.v));
  plat::PushPointerEvents(then);
  t.context.w_type = PF_Window_EFFECT;
  t.extra.u.do_click.screen_point = at;
  return paint::BrushControlClick(paint::PaintEvent{&t.in, &t.extra, t.drawing, &t.globals, t.view, nullptr});
}

TEST_F(Tools, ControlHandlesDragValues) {
  struct Case {
    const char* what;
    PF_Point press;  // on the radius (13) or opacity (14) handle
    int dx, dy;
    bool alt, shift, escape;
    float radius, opacity;  // after the drag, from radius 10 and opacity 0.5
  };
  const Case cases[] = {
      {"radius right", {97, 7}, 20, 0, false, false, false, 25.0f, 0.5f},      // 10 + 150 * 20 * 0.005
      {"radius with Alt", {97, 7}, 20, 0, true, false, false, 11.5f, 0.5f},    // a tenth of the change
      {"radius with Shift", {97, 7}, 20, 0, false, true, false, 20.0f, 0.5f},  // 25 down to a multiple of 10
      {"radius escaped", {97, 7}, 20, 0, false, false, true, 10.0f, 0.5f},
      {"too far off", {97, 7}, 20, 150, false, false, false, 10.0f, 0.5f},
      {"opacity left, off the line", {97, 39}, -10, 50, false, false, false, 10.0f, 0.45f},  // 50 - 100 * 10 * 0.005
      {"opacity clamped", {97, 39}, 200, 0, false, false, false, 10.0f, 1.0f},
  };
  for (const Case& c : cases) {
    paint::BrushSettings& b = paint::HeaderOf(drawing)->brush;
    b.radius = 10.0f;
    b.opacity = 0.5f;
    plat::PointerEvent move = At(plat::PointerEvent::kMove, c.press.h + c.dx, c.press.v + c.dy);
    move.alt = c.alt;
    move.shift = c.shift;
    move.escape = c.escape;
    plat::PointerEvent up = move;
    up.kind = plat::PointerEvent::kUp;
    ControlClick(*this, c.press, {move, up});
    EXPECT_FLOAT_EQ(b.radius, c.radius) << c.what;
    EXPECT_FLOAT_EQ(b.opacity, c.opacity) << c.what;
  }
}

TEST_F(Tools, StylusIndicatorsShowTheIconSetOfTheLanguage) {
  // The icons sit at the right end of items 7 (right 102) and 8 (right 166),
  // 10 pixels square from the top (54): their centre pixels are (96, 58) and
  // (160, 58). The plain set fills a disc when on and leaves it hollow (the
  // item's grey) when off; the Swedish set is a blue square, crossed in
  // yellow when on.
  struct Case {
    bool swedish;
    int32_t stylus;
    uint32_t radius_centre, opacity_centre;
  };
  const Case cases[] = {
      {false, paint::kPressureRadius, 0x202020, 0xA0A0A0},
      {false, paint::kPressureOpacity, 0xA0A0A0, 0x202020},
      {true, paint::kPressureRadius, 0xFFCC00, 0x005BA0},
      {true, paint::kPressureRadius | paint::kPressureOpacity, 0xFFCC00, 0xFFCC00},
  };
  plat::View* control = plat::CreateView(260, 74);
  for (const Case& c : cases) {
    globals.swedish_ui = c.swedish;
    paint::HeaderOf(drawing)->brush.stylus = c.stylus;
    paint::DrawBrushControl(paint::PaintEvent{&in, &extra, drawing, &globals, control, nullptr});
    const std::vector<uint32_t> px = plat::ViewPixels(control);
    EXPECT_EQ(px[58 * 260 + 96], c.radius_centre) << c.swedish << " " << c.stylus;
    EXPECT_EQ(px[58 * 260 + 160], c.opacity_centre) << c.swedish << " " << c.stylus;
  }
  plat::DestroyView(control);
}

TEST_F(Tools, ControlItemsActWhenPressAndReleaseMeet) {
  struct Case {
    PF_Point press, release;
    int32_t type_before, type_after;
    int32_t stylus_after;
  };
  const Case cases[] = {
      {{190, 7}, {191, 8}, paint::kBrushSquare, paint::kBrushSolid, 0},  // type: 4 -> 1
      {{190, 7}, {190, 7}, 12, 9, 0},                                    // eraser types cycle among themselves
      {{190, 7}, {60, 60}, paint::kBrushSolid, paint::kBrushSolid, 0},   // released elsewhere
      {{60, 58}, {101, 58}, paint::kBrushAir, paint::kBrushAir, paint::kPressureRadius},  // pressure -> radius
  };
  for (const Case& c : cases) {
    paint::BrushSettings& b = paint::HeaderOf(drawing)->brush;
    b.type = c.type_before;
    b.stylus = 0;
    ControlClick(*this, c.press, {At(plat::PointerEvent::kUp, c.release.h, c.release.v)});
    EXPECT_EQ(b.type, c.type_after) << c.press.h << "->" << c.release.h;
    EXPECT_EQ(b.stylus, c.stylus_after) << c.press.h << "->" << c.release.h;
  }
  EXPECT_EQ(paint::BrushControlItemAt(0, 70, 3), 0);
  EXPECT_EQ(paint::BrushControlItemAt(1, 58, 3), 21);  // the "Stylus:" label, within 3 pixels
}

TEST(SelectionPath, SegmentsCrossOnlyProperly) {
  struct Case {
    double p[4], q[4];
    bool cross;
  };
  const Case cases[] = {
      {{0, 0, 10, 0}, {5, -5, 5, 5}, true},     // a plain crossing
      {{0, 0, 10, 0}, {10, -5, 10, 5}, true},   // touching at the end counts
      {{0, 0, 10, 0}, {11, -5, 11, 5}, false},  // beyond the end
      {{0, 0, 10, 0}, {0, 0, 10, 0}, false},    // the same line: parallel
      {{0, 0, 10, 10}, {0, 1, 10, 11}, false},  // parallel
  };
  for (const Case& c : cases)
    EXPECT_EQ(paint::SegmentsCross(c.p[0], c.p[1], c.p[2], c.p[3], c.q[0], c.q[1], c.q[2], c.q[3]), c.cross)
        << c.q[0] << "," << c.q[1];
}

// Long paths are tested through a grid of the path's segments: the strokes
// toggled are those a plain test of every pair of segments finds.
TEST(SelectionPath, LongPathsSelectWhatEveryPairOfSegmentsSays) {
  uint32_t seed = 7;
  auto unit = [&] {
    seed = seed * 1103515245u + 12345u;
    return double((seed >> 8) & 0xFFFF) / 65536.0;
  };
  struct Case {
    int strokes, stroke_points, path_points;
    double step;  // path step in pixels
  };
  const Case cases[] = {{60, 12, 400, 6.0}, {60, 12, 300, 150.0}, {40, 30, 2000, 2.0}};
  for (const Case& c : cases) {
    paint::MemoryBlock* drawing = paint::NewDrawing();
    for (int i = 0; i < c.strokes; ++i) {
      paint::MemoryBlock* stroke = paint::BeginStroke(0.0f, paint::DefaultBrush());
      double x = unit() * kW, y = unit() * kH;
      for (int k = 0; k < c.stroke_points; ++k, x += unit() * 4 - 2, y += unit() * 4 - 2)
        paint::AppendStrokePoint(stroke, {0.0f, float(x / kW), float(y / kH), 1.0f});
      paint::EndStrokeAfter(drawing, stroke, 1.0f);
      paint::StrokeRecord* r = paint::StrokeAt(drawing, i);
      r->points_drawn = i % 5 == 0 ? c.stroke_points / 2 : c.stroke_points;
    }
    std::vector<float> path;
    double x = kW / 2.0, y = kH / 2.0;
    for (int j = 0; j < c.path_points; ++j) {
      path.push_back(float(x));
      path.push_back(float(y));
      x = std::clamp(x + (unit() - 0.5) * c.step, -5.0, kW + 5.0);
      y = std::clamp(y + (unit() - 0.5) * c.step, -5.0, kH + 5.0);
    }
    std::vector<int> want;
    for (int i = 0; i < c.strokes; ++i) {
      const paint::StrokeRecord* r = paint::StrokeAt(drawing, i);
      const paint::StrokePoint* p = paint::StrokePoints(*r);
      bool hit = false;
      for (int k = 0; k + 1 < r->points_drawn; ++k)
        for (int j = 0; j + 1 < c.path_points; ++j)
          hit = hit || paint::SegmentsCross(double(p[k].x) * kW, double(p[k].y) * kH, double(p[k + 1].x) * kW,
                                            double(p[k + 1].y) * kH, path[2 * j], path[2 * j + 1], path[2 * j + 2],
                                            path[2 * j + 3]);
      want.push_back(hit);
    }
    paint::SelectAlongPath(drawing, path.data(), c.path_points, 1, kW, kH);
    int hits = 0;
    for (int i = 0; i < c.strokes; ++i) {
      EXPECT_EQ(paint::StrokeAt(drawing, i)->selected, want[size_t(i)]) << c.path_points << " stroke " << i;
      hits += want[size_t(i)];
    }
    EXPECT_GT(hits, 0) << c.path_points;  // the case tests something
    paint::DisposeDrawing(drawing);
  }
}

}  // namespace
