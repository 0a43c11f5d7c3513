// Paint's tablet against the scripted driver: opening with the failures that
// leave mouse mode, the conversion factors, pressure, the eraser end,
// proximity and the waits for a fresh packet.
#include "tablet.h"

#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/window.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace plat = ombrix::platform;
using paint::PaintGlobals;

namespace {

constexpr int64_t kStartUs = 1'000'000;  // the clock stands at tick 1000

// A fresh process state: no driver, nothing bound, the clock stopped.
struct TabletTest : ::testing::Test {
  void SetUp() override {
    paint::UnloadTablet();
    plat::ResetHeadless();
    plat::SetScriptedClock(kStartUs);
  }
  void TearDown() override {
    paint::UnloadTablet();
    plat::ResetHeadless();
  }
  // Detects and opens as GLOBAL_SETUP does.
  PaintGlobals Open() {
    PaintGlobals g;
    paint::InitPaintGlobals(&g);
    paint::DetectTablet();
    paint::OpenTablet(&g);
    return g;
  }
};

void ExpectMouseMode(const PaintGlobals& g, const std::string& why) {
  EXPECT_EQ(g.tablet, nullptr) << why;
  EXPECT_FALSE(g.tablet_available || g.tablet_in_use || g.tablet_has_pressure) << why;
  EXPECT_EQ(g.x_scale, 1.0f) << why;
  EXPECT_EQ(g.y_scale, 1.0f) << why;
  EXPECT_EQ(g.x_offset, 0.0f) << why;
  EXPECT_EQ(g.y_offset, 0.0f) << why;
  EXPECT_EQ(g.pressure_scale, 1.0f) << why;
  EXPECT_EQ(g.pressure_offset, 0.0f) << why;
  EXPECT_EQ(paint::PenPressure(&g), 1.0f) << why;
  float x = 0, y = 0;
  EXPECT_FALSE(paint::PenScreenPosition(&g, &x, &y)) << why;
}

TEST_F(TabletTest, EveryFailureWhileOpeningLeavesMouseModeQuietly) {
  using Call = plat::TabletCall;
  const struct {
    const char* why;
    std::function<void(plat::TabletDriver*)> set;
    bool class_registered;
    int contexts_left;
  } cases[] = {
      {"no driver", nullptr, false, 0},
      {"detection fails",
       [](plat::TabletDriver* d) {
         d->failures = {{Call::kInfo, 1}};
       },
       false, 0},
      {"no default context",
       [](plat::TabletDriver* d) {
         d->failures = {{Call::kInfo, 2}};
       },
       true, 0},
      {"open fails",
       [](plat::TabletDriver* d) {
         d->failures = {{Call::kOpen, 0}};
       },
       true, 0},
      {"no queue size taken", [](plat::TabletDriver* d) { d->largest_queue = 0; }, true, 0},
      {"queue sizing fails",
       [](plat::TabletDriver* d) {
         d->failures = {{Call::kQueueSizeSet, 0}};
       },
       true, 0},
      {"no open function", [](plat::TabletDriver* d) { d->missing_exports = {Call::kOpen}; }, true, 0},
      {"no info function", [](plat::TabletDriver* d) { d->missing_exports = {Call::kInfo}; }, false, 0},
      {"class not registered", [](plat::TabletDriver*) { plat::FailWindowCall(plat::WindowCall::kRegisterClass, 1); },
       false, 0},
      {"no owner window", [](plat::TabletDriver*) { plat::FailWindowCall(plat::WindowCall::kCreate, 1); }, true, 0},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.set) {
      plat::TabletDriver d;
      c.set(&d);
      plat::SetTabletDriver(d);
    }
    const PaintGlobals g = Open();
    ExpectMouseMode(g, c.why);
    EXPECT_EQ(plat::IsWindowClassRegistered("Ombrix1PaintWClass"), c.class_registered) << c.why;
    EXPECT_EQ(plat::TabletDriverRecords().open_contexts, c.contexts_left) << c.why;
  }
}

