// The host's side of an effect's custom UI: a composition view of the
// layer at a zoom and offset, the effect-control view of its custom
// control, and the events sent to the effect for them.
//
// The composition view shows the last frame shown (ShowFrame) at the view's
// zoom, with whatever the effect drew over it. Presses are delivered to the
// platform's pointer (so the thread mouse hooks see them) before the click
// is sent; an effect that asks for a continuing drag gets the pointer's
// further scripted events as DO_CLICKs that arrive with send_drag set, the
// last (the release) with last_time set.
#pragma once

#include <ombrix/host/instance.h>
#include <ombrix/host/world.h>

#include <pf/api.h>

#include <memory>

namespace ombrix::platform {
struct View;
}

namespace ombrix {

// view pixel = origin + layer pixel x zoom.
struct ViewGeometry {
  double zoom = 1.0;
  double origin_x = 0.0, origin_y = 0.0;
};

// What an event's answer asked for and what the host did about it.
struct EventAnswer {
  CommandResult result;
  A_long evt_out_flags = 0;
  bool handled = false;       // HANDLED_EVENT
  bool rerendered = false;    // FORCE_RERENDER: the frame was rendered and shown again
  bool ui_refreshed = false;  // REFRESH_UI: the view was redrawn
  int drag_events = 0;        // continuing DO_CLICKs sent after the click
};

struct PointerPress {
  PF_Point where{0, 0};  // view pixels (in the effect window: control pixels)
  bool right = false;
  A_long modifiers = 0;  // PF_Mod_* bits
};

class CustomUi {
 public:
  static constexpr int kControlWidth = 260, kControlHeight = 74;

  // A composition view of view_width x view_height pixels. `control` is the
  // index of the parameter whose custom control the effect view shows.
  CustomUi(Instance& instance, ViewGeometry geometry, int view_width, int view_height, PF_ParamIndex control = 1);
  ~CustomUi();  // closes the contexts still open
  CustomUi(const CustomUi&) = delete;
  CustomUi& operator=(const CustomUi&) = delete;

  // The layer that renders asked for by FORCE_RERENDER take as input
  // (must outlive this object); without one they are only counted.
  void SetLayer(PF_EffectWorld* input) { input_ = input; }
  // Shows `frame` (a layer-sized world) in the composition view, over black.
  void ShowFrame(const PF_EffectWorld& frame);
  // Renders the frame at `time` from the layer and shows it; false without a layer.
  bool Rerender(A_long time);

  CommandResult NewContext(PF_WindowType window);
  CommandResult CloseContext(PF_WindowType window);
  bool IsOpen(PF_WindowType window) const;

  EventAnswer Click(PF_WindowType window, const PointerPress& press, A_long time);
  EventAnswer Draw(PF_WindowType window, A_long time, bool dont_draw = false);
  EventAnswer Idle(PF_WindowType window, PF_Point where, A_long modifiers, A_long time);

  platform::View* view(PF_WindowType window) const;
  const ViewGeometry& geometry() const { return geometry_; }
  const World& last_frame() const { return frame_; }
  int rerenders_asked() const { return rerenders_asked_; }

  // Layer <-> view conversions of the composition view, 16.16.
  PF_FixedPoint ViewToLayer(PF_FixedPoint p) const;
  PF_FixedPoint LayerToView(PF_FixedPoint p) const;

 private:
  struct Window;
  Instance& instance_;
  ViewGeometry geometry_;
  PF_ParamIndex control_;
  PF_EffectWorld* input_ = nullptr;
  World frame_;
  std::unique_ptr<Window> comp_, effect_;
  int rerenders_asked_ = 0;

  Window* WindowOf(PF_WindowType window) const;
  PF_EventExtra EventFor(Window& w, PF_EventType type) const;
  EventAnswer Send(Window& w, PF_EventExtra& event, A_long time);
  void Repaint(Window& w);
  static PF_EventCallbacks Callbacks(const CustomUi* self);
  static PF_Err ConvertPoint(void* refcon, PF_ContextH context, PF_FixedPoint* pt, bool to_layer);
};

}  // namespace ombrix
