// What the custom-UI probe plug-in keeps and reports, read back by the tests.
#pragma once

#include <pf/api.h>

#include <cstdint>

namespace uiprobe {

// Parameter indices (0 is the input layer).
enum Param { kControl = 1, kStep, kParamCount };
constexpr A_short kControlWidth = 260, kControlHeight = 74;
// The windows it asks events for: composition and effect, not layer.
constexpr A_long kEvents = PF_CustomEFlag_COMP | PF_CustomEFlag_EFFECT;

// A Step of this value makes SEQUENCE_FLATTEN claim one byte more than its handle holds.
constexpr A_long kStepOversized = 10;

// The sequence data in flat form. Unflat, it is an 8-byte handle: a zero
// word, then the number of the plug-in's own record that holds the same.
constexpr uint32_t kFlatMagic = 0x54414C46;  // "FLAT"
constexpr A_long kFlatPadding = 16;          // flat handles are this much larger than the flat data
struct Flat {
  uint32_t magic;
  int32_t count;   // Step added by each render and each click that paints
  int32_t length;  // of log
  // Two letters per command: the command (S setup, r resetup, F flatten,
  // R render, E event) and the form its sequence data arrived in (- none,
  // U unflat, F flat).
  char log[60];
};

}  // namespace uiprobe
