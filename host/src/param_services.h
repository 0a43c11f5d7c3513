// The work of the parameter services, done by the effect and instance that
// own the parameters (they are friends of Effect and Instance).
#pragma once

#include "call_context.h"

#include <pf/api.h>

namespace ombrix {

// Registration of one parameter by the add_param service.
PF_Err AddParamFor(Effect& effect, PF_ParamIndex index, const PF_ParamDef* def);
// The register_ui service: the custom UI record kept on the effect.
PF_Err RegisterUiFor(Effect& effect, const PF_CustomUIInfo* info);
// checkout_param: a parameter's definition with its value at `what_time`
// (in units of `time_scale`), or a layer's pixels at that time.
PF_Err CheckoutParamFor(CallContext& ctx, PF_ParamIndex index, A_long what_time, A_long time_step, A_u_long time_scale,
                        PF_ParamDef* param);

}  // namespace ombrix
