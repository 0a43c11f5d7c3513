// Parameter values: defaults, keyframe interpolation, and the definitions
// handed to a command with the values at its time.
#include "param_values.h"

#include "fixed_math.h"

#include <ombrix/host/host_error.h>
#include <ombrix/host/instance.h>

#include <algorithm>
#include <string>

namespace ombrix {
namespace {

// A full-resolution 16.16 coordinate in buffer pixels at the factor n/d,
// rounded to the nearest 16.16 unit.
PF_Fixed ScalePoint(PF_Fixed v, PF_RationalScale s) {
  if (s.den == 0) return v;
  return Clamp32(DivRoundHalfUp(Wide(v) * s.num, Wide(s.den)));
}

A_long Lerp(A_long a, A_long b, A_long t0, A_long t1, A_long t) {
  const Wide span = Wide(t1) - t0;
  return Clamp32(DivRoundHalfAway(Wide(a) * span + (Wide(b) - a) * (Wide(t) - t0), span));
}

bool Holds(PF_ParamType kind) { return kind == PF_Param_POPUP || kind == PF_Param_CHECKBOX || kind == PF_Param_LAYER; }

}  // namespace

ParamValue DefaultValue(const PF_ParamDef& def, A_long layer_w, A_long layer_h) {
  ParamValue v;
  switch (def.param_type) {
    case PF_Param_SLIDER:
      v.value = def.u.sd.dephault;
      break;
    case PF_Param_FIX_SLIDER:
      v.value = def.u.fd.dephault;
      break;
    case PF_Param_ANGLE:
      v.value = def.u.ad.dephault;
      break;
    case PF_Param_CHECKBOX:
      v.value = def.u.bd.dephault;
      break;
    case PF_Param_COLOR:
      v.color = def.u.cd.dephault;
      break;
    case PF_Param_POPUP:
      v.value = def.u.pd.dephault;
      break;
    case PF_Param_POINT:
      // Defaults are percentages of the layer (10.0 = 10 %).
      v.x = Clamp32(DivRoundHalfUp(Wide(def.u.td.x_dephault) * layer_w, 100));
      v.y = Clamp32(DivRoundHalfUp(Wide(def.u.td.y_dephault) * layer_h, 100));
      break;
    default:
      break;
  }
  return v;
}

void SetDefValue(PF_ParamDef& def, const ParamValue& v, const RenderSettings& settings) {
  switch (def.param_type) {
    case PF_Param_SLIDER:
      def.u.sd.value = v.value;
      break;
    case PF_Param_FIX_SLIDER:
      def.u.fd.value = v.value;
      break;
    case PF_Param_ANGLE:
      def.u.ad.value = v.value;
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = v.value;
      break;
    case PF_Param_COLOR:
      def.u.cd.value = v.color;
      break;
    case PF_Param_POPUP:
      def.u.pd.value = v.value;
      break;
    case PF_Param_POINT:
      def.u.td.x_value = ScalePoint(v.x, settings.downsample_x);
      def.u.td.y_value = ScalePoint(v.y, settings.downsample_y);
      break;
    default:
      break;
  }
}

std::vector<PF_ParamDef> Instance::ParamsAt(A_long time, const RenderSettings& settings) const {
  std::vector<PF_ParamDef> defs = effect_.params_;
  for (size_t i = 1; i < defs.size(); ++i) {
    if (defs[i].param_type == PF_Param_LAYER) {
      // Layers are filled in by the render; here an empty layer.
      const A_long dephault = defs[i].u.ld.dephault;
      defs[i].u.ld = PF_LayerDef{};
      defs[i].u.ld.dephault = dephault;
    } else {
      SetDefValue(defs[i], ValueAt(int(i), time), settings);
    }
  }
  return defs;
}

void Instance::SetValue(int index, const ParamValue& value) {
  if (index < 1 || size_t(index) >= tracks_.size()) throw HostError("no parameter " + std::to_string(index));
  tracks_[size_t(index)].value = value;
  tracks_[size_t(index)].keys.clear();
}

void Instance::AddKey(int index, A_long time, const ParamValue& value) {
  if (index < 1 || size_t(index) >= tracks_.size()) throw HostError("no parameter " + std::to_string(index));
  auto& keys = tracks_[size_t(index)].keys;
  auto it = std::lower_bound(keys.begin(), keys.end(), time, [](const Keyframe& k, A_long t) { return k.time < t; });
  if (it != keys.end() && it->time == time)
    it->value = value;
  else
    keys.insert(it, Keyframe{time, value});
}

ParamValue Instance::ValueAt(int index, A_long time) const {
  if (index < 0 || size_t(index) >= tracks_.size()) throw HostError("no parameter " + std::to_string(index));
  const Track& track = tracks_[size_t(index)];
  const auto& keys = track.keys;
  if (keys.empty()) return track.value;
  auto next = std::upper_bound(keys.begin(), keys.end(), time, [](A_long t, const Keyframe& k) { return t < k.time; });
  if (next == keys.begin()) return keys.front().value;
  if (next == keys.end()) return keys.back().value;
  const Keyframe& a = *(next - 1);
  const Keyframe& b = *next;
  const PF_ParamType kind = effect_.params_[size_t(index)].param_type;
  if (a.time == time || Holds(kind)) return a.value;
  ParamValue v = a.value;
  switch (kind) {
    case PF_Param_POINT:
      v.x = Lerp(a.value.x, b.value.x, a.time, b.time, time);
      v.y = Lerp(a.value.y, b.value.y, a.time, b.time, time);
      break;
    case PF_Param_COLOR: {
      auto ch = [&](A_u_char p, A_u_char q) { return A_u_char(Lerp(p, q, a.time, b.time, time)); };
      v.color.alpha = ch(a.value.color.alpha, b.value.color.alpha);
      v.color.red = ch(a.value.color.red, b.value.color.red);
      v.color.green = ch(a.value.color.green, b.value.color.green);
      v.color.blue = ch(a.value.color.blue, b.value.color.blue);
      break;
    }
    default:
      v.value = Lerp(a.value.value, b.value.value, a.time, b.time, time);
      break;
  }
  return v;
}

}  // namespace ombrix
