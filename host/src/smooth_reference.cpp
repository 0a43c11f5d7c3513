// The smoothing routine computed the plain way: six weighted-box passes in
// exact integer values, one lane at a time. SmoothWorld (smooth.cpp) computes
// the same numbers faster; this one is kept for the tests that compare them.
//
// The passes run on one plane of 16-bit values (the channels of a pixel
// side by side). Rows are smoothed along x in bands of rows, then columns
// along y in strips of columns; each band or strip is one task. Window sums
// are whole numbers; the division by the box sum is done in 32-bit integers
// with a float estimate of the quotient while the sums allow it (radii up to
// about 127), else in doubles, both exact (see Divide32 and DivideWide).
#include "smooth_internal.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace ombrix {

namespace smoothing {

Pass PassFor(const SmoothKernel& kernel, bool clamp) {
  const double D = 256.0 * (2.0 * kernel.k + 1) + 2.0 * kernel.a;
  Pass p{kernel.k, double(kernel.a), D / 2, 1.0 / D, clamp, D * 65025.5 < 2147483647.0, 0, 0, 0, 0.0f};
  if (p.fits32) {
    p.a32 = int32_t(kernel.a);
    p.d32 = int32_t(D);
    p.half32 = p.d32 / 2;
    p.inv32 = 1.0f / float(D);
  }
  return p;
}

namespace {

// One pass along a sequence of n rows of `lanes` values each (row i at
// in + i * in_stride, written to out + i * out_stride; in and out do not
// overlap). acc holds `lanes` window sums, zeros `lanes` zero values.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
// Wider vectors where the processor has them; the same operations in the same
// order, so the same results.
__attribute__((target_clones("avx2", "default")))
#endif
void BoxPass(const uint16_t* in, size_t in_stride, uint16_t* out, size_t out_stride, A_long n, A_long lanes,
             const Pass& p, uint32_t* acc, const uint16_t* zeros) {
  const A_long k = p.k;
  auto row = [&](A_long i) { return PassRow(in, in_stride, n, i, p, zeros); };
  StartWindow(in, in_stride, n, lanes, p, acc);
  for (A_long y = 0; y < n; ++y) {
    const uint16_t* __restrict lo = row(y - k - 1);
    const uint16_t* __restrict hi = row(y + k + 1);
    const uint16_t* __restrict leaving = row(y - k);
    uint16_t* __restrict o = out + size_t(y) * out_stride;
    uint32_t* __restrict sums = acc;
    for (A_long j = 0; j < lanes; ++j) {
      o[j] = p.fits32 ? Divide32(sums[j], lo[j], hi[j], p) : DivideWide(sums[j], lo[j], hi[j], p);
      sums[j] += uint32_t(hi[j]) - uint32_t(leaving[j]);
    }
  }
}

}  // namespace

// Mode 111's pixels of one row from their smoothed values (v: W groups of
// A, C_red, C_green, C_blue), the same numbers as Store. C <= A everywhere
// (the passes keep the order of the premultiplied inputs), so a quotient is
// below 256; the float estimate of floor((510 C + A) / 2A) (numerator below
// 2^26) is within 2^-12 of it, so its truncation is right or one off, and
// the remainder, exact in integers, puts it right.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void StoreColorAlphaRow(const uint16_t* __restrict v, uint8_t* __restrict px, A_long width) {
  // Written without branches so that it runs as vectors.
  for (A_long x = 0; x < width; ++x) {
    const int32_t A = v[4 * x];
    const int32_t den = 2 * A;
    const int32_t keep = -int32_t(A != 0);  // all ones where A > 0
    const float inv = 1.0f / float(den + int32_t(A == 0));
    px[4 * x] = uint8_t((uint32_t(den) + 255) / 510);
    int32_t num = 510 * int32_t(v[4 * x + 1]) + A;
    int32_t q = int32_t(float(num) * inv);
    int32_t r = num - q * den;
    q += int32_t(r >= den) - int32_t(r < 0);
    px[4 * x + 1] = uint8_t(std::min(q, 255) & keep);
    num = 510 * int32_t(v[4 * x + 2]) + A;
    q = int32_t(float(num) * inv);
    r = num - q * den;
    q += int32_t(r >= den) - int32_t(r < 0);
    px[4 * x + 2] = uint8_t(std::min(q, 255) & keep);
    num = 510 * int32_t(v[4 * x + 3]) + A;
    q = int32_t(float(num) * inv);
    r = num - q * den;
    q += int32_t(r >= den) - int32_t(r < 0);
    px[4 * x + 3] = uint8_t(std::min(q, 255) & keep);
  }
}

