// `ombrix list` and `ombrix info`.
#include "commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace ombrix::cli {
namespace {

using nlohmann::ordered_json;

// JSON text of `j`. File names and plug-in strings are bytes, not always
// UTF-8; an invalid sequence is printed as U+FFFD rather than failing.
std::string Dump(const ordered_json& j) { return j.dump(2, ' ', false, ordered_json::error_handler_t::replace); }

// Keys of the version block in the order plug-ins store them.
constexpr const char* kVersionKeys[] = {"FileVersion",     "ProductVersion", "FileOS",           "FileType",
                                        "FileDescription", "InternalName",   "OriginalFilename", "ProductName",
                                        "CompanyName",     "LegalCopyright"};

std::vector<std::pair<std::string, std::string>> OrderedVersion(const PluginFile& file) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* key : kVersionKeys) {
    auto it = file.version.find(key);
    if (it != file.version.end()) out.emplace_back(it->first, it->second);
  }
  for (const auto& [key, value] : file.version) {
    bool known = false;
    for (const char* k : kVersionKeys) known = known || key == k;
    if (!known) out.emplace_back(key, value);
  }
  return out;
}

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", digits, v);
  return buf;
}

// The host's version packing: version << 19 | subversion << 15 | patch << 11 | stage << 9 | build.
std::string VersionText(uint32_t v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%u.%u.%u stage %u build %u", (v >> 19) & 0x1FFF, (v >> 15) & 0xF, (v >> 11) & 0xF,
                (v >> 9) & 0x3, v & 0x1FF);
  return buf;
}

ordered_json ParamJson(const Effect& effect, int index) {
  const PF_ParamDef& d = effect.params()[index];
  ordered_json j;
  j["index"] = index;
  j["kind"] = KindKey(d.param_type);
  j["kind_number"] = d.param_type;
  j["name"] = d.name;
  j["flags"] = d.flags;
  j["ui_flags"] = d.ui_flags;
  switch (d.param_type) {
    case PF_Param_LAYER:
      j["default"] = d.u.ld.dephault == PF_LayerDefault_MYSELF ? "self" : "none";
      break;
    case PF_Param_SLIDER:
      j["default"] = d.u.sd.dephault;
      j["valid_min"] = d.u.sd.valid_min;
      j["valid_max"] = d.u.sd.valid_max;
      j["slider_min"] = d.u.sd.slider_min;
      j["slider_max"] = d.u.sd.slider_max;
      break;
    case PF_Param_FIX_SLIDER:
      j["default"] = d.u.fd.dephault / 65536.0;
      j["default_fixed"] = d.u.fd.dephault;
      j["valid_min"] = d.u.fd.valid_min / 65536.0;
      j["valid_max"] = d.u.fd.valid_max / 65536.0;
      j["slider_min"] = d.u.fd.slider_min / 65536.0;
      j["slider_max"] = d.u.fd.slider_max / 65536.0;
      j["precision"] = d.u.fd.precision;
      j["display_flags"] = d.u.fd.display_flags;
      j["percent"] = (d.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) != 0;
      if (j["percent"]) j["percent_unit"] = PercentUnit(d);
      break;
    case PF_Param_ANGLE:
      j["default"] = d.u.ad.dephault / 65536.0;
      j["default_fixed"] = d.u.ad.dephault;
      // Effects set no range for angles; the rest of u.ad may hold bytes
      // left over from an earlier parameter in a reused record.
      break;
    case PF_Param_CHECKBOX:
      j["label"] = effect.CheckboxLabel(index);
      j["default"] = d.u.bd.dephault ? "on" : "off";
      break;
    case PF_Param_COLOR:
      j["default"] = FormatColor(d.u.cd.dephault);
      break;
    case PF_Param_POINT:
      j["default_percent"] = {d.u.td.x_dephault / 65536.0, d.u.td.y_dephault / 65536.0};
      j["restrict_bounds"] = d.u.td.restrict_bounds != 0;
      break;
    case PF_Param_POPUP: {
      j["default"] = d.u.pd.dephault;
      j["num_choices"] = d.u.pd.num_choices;
      ordered_json items = ordered_json::array();
      const auto texts = effect.PopupItems(index);
      for (size_t i = 0; i < texts.size(); ++i) {
        items.push_back({{"number", i + 1},
                         {"text", FromWindows1252(texts[i])},
                         {"separator", IsSeparator(texts[i])},
                         {"disabled", IsDisabledItem(texts[i])}});
      }
      j["items"] = items;
      break;
    }
    case PF_Param_NO_DATA:
      j["custom_control"] = (d.ui_flags & PF_PUI_CONTROL) != 0;
      j["ui_width"] = d.ui_width;
      j["ui_height"] = d.ui_height;
      break;
    default:
      break;
  }
  return j;
}

