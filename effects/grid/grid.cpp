// Grid: antialiased lines through an anchor, repeating every cell width and
// height, drawn in a solid colour or cut out of the layer itself.
#include <pf/shell.h>

#include "kernels.h"

OMBRIX_PLUGIN("OB Grid", "obx Grid", 11, 0, 0);

namespace {

enum {
  kParamInput = 0,
  kParamAnchor,
  kParamGridsizeFrom,
  kParamCorner,
  kParamWidth,
  kParamHeight,
  kParamBorder,
  kParamFeatherWidth,
  kParamFeatherHeight,
  kParamUseSolid,
  kParamSolidColour,
};

constexpr PF_Fixed Fix(A_long whole) { return whole * PF_Fixed_ONE; }

constexpr pf::ParamSpec kParams[] = {
    pf::PointParam("Anchor", 0, 0, false),
    pf::PopupParam("Gridsize From...", "Corner Point|Width Slider|Width & Height Sliders",
                   grid::kCornerPoint),
    pf::PointParam("Corner", Fix(10), Fix(10), false),
    pf::FixSliderParam("Width", Fix(32), Fix(1), Fix(4000), Fix(8), Fix(200), 1, PF_ValueDisplayFlag_NONE),
    pf::FixSliderParam("Height", Fix(24), Fix(1), Fix(4000), Fix(8), Fix(200), 1, PF_ValueDisplayFlag_NONE),
    pf::FixSliderParam("Border", Fix(5), 0, Fix(2000), 0, Fix(100), 1, PF_ValueDisplayFlag_NONE),
    pf::FixSliderParam("Feather Width", 0, 0, Fix(400), 0, Fix(20), 1, PF_ValueDisplayFlag_NONE,
                       PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::FixSliderParam("Feather Height", 0, 0, Fix(400), 0, Fix(20), 1, PF_ValueDisplayFlag_NONE,
                       PF_ParamFlag_COLLAPSE_TWIRLY),
    pf::CheckboxParam(" ", "Use Solid Color", true),
    pf::ColorParam("Solid Color", PF_Pixel{255, 255, 255, 255}),
};
static_assert(pf::ParamNamesFit(kParams));

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  return pf::RegisterParams(in_data, out_data, kParams, pf::ParamRecord::kReused);
}

PF_Err SolidFeathered(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  grid::SolidPixel(*static_cast<const grid::Block*>(refcon), true, x, y, *out);
  return PF_Err_NONE;
}

PF_Err SolidSharp(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* out) {
  grid::SolidPixel(*static_cast<const grid::Block*>(refcon), false, x, y, *out);
  return PF_Err_NONE;
}

PF_Err LayerFeathered(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  grid::LayerPixel(*static_cast<const grid::Block*>(refcon), true, x, y, *in, *out);
  return PF_Err_NONE;
}

PF_Err LayerSharp(void* refcon, A_long x, A_long y, PF_Pixel* in, PF_Pixel* out) {
  grid::LayerPixel(*static_cast<const grid::Block*>(refcon), false, x, y, *in, *out);
  return PF_Err_NONE;
}

double Ratio(const PF_RationalScale& r) { return double(r.num) / double(r.den); }
double Number(const PF_ParamDef* p) { return p->u.fd.value / 65536.0; }

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  grid::Settings s;
  s.border = Number(params[kParamBorder]);
  s.gridsize_from = params[kParamGridsizeFrom]->u.pd.value;
  s.anchor_x = params[kParamAnchor]->u.td.x_value / 65536.0;
  s.anchor_y = params[kParamAnchor]->u.td.y_value / 65536.0;
  s.corner_x = params[kParamCorner]->u.td.x_value / 65536.0;
  s.corner_y = params[kParamCorner]->u.td.y_value / 65536.0;
  s.width = Number(params[kParamWidth]);
  s.height = Number(params[kParamHeight]);
  s.feather_w = Number(params[kParamFeatherWidth]);
  s.feather_h = Number(params[kParamFeatherHeight]);
  s.dsx = Ratio(in_data->downsample_x);
  s.dsy = Ratio(in_data->downsample_y);

  grid::Frame frame = grid::SetUp(s);
  PF_UtilCallbacks* utils = in_data->utils;
  if (frame.plan == grid::Plan::kClear) return utils->fill(in_data->effect_ref, nullptr, nullptr, output);

  const bool solid = params[kParamUseSolid]->u.bd.value != 0;
  frame.block.colour = params[kParamSolidColour]->u.cd.value;
  frame.block.sqrt = utils->ansi.sqrt;
  if (frame.plan == grid::Plan::kCovered) {
    if (solid) return utils->fill(in_data->effect_ref, &frame.block.colour, nullptr, output);
    return utils->copy(in_data->effect_ref, input, output, nullptr, nullptr);
  }

  PF_IteratePixel8Func pixel;
  if (solid) pixel = frame.feathered ? SolidFeathered : SolidSharp;
  else pixel = frame.feathered ? LayerFeathered : LayerSharp;
  // The solid callbacks never read their source pixel; the input is passed
  // all the same because the host's iterate wants a source world.
  return utils->iterate(in_data, 0, input->height, input, nullptr, &frame.block, pixel, output);
}

// Commands 0..11 to handler slots: 0 about, 1 global setup, 2 parameters,
// 3 render, 4 nothing.
constexpr uint8_t kSlots[pf::kDispatchedCommands] = {0, 1, 4, 4, 2, 4, 4, 4, 4, 4, 4, 3};
constexpr pf::Handler kHandlers[] = {pf::About, pf::GlobalSetup, ParamsSetup, Render, pf::NoCommand};

}  // namespace

OMBRIX_ENTRY(GridMain);

PF_Err GridMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                PF_LayerDef* output, void* extra) {
  return pf::DispatchBySlot(kSlots, kHandlers, cmd, in_data, out_data, params, output, extra);
}
