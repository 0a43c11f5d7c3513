// Keyboard state and the beep, headless: states set by the host, beeps counted.
#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>

#include <map>
#include <mutex>

namespace ombrix::platform {
namespace {

struct State {
  std::mutex mu;
  bool down[256] = {};
  std::vector<uint32_t> beeps;
};

State& S() {
  static State* state = new State;
  return *state;
}

}  // namespace

uint16_t GetKeyState(int virtual_key) noexcept {
  if (virtual_key < 0 || virtual_key > 255) return 0;
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.down[virtual_key] ? kKeyDownBit : 0;
}

bool MessageBeep(uint32_t sound_type) noexcept {
  State& s = S();
  std::lock_guard lock(s.mu);
  try {
    s.beeps.push_back(sound_type);
  } catch (...) {
  }
  return true;
}

void SetKeyDown(int virtual_key, bool down) {
  if (virtual_key < 0 || virtual_key > 255) return;
  State& s = S();
  std::lock_guard lock(s.mu);
  s.down[virtual_key] = down;
}

void ReleaseAllKeys() {
  State& s = S();
  std::lock_guard lock(s.mu);
  for (bool& d : s.down) d = false;
}

uint32_t BeepCount(uint32_t sound_type) {
  State& s = S();
  std::lock_guard lock(s.mu);
  uint32_t n = 0;
  for (uint32_t b : s.beeps) n += b == sound_type;
  return n;
}

uint32_t BeepTotal() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return uint32_t(s.beeps.size());
}

std::vector<uint32_t> BeepLog() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.beeps;
}

void ResetBeeps() {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.beeps.clear();
}

}  // namespace ombrix::platform
