// Paint: strokes painted on the layer in the host's windows, kept with the
// project as the sequence data's drawing and played back over time.
//
// This file is the plug-in's entry: its registration, the parameters, the
// global data (tablet state and preferences), the life of the drawing in the
// sequence data and the host suites it asks for. The drawing itself is in
// drawing.h and flat_drawing.h, the preferences in preferences.h, the tablet
// in tablet.h.
#include <pf/fixed.h>
#include <pf/settings.h>
#include <pf/shell.h>
#include <pf/suites.h>

#include "drawing.h"
#include "flat_drawing.h"
#include "globals.h"
#include "painting.h"
#include "playback.h"
#include "preferences.h"
#include "tablet.h"

#include <cstdint>

OMBRIX_PLUGIN("OB Paint", "obx Basic Paint", 12, 1,
              PF_OutFlag_CUSTOM_UI | PF_OutFlag_I_DO_DIALOG | PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING |
                  PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_KEEP_RESOURCE_OPEN);

namespace {

enum {
  kParamInput = 0,
  kParamBrush,
  kParamDrawMode,
  kParamSpeed,
  kParamSpeedInsert,
  kParamComposite,
  kParamCount,
};

using pf::Fix;

constexpr const char* kDrawItems = "All Strokes|Past Strokes|Hold Strokes|Animate Strokes|Current Frame|Onion Skin";
constexpr const char* kCompositeItems =
    "Only|With Original|(-|Over Original|Under Original|(-|Track Original Matte|Track Original Matte Visible|(-|"
    "As Matte|As Inverse Matte";
static_assert(pf::PopupItemCount(kDrawItems) == 6);
static_assert(pf::PopupItemCount(kCompositeItems) == 11);

constexpr A_short kControlWidth = 260, kControlHeight = 74;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamBrush, pf::CustomControlParam("Brush Settings", kControlWidth, kControlHeight)},
    {kParamDrawMode, pf::PopupParam("Draw Strokes...", kDrawItems, 1)},
    {kParamSpeed, pf::FixSliderParam("Animation Speed", Fix(1), 0x100, Fix(100), Fix(1) / 4, Fix(5), 2,
                                     PF_ValueDisplayFlag_NONE, PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamSpeedInsert, pf::CheckboxParam(" ", "Speed affects insert time", false, PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamComposite, pf::PopupParam("Composite Paint...", kCompositeItems, 2)},
});

constexpr A_long kUiEvents = PF_CustomEFlag_COMP | PF_CustomEFlag_LAYER | PF_CustomEFlag_EFFECT;

constexpr const char* kMsgNoMemory = "Not enough memory. OB Paint";
constexpr const char* kMsgNoDrawing = "Drawing damaged, suggest restarting application. OB Paint";
constexpr const char* kMsgEmptyFlat = "Drawing damaged, strokes will be lost. OB Paint";
constexpr const char* kMsgNoSuite = "Not able to acquire AEFX Suite.";

// ---------------------------------------------------------------------------
// Messages and host suites
// ---------------------------------------------------------------------------

// Shows `text` after the command, as an error message.
void ShowMessage(PF_InData* in_data, PF_OutData* out_data, const char* text) {
  in_data->utils->ansi.strcpy(out_data->return_msg, text);
  out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
}

PF_Err Failed(PF_InData* in_data, PF_OutData* out_data, PF_Err err, const char* text) {
  ShowMessage(in_data, out_data, text);
  return err;
}

// Acquires a host suite through the basic suite. When the host cannot hand
// it out, `*suite` is null and the answer is 516 with `message` (or the
// default text) shown; callers that can do without the suite carry on.
PF_Err AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name, A_long version, const void** suite,
                    const char* message = kMsgNoSuite) {
  *suite = nullptr;
  const SPBasicSuite* basic = in_data->pica_basicP;
  if (basic == nullptr || basic->AcquireSuite(name, version, suite) != 0 || *suite == nullptr) {
    *suite = nullptr;
    return Failed(in_data, out_data, PF_Err_BAD_CALLBACK_PARAM, message);
  }
  return PF_Err_NONE;
}

// The fonts the control and the overlay are drawn with: the small system
// font (sheet 1) and the medium one (sheet 4), fetched once per process.
// A sheet that cannot be fetched stays an empty name.
struct Fonts {
  bool fetched = false;
  PF_FontName small{};
  PF_FontName medium{};
};
Fonts g_fonts;

