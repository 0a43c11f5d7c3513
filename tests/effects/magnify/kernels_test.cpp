// The softer sampler's four-lane form against its plain form, byte for byte:
// odd sizes, padded rows, positions inside, across and beyond the border,
// whole and fractional.
#include "kernels.h"

#include "common/test_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

struct Layer {
  std::vector<uint8_t> bytes;
  PF_EffectWorld pf{};
  Layer(A_long w, A_long h, A_long pad) : bytes(size_t(4 * w + pad) * size_t(h), 0xA7) {
    pf.width = w;
    pf.height = h;
    pf.rowbytes = 4 * w + pad;
    pf.data = reinterpret_cast<PF_Pixel*>(bytes.data());
  }
  A_long width() const { return pf.width; }
  A_long height() const { return pf.height; }
  PF_Pixel& At(A_long x, A_long y) { return reinterpret_cast<PF_Pixel*>(bytes.data() + y * pf.rowbytes)[x]; }
};

TEST(MagnifyKernels, SofterSamplerLanesGiveThePlainBytes) {
  struct Case {
    A_long w, h, pad;
  };
  for (const Case& k : {Case{1, 1, 0}, Case{4, 4, 8}, Case{5, 7, 4}, Case{37, 23, 12}, Case{64, 3, 0}}) {
    SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << " pad " << k.pad);
    Layer layer(k.w, k.h, k.pad);
    testimage::RandomPixels(layer, uint32_t(k.w * 131 + k.h));
    testimage::Lcg rng{uint32_t(k.w + 7 * k.h)};
    for (int n = 0; n < 4000; ++n) {
      // From 4 pixels before the layer to 4 after, a sixteenth of the
      // positions on whole pixels.
      double x = ((rng.Next() >> 8) % uint32_t((k.w + 8) * 4096)) / 4096.0 - 4;
      double y = ((rng.Next() >> 8) % uint32_t((k.h + 8) * 4096)) / 4096.0 - 4;
      if (n % 4 == 0) x = std::floor(x);
      if (n % 4 == 1) y = std::floor(y);
      const PF_Pixel fast = magnify::SampleSofter(x, y, layer.pf);
      const PF_Pixel plain = magnify::SampleSofterReference(x, y, layer.pf);
      ASSERT_EQ(std::memcmp(&fast, &plain, 4), 0) << x << ", " << y;
    }
  }
}

}  // namespace
