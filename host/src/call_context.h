// The per-effect call context that effect_ref points to, and the context of
// the command running on a thread.
#pragma once

#include <ombrix/host/render_settings.h>

#include <pf/api.h>

#include <cstdint>

namespace ombrix {

class Host;
class Effect;
class Instance;

// What a service needs to know about the call it serves. One per Effect;
// commands of one effect never overlap, so the per-command fields are
// simply rewritten by each command.
struct CallContext {
  static constexpr uint32_t kMagic = 0x4F425843;  // "OBXC"
  uint32_t magic = kMagic;
  Host* host = nullptr;
  Effect* effect = nullptr;
  Instance* instance = nullptr;  // NULL outside an instance's commands
  PF_Cmd cmd = -1;               // the command being served, -1 between commands
  RenderSettings settings;       // downsampling of the current command
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
inline CallContext* ContextOf(PF_ProgPtr ref) {
  if (!ref || ref->ctx.magic != CallContext::kMagic || !ref->ctx.host) return nullptr;
  return &ref->ctx;
}

// What the memory a command's services make is owned by: its effect_ref.
inline const void* OwnerOf(const CallContext* ctx) { return ctx; }

}  // namespace ombrix