TEST_F(TabletTest, QueueSizesAreTriedDownFromFiveTimesTheRate) {
  const struct {
    uint32_t rate;
    int largest;
    int first_tried, accepted, tries;
  } cases[] = {
      {100, 1024, 500, 500, 1},
      {100, 120, 500, 120, 381},
      {0, 1024, 500, 500, 1},  // no rate reported: the default rate
      {100, 0, 500, 0, 500},   // nothing taken: closed again
  };
  for (const auto& c : cases) {
    SetUp();
    plat::TabletDriver d;
    d.packet_rate = c.rate;
    d.largest_queue = c.largest;
    plat::SetTabletDriver(d);
    Open();
    const plat::TabletDriverRecord r = plat::TabletDriverRecords();
    ASSERT_EQ(int(r.queue_sizes_tried.size()), c.tries) << c.rate << " " << c.largest;
    EXPECT_EQ(r.queue_sizes_tried.front(), c.first_tried);
    EXPECT_EQ(r.queue_sizes_tried.back(), c.accepted == 0 ? 1 : c.accepted);
    EXPECT_EQ(r.queue_size, c.accepted);
    EXPECT_EQ(r.overlaps, c.accepted == 0 ? 0 : 1);
  }
}

TEST_F(TabletTest, ContextOwnerWindowAndLibraryAreAsPaintAsksThem) {
  plat::TabletDriver d;
  d.in_ext_x = 3000;
  d.in_ext_y = 2000;
  plat::SetTabletDriver(d);
  const PaintGlobals g = Open();
  ASSERT_NE(g.tablet, nullptr);
  const plat::TabletDriverRecord r = plat::TabletDriverRecords();
  ASSERT_EQ(r.opened.size(), 1u);
  const plat::TabletLogContext& c = r.opened[0];
  EXPECT_EQ(c.packet_data, 0x5A6u);
  EXPECT_EQ(c.packet_mode, 2u);
  EXPECT_EQ(c.options & plat::kCxoMessages, 0u);
  EXPECT_EQ(c.options & plat::kCxoSystem, plat::kCxoSystem);  // the other options kept
  EXPECT_EQ(c.out_org_x, 0);
  EXPECT_EQ(c.out_org_y, 0);
  EXPECT_EQ(c.out_ext_x, 3000);
  EXPECT_EQ(c.out_ext_y, 2000);
  EXPECT_EQ(r.error_mode_at_load, 0x8001u);
  EXPECT_EQ(r.loads, 1);
  EXPECT_EQ(plat::SetErrorMode(0), 0u);  // restored after loading
  const auto windows = plat::WindowRecords();
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].title, "OBPaintWtb");
  EXPECT_EQ(windows[0].style, 0x88000000u);
  EXPECT_EQ(windows[0].x, -10000);
  EXPECT_EQ(windows[0].y, -10000);
  EXPECT_EQ(windows[0].width * windows[0].height, 1);

  // A second setup keeps the context and the window.
  PaintGlobals again = Open();
  EXPECT_EQ(again.tablet, g.tablet);
  EXPECT_EQ(plat::TabletDriverRecords().opened.size(), 1u);

  paint::UnloadTablet();
  const plat::TabletDriverRecord after = plat::TabletDriverRecords();
  EXPECT_EQ(after.open_contexts, 0);
  EXPECT_EQ(after.frees, after.loads);
  EXPECT_TRUE(plat::WindowRecords()[0].destroyed);
  EXPECT_FALSE(plat::IsWindowClassRegistered("Ombrix1PaintWClass"));
}

TEST_F(TabletTest, ConversionFactorsAndPositions) {
  // Expected values worked out by hand from the extents and origins.
  const struct {
    int32_t in_ext_x, in_ext_y, sys_org_x, sys_org_y, sys_ext_x, sys_ext_y;
    int32_t px, py;
    float x_scale, y_scale, x_offset, y_offset, sx, sy;
  } cases[] = {
      {3840, 2160, 0, 0, 1920, 1080, 1001, 1001, 0.5f, 0.5f, 0, 1080, 500.5f, 579.5f},
      {3840, 2160, 100, 50, 1920, 1080, 0, 0, 0.5f, 0.5f, 100, 1130, 100, 1130},
      {960, 540, -1920, 0, 1920, 1080, 3, 539, 2, 2, -1920, 1080, -1914, 2},
      // An input area of zero extent: packets taken as pixels, nothing divided by 0.
      {0, 0, 0, 0, 1920, 1080, 0, 0, 1, 1, 0, 1080, 0, 1080},
  };
  for (const auto& c : cases) {
    SetUp();
    plat::TabletDriver d;
    d.in_ext_x = c.in_ext_x, d.in_ext_y = c.in_ext_y;
    d.sys_org_x = c.sys_org_x, d.sys_org_y = c.sys_org_y, d.sys_ext_x = c.sys_ext_x, d.sys_ext_y = c.sys_ext_y;
    d.packets = {{1000, c.px, c.py, 512}};
    plat::SetTabletDriver(d);
    const PaintGlobals g = Open();
    ASSERT_TRUE(g.tablet_available) << c.in_ext_x;
    EXPECT_EQ(g.x_scale, c.x_scale) << c.in_ext_x;
    EXPECT_EQ(g.y_scale, c.y_scale) << c.in_ext_x;
    EXPECT_EQ(g.x_offset, c.x_offset) << c.in_ext_x;
    EXPECT_EQ(g.y_offset, c.y_offset) << c.in_ext_x;
    float x = NAN, y = NAN;
    ASSERT_TRUE(paint::PenScreenPosition(&g, &x, &y));
    EXPECT_EQ(x, c.sx) << c.in_ext_x;
    EXPECT_EQ(y, c.sy) << c.in_ext_x;
  }
}

