// Whole rows through the host's iterate. The host calls a pixel function
// once per pixel; for effects whose per-pixel work is small, that call and
// its argument shuffling are a good share of the time. IterateRows asks
// iterate for the one-pixel-wide first column instead, so the pixel
// function runs once per row (on the host's threads, in its bands, with
// its progress and abort checks) and hands the whole row to a row
// function. Output bytes are those of the per-pixel walk when the row
// function applies the same per-pixel work left to right.
#pragma once

#include <pf/api.h>

namespace pf {

// `width` pixels of row y: in[0..width) to out[0..width).
using RowFunc = PF_Err (*)(void* refcon, A_long y, A_long width, PF_Pixel* in, PF_Pixel* out);

struct RowJob {
  RowFunc fn;
  void* refcon;
  A_long width;
};

inline PF_Err RowPixel(void* job, A_long, A_long y, PF_Pixel* in, PF_Pixel* out) {
  const RowJob& j = *static_cast<const RowJob*>(job);
  return j.fn(j.refcon, y, j.width, in, out);
}

// fn over every row of dst, src giving each row's input pixels. A source
// smaller than dst is refused as iterate refuses it for the whole frame:
// the row function would otherwise read past the source's rows.
inline PF_Err IterateRows(PF_InData* in_data, PF_EffectWorld* src, PF_EffectWorld* dst, void* refcon, RowFunc fn) {
  if (src == nullptr || dst == nullptr) return PF_Err_BAD_CALLBACK_PARAM;
  if (dst->width > 0 && dst->height > 0 && (src->width < dst->width || src->height < dst->height))
    return PF_Err_BAD_CALLBACK_PARAM;
  RowJob job{fn, refcon, dst->width};
  const PF_Rect column{0, 0, dst->width > 0 ? 1 : 0, dst->height};
  return in_data->utils->iterate(in_data, 0, dst->height, src, &column, &job, RowPixel, dst);
}

}  // namespace pf
