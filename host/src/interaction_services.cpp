// The interaction services: parameter registration and checkout, abort and
// progress, custom UI registration.
#include "memory_scope.h"
#include "param_services.h"
#include "service_boundary.h"
#include "service_ids.h"
#include "service_table.h"

#include <ombrix/host/host.h>

namespace ombrix {

PF_Err SvcAddParam(PF_ProgPtr ref, PF_ParamIndex index, PF_ParamDef* def) {
  return Serve(ref, ServiceId("add_param"), [&](CallContext& ctx) -> PF_Err {
    if (ctx.cmd != PF_Cmd_PARAMS_SETUP || !ctx.effect) return PF_Err_BAD_CALLBACK_PARAM;
    return AddParamFor(*ctx.effect, index, def);
  });
}

PF_Err SvcCheckoutParam(PF_ProgPtr ref, PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                        PF_ParamDef* param) {
  return Serve(ref, ServiceId("checkout_param"), [&](CallContext& ctx) -> PF_Err {
    return CheckoutParamFor(ctx, index, what_time, time_step, time_scale, param);
  });
}

PF_Err SvcCheckinParam(PF_ProgPtr ref, PF_ParamDef* param) {
  return Serve(ref, ServiceId("checkin_param"), [&](CallContext& ctx) -> PF_Err {
    if (!param) return PF_Err_BAD_CALLBACK_PARAM;
    // Only layers with pixels hold host memory; other checkouts, and a layer
    // checked out empty, hold nothing.
    if (param->param_type != PF_Param_LAYER || !param->u.ld.data) return PF_Err_NONE;
    if (!ctx.host->memory().DisposeWorld(HostMemory::WorldKind::kCheckout, param->u.ld.data))
      return PF_Err_BAD_CALLBACK_PARAM;  // not ours, or checked in twice
    const A_long dephault = param->u.ld.dephault;
    param->u.ld = PF_LayerDef{};
    param->u.ld.dephault = dephault;
    return PF_Err_NONE;
  });
}

PF_Err SvcAbort(PF_ProgPtr ref) {
  return Serve(ref, ServiceId("abort"), [&](CallContext& ctx) -> PF_Err {
    return ctx.host->abort_requested ? PF_Interrupt_CANCEL : PF_Err_NONE;
  });
}

PF_Err SvcProgress(PF_ProgPtr ref, A_long current, A_long total) {
  return Serve(ref, ServiceId("progress"), [&](CallContext& ctx) -> PF_Err {
    Host& host = *ctx.host;
    if (host.on_progress) {
      try {
        host.on_progress(current, total);
      } catch (...) {
        host.abort_requested = true;  // a failing progress report stops the work
      }
    }
    return host.abort_requested ? PF_Interrupt_CANCEL : PF_Err_NONE;
  });
}

PF_Err SvcRegisterUi(PF_ProgPtr ref, PF_CustomUIInfo* info) {
  return Serve(ref, ServiceId("register_ui"), [&](CallContext& ctx) -> PF_Err {
    return ctx.effect ? RegisterUiFor(*ctx.effect, info) : PF_Err_BAD_CALLBACK_PARAM;
  });
}

}  // namespace ombrix
