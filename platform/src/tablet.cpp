// Run-time libraries and the scripted tablet driver.
//
// The only library there is, headless, is the tablet driver's, and only
// while the host has installed a driver. Its exports are a table of name,
// ordinal and function. The driver keeps one packet list (in time order,
// serial = position + 1); each open context reads it through its own queue:
// the packets from the context's opening up to the current tick count that
// it has not yet consumed, at most its queue size of them.
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/tablet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace ombrix::platform {

struct Library {
  int refs = 0;
};

struct TabletContext {
  uint32_t number = 0;  // what messages carry as wparam
  Window* owner = nullptr;
  TabletLogContext description{};
  uint32_t opened_tick = 0;
  size_t next = 0;         // first packet not yet consumed
  size_t announced = 0;    // packets whose messages were sent
  int queue_size = 8;      // the driver's default
  bool lost = false;       // the queue dropped packets: flag the next one read
  bool proximity = false;  // as last announced
};

namespace {

struct Message {
  Window* window;
  unsigned msg;
  uintptr_t wparam;
  intptr_t lparam;
};

struct State {
  std::mutex mu;
  uint32_t error_mode = 0;
  bool installed = false;
  TabletDriver driver;
  Library library;
  std::map<TabletContext*, std::unique_ptr<TabletContext>> contexts;
  uint32_t next_number = 1;
  TabletDriverRecord record;
};

State& S() {
  static State* state = new State;
  return *state;
}

using Lock = std::unique_lock<std::mutex>;

bool SameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  return *a == *b;
}

// Counts the call; true when the driver is missing or the call is told to fail.
bool Refused(State& s, TabletCall call) {
  if (!s.installed) return true;
  const int n = ++s.record.calls[int(call)];
  for (const TabletFailure& f : s.driver.failures)
    if (f.call == call && (f.nth == 0 || f.nth == n)) return true;
  return false;
}

TabletContext* Live(State& s, TabletContext* c) { return c != nullptr && s.contexts.count(c) ? c : nullptr; }

// Tablet input coordinates in the context's output space.
int32_t MapAxis(int32_t v, int32_t in_org, int32_t in_ext, int32_t out_org, int32_t out_ext) {
  if (in_ext == 0) return out_org;
  return int32_t(int64_t(out_org) + (int64_t(v) - in_org) * out_ext / in_ext);
}

// Brings the context's queue up to the current tick count: packets that
// arrived beyond its size push out the oldest. Messages due are appended to
// `out` (sent by the caller once the lock is released).
size_t Arrive(State& s, TabletContext* c, std::vector<Message>* out) {
  const uint32_t now = GetTickCount();
  const auto& packets = s.driver.packets;
  size_t end = c->next;
  while (end < packets.size() && packets[end].time <= now) ++end;
  if (end - c->next > size_t(c->queue_size)) {
    c->next = end - size_t(c->queue_size);
    c->lost = true;
  }
  for (; c->announced < end; ++c->announced) {
    const TabletScriptPacket& p = packets[c->announced];
    const bool changed = p.proximity != c->proximity;
    c->proximity = p.proximity;
    if (c->owner == nullptr || out == nullptr) continue;
    if (changed) {
      const intptr_t in = p.proximity ? 1 : 0;
      out->push_back({c->owner, kWtProximity, c->number, in | (in << 16)});
    }
    if (c->description.options & kCxoMessages)
      out->push_back({c->owner, kWtPacket, uintptr_t(c->announced + 1), intptr_t(c->number)});
  }
  return end - c->next;
}

void Send(const std::vector<Message>& messages) {
  for (const Message& m : messages) SendWindowMessage(m.window, m.msg, m.wparam, m.lparam);
}

// The packet at `index` as the context's mask lays it out.
void WritePacket(const State& s, const TabletContext* c, size_t index, bool lost, void* packet) {
  const TabletScriptPacket& p = s.driver.packets[index];
  const TabletLogContext& d = c->description;
  const uint32_t status = (p.proximity ? 0 : kTpsProximity) | (lost ? kTpsQueueErr : 0);
  const uint32_t fields[] = {
      c->number,
      status,
      p.time,
      d.packet_data,
      uint32_t(index + 1),
      p.cursor,
      p.buttons,
      uint32_t(MapAxis(p.x, d.in_org_x, d.in_ext_x, d.out_org_x, d.out_ext_x)),
      uint32_t(MapAxis(p.y, d.in_org_y, d.in_ext_y, d.out_org_y, d.out_ext_y)),
      0,
      p.pressure,
  };
  auto* out = static_cast<unsigned char*>(packet);
  for (int bit = 0; bit < 11; ++bit) {
    if (!(d.packet_data & (1u << bit))) continue;
    std::memcpy(out, &fields[bit], 4);
    out += 4;
  }
}

// ---------------------------------------------------------------------------
// The driver's functions
// ---------------------------------------------------------------------------

uint32_t CopyItem(const void* item, uint32_t size, void* output) {
  if (output != nullptr) std::memcpy(output, item, size);
  return size;
}

uint32_t DriverInfo(uint32_t category, uint32_t index, void* output) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (Refused(s, TabletCall::kInfo)) return 0;
  const TabletDriver& d = s.driver;
  if (category == 0) return sizeof(TabletLogContext);
  if ((category == kWtiDefContext || category == kWtiDefSysCtx) && index == 0) {
    TabletLogContext c{};
    std::strncpy(c.name, d.context_name.c_str(), sizeof c.name - 1);
    c.options = d.options;
    c.packet_rate = d.packet_rate;
    c.packet_data = kPkX | kPkY | kPkButtons;
    c.move_mask = c.packet_data;
    c.button_down_mask = c.button_up_mask = 0xFFFFFFFFu;
    c.in_org_x = d.in_org_x, c.in_org_y = d.in_org_y, c.in_ext_x = d.in_ext_x, c.in_ext_y = d.in_ext_y;
    c.out_org_x = d.in_org_x, c.out_org_y = d.in_org_y, c.out_ext_x = d.in_ext_x, c.out_ext_y = d.in_ext_y;
    c.sens_x = c.sens_y = c.sens_z = 0x10000;
    c.sys_mode = 0;
    c.sys_org_x = d.sys_org_x, c.sys_org_y = d.sys_org_y, c.sys_ext_x = d.sys_ext_x, c.sys_ext_y = d.sys_ext_y;
    c.sys_sens_x = c.sys_sens_y = 0x10000;
    return CopyItem(&c, sizeof c, output);
  }
  if (category == kWtiDevices && index == kDvcNPressure && d.pressure_axis) {
    const TabletAxis axis{d.pressure_min, d.pressure_max, 0, 0};
    return CopyItem(&axis, sizeof axis, output);
  }
  return 0;
}

