// The family's random generator: draws, and jumps that equal the single
// steps they stand for.
#include <pf/random.h>

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(Random, DrawsFollowTheRecurrence) {
  uint32_t state = 0;
  // 0 x 1103515245 + 12345 = 12345 -> 12345 >> 16 = 0.
  EXPECT_EQ(pf::RandomDraw(state), 0);
  EXPECT_EQ(state, 12345u);
  // 12345 x 1103515245 + 12345 mod 2^32, worked out in 64 bits.
  const uint32_t next = uint32_t((uint64_t(12345) * 1103515245u + 12345u) & 0xFFFFFFFFu);
  EXPECT_EQ(pf::RandomDraw(state), int32_t((next >> 16) & 0x7FFF));
  EXPECT_EQ(state, next);

  // Unit draws span [-1, 1) in steps of 1/16384.
  state = 1357;
  for (int i = 0; i < 10000; ++i) {
    uint32_t copy = state;
    const int32_t d = pf::RandomDraw(copy);
    const double u = pf::RandomUnit(state);
    EXPECT_EQ(u, d / 16384.0 - 1.0);
    ASSERT_GE(u, -1.0);
    ASSERT_LT(u, 1.0);
    EXPECT_EQ(double(float(u)), u);
  }
}

TEST(Random, JumpsEqualSingleSteps) {
  for (uint32_t seed : {0u, 1357u, 3641351u, 0xFFFFFFFFu}) {
    uint32_t walked = seed;
    for (uint64_t n = 0; n <= 1000; ++n) {
      ASSERT_EQ(pf::Advance(seed, pf::Steps(n)), walked) << seed << " " << n;
      pf::RandomDraw(walked);
    }
  }
  uint32_t three = 77;
  for (int i = 0; i < 3; ++i) pf::RandomDraw(three);
  EXPECT_EQ(pf::Advance(77, pf::kRandomThreeSteps), three);
  // Jumps compose: 2^20 + 5 steps as two maps.
  EXPECT_EQ(pf::Compose(pf::Steps(1u << 20), pf::Steps(5)), pf::Steps((1u << 20) + 5));
  // The generator's period is 2^32: a full turn is the identity.
  EXPECT_EQ(pf::Steps(uint64_t(1) << 32), pf::kRandomIdentity);
}

}  // namespace
