// The smoothing routine: six weighted-box passes in exact integer values,
// eight lanes at a time.
//
// The same numbers as SmoothWorldReference (smooth_reference.cpp), laid out
// the same way: rows are smoothed along x in bands of rows, transposed so
// that the rows of a band are side-by-side lanes, into one plane of 16-bit
// channel values; then columns along y in strips of columns, whose last pass
// goes straight back into the pixels. The passes run on vectors of eight
// lanes (GCC vector extensions: the same integer and float operations, in
// the same order and precision, as the scalar loop, so the same results).
//
// The work is split into a fixed number of tasks, each taking a run of
// bands or strips with scratch of its own, all taken before anything is
// written: a task allocates nothing, and a failed allocation leaves the
// world untouched.
#include "smooth_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
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

bool SmoothModeKnown(A_long mode) { return mode == kSmoothAlpha || mode == kSmoothColorAlpha || mode == kSmoothColor; }

namespace {

using namespace smoothing;

// The vector helpers are inlined into each target's clone of the passes, so
// no 32-byte vector crosses a call (GCC warns of the ABI of such calls).
#pragma GCC diagnostic ignored "-Wpsabi"

typedef int32_t V8i __attribute__((vector_size(32)));
typedef uint32_t V8u __attribute__((vector_size(32)));
typedef float V8f __attribute__((vector_size(32)));
typedef uint16_t V8s __attribute__((vector_size(16)));
typedef int32_t V4i __attribute__((vector_size(16)));
typedef double V4d __attribute__((vector_size(32)));

inline V8i Widen(const uint16_t* p) {
  V8s v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_convertvector(v, V8i);
}

inline void Narrow(uint16_t* p, V8i v) {
  const V8s s = __builtin_convertvector(v, V8s);
  std::memcpy(p, &s, sizeof s);
}

inline V8i LoadSums(const uint32_t* p) {
  V8i v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void StoreSums(uint32_t* p, V8i v) { std::memcpy(p, &v, sizeof v); }

// The rows of one pass: quotient(s, ends) gives eight outputs from their
// window sums and end-tap sums, one(s, lo, hi) a single output.
template <class Quotient, class One>
[[gnu::always_inline]] inline void PassRows(const uint16_t* in, size_t in_stride, uint16_t* out, size_t out_stride,
                                            A_long n, A_long lanes, const Pass& p, uint32_t* acc, const uint16_t* zeros,
                                            Quotient quotient, One one) {
  const A_long k = p.k;
  const A_long vector_lanes = lanes & ~A_long(7);
  for (A_long y = 0; y < n; ++y) {
    const uint16_t* lo = PassRow(in, in_stride, n, y - k - 1, p, zeros);
    const uint16_t* hi = PassRow(in, in_stride, n, y + k + 1, p, zeros);
    const uint16_t* leaving = PassRow(in, in_stride, n, y - k, p, zeros);
    uint16_t* o = out + size_t(y) * out_stride;
    A_long j = 0;
    for (; j < vector_lanes; j += 8) {
      const V8i h = Widen(hi + j);
      V8i s = LoadSums(acc + j);
      Narrow(o + j, quotient(s, Widen(lo + j) + h));
      s += h - Widen(leaving + j);
      StoreSums(acc + j, s);
    }
    for (; j < lanes; ++j) {
      o[j] = one(acc[j], lo[j], hi[j]);
      acc[j] += uint32_t(hi[j]) - uint32_t(leaving[j]);
    }
  }
}

// One pass along a sequence of n rows of `lanes` values each (row i at
// in + i * in_stride, written to out + i * out_stride; in and out do not
// overlap). acc holds `lanes` window sums, zeros `lanes` zero values.
// Lanes past the last multiple of eight are done one at a time.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("avx2", "default")))
#endif
void VectorPass(const uint16_t* in, size_t in_stride, uint16_t* out, size_t out_stride, A_long n, A_long lanes,
                const Pass& p, uint32_t* acc, const uint16_t* zeros) {
  StartWindow(in, in_stride, n, lanes, p, acc);
  if (p.fits32) {
    // Divide32 on eight lanes.
    const int32_t a = p.a32, half = p.half32, D = p.d32;
    const float inv = p.inv32;
    auto quotient = [&](V8i s, V8i ends) {
      const V8i N = (s << 8) + a * ends + half;
      V8i q = __builtin_convertvector(__builtin_convertvector(N, V8f) * inv, V8i);
      const V8i r = V8i(V8u(N) - V8u(q) * uint32_t(D));
      return q - (r >= D) + (r < 0);  // comparisons are -1 where true
    };
    auto one = [&](uint32_t s, uint16_t lo, uint16_t hi) { return Divide32(s, lo, hi, p); };
    PassRows(in, in_stride, out, out_stride, n, lanes, p, acc, zeros, quotient, one);
    return;
  }
  // DivideWide on two halves of four lanes. Window sums are below 2^31, so
  // as signed numbers they are the same.
  const double a = p.a, half = p.half, inv = p.inv;
  auto quotient = [&](V8i s, V8i ends) {
    V4i part[2];
    for (int h = 0; h < 2; ++h) {
      const V4i s4 = {s[4 * h], s[4 * h + 1], s[4 * h + 2], s[4 * h + 3]};
      const V4i e4 = {ends[4 * h], ends[4 * h + 1], ends[4 * h + 2], ends[4 * h + 3]};
      const V4d sum = 256.0 * __builtin_convertvector(s4, V4d) + a * __builtin_convertvector(e4, V4d);
      part[h] = __builtin_convertvector((sum + half) * inv + 0x1p-30, V4i);
    }
    return V8i{part[0][0], part[0][1], part[0][2], part[0][3], part[1][0], part[1][1], part[1][2], part[1][3]};
  };
  auto one = [&](uint32_t s, uint16_t lo, uint16_t hi) { return DivideWide(s, lo, hi, p); };
  PassRows(in, in_stride, out, out_stride, n, lanes, p, acc, zeros, quotient, one);
}

// The scratch of one task: a band's two buffers and the window sums.
struct TaskScratch {
  std::unique_ptr<uint16_t[]> t0, t1;
  std::unique_ptr<uint32_t[]> acc;
  std::vector<uint16_t> zeros;

  TaskScratch(size_t size, A_long lanes)
      : t0(Scratch<uint16_t>(size)),
        t1(Scratch<uint16_t>(size)),
        acc(Scratch<uint32_t>(size_t(lanes))),
        zeros(size_t(lanes), 0) {}
};

// Tasks for `items` bands or strips: a few per processor, each a run of
// neighbours, so that scratch is taken once per task.
int TaskCount(int items) {
  const int processors = int(std::max(1u, std::thread::hardware_concurrency()));
  return std::max(1, std::min(items, 4 * processors));
}

}  // namespace

void SmoothWorld(PF_EffectWorld& world, double radius, A_long mode, const SmoothRunner& run) {
  const Run r = RunFor(world, radius, mode);
  if (!r.smooth) return;
  const A_long W = r.W, H = r.H, channels = r.channels, band_rows = r.band_rows, strip_cols = r.strip_cols;
  const int bands = r.bands, strips = r.strips;
  const Pass& pass = r.pass;
  const size_t pitch = r.pitch;
  const auto plane = Scratch<uint16_t>(pitch * size_t(H));

  const int row_tasks = TaskCount(bands), column_tasks = TaskCount(strips);
  std::vector<TaskScratch> row_scratch, column_scratch;
  row_scratch.reserve(size_t(row_tasks));
  column_scratch.reserve(size_t(column_tasks));
  for (int t = 0; t < row_tasks; ++t)
    row_scratch.emplace_back(size_t(W) * size_t(band_rows * channels), band_rows * channels);
  for (int t = 0; t < column_tasks; ++t)
    column_scratch.emplace_back(size_t(H) * size_t(strip_cols * channels), strip_cols * channels);

  // Along x, in bands of rows, each band laid out x-major.
  RunAll(run, row_tasks, [&](int task) {
    TaskScratch& s = row_scratch[size_t(task)];
    for (int band = bands * task / row_tasks; band < bands * (task + 1) / row_tasks; ++band) {
      const A_long y0 = A_long(band) * band_rows;
      const A_long rows = std::min(band_rows, H - y0);
      const A_long lanes = rows * channels;
      uint16_t *t0 = s.t0.get(), *t1 = s.t1.get();
      LoadBand(world, mode, y0, rows, t0);
      VectorPass(t0, lanes, t1, lanes, W, lanes, pass, s.acc.get(), s.zeros.data());
      VectorPass(t1, lanes, t0, lanes, W, lanes, pass, s.acc.get(), s.zeros.data());
      VectorPass(t0, lanes, t1, lanes, W, lanes, pass, s.acc.get(), s.zeros.data());
      BandToPlane(t1, rows, channels, W, plane.get() + size_t(y0) * pitch, pitch);
    }
  });

  // Along y, in strips of columns: the first pass reads the plane and the
  // last pass's values become the strip's pixels.
  RunAll(run, column_tasks, [&](int task) {
    TaskScratch& s = column_scratch[size_t(task)];
    for (int strip = strips * task / column_tasks; strip < strips * (task + 1) / column_tasks; ++strip) {
      const A_long x0 = A_long(strip) * strip_cols;
      const A_long cols = std::min(strip_cols, W - x0);
      const A_long lanes = cols * channels;
      uint16_t *t0 = s.t0.get(), *t1 = s.t1.get();
      const uint16_t* column = plane.get() + size_t(x0) * channels;
      VectorPass(column, pitch, t1, lanes, H, lanes, pass, s.acc.get(), s.zeros.data());
      VectorPass(t1, lanes, t0, lanes, H, lanes, pass, s.acc.get(), s.zeros.data());
      VectorPass(t0, lanes, t1, lanes, H, lanes, pass, s.acc.get(), s.zeros.data());
      for (A_long y = 0; y < H; ++y) {
        PF_Pixel* px = RowOf(world, y) + x0;
        const uint16_t* v = t1 + size_t(y) * lanes;
        if (mode == kSmoothColorAlpha) {
          StoreColorAlphaRow(v, reinterpret_cast<uint8_t*>(px), cols);
        } else {
          for (A_long x = 0; x < cols; ++x) Store(v + size_t(x) * channels, mode, px[x]);
        }
      }
    }
  });
}

}  // namespace ombrix