// The windows whose events the effect asked for (register_ui).
constexpr std::pair<PF_WindowType, const char*> kUiWindows[] = {
    {PF_Window_COMP, "composition"}, {PF_Window_LAYER, "layer"}, {PF_Window_EFFECT, "effect"}};

// The options dialog's controls that take answers; null without a dialog.
ordered_json DialogJson(Effect& effect) {
  const OptionsDialogInfo dialog = InspectOptionsDialog(effect);
  if (!dialog.has_dialog) return nullptr;
  ordered_json j;
  if (!dialog.error.empty()) j["error"] = dialog.error;
  j["title"] = dialog.title;
  ordered_json controls = ordered_json::array();
  for (const DialogControlInfo& c : dialog.controls) {
    std::string kind = ControlKindName(c.kind);
    std::replace(kind.begin(), kind.end(), ' ', '_');
    ordered_json k{{"id", c.id}, {"kind", kind}, {"label", c.label}, {"values", ControlValues(c)}};
    if (c.kind == platform::ControlKind::kHScrollBar) {
      k["min"] = c.min;
      k["max"] = c.max;
    }
    k["enabled"] = c.enabled;
    controls.push_back(std::move(k));
  }
  j["controls"] = controls;
  return j;
}

// One line per parameter for the text form of `info`.
std::string ParamLine(const Effect& effect, int index) {
  const PF_ParamDef& d = effect.params()[index];
  std::string s = "  " + std::to_string(index) + "  " + KindName(d.param_type);
  s += "  \"" + std::string(d.name) + "\"";
  std::string items;
  switch (d.param_type) {
    case PF_Param_LAYER:
      s += "  default " + std::string(d.u.ld.dephault == PF_LayerDefault_MYSELF ? "self" : "none");
      break;
    case PF_Param_SLIDER:
      s += "  default " + std::to_string(d.u.sd.dephault) + "  valid " + std::to_string(d.u.sd.valid_min) + ".." +
           std::to_string(d.u.sd.valid_max) + "  slider " + std::to_string(d.u.sd.slider_min) + ".." +
           std::to_string(d.u.sd.slider_max);
      break;
    case PF_Param_FIX_SLIDER:
      s += "  default " + FormatFixed(d.u.fd.dephault) + "  valid " + FormatFixed(d.u.fd.valid_min) + ".." +
           FormatFixed(d.u.fd.valid_max) + "  slider " + FormatFixed(d.u.fd.slider_min) + ".." +
           FormatFixed(d.u.fd.slider_max) + "  precision " + std::to_string(d.u.fd.precision) +
           ((d.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT)
                ? (PercentUnit(d) == 1.0 ? "  shown as percent (100 is 100 %)" : "  shown as percent (1 is 100 %)")
                : "  shown as number");
      break;
    case PF_Param_ANGLE:
      s += "  default " + FormatFixed(d.u.ad.dephault) + " degrees";
      break;
    case PF_Param_CHECKBOX:
      s += "  label \"" + effect.CheckboxLabel(index) + "\"  default " + (d.u.bd.dephault ? "on" : "off");
      break;
    case PF_Param_COLOR:
      s += "  default " + FormatColor(d.u.cd.dephault);
      break;
    case PF_Param_POINT:
      s += "  default " + FormatFixed(d.u.td.x_dephault) + "%," + FormatFixed(d.u.td.y_dephault) + "% of the layer" +
           (d.u.td.restrict_bounds ? "  kept inside the layer" : "");
      break;
    case PF_Param_POPUP: {
      s += "  default " + std::to_string(d.u.pd.dephault) + "  choices " + std::to_string(d.u.pd.num_choices);
      const auto texts = effect.PopupItems(index);
      for (size_t i = 0; i < texts.size(); ++i) {
        items += "      " + std::to_string(i + 1) + "  " +
                 (IsSeparator(texts[i])      ? std::string("(separator)")
                  : IsDisabledItem(texts[i]) ? FromWindows1252(texts[i]) + "  (disabled)"
                                             : FromWindows1252(texts[i])) +
                 "\n";
      }
      break;
    }
    case PF_Param_NO_DATA:
      s += (d.ui_flags & PF_PUI_CONTROL)
               ? "  custom control " + std::to_string(d.ui_width) + "x" + std::to_string(d.ui_height)
               : std::string("  no control");
      break;
    default:
      break;
  }
  if (d.flags != 0) s += "  flags " + Hex(uint32_t(d.flags), 2);
  return s + "\n" + items;
}

}  // namespace

