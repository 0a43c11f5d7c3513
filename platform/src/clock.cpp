// The clocks: the system's monotonic clock, or a clock the host has stopped
// at a time it chose (headless.h).
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>

#include "internal.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace ombrix::platform {
namespace {

struct State {
  std::atomic<bool> scripted{false};
  std::atomic<int64_t> scripted_us{0};
  std::atomic<bool> high_resolution{true};
};

State& S() {
  static State* state = new State;
  return *state;
}

int64_t NowMicroseconds() noexcept {
  const State& s = S();
  if (s.scripted.load()) return s.scripted_us.load();
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(since).count();
}

}  // namespace

bool QueryMicrosecondCounter(int64_t* microseconds) noexcept {
  if (!S().high_resolution.load()) return false;
  if (microseconds) *microseconds = NowMicroseconds();
  return true;
}

uint32_t GetTickCount() noexcept {
  // Floor division, so that a scripted time before zero still counts down.
  const int64_t us = NowMicroseconds();
  const int64_t ms = us >= 0 ? us / 1000 : -((-us + 999) / 1000);
  return uint32_t(uint64_t(ms));
}

void Sleep(uint32_t milliseconds) noexcept {
  State& s = S();
  if (s.scripted.load()) {
    s.scripted_us.fetch_add(int64_t(milliseconds) * 1000);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SetScriptedClock(int64_t microseconds) {
  State& s = S();
  s.scripted_us.store(microseconds);
  s.scripted.store(true);
}

void detail::SetScriptedClockNoEarlier(int64_t microseconds) noexcept {
  State& s = S();
  if (s.scripted.load() && s.scripted_us.load() > microseconds) return;
  SetScriptedClock(microseconds);
}

void AdvanceScriptedClock(int64_t microseconds) {
  State& s = S();
  s.scripted_us.fetch_add(microseconds);
  s.scripted.store(true);
}

void SetHighResolutionCounterPresent(bool present) { S().high_resolution.store(present); }

void UseSystemClock() {
  State& s = S();
  s.scripted.store(false);
  s.high_resolution.store(true);
}

}  // namespace ombrix::platform
