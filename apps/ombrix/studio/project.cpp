// Project files: reading with every field checked, and writing.
#include "project.h"

#include "../render_options.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

namespace ombrix::studio {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

// Stored sequence data is a settings record of a few words, or for effects
// that flatten it a drawing; the same limits as --sequence-data.
constexpr size_t kMaxRecordBytes = 64 * 1024;
constexpr size_t kMaxFlatBytes = 64 * 1024 * 1024;

std::string Item(const std::string& where, const char* key, size_t i) {
  return where + (where.empty() ? "" : ".") + key + "[" + std::to_string(i) + "]";
}

TimeBase CompositionTime(const std::string& fps, const std::string& where) {
  cli::RenderOptions o;
  o.fps = fps;
  cli::CheckedOptions c;
  try {
    cli::ReadTimeBase(o, c);
  } catch (const UsageError& e) {
    Refuse(where, e.what());
  }
  return c.tb;
}

Composition ReadComposition(const json& j, const std::string& where) {
  Fields f(j, where);
  Composition c;
  c.width = A_long(f.Integer("width", 1, kMaxImageSide));
  c.height = A_long(f.Integer("height", 1, kMaxImageSide));
  if (int64_t(c.width) * c.height > kMaxImagePixels) Refuse(where, "the composition is larger than the image limit");
  c.fps = f.String("fps");
  const TimeBase tb = CompositionTime(c.fps, f.At("fps"));
  c.frames = f.Integer("frames", 1, int64_t(INT32_MAX) / tb.time_step + 1);
  f.Done();
  return c;
}

void ReadKeys(const json& keys, const std::string& where, ParamEntry& p, const TimeBase& tb) {
  std::optional<A_long> previous;
  for (size_t k = 0; k < keys.size(); ++k) {
    const std::string at = where + "[" + std::to_string(k) + "]";
    Fields f(keys[k], at);
    const json& t = f.Need("time");
    if (!t.is_number()) Refuse(f.At("time"), "expected a number of seconds, found " + TypeName(t));
    Key key{t.get<double>(), f.String("value")};
    f.Done();
    const A_long ticks = cli::SecondsToTicksChecked(key.time, f.At("time"), tb);
    if (previous && ticks <= *previous) Refuse(f.At("time"), "keys must be in ascending order of time, one per time");
    previous = ticks;
    p.keys.push_back(std::move(key));
  }
}

ParamEntry ReadParam(const json& j, const std::string& where, const Effect& effect, const ImageSource& layer,
                     const TimeBase& tb) {
  Fields f(j, where);
  ParamEntry p;
  const int count = int(effect.params().size());
  p.index = int(f.Integer("index", 1, std::max(count - 1, 1)));
  if (p.index >= count) Refuse(f.At("index"), "the effect has no parameters");
  const PF_ParamDef& def = effect.params()[size_t(p.index)];
  p.name = f.String("name", std::string(def.name));
  if (p.name != def.name) {
    Refuse(f.At("name"),
           "parameter " + std::to_string(p.index) + " is \"" + std::string(def.name) + "\", not \"" + p.name + "\"");
  }
  p.value = f.String("value");
  CheckParamValue(effect, p.index, p.value, layer.width, layer.height, f.At("value"));
  const json& keys = f.Array("keys", false);
  if (!keys.empty() && def.param_type == PF_Param_LAYER) Refuse(f.At("keys"), "a layer parameter has no keyframes");
  ReadKeys(keys, f.At("keys"), p, tb);
  for (size_t k = 0; k < p.keys.size(); ++k) {
    CheckParamValue(effect, p.index, p.keys[k].value, layer.width, layer.height,
                    f.At("keys") + "[" + std::to_string(k) + "].value");
  }
  f.Done();
  return p;
}

std::optional<std::vector<uint8_t>> ReadSequenceData(Fields& f, const Effect& effect) {
  const json* v = f.Find("sequence_data");
  if (!v || v->is_null()) return std::nullopt;
  if (!v->is_string()) Refuse(f.At("sequence_data"), "expected base64 text or null, found " + TypeName(*v));
  const bool flattened = effect.global_out_flags() & PF_OutFlag_SEQUENCE_DATA_NEEDS_FLATTENING;
  const size_t limit = flattened ? kMaxFlatBytes : kMaxRecordBytes;
  if (v->get_ref<const std::string&>().size() / 4 * 3 > limit + 3) {
    Refuse(f.At("sequence_data"), "larger than the " + std::to_string(limit / 1024) + " KiB an effect's data may hold");
  }
  std::optional<std::vector<uint8_t>> bytes = Base64Decode(v->get<std::string>());
  if (!bytes) Refuse(f.At("sequence_data"), "not valid base64");
  if (bytes->size() > limit) {
    Refuse(f.At("sequence_data"), "larger than the " + std::to_string(limit / 1024) + " KiB an effect's data may hold");
  }
  return bytes;
}

EffectEntry ReadEffect(const json& j, const std::string& where, Catalog& catalog, const ImageSource& layer,
                       const TimeBase& tb, std::set<std::string>& ids) {
  Fields f(j, where);
  EffectEntry e;
  e.id = f.String("id");
  if (e.id.empty() || !ids.insert(e.id).second) Refuse(f.At("id"), "'" + e.id + "' is empty or not unique");
  const std::string name = f.String("effect");
  Effect* effect = nullptr;
  try {
    effect = &catalog.Get(name);
  } catch (const UsageError& err) {
    Refuse(f.At("effect"), err.what());
  } catch (const HostError& err) {
    throw HostError(f.At("effect") + ": " + err.what());
  }
  e.effect = effect->file().short_name;
  e.enabled = f.Bool("enabled", true);
  const json& params = f.Array("params", false);
  std::set<int> seen;
  for (size_t i = 0; i < params.size(); ++i) {
    ParamEntry p = ReadParam(params[i], Item(where, "params", i), *effect, layer, tb);
    if (!seen.insert(p.index).second) {
      Refuse(Item(where, "params", i) + ".index", "parameter " + std::to_string(p.index) + " is listed twice");
    }
    e.params.push_back(std::move(p));
  }
  std::sort(e.params.begin(), e.params.end(),
            [](const ParamEntry& a, const ParamEntry& b) { return a.index < b.index; });
  e.sequence_data = ReadSequenceData(f, *effect);
  f.Done();
  return e;
}

Layer ReadLayer(const json& j, const std::string& where, Catalog& catalog, const TimeBase& tb,
                std::set<std::string>& ids) {
  Fields f(j, where);
  Layer l;
  l.id = f.String("id");
  if (l.id.empty() || !ids.insert(l.id).second) Refuse(f.At("id"), "'" + l.id + "' is empty or not unique");
  l.name = f.String("name", std::string());
  l.source = f.String("source");
  const ImageSource source = ParseLayerSource(l.source, f.At("source"));
  l.visible = f.Bool("visible", true);
  const json& effects = f.Array("effects", false);
  for (size_t i = 0; i < effects.size(); ++i) {
    l.effects.push_back(ReadEffect(effects[i], Item(where, "effects", i), catalog, source, tb, ids));
  }
  f.Done();
  return l;
}

ordered_json ParamJson(const ParamEntry& p) {
  ordered_json j{{"index", p.index}, {"name", p.name}, {"value", p.value}};
  if (!p.keys.empty()) {
    ordered_json keys = ordered_json::array();
    for (const Key& k : p.keys) keys.push_back({{"time", k.time}, {"value", k.value}});
    j["keys"] = std::move(keys);
  }
  return j;
}

ordered_json EffectJson(const EffectEntry& e) {
  ordered_json params = ordered_json::array();
  for (const ParamEntry& p : e.params) params.push_back(ParamJson(p));
  ordered_json j{{"id", e.id}, {"effect", e.effect}, {"enabled", e.enabled}, {"params", std::move(params)}};
  j["sequence_data"] = e.sequence_data ? ordered_json(Base64Encode(*e.sequence_data)) : ordered_json(nullptr);
  return j;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

Catalog::Catalog(const cli::CommonOptions& common) : scan_(cli::ScanPlugins(common)), host_(std::make_unique<Host>()) {
  host_->on_message = [](std::string_view) {};  // results carry their messages
}

Catalog::~Catalog() {
  effects_.clear();  // before the host they refer to
}

const PluginFile& Catalog::File(const std::string& name) {
  std::lock_guard lock(mutex_);
  return cli::FindEffect(scan_, name);
}

Effect& Catalog::Get(const std::string& name) {
  {
    std::lock_guard lock(mutex_);
    auto known = by_name_.find(name);
    if (known != by_name_.end()) return *known->second;
  }
  const PluginFile& file = File(name);
  std::lock_guard lock(mutex_);
  std::unique_ptr<Effect>& effect = effects_[file.short_name];
  if (!effect) effect = std::make_unique<Effect>(*host_, file);
  by_name_[name] = effect.get();
  return *effect;
}

ImageSource ParseLayerSource(const std::string& text, const std::string& where) {
  if (text == "-" || text.rfind("rgba:", 0) == 0)
    Refuse(where, "'" + text + "': streams cannot be layers of a project");
  try {
    ImageSource source = ParseSource(text);
    if (source.kind == SourceKind::kRawStream) Refuse(where, "'" + text + "': streams cannot be layers of a project");
    if (source.kind == SourceKind::kSequence) CheckSequenceFrames(source);
    return source;
  } catch (const HostError& e) {
    Refuse(where, e.what());
  }
}

void CheckParamValue(const Effect& effect, int index, const std::string& text, A_long width, A_long height,
                     const std::string& where) {
  if (effect.params()[size_t(index)].param_type == PF_Param_LAYER) {
    if (text != "self" && text != "none") ParseLayerSource(text, where);
    return;
  }
  try {
    cli::ParseParamValue(effect, index, text, width, height);
  } catch (const UsageError& e) {
    Refuse(where, e.what());
  }
}

Project ProjectFromJson(const json& j, Catalog& catalog) {
  Fields f(j, "project");
  const json& version = f.Need("ombrix_project");
  if (version != json(1)) Refuse("ombrix_project", "expected 1 (the only version there is)");
  Project p;
  p.composition = ReadComposition(f.Need("composition"), "composition");
  const TimeBase tb = CompositionTime(p.composition.fps, "composition.fps");
  const json& layers = f.Array("layers", true);
  std::set<std::string> ids;
  for (size_t i = 0; i < layers.size(); ++i)
    p.layers.push_back(ReadLayer(layers[i], Item("", "layers", i), catalog, tb, ids));
  f.Done();
  return p;
}

Project ParseProject(const std::string& text, Catalog& catalog) {
  // A field given twice would otherwise be read as its last value.
  std::vector<std::set<std::string>> open_objects;
  const json::parser_callback_t no_duplicates = [&](int, json::parse_event_t event, json& parsed) {
    if (event == json::parse_event_t::object_start) open_objects.emplace_back();
    if (event == json::parse_event_t::object_end) open_objects.pop_back();
    if (event == json::parse_event_t::key && !open_objects.back().insert(parsed.get<std::string>()).second) {
      throw UsageError("not a project file: the field \"" + parsed.get<std::string>() + "\" is given twice");
    }
    return true;
  };
  json j;
  try {
    j = json::parse(text, no_duplicates);
  } catch (const json::parse_error& e) {
    std::string why = e.what();
    const size_t bracket = why.find("] ");
    if (bracket != std::string::npos) why.erase(0, bracket + 2);
    throw UsageError("not a project file: " + why);
  }
  return ProjectFromJson(j, catalog);
}

ordered_json ProjectToJson(const Project& p) {
  ordered_json layers = ordered_json::array();
  for (const Layer& l : p.layers) {
    ordered_json effects = ordered_json::array();
    for (const EffectEntry& e : l.effects) effects.push_back(EffectJson(e));
    layers.push_back({{"id", l.id},
                      {"name", l.name},
                      {"source", l.source},
                      {"visible", l.visible},
                      {"effects", std::move(effects)}});
  }
  const Composition& c = p.composition;
  return ordered_json{{"ombrix_project", 1},
                      {"composition", {{"width", c.width}, {"height", c.height}, {"fps", c.fps}, {"frames", c.frames}}},
                      {"layers", std::move(layers)}};
}

std::string ProjectText(const Project& project) {
  return ProjectToJson(project).dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t v = uint32_t(bytes[i]) << 16;
    if (n > 1) v |= uint32_t(bytes[i + 1]) << 8;
    if (n > 2) v |= bytes[i + 2];
    for (size_t k = 0; k < 4; ++k) out += k <= n ? kBase64[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t v = 0;
    int pad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      const char* at = c ? std::strchr(kBase64, c) : nullptr;
      // Padding only at the end of the text, at most two, nothing after it.
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++pad;
        v <<= 6;
        continue;
      }
      if (!at || pad) return std::nullopt;
      v = v << 6 | uint32_t(at - kBase64);
    }
    // Bits under the padding must be zero, so that each text reads one way.
    if ((pad == 1 && (v & 0xFF)) || (pad == 2 && (v & 0xFFFF))) return std::nullopt;
    out.push_back(uint8_t(v >> 16));
    if (pad < 2) out.push_back(uint8_t(v >> 8));
    if (pad < 1) out.push_back(uint8_t(v));
  }
  return out;
}

Layer* FindLayer(Project& project, const std::string& id) {
  for (Layer& l : project.layers)
    if (l.id == id) return &l;
  return nullptr;
}

EffectEntry* FindEntry(Layer& layer, const std::string& id) {
  for (EffectEntry& e : layer.effects)
    if (e.id == id) return &e;
  return nullptr;
}

}  // namespace ombrix::studio
