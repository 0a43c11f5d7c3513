// What a layer parameter shows.
#pragma once

#include <ombrix/host/time.h>

#include <memory>
#include <optional>

namespace ombrix {

struct ImageSource;  // image_io.h
class World;         // world.h

// kSelf: the effect's own layer (the instance's input). kNone: no layer (a
// checkout succeeds with no pixels). kImage: an image file, image sequence,
// solid or test card; a sequence's frame f shows from f / rate seconds up to
// the next frame (the instance's frame rate unless `rate` is given), holding
// its end frames outside its range. kStill: an image in memory, at full
// resolution, shown at every time; its owner may change the pixels between
// renders (a video host handing over the second input of each frame).
struct LayerSource {
  enum class Kind { kSelf, kNone, kImage, kStill };
  Kind kind = Kind::kSelf;
  std::shared_ptr<const ImageSource> image;
  std::optional<FrameRate> rate;
  std::shared_ptr<const World> still;

  static LayerSource Self() { return {}; }
  static LayerSource None() { return {Kind::kNone, nullptr, std::nullopt, nullptr}; }
  static LayerSource Image(ImageSource source, std::optional<FrameRate> rate = {});
  static LayerSource Still(std::shared_ptr<const World> world);
};

}  // namespace ombrix
