// The effect shell: what every plug-in has in common at its entry point.
//
//  - pf::Commands names an effect's handler for each command it answers, and
//    OMBRIX_MAIN(Name, commands) defines the entry point that dispatches over
//    it, exported with C linkage under the symbol "main" (everything else
//    stays hidden);
//  - GlobalSetup, About and the table-driven parameter registration.
#pragma once

#include <pf/api.h>
#include <pf/pipl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The entry point's declaration; OMBRIX_MAIN writes it together with its body.
#define OMBRIX_ENTRY(Name)                                                                                            \
  extern "C" __attribute__((visibility("default"))) PF_Err Name(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, \
                                                                PF_ParamDef* params[], PF_LayerDef* output,           \
                                                                void* extra) __asm__("main")

// Defines the plug-in's entry point `Name`, dispatching over the pf::Commands
// record `commands` (a constant at namespace scope):
//   constexpr pf::Commands kCommands{
//       .about = pf::About,
//       .global_setup = pf::GlobalSetup,
//       .params_setup = ParamsSetup,
//       .render = Render,
//   };
//   OMBRIX_MAIN(FlatwashMain, kCommands);
#define OMBRIX_MAIN(Name, commands)                                                                             \
  OMBRIX_ENTRY(Name);                                                                                           \
  PF_Err Name(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, \
              void* extra) {                                                                                    \
    return pf::Dispatch(commands, cmd, in_data, out_data, params, output, extra);                               \
  }                                                                                                             \
  static_assert(true)

namespace pf {

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

// Every command handler has the entry point's arguments less the command.
using Handler = PF_Err (*)(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                           void* extra);

// Code run around every call of the entry point (see Commands::before/after).
using BeforeCommand = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data);
using AfterCommand = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_Err err);

// An effect's answer to each command, by name. A command left null, command
// 2 (unused, so it has no member) and any number outside 0..15 are answered
// with 0, touching nothing.
struct Commands {
  Handler about = nullptr;               // 0
  Handler global_setup = nullptr;        // 1
  Handler global_setdown = nullptr;      // 3
  Handler params_setup = nullptr;        // 4
  Handler sequence_setup = nullptr;      // 5
  Handler sequence_resetup = nullptr;    // 6
  Handler sequence_flatten = nullptr;    // 7
  Handler sequence_setdown = nullptr;    // 8
  Handler do_dialog = nullptr;           // 9
  Handler frame_setup = nullptr;         // 10
  Handler render = nullptr;              // 11
  Handler frame_setdown = nullptr;       // 12
  Handler user_changed_param = nullptr;  // 13
  Handler update_params_ui = nullptr;    // 14
  Handler event = nullptr;               // 15

  // The hook around every call of the entry point, handled command or not,
  // for state the effect keeps beside its handlers. When set:
  //  - before(cmd, in_data, out_data) runs first; an error from it is the
  //    entry's result at once, and neither the handler nor `after` runs;
  //  - after(cmd, in_data, out_data, err) runs last with the handler's result
  //    (0 for an unhandled command) and returns the entry's result.
  // The effects with options use `before` to remember in_data for their
  // dialogs (OptionsCommands). An effect that keeps its current drawing in
  // its sequence data locks the handle and puts the drawing in a
  // module-wide slot in `before`, and unlocks it and clears the slot in
  // `after`. There is no handle before SEQUENCE_SETUP, and `after` sees
  // out_data as the handler left it: a handle that SEQUENCE_SETUP, RESETUP
  // or SETDOWN made, replaced or released is not the one `before` locked.
  BeforeCommand before = nullptr;
  AfterCommand after = nullptr;
};

// The handler `commands` names for `cmd`; null for none.
constexpr Handler HandlerFor(const Commands& commands, PF_Cmd cmd) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return commands.about;
    case PF_Cmd_GLOBAL_SETUP:
      return commands.global_setup;
    case PF_Cmd_GLOBAL_SETDOWN:
      return commands.global_setdown;
    case PF_Cmd_PARAMS_SETUP:
      return commands.params_setup;
    case PF_Cmd_SEQUENCE_SETUP:
      return commands.sequence_setup;
    case PF_Cmd_SEQUENCE_RESETUP:
      return commands.sequence_resetup;
    case PF_Cmd_SEQUENCE_FLATTEN:
      return commands.sequence_flatten;
    case PF_Cmd_SEQUENCE_SETDOWN:
      return commands.sequence_setdown;
    case PF_Cmd_DO_DIALOG:
      return commands.do_dialog;
    case PF_Cmd_FRAME_SETUP:
      return commands.frame_setup;
    case PF_Cmd_RENDER:
      return commands.render;
    case PF_Cmd_FRAME_SETDOWN:
      return commands.frame_setdown;
    case PF_Cmd_USER_CHANGED_PARAM:
      return commands.user_changed_param;
    case PF_Cmd_UPDATE_PARAMS_UI:
      return commands.update_params_ui;
    case PF_Cmd_EVENT:
      return commands.event;
    default:
      return nullptr;
  }
}

// The body of every entry point (OMBRIX_MAIN): the hook, the handler.
inline PF_Err Dispatch(const Commands& commands, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                       PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  if (commands.before != nullptr) {
    if (const PF_Err err = commands.before(cmd, in_data, out_data)) return err;
  }
  const Handler handler = HandlerFor(commands, cmd);
  const PF_Err err = handler != nullptr ? handler(in_data, out_data, params, output, extra) : PF_Err_NONE;
  return commands.after != nullptr ? commands.after(cmd, in_data, out_data, err) : err;
}

