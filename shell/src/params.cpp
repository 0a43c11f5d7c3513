// Table-driven parameter registration.
#include <pf/shell.h>

#include <cstring>

namespace pf {

void FillParamDef(const ParamSpec& spec, PF_InData* in_data, PF_ParamDef& def) {
  def.param_type = spec.kind;
  in_data->utils->ansi.strcpy(def.name, spec.name);
  def.flags = spec.flags;
  def.ui_flags = spec.ui_flags;
  def.ui_width = spec.ui_width;
  def.ui_height = spec.ui_height;
  PF_ParamDefUnion& u = def.u;
  switch (spec.kind) {
    case PF_Param_LAYER:
      u.ld.dephault = PF_LayerDefault_MYSELF;
      break;
    case PF_Param_SLIDER:
      u.sd.value = spec.value;
      u.sd.value_str[0] = '\0';
      u.sd.value_desc[0] = '\0';
      u.sd.valid_min = spec.valid_min;
      u.sd.valid_max = spec.valid_max;
      u.sd.slider_min = spec.slider_min;
      u.sd.slider_max = spec.slider_max;
      u.sd.dephault = spec.value;
      break;
    case PF_Param_FIX_SLIDER:
      u.fd.value = spec.value;
      u.fd.value_str[0] = '\0';
      u.fd.value_desc[0] = '\0';
      u.fd.valid_min = spec.valid_min;
      u.fd.valid_max = spec.valid_max;
      u.fd.slider_min = spec.slider_min;
      u.fd.slider_max = spec.slider_max;
      u.fd.dephault = spec.value;
      u.fd.precision = spec.precision;
      u.fd.display_flags = spec.display_flags;
      break;
    case PF_Param_ANGLE:
      u.ad.value = spec.value;
      u.ad.dephault = spec.value;
      break;
    case PF_Param_CHECKBOX:
      u.bd.value = spec.value;
      u.bd.dephault = PF_Boolean(spec.value);
      u.bd.u.nameptr = spec.text;
      break;
    case PF_Param_COLOR:
      u.cd.value = spec.color;
      u.cd.dephault = spec.color;
      break;
    case PF_Param_POINT:
      u.td.x_value = spec.x;
      u.td.y_value = spec.y;
      u.td.restrict_bounds = spec.restrict_bounds;
      u.td.x_dephault = spec.x;
      u.td.y_dephault = spec.y;
      break;
    case PF_Param_POPUP:
      u.pd.value = spec.value;
      u.pd.num_choices = PopupItemCount(spec.text);
      u.pd.dephault = A_short(spec.value);
      u.pd.u.namesptr = spec.text;
      break;
    default:
      break;
  }
}

PF_Err RegisterParams(PF_InData* in_data, PF_OutData* out_data, std::span<const ParamSpec> specs, ParamRecord record) {
  PF_ParamDef def;
  std::memset(&def, 0, sizeof def);
  for (const ParamSpec& spec : specs) {
    if (record == ParamRecord::kClearedEach) std::memset(&def, 0, sizeof def);
    FillParamDef(spec, in_data, def);
    const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def);
    if (err != PF_Err_NONE) return err;
  }
  out_data->num_params = A_long(specs.size()) + 1;
  return PF_Err_NONE;
}

}  // namespace pf
