// The popup menu and its commands.
//
// One table of facts (strokes, selection, Color Clone, tool) decides what
// the menu offers; the same rules answer MenuItemEnabled(), so a scripted
// edit is refused exactly where the menu would gray the item out.
#include "menu.h"

#include <ombrix/platform/color.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/message_box.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>

#include "preferences.h"
#include "resources.h"
#include "set_dialog.h"

namespace paint {

namespace plat = ombrix::platform;

namespace {

using plat::MenuResourceItem;
constexpr uint32_t kPop = plat::kMfPopup;
constexpr uint32_t kEnd = plat::kMfEnd;
constexpr uint32_t kSep = plat::kMfSeparator;
constexpr uint32_t kGray = plat::kMfGrayed;

// Menu resource 158.
constexpr MenuResourceItem kPopupItems[] = {
    {kPop | kEnd, 0, "POPUPS"},
    {kPop, 0, "Select"},
    {0, kCmdSelectAll, "All"},
    {0, kCmdSelectNone, "None"},
    {0, kCmdSelectLast, "Last Stroke"},
    {0, kCmdSelectCurrentTime, "Current Time"},
    {0, kCmdSelectSimilar, "Similar"},
    {kEnd, kCmdSelectInverse, "Inverse"},
    {kPop, 0, "Edit"},
    {0, kCmdDeleteSelected, "Delete Selected"},
    {0, kCmdDeleteLast, "Delete Last Stroke"},
    {0, kCmdDeleteAll, "Delete All"},
    {kSep, 0, ""},
    {kGray, kCmdSettingsLabel, "Settings"},
    {0, kCmdCopySmart, "Copy Smart"},
    {0, kCmdPasteSmart, "Paste Smart"},
    {kPop | kEnd, 0, "Paste"},
    {0, kCmdPasteAll, "All Settings"},
    {0, kCmdPasteRadius, "Radius"},
    {0, kCmdPasteColor, "Color"},
    {0, kCmdPasteOpacity, "Opacity"},
    {0, kCmdPasteType, "Brushtype"},
    {0, kCmdPasteFeather, "Feather"},
    {kEnd, kCmdPasteStylus, "Stylus Controls"},
    {kSep, 0, ""},
    {0, kCmdUndo, "Undo"},
    {kSep, 0, ""},
    {0, kCmdToolSelect, "Select"},
    {0, kCmdToolEyedropper, "Eyedropper"},
    {0, kCmdToolPaint, "Paint"},
    {0, kCmdToolEraser, "Eraser"},
    {kSep, 0, ""},
    {kPop, 0, "Brush"},
    {0, kCmdSolidBrush, "Solid Brush"},
    {0, kCmdPaintBrush, "Paint Brush"},
    {0, kCmdAirBrush, "Air Brush"},
    {0, kCmdSquareBrush, "Square Brush"},
    {kSep, 0, ""},
    {0, kCmdPressureRadius, "Pressure Radius"},
    {0, kCmdPressureOpacity, "Pressure Opacity"},
    {0, kCmdColorClone, "Color Clone"},
    {kSep, 0, ""},
    {0, kCmdColorPicker, "Color Picker..."},
    {kEnd, kCmdOpacity, "Opacity..."},
    {kPop | kEnd, 0, "Options"},
    {kGray, kCmdShiftPaintInserts, "Shift-Paintv Inserts"},
    {kSep, 0, ""},
    {0, kCmdToCurrentFrame, "To Current Frame"},
    {0, kCmdToNextFrame, "To Next Frame"},
    {0, kCmdInRealtime, "In Realtime"},
    {0, kCmdContinuously, "Continously"},
    {kSep, 0, ""},
    {0, kCmdSharpStrokes, "Sharp Strokes"},
    {0, kCmdSmoothStrokes, "Smooth Strokes"},
    {kSep, 0, ""},
    {kEnd, kCmdEditPreferences, "Edit Preferences..."},
};

// Positions of the submenus: Select and Edit in the popup, Paste in Edit.
constexpr int kPosSelect = 0, kPosEdit = 1, kPosPaste = 7;

// Strokes selected within this many seconds of the current time.
constexpr double kCurrentTimeWindow = 0.02;
// "Delete All" asks first from this many strokes on.
constexpr int32_t kConfirmDeleteFrom = 9;

// ---------------------------------------------------------------------------
// Brush fields, in the order of the agreement mask
// ---------------------------------------------------------------------------
enum Field { kFieldColor, kFieldOpacity, kFieldRadius, kFieldType, kFieldFeather, kFieldStylus, kFieldCount };

bool SameField(const BrushSettings& a, const BrushSettings& b, int field) {
  switch (field) {
    case kFieldColor:
      return a.red == b.red && a.green == b.green && a.blue == b.blue;
    case kFieldOpacity:
      return a.opacity == b.opacity;
    case kFieldRadius:
      return a.radius == b.radius;
    case kFieldType:
      return a.type == b.type;
    case kFieldFeather:
      return a.feather == b.feather;
    default:
      return a.stylus == b.stylus;
  }
}

void CopyField(BrushSettings& to, const BrushSettings& from, int field) {
  switch (field) {
    case kFieldColor:
      to.red = from.red;
      to.green = from.green;
      to.blue = from.blue;
      break;
    case kFieldOpacity:
      to.opacity = from.opacity;
      break;
    case kFieldRadius:
      to.radius = from.radius;
      break;
    case kFieldType:
      to.type = from.type;
      break;
    case kFieldFeather:
      to.feather = from.feather;
      break;
    default:
      to.stylus = from.stylus;
      break;
  }
}

// The fields each paste command carries.
struct PasteFields {
  int id;
  bool fields[kFieldCount];
};
constexpr PasteFields kPastes[] = {
    {kCmdPasteAll, {true, true, true, true, true, true}},
    {kCmdPasteRadius, {false, false, true, false, false, false}},
    {kCmdPasteColor, {true, false, false, false, false, false}},
    {kCmdPasteOpacity, {false, true, false, false, false, false}},
    {kCmdPasteType, {false, false, false, true, false, false}},
    {kCmdPasteFeather, {false, false, false, false, true, false}},
    {kCmdPasteStylus, {false, false, false, false, false, true}},
};

// ---------------------------------------------------------------------------
// Menu state
// ---------------------------------------------------------------------------
struct Facts {
  const DrawingHeader* h;
  bool strokes;    // the drawing has strokes
  bool selection;  // strokes are selected
  bool clone;      // Color Clone is on
  int32_t tool;
};

Facts FactsOf(const CommandContext& ctx) {
  static const DrawingHeader kEmpty = DefaultHeader();
  const DrawingHeader* h = HeaderOf(ctx.drawing);
  if (!h) h = &kEmpty;
  const bool strokes = StrokeCount(ctx.drawing) > 0;
  return {h, strokes, strokes && h->selection_state != 0, ColorClone(*h), ctx.globals ? ctx.globals->tool : 0};
}

enum Submenu { kTopLevel, kSelectMenu, kEditMenu, kPasteMenu };

Submenu SubmenuOf(int id) {
  if (id >= kCmdSelectAll && id <= kCmdSelectInverse) return kSelectMenu;
  if (id >= kCmdDeleteSelected && id <= kCmdPasteSmart) return kEditMenu;
  if (id >= kCmdPasteAll && id <= kCmdPasteStylus) return kPasteMenu;
  return kTopLevel;
}

bool SubmenuEnabled(const Facts& f, Submenu menu) {
  switch (menu) {
    case kSelectMenu:
    case kEditMenu:
      return f.strokes;
    case kPasteMenu:
      return f.strokes && f.selection;
    default:
      return true;
  }
}

// The item's own state, its submenu aside.
bool OwnEnabled(const Facts& f, int id) {
  switch (id) {
    case kCmdUndo:
      return f.h->undo.available != 0;
    case kCmdToolEyedropper:
    case kCmdColorPicker:
      return !f.clone;
    case kCmdToolSelect:
      return f.strokes;
    case kCmdSelectNone:
    case kCmdSelectSimilar:
    case kCmdSelectInverse:
    case kCmdDeleteSelected:
    case kCmdCopySmart:
    case kCmdPasteSmart:
      return f.selection;
    case kCmdSettingsLabel:
    case kCmdShiftPaintInserts:
      return false;
    default:
      return true;
  }
}

bool Checked(const Facts& f, int id) {
  const DrawingHeader& h = *f.h;
  switch (id) {
    case kCmdToolSelect:
      return f.tool == kToolSelect;
    case kCmdToolEyedropper:
      return f.tool == kToolEyedropper;
    case kCmdToolPaint:
      return f.tool == kToolPaint;
    case kCmdToolEraser:
      return f.tool == kToolEraser;
    case kCmdSolidBrush:
    case kCmdPaintBrush:
    case kCmdAirBrush:
    case kCmdSquareBrush:
      return BrushShape(h.brush) == id - kCmdSolidBrush + kBrushSolid;
    case kCmdPressureRadius:
      return (h.brush.stylus & kPressureRadius) != 0;
    case kCmdPressureOpacity:
      return (h.brush.stylus & kPressureOpacity) != 0;
    case kCmdColorClone:
      return f.clone;
    case kCmdToCurrentFrame:
    case kCmdToNextFrame:
    case kCmdInRealtime:
    case kCmdContinuously:
      return PaintTiming(h) == id - kCmdToCurrentFrame + kTimingCurrentFrame;
    case kCmdSharpStrokes:
      return !SmoothStrokes(h);
    case kCmdSmoothStrokes:
      return SmoothStrokes(h);
    default:
      return false;
  }
}

bool Known(int id) {
  for (const MenuResourceItem& item : kPopupItems) {
    if (item.id == id && !(item.flags & (kPop | kSep))) return true;
  }
  return false;
}

// Grays or enables the item, and checks it or not, as the facts say.
void ShowState(plat::Menu* popup, const Facts& f) {
  for (const MenuResourceItem& item : kPopupItems) {
    if (item.flags & (kPop | kSep)) continue;
    plat::EnableMenuItem(popup, item.id, plat::kMfByCommand | (OwnEnabled(f, item.id) ? plat::kMfEnabled : kGray));
    plat::CheckMenuItem(popup, item.id,
                        plat::kMfByCommand | (Checked(f, item.id) ? plat::kMfChecked : plat::kMfUnchecked));
  }
  auto enable = [](plat::Menu* menu, int position, bool on) {
    plat::EnableMenuItem(menu, position, plat::kMfByPosition | (on ? plat::kMfEnabled : kGray));
  };
  enable(popup, kPosSelect, SubmenuEnabled(f, kSelectMenu));
  enable(popup, kPosEdit, SubmenuEnabled(f, kEditMenu));
  enable(plat::GetSubMenu(popup, kPosEdit), kPosPaste, SubmenuEnabled(f, kPasteMenu));
}

// ---------------------------------------------------------------------------
// Strokes by id and by flag
// ---------------------------------------------------------------------------
int32_t IndexOfId(const MemoryBlock* drawing, int32_t id) {
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    if (StrokeAt(drawing, i)->id == id) return i;
  }
  return -1;
}

int32_t IndexOfLastStroke(const MemoryBlock* drawing) {
  int32_t best = -1;
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    if (best < 0 || StrokeAt(drawing, i)->id > StrokeAt(drawing, best)->id) best = i;
  }
  return best;
}

