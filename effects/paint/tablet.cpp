// Paint's tablet. The driver's library is not linked: each of its functions
// is an entry of the binding table, bound by ordinal (or name) on its first
// call, after the library is loaded once. Bound entries are linked, so that
// unloading can forget exactly those. A function that cannot be bound makes
// its wrapper answer 0, as a failing call does, and every caller treats that
// as "no tablet".
#include "tablet.h"

#include <ombrix/platform/clock.h>

#include "drawing.h"

#include <cstring>

namespace paint {
namespace {

namespace plat = ombrix::platform;

struct BindingEntry {
  const char* name;
  uint16_t ordinal;  // 0: bound by name
  void* address;     // null until bound
  BindingEntry* next_bound;
};

enum Binding { kBindInfo, kBindOpen, kBindClose, kBindPacket, kBindOverlap, kBindQueueSizeSet, kBindQueuePackets };

BindingEntry g_bindings[] = {
    {plat::kWtInfoName, plat::kWtInfoOrdinal, nullptr, nullptr},
    {plat::kWtOpenName, plat::kWtOpenOrdinal, nullptr, nullptr},
    {plat::kWtCloseName, plat::kWtCloseOrdinal, nullptr, nullptr},
    {plat::kWtPacketName, plat::kWtPacketOrdinal, nullptr, nullptr},
    {plat::kWtOverlapName, plat::kWtOverlapOrdinal, nullptr, nullptr},
    {plat::kWtQueueSizeSetName, plat::kWtQueueSizeSetOrdinal, nullptr, nullptr},
    {plat::kWtQueuePacketsExName, plat::kWtQueuePacketsExOrdinal, nullptr, nullptr},
};
BindingEntry* g_bound = nullptr;  // the link of bound entries, last bound first
plat::Library* g_library = nullptr;
bool g_load_tried = false;

constexpr uint32_t kQuietErrors = plat::kSemFailCriticalErrors | plat::kSemNoOpenFileErrorBox;

constexpr char kOwnerClass[] = "Ombrix1PaintWClass";
constexpr char kOwnerTitle[] = "OBPaintWtb";
constexpr int kOwnerOffscreen = -10000;

bool g_detected = false;  // detection ran
bool g_class_registered = false;
TabletState g_tablet{};

void* Bind(Binding which) {
  BindingEntry& e = g_bindings[which];
  if (e.address != nullptr) return e.address;
  if (g_library == nullptr && !g_load_tried) {
    g_load_tried = true;
    const uint32_t previous = plat::SetErrorMode(kQuietErrors);
    g_library = plat::LoadLibrary(plat::kTabletLibraryName);
    plat::SetErrorMode(previous);
  }
  if (g_library == nullptr) return nullptr;
  e.address =
      e.ordinal != 0 ? plat::GetProcAddressByOrdinal(g_library, e.ordinal) : plat::GetProcAddress(g_library, e.name);
  if (e.address != nullptr) {
    e.next_bound = g_bound;
    g_bound = &e;
  }
  return e.address;
}

// Forgets every binding and unloads the library.
void Unbind() {
  for (BindingEntry* e = g_bound; e != nullptr;) {
    BindingEntry* next = e->next_bound;
    e->address = nullptr;
    e->next_bound = nullptr;
    e = next;
  }
  g_bound = nullptr;
  if (g_library != nullptr) plat::FreeLibrary(g_library);
  g_library = nullptr;
  g_load_tried = false;
}

template <typename Fn>
Fn Bound(Binding which) {
  return reinterpret_cast<Fn>(Bind(which));
}

uint32_t TabletInfo(uint32_t category, uint32_t index, void* output) {
  const auto fn = Bound<plat::TabletInfoFn>(kBindInfo);
  return fn != nullptr ? fn(category, index, output) : 0;
}

plat::TabletContext* TabletOpenContext(plat::Window* owner, plat::TabletLogContext* context, int enable) {
  const auto fn = Bound<plat::TabletOpenFn>(kBindOpen);
  return fn != nullptr ? fn(owner, context, enable) : nullptr;
}

int TabletCloseContext(plat::TabletContext* context) {
  const auto fn = Bound<plat::TabletCloseFn>(kBindClose);
  return fn != nullptr ? fn(context) : 0;
}

int TabletPacketAt(plat::TabletContext* context, uint32_t serial, void* packet) {
  const auto fn = Bound<plat::TabletPacketFn>(kBindPacket);
  return fn != nullptr ? fn(context, serial, packet) : 0;
}

int TabletOverlap(plat::TabletContext* context, int to_top) {
  const auto fn = Bound<plat::TabletOverlapFn>(kBindOverlap);
  return fn != nullptr ? fn(context, to_top) : 0;
}

int TabletQueueSizeSet(plat::TabletContext* context, int size) {
  const auto fn = Bound<plat::TabletQueueSizeSetFn>(kBindQueueSizeSet);
  return fn != nullptr ? fn(context, size) : 0;
}

int TabletQueuePackets(plat::TabletContext* context, uint32_t* oldest, uint32_t* newest) {
  const auto fn = Bound<plat::TabletQueuePacketsExFn>(kBindQueuePackets);
  return fn != nullptr ? fn(context, oldest, newest) : 0;
}

// The owner window answers every tablet message and keeps the proximity
// flag from the driver's proximity messages.
intptr_t OwnerWindowProc(plat::Window* window, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  if (msg >= plat::kWtPacket && msg <= plat::kWtCsrChange) {
    if (msg == plat::kWtProximity) g_tablet.proximity = (uintptr_t(lparam) & 0xFFFFu) != 0;
    return 1;
  }
  return plat::DefWindowProc(window, msg, wparam, lparam);
}

// The packets a second the driver reports, or the default when it reports
// none (the queue size and the waits are derived from it).
uint32_t PacketRate(uint32_t reported) { return reported != 0 ? reported : kDefaultPacketRate; }

// Opens the context on the owner window with the largest queue the driver
// takes (five times the packet rate, or less). False when it cannot.
bool OpenContext() {
  plat::TabletLogContext c{};
  if (TabletInfo(plat::kWtiDefContext, 0, &c) == 0) return false;
  c.options &= ~plat::kCxoMessages;
  c.out_org_x = 0;
  c.out_org_y = 0;
  c.out_ext_x = c.in_ext_x;
  c.out_ext_y = c.in_ext_y;
  c.packet_data = kTabletPacketData;
  c.packet_mode = kTabletPacketMode;
  plat::TabletContext* context = TabletOpenContext(g_tablet.owner, &c, 1);
  if (context == nullptr) return false;
  int size = int(5 * PacketRate(c.packet_rate));
  while (size >= 1 && !TabletQueueSizeSet(context, size)) --size;
  if (size < 1) {
    TabletCloseContext(context);
    return false;
  }
  TabletOverlap(context, 1);
  g_tablet.context = context;
  g_tablet.description = c;
  g_tablet.proximity = false;
  g_tablet.last.time = 0;
  g_tablet.last_used_time = 0;
  return true;
}

// System extent over output extent. An output extent of 0 (a driver that
// reports no input area) would divide by zero: packets are then taken as
// screen pixels, scale 1.
float AxisScale(int32_t system_extent, int32_t output_extent) {
  return output_extent != 0 ? float(system_extent) / float(output_extent) : 1.0f;
}

void FillConversion(PaintGlobals* g) {
  const plat::TabletLogContext& c = g_tablet.description;
  g->x_scale = AxisScale(c.sys_ext_x, c.out_ext_x);
  g->y_scale = AxisScale(c.sys_ext_y, c.out_ext_y);
  g->x_offset = float(c.sys_org_x) - float(c.out_org_x) * g->x_scale;
  g->y_offset = float(c.sys_ext_y) - float(c.out_org_y) * g->y_scale + float(c.sys_org_y);
  // Without a pressure range (no axis: both ends 0) there is nothing to
  // divide by; the identity stands and pressure reads as 1 (PenPressure).
  if (g->tablet_has_pressure) {
    g->pressure_scale = 1.0f / float(int64_t(g_tablet.pressure.max) - g_tablet.pressure.min);
    g->pressure_offset = -float(g_tablet.pressure.min) * g->pressure_scale;
  } else {
    g->pressure_scale = 1.0f;
    g->pressure_offset = 0.0f;
  }
}

}  // namespace

void DetectTablet() {
  if (g_detected) return;
  g_detected = true;
  const uint32_t previous = plat::SetErrorMode(kQuietErrors);
  const bool present = TabletInfo(0, 0, nullptr) != 0;
  plat::SetErrorMode(previous);
  if (!present) return;
  const plat::WindowClass owner_class{kOwnerClass, OwnerWindowProc};
  g_class_registered = plat::RegisterWindowClass(&owner_class);
}

void OpenTablet(PaintGlobals* g) {
  if (!g_class_registered) return;
  if (g_tablet.owner == nullptr) {
    g_tablet.owner = plat::CreateWindowEx(0, kOwnerClass, kOwnerTitle, plat::kWsPopup | plat::kWsDisabled,
                                          kOwnerOffscreen, kOwnerOffscreen, 1, 1, nullptr);
    if (g_tablet.owner == nullptr) return;
  }
  if (g_tablet.context == nullptr && !OpenContext()) return;
  plat::TabletAxis axis{};
  if (TabletInfo(plat::kWtiDevices, plat::kDvcNPressure, &axis) != sizeof axis) axis.min = axis.max = 0;
  g_tablet.pressure = axis;
  g->tablet = &g_tablet;
  g->tablet_available = true;
  g->tablet_has_pressure = axis.max > axis.min;
  g->tablet_in_use = true;
  FillConversion(g);
}

void UnloadTablet() {
  if (g_tablet.context != nullptr) TabletCloseContext(g_tablet.context);
  if (g_tablet.owner != nullptr) plat::DestroyWindow(g_tablet.owner);
  if (g_class_registered) plat::UnregisterWindowClass(kOwnerClass);
  Unbind();
  g_tablet = TabletState{};
  g_class_registered = false;
  g_detected = false;
}

bool ReadLatestPacket(TabletState* t) {
  uint32_t oldest = 0, newest = 0;
  if (!TabletQueuePackets(t->context, &oldest, &newest)) return false;
  TabletPacket p{};
  if (!TabletPacketAt(t->context, newest, &p)) return false;
  t->last = p;
  return true;
}

// A third of the time between two packets. A rate of 0 would divide by
// zero: the default rate stands in for it.
uint32_t StalePacketPause(uint32_t packet_rate) { return uint32_t(1000.0 / (3.0 * double(PacketRate(packet_rate)))); }

bool PenScreenPosition(const PaintGlobals* g, float* x, float* y) {
  TabletState* t = g->tablet;
  if (t == nullptr) return false;
  ReadLatestPacket(t);
  const int tries = (t->last.status & plat::kTpsQueueErr) ? 6 : 3;
  const uint32_t pause = StalePacketPause(t->description.packet_rate);
  for (int i = 0; i < tries && (t->last.time == t->last_used_time || (t->last.status & plat::kTpsQueueErr)); ++i) {
    plat::Sleep(pause);
    ReadLatestPacket(t);
  }
  t->last_used_time = t->last.time;
  *x = float(t->last.x) * g->x_scale + g->x_offset;
  *y = g->y_offset - float(t->last.y) * g->y_scale;
  return true;
}

void ClientFromScreen(float screen_x, float screen_y, ScreenToClientFn to_client, void* window, float* x, float* y) {
  int32_t ix = int32_t(screen_x), iy = int32_t(screen_y);
  const float fx = screen_x - float(ix), fy = screen_y - float(iy);
  to_client(window, &ix, &iy);
  *x = float(ix) + fx;
  *y = float(iy) + fy;
}

float PenPressure(const PaintGlobals* g) {
  if (g->tablet == nullptr || !g->tablet_has_pressure) return 1.0f;
  ReadLatestPacket(g->tablet);
  return float(g->tablet->last.pressure) * g->pressure_scale + g->pressure_offset;
}

int32_t PenCursorKind(const PaintGlobals* g) {
  if (g->tablet == nullptr) return kCursorKindNone;
  ReadLatestPacket(g->tablet);
  switch (g->tablet->last.cursor) {
    case 1:
    case 4:
      return kCursorKindPenTip;
    case 2:
    case 5:
      return kCursorKindEraser;
    case 0:
    case 3:
      return kCursorKindPuck;
    default:
      return kCursorKindNone;
  }
}

bool PenInProximity(const PaintGlobals* g) {
  if (!g->tablet_available || g->tablet == nullptr) return false;
  ReadLatestPacket(g->tablet);
  return g->tablet->proximity;
}

int32_t BrushTypeForCursor(int32_t brush_type, int32_t cursor_kind) {
  const bool paint_type = brush_type >= kBrushSolid && brush_type <= kBrushSquare;
  const bool eraser_type = brush_type >= kBrushSolid + kEraserOffset && brush_type <= kBrushSquare + kEraserOffset;
  if (cursor_kind == kCursorKindEraser && paint_type) return brush_type + kEraserOffset;
  if (cursor_kind == kCursorKindPenTip && eraser_type) return brush_type - kEraserOffset;
  return brush_type;
}

}  // namespace paint
