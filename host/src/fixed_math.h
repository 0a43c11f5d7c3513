// Exact integer rounding for parameter values, points and times: quotients
// taken in 128 bits and rounded as each caller states.
#pragma once

#include <pf/api.h>

#include <algorithm>
#include <cstdint>

namespace ombrix {

using Wide = __int128;

// a / b rounded to the nearest integer, halves up (b > 0).
inline int64_t DivRoundHalfUp(Wide a, Wide b) {
  Wide n = 2 * a + b, d = 2 * b;
  Wide q = n / d;
  if ((n % d != 0) && (n < 0)) --q;  // floor
  return int64_t(q);
}

// a / b rounded to the nearest integer, halves away from zero (b > 0).
inline int64_t DivRoundHalfAway(Wide a, Wide b) {
  Wide q = a / b, r = a % b;
  if (r < 0) r = -r;
  if (2 * r >= b) q += (a < 0) ? -1 : 1;
  return int64_t(q);
}

inline A_long Clamp32(int64_t v) { return A_long(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace ombrix
