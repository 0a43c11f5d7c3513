// The family's random generator: a 32-bit linear congruential generator,
// state <- state x 1103515245 + 12345 (wrapping), drawing 15 bits.
//
// Several steps at once are one affine map of the same kind; `Steps(n)`
// builds it for any n, so that a stream can be moved to any position
// without stepping through the draws in between.
#pragma once

#include <cstdint>

namespace pf {

// state <- state x mul + add (modulo 2^32).
struct RandomStep {
  uint32_t mul;
  uint32_t add;
  constexpr bool operator==(const RandomStep&) const = default;
};

inline constexpr RandomStep kRandomStep{1103515245u, 12345u};
inline constexpr RandomStep kRandomIdentity{1u, 0u};
// Three steps at once.
inline constexpr RandomStep kRandomThreeSteps{0x807DBCB5u, 0xA70427DFu};

constexpr uint32_t Advance(uint32_t state, RandomStep s) { return state * s.mul + s.add; }

// `first`, then `then`.
constexpr RandomStep Compose(RandomStep first, RandomStep then) {
  return RandomStep{then.mul * first.mul, then.mul * first.add + then.add};
}

// n single steps as one map (square and multiply).
constexpr RandomStep Steps(uint64_t n) {
  RandomStep result = kRandomIdentity;
  RandomStep power = kRandomStep;
  while (n != 0) {
    if (n & 1u) result = Compose(result, power);
    power = Compose(power, power);
    n >>= 1;
  }
  return result;
}
static_assert(Steps(3) == kRandomThreeSteps);

// One step, then the drawn number 0..32767.
inline int32_t RandomDraw(uint32_t& state) {
  state = Advance(state, kRandomStep);
  return int32_t((state >> 16) & 0x7FFFu);
}

// One step, then the unit draw: the drawn number / 16384 - 1, in [-1, 1).
// Every value is exact in single precision.
inline double RandomUnit(uint32_t& state) { return RandomDraw(state) * (1.0 / 16384.0) - 1.0; }

}  // namespace pf
