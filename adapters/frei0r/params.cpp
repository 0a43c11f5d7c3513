#include "params.h"

#include <pf/settings.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace ombrix::frei0r {
namespace {

using Role = AdaptedParam::Role;

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// A registered number's range in its own units (16.16 for fixed sliders).
struct Range {
  double lo, hi, dflt, unit;  // unit: 1 for sliders, 65536 for fixed sliders
};

Range RangeOf(const PF_ParamDef& def) {
  if (def.param_type == PF_Param_SLIDER)
    return {double(def.u.sd.valid_min), double(def.u.sd.valid_max), double(def.u.sd.dephault), 1.0};
  return {double(def.u.fd.valid_min), double(def.u.fd.valid_max), double(def.u.fd.dephault), 65536.0};
}

double Normalised(const Range& r) { return r.hi > r.lo ? (r.dflt - r.lo) / (r.hi - r.lo) : 0.0; }

std::string Title(const Effect& effect, int index) {
  const PF_ParamDef& def = effect.params()[size_t(index)];
  std::string name(def.name, strnlen(def.name, sizeof def.name));
  const bool blank = name.find_first_not_of(' ') == std::string::npos;
  if (def.param_type == PF_Param_CHECKBOX && blank) return effect.CheckboxLabel(index);
  return blank ? "Parameter " + std::to_string(index) : name;
}

std::string PopupChoices(const Effect& effect, int index) {
  std::string out;
  const std::vector<std::string> items = effect.PopupItems(index);
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].substr(0, 1) == "(") continue;  // separators and headings
    out += (out.empty() ? "" : ", ") + std::to_string(i + 1) + " " + items[i];
  }
  return out;
}

const pf::RecordLayout& LayoutFor(const EffectEntry& entry) {
  const std::string_view name = entry.short_name;
  return name == "lightning" ? pf::kLightningLayout : name == "facetry" ? pf::kFacetryLayout : pf::kSeedEvolutionLayout;
}

Value FieldDefault(const EffectEntry& entry, const SettingField& f) {
  const uint32_t word = LayoutFor(entry).defaults[f.word];
  Value v;
  switch (f.type) {
    case SettingField::kInteger:
      v.d = double(int32_t(word));
      break;
    case SettingField::kBit:
      v.d = (word & uint32_t(f.min)) ? 1.0 : 0.0;
      break;
    case SettingField::kFloat:
      v.d = double(pf::WordAsFloat(word));
      break;
    case SettingField::kChoice:
      for (std::string_view rest = f.choices; !rest.empty();) {
        const size_t bar = rest.find('|');
        const std::string_view item = rest.substr(0, bar);
        const size_t eq = item.find('=');
        if (std::to_string(word) == item.substr(eq + 1)) v.s = std::string(item.substr(0, eq));
        rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
      }
      break;
  }
  return v;
}

std::string FieldExplanation(const SettingField& f) {
  switch (f.type) {
    case SettingField::kInteger:
      return "options: a whole number " + Num(f.min) + ".." + Num(f.max) + " as it is (not normalised)";
    case SettingField::kBit:
      return "options: on or off";
    case SettingField::kFloat:
      return "options: " + Num(f.min) + ".." + Num(f.max) + " as it is";
    case SettingField::kChoice:
      return std::string("options: one of ") + f.choices;
  }
  return "";
}

// The value of a kChoice field's text; -1 when it names none.
int64_t ChoiceValue(const SettingField& f, const std::string& text) {
  for (std::string_view rest = f.choices; !rest.empty();) {
    const size_t bar = rest.find('|');
    const std::string_view item = rest.substr(0, bar);
    const size_t eq = item.find('=');
    if (Lower(std::string(item.substr(0, eq))) == Lower(text)) return std::stoll(std::string(item.substr(eq + 1)));
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
  }
  return -1;
}

double Clamp01(double v, const std::string& name, std::string& problem) {
  if (v >= 0.0 && v <= 1.0) return v;
  problem = "parameter \"" + name + "\": " + Num(v) + " is outside 0..1; clamped";
  return std::isnan(v) ? 0.0 : std::clamp(v, 0.0, 1.0);
}

uint8_t Byte(float v) { return uint8_t(std::floor(std::clamp(double(v), 0.0, 1.0) * 255.0 + 0.5)); }

// 16.16 from a double, halves away from zero, within the 32-bit range.
PF_Fixed ToFixed(double v) {
  const double raw = std::clamp(v * 65536.0, -2147483648.0, 2147483647.0);
  return PF_Fixed(std::llround(raw));
}