void SelectEvery(MemoryBlock* drawing, int32_t selected) {
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) StrokeAt(drawing, i)->selected = selected;
}

// Deletes the selected strokes from the last slot down. A deletion moves
// the last stroke into the freed slot; that stroke was visited already and
// kept, so the walk goes on below it.
bool DeleteSelection(MemoryBlock* drawing, DrawingHeader& h) {
  bool deleted = false;
  for (int32_t i = StrokeCount(drawing) - 1; i >= 0; --i) {
    if (StrokeAt(drawing, i)->selected) deleted = DeleteStroke(drawing, i) || deleted;
  }
  h.selection_state = 0;
  return deleted;
}

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------
bool SelectCurrentTime(MemoryBlock* drawing, double now) {
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    StrokeRecord* s = StrokeAt(drawing, i);
    s->selected = std::fabs(double(s->paint_time) - now) < kCurrentTimeWindow ? 1 : 0;
  }
  // The selection brush follows the strokes now selected (Copy Smart reads
  // it), and a window holding no stroke leaves no selection.
  RecomputeSelection(drawing);
  return true;
}

bool MatchesSelection(const DrawingHeader& h, const BrushSettings& brush) {
  for (int field = 0; field < kFieldCount; ++field) {
    if (h.selection_mask[field] && !SameField(brush, h.selection, field)) return false;
  }
  return true;
}

