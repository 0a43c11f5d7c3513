// Renders of the composition: each visible layer through its effect stack,
// then the layers composited bottom to top.
//
// Instances live across renders (their sequence setup, and for some
// effects the first render, are the slow part); each render sets every
// parameter afresh, so an instance carries nothing from one render to the
// next but its sequence data, which it is made anew for when it changes.
#include "composite.h"
#include "session_state.h"

#include "../render_options.h"

#include <set>

namespace ombrix::studio {
namespace {

bool Cancelled(const std::atomic<bool>* cancel) { return cancel && cancel->load(); }

// While a render runs, a cancel request also stops the effect inside its
// iterate calls: the host's progress report between bands sees it and asks
// the effect to stop. Renders are serialised, so the host's flags are this
// render's alone.
class AbortOnCancel {
 public:
  AbortOnCancel(Host& host, const std::atomic<bool>* cancel) : host_(host) {
    host_.abort_requested = false;
    if (cancel) {
      host_.on_progress = [&host, cancel](A_long, A_long) {
        if (cancel->load()) host.abort_requested = true;
      };
    }
  }
  ~AbortOnCancel() {
    host_.on_progress = nullptr;
    host_.abort_requested = false;
  }
  AbortOnCancel(const AbortOnCancel&) = delete;
  AbortOnCancel& operator=(const AbortOnCancel&) = delete;

