// Playback: which strokes of the drawing a frame shows and how far each is
// drawn, by the "Draw Strokes..." mode and the current time; drawing them in
// paint-time order; and combining the painted result with the layer by
// "Composite Paint...". The effect's RENDER.
#pragma once

#include <pf/api.h>

#include <cstdint>

#include "drawing.h"
#include "globals.h"

namespace paint {

// "Draw Strokes..." items.
enum : int32_t {
  kDrawAll = 1,
  kDrawPast = 2,
  kDrawHold = 3,
  kDrawAnimate = 4,
  kDrawCurrentFrame = 5,
  kDrawOnionSkin = 6,
};

// "Composite Paint..." items (3, 6 and 9 are separator lines).
enum : int32_t {
  kCompositeOnly = 1,
  kCompositeWithOriginal = 2,
  kCompositeOver = 4,
  kCompositeUnder = 5,
  kCompositeTrackMatte = 7,
  kCompositeTrackMatteVisible = 8,
  kCompositeAsMatte = 10,
  kCompositeAsInverseMatte = 11,
};

struct PlaybackSettings {
  int32_t draw_mode = kDrawAll;
  double speed = 1.0;  // "Animation Speed"
  bool speed_affects_insert = false;
  int32_t composite = kCompositeWithOriginal;
};

// The stroke indices of the drawing in drawing order (paint time, then id),
// rebuilt into header words 46-48 when stale; `*rebuilt` tells whether it
// was. Null when the drawing has no strokes or memory ran out.
const int32_t* DrawOrder(MemoryBlock* drawing, bool* rebuilt);

// One output pixel of the final combination: `out` the painted pixel, `in`
// the layer's.
PF_Pixel CompositePixel(int32_t mode, const PF_Pixel& in, const PF_Pixel& out);

// Renders the drawing over `input` into `output` at in_data's time and
// downsample factors. Host errors (copy, fill, new_world, progress) are
// answered as they come; -108 when memory for the draw order or the dirty
// spans runs out.
PF_Err RenderDrawing(PF_InData* in_data, MemoryBlock* drawing, const OnionPrefs& onion, const PlaybackSettings& s,
                     PF_EffectWorld& input, PF_EffectWorld& output);

}  // namespace paint
