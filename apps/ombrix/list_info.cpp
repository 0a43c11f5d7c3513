// `ombrix list` and `ombrix info`.
#include "commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

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

// A number as a parameter registers it: whole, or 16.16 fixed point.
struct Number {
  int64_t raw = 0;
  bool fixed = false;
};

std::string Text(Number n) { return n.fixed ? FormatFixed(PF_Fixed(n.raw)) : std::to_string(n.raw); }
ordered_json Json(Number n) { return n.fixed ? ordered_json(double(n.raw) / 65536.0) : ordered_json(n.raw); }

struct PopupItem {
  std::string text;  // UTF-8
  bool separator = false, disabled = false;
};

// How a fixed slider shows its value.
struct FixedDisplay {
  A_short precision = 0;
  A_short flags = 0;
  std::optional<double> percent_unit;  // shown as percent: what 1 % is in its units
};

// What `info` says about one parameter, read from its definition once; the
// JSON object and the text line are both made from it. Facts a kind does
// not have stay empty.
struct ParamFacts {
  int index = 0;
  PF_ParamType kind = 0;
  std::string name;
  PF_ParamFlags flags = 0;
  PF_ParamUIFlags ui_flags = 0;
  std::optional<std::string> label;         // check boxes: the text beside the box
  std::optional<std::string> default_word;  // "self"/"none", "on"/"off", "#RRGGBBAA"
  std::optional<Number> default_number;
  const char* unit = "";  // after the default in the text line
  std::optional<std::pair<Number, Number>> valid, slider;
  std::optional<FixedDisplay> display;
  std::optional<std::pair<Number, Number>> point;  // the default, in percent of the layer
  bool restrict_bounds = false;
  std::optional<A_long> num_choices;
  std::vector<PopupItem> items;
  std::optional<bool> custom_control;  // no-data parameters: whether the effect draws a control
  A_long ui_width = 0, ui_height = 0;
};

std::pair<Number, Number> Whole(A_long a, A_long b) { return {{a, false}, {b, false}}; }
std::pair<Number, Number> Fixed(PF_Fixed a, PF_Fixed b) { return {{a, true}, {b, true}}; }

ParamFacts DescribeParam(const Effect& effect, int index) {
  const PF_ParamDef& d = effect.params()[index];
  ParamFacts p;
  p.index = index;
  p.kind = d.param_type;
  p.name = d.name;
  p.flags = d.flags;
  p.ui_flags = d.ui_flags;
  switch (d.param_type) {
    case PF_Param_LAYER:
      p.default_word = d.u.ld.dephault == PF_LayerDefault_MYSELF ? "self" : "none";
      break;
    case PF_Param_SLIDER:
      p.default_number = Number{d.u.sd.dephault, false};
      p.valid = Whole(d.u.sd.valid_min, d.u.sd.valid_max);
      p.slider = Whole(d.u.sd.slider_min, d.u.sd.slider_max);
      break;
    case PF_Param_FIX_SLIDER:
      p.default_number = Number{d.u.fd.dephault, true};
      p.valid = Fixed(d.u.fd.valid_min, d.u.fd.valid_max);
      p.slider = Fixed(d.u.fd.slider_min, d.u.fd.slider_max);
      p.display = FixedDisplay{d.u.fd.precision, d.u.fd.display_flags, std::nullopt};
      if (d.u.fd.display_flags & PF_ValueDisplayFlag_PERCENT) p.display->percent_unit = PercentUnit(d);
      break;
    case PF_Param_ANGLE:
      // Effects set no range for angles; the rest of u.ad may hold bytes
      // left over from an earlier parameter in a reused record.
      p.default_number = Number{d.u.ad.dephault, true};
      p.unit = " degrees";
      break;
    case PF_Param_CHECKBOX:
      p.label = effect.CheckboxLabel(index);
      p.default_word = d.u.bd.dephault ? "on" : "off";
      break;
    case PF_Param_COLOR:
      p.default_word = FormatColor(d.u.cd.dephault);
      break;
    case PF_Param_POINT:
      p.point = Fixed(d.u.td.x_dephault, d.u.td.y_dephault);
      p.restrict_bounds = d.u.td.restrict_bounds != 0;
      break;
    case PF_Param_POPUP:
      p.default_number = Number{d.u.pd.dephault, false};
      p.num_choices = d.u.pd.num_choices;
      for (const std::string& item : effect.PopupItems(index)) {
        p.items.push_back({FromWindows1252(item), IsSeparator(item), IsDisabledItem(item)});
      }
      break;
    case PF_Param_NO_DATA:
      p.custom_control = (d.ui_flags & PF_PUI_CONTROL) != 0;
      p.ui_width = d.ui_width;
      p.ui_height = d.ui_height;
      break;
    default:
      break;
  }
  return p;
}

