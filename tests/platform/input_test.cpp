#include <ombrix/platform/headless.h>
#include <ombrix/platform/input.h>

#include <gtest/gtest.h>

namespace plat = ombrix::platform;

TEST(Keyboard, StateWordHasBit15WhileDown) {
  plat::ResetHeadless();
  EXPECT_EQ(plat::GetKeyState(plat::kVkAlt) & 0x8000, 0);
  plat::SetKeyDown(plat::kVkAlt, true);
  EXPECT_EQ(plat::GetKeyState(plat::kVkAlt) & 0x8000, 0x8000);
  EXPECT_EQ(plat::GetKeyState(plat::kVkShift) & 0x8000, 0);
  plat::SetKeyDown(plat::kVkAlt, false);
  EXPECT_EQ(plat::GetKeyState(plat::kVkAlt), 0);
  plat::SetKeyDown(plat::kVkEscape, true);
  plat::ReleaseAllKeys();
  EXPECT_EQ(plat::GetKeyState(plat::kVkEscape), 0);
  EXPECT_EQ(plat::GetKeyState(-1), 0);
  EXPECT_EQ(plat::GetKeyState(4096), 0);
}

TEST(Beep, CountedPerSoundType) {
  plat::ResetHeadless();
  EXPECT_TRUE(plat::MessageBeep(0xFFFFFFFFu));
  plat::MessageBeep(0xFFFFFFFFu);
  plat::MessageBeep(plat::kBeepWarning);
  EXPECT_EQ(plat::BeepCount(0xFFFFFFFFu), 2u);
  EXPECT_EQ(plat::BeepCount(0x30), 1u);
  EXPECT_EQ(plat::BeepCount(0), 0u);
  EXPECT_EQ(plat::BeepTotal(), 3u);
  EXPECT_EQ(plat::BeepLog(), (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFFFFFFu, 0x30}));
  plat::ResetBeeps();
  EXPECT_EQ(plat::BeepTotal(), 0u);
}
