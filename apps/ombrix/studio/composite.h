// Compositing the studio's layers, and moving frames between the host's
// worlds and packed RGBA.
#pragma once

#include "session.h"

#include <ombrix/host/world.h>

namespace ombrix::studio {

// One 8-bit straight-alpha pixel drawn over another (see composite.cpp).
PF_Pixel Over(const PF_Pixel& top, const PF_Pixel& bottom);

// Draws `layer` over `canvas` with its top-left corner on the canvas's,
// clipped to the canvas.
void DrawOver(PF_EffectWorld& canvas, const PF_EffectWorld& layer);

Frame FrameOf(const PF_EffectWorld& world);
World WorldOf(const Frame& frame);

}  // namespace ombrix::studio
