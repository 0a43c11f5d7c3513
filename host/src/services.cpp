// The services handed to plug-ins through the function tables of pf/api.h.
//
// Services that get an effect_ref find their host and effect through it;
// the handle and block services, which get none, use the context of the
// command running on the calling thread. Every service first counts itself
// with the host's failure injector.
#include "host_internal.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <new>
#include <stdexcept>
#include <vector>

#include <ombrix/host/pixel_ops.h>
#include <ombrix/host/smooth.h>
#include <ombrix/platform/headless.h>

namespace ombrix {

PF_ProgressInfo*& CurrentCall() {
  thread_local PF_ProgressInfo* current = nullptr;
  return current;
}

CallContext* ContextOf(PF_ProgPtr ref) {
  if (!ref || ref->ctx.magic != CallContext::kMagic || !ref->ctx.host) return nullptr;
  return &ref->ctx;
}

PF_Err Inject(CallContext* ctx, int service) {
  return ctx ? ctx->host->failures().Check(service) : PF_Err_NONE;
}

namespace {

CallContext* CurrentContext() { return ContextOf(CurrentCall()); }

// ---------------------------------------------------------------------------
// Handles: a block holding the data pointer; the handle is the address of
// that pointer. A registry of live blocks makes stale or foreign handles
// harmless.
// ---------------------------------------------------------------------------
struct HandleBlock {
  void* data = nullptr;
  size_t size = 0;
};

// Each entry remembers the effect whose command made it (NULL for the
// host's own handles), so that what a plug-in leaves behind is freed when
// it is unloaded.
struct Registries {
  std::mutex mutex;
  std::unordered_map<PF_Handle, const void*> handles;
  std::unordered_map<void*, const void*> worlds;
  std::unordered_map<void*, const void*> blocks;
  std::unordered_map<void*, const void*> checkouts;  // pixels of checked-out layers
};

Registries& Reg() {
  static Registries r;
  return r;
}

HandleBlock* BlockOf(PF_Handle h) {
  // The data pointer is the block's first member.
  return reinterpret_cast<HandleBlock*>(h);
}

}  // namespace

PF_Handle NewHandle(size_t size) {
  auto* block = new (std::nothrow) HandleBlock;
  if (!block) return nullptr;
  block->data = std::calloc(std::max<size_t>(size, 1), 1);
  if (!block->data) {
    delete block;
    return nullptr;
  }
  block->size = size;
  PF_Handle h = &block->data;
  std::lock_guard lock(Reg().mutex);
  Reg().handles.emplace(h, CurrentCall());
  return h;
}

bool HandleIsLive(PF_Handle h) {
  if (!h) return false;
  std::lock_guard lock(Reg().mutex);
  return Reg().handles.count(h) != 0;
}

void DisposeHandle(PF_Handle h) {
  if (!h) return;
  {
    std::lock_guard lock(Reg().mutex);
    if (Reg().handles.erase(h) == 0) return;
  }
  HandleBlock* block = BlockOf(h);
  std::free(block->data);
  delete block;
}

size_t HandleSize(PF_Handle h) {
  std::lock_guard lock(Reg().mutex);
  return Reg().handles.count(h) ? BlockOf(h)->size : 0;
}

void ReleaseAllOwnedBy(const void* owner) {
  if (!owner) return;
  std::vector<PF_Handle> handles;
  std::vector<void*> memory;
  {
    std::lock_guard lock(Reg().mutex);
    for (auto it = Reg().handles.begin(); it != Reg().handles.end();)
      if (it->second == owner) {
        handles.push_back(it->first);
        it = Reg().handles.erase(it);
      } else {
        ++it;
      }
    for (auto* table : {&Reg().worlds, &Reg().blocks, &Reg().checkouts})
      for (auto it = table->begin(); it != table->end();)
        if (it->second == owner) {
          memory.push_back(it->first);
          it = table->erase(it);
        } else {
          ++it;
        }
  }
  for (PF_Handle h : handles) {
    std::free(*h);
    delete BlockOf(h);
  }
  for (void* p : memory) std::free(p);
}

size_t LiveHandleCount() {
  std::lock_guard lock(Reg().mutex);
  return Reg().handles.size();
}

size_t LiveWorldCount() {
  std::lock_guard lock(Reg().mutex);
  return Reg().worlds.size();
}

size_t LiveBlockCount() {
  std::lock_guard lock(Reg().mutex);
  return Reg().blocks.size();
}

size_t LiveCheckoutCount() {
  std::lock_guard lock(Reg().mutex);
  return Reg().checkouts.size();
}

PF_Err NewCheckoutWorld(const void* owner, A_long width, A_long height, A_long pad_bytes, PF_EffectWorld* world) {
  if (width <= 0 || height <= 0 || pad_bytes < 0) return PF_Err_BAD_CALLBACK_PARAM;
  const int64_t rowbytes = int64_t(width) * 4 + pad_bytes;
  if (rowbytes > INT32_MAX) return PF_Err_OUT_OF_MEMORY;
  void* data = std::calloc(size_t(rowbytes) * size_t(height), 1);
  if (!data) return PF_Err_OUT_OF_MEMORY;
  {
    std::lock_guard lock(Reg().mutex);
    Reg().checkouts.emplace(data, owner);
  }
  *world = PF_EffectWorld{};
  world->data = static_cast<PF_PixelPtr>(data);
  world->rowbytes = A_long(rowbytes);
  world->width = width;
  world->height = height;
  world->extent_hint = PF_Rect{0, 0, width, height};
  world->pix_aspect_ratio = PF_RationalScale{1, 1};
  return PF_Err_NONE;
}

bool ReleaseCheckout(void* data) {
  if (!data) return false;
  {
    std::lock_guard lock(Reg().mutex);
    if (Reg().checkouts.erase(data) == 0) return false;
  }
  std::free(data);
  return true;
}

void ReleaseCheckoutsOwnedBy(const void* owner) {
  std::vector<void*> memory;
  {
    std::lock_guard lock(Reg().mutex);
    for (auto it = Reg().checkouts.begin(); it != Reg().checkouts.end();)
      if (it->second == owner) {
        memory.push_back(it->first);
        it = Reg().checkouts.erase(it);
      } else {
        ++it;
      }
  }
  for (void* p : memory) std::free(p);
}

namespace {

PF_Handle SvcNewHandle(A_u_long size) {
  if (Inject(CurrentContext(), ServiceId("new_handle"))) return nullptr;
  return NewHandle(size);
}

void* SvcLockHandle(PF_Handle h) {
  if (Inject(CurrentContext(), ServiceId("lock_handle"))) return nullptr;
  if (!HandleIsLive(h)) return nullptr;
  return *h;
}

void SvcUnlockHandle(PF_Handle) {}

void SvcDisposeHandle(PF_Handle h) { DisposeHandle(h); }

A_u_long SvcGetHandleSize(PF_Handle h) { return A_u_long(HandleSize(h)); }

PF_Err SvcResizeHandle(A_u_long new_size, PF_Handle* hp) {
  if (PF_Err e = Inject(CurrentContext(), ServiceId("resize_handle"))) return e;
  if (!hp || !HandleIsLive(*hp)) return PF_Err_BAD_CALLBACK_PARAM;
  HandleBlock* block = BlockOf(*hp);
  void* data = std::realloc(block->data, std::max<size_t>(new_size, 1));
  if (!data) return PF_Err_OUT_OF_MEMORY;
  if (new_size > block->size) std::memset(static_cast<char*>(data) + block->size, 0, new_size - block->size);
  block->data = data;
  block->size = new_size;
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Interaction services
// ---------------------------------------------------------------------------
PF_Err SvcAddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("add_param"))) return e;
  if (ctx->cmd != PF_Cmd_PARAMS_SETUP || !ctx->effect) return PF_Err_BAD_CALLBACK_PARAM;
  return AddParamFor(*ctx->effect, index, def);
}

