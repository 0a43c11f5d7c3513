// A test plug-in with what a painting effect asks of its host: a custom
// control parameter and custom UI registration, sequence data kept unflat
// while it runs and flattened for saving, events routed through the shell's
// command table, the three host suites, and the host program's
// "gIsSwapped" byte.
#include <pf/shell.h>
#include <pf/suites.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "uiprobe_record.h"

OMBRIX_PLUGIN("OB UI Probe", "obx UI Probe", 12, 1,
              PF_OutFlag_CUSTOM_UI | PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING | PF_OutFlag_KEEP_RESOURCE_OPEN);

namespace {

using uiprobe::Flat;

constexpr pf::ParamSpec kParams[] = {
    pf::CustomControlParam("Brush Settings", uiprobe::kControlWidth, uiprobe::kControlHeight),
    pf::SliderParam("Step", 1, 0, uiprobe::kStepOversized, 0, uiprobe::kStepOversized),
};

// The host program's byte, looked up once when the plug-in is loaded.
const unsigned char* g_swapped = nullptr;
__attribute__((constructor)) void FindSwapped() {
  g_swapped = static_cast<const unsigned char*>(dlsym(RTLD_DEFAULT, "gIsSwapped"));
}

// The unflat records, by number.
std::vector<std::unique_ptr<Flat>> g_records;

struct Wrapper {
  uint32_t zero;
  uint32_t record;
};

PF_Handle NewWrapper(PF_InData* in, std::unique_ptr<Flat> record) {
  PF_Handle h = in->utils->host_new_handle(sizeof(Wrapper));
  auto* w = h ? static_cast<Wrapper*>(in->utils->host_lock_handle(h)) : nullptr;
  if (!w) return nullptr;
  *w = Wrapper{0, uint32_t(g_records.size())};
  g_records.push_back(std::move(record));
  return h;
}

// The record the sequence data stands for, unflattening flat data into a
// new record and wrapper (handed back through out_data). `form` tells what
// arrived.
Flat* Current(PF_InData* in, PF_OutData* out, char& form) {
  PF_UtilCallbacks* u = in->utils;
  PF_Handle h = in->sequence_data;
  form = '-';
  if (!h) return nullptr;
  const A_u_long size = u->host_get_handle_size(h);
  const auto* bytes = static_cast<const uint8_t*>(u->host_lock_handle(h));
  if (!bytes) return nullptr;
  Wrapper w;
  if (size == sizeof w && (std::memcpy(&w, bytes, sizeof w), w.zero == 0) && w.record < g_records.size()) {
    form = 'U';
    return g_records[w.record].get();
  }
  if (size < sizeof(Flat) || std::memcmp(bytes, &uiprobe::kFlatMagic, 4) != 0) return nullptr;
  form = 'F';
  auto record = std::make_unique<Flat>();
  std::memcpy(record.get(), bytes, sizeof(Flat));
  PF_Handle wrapper = NewWrapper(in, std::move(record));
  if (!wrapper) return nullptr;
  u->host_dispose_handle(h);
  in->sequence_data = out->sequence_data = wrapper;
  return g_records.back().get();
}

void Log(Flat* f, char cmd, char form) {
  if (!f || f->length + 2 > int(sizeof f->log)) return;
  f->log[f->length++] = cmd;
  f->log[f->length++] = form;
}

PF_Err ParamsSetup(PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (PF_Err err = pf::RegisterParams(in, out, kParams, pf::ParamRecord::kClearedEach)) return err;
  PF_CustomUIInfo ui{};
  ui.events = uiprobe::kEvents;
  return in->inter.register_ui(in->effect_ref, &ui);
}

PF_Err SequenceSetup(PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void*) {
  auto record = std::make_unique<Flat>();
  record->magic = uiprobe::kFlatMagic;
  Log(record.get(), 'S', '-');
  out->sequence_data = NewWrapper(in, std::move(record));
  out->flat_sdata_size = sizeof(Flat);
  return out->sequence_data ? PF_Err_NONE : PF_Err_OUT_OF_MEMORY;
}

PF_Err SequenceResetup(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  char form;
  Flat* f = Current(in, out, form);
  if (!f) return SequenceSetup(in, out, params, output, extra);
  Log(f, 'r', form);
  out->flat_sdata_size = sizeof(Flat);
  return PF_Err_NONE;
}

PF_Err SequenceFlatten(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*, void*) {
  char form;
  Flat* f = Current(in, out, form);
  if (!f) return PF_Err_INTERNAL_STRUCT_DAMAGED;
  Log(f, 'F', form);
  PF_Handle flat = in->utils->host_new_handle(sizeof(Flat) + uiprobe::kFlatPadding);
  void* p = flat ? in->utils->host_lock_handle(flat) : nullptr;
  if (!p) return PF_Err_OUT_OF_MEMORY;
  std::memcpy(p, f, sizeof(Flat));
  in->utils->host_dispose_handle(in->sequence_data);
  out->sequence_data = flat;
  const bool oversized = params && params[uiprobe::kStep]->u.sd.value == uiprobe::kStepOversized;
  out->flat_sdata_size = A_long(sizeof(Flat)) + (oversized ? uiprobe::kFlatPadding + 1 : 0);
  return PF_Err_NONE;
}

PF_Err SequenceSetdown(PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void*) {
  in->utils->host_dispose_handle(in->sequence_data);
  out->sequence_data = nullptr;
  return PF_Err_NONE;
}

// Acquires a suite; NULL when the host cannot hand it out.
template <class Suite>
const Suite* Acquire(PF_InData* in, const char* name) {
  const void* suite = nullptr;
  return in->pica_basicP->AcquireSuite(name, 1, &suite) ? nullptr : static_cast<const Suite*>(suite);
}

// The host's current tool, or the arrow when it cannot be asked.
PF_SuiteTool CurrentTool(PF_InData* in) {
  PF_SuiteTool tool = PF_SuiteTool_ARROW;
  if (const auto* helper = Acquire<PF_HelperSuite1>(in, kPFHelperSuite)) {
    if (helper->GetCurrentTool(&tool)) tool = PF_SuiteTool_ARROW;
    in->pica_basicP->ReleaseSuite(kPFHelperSuite, 1);
  }
  return tool;
}

PF_Err Render(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  char form;
  Flat* f = Current(in, out, form);
  Log(f, 'R', form);
  if (f) f->count += params[uiprobe::kStep]->u.sd.value;
  in->utils->ansi.sprintf(out->return_msg, "tool %d", int(CurrentTool(in)));
  return in->utils->copy(in->effect_ref, &params[0]->u.ld, output, nullptr, nullptr);
}

// A click in the composition window paints (adds Step) while the host's
// tool is the arrow, then asks for all windows to be refreshed.
void Click(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], Flat* f) {
  const bool paints = f && CurrentTool(in) == PF_SuiteTool_ARROW;
  if (paints) f->count += params[uiprobe::kStep]->u.sd.value;
  if (const auto* adv = Acquire<PF_AdvAppSuite1>(in, kPFAdvAppSuite)) {
    adv->RefreshAllWindows();
    in->pica_basicP->ReleaseSuite(kPFAdvAppSuite, 1);
  }
  out->out_flags |= paints ? PF_OutFlag_FORCE_RERENDER : PF_OutFlag_REFRESH_UI;
  in->utils->ansi.sprintf(out->return_msg, "count %d", f ? int(f->count) : -1);
}