void RunAll(const SmoothRunner& run, int count, const std::function<void(int)>& task) {
  if (run) {
    run(count, task);
  } else {
    for (int i = 0; i < count; ++i) task(i);
  }
}

}  // namespace smoothing

using namespace smoothing;

void SmoothWorldReference(PF_EffectWorld& world, double radius, A_long mode, const SmoothRunner& run) {
  const Run at = RunFor(world, radius, mode);
  if (!at.smooth) return;
  const A_long W = at.W, H = at.H, channels = at.channels;
  const size_t pitch = at.pitch;
  std::vector<uint16_t> plane(pitch * size_t(H));
  std::atomic<bool> out_of_memory{false};

  // Along x, in bands of rows, each band laid out x-major.
  RunAll(run, at.bands, [&](int band) {
    try {
      const A_long y0 = A_long(band) * at.band_rows;
      const A_long rows = std::min(at.band_rows, H - y0);
      const A_long lanes = rows * channels;
      const size_t band_size = size_t(W) * size_t(lanes);
      auto t0 = Scratch<uint16_t>(band_size), t1 = Scratch<uint16_t>(band_size);
      auto acc = Scratch<uint32_t>(size_t(lanes));
      std::vector<uint16_t> zeros(static_cast<size_t>(lanes));
      LoadBand(world, mode, y0, rows, t0.get());
      BoxPass(t0.get(), lanes, t1.get(), lanes, W, lanes, at.pass, acc.get(), zeros.data());
      BoxPass(t1.get(), lanes, t0.get(), lanes, W, lanes, at.pass, acc.get(), zeros.data());
      BoxPass(t0.get(), lanes, t1.get(), lanes, W, lanes, at.pass, acc.get(), zeros.data());
      BandToPlane(t1.get(), rows, channels, W, plane.data() + size_t(y0) * pitch, pitch);
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Along y, in strips of columns: the first pass reads the plane and the
  // last writes it back.
  RunAll(run, at.strips, [&](int strip) {
    try {
      const A_long x0 = A_long(strip) * at.strip_cols;
      const A_long lanes = std::min(at.strip_cols, W - x0) * channels;
      const size_t strip_size = size_t(lanes) * size_t(H);
      auto t0 = Scratch<uint16_t>(strip_size), t1 = Scratch<uint16_t>(strip_size);
      auto acc = Scratch<uint32_t>(size_t(lanes));
      std::vector<uint16_t> zeros(static_cast<size_t>(lanes));
      uint16_t* column = plane.data() + size_t(x0) * channels;
      BoxPass(column, pitch, t1.get(), lanes, H, lanes, at.pass, acc.get(), zeros.data());
      BoxPass(t1.get(), lanes, t0.get(), lanes, H, lanes, at.pass, acc.get(), zeros.data());
      BoxPass(t0.get(), lanes, column, pitch, H, lanes, at.pass, acc.get(), zeros.data());
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Back into the pixels; nothing is written before all scratch was had.
  RunAll(run, at.bands, [&](int band) {
    const A_long y1 = std::min(H, A_long(band + 1) * at.band_rows);
    for (A_long y = A_long(band) * at.band_rows; y < y1; ++y) {
      PF_Pixel* px = RowOf(world, y);
      const uint16_t* v = plane.data() + size_t(y) * pitch;
      if (mode == kSmoothColorAlpha) {
        StoreColorAlphaRow(v, reinterpret_cast<uint8_t*>(px), W);
      } else {
        for (A_long x = 0; x < W; ++x) Store(v + size_t(x) * channels, mode, px[x]);
      }
    }
  });
}

}  // namespace ombrix
