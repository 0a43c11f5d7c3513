#include "catalogue.h"

#include <iterator>

namespace ombrix::frei0r {
namespace {

using F = SettingField;

// Words 1..3 of the noise effects' record: the lattice's seed, whether the
// evolution repeats, and after how many revolutions.
constexpr SettingField kSeedEvolution[] = {
    {"Random Seed", F::kInteger, 1, 0, 5898239},
    {"Repeat Evolution", F::kBit, 2, 1, 1},
    {"Revolutions", F::kInteger, 3, 1, 91},
};

constexpr SettingField kFacetry[] = {
    {"Random Seed", F::kInteger, 1, 0, 5898239}, {"Repeat Evolution", F::kBit, 2, 1, 1},
    {"Revolutions", F::kInteger, 3, 1, 91},      {"Tile Cells", F::kBit, 4, 1, 1},
    {"Tile X", F::kInteger, 5, 1, 65535},        {"Tile Y", F::kInteger, 6, 1, 65535},
};

constexpr SettingField kLightning[] = {
    {"Complexity", F::kInteger, 1, 1, 8},
    {"Minimum Forkdistance", F::kInteger, 2, 16, 256},
    {"Termination Threshold", F::kInteger, 3, 1, 100},
    {"Main Core Collision Only", F::kBit, 4, 4, 4},
    {"Fractal Model", F::kChoice, 5, 0, 0, "Linear=1|SemiLinear=2|Spline=4"},
    {"Fork Drain", F::kFloat, 6, 0, 1},
    {"Fork Strength", F::kFloat, 7, 0, 1},
    {"Fork Variation", F::kFloat, 8, 0, 1},
};

constexpr EffectEntry kEffects[] = {
    {"difference", false, false, nullptr, 0},
    {"facetry", false, true, kFacetry, int(std::size(kFacetry))},
    {"flatwash", false, false, nullptr, 0},
    {"floodspill", false, false, nullptr, 0},
    {"fourtint", false, true, nullptr, 0},
    {"frayline", false, false, kSeedEvolution, int(std::size(kSeedEvolution))},
    {"grid", false, false, nullptr, 0},
    {"hueswap", false, false, nullptr, 0},
    {"lampcast", false, false, nullptr, 0},
    {"lenswarp", false, false, nullptr, 0},
    {"lightning", false, false, kLightning, int(std::size(kLightning))},
    {"magnify", false, false, nullptr, 0},
    {"mistform", false, true, kSeedEvolution, int(std::size(kSeedEvolution))},
    {"paint", true, false, nullptr, 0},
    {"speckhue", false, false, nullptr, 0},
    {"swirlshift", false, false, kSeedEvolution, int(std::size(kSeedEvolution))},
    {"tintmatch", false, false, nullptr, 0},
};

}  // namespace

const EffectEntry* FindEffectEntry(std::string_view short_name) {
  for (const EffectEntry& e : kEffects) {
    if (short_name == e.short_name) return &e;
  }
  return nullptr;
}

}  // namespace ombrix::frei0r
