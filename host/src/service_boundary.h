// The one way into the host from a plug-in. Every service is served through
// Serve (services given an effect_ref), ServeOnThread (the handle and block
// services, which get none and use the command running on the calling
// thread) or ServePixel (the samplers and colour conversions, called per
// pixel). Each finds the call's context, counts the call with the host's
// failure injector, runs the service's body, and turns whatever C++
// exception the body throws into an error code: nothing is thrown across
// the C boundary into a plug-in.
#pragma once

#include "call_context.h"

#include <ombrix/host/failures.h>
#include <ombrix/host/host.h>

#include <pf/api.h>

namespace ombrix {

// The error code for the exception being handled (call only inside a catch):
// PF_Err_OUT_OF_MEMORY for std::bad_alloc and std::length_error,
// PF_Err_INTERNAL_STRUCT_DAMAGED for anything else.
PF_Err CaughtError() noexcept;

// Counts with `count`, then runs `body`; the catch of every service.
template <class Count, class Body>
PF_Err Guarded(Count&& count, Body&& body) noexcept {
  try {
    if (PF_Err err = count()) return err;
    return body();
  } catch (...) {
    return CaughtError();
  }
}

// A service given an effect_ref: PF_Err_BAD_CALLBACK_PARAM when it is not
// one of ours; else `service` (its position in kServiceNames) is counted
// and body(CallContext&) answers.
template <class Body>
PF_Err Serve(PF_ProgPtr ref, int service, Body&& body) noexcept {
  CallContext* ctx = ContextOf(ref);
  if (!ctx) return PF_Err_BAD_CALLBACK_PARAM;
  return Guarded([&] { return ctx->host->failures().Check(service); }, [&] { return body(*ctx); });
}

// A service that failure injection does not count (it has no name in
// kServiceNames).
inline constexpr int kNotCounted = -1;

// A service without an effect_ref: body(CallContext*) is given the context
// of the command running on this thread, NULL outside any command (then
// nothing is counted).
template <class Body>
PF_Err ServeOnThread(int service, Body&& body) noexcept {
  CallContext* ctx = ContextOf(CurrentCall());
  return Guarded([&] { return ctx ? ctx->host->failures().Check(service) : PF_Err_NONE; }, [&] { return body(ctx); });
}

// What a run of one iterate band knows of its call, so that the per-pixel
// services called from the band's pixel function skip the lookups of a
// full service call: the effect_ref and context are resolved once per band,
// and the calls are counted in the band's tally.
struct PixelBand {
  PF_ProgPtr ref;
  CallContext* ctx;
  FailureInjector::Tally tally;
};

// The band running on this thread; NULL outside iterate's bands. Read on
// every per-pixel service call (pixel_services.cpp is compiled with TLS
// descriptors, whose lookup keeps every register, so the quick way saves
// none; a program links it to a plain load).
extern constinit thread_local PixelBand* current_pixel_band;

// The quick way in for a per-pixel service: true, with the call counted,
// inside an iterate band of the same effect_ref when the service has no
// armed failure to come; the service then answers without further
// bookkeeping. Else false, counting nothing: ServePixel serves the call.
inline bool CountedInBand(PF_ProgPtr ref, int service) noexcept {
  PixelBand* band = current_pixel_band;
  return band && band->ref == ref && band->tally.CountUnarmed(service);
}

// A per-pixel service: inside an iterate band of the same effect_ref it is
// counted in the band's tally; otherwise it is served as Serve serves.
// body() answers.
template <class Body>
PF_Err ServePixel(PF_ProgPtr ref, int service, Body&& body) noexcept {
  PixelBand* band = current_pixel_band;
  if (band && band->ref == ref) return Guarded([&] { return band->tally.Check(service); }, body);
  return Serve(ref, service, [&](CallContext&) { return body(); });
}

// A per-pixel service whose work is work(ref, args...), a function that
// throws nothing: the quick way when CountedInBand allows it, else
// ServePixel, kept out of line. Both are calls with the service's own
// arguments, so the quick way moves and saves no registers.
template <int service, auto work, class... Args>
[[gnu::noinline]] PF_Err ServePixelChecked(PF_ProgPtr ref, Args... args) noexcept {
  return ServePixel(ref, service, [&] { return work(ref, args...); });
}

template <int service, auto work, class... Args>
PF_Err ServePixelWork(PF_ProgPtr ref, Args... args) {
  static_assert(noexcept(work(ref, args...)));
  if (CountedInBand(ref, service)) return work(ref, args...);
  return ServePixelChecked<service, work>(ref, args...);
}

}  // namespace ombrix
