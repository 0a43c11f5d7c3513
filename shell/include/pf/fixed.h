// Conversions between double and the host's 16.16 fixed-point numbers.
#pragma once

#include <pf/api.h>

#include <cstdint>

namespace pf {

// trunc(v x 65536) as a 16.16 value, limited to the representable range: a
// position that far out lies outside every layer anyway, and the plain
// conversion of such a value would be undefined. NaN gives 0.
inline PF_Fixed FixedFromDouble(double v) {
  const double scaled = v * 65536.0;
  if (scaled >= 2147483647.0) return INT32_MAX;
  if (scaled <= -2147483648.0) return INT32_MIN;
  if (!(scaled == scaled)) return 0;
  return PF_Fixed(scaled);
}

}  // namespace pf
