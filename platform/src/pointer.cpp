// The pointer, headless: a script of events taken one per poll, the hooks
// that see them, and the cursor shown.
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#include "internal.h"

namespace ombrix::platform {

struct Hook {
  MouseHookProc proc;
  uint32_t thread;
};

namespace {

struct State {
  std::mutex mu;
  std::deque<PointerEvent> script;
  PointerPoint position;
  bool left = false, right = false;
  std::vector<Hook*> hooks;  // newest first
  int cursor = kCursorArrow;
  std::vector<int> cursor_log;
};

State& S() {
  static State* state = new State;
  return *state;
}

unsigned MessageOf(const PointerEvent& e) {
  const bool right = e.button == PointerButton::kRight;
  switch (e.kind) {
    case PointerEvent::kDown:
      return right ? kWmRButtonDown : kWmLButtonDown;
    case PointerEvent::kUp:
      return right ? kWmRButtonUp : kWmLButtonUp;
    case PointerEvent::kMove:
      break;
  }
  return kWmMouseMove;
}

// The hooks the current thread's messages pass through, newest first.
std::vector<Hook*> ChainFor(State& s, uint32_t thread) {
  std::vector<Hook*> chain;
  for (Hook* h : s.hooks)
    if (h->thread == 0 || h->thread == thread) chain.push_back(h);
  return chain;
}

intptr_t CallFrom(const std::vector<Hook*>& chain, size_t at, int code, uintptr_t message, intptr_t lparam) {
  return at < chain.size() ? chain[at]->proc(code, message, lparam) : 0;
}

void Apply(const PointerEvent& e) {
  State& s = S();
  {
    std::lock_guard lock(s.mu);
    s.position = e.point;
    const bool down = e.kind == PointerEvent::kDown;
    if (e.kind != PointerEvent::kMove) (e.button == PointerButton::kRight ? s.right : s.left) = down;
  }
  SetKeyDown(kVkShift, e.shift);
  SetKeyDown(kVkControl, e.control);
  SetKeyDown(kVkAlt, e.alt);
  SetKeyDown(kVkEscape, e.escape);
  if (e.time_us >= 0) detail::SetScriptedClockNoEarlier(e.time_us);
  if (e.pen) {
    TabletScriptPacket packet = *e.pen;
    packet.time = GetTickCount();
    AddTabletPackets({packet});
  }
  std::vector<Hook*> chain;
  {
    std::lock_guard lock(s.mu);
    chain = ChainFor(s, GetCurrentThreadId());
  }
  MouseHookInfo info{e.point, nullptr, 1, 0};
  CallFrom(chain, 0, kHcAction, MessageOf(e), reinterpret_cast<intptr_t>(&info));
}

// Takes the next scripted event; false when there is none.
bool TakeNext() {
  State& s = S();
  PointerEvent e;
  {
    std::lock_guard lock(s.mu);
    if (s.script.empty()) {
      s.left = s.right = false;
      return false;
    }
    e = s.script.front();
    s.script.pop_front();
  }
  Apply(e);
  return true;
}

bool ButtonDown(State& s, int virtual_button) {
  std::lock_guard lock(s.mu);
  return virtual_button == kVkRButton ? s.right : virtual_button == kVkLButton ? s.left : false;
}

}  // namespace

bool GetCursorPos(PointerPoint* point) noexcept {
  if (point == nullptr) return false;
  State& s = S();
  std::lock_guard lock(s.mu);
  *point = s.position;
  return true;
}

bool IsButtonDown(int virtual_button) noexcept { return ButtonDown(S(), virtual_button); }

bool PollPointer(int virtual_button) noexcept {
  try {
    TakeNext();
  } catch (...) {
    ClearPointer();
  }
  return ButtonDown(S(), virtual_button);
}

bool WaitForPress() noexcept {
  try {
    for (;;) {
      State& s = S();
      bool press = false;
      {
        std::lock_guard lock(s.mu);
        if (s.script.empty()) {
          s.left = s.right = false;
          return false;
        }
        press = s.script.front().kind == PointerEvent::kDown;
      }
      TakeNext();
      if (press) return true;
    }
  } catch (...) {
    return false;
  }
}

uint32_t GetCurrentThreadId() noexcept {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t id = next.fetch_add(1);
  return id;
}

Hook* SetWindowsHookEx(int id, MouseHookProc proc, void*, uint32_t thread_id) noexcept {
  if (id != kWhMouse || proc == nullptr) return nullptr;
  try {
    State& s = S();
    std::lock_guard lock(s.mu);
    Hook* h = new Hook{proc, thread_id};
    s.hooks.insert(s.hooks.begin(), h);
    return h;
  } catch (...) {
    return nullptr;
  }
}

bool UnhookWindowsHookEx(Hook* hook) noexcept {
  State& s = S();
  std::lock_guard lock(s.mu);
  auto it = std::find(s.hooks.begin(), s.hooks.end(), hook);
  if (it == s.hooks.end()) return false;
  s.hooks.erase(it);
  delete hook;
  return true;
}

intptr_t CallNextHookEx(Hook* hook, int code, uintptr_t message, intptr_t lparam) noexcept {
  std::vector<Hook*> chain;
  {
    State& s = S();
    std::lock_guard lock(s.mu);
    chain = ChainFor(s, GetCurrentThreadId());
  }
  auto it = std::find(chain.begin(), chain.end(), hook);
  if (it == chain.end()) return 0;
  return CallFrom(chain, size_t(it - chain.begin()) + 1, code, message, lparam);
}

int SetCursor(int cursor) noexcept {
  State& s = S();
  std::lock_guard lock(s.mu);
  const int before = s.cursor;
  s.cursor = cursor;
  try {
    s.cursor_log.push_back(cursor);
  } catch (...) {
  }
  return before;
}

void PushPointerEvents(const std::vector<PointerEvent>& events) {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.script.insert(s.script.end(), events.begin(), events.end());
}

size_t PendingPointerEvents() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.script.size();
}

void DeliverPointerEvent(const PointerEvent& event) { Apply(event); }

void ClearPointer() {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.script.clear();
  s.left = s.right = false;
}

size_t InstalledHookCount() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.hooks.size();
}

int CurrentCursor() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.cursor;
}

std::vector<int> CursorLog() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.cursor_log;
}

void ClearCursorLog() {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.cursor_log.clear();
}

}  // namespace ombrix::platform
