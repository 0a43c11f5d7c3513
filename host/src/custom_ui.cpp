// The host's side of custom UI: contexts, views, events and the answers
// acted on.
#include <ombrix/host/custom_ui.h>
#include <ombrix/host/host_error.h>
#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>
#include <ombrix/platform/info_palette.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>
#include <ombrix/platform/view.h>

#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace ombrix {

namespace {

constexpr uint32_t kPanelGrey = 0xC0C0C0;

// Rounded to the nearest 16.16 unit, held within the type's range.
A_long ToFixed(double v) {
  const double f = std::floor(v * 65536.0 + 0.5);
  if (!(f > double(INT32_MIN))) return INT32_MIN;
  return f < double(INT32_MAX) ? A_long(f) : INT32_MAX;
}
double FromFixed(A_long v) { return double(v) / 65536.0; }

platform::PointerEvent PressEvent(const PointerPress& press) {
  platform::PointerEvent e;
  e.kind = platform::PointerEvent::kDown;
  e.point = {press.where.h, press.where.v};
  e.button = press.right ? platform::PointerButton::kRight : platform::PointerButton::kLeft;
  e.shift = press.modifiers & PF_Mod_SHIFT_KEY;
  e.control = press.modifiers & PF_Mod_CMD_CTRL_KEY;
  e.alt = press.modifiers & PF_Mod_OPT_ALT_KEY;
  return e;
}

// The modifier bits of the keys held now.
A_long HeldModifiers() {
  const auto down = [](int key) { return (platform::GetKeyState(key) & platform::kKeyDownBit) != 0; };
  return (down(platform::kVkShift) ? PF_Mod_SHIFT_KEY : 0) | (down(platform::kVkControl) ? PF_Mod_CMD_CTRL_KEY : 0) |
         (down(platform::kVkAlt) ? PF_Mod_OPT_ALT_KEY : 0);
}

}  // namespace

struct CustomUi::Window {
  PF_Context context{};
  platform::View* view = nullptr;
  bool open = false;
  ~Window() { platform::DestroyView(view); }
};

CustomUi::CustomUi(Instance& instance, ViewGeometry geometry, int view_width, int view_height, PF_ParamIndex control)
    : instance_(instance),
      geometry_(geometry),
      control_(control),
      comp_(std::make_unique<Window>()),
      effect_(std::make_unique<Window>()) {
  if (!(geometry_.zoom > 0.0)) throw HostError("a view's zoom must be positive", PF_Err_BAD_CALLBACK_PARAM);
  comp_->context.w_type = PF_Window_COMP;
  comp_->view = platform::CreateView(view_width, view_height);
  effect_->context.w_type = PF_Window_EFFECT;
  effect_->view = platform::CreateView(kControlWidth, kControlHeight);
  for (Window* w : {comp_.get(), effect_.get()}) {
    w->context.magic = 0x4F425556;  // "OBUV"
    w->context.reserved_drawref = w->view;
    Repaint(*w);
  }
  platform::SetScreenView(comp_->view);
}

CustomUi::~CustomUi() {
  for (PF_WindowType w : {PF_Window_COMP, PF_Window_EFFECT}) {
    try {
      if (IsOpen(w)) CloseContext(w);
    } catch (...) {
    }
  }
  platform::SetScreenView(nullptr);
}

CustomUi::Window* CustomUi::WindowOf(PF_WindowType window) const {
  if (window == PF_Window_COMP) return comp_.get();
  if (window == PF_Window_EFFECT) return effect_.get();
  throw HostError("no view of window type " + std::to_string(window), PF_Err_BAD_CALLBACK_PARAM);
}

platform::View* CustomUi::view(PF_WindowType window) const { return WindowOf(window)->view; }
bool CustomUi::IsOpen(PF_WindowType window) const { return WindowOf(window)->open; }

PF_FixedPoint CustomUi::ViewToLayer(PF_FixedPoint p) const {
  return {ToFixed((FromFixed(p.h) - geometry_.origin_x) / geometry_.zoom),
          ToFixed((FromFixed(p.v) - geometry_.origin_y) / geometry_.zoom)};
}

PF_FixedPoint CustomUi::LayerToView(PF_FixedPoint p) const {
  return {ToFixed(geometry_.origin_x + FromFixed(p.h) * geometry_.zoom),
          ToFixed(geometry_.origin_y + FromFixed(p.v) * geometry_.zoom)};
}

