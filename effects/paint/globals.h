// Paint's global data: the tablet state and how to read it, the current
// tool, and the preferences as they apply (the preference record itself and
// its storage are in preferences.h). The host keeps it in a handle made at
// GLOBAL_SETUP.
#pragma once

#include <cstdint>

namespace paint {

// The process-wide tablet record (opened at GLOBAL_SETUP).
struct TabletState;

// Tools.
inline constexpr int32_t kToolEyedropper = 1;
inline constexpr int32_t kToolPaint = 2;
inline constexpr int32_t kToolSelect = 3;
inline constexpr int32_t kToolEraser = 4;

// The onion-skin settings: nine 32-bit words, as the preference record
// holds them.
struct OnionPrefs {
  float skin_opacity;      // 0.05..1
  int32_t frames_back;     // 0..1000
  int32_t frames_forward;  // 0..1000
  float back_color[3];     // red, green, blue in 0..1
  float forward_color[3];
};
static_assert(sizeof(OnionPrefs) == 36);

struct PaintGlobals {
  TabletState* tablet;  // null when no tablet context could be opened
  bool tablet_available;
  bool mouse_drawing_disabled;  // only with a tablet available
  bool high_res_coordinates;    // only with a tablet available
  bool tablet_has_pressure;     // its pressure maximum lies above its minimum
  bool tablet_in_use;           // set when the tablet context was opened
  // Tablet to screen: x = raw x * x_scale + x_offset (and y alike);
  // pressure = raw * pressure_scale + pressure_offset.
  float x_scale, y_scale, x_offset, y_offset;
  float pressure_scale, pressure_offset;
  int32_t tool;
  int32_t tool_after_eyedropper;
  bool show_actual_brush_size;
  bool better_preview;
  bool show_toolbar;
  bool swedish_ui;
  OnionPrefs onion;
};

// The global data before a tablet is opened and preferences applied: no
// tablet, the identity conversion (scales 1, offsets 0), the Paint tool, and
// every preference off with an empty onion block.
inline void InitPaintGlobals(PaintGlobals* g) {
  *g = PaintGlobals{};
  g->x_scale = 1.0f;
  g->y_scale = 1.0f;
  g->pressure_scale = 1.0f;
  g->tool = kToolPaint;
  g->tool_after_eyedropper = kToolPaint;
}

}  // namespace paint