bool SelectSimilar(MemoryBlock* drawing, const DrawingHeader& h) {
  if (!h.selection_state) return false;
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    StrokeRecord* s = StrokeAt(drawing, i);
    if (!s->selected && MatchesSelection(h, s->brush)) s->selected = 1;
  }
  RecomputeSelection(drawing);
  return true;
}

bool DeleteAll(const CommandContext& ctx, DrawingHeader& h) {
  const int32_t count = StrokeCount(ctx.drawing);
  if (count >= kConfirmDeleteFrom) {
    const std::string text = "Are you sure that you want to delete all " + std::to_string(count) + " strokes?";
    if (plat::MessageBox(ctx.parent, text.c_str(), "Confirm", plat::kMbOkCancel | plat::kMbIconExclamation) !=
        plat::kIdOk)
      return false;
  }
  SelectEvery(ctx.drawing, 1);
  ClearUndoStore(h);
  return DeleteSelection(ctx.drawing, h);
}

bool CopySmart(DrawingHeader& h) {
  if (!h.selection_state) return false;
  for (int field = 0; field < kFieldCount; ++field) {
    if (h.selection_mask[field]) CopyField(h.brush, h.selection, field);
  }
  return true;
}

// Each selected stroke takes `fields` of the current brush; its settings
// are saved for Undo first.
bool Paste(MemoryBlock* drawing, DrawingHeader& h, const bool fields[kFieldCount]) {
  if (!h.selection_state) return false;
  bool pasted = false;
  for (int32_t i = 0; i < StrokeCount(drawing); ++i) {
    StrokeRecord* s = StrokeAt(drawing, i);
    if (!s->selected) continue;
    SaveStrokeSettings(h, *s);
    for (int field = 0; field < kFieldCount; ++field) {
      if (fields[field]) CopyField(s->brush, h.brush, field);
    }
    pasted = true;
  }
  return pasted;
}

