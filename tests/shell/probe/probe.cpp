// A test plug-in built from the shell under two names. probe_a is shaped like
// a single-purpose effect (slot dispatch, one reused definition record, global
// flags 0); probe_b (PROBE_DIALOG_STYLE) like a dialog effect (handler table,
// record cleared per parameter, global flags 0x21). FRAME_SETUP counts its
// calls in a module-wide variable and reports the count in return_msg.
#include <pf/shell.h>

#ifdef PROBE_DIALOG_STYLE
OMBRIX_PLUGIN("OB Probe " OMBRIX_PLUGIN_SHORT_NAME, "obx Probe " OMBRIX_PLUGIN_SHORT_NAME, 11, 0,
              PF_OutFlag_KEEP_RESOURCE_OPEN | PF_OutFlag_I_DO_DIALOG);
#else
OMBRIX_PLUGIN("OB Probe " OMBRIX_PLUGIN_SHORT_NAME, "obx Probe " OMBRIX_PLUGIN_SHORT_NAME, 11, 0, 0);
#endif

namespace {

constexpr pf::ParamSpec kParams[] = {
    pf::ColorParam("Tint", PF_Pixel{255, 10, 20, 30}),
    pf::FixSliderParam("Amount", 0x8000, 0, 0x10000, 0, 0x10000, 1, PF_ValueDisplayFlag_PERCENT),
    pf::PopupParam("Mode...", "One|(-|Two", 3),
    pf::CheckboxParam("", "Invert", true),
    pf::PointParam("Centre", 50 << 16, 25 << 16, true, PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::SliderParam("Count", 7, 1, 100, 1, 20),
    pf::AngleParam("Turn", 90 << 16),
};
static_assert(pf::ParamNamesFit(kParams));

int gFrameSetups = 0;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
#ifdef PROBE_DIALOG_STYLE
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
#else
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
#endif
}

PF_Err CountFrameSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  ++gFrameSetups;
  in_data->utils->ansi.sprintf(out_data->return_msg, "%d", gFrameSetups);
  return PF_Err_NONE;
}

PF_Err CopyRender(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  return in_data->utils->copy(in_data->effect_ref, &params[0]->u.ld, output, nullptr, nullptr);
}

#ifdef PROBE_DIALOG_STYLE
constexpr pf::Handler kTable[pf::kDispatchedCommands] = {
    pf::About, pf::GlobalSetup, nullptr, nullptr, ParamsSetup, nullptr,
    nullptr,   nullptr,         nullptr, nullptr, CountFrameSetup, CopyRender};
#else
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 5, 5, 2, 5, 5, 5, 5, 5, 3, 4};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup,
                                     CountFrameSetup, CopyRender, pf::NoCommand};
#endif

}  // namespace

OMBRIX_ENTRY(ProbeMain);

PF_Err ProbeMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                 PF_LayerDef* output, void* extra) {
#ifdef PROBE_DIALOG_STYLE
  return pf::DispatchByTable(kTable, cmd, in_data, out_data, params, output, extra);
#else
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
#endif
}
