// Frayline: roughens the edges of its layer. The layer is copied to the
// output, the host's smoothing routine softens the copy's edges over
// "Border" pixels, and every pixel of that soft zone gets a new alpha (and,
// for the colour types, a tint towards "Edge Color") from fractal noise.
#include <pf/dialogs.h>
#include <pf/fixed.h>
#include <pf/settings.h>
#include <pf/shell.h>
#include <pf/smooth.h>

#include <noise/fractal.h>
#include <noise/record.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Frayline", "obx Frayline", 11, 0, 0x21);
OMBRIX_OPTIONS(kSeedEvolution);

namespace {

enum {
  kParamInput = 0,
  kParamType,
  kParamBorder,
  kParamSharpness,
  kParamInfluence,
  kParamScale,
  kParamStretch,
  kParamOffset,
  kParamComplexity,
  kParamEvolution,
  kParamEdgeColor,
  kParamCount,
};

using pf::Fix;
constexpr PF_ParamFlags kFolded = PF_ParamFlag_COLLAPSE_TWIRLY;

constexpr const char* kTypeItems = "Roughen|Roughen Color|Cut|Spiky|Rusty|Rusty Color|Cerox|Cerox Color";
static_assert(pf::PopupItemCount(kTypeItems) == 8);

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamType, pf::PopupParam("Edge Type...", kTypeItems, frayline::kRoughen)},
    {kParamBorder, pf::FixSliderParam("Border", Fix(8), 0, Fix(500), 0, Fix(32), 2, PF_ValueDisplayFlag_NONE)},
    {kParamSharpness, pf::FixSliderParam("Edge Sharpness", Fix(1), 0, Fix(10), 0, Fix(2), 2, PF_ValueDisplayFlag_NONE)},
    {kParamInfluence,
     pf::FixSliderParam("Fractal Influence", Fix(1), 0, Fix(1), 0, Fix(1), 2, PF_ValueDisplayFlag_NONE, kFolded)},
    {kParamScale,
     pf::FixSliderParam("Scale", Fix(100), Fix(10), Fix(1000), Fix(20), Fix(300), 1, PF_ValueDisplayFlag_NONE)},
    {kParamStretch, pf::FixSliderParam("Stretch Width or Height", 0, Fix(-100), Fix(100), Fix(-5), Fix(5), 2,
                                       PF_ValueDisplayFlag_NONE, kFolded)},
    {kParamOffset, pf::PointParam("Offset Turbulence", 0, 0, false, kFolded)},
    {kParamComplexity, pf::SliderParam("Complexity", 2, 1, 10, 1, 6, kFolded)},
    {kParamEvolution, pf::AngleParam("Evolution", 0)},
    {kParamEdgeColor, pf::ColorParam("Edge Color", PF_Pixel{255, 153, 51, 0})},
});

// The lattice of the current render: rebuilt at its start, only read by the
// pixel callbacks while the host iterates.
noise::NoiseLattice g_lattice;

struct FrameBlock {
  frayline::Block block;
  int32_t type;
};

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kClearedEach);
}

PF_Err FrayPixel(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  const FrameBlock& f = *static_cast<const FrameBlock*>(refcon);
  frayline::FrayPixel(f.block, f.type, x, y, *in, *out);
  return PF_Err_NONE;
}

PF_Err Render(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  if (PF_Err err = in_data->utils->copy(in_data->effect_ref, input, output, nullptr, nullptr)) return err;

  const int32_t type = params[kParamType]->u.pd.value;
  const double border = pf::FixSliderValue(params[kParamBorder]);
  const double sharpness = pf::FixSliderValue(params[kParamSharpness]);
  const double influence = pf::FixSliderValue(params[kParamInfluence]);
  const double scale = pf::FixSliderValue(params[kParamScale]);
  const double stretch = pf::FixSliderValue(params[kParamStretch]);
  const double ox = pf::FixedToDouble(params[kParamOffset]->u.td.x_value);
  const double oy = pf::FixedToDouble(params[kParamOffset]->u.td.y_value);

  FrameBlock frame{};
  frayline::Block& b = frame.block;
  frame.type = type;
  const double radius = frayline::BorderRadius(border, type, in_data->downsample_x);
  b.C = frayline::Sharpness(scale, sharpness, type);
  b.k0 = 0.5 - 0.5 / b.C;
  // The buffer's size, so the pattern keeps its size relative to the layer
  // at reduced resolution.
  frayline::SetGeometry(b, output->width, output->height, scale, stretch, ox, oy);
  b.octaves = params[kParamComplexity]->u.sd.value;
  if (frayline::IsRusty(type)) b.octaves = b.octaves + 1;
  b.influence = influence;
  b.edge = params[kParamEdgeColor]->u.cd.value;
  b.lattice = &g_lattice;

  noise::BuildRenderLattice(g_lattice, params[kParamEvolution]->u.ad.value, in_data);

  if (radius > 0.0) {
    // The routine reads none of the block's words; the middle one is left unset.
    A_long smooth_block[3];
    smooth_block[0] = 0;
    smooth_block[2] = A_long(uint32_t(output->width) * uint32_t(output->height) * 3u);
    if (PF_Err err = pf::SmoothWorld(in_data, out_data, radius, smooth_block, frayline::SmoothMode(type), output))
      return err;
  }
  return in_data->utils->iterate(in_data, 0, output->height, input, nullptr, &frame, FrayPixel, output);
}

constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);

}  // namespace

OMBRIX_MAIN(FraylineMain, kCommands);
