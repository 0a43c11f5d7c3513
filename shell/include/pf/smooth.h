// The host's smoothing routine as the effects call it: looked up through
// get_callback_addr (routine -2) and applied to a world in place.
#pragma once

#include <pf/api.h>

namespace pf {

// Softens `world` in place over about `radius` pixels with the host's routine.
// `block` points to the caller's three 32-bit words, `mode` is 'a' (97,
// alpha), 'o' (111, colour and alpha) or '~' (126, red, green, blue). An
// error from the lookup or from the routine is returned unchanged; after a
// failed lookup the routine is not called.
inline PF_Err SmoothWorld(PF_InData* in_data, PF_OutData* out_data, PF_FpLong radius, A_long* block, A_long mode,
                          PF_EffectWorld* world) {
  void* fn = nullptr;
  if (PF_Err err = in_data->utils->get_callback_addr(in_data->effect_ref, in_data->quality, 1, PF_Callback_SMOOTH, &fn))
    return err;
  if (!fn) return PF_Err_BAD_CALLBACK_PARAM;
  return reinterpret_cast<PF_SmoothFunc>(fn)(in_data, out_data, radius, block, mode, world);
}

}  // namespace pf