// Drawing the control: the fonts of style sheets 1 and 4 with the answers,
// "NAME|ERR|NAME|ERR"; without the app suite, its acquisition's error.
void DrawControl(PF_InData* in, PF_OutData* out) {
  PF_FontName small{}, medium{};
  PF_Err small_err, medium_err;
  const void* suite = nullptr;
  if (SPErr err = in->pica_basicP->AcquireSuite(kPFAppSuite, 1, &suite)) {
    small_err = medium_err = err;
  } else {
    const auto* app = static_cast<const PF_AppSuite1*>(suite);
    small_err = app->GetFontStyleSheet(PF_FontStyle_SMALL, &small, nullptr, nullptr);
    medium_err = app->GetFontStyleSheet(PF_FontStyle_MEDIUM, &medium, nullptr, nullptr);
    in->pica_basicP->ReleaseSuite(kPFAppSuite, 1);
  }
  in->utils->ansi.sprintf(out->return_msg, "%s|%d|%s|%d", small.name, int(small_err), medium.name, int(medium_err));
}

// A drag, asked for when the click is made with Shift: continuing clicks
// are counted, and the release reports how many came.
int g_drags = 0;
void Drag(PF_InData* in, PF_OutData* out, PF_EventExtra* event) {
  PF_DoClickEventInfo& click = event->u.do_click;
  if (!click.send_drag) {
    g_drags = 0;
    click.send_drag = (click.modifiers & PF_Mod_SHIFT_KEY) ? 1 : 0;
    return;
  }
  ++g_drags;
  if (click.last_time) in->utils->ansi.sprintf(out->return_msg, "drags %d", g_drags);
}

