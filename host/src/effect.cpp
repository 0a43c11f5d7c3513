// Loading a plug-in and driving it: the command protocol, parameter
// registration, keyframed values and sequence data.
#include "host_internal.h"

#include <ombrix/host/image_io.h>
#include <ombrix/host/pixel_ops.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <dlfcn.h>

namespace ombrix {

namespace {

using Wide = __int128;

// a / b rounded to the nearest integer, halves up (b > 0).
int64_t DivRoundHalfUp(Wide a, Wide b) {
  Wide n = 2 * a + b, d = 2 * b;
  Wide q = n / d;
  if ((n % d != 0) && (n < 0)) --q;  // floor
  return int64_t(q);
}

// a / b rounded to the nearest integer, halves away from zero (b > 0).
int64_t DivRoundHalfAway(Wide a, Wide b) {
  Wide q = a / b, r = a % b;
  if (r < 0) r = -r;
  if (2 * r >= b) q += (a < 0) ? -1 : 1;
  return int64_t(q);
}

A_long Clamp32(int64_t v) { return A_long(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

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

bool Holds(PF_ParamType kind) {
  return kind == PF_Param_POPUP || kind == PF_Param_CHECKBOX || kind == PF_Param_LAYER;
}

ParamValue DefaultValue(const PF_ParamDef& def, A_long layer_w, A_long layer_h) {
  ParamValue v;
  switch (def.param_type) {
    case PF_Param_SLIDER: v.value = def.u.sd.dephault; break;
    case PF_Param_FIX_SLIDER: v.value = def.u.fd.dephault; break;
    case PF_Param_ANGLE: v.value = def.u.ad.dephault; break;
    case PF_Param_CHECKBOX: v.value = def.u.bd.dephault; break;
    case PF_Param_COLOR: v.color = def.u.cd.dephault; break;
    case PF_Param_POPUP: v.value = def.u.pd.dephault; break;
    case PF_Param_POINT:
      // Defaults are percentages of the layer (10.0 = 10 %).
      v.x = Clamp32(DivRoundHalfUp(Wide(def.u.td.x_dephault) * layer_w, 100));
      v.y = Clamp32(DivRoundHalfUp(Wide(def.u.td.y_dephault) * layer_h, 100));
      break;
    default: break;
  }
  return v;
}

}  // namespace

void SetDefValue(PF_ParamDef& def, const ParamValue& v, const RenderSettings& settings) {
  switch (def.param_type) {
    case PF_Param_SLIDER: def.u.sd.value = v.value; break;
    case PF_Param_FIX_SLIDER: def.u.fd.value = v.value; break;
    case PF_Param_ANGLE: def.u.ad.value = v.value; break;
    case PF_Param_CHECKBOX: def.u.bd.value = v.value; break;
    case PF_Param_COLOR: def.u.cd.value = v.color; break;
    case PF_Param_POPUP: def.u.pd.value = v.value; break;
    case PF_Param_POINT:
      def.u.td.x_value = ScalePoint(v.x, settings.downsample_x);
      def.u.td.y_value = ScalePoint(v.y, settings.downsample_y);
      break;
    default: break;
  }
}

// ---------------------------------------------------------------------------
// Effect
// ---------------------------------------------------------------------------
struct Effect::Impl {
  PF_ProgressInfo ref;
  ServiceTables tables;
  void* module = nullptr;
  PF_EntryFunc entry = nullptr;
  std::mutex send_mutex;  // commands of one effect never overlap
  std::vector<std::string> popup_text;      // per parameter index
  std::vector<std::string> checkbox_label;  // per parameter index

  PF_Err Send(Effect& e, Instance* instance, const RenderSettings& settings, PF_Cmd cmd, PF_InData& in,
              PF_OutData& out, PF_ParamDef** params, PF_LayerDef* output, void* extra) {
    std::lock_guard lock(send_mutex);
    CallContext& ctx = ref.ctx;
    ctx.cmd = cmd;
    ctx.instance = instance;
    ctx.settings = settings;
    PF_ProgressInfo* saved = CurrentCall();
    CurrentCall() = &ref;
    const PF_Err err = entry(cmd, &in, &out, params, output, extra);
    CurrentCall() = saved;
    // Layers checked out and never checked in go back when the command ends.
    ReleaseCheckoutsOwnedBy(&ref);
    ctx.cmd = -1;
    ctx.instance = nullptr;
    const size_t n = strnlen(out.return_msg, sizeof out.return_msg);
    if (n && e.host_.on_message) e.host_.on_message(std::string_view(out.return_msg, n));
    return err;
  }

  void Unload() {
    ReleaseAllOwnedBy(&ref);
    if (module) dlclose(module);
    module = nullptr;
    entry = nullptr;
  }
};

Effect::Effect(Host& host, const PluginFile& file) : host_(host), file_(file), impl_(std::make_unique<Impl>()) {
  impl_->ref.ctx.host = &host_;
  impl_->ref.ctx.effect = this;
  InitServiceTables(impl_->tables);
  PF_ParamDef input{};
  input.param_type = PF_Param_LAYER;
  input.u.ld.dephault = PF_LayerDefault_MYSELF;
  params_.push_back(input);
  impl_->popup_text.emplace_back();
  impl_->checkbox_label.emplace_back();

  dlerror();
  impl_->module = dlopen(file_.path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!impl_->module) {
    const char* why = dlerror();
    throw HostError(file_.path.string() + ": cannot load: " + (why ? why : "unknown error"));
  }
  impl_->entry = reinterpret_cast<PF_EntryFunc>(dlsym(impl_->module, "main"));
  if (!impl_->entry) {
    impl_->Unload();
    throw HostError(file_.path.string() + ": no entry point 'main'");
  }

  const std::string name = file_.pipl.display_name.empty() ? file_.short_name : file_.pipl.display_name;
  {
    PF_InData in = BaseInData();
    PF_OutData out{};
    const PF_Err err = impl_->Send(*this, nullptr, {}, PF_Cmd_GLOBAL_SETUP, in, out, nullptr, nullptr, nullptr);
    global_data_ = out.global_data;
    my_version_ = out.my_version;
    global_out_flags_ = out.out_flags;
    if (err) {
      DisposeHandle(global_data_);
      impl_->Unload();
      throw HostError(name + ": global setup failed with error " + std::to_string(err), err);
    }
  }
  PF_InData in = BaseInData();
  PF_OutData out{};
  out.global_data = global_data_;
  const PF_Err err = impl_->Send(*this, nullptr, {}, PF_Cmd_PARAMS_SETUP, in, out, nullptr, nullptr, nullptr);
  num_params_ = out.num_params;
  if (err) {
    PF_InData in2 = BaseInData();
    PF_OutData out2{};
    out2.global_data = global_data_;
    impl_->Send(*this, nullptr, {}, PF_Cmd_GLOBAL_SETDOWN, in2, out2, nullptr, nullptr, nullptr);
    DisposeHandle(global_data_);
    impl_->Unload();
    throw HostError(name + ": parameter setup failed with error " + std::to_string(err), err);
  }
}

Effect::~Effect() {
  try {
    PF_InData in = BaseInData();
    PF_OutData out{};
    out.global_data = global_data_;
    impl_->Send(*this, nullptr, {}, PF_Cmd_GLOBAL_SETDOWN, in, out, nullptr, nullptr, nullptr);
  } catch (...) {
  }
  // Whatever global data the plug-in left behind is the host's to free.
  DisposeHandle(global_data_);
  impl_->Unload();
}

PF_InData Effect::BaseInData() {
  PF_InData in{};
  in.inter = impl_->tables.inter;
  in.utils = &impl_->tables.utils;
  in.effect_ref = &impl_->ref;
  in.quality = PF_Quality_HI;
  in.version_major = 13;
  in.version_minor = 0;
  in.num_params = num_params_;
  in.time_scale = 1;
  in.downsample_x = in.downsample_y = PF_RationalScale{1, 1};
  in.pixel_aspect_ratio = PF_RationalScale{1, 1};
  in.global_data = global_data_;
  in.pica_basicP = &impl_->tables.basic;
  return in;
}

PF_Err Effect::Send(PF_Cmd cmd, PF_InData& in_data, PF_OutData& out_data, PF_ParamDef** params,
                    PF_LayerDef* output, void* extra) {
  return impl_->Send(*this, nullptr, {}, cmd, in_data, out_data, params, output, extra);
}

PF_Err AddParamFor(Effect& effect, PF_ParamIndex index, const PF_ParamDef* def) {
  if (!def) return PF_Err_BAD_CALLBACK_PARAM;
  const auto count = PF_ParamIndex(effect.params_.size());
  if (index != -1 && index != count) return PF_Err_INVALID_INDEX;
  if (def->param_type < PF_Param_LAYER || def->param_type > PF_Param_POPUP) return PF_Err_UNRECOGNIZED_PARAM_TYPE;
  effect.params_.push_back(*def);  // byte for byte, leftovers of a reused record included
  std::string popup, label;
  if (def->param_type == PF_Param_POPUP && def->u.pd.u.namesptr) popup = def->u.pd.u.namesptr;
  if (def->param_type == PF_Param_CHECKBOX && def->u.bd.u.nameptr) label = def->u.bd.u.nameptr;
  effect.impl_->popup_text.push_back(std::move(popup));
  effect.impl_->checkbox_label.push_back(std::move(label));
  return PF_Err_NONE;
}

std::vector<std::string> Effect::PopupItems(int index) const {
  std::vector<std::string> items;
  if (index < 0 || size_t(index) >= params_.size() || params_[size_t(index)].param_type != PF_Param_POPUP)
    return items;
  std::string_view text = impl_->popup_text[size_t(index)];
  for (;;) {
    size_t bar = text.find('|');
    items.emplace_back(text.substr(0, bar));
    if (bar == std::string_view::npos) break;
    text.remove_prefix(bar + 1);
  }
  return items;
}

std::string Effect::CheckboxLabel(int index) const {
  if (index < 0 || size_t(index) >= params_.size()) return {};
  return impl_->checkbox_label[size_t(index)];
}

int Effect::FindParam(std::string_view key) const {
  int index = 0;
  auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), index);
  if (ec == std::errc() && end == key.data() + key.size() && !key.empty())
    return (index >= 0 && size_t(index) < params_.size()) ? index : -1;
  for (size_t i = 1; i < params_.size(); ++i) {
    const PF_ParamDef& d = params_[i];
    const std::string_view name(d.name, strnlen(d.name, sizeof d.name));
    if (!name.empty() && name == key) return int(i);
  }
  for (size_t i = 1; i < params_.size(); ++i) {
    const PF_ParamDef& d = params_[i];
    // A check box whose name is empty or only spaces is known by its label.
    const std::string_view name(d.name, strnlen(d.name, sizeof d.name));
    if (d.param_type == PF_Param_CHECKBOX && name.find_first_not_of(' ') == std::string_view::npos &&
        impl_->checkbox_label[i] == key)
      return int(i);
  }
  return -1;
}

// ---------------------------------------------------------------------------
// Instance
// ---------------------------------------------------------------------------
Instance::Instance(Effect& effect, TimeBase time, A_long layer_width, A_long layer_height,
                   std::optional<std::vector<uint8_t>> stored)
    : effect_(effect), time_(time), layer_width_(layer_width), layer_height_(layer_height) {
  total_time_ = time_.time_step;
  layers_.resize(effect_.params_.size());
  for (const PF_ParamDef& def : effect_.params_)
    tracks_.push_back(Track{DefaultValue(def, layer_width_, layer_height_), {}});
  const auto params = ParamsAt(0, {});
  std::vector<PF_ParamDef> copy = params;
  std::vector<PF_ParamDef*> ptrs;
  for (auto& p : copy) ptrs.push_back(&p);
  if (stored) {
    PF_Handle h = NewHandle(stored->size());
    if (!h) throw HostError("out of memory for stored sequence data", PF_Err_OUT_OF_MEMORY);
    if (!stored->empty()) std::memcpy(*h, stored->data(), stored->size());
    sequence_data_ = h;
    setup_result_ = Run(PF_Cmd_SEQUENCE_RESETUP, 0, ptrs.data(), nullptr, nullptr, {});
    AdoptSequenceData(h, sequence_data_, true);
  } else {
    setup_result_ = Run(PF_Cmd_SEQUENCE_SETUP, 0, ptrs.data(), nullptr, nullptr, {});
  }
}

Instance::~Instance() {
  try {
    Command(PF_Cmd_SEQUENCE_SETDOWN);
  } catch (...) {
  }
  // Sequence data the plug-in did not release is the host's to free.
  DisposeHandle(sequence_data_);
  sequence_data_ = nullptr;
}

void Instance::AdoptSequenceData(PF_Handle handed_in, PF_Handle returned, bool host_made) {
  sequence_data_ = returned;
  // A handle the host made for the command and the plug-in replaced.
  if (host_made && handed_in != returned) DisposeHandle(handed_in);
}

CommandResult Instance::Run(PF_Cmd cmd, A_long time, PF_ParamDef** params, PF_LayerDef* output, void* extra,
                            const RenderSettings& settings) {
  PF_InData in = effect_.BaseInData();
  in.current_time = time;
  in.time_step = time_.time_step;
  in.local_time_step = time_.time_step;
  in.total_time = total_time_;
  in.time_scale = time_.time_scale;
  in.width = layer_width_;
  in.height = layer_height_;
  in.extent_hint = output ? WholeRect(*output) : PF_Rect{0, 0, layer_width_, layer_height_};
  in.downsample_x = settings.downsample_x;
  in.downsample_y = settings.downsample_y;
  in.pixel_aspect_ratio = settings.pixel_aspect;
  in.quality = settings.quality;
  in.sequence_data = sequence_data_;
  // out_data starts clear on every command, so no flag or message carries over.
  PF_OutData out{};
  out.sequence_data = sequence_data_;
  out.global_data = effect_.global_data_;
  CommandResult r;
  r.err = effect_.impl_->Send(effect_, this, settings, cmd, in, out, params, output, extra);
  sequence_data_ = out.sequence_data;
  r.out_flags = out.out_flags;
  r.message.assign(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
  return r;
}

std::vector<PF_ParamDef> Instance::ParamsAt(A_long time, const RenderSettings& settings) const {
  std::vector<PF_ParamDef> defs = effect_.params_;
  for (size_t i = 1; i < defs.size(); ++i) {
    if (defs[i].param_type == PF_Param_LAYER) {
      // Layer parameters are not served yet: an empty layer.
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
    default: v.value = Lerp(a.value.value, b.value.value, a.time, b.time, time); break;
  }
  return v;
}

// A layer parameter's binding and the image last loaded for it.
struct Instance::LayerFeed {
  LayerSource source;
  bool cached = false;
  int64_t frame = 0;  // the sequence frame held in `world`
  World world;
};

BufferSize BufferSizeFor(A_long full_width, A_long full_height, const RenderSettings& settings) {
  return BufferSize{ScaledSize(full_width, settings.downsample_x.num, A_long(settings.downsample_x.den)),
                    ScaledSize(full_height, settings.downsample_y.num, A_long(settings.downsample_y.den))};
}

World DownsampledWorld(const PF_EffectWorld& full, const RenderSettings& settings, A_long pad_bytes) {
  const BufferSize size = BufferSizeFor(full.width, full.height, settings);
  World w(size.width, size.height, pad_bytes);
  if (size.width > 0 && size.height > 0) ScaledCopy(full, w.pf());
  return w;
}

namespace {

std::string SizeText(A_long w, A_long h) { return std::to_string(w) + "x" + std::to_string(h); }

A_long PaddingOf(const PF_EffectWorld& w) { return std::max<A_long>(w.rowbytes - 4 * w.width, 0); }

}  // namespace

CommandResult Instance::RenderFrame(A_long time, PF_EffectWorld& input, World& output,
                                    const RenderSettings& settings) {
  const BufferSize size = BufferSizeAt(settings);
  if (output.width() != size.width || output.height() != size.height)
    output = World(size.width, size.height, PaddingOf(output.pf()));
  return RenderFrame(time, input, output.pf(), settings);
}

CommandResult Instance::RenderFrame(A_long time, PF_EffectWorld& input, PF_EffectWorld& output,
                                    const RenderSettings& settings) {
  const BufferSize size = BufferSizeAt(settings);
  const bool full = input.width == layer_width_ && input.height == layer_height_;
  if (!full && (input.width != size.width || input.height != size.height))
    throw HostError("the input is " + SizeText(input.width, input.height) + "; expected the layer's " +
                    SizeText(layer_width_, layer_height_) + " or the buffer's " + SizeText(size.width, size.height));
  if (output.width != size.width || output.height != size.height)
    throw HostError("the output is " + SizeText(output.width, output.height) + "; expected the buffer's " +
                    SizeText(size.width, size.height));
  if (!input.data || !output.data) throw HostError("render buffers must hold pixels");
  if (input.data == output.data) throw HostError("the output must be a buffer of its own");

  // The plug-in's input: the box reduction of the full layer when downsampling.
  World reduced;
  PF_EffectWorld* in_world = &input;
  if (full && (size.width != input.width || size.height != input.height)) {
    reduced = DownsampledWorld(input, settings, PaddingOf(input));
    in_world = &reduced.pf();
  }
  struct CurrentInput {
    Instance& inst;
    ~CurrentInput() { inst.current_input_ = nullptr; }
  } current{*this};
  current_input_ = &input;
  current_input_full_ = full;
  service_error_.clear();

  // The other layer parameters at this time, reduced like the input.
  std::vector<World> layer_worlds;
  std::vector<std::pair<size_t, PF_EffectWorld>> layer_values;
  for (size_t i = 1; i < effect_.params_.size(); ++i) {
    if (effect_.params_[i].param_type != PF_Param_LAYER) continue;
    const LayerSource source = SourceOf(int(i));
    if (source.kind == LayerSource::Kind::kNone) continue;
    if (source.kind == LayerSource::Kind::kSelf && !(layers_[0] && layers_[0]->source.kind == LayerSource::Kind::kImage)) {
      layer_values.emplace_back(i, *in_world);
      continue;
    }
    bool layer_full = true;
    const PF_EffectWorld* layer = LayerAt(int(i), time, time_.time_scale, layer_full);
    if (!layer) continue;
    if (layer_full) {
      layer_worlds.push_back(DownsampledWorld(*layer, settings, PaddingOf(input)));
    } else {
      layer_worlds.emplace_back(layer->width, layer->height, PaddingOf(input));
      ScaledCopy(*layer, layer_worlds.back().pf());
    }
    layer_values.emplace_back(i, layer_worlds.back().pf());
  }

  // The output starts as transparent black, padding included.
  std::memset(output.data, 0, size_t(output.rowbytes) * size_t(output.height));

  auto make_params = [&](std::vector<PF_ParamDef>& defs, std::vector<PF_ParamDef*>& ptrs) {
    defs = ParamsAt(time, settings);
    defs[0].u.ld = *in_world;
    defs[0].u.ld.dephault = PF_LayerDefault_MYSELF;
    for (const auto& [index, world] : layer_values) {
      const A_long dephault = defs[index].u.ld.dephault;
      defs[index].u.ld = world;
      defs[index].u.ld.dephault = dephault;
    }
    ptrs.clear();
    for (auto& d : defs) ptrs.push_back(&d);
  };
  auto explain = [&](CommandResult& r) {
    if (r.err && r.message.empty() && !service_error_.empty()) r.message = service_error_;
  };
  std::vector<PF_ParamDef> defs;
  std::vector<PF_ParamDef*> ptrs;
  make_params(defs, ptrs);
  CommandResult setup = Run(PF_Cmd_FRAME_SETUP, time, ptrs.data(), &output, nullptr, settings);
  if (setup.err) {
    explain(setup);
    return setup;
  }
  if (setup.out_flags & PF_OutFlag_NOP_RENDER) {
    for (A_long y = 0; y < in_world->height; ++y)
      std::memcpy(reinterpret_cast<uint8_t*>(output.data) + size_t(y) * output.rowbytes,
                  reinterpret_cast<const uint8_t*>(in_world->data) + size_t(y) * in_world->rowbytes,
                  size_t(in_world->width) * 4);
    return setup;
  }
  make_params(defs, ptrs);  // fresh copies: FRAME_SETUP may have written into them
  CommandResult render = Run(PF_Cmd_RENDER, time, ptrs.data(), &output, nullptr, settings);
  if (render.message.empty()) render.message = setup.message;
  explain(render);
  return render;
}

// ---------------------------------------------------------------------------
// Layer parameters
// ---------------------------------------------------------------------------
LayerSource LayerSource::Image(ImageSource source, std::optional<FrameRate> rate) {
  LayerSource s;
  s.kind = Kind::kImage;
  s.image = std::make_shared<const ImageSource>(std::move(source));
  s.rate = rate;
  return s;
}

void Instance::BindLayer(int index, LayerSource source) {
  if (index < 0 || size_t(index) >= effect_.params_.size() ||
      effect_.params_[size_t(index)].param_type != PF_Param_LAYER)
    throw HostError("parameter " + std::to_string(index) + " is not a layer");
  if (source.kind == LayerSource::Kind::kImage && !source.image) throw HostError("a layer image needs a source");
  if (source.rate && (source.rate->num <= 0 || source.rate->den <= 0))
    throw HostError("a layer's frame rate must be positive");
  if (index == 0 && source.kind == LayerSource::Kind::kNone)
    throw HostError("the effect's own layer cannot be none");
  auto feed = std::make_shared<LayerFeed>();
  feed->source = std::move(source);
  layers_[size_t(index)] = std::move(feed);
}

LayerSource Instance::SourceOf(int index) const {
  if (layers_[size_t(index)]) return layers_[size_t(index)]->source;
  if (index == 0 || effect_.params_[size_t(index)].u.ld.dephault == PF_LayerDefault_MYSELF) return LayerSource::Self();
  return LayerSource::None();
}

// The layer's image at `what_time` (in units of `time_scale`): NULL for no
// layer; `full_size` tells whether it is at full resolution (a source
// image, or the render's full input) or already at the buffer size.
const PF_EffectWorld* Instance::LayerAt(int index, A_long what_time, A_u_long time_scale, bool& full_size) {
  const LayerSource source = SourceOf(index);
  if (source.kind == LayerSource::Kind::kNone) return nullptr;
  if (source.kind == LayerSource::Kind::kSelf) {
    if (index != 0) return LayerAt(0, what_time, time_scale, full_size);
    if (!current_input_) throw HostError("the effect's own layer is only known during a render");
    full_size = current_input_full_;
    return current_input_;
  }
  LayerFeed& feed = *layers_[size_t(index)];
  const ImageSource& image = *feed.source.image;
  full_size = true;
  int64_t frame = 0;
  if (image.kind == SourceKind::kSequence) {
    // Frames per second as a ratio: the layer's own rate, else the instance's.
    const Wide per_second_num = feed.source.rate ? Wide(feed.source.rate->num) : Wide(time_.time_scale);
    const Wide per_second_den = feed.source.rate ? Wide(feed.source.rate->den) : Wide(time_.time_step);
    const Wide n = Wide(what_time) * per_second_num, d = Wide(time_scale) * per_second_den;
    Wide f = n / d;
    if (n % d != 0 && n < 0) --f;  // floor
    frame = SequenceFrameAt(image, int64_t(std::clamp<Wide>(f, INT64_MIN / 2, INT64_MAX / 2)), 1);
  }
  if (!feed.cached || feed.frame != frame) {
    feed.cached = false;
    feed.world = LoadSource(image, frame, 1, 0);
    feed.frame = frame;
    feed.cached = true;
  }
  return &feed.world.pf();
}

PF_Err Instance::CheckoutLayer(int index, A_long what_time, A_u_long time_scale, const RenderSettings& settings,
                               PF_ParamDef* param, const void* owner, A_long pad_bytes) {
  const PF_ParamDef& def = effect_.params_[size_t(index)];
  bool full = true;
  const PF_EffectWorld* layer = LayerAt(index, what_time, time_scale, full);
  *param = def;
  param->u.ld = PF_LayerDef{};
  param->u.ld.dephault = def.u.ld.dephault;
  if (!layer || !layer->data) return PF_Err_NONE;  // no layer: a checkout without pixels
  const BufferSize size = full ? BufferSizeFor(layer->width, layer->height, settings)
                               : BufferSize{layer->width, layer->height};
  PF_EffectWorld world;
  if (PF_Err e = NewCheckoutWorld(owner, size.width, size.height, pad_bytes, &world)) return e;
  try {
    ScaledCopy(*layer, world);
  } catch (...) {
    ReleaseCheckout(world.data);
    throw;
  }
  param->u.ld = world;
  param->u.ld.dephault = def.u.ld.dephault;
  return PF_Err_NONE;
}

CommandResult Instance::Command(PF_Cmd cmd, A_long time, void* extra) {
  std::vector<PF_ParamDef> defs = ParamsAt(time, {});
  std::vector<PF_ParamDef*> ptrs;
  for (auto& d : defs) ptrs.push_back(&d);
  return Run(cmd, time, ptrs.data(), nullptr, extra, {});
}

std::vector<uint8_t> Instance::SequenceDataBytes() {
  if (effect_.global_out_flags_ & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING) {
    CommandResult r = Command(PF_Cmd_SEQUENCE_FLATTEN);
    if (r.err) throw HostError("flattening sequence data failed with error " + std::to_string(r.err), r.err);
  }
  std::vector<uint8_t> bytes;
  if (HandleIsLive(sequence_data_)) {
    const auto* p = static_cast<const uint8_t*>(*sequence_data_);
    bytes.assign(p, p + HandleSize(sequence_data_));
  }
  if (effect_.global_out_flags_ & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING) {
    // Back to working form, as after saving a project.
    PF_Handle flat = sequence_data_;
    CommandResult r = Command(PF_Cmd_SEQUENCE_RESETUP);
    AdoptSequenceData(flat, sequence_data_, true);
    if (r.err) throw HostError("restoring sequence data failed with error " + std::to_string(r.err), r.err);
  }
  return bytes;
}

PF_Err CheckoutParamFor(CallContext& ctx, PF_ParamIndex index, A_long what_time, A_long, A_u_long time_scale,
                        PF_ParamDef* param) {
  if (!param || !ctx.effect) return PF_Err_BAD_CALLBACK_PARAM;
  const Effect& effect = *ctx.effect;
  if (index < 0 || size_t(index) >= effect.params().size()) return PF_Err_INVALID_INDEX;
  const PF_ParamDef& def = effect.params()[size_t(index)];
  Instance* inst = ctx.instance;
  if (!inst || time_scale == 0) return PF_Err_BAD_CALLBACK_PARAM;
  if (def.param_type == PF_Param_LAYER) {
    // Nothing may be thrown into the plug-in: failures become error codes,
    // with the reason kept for the caller of the render.
    try {
      return inst->CheckoutLayer(index, what_time, time_scale, ctx.settings, param, &ctx,
                                 ctx.host->options().pad_rows);
    } catch (const std::bad_alloc&) {
      inst->service_error_ = "out of memory checking out a layer";
      return PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
      inst->service_error_ = std::string("checking out layer ") + std::to_string(index) + ": " + e.what();
      return PF_Err_BAD_CALLBACK_PARAM;
    }
  }
  A_long t = what_time;
  if (time_scale != inst->time_.time_scale)
    t = Clamp32(DivRoundHalfUp(Wide(what_time) * inst->time_.time_scale, Wide(time_scale)));
  *param = def;
  SetDefValue(*param, inst->ValueAt(index, t), ctx.settings);
  return PF_Err_NONE;
}

}  // namespace ombrix
