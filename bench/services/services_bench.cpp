// subpixel_sample at 1920x1080 through the host (the probe plug-in samples
// every output pixel at a fractional offset from inside iterate), beside a
// plain loop over the pixel function, and a half-resolution render (the box
// reduction of the input plus the same sampling on the quarter-size buffer).
//
// The bookkeeping of the per-pixel services: each of subpixel_sample,
// area_sample and the HLS round trip called per pixel through the host's
// table (BM_Service), beside the same work with the host's maths compiled
// into the probe and called directly from the same pixel function inside the
// same iterate (BM_InPlugin). The difference is what a service call costs
// beyond its sample.
// Megapixels per second of output; argument: thread count (0: all cores).
#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include <benchmark/benchmark.h>

#include <cstring>

#include "host/services/services_probe.h"

namespace {

constexpr A_long kWidth = 1920;
constexpr A_long kHeight = 1080;

void FillPattern(ombrix::World& w) {
  uint32_t s = 1;
  for (A_long y = 0; y < w.height(); ++y)
    for (A_long x = 0; x < w.width(); ++x) {
      s = s * 1103515245u + 12345u;
      std::memcpy(&w.At(x, y), &s, 4);
    }
}

ombrix::ParamValue Val(A_long v) { return ombrix::ParamValue{v, 0, 0, {}}; }

void Render(benchmark::State& state, A_long mode, A_u_long den) {
  ombrix::HostOptions options;
  options.threads = int(state.range(0));
  ombrix::Host host(options);
  ombrix::Effect effect(host, ombrix::ReadPluginFile(OMBRIX_SERVICES_PROBE));
  ombrix::Instance inst(effect, ombrix::TimeBase{}, kWidth, kHeight);
  inst.SetValue(svcprobe::kMode, Val(mode));
  inst.SetValue(svcprobe::kShiftX, Val(0x8000));
  inst.SetValue(svcprobe::kShiftY, Val(-0x5000));
  inst.SetValue(svcprobe::kRadiusX, Val(0x18000));
  inst.SetValue(svcprobe::kRadiusY, Val(0xC000));
  ombrix::RenderSettings s;
  s.downsample_x = s.downsample_y = PF_RationalScale{1, den};
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  FillPattern(in);
  for (auto _ : state) {
    if (inst.RenderFrame(0, in.pf(), out, s).err != PF_Err_NONE) {
      state.SkipWithError("render failed");
      break;
    }
    benchmark::DoNotOptimize(out.pf().data);
  }
  state.counters["Mpx"] = benchmark::Counter(double(out.width()) * out.height() / 1e6 * double(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

void BM_SubpixelThroughHost(benchmark::State& state) { Render(state, svcprobe::kSubpixel, 1); }
void BM_SubpixelThroughHostHalfRes(benchmark::State& state) { Render(state, svcprobe::kSubpixel, 2); }

// Argument 0: the service (0 subpixel_sample, 1 area_sample, 2 the HLS round
// trip), 1: threads.
constexpr A_long kThroughHost[] = {svcprobe::kSubpixel, svcprobe::kArea, svcprobe::kHueShift};
constexpr A_long kInPlugin[] = {svcprobe::kSubpixelInPlugin, svcprobe::kAreaInPlugin, svcprobe::kHueShiftInPlugin};
void BM_Service(benchmark::State& state) { Render(state, kThroughHost[state.range(0)], 1); }
void BM_InPlugin(benchmark::State& state) { Render(state, kInPlugin[state.range(0)], 1); }

void Services(benchmark::internal::Benchmark* b) {
  for (int service : {0, 1, 2})
    for (int threads : {1, 0}) b->Args({service, threads});
  b->ArgNames({"service", "threads"})->UseRealTime()->Unit(benchmark::kMillisecond);
}

void BM_SubpixelDirect(benchmark::State& state) {
  ombrix::World in(kWidth, kHeight), out(kWidth, kHeight);
  FillPattern(in);
  for (auto _ : state) {
    for (A_long y = 0; y < kHeight; ++y) {
      PF_Pixel* row = out.Row(y);
      for (A_long x = 0; x < kWidth; ++x)
        row[x] = ombrix::SubpixelSample(in.pf(), x * 0x10000 + 0x8000, y * 0x10000 - 0x5000);
    }
    benchmark::DoNotOptimize(out.pf().data);
  }
  state.counters["Mpx"] =
      benchmark::Counter(double(kWidth) * kHeight / 1e6 * double(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_SubpixelDirect)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SubpixelThroughHost)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SubpixelThroughHostHalfRes)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Service)->Apply(Services);
BENCHMARK(BM_InPlugin)->Apply(Services);
BENCHMARK_MAIN();