PF_Err SvcCheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step,
                        A_u_long time_scale, PF_ParamDef* param) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("checkout_param"))) return e;
  return CheckoutParamFor(*ctx, index, what_time, time_step, time_scale, param);
}

PF_Err SvcCheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("checkin_param"))) return e;
  if (!param) return PF_Err_BAD_CALLBACK_PARAM;
  // Only layers with pixels hold host memory; other checkouts, and a layer
  // checked out empty, hold nothing.
  if (param->param_type != PF_Param_LAYER || !param->u.ld.data) return PF_Err_NONE;
  if (!ReleaseCheckout(param->u.ld.data)) return PF_Err_BAD_CALLBACK_PARAM;  // not ours, or checked in twice
  const A_long dephault = param->u.ld.dephault;
  param->u.ld = PF_LayerDef{};
  param->u.ld.dephault = dephault;
  return PF_Err_NONE;
}

PF_Err SvcAbort(PF_ProgPtr ref) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("abort"))) return e;
  return ctx->host->abort_requested ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err SvcProgress(PF_ProgPtr ref, A_long current, A_long total) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("progress"))) return e;
  if (ctx->host->on_progress) {
    try {
      ctx->host->on_progress(current, total);
    } catch (...) {
      ctx->host->abort_requested = true;  // nothing may be thrown into the plug-in
    }
  }
  return ctx->host->abort_requested ? PF_Interrupt_CANCEL : PF_Err_NONE;
}

