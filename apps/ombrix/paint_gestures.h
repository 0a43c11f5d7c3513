// Gestures in `ombrix paint apply`: presses, moves and releases in the
// composition view, tool changes and clicks on the "Brush Settings"
// control, replayed through the Paint effect's own EVENT command in a host
// session of their own.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "drawing.h"
#include "flat_drawing.h"
#include "globals.h"

namespace ombrix::cli {

struct Gesture {
  enum class Kind { kTool, kDown, kMove, kUp, kControl } kind = Kind::kMove;
  int x = 0, y = 0;                 // view pixels (fractions dropped)
  double exact_x = 0, exact_y = 0;  // view pixels as given (the pen keeps the fractions)
  std::optional<double> pressure;   // 0..1 of the pen's axis; none: the mouse
  bool eraser = false;              // the pen's eraser end (else its tip)
  bool right = false;
  bool shift = false, control = false, alt = false, escape = false;
  std::optional<double> t;  // the platform clock, seconds
  std::optional<int> menu;  // the popup's answer for a right press
  int tool = 0;
  int item = 0;                      // kControl
  std::optional<double> value;       // kControl: the "Set" dialog's answer
  std::optional<std::string> color;  // kControl: the colour chooser's answer
  int drag_x = 0, drag_y = 0;        // kControl: where the press is dragged to, from the item's centre
  bool drag = false;
};

// The pen tablet the session's driver stands for.
struct GestureTablet {
  bool present = false;
  int pressure_max = 1023;  // the pressure axis runs 0..pressure_max
};

struct GestureView {
  double zoom = 1.0;
  double origin_x = 0.0, origin_y = 0.0;
};

// Whether step `s` is a gesture, and the gesture it is (UsageError naming
// `where` for a malformed one).
bool IsGesture(const nlohmann::json& s);
Gesture ReadGesture(const nlohmann::json& s, const std::string& where);
GestureView ReadGestureView(const nlohmann::json& view, const std::string& where);
GestureTablet ReadGestureTablet(const nlohmann::json& tablet, const std::string& where);

struct GestureSession {
  std::string plugins;   // the plug-in folder (empty: the default)
  std::string registry;  // where the preferences are kept (empty: the user's)
  int width = 640, height = 360;
  GestureView view;
  GestureTablet tablet;
  double time = 0.0;                   // the layer time, seconds
  std::vector<std::string>* view_log;  // what the effect drew, appended (may be null)
};

// Queues the answer of the next "Set" dialog: `value` typed in, then OK.
void QueueSetDialogValue(double value);

// Runs `gestures` on `drawing` (replaced by the result) through a Paint
// instance, with the tool of `globals` handed in and back.
void RunGestures(const GestureSession& session, const std::vector<Gesture>& gestures, paint::DrawingRef& drawing,
                 paint::PaintGlobals& globals, const std::string& where);

}  // namespace ombrix::cli
