// The scripted pointer, the thread mouse hook and the headless view.
#include <gtest/gtest.h>
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/view.h>

#include <cmath>
#include <thread>

namespace ombrix::platform {
namespace {

class PointerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetHeadless(); }
  void TearDown() override { ResetHeadless(); }
};

PointerEvent Ev(PointerEvent::Kind kind, int x, int y, PointerButton b = PointerButton::kLeft, int64_t t = -1) {
  PointerEvent e;
  e.kind = kind;
  e.point = {x, y};
  e.button = b;
  e.time_us = t;
  return e;
}

TEST_F(PointerTest, ModalLoopFollowsTheScriptAndEndsWhenItRunsOut) {
  struct Case {
    const char* what;
    std::vector<PointerEvent> script;
    int polls_down;  // polls that answer "still down"
  };
  const Case cases[] = {
      {"released", {Ev(PointerEvent::kMove, 1, 1), Ev(PointerEvent::kUp, 2, 2)}, 1},
      {"no release", {Ev(PointerEvent::kMove, 1, 1), Ev(PointerEvent::kMove, 3, 1)}, 2},
      {"nothing scripted", {}, 0},
  };
  for (const Case& c : cases) {
    ClearPointer();
    DeliverPointerEvent(Ev(PointerEvent::kDown, 0, 0));
    PushPointerEvents(c.script);
    int down = 0;
    for (int guard = 0; guard < 100 && PollPointer(kVkLButton); ++guard) ++down;
    EXPECT_EQ(down, c.polls_down) << c.what;
    EXPECT_FALSE(IsButtonDown(kVkLButton)) << c.what;
  }
}

TEST_F(PointerTest, EventsMoveThePointerKeysAndClock) {
  DeliverPointerEvent(Ev(PointerEvent::kDown, 5, 6, PointerButton::kLeft, 1000));
  PointerEvent move = Ev(PointerEvent::kMove, 7, 8, PointerButton::kLeft, 17000);
  move.shift = true;
  PushPointerEvents({move});
  ASSERT_TRUE(PollPointer(kVkLButton));
  PointerPoint p;
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 7);
  EXPECT_EQ(p.y, 8);
  EXPECT_EQ(GetTickCount(), 17u);
  EXPECT_TRUE(GetKeyState(kVkShift) & kKeyDownBit);
  EXPECT_FALSE(GetKeyState(kVkControl) & kKeyDownBit);
  // A wait moved the stopped clock past the next event's time: it stays.
  Sleep(5);
  PushPointerEvents({Ev(PointerEvent::kMove, 7, 8, PointerButton::kLeft, 20000),
                     Ev(PointerEvent::kMove, 7, 8, PointerButton::kLeft, 30000)});
  ASSERT_TRUE(PollPointer(kVkLButton));
  EXPECT_EQ(GetTickCount(), 22u);
  ASSERT_TRUE(PollPointer(kVkLButton));
  EXPECT_EQ(GetTickCount(), 30u);
}

TEST_F(PointerTest, WaitForPressSkipsMovesAndFailsAtTheEnd) {
  PushPointerEvents({Ev(PointerEvent::kMove, 1, 1), Ev(PointerEvent::kDown, 4, 4, PointerButton::kRight)});
  ASSERT_TRUE(WaitForPress());
  EXPECT_TRUE(IsButtonDown(kVkRButton));
  EXPECT_FALSE(WaitForPress());
  EXPECT_FALSE(IsButtonDown(kVkRButton));
}

// A hook that records the presses it sees and passes everything on.
std::vector<unsigned> g_seen;
Hook* g_hook = nullptr;
intptr_t Recorder(int code, uintptr_t message, intptr_t lparam) {
  if (message != kWmMouseMove) g_seen.push_back(unsigned(message));
  return CallNextHookEx(g_hook, code, message, lparam);
}
int g_inner_calls = 0;
intptr_t Inner(int, uintptr_t, intptr_t) { return ++g_inner_calls; }

