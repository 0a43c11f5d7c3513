// Tintmatch: paints the layer in the average colour of another layer (or of
// itself) at the current time, over the whole frame or in the layer's shape.
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Tintmatch", "obx Tintmatch", 11, 0, 0);

namespace {

enum { kParamInput = 0, kParamSource, kParamMode, kParamKeepAlpha, kParamCount };

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamSource, pf::LayerParam("Source Layer")},
    {kParamMode, pf::PopupParam("Average Pixel Colors...", "Skip Empty|All|All Premultiplied|Including Alpha",
                                tintmatch::kSkipEmpty)},
    {kParamKeepAlpha, pf::CheckboxParam(" ", "Maintain Original Alpha", false)},
});

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

PF_Err KeepAlphaPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  tintmatch::KeepAlpha(*static_cast<const PF_Pixel*>(refcon), *in, *out);
  return PF_Err_NONE;
}

PF_Err ScaleAlphaPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  tintmatch::ScaleAlpha(*static_cast<const PF_Pixel*>(refcon), *in, *out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const A_long mode = params[kParamMode]->u.pd.value;
  PF_UtilCallbacks* utils = in_data->utils;
  const PF_ProgPtr ref = in_data->effect_ref;

  PF_ParamDef source{};
  PF_Err err = in_data->inter.checkout_param(ref, kParamSource, in_data->current_time, in_data->time_step,
                                             in_data->time_scale, &source);
  if (err != PF_Err_NONE) {
    utils->fill(ref, nullptr, nullptr, output);
    return err;
  }
  // No layer chosen: the layer the effect is applied to is averaged instead.
  PF_Pixel avg;
  if (source.u.ld.data != nullptr) {
    avg = tintmatch::Average(source.u.ld, mode);
    err = in_data->inter.checkin_param(ref, &source);
    if (err != PF_Err_NONE) return err;
  } else {
    avg = tintmatch::Average(*input, mode);
  }
  if (mode != tintmatch::kIncludingAlpha) avg.alpha = 255;

  if (params[kParamKeepAlpha]->u.bd.value == 0) return utils->fill(ref, &avg, nullptr, output);
  return utils->iterate(in_data, 0, output->height, input, nullptr, &avg,
                        mode == tintmatch::kIncludingAlpha ? ScaleAlphaPixel : KeepAlphaPixel, output);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(TintmatchMain, kCommands);