PF_Err SvcRegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("register_ui"))) return e;
  return info ? PF_Err_NONE : PF_Err_BAD_CALLBACK_PARAM;
}

// ---------------------------------------------------------------------------
// iterate
// ---------------------------------------------------------------------------
constexpr A_long kBandRows = 16;

inline PF_Pixel* PixelAt(const PF_EffectWorld& w, A_long x, A_long y) {
  return reinterpret_cast<PF_Pixel*>(reinterpret_cast<uint8_t*>(w.data) + size_t(y) * size_t(w.rowbytes) +
                                     size_t(x) * 4);
}

struct IterateJob {
  PF_EffectWorld* src;
  PF_EffectWorld* dst;
  PF_Rect rect;
  void* refcon;
  PF_IteratePixel8Func fn;
  int bands;

  PF_Err RunBand(int band) const {
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
      host.abort_requested = true;  // nothing may be thrown into the plug-in
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
  int active = 0;
  std::vector<PF_Err> errors;
};

PF_Err IterateParallel(Host& host, const IterateJob& job, A_long base, A_long final_) {
  if (host.abort_requested) return PF_Interrupt_CANCEL;
  auto state = std::make_shared<ParallelState>();
  state->errors.assign(size_t(job.bands), PF_Err_NONE);
  const int tasks = std::min(host.pool().size(), job.bands);
  state->active = tasks;
  PF_ProgressInfo* call = CurrentCall();
  for (int t = 0; t < tasks; ++t) {
    host.pool().Submit([state, job, call] {
      PF_ProgressInfo* saved = CurrentCall();
      CurrentCall() = call;
      for (;;) {
        int b = state->next.fetch_add(1);
        if (b >= job.bands) break;
        PF_Err e = PF_Err_NONE;
        if (b < state->stop_at.load()) {
          e = job.RunBand(b);
          if (e) {
            // Later bands cannot hold the first error in row order.
            int cur = state->stop_at.load();
            while (b < cur && !state->stop_at.compare_exchange_weak(cur, b)) {
            }
          }
        }
        std::lock_guard lock(state->mutex);
        state->errors[size_t(b)] = e;
        ++state->done;
        state->changed.notify_all();
      }
      CurrentCall() = saved;
      std::lock_guard lock(state->mutex);
      --state->active;
      state->changed.notify_all();
    });
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

PF_Err SvcIterate(PF_InData* in_data, A_long progress_base, A_long progress_final, PF_EffectWorld* src,
                  const PF_Rect* area, void* refcon, PF_IteratePixel8Func pix_fn, PF_EffectWorld* dst) {
  CallContext* ctx = in_data ? ContextOf(in_data->effect_ref) : nullptr;
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("iterate"))) return e;
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

  IterateJob job{src, dst, r, refcon, pix_fn, int((r.bottom - r.top + kBandRows - 1) / kBandRows)};
  Host& host = *ctx->host;
  if (job.bands == 1 || host.pool().size() <= 1 || ThreadPool::OnWorker())
    return IterateSerial(host, job, progress_base, progress_final);
  return IterateParallel(host, job, progress_base, progress_final);
}

// ---------------------------------------------------------------------------
// Worlds: copy, fill, new and dispose
// ---------------------------------------------------------------------------
bool RectInside(const PF_Rect& r, const PF_EffectWorld& w) {
  return r.left >= 0 && r.top >= 0 && r.left <= r.right && r.top <= r.bottom && r.right <= w.width &&
         r.bottom <= w.height;
}

// A view of the rect r of w (r inside w).
PF_EffectWorld SubWorld(const PF_EffectWorld& w, const PF_Rect& r) {
  PF_EffectWorld v = w;
  v.data = PixelAt(w, r.left, r.top);
  v.width = r.right - r.left;
  v.height = r.bottom - r.top;
  v.extent_hint = PF_Rect{0, 0, v.width, v.height};
  return v;
}

PF_Err SvcCopy(PF_ProgPtr ref, PF_EffectWorld* src, PF_EffectWorld* dst, PF_Rect* src_r, PF_Rect* dst_r) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("copy"))) return e;
  if (!src || !dst || !src->data || !dst->data) return PF_Err_BAD_CALLBACK_PARAM;
  PF_Rect sr = src_r ? *src_r : WholeRect(*src);
  PF_Rect dr = dst_r ? *dst_r : WholeRect(*dst);
  if (!RectInside(sr, *src) || !RectInside(dr, *dst)) return PF_Err_BAD_CALLBACK_PARAM;
  const A_long w = sr.right - sr.left, h = sr.bottom - sr.top;
  if (w == dr.right - dr.left && h == dr.bottom - dr.top) {
    for (A_long y = 0; y < h; ++y)
      std::memmove(PixelAt(*dst, dr.left, dr.top + y), PixelAt(*src, sr.left, sr.top + y), size_t(w) * 4);
    return PF_Err_NONE;
  }
  // Different sizes: the box reduction / enlargement between the two rects.
  try {
    PF_EffectWorld from = SubWorld(*src, sr);
    PF_EffectWorld to = SubWorld(*dst, dr);
    std::vector<PF_Pixel> scratch;
    if (src->data == dst->data) {
      // Same buffer: read from a private copy so the rects may overlap.
      scratch.resize(size_t(w) * size_t(h));
      for (A_long y = 0; y < h; ++y) std::memcpy(&scratch[size_t(y) * w], PixelAt(from, 0, y), size_t(w) * 4);
      from.data = scratch.data();
      from.rowbytes = w * 4;
    }
    if (w == 0 || h == 0) from.data = nullptr;
    if (to.width > 0 && to.height > 0) ScaledCopy(from, to);
    return PF_Err_NONE;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return PF_Err_OUT_OF_MEMORY;
  }
}

