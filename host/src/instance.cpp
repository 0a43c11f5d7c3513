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
  std::vector<PF_ParamDef> defs = ParamsAt(0, {});
  std::vector<PF_ParamDef*> ptrs;
  for (auto& p : defs) ptrs.push_back(&p);
  if (stored) {
    PF_Handle h = nullptr;
    try {
      h = effect_.host().memory().NewHandle(stored->size());
    } catch (const std::bad_alloc&) {
      throw HostError("out of memory for stored sequence data", PF_Err_OUT_OF_MEMORY);
    }
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

std::vector<uint8_t> Instance::SequenceDataBytes() {
  const bool flattens = effect_.global_out_flags_ & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING;
  if (flattens) {
    CommandResult r = Command(PF_Cmd_SEQUENCE_FLATTEN);
    if (r.err) throw HostError("flattening sequence data failed with error " + std::to_string(r.err), r.err);
  }
  std::vector<uint8_t> bytes;
  HostMemory& memory = effect_.host().memory();
  if (memory.HandleIsLive(sequence_data_)) {
    const auto* p = static_cast<const uint8_t*>(*sequence_data_);
    bytes.assign(p, p + memory.HandleSize(sequence_data_));
  }
  if (flattens) {
    // Back to working form, as after saving a project.
    PF_Handle flat = sequence_data_;
    CommandResult r = Command(PF_Cmd_SEQUENCE_RESETUP);
    AdoptSequenceData(flat, sequence_data_, true);
    if (r.err) throw HostError("restoring sequence data failed with error " + std::to_string(r.err), r.err);
  }
  return bytes;
}

}  // namespace ombrix