PluginScan ScanPlugins(const CommonOptions& common) {
  const std::filesystem::path folder =
      common.plugins.empty() ? DefaultPluginFolder() : std::filesystem::path(common.plugins);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    throw UsageError("plug-in folder '" + folder.string() + "' does not exist");
  }
  return ScanPluginFolder(folder);
}

PluginScan ScanAndTryPlugins(const CommonOptions& common) {
  PluginScan scan = ScanPlugins(common);
  PluginTrials trials(DefaultTrialCacheFile());
  TryPlugins(scan, trials);
  trials.Save();
  return scan;
}

const PluginFile& FindEffect(const PluginScan& scan, const std::string& name) {
  const PluginFile* found = nullptr;
  try {
    found = &FindPlugin(scan, name);
  } catch (const HostError& e) {
    // A file that is there but cannot be used says why, rather than "no effect".
    for (const auto& [file, why] : scan.refused) {
      if (file.short_name == name || (!file.pipl.display_name.empty() && file.pipl.display_name == name) ||
          (!file.pipl.match_name.empty() && file.pipl.match_name == name)) {
        throw HostError(why);
      }
    }
    throw UsageError(e.what());
  }
  PluginTrials trials(DefaultTrialCacheFile());
  const std::string verdict = trials.Verdict(*found);
  trials.Save();
  if (!verdict.empty()) throw HostError(verdict);
  SetCrashContext(found->pipl.display_name);
  return *found;
}

int RunList(const CommonOptions& common, const ListOptions& options) {
  const PluginScan scan = ScanAndTryPlugins(common);
  for (const std::string& error : scan.errors) std::cerr << "ombrix: warning: " << error << "\n";
  if (options.json) {
    ordered_json effects = ordered_json::array();
    for (const PluginFile& p : scan.plugins) {
      effects.push_back({{"category", p.pipl.category},
                         {"display_name", p.pipl.display_name},
                         {"match_name", p.pipl.match_name},
                         {"short_name", p.short_name},
                         {"file", p.path.string()}});
    }
    std::cout << Dump(effects) << "\n";
    return kExitOk;
  }
  std::string category;
  bool first = true;
  for (const PluginFile& p : scan.plugins) {
    if (first || p.pipl.category != category) {
      category = p.pipl.category;
      std::cout << (first ? "" : "\n") << category << "\n";
      first = false;
    }
    std::printf("  %-18s %-14s %s\n", p.pipl.display_name.c_str(), p.short_name.c_str(), p.pipl.match_name.c_str());
  }
  std::fflush(stdout);
  return kExitOk;
}

