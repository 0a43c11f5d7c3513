// Numbers in dialog controls and the scroll bars' page step.
#include <pf/dialogs.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(double v, int decimals) {
  char buf[pf::kDialogNumberBuffer];
  pf::FormatDialogNumber(v, decimals, buf);
  return buf;
}

TEST(DialogNumbers, WrittenTruncated) {
  EXPECT_EQ(Text(2.5, 1), "2.5");
  EXPECT_EQ(Text(-0.25, 1), "-0.2");
  EXPECT_EQ(Text(7, 0), "7");
  EXPECT_EQ(Text(0, 0), "0");
  EXPECT_EQ(Text(0, 1), "0.0");
  EXPECT_EQ(Text(-3.75, 1), "-3.7");
  EXPECT_EQ(Text(-12, 0), "-12");
  EXPECT_EQ(Text(1.99, 1), "1.9");
  // Positive values get 1e-7, so 0.3 (0.29999...) shows as 0.3.
  EXPECT_EQ(Text(0.1 * 3, 1), "0.3");
  EXPECT_EQ(Text(5898239, 0), "5898239");
  EXPECT_EQ(Text(1e12, 0), "2147483647");
}

TEST(DialogNumbers, ReadLeniently) {
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber("1,5"), 1.5);
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber("1.5"), 1.5);
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber("12a"), 12);
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber(""), 0);
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber("3.9"), 3.9);
  EXPECT_DOUBLE_EQ(pf::ParseDialogNumber("4-2"), -42);
  // After the separator, other characters still use up a decimal place.
  EXPECT_NEAR(pf::ParseDialogNumber("1.x5"), 1.05, 1e-12);
  EXPECT_EQ(pf::TruncateToInt(pf::ParseDialogNumber("3.9")), 3);
  EXPECT_EQ(pf::TruncateToInt(pf::ParseDialogNumber("-3.9")), -3);
  EXPECT_EQ(pf::TruncateToInt(pf::ParseDialogNumber("99999999999999999999")), INT32_MAX);
  EXPECT_EQ(pf::TruncateToInt(pf::ParseDialogNumber("-99999999999999999999")), INT32_MIN);
}

TEST(DialogNumbers, PageSteps) {
  EXPECT_EQ(pf::PageStep(1, 8), 1);
  EXPECT_EQ(pf::PageStep(16, 256), 5);
  EXPECT_EQ(pf::PageStep(0, 1000), 50);
  EXPECT_EQ(pf::PageStep(1, 100), 5);  // R = 99: 10^floor(1.4957) = 10
  EXPECT_EQ(pf::PageStep(0, 31), 1);   // R = 31: 10^floor(0.9914) = 1
  EXPECT_EQ(pf::PageStep(0, 32), 5);   // R = 32: 10^floor(1.0051) = 10
}

}  // namespace