TEST(TabletClientTest, ClientPositionsKeepTheSubPixelPart) {
  // A window whose client area starts at (100, 50) on the screen.
  const paint::ScreenToClientFn to_client = [](void*, int32_t* x, int32_t* y) { *x -= 100, *y -= 50; };
  const struct {
    float sx, sy, x, y;
  } cases[] = {{500.5f, 579.25f, 400.5f, 529.25f}, {100, 50, 0, 0}, {-3.75f, 49.5f, -103.75f, -0.5f}};
  for (const auto& c : cases) {
    float x = NAN, y = NAN;
    paint::ClientFromScreen(c.sx, c.sy, to_client, nullptr, &x, &y);
    EXPECT_EQ(x, c.x) << c.sx;
    EXPECT_EQ(y, c.y) << c.sy;
  }
}

TEST_F(TabletTest, PressureOnItsAxis) {
  const struct {
    bool axis;
    int32_t min, max;
    uint32_t raw;
    bool has_pressure;
    double want;
  } cases[] = {
      {true, 0, 1023, 511, true, 511.0 / 1023.0}, {true, 0, 1023, 1023, true, 1.0},  {true, 0, 1023, 0, true, 0.0},
      {true, 100, 300, 200, true, 0.5},           {false, 0, 1023, 511, false, 1.0},  // no axis: constant 1
      {true, 512, 512, 511, false, 1.0},  // an empty range: constant 1, no division by 0
  };
  for (const auto& c : cases) {
    SetUp();
    plat::TabletDriver d;
    d.pressure_axis = c.axis;
    d.pressure_min = c.min;
    d.pressure_max = c.max;
    d.packets = {{1000, 0, 0, c.raw}};
    plat::SetTabletDriver(d);
    const PaintGlobals g = Open();
    ASSERT_TRUE(g.tablet_available);
    EXPECT_EQ(g.tablet_has_pressure, c.has_pressure) << c.raw;
    EXPECT_TRUE(std::isfinite(g.pressure_scale) && std::isfinite(g.pressure_offset)) << c.raw;
    EXPECT_NEAR(paint::PenPressure(&g), c.want, 1e-7) << c.min << ".." << c.max << " " << c.raw;
  }
  // Without a pressure axis answer, the third info call.
  SetUp();
  plat::TabletDriver d;
  d.failures = {{plat::TabletCall::kInfo, 3}};
  d.packets = {{1000, 0, 0, 7}};
  plat::SetTabletDriver(d);
  const PaintGlobals g = Open();
  EXPECT_TRUE(g.tablet_available);
  EXPECT_FALSE(g.tablet_has_pressure);
  EXPECT_EQ(paint::PenPressure(&g), 1.0f);
}

