// The registration bytes built at compile time, compared with bytes written
// out by hand from the registration table's layout.
#include <pf/pipl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

template <std::size_t N>
std::string AsString(const pf::ByteBlock<N>& block) {
  return std::string(reinterpret_cast<const char*>(block.bytes), N);
}

std::string Bytes(const char* literal, std::size_t size_with_nul) { return std::string(literal, size_with_nul - 1); }
#define HAND(lit) Bytes(lit, sizeof(lit))

// The parts every plug-in shares, written out byte by byte.
#define HEADER       \
  "\x01\x00"         \
  "\x00\x00\x00\x00" \
  "\x0c\x00\x00\x00"
#define KIND   \
  "MIB8"       \
  "dnik"       \
  "\0\0\0\0"   \
  "\x04\0\0\0" \
  "TKFe"
#define CATG   \
  "MIB8"       \
  "gtac"       \
  "\0\0\0\0"   \
  "\x0c\0\0\0" \
  "\x0a"       \
  "Ombrix One" \
  "\0"
#define WX86   \
  "MIB8"       \
  "68xw"       \
  "\0\0\0\0"   \
  "\x08\0\0\0" \
  "main\0\0\0\0"
#define EPVR   \
  "MIB8"       \
  "RVPe"       \
  "\0\0\0\0"   \
  "\x04\0\0\0" \
  "\x02\0"     \
  "\0\0"
#define EVER   \
  "MIB8"       \
  "REVe"       \
  "\0\0\0\0"   \
  "\x04\0\0\0" \
  "\x00\x06\x08\x00"
#define EINF   \
  "MIB8"       \
  "FNIe"       \
  "\0\0\0\0"   \
  "\x02\0\0\0" \
  "\0\0"       \
  "\0\0"
#define TAIL   \
  "MIB8"       \
  "LFea"       \
  "\0\0\0\0"   \
  "\x04\0\0\0" \
  "\0\0\0\0"   \
  "MIB8"       \
  "DRea"       \
  "\0\0\0\0"   \
  "\x04\0\0\0" \
  "\0\0\0\0"

constexpr pf::PluginRow kPaint{"OB Paint", "obx Basic Paint", 12, 1, 0x8035};
constexpr pf::PluginRow kFlatwash{"OB Flatwash", "obx Flatwash", 11, 0, 0};
constexpr pf::PluginRow kLightning{"OB Lightning", "obx Lightning", 11, 0, 0x21};
constexpr pf::PluginRow kDifference{"OB Difference", "obx Difference", 11, 0, 0x2};

constexpr auto kPaintPipl = pf::BuildPipl<pf::PiplSize(kPaint)>(kPaint);
constexpr auto kFlatwashPipl = pf::BuildPipl<pf::PiplSize(kFlatwash)>(kFlatwash);
constexpr auto kLightningPipl = pf::BuildPipl<pf::PiplSize(kLightning)>(kLightning);
constexpr auto kDifferencePipl = pf::BuildPipl<pf::PiplSize(kDifference)>(kDifference);

TEST(Pipl, PaintRow) {
  // "OB Paint": 1+8 = 9 padded to 12; "obx Basic Paint": 1+15 = 16, no padding.
  const std::string expected = HAND(HEADER KIND
                                    "MIB8"
                                    "eman"
                                    "\0\0\0\0"
                                    "\x0c\0\0\0"
                                    "\x08"
                                    "OB Paint"
                                    "\0\0\0" CATG WX86 EPVR
                                    "MIB8"
                                    "RVSe"
                                    "\0\0\0\0"
                                    "\x04\0\0\0"
                                    "\x0c\0"
                                    "\x01\0" EVER EINF
                                    "MIB8"
                                    "OLGe"
                                    "\0\0\0\0"
                                    "\x04\0\0\0"
                                    "\x35\x80\0\0"
                                    "MIB8"
                                    "ANMe"
                                    "\0\0\0\0"
                                    "\x10\0\0\0"
                                    "\x0f"
                                    "obx Basic Paint" TAIL);
  EXPECT_EQ(AsString(kPaintPipl), expected);
}

