// How a frame is rendered: downsampling, pixel aspect and quality, and the
// buffer sizes that follow from them.
#pragma once

#include <ombrix/host/world.h>

#include <pf/api.h>

namespace ombrix {

struct RenderSettings {
  PF_RationalScale downsample_x{1, 1}, downsample_y{1, 1};
  PF_RationalScale pixel_aspect{1, 1};
  PF_Quality quality = PF_Quality_HI;
};

// The size of a buffer at the settings' downsample factors: ceil(full x n/d)
// on each axis (the full size itself at 1/1).
struct BufferSize {
  A_long width = 0, height = 0;
  bool operator==(const BufferSize&) const = default;
};
BufferSize BufferSizeFor(A_long full_width, A_long full_height, const RenderSettings& settings);

// The box reduction of a full-resolution image to its buffer size at the
// settings' downsample factors (an exact copy at 1/1), with `pad_bytes` of
// padding per row.
World DownsampledWorld(const PF_EffectWorld& full, const RenderSettings& settings, A_long pad_bytes = 0);

}  // namespace ombrix
