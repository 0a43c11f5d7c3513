// Paint's preferences: the registry record and the "Paint Preferences"
// dialog. The dialog edits a working copy of the stored record; OK stores it
// and applies what the store then holds, so the global data always mirrors
// the registry.
#include "preferences.h"

#include <pf/dialogs.h>

#include <ombrix/platform/color.h>
#include <ombrix/platform/input.h>
#include <ombrix/platform/registry.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace paint {

namespace plat = ombrix::platform;
using plat::ControlKind;
using plat::DialogControl;
using plat::DialogWindow;

static_assert(std::endian::native == std::endian::little, "the record is stored as little-endian words");

namespace {

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
enum class Stored { kValid, kMissing, kUnreadable };

// Missing covers a key or value that does not exist and a value of another
// type or size; anything else is a store that could not be read.
Stored ReadStored(PaintPreferences* prefs) {
  plat::RegKeyHandle key = nullptr;
  const plat::Status opened = plat::RegOpenKey(plat::kRegCurrentUser, kPreferencesKey, plat::kKeyRead, &key);
  if (opened != plat::kOk) return opened == plat::kErrFileNotFound ? Stored::kMissing : Stored::kUnreadable;
  uint32_t type = plat::kRegNone, size = kPreferencesSize;
  const plat::Status read = plat::RegQueryValue(key, nullptr, &type, prefs, &size);
  plat::RegCloseKey(key);
  if (read == plat::kOk)
    return type == plat::kRegBinary && size == kPreferencesSize ? Stored::kValid : Stored::kMissing;
  return read == plat::kErrFileNotFound || read == plat::kErrMoreData ? Stored::kMissing : Stored::kUnreadable;
}

bool WriteValue(plat::RegKeyHandle key, const PaintPreferences& prefs) {
  return plat::RegSetValue(key, nullptr, plat::kRegBinary, &prefs, kPreferencesSize) == plat::kOk;
}

// Creates the key when it is missing and writes the record.
bool CreateAndWrite(const PaintPreferences& prefs) {
  plat::RegKeyHandle key = nullptr;
  if (plat::RegCreateKey(plat::kRegCurrentUser, kPreferencesKey, plat::kRegOptionNonVolatile, plat::kKeyAllAccess, &key,
                         nullptr) != plat::kOk)
    return false;
  const bool written = WriteValue(key, prefs);
  plat::RegCloseKey(key);
  return written;
}

float ClampUnit(float v, float fallback, float lo) { return std::isnan(v) ? fallback : std::clamp(v, lo, 1.0f); }

// Brings every field of a stored record into its range.
void Sanitize(PaintPreferences* p) {
  const OnionPrefs& d = kDefaultPreferences.onion;
  OnionPrefs& o = p->onion;
  o.skin_opacity = ClampUnit(o.skin_opacity, d.skin_opacity, kSkinOpacityMin);
  o.frames_back = std::clamp(o.frames_back, 0, kOnionFramesMax);
  o.frames_forward = std::clamp(o.frames_forward, 0, kOnionFramesMax);
  for (int i = 0; i < 3; ++i) {
    o.back_color[i] = ClampUnit(o.back_color[i], d.back_color[i], 0.0f);
    o.forward_color[i] = ClampUnit(o.forward_color[i], d.forward_color[i], 0.0f);
  }
}

}  // namespace

PaintPreferences LoadPreferences() {
  PaintPreferences prefs;
  switch (ReadStored(&prefs)) {
    case Stored::kValid:
      Sanitize(&prefs);
      return prefs;
    case Stored::kMissing:
      if (!CreateAndWrite(kDefaultPreferences)) plat::MessageBeep(plat::kBeepSimple);
      return kDefaultPreferences;
    case Stored::kUnreadable:
      break;
  }
  // A record that may well be there is not overwritten because one read failed.
  plat::MessageBeep(plat::kBeepSimple);
  return kDefaultPreferences;
}

bool SavePreferences(const PaintPreferences& prefs) {
  plat::RegKeyHandle key = nullptr;
  if (plat::RegOpenKey(plat::kRegCurrentUser, kPreferencesKey, plat::kKeyWrite, &key) == plat::kOk) {
    const bool written = WriteValue(key, prefs);
    plat::RegCloseKey(key);
    if (written) return true;
  }
  // The second attempt stores the same record: the user's edits are what
  // was asked for, and the defaults in their place would lose them.
  if (CreateAndWrite(prefs)) return true;
  plat::MessageBeep(plat::kBeepSimple);
  return false;
}

void ApplyPreferences(const PaintPreferences& prefs, PaintGlobals* g) {
  g->show_actual_brush_size = prefs.show_actual_brush_size & 1;
  g->better_preview = prefs.better_preview & 1;
  g->show_toolbar = prefs.show_toolbar & 1;
  g->swedish_ui = prefs.swedish_ui & 1;
  g->mouse_drawing_disabled = g->tablet_available && (prefs.disable_mouse_drawing & 1);
  g->high_res_coordinates = g->tablet_available && (prefs.high_res_coordinates & 1);
  g->onion = prefs.onion;
}