TEST_F(PointerTest, ThreadHookSeesEveryMessageOnItsThreadOnly) {
  g_seen.clear();
  g_inner_calls = 0;
  Hook* inner = SetWindowsHookEx(kWhMouse, Inner, nullptr, GetCurrentThreadId());
  g_hook = SetWindowsHookEx(kWhMouse, Recorder, nullptr, GetCurrentThreadId());
  ASSERT_NE(inner, nullptr);
  ASSERT_NE(g_hook, nullptr);
  EXPECT_EQ(SetWindowsHookEx(2, Inner, nullptr, 0), nullptr);
  EXPECT_EQ(InstalledHookCount(), 2u);

  DeliverPointerEvent(Ev(PointerEvent::kDown, 0, 0, PointerButton::kRight));
  PushPointerEvents({Ev(PointerEvent::kMove, 1, 0), Ev(PointerEvent::kUp, 1, 0, PointerButton::kRight),
                     Ev(PointerEvent::kDown, 2, 0)});
  while (PendingPointerEvents() > 0) PollPointer(kVkLButton);
  // Another thread's events do not reach this thread's hooks.
  std::thread([] { DeliverPointerEvent(Ev(PointerEvent::kDown, 0, 0)); }).join();

  const std::vector<unsigned> expected = {kWmRButtonDown, kWmRButtonUp, kWmLButtonDown};
  EXPECT_EQ(g_seen, expected);
  EXPECT_EQ(g_inner_calls, 4);  // passed on, the move included
  EXPECT_TRUE(UnhookWindowsHookEx(g_hook));
  EXPECT_FALSE(UnhookWindowsHookEx(g_hook));
  EXPECT_TRUE(UnhookWindowsHookEx(inner));
  EXPECT_EQ(InstalledHookCount(), 0u);
}

TEST_F(PointerTest, CursorIsRecorded) {
  EXPECT_EQ(SetCursor(151), kCursorArrow);
  EXPECT_EQ(SetCursor(kCursorNone), 151);
  EXPECT_EQ(CurrentCursor(), kCursorNone);
  EXPECT_EQ(CursorLog(), (std::vector<int>{151, kCursorNone}));
}

TEST_F(PointerTest, ViewDrawsAndTheScreenReadsItBack) {
  View* v = CreateView(12, 10);
  SetViewPixels(v, std::vector<uint32_t>(120, 0x102030));
  SetScreenView(v);
  EXPECT_EQ(GetScreenPixel(3, 3), MakeColorRef(0x10, 0x20, 0x30));

  ASSERT_TRUE(ViewFillDisc(v, 5.0, 5.0, 2.0, MakeColorRef(255, 0, 0)));
  const std::vector<uint32_t> px = ViewPixels(v);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) {
      const double dx = x + 0.5 - 5.0, dy = y + 0.5 - 5.0;
      const uint32_t want = dx * dx + dy * dy <= 4.0 ? 0xFF0000u : 0x102030u;
      EXPECT_EQ(px[size_t(y * 12 + x)], want) << x << "," << y;
    }
  EXPECT_EQ(GetScreenPixel(4, 4), MakeColorRef(255, 0, 0));
  EXPECT_EQ(GetScreenPixel(-1, 4), 0u);

  // Inverting twice restores the pixels; once changes some.
  ASSERT_TRUE(ViewInvertCircle(v, 6, 5, 3));
  EXPECT_NE(ViewPixels(v), px);
  ASSERT_TRUE(ViewInvertCircle(v, 6, 5, 3));
  EXPECT_EQ(ViewPixels(v), px);

  ASSERT_TRUE(ViewLine(v, 0, 9, 11, 9, MakeColorRef(0, 0, 255)));
  for (int x = 0; x < 12; ++x) EXPECT_EQ(GetScreenPixel(x, 9), MakeColorRef(0, 0, 255));
  const uint32_t bitmap[] = {0x010203, 0x040506};
  ASSERT_TRUE(ViewBlit(v, 10, 0, 2, 1, bitmap, 2));
  EXPECT_EQ(GetScreenPixel(11, 0), MakeColorRef(4, 5, 6));
  EXPECT_EQ(ViewLog(v).size(), 5u);
  EXPECT_EQ(ViewLog(v)[0], "disc 5 5 2 #ff0000");

  // Far-reaching shapes touch only the view; NaN and far lines are refused.
  const std::vector<uint32_t> before = ViewPixels(v);
  EXPECT_TRUE(ViewFillDisc(v, 1e7, 1e7, 1e6, 0));
  EXPECT_TRUE(ViewInvertCircle(v, 0, 0, 2000000000));
  EXPECT_FALSE(ViewFillDisc(v, std::nan(""), 1, 1, 0));
  EXPECT_FALSE(ViewLine(v, 0, 0, 2000000000, 0, 0));
  EXPECT_EQ(ViewPixels(v), before);

  DestroyView(v);
  EXPECT_FALSE(ViewFillDisc(v, 1, 1, 1, 0));
  EXPECT_EQ(GetScreenPixel(4, 4), 0u);
}

}  // namespace
}  // namespace ombrix::platform
