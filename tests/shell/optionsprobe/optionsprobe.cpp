// A test plug-in with a settings record and an options dialog, shaped like
// the effects that have them: it declares its kind and puts the shell's
// commands around its own. Built once per kind (OPTPROBE_KIND), each build
// with one of the about variants (OPTPROBE_ABOUT). Its render copies the
// input, so it can run through the whole render path.
#include <pf/dialogs.h>
#include <pf/settings.h>
#include <pf/shell.h>

OMBRIX_PLUGIN("OB Options " OMBRIX_PLUGIN_SHORT_NAME, "obx Options " OMBRIX_PLUGIN_SHORT_NAME, 11, 0,
              PF_OutFlag_I_DO_DIALOG);
OMBRIX_OPTIONS(OPTPROBE_KIND);

namespace {

constexpr pf::ParamSpec kParams[] = {
    pf::SliderParam("Count", 7, 1, 100, 1, 20),
};

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
}

PF_Err CopyRender(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  return in_data->utils->copy(in_data->effect_ref, &params[0]->u.ld, output, nullptr, nullptr);
}

constexpr pf::Commands kCommands = [] {
  pf::Commands c = pf::OptionsCommands(ParamsSetup, CopyRender);
  c.about = OPTPROBE_ABOUT;
  return c;
}();

}  // namespace

OMBRIX_MAIN(OptionsProbeMain, kCommands);
