// The per-pixel services (sampling and colour conversion), the smoothing
// routine, get_callback_addr and get_platform_data.
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>
#include <ombrix/host/smooth.h>
#include <ombrix/platform/headless.h>

#include <functional>

namespace ombrix {

// The work of each per-pixel service, parameters checked. The pixel maths
// take no memory and throw nothing.
namespace {

PF_Err SubpixelInto(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) noexcept {
  if (!params || !params->src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
  *dst = SubpixelSample(*params->src, x, y);
  return PF_Err_NONE;
}

PF_Err AreaInto(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) noexcept {
  if (!params || !params->src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
  *dst = AreaSample(*params->src, x, y, params->x_radius, params->y_radius);
  return PF_Err_NONE;
}

PF_Err RgbToHlsInto(PF_ProgPtr, PF_Pixel* rgb, PF_HLS_Pixel hls) noexcept {
  if (!rgb || !hls) return PF_Err_BAD_CALLBACK_PARAM;
  RgbToHls(*rgb, hls);
  return PF_Err_NONE;
}

PF_Err HlsToRgbInto(PF_ProgPtr, PF_HLS_Pixel hls, PF_Pixel* rgb) noexcept {
  if (!rgb || !hls) return PF_Err_BAD_CALLBACK_PARAM;
  HlsToRgb(hls, *rgb);
  return PF_Err_NONE;
}

}  // namespace

// Inside an iterate band the quick way costs a thread-local load, two
// comparisons and an increment beside the work; the rest go through
// ServePixel, which counts exactly where a failure is armed.
PF_Err SvcSubpixelSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) {
  return ServePixelWork<ServiceId("subpixel_sample"), SubpixelInto>(ref, x, y, params, dst);
}

PF_Err SvcAreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) {
  return ServePixelWork<ServiceId("area_sample"), AreaInto>(ref, x, y, params, dst);
}

PF_Err SvcRgbToHls(PF_ProgPtr ref, PF_Pixel* rgb, PF_HLS_Pixel hls) {
  return ServePixelWork<ServiceId("RGBtoHLS"), RgbToHlsInto>(ref, rgb, hls);
}

PF_Err SvcHlsToRgb(PF_ProgPtr ref, PF_HLS_Pixel hls, PF_Pixel* rgb) {
  return ServePixelWork<ServiceId("HLStoRGB"), HlsToRgbInto>(ref, hls, rgb);
}

namespace {

// Routine -2 of get_callback_addr. The block words are not used.
PF_Err SvcSmooth(PF_InData* in_data, PF_OutData*, PF_FpLong radius, A_long*, A_long mode, PF_EffectWorld* world) {
  const PF_ProgPtr ref = in_data ? in_data->effect_ref : nullptr;
  return Serve(ref, ServiceId("smooth"), [&](CallContext& ctx) -> PF_Err {
    if (!world || !world->data || world->width < 0 || world->height < 0 || world->rowbytes < world->width * 4)
      return PF_Err_BAD_CALLBACK_PARAM;
    if (!SmoothModeKnown(mode)) return PF_Err_BAD_CALLBACK_PARAM;
    Host& host = *ctx.host;
    host.failures().Allocating();
    SmoothWorld(*world, radius, mode,
                [&host](int count, const std::function<void(int)>& task) { host.pool().ForEach(count, task); });
    return PF_Err_NONE;
  });
}

}  // namespace

PF_Err SvcGetCallbackAddr(PF_ProgPtr ref, PF_Quality, A_long, A_long which, void** fn_ptr) {
  return Serve(ref, ServiceId("get_callback_addr"), [&](CallContext&) -> PF_Err {
    if (!fn_ptr) return PF_Err_BAD_CALLBACK_PARAM;
    if (which == PF_Callback_SMOOTH) {
      PF_SmoothFunc fn = SvcSmooth;
      *fn_ptr = reinterpret_cast<void*>(fn);
      return PF_Err_NONE;
    }
    *fn_ptr = nullptr;
    return PF_Err_BAD_CALLBACK_PARAM;  // no other routine is offered
  });
}

PF_Err SvcGetPlatformData(PF_ProgPtr ref, A_long which, void* data) {
  return Serve(ref, ServiceId("get_platform_data"), [&](CallContext&) -> PF_Err {
    if (!data) return PF_Err_BAD_CALLBACK_PARAM;
    if (which == PF_PlatData_MAIN_WND) {
      // The platform layer's main window: the parent of the plug-ins' dialogs.
      *static_cast<void**>(data) = ombrix::platform::MainWindow();
      return PF_Err_NONE;
    }
    return PF_Err_BAD_CALLBACK_PARAM;
  });
}

}  // namespace ombrix
