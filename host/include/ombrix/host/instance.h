// One application of an effect to a layer: parameter tracks, sequence data,
// layer bindings and the rendering of frames.
#pragma once

#include <ombrix/host/effect.h>
#include <ombrix/host/layer_source.h>
#include <ombrix/host/params.h>
#include <ombrix/host/render_settings.h>
#include <ombrix/host/time.h>
#include <ombrix/host/world.h>

#include <pf/api.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

namespace ombrix {

struct CallContext;

struct CommandResult {
  PF_Err err = PF_Err_NONE;
  A_long out_flags = 0;
  std::string message;  // return_msg, empty if none
};

// SEQUENCE_SETUP (or RESETUP with stored bytes) on creation,
// SEQUENCE_SETDOWN on destruction.
class Instance {
 public:
  Instance(Effect& effect, TimeBase time, A_long layer_width, A_long layer_height,
           std::optional<std::vector<uint8_t>> stored_sequence_data = {});
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  const CommandResult& setup_result() const { return setup_result_; }

  // The value at every time (clears keys), or a keyframe at `time` ticks.
  void SetValue(int index, const ParamValue& value);
  void AddKey(int index, A_long time, const ParamValue& value);
  // The value at `time`: linear between keys (rounded to the nearest unit,
  // halves away from zero), held before the first and after the last key;
  // popups and check boxes hold until the next key.
  ParamValue ValueAt(int index, A_long time) const;

  // FRAME_SETUP then RENDER (skipped, with the input copied, when FRAME_SETUP
  // set NOP_RENDER). `input` is the layer at full resolution (the layer size
  // given at construction), reduced by the host to the buffer size when the
  // settings downsample, or an input already at the buffer size, used as
  // it is. `output` must be of the buffer size (BufferSizeFor).
  CommandResult RenderFrame(A_long time, PF_EffectWorld& input, PF_EffectWorld& output,
                            const RenderSettings& settings = {});
  // The same with an output world that is resized to the buffer size when
  // it differs (keeping its row padding).
  CommandResult RenderFrame(A_long time, PF_EffectWorld& input, World& output, const RenderSettings& settings = {});
  BufferSize BufferSizeAt(const RenderSettings& settings) const {
    return BufferSizeFor(layer_width_, layer_height_, settings);
  }

  // Binds a layer parameter (by index) to what it shows, at RENDER and in
  // checkouts at any time. Unbound layer parameters follow their registered
  // default (the own layer, or none). Index 0 is the effect's own layer:
  // binding it to an image source tells the host what the input is at other
  // times (checkouts of the own layer then load it; otherwise they show the
  // input of the current render at every time). Throws HostError for an
  // index that is not a layer parameter, or kNone for index 0.
  void BindLayer(int index, LayerSource source);

  // Any other command with this instance's sequence data.
  CommandResult Command(PF_Cmd cmd, A_long time = 0, void* extra = nullptr);
  // EVENT with `event`. No render of this instance starts while it runs:
  // renders on other threads wait for it, and it waits for them.
  CommandResult SendEvent(PF_EventExtra& event, A_long time);

  // The sequence data's bytes, as the host saves them. An effect that asks
  // for flattening (SEQUENCE_DATA_NEEDS_FLATTENING) is sent
  // SEQUENCE_FLATTEN first, and the bytes are the first flat_sdata_size
  // bytes of the handle it returns (all of them when it leaves the size 0);
  // the instance keeps that flat data, and its next commands receive it as
  // it is. Throws HostError when flattening fails or the size reported
  // exceeds the handle.
  std::vector<uint8_t> SequenceDataBytes();
  PF_Handle sequence_data() const { return sequence_data_; }
  // out_data->flat_sdata_size as the last SETUP, RESETUP or FLATTEN left it.
  A_long flat_sdata_size() const { return flat_size_; }

  // A copy of this instance, as when the user duplicates the effect: the
  // same parameter tracks, layer bindings and total time, and this
  // instance's sequence data as SequenceDataBytes saves it (flattened
  // first), handed to the copy's SEQUENCE_RESETUP (NULL when this instance
  // holds none). The copy's setup_result() tells how RESETUP went.
  std::unique_ptr<Instance> Duplicate();

  // in_data->total_time (default: one frame).
  void SetTotalTime(A_long ticks) { total_time_ = ticks; }

  const TimeBase& time_base() const { return time_; }
  Effect& effect() { return effect_; }

 private:
  Effect& effect_;
  TimeBase time_;
  A_long layer_width_, layer_height_;
  PF_Handle sequence_data_ = nullptr;
  A_long flat_size_ = 0;
  A_long total_time_ = 0;
  CommandResult setup_result_;
  struct LayerFeed;
  std::vector<std::shared_ptr<LayerFeed>> layers_;  // per parameter index; NULL: the default
  const PF_EffectWorld* current_input_ = nullptr;   // during RenderFrame
  bool current_input_full_ = false;                 // at the layer's full size (else the buffer's)
  std::string service_error_;                       // why a service failed during the last command
  std::shared_mutex event_lock_;                    // renders share it, an EVENT holds it alone
  struct Track {
    ParamValue value;
    std::vector<Keyframe> keys;
  };
  std::vector<Track> tracks_;

  // Layers
  LayerSource SourceOf(int index) const;
  PF_Err CheckoutLayer(int index, A_long what_time, A_u_long time_scale, const RenderSettings& settings,
                       PF_ParamDef* param, const void* owner, A_long pad_bytes);
  const PF_EffectWorld* LayerAt(int index, A_long what_time, A_u_long time_scale, bool& full_size);
  friend PF_Err CheckoutParamFor(CallContext&, PF_ParamIndex, A_long, A_long, A_u_long, PF_ParamDef*);

  // Setup: SEQUENCE_SETUP without stored bytes, else SEQUENCE_RESETUP with
  // them in a new handle (or with none when `null_data`).
  struct CopyOf {
    const Instance& from;
  };
  Instance(CopyOf source, const std::vector<uint8_t>* stored);
  void Setup(const std::vector<uint8_t>* stored, bool null_data);
  bool Flattens() const;

  // Commands
  CommandResult Run(PF_Cmd cmd, A_long time, PF_ParamDef** params, PF_LayerDef* output, void* extra,
                    const RenderSettings& settings);
  std::vector<PF_ParamDef> ParamsAt(A_long time, const RenderSettings& settings) const;
  void AdoptSequenceData(PF_Handle handed_in, PF_Handle returned, bool host_made);

  // The steps of RenderFrame
  struct FrameLayers;
  bool CheckFrameBuffers(const PF_EffectWorld& input, const PF_EffectWorld& output,
                         const RenderSettings& settings) const;
  FrameLayers LayersForFrame(A_long time, const RenderSettings& settings, const PF_EffectWorld& plugin_input,
                             A_long pad_bytes);
  CommandResult SendFrame(A_long time, const RenderSettings& settings, const PF_EffectWorld& plugin_input,
                          const FrameLayers& layers, PF_EffectWorld& output);
};

}  // namespace ombrix