TabletContext* DriverOpen(Window* owner, TabletLogContext* context, int enable) noexcept {
  std::vector<Message> messages;
  TabletContext* opened = nullptr;
  {
    State& s = S();
    Lock lock(s.mu);
    if (Refused(s, TabletCall::kOpen) || context == nullptr || (context->packet_data & ~0x7FFu) != 0) return nullptr;
    try {
      s.record.opened.push_back(*context);
      auto c = std::make_unique<TabletContext>();
      c->number = s.next_number++;
      c->owner = owner;
      c->description = *context;
      c->opened_tick = GetTickCount();
      const auto& packets = s.driver.packets;
      while (c->next < packets.size() && packets[c->next].time < c->opened_tick) ++c->next;
      c->announced = c->next;
      if (owner != nullptr && enable) messages.push_back({owner, kWtCtxOpen, c->number, 0});
      opened = c.get();
      s.contexts.emplace(opened, std::move(c));
      ++s.record.open_contexts;
    } catch (...) {
      return nullptr;
    }
  }
  Send(messages);
  return opened;
}

int DriverClose(TabletContext* context) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (Refused(s, TabletCall::kClose) || !Live(s, context)) return 0;
  s.contexts.erase(context);
  --s.record.open_contexts;
  return 1;
}

int DriverPacket(TabletContext* context, uint32_t serial, void* packet) noexcept {
  std::vector<Message> messages;
  int found = 0;
  {
    State& s = S();
    Lock lock(s.mu);
    if (Refused(s, TabletCall::kPacket) || !Live(s, context)) return 0;
    try {
      const size_t queued = Arrive(s, context, &messages);
      if (serial > context->next && serial <= context->next + queued) {
        const size_t index = serial - 1;
        if (packet != nullptr) {
          WritePacket(s, context, index, context->lost, packet);
          s.record.serials_read.push_back(serial);
        }
        context->lost = false;
        context->next = index + 1;
        found = 1;
      }
    } catch (...) {
      return 0;
    }
  }
  Send(messages);
  return found;
}

int DriverOverlap(TabletContext* context, int to_top) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (Refused(s, TabletCall::kOverlap) || !Live(s, context)) return 0;
  if (to_top) ++s.record.overlaps;
  return 1;
}

int DriverQueueSizeSet(TabletContext* context, int size) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (Refused(s, TabletCall::kQueueSizeSet) || !Live(s, context)) return 0;
  try {
    s.record.queue_sizes_tried.push_back(size);
  } catch (...) {
    return 0;
  }
  if (size <= 0 || size > s.driver.largest_queue) return 0;
  // Packets already queued beyond the new size are lost at the next look.
  context->queue_size = size;
  s.record.queue_size = size;
  return 1;
}

int DriverQueuePacketsEx(TabletContext* context, uint32_t* oldest, uint32_t* newest) noexcept {
  std::vector<Message> messages;
  int any = 0;
  {
    State& s = S();
    Lock lock(s.mu);
    if (Refused(s, TabletCall::kQueuePacketsEx) || !Live(s, context)) return 0;
    try {
      const size_t queued = Arrive(s, context, &messages);
      if (queued > 0) {
        if (oldest) *oldest = uint32_t(context->next + 1);
        if (newest) *newest = uint32_t(context->next + queued);
        any = 1;
      }
    } catch (...) {
      return 0;
    }
  }
  Send(messages);
  return any;
}

