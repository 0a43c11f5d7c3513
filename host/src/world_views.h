// Addressing the pixels of a PF_EffectWorld, and views of its rects.
#pragma once

#include <pf/api.h>

#include <cstddef>
#include <cstdint>

namespace ombrix {

inline PF_Pixel* PixelAt(const PF_EffectWorld& w, A_long x, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + size_t(y) * size_t(w.rowbytes) +
                                     size_t(x) * 4);
}

// The pixel bounds of a world, as a rect.
inline PF_Rect WholeRect(const PF_EffectWorld& w) { return PF_Rect{0, 0, w.width, w.height}; }

inline bool RectInside(const PF_Rect& r, const PF_EffectWorld& w) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= w.width &&
         r.bottom <= w.height;
}

// A view of the rect r of w (r inside w).
inline PF_EffectWorld SubWorld(const PF_EffectWorld& w, const PF_Rect& r) {
  PF_EffectWorld v = w;
  v.data = PixelAt(w, r.left, r.top);
  v.width = r.right - r.left;
  v.height = r.bottom - r.top;
  v.extent_hint = PF_Rect{0, 0, v.width, v.height};
  return v;
}

// The bytes of row padding of a world.
inline A_long PaddingOf(const PF_EffectWorld& w) { return w.rowbytes - 4 * w.width > 0 ? w.rowbytes - 4 * w.width : 0; }

}  // namespace ombrix
