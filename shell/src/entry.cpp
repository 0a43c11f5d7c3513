// The commands every plug-in answers the same way, apart from its identity row.
#include <pf/shell.h>

namespace pf {

PF_Err GlobalSetup(PF_InData*, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  out_data->my_version = kEffectVersion;
  out_data->out_flags |= A_long(kPluginRow.global_flags);
  return PF_Err_NONE;
}

}  // namespace pf
