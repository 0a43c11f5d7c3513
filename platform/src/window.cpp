// Window classes and plain top-level windows, headless: records that run
// their class's procedure for every message sent to them.
#include <ombrix/platform/dialog.h>
#include <ombrix/platform/window.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>

namespace ombrix::platform {

struct Window {
  std::string class_key;
  WindowProc proc = nullptr;
  size_t record = 0;  // index into the records (valid until they are cleared)
  uint64_t generation = 0;
};

namespace {

struct State {
  std::mutex mu;
  std::map<std::string, WindowProc> classes;  // by lower-case name
  std::map<Window*, std::unique_ptr<Window>> live;
  std::vector<WindowRecord> records;
  uint64_t generation = 0;  // records cleared this many times
  int fail_nth[2] = {};
  int calls[2] = {};
};

State& S() {
  static State* state = new State;
  return *state;
}

std::string Key(const char* name) {
  std::string key = name;
  for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

// Counts a call of `call`; true when it is the one told to fail.
bool Failing(State& s, WindowCall call) {
  const int i = int(call);
  ++s.calls[i];
  return s.fail_nth[i] != 0 && s.calls[i] == s.fail_nth[i];
}

WindowProc ProcOf(Window* window) {
  State& s = S();
  std::lock_guard lock(s.mu);
  return window != nullptr && s.live.count(window) ? window->proc : nullptr;
}

}  // namespace

bool RegisterWindowClass(const WindowClass* window_class) noexcept {
  if (window_class == nullptr || window_class->name == nullptr || window_class->name[0] == '\0' ||
      window_class->proc == nullptr)
    return false;
  State& s = S();
  std::lock_guard lock(s.mu);
  if (Failing(s, WindowCall::kRegisterClass)) return false;
  try {
    return s.classes.emplace(Key(window_class->name), window_class->proc).second;
  } catch (...) {
    return false;
  }
}

bool UnregisterWindowClass(const char* name) noexcept {
  if (name == nullptr) return false;
  State& s = S();
  std::lock_guard lock(s.mu);
  try {
    const std::string key = Key(name);
    if (!s.classes.count(key)) return false;
    for (const auto& [w, window] : s.live)
      if (window->class_key == key) return false;
    s.classes.erase(key);
    return true;
  } catch (...) {
    return false;
  }
}

Window* CreateWindowEx(uint32_t ex_style, const char* class_name, const char* title, uint32_t style, int x, int y,
                       int width, int height, Window* parent) noexcept {
  if (class_name == nullptr) return nullptr;
  State& s = S();
  std::lock_guard lock(s.mu);
  try {
    if (Failing(s, WindowCall::kCreate)) return nullptr;
    const std::string key = Key(class_name);
    const auto found = s.classes.find(key);
    if (found == s.classes.end() || (parent != nullptr && !s.live.count(parent))) return nullptr;
    auto window = std::make_unique<Window>();
    window->class_key = key;
    window->proc = found->second;
    window->record = s.records.size();
    window->generation = s.generation;
    s.records.push_back(WindowRecord{class_name, title ? title : "", ex_style, style, x, y, width, height, false});
    Window* w = window.get();
    s.live.emplace(w, std::move(window));
    return w;
  } catch (...) {
    return nullptr;
  }
}

bool DestroyWindow(Window* window) noexcept {
  const WindowProc proc = ProcOf(window);
  if (proc == nullptr) return false;
  proc(window, kWmDestroy, 0, 0);
  State& s = S();
  std::lock_guard lock(s.mu);
  const auto found = s.live.find(window);
  if (found == s.live.end()) return false;  // destroyed by its own procedure
  if (window->generation == s.generation && window->record < s.records.size())
    s.records[window->record].destroyed = true;
  s.live.erase(found);
  return true;
}

bool IsWindow(Window* window) noexcept { return ProcOf(window) != nullptr; }

intptr_t SendWindowMessage(Window* window, unsigned msg, uintptr_t wparam, intptr_t lparam) noexcept {
  const WindowProc proc = ProcOf(window);
  return proc != nullptr ? proc(window, msg, wparam, lparam) : 0;
}

intptr_t DefWindowProc(Window*, unsigned, uintptr_t, intptr_t) noexcept { return 0; }

std::vector<WindowRecord> WindowRecords() {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.records;
}

bool IsWindowClassRegistered(const std::string& name) {
  State& s = S();
  std::lock_guard lock(s.mu);
  return s.classes.count(Key(name.c_str())) != 0;
}

void FailWindowCall(WindowCall call, int nth) {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.calls[int(call)] = 0;
  s.fail_nth[int(call)] = nth;
}

void ClearWindowRecords() {
  State& s = S();
  std::lock_guard lock(s.mu);
  s.records.clear();
  ++s.generation;
  std::fill(std::begin(s.fail_nth), std::end(s.fail_nth), 0);
  std::fill(std::begin(s.calls), std::end(s.calls), 0);
}

}  // namespace ombrix::platform
