// iterate: a plug-in's pixel function over a rect of a world, in bands of
// rows, on the host's worker threads. Each band resolves its call once for
// the per-pixel services the pixel function calls (see PixelBand).
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"
#include "world_views.h"

#include <ombrix/host/host.h>
#include <ombrix/host/thread_pool.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace ombrix {
namespace {

constexpr A_long kBandRows = 16;

struct IterateJob {
  PF_ProgPtr ref;
  CallContext* ctx;
  PF_EffectWorld* src;
  PF_EffectWorld* dst;
  PF_Rect rect;
  void* refcon;
  PF_IteratePixel8Func fn;
  int bands;

  PF_Err RunBand(int band) const {
    PixelBand pixel{ref, ctx, FailureInjector::Tally(ctx->host->failures())};
    struct Enter {
      PixelBand* outer = current_pixel_band;  // a band of an iterate called from a pixel function
      explicit Enter(PixelBand* band) { current_pixel_band = band; }
      ~Enter() { current_pixel_band = outer; }
    } enter(&pixel);
    A_long y0 = rect.top + band * kBandRows;
    A_long y1 = std::min(rect.bottom, y0 + kBandRows);
    // The callback and its refcon are loaded once; each row's pixels are walked
    // by pointer, so the loop adds little beyond the call itself.
    const PF_IteratePixel8Func call = fn;
    void* const block = refcon;
    for (A_long y = y0; y < y1; ++y) {
      PF_Pixel* in = PixelAt(*src, rect.left, y);
      PF_Pixel* out = PixelAt(*dst, rect.left, y);
      for (A_long x = rect.left; x < rect.right; ++x, ++in, ++out)
        if (PF_Err e = call(block, x, y, in, out)) return e;
    }
    return PF_Err_NONE;
  }
  A_long RowsDone(int bands_done) const {
    return std::min<A_long>(rect.bottom - rect.top, A_long(bands_done) * kBandRows);
  }
};

// Progress between bands, on the calling thread: rows done mapped onto
// [base, final]. Returns true when the host asks to stop.
bool ReportAndCheck(Host& host, A_long base, A_long final_, A_long done, A_long total) {
  if (host.on_progress && total > 0) {
    try {
      host.on_progress(A_long(base + int64_t(final_ - base) * done / total), final_);
    } catch (...) {
      host.abort_requested = true;  // a failing progress report stops the work
    }
  }
  return host.abort_requested;
}

PF_Err IterateSerial(Host& host, const IterateJob& job, A_long base, A_long final_) {
  const A_long rows = job.rect.bottom - job.rect.top;
  for (int b = 0; b < job.bands; ++b) {
    if (host.abort_requested) return PF_Interrupt_CANCEL;
    if (PF_Err e = job.RunBand(b)) return e;
    ReportAndCheck(host, base, final_, job.RowsDone(b + 1), rows);
  }
  return PF_Err_NONE;
}

struct ParallelState {
  std::atomic<int> next{0};
  std::atomic<int> stop_at{INT_MAX};  // bands from here on are skipped
  std::mutex mutex;
  std::condition_variable changed;
  int done = 0;
  int active = 0;  // tasks queued and not finished
  std::vector<PF_Err> errors;

  void WaitForTasks() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return active == 0; });
  }
};

// One worker's part: bands taken in turn until none is left.
void RunTask(ParallelState& state, const IterateJob& job, PF_ProgressInfo* call) {
  PF_ProgressInfo* saved = CurrentCall();
  CurrentCall() = call;
  for (;;) {
    int b = state.next.fetch_add(1);
    if (b >= job.bands) break;
    PF_Err e = PF_Err_NONE;
    if (b < state.stop_at.load()) {
      e = job.RunBand(b);
      if (e) {
        // Later bands cannot hold the first error in row order.
        int cur = state.stop_at.load();
        while (b < cur && !state.stop_at.compare_exchange_weak(cur, b)) {
        }
      }
    }
    std::lock_guard lock(state.mutex);
    state.errors[size_t(b)] = e;
    ++state.done;
    state.changed.notify_all();
  }
  CurrentCall() = saved;
  std::lock_guard lock(state.mutex);
  --state.active;
  state.changed.notify_all();
}

PF_Err IterateParallel(Host& host, const IterateJob& job, A_long base, A_long final_) {
  if (host.abort_requested) return PF_Interrupt_CANCEL;
  host.failures().Allocating();
  auto state = std::make_shared<ParallelState>();
  host.failures().Allocating();
  state->errors.assign(size_t(job.bands), PF_Err_NONE);
  const int tasks = std::min(host.pool().size(), job.bands);
  PF_ProgressInfo* call = CurrentCall();
  for (int t = 0; t < tasks; ++t) {
    {
      std::lock_guard lock(state->mutex);
      ++state->active;
    }
    try {
      host.pool().Submit([state, job, call] { RunTask(*state, job, call); });
    } catch (...) {
      {
        std::lock_guard lock(state->mutex);
        --state->active;
      }
      // The tasks already queued work on the plug-in's worlds: they skip the
      // bands not yet started and are waited for, so none outlives the call.
      state->stop_at.store(0);
      state->WaitForTasks();
      throw;
    }
  }

  const A_long rows = job.rect.bottom - job.rect.top;
  bool aborted = false;
  int reported = 0;
  std::unique_lock lock(state->mutex);
  while (state->active > 0 || reported < state->done) {
    state->changed.wait(lock, [&] { return state->active == 0 || state->done != reported; });
    if (state->done != reported) {
      reported = state->done;
      lock.unlock();
      if (ReportAndCheck(host, base, final_, job.RowsDone(reported), rows) && !aborted) {
        aborted = true;
        state->stop_at.store(0);
      }
      lock.lock();
    }
  }
  for (PF_Err e : state->errors)
    if (e) return e;
  return aborted ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

}  // namespace

PF_Err SvcIterate(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                  const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
  const PF_ProgPtr ref = in_data ? in_data->effect_ref : nullptr;
  return Serve(ref, ServiceId("iterate"), [&](CallContext& ctx) -> PF_Err {
    if (!src || !dst || !pix_fn || !src->data || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
    if (dst->rowbytes < dst->width * 4 || src->rowbytes < src->width * 4) return PF_Err_BAD_CALLBACK_PARAM;
    PF_Rect r = area ? *area : WholeRect(*dst);
    r.left = std::max<A_long>(r.left, 0);
    r.top = std::max<A_long>(r.top, 0);
    r.right = std::min(r.right, dst->width);
    r.bottom = std::min(r.bottom, dst->height);
    if (r.right <= r.left || r.bottom <= r.top) return PF_Err_NONE;
    // The source pixel at each destination position must exist.
    if (r.right > src->width || r.bottom > src->height) return PF_Err_BAD_CALLBACK_PARAM;

    const IterateJob job{ref, &ctx, src, dst, r, refcon, pix_fn, int((r.bottom - r.top + kBandRows - 1) / kBandRows)};
    Host& host = *ctx.host;
    if (job.bands == 1 || host.pool().size() <= 1 || ThreadPool::OnWorker())
      return IterateSerial(host, job, progress_base, progress_final);
    return IterateParallel(host, job, progress_base, progress_final);
  });
}

}  // namespace ombrix
