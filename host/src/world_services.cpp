// The world services: copy, fill, new_world and dispose_world.
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"
#include "world_views.h"

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace ombrix {

PF_Err SvcCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
  return Serve(ref, ServiceId("copy"), [&](CallContext& ctx) -> PF_Err {
    if (!src || !dst || !src->data || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_Rect sr = src_r ? *src_r : WholeRect(*src);
    const PF_Rect dr = dst_r ? *dst_r : WholeRect(*dst);
    if (!RectInside(sr, *src) || !RectInside(dr, *dst)) return PF_Err_BAD_CALLBACK_PARAM;
    const A_long w = sr.right - sr.left, h = sr.bottom - sr.top;
    if (w == dr.right - dr.left && h == dr.bottom - dr.top) {
      for (A_long y = 0; y < h; ++y)
        std::memmove(PixelAt(*dst, dr.left, dr.top + y), PixelAt(*src, sr.left, sr.top + y), size_t(w) * 4);
      return PF_Err_NONE;
    }
    // Different sizes: the box reduction / enlargement between the two rects.
    ctx.host->failures().Allocating();
    PF_EffectWorld from = SubWorld(*src, sr);
    PF_EffectWorld to = SubWorld(*dst, dr);
    std::vector<PF_Pixel> scratch;
    if (src->data == dst->data) {
      // Same buffer: read from a private copy so the rects may overlap.
      scratch.resize(size_t(w) * size_t(h));
      for (A_long y = 0; y < h; ++y) std::memcpy(&scratch[size_t(y) * w], PixelAt(from, 0, y), size_t(w) * 4);
      from.data = scratch.data();
      from.rowbytes = w * 4;
    }
    if (w == 0 || h == 0) from.data = nullptr;
    if (to.width > 0 && to.height > 0) ScaledCopy(from, to);
    return PF_Err_NONE;
  });
}

PF_Err SvcFill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world) {
  return Serve(ref, ServiceId("fill"), [&](CallContext&) -> PF_Err {
    if (!world || !world->data) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
    PF_Rect r = dst_rect ? *dst_rect : WholeRect(*world);
    r.left = std::max<A_long>(r.left, 0);
    r.top = std::max<A_long>(r.top, 0);
    r.right = std::min(r.right, world->width);
    r.bottom = std::min(r.bottom, world->height);
    for (A_long y = r.top; y < r.bottom; ++y) {
      PF_Pixel* p = PixelAt(*world, 0, y);
      for (A_long x = r.left; x < r.right; ++x) p[x] = c;
    }
    return PF_Err_NONE;
  });
}

PF_Err SvcNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_WorldFlags, PF_EffectWorld* world) {
  return Serve(ref, ServiceId("new_world"), [&](CallContext& ctx) -> PF_Err {
    if (!world) return PF_Err_BAD_CALLBACK_PARAM;
    return ctx.host->memory().NewWorld(HostMemory::WorldKind::kMade, OwnerOf(&ctx), width, height,
                                       std::max<A_long>(ctx.host->options().pad_rows, 0), world);
  });
}

PF_Err SvcDisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world) {
  return Serve(ref, ServiceId("dispose_world"), [&](CallContext& ctx) -> PF_Err {
    if (!world || !world->data) return PF_Err_BAD_CALLBACK_PARAM;
    if (!ctx.host->memory().DisposeWorld(HostMemory::WorldKind::kMade, world->data)) return PF_Err_BAD_CALLBACK_PARAM;
    *world = PF_EffectWorld{};
    return PF_Err_NONE;
  });
}

}  // namespace ombrix