TEST_F(TabletTest, CursorKindsAndTheEraserEnd) {
  const struct {
    uint32_t cursor;
    int32_t kind;
    int32_t paint_brush, eraser_brush;  // what types 2 and 10 become
  } cases[] = {
      {1, paint::kCursorKindPenTip, 2, 2},   {4, paint::kCursorKindPenTip, 2, 2}, {2, paint::kCursorKindEraser, 10, 10},
      {5, paint::kCursorKindEraser, 10, 10}, {0, paint::kCursorKindPuck, 2, 10},  {3, paint::kCursorKindPuck, 2, 10},
      {6, paint::kCursorKindNone, 2, 10},
  };
  for (const auto& c : cases) {
    SetUp();
    plat::TabletDriver d;
    d.packets = {{1000, 0, 0, 0, c.cursor}};
    plat::SetTabletDriver(d);
    const PaintGlobals g = Open();
    const int32_t kind = paint::PenCursorKind(&g);
    EXPECT_EQ(kind, c.kind) << c.cursor;
    EXPECT_EQ(paint::BrushTypeForCursor(2, kind), c.paint_brush) << c.cursor;
    EXPECT_EQ(paint::BrushTypeForCursor(10, kind), c.eraser_brush) << c.cursor;
  }
  // Only brush types 1-4 and 9-12 change.
  EXPECT_EQ(paint::BrushTypeForCursor(4, paint::kCursorKindEraser), 12);
  EXPECT_EQ(paint::BrushTypeForCursor(5, paint::kCursorKindEraser), 5);
  EXPECT_EQ(paint::BrushTypeForCursor(13, paint::kCursorKindPenTip), 13);
}

TEST_F(TabletTest, ProximityFollowsTheDriversMessages) {
  plat::TabletDriver d;
  d.packets = {{1000, 0, 0, 0, 1, true}, {1010, 0, 0, 0, 1, false}, {1020, 0, 0, 0, 1, true}};
  plat::SetTabletDriver(d);
  const PaintGlobals g = Open();
  const bool want[] = {true, false, true};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(paint::PenInProximity(&g), want[i]) << i;
    plat::AdvanceScriptedClock(10'000);
  }
  PaintGlobals none;
  paint::InitPaintGlobals(&none);
  EXPECT_FALSE(paint::PenInProximity(&none));
}

TEST_F(TabletTest, StalePacketsAreWaitedForOnThePlatformClock) {
  // At 100 packets a second a wait is 1000 / 300 ms, truncated to 3 ms; at
  // 0 (unreported) the default rate gives the same.
  EXPECT_EQ(paint::StalePacketPause(100), 3u);
  EXPECT_EQ(paint::StalePacketPause(0), 3u);
  EXPECT_EQ(paint::StalePacketPause(50), 6u);
  EXPECT_EQ(paint::StalePacketPause(400), 0u);

  const struct {
    const char* why;
    uint32_t rate;
    int largest_queue;
    std::vector<plat::TabletScriptPacket> packets;
    int64_t waited_us;  // on the second reading
    float want_x;
  } cases[] = {
      // The first reading takes the packet at 1000; the second finds only
      // it and waits three times 3 ms.
      {"stale", 100, 1024, {{1000, 10}}, 9'000, 10},
      {"stale, rate 0", 0, 1024, {{1000, 10}}, 9'000, 10},
      {"stale, rate 50", 50, 1024, {{1000, 10}}, 18'000, 10},
      // A packet due at 1005 is found after the second wait.
      {"fresh soon", 100, 1024, {{1000, 10}, {1005, 20}}, 6'000, 20},
      // Three packets into a queue of two: the newest follows lost ones and
      // is waited on six times.
      {"lost packets", 100, 2, {{1000, 10}, {1000, 11}, {1000, 12}}, 18'000, 12},
  };
  for (const auto& c : cases) {
    SetUp();
    plat::TabletDriver d;
    d.in_ext_x = d.sys_ext_x;  // scale 1
    d.packet_rate = c.rate;
    d.largest_queue = c.largest_queue;
    d.packets = c.packets;
    plat::SetTabletDriver(d);
    const PaintGlobals g = Open();
    float x = 0, y = 0;
    if (std::string(c.why) != "lost packets") {
      ASSERT_TRUE(paint::PenScreenPosition(&g, &x, &y)) << c.why;
      EXPECT_EQ(x, 10.0f) << c.why;
    } else {
      plat::AdvanceScriptedClock(0);
    }
    int64_t before = 0, after = 0;
    plat::QueryMicrosecondCounter(&before);
    ASSERT_TRUE(paint::PenScreenPosition(&g, &x, &y)) << c.why;
    plat::QueryMicrosecondCounter(&after);
    EXPECT_EQ(after - before, c.waited_us) << c.why;
    EXPECT_EQ(x, c.want_x) << c.why;
  }
}

}  // namespace
