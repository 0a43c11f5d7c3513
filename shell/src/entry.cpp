// The commands every plug-in answers the same way, apart from its identity row.
#include <pf/shell.h>

namespace pf {

PF_Err NoCommand(PF_InData*, PF_OutData*, PF_ParamDef*[], PF_LayerDef*, void*) {
  return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData*, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  out_data->my_version = kEffectVersion;
  out_data->out_flags |= A_long(kPluginRow.global_flags);
  return PF_Err_NONE;
}

void WriteAboutText(PF_InData* in_data, PF_OutData* out_data, const char* display_name) {
  in_data->utils->ansi.sprintf(out_data->return_msg, "%s, v%d.%d  %s\r\r%s", display_name, 1, 0,
                               kLegalNotice, kAboutHint);
}

PF_Err About(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef*[], PF_LayerDef*, void*) {
  // An Alt-click opens the vendor's web page instead of the text; that branch
  // joins here with the platform layer's key state and launcher.
  WriteAboutText(in_data, out_data, kPluginRow.display_name);
  return PF_Err_NONE;
}

}  // namespace pf
