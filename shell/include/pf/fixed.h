// Conversions between double and the host's 16.16 fixed-point numbers, and
// the value of its rational scales.
#pragma once

#include <pf/api.h>

#include <cstdint>

namespace pf {

// A whole number as 16.16, for parameter tables: Fix(50) is 50.0.
constexpr PF_Fixed Fix(A_long whole) { return whole * PF_Fixed_ONE; }

// The 16.16 value as a double: v / 65536, exact. Kept a division, the form
// every effect's arithmetic is written against.
constexpr double FixedToDouble(PF_Fixed v) { return v / 65536.0; }

// A fixed slider's value as a double.
constexpr double FixSliderValue(const PF_ParamDef* p) { return FixedToDouble(p->u.fd.value); }

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

// num / den in double: the downsample factor of a render (1 at full
// resolution, 0.5 at half) or a pixel aspect ratio.
constexpr double Ratio(const PF_RationalScale& r) { return double(r.num) / double(r.den); }

}  // namespace pf
