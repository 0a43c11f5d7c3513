// The clock: scripted times and the tick count derived from them, the
// counter taken away, and the system clock moving forward.
#include <gtest/gtest.h>

#include <ombrix/platform/clock.h>
#include <ombrix/platform/headless.h>

namespace {

namespace plat = ombrix::platform;

TEST(ClockTest, ScriptedTimesAndTicks) {
  const struct {
    int64_t set_us, advance_us;
    int64_t want_us;
    uint32_t want_ms;
  } cases[] = {
      {0, 0, 0, 0},
      {1'000'000, 2'500, 1'002'500, 1002},
      {999, 0, 999, 0},
      {-1, 0, -1, 0xFFFFFFFFu},  // a millisecond before zero, as the wrapping count reads it
      {4'294'967'296'000, 1'000, 4'294'967'297'000, 1},
  };
  for (const auto& c : cases) {
    plat::SetScriptedClock(c.set_us);
    plat::AdvanceScriptedClock(c.advance_us);
    int64_t us = 12345;
    ASSERT_TRUE(plat::QueryMicrosecondCounter(&us));
    EXPECT_EQ(us, c.want_us) << c.set_us;
    EXPECT_EQ(plat::GetTickCount(), c.want_ms) << c.set_us;
  }
  plat::SetHighResolutionCounterPresent(false);
  int64_t untouched = 7;
  EXPECT_FALSE(plat::QueryMicrosecondCounter(&untouched));
  EXPECT_EQ(untouched, 7);
  plat::ResetHeadless();
  int64_t a = 0, b = 0;
  ASSERT_TRUE(plat::QueryMicrosecondCounter(&a));
  ASSERT_TRUE(plat::QueryMicrosecondCounter(&b));
  EXPECT_LE(a, b);
  EXPECT_NE(a, 4'294'967'297'000);
}

}  // namespace
