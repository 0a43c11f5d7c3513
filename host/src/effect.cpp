// Loading a plug-in and driving its own commands: global setup and
// setdown, parameter registration, and the command channel its instances
// share.
#include "effect_impl.h"
#include "param_services.h"

#include <ombrix/host/host.h>

#include <charconv>
#include <cstring>
#include <dlfcn.h>

namespace ombrix {

PF_Err Effect::Impl::Send(Effect& effect, Instance* instance, const RenderSettings& settings, PF_Cmd cmd, PF_InData& in,
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
  effect.host_.memory().ReleaseCheckoutsOwnedBy(OwnerOf(&ctx));
  ctx.cmd = -1;
  ctx.instance = nullptr;
  const size_t n = strnlen(out.return_msg, sizeof out.return_msg);
  if (n && effect.host_.on_message) effect.host_.on_message(std::string_view(out.return_msg, n));
  return err;
}

void Effect::Impl::Unload(Effect& effect) {
  effect.host_.memory().ReleaseAllOwnedBy(OwnerOf(&ref.ctx));
  if (module) dlclose(module);
  module = nullptr;
  entry = nullptr;
}

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
    impl_->Unload(*this);
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
      host_.memory().DisposeHandle(global_data_);
      impl_->Unload(*this);
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
    host_.memory().DisposeHandle(global_data_);
    impl_->Unload(*this);
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
  host_.memory().DisposeHandle(global_data_);
  impl_->Unload(*this);
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

PF_Err Effect::Send(PF_Cmd cmd, PF_InData& in_data, PF_OutData& out_data, PF_ParamDef** params, PF_LayerDef* output,
                    void* extra) {
  return impl_->Send(*this, nullptr, {}, cmd, in_data, out_data, params, output, extra);
}

PF_Err AddParamFor(Effect& effect, PF_ParamIndex index, const PF_ParamDef* def) {
  if (!def) return PF_Err_BAD_CALLBACK_PARAM;
  const auto count = PF_ParamIndex(effect.params_.size());
  if (index != -1 && index != count) return PF_Err_INVALID_INDEX;
  // The value kinds, and controls without a value that the plug-in draws itself.
  if ((def->param_type < PF_Param_LAYER || def->param_type > PF_Param_POPUP) && def->param_type != PF_Param_NO_DATA)
    return PF_Err_UNRECOGNIZED_PARAM_TYPE;
  std::string popup, label;
  if (def->param_type == PF_Param_POPUP && def->u.pd.u.namesptr) popup = def->u.pd.u.namesptr;
  if (def->param_type == PF_Param_CHECKBOX && def->u.bd.u.nameptr) label = def->u.bd.u.nameptr;
  // Room first, so that running out of memory leaves the three lists in step.
  auto room_for_one = [](auto& list) {
    if (list.size() == list.capacity()) list.reserve(2 * list.size() + 1);
  };
  room_for_one(effect.params_);
  room_for_one(effect.impl_->popup_text);
  room_for_one(effect.impl_->checkbox_label);
  effect.params_.push_back(*def);  // byte for byte, leftovers of a reused record included
  effect.impl_->popup_text.push_back(std::move(popup));
  effect.impl_->checkbox_label.push_back(std::move(label));
  return PF_Err_NONE;
}

PF_Err RegisterUiFor(Effect& effect, const PF_CustomUIInfo* info) {
  if (!info) return PF_Err_BAD_CALLBACK_PARAM;
  effect.custom_ui_ = *info;
  return PF_Err_NONE;
}

bool Effect::WantsEvents(PF_WindowType window) const {
  if (!custom_ui_) return false;
  switch (window) {
    case PF_Window_COMP:
      return custom_ui_->events & PF_CustomEFlag_COMP;
    case PF_Window_LAYER:
      return custom_ui_->events & PF_CustomEFlag_LAYER;
    case PF_Window_EFFECT:
      return custom_ui_->events & PF_CustomEFlag_EFFECT;
    default:
      return false;
  }
}

std::vector<std::string> Effect::PopupItems(int index) const {
  std::vector<std::string> items;
  if (index < 0 || size_t(index) >= params_.size() || params_[size_t(index)].param_type != PF_Param_POPUP) return items;
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

}  // namespace ombrix
