// Edits of the project, and undo and redo.
//
// An edit is made on a copy of the project, which is then read back as a
// project file would be; only a copy that passes every check replaces the
// project, so a refused edit changes nothing. Each step of the history is
// the whole project before it (sequence data included).
#include "session_state.h"

#include "../render_options.h"

#include <algorithm>

namespace ombrix::studio {
namespace {

using nlohmann::json;

struct EditContext {
  SessionState& s;
  Project& project;
  Fields& f;
  json added;            // the id of what the edit added
  std::string set_what;  // the parameter set_param set ("layer/entry/index"), else ""
};

Layer& LayerOf(EditContext& c) {
  const std::string id = c.f.String("layer");
  Layer* layer = FindLayer(c.project, id);
  if (!layer) Refuse(c.f.At("layer"), "no layer '" + id + "'");
  return *layer;
}

EffectEntry& EntryOf(EditContext& c, Layer& layer) {
  const std::string id = c.f.String("entry");
  EffectEntry* entry = FindEntry(layer, id);
  if (!entry) Refuse(c.f.At("entry"), "layer '" + layer.id + "' has no effect '" + id + "'");
  return *entry;
}

size_t Position(EditContext& c, const char* key, size_t size, bool optional) {
  if (optional && !c.f.Find(key)) return 0;
  return size_t(c.f.Integer(key, 0, int64_t(size)));
}

template <typename T>
void MoveItem(std::vector<T>& items, size_t from, size_t to) {
  T item = std::move(items[from]);
  items.erase(items.begin() + std::ptrdiff_t(from));
  items.insert(items.begin() + std::ptrdiff_t(to), std::move(item));
}

template <typename T>
size_t IndexOf(const std::vector<T>& items, const T& item) {
  return size_t(&item - items.data());
}

void AddLayer(EditContext& c) {
  Layer layer;
  layer.source = c.f.String("source");
  ParseLayerSource(layer.source, c.f.At("source"));
  layer.name = c.f.String("name", layer.source);
  const size_t at = Position(c, "at", c.project.layers.size(), true);
  layer.id = NewId(c.s, "L");
  c.added = layer.id;
  c.project.layers.insert(c.project.layers.begin() + std::ptrdiff_t(at), std::move(layer));
}

void SetLayer(EditContext& c) {
  Layer& layer = LayerOf(c);
  layer.name = c.f.String("name", layer.name);
  layer.visible = c.f.Bool("visible", layer.visible);
  layer.source = c.f.String("source", layer.source);
  ParseLayerSource(layer.source, c.f.At("source"));
}

// The sequence data an effect sets up when it is applied.
std::optional<std::vector<uint8_t>> FreshSequenceData(SessionState& s, Effect& effect, const ImageSource& source) {
  EffectEntry blank;
  const std::unique_ptr<Instance> instance =
      MakeInstance(effect, blank, CompositionTimeBase(s.project.composition), source.width, source.height);
  std::vector<uint8_t> bytes = instance->SequenceDataBytes();
  if (bytes.empty()) return std::nullopt;
  return bytes;
}

void AddEffect(EditContext& c) {
  Layer& layer = LayerOf(c);
  const std::string name = c.f.String("effect");
  Effect* effect = nullptr;
  try {
    effect = &c.s.catalog.Get(name);
  } catch (const UsageError& e) {
    Refuse(c.f.At("effect"), e.what());
  }
  const size_t at = Position(c, "at", layer.effects.size(), true);
  EffectEntry entry;
  entry.id = NewId(c.s, "E");
  entry.effect = effect->file().short_name;
  entry.sequence_data = FreshSequenceData(c.s, *effect, ParseLayerSource(layer.source, "source"));
  c.added = entry.id;
  layer.effects.insert(layer.effects.begin() + std::ptrdiff_t(at), std::move(entry));
}

// A key time in ticks of the composition's time base, for comparing times.
A_long Ticks(EditContext& c, double seconds) {
  return cli::SecondsToTicksChecked(seconds, c.f.At("time"), CompositionTimeBase(c.project.composition));
}

ParamEntry& ParamOf(EditContext& c, EffectEntry& entry, const Effect& effect, bool create) {
  const int index = int(c.f.Integer("param", 1, std::max<int64_t>(int64_t(effect.params().size()) - 1, 1)));
  if (size_t(index) >= effect.params().size()) Refuse(c.f.At("param"), "the effect has no parameters");
  auto it =
      std::find_if(entry.params.begin(), entry.params.end(), [&](const ParamEntry& p) { return p.index == index; });
  if (it != entry.params.end()) return *it;
  if (!create) Refuse(c.f.At("param"), "parameter " + std::to_string(index) + " has no keys");
  ParamEntry p;
  p.index = index;
  p.name = effect.params()[size_t(index)].name;
  it = std::upper_bound(entry.params.begin(), entry.params.end(), index,
                        [](int i, const ParamEntry& e) { return i < e.index; });
  return *entry.params.insert(it, std::move(p));
}

double KeyTime(EditContext& c) {
  const json& t = c.f.Need("time");
  if (!t.is_number()) Refuse(c.f.At("time"), "expected a number of seconds, found " + TypeName(t));
  return t.get<double>();
}

void SetParam(EditContext& c) {
  Layer& layer = LayerOf(c);
  EffectEntry& entry = EntryOf(c, layer);
  const Effect& effect = c.s.catalog.Get(entry.effect);
  ParamEntry& p = ParamOf(c, entry, effect, true);
  const std::string value = c.f.String("value");
  const ImageSource source = ParseLayerSource(layer.source, "source");
  CheckParamValue(effect, p.index, value, source.width, source.height, c.f.At("value"));
  c.set_what = layer.id + "/" + entry.id + "/" + std::to_string(p.index);
  if (!c.f.Find("time")) {
    p.value = value;
    p.keys.clear();
    return;
  }
  const double time = KeyTime(c);
  if (effect.params()[size_t(p.index)].param_type == PF_Param_LAYER) {
    Refuse(c.f.At("time"), "a layer parameter has no keyframes");
  }
  if (p.value.empty()) p.value = value;
  const A_long ticks = Ticks(c, time);
  auto at = std::find_if(p.keys.begin(), p.keys.end(), [&](const Key& k) { return Ticks(c, k.time) >= ticks; });
  if (at != p.keys.end() && Ticks(c, at->time) == ticks)
    *at = Key{time, value};
  else
    p.keys.insert(at, Key{time, value});
}

void RemoveKey(EditContext& c) {
  Layer& layer = LayerOf(c);
  EffectEntry& entry = EntryOf(c, layer);
  ParamEntry& p = ParamOf(c, entry, c.s.catalog.Get(entry.effect), false);
  const A_long ticks = Ticks(c, KeyTime(c));
  auto at = std::find_if(p.keys.begin(), p.keys.end(), [&](const Key& k) { return Ticks(c, k.time) == ticks; });
  if (at == p.keys.end()) Refuse(c.f.At("time"), "parameter " + std::to_string(p.index) + " has no key there");
  p.keys.erase(at);
}

void SetComposition(EditContext& c) {
  Composition& comp = c.project.composition;
  if (c.f.Find("width")) comp.width = A_long(c.f.Integer("width", 1, kMaxImageSide));
  if (c.f.Find("height")) comp.height = A_long(c.f.Integer("height", 1, kMaxImageSide));
  if (c.f.Find("frames")) comp.frames = c.f.Integer("frames", 1, INT32_MAX);
  comp.fps = c.f.String("fps", comp.fps);
}

std::vector<std::string> AnswerTexts(EditContext& c) {
  const json& answers = c.f.Need("answers");
  std::vector<std::string> texts;
  if (answers.is_string()) texts.push_back(answers.get<std::string>());
  for (const json& a : answers.is_array() ? answers : json::array()) {
    if (!a.is_string()) Refuse(c.f.At("answers"), "expected strings, found " + TypeName(a));
    texts.push_back(a.get<std::string>());
  }
  if (!answers.is_string() && !answers.is_array()) {
    Refuse(c.f.At("answers"), "expected a string or an array of strings, found " + TypeName(answers));
  }
  return texts;
}

// The options dialog, on an instance of its own made from the entry's
// sequence data: no render can be using it while the dialog runs.
void RunOptions(EditContext& c) {
  Layer& layer = LayerOf(c);
  EffectEntry& entry = EntryOf(c, layer);
  const std::vector<cli::DialogAnswer> answers = cli::ParseDialogAnswers(AnswerTexts(c));
  Effect& effect = c.s.catalog.Get(entry.effect);
  const std::string name = effect.file().pipl.display_name;
  const ImageSource source = ParseLayerSource(layer.source, "source");
  std::lock_guard lock(c.s.dialog_mutex);
  cli::CheckDialogAnswers(name, cli::InspectOptionsDialog(effect), answers);
  const std::unique_ptr<Instance> instance =
      MakeInstance(effect, entry, CompositionTimeBase(c.project.composition), source.width, source.height);
  const CommandResult result = cli::RunOptionsDialog(*instance, name, answers, true);
  if (result.err != PF_Err_NONE) {
    throw HostError(name + ": the options dialog failed with error " + std::to_string(result.err) +
                        (result.message.empty() ? "" : ": " + cli::FromWindows1252(result.message)),
                    result.err);
  }
  std::vector<uint8_t> bytes = instance->SequenceDataBytes();
  entry.sequence_data = bytes.empty() ? std::nullopt : std::optional(std::move(bytes));
}

void ApplyEdit(EditContext& c, const std::string& op) {
  if (op == "add_layer") return AddLayer(c);
  if (op == "set_layer") return SetLayer(c);
  if (op == "set_composition") return SetComposition(c);
  if (op == "add_effect") return AddEffect(c);
  if (op == "set_param") return SetParam(c);
  if (op == "remove_key") return RemoveKey(c);
  if (op == "options") return RunOptions(c);
  if (op == "remove_layer" || op == "move_layer") {
    Layer& layer = LayerOf(c);
    const size_t from = IndexOf(c.project.layers, layer);
    if (op == "remove_layer") {
      c.project.layers.erase(c.project.layers.begin() + std::ptrdiff_t(from));
    } else {
      MoveItem(c.project.layers, from, Position(c, "to", c.project.layers.size() - 1, false));
    }
    return;
  }
  if (op == "remove_effect" || op == "move_effect" || op == "set_effect") {
    Layer& layer = LayerOf(c);
    EffectEntry& entry = EntryOf(c, layer);
    const size_t from = IndexOf(layer.effects, entry);
    if (op == "remove_effect")
      layer.effects.erase(layer.effects.begin() + std::ptrdiff_t(from));
    else if (op == "move_effect")
      MoveItem(layer.effects, from, Position(c, "to", layer.effects.size() - 1, false));
    else
      entry.enabled = c.f.Bool("enabled", entry.enabled);
    return;
  }
  Refuse("op", "unknown edit '" + op + "'");
}

}  // namespace

std::string NewId(SessionState& s, const char* prefix) {
  std::set<std::string> used;
  for (const Layer& l : s.project.layers) {
    used.insert(l.id);
    for (const EffectEntry& e : l.effects) used.insert(e.id);
  }
  for (;;) {
    std::string id = prefix + std::to_string(s.next_id++);
    if (!used.count(id)) return id;
  }
}

json Session::Edit(const json& edit) {
  SessionState& s = *state_;
  std::lock_guard lock(s.mutex);
  Fields f(edit, "edit");
  const std::string op = f.String("op");
  const bool merge = f.Bool("merge", false);
  Project next = s.project;
  EditContext c{s, next, f, nullptr, ""};
  // Ids given out while checking are never reused, so that a refused edit
  // cannot hand a later one an id the page already saw.
  ApplyEdit(c, op);
  f.Done();
  // Read back as a file would be: whatever the edit touched is checked the
  // same way (keys against a new frame rate, points against a new source).
  try {
    next = ProjectFromJson(json(ProjectToJson(next)), s.catalog);
  } catch (const UsageError& e) {
    throw UsageError(std::string("edit refused: ") + e.what());
  }
  const bool fold = merge && !c.set_what.empty() && c.set_what == s.merge_key && !s.undo.empty();
  if (!fold) {
    s.undo.push_back(std::move(s.project));
    if (s.undo.size() > kUndoDepth) s.undo.pop_front();
  }
  s.redo.clear();
  s.project = std::move(next);
  s.merge_key = c.set_what;
  ++s.revision;
  json state = StateJson(s);
  if (!c.added.is_null()) state["added"] = c.added;
  return state;
}

namespace {

// Undo and redo: the current project goes onto `to`, the newest of `from`
// becomes current.
json Step(SessionState& s, std::deque<Project>& from, std::deque<Project>& to, const char* nothing) {
  std::lock_guard lock(s.mutex);
  if (from.empty()) throw UsageError(nothing);
  to.push_back(std::move(s.project));
  s.project = std::move(from.back());
  from.pop_back();
  s.merge_key.clear();  // a drag after this is a step of its own
  ++s.revision;
  return StateJson(s);
}

}  // namespace

json Session::Undo() { return Step(*state_, state_->undo, state_->redo, "nothing to undo"); }

json Session::Redo() { return Step(*state_, state_->redo, state_->undo, "nothing to redo"); }

}  // namespace ombrix::studio