TEST(Pipl, FlatwashRow) {
  // "OB Flatwash": 1+11 = 12 exactly; "obx Flatwash": 1+12 = 13 padded to 16.
  const std::string expected = HAND(HEADER KIND
                                    "MIB8"
                                    "eman"
                                    "\0\0\0\0"
                                    "\x0c\0\0\0"
                                    "\x0b"
                                    "OB Flatwash" CATG WX86 EPVR
                                    "MIB8"
                                    "RVSe"
                                    "\0\0\0\0"
                                    "\x04\0\0\0"
                                    "\x0b\0"
                                    "\0\0" EVER EINF
                                    "MIB8"
                                    "OLGe"
                                    "\0\0\0\0"
                                    "\x04\0\0\0"
                                    "\0\0\0\0"
                                    "MIB8"
                                    "ANMe"
                                    "\0\0\0\0"
                                    "\x10\0\0\0"
                                    "\x0c"
                                    "obx Flatwash"
                                    "\0\0\0" TAIL);
  EXPECT_EQ(AsString(kFlatwashPipl), expected);
  EXPECT_EQ(kFlatwashPipl.size(), 282u);
}

TEST(Pipl, OddAndEvenNameLengths) {
  // 12 and 13 characters: 13 and 14 bytes, both padded to 16.
  const std::string lightning = HAND(HEADER KIND
                                     "MIB8"
                                     "eman"
                                     "\0\0\0\0"
                                     "\x10\0\0\0"
                                     "\x0c"
                                     "OB Lightning"
                                     "\0\0\0" CATG WX86 EPVR
                                     "MIB8"
                                     "RVSe"
                                     "\0\0\0\0"
                                     "\x04\0\0\0"
                                     "\x0b\0"
                                     "\0\0" EVER EINF
                                     "MIB8"
                                     "OLGe"
                                     "\0\0\0\0"
                                     "\x04\0\0\0"
                                     "\x21\0\0\0"
                                     "MIB8"
                                     "ANMe"
                                     "\0\0\0\0"
                                     "\x10\0\0\0"
                                     "\x0d"
                                     "obx Lightning"
                                     "\0\0" TAIL);
  EXPECT_EQ(AsString(kLightningPipl), lightning);

  // 13 and 14 characters: 14 and 15 bytes, both padded to 16.
  const std::string difference = HAND(HEADER KIND
                                      "MIB8"
                                      "eman"
                                      "\0\0\0\0"
                                      "\x10\0\0\0"
                                      "\x0d"
                                      "OB Difference"
                                      "\0\0" CATG WX86 EPVR
                                      "MIB8"
                                      "RVSe"
                                      "\0\0\0\0"
                                      "\x04\0\0\0"
                                      "\x0b\0"
                                      "\0\0" EVER EINF
                                      "MIB8"
                                      "OLGe"
                                      "\0\0\0\0"
                                      "\x04\0\0\0"
                                      "\x02\0\0\0"
                                      "MIB8"
                                      "ANMe"
                                      "\0\0\0\0"
                                      "\x10\0\0\0"
                                      "\x0e"
                                      "obx Difference"
                                      "\0" TAIL);
  EXPECT_EQ(AsString(kDifferencePipl), difference);
}

TEST(Pipl, VersionBlock) {
  constexpr auto block = pf::BuildVersionBlock<pf::VersionBlockSize(kFlatwash, "flatwash")>(kFlatwash, "flatwash");
  const std::string expected = HAND(
      "FileVersion\0"
      "1, 0, 0, 0\0"
      "ProductVersion\0"
      "1, 0, 0, 0\0"
      "FileOS\0"
      "4\0"
      "FileType\0"
      "2\0"
      "FileDescription\0"
      "OB Flatwash\0"
      "InternalName\0"
      "flatwash\0"
      "OriginalFilename\0"
      "flatwash.aex\0"
      "ProductName\0"
      "Ombrix\0"
      "CompanyName\0"
      "Kestrane\0"
      "LegalCopyright\0"
      "Copyright 2026 Kestrane. All rights reserved.\0"
      "\0");
  EXPECT_EQ(AsString(block), expected);
}

}  // namespace
