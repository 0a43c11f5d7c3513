// Paint's per-user preferences: how the tablet is used, interface options
// and the onion-skin settings. They live in the registry as one 60-byte
// record, are applied to the global data at GLOBAL_SETUP and edited in the
// "Paint Preferences" dialog (DO_DIALOG and the popup menu).
#pragma once

#include "globals.h"

#include <ombrix/platform/dialog.h>

#include <cstdint>

namespace paint {

// The stored record: fifteen 32-bit words, little-endian, as it lies in
// memory. The six flags are read from bit 0 of their words.
struct PaintPreferences {
  uint32_t show_actual_brush_size;
  uint32_t better_preview;
  uint32_t disable_mouse_drawing;  // with a stylus connected
  uint32_t high_res_coordinates;   // with a stylus connected
  uint32_t show_toolbar;
  uint32_t swedish_ui;
  OnionPrefs onion;
};
static_assert(sizeof(PaintPreferences) == 60);

inline constexpr uint32_t kPreferencesSize = sizeof(PaintPreferences);
// The record is the unnamed value of this key, as binary data.
inline constexpr const char* kPreferencesKey = "Software\\Kestrane\\Ombrix One\\Paint";

inline constexpr int32_t kOnionFramesMax = 1000;
inline constexpr float kSkinOpacityMin = 0.05f;

inline constexpr PaintPreferences kDefaultPreferences = {
    1, 1, 1, 1, 1, 1, {0.3501f, 2, 2, {1.0f, 0.5f, 0.5f}, {0.5f, 1.0f, 0.5f}},
};

// The stored record. A missing record, or a value that is not binary of
// exactly 60 bytes, is replaced by the defaults (written back; a beep when
// that fails). When the store cannot be read at all the defaults are used
// with a beep and the store is left as it is. Fields outside their ranges
// (frame counts 0..1000, opacity 0.05..1, colour channels 0..1) are brought
// into them; a value that is not a number takes its default.
PaintPreferences LoadPreferences();

// Writes the record, creating the key when it is missing. Beeps and
// answers false when it cannot be stored.
bool SavePreferences(const PaintPreferences& prefs);

// The preferences into the global data: the interface flags and the onion
// block as they are, the two stylus flags only while a tablet is available.
void ApplyPreferences(const PaintPreferences& prefs, PaintGlobals* globals);

// Dialog 160: edits the stored preferences; on OK stores them and applies
// what the store then holds to `globals`. Answers what DialogBoxParam
// answered (kIdOk, kIdCancel, or its failures); 0 without global data, when
// nothing is shown.
intptr_t RunPreferencesDialog(PaintGlobals* globals, ombrix::platform::DialogWindow* parent);

inline constexpr int kPreferencesTemplateId = 160;
ombrix::platform::DialogTemplate PreferencesTemplate();

// Control ids of dialog 160.
inline constexpr int kIdPrefsDefault = 1005;
inline constexpr int kIdHighRes = 1006, kIdDisableMouse = 1007;
inline constexpr int kIdBetterPreview = 1008, kIdShowBrushSize = 1009;
inline constexpr int kIdShowToolbar = 1010, kIdSwedishUi = 1011;
inline constexpr int kIdFramesBack = 1012, kIdFramesForward = 1013, kIdSkinOpacity = 1014;
inline constexpr int kIdBackSwatch = 1015, kIdForwardSwatch = 1016;
inline constexpr int kIdBackPicker = 1017, kIdForwardPicker = 1018;

}  // namespace paint
