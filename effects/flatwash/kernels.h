// Flatwash's per-pixel work: free functions on the frame's constant block and
// one pixel, integer only.
#pragma once

#include <pf/api.h>

namespace flatwash {

// Built afresh for every frame and handed to the pixel callback as its refcon.
struct Block {
  PF_Pixel colour;         // the chosen colour, alpha forced to 255
  A_long original_weight;  // the blend b, 16.16, 0 <= b < 0x10000
  A_long colour_weight;    // 0x10000 - b
};

constexpr Block MakeBlock(PF_Pixel colour, PF_Fixed blend) {
  colour.alpha = 255;
  return Block{colour, blend, PF_Fixed_ONE - blend};
}

// The chosen colour with the input's alpha. `in` and `out` may be the same pixel.
inline void PureColour(const Block& b, const PF_Pixel& in, PF_Pixel& out) {
  const A_u_char alpha = in.alpha;
  out = b.colour;
  out.alpha = alpha;
}

inline A_u_char MixChannel(const Block& b, A_long original, A_long colour) {
  return A_u_char((original * b.original_weight + colour * b.colour_weight) >> 16);
}

// Each colour channel mixed toward the original by b; alpha from the input.
inline void BlendColour(const Block& b, const PF_Pixel& in, PF_Pixel& out) {
  const PF_Pixel src = in;
  out.alpha = src.alpha;
  out.red = MixChannel(b, src.red, b.colour.red);
  out.green = MixChannel(b, src.green, b.colour.green);
  out.blue = MixChannel(b, src.blue, b.colour.blue);
}

}  // namespace flatwash