PF_Err SvcFill(PF_ProgPtr ref, const PF_Pixel* color, const PF_Rect* dst_rect, PF_EffectWorld* world) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("fill"))) return e;
  if (!world || !world->data) return PF_Err_BAD_CALLBACK_PARAM;
  const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
  PF_Rect r = dst_rect ? *dst_rect : WholeRect(*world);
  r.left = std::max<A_long>(r.left, 0);
  r.top = std::max<A_long>(r.top, 0);
  r.right = std::min(r.right, world->width);
  r.bottom = std::min(r.bottom, world->height);
  for (A_long y = r.top; y < r.bottom; ++y) {
    PF_Pixel* p = PixelAt(*world, 0, y);
    for (A_long x = r.left; x < r.right; ++x) p[x] = c;
  }
  return PF_Err_NONE;
}

PF_Err SvcNewWorld(PF_ProgPtr ref, A_long width, A_long height, PF_WorldFlags, PF_EffectWorld* world) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("new_world"))) return e;
  if (!world || width <= 0 || height <= 0) return PF_Err_BAD_CALLBACK_PARAM;
  const int64_t rowbytes = int64_t(width) * 4 + std::max<A_long>(ctx->host->options().pad_rows, 0);
  if (rowbytes > INT32_MAX) return PF_Err_OUT_OF_MEMORY;
  const size_t size = size_t(rowbytes) * size_t(height);
  void* data = std::calloc(size, 1);  // transparent black, padding included
  if (!data) return PF_Err_OUT_OF_MEMORY;
  {
    std::lock_guard lock(Reg().mutex);
    Reg().worlds.emplace(data, static_cast<const void*>(ref));
  }
  *world = PF_EffectWorld{};
  world->data = static_cast<PF_PixelPtr>(data);
  world->rowbytes = A_long(rowbytes);
  world->width = width;
  world->height = height;
  world->extent_hint = PF_Rect{0, 0, width, height};
  world->pix_aspect_ratio = PF_RationalScale{1, 1};
  return PF_Err_NONE;
}

