// Shared pieces of the services tests: a host with the services probe
// loaded, test images, and the box reduction computed independently from
// its definition (each destination pixel averages the source area its
// footprint covers, premultiplied, with fractional coverage).
#pragma once

#include <gtest/gtest.h>
#include <ombrix/host/host.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "common/test_image.h"
#include "host/services/services_probe.h"

namespace ombrix::svctest {

inline bool Same(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline std::string Text(const PF_Pixel& p) {
  return "{" + std::to_string(p.alpha) + "," + std::to_string(p.red) + "," + std::to_string(p.green) + "," +
         std::to_string(p.blue) + "}";
}

inline ParamValue Val(A_long v) { return ParamValue{v, 0, 0, {}}; }

// Random pixels, a quarter of them transparent (colour kept) and a quarter opaque.
inline void Randomize(World& w, uint32_t seed) { testimage::RandomPixels(w, seed); }

// round(n / d), halves up.
inline uint8_t RoundRatio(unsigned __int128 n, unsigned __int128 d) {
  return uint8_t(n / d + (2 * (n % d) >= d ? 1 : 0));
}

// Pixel (dx, dy) of `src` reduced to dw x dh. In units where the source
// spans dw * sw across, the destination pixel covers [dx * sw, (dx+1) * sw)
// and source pixel sx covers [sx * dw, (sx+1) * dw); likewise vertically.
inline PF_Pixel RefBox(const World& src, A_long dw, A_long dh, A_long dx, A_long dy) {
  const int64_t sw = src.width(), sh = src.height();
  auto overlap = [](int64_t a0, int64_t a1, int64_t b0, int64_t b1) {
    return std::max<int64_t>(0, std::min(a1, b1) - std::max(a0, b0));
  };
  unsigned __int128 a = 0, c[3] = {0, 0, 0};
  for (int64_t sy = 0; sy < sh; ++sy)
    for (int64_t sx = 0; sx < sw; ++sx) {
      const int64_t area = overlap(dx * sw, (dx + 1) * sw, sx * dw, (sx + 1) * dw) *
                           overlap(dy * sh, (dy + 1) * sh, sy * dh, (sy + 1) * dh);
      const PF_Pixel& p = src.At(A_long(sx), A_long(sy));
      a += uint64_t(area) * p.alpha;
      c[0] += uint64_t(area) * p.alpha * p.red;
      c[1] += uint64_t(area) * p.alpha * p.green;
      c[2] += uint64_t(area) * p.alpha * p.blue;
    }
  if (a == 0) return PF_Pixel{0, 0, 0, 0};
  return PF_Pixel{RoundRatio(a, uint64_t(sw * sh)), RoundRatio(c[0], a), RoundRatio(c[1], a), RoundRatio(c[2], a)};
}

// ceil(full * n / d), written out.
inline A_long CeilScaled(A_long full, A_long n, A_long d) { return A_long((int64_t(full) * n + d - 1) / d); }

class ServicesProbe : public ::testing::Test {
 protected:
  ServicesProbe() : effect(host, ReadPluginFile(OMBRIX_SERVICES_PROBE)) {
    host.on_message = [](std::string_view) {};
  }
  Host host;
  Effect effect;
};

}  // namespace ombrix::svctest
