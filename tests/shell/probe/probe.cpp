// A test plug-in built from the shell under two names. probe_a is shaped like
// a single-purpose effect (one reused definition record, global flags 0);
// probe_b (PROBE_DIALOG_STYLE) like a dialog effect (record cleared per
// parameter, global flags 0x21). FRAME_SETUP counts its
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

int g_frame_setups = 0;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
#ifdef PROBE_DIALOG_STYLE
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
#else
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
#endif
}

PF_Err CountFrameSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  ++g_frame_setups;
  in_data->utils->ansi.sprintf(out_data->return_msg, "%d", g_frame_setups);
  return PF_Err_NONE;
}

PF_Err CopyRender(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  return in_data->utils->copy(in_data->effect_ref, &params[0]->u.ld, output, nullptr, nullptr);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .frame_setup = CountFrameSetup,
    .render = CopyRender,
};

}  // namespace

OMBRIX_MAIN(ProbeMain, kCommands);
