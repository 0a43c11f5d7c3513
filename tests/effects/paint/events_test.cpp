// Painting through the host's composition view: the routing of events, the
// mouse hook (or the host's "gIsSwapped" byte), right clicks, strokes and
// Shift sequences, selection paths, the host's tool, and the overlay.
#include <ombrix/host/custom_ui.h>
#include <ombrix/host/host.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/view.h>

#include <pf/suites.h>

#include "effects/common/effect_test.h"

#include "flat_drawing.h"
#include "globals.h"
#include "local_handles.h"
#include "menu.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using namespace effect_test;
using ombrix::CustomUi;
using ombrix::EventAnswer;
using ombrix::Instance;
using ombrix::PointerPress;
using ombrix::TimeBase;
using ombrix::World;
namespace plat = ombrix::platform;

constexpr A_long kW = 40, kH = 30;

// A program that exports "gIsSwapped" tells Paint the button through it,
// and Paint installs no hook.
#if OMBRIX_TEST_HOST_EXPORTS
constexpr size_t kHooked = 0;
#else
constexpr size_t kHooked = 1;
#endif

struct Stroke {
  paint::StrokeRecord record;
  std::vector<paint::StrokePoint> points;
};

class PaintEvents : public ::testing::Test {
 protected:
  PaintEvents() : dir("paint-events"), host(Options(dir)), effect(host, TestPlugin("paint.aex")) {}
  static ombrix::HostOptions Options(const TestDir& d) {
    ombrix::HostOptions o;
    o.registry_dir = d.path / "registry";
    return o;
  }
  void SetUp() override { plat::ResetHeadless(); }
  void TearDown() override { plat::ResetHeadless(); }

  paint::PaintGlobals& Globals() { return *static_cast<paint::PaintGlobals*>(*effect.global_data()); }

  // The strokes the instance holds, read from its saved bytes.
  std::vector<Stroke> Strokes(Instance& inst) {
    const std::vector<uint8_t> bytes = inst.SequenceDataBytes();
    const PF_UtilCallbacks* u = paint::LocalHandleServices();
    PF_Handle h = u->host_new_handle(A_u_long(bytes.size()));
    std::memcpy(u->host_lock_handle(h), bytes.data(), bytes.size());
    paint::DrawingRef ref{nullptr, h};
    EXPECT_EQ(paint::Unflatten(u, ref).err, PF_Err_NONE);
    std::vector<Stroke> out;
    for (int32_t i = 0; i < paint::StrokeCount(ref.unflat); ++i) {
      const paint::StrokeRecord* r = paint::StrokeAt(ref.unflat, i);
      const paint::StrokePoint* p = paint::StrokePoints(*r);
      out.push_back({*r, std::vector<paint::StrokePoint>(p, p + (p ? r->point_count : 0))});
    }
    paint::DisposeDrawing(u, ref);
    return out;
  }

  TestDir dir;
  ombrix::Host host;
  ombrix::Effect effect;
};

plat::PointerEvent At(plat::PointerEvent::Kind kind, int x, int y, bool shift = false,
                      plat::PointerButton b = plat::PointerButton::kLeft) {
  plat::PointerEvent e;
  e.kind = kind;
  e.point = {x, y};
  e.shift = shift;
  e.button = b;
  return e;
}
constexpr auto kMove = plat::PointerEvent::kMove;
constexpr auto kUp = plat::PointerEvent::kUp;
constexpr auto kDown = plat::PointerEvent::kDown;

TEST_F(PaintEvents, HookIsInstalledOnceForItsWindows) {
  Instance inst(effect, TimeBase{}, kW, kH);
  {
    CustomUi ui(inst, {}, kW, kH);
    ui.NewContext(PF_Window_COMP);
    ui.NewContext(PF_Window_EFFECT);
    EXPECT_EQ(plat::InstalledHookCount(), kHooked);
    ui.CloseContext(PF_Window_COMP);
    EXPECT_EQ(plat::InstalledHookCount(), kHooked);
  }
  EXPECT_EQ(plat::InstalledHookCount(), 0u);
}

