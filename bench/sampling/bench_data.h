// The frame and the sampling map shared by the pixel-service benchmarks
// and their OpenCV peers.
#pragma once

#include <pf/api.h>

#include <cstdint>
#include <thread>
#include <vector>

namespace ombrix::bench {

inline constexpr int kWidth = 1920;
inline constexpr int kHeight = 1080;

struct Frame {
  int width = 0, height = 0;
  std::vector<PF_Pixel> pixels;  // tight rows
  PF_EffectWorld world{};
};

// A 1920x1080 frame of smooth colour ramps with an alpha ramp and a fully
// transparent band, so both the common-alpha and the general paths run.
const Frame& TestFrame();

// A gentle barrel remap: for every output pixel the 16.16 source position
// (centre + (p - centre) * (1 + 0.08 * r^2), r normalised to the half
// diagonal), row-major.
const std::vector<PF_Fixed>& MapX();
const std::vector<PF_Fixed>& MapY();

// Runs fn(first_row, end_row) over `rows` split into `threads` bands.
template <class Fn>
void SplitRows(int rows, int threads, Fn fn) {
  if (threads <= 1) {
    fn(0, rows);
    return;
  }
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) pool.emplace_back(fn, rows * t / threads, rows * (t + 1) / threads);
  for (auto& th : pool) th.join();
}

}  // namespace ombrix::bench