void FetchFonts(PF_InData* in_data, PF_OutData* out_data) {
  g_fonts.fetched = true;
  const void* suite = nullptr;
  if (AcquireSuite(in_data, out_data, kPFAppSuite, kPFAppSuiteVersion1, &suite) != PF_Err_NONE) return;
  const auto* app = static_cast<const PF_AppSuite1*>(suite);
  if (app->GetFontStyleSheet(PF_FontStyle_SMALL, &g_fonts.small, nullptr, nullptr) != PF_Err_NONE)
    g_fonts.small.name[0] = '\0';
  if (app->GetFontStyleSheet(PF_FontStyle_MEDIUM, &g_fonts.medium, nullptr, nullptr) != PF_Err_NONE)
    g_fonts.medium.name[0] = '\0';
  in_data->pica_basicP->ReleaseSuite(kPFAppSuite, kPFAppSuiteVersion1);
}

// ---------------------------------------------------------------------------
// The current drawing
// ---------------------------------------------------------------------------

// The drawing the current call works on. It is taken from the sequence data
// when a call begins and handed back to the host when it ends; the value it
// had before the call is restored then, so that a call made while another
// is under way leaves the outer one its drawing.
paint::DrawingRef g_current;

struct CallState {
  paint::DrawingRef previous;  // the slot before this call
  paint::DrawingRef held;      // what the host held when the call began
  bool wrapped = false;        // the host held a wrapper
};
constexpr int kMaxNesting = 8;
CallState g_calls[kMaxNesting];
int g_depth = 0;

PF_Err BeforeCommand(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data) {
  if (!g_fonts.fetched && cmd != PF_Cmd_GLOBAL_SETDOWN) FetchFonts(in_data, out_data);
  const paint::DrawingRef held = paint::DrawingOfSequenceData(in_data->utils, in_data->sequence_data);
  if (g_depth < kMaxNesting) g_calls[g_depth] = CallState{g_current, held, held.unflat != nullptr};
  ++g_depth;
  g_current = held;
  return PF_Err_NONE;
}

bool SameDrawing(const paint::DrawingRef& a, const paint::DrawingRef& b) {
  return a.unflat == b.unflat && a.flat == b.flat;
}

// Hands the current drawing to the host: an unflat one inside a wrapper,
// a flat one as it is.
PF_Err HandOver(PF_InData* in_data, PF_OutData* out_data, const CallState& call) {
  const PF_UtilCallbacks* u = in_data->utils;
  // A flat handle that came in and was rebuilt or disposed is gone: only a
  // wrapper is still the host's to reuse or free.
  PF_Handle incoming = call.wrapped ? in_data->sequence_data : nullptr;
  const paint::SequenceDataOut handed = paint::SequenceDataFor(u, incoming, g_current);
  out_data->sequence_data = handed.sequence_data;
  if (handed.status.err == PF_Err_NONE) return PF_Err_NONE;
  // No wrapper could be made: rather than lose the drawing, hand it over
  // flat; only when that fails too is it gone.
  if (paint::Flatten(u, g_current).err == PF_Err_NONE) {
    out_data->sequence_data = g_current.flat;
    return PF_Err_NONE;
  }
  paint::DisposeDrawing(u, g_current);
  out_data->sequence_data = nullptr;
  return Failed(in_data, out_data, handed.status.err, handed.status.message);
}

PF_Err AfterCommand(PF_Cmd, PF_InData* in_data, PF_OutData* out_data, PF_Err err) {
  --g_depth;
  if (g_depth >= kMaxNesting) return err;
  const CallState& call = g_calls[g_depth];
  if (!SameDrawing(g_current, call.held)) {
    const PF_Err handed = HandOver(in_data, out_data, call);
    if (err == PF_Err_NONE) err = handed;
  }
  g_current = call.previous;
  return err;
}

// Shows what a drawing operation had to say; its error is the answer.
PF_Err Report(PF_InData* in_data, PF_OutData* out_data, const paint::DrawingStatus& status) {
  if (status.message != nullptr) ShowMessage(in_data, out_data, status.message);
  return status.err;
}