TEST_F(PaintEvents, ClickPaintsAStrokeInLayerPixelsThroughTheZoom) {
  Instance inst(effect, TimeBase{}, kW, kH);
  CustomUi ui(inst, {2.0, 4, 2}, 2 * kW + 8, 2 * kH + 4);
  ui.NewContext(PF_Window_COMP);
  plat::PushPointerEvents({At(kMove, 24, 22), At(kMove, 24, 22), At(kMove, 44, 22), At(kUp, 44, 22)});
  const EventAnswer a = ui.Click(PF_Window_COMP, {{14, 22}, false, 0}, 0);
  EXPECT_EQ(a.result.err, PF_Err_NONE);
  EXPECT_TRUE(a.handled);
  EXPECT_TRUE(a.result.out_flags & PF_OutFlag_FORCE_RERENDER);
  const std::vector<Stroke> s = Strokes(inst);
  ASSERT_EQ(s.size(), 1u);
  // View (14, 22), (24, 22), (44, 22) are layer (5, 10), (10, 10), (20, 10);
  // the repeated position adds no point.
  const float xs[] = {5, 10, 20};
  ASSERT_EQ(s[0].points.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(s[0].points[size_t(i)].x * kW, xs[i]) << i;
    EXPECT_FLOAT_EQ(s[0].points[size_t(i)].y * kH, 10.0f) << i;
  }
  // The preview drew discs on the view.
  EXPECT_FALSE(plat::ViewLog(ui.view(PF_Window_COMP)).empty());
}

TEST_F(PaintEvents, HostToolOtherThanTheArrowDoesNotPaint) {
  Instance inst(effect, TimeBase{}, kW, kH);
  CustomUi ui(inst, {}, kW, kH);
  ui.NewContext(PF_Window_COMP);
  host.suites().SetCurrentTool(PF_SuiteTool_ARROW + 1);
  plat::PushPointerEvents({At(kMove, 20, 10), At(kUp, 20, 10)});
  const EventAnswer a = ui.Click(PF_Window_COMP, {{10, 10}, false, 0}, 0);
  host.suites().SetCurrentTool(PF_SuiteTool_ARROW);
  EXPECT_TRUE(a.handled);
  EXPECT_TRUE(a.result.out_flags & PF_OutFlag_REFRESH_UI);
  EXPECT_FALSE(a.result.out_flags & PF_OutFlag_FORCE_RERENDER);
  EXPECT_TRUE(Strokes(inst).empty());
}

TEST_F(PaintEvents, RightClickOpensTheMenuWhateverTheTool) {
  Instance inst(effect, TimeBase{}, kW, kH);
  CustomUi ui(inst, {}, kW, kH);
  ui.NewContext(PF_Window_COMP);
  const int32_t tools[] = {paint::kToolEyedropper, paint::kToolPaint, paint::kToolSelect, paint::kToolEraser};
  for (int32_t tool : tools) {
    Globals().tool = tool;
    plat::ClearMenuRecords();
    plat::PushPointerEvents({At(kMove, 20, 10), At(kUp, 20, 10)});
    ui.Click(PF_Window_COMP, {{10, 10}, true, 0}, 0);
    EXPECT_EQ(plat::MenuRecords().size(), 1u) << tool;
    // The Select tool has nothing to select: Paint takes over.
    EXPECT_EQ(Globals().tool, tool == paint::kToolSelect ? paint::kToolPaint : tool);
  }
  EXPECT_TRUE(Strokes(inst).empty());
}

plat::PointerEvent Timed(plat::PointerEvent e, double seconds) {
  e.time_us = int64_t(seconds * 1e6 + 0.5);
  return e;
}

