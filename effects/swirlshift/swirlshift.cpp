// Swirlshift: displaces the layer's pixels along a fractal noise field
// (turbulent, bulge or twist; each fast on faded bilinear noise or HQ on
// bicubic noise), reading the input by point sampling or, at best quality
// with "High" antialiasing, over the area each output pixel maps to.
#include <pf/dialogs.h>
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
  kParamDisplacement = 1,
  kParamAmount = 2,
  kParamScale = 3,
  kParamOffset = 4,
  kParamComplexity = 5,
  kParamEvolution = 6,
  kParamAntialiasing = 7,
};

constexpr PF_Fixed Fix(A_long whole) { return whole * PF_Fixed_ONE; }

// Item 4 is the disabled separator.
constexpr const char* kDisplacementItems = "Turbulent|Bulge|Twist|(-|Turbulent HQ|Bulge HQ|Twist HQ";
static_assert(pf::PopupItemCount(kDisplacementItems) == 7);
constexpr const char* kAntialiasingItems = "Low|High";
// The long form of this title, "Antialiasing (Best Quality Only)...", has 36
// characters and does not fit a parameter name (31 and the terminating zero):
// copied whole it would run over the record's following fields. This shorter
// title says the same and keeps the popup's trailing "...".
constexpr const char* kAntialiasingName = "Antialiasing (Best Quality)...";

constexpr PF_ParamFlags kComplexityFlags = 0x20;

constexpr pf::ParamSpec kParams[] = {
    pf::PopupParam("Displacement...", kDisplacementItems, swirlshift::kTurbulent),
    pf::FixSliderParam("Amount", Fix(50), Fix(-10000), Fix(10000), 0, Fix(100), 1, PF_ValueDisplayFlag_NONE),
    pf::FixSliderParam("Scale", Fix(100), Fix(5), Fix(1000), Fix(10), Fix(500), 1, PF_ValueDisplayFlag_NONE),
    pf::PointParam("Offset Turbulence", Fix(50), Fix(50), false),
    pf::FixSliderParam("Complexity", Fix(1), Fix(1), Fix(10), Fix(1), Fix(5), 1, PF_ValueDisplayFlag_NONE,
                       kComplexityFlags),
    pf::AngleParam("Evolution", 0),
    pf::PopupParam(kAntialiasingName, kAntialiasingItems, swirlshift::kLow),
};
static_assert(pf::ParamNamesFit(kParams));

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
  const double scale = params[kParamScale]->u.fd.value / 65536.0;
  const bool low_quality = in_data->quality == PF_Quality_LO;

  swirlshift::Frame frame{};
  frame.lattice = &g_lattice;
  frame.amplitude = swirlshift::Amplitude(amount / 65536.0, scale, in_data->downsample_x);
  frame.frequency = swirlshift::Frequency(scale, in_data->downsample_x, type);
  const noise::ComplexitySplit split =
      noise::SplitComplexity(params[kParamComplexity]->u.fd.value / 65536.0, in_data->quality);
  frame.octaves = split.octaves;
  frame.fraction = split.fraction;
  frame.offset_x = params[kParamOffset]->u.td.x_value / 65536.0;
  frame.offset_y = params[kParamOffset]->u.td.y_value / 65536.0;
  frame.antialiasing = low_quality ? swirlshift::kLow : params[kParamAntialiasing]->u.pd.value;
  frame.sampling.src = input;
  frame.effect_ref = in_data->effect_ref;
  frame.utils = in_data->utils;

  noise::BuildRenderLattice(g_lattice, params[kParamEvolution]->u.ad.value, in_data);

  // The separator (or a value outside the list) renders nothing.
  if (!swirlshift::FieldOf(type, frame.field, frame.hq)) return PF_Err_NONE;

  return in_data->utils->iterate(in_data, 0, output->height, input, nullptr, &frame, WarpPixel, output);
}

constexpr auto kHandlers = pf::OptionsHandlers(ParamsSetup, Render);

}  // namespace

OMBRIX_ENTRY(SwirlshiftMain);

PF_Err SwirlshiftMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                      PF_LayerDef* output, void* extra) {
  return pf::DispatchWithOptions(kHandlers, cmd, in_data, out_data, params, output, extra);
}
