// A world owned by a test, with optional row padding filled with a marker
// byte, so that reads or writes outside `width` show up in the results.
#pragma once

#include <pf/api.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "common/test_image.h"

inline bool operator==(const PF_Pixel& a, const PF_Pixel& b) {
  return a.alpha == b.alpha && a.red == b.red && a.green == b.green && a.blue == b.blue;
}
inline void PrintTo(const PF_Pixel& p, std::ostream* os) {
  *os << "{a " << int(p.alpha) << ", r " << int(p.red) << ", g " << int(p.green) << ", b " << int(p.blue) << "}";
}

namespace ombrix::pixtest {

inline constexpr uint8_t kPadByte = 0xA7;

struct TestWorld {
  std::vector<uint8_t> bytes;
  PF_EffectWorld pf{};

  TestWorld(int width, int height, int pad_bytes = 0) {
    pf.width = width;
    pf.height = height;
    pf.rowbytes = 4 * width + pad_bytes;
    bytes.assign(size_t(pf.rowbytes) * size_t(height), kPadByte);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) At(x, y) = PF_Pixel{0, 0, 0, 0};
    pf.data = reinterpret_cast<PF_Pixel*>(bytes.data());
  }
  PF_Pixel& At(int x, int y) {
    return *reinterpret_cast<PF_Pixel*>(bytes.data() + size_t(y) * pf.rowbytes + 4 * size_t(x));
  }
  const PF_Pixel& At(int x, int y) const {
    return *reinterpret_cast<const PF_Pixel*>(bytes.data() + size_t(y) * pf.rowbytes + 4 * size_t(x));
  }
  int width() const { return pf.width; }
  int height() const { return pf.height; }
  // Random pixels with many fully transparent (colour kept) and opaque ones.
  void Randomize(uint32_t seed) { testimage::RandomPixels(*this, seed); }
  bool PaddingIntact() const {
    for (int y = 0; y < pf.height; ++y)
      for (size_t b = 4 * size_t(pf.width); b < size_t(pf.rowbytes); ++b)
        if (bytes[size_t(y) * pf.rowbytes + b] != kPadByte) return false;
    return true;
  }
};

}  // namespace ombrix::pixtest
