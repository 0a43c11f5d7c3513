// Grid: antialiased lines through an anchor, repeating every cell width and
// height, drawn in a solid colour or cut out of the layer itself.
#include <pf/fixed.h>
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
  kParamCount,
};

using pf::Fix;

constexpr auto kParams = pf::ParamTable<kParamCount>({
    {kParamAnchor, pf::PointParam("Anchor", 0, 0, false)},
    {kParamGridsizeFrom,
     pf::PopupParam("Gridsize From...", "Corner Point|Width Slider|Width & Height Sliders", grid::kCornerPoint)},
    {kParamCorner, pf::PointParam("Corner", Fix(10), Fix(10), false)},
    {kParamWidth,
     pf::FixSliderParam("Width", Fix(32), Fix(1), Fix(4000), Fix(8), Fix(200), 1, PF_ValueDisplayFlag_NONE)},
    {kParamHeight,
     pf::FixSliderParam("Height", Fix(24), Fix(1), Fix(4000), Fix(8), Fix(200), 1, PF_ValueDisplayFlag_NONE)},
    {kParamBorder, pf::FixSliderParam("Border", Fix(5), 0, Fix(2000), 0, Fix(100), 1, PF_ValueDisplayFlag_NONE)},
    {kParamFeatherWidth, pf::FixSliderParam("Feather Width", 0, 0, Fix(400), 0, Fix(20), 1, PF_ValueDisplayFlag_NONE,
                                            PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamFeatherHeight, pf::FixSliderParam("Feather Height", 0, 0, Fix(400), 0, Fix(20), 1, PF_ValueDisplayFlag_NONE,
                                             PF_ParamFlag_COLLAPSE_TWIRLY)},
    {kParamUseSolid, pf::CheckboxParam(" ", "Use Solid Color", true)},
    {kParamSolidColour, pf::ColorParam("Solid Color", PF_Pixel{255, 255, 255, 255})},
});

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

PF_Err Render(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  PF_EffectWorld* input = &params[kParamInput]->u.ld;
  grid::Settings s;
  s.border = pf::FixSliderValue(params[kParamBorder]);
  s.gridsize_from = params[kParamGridsizeFrom]->u.pd.value;
  s.anchor_x = pf::FixedToDouble(params[kParamAnchor]->u.td.x_value);
  s.anchor_y = pf::FixedToDouble(params[kParamAnchor]->u.td.y_value);
  s.corner_x = pf::FixedToDouble(params[kParamCorner]->u.td.x_value);
  s.corner_y = pf::FixedToDouble(params[kParamCorner]->u.td.y_value);
  s.width = pf::FixSliderValue(params[kParamWidth]);
  s.height = pf::FixSliderValue(params[kParamHeight]);
  s.feather_w = pf::FixSliderValue(params[kParamFeatherWidth]);
  s.feather_h = pf::FixSliderValue(params[kParamFeatherHeight]);
  s.dsx = pf::Ratio(in_data->downsample_x);
  s.dsy = pf::Ratio(in_data->downsample_y);

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
  if (solid)
    pixel = frame.feathered ? SolidFeathered : SolidSharp;
  else
    pixel = frame.feathered ? LayerFeathered : LayerSharp;
  // The solid callbacks never read their source pixel; the input is passed
  // all the same because the host's iterate wants a source world.
  return utils->iterate(in_data, 0, input->height, input, nullptr, &frame.block, pixel, output);
}

constexpr pf::Commands kCommands{
    .about = pf::About,
    .global_setup = pf::GlobalSetup,
    .params_setup = ParamsSetup,
    .render = Render,
};

}  // namespace

OMBRIX_MAIN(GridMain, kCommands);
