// What an Effect holds behind its public face: the module, the effect_ref
// its commands run under, and its service tables. Instances send their
// commands through it.
#pragma once

#include "call_context.h"
#include "service_table.h"

#include <ombrix/host/effect.h>

#include <mutex>
#include <string>
#include <vector>

namespace ombrix {

struct Effect::Impl {
  PF_ProgressInfo ref;
  ServiceTables tables;
  void* module = nullptr;
  PF_EntryFunc entry = nullptr;
  std::mutex send_mutex;                    // commands of one effect never overlap
  std::vector<std::string> popup_text;      // per parameter index
  std::vector<std::string> checkbox_label;  // per parameter index

  // Sends one command under this effect's effect_ref, for `instance` (NULL:
  // the effect's own commands), and hands a non-empty return_msg to the
  // host's message sink. Layers checked out during the command and never
  // checked in are freed when it ends.
  PF_Err Send(Effect& effect, Instance* instance, const RenderSettings& settings, PF_Cmd cmd, PF_InData& in,
              PF_OutData& out, PF_ParamDef** params, PF_LayerDef* output, void* extra);
  // Frees what the plug-in left behind and unloads the module.
  void Unload(Effect& effect);
};

}  // namespace ombrix
