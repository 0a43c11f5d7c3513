// An instance's life and commands: sequence data from setup to setdown,
// the in_data of its commands, and its saved bytes.
#include "effect_impl.h"
#include "param_values.h"
#include "world_views.h"

#include <ombrix/host/host.h>
#include <ombrix/host/instance.h>

#include <cstring>

namespace ombrix {

Instance::Instance(Effect& effect, TimeBase time, A_long layer_width, A_long layer_height,
                   std::optional<std::vector<uint8_t>> stored)
    : effect_(effect), time_(time), layer_width_(layer_width), layer_height_(layer_height) {
  total_time_ = time_.time_step;
  layers_.resize(effect_.params_.size());
  for (const PF_ParamDef& def : effect_.params_)
    tracks_.push_back(Track{DefaultValue(def, layer_width_, layer_height_), {}});
  Setup(stored ? &*stored : nullptr, false);
}

Instance::Instance(CopyOf source, const std::vector<uint8_t>* stored)
    : effect_(source.from.effect_),
      time_(source.from.time_),
      layer_width_(source.from.layer_width_),
      layer_height_(source.from.layer_height_),
      total_time_(source.from.total_time_),
      layers_(source.from.layers_),
      tracks_(source.from.tracks_) {
  Setup(stored, stored == nullptr);
}

void Instance::Setup(const std::vector<uint8_t>* stored, bool null_data) {
  std::vector<PF_ParamDef> defs = ParamsAt(0, {});
  std::vector<PF_ParamDef*> ptrs;
  for (auto& p : defs) ptrs.push_back(&p);
  if (!stored && !null_data) {
    setup_result_ = Run(PF_Cmd_SEQUENCE_SETUP, 0, ptrs.data(), nullptr, nullptr, {});
    return;
  }
  PF_Handle h = nullptr;
  if (stored) {
    try {
      h = effect_.host().memory().NewHandle(stored->size());
    } catch (const std::bad_alloc&) {
      throw HostError("out of memory for stored sequence data", PF_Err_OUT_OF_MEMORY);
    }
    if (!stored->empty()) std::memcpy(*h, stored->data(), stored->size());
  }
  sequence_data_ = h;
  setup_result_ = Run(PF_Cmd_SEQUENCE_RESETUP, 0, ptrs.data(), nullptr, nullptr, {});
  AdoptSequenceData(h, sequence_data_, true);
}

std::unique_ptr<Instance> Instance::Duplicate() {
  std::vector<uint8_t> bytes = SequenceDataBytes();
  const bool has_data = effect_.host().memory().HandleIsLive(sequence_data_);
  return std::unique_ptr<Instance>(new Instance(CopyOf{*this}, has_data ? &bytes : nullptr));
}

bool Instance::Flattens() const { return effect_.global_out_flags_ & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING; }

Instance::~Instance() {
  try {
    Command(PF_Cmd_SEQUENCE_SETDOWN);
  } catch (...) {
  }
  // Sequence data the plug-in did not release is the host's to free.
  effect_.host().memory().DisposeHandle(sequence_data_);
  sequence_data_ = nullptr;
}

void Instance::AdoptSequenceData(PF_Handle handed_in, PF_Handle returned, bool host_made) {
  sequence_data_ = returned;
  // A handle the host made for the command and the plug-in replaced.
  if (host_made && handed_in != returned) effect_.host().memory().DisposeHandle(handed_in);
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
  if (cmd == PF_Cmd_SEQUENCE_SETUP || cmd == PF_Cmd_SEQUENCE_RESETUP || cmd == PF_Cmd_SEQUENCE_FLATTEN)
    flat_size_ = out.flat_sdata_size;
  r.out_flags = out.out_flags;
  r.message.assign(out.return_msg, strnlen(out.return_msg, sizeof out.return_msg));
  return r;
}

CommandResult Instance::Command(PF_Cmd cmd, A_long time, void* extra) {
  std::vector<PF_ParamDef> defs = ParamsAt(time, {});
  std::vector<PF_ParamDef*> ptrs;
  for (auto& d : defs) ptrs.push_back(&d);
  return Run(cmd, time, ptrs.data(), nullptr, extra, {});
}

CommandResult Instance::SendEvent(PF_EventExtra& event, A_long time) {
  std::unique_lock alone(event_lock_);
  return Command(PF_Cmd_EVENT, time, &event);
}

std::vector<uint8_t> Instance::SequenceDataBytes() {
  const bool flattens = Flattens();
  if (flattens) {
    CommandResult r = Command(PF_Cmd_SEQUENCE_FLATTEN);
    if (r.err) throw HostError("flattening sequence data failed with error " + std::to_string(r.err), r.err);
  }
  std::vector<uint8_t> bytes;
  HostMemory& memory = effect_.host().memory();
  if (!memory.HandleIsLive(sequence_data_)) return bytes;
  size_t size = memory.HandleSize(sequence_data_);
  if (flattens && flat_size_ != 0) {
    // The flat data may sit at the start of a larger handle; never read past it.
    if (flat_size_ < 0 || size_t(flat_size_) > size)
      throw HostError("the flattened sequence data is said to be " + std::to_string(flat_size_) +
                          " bytes in a handle of " + std::to_string(size),
                      PF_Err_INTERNAL_STRUCT_DAMAGED);
    size = size_t(flat_size_);
  }
  const auto* p = static_cast<const uint8_t*>(*sequence_data_);
  bytes.assign(p, p + size);
  return bytes;
}

}  // namespace ombrix