// A colour channel in 0..1 as the chooser's byte: × 255, truncated.
uint8_t ChannelByte(float c) { return uint8_t(std::clamp(double(c) * 255.0, 0.0, 255.0)); }

plat::ColorRef g_custom_colors[plat::kCustomColorCount] = {};

bool PickBrushColor(const CommandContext& ctx, DrawingHeader& h) {
  plat::ChooseColorRequest request;
  request.owner = ctx.parent;
  request.color = plat::MakeColorRef(ChannelByte(h.brush.red), ChannelByte(h.brush.green), ChannelByte(h.brush.blue));
  request.custom_colors = g_custom_colors;
  request.flags = plat::kCcRgbInit | plat::kCcFullOpen;
  if (!plat::ChooseColor(&request)) return false;
  SetBrushColor(h.brush, float(plat::RedOf(request.color)) / 255.0f, float(plat::GreenOf(request.color)) / 255.0f,
                float(plat::BlueOf(request.color)) / 255.0f);
  return true;
}

bool SetOpacity(const CommandContext& ctx, DrawingHeader& h) {
  double percent = double(h.brush.opacity) * 100.0;
  if (!RunSetDialog(kStrOpacity, 0.0, 100.0, &percent, ctx.parent)) return false;
  SetBrushOpacity(h.brush, float(percent * 0.01));
  return true;
}

