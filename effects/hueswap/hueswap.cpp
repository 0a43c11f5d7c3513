// Hueswap: selects the pixels close to a "From" colour in hue, lightness and
// saturation and sets or shifts their colour toward a "To" colour, with a
// tolerance per component and a soft selection edge; the mask view shows
// the selection strength as grey levels.
#include <pf/fixed.h>
#include <pf/rows.h>
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Hueswap", "obx Hueswap", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamFrom,
  kParamTo,
  kParamChange,
  kParamChangeBy,
  kParamHueTolerance,
  kParamLightnessTolerance,
  kParamSaturationTolerance,
  kParamSoftness,
  kParamViewMask,
  kParamCount,
};

// "Change..." items.
enum { kHue = 1, kHueLightness = 2, kHueSaturation = 3, kAllChannels = 4 };
// "Change By..." items.
enum { kSettingTo = 1, kTransformingTo = 2 };

constexpr PF_Pixel kWhite{255, 255, 255, 255};
constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamFrom, pf::ColorParam("From", kWhite)},
    {kParamTo, pf::ColorParam("To", kWhite)},
    {kParamChange, pf::PopupParam("Change...", "Hue|Hue & Lightness|Hue & Saturation|All Channels", kHue)},
    {kParamChangeBy, pf::PopupParam("Change By...", "Setting To Color|Transforming To Color", kSettingTo)},
    {kParamHueTolerance, pf::FixSliderParam("Hue Tolerance", 0x199A, 0, Fix(2), 0, Fix(1), 1, kPercent)},
    {kParamLightnessTolerance, pf::FixSliderParam("Lightness Tolerance", Fix(1), 0, Fix(2), 0, Fix(1), 1, kPercent,
                                                  PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamSaturationTolerance, pf::FixSliderParam("Saturation Tolerance", Fix(1), 0, Fix(2), 0, Fix(1), 1, kPercent,
                                                   PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamSoftness, pf::FixSliderParam("Softness", 0x8000, 0, Fix(1), 0, Fix(1), 1, kPercent)},
    {kParamViewMask, pf::CheckboxParam(" ", "View Mask", false)},
});

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

PF_Err ColourRow(void* refcon, A_long, A_long width, PF_Pixel* in, PF_Pixel* out) {
  return hueswap::ColourRow(*static_cast<const hueswap::Block*>(refcon), width, in, out);
}

PF_Err MaskRow(void* refcon, A_long, A_long width, PF_Pixel* in, PF_Pixel* out) {
  return hueswap::MaskRow(*static_cast<const hueswap::Block*>(refcon), width, in, out);
}

// Nothing is selected: the mask view is opaque black, the colour view the input.
PF_Err NothingSelected(PF_InData* in_data, PF_EffectWorld* input, PF_LayerDef* output, bool mask) {
  if (mask) {
    const PF_Pixel black{255, 0, 0, 0};
    return in_data->utils->fill(in_data->effect_ref, &black, nullptr, output);
  }
  return in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const bool mask = params[kParamViewMask]->u.bd.value != 0;
  const PF_Fixed hue_tol = params[kParamHueTolerance]->u.fd.value;
  const PF_Fixed light_tol = params[kParamLightnessTolerance]->u.fd.value;
  const PF_Fixed sat_tol = params[kParamSaturationTolerance]->u.fd.value;
  if (hue_tol == 0 || light_tol == 0 || sat_tol == 0) return NothingSelected(in_data, input, output, mask);

  hueswap::Block b{};
  b.from = params[kParamFrom]->u.cd.value;
  b.to = params[kParamTo]->u.cd.value;
  b.effect_ref = in_data->effect_ref;
  b.color = &in_data->utils->colorCB;
  PF_Err err = b.color->RGBtoHLS(in_data->effect_ref, &b.from, b.from_hls);
  if (err != PF_Err_NONE) return err;
  err = b.color->RGBtoHLS(in_data->effect_ref, &b.to, b.to_hls);
  if (err != PF_Err_NONE) return err;

  b.dh = hueswap::ShortHueDifference(b.to_hls[0], b.from_hls[0]);
  b.dl = b.to_hls[1] - b.from_hls[1];
  b.ds = b.to_hls[2] - b.from_hls[2];
  if (b.dh == 0 && b.dl == 0 && b.ds == 0) return NothingSelected(in_data, input, output, mask);

  hueswap::SetWeights(b, hue_tol, light_tol, sat_tol, params[kParamSoftness]->u.fd.value);
  pf::RowFunc row = ColourRow;
  if (mask) {
    b.f = b.f * 255.0;
    row = MaskRow;
  } else {
    const A_long change = params[kParamChange]->u.pd.value;
    b.change_lightness = change == kHueLightness || change == kAllChannels;
    b.change_saturation = change == kHueSaturation || change == kAllChannels;
    b.transform = params[kParamChangeBy]->u.pd.value == kTransformingTo;
  }
  return pf::IterateRows(in_data, input, output, &b, row);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(HueswapMain, kCommands);