PF_Err SvcDisposeWorld(PF_ProgPtr ref, PF_EffectWorld* world) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("dispose_world"))) return e;
  if (!world || !world->data) return PF_Err_BAD_CALLBACK_PARAM;
  {
    std::lock_guard lock(Reg().mutex);
    if (Reg().worlds.erase(world->data) == 0) return PF_Err_BAD_CALLBACK_PARAM;
  }
  std::free(world->data);
  *world = PF_EffectWorld{};
  return PF_Err_NONE;
}

// ---------------------------------------------------------------------------
// Sampling, colour conversion, callbacks and platform data
// ---------------------------------------------------------------------------
PF_Err SvcSubpixelSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("subpixel_sample"))) return e;
  if (!params || !params->src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
  *dst = SubpixelSample(*params->src, x, y);
  return PF_Err_NONE;
}

PF_Err SvcAreaSample(PF_ProgPtr ref, PF_Fixed x, PF_Fixed y, const PF_SampPB* params, PF_Pixel* dst) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("area_sample"))) return e;
  if (!params || !params->src || !dst) return PF_Err_BAD_CALLBACK_PARAM;
  *dst = AreaSample(*params->src, x, y, params->x_radius, params->y_radius);
  return PF_Err_NONE;
}

PF_Err SvcRgbToHls(PF_ProgPtr ref, PF_Pixel* rgb, PF_HLS_Pixel hls) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("RGBtoHLS"))) return e;
  if (!rgb || !hls) return PF_Err_BAD_CALLBACK_PARAM;
  RgbToHls(*rgb, hls);
  return PF_Err_NONE;
}

PF_Err SvcHlsToRgb(PF_ProgPtr ref, PF_HLS_Pixel hls, PF_Pixel* rgb) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("HLStoRGB"))) return e;
  if (!rgb || !hls) return PF_Err_BAD_CALLBACK_PARAM;
  HlsToRgb(hls, *rgb);
  return PF_Err_NONE;
}

// Routine -2 of get_callback_addr. The block words are not used.
PF_Err SvcSmooth(PF_InData* in_data, PF_OutData*, PF_FpLong radius, A_long*, A_long mode, PF_EffectWorld* world) {
  CallContext* ctx = in_data ? ContextOf(in_data->effect_ref) : nullptr;
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("smooth"))) return e;
  if (!world || !world->data || world->width < 0 || world->height < 0 || world->rowbytes < world->width * 4)
    return PF_Err_BAD_CALLBACK_PARAM;
  if (!SmoothModeKnown(mode)) return PF_Err_BAD_CALLBACK_PARAM;
  Host& host = *ctx->host;
  try {
    SmoothWorld(*world, radius, mode,
                [&host](int count, const std::function<void(int)>& task) { host.pool().ForEach(count, task); });
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (const std::length_error&) {
    return PF_Err_OUT_OF_MEMORY;
  }
  return PF_Err_NONE;
}