void AddEffectParams(const Effect& effect, ParamTable& t) {
  for (size_t i = 1; i < effect.params().size(); ++i) {
    const PF_ParamDef& def = effect.params()[i];
    const int index = int(i);
    const std::string title = Title(effect, index);
    AdaptedParam p{Role::kEffect, kDouble, title, "", index};
    Value v;
    switch (def.param_type) {
      case PF_Param_SLIDER:
      case PF_Param_FIX_SLIDER: {
        const Range r = RangeOf(def);
        p.explanation = "0..1 maps to " + Num(r.lo / r.unit) + ".." + Num(r.hi / r.unit) + " (" + Num(r.lo / r.unit) +
                        " + v x " + Num((r.hi - r.lo) / r.unit) + ")";
        v.d = Normalised(r);
        break;
      }
      case PF_Param_ANGLE: {
        const double degrees = def.u.ad.dephault / 65536.0;
        const double turns = std::floor(degrees / 360.0);
        p.explanation = "fraction of a turn (1 is 360 degrees), added to \"" + title + " Turns\"";
        v.d = degrees / 360.0 - turns;
        t.params.push_back(p);
        t.defaults.push_back(v);
        Value whole;
        whole.d = turns;
        t.params.push_back({Role::kTurns, kDouble, title + " Turns", "whole turns, any number", index});
        t.defaults.push_back(whole);
        t.params.push_back(
            {Role::kRate, kDouble, title + " Rate", "turns per second added at the frame's time (any number)", index});
        t.defaults.push_back(Value{});
        continue;
      }
      case PF_Param_CHECKBOX:
        p.type = kBool;
        p.explanation = "on or off";
        v.d = def.u.bd.dephault ? 1.0 : 0.0;
        break;
      case PF_Param_COLOR:
        p.type = kColor;
        p.explanation = "RGB, each 0..1 (byte = round(v x 255))";
        v.r = float(def.u.cd.dephault.red / 255.0);
        v.g = float(def.u.cd.dephault.green / 255.0);
        v.b = float(def.u.cd.dephault.blue / 255.0);
        break;
      case PF_Param_POINT:
        p.type = kPosition;
        p.explanation = def.u.td.restrict_bounds ? "relative to the frame, 0..1 inside it"
                                                 : "relative to the frame (0..1 inside it, may lie outside)";
        v.x = def.u.td.x_dephault / 65536.0 / 100.0;
        v.y = def.u.td.y_dephault / 65536.0 / 100.0;
        break;
      case PF_Param_POPUP:
        p.type = kString;
        p.explanation = "item text or number: " + PopupChoices(effect, index);
        v.s = std::to_string(def.u.pd.dephault);
        break;
      default:
        continue;  // layers and controls without values
    }
    t.params.push_back(p);
    t.defaults.push_back(v);
  }
}

}  // namespace

ParamTable MakeParamTable(const Effect& effect, const EffectEntry* entry) {
  ParamTable t;
  Value unit, rate;
  unit.s = "s";
  rate.s = "24";
  t.params.push_back({Role::kTimeUnit, kString, "Time Unit",
                      "unit of the time the video host passes: s (seconds, MLT) or ms (milliseconds, ffmpeg)", 0});
  t.defaults.push_back(unit);
  t.params.push_back(
      {Role::kFrameRate, kString, "Frame Rate", "the host's frame rate: N, N/D, 23.976, 29.97 or 59.94", 0});
  t.defaults.push_back(rate);
  AddEffectParams(effect, t);
  if (entry) {
    for (int f = 0; f < entry->field_count; ++f) {
      const SettingField& field = entry->fields[f];
      const ParamType type = field.type == SettingField::kBit      ? kBool
                             : field.type == SettingField::kChoice ? kString
                                                                   : kDouble;
      t.params.push_back({Role::kSetting, type, field.name, FieldExplanation(field), f});
      t.defaults.push_back(FieldDefault(*entry, field));
    }
    if (entry->drawing) {
      t.params.push_back({Role::kDrawing, kString, "Drawing", "a stored drawing file (empty: none)", 0});
      t.defaults.push_back(Value{});
    }
  }
  Value rows;
  rows.s = "auto";
  t.params.push_back({Role::kRowAlignment, kString, "Row Alignment",
                      "bytes each frame row is rounded up to: 0 for rows of width x 4 bytes, as frei0r has them; "
                      "auto: as ffmpeg pads them when run inside ffmpeg, else 0",
                      0});
  t.defaults.push_back(rows);
  return t;
}

int PopupItem(const Effect& effect, int index, const std::string& text) {
  const std::vector<std::string> items = effect.PopupItems(index);
  const int count = effect.params()[size_t(index)].u.pd.num_choices;
  auto selectable = [&](int n) { return n >= 1 && n <= count && (size_t(n) > items.size() || items[n - 1][0] != '('); };
  int n = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec == std::errc() && end == text.data() + text.size()) return selectable(n) ? n : 0;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 1; i <= int(items.size()) && i <= count; ++i) {
      if (selectable(i) && (pass == 0 ? items[i - 1] == text : Lower(items[i - 1]) == Lower(text))) return i;
    }
  }
  return 0;
}

