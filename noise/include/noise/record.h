// The noise core's view of an effect's settings record: the lattice settings
// (seed, repeat, revolutions) held in words 1..3 of the seed-and-evolution
// record (and Facetry's record, which has the same first words).
#pragma once

#include <pf/settings.h>

#include <noise/fractal.h>

#include <cstdint>

namespace noise {

// Words 1..3 of the record as lattice settings.
inline NoiseSettings NoiseSettingsOf(const pf::NoiseSettings& record) {
  return {int32_t(record.words[1]), int32_t(record.words[2]), int32_t(record.words[3])};
}

// For renders: the lattice settings of the record the host holds; false (and
// `settings` untouched) when there is none, or none of the record's size.
// `record`, when given, receives the whole record (and is untouched on false).
inline bool ReadNoiseSettings(const PF_InData* in_data, NoiseSettings& settings, pf::NoiseSettings* record = nullptr) {
  pf::NoiseSettings words;
  if (!pf::ReadSettings(in_data, &words)) return false;
  settings = NoiseSettingsOf(words);
  if (record != nullptr) *record = words;
  return true;
}

// The start of every render: the lattice for the Evolution angle and the
// settings of the record the host holds (without one: seed 0, no repeat).
// True when there was a record; `record`, when given, receives it.
inline bool BuildRenderLattice(NoiseLattice& lattice, int32_t evolution, const PF_InData* in_data,
                               pf::NoiseSettings* record = nullptr) {
  NoiseSettings settings;
  const bool has_record = ReadNoiseSettings(in_data, settings, record);
  BuildNoiseLattice(lattice, evolution, has_record ? &settings : nullptr);
  return has_record;
}

}  // namespace noise
