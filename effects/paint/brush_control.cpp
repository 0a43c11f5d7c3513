// The "Brush Settings" control in the effect window: the current brush
// shown item by item, and clicks and drags that change it.
#include <ombrix/platform/input.h>
#include <ombrix/platform/pointer.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "menu.h"
#include "painting.h"
#include "resources.h"
#include "set_dialog.h"

namespace paint {
namespace {

namespace plat = ombrix::platform;

enum Item : int {
  kItemType = 2,
  kItemColor = 3,
  kItemRadius = 4,
  kItemOpacity = 5,
  kItemFeather = 6,
  kItemPressureRadius = 7,
  kItemPressureOpacity = 8,
  kItemColorClone = 9,
  kItemEyedropper = 11,
  kItemRadiusHandle = 13,
  kItemOpacityHandle = 14,
  kItemFeatherHandle = 15,
  kItemRadiusBar = 17,
  kItemFeatherBar = 18,
  kItemRadiusLabel = 19,
  kItemOpacityLabel = 20,
  kItemStylusLabel = 21,
  kItemFeatherLabel = 22,
  kItemOpacityBar = 23,
};

struct ItemRect {
  int item;
  int top, left, bottom, right;
};

constexpr ItemRect kItems[] = {
    {kItemType, 2, 178, 12, 212},
    {kItemColor, 19, 178, 31, 200},
    {kItemRadius, 2, 52, 12, 86},
    {kItemOpacity, 34, 52, 44, 86},
    {kItemFeather, 18, 52, 28, 86},
    {kItemPressureRadius, 54, 48, 64, 102},
    {kItemPressureOpacity, 54, 112, 64, 166},
    {kItemColorClone, 34, 178, 44, 212},
    {kItemEyedropper, 19, 206, 31, 228},
    {kItemRadiusHandle, 2, 90, 12, 104},
    {kItemOpacityHandle, 34, 90, 44, 104},
    {kItemFeatherHandle, 18, 90, 28, 104},
    {kItemRadiusBar, 2, 120, 12, 176},
    {kItemFeatherBar, 18, 120, 28, 176},
    {kItemOpacityBar, 34, 120, 44, 176},
    {kItemRadiusLabel, 2, 4, 12, 50},
    {kItemOpacityLabel, 34, 4, 44, 50},
    {kItemStylusLabel, 54, 4, 64, 50},
    {kItemFeatherLabel, 18, 4, 28, 50},
};

constexpr int kEyedropperCursor = 152;
constexpr plat::ColorRef kText = 0x000000, kBar = 0x808080, kBarFill = 0x303030, kOn = 0x30A030, kOff = 0xA0A0A0;

const ItemRect* RectOf(int item) {
  for (const ItemRect& r : kItems)
    if (r.item == item) return &r;
  return nullptr;
}

bool KeyDown(int key) { return (plat::GetKeyState(key) & plat::kKeyDownBit) != 0; }

// A value the drag handles and Set dialogs edit, in the units shown
// (pixels for the radius, per cent for the others).
struct Editable {
  int value_item;
  int label_id;
  double lo, hi;
};
Editable EditableOf(int item) {
  switch (item) {
    case kItemRadius:
    case kItemRadiusHandle:
      return {kItemRadius, kStrItemBase + 3, 0.1, 500.0};
    case kItemOpacity:
    case kItemOpacityHandle:
      return {kItemOpacity, kStrOpacity, 0.0, 100.0};
    default:
      return {kItemFeather, kStrItemBase + 6, 0.0, 100.0};
  }
}

double Shown(const BrushSettings& b, int value_item) {
  if (value_item == kItemRadius) return double(b.radius);
  return double(value_item == kItemOpacity ? b.opacity : b.feather) * 100.0;
}

void Store(BrushSettings& b, int value_item, double v) {
  if (value_item == kItemRadius)
    SetBrushRadius(b, float(v));
  else if (value_item == kItemOpacity)
    SetBrushOpacity(b, float(v * 0.01));
  else
    SetBrushFeather(b, float(v * 0.01));
}

void Text(const PaintEvent& e, int item, const std::string& text) {
  const ItemRect* r = RectOf(item);
  plat::ViewFillRect(e.view, r->left, r->top, r->right, r->bottom, 0xC0C0C0);
  plat::ViewText(e.view, r->left + 1, r->top, text.c_str(), e.small_font, kText);
}

std::string ValueText(int value_item, double v) {
  char text[32];
  if (value_item == kItemRadius)
    std::snprintf(text, sizeof text, "%.1f", v);
  else
    std::snprintf(text, sizeof text, "%d%%", int(v));
  return text;
}

void Fill(const PaintEvent& e, int item, plat::ColorRef c, double fraction = 1.0) {
  const ItemRect* r = RectOf(item);
  const int right = r->left + int(std::lround((r->right - r->left) * std::clamp(fraction, 0.0, 1.0)));
  plat::ViewFillRect(e.view, r->left, r->top, right, r->bottom, c);
}

// The drag of a value handle: the change follows the horizontal distance,
// weighted down as the pointer strays vertically.
bool DragValue(const PaintEvent& e, BrushSettings& b, int item, PF_Point press) {
  const Editable ed = EditableOf(item);
  const double start = Shown(b, ed.value_item);
  double v = start;
  bool escaped = false;
  while (plat::PollPointer(plat::kVkLButton)) {
    plat::PointerPoint p;
    plat::GetCursorPos(&p);
    escaped = KeyDown(plat::kVkEscape);
    const double dx = p.x - press.h, dy = std::fabs(double(p.y - press.v));
    double change = dy >= 150.0 ? 0.0 : (150.0 - dy) * dx * 0.005;
    if (KeyDown(plat::kVkAlt)) change *= 0.1;
    v = escaped ? start : start + change;
    if (!escaped && KeyDown(plat::kVkShift)) v = std::floor(v / 10.0) * 10.0;
    v = std::clamp(v, ed.lo, ed.hi);
    Text(e, ed.value_item, ValueText(ed.value_item, v));
  }
  if (escaped || v == start) return false;
  Store(b, ed.value_item, v);
  return true;
}

// The eyedropper handle: the colour under the pointer where it is released.
bool DragEyedropper(const PaintEvent& e, DrawingHeader& h) {
  const int before = plat::SetCursor(kEyedropperCursor);
  plat::PointerPoint p{};
  while (plat::PollPointer(plat::kVkLButton)) {
    plat::GetCursorPos(&p);
    float rgb[3];
    SampleScreenColor(p.x, p.y, rgb);
    plat::ViewFillRect(
        e.view, RectOf(kItemColor)->left, RectOf(kItemColor)->top, RectOf(kItemColor)->right,
        RectOf(kItemColor)->bottom,
        plat::MakeColorRef(uint8_t(rgb[0] * 255.0f), uint8_t(rgb[1] * 255.0f), uint8_t(rgb[2] * 255.0f)));
  }
  plat::SetCursor(before);
  plat::GetCursorPos(&p);
  float rgb[3];
  SampleScreenColor(p.x, p.y, rgb);
  SetBrushColor(h.brush, rgb[0], rgb[1], rgb[2]);
  SetColorClone(h, false);
  return true;
}

// A click on an item that acts on release in the same item.
bool ClickItem(const PaintEvent& e, DrawingHeader& h, int item) {
  const CommandContext ctx{e.drawing, e.globals, 0.0, e.parent};
  switch (item) {
    case kItemType: {
      const int32_t t = h.brush.type;
      SetBrushType(h.brush, t > kEraserOffset ? (t - kEraserOffset) % 4 + 1 + kEraserOffset : t % 4 + 1);
      return true;
    }
    case kItemColor: {
      const bool chosen = RunMenuCommand(ctx, kCmdColorPicker).changed;
      if (chosen) SetColorClone(*HeaderOf(e.drawing), false);
      return chosen;
    }
    case kItemRadius:
    case kItemOpacity:
    case kItemFeather: {
      const Editable ed = EditableOf(item);
      double v = Shown(h.brush, item);
      if (!RunSetDialog(ed.label_id, ed.lo, ed.hi, &v, e.parent)) return false;
      Store(h.brush, item, v);
      return true;
    }
    case kItemPressureRadius:
      return RunMenuCommand(ctx, kCmdPressureRadius).changed;
    case kItemPressureOpacity:
      return RunMenuCommand(ctx, kCmdPressureOpacity).changed;
    case kItemColorClone:
      return RunMenuCommand(ctx, kCmdColorClone).changed;
    default:
      return false;
  }
}

// A stylus indicator: its label on the item's colour, and the icon of the
// set in use at its right end (left out when the icon cannot be loaded).
void StylusIndicator(const PaintEvent& e, int item, bool on, bool swedish) {
  const ItemRect* r = RectOf(item);
  const plat::ColorRef back = on ? kOn : kOff;
  Fill(e, item, back);
  plat::ViewText(e.view, r->left + 2, r->top, PaintString(kStrItemBase + item).c_str(), e.small_font, kText);
  const int which = (item == kItemPressureOpacity ? 2 : 0) + (on ? 0 : 1);
  const plat::IconResource* icon =
      plat::LoadIconResource(PaintResources(), (swedish ? kSwedishStylusIcons : kStylusIcons)[which]);
  if (icon == nullptr || icon->width != kStylusIconSize || icon->height != kStylusIconSize) return;
  // The view takes opaque 0x00RRGGBB: clear pixels become the item's colour.
  const uint32_t behind =
      (uint32_t(plat::RedOf(back)) << 16) | (uint32_t(plat::GreenOf(back)) << 8) | plat::BlueOf(back);
  uint32_t px[kStylusIconSize * kStylusIconSize];
  for (int i = 0; i < kStylusIconSize * kStylusIconSize; ++i)
    px[i] = (icon->pixels[i] >> 24) != 0 ? icon->pixels[i] & 0xFFFFFFu : behind;
  plat::ViewBlit(e.view, r->right - kStylusIconSize, r->top, kStylusIconSize, kStylusIconSize, px, kStylusIconSize);
}

}  // namespace

bool BrushControlItemCentre(int item, int* x, int* y) {
  const ItemRect* r = RectOf(item);
  if (r == nullptr) return false;
  *x = (r->left + r->right) / 2;
  *y = (r->top + r->bottom) / 2;
  return true;
}

int BrushControlItemAt(int x, int y, int margin) {
  for (const ItemRect& r : kItems)
    if (x >= r.left - margin && x <= r.right + margin && y >= r.top - margin && y <= r.bottom + margin) return r.item;
  return 0;
}

void DrawBrushControl(const PaintEvent& e) {
  if (e.view == nullptr || e.drawing == nullptr) return;
  const DrawingHeader& h = *HeaderOf(e.drawing);
  const BrushSettings& b = h.brush;
  Text(e, kItemRadiusLabel, PaintString(kStrItemBase + 3));
  Text(e, kItemOpacityLabel, PaintString(kStrItemBase + 4));
  Text(e, kItemStylusLabel, PaintString(kStrItemBase + 5));
  Text(e, kItemFeatherLabel, PaintString(kStrItemBase + 6));
  Text(e, kItemType, PaintString(kStrShapeBase + BrushShape(b)));
  Fill(e, kItemColor, BrushColorRef(b));
  for (int item : {kItemRadius, kItemOpacity, kItemFeather}) Text(e, item, ValueText(item, Shown(b, item)));
  const std::pair<int, double> bars[] = {{kItemRadiusBar, double(b.radius) / 500.0},
                                         {kItemFeatherBar, double(b.feather)},
                                         {kItemOpacityBar, double(b.opacity)}};
  for (const auto& [item, fraction] : bars) {
    Fill(e, item, kBar);
    Fill(e, item, kBarFill, fraction);
  }
  for (int item : {kItemRadiusHandle, kItemOpacityHandle, kItemFeatherHandle, kItemEyedropper}) Fill(e, item, kBar);
  const bool swedish = e.globals != nullptr && e.globals->swedish_ui;
  StylusIndicator(e, kItemPressureRadius, (b.stylus & kPressureRadius) != 0, swedish);
  StylusIndicator(e, kItemPressureOpacity, (b.stylus & kPressureOpacity) != 0, swedish);
  Text(e, kItemColorClone, PaintString(kStrItemBase + (ColorClone(h) ? 10 : 11)));
}

ClickOutcome BrushControlClick(const PaintEvent& e) {
  ClickOutcome o;
  DrawingHeader* h = HeaderOf(e.drawing);
  if (h == nullptr) return o;
  const PF_Point press = e.event->u.do_click.screen_point;
  const int item = BrushControlItemAt(press.h, press.v, 3);
  switch (item) {
    case kItemRadiusHandle:
    case kItemOpacityHandle:
    case kItemFeatherHandle:
      o.changed = DragValue(e, h->brush, item, press);
      break;
    case kItemEyedropper:
      o.changed = DragEyedropper(e, *h);
      break;
    case 0:
      break;
    default: {
      while (plat::PollPointer(plat::kVkLButton)) {
      }
      plat::PointerPoint p;
      plat::GetCursorPos(&p);
      if (BrushControlItemAt(p.x, p.y, 3) == item) o.changed = ClickItem(e, *h, item);
    }
  }
  h = HeaderOf(e.drawing);
  if (o.changed && h->undo.available) ClearUndoStore(*h);
  if (o.changed) DrawBrushControl(e);
  return o;
}

}  // namespace paint