struct Export {
  const char* name;
  uint16_t ordinal;
  TabletCall call;
  void* function;
};

const Export kExports[] = {
    {kWtInfoName, kWtInfoOrdinal, TabletCall::kInfo, reinterpret_cast<void*>(&DriverInfo)},
    {kWtOpenName, kWtOpenOrdinal, TabletCall::kOpen, reinterpret_cast<void*>(&DriverOpen)},
    {kWtCloseName, kWtCloseOrdinal, TabletCall::kClose, reinterpret_cast<void*>(&DriverClose)},
    {kWtPacketName, kWtPacketOrdinal, TabletCall::kPacket, reinterpret_cast<void*>(&DriverPacket)},
    {kWtOverlapName, kWtOverlapOrdinal, TabletCall::kOverlap, reinterpret_cast<void*>(&DriverOverlap)},
    {kWtQueueSizeSetName, kWtQueueSizeSetOrdinal, TabletCall::kQueueSizeSet,
     reinterpret_cast<void*>(&DriverQueueSizeSet)},
    {kWtQueuePacketsExName, kWtQueuePacketsExOrdinal, TabletCall::kQueuePacketsEx,
     reinterpret_cast<void*>(&DriverQueuePacketsEx)},
};

void* Exported(Library* library, const Export* e) {
  if (e == nullptr) return nullptr;
  State& s = S();
  Lock lock(s.mu);
  if (library != &s.library || s.library.refs == 0 || !s.installed) return nullptr;
  const auto& missing = s.driver.missing_exports;
  return std::find(missing.begin(), missing.end(), e->call) == missing.end() ? e->function : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Libraries
// ---------------------------------------------------------------------------

uint32_t SetErrorMode(uint32_t mode) noexcept {
  State& s = S();
  Lock lock(s.mu);
  return std::exchange(s.error_mode, mode);
}

Library* LoadLibrary(const char* name) noexcept {
  if (name == nullptr) return nullptr;
  State& s = S();
  Lock lock(s.mu);
  if (!s.installed || !SameName(name, kTabletLibraryName)) return nullptr;
  ++s.library.refs;
  ++s.record.loads;
  s.record.error_mode_at_load = s.error_mode;
  return &s.library;
}

bool FreeLibrary(Library* library) noexcept {
  State& s = S();
  Lock lock(s.mu);
  if (library != &s.library || s.library.refs == 0) return false;
  --s.library.refs;
  ++s.record.frees;
  return true;
}

void* GetProcAddress(Library* library, const char* name) noexcept {
  if (name == nullptr) return nullptr;
  const auto e = std::find_if(std::begin(kExports), std::end(kExports),
                              [&](const Export& x) { return std::strcmp(x.name, name) == 0; });
  return Exported(library, e == std::end(kExports) ? nullptr : e);
}

void* GetProcAddressByOrdinal(Library* library, uint16_t ordinal) noexcept {
  const auto e =
      std::find_if(std::begin(kExports), std::end(kExports), [&](const Export& x) { return x.ordinal == ordinal; });
  return Exported(library, e == std::end(kExports) ? nullptr : e);
}

// ---------------------------------------------------------------------------
// The host's side
// ---------------------------------------------------------------------------

void SetTabletDriver(const TabletDriver& driver) {
  State& s = S();
  Lock lock(s.mu);
  s.driver = driver;
  std::stable_sort(s.driver.packets.begin(), s.driver.packets.end(),
                   [](const TabletScriptPacket& a, const TabletScriptPacket& b) { return a.time < b.time; });
  s.installed = true;
  s.contexts.clear();
  const int loaded = s.library.refs;
  s.record = TabletDriverRecord{};
  s.library.refs = loaded;
}

void AddTabletPackets(const std::vector<TabletScriptPacket>& packets) {
  State& s = S();
  Lock lock(s.mu);
  auto& list = s.driver.packets;
  for (const TabletScriptPacket& p : packets) {
    // Later than everything queued or read so far; an earlier stamp goes
    // in at its place among the packets no context has reached yet.
    auto at =
        std::upper_bound(list.begin(), list.end(), p,
                         [](const TabletScriptPacket& a, const TabletScriptPacket& b) { return a.time < b.time; });
    size_t index = size_t(at - list.begin());
    for (const auto& [key, c] : s.contexts) index = std::max(index, c->announced);
    list.insert(list.begin() + ptrdiff_t(index), p);
  }
}

void RemoveTabletDriver() {
  State& s = S();
  Lock lock(s.mu);
  s.installed = false;
  s.driver = TabletDriver{};
  s.contexts.clear();
  s.record = TabletDriverRecord{};
  s.library.refs = 0;
}

void PumpTabletDriver() {
  std::vector<Message> messages;
  {
    State& s = S();
    Lock lock(s.mu);
    for (const auto& [key, c] : s.contexts) Arrive(s, c.get(), &messages);
  }
  Send(messages);
}

TabletDriverRecord TabletDriverRecords() {
  State& s = S();
  Lock lock(s.mu);
  return s.record;
}

}  // namespace ombrix::platform
