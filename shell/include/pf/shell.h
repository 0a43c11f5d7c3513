// The effect shell: what every plug-in has in common at its entry point.
//
//  - OMBRIX_ENTRY(Name) declares the plug-in's entry function, exported with C
//    linkage under the symbol "main" (everything else stays hidden);
//  - dispatch over the command number, by a 12-byte slot table (single-purpose
//    effects) or a 12-entry handler table (effects with options dialogs);
//  - GlobalSetup, About and the table-driven parameter registration.
#pragma once

#include <pf/api.h>
#include <pf/pipl.h>

#include <cstddef>
#include <cstdint>
#include <span>

#define OMBRIX_ENTRY(Name)                                                        \
  extern "C" __attribute__((visibility("default"))) PF_Err Name(                  \
      PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], \
      PF_LayerDef* output, void* extra) __asm__("main")

namespace pf {

// Every command handler has the entry point's arguments less the command.
using Handler = PF_Err (*)(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                           PF_LayerDef* output, void* extra);

// Commands 0..11 are dispatched; anything else is answered with 0 at once.
inline constexpr int kDispatchedCommands = 12;

// The handler of every command an effect does not handle: returns 0 and
// touches nothing.
PF_Err NoCommand(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*);

// Single-purpose effects: `slots` maps each command to an index of `handlers`.
inline PF_Err DispatchBySlot(const uint8_t (&slots)[kDispatchedCommands], const Handler* handlers,
                             PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  if (uint32_t(cmd) >= uint32_t(kDispatchedCommands)) return PF_Err_NONE;
  return handlers[slots[cmd]](in_data, out_data, params, output, extra);
}

// Dialog effects: one handler per command; a null entry is an unhandled command.
inline PF_Err DispatchByTable(std::span<const Handler, kDispatchedCommands> handlers, PF_Cmd cmd,
                              PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                              PF_LayerDef* output, void* extra) {
  if (uint32_t(cmd) >= uint32_t(kDispatchedCommands)) return PF_Err_NONE;
  const Handler h = handlers[cmd];
  return h == nullptr ? PF_Err_NONE : h(in_data, out_data, params, output, extra);
}

// PF_Cmd_GLOBAL_SETUP: reports version 1.0 (0x80600) and ORs the row's global
// out flags into what the host passed.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra);

// PF_Cmd_ABOUT: the about text with the row's display name, or, while the Alt
// key is down, the vendor's web page in the user's browser ("Failed to launch
// web browser." when it cannot be started). Always returns 0.
PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
             PF_LayerDef* output, void* extra);
// The same with the key tested through MacKeyState(58) (Paint).
PF_Err AboutMacKey(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                   PF_LayerDef* output, void* extra);
// The same, also reading the launcher's record first and not calling the
// launcher when its mode says to do nothing (Lenswarp); the outcome is that
// of About.
PF_Err AboutPrechecked(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                       PF_LayerDef* output, void* extra);

// The key's state word (bit 15: down) for a Macintosh key code: 53 Escape,
// 55 Control, 56 Shift, 58 Alt; any other code is asked for unchanged.
uint16_t MacKeyState(int mac_key_code);

// The launcher's record: the registry value of kHelpPrefsKey, exactly 264
// bytes of binary data, integers little-endian.
inline constexpr const char* kHelpPrefsKey = "Software\\Kestrane\\Ombrix One";
inline constexpr uint32_t kHelpPrefsSize = 264;
struct HelpPrefs {
  uint8_t bytes[kHelpPrefsSize];  // mode (4), local_root (count byte + 255), reserved (4)
};
// Mode 2, local_root "file:///[root]/OBX_WWW/" (count 23), reserved 0.
HelpPrefs DefaultHelpPrefs();
uint32_t HelpPrefsMode(const HelpPrefs& prefs);
// Reads the record; false (and `prefs` undefined) when it is missing, not
// binary or not exactly 264 bytes.
bool ReadHelpPrefs(HelpPrefs* prefs);

inline constexpr const char* kWebAddress = "http://www.kestrane.com/ombrix/";
inline constexpr const char* kMsgLaunchFailed = "Failed to launch web browser.";

// Opens kWebAddress in the program the system associates with HTML files,
// through the launcher's record. 0 when started or when the record's mode
// says to do nothing, -1 when no browser could be started.
int16_t LaunchWebPage();

// Writes "<display name>, v1.0  <legal notice>\r\r\rAlt-click <About> to go to
// web page." into out_data->return_msg through the host's sprintf.
void WriteAboutText(PF_InData* in_data, PF_OutData* out_data, const char* display_name);

inline constexpr const char* kLegalNotice = "Copyright 2026 Kestrane. All rights reserved.\r";
inline constexpr const char* kAboutHint = "Alt-click <About> to go to web page.";

