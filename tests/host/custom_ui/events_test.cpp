// Events through the host's views: coordinate callbacks, continuing drags,
// the answers acted on, the press fed to the thread hooks, and renders kept
// apart from events.
#include "uiprobe_host.h"

#include <ombrix/host/custom_ui.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/view.h>

#include <pf/suites.h>

#include <chrono>
#include <thread>

namespace ombrix {
namespace {

using testing::UiProbeHost;
using testing::Value;

class UiEvents : public UiProbeHost {
 protected:
  void SetUp() override { platform::ResetHeadless(); }
  void TearDown() override {
    host.suites().SetCurrentTool(PF_SuiteTool_ARROW);
    platform::ResetHeadless();
  }
};

platform::PointerEvent Move(int x, int y, bool up = false) {
  platform::PointerEvent e;
  e.kind = up ? platform::PointerEvent::kUp : platform::PointerEvent::kMove;
  e.point = {x, y};
  return e;
}

TEST_F(UiEvents, CallbacksConvertBetweenViewAndLayer) {
  struct Case {
    ViewGeometry view;
    PF_Point at;
    double layer_x, layer_y;  // worked out by hand
  };
  const Case cases[] = {
      {{1.0, 0, 0}, {12, 7}, 12, 7},
      {{2.0, 10, 4}, {30, 20}, 10, 8},
      {{0.5, 0, 0}, {7, 3}, 14, 6},
      {{4.0, -6, 2}, {3, 3}, 2.25, 0.25},
  };
  Instance inst(effect, TimeBase{}, 32, 32);
  for (const Case& c : cases) {
    CustomUi ui(inst, c.view, 64, 64);
    ui.NewContext(PF_Window_COMP);
    const EventAnswer a = ui.Idle(PF_Window_COMP, c.at, 0, 0);
    const std::string want = "layer " + std::to_string(int(c.layer_x * 65536)) + " " +
                             std::to_string(int(c.layer_y * 65536)) + " view " + std::to_string(c.at.h << 16) + " " +
                             std::to_string(c.at.v << 16);
    EXPECT_EQ(a.result.message, want) << c.view.zoom;
  }
  // A layer point beyond the 16.16 range is held at its largest value, and
  // comes back as that value's view point: 32768 - 1/65536 layer pixels
  // at 1/64 are view pixel 512 less a 64th of a unit, rounded to 512.
  CustomUi far(inst, {1.0 / 64, 0, 0}, 64, 64);
  far.NewContext(PF_Window_COMP);
  EXPECT_EQ(far.Idle(PF_Window_COMP, {30000, 0}, 0, 0).result.message,
            "layer 2147483647 0 view " + std::to_string(512 << 16) + " 0");
}

TEST_F(UiEvents, DragsContinueWhileAskedForAndEndWithTheScript) {
  struct Case {
    const char* what;
    A_long modifiers;
    std::vector<platform::PointerEvent> script;
    int drags;
  };
  const Case cases[] = {
      {"asked, released", PF_Mod_SHIFT_KEY, {Move(1, 1), Move(2, 2), Move(3, 3, true)}, 3},
      {"asked, never released", PF_Mod_SHIFT_KEY, {Move(1, 1), Move(2, 2)}, 3},
      {"not asked", 0, {Move(1, 1), Move(2, 2, true)}, 0},
  };
  Instance inst(effect, TimeBase{}, 16, 16);
  CustomUi ui(inst, {}, 16, 16);
  ui.NewContext(PF_Window_COMP);
  for (const Case& c : cases) {
    platform::ClearPointer();
    platform::PushPointerEvents(c.script);
    const EventAnswer a = ui.Click(PF_Window_COMP, {{0, 0}, false, c.modifiers}, 0);
    EXPECT_EQ(a.drag_events, c.drags) << c.what;
    if (c.drags) {
      EXPECT_EQ(a.result.message, "drags " + std::to_string(c.drags)) << c.what;
    }
    EXPECT_TRUE(a.handled) << c.what;
  }
}

TEST_F(UiEvents, AnswersAreActedOn) {
  World layer(4, 2);
  for (A_long x = 0; x < 4; ++x) layer.At(x, 1) = PF_Pixel{255, 200, 100, 50};
  Instance inst(effect, TimeBase{}, 4, 2);
  inst.SetValue(uiprobe::kStep, Value(1));
  CustomUi ui(inst, {2.0, 1, 0}, 10, 4);
  ui.SetLayer(&layer.pf());
  ui.NewContext(PF_Window_COMP);
  EXPECT_THROW(ui.Click(PF_Window_EFFECT, {}, 0), HostError);  // its context is not open

  // Another tool: nothing painted, the view is only redrawn.
  host.suites().SetCurrentTool(PF_SuiteTool_ARROW + 1);
  EventAnswer a = ui.Click(PF_Window_COMP, {}, 0);
  EXPECT_FALSE(a.rerendered);
  EXPECT_TRUE(a.ui_refreshed);
  EXPECT_EQ(ui.rerenders_asked(), 0);
  EXPECT_TRUE(ui.last_frame().empty());

  // The arrow paints: the frame is rendered again and shown at the zoom.
  host.suites().SetCurrentTool(PF_SuiteTool_ARROW);
  a = ui.Click(PF_Window_COMP, {}, 0);
  EXPECT_TRUE(a.rerendered);
  EXPECT_EQ(ui.rerenders_asked(), 1);
  const std::vector<uint32_t> px = platform::ViewPixels(ui.view(PF_Window_COMP));
  ASSERT_EQ(px.size(), 40u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 10; ++x) {
      // View pixel centre (x + 0.5, y + 0.5) lies over layer ((x + 0.5 - 1) / 2, (y + 0.5) / 2).
      const bool on_layer = x >= 1 && x <= 8;
      const bool painted_row = y >= 2;
      const uint32_t want = on_layer && painted_row ? 0xC86432u : 0u;
      EXPECT_EQ(px[size_t(y * 10 + x)], want) << x << "," << y;
    }
  EXPECT_EQ(platform::GetScreenPixel(5, 3), platform::MakeColorRef(200, 100, 50));
}

// Records right presses.
int g_right_presses = 0;
platform::Hook* g_hook = nullptr;
intptr_t CountRight(int code, uintptr_t message, intptr_t lparam) {
  g_right_presses += message == platform::kWmRButtonDown;
  return platform::CallNextHookEx(g_hook, code, message, lparam);
}

TEST_F(UiEvents, ThePressReachesTheThreadHooksBeforeTheClick) {
  g_right_presses = 0;
  g_hook = platform::SetWindowsHookEx(platform::kWhMouse, CountRight, nullptr, platform::GetCurrentThreadId());
  Instance inst(effect, TimeBase{}, 8, 8);
  CustomUi ui(inst, {}, 8, 8);
  ui.NewContext(PF_Window_COMP);
  ui.Click(PF_Window_COMP, {{1, 1}, true, 0}, 0);
  ui.Click(PF_Window_COMP, {{1, 1}, false, 0}, 0);
  EXPECT_EQ(g_right_presses, 1);
  platform::UnhookWindowsHookEx(g_hook);
}

TEST_F(UiEvents, NoRenderStartsWhileAnEventRuns) {
  Instance inst(effect, TimeBase{}, 8, 8);
  CustomUi ui(inst, {}, 8, 8);
  ui.NewContext(PF_Window_COMP);
  std::thread slow([&] { ui.Idle(PF_Window_COMP, {0, 0}, PF_Mod_CAPS_LOCK_KEY, 0); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  World in(8, 8), out(8, 8);
  ASSERT_EQ(inst.RenderFrame(0, in.pf(), out.pf()).err, PF_Err_NONE);
  slow.join();
  // The render's entry comes after the event's end.
  const std::string log = testing::SavedOf(inst.SequenceDataBytes()).log;
  EXPECT_NE(log.find("EUeURU"), std::string::npos) << log;
}

}  // namespace
}  // namespace ombrix