void CustomUi::ShowFrame(const PF_EffectWorld& frame) {
  frame_ = World(frame.width, frame.height);
  for (A_long y = 0; y < frame.height; ++y)
    std::memcpy(&frame_.At(0, y), reinterpret_cast<const uint8_t*>(frame.data) + size_t(y) * size_t(frame.rowbytes),
                size_t(frame.width) * sizeof(PF_Pixel));
  Repaint(*comp_);
}

bool CustomUi::Rerender(A_long time) {
  if (input_ == nullptr) return false;
  World out;
  const CommandResult r = instance_.RenderFrame(time, *input_, out);
  if (r.err != PF_Err_NONE) return false;
  ShowFrame(out.pf());
  return true;
}

// The view as the host paints it before the effect draws: the frame at the
// view's zoom (each view pixel shows the layer pixel its centre falls in,
// over black) or the panel of the effect window.
void CustomUi::Repaint(Window& w) {
  int width = 0, height = 0;
  platform::ViewSize(w.view, &width, &height);
  std::vector<uint32_t> px(size_t(width) * size_t(height), &w == effect_.get() ? kPanelGrey : 0u);
  if (&w == comp_.get() && !frame_.empty()) {
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const double lx = std::floor((x + 0.5 - geometry_.origin_x) / geometry_.zoom);
        const double ly = std::floor((y + 0.5 - geometry_.origin_y) / geometry_.zoom);
        if (lx < 0 || ly < 0 || lx >= frame_.width() || ly >= frame_.height()) continue;
        const PF_Pixel& p = frame_.At(A_long(lx), A_long(ly));
        const auto over_black = [&](A_u_char c) { return uint32_t((c * p.alpha + 127) / 255); };
        px[size_t(y) * size_t(width) + size_t(x)] =
            over_black(p.red) << 16 | over_black(p.green) << 8 | over_black(p.blue);
      }
  }
  platform::SetViewPixels(w.view, px);
}

