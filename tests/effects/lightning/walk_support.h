// A walk context for tests: the services the walk calls, answered by the
// host library's own functions outside any command (handles, the bilinear
// sampler, sqrt), and the parameter defaults of the effect.
#pragma once

#include "bolt.h"

#include <ombrix/host/host.h>
#include <ombrix/host/pixel_ops.h>

#include <cmath>
#include <memory>
#include <vector>

namespace lightning_test {

inline PF_Err Sample(PF_ProgPtr, PF_Fixed x, PF_Fixed y, const PF_SampPB* pb, PF_Pixel* out) {
  *out = ombrix::SubpixelSample(*pb->src, x, y);
  return PF_Err_NONE;
}

inline const PF_UtilCallbacks* Utils() {
  static const PF_UtilCallbacks u = [] {
    PF_UtilCallbacks t{};
    t.subpixel_sample = Sample;
    t.host_new_handle = [](A_u_long size) { return ombrix::NewHandle(size); };
    t.host_lock_handle = [](PF_Handle h) -> void* { return ombrix::HandleIsLive(h) ? *h : nullptr; };
    t.host_unlock_handle = [](PF_Handle) {};
    t.host_dispose_handle = [](PF_Handle h) { ombrix::DisposeHandle(h); };
    t.host_get_handle_size = [](PF_Handle h) { return A_u_long(ombrix::HandleSize(h)); };
    t.ansi.sqrt = [](PF_FpLong v) { return std::sqrt(v); };
    return t;
  }();
  return &u;
}

// The context of the default parameters and default record on a frame of
// the given size (full resolution).
struct Scene {
  std::unique_ptr<lightning::BoltLattice> lattice = std::make_unique<lightning::BoltLattice>();
  ombrix::World input;
  lightning::WalkContext c{};

  Scene(A_long width, A_long height, double conductivity = 0.0) : input(width, height) {
    lightning::BuildBoltLattice(*lattice, conductivity);
    c.origin_x = 0.45f * float(width);
    c.origin_y = 0.05f * float(height);
    c.target_x = 0.50f * float(width);
    c.target_y = 0.95f * float(height);
    c.obstacle_gain = 0.0f;
    c.turbulence_gain = 100.0f;
    c.noise_frequency = 0.003f;
    c.fractal_model = 1;
    c.complexity = 6;
    c.fork_threshold = float(2.0 * 0.25 - 1.0);
    c.min_fork_distance = 64.0f;
    c.walk_flags = lightning::kFlagMainDecayOff;
    c.fork_drain = 0.0f;
    c.fork_strength = 0.7f;
    c.fork_variation = 0.25f;
    c.termination_threshold = 100.0f;
    c.decay_step = (0x4CCC / 65536.0) * 0.005;
    c.lightning_type = lightning::kDirection;
    c.frame_width = float(width);
    c.frame_height = float(height);
    c.scale = 1.0f;
    c.input = &input.pf();
    c.output = nullptr;
    c.utils = Utils();
    c.effect_ref = nullptr;
    c.lattice = lattice.get();
  }

  lightning::BoltRecord Main() const {
    return {0, lightning::kMainPhase, 1.0, c.origin_x, c.origin_y, c.target_x, c.target_y};
  }
};

// The walk's points, copied out, and the queue after the walk.
struct Walked {
  bool made = false;
  std::vector<lightning::PathPoint> points;
  int32_t capacity = 0;
};

inline Walked Walk(const lightning::BoltRecord& r, const lightning::WalkContext& c, lightning::BoltQueue* queue) {
  Walked w;
  lightning::BoltPath path;
  w.made = lightning::WalkBolt(r, c, queue, &path);
  if (w.made) {
    w.points.assign(path.points, path.points + path.count);
    w.capacity = path.capacity;
    lightning::FreePath(c.utils, &path);
  }
  return w;
}

}  // namespace lightning_test
