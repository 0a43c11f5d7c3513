// A loaded plug-in: its module, registration and global data.
#pragma once

#include <ombrix/host/plugin_file.h>

#include <pf/api.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

class Host;

// A loaded plug-in after GLOBAL_SETUP and PARAMS_SETUP.
class Effect {
 public:
  // Loads the module, sends GLOBAL_SETUP and PARAMS_SETUP. Throws HostError
  // when the module cannot be loaded or a setup command fails.
  Effect(Host& host, const PluginFile& file);
  ~Effect();  // GLOBAL_SETDOWN, then unload
  Effect(const Effect&) = delete;
  Effect& operator=(const Effect&) = delete;

  Host& host() { return host_; }
  const PluginFile& file() const { return file_; }
  A_u_long my_version() const { return my_version_; }
  A_long global_out_flags() const { return global_out_flags_; }
  A_long num_params() const { return num_params_; }  // as the plug-in set it

  // Every registered definition, index 0 the input layer, kept exactly as registered.
  const std::vector<PF_ParamDef>& params() const { return params_; }
  // Popup items (separators included) and check box labels, read at registration.
  std::vector<std::string> PopupItems(int index) const;
  std::string CheckboxLabel(int index) const;
  // A parameter by name, check box label (when the name is blank) or index; -1 if none.
  int FindParam(std::string_view name_or_index) const;

  // The custom UI the plug-in registered (register_ui), if any: the
  // record as it was handed over.
  const std::optional<PF_CustomUIInfo>& custom_ui() const { return custom_ui_; }
  // Whether the plug-in asked for events in windows of this type
  // (PF_Window_COMP, PF_Window_LAYER or PF_Window_EFFECT).
  bool WantsEvents(PF_WindowType window) const;

  // PF_InData with the services, effect_ref, basic suite, global data and
  // num_params filled and everything else zero (time scale 1).
  PF_InData BaseInData();
  PF_Handle global_data() const { return global_data_; }

  // Sends one command with the records as given (the caller clears them) and
  // hands a non-empty return_msg to Host::on_message.
  PF_Err Send(PF_Cmd cmd, PF_InData& in_data, PF_OutData& out_data, PF_ParamDef** params, PF_LayerDef* output,
              void* extra);

  struct Impl;

 private:
  Host& host_;
  PluginFile file_;
  std::unique_ptr<Impl> impl_;
  A_u_long my_version_ = 0;
  A_long global_out_flags_ = 0;
  A_long num_params_ = 0;
  PF_Handle global_data_ = nullptr;
  std::vector<PF_ParamDef> params_;
  std::optional<PF_CustomUIInfo> custom_ui_;
  friend class Instance;
  friend PF_Err AddParamFor(Effect&, PF_ParamIndex, const PF_ParamDef*);
  friend PF_Err RegisterUiFor(Effect&, const PF_CustomUIInfo*);
};

}  // namespace ombrix
