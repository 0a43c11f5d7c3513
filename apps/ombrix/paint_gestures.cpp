// Gestures replayed through the Paint effect's EVENT command.
#include "paint_gestures.h"

#include <ombrix/host/custom_ui.h>
#include <ombrix/host/host.h>
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/tablet.h>
#include <ombrix/platform/view.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "local_handles.h"
#include "menu.h"
#include "painting.h"
#include "paint_files.h"

namespace ombrix::cli {
namespace {

using nlohmann::json;
namespace plat = ombrix::platform;

double NumberOf(const json& v, const std::string& where) {
  if (!v.is_number() || !std::isfinite(v.get<double>())) throw UsageError(where + ": expected a number");
  return v.get<double>();
}

void ReadPoint(const json& v, Gesture& g, const std::string& where) {
  if (!v.is_array() || v.size() != 2) throw UsageError(where + ": expected [x, y] in view pixels");
  const double x = NumberOf(v[0], where), y = NumberOf(v[1], where);
  if (std::fabs(x) > 1e6 || std::fabs(y) > 1e6) throw UsageError(where + ": the point lies too far out");
  g.x = int(std::floor(x));
  g.y = int(std::floor(y));
  g.exact_x = x;
  g.exact_y = y;
}

void ReadModifiers(const json& v, Gesture& g, const std::string& where) {
  if (!v.is_array()) throw UsageError(where + ": expected a list of \"shift\", \"ctrl\", \"alt\", \"escape\"");
  for (const json& m : v) {
    const std::string name = m.is_string() ? m.get<std::string>() : "";
    if (name == "shift")
      g.shift = true;
    else if (name == "ctrl" || name == "control" || name == "command")
      g.control = true;
    else if (name == "alt" || name == "option")
      g.alt = true;
    else if (name == "escape")
      g.escape = true;
    else
      throw UsageError(where + ": unknown modifier (expected shift, ctrl, alt or escape)");
  }
}

using PenPacket = std::optional<plat::TabletScriptPacket>;

plat::PointerEvent EventOf(const Gesture& g, const PenPacket& pen) {
  plat::PointerEvent e;
  e.pen = pen;
  e.kind = g.kind == Gesture::Kind::kDown ? plat::PointerEvent::kDown
           : g.kind == Gesture::Kind::kUp ? plat::PointerEvent::kUp
                                          : plat::PointerEvent::kMove;
  e.point = {g.x, g.y};
  e.button = g.right ? plat::PointerButton::kRight : plat::PointerButton::kLeft;
  e.shift = g.shift;
  e.control = g.control;
  e.alt = g.alt;
  e.escape = g.escape;
  e.time_us = g.t ? int64_t(std::llround(*g.t * 1e6)) : -1;
  return e;
}

bool IsPointer(const Gesture& g) {
  return g.kind == Gesture::Kind::kDown || g.kind == Gesture::Kind::kMove || g.kind == Gesture::Kind::kUp;
}

// The scripted tablet lies over the composition view, which is the screen:
// its system area is the view, its input area counts this many steps per
// view pixel (so that the pen's fractions of a pixel survive), y upward.
constexpr int kPenStepsPerPixel = 64;

plat::TabletDriver DriverFor(const GestureTablet& t, int view_width, int view_height) {
  plat::TabletDriver d;
  d.sys_org_x = d.sys_org_y = d.in_org_x = d.in_org_y = 0;
  d.sys_ext_x = view_width;
  d.sys_ext_y = view_height;
  d.in_ext_x = view_width * kPenStepsPerPixel;
  d.in_ext_y = view_height * kPenStepsPerPixel;
  d.pressure_min = 0;
  d.pressure_max = t.pressure_max;
  return d;
}

// What the pen reports with each gesture: a step with a pressure is the pen
// near the tablet, at the step's point with the raw pressure
// round(pressure x maximum); the first step without one after the pen was
// near is the pen leaving (and the mouse taking over).
std::vector<PenPacket> PenPackets(const std::vector<Gesture>& gestures, const GestureTablet& t, int view_height) {
  std::vector<PenPacket> out(gestures.size());
  if (!t.present) return out;
  bool near = false;
  uint32_t cursor = plat::kCursorPenTip;
  for (size_t i = 0; i < gestures.size(); ++i) {
    const Gesture& g = gestures[i];
    if (!IsPointer(g) || (!g.pressure && !near)) continue;
    plat::TabletScriptPacket p;
    p.x = int32_t(std::lround(g.exact_x * kPenStepsPerPixel));
    p.y = int32_t(std::lround((view_height - g.exact_y) * kPenStepsPerPixel));
    if (g.pressure) {
      cursor = g.eraser ? plat::kCursorEraser : plat::kCursorPenTip;
      p.pressure = uint32_t(std::lround(*g.pressure * t.pressure_max));
    }
    p.cursor = cursor;
    p.proximity = near = g.pressure.has_value();
    out[i] = p;
  }
  return out;
}

// The session's tablet driver, removed when the session ends.
struct TabletScope {
  TabletScope(const GestureTablet& t, int view_width, int view_height) {
    if (t.present)
      plat::SetTabletDriver(DriverFor(t, view_width, view_height));
    else
      plat::RemoveTabletDriver();
  }
  ~TabletScope() { plat::RemoveTabletDriver(); }
  TabletScope(const TabletScope&) = delete;
  TabletScope& operator=(const TabletScope&) = delete;
};

// The stored bytes of a drawing, which stays as it was.
std::vector<uint8_t> BytesOf(paint::DrawingRef& ref) {
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  const paint::DrawingStatus st = paint::Flatten(u, ref);
  if (st.err != PF_Err_NONE) throw HostError(st.message ? st.message : "cannot flatten the drawing", st.err);
  const auto* p = static_cast<const uint8_t*>(u->host_lock_handle(ref.flat));
  std::vector<uint8_t> bytes(p, p + u->host_get_handle_size(ref.flat));
  return bytes;
}

void Replace(paint::DrawingRef& ref, const std::vector<uint8_t>& bytes) {
  const PF_UtilCallbacks* u = paint::LocalHandleServices();
  paint::DisposeDrawing(u, ref);
  PF_Handle h = u->host_new_handle(A_u_long(bytes.size()));
  if (h == nullptr) throw HostError("out of memory for the drawing", PF_Err_OUT_OF_MEMORY);
  std::memcpy(u->host_lock_handle(h), bytes.data(), bytes.size());
  ref = paint::DrawingRef{nullptr, h};
  const paint::DrawingStatus st = paint::Unflatten(u, ref);
  if (st.err != PF_Err_NONE) throw HostError(st.message ? st.message : "the effect's drawing is damaged", st.err);
}

}  // namespace

bool IsGesture(const json& s) {
  if (!s.is_object()) return false;
  for (const char* key : {"tool", "down", "move", "up", "control"})
    if (s.contains(key)) return true;
  return false;
}

Gesture ReadGesture(const json& s, const std::string& where) {
  Gesture g;
  for (const auto& [key, value] : s.items()) {
    const std::string at = where + "." + key;
    if (key == "tool") {
      g.kind = Gesture::Kind::kTool;
      g.tool = IntOf(value, at);
      if (g.tool < 1 || g.tool > 4) throw UsageError(at + ": expected 1..4");
    } else if (key == "down" || key == "move" || key == "up") {
      g.kind = key == "down" ? Gesture::Kind::kDown : key == "move" ? Gesture::Kind::kMove : Gesture::Kind::kUp;
      ReadPoint(value, g, at);
    } else if (key == "control") {
      g.kind = Gesture::Kind::kControl;
      g.item = IntOf(value, at);
      int x, y;
      if (!paint::BrushControlItemCentre(g.item, &x, &y)) throw UsageError(at + ": no such item of \"Brush Settings\"");
    } else if (key == "button") {
      const std::string b = value.is_string() ? value.get<std::string>() : "";
      if (b != "left" && b != "right") throw UsageError(at + ": expected \"left\" or \"right\"");
      g.right = b == "right";
    } else if (key == "modifiers") {
      ReadModifiers(value, g, at);
    } else if (key == "t") {
      g.t = NumberOf(value, at);
      if (*g.t < 0 || *g.t > 1e6) throw UsageError(at + ": expected 0..1000000 seconds");
    } else if (key == "menu") {
      g.menu = IntOf(value, at);
    } else if (key == "value") {
      g.value = NumberOf(value, at);
    } else if (key == "color") {
      plat::ColorAnswer answer;
      if (!value.is_string() || !plat::ParseColorAnswer(value.get<std::string>(), &answer))
        throw UsageError(at + ": expected \"#RRGGBB\" or \"cancel\"");
      g.color = value.get<std::string>();
    } else if (key == "pressure") {
      g.pressure = NumberOf(value, at);
      if (*g.pressure < 0 || *g.pressure > 1) throw UsageError(at + ": expected 0..1 of the pen's pressure axis");
    } else if (key == "cursor") {
      const std::string c = value.is_string() ? value.get<std::string>() : "";
      if (c != "tip" && c != "eraser") throw UsageError(at + ": expected \"tip\" or \"eraser\"");
      g.eraser = c == "eraser";
    } else if (key == "drag") {
      if (!value.is_array() || value.size() != 2) throw UsageError(at + ": expected [dx, dy] in control pixels");
      g.drag_x = IntOf(value[0], at);
      g.drag_y = IntOf(value[1], at);
      if (std::abs(g.drag_x) > 10000 || std::abs(g.drag_y) > 10000) throw UsageError(at + ": too far");
      g.drag = true;
    } else {
      throw UsageError(at + ": unknown key");
    }
  }
  // The pen's keys belong to pointer steps, and the cursor to the pen.
  if ((g.pressure || s.contains("cursor")) && !IsPointer(g))
    throw UsageError(where + ": \"pressure\" and \"cursor\" go with down, move or up");
  if (s.contains("cursor") && !g.pressure) throw UsageError(where + ".cursor: the pen needs a \"pressure\"");
  if (g.drag && g.kind != Gesture::Kind::kControl) throw UsageError(where + ".drag: only with \"control\"");
  return g;
}

GestureTablet ReadGestureTablet(const json& tablet, const std::string& where) {
  GestureTablet t;
  if (!tablet.is_object()) throw UsageError(where + ": expected {\"present\": true, \"pressure_max\": N}");
  for (const auto& [key, value] : tablet.items()) {
    const std::string at = where + "." + key;
    if (key == "present") {
      t.present = BoolOf(value, at);
    } else if (key == "pressure_max") {
      t.pressure_max = IntOf(value, at);
      if (t.pressure_max < 1 || t.pressure_max > 65535) throw UsageError(at + ": expected 1..65535");
    } else {
      throw UsageError(at + ": unknown key (expected present or pressure_max)");
    }
  }
  return t;
}

GestureView ReadGestureView(const json& view, const std::string& where) {
  GestureView v;
  if (!view.is_object()) throw UsageError(where + ": expected {\"zoom\": Z, \"origin\": [x, y]}");
  for (const auto& [key, value] : view.items()) {
    const std::string at = where + "." + key;
    if (key == "zoom") {
      v.zoom = NumberOf(value, at);
      if (!(v.zoom >= 1.0 / 64 && v.zoom <= 64)) throw UsageError(at + ": expected 1/64..64");
    } else if (key == "origin") {
      if (!value.is_array() || value.size() != 2) throw UsageError(at + ": expected [x, y]");
      v.origin_x = NumberOf(value[0], at);
      v.origin_y = NumberOf(value[1], at);
      if (std::fabs(v.origin_x) > 30000 || std::fabs(v.origin_y) > 30000) throw UsageError(at + ": too far out");
    } else {
      throw UsageError(at + ": unknown key (expected zoom or origin)");
    }
  }
  return v;
}

void RunGestures(const GestureSession& session, const std::vector<Gesture>& gestures, paint::DrawingRef& drawing,
                 paint::PaintGlobals& globals, const std::string& where) {
  const GestureView& v = session.view;
  const int vw = std::max(int(std::ceil(v.origin_x + session.width * v.zoom)), 1),
            vh = std::max(int(std::ceil(v.origin_y + session.height * v.zoom)), 1);
  // The driver is there before the effect looks for it.
  const TabletScope tablet(session.tablet, vw, vh);
  const std::vector<PenPacket> pens = PenPackets(gestures, session.tablet, vh);
  CommonOptions common;
  common.plugins = session.plugins;
  const PluginScan scan = ScanPlugins(common);
  HostOptions options;
  options.registry_dir = session.registry;
  Host host(options);
  host.on_message = [&](std::string_view text) { std::cerr << "ombrix: " << where << ": " << text << "\n"; };
  Effect effect(host, FindEffect(scan, "paint"));
  const TimeBase time;
  const A_long now = time.SecondsToTicks(session.time);
  Instance inst(effect, time, session.width, session.height, BytesOf(drawing));
  if (inst.setup_result().err != PF_Err_NONE) throw HostError(where + ": the effect refused the drawing");
  auto* g = static_cast<paint::PaintGlobals*>(*effect.global_data());
  g->tool = globals.tool;
  g->tool_after_eyedropper = globals.tool_after_eyedropper;

  World layer(session.width, session.height);
  {
    CustomUi ui(inst, {v.zoom, v.origin_x, v.origin_y}, vw, vh);
    ui.SetLayer(&layer.pf());
    ui.Rerender(now);
    ui.NewContext(PF_Window_COMP);
    ui.NewContext(PF_Window_EFFECT);
    plat::SetScriptedClock(0);
    for (size_t k = 0; k < gestures.size();) {
      const Gesture& s = gestures[k];
      if (s.kind == Gesture::Kind::kTool) {
        paint::SetCurrentTool(g, s.tool);
        ++k;
      } else if (s.kind == Gesture::Kind::kControl) {
        int x = 0, y = 0;
        paint::BrushControlItemCentre(s.item, &x, &y);
        if (s.value) QueueSetDialogValue(*s.value);
        plat::ColorAnswer color;
        if (s.color && plat::ParseColorAnswer(*s.color, &color)) plat::PushColorAnswer(color);
        // A drag moves the pointer from the item's centre with the keys
        // held, and lets go there.
        Gesture to = s;
        to.kind = Gesture::Kind::kMove;
        to.x = x + s.drag_x;
        to.y = y + s.drag_y;
        const plat::PointerEvent move = EventOf(to, std::nullopt);
        plat::PointerEvent up = move;
        up.kind = plat::PointerEvent::kUp;
        if (s.drag) plat::PushPointerEvents({move});
        plat::PushPointerEvents({up});
        ui.Click(PF_Window_EFFECT, {{x, y}, false, 0}, now);
        plat::ClearPointer();
        ++k;
      } else if (s.kind != Gesture::Kind::kDown) {
        plat::DeliverPointerEvent(EventOf(s, pens[k]));  // the pointer moving with no button down
        ++k;
      } else {
        // The press is the click; what follows it is the pointer the
        // effect's own loop follows. What it leaves unread starts anew.
        size_t end = k + 1;
        while (end < gestures.size() && IsPointer(gestures[end])) ++end;
        std::vector<plat::PointerEvent> then;
        for (size_t i = k + 1; i < end; ++i) then.push_back(EventOf(gestures[i], pens[i]));
        plat::ClearPointer();
        plat::PushPointerEvents(then);
        if (s.menu) plat::PushMenuAnswer(*s.menu);
        if (s.t) {
          // The clock is stopped; a wait of the effect's may have moved it
          // past the step's time, and it does not go back.
          int64_t now = 0;
          plat::QueryMicrosecondCounter(&now);
          plat::SetScriptedClock(std::max(now, int64_t(std::llround(*s.t * 1e6))));
        }
        if (pens[k]) {
          // The host sends the press itself; the pen reports it first.
          plat::TabletScriptPacket packet = *pens[k];
          packet.time = plat::GetTickCount();
          plat::AddTabletPackets({packet});
        }
        const A_long mods =
            (s.shift ? PF_Mod_SHIFT_KEY : 0) | (s.control ? PF_Mod_CMD_CTRL_KEY : 0) | (s.alt ? PF_Mod_OPT_ALT_KEY : 0);
        const EventAnswer a = ui.Click(PF_Window_COMP, {{s.x, s.y}, s.right, mods}, now);
        if (a.result.err != PF_Err_NONE)
          throw HostError(where + ": the click answered error " + std::to_string(a.result.err), a.result.err);
        k = end - plat::PendingPointerEvents();
        plat::ClearPointer();
        plat::ClearMenuAnswers();
      }
    }
    if (session.view_log != nullptr)
      for (PF_WindowType w : {PF_Window_COMP, PF_Window_EFFECT})
        for (const std::string& line : plat::ViewLog(ui.view(w)))
          session.view_log->push_back((w == PF_Window_COMP ? "view " : "control ") + line);
  }
  globals.tool = g->tool;
  globals.tool_after_eyedropper = g->tool_after_eyedropper;
  Replace(drawing, inst.SequenceDataBytes());
}

}  // namespace ombrix::cli
