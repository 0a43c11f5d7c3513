// Pixel addressing in a world: rows lie rowbytes apart from data, pixels
// 4 bytes apart within a row. A const world gives const pixels.
#pragma once

#include <pf/api.h>

#include <cstdint>

namespace pf {

inline const PF_Pixel* PixelRow(const PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<const PF_Pixel*>(reinterpret_cast<const uint8_t*>(w.data) + intptr_t(y) * w.rowbytes);
}

inline PF_Pixel* PixelRow(PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + intptr_t(y) * w.rowbytes);
}

inline const PF_Pixel& PixelAt(const PF_EffectWorld& w, A_long x, A_long y) { return PixelRow(w, y)[x]; }

inline PF_Pixel& PixelAt(PF_EffectWorld& w, A_long x, A_long y) { return PixelRow(w, y)[x]; }

}  // namespace pf