// ---------------------------------------------------------------------------
// Dialog 160
// ---------------------------------------------------------------------------
namespace {

constexpr int kNoId = -1;  // labels, group boxes

constexpr DialogControl kPrefsControls[] = {
    {kNoId, ControlKind::kGroupBox, "With Stylus Connected", 7, 7, 150, 42, 0},
    {kIdDisableMouse, ControlKind::kCheckBox, "Disable Mouse Drawing", 15, 19, 130, 10, 0},
    {kIdHighRes, ControlKind::kCheckBox, "Use High Res. Coordinates", 15, 33, 130, 10, 0},
    {kNoId, ControlKind::kGroupBox, "Interface Options", 7, 55, 150, 70, 0},
    {kIdShowBrushSize, ControlKind::kCheckBox, "Show Actual Brush Size", 15, 67, 130, 10, 0},
    {kIdBetterPreview, ControlKind::kCheckBox, "Better Preview While Drawing", 15, 81, 130, 10, 0},
    {kIdShowToolbar, ControlKind::kCheckBox, "Show Toolbar", 15, 95, 130, 10, 0},
    {kIdSwedishUi, ControlKind::kCheckBox, "Swedish UI", 15, 109, 130, 10, 0},
    {kNoId, ControlKind::kGroupBox, "Onion Skinning", 165, 7, 130, 118, 0},
    {kNoId, ControlKind::kStatic, "Skin Opacity:", 173, 21, 50, 8, 0},
    {kIdSkinOpacity, ControlKind::kEdit, "", 227, 19, 30, 12, 0},
    {kNoId, ControlKind::kStatic, "%", 261, 21, 10, 8, 0},
    {kNoId, ControlKind::kStatic, "Backward", 173, 43, 40, 8, 0},
    {kIdFramesBack, ControlKind::kEdit, "", 227, 41, 30, 12, 0},
    // A swatch is an owner-drawn button showing its colour; its text is
    // that colour as #RRGGBB. The picker beside it shows bitmap 161.
    {kIdBackSwatch, ControlKind::kPushButton, "", 227, 57, 30, 14, 0},
    {kIdBackPicker, ControlKind::kStatic, "", 261, 57, 14, 14, 0},
    {kNoId, ControlKind::kStatic, "Forward", 173, 83, 40, 8, 0},
    {kIdFramesForward, ControlKind::kEdit, "", 227, 81, 30, 12, 0},
    {kIdForwardSwatch, ControlKind::kPushButton, "", 227, 97, 30, 14, 0},
    {kIdForwardPicker, ControlKind::kStatic, "", 261, 97, 14, 14, 0},
    {kIdPrefsDefault, ControlKind::kPushButton, "Default", 7, 135, 50, 14, 0},
    {plat::kIdOk, ControlKind::kPushButton, "OK", 183, 135, 50, 14, plat::kControlDefault},
    {plat::kIdCancel, ControlKind::kPushButton, "Cancel", 245, 135, 50, 14, 0},
};

struct FlagControl {
  int id;
  uint32_t PaintPreferences::*word;
};
constexpr FlagControl kFlagControls[] = {
    {kIdShowBrushSize, &PaintPreferences::show_actual_brush_size},
    {kIdBetterPreview, &PaintPreferences::better_preview},
    {kIdDisableMouse, &PaintPreferences::disable_mouse_drawing},
    {kIdHighRes, &PaintPreferences::high_res_coordinates},
    {kIdShowToolbar, &PaintPreferences::show_toolbar},
    {kIdSwedishUi, &PaintPreferences::swedish_ui},
};

// The dialog's state, kept in its user data.
struct PrefsDialog {
  PaintPreferences work;
  PaintGlobals* globals;
};

// The colour chooser's custom colours, kept for the process as the system keeps them.
plat::ColorRef g_custom_colors[plat::kCustomColorCount] = {
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
    0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF,
};

PrefsDialog* State(DialogWindow* d) { return reinterpret_cast<PrefsDialog*>(plat::GetWindowUserData(d)); }

void SetNumber(DialogWindow* d, int id, double value) {
  char text[pf::kDialogNumberBuffer];
  pf::FormatDialogNumber(value, 0, text);
  plat::SetDialogItemText(d, id, text);
}

double ReadNumber(DialogWindow* d, int id) {
  char text[256] = {};
  plat::GetDialogItemText(d, id, text, sizeof text);
  return pf::ParseDialogNumber(text);
}

// The opacity as the percent the edit shows. The float's error is rounded
// away first (to 1/100 of a percent), so that 0.53f shows as 53, not 52,
// and a percent typed in reads back the same.
double OpacityPercent(float opacity) { return std::round(double(opacity) * 10000.0) / 100.0; }

// A colour channel in 0..1 as a byte: × 255, truncated.
uint8_t ChannelByte(float c) { return uint8_t(std::clamp(pf::TruncateToInt(double(c * 255.0f)), 0, 255)); }

plat::ColorRef SwatchColor(const float rgb[3]) {
  return plat::MakeColorRef(ChannelByte(rgb[0]), ChannelByte(rgb[1]), ChannelByte(rgb[2]));
}

void ShowSwatch(DialogWindow* d, int id, const float rgb[3]) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const plat::ColorRef c = SwatchColor(rgb);
  const uint8_t bytes[3] = {plat::RedOf(c), plat::GreenOf(c), plat::BlueOf(c)};
  char text[8] = {'#'};
  for (int i = 0; i < 3; ++i) {
    text[1 + 2 * i] = kHex[bytes[i] >> 4];
    text[2 + 2 * i] = kHex[bytes[i] & 15];
  }
  plat::SetDialogItemText(d, id, text);
}