// ---------------------------------------------------------------------------
// Parameter registration
// ---------------------------------------------------------------------------

// One parameter as an effect declares it. Registration writes the header
// (kind, name, flags) and exactly the union fields of `kind`; value and
// default are always the same number.
struct ParamSpec {
  PF_ParamType kind = PF_Param_LAYER;
  const char* name = "";
  PF_ParamFlags flags = 0;
  A_long value = 0;  // slider, fixed slider, angle, checkbox, popup: value and default
  A_long valid_min = 0, valid_max = 0;
  A_long slider_min = 0, slider_max = 0;
  A_short precision = 0;
  A_short display_flags = 0;
  PF_Pixel color{};                 // colour: value and default
  PF_Fixed x = 0, y = 0;            // point: value and default (percent of the layer)
  PF_Boolean restrict_bounds = 0;   // point
  const char* text = nullptr;       // popup items ("a|b|(-|c") or checkbox label
};

constexpr ParamSpec SliderParam(const char* name, A_long value, A_long valid_min, A_long valid_max,
                                A_long slider_min, A_long slider_max, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_SLIDER;
  p.name = name;
  p.flags = flags;
  p.value = value;
  p.valid_min = valid_min;
  p.valid_max = valid_max;
  p.slider_min = slider_min;
  p.slider_max = slider_max;
  return p;
}

constexpr ParamSpec FixSliderParam(const char* name, PF_Fixed value, PF_Fixed valid_min,
                                   PF_Fixed valid_max, PF_Fixed slider_min, PF_Fixed slider_max,
                                   A_short precision, A_short display_flags,
                                   PF_ParamFlags flags = 0) {
  ParamSpec p = SliderParam(name, value, valid_min, valid_max, slider_min, slider_max, flags);
  p.kind = PF_Param_FIX_SLIDER;
  p.precision = precision;
  p.display_flags = display_flags;
  return p;
}

constexpr ParamSpec AngleParam(const char* name, PF_Fixed degrees, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_ANGLE;
  p.name = name;
  p.flags = flags;
  p.value = degrees;
  return p;
}

constexpr ParamSpec CheckboxParam(const char* name, const char* label, bool on,
                                  PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_CHECKBOX;
  p.name = name;
  p.flags = flags;
  p.value = on ? 1 : 0;
  p.text = label;
  return p;
}

constexpr ParamSpec ColorParam(const char* name, PF_Pixel color, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_COLOR;
  p.name = name;
  p.flags = flags;
  p.color = color;
  return p;
}

constexpr ParamSpec PointParam(const char* name, PF_Fixed x_percent, PF_Fixed y_percent,
                               bool restrict_bounds, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_POINT;
  p.name = name;
  p.flags = flags;
  p.x = x_percent;
  p.y = y_percent;
  p.restrict_bounds = restrict_bounds ? 1 : 0;
  return p;
}

// Items separated by '|'; separators ("(-") count as items.
constexpr A_short PopupItemCount(const char* items) {
  A_short n = 1;
  for (const char* c = items; *c != '\0'; ++c) n += (*c == '|') ? 1 : 0;
  return n;
}

constexpr ParamSpec PopupParam(const char* name, const char* items, A_short item,
                               PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_POPUP;
  p.name = name;
  p.flags = flags;
  p.value = item;
  p.text = items;
  return p;
}

// True when every name fits PF_ParamDef::name; effects static_assert it.
template <std::size_t N>
constexpr bool ParamNamesFit(const ParamSpec (&specs)[N]) {
  for (const ParamSpec& s : specs) {
    std::size_t n = 0;
    while (s.name[n] != '\0') ++n;
    if (n > PF_MAX_EFFECT_PARAM_NAME_LEN) return false;
  }
  return true;
}

// How the definition record is prepared between parameters.
enum class ParamRecord {
  kReused,       // cleared once and reused: fields of earlier kinds carry over
  kClearedEach,  // cleared before every parameter
};

// Writes the header and the kind's union fields of `spec` into `def`.
void FillParamDef(const ParamSpec& spec, PF_InData* in_data, PF_ParamDef& def);

// PF_Cmd_PARAMS_SETUP: adds each parameter with add_param(effect_ref, -1, def).
// The first failing add_param ends registration with its error, num_params
// untouched; otherwise num_params = count + 1 (the input layer) and 0.
PF_Err RegisterParams(PF_InData* in_data, PF_OutData* out_data, const ParamSpec* specs,
                      int count, ParamRecord record);

template <std::size_t N>
PF_Err RegisterParams(PF_InData* in_data, PF_OutData* out_data, const ParamSpec (&specs)[N],
                      ParamRecord record) {
  return RegisterParams(in_data, out_data, specs, int(N), record);
}

}  // namespace pf