// Idle in the composition window: the point in layer pixels and back, as
// "layer X Y view X Y" in 16.16. With Caps Lock the event takes a while and
// logs its end ('e').
void Idle(PF_InData* in, PF_OutData* out, PF_EventExtra* event, Flat* f, char form) {
  PF_FixedPoint p{event->u.idle.screen_point.h << 16, event->u.idle.screen_point.v << 16};
  event->cbs.comp_to_layer(event->cbs.refcon, event->contextH, in->current_time, in->time_scale, &p);
  PF_FixedPoint back = p;
  event->cbs.layer_to_comp(event->cbs.refcon, event->contextH, in->current_time, in->time_scale, &back);
  in->utils->ansi.sprintf(out->return_msg, "layer %d %d view %d %d", int(p.h), int(p.v), int(back.h), int(back.v));
  if (event->u.idle.modifiers & PF_Mod_CAPS_LOCK_KEY) {
    usleep(200000);
    Log(f, 'e', form);
  }
}

PF_Err Event(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef*, void* extra) {
  auto* event = static_cast<PF_EventExtra*>(extra);
  if (!event || !event->contextH) return PF_Err_BAD_CALLBACK_PARAM;
  char form;
  Flat* f = Current(in, out, form);
  Log(f, 'E', form);
  const PF_WindowType window = event->contextH->w_type;
  if (event->e_type == PF_Event_DO_CLICK && window == PF_Window_COMP) {
    if (!event->u.do_click.send_drag) Click(in, out, params, f);
    Drag(in, out, event);
  } else if (event->e_type == PF_Event_IDLE && window == PF_Window_COMP) {
    Idle(in, out, event, f, form);
    return PF_Err_NONE;
  } else if (event->e_type == PF_Event_DRAW && window == PF_Window_EFFECT) {
    DrawControl(in, out);
  } else {
    return PF_Err_NONE;
  }
  event->evt_out_flags = PF_EO_HANDLED_EVENT;
  return PF_Err_NONE;
}

PF_Err About(PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*, void*) {
  if (g_swapped)
    in->utils->ansi.sprintf(out->return_msg, "gIsSwapped %d", int(*g_swapped));
  else
    in->utils->ansi.strcpy(out->return_msg, "no gIsSwapped");
  return PF_Err_NONE;
}

constexpr pf::Commands kCommands{
    .about = About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .sequence_setup = SequenceSetup,
    .sequence_resetup = SequenceResetup,
    .sequence_flatten = SequenceFlatten,
    .sequence_setdown = SequenceSetdown,
    .render = Render,
    .event = Event,
};

}  // namespace

OMBRIX_MAIN(UiProbeMain, kCommands);