PF_Err CustomUi::ConvertPoint(void* refcon, PF_ContextH context, PF_FixedPoint* pt, bool to_layer) {
  if (refcon == nullptr || pt == nullptr || context == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  const auto* ui = static_cast<const CustomUi*>(refcon);
  if (context->w_type == PF_Window_COMP) *pt = to_layer ? ui->ViewToLayer(*pt) : ui->LayerToView(*pt);
  return PF_Err_NONE;
}

PF_EventCallbacks CustomUi::Callbacks(const CustomUi* self) {
  PF_EventCallbacks cbs{};
  cbs.refcon = const_cast<CustomUi*>(self);
  // Only the composition view is zoomed; the effect window's control
  // pixels are its own.
  cbs.layer_to_comp = [](void* r, PF_ContextH c, A_long, A_long, PF_FixedPoint* pt) {
    return ConvertPoint(r, c, pt, false);
  };
  cbs.comp_to_layer = [](void* r, PF_ContextH c, A_long, A_long, PF_FixedPoint* pt) {
    return ConvertPoint(r, c, pt, true);
  };
  cbs.source_to_frame = [](void* r, PF_ContextH c, PF_FixedPoint* pt) { return ConvertPoint(r, c, pt, false); };
  cbs.frame_to_source = [](void* r, PF_ContextH c, PF_FixedPoint* pt) { return ConvertPoint(r, c, pt, true); };
  cbs.info_draw_color = [](void*, PF_Pixel color) -> PF_Err {
    return platform::InfoPaletteColor(color.red, color.green, color.blue) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
  };
  cbs.info_draw_text = [](void*, const A_char* text1, const A_char* text2) -> PF_Err {
    return platform::InfoPaletteText(text1, text2) ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
  };
  return cbs;
}

PF_EventExtra CustomUi::EventFor(Window& w, PF_EventType type) const {
  PF_EventExtra e{};
  e.contextH = &w.context;
  e.e_type = type;
  e.cbs = Callbacks(this);
  if (&w == effect_.get()) {
    e.effect_win.index = control_;
    e.effect_win.area = PF_Rect{0, 0, kControlWidth, kControlHeight};
    e.effect_win.current_frame = e.effect_win.area;
  }
  return e;
}

CommandResult CustomUi::NewContext(PF_WindowType window) {
  Window& w = *WindowOf(window);
  PF_EventExtra e = EventFor(w, PF_Event_NEW_CONTEXT);
  const CommandResult r = instance_.SendEvent(e, 0);
  w.open = true;
  return r;
}

CommandResult CustomUi::CloseContext(PF_WindowType window) {
  Window& w = *WindowOf(window);
  if (!w.open) throw HostError("the window's context is not open", PF_Err_BAD_CALLBACK_PARAM);
  PF_EventExtra e = EventFor(w, PF_Event_CLOSE_CONTEXT);
  const CommandResult r = instance_.SendEvent(e, 0);
  w.open = false;
  return r;
}

// Sends the event and acts on the answer: a re-render and redraw for
// FORCE_RERENDER, a redraw for REFRESH_UI.
EventAnswer CustomUi::Send(Window& w, PF_EventExtra& event, A_long time) {
  if (!w.open) throw HostError("an event for a window whose context is not open", PF_Err_BAD_CALLBACK_PARAM);
  EventAnswer a;
  a.result = instance_.SendEvent(event, time);
  a.evt_out_flags = event.evt_out_flags;
  a.handled = (event.evt_out_flags & PF_EO_HANDLED_EVENT) != 0;
  return a;
}

EventAnswer CustomUi::Click(PF_WindowType window, const PointerPress& press, A_long time) {
  Window& w = *WindowOf(window);
  // A program that exports "gIsSwapped" tells its plug-ins through it which
  // button was pressed; the others watch the press with their hooks.
  if (auto* swapped = static_cast<unsigned char*>(dlsym(RTLD_DEFAULT, "gIsSwapped"))) *swapped = press.right ? 1 : 0;
  platform::DeliverPointerEvent(PressEvent(press));
  PF_EventExtra e = EventFor(w, PF_Event_DO_CLICK);
  e.u.do_click.when = platform::GetTickCount();
  e.u.do_click.screen_point = press.where;
  e.u.do_click.num_clicks = 1;
  e.u.do_click.modifiers = press.modifiers;
  EventAnswer a = Send(w, e, time);
  A_long out_flags = a.result.out_flags;
  // The drag goes on while the effect asks for it and the button is down;
  // the release is the last event.
  const int button = press.right ? platform::kVkRButton : platform::kVkLButton;
  while (a.result.err == PF_Err_NONE && e.u.do_click.send_drag) {
    const bool down = platform::PollPointer(button);
    platform::PointerPoint at;
    platform::GetCursorPos(&at);
    const PF_DoClickEventInfo previous = e.u.do_click;
    e = EventFor(w, PF_Event_DO_CLICK);
    e.u.do_click = previous;
    e.u.do_click.when = platform::GetTickCount();
    e.u.do_click.screen_point = PF_Point{at.x, at.y};
    e.u.do_click.modifiers = HeldModifiers();
    e.u.do_click.send_drag = 1;
    e.u.do_click.last_time = down ? 0 : 1;
    const int drags = a.drag_events + 1;
    a = Send(w, e, time);
    a.drag_events = drags;
    out_flags |= a.result.out_flags;
    if (!down) break;
  }
  if (out_flags & PF_OutFlag_FORCE_RERENDER) {
    ++rerenders_asked_;
    a.rerendered = window == PF_Window_COMP && Rerender(time);
  }
  if (out_flags & (PF_OutFlag_FORCE_RERENDER | PF_OutFlag_REFRESH_UI)) {
    Draw(window, time);
    a.ui_refreshed = true;
  }
  return a;
}

EventAnswer CustomUi::Draw(PF_WindowType window, A_long time, bool dont_draw) {
  Window& w = *WindowOf(window);
  Repaint(w);
  PF_EventExtra e = EventFor(w, PF_Event_DRAW);
  int width = 0, height = 0;
  platform::ViewSize(w.view, &width, &height);
  e.u.draw.update_rect = PF_Rect{0, 0, width, height};
  e.u.draw.depth = 32;
  e.evt_in_flags = dont_draw ? PF_EI_DONT_DRAW : PF_EI_NONE;
  return Send(w, e, time);
}

EventAnswer CustomUi::Idle(PF_WindowType window, PF_Point where, A_long modifiers, A_long time) {
  Window& w = *WindowOf(window);
  platform::PointerEvent move = PressEvent(PointerPress{where, false, modifiers});
  move.kind = platform::PointerEvent::kMove;
  platform::DeliverPointerEvent(move);
  PF_EventExtra e = EventFor(w, PF_Event_IDLE);
  e.u.idle.when = platform::GetTickCount();
  e.u.idle.screen_point = where;
  e.u.idle.modifiers = modifiers;
  return Send(w, e, time);
}

}  // namespace ombrix
