// Rendering one frame: the buffers checked, the plug-in's input and layers
// reduced to the buffer size, then FRAME_SETUP and RENDER.
#include "world_views.h"

#include <ombrix/host/host_error.h>
#include <ombrix/host/instance.h>
#include <ombrix/host/pixel_ops.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace ombrix {

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

}  // namespace

// The layer parameters other than the input that show something at the
// frame's time, at the buffer size: the worlds the host made for them and
// what each parameter is handed.
struct Instance::FrameLayers {
  std::vector<World> worlds;
  std::vector<std::pair<size_t, PF_EffectWorld>> values;  // by parameter index
};

CommandResult Instance::RenderFrame(A_long time, PF_EffectWorld& input, World& output, const RenderSettings& settings) {
  const BufferSize size = BufferSizeAt(settings);
  if (output.width() != size.width || output.height() != size.height)
    output = World(size.width, size.height, PaddingOf(output.pf()));
  return RenderFrame(time, input, output.pf(), settings);
}

CommandResult Instance::RenderFrame(A_long time, PF_EffectWorld& input, PF_EffectWorld& output,
                                    const RenderSettings& settings) {
  std::shared_lock no_event(event_lock_);
  const bool full = CheckFrameBuffers(input, output, settings);

  // The plug-in's input: the box reduction of the full layer when downsampling.
  const BufferSize size = BufferSizeAt(settings);
  const bool reduce = full && (size.width != input.width || size.height != input.height);
  World reduced;
  if (reduce) reduced = DownsampledWorld(input, settings, PaddingOf(input));
  const PF_EffectWorld& plugin_input = reduce ? reduced.pf() : input;

  // Checkouts of the own layer during the commands show the input.
  struct CurrentInput {
    Instance& inst;
    ~CurrentInput() { inst.current_input_ = nullptr; }
  } current{*this};
  current_input_ = &input;
  current_input_full_ = full;
  service_error_.clear();

  const FrameLayers layers = LayersForFrame(time, settings, plugin_input, PaddingOf(input));
  // The output starts as transparent black, padding included.
  std::memset(output.data, 0, size_t(output.rowbytes) * size_t(output.height));
  return SendFrame(time, settings, plugin_input, layers, output);
}

// Throws HostError unless the buffers fit this instance at these settings;
// answers whether the input is the layer at full size (else it is at the
// buffer size).
bool Instance::CheckFrameBuffers(const PF_EffectWorld& input, const PF_EffectWorld& output,
                                 const RenderSettings& settings) const {
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
  return full;
}

// The other layer parameters at `time`, reduced like the input. Those that
// show the own layer get the plug-in's input itself, unless the own layer
// is bound to an image (then it is loaded for this time like any other).
Instance::FrameLayers Instance::LayersForFrame(A_long time, const RenderSettings& settings,
                                               const PF_EffectWorld& plugin_input, A_long pad_bytes) {
  FrameLayers layers;
  const bool own_layer_bound = SourceOf(0).kind == LayerSource::Kind::kImage;
  for (size_t i = 1; i < effect_.params_.size(); ++i) {
    if (effect_.params_[i].param_type != PF_Param_LAYER) continue;
    const LayerSource source = SourceOf(int(i));
    if (source.kind == LayerSource::Kind::kNone) continue;
    if (source.kind == LayerSource::Kind::kSelf && !own_layer_bound) {
      layers.values.emplace_back(i, plugin_input);
      continue;
    }
    bool layer_full = true;
    const PF_EffectWorld* layer = LayerAt(int(i), time, time_.time_scale, layer_full);
    if (!layer) continue;
    if (layer_full) {
      layers.worlds.push_back(DownsampledWorld(*layer, settings, pad_bytes));
    } else {
      layers.worlds.emplace_back(layer->width, layer->height, pad_bytes);
      ScaledCopy(*layer, layers.worlds.back().pf());
    }
    layers.values.emplace_back(i, layers.worlds.back().pf());
  }
  return layers;
}

// FRAME_SETUP, then RENDER, or the input copied when FRAME_SETUP asked for
// NOP_RENDER. A failure without a message of the plug-in's own is explained
// by the service that failed, when one did.
CommandResult Instance::SendFrame(A_long time, const RenderSettings& settings, const PF_EffectWorld& plugin_input,
                                  const FrameLayers& layers, PF_EffectWorld& output) {
  std::vector<PF_ParamDef> defs;
  std::vector<PF_ParamDef*> ptrs;
  // Fresh copies for each command: a command may write into them.
  auto make_params = [&] {
    defs = ParamsAt(time, settings);
    defs[0].u.ld = plugin_input;
    defs[0].u.ld.dephault = PF_LayerDefault_MYSELF;
    for (const auto& [index, world] : layers.values) {
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
  make_params();
  CommandResult setup = Run(PF_Cmd_FRAME_SETUP, time, ptrs.data(), &output, nullptr, settings);
  if (setup.err) {
    explain(setup);
    return setup;
  }
  if (setup.out_flags & PF_OutFlag_NOP_RENDER) {
    for (A_long y = 0; y < plugin_input.height; ++y)
      std::memcpy(reinterpret_cast<uint8_t*>(output.data) + size_t(y) * output.rowbytes,
                  reinterpret_cast<const uint8_t*>(plugin_input.data) + size_t(y) * plugin_input.rowbytes,
                  size_t(plugin_input.width) * 4);
    return setup;
  }
  make_params();
  CommandResult render = Run(PF_Cmd_RENDER, time, ptrs.data(), &output, nullptr, settings);
  if (render.message.empty()) render.message = setup.message;
  explain(render);
  return render;
}

}  // namespace ombrix