bool HostValueGiven(const ParamTable& table, const std::vector<Value>& values, int index) {
  for (size_t i = 0; i < table.params.size(); ++i) {
    const AdaptedParam& p = table.params[i];
    if (p.index != index || (p.role != Role::kEffect && p.role != Role::kTurns && p.role != Role::kRate)) continue;
    if (values[i].set || (p.role == Role::kRate && values[i].d != 0.0)) return true;
  }
  return false;
}

ParamValue HostValue(const Effect& effect, const ParamTable& table, const std::vector<Value>& values, int index,
                     double seconds, int width, int height, std::string& problem) {
  const PF_ParamDef& def = effect.params()[size_t(index)];
  size_t at = 0;
  while (at < table.params.size() && !(table.params[at].role == Role::kEffect && table.params[at].index == index)) ++at;
  const Value& v = values[at];
  const std::string& name = table.params[at].name;
  ParamValue out;
  switch (def.param_type) {
    case PF_Param_SLIDER:
    case PF_Param_FIX_SLIDER: {
      const Range r = RangeOf(def);
      const double n = Clamp01(v.d, name, problem);
      out.value = A_long(std::llround(r.lo + n * (r.hi - r.lo)));
      break;
    }
    case PF_Param_ANGLE: {
      // The fraction, the whole turns and the turns run at the rate, in turns.
      const double turns = v.d + values[at + 1].d + values[at + 2].d * seconds;
      out.value = ToFixed(turns * 360.0);
      break;
    }
    case PF_Param_CHECKBOX:
      out.value = v.d >= 0.5 ? 1 : 0;
      break;
    case PF_Param_COLOR:
      out.color = def.u.cd.dephault;  // the alpha stays the registered one
      out.color.red = Byte(v.r);
      out.color.green = Byte(v.g);
      out.color.blue = Byte(v.b);
      if (!(v.r >= 0 && v.r <= 1 && v.g >= 0 && v.g <= 1 && v.b >= 0 && v.b <= 1))
        problem = "parameter \"" + name + "\": a component is outside 0..1; clamped";
      break;
    case PF_Param_POINT: {
      double x = v.x, y = v.y;
      if (def.u.td.restrict_bounds) {
        x = Clamp01(x, name, problem);
        y = Clamp01(y, name, problem);
      }
      out.x = ToFixed(x * width);
      out.y = ToFixed(y * height);
      break;
    }
    case PF_Param_POPUP:
      out.value = PopupItem(effect, index, v.s);
      if (out.value == 0) {
        problem = "parameter \"" + name + "\": no item \"" + v.s + "\"; the default is used";
        out.value = def.u.pd.dephault;
      }
      break;
    default:
      break;
  }
  return out;
}

std::optional<std::vector<uint8_t>> SettingsBytes(const EffectEntry& entry, const std::vector<Value>& field_values,
                                                  std::string& problem) {
  const pf::RecordLayout& layout = LayoutFor(entry);
  std::vector<uint32_t> words(layout.defaults, layout.defaults + layout.words);
  bool changed = false;
  for (int i = 0; i < entry.field_count; ++i) {
    const SettingField& f = entry.fields[i];
    const Value& v = field_values[size_t(i)];
    uint32_t& word = words[size_t(f.word)];
    const uint32_t before = word;
    switch (f.type) {
      case SettingField::kInteger: {
        const double c = std::isnan(v.d) ? f.min : std::clamp(std::round(v.d), f.min, f.max);
        if (c != v.d)
          problem = "parameter \"" + std::string(f.name) + "\": " + Num(v.d) + " is not a whole number " + Num(f.min) +
                    ".." + Num(f.max) + "; " + Num(c) + " is used";
        word = uint32_t(int32_t(c));
        break;
      }
      case SettingField::kBit:
        word = v.d >= 0.5 ? (word | uint32_t(f.min)) : (word & ~uint32_t(f.min));
        break;
      case SettingField::kFloat: {
        const double c = std::isnan(v.d) ? f.min : std::clamp(v.d, f.min, f.max);
        if (c != v.d) problem = "parameter \"" + std::string(f.name) + "\": " + Num(v.d) + " is outside its range";
        // The bit pattern of the default is kept when the value reads the same.
        if (float(c) != pf::WordAsFloat(word)) word = pf::FloatAsWord(float(c));
        break;
      }
      case SettingField::kChoice: {
        const int64_t c = ChoiceValue(f, v.s);
        if (c < 0)
          problem = "parameter \"" + std::string(f.name) + "\": no choice \"" + v.s + "\"";
        else
          word = uint32_t(c);
        break;
      }
    }
    changed = changed || word != before;
  }
  if (!changed) return std::nullopt;
  std::vector<uint8_t> bytes(words.size() * 4);
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

std::optional<FrameRate> ParseRate(const std::string& text) {
  try {
    const FrameRate rate = FrameRate::Parse(text);
    if (rate.num <= 0 || rate.den <= 0) return std::nullopt;
    return rate;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace ombrix::frei0r
