// The deterministic test image of every test folder: a linear congruential
// sequence, one state per pixel in row order, and the pixel a test makes of
// each state. A test whose expectations hang on particular pixels keeps them
// by giving the same seed, constants and byte picks; the others take
// RandomPixels. Works on any world with width(), height() and At(x, y).
#pragma once

#include <pf/api.h>

#include <cstdint>

namespace testimage {

// s' = s * multiplier + increment (mod 2^32); by default the constants of
// the classic C library rand(), which several effects also use for tables.
struct Lcg {
  uint32_t state = 0;
  uint32_t multiplier = 1103515245u;
  uint32_t increment = 12345u;

  uint32_t Next() { return state = state * multiplier + increment; }
  // 15 bits of the state, as rand() returns them.
  uint32_t Rand15() { return (Next() >> 16) & 0x7FFF; }
  // The generator that makes one step of this one's `n` at a time.
  Lcg Stride(uint32_t n) const {
    Lcg out{state, 1, 0};
    for (uint32_t i = 0; i < n; ++i) {
      out.increment = out.increment * multiplier + increment;
      out.multiplier *= multiplier;
    }
    return out;
  }
};

// Byte `shift` bits up of `s`.
inline uint8_t Byte(uint32_t s, int shift) { return uint8_t(s >> shift); }

// Every pixel of `w`, rows top to bottom, each given the next state of
// `rng`: w.At(x, y) = pixel(x, y, state).
template <typename World, typename Pixel>
void FillPixels(World& w, Lcg rng, Pixel&& pixel) {
  for (A_long y = 0; y < A_long(w.height()); ++y)
    for (A_long x = 0; x < A_long(w.width()); ++x) {
      const uint32_t s = rng.Next();
      w.At(x, y) = pixel(x, y, s);
    }
}

// Random pixels from `seed`, two states each: a quarter fully transparent
// (colour kept under alpha 0), a quarter opaque, the rest partial.
template <typename World>
void RandomPixels(World& w, uint32_t seed) {
  Lcg rng{seed};
  for (A_long y = 0; y < A_long(w.height()); ++y)
    for (A_long x = 0; x < A_long(w.width()); ++x) {
      const uint32_t a = rng.Next(), c = rng.Next();
      const uint32_t kind = a >> 30;
      w.At(x, y) = PF_Pixel{kind == 0   ? uint8_t(0)
                            : kind == 1 ? uint8_t(255)
                                        : Byte(a, 16),
                            Byte(c, 24), Byte(c, 16), Byte(c, 8)};
    }
}

}  // namespace testimage