void Fill(DialogWindow* d, const PaintPreferences& p) {
  for (const FlagControl& f : kFlagControls)
    plat::CheckDialogButton(d, f.id, (p.*f.word & 1) ? plat::kChecked : plat::kUnchecked);
  SetNumber(d, kIdFramesBack, p.onion.frames_back);
  SetNumber(d, kIdFramesForward, p.onion.frames_forward);
  SetNumber(d, kIdSkinOpacity, OpacityPercent(p.onion.skin_opacity));
  ShowSwatch(d, kIdBackSwatch, p.onion.back_color);
  ShowSwatch(d, kIdForwardSwatch, p.onion.forward_color);
}

// A swatch click: the chooser, starting from the swatch's colour.
void PickColor(DialogWindow* d, int swatch) {
  PrefsDialog* s = State(d);
  float* rgb = swatch == kIdBackSwatch ? s->work.onion.back_color : s->work.onion.forward_color;
  plat::ChooseColorRequest request;
  request.owner = d;
  request.color = SwatchColor(rgb);
  request.custom_colors = g_custom_colors;
  request.flags = plat::kCcRgbInit | plat::kCcFullOpen;
  if (!plat::ChooseColor(&request)) return;
  rgb[0] = float(plat::RedOf(request.color)) / 255.0f;
  rgb[1] = float(plat::GreenOf(request.color)) / 255.0f;
  rgb[2] = float(plat::BlueOf(request.color)) / 255.0f;
  ShowSwatch(d, swatch, rgb);
}

// A frame count from its edit, clamped to 0..1000; a clamped count is
// written back.
int32_t TakeFrames(DialogWindow* d, int id) {
  const int typed = pf::TruncateToInt(ReadNumber(d, id));
  const int frames = std::clamp(typed, 0, kOnionFramesMax);
  if (frames != typed) SetNumber(d, id, frames);
  return frames;
}

void Accept(DialogWindow* d) {
  PrefsDialog* s = State(d);
  PaintPreferences& w = s->work;
  w.onion.frames_back = TakeFrames(d, kIdFramesBack);
  w.onion.frames_forward = TakeFrames(d, kIdFramesForward);
  const double typed = ReadNumber(d, kIdSkinOpacity) / 100.0;
  const double opacity = std::clamp(typed, double(kSkinOpacityMin), 1.0);
  if (opacity != typed) SetNumber(d, kIdSkinOpacity, opacity * 100.0);
  w.onion.skin_opacity = float(opacity);
  for (const FlagControl& f : kFlagControls) w.*f.word = plat::IsDialogButtonChecked(d, f.id) == plat::kChecked;
  SavePreferences(w);
  ApplyPreferences(LoadPreferences(), s->globals);
  plat::EndDialog(d, plat::kIdOk);
}

intptr_t PrefsDialogProc(DialogWindow* d, unsigned msg, uintptr_t wparam, intptr_t lparam) {
  switch (msg) {
    case plat::kWmInitDialog:
      if (!plat::SetWindowUserData(d, lparam)) {
        plat::EndDialog(d, plat::kIdCancel);
        return 1;
      }
      Fill(d, State(d)->work);
      return 1;
    case plat::kWmCommand:
      if (plat::HighWord(wparam) != plat::kBnClicked) return 0;
      switch (int(plat::LowWord(wparam))) {
        case kIdPrefsDefault:
          State(d)->work = kDefaultPreferences;
          Fill(d, kDefaultPreferences);
          return 1;
        case kIdBackSwatch:
        case kIdForwardSwatch:
          PickColor(d, int(plat::LowWord(wparam)));
          return 1;
        case plat::kIdOk:
          Accept(d);
          return 1;
        case plat::kIdCancel:
          plat::EndDialog(d, plat::kIdCancel);
          return 1;
        default:
          return 0;
      }
    case plat::kWmDestroy:
      return 1;
    default:
      return 0;
  }
}

}  // namespace

plat::DialogTemplate PreferencesTemplate() {
  return {"Paint Preferences", 302, 156, "MS Sans Serif", 8, kPrefsControls, int(std::size(kPrefsControls))};
}

intptr_t RunPreferencesDialog(PaintGlobals* globals, DialogWindow* parent) {
  if (globals == nullptr) return 0;
  PrefsDialog state{LoadPreferences(), globals};
  const plat::DialogTemplate tmpl = PreferencesTemplate();
  return plat::DialogBoxParam(&tmpl, parent, PrefsDialogProc, reinterpret_cast<intptr_t>(&state));
}

}  // namespace paint
