// Internals shared by the host's source files: the per-effect call context
// that effect_ref points to, the handle registry and the service tables.
#pragma once

#include <ombrix/host/host.h>

#include "service_ids.h"

#include <cstddef>
#include <mutex>

namespace ombrix {

// What a service needs to know about the call it serves. One per Effect;
// commands of one effect never overlap, so the per-command fields are
// simply rewritten by each command.
struct CallContext {
  static constexpr uint32_t kMagic = 0x4F425843;  // "OBXC"
  uint32_t magic = kMagic;
  Host* host = nullptr;
  Effect* effect = nullptr;
  Instance* instance = nullptr;   // NULL outside an instance's commands
  PF_Cmd cmd = -1;                // the command being served, -1 between commands
  RenderSettings settings;        // downsampling of the current command
};

}  // namespace ombrix

// effect_ref is a pointer to this record.
struct PF_ProgressInfo {
  ombrix::CallContext ctx;
};

namespace ombrix {

// The context of the command running on this thread (handle and block
// services get no effect_ref and find their host here). Pool workers
// inherit it for the duration of a band.
PF_ProgressInfo*& CurrentCall();

// Validates an effect_ref; NULL when it is not one of ours.
CallContext* ContextOf(PF_ProgPtr ref);

// Frees the handles, worlds and blocks made during commands of the effect
// whose effect_ref is `owner` and not released by it.
void ReleaseAllOwnedBy(const void* owner);

// Pixels of checked-out layers: transparent black, counted by
// LiveCheckoutCount and owned by the effect whose effect_ref is `owner`.
PF_Err NewCheckoutWorld(const void* owner, A_long width, A_long height, A_long pad_bytes, PF_EffectWorld* world);
// Frees a checkout's pixels; false when `data` is not a live checkout.
bool ReleaseCheckout(void* data);
// Frees the checkouts of `owner` that were never checked in.
void ReleaseCheckoutsOwnedBy(const void* owner);

// Counts one call of a service (its position in FailureInjector::ServiceNames(),
// see service_ids.h) against the current host's injector.
PF_Err Inject(CallContext* ctx, int service);

// The service tables of one effect, filled once when it is loaded (each
// effect gets its own copy so that a plug-in scribbling over its table
// cannot disturb another).
struct ServiceTables {
  PF_UtilCallbacks utils;
  PF_InteractCallbacks inter;
  SPBasicSuite basic;
};
void InitServiceTables(ServiceTables& tables);

// Registration of one parameter by the add_param service.
PF_Err AddParamFor(Effect& effect, PF_ParamIndex index, const PF_ParamDef* def);
// checkout_param for non-layer parameters.
PF_Err CheckoutParamFor(CallContext& ctx, PF_ParamIndex index, A_long what_time,
                        A_long time_step, A_u_long time_scale, PF_ParamDef* param);

// Sets the value fields of `def` (a copy of a registered definition) to `v`;
// point values are scaled by the downsample factors.
void SetDefValue(PF_ParamDef& def, const ParamValue& v, const RenderSettings& settings);

// The pixel bounds of a world, as a rect.
inline PF_Rect WholeRect(const PF_EffectWorld& w) { return PF_Rect{0, 0, w.width, w.height}; }

}  // namespace ombrix