// The command itself; answers whether it changed the drawing.
bool Perform(const CommandContext& ctx, DrawingHeader& h, int id) {
  MemoryBlock* d = ctx.drawing;
  switch (id) {
    case kCmdSelectAll:
      SelectEvery(d, 1);
      RecomputeSelection(d);
      return true;
    case kCmdSelectNone:
      h.selection_state = 0;
      return true;
    case kCmdSelectLast:
      SelectEvery(d, 0);
      if (StrokeRecord* s = StrokeAt(d, IndexOfLastStroke(d))) s->selected = 1;
      RecomputeSelection(d);
      return true;
    case kCmdSelectCurrentTime:
      return SelectCurrentTime(d, ctx.current_time);
    case kCmdSelectSimilar:
      return SelectSimilar(d, h);
    case kCmdSelectInverse:
      for (int32_t i = 0; i < StrokeCount(d); ++i) StrokeAt(d, i)->selected = StrokeAt(d, i)->selected ? 0 : 1;
      RecomputeSelection(d);
      return true;
    case kCmdDeleteSelected:
      ClearUndoStore(h);
      return h.selection_state != 0 && DeleteSelection(d, h);
    case kCmdDeleteLast:
      ClearUndoStore(h);
      h.selection_state = 0;
      return DeleteStroke(d, IndexOfLastStroke(d));
    case kCmdDeleteAll:
      return DeleteAll(ctx, h);
    case kCmdCopySmart:
      ClearUndoStore(h);
      return CopySmart(h);
    case kCmdPasteSmart: {
      ClearUndoStore(h);
      bool fields[kFieldCount];
      for (int field = 0; field < kFieldCount; ++field) fields[field] = h.selection_mask[field] != 0;
      return Paste(d, h, fields);
    }
    case kCmdUndo:
      return UndoLastEdit(d);
    case kCmdToolSelect:
    case kCmdToolEyedropper:
    case kCmdToolPaint:
    case kCmdToolEraser:
      if (ctx.globals) {
        constexpr int32_t kTools[] = {kToolSelect, kToolEyedropper, kToolPaint, kToolEraser};
        SetCurrentTool(ctx.globals, kTools[id - kCmdToolSelect]);
      }
      return false;
    case kCmdSolidBrush:
    case kCmdPaintBrush:
    case kCmdAirBrush:
    case kCmdSquareBrush:
      SetBrushType(h.brush, id - kCmdSolidBrush + kBrushSolid);
      return true;
    case kCmdPressureRadius:
      h.brush.stylus ^= kPressureRadius;
      return true;
    case kCmdPressureOpacity:
      h.brush.stylus ^= kPressureOpacity;
      return true;
    case kCmdColorClone:
      SetColorClone(h, !ColorClone(h));
      return true;
    case kCmdColorPicker:
      return PickBrushColor(ctx, h);
    case kCmdOpacity:
      return SetOpacity(ctx, h);
    case kCmdToCurrentFrame:
    case kCmdToNextFrame:
    case kCmdInRealtime:
    case kCmdContinuously:
      SetPaintTiming(h, id - kCmdToCurrentFrame + kTimingCurrentFrame);
      return true;
    case kCmdSharpStrokes:
    case kCmdSmoothStrokes: {
      const bool was = SmoothStrokes(h);
      SetSmoothStrokes(h, id == kCmdSmoothStrokes);
      return was != SmoothStrokes(h);
    }
    case kCmdEditPreferences:
      if (ctx.globals) RunPreferencesDialog(ctx.globals, ctx.parent);
      return false;
    default:
      break;
  }
  for (const PasteFields& p : kPastes) {
    if (p.id != id) continue;
    ClearUndoStore(h);
    return Paste(d, h, p.fields);
  }
  return false;
}

// Commands whose change the host must render again.
bool NeedsRender(int id) {
  return id == kCmdUndo || id == kCmdSharpStrokes || id == kCmdSmoothStrokes ||
         (id >= kCmdDeleteSelected && id <= kCmdDeleteAll) || (id >= kCmdPasteSmart && id <= kCmdPasteStylus);
}

}  // namespace

plat::MenuResource PopupMenuResource() { return {kPopupItems, int(std::size(kPopupItems))}; }

void SetCurrentTool(PaintGlobals* globals, int32_t tool) {
  if (!globals) return;
  tool = std::clamp(tool, kToolEyedropper, kToolEraser);
  if (tool == kToolEyedropper && globals->tool != kToolEyedropper) globals->tool_after_eyedropper = globals->tool;
  globals->tool = tool;
}

void RecomputeSelection(MemoryBlock* drawing) {
  DrawingHeader* h = HeaderOf(drawing);
  if (!h) return;
  bool any = false;
  for (int32_t i = StrokeCount(drawing) - 1; i >= 0; --i) {
    const StrokeRecord& s = *StrokeAt(drawing, i);
    if (!s.selected) continue;
    if (!any) {
      h->selection = s.brush;
      for (int32_t& agree : h->selection_mask) agree = 1;
      any = true;
      continue;
    }
    for (int field = 0; field < kFieldCount; ++field) {
      if (!SameField(s.brush, h->selection, field)) h->selection_mask[field] = 0;
    }
  }
  h->selection_state = any ? 1 : 0;
}

