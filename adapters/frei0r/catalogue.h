// What the frei0r adapters know about each effect beyond its registration:
// the fields of its settings record, and whether it keeps a drawing. Which
// effects are offered as sources and mixers is decided in CMakeLists.txt.
#pragma once

#include <cstdint>
#include <string_view>

namespace ombrix::frei0r {

// The frei0r kinds of plug-in an adapter can be (the values are frei0r's).
enum class AdapterKind : int { kFilter = 0, kSource = 1, kMixer = 2 };

// One field of a settings record offered as a parameter.
struct SettingField {
  const char* name;
  enum Type : uint8_t { kInteger, kBit, kFloat, kChoice } type;
  int word;                       // index of the 32-bit word in the record
  double min, max;                // kInteger, kFloat: the range; kBit: the bit's value
  const char* choices = nullptr;  // kChoice: "Text=value|..."
};

struct EffectEntry {
  const char* short_name;
  bool drawing;  // takes a stored drawing file as its sequence data
  // As a source, renders on opaque black rather than a transparent frame:
  // the effect keeps its layer's alpha, so on a cleared frame it would make
  // nothing visible.
  bool opaque_source;
  const SettingField* fields;  // the settings record's fields, or null
  int field_count;
};

// The entry for an effect's short name; null for an effect unknown here
// (it is then offered as a plain filter without settings).
const EffectEntry* FindEffectEntry(std::string_view short_name);

}  // namespace ombrix::frei0r
