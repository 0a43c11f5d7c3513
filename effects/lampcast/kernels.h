// Lampcast's per-pixel work: the layer's alpha read at a point pulled
// towards the light, turned into a shadow pixel of the shadow colour (or, in
// Glass Edge mode, tinted by the colour of semi-transparent parts) and shown
// alone or under the layer. Free functions on the frame's constant block and
// one pixel; the host's sampler is reached through the block's in_data.
#pragma once

#include <pf/api.h>
#include <pf/blend.h>
#include <pf/fixed.h>

namespace lampcast {

// "Render..." values.
enum RenderMode { kRegular = 1, kGlassEdge = 2 };

// Built afresh for every frame and handed to the pixel callback as its refcon.
struct Block {
  float light_x, light_y;  // buffer pixels
  double k;                // Projection Distance x 0.01: 0 samples the pixel itself, 1 the light
  double opacity;          // 0..1
  double influence;        // Color Influence / 127.5
  PF_Pixel colour;         // the shadow colour
  PF_SampPB samp;          // source: the layer, or its softened copy
  PF_InData* in_data;
};

// The layer (or its softened copy) at the point pulled towards the light.
inline PF_Err ProjectedSample(const Block& c, A_long x, A_long y, PF_Pixel* v) {
  const double sx = x + (double(c.light_x) - x) * c.k;
  const double sy = y + (double(c.light_y) - y) * c.k;
  return c.in_data->utils->subpixel_sample(c.in_data->effect_ref, pf::FixedFromDouble(sx), pf::FixedFromDouble(sy),
                                           &c.samp, v);
}

inline A_u_char ShadowAlpha(const Block& c, const PF_Pixel& v) { return A_u_char(int(v.alpha * c.opacity)); }

inline PF_Pixel RegularShadow(const Block& c, const PF_Pixel& v) {
  PF_Pixel s = c.colour;
  s.alpha = ShadowAlpha(c, v);
  return s;
}

// Semi-transparent parts of the layer pass their own colour into the
// shadow: the more transparent, the more of it (all of it from m = 1 on).
inline PF_Pixel GlassShadow(const Block& c, const PF_Pixel& v) {
  PF_Pixel s = c.colour;
  if (v.alpha != 255) {
    const double m = (255 - v.alpha) * c.influence;
    if (m >= 1.0) {
      s.red = v.red;
      s.green = v.green;
      s.blue = v.blue;
    } else if (m > 0.0) {
      const double d = (1.0 - m) * (1.0 - m);
      s.red = A_u_char(int(d * c.colour.red + (1.0 - d) * v.red));
      s.green = A_u_char(int(d * c.colour.green + (1.0 - d) * v.green));
      s.blue = A_u_char(int(d * c.colour.blue + (1.0 - d) * v.blue));
    }
  }
  s.alpha = ShadowAlpha(c, v);
  return s;
}

using ShadowFunc = PF_Pixel (*)(const Block&, const PF_Pixel&);

// The shadow under the layer's pixel `in`: opaque pixels keep themselves.
template <ShadowFunc Shadow>
PF_Err UnderLayer(const Block& c, A_long x, A_long y, const PF_Pixel& in, PF_Pixel& out) {
  if (in.alpha == 255) {
    out = in;
    return PF_Err_NONE;
  }
  PF_Pixel v;
  const PF_Err err = ProjectedSample(c, x, y, &v);
  if (err != PF_Err_NONE) return err;
  out = v.alpha == 0 ? in : pf::BlendOver(in, Shadow(c, v));
  return PF_Err_NONE;
}

// The shadow alone: transparent where nothing casts one.
template <ShadowFunc Shadow>
PF_Err Alone(const Block& c, A_long x, A_long y, PF_Pixel& out) {
  PF_Pixel v;
  const PF_Err err = ProjectedSample(c, x, y, &v);
  if (err != PF_Err_NONE) return err;
  if (v.alpha == 0) {
    out.alpha = 0;
  } else {
    out = Shadow(c, v);
  }
  return PF_Err_NONE;
}

}  // namespace lampcast
