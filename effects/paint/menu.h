// The popup menu of the composition window and the commands behind it:
// selecting strokes, deleting them, moving brush settings between the
// current brush and the selected strokes, tools, brush and drawing
// options, and the single-level undo with its redo.
//
// Every command is a function of its id and a context, so the click in the
// composition window, the popup and scripted edits all run the same code.
#pragma once

#include <ombrix/platform/dialog.h>
#include <ombrix/platform/menu.h>

#include <cstdint>

#include "drawing.h"
#include "globals.h"

namespace paint {

// Command ids of menu resource 158.
enum : int {
  kCmdUndo = 40009,
  kCmdToolSelect = 40010,
  kCmdToolEyedropper = 40011,
  kCmdToolPaint = 40012,
  kCmdToolEraser = 40013,
  kCmdSelectAll = 40016,
  kCmdSelectNone = 40017,
  kCmdSelectLast = 40018,
  kCmdSelectCurrentTime = 40019,
  kCmdSelectSimilar = 40020,
  kCmdSelectInverse = 40021,
  kCmdDeleteSelected = 40022,
  kCmdDeleteLast = 40023,
  kCmdDeleteAll = 40024,
  kCmdSettingsLabel = 40025,
  kCmdCopySmart = 40026,
  kCmdPasteSmart = 40027,
  kCmdPasteAll = 40028,
  kCmdPasteRadius = 40029,
  kCmdPasteColor = 40030,
  kCmdPasteOpacity = 40031,
  kCmdPasteType = 40032,
  kCmdPasteFeather = 40033,
  kCmdPasteStylus = 40034,
  kCmdSolidBrush = 40035,
  kCmdPaintBrush = 40036,
  kCmdAirBrush = 40037,
  kCmdSquareBrush = 40038,
  kCmdPressureRadius = 40039,
  kCmdPressureOpacity = 40040,
  kCmdColorClone = 40041,
  kCmdColorPicker = 40042,
  kCmdOpacity = 40043,
  kCmdShiftPaintInserts = 40044,
  kCmdToCurrentFrame = 40045,
  kCmdToNextFrame = 40046,
  kCmdInRealtime = 40047,
  kCmdContinuously = 40048,
  kCmdSharpStrokes = 40049,
  kCmdSmoothStrokes = 40050,
  kCmdEditPreferences = 40051,
};

inline constexpr int kPopupMenuId = 158;
// The menu resource: a bar whose one item, "POPUPS", opens the popup.
ombrix::platform::MenuResource PopupMenuResource();

// What a command works on. `globals` may be null: tool commands then do
// nothing and "Edit Preferences..." shows no dialog.
struct CommandContext {
  MemoryBlock* drawing = nullptr;
  PaintGlobals* globals = nullptr;
  double current_time = 0.0;  // the layer time in seconds
  ombrix::platform::DialogWindow* parent = nullptr;
};

struct CommandResult {
  bool changed = false;   // the drawing changed (strokes, settings or options)
  bool rerender = false;  // the host should render again
};

// Runs command `id` as the menu would, with its "after a command" rules.
// Commands that need a selection do nothing without one; an unknown id
// does nothing.
CommandResult RunMenuCommand(const CommandContext& ctx, int id);

// Whether the menu, opened now, offers command `id`, and whether it shows
// it checked.
bool MenuItemEnabled(const CommandContext& ctx, int id);
bool MenuItemChecked(const CommandContext& ctx, int id);

// Builds the popup in the state the drawing and tool give it, shows it at
// screen position (x, y) and runs the command chosen. `*chosen` (when not
// null) receives the id chosen, 0 when the menu was dismissed.
CommandResult RunPopupMenu(const CommandContext& ctx, int x, int y, int* chosen);

// Sets the current tool (clamped to 1..4); the tool in use before the
// eyedropper is remembered, for the eyedropper to return to.
void SetCurrentTool(PaintGlobals* globals, int32_t tool);

// Recomputes the selection brush, the agreement mask and the selection
// state from the strokes' selected flags.
void RecomputeSelection(MemoryBlock* drawing);

// Undo: takes the undo store out, deletes the strokes it added and puts
// back the records it saved; what the undoing does is recorded in a fresh
// store, so undoing again redoes. False (with a beep) when there is nothing
// to undo.
bool UndoLastEdit(MemoryBlock* drawing);

}  // namespace paint
