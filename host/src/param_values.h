// Parameter values as plug-ins receive them.
#pragma once

#include <ombrix/host/params.h>
#include <ombrix/host/render_settings.h>

#include <pf/api.h>

namespace ombrix {

// A parameter's registered default; point defaults (percentages of the
// layer) in 16.16 pixels of a layer_w x layer_h layer.
ParamValue DefaultValue(const PF_ParamDef& def, A_long layer_w, A_long layer_h);

// Sets the value fields of `def` (a copy of a registered definition) to `v`;
// point values are scaled by the downsample factors.
void SetDefValue(PF_ParamDef& def, const ParamValue& v, const RenderSettings& settings);

}  // namespace ombrix