// PF_Cmd_GLOBAL_SETUP: reports version 1.0 (0x80600) and ORs the row's global
// out flags into what the host passed.
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// PF_Cmd_ABOUT: the about text with the row's display name, or, while the Alt
// key is down, the vendor's web page in the user's browser ("Failed to launch
// web browser." when it cannot be started). Always returns 0.
PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra);
// The same with the key tested through MacKeyState(58) (Paint).
PF_Err AboutMacKey(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra);
// The same, also reading the launcher's record first and not calling the
// launcher when its mode says to do nothing (Lenswarp); the outcome is that
// of About.
PF_Err AboutPrechecked(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra);

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
// (kind, name, flags, the ui fields) and exactly the union fields of `kind`;
// value and default are always the same number.
struct ParamSpec {
  PF_ParamType kind = PF_Param_LAYER;
  const char* name = "";
  PF_ParamFlags flags = 0;
  PF_ParamUIFlags ui_flags = 0;  // custom control: PF_PUI_CONTROL and its area
  A_short ui_width = 0, ui_height = 0;
  A_long value = 0;  // slider, fixed slider, angle, checkbox, popup: value and default
  A_long valid_min = 0, valid_max = 0;
  A_long slider_min = 0, slider_max = 0;
  A_short precision = 0;
  A_short display_flags = 0;
  PF_Pixel color{};                // colour: value and default
  PF_Fixed x = 0, y = 0;           // point: value and default (percent of the layer)
  PF_Boolean restrict_bounds = 0;  // point
  const char* text = nullptr;      // popup items ("a|b|(-|c") or checkbox label
};

constexpr ParamSpec SliderParam(const char* name, A_long value, A_long valid_min, A_long valid_max, A_long slider_min,
                                A_long slider_max, PF_ParamFlags flags = 0) {
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

constexpr ParamSpec FixSliderParam(const char* name, PF_Fixed value, PF_Fixed valid_min, PF_Fixed valid_max,
                                   PF_Fixed slider_min, PF_Fixed slider_max, A_short precision, A_short display_flags,
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

constexpr ParamSpec CheckboxParam(const char* name, const char* label, bool on, PF_ParamFlags flags = 0) {
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

constexpr ParamSpec PointParam(const char* name, PF_Fixed x_percent, PF_Fixed y_percent, bool restrict_bounds,
                               PF_ParamFlags flags = 0) {
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

constexpr ParamSpec PopupParam(const char* name, const char* items, A_short item, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_POPUP;
  p.name = name;
  p.flags = flags;
  p.value = item;
  p.text = items;
  return p;
}

// A control without a value that the effect draws itself in an area of
// width x height pixels of the effect panel (PF_Param_NO_DATA).
constexpr ParamSpec CustomControlParam(const char* name, A_short width, A_short height, PF_ParamFlags flags = 0) {
  ParamSpec p;
  p.kind = PF_Param_NO_DATA;
  p.name = name;
  p.flags = flags;
  p.ui_flags = PF_PUI_CONTROL;
  p.ui_width = width;
  p.ui_height = height;
  return p;
}

constexpr ParamSpec LayerParam(const char* name) {
  ParamSpec p;
  p.kind = PF_Param_LAYER;
  p.name = name;
  return p;
}

// True when every name fits PF_ParamDef::name.
constexpr bool ParamNamesFit(std::span<const ParamSpec> specs) {
  for (const ParamSpec& s : specs) {
    std::size_t n = 0;
    while (s.name[n] != '\0') ++n;
    if (n > PF_MAX_EFFECT_PARAM_NAME_LEN) return false;
  }
  return true;
}

// One row of an effect's parameter table: the index the host passes the
// parameter at (the effect's enum; 0 is the input layer) and the parameter.
struct ParamRow {
  int index;
  ParamSpec spec;
};

namespace param_detail {
// Called only for a table that does not hold; not constexpr, so such a table
// fails to compile.
inline void RowIndexIsNotItsPlace() {}
inline void ParamCountDiffers() {}
inline void ParamNameTooLong() {}
}  // namespace param_detail

// The parameters an effect registers, written against its index enum, whose
// last member counts the parameters with the input layer:
//   enum { kParamInput = 0, kParamColour, kParamBlend, kParamCount };
//   constexpr auto kParams = pf::ParamTable<kParamCount>({
//       {kParamColour, pf::ColorParam("Color", ...)},
//       {kParamBlend, pf::FixSliderParam("Blend With Original", ...)},
//   });
// Row i must carry index i + 1, there must be kParamCount - 1 rows and every
// name must fit PF_ParamDef::name; a table that breaks any of these does not
// compile, so the enum the render reads params[] with and the order of
// registration cannot drift apart.
template <int kCount, std::size_t N>
consteval std::array<ParamSpec, N> ParamTable(const ParamRow (&rows)[N]) {
  if (int(N) + 1 != kCount) param_detail::ParamCountDiffers();
  std::array<ParamSpec, N> specs{};
  for (std::size_t i = 0; i < N; ++i) {
    if (rows[i].index != int(i) + 1) param_detail::RowIndexIsNotItsPlace();
    specs[i] = rows[i].spec;
  }
  if (!ParamNamesFit(specs)) param_detail::ParamNameTooLong();
  return specs;
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
PF_Err RegisterParams(PF_InData* in_data, PF_OutData* out_data, std::span<const ParamSpec> specs, ParamRecord record);

}  // namespace pf