TEST_F(PaintEvents, ShiftSequencesFileStrokesByThePaintTimingMode) {
  // Stroke 1 is pressed at 1.0 s and released at 1.2 s; stroke 2 pressed at
  // 1.5 s, released at 1.8 s; stroke 3 pressed at 2.0 s.
  struct Case {
    int command;
    double offsets[3];  // seconds after frame 7
  };
  const Case cases[] = {
      {paint::kCmdToCurrentFrame, {0, 0, 0}},
      {paint::kCmdToNextFrame, {0, 1.0 / 24, 2.0 / 24}},
      {paint::kCmdInRealtime, {0, 0.5, 1.0}},    // from press to press
      {paint::kCmdContinuously, {0, 0.2, 0.5}},  // the strokes' drawing times
  };
  for (const Case& c : cases) {
    Instance inst(effect, TimeBase{}, kW, kH);
    CustomUi ui(inst, {}, kW, kH);
    ui.NewContext(PF_Window_COMP);
    plat::PushMenuAnswer(c.command);
    ui.Click(PF_Window_COMP, {{1, 1}, true, 0}, 0);

    plat::SetScriptedClock(1'000'000);
    plat::PushPointerEvents({Timed(At(kMove, 10, 5, true), 1.1), Timed(At(kUp, 10, 5, true), 1.2),
                             Timed(At(kDown, 5, 10, true), 1.5), Timed(At(kMove, 10, 10, true), 1.6),
                             Timed(At(kUp, 10, 10, true), 1.8), Timed(At(kDown, 5, 15, true), 2.0),
                             Timed(At(kMove, 10, 15, true), 2.1), Timed(At(kUp, 10, 15), 2.2)});
    const A_long frame7 = 7 * 100;  // at 24 frames a second (time scale 2400)
    ui.Click(PF_Window_COMP, {{5, 5}, false, PF_Mod_SHIFT_KEY}, frame7);
    const std::vector<Stroke> s = Strokes(inst);
    ASSERT_EQ(s.size(), 3u) << c.command;
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(s[size_t(i)].record.paint_time, 7.0 / 24 + c.offsets[i], 1e-5) << c.command << " " << i;
      EXPECT_FLOAT_EQ(s[size_t(i)].points[0].y * kH, float(5 * (i + 1))) << i;
    }
  }
}

TEST_F(PaintEvents, SelectionPathTogglesDrawnStrokesOnce) {
  struct Case {
    const char* what;
    bool rendered;  // the stroke was drawn at the last render
    int32_t selected;
  };
  const Case cases[] = {{"drawn", true, 1}, {"never drawn", false, 0}};
  for (const Case& c : cases) {
    Instance inst(effect, TimeBase{}, kW, kH);
    CustomUi ui(inst, {}, kW, kH);
    ui.NewContext(PF_Window_COMP);
    Globals().tool = paint::kToolPaint;
    plat::PushPointerEvents({At(kMove, 20, 10), At(kMove, 30, 10), At(kUp, 30, 10)});
    ui.Click(PF_Window_COMP, {{10, 10}, false, 0}, 0);
    if (c.rendered) {
      World in(kW, kH), out(kW, kH);
      ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
    }
    // Down across the stroke, along under it, and back up across it.
    Globals().tool = paint::kToolSelect;
    plat::PushPointerEvents({At(kMove, 15, 15), At(kMove, 25, 15), At(kMove, 25, 5), At(kUp, 25, 5)});
    ui.Click(PF_Window_COMP, {{15, 5}, false, 0}, 0);
    const std::vector<Stroke> s = Strokes(inst);
    ASSERT_EQ(s.size(), 1u) << c.what;
    EXPECT_EQ(s[0].record.selected, c.selected) << c.what;
  }
}

TEST_F(PaintEvents, OverlayIsDrawnUnlessTheHostSaysNotTo) {
  Instance inst(effect, TimeBase{}, kW, kH);
  CustomUi ui(inst, {}, kW, kH);
  ui.NewContext(PF_Window_COMP);
  plat::View* view = ui.view(PF_Window_COMP);
  EventAnswer a = ui.Draw(PF_Window_COMP, 0, true);
  EXPECT_FALSE(a.handled);
  EXPECT_TRUE(plat::ViewLog(view).empty());
  a = ui.Draw(PF_Window_COMP, 0);
  EXPECT_TRUE(a.handled);
  const std::vector<std::string> log = plat::ViewLog(view);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log[0].find("0 Strokes"), std::string::npos) << log[0];
}

TEST_F(PaintEvents, EventWithoutAWindowToDrawOnAnswers512) {
  Instance inst(effect, TimeBase{}, kW, kH);
  PF_Context context{};
  context.w_type = PF_Window_COMP;
  PF_EventExtra e{};
  e.contextH = &context;
  e.e_type = PF_Event_DRAW;
  EXPECT_EQ(inst.SendEvent(e, 0).err, PF_Err_INTERNAL_STRUCT_DAMAGED);
  // A drag continuing a click is left alone.
  e.e_type = PF_Event_DO_CLICK;
  e.u.do_click.send_drag = 1;
  EXPECT_EQ(inst.SendEvent(e, 0).err, PF_Err_NONE);
}

}  // namespace