 private:
  Host& host_;
};

LayerSource LayerValue(const std::string& text, const std::string& where, const FrameRate& rate) {
  if (text == "self") return LayerSource::Self();
  if (text == "none") return LayerSource::None();
  return LayerSource::Image(ParseLayerSource(text, where), rate);
}

const ImageSource& SourceFor(RenderCache& cache, const std::string& text) {
  auto it = cache.sources.find(text);
  if (it == cache.sources.end()) it = cache.sources.emplace(text, ParseLayerSource(text, "source")).first;
  return it->second;
}

// The source's image at `ticks`, at full size; images that do not change
// over time are read once.
World LoadLayer(RenderCache& cache, const std::string& text, const ImageSource& source, A_long ticks,
                const TimeBase& tb) {
  if (source.kind == SourceKind::kSequence) return LoadSource(source, ticks, tb.time_step);
  auto it = cache.stills.find(text);
  if (it == cache.stills.end()) it = cache.stills.emplace(text, LoadSource(source, 0, tb.time_step)).first;
  return it->second;
}

LiveInstance& InstanceFor(RenderCache& cache, Effect& effect, const EffectEntry& entry, const ImageSource& source,
                          const Composition& comp, const TimeBase& tb) {
  LiveInstance& live = cache.instances[entry.id];
  const bool same = live.instance && live.effect == entry.effect && live.sequence_data == entry.sequence_data &&
                    live.width == source.width && live.height == source.height && live.fps == comp.fps;
  if (same) return live;
  live.instance.reset();  // its sequence set down before the new one is set up
  live.instance = MakeInstance(effect, entry, tb, source.width, source.height);
  live.effect = entry.effect;
  live.sequence_data = entry.sequence_data;
  live.width = source.width;
  live.height = source.height;
  live.fps = comp.fps;
  live.defaults.clear();
  for (size_t i = 0; i < effect.params().size(); ++i) live.defaults.push_back(live.instance->ValueAt(int(i), 0));
  return live;
}

// The layer through its enabled effects, at the render's buffer size.
std::optional<World> RenderLayer(SessionState& s, const Layer& layer, const Composition& comp, A_long ticks,
                                 const TimeBase& tb, const RenderSettings& settings, const std::atomic<bool>* cancel) {
  const ImageSource& source = SourceFor(s.cache, layer.source);
  const FrameRate rate = FrameRate::Parse(comp.fps);
  World input = LoadLayer(s.cache, layer.source, source, ticks, tb);
  std::optional<World> current;
  for (const EffectEntry& entry : layer.effects) {
    if (!entry.enabled) continue;
    if (Cancelled(cancel)) return std::nullopt;
    Effect& effect = s.catalog.Get(entry.effect);
    LiveInstance& live = InstanceFor(s.cache, effect, entry, source, comp, tb);
    Instance& instance = *live.instance;
    ApplyParams(instance, effect, entry, live.defaults, source.width, source.height, tb, rate);
    // The first effect's own layer is the source at every time; later ones
    // see the effect before them, at the current time only.
    instance.BindLayer(0, current ? LayerSource::Self() : LayerSource::Image(source, rate));
    World output(source.width, source.height);
    const CommandResult result = instance.RenderFrame(ticks, current ? current->pf() : input.pf(), output, settings);
    if (Cancelled(cancel)) return std::nullopt;
    if (result.err != PF_Err_NONE) {
      throw HostError(effect.file().pipl.display_name + " (layer " + layer.id + ", " + entry.id +
                          "): render failed with error " + std::to_string(result.err) +
                          (result.message.empty() ? "" : ": " + cli::FromWindows1252(result.message)),
                      result.err);
    }
    current = std::move(output);
  }
  if (!current) return DownsampledWorld(input.pf(), settings);
  return current;
}

template <typename Map>
void KeepOnly(Map& map, const std::set<std::string>& keys) {
  for (auto it = map.begin(); it != map.end();) it = keys.count(it->first) ? std::next(it) : map.erase(it);
}

// Instances of entries no longer in the project are set down, and sources
// no layer shows any more forgotten.
void DropUnused(RenderCache& cache, const Project& project) {
  std::set<std::string> ids, sources;
  for (const Layer& l : project.layers) {
    sources.insert(l.source);
    for (const EffectEntry& e : l.effects) ids.insert(e.id);
  }
  KeepOnly(cache.instances, ids);
  KeepOnly(cache.sources, sources);
  KeepOnly(cache.stills, sources);
}

}  // namespace

TimeBase CompositionTimeBase(const Composition& c) {
  cli::RenderOptions o;
  o.fps = c.fps;
  cli::CheckedOptions checked;
  cli::ReadTimeBase(o, checked);
  return checked.tb;
}

std::unique_ptr<Instance> MakeInstance(Effect& effect, const EffectEntry& entry, const TimeBase& tb, A_long width,
                                       A_long height) {
  auto instance = std::make_unique<Instance>(effect, tb, width, height, entry.sequence_data);
  const CommandResult& setup = instance->setup_result();
  if (setup.err != PF_Err_NONE) {
    throw HostError(effect.file().pipl.display_name + ": sequence setup failed with error " +
                        std::to_string(setup.err) +
                        (setup.message.empty() ? "" : ": " + cli::FromWindows1252(setup.message)),
                    setup.err);
  }
  return instance;
}

void ApplyParams(Instance& instance, const Effect& effect, const EffectEntry& entry,
                 const std::vector<ParamValue>& defaults, A_long width, A_long height, const TimeBase& tb,
                 const FrameRate& rate) {
  const std::vector<PF_ParamDef>& defs = effect.params();
  for (size_t i = 1; i < defs.size(); ++i) {
    if (defs[i].param_type != PF_Param_LAYER)
      instance.SetValue(int(i), defaults[i]);
    else
      instance.BindLayer(int(i),
                         defs[i].u.ld.dephault == PF_LayerDefault_MYSELF ? LayerSource::Self() : LayerSource::None());
  }
  for (const ParamEntry& p : entry.params) {
    const std::string where = entry.id + " parameter " + std::to_string(p.index);
    if (defs[size_t(p.index)].param_type == PF_Param_LAYER) {
      instance.BindLayer(p.index, LayerValue(p.value, where, rate));
    } else if (p.keys.empty()) {
      instance.SetValue(p.index, cli::ParseParamValue(effect, p.index, p.value, width, height));
    }
    for (const Key& k : p.keys) {
      instance.AddKey(p.index, cli::SecondsToTicksChecked(k.time, where, tb),
                      cli::ParseParamValue(effect, p.index, k.value, width, height));
    }
  }
}

std::optional<Frame> RenderProject(SessionState& s, const Project& project, int64_t frame,
                                   const std::string& downsample, const std::atomic<bool>* cancel) {
  const Composition& comp = project.composition;
  if (frame < 0 || frame >= comp.frames) {
    throw UsageError("frame " + std::to_string(frame) + " is outside the composition (0.." +
                     std::to_string(comp.frames - 1) + ")");
  }
  cli::RenderOptions o;
  o.downsample = downsample;
  const RenderSettings settings = cli::ReadSettings(o);
  const TimeBase tb = CompositionTimeBase(comp);
  const A_long ticks = tb.FrameToTicks(frame);

  std::lock_guard lock(s.render_mutex);
  if (Cancelled(cancel)) return std::nullopt;
  AbortOnCancel abort(s.catalog.host(), cancel);
  const BufferSize size = BufferSizeFor(comp.width, comp.height, settings);
  World canvas(size.width, size.height);
  for (auto layer = project.layers.rbegin(); layer != project.layers.rend(); ++layer) {
    if (!layer->visible) continue;
    if (Cancelled(cancel)) return std::nullopt;
    std::optional<World> out = RenderLayer(s, *layer, comp, ticks, tb, settings, cancel);
    if (!out) return std::nullopt;
    DrawOver(canvas.pf(), out->pf());
  }
  DropUnused(s.cache, project);
  if (Cancelled(cancel)) return std::nullopt;
  return FrameOf(canvas.pf());
}

}  // namespace ombrix::studio
