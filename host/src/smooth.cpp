// The smoothing routine: six weighted-box passes in exact integer values.
//
// The passes run on planes of 16-bit values (one plane per channel). Rows
// are smoothed along x in bands of rows, then columns along y in strips of
// columns; each band or strip is one task, so the work spreads over the
// host's threads while every value is computed the same way whatever the
// split. Sums are whole numbers below 2^40 held in doubles (exact), and the
// division by the box sum is a multiplication by its reciprocal that is
// exact for these ranges (see DivideRound).
#include <ombrix/host/smooth.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

namespace ombrix {

SmoothKernel SmoothKernelFor(double radius) {
  if (!(radius > 0)) return {};
  const double r = std::min(radius, kSmoothMaxRadius);
  const double s = r * r / 4;
  double k = std::floor((std::sqrt(1 + 4 * s) - 1) / 2);
  while (k > 0 && k * (k + 1) > s) k -= 1;
  while ((k + 1) * (k + 2) <= s) k += 1;
  const double alpha = (2 * k + 1) * (s - k * (k + 1)) / (6 * (k + 1) * (k + 1) - 2 * s);
  return {A_long(k), A_long(std::floor(256 * alpha + 0.5))};
}

bool SmoothModeKnown(A_long mode) {
  return mode == kSmoothAlpha || mode == kSmoothColorAlpha || mode == kSmoothColor;
}

namespace {

// Rows along x are smoothed 64 at a time (the band is transposed so that the
// inner loop runs over 64 independent rows), columns along y 64 at a time.
constexpr A_long kLanes = 64;
constexpr A_long kRowLanes = 16;  // a band of 16 rows of 4 channels stays in cache

struct Pass {
  A_long k;
  double a;     // end weight
  double half;  // D / 2 (D is even)
  double inv;   // 1 / D
  bool clamp;   // edges clamped (else zero outside)
};

// floor(n / D + 1/2) for whole n + D/2 below 2^40 and D below 2^24: the
// product with the rounded reciprocal is within 2^-36 of the true quotient,
// whose fraction is 0 or at least 1/D > 2^-24, so adding 2^-30 before
// truncating lands in the right integer.
inline uint16_t DivideRound(double sum, double half, double inv) {
  return uint16_t(int32_t((sum + half) * inv + 0x1p-30));
}

// One pass along a sequence of n rows of `lanes` values each (row i at
// in + i * lanes). acc holds `lanes` window sums (below 65025 x 32001, so
// they fit 32 bits), zeros `lanes` zero values.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
// Wider vectors where the processor has them; the same operations in the same
// order, so the same results.
__attribute__((target_clones("avx2", "default")))
#endif
void BoxPass(const uint16_t* in, uint16_t* out, A_long n, A_long lanes, const Pass& p, int32_t* acc,
             const uint16_t* zeros) {
  const A_long k = p.k;
  auto row = [&](A_long i) -> const uint16_t* {
    if (i < 0) return p.clamp ? in : zeros;
    if (i >= n) return p.clamp ? in + size_t(n - 1) * lanes : zeros;
    return in + size_t(i) * lanes;
  };
  // The window of the first output: rows -k..k.
  std::fill(acc, acc + lanes, 0);
  const A_long last_inside = std::min(k, n - 1);
  for (A_long i = 0; i <= last_inside; ++i) {
    const uint16_t* r = in + size_t(i) * lanes;
    for (A_long j = 0; j < lanes; ++j) acc[j] += r[j];
  }
  if (p.clamp) {
    const int32_t before = k, after = std::max<A_long>(0, k - (n - 1));
    const uint16_t* first = in;
    const uint16_t* last = in + size_t(n - 1) * lanes;
    for (A_long j = 0; j < lanes; ++j) acc[j] += before * first[j] + after * last[j];
  }
  const double a = p.a, half = p.half, inv = p.inv;
  for (A_long y = 0; y < n; ++y) {
    const uint16_t* __restrict lo = row(y - k - 1);
    const uint16_t* __restrict hi = row(y + k + 1);
    const uint16_t* __restrict leaving = row(y - k);
    uint16_t* __restrict o = out + size_t(y) * lanes;
    int32_t* __restrict sums = acc;
    for (A_long j = 0; j < lanes; ++j) {
      o[j] = DivideRound(256.0 * double(sums[j]) + a * double(int32_t(lo[j]) + int32_t(hi[j])), half, inv);
      sums[j] += int32_t(hi[j]) - int32_t(leaving[j]);
    }
  }
}

inline PF_Pixel* RowOf(PF_EffectWorld& w, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + size_t(y) * size_t(w.rowbytes));
}

// The channel values of one pixel before the passes.
inline void Load(const PF_Pixel& px, A_long mode, uint16_t* v) {
  switch (mode) {
    case kSmoothAlpha:
      v[0] = uint16_t(255 * px.alpha);
      break;
    case kSmoothColorAlpha:
      v[0] = uint16_t(255 * px.alpha);
      v[1] = uint16_t(px.red * px.alpha);
      v[2] = uint16_t(px.green * px.alpha);
      v[3] = uint16_t(px.blue * px.alpha);
      break;
    default:
      v[0] = uint16_t(255 * px.red);
      v[1] = uint16_t(255 * px.green);
      v[2] = uint16_t(255 * px.blue);
      break;
  }
}

inline uint8_t Round255(uint32_t v) { return uint8_t((2 * v + 255) / 510); }

// The pixel after the passes from its smoothed values.
inline void Store(const uint16_t* v, A_long mode, PF_Pixel& px) {
  switch (mode) {
    case kSmoothAlpha:
      px.alpha = Round255(v[0]);
      break;
    case kSmoothColorAlpha: {
      const uint32_t A = v[0];
      px.alpha = Round255(A);
      const double inv2a = A ? 1.0 / (2.0 * A) : 0.0;
      uint8_t* colour[3] = {&px.red, &px.green, &px.blue};
      for (int c = 0; c < 3; ++c) {
        // round(255 C / A) = floor((510 C + A) / 2A): the numerator is below
        // 2^26, so the product with the rounded reciprocal is within 2^-40 of
        // the quotient, whose fraction is 0 or at least 1/2A > 2^-18.
        if (A == 0) {
          *colour[c] = 0;
        } else {
          const int32_t q = int32_t((510.0 * v[c + 1] + A) * inv2a + 0x1p-30);
          *colour[c] = uint8_t(std::min(q, 255));
        }
      }
      break;
    }
    default:
      px.red = Round255(v[0]);
      px.green = Round255(v[1]);
      px.blue = Round255(v[2]);
      px.alpha = 255;
      break;
  }
}

void RunAll(const SmoothRunner& run, int count, const std::function<void(int)>& task) {
  if (run) {
    run(count, task);
  } else {
    for (int i = 0; i < count; ++i) task(i);
  }
}

}  // namespace

