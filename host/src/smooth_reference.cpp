// The smoothing routine computed the plain way: six weighted-box passes in
// exact integer values, one lane at a time. SmoothWorld (smooth.cpp) computes
// the same numbers faster; this one is kept for the tests that compare them.
//
// The passes run on one plane of 16-bit values (the channels of a pixel
// side by side). Rows are smoothed along x in bands of rows, then columns
// along y in strips of columns; each band or strip is one task. Window sums
// are whole numbers; the division by the box sum is done in 32-bit integers
// with a float estimate of the quotient while the sums allow it (radii up to
// about 127), else in doubles, both exact (see BoxPass and DivideRound).
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

// Rows along x are smoothed in bands: the band's channel values are laid
// out x-major ([x][row][channel]) so that the inner loop runs over
// independent lanes. Columns along y are smoothed in strips of columns
// straight from the plane ([y][x][channel]), whose rows are already lanes.
constexpr A_long kRowLanes = 32;  // a band's two buffers stay in a core's cache
constexpr A_long kLanes = 64;

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
  auto row = [&](A_long i) -> const uint16_t* {
    if (i < 0) return p.clamp ? in : zeros;
    if (i >= n) return p.clamp ? in + size_t(n - 1) * in_stride : zeros;
    return in + size_t(i) * in_stride;
  };
  // The window of the first output: rows -k..k. A window sum is below
  // 65025 x 32001 < 2^31 (k is at most 16000).
  std::fill(acc, acc + lanes, 0u);
  const A_long last_inside = std::min(k, n - 1);
  for (A_long i = 0; i <= last_inside; ++i) {
    const uint16_t* r = in + size_t(i) * in_stride;
    for (A_long j = 0; j < lanes; ++j) acc[j] += r[j];
  }
  if (p.clamp) {
    const uint32_t before = uint32_t(k), after = uint32_t(std::max<A_long>(0, k - (n - 1)));
    const uint16_t* first = in;
    const uint16_t* last = in + size_t(n - 1) * in_stride;
    for (A_long j = 0; j < lanes; ++j) acc[j] += before * first[j] + after * last[j];
  }
  if (p.fits32) {
    // N = 256 S + a (lo + hi) + D / 2 < 2^31. The float quotient is within
    // 0.02 of N / D (three roundings of 2^-24 on a quotient below 65026), so
    // its truncation is floor(N / D) or one off; the remainder, exact in
    // 32 bits, puts it right.
    const int32_t a = p.a32, half = p.half32, D = p.d32;
    const float inv = p.inv32;
    for (A_long y = 0; y < n; ++y) {
      const uint16_t* __restrict lo = row(y - k - 1);
      const uint16_t* __restrict hi = row(y + k + 1);
      const uint16_t* __restrict leaving = row(y - k);
      uint16_t* __restrict o = out + size_t(y) * out_stride;
      uint32_t* __restrict sums = acc;
      for (A_long j = 0; j < lanes; ++j) {
        const int32_t N = int32_t(sums[j] << 8) + a * (int32_t(lo[j]) + int32_t(hi[j])) + half;
        int32_t q = int32_t(float(N) * inv);
        const int32_t r = int32_t(uint32_t(N) - uint32_t(q) * uint32_t(D));
        q += int32_t(r >= D) - int32_t(r < 0);
        o[j] = uint16_t(q);
        sums[j] += uint32_t(hi[j]) - uint32_t(leaving[j]);
      }
    }
    return;
  }
  const double a = p.a, half = p.half, inv = p.inv;
  for (A_long y = 0; y < n; ++y) {
    const uint16_t* __restrict lo = row(y - k - 1);
    const uint16_t* __restrict hi = row(y + k + 1);
    const uint16_t* __restrict leaving = row(y - k);
    uint16_t* __restrict o = out + size_t(y) * out_stride;
    uint32_t* __restrict sums = acc;
    for (A_long j = 0; j < lanes; ++j) {
      o[j] = DivideRound(256.0 * double(sums[j]) + a * double(int32_t(lo[j]) + int32_t(hi[j])), half, inv);
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
  const SmoothKernel kernel = SmoothKernelFor(radius);
  const A_long W = world.width, H = world.height;
  if (kernel.k < 0 || W <= 0 || H <= 0 || !world.data) return;
  const A_long channels = ChannelsOf(mode);
  const Pass pass = PassFor(kernel, mode == kSmoothColor);

  // One plane of interleaved channel values: row y at y * pitch.
  const size_t pitch = size_t(W) * size_t(channels);
  std::vector<uint16_t> plane(pitch * size_t(H));
  std::atomic<bool> out_of_memory{false};

  // Along x, in bands of rows, each band laid out x-major.
  // (three channels: lanes kept a multiple of 8, the vector width)
  const A_long band_rows = channels == 3 ? 16 : kRowLanes / channels;
  const int bands = int((H + band_rows - 1) / band_rows);
  RunAll(run, bands, [&](int band) {
    try {
      const A_long y0 = A_long(band) * band_rows;
      const A_long rows = std::min(band_rows, H - y0);
      const A_long lanes = rows * channels;
      const size_t band_size = size_t(W) * size_t(lanes);
      auto t0 = Scratch<uint16_t>(band_size), t1 = Scratch<uint16_t>(band_size);
      auto acc = Scratch<uint32_t>(size_t(lanes));
      std::vector<uint16_t> zeros(static_cast<size_t>(lanes));
      for (A_long j = 0; j < rows; ++j) {
        const PF_Pixel* px = RowOf(world, y0 + j);
        uint16_t* t = t0.get() + size_t(j) * channels;
        for (A_long x = 0; x < W; ++x) Load(px[x], mode, t + size_t(x) * lanes);
      }
      BoxPass(t0.get(), lanes, t1.get(), lanes, W, lanes, pass, acc.get(), zeros.data());
      BoxPass(t1.get(), lanes, t0.get(), lanes, W, lanes, pass, acc.get(), zeros.data());
      BoxPass(t0.get(), lanes, t1.get(), lanes, W, lanes, pass, acc.get(), zeros.data());
      for (A_long j = 0; j < rows; ++j) {
        uint16_t* dst = plane.data() + size_t(y0 + j) * pitch;
        const uint16_t* src = t1.get() + size_t(j) * channels;
        if (channels == 4) {
          for (A_long x = 0; x < W; ++x) std::memcpy(dst + size_t(x) * 4, src + size_t(x) * lanes, 8);
        } else {
          for (A_long x = 0; x < W; ++x)
            for (A_long c = 0; c < channels; ++c) dst[size_t(x) * channels + c] = src[size_t(x) * lanes + c];
        }
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Along y, in strips of columns: the first pass reads the plane and the
  // last writes it back.
  const A_long strip_cols = channels == 3 ? 32 : kLanes / channels;
  const int strips = int((W + strip_cols - 1) / strip_cols);
  RunAll(run, strips, [&](int strip) {
    try {
      const A_long x0 = A_long(strip) * strip_cols;
      const A_long lanes = std::min(strip_cols, W - x0) * channels;
      const size_t strip_size = size_t(lanes) * size_t(H);
      auto t0 = Scratch<uint16_t>(strip_size), t1 = Scratch<uint16_t>(strip_size);
      auto acc = Scratch<uint32_t>(size_t(lanes));
      std::vector<uint16_t> zeros(static_cast<size_t>(lanes));
      uint16_t* column = plane.data() + size_t(x0) * channels;
      BoxPass(column, pitch, t1.get(), lanes, H, lanes, pass, acc.get(), zeros.data());
      BoxPass(t1.get(), lanes, t0.get(), lanes, H, lanes, pass, acc.get(), zeros.data());
      BoxPass(t0.get(), lanes, column, pitch, H, lanes, pass, acc.get(), zeros.data());
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Back into the pixels; nothing is written before all scratch was had.
  RunAll(run, bands, [&](int band) {
    const A_long y1 = std::min(H, A_long(band + 1) * band_rows);
    for (A_long y = A_long(band) * band_rows; y < y1; ++y) {
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