ordered_json ParamJson(const ParamFacts& p) {
  ordered_json j;
  j["index"] = p.index;
  j["kind"] = KindKey(p.kind);
  j["kind_number"] = p.kind;
  j["name"] = p.name;
  j["flags"] = p.flags;
  j["ui_flags"] = p.ui_flags;
  if (p.label) j["label"] = *p.label;
  if (p.default_word) j["default"] = *p.default_word;
  if (p.default_number) j["default"] = Json(*p.default_number);
  if (p.default_number && p.default_number->fixed) j["default_fixed"] = p.default_number->raw;
  if (p.valid) {
    j["valid_min"] = Json(p.valid->first);
    j["valid_max"] = Json(p.valid->second);
  }
  if (p.slider) {
    j["slider_min"] = Json(p.slider->first);
    j["slider_max"] = Json(p.slider->second);
  }
  if (p.display) {
    j["precision"] = p.display->precision;
    j["display_flags"] = p.display->flags;
    j["percent"] = p.display->percent_unit.has_value();
    if (p.display->percent_unit) j["percent_unit"] = *p.display->percent_unit;
  }
  if (p.point) {
    j["default_percent"] = {Json(p.point->first), Json(p.point->second)};
    j["restrict_bounds"] = p.restrict_bounds;
  }
  if (p.num_choices) {
    j["num_choices"] = *p.num_choices;
    ordered_json items = ordered_json::array();
    for (size_t i = 0; i < p.items.size(); ++i) {
      items.push_back({{"number", i + 1},
                       {"text", p.items[i].text},
                       {"separator", p.items[i].separator},
                       {"disabled", p.items[i].disabled}});
    }
    j["items"] = items;
  }
  if (p.custom_control) {
    j["custom_control"] = *p.custom_control;
    j["ui_width"] = p.ui_width;
    j["ui_height"] = p.ui_height;
  }
  return j;
}

// One line per parameter for the text form of `info`, then its popup items.
std::string ParamLine(const ParamFacts& p) {
  std::string s = "  " + std::to_string(p.index) + "  " + KindName(p.kind) + "  \"" + p.name + "\"";
  if (p.label) s += "  label \"" + *p.label + "\"";
  if (p.default_word) s += "  default " + *p.default_word;
  if (p.default_number) s += "  default " + Text(*p.default_number) + p.unit;
  if (p.valid) s += "  valid " + Text(p.valid->first) + ".." + Text(p.valid->second);
  if (p.slider) s += "  slider " + Text(p.slider->first) + ".." + Text(p.slider->second);
  if (p.display) {
    const std::optional<double>& unit = p.display->percent_unit;
    s += "  precision " + std::to_string(p.display->precision) +
         (!unit          ? "  shown as number"
          : *unit == 1.0 ? "  shown as percent (100 is 100 %)"
                         : "  shown as percent (1 is 100 %)");
  }
  if (p.point) {
    s += "  default " + Text(p.point->first) + "%," + Text(p.point->second) + "% of the layer" +
         (p.restrict_bounds ? "  kept inside the layer" : "");
  }
  if (p.num_choices) s += "  choices " + std::to_string(*p.num_choices);
  if (p.custom_control) {
    s += *p.custom_control ? "  custom control " + std::to_string(p.ui_width) + "x" + std::to_string(p.ui_height)
                           : std::string("  no control");
  }
  if (p.flags != 0) s += "  flags " + Hex(uint32_t(p.flags), 2);
  s += "\n";
  for (size_t i = 0; i < p.items.size(); ++i) {
    const PopupItem& item = p.items[i];
    s += "      " + std::to_string(i + 1) + "  " +
         (item.separator ? std::string("(separator)") : item.text + (item.disabled ? "  (disabled)" : "")) + "\n";
  }
  return s;
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

ordered_json EffectInfoJson(const PluginFile& file, Effect& effect) {
  const PiplInfo& pipl = file.pipl;
  const int count = int(effect.params().size());
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
  for (int i = 0; i < count; ++i) params.push_back(ParamJson(DescribeParam(effect, i)));
  j["params"] = params;
  j["options_dialog"] = DialogJson(effect);
  ordered_json ui = nullptr;
  if (effect.custom_ui()) {
    ui = {{"events", effect.custom_ui()->events}, {"windows", ordered_json::array()}};
    for (const auto& [window, name] : kUiWindows)
      if (effect.WantsEvents(window)) ui["windows"].push_back(name);
  }
  j["custom_ui"] = ui;
  return j;
}

int RunInfo(const CommonOptions& common, const InfoOptions& options) {
  const PluginScan scan = ScanPlugins(common);
  const PluginFile& file = FindEffect(scan, options.effect);
  Host host;
  Effect effect(host, file);
  const PiplInfo& pipl = file.pipl;
  const int count = int(effect.params().size());

  if (options.json) {
    std::cout << Dump(EffectInfoJson(file, effect)) << "\n";
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
  for (int i = 0; i < count; ++i) std::cout << ParamLine(DescribeParam(effect, i));
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