void SmoothWorld(PF_EffectWorld& world, double radius, A_long mode, const SmoothRunner& run) {
  const SmoothKernel kernel = SmoothKernelFor(radius);
  const A_long W = world.width, H = world.height;
  if (kernel.k < 0 || W <= 0 || H <= 0 || !world.data) return;
  const A_long channels = mode == kSmoothAlpha ? 1 : mode == kSmoothColorAlpha ? 4 : 3;
  const double D = 256.0 * (2.0 * kernel.k + 1) + 2.0 * kernel.a;
  const Pass pass{kernel.k, double(kernel.a), D / 2, 1.0 / D, mode == kSmoothColor};

  const size_t plane_size = size_t(W) * size_t(H);
  std::vector<uint16_t> planes(plane_size * size_t(channels));
  std::atomic<bool> out_of_memory{false};

  // Along x, in bands of rows, each band transposed.
  const int bands = int((H + kRowLanes - 1) / kRowLanes);
  RunAll(run, bands, [&](int band) {
    try {
      const A_long y0 = A_long(band) * kRowLanes;
      const A_long lanes = std::min(kRowLanes, H - y0);
      const size_t band_size = size_t(W) * size_t(lanes);
      std::vector<uint16_t> t(band_size * size_t(channels)), t1(band_size), zeros(static_cast<size_t>(lanes));
      std::vector<int32_t> acc(static_cast<size_t>(lanes));
      uint16_t v[4];
      for (A_long j = 0; j < lanes; ++j) {
        const PF_Pixel* px = RowOf(world, y0 + j);
        for (A_long x = 0; x < W; ++x) {
          Load(px[x], mode, v);
          for (A_long c = 0; c < channels; ++c) t[size_t(c) * band_size + size_t(x) * lanes + j] = v[c];
        }
      }
      for (A_long c = 0; c < channels; ++c) {
        uint16_t* t0 = t.data() + size_t(c) * band_size;
        BoxPass(t0, t1.data(), W, lanes, pass, acc.data(), zeros.data());
        BoxPass(t1.data(), t0, W, lanes, pass, acc.data(), zeros.data());
        BoxPass(t0, t1.data(), W, lanes, pass, acc.data(), zeros.data());
        uint16_t* plane = planes.data() + size_t(c) * plane_size;
        for (A_long j = 0; j < lanes; ++j) {
          uint16_t* dst = plane + size_t(y0 + j) * size_t(W);
          for (A_long x = 0; x < W; ++x) dst[x] = t1[size_t(x) * lanes + j];
        }
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Along y, in strips of columns.
  const int strips = int((W + kLanes - 1) / kLanes);
  RunAll(run, strips, [&](int strip) {
    try {
      const A_long x0 = A_long(strip) * kLanes;
      const A_long sw = std::min(kLanes, W - x0);
      const size_t strip_size = size_t(sw) * size_t(H);
      std::vector<uint16_t> t0(strip_size), t1(strip_size), zeros(static_cast<size_t>(sw));
      std::vector<int32_t> acc(static_cast<size_t>(sw));
      for (A_long c = 0; c < channels; ++c) {
        uint16_t* plane = planes.data() + size_t(c) * plane_size;
        for (A_long y = 0; y < H; ++y)
          std::memcpy(&t0[size_t(y) * sw], plane + size_t(y) * W + x0, size_t(sw) * 2);
        BoxPass(t0.data(), t1.data(), H, sw, pass, acc.data(), zeros.data());
        BoxPass(t1.data(), t0.data(), H, sw, pass, acc.data(), zeros.data());
        BoxPass(t0.data(), t1.data(), H, sw, pass, acc.data(), zeros.data());
        for (A_long y = 0; y < H; ++y)
          std::memcpy(plane + size_t(y) * W + x0, &t1[size_t(y) * sw], size_t(sw) * 2);
      }
    } catch (const std::bad_alloc&) {
      out_of_memory = true;
    }
  });
  if (out_of_memory) throw std::bad_alloc();

  // Back into the pixels; nothing is written before all scratch was had.
  RunAll(run, bands, [&](int band) {
    uint16_t v[4];
    const A_long y1 = std::min(H, A_long(band + 1) * kRowLanes);
    for (A_long y = A_long(band) * kRowLanes; y < y1; ++y) {
      PF_Pixel* px = RowOf(world, y);
      for (A_long x = 0; x < W; ++x) {
        const size_t at = size_t(y) * W + x;
        for (A_long c = 0; c < channels; ++c) v[c] = planes[size_t(c) * plane_size + at];
        Store(v, mode, px[x]);
      }
    }
  });
}

}  // namespace ombrix
