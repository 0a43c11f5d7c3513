// Plain windows, run-time libraries and the scripted tablet driver: exports
// by ordinal and name, packets reaching the queue on the clock, overflow,
// the packet layout, proximity messages and failing calls.
#include <ombrix/platform/clock.h>
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/tablet.h>
#include <ombrix/platform/window.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

namespace plat = ombrix::platform;

struct Sent {
  unsigned msg;
  uintptr_t wparam;
  intptr_t lparam;
};
std::vector<Sent> g_sent;

intptr_t RecordingProc(plat::Window*, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  g_sent.push_back({msg, wparam, lparam});
  return 7;
}

TEST(WindowTest, ClassesAndWindowsLiveAndDieAsTheSystemLetsThem) {
  plat::ResetHeadless();
  g_sent.clear();
  const plat::WindowClass wc{"TestOwner", RecordingProc};
  ASSERT_TRUE(plat::RegisterWindowClass(&wc));
  EXPECT_FALSE(plat::RegisterWindowClass(&wc));  // taken
  EXPECT_EQ(plat::CreateWindowEx(0, "NoSuchClass", "x", 0, 0, 0, 1, 1, nullptr), nullptr);
  plat::Window* w = plat::CreateWindowEx(0, "testowner", "T", plat::kWsPopup, 3, 4, 5, 6, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(plat::SendWindowMessage(w, 0x400, 1, 2), 7);
  EXPECT_FALSE(plat::UnregisterWindowClass("TestOwner"));  // a window of it exists
  EXPECT_TRUE(plat::DestroyWindow(w));
  EXPECT_FALSE(plat::IsWindow(w));
  EXPECT_EQ(plat::SendWindowMessage(w, 0x400, 1, 2), 0);
  ASSERT_EQ(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[1].msg, plat::kWmDestroy);
  EXPECT_TRUE(plat::UnregisterWindowClass("TestOwner"));
  const auto records = plat::WindowRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(records[0].destroyed);
  EXPECT_EQ(records[0].title, "T");

  ASSERT_TRUE(plat::RegisterWindowClass(&wc));
  plat::FailWindowCall(plat::WindowCall::kCreate, 1);
  EXPECT_EQ(plat::CreateWindowEx(0, "TestOwner", "", 0, 0, 0, 1, 1, nullptr), nullptr);
  w = plat::CreateWindowEx(0, "TestOwner", "", 0, 0, 0, 1, 1, nullptr);
  EXPECT_NE(w, nullptr);
  plat::DestroyWindow(w);
  plat::UnregisterWindowClass("TestOwner");
}

TEST(TabletDriverTest, TheLibraryExistsOnlyWithADriverAndExportsByOrdinalAndName) {
  plat::ResetHeadless();
  EXPECT_EQ(plat::LoadLibrary("Wintab32.dll"), nullptr);
  plat::TabletDriver d;
  d.missing_exports = {plat::TabletCall::kOverlap};
  plat::SetTabletDriver(d);
  EXPECT_EQ(plat::LoadLibrary("other.dll"), nullptr);
  plat::SetErrorMode(0x8001);
  plat::Library* lib = plat::LoadLibrary("WINTAB32.DLL");
  ASSERT_NE(lib, nullptr);
  EXPECT_EQ(plat::SetErrorMode(0), 0x8001u);
  EXPECT_EQ(plat::TabletDriverRecords().error_mode_at_load, 0x8001u);
  const struct {
    const char* name;
    uint16_t ordinal;
    bool present;
  } exports[] = {{"WTInfoA", 20, true},           {"WTOpenA", 21, true},    {"WTClose", 22, true},
                 {"WTPacket", 24, true},          {"WTOverlap", 41, false}, {"WTQueueSizeSet", 85, true},
                 {"WTQueuePacketsEx", 200, true}, {"WTNothing", 23, false}};
  for (const auto& e : exports) {
    void* by_name = plat::GetProcAddress(lib, e.name);
    EXPECT_EQ(by_name, plat::GetProcAddressByOrdinal(lib, e.ordinal)) << e.name;
    EXPECT_EQ(by_name != nullptr, e.present) << e.name;
  }
  EXPECT_TRUE(plat::FreeLibrary(lib));
  EXPECT_FALSE(plat::FreeLibrary(lib));
  EXPECT_EQ(plat::GetProcAddress(lib, "WTInfoA"), nullptr);  // unloaded
}

// A driver opened through its exports, with a context on a recording window.
struct Driver {
  explicit Driver(const plat::TabletDriver& d, uint32_t packet_data = 0x5A6) {
    plat::ResetHeadless();
    plat::SetScriptedClock(1'000'000);
    g_sent.clear();
    plat::SetTabletDriver(d);
    lib = plat::LoadLibrary(plat::kTabletLibraryName);
    info = reinterpret_cast<plat::TabletInfoFn>(plat::GetProcAddressByOrdinal(lib, 20));
    open = reinterpret_cast<plat::TabletOpenFn>(plat::GetProcAddressByOrdinal(lib, 21));
    packet = reinterpret_cast<plat::TabletPacketFn>(plat::GetProcAddressByOrdinal(lib, 24));
    queue_size = reinterpret_cast<plat::TabletQueueSizeSetFn>(plat::GetProcAddressByOrdinal(lib, 85));
    queued = reinterpret_cast<plat::TabletQueuePacketsExFn>(plat::GetProcAddressByOrdinal(lib, 200));
    const plat::WindowClass wc{"DriverTestOwner", RecordingProc};
    plat::RegisterWindowClass(&wc);
    owner = plat::CreateWindowEx(0, "DriverTestOwner", "", 0, 0, 0, 1, 1, nullptr);
    plat::TabletLogContext c{};
    info(plat::kWtiDefContext, 0, &c);
    c.packet_data = packet_data;
    c.options &= ~plat::kCxoMessages;
    context = open(owner, &c, 1);
  }
  ~Driver() {
    plat::DestroyWindow(owner);
    plat::UnregisterWindowClass("DriverTestOwner");
    plat::FreeLibrary(lib);
  }
  plat::Library* lib;
  plat::TabletInfoFn info;
  plat::TabletOpenFn open;
  plat::TabletPacketFn packet;
  plat::TabletQueueSizeSetFn queue_size;
  plat::TabletQueuePacketsExFn queued;
  plat::Window* owner;
  plat::TabletContext* context;
};

TEST(TabletDriverTest, PacketsReachTheQueueOnTheClockAndOverflowIsFlagged) {
  plat::TabletDriver d;
  d.in_ext_x = 1000;
  d.in_ext_y = 500;
  d.packets = {{1000, 1, 2, 3, 2}, {1010, 4, 5, 6}, {1020, 7, 8, 9}, {1030, 10, 11, 12}};
  Driver t(d);
  ASSERT_NE(t.context, nullptr);
  ASSERT_TRUE(t.queue_size(t.context, 2));
  uint32_t oldest = 0, newest = 0;
  ASSERT_TRUE(t.queued(t.context, &oldest, &newest));
  EXPECT_EQ(oldest, 1u);
  EXPECT_EQ(newest, 1u);
  uint32_t p[6] = {};  // status, time, cursor, x, y, pressure
  ASSERT_TRUE(t.packet(t.context, 1, p));
  EXPECT_EQ(std::vector<uint32_t>(p, p + 6), (std::vector<uint32_t>{0, 1000, 2, 1, 2, 3}));
  EXPECT_FALSE(t.queued(t.context, &oldest, &newest));  // read: gone

  // Three more arrive in a queue of two: the oldest is lost, the next one
  // read says so.
  plat::AdvanceScriptedClock(30'000);
  ASSERT_TRUE(t.queued(t.context, &oldest, &newest));
  EXPECT_EQ(oldest, 3u);
  EXPECT_EQ(newest, 4u);
  EXPECT_FALSE(t.packet(t.context, 2, p));  // dropped
  ASSERT_TRUE(t.packet(t.context, 4, p));   // the newest, removing the older
  EXPECT_EQ(p[0], plat::kTpsQueueErr);
  EXPECT_EQ(p[3], 10u);
  EXPECT_FALSE(t.queued(t.context, &oldest, &newest));
  EXPECT_FALSE(t.queue_size(t.context, 0));
}

TEST(TabletDriverTest, OutputCoordinatesAndFieldOrderFollowTheContext) {
  plat::TabletDriver d;
  d.in_ext_x = 1000;
  d.in_ext_y = 500;
  d.packets = {{1000, 250, 100, 77, 1}};
  // Output scaled to half the input area; every field asked for, in bit order.
  plat::ResetHeadless();
  plat::SetScriptedClock(1'000'000);
  plat::SetTabletDriver(d);
  plat::Library* lib = plat::LoadLibrary(plat::kTabletLibraryName);
  auto info = reinterpret_cast<plat::TabletInfoFn>(plat::GetProcAddress(lib, "WTInfoA"));
  auto open = reinterpret_cast<plat::TabletOpenFn>(plat::GetProcAddress(lib, "WTOpenA"));
  auto packet = reinterpret_cast<plat::TabletPacketFn>(plat::GetProcAddress(lib, "WTPacket"));
  plat::TabletLogContext c{};
  ASSERT_EQ(info(plat::kWtiDefContext, 0, &c), 172u);
  c.out_org_x = 10;
  c.out_ext_x = 500;
  c.out_ext_y = -250;  // y turned over
  c.packet_data = 0x7FF;
  plat::TabletContext* ctx = open(nullptr, &c, 1);
  ASSERT_NE(ctx, nullptr);
  uint32_t p[11] = {};
  ASSERT_TRUE(packet(ctx, 1, p));
  EXPECT_EQ(p[2], 1000u);              // time
  EXPECT_EQ(p[3], 0x7FFu);             // changed
  EXPECT_EQ(p[4], 1u);                 // serial
  EXPECT_EQ(p[5], 1u);                 // cursor
  EXPECT_EQ(int32_t(p[7]), 10 + 125);  // x: 250 of 1000 onto 500 from 10
  EXPECT_EQ(int32_t(p[8]), -50);       // y: 100 of 500 onto -250
  EXPECT_EQ(p[10], 77u);               // pressure
  c.packet_data = 0x800;               // beyond normal pressure: not offered
  EXPECT_EQ(open(nullptr, &c, 1), nullptr);
  plat::FreeLibrary(lib);
}

TEST(TabletDriverTest, ProximityChangesAreSentToTheOwnerWindow) {
  plat::TabletDriver d;
  d.packets = {{1000, 0, 0, 0, 1, true}, {1005, 0, 0, 0, 1, true}, {1010, 0, 0, 0, 1, false}};
  Driver t(d);
  plat::PumpTabletDriver();
  plat::AdvanceScriptedClock(10'000);
  plat::PumpTabletDriver();
  std::vector<intptr_t> proximity;
  for (const Sent& s : g_sent)
    if (s.msg == plat::kWtProximity) proximity.push_back(s.lparam);
  EXPECT_EQ(proximity, (std::vector<intptr_t>{0x10001, 0}));
  EXPECT_EQ(g_sent.front().msg, plat::kWtCtxOpen);
}

TEST(TabletDriverTest, APenMovingThePointerReportsWhenTheEventIsTaken) {
  Driver t(plat::TabletDriver{});
  plat::PointerEvent move;
  move.time_us = 2'345'678;
  move.pen = plat::TabletScriptPacket{0, 40, 60, 300, plat::kCursorEraser};
  plat::PointerEvent down = move;
  down.kind = plat::PointerEvent::kDown;
  plat::PushPointerEvents({down, move});
  uint32_t oldest = 0, newest = 0;
  EXPECT_FALSE(t.queued(t.context, &oldest, &newest));  // nothing until the pointer is polled
  ASSERT_TRUE(plat::WaitForPress());
  ASSERT_TRUE(t.queued(t.context, &oldest, &newest));
  uint32_t p[6] = {};  // status, time, cursor, x, y, pressure
  ASSERT_TRUE(t.packet(t.context, newest, p));
  EXPECT_EQ(std::vector<uint32_t>(p, p + 6), (std::vector<uint32_t>{0, 2345, plat::kCursorEraser, 40, 60, 300}));
  EXPECT_TRUE(plat::PollPointer(plat::kVkLButton));
  EXPECT_TRUE(t.queued(t.context, &oldest, &newest));
  plat::ClearPointer();
}

TEST(TabletDriverTest, ACallCanBeToldToFail) {
  plat::TabletDriver d;
  d.failures = {{plat::TabletCall::kInfo, 2}, {plat::TabletCall::kQueueSizeSet, 0}};
  Driver t(d);  // its default context was the first info call
  ASSERT_NE(t.context, nullptr);
  EXPECT_EQ(t.info(0, 0, nullptr), 0u);
  EXPECT_NE(t.info(0, 0, nullptr), 0u);
  EXPECT_FALSE(t.queue_size(t.context, 10));
  EXPECT_FALSE(t.queue_size(t.context, 1));
  EXPECT_EQ(plat::TabletDriverRecords().calls[int(plat::TabletCall::kQueueSizeSet)], 2);
}

TEST(ClockTest, SleepOnAStoppedClockMovesItOn) {
  plat::SetScriptedClock(5'000);
  plat::Sleep(7);
  EXPECT_EQ(plat::GetTickCount(), 12u);
  plat::ResetHeadless();
}

}  // namespace
