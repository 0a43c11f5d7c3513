// libvips as the peer of an effect benchmark: an image made by `make` at the
// effects' frame size, rendered into memory, with libvips' own worker threads
// set to the benchmark's thread count (1, or 0 for all cores). Include only
// when libvips is available (OMBRIX_BENCH_VIPS).
#pragma once

#include "common/effect_bench.h"

#include <vips/vips.h>

#include <cstddef>
#include <string>

namespace effect_bench {

// Makes the image to render; 0 on success, as libvips' operations answer.
using VipsMaker = int (*)(VipsImage** out);

// `program` names the benchmark program to libvips; `what` names the
// operation in the error when it fails.
inline void VipsPeer(benchmark::State& state, const char* program, const char* what, VipsMaker make) {
  static const bool started = VIPS_INIT(program) == 0;
  if (!started) {
    state.SkipWithError("libvips did not start");
    return;
  }
  vips_concurrency_set(state.range(0) == 0 ? 0 : int(state.range(0)));
  vips_cache_set_max(0);
  for (auto _ : state) {
    VipsImage* image = nullptr;
    if (make(&image) != 0) {
      state.SkipWithError((std::string(what) + " failed").c_str());
      break;
    }
    std::size_t size = 0;
    void* bytes = vips_image_write_to_memory(image, &size);
    g_object_unref(image);
    if (bytes == nullptr) {
      state.SkipWithError("vips render failed");
      break;
    }
    benchmark::DoNotOptimize(bytes);
    g_free(bytes);
  }
  SetRate(state);
}

}  // namespace effect_bench
