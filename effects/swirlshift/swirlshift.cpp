// Swirlshift: displaces the layer's pixels along a fractal noise field
// (turbulent, bulge or twist; each fast on faded bilinear noise or HQ on
// bicubic noise), reading the input by point sampling or, at best quality
// with "High" antialiasing, over the area each output pixel maps to.
#include <pf/dialogs.h>
#include <pf/fixed.h>
#include <pf/settings.h>
#include <pf/shell.h>

#include <noise/fractal.h>
#include <noise/record.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Swirlshift", "obx Swirlshift", 11, 0, 0x21);
OMBRIX_OPTIONS(kSeedEvolution);

namespace {

enum {
  kParamInput = 0,
  kParamDisplacement,
  kParamAmount,
  kParamScale,
  kParamOffset,
  kParamComplexity,
  kParamEvolution,
  kParamAntialiasing,
  kParamCount,
};

using pf::Fix;

// Item 4 is the disabled separator.
constexpr const char* kDisplacementItems = "Turbulent|Bulge|Twist|(-|Turbulent HQ|Bulge HQ|Twist HQ";
static_assert(pf::PopupItemCount(kDisplacementItems) == 7);
constexpr const char* kAntialiasingItems = "Low|High";
// The long form of this title, "Antialiasing (Best Quality Only)...", has 36
// characters and does not fit a parameter name (31 and the terminating zero):
// copied whole it would run over the record's following fields. This shorter
// title says the same and keeps the popup's trailing "...".
constexpr const char* kAntialiasingName = "Antialiasing (Best Quality)...";

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamDisplacement, pf::PopupParam("Displacement...", kDisplacementItems, swirlshift::kTurbulent)},
    {kParamAmount,
     pf::FixSliderParam("Amount", Fix(50), Fix(-10000), Fix(10000), 0, Fix(100), 1, PF_ValueDisplayFlag_NONE)},
    {kParamScale,
     pf::FixSliderParam("Scale", Fix(100), Fix(5), Fix(1000), Fix(10), Fix(500), 1, PF_ValueDisplayFlag_NONE)},
    {kParamOffset, pf::PointParam("Offset Turbulence", Fix(50), Fix(50), false)},
    {kParamComplexity, pf::FixSliderParam("Complexity", Fix(1), Fix(1), Fix(10), Fix(1), Fix(5), 1,
                                          PF_ValueDisplayFlag_NONE, PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamEvolution, pf::AngleParam("Evolution", 0)},
    {kParamAntialiasing, pf::PopupParam(kAntialiasingName, kAntialiasingItems, swirlshift::kLow)},
});

// The lattice of the current render: rebuilt at its start, only read by the
// pixel callbacks while the host iterates.
noise::NoiseLattice g_lattice;

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
}

PF_Err WarpPixel(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  return swirlshift::WarpPixel(*static_cast<const swirlshift::Frame*>(refcon), x, y, out);
}

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  const PF_Fixed amount = params[kParamAmount]->u.fd.value;
  if (amount == 0) return in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);

  const int32_t type = params[kParamDisplacement]->u.pd.value;
  const double scale = pf::FixSliderValue(params[kParamScale]);
  const bool low_quality = in_data->quality == PF_Quality_LO;

  swirlshift::Frame frame{};
  frame.lattice = &g_lattice;
  frame.amplitude = swirlshift::Amplitude(pf::FixedToDouble(amount), scale, in_data->downsample_x);
  frame.frequency = swirlshift::Frequency(scale, in_data->downsample_x, type);
  const noise::ComplexitySplit split =
      noise::SplitComplexity(pf::FixSliderValue(params[kParamComplexity]), in_data->quality);
  frame.octaves = split.octaves;
  frame.fraction = split.fraction;
  frame.offset_x = pf::FixedToDouble(params[kParamOffset]->u.td.x_value);
  frame.offset_y = pf::FixedToDouble(params[kParamOffset]->u.td.y_value);
  frame.antialiasing = low_quality ? swirlshift::kLow : params[kParamAntialiasing]->u.pd.value;
  frame.sampling.src = input;
  frame.effect_ref = in_data->effect_ref;
  frame.utils = in_data->utils;

  noise::BuildRenderLattice(g_lattice, params[kParamEvolution]->u.ad.value, in_data);

  // The separator (or a value outside the list) renders nothing.
  if (!swirlshift::FieldOf(type, frame.field, frame.hq)) return PF_Err_NONE;

  return in_data->utils->iterate(in_data, 0, output->height, input, nullptr, &frame, WarpPixel, output);
}

constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);

}  // namespace

OMBRIX_MAIN(SwirlshiftMain, kCommands);