bool UndoLastEdit(MemoryBlock* drawing) {
  DrawingHeader* h = HeaderOf(drawing);
  if (!h || !h->undo.available) {
    plat::MessageBeep(plat::kBeepDefault);
    return false;
  }
  // The store is taken out whole; what the undoing does goes into a fresh one.
  const UndoStore old = h->undo;
  h->undo = UndoStore{0, 0, 0, 0, 0};
  if (const MemoryBlock* added = MemoryBlockFromId(old.added)) {
    const auto* ids = static_cast<const int32_t*>(added->data);
    const uint32_t n = std::min(uint32_t(std::max(old.added_count, 0)), added->size / uint32_t(sizeof(int32_t)));
    for (uint32_t i = 0; i < n; ++i) DeleteStroke(drawing, IndexOfId(drawing, ids[i]));
  }
  if (const MemoryBlock* saved = MemoryBlockFromId(old.saved)) {
    const uint32_t n = std::min(uint32_t(std::max(old.saved_count, 0)), saved->size / kStrokeSize);
    for (uint32_t i = 0; i < n; ++i) {
      StrokeRecord r;
      std::memcpy(&r, static_cast<const char*>(saved->data) + i * kStrokeSize, kStrokeSize);
      if (r.points != 0) {
        // A deleted stroke comes back with its points; the store no longer owns them.
        MemoryBlock* stroke = NewMemoryBlockFrom(&r, kStrokeSize);
        if (stroke) {
          AddFinishedStroke(drawing, stroke);
        } else {
          DisposeMemoryBlock(MemoryBlockFromId(r.points));
        }
      } else if (StrokeRecord* s = StrokeAt(drawing, IndexOfId(drawing, r.id))) {
        SaveStrokeSettings(*h, *s);
        s->brush = r.brush;
      }
    }
  }
  DisposeMemoryBlock(MemoryBlockFromId(old.added));
  DisposeMemoryBlock(MemoryBlockFromId(old.saved));
  return true;
}

bool MenuItemEnabled(const CommandContext& ctx, int id) {
  const Facts f = FactsOf(ctx);
  if (!Known(id) || !OwnEnabled(f, id)) return false;
  const Submenu menu = SubmenuOf(id);
  return SubmenuEnabled(f, menu) && (menu != kPasteMenu || SubmenuEnabled(f, kEditMenu));
}

bool MenuItemChecked(const CommandContext& ctx, int id) { return Checked(FactsOf(ctx), id); }

CommandResult RunMenuCommand(const CommandContext& ctx, int id) {
  CommandResult result;
  DrawingHeader* h = HeaderOf(ctx.drawing);
  if (!h || !Known(id)) return result;
  result.changed = Perform(ctx, *h, id);
  result.rerender = result.changed && NeedsRender(id);
  // Brush and option changes end what Undo could take back.
  if (id >= kCmdSolidBrush && id <= kCmdEditPreferences) ClearUndoStore(*h);
  if (ctx.globals && ctx.globals->tool == kToolSelect && StrokeCount(ctx.drawing) == 0)
    SetCurrentTool(ctx.globals, kToolPaint);
  // Without a selection no stroke stays flagged (as the next render would
  // leave them), so that a later selection never picks up stale flags.
  if (!h->selection_state) SelectEvery(ctx.drawing, 0);
  return result;
}

CommandResult RunPopupMenu(const CommandContext& ctx, int x, int y, int* chosen) {
  if (chosen) *chosen = 0;
  const plat::MenuResource resource = PopupMenuResource();
  plat::Menu* bar = plat::LoadMenuResource(&resource);
  plat::Menu* popup = plat::GetSubMenu(bar, 0);
  if (!popup) {
    plat::DestroyMenu(bar);
    plat::MessageBeep(plat::kBeepDefault);
    return {};
  }
  ShowState(popup, FactsOf(ctx));
  const int id =
      plat::TrackPopupMenu(popup, plat::kTpmLeftAlign | plat::kTpmRightButton | plat::kTpmReturnCmd, x, y, ctx.parent);
  plat::DestroyMenu(bar);
  if (chosen) *chosen = id;
  return id != 0 ? RunMenuCommand(ctx, id) : CommandResult{};
}

}  // namespace paint