// A new empty drawing as the current one.
PF_Err StartDrawing(PF_InData* in_data, PF_OutData* out_data) {
  paint::MemoryBlock* drawing = paint::NewDrawing();
  if (drawing == nullptr) return Failed(in_data, out_data, PF_Err_MAC_OUT_OF_MEMORY, kMsgNoMemory);
  g_current = paint::DrawingRef{drawing, nullptr};
  out_data->flat_sdata_size = A_long(paint::kHeaderSize);
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Global data
// ---------------------------------------------------------------------------

// The tablet is closed when the module goes, should the host unload it
// without GLOBAL_SETDOWN.
struct TabletRelease {
  ~TabletRelease() { paint::UnloadTablet(); }
} g_tablet_release;

// A new global-data handle with the tablet opened (when there is one) and
// the stored preferences applied.
PF_Err BuildGlobals(PF_InData* in_data, PF_OutData* out_data) {
  const PF_UtilCallbacks* u = in_data->utils;
  if (out_data->global_data != nullptr) {
    u->host_dispose_handle(out_data->global_data);
    out_data->global_data = nullptr;
  }
  PF_Handle h = u->host_new_handle(sizeof(paint::PaintGlobals));
  auto* globals = h != nullptr ? static_cast<paint::PaintGlobals*>(u->host_lock_handle(h)) : nullptr;
  if (globals == nullptr) {
    if (h != nullptr) u->host_dispose_handle(h);
    return Failed(in_data, out_data, PF_Err_MAC_OUT_OF_MEMORY, kMsgNoMemory);
  }
  paint::InitPaintGlobals(globals);
  paint::DetectTablet();
  paint::OpenTablet(globals);
  paint::ApplyPreferences(paint::LoadPreferences(), globals);
  u->host_unlock_handle(h);
  out_data->global_data = h;
  return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  if (const PF_Err err = pf::GlobalSetup(in_data, out_data, params, output, extra)) return err;
  return BuildGlobals(in_data, out_data);
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (in_data->global_data != nullptr) in_data->utils->host_dispose_handle(in_data->global_data);
  out_data->global_data = nullptr;
  paint::UnloadTablet();
  return PF_Err_NONE;
}

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (const PF_Err err = pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach)) return err;
  PF_CustomUIInfo ui{};
  ui.events = kUiEvents;
  return in_data->inter.register_ui(in_data->effect_ref, &ui);
}

// The preferences dialog on the global data. Without global data from the
// host it is built first, and the dialog works on the new data.
PF_Err DoDialog(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  const PF_UtilCallbacks* u = in_data->utils;
  PF_Handle h = in_data->global_data;
  if (h == nullptr) {
    out_data->global_data = nullptr;
    if (const PF_Err err = BuildGlobals(in_data, out_data)) return err;
    h = out_data->global_data;
  }
  auto* globals = static_cast<paint::PaintGlobals*>(u->host_lock_handle(h));
  if (globals == nullptr) return Failed(in_data, out_data, PF_Err_MAC_OUT_OF_MEMORY, kMsgNoMemory);
  void* parent = nullptr;
  if (u->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &parent) != PF_Err_NONE) parent = nullptr;
  paint::RunPreferencesDialog(globals, static_cast<ombrix::platform::DialogWindow*>(parent));
  u->host_unlock_handle(h);
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Sequence data
// ---------------------------------------------------------------------------

PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return StartDrawing(in_data, out_data);
}

// Stored data is rebuilt into a drawing. Data that cannot be is left as it
// is (the host keeps its bytes), the user is told why, and the effect goes
// on with an empty drawing.
PF_Err SequenceResetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (g_current.unflat != nullptr) return PF_Err_NONE;
  if (g_current.flat == nullptr) return StartDrawing(in_data, out_data);
  const paint::DrawingStatus status = paint::Unflatten(in_data->utils, g_current);
  Report(in_data, out_data, status);
  if (g_current.unflat != nullptr) return PF_Err_NONE;
  g_current = paint::DrawingRef{};
  return StartDrawing(in_data, out_data);
}