int RunInfo(const CommonOptions& common, const InfoOptions& options) {
  const PluginScan scan = ScanPlugins(common);
  const PluginFile& file = FindEffect(scan, options.effect);
  Host host;
  Effect effect(host, file);
  const PiplInfo& pipl = file.pipl;
  const int count = int(effect.params().size());

  if (options.json) {
    ordered_json j;
    j["short_name"] = file.short_name;
    j["file"] = file.path.string();
    j["display_name"] = pipl.display_name;
    j["match_name"] = pipl.match_name;
    j["category"] = pipl.category;
    j["kind"] = pipl.kind;
    j["entry_point"] = pipl.entry_point;
    j["pipl_version"] = std::to_string(pipl.pipl_major) + "." + std::to_string(pipl.pipl_minor);
    j["api_version"] = std::to_string(pipl.api_major) + "." + std::to_string(pipl.api_minor);
    j["effect_version"] = pipl.effect_version;
    j["info_flags"] = pipl.info_flags;
    j["global_flags"] = pipl.global_flags;
    j["ae_flags"] = pipl.ae_flags;
    j["ae_reserved"] = pipl.ae_reserved;
    j["my_version"] = effect.my_version();
    j["version"] = VersionText(effect.my_version());
    j["global_out_flags"] = effect.global_out_flags();
    ordered_json block = ordered_json::object();
    for (const auto& [key, value] : OrderedVersion(file)) block[key] = value;
    j["version_block"] = block;
    j["num_params"] = effect.num_params();
    ordered_json params = ordered_json::array();
    for (int i = 0; i < count; ++i) params.push_back(ParamJson(effect, i));
    j["params"] = params;
    j["options_dialog"] = DialogJson(effect);
    ordered_json ui = nullptr;
    if (effect.custom_ui()) {
      ui = {{"events", effect.custom_ui()->events}, {"windows", ordered_json::array()}};
      for (const auto& [window, name] : kUiWindows)
        if (effect.WantsEvents(window)) ui["windows"].push_back(name);
    }
    j["custom_ui"] = ui;
    std::cout << Dump(j) << "\n";
    return kExitOk;
  }

  std::cout << pipl.display_name << "  (" << pipl.match_name << ")\n"
            << "  file           " << file.path.string() << "\n"
            << "  short name     " << file.short_name << "\n"
            << "  category       " << pipl.category << "\n"
            << "  kind           " << pipl.kind << "\n"
            << "  entry point    " << pipl.entry_point << "\n"
            << "  PiPL version   " << pipl.pipl_major << "." << pipl.pipl_minor << "\n"
            << "  API version    " << pipl.api_major << "." << pipl.api_minor << "\n"
            << "  effect version " << Hex(pipl.effect_version, 8) << " (" << VersionText(pipl.effect_version) << ")\n"
            << "  my_version     " << Hex(effect.my_version(), 8) << "\n"
            << "  info flags     " << Hex(pipl.info_flags, 4) << "\n"
            << "  global flags   " << Hex(pipl.global_flags, 8) << " (GLOBAL_SETUP reported "
            << Hex(uint32_t(effect.global_out_flags()), 8) << ")\n"
            << "  aeFL, aeRD     " << pipl.ae_flags << ", " << pipl.ae_reserved << "\n"
            << "Version block\n";
  for (const auto& [key, value] : OrderedVersion(file)) {
    std::printf("  %-17s %s\n", key.c_str(), value.c_str());
  }
  std::fflush(stdout);
  std::cout << "Parameters (num_params " << effect.num_params() << ")\n";
  for (int i = 0; i < count; ++i) std::cout << ParamLine(effect, i);
  if (effect.custom_ui()) {
    std::cout << "Custom UI (event flags " << Hex(uint32_t(effect.custom_ui()->events), 2) << "):";
    for (const auto& [window, name] : kUiWindows)
      if (effect.WantsEvents(window)) std::cout << " " << name;
    std::cout << " windows\n";
  }
  const OptionsDialogInfo dialog = InspectOptionsDialog(effect);
  if (dialog.has_dialog && !dialog.error.empty()) {
    std::cout << "Options dialog: cannot be shown (" << dialog.error << ")\n";
  } else if (dialog.has_dialog) {
    std::cout << "Options dialog \"" << dialog.title << "\" (--dialog ID=VALUE)\n";
    for (const DialogControlInfo& c : dialog.controls) {
      std::cout << "  " << c.id << "  " << ControlKindName(c.kind) << "  \"" << c.label << "\"  " << ControlValues(c)
                << (c.enabled ? "" : "  disabled") << "\n";
    }
  }
  return kExitOk;
}

}  // namespace ombrix::cli
