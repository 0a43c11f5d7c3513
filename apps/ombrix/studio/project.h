// The studio's project model: the composition, its layers and their effect
// stacks as plain records, read from and written to the project file.
//
// Reading checks every field against the effects themselves (names,
// parameter indices, value texts), so a project that reads is one that the
// renderer can set up without further checks.
#pragma once

#include "../commands.h"

#include <ombrix/host/image_io.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ombrix::studio {

using cli::UsageError;

struct Key {
  double time = 0;  // seconds
  std::string value;
};

struct ParamEntry {
  int index = 0;
  std::string name;       // the parameter's name, as the effect registers it
  std::string value;      // as `render -p` (layer parameters: as `--layer`) takes it
  std::vector<Key> keys;  // ascending, unique times; empty: `value` at every time
};

struct EffectEntry {
  std::string id;
  std::string effect;  // short name
  bool enabled = true;
  std::vector<ParamEntry> params;  // ascending index
  std::optional<std::vector<uint8_t>> sequence_data;
};

struct Layer {
  std::string id;
  std::string name;
  std::string source;
  bool visible = true;
  std::vector<EffectEntry> effects;  // applied first to last
};

struct Composition {
  A_long width = 640, height = 360;
  std::string fps = "24";
  int64_t frames = 48;
};

struct Project {
  Composition composition;
  std::vector<Layer> layers;  // the first is the top of the stack
};

// The plug-ins of the folder, each loaded once into one host and kept for
// the session. Safe to use from several threads.
class Catalog {
 public:
  explicit Catalog(const cli::CommonOptions& common);
  ~Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  const PluginScan& scan() const { return scan_; }
  Host& host() { return *host_; }
  // The effect of that short, display or match name, loaded on first use.
  // UsageError when there is none, HostError when it cannot be used.
  Effect& Get(const std::string& name);
  const PluginFile& File(const std::string& name);

 private:
  PluginScan scan_;
  std::unique_ptr<Host> host_;
  std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Effect>> effects_;  // by short name
  std::map<std::string, Effect*> by_name_;                  // by every name asked for
};

// A project file is at most this large.
inline constexpr off_t kMaxProjectBytes = 256 * 1024 * 1024;

// Reads a project from JSON text. UsageError naming the first field refused
// ("layers[0].effects[1].params[2].value: ...").
Project ParseProject(const std::string& text, Catalog& catalog);
Project ProjectFromJson(const nlohmann::json& j, Catalog& catalog);
// The file's JSON; reading it back gives the same project.
nlohmann::ordered_json ProjectToJson(const Project& project);
std::string ProjectText(const Project& project);

// The source of a layer, parsed; UsageError (prefixed with `where`) for one
// that is not a source the studio can show.
ImageSource ParseLayerSource(const std::string& text, const std::string& where);
// Checks one value text for a parameter of `effect` on a layer of that
// size (layer parameters: self, none or a source); UsageError prefixed with `where`.
void CheckParamValue(const Effect& effect, int index, const std::string& text, A_long width, A_long height,
                     const std::string& where);

std::string Base64Encode(const std::vector<uint8_t>& bytes);
// Nothing when the text is not canonical base64.
std::optional<std::vector<uint8_t>> Base64Decode(const std::string& text);

// Reading JSON objects with messages that name the field.
[[noreturn]] inline void Refuse(const std::string& where, const std::string& why) {
  throw UsageError(where + ": " + why);
}

inline std::string TypeName(const nlohmann::json& j) {
  if (j.is_number_integer()) return "an integer";
  if (j.is_number()) return "a number";
  if (j.is_string()) return "a string";
  if (j.is_boolean()) return "true or false";
  if (j.is_null()) return "null";
  return j.is_array() ? "an array" : "an object";
}

// The fields of one JSON object, read by name; a field it holds that no one
// asked for is refused at the end, so a misspelt name is never ignored.
class Fields {
 public:
  Fields(const nlohmann::json& j, std::string where) : j_(j), where_(std::move(where)) {
    if (!j.is_object()) Refuse(where_, "expected an object, found " + TypeName(j));
  }
  std::string At(const char* key) const { return where_ + "." + key; }
  const nlohmann::json* Find(const char* key) {
    seen_.insert(key);
    auto it = j_.find(key);
    return it == j_.end() ? nullptr : &*it;
  }
  const nlohmann::json& Need(const char* key) {
    const nlohmann::json* v = Find(key);
    if (!v) Refuse(where_, std::string("missing \"") + key + "\"");
    return *v;
  }
  std::string String(const char* key, std::optional<std::string> fallback = std::nullopt) {
    const nlohmann::json* v = fallback ? Find(key) : &Need(key);
    if (!v) return *fallback;
    if (!v->is_string()) Refuse(At(key), "expected a string, found " + TypeName(*v));
    return v->get<std::string>();
  }
  bool Bool(const char* key, bool fallback) {
    const nlohmann::json* v = Find(key);
    if (!v) return fallback;
    if (!v->is_boolean()) Refuse(At(key), "expected true or false, found " + TypeName(*v));
    return v->get<bool>();
  }
  int64_t Integer(const char* key, int64_t lo, int64_t hi) {
    const nlohmann::json& v = Need(key);
    const bool whole =
        v.is_number_integer() || (v.is_number_float() && std::nearbyint(v.get<double>()) == v.get<double>());
    if (!whole) Refuse(At(key), "expected an integer, found " + TypeName(v));
    const double d = v.get<double>();
    if (d < double(lo) || d > double(hi)) {
      Refuse(At(key), "out of range (" + std::to_string(lo) + ".." + std::to_string(hi) + ")");
    }
    return v.is_number_unsigned() ? int64_t(v.get<uint64_t>()) : v.is_number_integer() ? v.get<int64_t>() : int64_t(d);
  }
  const nlohmann::json& Array(const char* key, bool required) {
    static const nlohmann::json kEmpty = nlohmann::json::array();
    const nlohmann::json* v = required ? &Need(key) : Find(key);
    if (!v) return kEmpty;
    if (!v->is_array()) Refuse(At(key), "expected an array, found " + TypeName(*v));
    return *v;
  }
  void Done() const {
    for (auto it = j_.begin(); it != j_.end(); ++it) {
      if (!seen_.count(it.key())) Refuse(where_, "unknown field \"" + it.key() + "\"");
    }
  }

 private:
  const nlohmann::json& j_;
  std::string where_;
  std::set<std::string> seen_;
};

// The effect entry or layer of that id, or null.
Layer* FindLayer(Project& project, const std::string& id);
EffectEntry* FindEntry(Layer& layer, const std::string& id);

}  // namespace ombrix::studio