PF_Err SequenceFlatten(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  out_data->flat_sdata_size = 0;
  if (g_current.unflat == nullptr && g_current.flat == nullptr)
    return Failed(in_data, out_data, pf::kShellError, kMsgNoDrawing);
  // On failure the drawing is kept as it was, so that saving can be tried again.
  if (const PF_Err err = Report(in_data, out_data, paint::Flatten(in_data->utils, g_current))) return err;
  const A_u_long size = in_data->utils->host_get_handle_size(g_current.flat);
  if (size == 0 || size > A_u_long(INT32_MAX))
    return Failed(in_data, out_data, PF_Err_MAC_OUT_OF_MEMORY, kMsgEmptyFlat);
  out_data->flat_sdata_size = A_long(size);
  return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  paint::DisposeDrawing(in_data->utils, g_current);
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Render and events
// ---------------------------------------------------------------------------

// The onion-skin settings of the global data; the stored defaults when the
// host passes none.
paint::OnionPrefs OnionOf(PF_InData* in_data) {
  paint::OnionPrefs onion = paint::kDefaultPreferences.onion;
  PF_Handle h = in_data->global_data;
  if (h == nullptr) return onion;
  if (const auto* globals = static_cast<const paint::PaintGlobals*>(in_data->utils->host_lock_handle(h))) {
    onion = globals->onion;
    in_data->utils->host_unlock_handle(h);
  }
  return onion;
}

// The drawing played back at the current time. It is made unflat first
// (the host may hand over the flat data it saved); a drawing that cannot be
// is not painted, and a missing one is started empty.
PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  if (g_current.flat != nullptr) paint::Unflatten(in_data->utils, g_current);
  if (g_current.unflat == nullptr && g_current.flat == nullptr) g_current.unflat = paint::NewDrawing();
  paint::PlaybackSettings s;
  s.draw_mode = params[kParamDrawMode]->u.pd.value;
  s.speed = double(params[kParamSpeed]->u.fd.value) / 65536.0;
  s.speed_affects_insert = params[kParamSpeedInsert]->u.bd.value != 0;
  s.composite = params[kParamComposite]->u.pd.value;
  return paint::RenderDrawing(in_data, g_current.unflat, OnionOf(in_data), s, params[kParamInput]->u.ld, *output);
}

// The host's current tool, asked through the helper suite, which is
// acquired on the first click in the composition window and kept. When it
// cannot be acquired the question is never asked again: every tool paints.
enum class HelperSuite { kUnknown, kHeld, kMissing };
HelperSuite g_helper_state = HelperSuite::kUnknown;
const PF_HelperSuite1* g_helper = nullptr;

bool HostToolPaints(PF_InData* in_data, PF_OutData* out_data) {
  if (g_helper_state == HelperSuite::kUnknown) {
    const void* suite = nullptr;
    AcquireSuite(in_data, out_data, kPFHelperSuite, kPFHelperSuiteVersion1, &suite);
    g_helper = static_cast<const PF_HelperSuite1*>(suite);
    g_helper_state = g_helper != nullptr ? HelperSuite::kHeld : HelperSuite::kMissing;
  }
  if (g_helper == nullptr) return true;
  PF_SuiteTool tool = PF_SuiteTool_ARROW;
  if (g_helper->GetCurrentTool(&tool) != PF_Err_NONE) return true;
  return tool == PF_SuiteTool_ARROW;
}

// After every click in the composition window: all windows are refreshed,
// and the host renders again when the drawing changed.
void FinishClick(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* event, bool changed) {
  const void* suite = nullptr;
  if (AcquireSuite(in_data, out_data, kPFAdvAppSuite, kPFAdvAppSuiteVersion1, &suite) == PF_Err_NONE) {
    static_cast<const PF_AdvAppSuite1*>(suite)->RefreshAllWindows();
    in_data->pica_basicP->ReleaseSuite(kPFAdvAppSuite, kPFAdvAppSuiteVersion1);
  }
  out_data->out_flags |= changed ? PF_OutFlag_FORCE_RERENDER : PF_OutFlag_REFRESH_UI;
  event->evt_out_flags |= PF_EO_HANDLED_EVENT;
  event->u.do_click.send_drag = 0;
}

// What an event works on: the unflat drawing and the view. False when
// either cannot be had.
bool PrepareEvent(PF_InData* in_data, PF_EventExtra* event, paint::PaintEvent* e) {
  if (g_current.flat != nullptr) paint::Unflatten(in_data->utils, g_current);
  if (g_current.unflat == nullptr || event->contextH == nullptr || event->contextH->reserved_drawref == nullptr)
    return false;
  e->in_data = in_data;
  e->event = event;
  e->drawing = g_current.unflat;
  e->view = static_cast<ombrix::platform::View*>(event->contextH->reserved_drawref);
  e->small_font = g_fonts.small.name;
  e->medium_font = g_fonts.medium.name;
  void* parent = nullptr;
  if (in_data->utils->get_platform_data(in_data->effect_ref, PF_PlatData_MAIN_WND, &parent) == PF_Err_NONE)
    e->parent = static_cast<ombrix::platform::DialogWindow*>(parent);
  return true;
}