PF_Err SvcGetCallbackAddr(PF_ProgPtr ref, PF_Quality, A_long, A_long which, void** fn_ptr) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("get_callback_addr"))) return e;
  if (!fn_ptr) return PF_Err_BAD_CALLBACK_PARAM;
  if (which == PF_Callback_SMOOTH) {
    PF_SmoothFunc fn = SvcSmooth;
    *fn_ptr = reinterpret_cast<void*>(fn);
    return PF_Err_NONE;
  }
  *fn_ptr = nullptr;
  return PF_Err_BAD_CALLBACK_PARAM;  // no other routine is offered
}

PF_Err SvcGetPlatformData(PF_ProgPtr ref, A_long which, void* data) {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  if (PF_Err e = Inject(ctx, ServiceId("get_platform_data"))) return e;
  if (!data) return PF_Err_BAD_CALLBACK_PARAM;
  if (which == PF_PlatData_MAIN_WND) {
    // The platform layer's main window: the parent of the plug-ins' dialogs.
    *static_cast<void**>(data) = ombrix::platform::MainWindow();
    return PF_Err_NONE;
  }
  return PF_Err_BAD_CALLBACK_PARAM;
}

// ---------------------------------------------------------------------------
// ANSI strings and maths
// ---------------------------------------------------------------------------
int SvcSprintf(A_char* dst, const A_char* format, ...) {
  if (!dst || !format) return 0;
  va_list ap;
  va_start(ap, format);
  // Bounded to the size of return_msg, the buffer it is meant for.
  int n = std::vsnprintf(dst, PF_MAX_EFFECT_MSG_LEN + 1, format, ap);
  va_end(ap);
  return std::clamp(n, 0, PF_MAX_EFFECT_MSG_LEN);
}

A_char* SvcStrcpy(A_char* dst, const A_char* src) {
  if (!dst || !src) return dst;
  return std::strcpy(dst, src);
}

// ---------------------------------------------------------------------------
// The basic suite
// ---------------------------------------------------------------------------
SPErr BasicAcquireSuite(const char*, A_long, const void** suite) {
  if (PF_Err e = Inject(CurrentContext(), ServiceId("acquire_suite"))) return e;
  if (suite) *suite = nullptr;
  return kSuiteNotFoundError;  // no suites are offered yet
}

SPErr BasicReleaseSuite(const char*, A_long) { return kSuiteNotFoundError; }

PF_Boolean BasicIsEqual(const char* a, const char* b) {
  if (!a || !b) return a == b;
  return std::strcmp(a, b) == 0;
}

SPErr BasicAllocateBlock(A_u_long size, void** block) {
  if (PF_Err e = Inject(CurrentContext(), ServiceId("allocate_block"))) return e;
  if (!block) return PF_Err_BAD_CALLBACK_PARAM;
  void* p = std::malloc(std::max<size_t>(size, 1));
  *block = p;
  if (!p) return PF_Err_OUT_OF_MEMORY;
  std::lock_guard lock(Reg().mutex);
  Reg().blocks.emplace(p, CurrentCall());
  return PF_Err_NONE;
}

SPErr BasicFreeBlock(void* block) {
  if (!block) return PF_Err_NONE;
  {
    std::lock_guard lock(Reg().mutex);
    if (Reg().blocks.erase(block) == 0) return PF_Err_BAD_CALLBACK_PARAM;
  }
  std::free(block);
  return PF_Err_NONE;
}

