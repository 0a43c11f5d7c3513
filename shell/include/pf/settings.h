// The settings record: a few non-animatable settings (seed, looping of the
// evolution, tiling, Lightning's fork options) kept as the sequence data of
// the effects that have an options dialog, with its lifecycle through the
// host's sequence commands.
//
// An effect with options declares its kind once, at namespace scope:
//   OMBRIX_OPTIONS(kSeedEvolution);
// and builds its commands around its own handlers (dialogs.h):
//   constexpr pf::Commands kCommands = pf::OptionsCommands(ParamsSetup, Render);
//   OMBRIX_MAIN(MistformMain, kCommands);
#pragma once

#include <pf/api.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pf {

// Which record and which options dialog an effect has.
enum class OptionsKind : uint8_t {
  kSeedEvolution,  // 7 words, version 2; the seed-and-evolution dialog (Swirlshift, Mistform, Frayline)
  kFacetry,        // 7 words, version 2; the same dialog with tiling (Facetry)
  kLightning,      // 9 words, version 1; the slider dialog (Lightning)
};

// The kind of the plug-in being built, defined by OMBRIX_OPTIONS.
extern const OptionsKind kPluginOptions;

#define OMBRIX_OPTIONS(kind)                                            \
  constexpr pf::OptionsKind pf::kPluginOptions = pf::OptionsKind::kind; \
  static_assert(true)

inline constexpr std::size_t kMaxRecordWords = 9;

// A record of N native-order 32-bit words (integers, or floats by bit pattern).
template <std::size_t N>
struct SettingsRecord {
  uint32_t words[N];
  static constexpr std::size_t kWords = N;
  static constexpr std::size_t kBytes = 4 * N;
};
using NoiseSettings = SettingsRecord<7>;      // Swirlshift, Mistform, Frayline, Facetry
using LightningSettings = SettingsRecord<9>;  // Lightning
static_assert(sizeof(NoiseSettings) == 28 && sizeof(LightningSettings) == 36);

inline float WordAsFloat(uint32_t word) { return std::bit_cast<float>(word); }
// A word in the other byte order (a record stored by a machine of the other
// endianness).
constexpr uint32_t ReverseBytes(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
inline uint32_t FloatAsWord(float value) { return std::bit_cast<uint32_t>(value); }

// The shape of one kind's record.
struct RecordLayout {
  uint32_t words;    // N
  uint32_t version;  // word 0
  uint32_t defaults[kMaxRecordWords];
  bool beep_and_clear_on_corrupt;  // Lightning's setup: beep and drop the handle it found
};

inline constexpr RecordLayout kSeedEvolutionLayout{7, 2, {2, 0, 0, 1, 0, 8, 8}, false};
inline constexpr RecordLayout kFacetryLayout{7, 2, {2, 0, 0, 1, 0, 4, 4}, false};
// Words 6..8 are the floats 0.0f, 0.7f and 0.25f.
inline constexpr RecordLayout kLightningLayout{
    9, 1, {1, 6, 64, 100, 0, 1, 0x00000000u, 0x3F333333u, 0x3E800000u}, true};

constexpr const RecordLayout& LayoutOf(OptionsKind kind) {
  return kind == OptionsKind::kLightning ? kLightningLayout
         : kind == OptionsKind::kFacetry ? kFacetryLayout
                                         : kSeedEvolutionLayout;
}

// The messages, byte for byte (0xA4 is the currency sign of the original
// code page; it is written as that single byte).
inline constexpr const char kMsgCorruptMemory[] =
    "Corrupt memory. \xA4"
    "1:1";
inline constexpr const char kMsgNoMemorySetup[] =
    "Not enough memory. \xA4"
    "1:2";
inline constexpr const char kMsgCannotRestore[] =
    "Could not restore settings. \xA4"
    "2:1";
inline constexpr const char kMsgNoMemoryRestore[] =
    "Not enough memory \xA4"
    "2:2";

// The shell's own error code, returned with one of the texts above.
inline constexpr PF_Err kShellError = 517;

// A new handle of the record's size holding the default words; NULL when the
// host could not allocate or lock it.
PF_Handle MakeDefaultRecord(PF_InData* in_data, const RecordLayout& layout);

// The command steps for a given layout (the handlers below pass the plug-in's).
PF_Err SetupRecord(PF_InData* in_data, PF_OutData* out_data, const RecordLayout& layout);
PF_Err ResetupRecord(PF_InData* in_data, PF_OutData* out_data, const RecordLayout& layout);
PF_Err SetdownRecord(PF_InData* in_data, PF_OutData* out_data);

// Handlers for the dispatch table, using kPluginOptions.
PF_Err SequenceSetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output, void* extra);
PF_Err SequenceResetup(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra);
PF_Err SequenceSetdown(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[], PF_LayerDef* output,
                       void* extra);

// For renders: copies the record in in_data->sequence_data into `record`.
// False (and `record` untouched) when there is none, it has another size or
// it cannot be locked.
template <std::size_t N>
bool ReadSettings(const PF_InData* in_data, SettingsRecord<N>* record) {
  PF_Handle h = in_data->sequence_data;
  if (h == nullptr || in_data->utils->host_get_handle_size(h) != SettingsRecord<N>::kBytes) return false;
  const void* p = in_data->utils->host_lock_handle(h);
  if (p == nullptr) return false;
  std::memcpy(record->words, p, SettingsRecord<N>::kBytes);
  in_data->utils->host_unlock_handle(h);
  return true;
}

}  // namespace pf
