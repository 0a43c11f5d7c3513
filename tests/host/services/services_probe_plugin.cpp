// A small plug-in that reads its input through the host's pixel services
// and checks layers out, the way the sampling, colour and layer effects do.
// Its Mode parameter picks what RENDER does; what it saw of a layer comes
// back as its message ("WxH" or "none").
#include <ombrix/host/pixel_ops.h>
#include <pf/api.h>

#include <array>
#include <cstring>

#include "services_probe.h"

#define PROBE_NAME "OB Services Probe"
#define PROBE_MATCH "obx Services Probe"
#define PROBE_CATEGORY "Ombrix Tests"
#define PROBE_FLATTEN 0
#define PROBE_SHORT "servicesprobe"

namespace {

#include "host/core/probe_pipl.h"

using namespace svcprobe;

PF_Err ParamsSetup(PF_InData* in, PF_OutData* out) {
  PF_ParamDef def;
  PF_Err err = PF_Err_NONE;
  auto add = [&]() { return in->inter.add_param(in->effect_ref, -1, &def); };
  auto fixed = [&](const char* name) {
    std::memset(&def, 0, sizeof def);
    def.param_type = PF_Param_FIX_SLIDER;
    in->utils->ansi.strcpy(def.name, name);
    def.u.fd.valid_min = def.u.fd.slider_min = -0x7FFF0000;
    def.u.fd.valid_max = def.u.fd.slider_max = 0x7FFF0000;
    return add();
  };
  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_SLIDER;
  in->utils->ansi.strcpy(def.name, "Mode");
  def.u.sd.valid_max = def.u.sd.slider_max = kModeCount - 1;
  if ((err = add())) return err;
  if ((err = fixed("Shift X")) || (err = fixed("Shift Y")) || (err = fixed("Radius X")) || (err = fixed("Radius Y")))
    return err;
  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_SLIDER;
  in->utils->ansi.strcpy(def.name, "Offset");
  def.u.sd.valid_min = def.u.sd.slider_min = -100000;
  def.u.sd.valid_max = def.u.sd.slider_max = 100000;
  if ((err = add())) return err;
  std::memset(&def, 0, sizeof def);
  def.param_type = PF_Param_LAYER;
  in->utils->ansi.strcpy(def.name, "Other");
  def.u.ld.dephault = PF_LayerDefault_NONE;
  if ((err = add())) return err;
  out->num_params = kParamCount;
  return PF_Err_NONE;
}

struct Block {
  PF_InData* in;
  PF_SampPB pb;
  PF_Fixed shift_x, shift_y;
  int mode;
};

PF_Err Sample(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* dst) {
  const Block* b = static_cast<const Block*>(refcon);
  const PF_Fixed sx = x * 0x10000 + b->shift_x, sy = y * 0x10000 + b->shift_y;
  PF_UtilCallbacks* u = b->in->utils;
  return b->mode == kSubpixel ? u->subpixel_sample(b->in->effect_ref, sx, sy, &b->pb, dst)
                              : u->area_sample(b->in->effect_ref, sx, sy, &b->pb, dst);
}

PF_Err SampleInPlugin(void* refcon, A_long x, A_long y, PF_Pixel*, PF_Pixel* dst) {
  const Block* b = static_cast<const Block*>(refcon);
  const PF_Fixed sx = x * 0x10000 + b->shift_x, sy = y * 0x10000 + b->shift_y;
  *dst = b->mode == kSubpixelInPlugin ? ombrix::SubpixelSample(*b->pb.src, sx, sy)
                                      : ombrix::AreaSample(*b->pb.src, sx, sy, b->pb.x_radius, b->pb.y_radius);
  return PF_Err_NONE;
}

PF_Err ShiftHueInPlugin(void* refcon, A_long, A_long, PF_Pixel* src, PF_Pixel* dst) {
  const Block* b = static_cast<const Block*>(refcon);
  PF_HLS_Pixel hls;
  ombrix::RgbToHls(*src, hls);
  hls[0] += b->shift_x;
  *dst = *src;
  ombrix::HlsToRgb(hls, *dst);
  return PF_Err_NONE;
}

PF_Err ShiftHue(void* refcon, A_long, A_long, PF_Pixel* src, PF_Pixel* dst) {
  const Block* b = static_cast<const Block*>(refcon);
  PF_HLS_Pixel hls;
  if (PF_Err err = b->in->utils->colorCB.RGBtoHLS(b->in->effect_ref, src, hls)) return err;
  hls[0] += b->shift_x;
  *dst = *src;
  return b->in->utils->colorCB.HLStoRGB(b->in->effect_ref, hls, dst);
}

// Tells what the layer holds and copies it, unscaled, into the output's
// top-left corner.
PF_Err ShowLayer(PF_InData* in, PF_OutData* out, const PF_EffectWorld& layer, PF_LayerDef* output) {
  if (!layer.data) {
    in->utils->ansi.strcpy(out->return_msg, "none");
    return PF_Err_NONE;
  }
  in->utils->ansi.sprintf(out->return_msg, "%dx%d", int(layer.width), int(layer.height));
  PF_Rect r{0, 0, layer.width < output->width ? layer.width : output->width,
            layer.height < output->height ? layer.height : output->height};
  PF_EffectWorld src = layer;
  return in->utils->copy(in->effect_ref, &src, output, &r, &r);
}

PF_Err Checkout(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, int mode) {
  const PF_ParamIndex index = mode == kCheckoutSelf ? 0 : kOther;
  A_long time = in->current_time + params[kOffset]->u.sd.value * in->time_step;
  A_long step = in->time_step;
  A_u_long scale = in->time_scale;
  if (mode == kCheckoutFineScale) {
    // The same time in units three times finer.
    time *= 3;
    step *= 3;
    scale *= 3;
  }
  PF_ParamDef def;
  std::memset(&def, 0x5C, sizeof def);
  if (PF_Err err = in->inter.checkout_param(in->effect_ref, index, time, step, scale, &def)) return err;
  PF_Err err = ShowLayer(in, out, def.u.ld, output);
  if (mode == kCheckoutKeep) return err;
  const PF_Err checkin = in->inter.checkin_param(in->effect_ref, &def);
  if (!err && def.u.ld.data) return PF_Err_INTERNAL_STRUCT_DAMAGED;  // checkin must clear the pixels
  return err ? err : checkin;
}

PF_Err ScaledCopy(PF_InData* in, PF_EffectWorld* input, PF_LayerDef* output) {
  PF_Rect quarter{0, 0, output->width / 2, output->height / 2};
  return in->utils->copy(in->effect_ref, input, output, nullptr, &quarter);
}

PF_Err Smooth(PF_InData* in, PF_OutData* out, PF_EffectWorld* input, PF_Fixed radius, PF_LayerDef* output) {
  void* routine = nullptr;
  if (PF_Err err = in->utils->get_callback_addr(in->effect_ref, in->quality, 0, PF_Callback_SMOOTH, &routine))
    return err;
  if (PF_Err err = in->utils->copy(in->effect_ref, input, output, nullptr, nullptr)) return err;
  const PF_SmoothFunc smooth = reinterpret_cast<PF_SmoothFunc>(routine);
  return smooth(in, out, radius / 65536.0, nullptr, 111, output);
}

PF_Err Render(PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output) {
  const int mode = params[kMode]->u.sd.value;
  Block b{};
  b.in = in;
  b.mode = mode;
  b.pb.src = &params[0]->u.ld;
  b.pb.x_radius = params[kRadiusX]->u.fd.value;
  b.pb.y_radius = params[kRadiusY]->u.fd.value;
  b.shift_x = params[kShiftX]->u.fd.value;
  b.shift_y = params[kShiftY]->u.fd.value;
  switch (mode) {
    case kSubpixel:
    case kArea:
      return in->utils->iterate(in, 0, output->height, &params[0]->u.ld, nullptr, &b, Sample, output);
    case kHueShift:
      return in->utils->iterate(in, 0, output->height, &params[0]->u.ld, nullptr, &b, ShiftHue, output);
    case kSubpixelInPlugin:
    case kAreaInPlugin:
      return in->utils->iterate(in, 0, output->height, &params[0]->u.ld, nullptr, &b, SampleInPlugin, output);
    case kHueShiftInPlugin:
      return in->utils->iterate(in, 0, output->height, &params[0]->u.ld, nullptr, &b, ShiftHueInPlugin, output);
    case kCheckout:
    case kCheckoutSelf:
    case kCheckoutKeep:
    case kCheckoutFineScale:
      return Checkout(in, out, params, output, mode);
    case kRenderLayer:
      return ShowLayer(in, out, params[kOther]->u.ld, output);
    case kScaledCopy:
      return ScaledCopy(in, &params[0]->u.ld, output);
    case kSmooth:
      return Smooth(in, out, &params[0]->u.ld, b.pb.x_radius, output);
    default:
      return PF_Err_NONE;
  }
}

PF_Err Main(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void*) {
  switch (cmd) {
    case PF_Cmd_GLOBAL_SETUP:
      out->my_version = PF_VERSION(1, 0, 0, PF_Stage_RELEASE, 0);
      return PF_Err_NONE;
    case PF_Cmd_PARAMS_SETUP:
      return ParamsSetup(in, out);
    case PF_Cmd_RENDER:
      return Render(in, out, params, output);
    default:
      return PF_Err_NONE;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PF_Err EntryPoint(PF_Cmd cmd, PF_InData* in, PF_OutData* out,
                                                                    PF_ParamDef* params[], PF_LayerDef* output,
                                                                    void* extra) __asm__("main");
PF_Err EntryPoint(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
  return Main(cmd, in, out, params, output, extra);
}