SPErr BasicReallocateBlock(void* block, A_u_long new_size, void** new_block) {
  if (PF_Err e = Inject(CurrentContext(), ServiceId("reallocate_block"))) return e;
  if (!new_block) return PF_Err_BAD_CALLBACK_PARAM;
  if (!block) return BasicAllocateBlock(new_size, new_block);
  std::lock_guard lock(Reg().mutex);
  auto it = Reg().blocks.find(block);
  if (it == Reg().blocks.end()) return PF_Err_BAD_CALLBACK_PARAM;
  const void* owner = it->second;
  Reg().blocks.erase(it);
  void* p = std::realloc(block, std::max<size_t>(new_size, 1));
  if (!p) {
    Reg().blocks.emplace(block, owner);  // the old block stays valid
    return PF_Err_OUT_OF_MEMORY;
  }
  Reg().blocks.emplace(p, owner);
  *new_block = p;
  return PF_Err_NONE;
}

SPErr BasicUndefined() { return kSuiteNotFoundError; }

}  // namespace

void InitServiceTables(ServiceTables& t) {
  t = ServiceTables{};
  PF_UtilCallbacks& u = t.utils;
  u.subpixel_sample = SvcSubpixelSample;
  u.area_sample = SvcAreaSample;
  u.copy = SvcCopy;
  u.fill = SvcFill;
  u.iterate = SvcIterate;
  u.new_world = SvcNewWorld;
  u.dispose_world = SvcDisposeWorld;
  u.host_new_handle = SvcNewHandle;
  u.host_lock_handle = SvcLockHandle;
  u.host_unlock_handle = SvcUnlockHandle;
  u.host_dispose_handle = SvcDisposeHandle;
  u.host_get_handle_size = SvcGetHandleSize;
  u.host_resize_handle = SvcResizeHandle;
  u.get_callback_addr = SvcGetCallbackAddr;
  u.get_platform_data = SvcGetPlatformData;
  PF_ANSICallbacks& a = u.ansi;
  a.atan = [](PF_FpLong v) { return std::atan(v); };
  a.atan2 = [](PF_FpLong y, PF_FpLong x) { return std::atan2(y, x); };
  a.ceil = [](PF_FpLong v) { return std::ceil(v); };
  a.cos = [](PF_FpLong v) { return std::cos(v); };
  a.exp = [](PF_FpLong v) { return std::exp(v); };
  a.fabs = [](PF_FpLong v) { return std::fabs(v); };
  a.floor = [](PF_FpLong v) { return std::floor(v); };
  a.fmod = [](PF_FpLong x, PF_FpLong y) { return std::fmod(x, y); };
  a.hypot = [](PF_FpLong x, PF_FpLong y) { return std::hypot(x, y); };
  a.log = [](PF_FpLong v) { return std::log(v); };
  a.log10 = [](PF_FpLong v) { return std::log10(v); };
  a.pow = [](PF_FpLong x, PF_FpLong y) { return std::pow(x, y); };
  a.sin = [](PF_FpLong v) { return std::sin(v); };
  a.sqrt = [](PF_FpLong v) { return std::sqrt(v); };
  a.tan = [](PF_FpLong v) { return std::tan(v); };
  a.sprintf = SvcSprintf;
  a.strcpy = SvcStrcpy;
  a.asin = [](PF_FpLong v) { return std::asin(v); };
  a.acos = [](PF_FpLong v) { return std::acos(v); };
  u.colorCB.RGBtoHLS = SvcRgbToHls;
  u.colorCB.HLStoRGB = SvcHlsToRgb;

  PF_InteractCallbacks& i = t.inter;
  i.checkout_param = SvcCheckoutParam;
  i.checkin_param = SvcCheckinParam;
  i.add_param = SvcAddParam;
  i.abort = SvcAbort;
  i.progress = SvcProgress;
  i.register_ui = SvcRegisterUi;

  SPBasicSuite& b = t.basic;
  b.AcquireSuite = BasicAcquireSuite;
  b.ReleaseSuite = BasicReleaseSuite;
  b.IsEqual = BasicIsEqual;
  b.AllocateBlock = BasicAllocateBlock;
  b.FreeBlock = BasicFreeBlock;
  b.ReallocateBlock = BasicReallocateBlock;
  b.Undefined = BasicUndefined;
}

}  // namespace ombrix
