// The smoothstep curve shared by the noise readers and the soft edges of the
// effects.
#pragma once

namespace pf {

// 0 at and below 0, 1 at and above 1, t^2 (3 - 2t) between, evaluated as
// t x t x (3 - 2t) from left to right. NaN stays NaN.
constexpr double SmoothStep(double t) {
  if (t <= 0.0) return 0.0;
  if (t >= 1.0) return 1.0;
  return t * t * (3.0 - 2.0 * t);
}

}  // namespace pf
