// Painting in the host's windows: the click in the composition window with
// its tools (strokes, selection paths, the radius drag, the eyedropper),
// the overlay drawn over the view, the idle outline, and the thread mouse
// hook that tells a right click from a left one.
//
// Every handler follows the pointer itself in a modal loop that polls the
// platform's pointer until the button is released.
#pragma once

#include <ombrix/platform/view.h>

#include <ombrix/platform/dialog.h>

#include <pf/api.h>

#include <cstdint>
#include <string>

#include "drawing.h"
#include "globals.h"

namespace paint {

// What the handlers work on during one event.
struct PaintEvent {
  PF_InData* in_data = nullptr;
  PF_EventExtra* event = nullptr;
  MemoryBlock* drawing = nullptr;
  PaintGlobals* globals = nullptr;  // may be null: no tablet, the Paint tool
  ombrix::platform::View* view = nullptr;
  ombrix::platform::DialogWindow* parent = nullptr;  // owner of menus and dialogs
  const char* small_font = nullptr;                  // the host's fonts (may be empty names)
  const char* medium_font = nullptr;
};

struct ClickOutcome {
  PF_Err err = PF_Err_NONE;
  bool changed = false;  // the drawing changed
};

// ---------------------------------------------------------------------------
// The mouse hook
// ---------------------------------------------------------------------------
// Installs the hook for the first user (none when the host exports
// "gIsSwapped"); removes it when the last one leaves.
void AddMouseHookUser();
void RemoveMouseHookUser();
int MouseHookUsers();
// Whether the click being handled is a right click; the recorded state
// goes back to "left" afterwards.
bool TakeRightClick();
// The host program's "gIsSwapped" byte, or null (looked up once).
const unsigned char* SwappedByte();

// ---------------------------------------------------------------------------
// Handlers
// ---------------------------------------------------------------------------
// The click in the composition window (after the host-tool check).
ClickOutcome CompositionClick(const PaintEvent& e);
// The overlay: status line, toolbar and the paths of the selected strokes.
void DrawOverlay(const PaintEvent& e);
// The outline that follows the pointer while idle.
void IdleOutline(const PaintEvent& e);

// The "Brush Settings" control (260 x 74 control pixels): drawing it, and a
// click in it (the press at the event's point, in control pixels).
void DrawBrushControl(const PaintEvent& e);
ClickOutcome BrushControlClick(const PaintEvent& e);
// The centre of item `item`'s rectangle; false for no such item.
bool BrushControlItemCentre(int item, int* x, int* y);
// The item (2..23) whose rectangle, grown by `margin`, holds control point
// (x, y); 0 for none.
int BrushControlItemAt(int x, int y, int margin);

// Pieces shared with the tests and the control.
// String `id` of the string table (empty when it cannot be loaded).
std::string PaintString(int id);
// The brush colour in 8-bit channels.
ombrix::platform::ColorRef BrushColorRef(const BrushSettings& brush);
// The colour under screen point (x, y): the pixel counted twice plus its
// 3 x 3 neighbourhood, per channel summed in 16 bits and divided by 10,
// as 0..1.
void SampleScreenColor(int x, int y, float rgb[3]);
// Whether segments p0-p1 and q0-q1 cross properly (both parameters in
// 0..1); parallel segments never do.
bool SegmentsCross(double p0x, double p0y, double p1x, double p1y, double q0x, double q0y, double q1x, double q1y);
// Toggles the selected flag of every stroke the path crosses (in `state` 2
// only selected strokes are tested, in 0 all flags are cleared first);
// answers whether any flag changed. The path is in layer pixels.
bool SelectAlongPath(MemoryBlock* drawing, const float* xy, int32_t points, int32_t state, float width, float height);

}  // namespace paint