PF_Err Click(PF_InData* in_data, PF_OutData* out_data, PF_EventExtra* event, paint::PaintEvent& e) {
  if (event->contextH->w_type == PF_Window_EFFECT) {
    if (event->effect_win.index != kParamBrush) return PF_Err_NONE;
    const paint::ClickOutcome outcome = paint::BrushControlClick(e);
    if (outcome.changed) out_data->out_flags |= PF_OutFlag_REFRESH_UI;
    event->evt_out_flags |= PF_EO_HANDLED_EVENT;
    event->u.do_click.send_drag = 0;
    return outcome.err;
  }
  if (event->contextH->w_type != PF_Window_COMP) return PF_Err_NONE;
  paint::ClickOutcome outcome;
  if (HostToolPaints(in_data, out_data)) outcome = paint::CompositionClick(e);
  FinishClick(in_data, out_data, event, outcome.changed);
  return outcome.err;
}

// Custom UI events. A DO_CLICK that continues a drag is a drag: the click
// handlers follow the pointer themselves, so drags do nothing.
PF_Err Event(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void* extra) {
  auto* event = static_cast<PF_EventExtra*>(extra);
  if (event == nullptr || event->contextH == nullptr) return PF_Err_NONE;
  const PF_WindowType window = event->contextH->w_type;
  const bool hooked_window = window == PF_Window_COMP || window == PF_Window_EFFECT;
  PF_EventType type = event->e_type;
  if (type == PF_Event_DO_CLICK && event->u.do_click.send_drag) type = PF_Event_DRAG;
  switch (type) {
    case PF_Event_NEW_CONTEXT:
      if (hooked_window) paint::AddMouseHookUser();
      return PF_Err_NONE;
    case PF_Event_CLOSE_CONTEXT:
      if (hooked_window) paint::RemoveMouseHookUser();
      return PF_Err_NONE;
    case PF_Event_DO_CLICK:
    case PF_Event_DRAW:
    case PF_Event_IDLE:
      break;
    default:
      return PF_Err_NONE;
  }
  if (type == PF_Event_DRAW && window == PF_Window_COMP && (event->evt_in_flags & PF_EI_DONT_DRAW)) return PF_Err_NONE;
  paint::PaintEvent e;
  if (!PrepareEvent(in_data, event, &e)) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  PF_Handle gh = in_data->global_data;
  e.globals = gh != nullptr ? static_cast<paint::PaintGlobals*>(in_data->utils->host_lock_handle(gh)) : nullptr;
  PF_Err err = PF_Err_NONE;
  if (type == PF_Event_DO_CLICK) {
    err = Click(in_data, out_data, event, e);
  } else if (type == PF_Event_DRAW && window == PF_Window_COMP) {
    paint::DrawOverlay(e);
    event->evt_out_flags |= PF_EO_HANDLED_EVENT;
  } else if (type == PF_Event_DRAW && window == PF_Window_EFFECT && event->effect_win.index == kParamBrush) {
    paint::DrawBrushControl(e);
    event->evt_out_flags |= PF_EO_HANDLED_EVENT;
  } else if (type == PF_Event_IDLE && window == PF_Window_COMP) {
    paint::IdleOutline(e);
  }
  if (e.globals != nullptr) in_data->utils->host_unlock_handle(gh);
  return err;
}

constexpr pf::Commands kCommands{
    .about = pf::AboutMacKey,
    .global_setup = GlobalSetup,
    .global_setdown = GlobalSetdown,
    .params_setup = ParamsSetup,
    .sequence_setup = SequenceSetup,
    .sequence_resetup = SequenceResetup,
    .sequence_flatten = SequenceFlatten,
    .sequence_setdown = SequenceSetdown,
    .do_dialog = DoDialog,
    .render = Render,
    .event = Event,
    .before = BeforeCommand,
    .after = AfterCommand,
};

}  // namespace

OMBRIX_MAIN(PaintMain, kCommands);
