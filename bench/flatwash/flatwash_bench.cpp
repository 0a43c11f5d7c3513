// Flatwash through the host at 1920x1080 (pure colour, 50 % blend, 100 %
// pass-through), in megapixels per second, beside the floor a per-pixel
// callback sets (a plain loop calling the same pixel function through a
// pointer, rows split over the same thread count) and memcpy of the same
// buffer. Argument: thread count (1, or 0 for all cores).
#include <ombrix/host/host.h>
#include <ombrix/host/thread_pool.h>

#include <benchmark/benchmark.h>

#include "common/effect_bench.h"
#include "effects/flatwash/kernels.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace effect_bench;

void FillPattern(ombrix::World& w) {
  uint32_t s = 1;
  for (A_long y = 0; y < w.height(); ++y) {
    for (A_long x = 0; x < w.width(); ++x) {
      s = s * 1103515245u + 12345u;
      std::memcpy(&w.At(x, y), &s, 4);
    }
  }
}

void Flatwash(benchmark::State& state, A_long blend) {
  EffectBench b("flatwash.aex", int(state.range(0)));
  b.instance.SetValue(1, Colour(PF_Pixel{255, 40, 120, 200}));
  b.instance.SetValue(2, Scalar(blend));
  FillPattern(b.in);
  for (auto _ : state)
    if (!b.Render(state)) break;
  SetRate(state);
}

void BM_FlatwashPure(benchmark::State& state) { Flatwash(state, 0); }
void BM_FlatwashHalf(benchmark::State& state) { Flatwash(state, 0x8000); }
void BM_FlatwashFull(benchmark::State& state) { Flatwash(state, 0x10000); }

// The pixel functions Flatwash hands to iterate, called here through a pointer.
PF_Err PurePixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  flatwash::PureColour(*static_cast<const flatwash::Block*>(refcon), *in, *out);
  return PF_Err_NONE;
}

PF_Err BlendPixel(void* refcon, A_long, A_long, PF_Pixel* in, PF_Pixel* out) {
  flatwash::BlendColour(*static_cast<const flatwash::Block*>(refcon), *in, *out);
  return PF_Err_NONE;
}

// The loop every per-pixel pass through a callback costs at least: the pixel
// function through a pointer the compiler cannot see through, for every
// pixel, in bands of 16 rows over the threads.
void PointerLoop(benchmark::State& state, PF_IteratePixel8Func fn, PF_Fixed blend) {
  const int threads = state.range(0) ? int(state.range(0)) : int(std::max(1u, std::thread::hardware_concurrency()));
  ombrix::ThreadPool pool(threads);
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  FillPattern(in);
  flatwash::Block block = flatwash::MakeBlock(PF_Pixel{255, 40, 120, 200}, blend);
  constexpr A_long kBand = 16;
  const int bands = int((kHeight + kBand - 1) / kBand);
  for (auto _ : state) {
    PF_IteratePixel8Func call = fn;
    benchmark::DoNotOptimize(call);
    pool.ForEach(bands, [&](int band) {
      for (A_long y = band * kBand; y < std::min(kHeight, (band + 1) * kBand); ++y) {
        PF_Pixel* src = in.Row(y);
        PF_Pixel* dst = out.Row(y);
        for (A_long x = 0; x < kWidth; ++x)
          if (call(&block, x, y, src + x, dst + x)) return;
      }
    });
    benchmark::DoNotOptimize(out.pf().data);
  }
  SetRate(state);
}

void BM_PointerLoopPure(benchmark::State& state) { PointerLoop(state, PurePixel, 0); }
void BM_PointerLoopHalf(benchmark::State& state) { PointerLoop(state, BlendPixel, 0x8000); }

// The floor for any per-pixel pass: one copy of the same 8 MB buffer.
void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> src(size_t(kWidth) * kHeight * 4, 7), dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

BENCHMARK(BM_FlatwashPure)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashHalf)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlatwashFull)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointerLoopPure)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PointerLoopHalf)->Arg(1)->Arg(0)->ArgName("threads")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
